#!/usr/bin/env python3
"""Prints the sections of a wine registry file (user.reg, system.reg) whose key starts with a prefix, without
the times wine stamps on them, so that two states of the same keys compare as text.
Usage: registry_sections.py FILE KEY_PREFIX"""
import re
import sys

path, prefix = sys.argv[1], sys.argv[2]
# The file writes each backslash of a key name doubled.
header = "[" + prefix.replace("\\", "\\\\")
keep = False
for line in open(path, encoding="utf-8", errors="surrogateescape").read().splitlines():
    if line.startswith("["):
        keep = line.startswith(header + "]") or line.startswith(header + "\\\\")
        if keep:
            # "[key] 1796662794": the modification time in seconds follows the name.
            print(re.sub(r"\] \d+$", "]", line))
    elif keep and not line.startswith("#time="):
        print(line)
