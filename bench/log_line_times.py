#!/usr/bin/env python3
"""Stamps every line that the installer's processes append to their logs with the wall time (seconds since the
epoch, microseconds) at which it reached the file, as seen from Linux through inotify: the logs themselves carry
only whole seconds. Nothing of the product is changed or slowed but for one read per write.

Usage: log_line_times.py TEMP_FOLDER READY_FILE OUTPUT
Watches TEMP_FOLDER, and each folder made in it, for files ending in ".log"; writes READY_FILE once the watch
stands, and on SIGTERM (or SIGINT) reads what is left and writes OUTPUT: one line per log line,
"<time>\t<file name>\t<text>"."""
import ctypes
import ctypes.util
import os
import select
import signal
import struct
import sys
import time

IN_MODIFY, IN_CLOSE_WRITE, IN_CREATE, IN_MOVED_TO, IN_ISDIR = 0x2, 0x8, 0x100, 0x80, 0x40000000
EVENT = struct.Struct("iIII")

folder, ready_file, output = sys.argv[1:4]
libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
descriptor = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
if descriptor < 0:
    sys.exit("inotify_init1: %s" % os.strerror(ctypes.get_errno()))
watched = {}  # watch descriptor -> folder


def watch(path, events):
    handle = libc.inotify_add_watch(descriptor, path.encode(), events)
    if handle >= 0:
        watched[handle] = path


# A log's folder is made by its first writer, so folders made in the watched one are watched as they come.
watch(folder, IN_CREATE | IN_MOVED_TO)
for name in os.listdir(folder):
    if os.path.isdir(os.path.join(folder, name)):
        watch(os.path.join(folder, name), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE)
stopping = []
for number in (signal.SIGTERM, signal.SIGINT):
    signal.signal(number, lambda *_: stopping.append(True))
with open(ready_file + ".tmp", "w") as f:
    f.write("ready\n")
os.replace(ready_file + ".tmp", ready_file)

offsets, partial, lines = {}, {}, []


def take(path, stamp):
    """Reads what `path` gained since the last read; whole lines get `stamp`."""
    try:
        with open(path, "rb") as f:
            f.seek(offsets.get(path, 0))
            data = f.read()
    except OSError:
        return
    offsets[path] = offsets.get(path, 0) + len(data)
    text = partial.get(path, b"") + data
    *whole, partial[path] = text.split(b"\n")
    for line in whole:
        lines.append((stamp, os.path.basename(path), line.rstrip(b"\r").decode("utf-8", "replace")))


while not stopping:
    try:
        readable, _, _ = select.select([descriptor], [], [], 0.5)
    except InterruptedError:
        continue
    if not readable:
        continue
    stamp = time.time()
    try:
        data = os.read(descriptor, 1 << 16)
    except BlockingIOError:
        continue
    offset = 0
    while offset < len(data):
        handle, mask, _, length = EVENT.unpack_from(data, offset)
        name = data[offset + EVENT.size:offset + EVENT.size + length].rstrip(b"\0").decode("utf-8", "replace")
        offset += EVENT.size + length
        path = os.path.join(watched.get(handle, ""), name)
        if mask & IN_ISDIR:
            if handle in watched and watched[handle] == folder:
                watch(path, IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE)
        elif name.endswith(".log"):
            take(path, stamp)

stamp = time.time()
for path in list(offsets):
    take(path, stamp)
with open(output, "w", encoding="utf-8") as f:
    for stamp, name, text in lines:
        f.write("%.6f\t%s\t%s\n" % (stamp, name, text))
