#!/usr/bin/env python3
"""Checks a network install against its package and prints where its time went, each phase against its bare
reference under wine measured in the same run, in milliseconds: from the statistics the run posted and the times at
which its log lines reached their files (log_line_times.py), between the run's start and exit as the caller measured
them (seconds since the epoch).

Usage: network_install_phases.py PACKAGE INSTALL_FOLDER STATS_JSONL LOG_TIMES REFERENCES START END LINUX_SECONDS"""
import datetime
import filecmp
import json
import os
import sys

package, install, stats_file, times_file, references_file = sys.argv[1:6]
start, end, linux = float(sys.argv[6]), float(sys.argv[7]), float(sys.argv[8])
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
bare = {}
for line in open(references_file):
    fields = line.rstrip("\n").split("\t")
    if fields[0] == "figure":
        bare[fields[1]] = float(fields[2])
size_mib = os.path.getsize(os.path.join(package, "..", "served", "full.exe")) / (1 << 20)


def stats_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%f").timestamp()


fetch = stats["fetches"][-1]
marks = {"start": start, "exit": end}
for key, label in [("download_start_time", "download start"), ("download_end_time", "download end"),
                   ("extract_start_time", "checks done"), ("unpack_start_time", "unpack start"),
                   ("unpack_end_time", "unpack end"), ("package_ready_time", "package ready")]:
    marks[label] = stats_time(fetch[key]["time"])

# The lines of the package's own installer (the one that installs), as they reached the log.
inside = False
for line in open(times_file, encoding="utf-8"):
    stamp, _, text = line.rstrip("\n").split("\t", 2)
    text = text.split("] ", 1)[-1]
    if text.startswith("Inside package"):
        inside = text.endswith("1")
        if inside:
            marks.setdefault("package's installer started", float(stamp))
    if not inside:
        continue
    for prefix, label in [("Reading files list", "copy start"), ("Done copying files", "copy end"),
                          ("Installing shortcuts", "shortcuts start"), ("Writing installer prefs", "finalize start"),
                          ("Installation succeeded", "installation succeeded")]:
        if text.startswith(prefix):
            marks.setdefault(label, float(stamp))


def spent(a, b):
    if a not in marks or b not in marks:
        sys.exit("no time for %s or %s in the statistics or the log" % (a, b))
    return marks[b] - marks[a]


def against(what, ours, reference, theirs):
    print("%s: %.3f s | %s: %.3f s | ratio %.2fx" % (what, ours, reference, theirs, theirs / ours))


download = spent("download start", "download end")
verify = spent("download end", "checks done")
extraction = spent("checks done", "unpack start")
unpack = spent("unpack start", "unpack end")
copy = spent("copy start", "copy end")
print("where the time went (ms):")
for name, a, b in [("start-up to download", "start", "download start"), ("download", "download start", "download end"),
                   ("verify (checksum, signer, version)", "download end", "checks done"),
                   ("payload extraction", "checks done", "unpack start"), ("unpack", "unpack start", "unpack end"),
                   ("package ready", "unpack end", "package ready"),
                   ("handover to the package's installer", "package ready", "package's installer started"),
                   ("installer start to copy", "package's installer started", "copy start"),
                   ("install: copy of the files", "copy start", "copy end"),
                   ("install: launcher and registry", "copy end", "shortcuts start"),
                   ("install: shortcuts", "shortcuts start", "finalize start"),
                   ("install: finalize", "finalize start", "installation succeeded"),
                   ("exit after success", "installation succeeded", "exit")]:
    print("  %-40s %9.0f" % (name, 1000 * spent(a, b)))
against("download of %.0f MiB" % size_mib, download, "bare WinINet loop, 64 KiB per read, same server and address",
        bare["download"])
against("verify (checksum, signer, version)", verify, "bare SHA-256 of the file", bare["sha256"])
against("payload extraction and unpack", extraction + unpack, "7z decoder alone + bare CreateFileW/WriteFile",
        bare["decode"] + bare["write"])
against("copy of the files", copy, "bare CreateDirectoryW/CopyFileW loop over the same tree", bare["copy"])
print("launcher and registry: %.3f s, shortcuts: %.3f s, finalize: %.3f s (no reference)" %
      (spent("copy end", "shortcuts start"), spent("shortcuts start", "finalize start"),
       spent("finalize start", "installation succeeded")))
print("idle: package ready to the package's installer %.3f s" % spent("package ready", "package's installer started"))
against("\"Installation succeeded\" to exit (the unpacked package removed)", spent("installation succeeded", "exit"),
        "bare deletion of the same unpacked tree", bare["delete"])
references = sum(bare[name] for name in ("download", "sha256", "decode", "write", "copy"))
against("silent network install, %d files, start to exit (wine)" % len(names), end - start,
        "sum of the bare references (wine)", references)
against("silent network install, start to exit (wine)", end - start,
        "curl + sha256sum + 7zz x -mmt1 + cp -r (Linux)", linux)
