import re, sys
out, err = sys.argv[1], sys.argv[2]
ids = dict(line.split() for line in open(out).read().split("\n") if line.strip())
low32 = lambda text: int(text, 16) & 0xFFFFFFFF
window, timer = low32(ids["window"]), int(ids["timer"], 16)
phase = None
calls = {}          # phase -> list of (function, arguments)
all_waits = []
sequence = []       # phase markers and timer-resolution calls, in order
for line in open(err, errors="replace"):
    m = re.search(r'Call KERNEL32\.OutputDebugStringA\([0-9a-f]+ "phase (\w+) (begin|end)"\)', line)
    if m:
        phase = m.group(1) if m.group(2) == "begin" else None
        sequence.append(m.group(1) + " " + m.group(2))
        continue
    m = re.search(r"Call winmm\.(timeBeginPeriod|timeEndPeriod)\(([0-9a-f]+)\)", line)
    if m:
        sequence.append("%s(%d)" % (m.group(1), int(m.group(2), 16)))
        continue
    m = re.search(r"Call user32\.(PostMessageW|SetTimer|MsgWaitForMultipleObjectsEx)\(([0-9a-f,]+)\)", line)
    if not m:
        continue
    args = [int(a, 16) for a in m.group(2).split(",")]
    if m.group(1) == "MsgWaitForMultipleObjectsEx":
        all_waits.append(args)
    if m.group(1) == "PostMessageW" and low32(m.group(2).split(",")[0]) == window and args[1] == 0x401:
        if args[2] != timer or args[3] != 0:
            sys.exit("wake-up message with parameters %x, %x; expected the pump %x and 0" % (args[2], args[3], timer))
    if phase:
        calls.setdefault(phase, []).append((m.group(1), args))
errors = []
def of(phase_name, function):
    return [a for f, a in calls.get(phase_name, []) if f == function]
wake_ups = [a for a in of("burst", "PostMessageW") if a[1] == 0x401]
if len(wake_ups) != 1:
    errors.append("burst: %d wake-up messages for 4000 wake-ups, expected 1" % len(wake_ups))
# Every short attempt shows the rule (the child's clock stands still until the loop goes to wait, so the 9 ms
# task is still pending when the pump looks): the 10 ms minimum timer and waits of at most 9 ms.
shorts = [p for p in calls if p.startswith("short")]
full = []
for name in shorts:
    timers = [a for a in of(name, "SetTimer") if low32("%x" % a[0]) == window and a[1] == timer]
    if any(a[2] < 10 for a in timers):
        errors.append("%s: a timer below 10 ms: %s" % (name, [a[2] for a in timers]))
    waits = [a[2] for a in of(name, "MsgWaitForMultipleObjectsEx")]
    if waits and max(waits) > 9:
        errors.append("%s: waits of %s ms; the 9 ms task must be waited for at most 9 ms" % (name, waits))
    if timers and timers[-1][2] == 10 and waits:
        full.append(name)
if not shorts or len(full) != len(shorts):
    errors.append("short attempts without a 10 ms timer and short waits: %s of %s" % (sorted(set(shorts) - set(full)), shorts))
long_timers = [a[2] for a in of("long", "SetTimer") if a[1] == timer]
if len(long_timers) != 1 or not 3599000 <= long_timers[0] <= 3600000:
    errors.append("long: timers %s; expected one of the hour's milliseconds" % long_timers)
if of("due", "SetTimer"):
    errors.append("due: work already due set a timer")
# The count, mask and flags are 32-bit: the trace shows whole registers, whose upper halves mean nothing.
bad_waits = [a for a in all_waits if [v & 0xFFFFFFFF for v in (a[0], a[3], a[4])] != [0, 0x1CFF, 4]]
if not all_waits or bad_waits:
    errors.append("waits without the 0x1CFF mask and the input-available flag: %s" % bad_waits[:3])
# The resolution is raised only while a short task waits: every raise lies inside a short attempt, raises and
# lowerings alternate, the last lowering comes before the long phase, and every attempt raised it.
inside, current, level, raised_in = None, None, 0, set()
for event in sequence:
    name, _, edge = event.partition(" ")
    if edge in ("begin", "end"):
        current = name if edge == "begin" and name.startswith("short") else None
        if event == "long begin" and level:
            errors.append("timer resolution still raised when the long phase began")
        continue
    if event == "timeBeginPeriod(4)":
        if level or not current:
            errors.append("timer resolution raised outside a short wait: %s" % sequence)
        level, raised_in = 1, raised_in | {current}
    elif event == "timeEndPeriod(4)":
        if not level:
            errors.append("timer resolution lowered without being raised: %s" % sequence)
        level = 0
    else:
        errors.append("unexpected timer resolution call %s" % event)
if set(shorts) - raised_in:
    errors.append("attempts that did not raise the timer resolution: %s in %s" % (sorted(set(shorts) - raised_in), sequence))
if errors:
    sys.exit("\n".join(errors))
print("UI pump system calls match its rules (%d waits checked, %d of %d short attempts waited)" % (len(all_waits), len(full), len(shorts)))
