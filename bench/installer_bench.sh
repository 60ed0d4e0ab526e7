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
compare_with_cp "copy-only install of 3,000 files" installer_bench.exe install "$W/package" "$W/install"
