#!/bin/bash
# Gives the IPC tests an empty data folder for what they write. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
rm -rf "$1"
mkdir -p "$1"
