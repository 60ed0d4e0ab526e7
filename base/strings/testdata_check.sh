#!/bin/bash
# Checks from Linux what the string tests wrote: runs every testdata/*_check.sh of this folder.
# Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
for script in "$(dirname "$0")"/testdata/*_check.sh; do
  bash "$script" "$1" "$2"
done
