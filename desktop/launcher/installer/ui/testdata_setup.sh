#!/bin/bash
# The pictures as ImageMagick reads them from the unit tests' own resources (wrestool extracts them): one line each,
# "ID TYPE WIDTH HEIGHT ALPHA_AT_CORNER ALPHA_AT_CENTRE" (alpha 0 to 255). Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
BIN=$2
EXE=$BIN/desktop_launcher_installer_ui_unittests.exe
mkdir -p "$D"
for picture in "139 JPG" "140 PNG" "141 PNG"; do
  set -- $picture
  wrestool -x --raw --type="$2" --name="$1" "$EXE" > "$D/picture_$1"
  echo "$1 $2 $(convert "$D/picture_$1" -format '%w %h %[fx:round(255*p{0,0}.a)] %[fx:round(255*p{w/2,h/2}.a)]' info:)"
done > "$D/pictures.txt"
# The string tables of the window's test host, as pefile reads them block by block: the end-to-end tests' oracle.
/usr/bin/python3 "$(dirname "$0")/../../../../host/check_host_resources.py" \
  --strings "$BIN/installer_window_host_test_child.exe" > "$D/host_strings.json"
# A copy of the host whose terms resource ends before its NUL and whose full-package text is three times as long
# (make_text_bound_host.py), its string tables, and the terms text each host must show.
/usr/bin/python3 "$(dirname "$0")/make_text_bound_host.py" "$BIN/installer_window_host_test_child.exe" \
  "$D/text_bound_host.exe" "$D"
/usr/bin/python3 "$(dirname "$0")/../../../../host/check_host_resources.py" \
  --strings "$D/text_bound_host.exe" > "$D/text_bound_host_strings.json"
# Installations to open the window on (an upgrade).
bash "$(dirname "$0")/../testdata/stage_installations.sh" "$D/staged"
