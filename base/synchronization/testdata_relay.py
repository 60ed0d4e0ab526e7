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
