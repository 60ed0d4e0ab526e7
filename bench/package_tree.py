#!/usr/bin/env python3
"""Writes a package tree shaped like a browser's: FILES small files (log-normal sizes around 3 KiB) in about 150
nested folders, their "files_list" (CRLF, Windows separators) and, with --large-mib, a few incompressible large
files (the libraries and media) among them that bring the tree to about that many MiB. The same seed gives the
same names and sizes.

Usage: package_tree.py ROOT FILES [--large-mib N]
"""
import argparse
import os
import random

parser = argparse.ArgumentParser()
parser.add_argument("root")
parser.add_argument("files", type=int)
parser.add_argument("--large-mib", type=int, default=0)
args = parser.parse_args()

random.seed(27)
folders = [""]
for _ in range(150):
    parent = random.choice(folders[-40:])
    if parent.count("/") >= 4:
        parent = ""
    folders.append((parent + "/" if parent else "") + "f%03d" % len(folders))
sizes = [int(random.lognormvariate(8.0, 1.0)) for _ in range(args.files)]
large = args.large_mib << 20
if large:
    # Every hundredth file takes an equal share of what the small ones leave.
    count = max(1, args.files // 100)
    share = max(0, large - sum(sizes)) // count
    for n in range(count):
        sizes[n * 100] = share
names = []
for n, size in enumerate(sizes):
    name = ((random.choice(folders) + "/" if folders else "") + "file%04d.bin" % n).lstrip("/")
    os.makedirs(os.path.join(args.root, os.path.dirname(name)), exist_ok=True)
    with open(os.path.join(args.root, name), "wb") as out:
        out.write(os.urandom(size))
    names.append(name.replace("/", "\\"))
with open(os.path.join(args.root, "files_list"), "w", newline="") as out:
    out.write("".join(name + "\r\n" for name in names))
