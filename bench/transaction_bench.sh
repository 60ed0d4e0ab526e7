#!/bin/bash
# The transaction benchmark under wine, with cp -r of the same tree on Linux as a further reference (reported
# only): a 3,000-file tree shaped like a browser package (nested folders, many small files, a few of several MB).
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-transaction-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
python3 - "$W/tree" <<'PY'
import os, random, sys
random.seed(22)
root = sys.argv[1]
folders = [root]
for _ in range(150):
    parent = random.choice(folders[-40:])
    if parent.count(os.sep) - root.count(os.sep) >= 5:
        parent = root
    folders.append(os.path.join(parent, "f%03d" % len(folders)))
    os.makedirs(folders[-1])
for n in range(3000):
    folder = random.choice(folders)
    # Mostly small files (resources, locales), a few of several MB (the libraries).
    size = random.randint(3 << 20, 8 << 20) if n % 600 == 0 else int(random.lognormvariate(8.5, 1.2))
    with open(os.path.join(folder, "file%04d.bin" % n), "wb") as out:
        out.write(os.urandom(size))
PY
. "$(dirname "$0")/bench_util.sh"
cp_time=$(best 3 "rm -rf '$W/copy'" cp -r "$W/tree" "$W/copy")
rm -rf "$W/copy"
windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/transaction_bench.exe" "$(windows "$W/tree")" "$(windows "$W/copy")" | tr -d '\r')
echo "$out" | grep -v '^figure'
copy_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "copy" { print $3 }')
awk -v o="$copy_time" -v r="$cp_time" 'BEGIN { printf "CopyFileOperations of 3,000 files (wine): %.4f s | cp -r of the tree (Linux): %.4f s | ratio %.2fx (reported only)\n", o, r, r / o }'
