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
/usr/bin/python3 - "$D/screenshots" <<'PY'
import json, subprocess, sys
folder = sys.argv[1]

def crop(name, rect, client):
    left, top = client[0] + rect[0], client[1] + rect[1]
    width, height = rect[2] - rect[0], rect[3] - rect[1]
    raw = subprocess.run(["convert", f"{folder}/{name}.png", "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                          "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]

def geometry(name):
    with open(f"{folder}/{name}.json") as source:
        return json.load(source)

problems, figures = [], []
welcome, error = geometry("welcome"), geometry("error")
title = crop("welcome", welcome["title"], welcome["client"])
red = sum(1 for r, g, b in title if r > 200 and g < 90 and b < 100)
dark = sum(1 for r, g, b in title if r < 80 and g < 80 and b < 80)
figures.append(f"title: {red} red and {dark} dark pixels")
if red < 20 or dark < 20:
    problems.append("the title is not red with a dark product name")
client = welcome["client"]
strip = crop("welcome", [2, 0, 4, client[3] - client[1]], client)
figures.append(f"background: {len(set(strip))} colours down the left edge")
if len(set(strip)) < 5:
    problems.append("the background picture does not show behind the window")

# The title and the welcome text lie on the background picture: around their letters the screenshot shows the
# picture (stretched over the client area as the window draws it), not a box of the controls' own white. Pure white
# where the picture is darker is such a box; the letters themselves are dark or red, never pure white.
width, height = client[2] - client[0], client[3] - client[1]
raw = subprocess.run(["convert", f"{folder}/../picture_139", "-filter", "point", "-resize", f"{width}x{height}!",
                      "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
picture = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
for key in ("title", "welcome_text"):
    rect = welcome[key]
    shot = crop("welcome", rect, client)
    under = [picture[y * width + x] for y in range(rect[1], rect[3]) for x in range(rect[0], rect[2])]
    boxed = sum(1 for seen, drawn in zip(shot, under) if seen == (255, 255, 255) and min(drawn) < 250)
    figures.append(f"{key}: {boxed} of {len(shot)} pixels white over the picture")
    if boxed * 50 > len(shot):
        problems.append(f"the {key} covers the background picture with a white box")

def badge(name, shot):
    return sum(1 for r, g, b in crop(name, shot["picture"], shot["client"]) if 140 < r < 210 and g < 40 and b < 60)
badges = {name: badge(name, shot) for name, shot in (("welcome", welcome), ("error", error))}
figures.append(f"badge pixels: welcome {badges['welcome']}, error {badges['error']}")
if badges["error"] < 200 or badges["welcome"] > 10:
    problems.append("the error badge does not show on the error page only")

fills = {}
for name in ("progress_30", "progress_70"):
    shot = geometry(name)
    bar = shot["bar"]
    pixels = crop(name, bar, shot["client"])
    width = bar[2] - bar[0]
    # The empty end of the bar: the colour just inside its right edge, half way down.
    empty = pixels[((bar[3] - bar[1]) // 2) * width + width - 3]
    fills[name] = sum(1 for pixel in pixels if pixel != empty)
figures.append(f"progress fill: {fills['progress_30']} pixels at 30, {fills['progress_70']} at 70")
if not 0 < fills["progress_30"] * 1.5 < fills["progress_70"]:
    problems.append("the progress fill does not grow from 30 to 70")

print("screenshots: " + "; ".join(figures))
if problems:
    sys.exit("screenshots: " + "; ".join(problems))
PY

# The branch without visual styles: wine's bundled theme, on in the prefix template, switched off for the user in
# a prefix of its own (every program of a prefix takes the user's theme), and the window's theme test run there,
# on a display of its own: its window would take the input focus from the suite's window tests.
P=$D/unthemed_prefix
# It goes with its programs however the script ends.
trap 'zorvi_end_prefix "$P"' EXIT
rm -rf "$P"; cp -a "$WINDEPS/wineprefix-template" "$P"
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
