#!/bin/bash
# Inputs and outside-oracle results for the string tests: runs every testdata/*_setup.sh of this folder.
# Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
mkdir -p "$1"
for script in "$(dirname "$0")"/testdata/*_setup.sh; do
  bash "$script" "$1" "$2"
done
