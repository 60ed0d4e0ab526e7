#!/bin/bash
# Checks from Linux what the crash client's tests wrote: a child's crash key block, decoded by Python against
# the table the test expected; with Python's struct, the registration messages as
# the scripted reporter received and sent them; with Python's uuid, the GUID texts; with obj2yaml-14 (and
# struct for the stream directory), the in-process minidumps. A folder is missing only when its test was
# filtered out of the run. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
python3 - "$D" <<'PY'
import json, os, re, struct, subprocess, sys, uuid, yaml

data, failures, checked = sys.argv[1], [], []

# libyaml's loader when present: a dump's memory list makes a large document.
class MinidumpLoader(getattr(yaml, "CSafeLoader", yaml.SafeLoader)):
    pass
# obj2yaml tags its document with the file kind; the content is a plain mapping.
MinidumpLoader.add_constructor("!minidump", lambda loader, node: loader.construct_mapping(node, deep=True))
def fail(message):
    failures.append(message)

MESSAGE = struct.Struct("<4I8Q")  # tag, pid, dump type, reserved; 5 addresses/count, 3 handles
def message(path):
    raw = open(path, "rb").read()
    if len(raw) != MESSAGE.size:
        fail("%s: %d bytes, not %d" % (path, len(raw), MESSAGE.size))
        return None
    return MESSAGE.unpack(raw)

folder = os.path.join(data, "registration")
if os.path.exists(os.path.join(folder, "expected.txt")):
    expected = dict(l.split("=") for l in open(os.path.join(folder, "expected.txt")).read().split())
    request = message(os.path.join(folder, "request.bin"))
    if request:
        tag, pid, dump_type, reserved, thread_id, pointers, assertion, custom, count, *handles = request
        if (tag, pid, dump_type, reserved) != (1, int(expected["pid"]), 0, 0):
            fail("request head %r" % (request[:4],))
        if 0 in (thread_id, pointers, assertion) or custom != int(expected["custom_info"]) or count != 96:
            fail("request addresses %r" % (request[4:9],))
        if handles != [0, 0, 0]:
            fail("request carries handles %r" % handles)
    reply = message(os.path.join(folder, "reply.bin"))
    if reply and (reply[0] != 2 or reply[1] == 0 or any(reply[4:9]) or 0 in reply[9:]):
        fail("reply %r" % (reply,))
    ack = message(os.path.join(folder, "ack.bin"))
    if ack and (ack[0] != 3 or any(ack[1:])):
        fail("acknowledgement %r" % (ack,))
    checked.append("registration messages")

# The crash keys: 96 entries of a 64-unit UTF-16 name and a 64-unit UTF-16 value, each terminated.
folder = os.path.join(data, "keys")
if os.path.exists(os.path.join(folder, "expected.json")):
    expected = json.load(open(os.path.join(folder, "expected.json")))
    block = open(os.path.join(folder, "block.bin"), "rb").read()
    if len(block) != 96 * 256 or len(expected) != 96:
        fail("key block of %d bytes, %d expected entries" % (len(block), len(expected)))
    for i, (name, value) in enumerate(expected):
        fields = [block[i * 256 + half * 128:i * 256 + half * 128 + 128].decode("utf-16-le") for half in (0, 1)]
        decoded = [field.split("\0")[0] for field in fields]
        if decoded != [name, value] or not all("\0" in field for field in fields):
            fail("key entry %d: %r, expected %r" % (i, decoded, [name, value]))
    checked.append("crash key block")

path = os.path.join(data, "guids", "guids.txt")
if os.path.exists(path):
    for line in open(path).read().splitlines():
        raw, text = line.split()
        if str(uuid.UUID(bytes_le=bytes.fromhex(raw))) != text:
            fail("GUID %s written as %s" % (raw, text))
    checked.append("GUID texts")

INFO, ASSERTION, EXCEPTION, MEMORY_LIST = 0x47670001, 0x47670002, 6, 5

# A minidump as its directory gives it (stream types by number: obj2yaml prints some under names of its own)
# and as obj2yaml-14 lists it.
def read_minidump(path):
    raw = open(path, "rb").read()
    signature, _, count, directory = struct.unpack_from("<4sIII", raw)
    streams = [struct.unpack_from("<III", raw, directory + 12 * i) for i in range(count)]
    index = {kind: i for i, (kind, _, _) in enumerate(streams)}
    text = subprocess.run(["obj2yaml-14", path], check=True, capture_output=True).stdout.decode("utf-8", "replace")
    # Strings copied from the system (module and service-pack names) may hold control characters that YAML
    # readers refuse; none of the fields checked here is such a string.
    parsed = yaml.load(re.sub("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]", "?", text), Loader=MinidumpLoader)
    return raw, signature, count, streams, index, parsed["Streams"]

def stream_bytes(raw, streams, index, kind):
    _, size, rva = streams[index[kind]]
    return raw[rva:rva + size]

def exception_of(listed):
    return next((s for s in listed if s.get("Type") == "Exception"), None)
folder = os.path.join(data, "dumps")
ids_path = os.path.join(folder, "dump_ids.txt")
if os.path.exists(ids_path):
    ids = [line.split()[0] for line in open(ids_path).read().splitlines()]
    if len(ids) != 2 or ids[0] != "00000000-0000-0000-0000-000000000000":
        fail("dump ids %r" % ids)
    for number, dump_id in enumerate(ids):
        path = os.path.join(folder, dump_id + ".dmp")
        raw, signature, count, streams, index, listed = read_minidump(path)
        if signature != b"MDMP" or len(listed) != count:
            fail("%s: %r with %d streams, obj2yaml lists %d" % (dump_id, signature, count, len(listed)))
            continue
        # The information stream: validity 3, the writing thread, the thread the dump is for.
        if INFO not in index:
            fail("%s: no information stream" % dump_id)
            continue
        _, size, rva = streams[index[INFO]]
        validity, writer, requester = struct.unpack_from("<III", raw, rva)
        content = str(listed[index[INFO]].get("Content", ""))
        if size != 12 or validity != 3 or not content.startswith("03000000") or writer == requester:
            fail("%s: information stream %r, obj2yaml %r" % (dump_id, (size, validity, writer, requester), content))
        exception = exception_of(listed)
        if not exception or exception["Thread ID"] != requester:
            fail("%s: exception stream %r is not for thread %d" % (dump_id, exception, requester))
        # The assertion stream only in the dump of the invalid-parameter report.
        if (ASSERTION in index) != (number == 1):
            fail("%s: assertion stream present: %s" % (dump_id, ASSERTION in index))
        if number == 1 and ASSERTION in index:
            _, size, rva = streams[index[ASSERTION]]
            record = raw[rva:rva + size]
            expression = record[:256].decode("utf-16-le").split("\0")[0]
            line, kind = struct.unpack_from("<II", record, 768)
            hex_content = str(listed[index[ASSERTION]].get("Content", ""))
            if (size, expression, line, kind, len(hex_content)) != (776, "in-process expression", 42, 1, 1552):
                fail("%s: assertion stream %r" % (dump_id, (size, expression, line, kind, len(hex_content))))
            if exception["Exception Record"]["Exception Code"] != 0xC000000D:
                fail("%s: exception code %r" % (dump_id, exception["Exception Record"]))
        # The code round the crashing instruction is in the memory list, at most 128 bytes on either side (the
        # exception stream: thread id, alignment, a 152-byte exception record, then the context's location).
        _, _, rva = streams[index[EXCEPTION]]
        context_size, context_rva = struct.unpack_from("<II", raw, rva + 8 + 152)
        rip = struct.unpack_from("<Q", raw, context_rva + 0xF8)[0]
        memory = next(s for s in listed if s.get("Type") == "MemoryList")["Memory Ranges"]
        around = [m for m in memory
                  if rip - 128 <= m["Start of Memory Range"] <= rip < m["Start of Memory Range"] + len(str(m["Content"])) // 2 <= rip + 128]
        if not around:
            fail("%s: no memory range round the instruction at %#x" % (dump_id, rip))
    checked.append("in-process minidumps (obj2yaml-14)")

# The dump server's clients, dumped by the reporter's writer (within the client limit) and by the server's own
# writer (with the faulting handle's history).
def fields(path):
    return dict(line.split("=", 1) for line in open(path).read().split())

VERSION_STREAM, ASSERTION_TEXT_STREAM, HANDLE_OPERATIONS = 0x10000, 0x10001, 18
folder = os.path.join(data, "client_dump")
if os.path.exists(os.path.join(folder, "expected.txt")):
    expected = fields(os.path.join(folder, "expected.txt"))
    path = os.path.join(folder, "client.dmp")
    raw, signature, count, streams, index, listed = read_minidump(path)
    exception = exception_of(listed)
    thread, address = int(expected["thread"]), int(expected["address"])
    if len(raw) != int(expected["size"]) or signature != b"MDMP":
        fail("client dump: %d bytes, %r" % (len(raw), signature))
    if not exception or (exception["Thread ID"], exception["Exception Record"]["Exception Code"],
                         exception["Exception Record"]["Exception Address"]) != (thread, 0xC0000005, address):
        fail("client dump: exception stream %r, expected thread %d at %#x" %
             (exception and (exception["Thread ID"], exception["Exception Record"]), thread, address))
    version = [s for s in listed if s.get("Type") == VERSION_STREAM]
    if VERSION_STREAM not in index or stream_bytes(raw, streams, index, VERSION_STREAM).hex().upper() != \
            expected["version"] or len(version) != 1 or str(version[0]["Content"]).upper() != expected["version"]:
        fail("client dump: version stream %r" % version)
    if ASSERTION_TEXT_STREAM in index:
        fail("client dump: an assertion stream without an invalid-parameter record")
    lldb = subprocess.run(["lldb-14", "-c", path, "--batch", "-o", "thread list"], capture_output=True, timeout=300)
    stop = re.search(r"\* thread #1: tid = (0x[0-9a-f]+), .*stop reason = Exception 0xc0000005 encountered at "
                     r"address (0x[0-9a-f]+)", lldb.stdout.decode("utf-8", "replace"))
    if not stop or (int(stop.group(1), 16), int(stop.group(2), 16)) != (thread, address):
        fail("client dump: lldb-14 says %r" % lldb.stdout.decode("utf-8", "replace")[-400:])
    checked.append("client minidump (obj2yaml-14, lldb-14)")

folder = os.path.join(data, "server_dump")
if os.path.exists(os.path.join(folder, "expected.txt")):
    expected = fields(os.path.join(folder, "expected.txt"))
    raw, signature, count, streams, index, listed = read_minidump(os.path.join(folder, expected["dump"]))
    exception = exception_of(listed)
    if not exception or (exception["Thread ID"], exception["Exception Record"]["Exception Code"]) != \
            (int(expected["thread"]), 0xC0000008):
        fail("server dump: exception stream %r" % (exception and exception["Exception Record"]))
    # The client's pointers: no thread ids of the writer's own; the client's (zeroed) assertion record.
    for kind, size in ((INFO, 12), (ASSERTION, 776)):
        content = stream_bytes(raw, streams, index, kind) if kind in index else None
        if content != bytes(size):
            fail("server dump: stream %#x is %r" % (kind, content))
    trace = stream_bytes(raw, streams, index, HANDLE_OPERATIONS) if HANDLE_OPERATIONS in index else b""
    header = struct.unpack_from("<4I", trace) if len(trace) >= 16 else None
    records = ["%d:%d:%d" % (handle, operation, depth) for handle, _, _, operation, _, depth in
               (struct.unpack_from("<Q4II", trace, 16 + 288 * i) for i in range(header[2] if header else 0))]
    wanted = [entry for entry in expected["handles"].split(",") if entry]
    if header != (16, 288, len(wanted), 0) or len(trace) != 16 + 288 * len(wanted) or records != wanted:
        fail("server dump: handle operations %r %r, expected %r" % (header, records, wanted))
    checked.append("server-written minidump (obj2yaml-14, struct)")

for message_text in failures:
    print(message_text)
if failures:
    sys.exit(1)
print("checked: " + ", ".join(checked) if checked else "nothing to check: the crash client's tests did not run")
PY
