#!/bin/bash
# The language tests' oracle: the fixture host's list as Python reads its resource file, split at each line
# feed and every piece stripped, empty pieces kept; and the product strings as pefile reads them. Usage:
# testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
mkdir -p "$D"
python3 - "$(dirname "$0")/testdata/languages.txt" "$D/languages_expected.txt" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read().decode('ascii')
with open(sys.argv[2], 'w') as out:
    out.write('|'.join(piece.strip() for piece in text.split('\n')))
PY
# The string tables of the host resources that the unit tests carry, as pefile reads them block by block.
/usr/bin/python3 "$(dirname "$0")/../../../host/check_host_resources.py" \
  --strings "$2/desktop_windows_rc_l10n_handler_unittests.exe" > "$D/host_strings.json"
