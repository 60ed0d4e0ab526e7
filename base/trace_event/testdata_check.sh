#!/bin/bash
# Checks from the Linux side what the trace tests wrote: allocator-dump ids against Python's SHA-1, and the
# collected trace of the multi-thread test against Python's strict JSON parser.
# Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
python3 "${BASH_SOURCE[0]%/*}/testdata_check.py" "$D/out"
