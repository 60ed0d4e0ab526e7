#!/bin/bash
# The installer benchmark under wine, with cp -r of the same package on Linux as a further reference (reported
# only): a package of 3,000 small files in nested folders with its "files_list".
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-installer-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
python3 - "$W/package" <<'PY'
import os, random, sys
random.seed(27)
root = sys.argv[1]
folders = [""]
for _ in range(150):
    parent = random.choice(folders[-40:])
    if parent.count("/") >= 4:
        parent = ""
    folders.append((parent + "/" if parent else "") + "f%03d" % len(folders))
names = []
for n in range(3000):
    name = (random.choice(folders) + "/" if len(folders) else "") + "file%04d.bin" % n
    name = name.lstrip("/")
    os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
    with open(os.path.join(root, name), "wb") as out:
        out.write(os.urandom(int(random.lognormvariate(8.0, 1.0))))
    names.append(name.replace("/", "\\"))
with open(os.path.join(root, "files_list"), "w", newline="") as out:
    out.write("".join(name + "\r\n" for name in names))
PY
. "$(dirname "$0")/bench_util.sh"
cp_time=$(best 3 "rm -rf '$W/copy'" cp -r "$W/package" "$W/copy")
rm -rf "$W/copy"
windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/installer_bench.exe" "$(windows "$W/package")" "$(windows "$W/install")" | tr -d '\r')
echo "$out" | grep -v '^figure'
install_time=$(echo "$out" | awk -F'\t' '$1 == "figure" && $2 == "install" { print $3 }')
awk -v o="$install_time" -v r="$cp_time" 'BEGIN { printf "copy-only install of 3,000 files (wine): %.4f s | cp -r of the package (Linux): %.4f s | ratio %.2fx (reported only)\n", o, r, r / o }'
