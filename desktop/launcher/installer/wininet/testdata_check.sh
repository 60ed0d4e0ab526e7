#!/bin/bash
# Compares from the Linux side every file that the downloader tests wrote with the file it was served from:
# out/NAME.source names the source in www/. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
checked=0
for expectation in "$D"/out/*.source; do
  [ -e "$expectation" ] || continue
  download=${expectation%.source}
  cmp "$download" "$D/www/$(cat "$expectation")" || { echo "$download differs from its source" >&2; exit 1; }
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || { echo "no download was written: did the tests run?" >&2; exit 1; }
echo "$checked downloads equal their sources"
