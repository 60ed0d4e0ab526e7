#!/usr/bin/env python3
"""Checks a network install against its package and prints where its time went, from the statistics the run
posted (milliseconds) and its installer logs (whole seconds), between the run's start and exit as the caller
measured them (seconds since the epoch).

Usage: network_install_phases.py PACKAGE INSTALL_FOLDER STATS_JSONL LOG START END"""
import datetime
import filecmp
import json
import math
import os
import re
import sys

package, install, stats_file, log_file = sys.argv[1:5]
start, end = float(sys.argv[5]), float(sys.argv[6])
docs = [json.loads(line) for line in open(stats_file) if line.strip()]
if len(docs) != 1:
    sys.exit("expected the statistics of one run, got %d" % len(docs))
stats = docs[0]
if stats.get("installation_success") != 1:
    sys.exit("the statistics say the installation did not succeed")

names = [n for n in open(os.path.join(package, "files_list"), newline="").read().split("\r\n") if n]
version_folder = os.path.join(install, stats["version"])
differ = [n for n in names if not filecmp.cmp(os.path.join(package, n.replace("\\", "/")),
                                              os.path.join(version_folder, n.replace("\\", "/")), shallow=False)]
if differ:
    sys.exit("%d installed files differ from the package's, the first %s" % (len(differ), differ[0]))
print("installed: the %d files of the package, compared byte for byte" % len(names))


def stats_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%f").timestamp()


fetch = stats["fetches"][-1]
year = stats["installer_start_time"]["time"][:4]
marks = [("start", start), ("installer start (statistics)", stats_time(stats["installer_start_time"]["time"]))]
for key, label in [("fetch_download_url_start_time", "address query start"),
                   ("download_start_time", "download start"), ("download_end_time", "download end"),
                   ("extract_start_time", "checks done, extraction start"), ("unpack_start_time", "unpack start"),
                   ("unpack_end_time", "unpack end"), ("package_ready_time", "package ready")]:
    marks.append((label, stats_time(fetch[key]["time"])))

# The log lines of the package's own installer (the one that installs), in whole seconds.
line_time = re.compile(r"^\[(\d{4})/(\d{6}):\w+:[^\]]*\] (.*)$")
inside = False
for line in open(log_file, encoding="utf-8", errors="replace"):
    match = line_time.match(line.rstrip("\n"))
    if not match:
        continue
    stamp = datetime.datetime.strptime(year + match.group(1) + match.group(2), "%Y%m%d%H%M%S").timestamp()
    text = match.group(3)
    if text.startswith("Inside package"):
        inside = text.endswith("1")
        if inside:
            marks.append(("package's installer started (log)", stamp))
    if not inside:
        continue
    for prefix, label in [("Reading files list", "copy start (log)"), ("Done copying files", "copy end (log)"),
                          ("Installing shortcuts", "shortcuts start (log)"),
                          ("Writing installer prefs", "finalize start (log)"),
                          ("Installation succeeded", "installation succeeded (log)")]:
        if text.startswith(prefix):
            marks.append((label, stamp))
marks.append(("exit", end))

phases = [("start-up", 0, 1), ("address query", 2, 3), ("download", 3, 4), ("verify (checksum, signer, version)", 4, 5),
          ("payload extraction", 5, 6), ("unpack", 6, 7)]
times = dict(marks)


def between(a, b):
    """Seconds from mark a to mark b, both in the log's whole seconds."""
    return math.floor(times[b]) - math.floor(times[a]) if a in times and b in times else None


rows = [(name, marks[i][1], marks[j][1]) for name, i, j in phases]
steps = [("handover to the package's installer", "package ready", "package's installer started (log)"),
         ("install: copy of the files", "copy start (log)", "copy end (log)"),
         ("install: launcher and registry", "copy end (log)", "shortcuts start (log)"),
         ("install: shortcuts", "shortcuts start (log)", "finalize start (log)"),
         ("finalize", "finalize start (log)", "installation succeeded (log)"),
         ("exit after success", "installation succeeded (log)", "exit")]
print("where the time went (statistics in ms, log in whole seconds):")
for name, a, b in rows:
    print("  %-40s %8.3f s" % (name, b - a))
for name, a, b in steps:
    spent = between(a, b)
    print("  %-40s %8s" % (name, "%.0f s" % spent if spent is not None else "(not in the log)"))
print("  %-40s %8.3f s" % ("whole run", end - start))
