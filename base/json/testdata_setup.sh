#!/bin/bash
# Inputs and outside-oracle results for the JSON tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
HERE=$(cd "$(dirname "$0")" && pwd)
rm -rf "$D"; mkdir -p "$D/out"

# The public conformance corpus (kept outside the repository, in the shared test data beside the clone;
# ZORVI_SHARED_TESTDATA names another folder), and what a model made of Python's strict json module plus the
# reader's documented leniencies says about each case. Without the corpus its test is skipped, saying so.
SHARED=${ZORVI_SHARED_TESTDATA:-$HERE/../../../shared/testdata}
[ -d "$SHARED" ] || SHARED=/work/shared/testdata
CORPUS=$SHARED/JSONTestSuite/test_parsing
if [ ! -d "$CORPUS" ]; then
  echo "JSON conformance corpus not found at $CORPUS (set ZORVI_SHARED_TESTDATA)" | tee "$D/corpus-missing.txt" >&2
  exit 0
fi
cp -r "$CORPUS" "$D/suite"
python3 "$HERE/lenient_json_model.py" expectations "$D/expectations.txt" "$D"/suite/*.json
