import hashlib, json, os, struct, sys
out = sys.argv[1]

ids = os.path.join(out, "allocator_dump_ids.txt")
if not os.path.exists(ids):
    sys.exit("the allocator dump test wrote no ids")
count = 0
for line in open(ids, encoding="utf-8").read().splitlines():
    text, written = line.split("\t")
    expected = struct.unpack("<Q", hashlib.sha1(text.encode()).digest()[:8])[0]
    if int(written, 16) != expected:
        sys.exit("id of %r: wrote %s, SHA-1 gives %016x" % (text, written, expected))
    count += 1
if count == 0:
    sys.exit("no ids written")

trace = os.path.join(out, "three_threads_trace.json")
if not os.path.exists(trace):
    sys.exit("the multi-thread test wrote no trace")
raw = open(trace, encoding="utf-8").read()
events = json.loads(raw)  # strict: no comments, no trailing commas
workers = {}
for e in events:
    if e["ph"] == "M":
        continue
    workers.setdefault(e["tid"], []).append(e)
if len(workers) != 3:
    sys.exit("expected events of 3 threads, found %d" % len(workers))
for tid, evs in workers.items():
    phases = "".join(e["ph"] for e in evs)
    names = [e["name"] for e in evs]
    if phases.count("B") != phases.count("E") or "X" not in phases or "I" not in phases:
        sys.exit("thread %s: unexpected phases %s" % (tid, phases))
    for e in evs:
        if e["ph"] == "X" and not (e["dur"] >= 0):
            sys.exit("thread %s: complete event without duration: %r" % (tid, e))
        if e["ph"] == "I" and e["args"]["index"] != names[:evs.index(e)].count("Instant"):
            sys.exit("thread %s: instants out of order" % tid)
cpus = [e for e in events if e["ph"] == "M" and e["name"] == "num_cpus"]
if len(cpus) != 1 or cpus[0]["args"]["number"] < 1:
    sys.exit("num_cpus metadata missing: %r" % cpus)
print("trace outputs verified: %d ids, %d events" % (count, len(events)))
