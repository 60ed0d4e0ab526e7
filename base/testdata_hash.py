import os, sys

M = 0xFFFFFFFF

def signed_char(b):
    return b - 256 if b >= 128 else b

def super_fast_hash(data):
    """Paul Hsieh's published SuperFastHash, computed with Python's unbounded integers masked to 32 bits."""
    length = len(data)
    if length <= 0:
        return 0
    h = length & M
    rem = length & 3
    i = 0
    for _ in range(length >> 2):
        h = (h + (data[i] | data[i + 1] << 8)) & M
        tmp = (((data[i + 2] | data[i + 3] << 8) << 11) ^ h) & M
        h = ((h << 16) & M) ^ tmp
        i += 4
        h = (h + (h >> 11)) & M
    if rem == 3:
        h = (h + (data[i] | data[i + 1] << 8)) & M
        h ^= (h << 16) & M
        h ^= (signed_char(data[i + 2]) << 18) & M
        h = (h + (h >> 11)) & M
    elif rem == 2:
        h = (h + (data[i] | data[i + 1] << 8)) & M
        h ^= (h << 11) & M
        h = (h + (h >> 17)) & M
    elif rem == 1:
        h = (h + signed_char(data[i])) & M
        h ^= (h << 10) & M
        h = (h + (h >> 1)) & M
    h ^= (h << 3) & M
    h = (h + (h >> 5)) & M
    h ^= (h << 4) & M
    h = (h + (h >> 17)) & M
    h ^= (h << 25) & M
    h = (h + (h >> 6)) & M
    return h

folder = sys.argv[1]
with open(os.path.join(folder, "SUPERFASTHASH"), "w") as out:
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".bin") or os.path.getsize(os.path.join(folder, name)) > (1 << 20) + 1:
            continue  # the larger files add nothing but time here
        with open(os.path.join(folder, name), "rb") as f:
            out.write("%08x  %s\n" % (super_fast_hash(f.read()), name))
