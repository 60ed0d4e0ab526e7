#!/bin/bash
# Inputs for the process tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"
# Random files that children copy to their standard output, around the 1024-byte chunks the reader takes.
for n in 0 1 1023 1024 1025 3000 1048577; do head -c "$n" /dev/urandom > "$D/random_$n.bin"; done
