#!/bin/bash
# Inputs and outside-oracle results for the text tests: a mixed-script text in both encodings and glibc's
# formatting of a table of printf formats. Usage: text_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1/text
rm -rf "$D"; mkdir -p "$D"
exec python3 "${BASH_SOURCE[0]%/*}/text_setup.py" "$D"
