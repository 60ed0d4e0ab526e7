#!/bin/bash
# Checks with Python's json module what the JSON tests wrote. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
HERE=$(cd "$(dirname "$0")" && pwd)
M="$HERE/lenient_json_model.py"
# Each output is absent when its test was filtered out of the run.
[ ! -e "$D/out/writer.txt" ] || python3 "$M" check-writer "$D/expectations.txt" "$D/out/writer.txt"
[ ! -e "$D/out/strings.txt" ] || python3 "$M" check-strings "$D/out/strings.txt"
[ ! -e "$D/out/doubles.txt" ] || python3 "$M" check-doubles "$D/out/doubles.txt"
