#!/bin/bash
# The transaction benchmark under wine, with cp -r of the same tree on Linux as a further reference (reported
# only): a 3,000-file tree shaped like a browser package (nested folders, many small files, a few of several MB).
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-transaction-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
. "$(dirname "$0")/bench_util.sh"
files=$(sized 3000 200)
python3 - "$W/tree" "$files" <<'PY'
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
for n in range(int(sys.argv[2])):
    folder = random.choice(folders)
    # Mostly small files (resources, locales), a few of several MB (the libraries).
    size = random.randint(3 << 20, 8 << 20) if n % 600 == 0 else int(random.lognormvariate(8.5, 1.2))
    with open(os.path.join(folder, "file%04d.bin" % n), "wb") as out:
        out.write(os.urandom(size))
PY
compare_with_cp "CopyFileOperations of $files files" transaction_bench.exe copy "$W/tree" "$W/copy"
