"""Decodes installer-message datagrams with struct and compares them with the test's list of what was sent.

Layout (little-endian): u32 payload size; i32 length + ":Installer message:" padded to 4; i32 type; then per
type: 0 i32 flag, 3 i32 steps, 5 i32 code + (i32 units + UTF-16LE, padded) + (i32 bytes + bytes, padded).
"""
import glob
import json
import os
import struct
import sys

SIGNATURE = b":Installer message:"


class Reader:
    def __init__(self, payload):
        self.payload = payload
        self.at = 0

    def take(self, size):
        if self.at + size > len(self.payload):
            raise ValueError("field past the payload's end")
        field = self.payload[self.at:self.at + size]
        padded = (size + 3) & ~3
        if any(self.payload[self.at + size:self.at + padded]):
            raise ValueError("padding bytes are not zero")
        self.at += padded
        return field

    def int(self):
        return struct.unpack("<i", self.take(4))[0]

    def bytes(self, unit=1):
        count = self.int()
        return self.take(count * unit)


def decode(datagram):
    (size,) = struct.unpack_from("<I", datagram)
    if size != len(datagram) - 4 or size % 4:
        raise ValueError("header says %d payload bytes of %d" % (size, len(datagram) - 4))
    reader = Reader(datagram[4:])
    if reader.bytes() != SIGNATURE:
        raise ValueError("no signature")
    fields = {"type": reader.int()}
    if fields["type"] == 0:
        fields["flag"] = reader.int()
    elif fields["type"] == 3:
        fields["steps"] = reader.int()
    elif fields["type"] == 5:
        fields["code"] = reader.int()
        fields["detail"] = reader.bytes(2).decode("utf-16-le")  # strict: a split surrogate pair fails
        fields["message"] = reader.bytes().decode("utf-8")     # strict: a split sequence fails
    if reader.at != len(reader.payload):
        raise ValueError("bytes after the last field")
    return fields


def main(folder):
    expected = [json.loads(line) for line in open(os.path.join(folder, "expected.jsonl"), encoding="utf-8")]
    files = sorted(glob.glob(os.path.join(folder, "*.bin")))
    failures = []
    if len(files) != len(expected):
        failures.append("%d datagrams, %d sent" % (len(files), len(expected)))
    for path, want in zip(files, expected):
        datagram = open(path, "rb").read()
        try:
            got = decode(datagram)
        except (ValueError, struct.error, UnicodeDecodeError) as error:
            failures.append("%s: %s" % (os.path.basename(path), error))
            continue
        if "max_size" in want:
            # Cut to fit: the code whole, both texts prefixes of what was sent, the datagram nearly full.
            ok = (got["code"] == want["code"] and want["detail_prefix_of"].startswith(got["detail"]) and
                  want["message_prefix_of"].startswith(got["message"]) and
                  want["max_size"] - 8 <= len(datagram) <= want["max_size"])
            if not ok:
                failures.append("%s: cut error %r (%d bytes)" % (os.path.basename(path), got["code"], len(datagram)))
        elif got != want:
            failures.append("%s: decoded %r, sent %r" % (os.path.basename(path), got, want))
        if got.get("type") == 2:
            exact = struct.pack("<Ii19sxi", 28, 19, SIGNATURE, 2)
            if datagram != exact or len(datagram) != 32:
                failures.append("folder-ready datagram %s, want %s" % (datagram.hex(), exact.hex()))
    if failures:
        sys.exit("\n".join(failures))
    print("struct: %d datagrams decode to what was sent" % len(files))


main(sys.argv[1])
