"""Expected results for the histogram tests, computed independently of the code under test.

ranges.txt: one boundary table per line, "kind minimum maximum buckets : boundaries... : checksum", where the
checksum is the CRC-32 of IEEE 802.3 over the little-endian boundaries, started with the number of boundaries
and not inverted. zlib.crc32 inverts before and after, so the raw register is ~crc32(data, ~start).
"""
import hashlib
import math
import random
import struct
import sys
import zlib

INT_MAX = 0x7fffffff


def raw_crc(boundaries):
    data = struct.pack('<%di' % len(boundaries), *boundaries)
    start = len(boundaries)
    return (~zlib.crc32(data, (~start) & 0xffffffff)) & 0xffffffff


def exponential(minimum, maximum, buckets):
    ranges = [0] * (buckets + 1)
    ranges[1] = minimum
    current = minimum
    log_max = math.log(maximum)
    for i in range(2, buckets):
        log_current = math.log(current)
        log_target = log_current + (log_max - log_current) / (buckets - i)
        candidate = int(math.floor(math.exp(log_target) + 0.5))
        current = candidate if candidate > current else current + 1
        ranges[i] = current
    ranges[buckets] = INT_MAX
    return ranges


def linear(minimum, maximum, buckets):
    ranges = [0] * (buckets + 1)
    for i in range(1, buckets):
        ranges[i] = int(((buckets - 1 - i) * minimum + (i - 1) * maximum) / float(buckets - 2) + 0.5)
    ranges[buckets] = INT_MAX
    return ranges


def clamp(minimum, maximum, buckets):
    """The factories' argument clamps; buckets is taken as an unsigned 32-bit number."""
    minimum = max(minimum, 1)
    if maximum == INT_MAX:
        maximum = INT_MAX - 1
    if (buckets & 0xffffffff) > 16383:
        buckets = 16383
    return minimum, maximum, buckets


def write_ranges(path):
    lines = []
    exponential_cases = [(1, 100, 10), (1, 10000, 50), (1, 1000000, 50), (1, 10000, 50), (0, INT_MAX, 20000),
                         (5, 6, 4), (1, 2, 3), (1, 30, 31), (1, 10000, 100), (10, 100000, 7)]
    for minimum, maximum, buckets in exponential_cases:
        m, mx, n = clamp(minimum, maximum, buckets)
        table = exponential(m, mx, n)
        lines.append(('exponential', minimum, maximum, buckets, table))
    linear_cases = [(1, 3, 4), (1, 6, 7), (1, 10, 11), (1, 2, 3), (1, 1099, 1100), (0, 100, 20), (3, 1000, 9),
                    (1, INT_MAX, 16384)]
    for minimum, maximum, buckets in linear_cases:
        m, mx, n = clamp(minimum, maximum, buckets)
        lines.append(('linear', minimum, maximum, buckets, linear(m, mx, n)))
    rng = random.Random(20240607)
    for _ in range(20):
        n = rng.randint(1, 40)
        values = sorted(rng.sample(range(0, INT_MAX), n))
        lines.append(('custom', 0, 0, n, values))
    with open(path, 'w') as out:
        for kind, minimum, maximum, buckets, table in lines:
            out.write('%s %d %d %d : %s : %u\n' % (kind, minimum, maximum, buckets, ' '.join(map(str, table)),
                                                   raw_crc(table)))


def write_metric_hashes(path):
    """name_hashes.txt: "hash name" per line, the hash being the first 8 MD5 bytes read big-endian."""
    names = ['', 'Brumel.MessageLoopProblem', 'PlatformFile.UnknownErrors.Windows', 'Histogram.InconsistentCountHigh',
             'UMA.CreatePersistentHistogram.Result', 'Gr\u00fc\u00dfe.\u65e5\u672c']
    with open(path, 'w', encoding='utf-8') as out:
        for name in names:
            digest = hashlib.md5(name.encode('utf-8')).digest()
            out.write('%016x %s\n' % (int.from_bytes(digest[:8], 'big'), name))


def main():
    directory = sys.argv[1]
    write_ranges(directory + '/ranges.txt')
    write_metric_hashes(directory + '/name_hashes.txt')


if __name__ == '__main__':
    main()
