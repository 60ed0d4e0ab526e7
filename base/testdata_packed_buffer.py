import struct, sys
data = open(sys.argv[1], "rb").read()
size, = struct.unpack_from("<I", data, 0)
assert size == len(data) - 4 and size % 4 == 0, (size, len(data))
pos = 4
def take(n):
    global pos
    chunk = data[pos:pos + n]
    assert len(chunk) == n
    pos += n + (-n % 4)
    assert all(b == 0 for b in data[pos - (-n % 4):pos]), "padding must be zero"
    return chunk
assert struct.unpack("<i", take(4))[0] == -123456789
assert struct.unpack("<q", take(8))[0] == 0x0123456789ABCDEF
n, = struct.unpack("<i", take(4)); assert take(n).decode() == "h\u00e9llo"
n, = struct.unpack("<i", take(4)); assert take(2 * n).decode("utf-16-le") == "h\u00e9llo \U0001F600"
assert struct.unpack("<i", take(4))[0] == 1
assert take(4) == b"tail"
assert pos == len(data)
print("packed buffer record verified")
