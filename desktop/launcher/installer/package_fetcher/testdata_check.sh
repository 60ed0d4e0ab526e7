#!/bin/bash
# Checks from the Linux side what the package tests wrote: the payloads against the payload files (cmp) and
# 7-Zip's test of the written packages, and each unpacked archive against 7-Zip's own extraction (diff -r) with
# the files' modification times. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
export TZ=UTC
fail() { echo "$*" >&2; exit 1; }
checked=0

if [ -f "$D/out/payload/written.txt" ]; then
  while read -r name kind; do
    cmp "$D/out/payload/$name.written" "$D/payload/$name.payload" || fail "payload of $name differs"
    [ "$kind" = full ] && { 7zz t -bso0 -bsp0 "$D/out/payload/$name.written" || fail "$name: written package fails 7-Zip's test"; }
    checked=$((checked + 1))
  done < "$D/out/payload/written.txt"
fi

if [ -f "$D/out/unpack/done.txt" ]; then
  while read -r variant; do
    reference=$D/out/unpack-7zz/$variant
    rm -rf "$reference"; mkdir -p "$reference"
    7zz x -bso0 -bsp0 -o"$reference" "$D/archives/$variant.7z"
    diff -r "$reference" "$D/out/unpack/$variant" || fail "$variant: unpacked tree differs from 7-Zip's"
    # Files carry the times 7-Zip restores (folders are not given times); without stored times both are the
    # time of writing, which differs.
    if [ "$variant" != no_mtime ]; then
      times() { (cd "$1" && find . -type f -printf '%P %T@\n' | LC_ALL=C sort); }
      diff <(times "$reference") <(times "$D/out/unpack/$variant") || fail "$variant: file times differ from 7-Zip's"
    fi
    checked=$((checked + 1))
  done < "$D/out/unpack/done.txt"
fi

# The fetcher's scenarios: each unpacked tree against 7-Zip's extraction of the package (what the fetch added
# compared on its own), and the statistics with Python's json.
F=$D/out/fetch
if [ -d "$F" ]; then
  for scenario in full_package tracking partners restarts; do
    tree=$F/$scenario/tree
    [ -d "$tree" ] || fail "fetch $scenario: no unpacked tree kept"
    case $scenario in
      tracking)
        diff -r -x installer_prefs_include.json -x server_tracking_data "$D/fetch/expected" "$tree" ||
          fail "fetch $scenario: unpacked tree differs from 7-Zip's"
        [ "$(cat "$tree/server_tracking_data")" = abc ] || fail "fetch $scenario: tracking data not kept";;
      partners)
        diff -r -x a.dat -x b.dat -x files_list "$D/fetch/expected" "$tree" ||
          fail "fetch $scenario: unpacked tree differs from 7-Zip's"
        cmp "$tree/a.dat" "$D/fetch/www/a.dat" && cmp "$tree/b.dat" "$D/fetch/www/b.dat" ||
          fail "fetch $scenario: partner files differ from the served ones"
        cmp "$tree/files_list" <(cat "$D/fetch/expected/files_list"; printf 'a.dat\r\nb.dat\r\n') ||
          fail "fetch $scenario: files list not extended";;
      *) diff -r "$D/fetch/expected" "$tree" || fail "fetch $scenario: unpacked tree differs from 7-Zip's";;
    esac
    checked=$((checked + 1))
  done
  python3 "${BASH_SOURCE[0]%/*}/testdata_fetch_statistics.py" "$F" || fail "fetch statistics"
  checked=$((checked + 1))
fi

echo "package outputs verified: $checked"
