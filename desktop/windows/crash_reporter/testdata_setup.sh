#!/bin/bash
# Inputs for the crash reporter's tests: copies of a real DLL of the run's wine prefix (version.dll), whole or
# made broken with pefile's help, and what pefile reads in them (modules/expected.txt). Every copy but the one
# cut at 64 bytes is a whole number of pages long, so that a mapping of it ends where the file ends and a read
# past the end faults. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"  # the wine prefix of this run
rm -rf "$D"; mkdir -p "$D/modules"
/usr/bin/python3 "${BASH_SOURCE[0]%/*}/testdata_modules.py" "$RUN_PREFIX/drive_c/windows/system32/version.dll" "$D/modules"
