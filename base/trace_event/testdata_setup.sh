#!/bin/bash
# Prepares the folder into which the trace tests write what testdata_check.sh verifies.
# Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D/out"
