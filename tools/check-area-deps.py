#!/usr/bin/env python3
"""Fails when a product source includes a header of an area its area.cmake does not declare.

Areas are the folders CMakeLists.txt passes to zorvi_area() (with the subfolders that group their files); each
declares the areas it may include with
zorvi_area_depends() in its area.cmake. A header belongs to the nearest area folder above it. Tests
(*_unittest.cc, *_test_util.*, *_test_child.cc, *_test_dll.cc) may include any area: they are checked by
running, not by layering. An area under desktop/ never declares an area that declares it back, directly or
through others: each such cycle is printed and fails. Usage: check-area-deps.py SOURCE_ROOT [STAMP_FILE]
"""
import glob
import os
import re
import sys

TEST_FILE = re.compile(r"_(unittest|test_util|test_child|test_dll)\.(cc|h)$")


def desktop_cycles(areas, declared):
    """The cycles of declarations through areas under desktop/, each once, starting at its first area in order."""
    desktop = [area for area in areas if area.startswith("desktop/")]
    cycles = []
    for start in desktop:
        # Paths from `start` through areas after it in order, so that each cycle is found from its first area only.
        allowed = set(desktop[desktop.index(start):])
        stack = [(start, [start])]
        while stack:
            area, path = stack.pop()
            for dep in sorted(declared[area], reverse=True):
                if dep == start:
                    cycles.append(path + [start])
                elif dep in allowed and dep not in path:
                    stack.append((dep, path + [dep]))
    return cycles


def main():
    root = sys.argv[1]
    calls = [call.split() for call in
             re.findall(r"^zorvi_area\(([^)]+)\)", open(os.path.join(root, "CMakeLists.txt")).read(), re.M)]
    areas = [call[0] for call in calls]
    folders = {call[0]: [call[0]] + [call[0] + "/" + sub for sub in call[1:]] for call in calls}

    def area_of(path):
        folder = os.path.dirname(path)
        while folder and folder not in areas:
            folder = os.path.dirname(folder)
        return folder or None

    declared = {}
    for area in areas:
        cmake = os.path.join(root, area, "area.cmake")
        text = open(cmake).read() if os.path.exists(cmake) else ""
        declared[area] = set(" ".join(re.findall(r"zorvi_area_depends\(([^)]*)\)", text)).split())
        for unknown in sorted(declared[area] - set(areas)):
            print("%s/area.cmake declares %s, which is no area" % (area, unknown))
            return 1

    faults = []
    for area in areas:
        paths = []
        for folder in folders[area]:
            paths += glob.glob(os.path.join(root, folder, "*.[ch]")) + glob.glob(os.path.join(root, folder, "*.cc"))
        for path in sorted(paths):
            if TEST_FILE.search(os.path.basename(path)):
                continue
            text = open(path, encoding="utf-8", errors="replace").read()
            for header in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, re.M):
                target = area_of(header)
                if target and target != area and target not in declared[area]:
                    faults.append("%s includes %s of area %s, which %s/area.cmake does not declare"
                                  % (os.path.relpath(path, root), header, target, area))
    faults += ["declaration cycle: " + " -> ".join(cycle) for cycle in desktop_cycles(areas, declared)]
    for fault in faults:
        print(fault)
    if faults:
        return 1
    if len(sys.argv) > 2:
        open(sys.argv[2], "w").write("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
