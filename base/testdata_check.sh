#!/bin/bash
# Checks from the Linux side what the tests of base/ wrote. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1

# Packed buffer: the record written under wine decodes with Python's struct module (absent when that test was
# filtered out of the run).
[ ! -e "$D/packed_buffer/from_windows.bin" ] || python3 "${BASH_SOURCE[0]%/*}/testdata_packed_buffer.py" "$D/packed_buffer/from_windows.bin"

# Path service: the application shortcuts folder exists from Windows 8 on, so only there may the service ask
# the shell for it. wine's relay trace of the system calls shows whether a child under each version did.
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$2
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
known_folder_calls() {  # VERSION: the child's SHGetKnownFolderPath calls when asked for key 112
  local name="paths_relay_$$_$1.exe"
  cp "$BIN/path_service_test_child.exe" "$D/path_service/$name"
  "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name" \
      /v Version /d "$1" /f </dev/null >/dev/null
  WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$D/path_service/$name" 112 </dev/null 2>&1 |
      grep -ac ':Call shell32.SHGetKnownFolderPath(' || true
  "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$name" /f \
      </dev/null >/dev/null
  rm -f "$D/path_service/$name"
}
win7_calls=$(known_folder_calls win7)
win10_calls=$(known_folder_calls win10)
if [ "$win7_calls" != 0 ] || [ "$win10_calls" != 1 ]; then
  echo "application shortcuts: $win7_calls shell calls under win7 (want 0), $win10_calls under win10 (want 1)" >&2
  exit 1
fi
echo "application shortcuts folder asked for from Windows 8 on only"
