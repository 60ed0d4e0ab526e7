#!/bin/bash
# Inputs and outside-oracle results for the tests of the installation records. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"

# Installation status log: the hand-laid expected files with their models, and random models and damaged copies
# of a valid file made by the Python oracle.
HERE=$(cd "$(dirname "$0")" && pwd)
ORACLE="$HERE/testdata/install_log_oracle.py"
mkdir -p "$D/written/random" "$D/non_ascii"
cp "$HERE"/testdata/*_model.json "$HERE"/testdata/*_log.xml "$D/"
python3 "$ORACLE" generate 1000 20240921 "$D/random_models.json"
python3 "$ORACLE" mutate 10000 20240922 "$HERE/testdata/full_log.xml" "$D/mutations"
