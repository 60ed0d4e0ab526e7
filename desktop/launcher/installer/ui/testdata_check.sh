#!/bin/bash
# Every picture load starts GDI+ and shuts it down again, whether the picture decodes, is missing or is no picture:
# wine's relay trace of the picture test counts the calls. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
BIN=$2
ROOT=$(cd "$(dirname "$0")/../../../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
trace=$(ZORVI_TESTDATA=$D WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" \
        "$BIN/desktop_launcher_installer_ui_unittests.exe" --gtest_filter='PictureResourceTest.Decod*' \
        </dev/null 2>&1 | tr -d '\r')
loads=$(printf '%s\n' "$trace" | grep -ac '^picture load ' || true)
starts=$(printf '%s\n' "$trace" | grep -ac ':Call gdiplus.GdiplusStartup(' || true)
stops=$(printf '%s\n' "$trace" | grep -ac ':Call gdiplus.GdiplusShutdown(' || true)
if [ "$loads" -lt 6 ] || [ "$starts" != "$loads" ] || [ "$stops" != "$loads" ]; then
  echo "relay: $loads picture loads made $starts GDI+ start-ups and $stops shut-downs" >&2
  exit 1
fi
echo "relay: each of $loads picture loads started GDI+ once and shut it down again"
