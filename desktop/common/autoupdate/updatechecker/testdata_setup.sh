#!/bin/bash
# An empty data folder for the global storage tests. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
rm -rf "$1"; mkdir -p "$1"
