#!/bin/bash
# Checks from the Linux side what the smoke tests wrote. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
zip=$(find "$D/out" -maxdepth 1 -name 'crash *.zip' | head -n 1)
[ -n "$zip" ] || { echo "the zip test wrote no archive" >&2; exit 1; }
unzip -t "$zip"
unzip -p "$zip" crashlog.txt | cmp - "$D/out/crashlog-source.txt"
# The 7z extraction under wine must equal what 7-Zip itself extracts.
rm -rf "$D/out/7zz"; mkdir -p "$D/out/7zz"; 7zz x -bso0 -bsp0 -o"$D/out/7zz" "$D/tree.7z"
diff -r "$D/out/7zz" "$D/out/extracted"
echo "smoke outputs verified"
