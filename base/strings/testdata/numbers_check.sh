#!/bin/bash
# Reads back with glibc's strtod the texts that the double-printing test wrote (bits TAB text per line).
# Usage: numbers_check.sh DATA_DIR BIN_DIR
set -euo pipefail
OUT=$1/numbers
if [ ! -f "$OUT/printed.txt" ]; then
  echo "numbers: no printed.txt (the printing test did not run); nothing to check"
  exit 0
fi
"$OUT/number_oracle" --check-texts "$OUT/printed.txt"
