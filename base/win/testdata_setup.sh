#!/bin/bash
# Outside-oracle facts for the Windows utilities' tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"
# The processors that the kernel has online: wine reports the same machine.
getconf _NPROCESSORS_ONLN > "$D/processors"
