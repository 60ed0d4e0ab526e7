#!/bin/bash
# Makes the host's pictures, its icon and its NUL-terminated terms text in OUT_DIR. The pictures are drawn here
# rather than kept as binary files: ImageMagick draws them the same way on every machine, and PNG32 keeps the
# alpha channel that the window blends with. Usage: make_resources.sh OUT_DIR
set -euo pipefail
OUT=$1
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
# No time stamps or other text chunks, so that two builds make the same files.
STRIP=(-strip -define png:exclude-chunks=date,time)

# Background (139): a light gradient with a soft band across it, stretched over the whole window.
convert -size 600x420 gradient:'#ffffff-#dde6f3' \
  \( -size 600x420 xc:none -fill '#ff1b2c18' -draw 'polygon 0,300 600,170 600,230 0,360' \) -composite \
  "${STRIP[@]}" -quality 90 "$OUT/background.jpg"

# Product picture (140): a red disc with a white "Z", transparent around it.
convert -size 128x128 xc:none -fill '#ff1b2c' -draw 'circle 64,64 64,4' \
  -fill white -draw 'polygon 38,36 90,36 90,47 54,81 90,81 90,92 38,92 38,81 74,47 38,47' \
  "${STRIP[@]}" "PNG32:$OUT/product.png"

# Error badge (141): a dark red disc with a white exclamation mark, drawn over the product picture's corner.
convert -size 40x40 xc:none -fill '#b00014' -stroke white -strokewidth 2 -draw 'circle 20,20 20,2' \
  -stroke none -fill white -draw 'rectangle 18,9 22,24' -draw 'rectangle 18,28 22,32' \
  "${STRIP[@]}" "PNG32:$OUT/error_badge.png"

# Icon (1) in the sizes Windows asks for.
convert "$OUT/product.png" -define icon:auto-resize=256,48,32,16 "$OUT/installer.ico"

# Terms (142): UTF-8 text that the window reads up to its NUL.
{ cat "$HERE/terms_of_service.txt"; printf '\0'; } > "$OUT/terms.txt"
