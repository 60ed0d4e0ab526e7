#!/bin/bash
# Reads the fallback file that the global storage tests left with Python's json: every value the test wrote while
# the product's key was denied is in "GS", as the test's own list says, and nothing else is. Usage:
# testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
folder="$D/fallback"
[ -e "$folder/expected.json" ] || exit 0   # the test was filtered out of the run
python3 - "$folder/au_global_storage" "$folder/expected.json" <<'PY'
import json, sys
written = json.load(open(sys.argv[1], encoding="utf-8"))
expected = json.load(open(sys.argv[2], encoding="utf-8"))
assert written == {"GS": expected}, (written, expected)
print("au_global_storage: Python's json reads the %d values written while the key was denied" % len(expected))
PY
