#!/bin/bash
# Checks from the Linux side what the transaction tests left, with wine's own reg tool: the deletion scheduled
# for the next restart and registry values written from folder names with braces. Removes the second drive. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../../../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
. "$WINDEPS/wine.env"
HERE=$(cd "$(dirname "$0")" && pwd)
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null; }
# The second drive goes, and the prefix of its own a section makes, with its programs, however the script ends.
trap 'zorvi_unmap_second_drive "$D"; [ -z "${P:-}" ] || zorvi_end_prefix "$P"' EXIT
status=0
fail() { echo "$*" >&2; status=1; }
# check_tree DIR NAME: DIR against the listing and SHA-256 sums that testdata_setup.sh recorded as NAME.
check_tree() {
  local listing
  listing=$(cd "$1" && find . -mindepth 1 -printf '%P %s %m\n' | LC_ALL=C sort)
  [ "$listing" = "$(cat "$D/$2.find")" ] || fail "find lists another tree in $1: $listing"
  (cd "$1" && sha256sum --quiet -c "$D/$2.sha256") || fail "sha256sum: files in $1 changed"
}

if [ -e "$D/pending_delete.txt" ]; then
  # reg query prints a multi-string's entries joined by "\0"; the kept copy is scheduled with an empty target,
  # which is the last entry or followed by the next pair.
  pending=$(wine_run reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations | tr -d '\r')
  wanted="\\??\\$(cat "$D/pending_delete.txt")\\0"
  case $pending$'\n' in
    *"$wanted"$'\n'*|*"$wanted\\0"*) echo "reg query: the kept copy is deleted at the next restart";;
    *) fail "PendingFileRenameOperations lacks $wanted: $pending";;
  esac
fi
if [ -e "$D/swap_done" ]; then
  # Whatever the swaps tried, what lies outside the installations is byte for byte as the setup made it.
  check_tree "$D/swap/outside" swap_outside
  [ $status -eq 0 ] && echo "find, sha256sum: the deletions left what lies outside the installations unchanged"
fi
if [ -e "$D/braces.txt" ]; then
  # Line 1: the key; then "name data" per value, as the test wrote it from the folder names it used.
  key=$(head -n 1 "$D/braces.txt")
  while read -r name data; do
    # reg query prints "    name    REG_SZ    data" per value.
    line=$(wine_run reg query "$key" /v "$name" | tr -d '\r' | grep "^    $name    " || true)
    [ "$line" = "    $name    REG_SZ    $data" ] || fail "reg query $key /v $name: '$line', expected '$data'"
  done < <(tail -n +2 "$D/braces.txt")
  wine_run reg delete "$key" /f >/dev/null 2>&1 || true
  [ $status -eq 0 ] && echo "reg query: folder names with braces were written unchanged"
fi
if [ -e "$D/recorded_done" ]; then
  T=$D/recorded_tree
  KEY=$(cat "$D/recorded_key")
  check_tree "$T" recorded_tree
  for hive in HKCU HKLM; do
    wine_run reg export "$hive\\$KEY" "$(echo "Z:$D/final_$hive.reg" | tr / '\\')" /y >/dev/null
    cmp -s "$D/final_$hive.reg" "$D/recorded_$hive.reg" || fail "reg export of $hive\\$KEY differs from the recorded one"
  done
  [ $status -eq 0 ] && echo "find, sha256sum, reg export: the failure sweep left the recorded tree and keys"

  # Again in a prefix of its own, whose wine server is stopped around the sweep so that it writes the registry
  # files: the keys' sections must read the same before and after.
  P=$D/own_prefix
  "$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
  # Without a display: the run's own wine desktop keeps the run's X server to itself.
  own() { env -u DISPLAY "$ROOT/tools/wine-run" "$WINDEPS" "$P" "$@" </dev/null; }
  flush() {
    TMPDIR="$P/.server-tmp" WINEPREFIX="$P" "$WINESERVER" -k 2>/dev/null || true
    TMPDIR="$P/.server-tmp" WINEPREFIX="$P" timeout 30 "$WINESERVER" -w 2>/dev/null || true
  }
  sections() {
    for file in user system; do
      python3 "$HERE/testdata/registry_sections.py" "$P/$file.reg" "$KEY"
    done
  }
  own reg import "$(echo "Z:$D/recorded.reg" | tr / '\\')" >/dev/null
  flush
  sections > "$D/sections_before.txt"
  rm -f "$D/recorded_done"
  ZORVI_TESTDATA=$D own "$BIN/desktop_launcher_installer_service_transactions_unittests.exe" \
      --gtest_filter='RecordedTreeTest.*' > "$D/own_prefix_run.txt" 2>&1 || fail "the sweep failed in its own prefix"
  flush
  sections > "$D/sections_after.txt"
  [ -e "$D/recorded_done" ] || fail "the sweep did not finish in its own prefix: $(tail -5 "$D/own_prefix_run.txt")"
  # Wine writes a key only when it holds values or nothing at all: A, A\B\C and D of each hive.
  [ "$(grep -c '^\[' "$D/sections_before.txt")" -eq 6 ] || fail "user.reg and system.reg lack the recorded keys"
  diff "$D/sections_before.txt" "$D/sections_after.txt" || fail "user.reg/system.reg sections changed"
  zorvi_end_prefix "$P"
  [ $status -eq 0 ] && echo "user.reg, system.reg: the recorded keys' sections are unchanged after the sweep"
fi
exit $status
