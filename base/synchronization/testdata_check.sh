#!/bin/bash
# Checks from the Linux side, in wine's relay trace, the millisecond argument that each timed wait hands to
# the system, against the rule computed here: whole milliseconds truncated toward zero, 0 for anything not
# positive, 0xFFFFFFFF (no limit) from 0xFFFFFFFF ms up. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
mkdir -p "$D"
durations=(1900 999 0 -1 -1000 -max 4294967294000 4294967295000 4294967301000 max 2000 1500)
args=()
for us in "${durations[@]}"; do args+=("event:$us"); done
# Condition-variable waits that would sleep long are woken by the child's other thread.
for us in 1900 -1000 -max 4294967301000 max 0; do args+=("cv:$us"); done
WINEDEBUG=+relay "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$BIN/wait_duration_test_child.exe" "${args[@]}" \
  </dev/null >"$D/relay.out" 2>"$D/relay.err"
python3 - "$D/relay.out" "$D/relay.err" "${args[@]}" <<'PY'
import re, sys
out, err, args = sys.argv[1], sys.argv[2], sys.argv[3:]
ids = dict(line.split() for line in open(out).read().split("\n") if line.strip())
low32 = lambda text: "%08x" % (int(text, 16) & 0xFFFFFFFF)
event, cv = low32(ids["event"]), low32(ids["cv"])
K_MAX = 2**63 - 1
def expected(text):
    us = K_MAX if text == "max" else -K_MAX if text == "-max" else int(text)
    ms = K_MAX if us == K_MAX else (abs(us) // 1000) * (1 if us >= 0 else -1)
    return 0 if ms <= 0 else 0xFFFFFFFF if ms >= 0xFFFFFFFF else ms
want = [(a.split(":")[0], expected(a.split(":")[1])) for a in args]
seen = []
for line in open(err, errors="replace"):
    m = re.search(r"Call KERNEL32\.WaitForSingleObject\(([0-9a-f]+),([0-9a-f]+)\)", line)
    if m and m.group(1)[-8:] == event:
        seen.append(("event", int(m.group(2), 16) & 0xFFFFFFFF))  # a DWORD in a 64-bit register
    m = re.search(r"Call KERNEL32\.SleepConditionVariableSRW\(([0-9a-f]+),[0-9a-f]+,([0-9a-f]+),", line)
    if m and m.group(1)[-8:] == cv:
        seen.append(("cv", int(m.group(2), 16) & 0xFFFFFFFF))
if seen != want:
    sys.exit("waits seen in the relay trace:\n  %s\nexpected:\n  %s" % (seen, want))
print("%d wait arguments match the saturating millisecond rule" % len(seen))
PY
