#!/bin/bash
# Checks from Linux what the crash reporter's tests wrote: a child's crash key block, decoded by Python against
# the table the test expected; with Python's struct, the registration messages as
# the scripted reporter received and sent them; with Python's uuid, the GUID texts; with obj2yaml-14 (and
# struct for the stream directory), the in-process minidumps; the crash logs of fake snapshots against the text
# Python's printf makes of them by the format's rules; and the crash log of a crashed child against its minidump
# (obj2yaml-14, lldb-14) and its modules' files (pefile). A folder is missing only when its test was filtered
# out of the run. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"  # the wine prefix of this run, where the modules lie
/usr/bin/python3 "${BASH_SOURCE[0]%/*}/testdata_check.py" "$D" "$RUN_PREFIX" "$BIN"  # Debian's interpreter, which has pefile
