#!/usr/bin/env python3
"""An outside model of what the product's JSON reader accepts, built on Python's strict json module.

Python's json module is the strict core. On top of it this model applies only the reader's documented
leniencies and strictnesses, each as a separate, visible step:
  leniencies:    a UTF-8 byte-order mark; comments ("//" to the line end, "/* */", an open one runs to the end);
                 one stray byte after the root (after a number root only one of } ] ,); raw control characters
                 in strings; the escapes \\v and \\xHH; the last of repeated keys wins (as in Python).
  strictnesses:  no surrogates in strings; at most 99 nested containers; numbers outside
                 the double range (including underflow to zero) fail; NaN and Infinity are not numbers.
Integers that fit 32 signed bits are integers; every other number is a double.

Usage: lenient_json_model.py expectations OUT_FILE CASE_FILE...   writes one record per case (see below)
       lenient_json_model.py check-writer EXPECTATIONS WRITER_OUTPUT
       lenient_json_model.py check-strings STRINGS_FILE
       lenient_json_model.py check-doubles DOUBLES_FILE
"""
import json
import math
import os
import re
import struct
import sys

INT_MIN, INT_MAX = -2**31, 2**31 - 1
MAX_DEPTH = 99
WHITESPACE = b" \t\r\n"


class Rejected(Exception):
    pass


def strip_comments(data):
    """Replaces every comment outside strings with one space (so tokens on both sides stay apart)."""
    out = bytearray()
    i, n, in_string, used = 0, len(data), False, False
    while i < n:
        c = data[i:i + 1]
        if in_string:
            out += c
            if c == b"\\" and i + 1 < n:
                out += data[i + 1:i + 2]
                i += 2
                continue
            if c == b'"':
                in_string = False
            i += 1
        elif c == b'"':
            in_string = True
            out += c
            i += 1
        elif data[i:i + 2] == b"//":
            used = True
            j = i + 2
            while j < n and data[j:j + 1] not in (b"\r", b"\n"):
                j += 1
            out += b" "
            i = j
        elif data[i:i + 2] == b"/*":
            used = True
            j = data.find(b"*/", i + 2)
            out += b" "
            i = n if j < 0 else j + 2
        else:
            out += c
            i += 1
    return bytes(out), used


def rewrite_escapes(data):
    """Turns the reader's extra escapes \\v and \\xHH into standard \\u escapes, inside strings only."""
    out = bytearray()
    i, n, in_string, used = 0, len(data), False, False
    while i < n:
        c = data[i:i + 1]
        if not in_string:
            in_string = c == b'"'
            out += c
            i += 1
            continue
        if c == b'"':
            in_string = False
            out += c
            i += 1
        elif c == b"\\" and i + 1 < n:
            letter = data[i + 1:i + 2]
            if letter == b"v":
                out += b"\\u000b"
                used = True
                i += 2
            elif letter == b"x" and re.fullmatch(rb"[0-9A-Fa-f]{2}", data[i + 2:i + 4]):
                out += b"\\u00" + data[i + 2:i + 4]
                used = True
                i += 4
            else:
                out += data[i:i + 2]
                i += 2
        else:
            out += c
            i += 1
    return bytes(out), used


def make_number(text):
    if re.fullmatch(r"-?\d+", text):
        value = int(text)
        if INT_MIN <= value <= INT_MAX:
            return value
    value = float(text)
    if math.isinf(value):
        raise Rejected("number above the double range")
    if value == 0 and re.search(r"[1-9]", text.split("e")[0].split("E")[0]):
        raise Rejected("number below the double range")
    return value


def reject_constant(name):
    raise Rejected("not a JSON number: " + name)


def is_surrogate(ch):
    return 0xD800 <= ord(ch) <= 0xDFFF


def check_tree(value, depth=0):
    if isinstance(value, (dict, list)):
        if depth + 1 > MAX_DEPTH:
            raise Rejected("more than 99 nested containers")
        items = value.items() if isinstance(value, dict) else ((None, v) for v in value)
        for key, child in items:
            if key is not None and any(is_surrogate(ch) for ch in key):
                raise Rejected("surrogate in a key")
            check_tree(child, depth + 1)
    elif isinstance(value, str) and any(is_surrogate(ch) for ch in value):
        raise Rejected("surrogate in a string")


def loads(data, strict):
    text = data.decode("utf-8")  # strict decoding: ill-formed UTF-8 is rejected
    return json.loads(text, strict=strict, parse_int=make_number, parse_float=make_number,
                      parse_constant=reject_constant)


def strict_python_accepts(data):
    try:
        json.loads(data.decode("utf-8"), parse_constant=reject_constant)
        return True
    except (ValueError, RecursionError, Rejected):
        return False


def model(data):
    """Returns (value, leniencies used) or raises Rejected."""
    used = []
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
        used.append("byte-order mark")
    data, comments = strip_comments(data)
    if comments:
        used.append("comments")
    data, escapes = rewrite_escapes(data)
    if escapes:
        used.append("\\v or \\x escape")
    trimmed = data.rstrip(WHITESPACE)
    candidates = [(trimmed, None)]
    if trimmed:
        candidates.append((trimmed[:-1], trimmed[-1:]))
    last_error = "no value"
    for text, stray in candidates:
        for strict in (True, False):
            try:
                value = loads(text, strict)
            except (ValueError, RecursionError) as error:  # json.JSONDecodeError and UnicodeDecodeError included
                last_error = "not JSON: %s" % str(error).split(":")[0]
                continue
            except Rejected as error:
                raise Rejected(str(error))
            extra = []
            if not strict:
                extra.append("raw control character in a string")
            if stray is not None:
                # After a number only a byte that may end a number is acceptable.
                if isinstance(value, (int, float)) and not isinstance(value, bool) and stray not in b"}],":
                    raise Rejected("number followed by " + repr(stray))
                extra.append("one stray byte after the root")
            check_tree(value)
            return value, used + extra
    raise Rejected(last_error)


def encode(value, out):
    if value is None:
        out.append("N")
    elif value is True:
        out.append("T")
    elif value is False:
        out.append("F")
    elif isinstance(value, int):
        out.append("I %d" % value)
    elif isinstance(value, float):
        out.append("D %016x" % struct.unpack("<Q", struct.pack("<d", value))[0])
    elif isinstance(value, str):
        out.append("S " + value.encode("utf-8").hex())
    elif isinstance(value, list):
        out.append("A %d" % len(value))
        for child in value:
            encode(child, out)
    else:
        out.append("O %d" % len(value))
        for key, child in value.items():
            out.append("K " + key.encode("utf-8").hex())
            encode(child, out)


def write_expectations(out_path, case_paths):
    sys.setrecursionlimit(10000)
    lines = []
    for path in sorted(case_paths):
        data = open(path, "rb").read()
        name = os.path.basename(path)
        strict = "strict-accepts" if strict_python_accepts(data) else "strict-rejects"
        try:
            value, used = model(data)
        except Rejected as error:
            lines.append("case\t%s\treject\t%s\t%s" % (name, strict, error))
        else:
            lines.append("case\t%s\taccept\t%s\t%s" % (name, strict, ", ".join(used) or "-"))
            encode(value, lines)
        lines.append("end")
    open(out_path, "w").write("\n".join(lines) + "\n")


def read_expectations(path):
    """name -> the model's value, for the accepted cases."""
    sys.setrecursionlimit(10000)
    lines = open(path).read().split("\n")
    values, i = {}, 0

    def parse(i):
        kind, _, rest = lines[i].partition(" ")
        if kind == "N": return None, i + 1
        if kind == "T": return True, i + 1
        if kind == "F": return False, i + 1
        if kind == "I": return int(rest), i + 1
        if kind == "D": return struct.unpack("<d", struct.pack("<Q", int(rest, 16)))[0], i + 1
        if kind == "S": return bytes.fromhex(rest).decode("utf-8"), i + 1
        if kind == "A":
            items, i = [], i + 1
            for _ in range(int(rest)):
                item, i = parse(i)
                items.append(item)
            return items, i
        if kind == "O":
            members, i = {}, i + 1
            for _ in range(int(rest)):
                key = bytes.fromhex(lines[i].partition(" ")[2]).decode("utf-8")
                members[key], i = parse(i + 1)
            return members, i
        raise ValueError("bad line %r" % lines[i])

    while i < len(lines) and lines[i]:
        fields = lines[i].split("\t")
        i += 1
        if fields[2] == "accept":
            values[fields[1]], i = parse(i)
        assert lines[i] == "end", lines[i]
        i += 1
    return values


def same(a, b):
    """Equality that tells ints from floats and compares floats by their bits."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(sorted(a)) == list(sorted(b)) and all(same(a[k], b[k]) for k in a)
    return a == b


def keys_in_byte_order(text):
    """True when every object in the JSON text lists its keys in byte order of their UTF-8 form."""
    ok = True

    def hook(pairs):
        nonlocal ok
        keys = [k.encode("utf-8") for k, _ in pairs]
        ok = ok and keys == sorted(keys)
        return dict(pairs)
    json.loads(text, object_pairs_hook=hook)
    return ok


def check_writer(expectations_path, output_path):
    expected = read_expectations(expectations_path)
    checked = 0
    for line in open(output_path, "rb").read().decode("utf-8").split("\n"):
        if not line:
            continue
        name, _, text = line.partition("\t")
        value = json.loads(text)  # strict: raw control characters would fail here
        if not same(value, expected[name]):
            sys.exit("writer output of %s reads back differently: %s" % (name, text[:200]))
        if not keys_in_byte_order(text):
            sys.exit("writer output of %s has keys out of byte order" % name)
        checked += 1
    if checked < len(expected):
        sys.exit("writer output covers %d of %d accepted cases" % (checked, len(expected)))
    print("writer: %d outputs read back by Python's json" % checked)


def check_strings(path):
    checked = 0
    for line in open(path, "rb").read().split(b"\n"):
        if not line:
            continue
        raw_hex, _, escaped = line.partition(b"\t")
        raw = bytes.fromhex(raw_hex.decode()).decode("utf-8")
        text = escaped.decode("utf-8")
        for forbidden in ["<", "\u2028", "\u2029"] + [chr(c) for c in range(0x20)]:
            if forbidden in text:
                sys.exit("escaped text holds %r raw: %r" % (forbidden, text))
        if json.loads(text) != raw:
            sys.exit("escaped %r reads back as %r" % (text, json.loads(text)))
        checked += 1
    print("escaping: %d strings read back by Python's json" % checked)


def check_doubles(path):
    checked = 0
    for line in open(path).read().split("\n"):
        if not line:
            continue
        bits_hex, text = line.split("\t")
        value = struct.unpack("<d", struct.pack("<Q", int(bits_hex, 16)))[0]
        read = json.loads(text)
        if not isinstance(read, float) or struct.pack("<d", read) != struct.pack("<d", value):
            sys.exit("%s does not read back as %r" % (text, value))
        # Same significant digits as Python's shortest repr.
        def digits(t):
            mantissa = t.lower().split("e")[0].lstrip("-").replace(".", "").lstrip("0").rstrip("0")
            return mantissa or "0"
        if digits(text) != digits(repr(value)):
            sys.exit("%s is not the shortest text of %r" % (text, value))
        checked += 1
    print("doubles: %d written texts are Python's shortest round trip" % checked)


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "expectations":
        write_expectations(sys.argv[2], sys.argv[3:])
    elif command == "check-writer":
        check_writer(sys.argv[2], sys.argv[3])
    elif command == "check-strings":
        check_strings(sys.argv[2])
    elif command == "check-doubles":
        check_doubles(sys.argv[2])
    else:
        sys.exit(__doc__)
