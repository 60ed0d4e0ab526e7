#!/bin/bash
# Checks from the Linux side what the file tests left, performs the scheduled restart in a prefix of its own,
# and removes the second volume. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
VOLUME=$(cat "$D/second_volume")
cleanup() { zorvi_unmap_second_drive "$D"; }
trap cleanup EXIT
fail() { echo "$*" >&2; exit 1; }

# Deleting folders that hold links removed at most the links.
if [ -e "$D/links/done" ]; then
  (cd "$D/links/outside" && sha256sum --quiet -c "$D/links/outside.sha256") || fail "a link's target changed"
  echo "links: what they point to is intact"
fi

[ -e "$D/tree/done" ] || { echo "the tree test did not run: nothing to check"; exit 0; }
T=$D/tree

# The source is untouched.
(cd "$T/source" && sha256sum --quiet -c "$T/source.sha256") || fail "the source tree changed"

# What the moved tree must hold, from the source's digests and the test's steps.
python3 "${BASH_SOURCE[0]%/*}/testdata_moved_tree.py" "$T" "$VOLUME/renamed"
# Folders: all of the source's but the deleted d08/sub, the empty one included.
diff <(cd "$T/source" && find . -type d | grep -vx './d08/sub' | LC_ALL=C sort) \
     <(cd "$VOLUME/renamed" && find . -type d | LC_ALL=C sort) || fail "the moved tree's folders differ"
# Copies are never read-only; moves leave nothing behind.
[ -z "$(find "$VOLUME/renamed" -type f ! -perm -u+w)" ] || fail "a copy stayed read-only"
[ ! -e "$T/work/copy" ] && [ ! -e "$VOLUME/moved" ] && [ ! -e "$VOLUME/replacement.txt" ] \
    || fail "a moved path is still there"

# The delete at the next restart: recorded for wineboot, which performs it. The run's prefix is shared with
# tests still running, so the restart happens in a prefix of its own with the recorded operations imported.
wine_in() { local prefix=$1; shift; "$ROOT/tools/wine-run" "$WINDEPS" "$prefix" "$@" </dev/null; }
key='HKLM\System\CurrentControlSet\Control\Session Manager'
doomed="Z:$(echo "$T/doomed.txt" | tr / '\\')"
pending=$(wine_in "$RUN_PREFIX" reg query "$key" /v PendingFileRenameOperations | tr -d '\r')
echo "$pending" | grep -qF "\\??\\$doomed" || fail "no pending deletion of $doomed: $pending"
[ -e "$T/doomed.txt" ] || fail "deleted before the restart"
export_file="$D/session-manager.reg"
rm -f "$export_file"
wine_in "$RUN_PREFIX" reg export "$key" "Z:$(echo "$export_file" | tr / '\\')" /y >/dev/null
P=$D/restart-prefix
"$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
stop_restart_prefix() { zorvi_end_prefix "$P"; cleanup; }
trap stop_restart_prefix EXIT
. "$WINDEPS/wine.env"
wine_in "$P" reg import "Z:$(echo "$export_file" | tr / '\\')" >/dev/null 2>&1
wine_in "$P" wineboot -r
# wineboot performs the operations before it returns; the prefix's server is persistent, so end it.
TMPDIR=$P/.server-tmp WINEPREFIX=$P "$WINESERVER" -k 2>/dev/null || true
[ ! -e "$T/doomed.txt" ] || fail "wineboot -r did not delete $T/doomed.txt"
echo "the scheduled deletion happened at the restart"
