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

# The window's screenshots (InstallerWindowEndToEndTest.EachRunShowsWhatItsHostFolderAndVersionAsk), cropped by
# the geometry the driver read, checked by their properties only (exact pixels differ between font and drawing
# versions).
/usr/bin/python3 "${BASH_SOURCE[0]%/*}/testdata_screenshots.py" "$D/screenshots"

# The branch without visual styles: wine's bundled theme, on in the prefix template, switched off for the user in
# a prefix of its own (every program of a prefix takes the user's theme), and the window's theme test run there,
# on a display of its own: its window would take the input focus from the suite's window tests.
P=$D/unthemed_prefix
# It goes with its programs however the script ends.
trap 'zorvi_end_prefix "$P"' EXIT
"$ROOT/tools/copy-prefix-template" "$WINDEPS" "$P"
zorvi_start_display
"$ROOT/tools/wine-run" "$WINDEPS" "$P" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
    /v ThemeActive /d 0 /f </dev/null >/dev/null
run_status=0
ZORVI_UNTHEMED_PREFIX=1 ZORVI_TESTDATA=$D "$ROOT/tools/wine-run" "$WINDEPS" "$P" \
    "$BIN/desktop_launcher_installer_ui_unittests.exe" --gtest_filter='InstallerWindowTest.Themed*' \
    </dev/null >"$D/unthemed_run.txt" 2>&1 || run_status=$?
RUN_PREFIX=$P zorvi_stop_wine
zorvi_end_prefix "$P"
if [ $run_status -ne 0 ] || ! grep -aq '^\[  PASSED  \] 1 test' "$D/unthemed_run.txt"; then
  echo "window without a theme: $(tail -20 "$D/unthemed_run.txt")" >&2
  exit 1
fi
echo "window without a theme: the delete-profile box paints transparently"
