import ctypes, random, struct, sys
D = sys.argv[1]

# A little over 1 MiB of text in many scripts, encoded by Python's own codecs: the converters must reproduce
# one encoding from the other byte for byte.
rng = random.Random(1103)
ranges = [(0x20, 0x7E), (0xA0, 0x24F), (0x370, 0x3FF), (0x400, 0x4FF), (0x590, 0x5FF), (0x600, 0x6FF),
          (0x900, 0x97F), (0xE00, 0xE7F), (0x3040, 0x30FF), (0x4E00, 0x9FFF), (0xAC00, 0xD7A3),
          (0xE000, 0xF8FF), (0xFB00, 0xFFFD), (0x10000, 0x1FFFF), (0x1F300, 0x1FAFF), (0x20000, 0x2A6DF),
          (0xF0000, 0x10FFFF)]
parts, size = [], 0
while size < (1 << 20) + 4096:
    low, high = rng.choice(ranges)
    word = ''.join(chr(rng.randint(low, high)) for _ in range(rng.randint(1, 12)))
    word += rng.choice([' ', '\n', '\t', '. ', ', '])
    parts.append(word)
    size += len(word.encode('utf-8'))
text = ''.join(parts)
open(f'{D}/mixed_script.utf8', 'wb').write(text.encode('utf-8'))
open(f'{D}/mixed_script.utf16le', 'wb').write(text.encode('utf-16-le'))

# printf: glibc's snprintf and swprintf format each row; the tests compare the program's formatting with the
# result. Kinds: i int, u unsigned, ll long long, d double (given by its bits), s string, c char; a leading
# 'w' means a wide format (whose %s takes a narrow string and %ls a wide one).
libc = ctypes.CDLL('libc.so.6')
libc.snprintf.restype = ctypes.c_int
libc.swprintf.restype = ctypes.c_int
long_text = ''.join(chr(0x61 + i % 26) for i in range(3000))
rows = [
    ('i', '%d', 0), ('i', '%d', -2147483648), ('i', '%d', 2147483647), ('i', '%5d|', 42), ('i', '%-5d|', 42),
    ('i', '%05d', -42), ('i', '%+d', 7), ('i', '% d', 7), ('i', '%x', 255), ('i', '%X', 48879),
    ('i', '%#x', 255), ('i', '%o', 8), ('i', '%02d', 5), ('i', '%02d', 123), ('i', '%.3d', 7),
    ('i', '%*d', None), ('u', '%u', 4294967295), ('u', '%08X', 3735928559), ('ll', '%lld', -9223372036854775808),
    ('ll', '%llu', 18446744073709551615), ('ll', '%llx', 81985529216486895), ('ll', '%020lld', 123),
    ('d', '%f', 3.14159265358979), ('d', '%.3f', 2.0005), ('d', '%.0f', 2.5), ('d', '%.0f', 3.5),
    ('d', '%10.4f|', -1.5), ('d', '%e', 12345.678), ('d', '%E', 1e-300), ('d', '%g', 0.0001),
    ('d', '%g', 123456789.0), ('d', '%G', 1e-5), ('d', '%.17g', 0.1), ('d', '%.3f (ms)', 1234.5678),
    ('d', '%f', 1e300), ('d', '%f', -0.0), ('d', '%.2f', 1.005),
    ('s', '%s', 'hello'), ('s', '%10s|', 'abc'), ('s', '%-10s|', 'abc'), ('s', '%.2s', 'abcdef'),
    ('s', '%s', ''), ('s', '[%s]', 'utf-8 \xe9\u20ac'), ('s', '%%%s%%', 'x'), ('c', '%c', 65), ('c', '%3c|', 66),
    # Outputs around the 1024-unit stack buffer and far beyond it.
    ('s', '%1022s', 'x'), ('s', '%1023s', 'x'), ('s', '%1024s', 'x'), ('s', '%1025s', 'x'), ('s', '%s', long_text),
    ('s', '%s!', long_text[:1023]), ('i', '%4096d', -1),
    ('ws', '%s', 'narrow'), ('wls', '%ls', 'wide \u00e9\u4e2d'), ('wls', '%ls', '\U0001F600'),
    ('wls', '%10ls|', 'ab'), ('wi', '%d-%%', -17), ('wi', '%04X', 2748), ('wd', '%.2f', 2.675),
    ('ws', '%1023s', 'y'), ('ws', '%1024s', 'y'), ('wls', '%ls', long_text),
]

def c_arg(kind, value):
    kind = kind.lstrip('w')
    if kind in ('i', 'c'): return ctypes.c_int(value)
    if kind == 'u': return ctypes.c_uint(value)
    if kind == 'll': return ctypes.c_longlong(value) if value < 2**63 else ctypes.c_ulonglong(value)
    if kind == 'd': return ctypes.c_double(value)
    if kind == 's': return ctypes.c_char_p(value.encode('utf-8'))
    if kind == 'ls': return ctypes.c_wchar_p(value)

def arg_text(kind, value):
    kind = kind.lstrip('w')
    if kind == 'd': return '%016x' % struct.unpack('<Q', struct.pack('<d', value))[0]
    if kind in ('s', 'ls'): return value.encode('utf-8').hex()
    return str(value)

with open(f'{D}/printf_cases.txt', 'w') as out:
    for kind, fmt, value in rows:
        if kind == 'i' and value is None:  # '%*d': width 6 and the value 99
            args, kind_text, value_text = [ctypes.c_int(6), ctypes.c_int(99)], 'i*', '99'
        else:
            args, kind_text, value_text = [c_arg(kind, value)], kind, arg_text(kind, value)
        if kind.startswith('w'):
            buffer = ctypes.create_unicode_buffer(8192)
            n = libc.swprintf(buffer, 8192, ctypes.c_wchar_p(fmt), *args)
            assert n >= 0, (fmt, value)
            expected = buffer.value.encode('utf-16-le').hex()
        else:
            buffer = ctypes.create_string_buffer(8192)
            n = libc.snprintf(buffer, 8192, fmt.encode(), *args)
            assert 0 <= n < 8192, (fmt, value)
            expected = buffer.raw[:n].hex()
        out.write(f'{kind_text}\t{fmt.encode().hex()}\t{value_text}\t{expected}\n')
