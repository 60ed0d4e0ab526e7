import email, json, os, re, struct, subprocess, sys, uuid, yaml, zipfile
import pefile

data, prefix, bin_dir = sys.argv[1:]
failures, checked = [], []

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

def crash_of(listed):  # (thread, code, address) of the dump's exception stream, or None
    e = exception_of(listed)  # obj2yaml leaves out an address of 0
    record = e and e["Exception Record"]
    return e and (e["Thread ID"], record["Exception Code"], record.get("Exception Address", 0))

def lldb(path, *commands):  # what lldb-14 answers about a minidump
    return subprocess.run(["lldb-14", "-c", path, "--batch"] + [a for c in commands for a in ("-o", c)],
                          capture_output=True, timeout=300).stdout.decode("utf-8", "replace")
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
    thread, address = int(expected["thread"]), int(expected["address"])
    if len(raw) != int(expected["size"]) or signature != b"MDMP":
        fail("client dump: %d bytes, %r" % (len(raw), signature))
    if crash_of(listed) != (thread, 0xC0000005, address):
        fail("client dump: exception %r, expected thread %d at %#x" % (crash_of(listed), thread, address))
    version = [s for s in listed if s.get("Type") == VERSION_STREAM]
    if VERSION_STREAM not in index or stream_bytes(raw, streams, index, VERSION_STREAM).hex().upper() != \
            expected["version"] or len(version) != 1 or str(version[0]["Content"]).upper() != expected["version"]:
        fail("client dump: version stream %r" % version)
    if ASSERTION_TEXT_STREAM in index:
        fail("client dump: an assertion stream without an invalid-parameter record")
    said = lldb(path, "thread list")
    stop = re.search(r"\* thread #1: tid = (0x[0-9a-f]+), .*stop reason = Exception 0xc0000005 encountered at "
                     r"address (0x[0-9a-f]+)", said)
    if not stop or (int(stop.group(1), 16), int(stop.group(2), 16)) != (thread, address):
        fail("client dump: lldb-14 says %r" % said[-400:])
    checked.append("client minidump (obj2yaml-14, lldb-14)")

folder = os.path.join(data, "server_dump")
if os.path.exists(os.path.join(folder, "expected.txt")):
    expected = fields(os.path.join(folder, "expected.txt"))
    raw, signature, count, streams, index, listed = read_minidump(os.path.join(folder, expected["dump"]))
    if (crash_of(listed) or ())[:2] != (int(expected["thread"]), 0xC0000008):
        fail("server dump: exception %r" % (crash_of(listed),))
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

# The text crash log, printed by Python from the facts of a fake snapshot and what its test expects to be kept
# and examined, by the format's rules. The register blocks are read instead, as a reader of the log reads them:
# "NAME=value" pairs under their headers, each register once, its value in upper-case hex as wide as the register
# and equal to what the description recorded.
GENERAL_REGISTERS = ["RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15",
                     "RBP", "RSP", "RIP"]

def described_registers(values):  # the description's register fields, in its order: {name: (value, hex digits)}
    registers = {name: (value, 16) for name, value in zip(GENERAL_REGISTERS, values)}
    registers["FLAGS"] = (values[17], 8)
    fpu = {"st(%d)" % i: ((values[18 + 2 * i] << 64) | values[19 + 2 * i], 20) for i in range(8)}
    fpu["SW"], fpu["CW"] = (values[34], 4), (values[35], 4)
    fpu.update({"XMM%d" % i: ((values[36 + 2 * i] << 64) | values[37 + 2 * i], 32) for i in range(16)})
    return registers, fpu

def register_block_fault(block, tid, expected):  # None when `block` (CR LF lines) reads as `expected`
    lines = block.split("\r\n")
    header = "FPU stack: %08X" % tid
    if any("\r" in line or "\n" in line for line in lines):
        return "a line break without CR LF"
    if lines[:2] != ["", "Registers: %08X" % tid] or lines[-1] != "" or header not in lines:
        return "headers %r" % lines[:2]
    split = lines.index(header)
    if lines[split - 1] != "":
        return "no blank line before %r" % header
    for part, names in ((lines[2:split - 1], expected[0]), (lines[split + 1:-1], expected[1])):
        read = {}
        for line in part:
            for token in line.split():
                match = re.fullmatch(r"([A-Z0-9]+|st\(\d\))=([0-9A-F]+)", token)
                if not match or match[1] in read:
                    return "line %r" % line
                read[match[1]] = match[2]
        if sorted(read) != sorted(names):
            return "registers %r, expected %r" % (sorted(read), sorted(names))
        for name, (value, digits) in names.items():
            if len(read[name]) != digits or int(read[name], 16) != value:
                return "%s=%s, expected %0*X" % (name, read[name], digits, value)
    return None

def characters(row):
    return " " + "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in row) + "\n"

def one_line(text):  # a key's text keeps to its line: control characters become blanks
    return re.sub(r"[\x00-\x1f]", " ", text)

def golden_log(d):
    out = ["ZORVI-CRASHLOG V1 desktop%s %s %s windows x64 release\n" % (d["suffix"], one_line(d["version"]),
                                                                         one_line(d["build"])),
           "%s caused exception %s at address %012X (Base: %012X)\n" %
           (d["main"] or "<no name>", d["code"], int(d["address"], 16), int(d["main_base"], 16))]
    if d["metadata"]:
        out.append("\nmetadata:\n")
        out += ['%s="%s"\n' % (key, one_line(value)) for key, value in zip(d["metadata"][::2], d["metadata"][1::2])]
    for thread in d["threads"]:
        tid, priority, crashed, registers, words, sp, *values = [int(v, 16) for v in thread[:-1]]
        stack = bytes.fromhex(thread[-1])
        out.append("\nThread: %08X\n" % tid)
        out.append("\nThreadInfo: %08X\nPriority=%08X\nCrashed=%d\nchecked_context_values=%d%s\n"
                   "checked_stack_values=%d%s\n" % (tid, priority, crashed, registers, " (all)" * (registers == 17),
                                                    words, " (all)" * (words == len(stack) // 8)))
        out.append((tid, described_registers(values)))
        out.append("\nStack dump: %08X\n" % tid)
        frame = values[14]  # RBP: the saved frame pointers from there on are marked
        for row in range(0, len(stack), 16):
            line = "%012X " % (sp + row)
            for offset in (row, row + 8):
                if offset + 8 > len(stack):
                    line += " " * 18
                    continue
                value = int.from_bytes(stack[offset:offset + 8], "little")
                marked = sp + offset == frame
                frame = value if marked else frame
                line += "%s%016X " % (">" if marked else " ", value)
            out.append(line + characters(stack[row:row + 16]))
    out.append("\nUsed DLLs:\n")
    modules = d["modules"]
    for name, version, base, size, stamp in zip(*[iter(modules)] * 5):
        out.append("%-26s %-46s Base: %012X Size: %08X Timestamp: %08X\n" %
                   (name, version, int(base, 16), int(size, 16), int(stamp, 16)))
    out.append("\nMemory dumps:\n")
    ranges = sorted((int(start, 16), bytes.fromhex(content)) for start, content in d["ranges"])
    for number, (start, content) in enumerate(ranges):
        for row in range(0, len(content), 16):
            chunk = content[row:row + 16]
            out.append("%012X" % (start + row) + "".join(
                (" " if column % 4 else "  ") + ("%02X" % chunk[column] if column < len(chunk) else "  ")
                for column in range(16)) + characters(chunk))
        if number + 1 < len(ranges):
            out.append("\n")
    # Texts joined, register blocks kept apart; lines end in CR LF.
    pieces = []
    for piece in out:
        if isinstance(piece, str) and pieces and isinstance(pieces[-1], str):
            pieces[-1] += piece
        else:
            pieces.append(piece)
    return [p.replace("\n", "\r\n") if isinstance(p, str) else p for p in pieces]

def golden_fault(actual, expected):  # None when the log (latin-1 text) reads as golden_log's pieces
    at = 0
    for piece in expected:
        if isinstance(piece, str):
            if not actual.startswith(piece, at):
                differs = at + next((i for i, (a, b) in enumerate(zip(actual[at:], piece)) if a != b),
                                    min(len(piece), len(actual) - at))
                line = actual.count("\n", 0, differs)
                wanted = piece.split("\n")[piece.count("\n", 0, differs - at)]
                return "line %d is %r, expected %r" % (line + 1, actual.split("\n")[line], wanted)
            at += len(piece)
            continue
        tid, registers = piece
        end = actual.find("\r\nStack dump: %08X\r\n" % tid, at)
        fault = register_block_fault(actual[at:end], tid, registers) if end >= 0 else "no stack dump after it"
        if fault:
            return "register block of thread %08X (line %d): %s" % (tid, actual.count("\n", 0, at) + 2, fault)
        at = end
    return None if at == len(actual) else "%d bytes more than expected" % (len(actual) - at)

folder = os.path.join(data, "golden")
for name in ("full", "bare"):
    path = os.path.join(folder, name + ".json")
    if not os.path.exists(path):
        continue
    fault = golden_fault(open(os.path.join(folder, name + ".txt"), "rb").read().decode("latin-1"),
                         golden_log(json.load(open(path))))
    if fault:
        fail("golden %s: %s" % (name, fault))
    checked.append("crash log of a fake snapshot (%s)" % name)

# The crash log of a stopped child against the minidump written during the same attach (embedded in the self
# log), as obj2yaml-14 and lldb-14 read it, and against the module files, as pefile reads them.
CONTEXT_FIELDS = {"RAX": 0x78, "RCX": 0x80, "RDX": 0x88, "RBX": 0x90, "RSP": 0x98, "RBP": 0xA0, "RSI": 0xA8,
                  "RDI": 0xB0, "R8": 0xB8, "R9": 0xC0, "R10": 0xC8, "R11": 0xD0, "R12": 0xD8, "R13": 0xE0,
                  "R14": 0xE8, "R15": 0xF0, "RIP": 0xF8}

def context_registers(context):
    registers = {name: struct.unpack_from("<Q", context, at)[0] for name, at in CONTEXT_FIELDS.items()}
    registers["FLAGS"] = struct.unpack_from("<I", context, 0x44)[0]
    registers["CW"], registers["SW"] = struct.unpack_from("<HH", context, 0x100)
    for i in range(8):
        significand, exponent = struct.unpack_from("<QH", context, 0x120 + 16 * i)
        registers["st(%d)" % i] = (exponent << 64) | significand
    for i in range(16):
        low, high = struct.unpack_from("<QQ", context, 0x1A0 + 16 * i)
        registers["XMM%d" % i] = (high << 64) | low
    return registers

def extended(double_bits):  # a normal double as the x87 holds it: sign and exponent word, then significand
    sign, exponent, fraction = double_bits >> 63, (double_bits >> 52) & 0x7FF, double_bits & ((1 << 52) - 1)
    return (((sign << 15) | (exponent - 1023 + 16383)) << 64) | (1 << 63) | (fraction << 11)

THREAD_BLOCK = re.compile(
    r"\nThread: (?P<id>[0-9A-F]{8})\n\nThreadInfo: (?P=id)\nPriority=[0-9A-F]{8}\nCrashed=(?P<crashed>[01])\n"
    r"checked_context_values=\d+(?: \(all\))?\nchecked_stack_values=\d+(?: \(all\))?\n\nRegisters: (?P=id)\n"
    r"(?P<registers>(?:.*\n){6})\nFPU stack: (?P=id)\n(?P<fpu>(?:.*\n){11})\nStack dump: (?P=id)\n"
    r"(?P<rows>(?:[0-9A-F]{12} .*\n)*)")
MODULE_ROW = re.compile(r"(\S+) +(\S*) +Base: ([0-9A-F]{12}) Size: ([0-9A-F]{8}) Timestamp: ([0-9A-F]{8})$")

def linux_path(windows_path):  # each component found without regard to case, as Windows finds it
    drive, rest = windows_path.split(":", 1)
    path = os.path.join(prefix, "dosdevices", drive.lower() + ":")
    for part in rest.strip("\\").split("\\"):
        path = os.path.join(path, next((n for n in os.listdir(path) if n.lower() == part.lower()), part))
    return path

def file_version(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    for info in getattr(pe, "FileInfo", []):
        for table in (entry for entry in info if hasattr(entry, "StringTable")):
            for strings in table.StringTable:
                if b"FileVersion" in strings.entries:
                    return strings.entries[b"FileVersion"].decode("latin-1")[:127], pe.FILE_HEADER.TimeDateStamp
    return "", pe.FILE_HEADER.TimeDateStamp

folder = os.path.join(data, "crashed_child")
if os.path.exists(os.path.join(folder, "self.txt")):
    child = fields(os.path.join(folder, "child.txt"))
    raw_log = open(os.path.join(folder, "crash.txt"), "rb").read()
    if b"\r\r" in raw_log or raw_log.count(b"\n") != raw_log.count(b"\r\n"):
        fail("child log: a line feed without its carriage return, or a doubled one")
    log = raw_log.decode("latin-1").replace("\r\n", "\n")
    header = re.match(r"ZORVI-CRASHLOG V1 desktop\S* \S+ \S+ windows x64 release\n(\S+) caused exception "
                      r"([0-9A-F]+) at address ([0-9A-F]{12}) \(Base: ([0-9A-F]{12})\)\n", log)
    self_log = open(os.path.join(folder, "self.txt"), "rb").read()
    dump_path = os.path.join(folder, "embedded.dmp")
    open(dump_path, "wb").write(self_log[self_log.index(b"\r\nminidump:\r\n") + 13:])
    raw, signature, count, streams, index, listed = read_minidump(dump_path)
    exception = exception_of(listed)
    thread_list = next(s for s in listed if s.get("Type") == "ThreadList")["Threads"]
    module_list = {m["Base of Image"]: m for m in next(s for s in listed if s.get("Type") == "ModuleList")["Modules"]}
    memory = [(t["Stack"]["Start of Memory Range"], bytes.fromhex(str(t["Stack"]["Content"]))) for t in thread_list]
    memory += [(m["Start of Memory Range"], bytes.fromhex(str(m["Content"])))
               for s in listed if s.get("Type") == "MemoryList" for m in s["Memory Ranges"]]
    def dumped(address, size):
        return next((content[address - start:address - start + size] for start, content in memory
                     if start <= address and address + size <= start + len(content)), None)
    blocks = list(THREAD_BLOCK.finditer(log))
    if not header or not blocks or blocks[0]["crashed"] != "1":
        fail("child log: header %r, %d thread blocks" % (header and header.group(0), len(blocks)))
    elif (int(blocks[0]["id"], 16), int(header[2], 16), int(header[3], 16)) != crash_of(listed):
        fail("child log: crash %s at %s on %s, the dump's %r" % (header[2], header[3], blocks[0]["id"],
                                                                   crash_of(listed)))
    contexts = {t["Thread Id"]: bytes.fromhex(str(t["Context"])) for t in thread_list}
    if sorted(int(b["id"], 16) for b in blocks) != sorted(contexts):
        fail("child log: threads %r, the dump's %r" % ([b["id"] for b in blocks], sorted(contexts)))
    compared_words = 0
    for block in blocks:
        tid = int(block["id"], 16)
        # The crashed thread's registers are those of its crash, the exception's context; the others' those of
        # their stop.
        context = bytes.fromhex(str(exception["Thread Context"])) if block["crashed"] == "1" else contexts.get(tid)
        logged = {name: int(value, 16) for name, value in
                  re.findall(r"([A-Z0-9]+|st\(\d\))=([0-9A-F]+)", block["registers"] + block["fpu"])}
        if context is None or logged != context_registers(context):
            fail("child log: registers of thread %X differ from the dump's: %r" % (tid, sorted(
                (k, hex(v), hex(context_registers(context)[k])) for k, v in logged.items()
                if context and v != context_registers(context)[k])[:4]))
        frame = logged["RBP"]
        for row in block["rows"].splitlines():
            address, words = int(row[:12], 16), (row[13:31], row[31:49])
            for number, word in enumerate(words):
                if word.strip():
                    value = int(word[1:17], 16)
                    if (word[0] == ">") != (address + 8 * number == frame):
                        fail("child log: marker of %X in thread %X" % (address + 8 * number, tid))
                    frame = value if word[0] == ">" else frame
                    in_dump = dumped(address + 8 * number, 8)
                    if in_dump is not None:
                        compared_words += 1
                        if struct.unpack("<Q", in_dump)[0] != value:
                            fail("child log: stack word at %X is %X, the dump's %s" % (address + 8 * number, value,
                                                                                  in_dump.hex()))
        if tid == int(child["x87"]):
            values = [extended(int(bits, 16)) for bits in child["values"].strip(",").split(",")]
            if [logged["st(%d)" % i] for i in range(8)] != values[::-1] or len({v >> 64 for v in values}) != 8:
                fail("child log: x87 registers %r, loaded %r" % ([hex(logged["st(%d)" % i]) for i in range(8)],
                                                                   [hex(v) for v in values[::-1]]))
    if compared_words < 50:
        fail("child log: only %d stack words lie in the dump's stacks" % compared_words)
    module_rows = [MODULE_ROW.match(line) for line in log.split("\nUsed DLLs:\n")[1].split("\n\nMemory dumps:")[0].split("\n")]
    if not module_rows or None in module_rows or len(module_rows) != len(module_list):
        fail("child log: module rows %r, %d in the dump" % (module_rows, len(module_list)))
    for row in filter(None, module_rows):
        name, version, base, size, stamp = row[1], row[2], int(row[3], 16), int(row[4], 16), int(row[5], 16)
        listed_module = module_list.get(base)
        path = listed_module and listed_module["Module Name"]
        if not listed_module or (listed_module["Size of Image"], listed_module["Time Date Stamp"]) != (size, stamp) \
                or path.split("\\")[-1].lower() != name.lower():
            fail("child log: module %s at %X, the dump's %r" % (name, base, listed_module))
            continue
        if (version, stamp) != file_version(linux_path(path)):
            fail("child log: %s version %r stamp %X, pefile reads %r" % (name, version, stamp, file_version(linux_path(path))))
    answer = lldb(dump_path, "thread list", "register read rip rsp rflags")
    said = dict(re.findall(r"^\s*(rip|rsp|rflags) = (0x[0-9a-f]+)", answer, re.M))
    first = re.search(r"\* thread #1: tid = (0x[0-9a-f]+)", answer)
    crashed = blocks and {name: int(value, 16) for name, value in re.findall(r"([A-Z0-9]+)=([0-9A-F]+)", blocks[0]["registers"])}
    if not first or not crashed or (int(first[1], 16), int(said.get("rip", "0"), 16), int(said.get("rsp", "0"), 16),
                                    int(said.get("rflags", "0"), 16)) != (
            int(blocks[0]["id"], 16), crashed["RIP"], crashed["RSP"], crashed["FLAGS"]):
        fail("child log: lldb-14 says %r" % answer[-600:])
    checked.append("crash log of a crashed child (obj2yaml-14, lldb-14, pefile; %d stack words)" % compared_words)

# Crash log archives: unzip -t, one entry "crashlog.txt" deflated at the maximum level (zipinfo); its content.
def unzipped_log(archive):
    tested = subprocess.run(["unzip", "-t", archive], capture_output=True, text=True)
    info = subprocess.run(["zipinfo", "-v", archive], capture_output=True, text=True).stdout
    names = subprocess.run(["zipinfo", "-1", archive], capture_output=True, text=True).stdout.split()
    if tested.returncode != 0 or names != ["crashlog.txt"]:
        fail("%s: unzip -t said %r, entries %r" % (archive, tested.stdout[-300:], names))
        return b""
    if not re.search(r"compression method:\s+deflated", info) or \
            not re.search(r"compression sub-type \(deflation\):\s+maximum", info):
        fail("%s: not deflated at the maximum level: %s" % (archive, info[-800:]))
    return subprocess.run(["unzip", "-p", archive, "crashlog.txt"], capture_output=True).stdout

def zipped_log(part, where):
    archive_path = os.path.join(data, where + ".zip")
    open(archive_path, "wb").write(part.get_payload(decode=True))
    return unzipped_log(archive_path)

def form_parts(raw, content_type):
    message = email.message_from_bytes(b"Content-Type: " + content_type.encode() + b"\r\n\r\n" + raw)
    return [(part.get_param("name", header="content-disposition"), part) for part in message.get_payload()]

# The reporter end to end, for the test host and for the real installer: the crash files it kept against the forms
# it posted (email, unzip -t), its minidump as obj2yaml-14 and lldb-14 read it, and the crashed thread against the
# one the test knew (the host's own, or the one the test started in the installer).
for name in ("reporter_e2e", "installer_e2e"):
    folder = os.path.join(data, name)
    if not os.path.exists(os.path.join(folder, "expected.txt")):
        continue
    expected = dict(line.split("=", 1) for line in open(os.path.join(folder, "expected.txt")).read().splitlines())
    log = open(os.path.join(folder, "crash.txt"), "rb").read()
    dump_path = os.path.join(folder, "crash.dmp")
    dump = open(dump_path, "rb").read()
    thread = int(expected["thread"])
    if b"\n" in log.replace(b"\r\n", b"") or b"\r\r" in log:
        fail(name + " log: a line end other than CR LF")
    if not re.match(rb"ZORVI-CRASHLOG V1 desktop\S* \d+\.\d+\.\d+\.\d+ \d+ windows x64 release\r\n" +
                    re.escape(expected["module"].encode()) +
                    rb" caused exception C0000005 at address [0-9A-F]{12} \(Base: [0-9A-F]{12}\)\r\n", log):
        fail("%s log: header %r" % (name, log[:200]))
    crashed = re.search(rb"\r\nThreadInfo: ([0-9A-F]{8})\r\nPriority=[0-9A-F]{8}\r\nCrashed=1\r\n", log)
    if not crashed or int(crashed.group(1), 16) != thread:
        fail(name + " log: the crashed thread is %r, the host's %d" % (crashed and crashed.group(1), thread))
    if b"\r\nCrash Logger:\r\n" not in log:
        fail(name + " log: no crash logger section")
    raw, signature, count, streams, index, listed = read_minidump(dump_path)
    if (crash_of(listed) or ())[:2] != (thread, 0xC0000005):
        fail(name + " dump: exception %r, expected thread %d" % (crash_of(listed), thread))
    if signature != b"MDMP" or VERSION_STREAM not in index or ASSERTION_TEXT_STREAM in index or len(raw) > 3072000:
        fail(name + " dump: streams %r, %d bytes" % (sorted(index), len(raw)))
    said = lldb(dump_path, "thread list")
    # The stopped thread (starred): the first one for the test host, the one started from outside in the installer.
    stop = re.search(r"\* thread #\d+: tid = (0x[0-9a-f]+), .*stop reason = Exception 0xc0000005", said)
    if not stop or int(stop.group(1), 16) != thread:
        fail(name + " dump: lldb-14 says %r" % said[-400:])
    log_form = dict(form_parts(open(os.path.join(folder, "log.body"), "rb").read(), expected["log_type"]))
    file_part = log_form.get("file")
    if not file_part or not file_part.get_filename().endswith(expected["zip"]):
        fail(name + " log form: file part %r" % (file_part and file_part.get_filename()))
    elif zipped_log(file_part, name + "_log") != log:
        fail(name + " log form: the zipped log differs from the kept one")
    if "stacktraceId" not in log_form or log_form["stacktraceId"].get_payload(decode=True) != b"e2e":
        fail(name + " log form: stacktraceId %r" % sorted(log_form))
    dump_form = dict(form_parts(open(os.path.join(folder, "dump.body"), "rb").read(), expected["dump_type"]))
    minidump = dump_form.get("upload_file_minidump")
    if not minidump or minidump.get_payload(decode=True) != dump:
        fail(name + " dump form: parts %r, the dump differs" % sorted(dump_form))
    checked.append("%s: reporter end to end (email, unzip -t, obj2yaml-14, lldb-14)" % expected["module"])

# A reporter's own crash: its log, zipped, names it as the crashed process; the time stored, as wine reg shows it.
path = os.path.join(data, "self_log.body")
if os.path.exists(path):
    form = dict(form_parts(open(path, "rb").read(), open(os.path.join(data, "self_log.type")).read()))
    log = zipped_log(form["file"], "self_log") if "file" in form else b""
    if not re.search(rb"\r\nprocess_type\W+crash_reporter", log):
        fail("self-crash log: no process type in %r" % log[:300])
    if b"crash_reporter_test_child.exe caused exception C0000005 at address 000000000000 " not in log:
        fail("self-crash log: header %r" % log[:300])
    checked.append("reporter self-crash log (email, unzip -t)")

# The modules text of the host against its file: the executable's image size as objdump reads it.
path = os.path.join(data, "modules.txt")
if os.path.exists(path):
    entries = re.findall(r"([^:]+):([0-9A-F]{16}):([0-9a-f]+):(.+?)::", open(path).read())
    names = [entry[0] for entry in entries]
    if names[:1] != ["crash_reporter_test_child.exe"] or "kernel32.dll" not in names or "zorvi.dll" in names:
        fail("modules text: %r" % names)
    objdump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p",
                              os.path.join(bin_dir, "crash_reporter_test_child.exe")],
                             capture_output=True).stdout.decode()
    size = re.search(r"SizeOfImage\s+([0-9a-fA-F]+)", objdump)
    if not size or int(size.group(1), 16) != int(entries[0][2], 16):
        fail("modules text: image size %s, objdump %r" % (entries[0][2], size and size.group(1)))
    checked.append("modules text (objdump)")

# The crash uploads: archives against their logs, and posted bodies parsed with Python's email module against
# what the tests sent (expected.txt: per body, its fields and its files).
folder = os.path.join(data, "zip")
if os.path.exists(os.path.join(folder, "expected.txt")):
    for line in open(os.path.join(folder, "expected.txt"), encoding="utf-8").read().splitlines():
        archive, log = (os.path.join(folder, p.replace("\\", "/")) for p in line.split("\t"))
        if unzipped_log(archive) != open(log, "rb").read():
            fail("%s: the entry differs from %s" % (archive, log))
    checked.append("crash log archives (unzip -t, zipinfo -v)")

def check_bodies(folder):
    expected = {}
    for line in open(os.path.join(folder, "expected.txt"), encoding="utf-8").read().splitlines():
        body, kind, *rest = line.split("\t")
        entry = expected.setdefault(body, {"fields": {}, "files": {}, "type": None})
        if kind == "field":
            entry["fields"][rest[0]] = rest[1] if len(rest) > 1 else ""
        elif kind == "json field":  # a value with line breaks, as a JSON string
            entry["fields"][rest[0]] = json.loads(rest[1])
        elif kind == "file":
            entry["files"][rest[0]] = rest[1:]
        else:
            entry["type"] = rest[0]
    for body, entry in expected.items():
        where = "%s/%s" % (os.path.basename(folder), body)
        raw = open(os.path.join(folder, body + ".body"), "rb").read()
        boundary = re.fullmatch(r"multipart/form-data; boundary=(.*)", entry["type"] or "")
        if not boundary or not re.fullmatch(r"-{27}[0-9A-F]{16}", boundary[1]):
            fail("%s: Content-Type %r" % (where, entry["type"]))
            continue
        if not raw.endswith(b"--" + boundary[1].encode() + b"--\r\n"):
            fail("%s: the body does not end with the closing boundary" % where)
        named_parts = form_parts(raw, entry["type"])
        names = [name for name, part in named_parts]
        # Fields first, then files, each in ascending order of their names.
        want = sorted(entry["fields"]) + sorted(entry["files"])
        if names != want:
            fail("%s: parts %r, expected %r" % (where, names, want))
            continue
        for name, part in named_parts:
            payload = part.get_payload(decode=True)
            if name in entry["fields"]:
                if payload.decode("utf-8") != entry["fields"][name] or part.get_filename() is not None:
                    fail("%s: field %s is %r" % (where, name, payload[:80]))
                continue
            path, copy, kind = entry["files"][name]
            sent = open(os.path.join(folder, copy), "rb").read()
            if part.get_filename() != path or part.get_content_type() != "application/octet-stream":
                fail("%s: file %s named %r as %r" % (where, name, part.get_filename(), part.get_content_type()))
            if kind == "zip":
                if zipped_log(part, where) != sent:
                    fail("%s: the zipped log differs" % where)
            elif payload != sent:
                fail("%s: file %s differs (%d bytes, %d sent)" % (where, name, len(payload), len(sent)))
    return len(expected)

for name in ("multipart", "queued"):
    folder = os.path.join(data, name)
    if os.path.exists(os.path.join(folder, "expected.txt")):
        checked.append("%d %s upload bodies (email)" % (check_bodies(folder), name))

for message_text in failures:
    print(message_text)
if failures:
    sys.exit(1)
print("checked: " + ", ".join(checked) if checked else "nothing to check: the crash client's tests did not run")
