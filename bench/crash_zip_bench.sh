#!/bin/bash
# Zipping a 20 MB crash log for upload: ZipCrashLog under wine against Debian's `zip -9` of the same file on
# Linux, in the same run (best of 3 each).
set -euo pipefail
W=$(mktemp -d /tmp/zorvi-crash-zip-bench.XXXXXX)
trap 'rm -rf "$W"' EXIT
. "$(dirname "$0")/bench_util.sh"
megabytes=$(sized 20 1)
# A log shaped like the real ones: register rows, stack rows of words with their characters, module rows.
python3 - "$W/crashlog.txt" "$megabytes" <<'PY'
import random, sys
random.seed(7)
rows = []
size = 0
limit = int(sys.argv[2]) * 1_000_000
while size < limit:
    kind = random.random()
    if kind < 0.7:
        words = [random.choice([random.getrandbits(64), 0x7FF6_1234_0000 + random.getrandbits(20), 0])
                 for _ in range(4)]
        text = "".join(chr(b) if 32 <= b < 127 else "." for w in words for b in w.to_bytes(8, "little"))
        row = "%012X: %s %s\r\n" % (random.getrandbits(44), " ".join("%016X" % w for w in words), text)
    elif kind < 0.9:
        row = "RAX=%016X RBX=%016X RCX=%016X RDX=%016X\r\n" % tuple(random.getrandbits(64) for _ in range(4))
    else:
        row = "%-26s %-46s Base: %012X Size: %08X Timestamp: %08X\r\n" % (
            "module%d.dll" % random.randrange(300), "C:\\windows\\system32\\module.dll",
            random.getrandbits(44), random.getrandbits(24), random.getrandbits(32))
    rows.append(row)
    size += len(row)
open(sys.argv[1], "w", newline="").write("".join(rows)[:limit])
PY
zip_time=$(best 3 "rm -f '$W/reference.zip'" sh -c "cd '$W' && zip -9 -q reference.zip crashlog.txt")
windows() { echo "Z:$1" | tr / '\\'; }
out=$($WINE_RUN "$BIN/crash_zip_bench.exe" "$(windows "$W/crashlog.txt")" "$(windows "$W/crashlog.zip")" | tr -d '\r')
ours=$(echo "$out" | awk -F'\t' '$1 == "figure" { print $3 }')
awk -v o="$ours" -v t="$zip_time" -v s="$(stat -c %s "$W/crashlog.zip")" -v r="$(stat -c %s "$W/reference.zip")" \
  -v m="$megabytes" 'BEGIN { n = m / t; printf "ZipCrashLog of a %d MB crash log (wine): %.4g MB/s, %d bytes | zip -9 (Linux): %.4g MB/s, %d bytes | ratio %.2fx\n", m, o, s, n, r, o / n }'
