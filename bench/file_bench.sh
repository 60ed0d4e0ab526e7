#!/bin/bash
# The file benchmark under wine against cat and cp on the same data, measured from Linux in the same run:
# a 100 MiB file read whole and a 10,000-file tree copied (best of several warm runs each).
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-file-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
. "$(dirname "$0")/bench_util.sh"
big_mib=$(sized 100 4) folders=$(sized 100 2)
head -c $((big_mib << 20)) /dev/urandom > "$W/big.bin"
python3 - "$W/tree" "$folders" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(int(sys.argv[2])):
    folder = os.path.join(root, "d%02d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "f%03d.bin" % f), "wb") as out:
            out.write(os.urandom((d * 100 + f) * 37 % 8192))
PY
cat "$W/big.bin" > /dev/null
cat_time=$(best 5 : sh -c "cat '$W/big.bin' > /dev/null")
cp -r "$W/tree" "$W/warm"; rm -rf "$W/warm"
cp_time=$(best 3 "rm -rf '$W/copy'" cp -r "$W/tree" "$W/copy")
rm -rf "$W/copy"

windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/file_bench.exe" "$(windows "$W/big.bin")" "$(windows "$W/tree")" "$(windows "$W/copy")" | tr -d '\r')
echo "$out" | grep -v '^figure'
read_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "read" { print $3 }')
copy_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "copy" { print $3 }')
awk -v o="$read_time" -v r="$cat_time" -v m="$big_mib" 'BEGIN { printf "ReadFileToString of %d MiB (wine): %.4f s | cat of the file (Linux): %.4f s | ratio %.2fx\n", m, o, r, r / o }'
awk -v o="$copy_time" -v r="$cp_time" -v n="$((folders * 100))" 'BEGIN { printf "CopyDirectory of %d files (wine): %.4f s | cp -r of the tree (Linux): %.4f s | ratio %.2fx\n", n, o, r, r / o }'
