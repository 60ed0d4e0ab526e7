#!/bin/bash
# Decodes the datagrams the message test received with Python's struct, independently of the product's packed
# buffer, and compares each with what was sent. Nothing to check when that test was filtered out of the run.
# Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
[ -e "$1/datagrams/expected.jsonl" ] || exit 0
python3 "$(dirname "$0")/testdata/decode_datagrams.py" "$1/datagrams"
