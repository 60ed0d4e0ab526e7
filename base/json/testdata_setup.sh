#!/bin/bash
# Inputs and outside-oracle results for the JSON tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
HERE=$(cd "$(dirname "$0")" && pwd)
rm -rf "$D"; mkdir -p "$D/out"

# The public conformance corpus (kept outside the repository; ZORVI_SHARED_TESTDATA names its folder), and what
# a model made of Python's strict json module plus the reader's documented leniencies says about each case.
CORPUS=${ZORVI_SHARED_TESTDATA:-/work/shared/testdata}/JSONTestSuite/test_parsing
[ -d "$CORPUS" ] || { echo "JSON conformance corpus not found at $CORPUS (set ZORVI_SHARED_TESTDATA)" >&2; exit 1; }
cp -r "$CORPUS" "$D/suite"
python3 "$HERE/lenient_json_model.py" expectations "$D/expectations.txt" "$D"/suite/*.json
