#!/bin/bash
# Outside-oracle results for the histogram tests, computed with python3 from the published rules.
# Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"
python3 "$(dirname "$0")/testdata_oracle.py" "$D"
