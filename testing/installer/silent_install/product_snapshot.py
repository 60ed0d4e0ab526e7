#!/usr/bin/env python3
"""What the product left in a stopped wine prefix, as JSON: the files of the prefix's drive that the product made
(every file below a folder whose name holds the product's name, and every shortcut as lnkinfo reads it; each
with its SHA-256), and the
registry keys and values that name the product (key path, value name and data, from the prefix's registry files).

Texts that differ between two runs of one install by nature are masked: runs of eight or more digits (the
application id, times, dates). Usage: product_snapshot.py PREFIX PRODUCT > snapshot.json
"""
import hashlib
import json
import os
import re
import subprocess
import sys

DIGITS = re.compile(rb"[0-9]{8,}")
# Written by the system or the run itself, never by the product: wine's own folders and the runs' temporary files.
SKIPPED = ("drive_c/windows/", "/Temp/", "/AppData/Local/Temp/")


def masked(data):
    return DIGITS.sub(b"#", data)


def shortcut(path):
    """A shortcut as lnkinfo reads it, without what differs between two makings of one shortcut: the target's
    times and the link's object ids."""
    text = subprocess.run(["lnkinfo", path], check=True, capture_output=True).stdout
    kept = [line for line in text.split(b"\n")
            if not re.search(rb"time|droid|object identifier|lnkinfo", line, re.IGNORECASE)]
    return masked(b"\n".join(kept))


def files(prefix, product):
    found = {}
    drive = os.path.join(prefix, "drive_c")
    for folder, _, names in os.walk(drive):
        for name in names:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, prefix).replace(os.sep, "/")
            if any(part in relative + "/" for part in SKIPPED) or os.path.islink(path):
                continue
            if product.lower() not in relative.lower() and not name.lower().endswith(".lnk"):
                continue
            if name.lower().endswith(".lnk"):
                data = shortcut(path)
            else:
                with open(path, "rb") as f:
                    data = f.read()
            # Logs and preference files carry the run's ids and times; everything else is compared byte for byte.
            if name.endswith((".xml", ".json", ".log")) or re.search(r"\.xml\.[0-9]+$", name):
                data = masked(data)
                relative = masked(relative.encode()).decode()
            found[relative] = hashlib.sha256(data).hexdigest()
    return found


def registry(prefix, product):
    """Keys and values of system.reg and user.reg that name the product, and every pending rename."""
    entries = {}
    for hive in ("system.reg", "user.reg"):
        key = None
        with open(os.path.join(prefix, hive), "rb") as f:
            lines = f.read().split(b"\n")
        for line in lines:
            if line.startswith(b"["):
                key = line[1:line.rindex(b"]")].decode("ascii", "replace")
                key_is_product = product.lower() in key.lower()
                if key_is_product:
                    entries[hive + ":" + masked(key.encode()).decode()] = {}
                continue
            if key is None or not line or line.startswith((b"#", b";")) or b"=" not in line:
                continue
            name, _, data = line.partition(b"=")
            relevant = key_is_product or product.lower().encode() in line.lower() or \
                b"PendingFileRename" in name
            if relevant:
                values = entries.setdefault(hive + ":" + masked(key.encode()).decode(), {})
                values[masked(name).decode("ascii", "replace")] = masked(data).decode("ascii", "replace")
    return entries


def main():
    prefix, product = sys.argv[1:3]
    json.dump({"files": files(prefix, product), "registry": registry(prefix, product)}, sys.stdout, indent=1,
              sort_keys=True)


if __name__ == "__main__":
    main()
