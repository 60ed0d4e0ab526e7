#!/bin/bash
# glibc's strtod, strtoll, strtoull and exact printf as the oracle of the number conversions: a host program
# writes random inputs and glibc's answers into DATA_DIR/numbers. The output depends only on the program's
# source (fixed seed), so an unchanged source reuses the files of the last run.
# Usage: numbers_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=$1/numbers
rm -f "$OUT/printed.txt"  # written by this run's tests, read by numbers_check.sh
stamp=$(sha256sum "$HERE/number_oracle.c" "$0" | sha256sum | cut -c1-16)
if [ -f "$OUT/stamp" ] && [ "$(cat "$OUT/stamp")" = "$stamp" ]; then
  exit 0
fi
rm -rf "$OUT"; mkdir -p "$OUT"
gcc -O2 -Wall -Wextra -Werror -o "$OUT/number_oracle" "$HERE/number_oracle.c" -lm
"$OUT/number_oracle" "$OUT"
echo "$stamp" > "$OUT/stamp"
