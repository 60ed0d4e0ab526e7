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


def clamp(minimum, maximum, buckets, kind='exponential'):
    """The factories' argument clamps; buckets is taken as an unsigned 32-bit number. Only where the spacing
    would divide by zero (linear tables of fewer than 3 buckets) or the count would mean caller-given
    boundaries (0) does the count become 3."""
    minimum = max(minimum, 1)
    if maximum == INT_MAX:
        maximum = INT_MAX - 1
    if (buckets & 0xffffffff) > 16383:
        buckets = 16383
    if buckets == 0 or (kind == 'linear' and buckets < 3):
        buckets = 3
    return minimum, maximum, buckets


def write_ranges(path):
    lines = []
    exponential_cases = [(1, 100, 10), (1, 10000, 50), (1, 1000000, 50), (1, 10000, 50), (0, INT_MAX, 20000),
                         (5, 6, 4), (1, 2, 3), (1, 30, 31), (1, 10000, 100), (10, 100000, 7), (1, 100, 2),
                         (1, 100, 1), (1, 50, 0)]
    for minimum, maximum, buckets in exponential_cases:
        m, mx, n = clamp(minimum, maximum, buckets)
        table = exponential(m, mx, n)
        lines.append(('exponential', minimum, maximum, buckets, table))
    linear_cases = [(1, 3, 4), (1, 6, 7), (1, 10, 11), (1, 2, 3), (1, 1099, 1100), (0, 100, 20), (3, 1000, 9),
                    (1, INT_MAX, 16384), (1, 2, 2), (4, 9, 0)]
    for minimum, maximum, buckets in linear_cases:
        m, mx, n = clamp(minimum, maximum, buckets, 'linear')
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


# Text graphs. Each case: kind, name, minimum, maximum, bucket count, flags, samples {value: count},
# descriptions {value: text} (linear kinds) and custom boundaries (custom kind).
GRAPH_CASES = [
    ('linear', 'Graph.LinearSmall', 1, 6, 7, 0x1, {0: 1, 1: 3, 2: 5, 4: 2, 6: 1, 100: 4, -7: 2}, {}, []),
    ('exponential', 'Graph.ExponentialRuns', 1, 1000, 12, 0x1, {1: 2, 500: 1, 0x7fffffff: 1}, {}, []),
    ('linear', 'Graph.Hex', 1, 10, 5, 0x8001, {0: 1, 5: 2, 9: 1, 4000: 3}, {}, []),
    ('exponential', 'Graph.Empty', 1, 100, 10, 0, {}, {}, []),
    ('linear', 'MsgLoop:Graph', 1, 3, 4, 0x8000, {1: 4, 0: 1, 3: 2}, {1: 'kTaskRunEvent', 2: 'kTimerEvent'}, []),
    ('exponential', 'Graph.Average', 1, 10000, 50, 0x21 & ~0x20, {9999: 3, 1: 7, 37: 11}, {}, []),
    ('custom', 'Graph.Custom', 0, 0, 0, 0, {1: 1, 7: 2, 50: 3, 200: 1}, {}, [100, 5, 10, 10, 0, -3]),
    ('boolean', 'Graph.Boolean', 1, 2, 3, 0x1, {0: 3, 1: 1}, {}, []),
    ('sparse', 'Graph.Sparse', 0, 0, 0, 0x1, {-5: 1, 3: 2, 1000: 7, 42: 0}, {}, []),
    ('sparse', 'Graph.SparseHex', 0, 0, 0, 0x8000, {0: 1, 255: 3, -1: 2}, {}, []),
    ('sparse', 'Graph.SparseEmpty', 0, 0, 0, 0, {}, {}, []),
]

SAMPLE_MAX = INT_MAX - 1


def f32(value):
    return struct.unpack('<f', struct.pack('<f', value))[0]


def c_hex(value):
    # C's "%#x": no prefix for zero.
    value &= 0xffffffff
    return '0' if value == 0 else '%#x' % value


def label_of(value, flags):
    return c_hex(value) if flags & 0x8000 else '%d' % value


def bar(size, max_size):
    x = int(size / max_size * 72 + 0.5) if max_size > 0 else 0
    x = min(max(x, 0), 72)
    return '-' * x + 'O' + ' ' * (72 - x)


def header(name, total, value_sum, flags, with_average):
    text = 'Histogram: %s recorded %d samples' % (name, total)
    if with_average and total:
        text += ', average = %.1f' % f32(f32(float(value_sum)) / f32(float(total)))
    if flags & ~0x8000:
        text += ' (flags = 0x%x)' % (flags & ~0x8000)
    return text


def table_of(kind, minimum, maximum, buckets, custom):
    if kind == 'custom':
        return [0] + sorted(set(v for v in custom if 1 <= v <= SAMPLE_MAX)) + [INT_MAX]
    if kind == 'boolean':
        return linear(1, 2, 3)
    m, mx, n = clamp(minimum, maximum, buckets, kind)
    return exponential(m, mx, n) if kind == 'exponential' else linear(m, mx, n)


def bucketed_graph(kind, name, minimum, maximum, buckets, flags, samples, descriptions, custom, newline):
    ranges = table_of(kind, minimum, maximum, buckets, custom)
    n = len(ranges) - 1
    counts = [0] * n
    value_sum = 0
    for value, count in samples.items():
        if count <= 0:
            continue
        value = min(max(value, 0), SAMPLE_MAX)
        index = max(i for i in range(n) if ranges[i] <= value)
        counts[index] += count
        value_sum += value * count
    total = sum(counts)
    linear_kind = kind in ('linear', 'boolean')

    def size(count, i):
        if kind == 'custom':
            return 1.0
        width = float(ranges[i + 1] - ranges[i])
        return count / width if linear_kind else count / min(width, 5.0)

    def label(i):
        if linear_kind and ranges[i] in descriptions:
            return descriptions[ranges[i]]
        return label_of(ranges[i], flags)

    def print_empty(i):
        return not (linear_kind and ranges[i] in descriptions)

    out = header(name, total, value_sum, flags, True) + newline
    max_size = max([0.0] + [size(counts[i], i) for i in range(n)])
    print_width = max([1] + [len(label(i)) + 1 for i in range(n) if counts[i]])
    remaining = total
    past = 0
    i = 0
    while i < n:
        current = counts[i]
        if current == 0 and not print_empty(i):
            i += 1
            continue
        remaining -= current
        text = label(i)
        out += text + ' ' * max(0, print_width + 1 - len(text))
        if current == 0 and i < n - 1 and counts[i + 1] == 0:
            while i < n - 1 and counts[i + 1] == 0:
                i += 1
            out += '... ' + newline
            i += 1
            continue
        out += bar(size(current, i), max_size)
        scaled_sum = (past + current + remaining) / 100.0
        out += ' (%d = %3.1f%%)' % (current, current / scaled_sum)
        if i > 0:
            out += ' {%3.1f%%}' % (past / scaled_sum)
        out += newline
        past += current
        i += 1
    return out


def sparse_graph(name, flags, samples, newline):
    values = sorted(v for v, c in samples.items() if c > 0)
    total = sum(samples[v] for v in values)
    out = header(name, total, 0, flags, False) + newline
    if not values:
        return out
    largest_count = max(samples[v] for v in values)
    print_width = len(label_of(max(values), flags)) + 1
    for value in values:
        count = samples[value]
        text = label_of(value, flags)
        out += text + ' ' * max(0, print_width + 1 - len(text))
        out += bar(count, largest_count)
        out += ' (%d = %3.1f%%)' % (count, count / (total / 100.0))
        out += newline
    return out


def graph(case, newline):
    kind, name, minimum, maximum, buckets, flags, samples, descriptions, custom = case
    if kind == 'sparse':
        return sparse_graph(name, flags, samples, newline)
    return bucketed_graph(kind, name, minimum, maximum, buckets, flags, samples, descriptions, custom, newline)


def write_graphs(path):
    """graphs.txt, one block per case:
    case KIND NAME MIN MAX BUCKETS FLAGS / samples V:C... / describe V=TEXT... / custom R... /
    ascii LINE-COUNT, then the lines / html TEXT."""
    with open(path, 'w') as out:
        for case in GRAPH_CASES:
            kind, name, minimum, maximum, buckets, flags, samples, descriptions, custom = case
            out.write('case %s %s %d %d %d %d\n' % (kind, name, minimum, maximum, buckets, flags))
            out.write('samples %s\n' % ' '.join('%d:%d' % item for item in samples.items()))
            out.write('describe %s\n' % ' '.join('%d=%s' % item for item in descriptions.items()))
            out.write('custom %s\n' % ' '.join(map(str, custom)))
            lines = graph(case, '\n').split('\n')[:-1]
            out.write('ascii %d\n' % len(lines))
            for line in lines:
                out.write(line + '\n')
            out.write('html %s\n' % ('<PRE>' + graph(case, '<br>') + '</PRE>'))


# Two processes share one segment (persistent_histogram_allocator_unittest.cc and its child): the histograms,
# and what each process adds to them. "Child." histograms are made by the child alone.
WORKLOAD = [
    ('exponential', 'Shared.Exponential', 1, 1000, 20, [],
     {0: 50000, 5: 300000, 999: 100000, 50000: 20000}, {5: 250000, 1: 150000, 700: 80000}),
    ('linear', 'Shared.Linear', 1, 10, 11, [], {3: 400000, 10: 10000}, {3: 300000, 11: 1000, -1: 500}),
    ('boolean', 'Shared.Boolean', 1, 2, 3, [], {0: 10000, 1: 20000}, {1: 5000}),
    ('custom', 'Shared.Custom', 0, 0, 0, [5, 10, 100], {7: 30000}, {50: 40000, 7: 10000}),
    ('sparse', 'Shared.Sparse', 0, 0, 0, [], {-3: 100000, 1392: 70000, 5: 10000}, {-3: 90000, 80: 60000, 5: 5000}),
    ('exponential', 'Child.Exponential', 1, 100, 10, [], {}, {20: 1234}),
    ('sparse', 'Child.Sparse', 0, 0, 0, [], {}, {7: 77, -7: 7}),
]


def write_workload(path):
    """workload.txt: per histogram "histogram KIND NAME MIN MAX BUCKETS CUSTOM-RANGES(comma list or -)",
    then "parent V:C..." and "child V:C..."."""
    with open(path, 'w') as out:
        for kind, name, minimum, maximum, buckets, custom, parent, child in WORKLOAD:
            out.write('histogram %s %s %d %d %d %s\n' % (kind, name, minimum, maximum, buckets,
                                                          ','.join(map(str, custom)) or '-'))
            out.write('parent %s\n' % ' '.join('%d:%d' % item for item in parent.items()))
            out.write('child %s\n' % ' '.join('%d:%d' % item for item in child.items()))


BLOCK_COOKIE = 0xC8799269
WASTED_COOKIE = 0xFFFFFFFF
TYPE_HISTOGRAM = 0xF1645912
TYPE_RANGES = 0xBCEA225B
TYPE_COUNTS = 0x53215531
TYPE_SAMPLE = 0x8FE6A6A0
HISTOGRAM_TYPES = {'exponential': 0, 'linear': 1, 'boolean': 2, 'custom': 3, 'sparse': 4}


def check_segment(path):
    """Reads the segment the two processes shared, from the documented layout alone, and checks every block
    and every histogram's counts against the workload. Returns a list of problems."""
    data = open(path, 'rb').read()
    problems = []
    u32 = lambda offset: struct.unpack_from('<I', data, offset)[0]
    size, page_size = u32(0), u32(4)
    flags, freeptr, tail = u32(28), u32(32), u32(36)
    if size != len(data):
        problems.append('creation size %d, file %d' % (size, len(data)))
    if flags & 1:
        problems.append('segment marked corrupt')

    # Every block from the first one to the free offset, in address order.
    blocks = {}
    offset = 56
    while offset < freeptr:
        block_size, cookie, type_id, next_ref = struct.unpack_from('<IIII', data, offset)
        if block_size < 16 or block_size % 8 or offset + block_size > freeptr:
            problems.append('bad block size %d at %d' % (block_size, offset))
            break
        if offset // page_size != (offset + block_size - 1) // page_size:
            problems.append('block at %d crosses a page' % offset)
        if cookie == BLOCK_COOKIE:
            blocks[offset] = (block_size, type_id, next_ref)
        elif cookie != WASTED_COOKIE:
            problems.append('bad cookie %#x at %d' % (cookie, offset))
        offset += block_size
    if offset != freeptr:
        problems.append('blocks end at %d, free offset %d' % (offset, freeptr))
    if any(data[freeptr:freeptr + 16].strip(b'\0')):
        problems.append('bytes written beyond the free offset')

    # The iterable list from its head at 40.
    listed = []
    ref = u32(40 + 12)
    while ref != 40:
        if ref not in blocks or len(listed) > len(blocks):
            problems.append('list reaches %d, no allocated block' % ref)
            break
        listed.append(ref)
        ref = blocks[ref][2]
    if listed and tail != listed[-1]:
        problems.append('tail %d, last listed %d' % (tail, listed[-1]))

    def payload(ref, length):
        return data[ref + 16:ref + 16 + length]

    records = {}
    samples = {}
    for ref in listed:
        block_size, type_id, _ = blocks[ref]
        body = payload(ref, block_size - 16)
        if type_id == TYPE_HISTOGRAM:
            name = body[80:body.index(b'\0', 80)].decode()
            if name in records and any(name == w[1] for w in WORKLOAD):
                problems.append('two histogram records named %s' % name)
            records[name] = struct.unpack_from('<iiiiIIII', body, 0) + \
                struct.unpack_from('<QqiiQqii', body, 32)
        elif type_id == TYPE_SAMPLE:
            record_id, value, count = struct.unpack_from('<Qii', body, 0)
            samples.setdefault(record_id, []).append((value, count))

    def hash_of(name):
        return int.from_bytes(hashlib.md5(name.encode()).digest()[:8], 'big')

    for kind, name, minimum, maximum, buckets, custom, parent, child in WORKLOAD:
        if name not in records:
            problems.append('no record of %s' % name)
            continue
        (htype, hflags, hmin, hmax, count_buckets, ranges_ref, checksum, counts_ref,
         sample_id, sample_sum, redundant, _, logged_id, _, _, _) = records[name]
        if htype != HISTOGRAM_TYPES[kind] or not hflags & 0x40:
            problems.append('%s: type %d flags %#x' % (name, htype, hflags))
        if sample_id != hash_of(name):
            problems.append('%s: id %#x' % (name, sample_id))
        expected = {}
        for samples_of_process in (parent, child):
            for value, count in samples_of_process.items():
                if kind != 'sparse':
                    value = min(max(value, 0), SAMPLE_MAX)
                expected[value] = expected.get(value, 0) + count
        expected_sum = sum(v * c for v, c in expected.items())
        if redundant != sum(expected.values()) or sample_sum != expected_sum:
            problems.append('%s: count %d sum %d, expected %d %d' % (name, redundant, sample_sum,
                                                                      sum(expected.values()), expected_sum))
        if kind == 'sparse':
            got = {}
            for value, count in samples.get(sample_id, []):
                got[value] = got.get(value, 0) + count
            if {v: c for v, c in got.items() if c} != expected:
                problems.append('%s: values %s, expected %s' % (name, got, expected))
            continue
        table = table_of(kind, minimum, maximum, buckets, custom)
        stored = list(struct.unpack_from('<%di' % (count_buckets + 1), payload(ranges_ref, 4 * (count_buckets + 1))))
        if stored != table or checksum != raw_crc(table) or blocks[ranges_ref][1] != TYPE_RANGES:
            problems.append('%s: boundaries %s checksum %d' % (name, stored[:8], checksum))
            continue
        counts = list(struct.unpack_from('<%di' % count_buckets, payload(counts_ref, 4 * count_buckets)))
        want = [0] * count_buckets
        for value, count in expected.items():
            want[max(i for i in range(count_buckets) if table[i] <= value)] += count
        if counts != want or blocks[counts_ref][1] != TYPE_COUNTS:
            problems.append('%s: counts %s, expected %s' % (name, counts, want))
    return problems


def main():
    if sys.argv[1] == '--check-segment':
        problems = check_segment(sys.argv[2])
        for problem in problems:
            print(problem, file=sys.stderr)
        print('segment checked: %d problems' % len(problems))
        sys.exit(1 if problems else 0)
    directory = sys.argv[1]
    write_ranges(directory + '/ranges.txt')
    write_metric_hashes(directory + '/name_hashes.txt')
    write_graphs(directory + '/graphs.txt')
    write_workload(directory + '/workload.txt')


if __name__ == '__main__':
    main()
