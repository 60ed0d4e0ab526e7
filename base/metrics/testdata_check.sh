#!/bin/bash
# Checks, from Linux and the documented layout alone, the memory segment that two processes shared in the
# persistent histogram test. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
if [ ! -f "$D/shared_segment.bin" ]; then
  echo "no shared segment: the two-process test did not run"
  exit 0
fi
python3 "$(dirname "$0")/testdata_oracle.py" --check-segment "$D/shared_segment.bin"
