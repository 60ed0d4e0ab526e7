#!/usr/bin/python3
"""An HTTP/1.1 test server on the loopback addresses that serves files and injects faults per path and request.

Usage (see README.md beside this file for the fault table):
  loopback_server.py --root DIR [--faults FILE] [--log FILE] [--port N] [--exclude-ports N,...]
                     [--lifetime SECONDS] [--control HOST:PORT] [--ready-file FILE]

It listens on 127.0.0.1 and 127.0.0.2 (a second address that tests can leave out of an allow-list), and on ::1
when the machine has it, all on one port: a free one unless --port names it. It also holds a bound port on which
nothing listens, so that connections to it are refused ("closed_port").

Once listening it announces itself with one JSON line, {"port", "closed_port", "ipv6", "pid"}: on standard
output, into --ready-file (written whole, then renamed into place), and over the control connection. A fixed
--port that a program other than such a server holds is announced instead as {"port_taken": reason}, and the
server exits with status 75.

It stops, finishing the request log, when the --lifetime passes (600 s by default), on SIGTERM or SIGINT, or
when the control connection says "stop" or closes (so it never outlives the test process that holds it). On the
control connection it says "received PATH" as each request's head arrives and "logged PATH" once its log line is
written, and answers a stop with "stopped" once the last log line is written.

Every request becomes one JSON line in --log: the connection number, listener and client addresses, method,
raw target, per-path request number, request headers, body length and SHA-256, status, response headers, body
bytes sent, the fault applied and whether the answer went out whole.
"""
import argparse
import email.utils
import errno
import fcntl
import hashlib
import json
import os
import select
import signal
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SERVER_NAME = "LoopbackTestServer/1.0"
LISTEN_ADDRESSES = (("127.0.0.1", socket.AF_INET), ("127.0.0.2", socket.AF_INET), ("::1", socket.AF_INET6))
COPY_CHUNK = 1 << 20
PORT_TAKEN_STATUS = 75


class FaultTable:
    """Faults per path: a list of entries, each taking the next `times` requests (1 by default, "all" for every
    request from there on). Requests to a path are numbered from 1 over all listeners."""

    def __init__(self, table):
        self.table = table
        self.lock = threading.Lock()
        self.counts = {}
        self.arrivals = 0

    def next_request(self, path):
        """The request's number for its path, its number over all paths in order of arrival, and its fault."""
        with self.lock:
            number = self.counts.get(path, 0) + 1
            self.counts[path] = number
            self.arrivals += 1
            arrival = self.arrivals
        remaining = number
        for fault in self.table.get(path, []):
            times = fault.get("times", 1)
            if times == "all" or remaining <= times:
                return number, arrival, fault
            remaining -= times
        return number, arrival, None


class RequestLog:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8") if path else None
        self.lock = threading.Lock()
        self.sequence = 0

    def write(self, entry):
        with self.lock:
            self.sequence += 1
            entry["sequence"] = self.sequence
            if self.file:
                self.file.write(json.dumps(entry, sort_keys=True) + "\n")
                self.file.flush()

    def close(self):
        with self.lock:
            if self.file:
                self.file.close()
                self.file = None


class Shared:
    """What every listener shares: files, faults, the log, open connections and the stop signal."""

    def __init__(self, root, faults, log, bodies=None):
        self.root = os.path.realpath(root)
        self.bodies = bodies
        self.faults = faults
        self.log = log
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        self.connections = {}
        self.connection_count = 0
        self.port = 0
        self.closed_port = 0
        self.control = None

    def notify(self, line):
        """Tells the control connection, if any, one line."""
        with self.lock:
            if self.control:
                try:
                    self.control.sendall(line.encode() + b"\n")
                except OSError:
                    pass

    def add_connection(self, sock):
        with self.lock:
            self.connection_count += 1
            self.connections[self.connection_count] = (sock, threading.current_thread())
            return self.connection_count

    def remove_connection(self, number):
        with self.lock:
            self.connections.pop(number, None)

    def close_connections(self):
        """Ends every open connection and waits for its handler, which writes the connection's last log line."""
        for _ in range(3):  # a handler that was starting during the first pass is caught by the next
            with self.lock:
                open_connections = list(self.connections.values())
            if not open_connections:
                return
            for sock, _ in open_connections:
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            for _, thread in open_connections:
                thread.join(10)

    def file_for(self, path):
        """The served file of a URL path, or None; nothing outside the root is ever served."""
        relative = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, relative))
        if not full.startswith(self.root + os.sep) or not os.path.isfile(full):
            return None
        return full


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = SERVER_NAME
    sys_version = ""

    def setup(self):
        super().setup()
        self.shared = self.server.shared
        self.connection_number = self.shared.add_connection(self.connection)

    def finish(self):
        self.shared.remove_connection(self.connection_number)
        try:
            super().finish()
        except OSError:
            pass

    def log_message(self, format, *args):  # the JSON log replaces the default stderr lines
        pass

    def version_string(self):
        return SERVER_NAME

    def serve(self):
        path = urllib.parse.urlsplit(self.path).path
        number, arrival, fault = self.shared.faults.next_request(path)
        self.shared.notify("received " + path)
        fault = fault or {}
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.shared.bodies:  # kept by content, so a test finds a request's body by its digest
            with open(os.path.join(self.shared.bodies, hashlib.sha256(body).hexdigest()), "wb") as f:
                f.write(body)
        self.entry = {
            "connection": self.connection_number,
            "listener": "%s:%d" % self.server.server_address[:2],
            "client": "%s:%d" % self.client_address[:2],
            "method": self.command,
            "target": self.path,
            "path": path,
            "request_number": number,
            "arrival": arrival,
            "version": self.request_version,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body_length": len(body),
            "body_sha256": hashlib.sha256(body).hexdigest(),
            "fault": fault or None,
            "status": None,
            "response_headers": [],
            "bytes_sent": 0,
            "complete": False,
        }
        try:
            self.answer(fault)
        except OSError:
            self.close_connection = True
        finally:
            self.shared.log.write(self.entry)
            self.shared.notify("logged " + path)

    do_GET = do_HEAD = do_POST = serve

    def begin(self, status, headers):
        self.entry["status"] = status
        self.send_response(status)
        self.send_header("X-Served-By", "loopback %s" % self.entry["listener"])
        for name, value in headers:
            self.send_header(name, value)
        # What went out, Date and Server included, for tests that compare what the client recorded.
        sent = self._headers_buffer[1:]
        self.entry["response_headers"] = [line.decode("latin-1").rstrip("\r\n").split(": ", 1) for line in sent]
        self.end_headers()

    def answer(self, fault):
        # A slow server: nothing for this long; a client that gives up meanwhile gets nothing at all.
        if "delay" in fault and self.hold_until_closed(float(fault["delay"])):
            self.close_connection = True
            return
        if fault.get("silent"):  # takes the request and never answers
            self.hold_until_closed()
            self.close_connection = True
            return
        if fault.get("close"):
            self.close_connection = True
            self.entry["complete"] = True
            return
        if "trickle" in fault:
            self.trickle(fault)
            self.close_connection = True
            return
        if "raw" in fault:  # a malformed answer: these bytes, then the connection closes
            self.close_connection = True
            self.wfile.write(self.expand(fault["raw"]).encode("latin-1"))
            self.entry["complete"] = True
            return
        data, source = self.content(fault)
        status = fault.get("status")
        if status is not None or (data is None and source is None):
            status = status if status is not None else 404
            if data is None:
                data = ("%d from the loopback server\n" % status).encode()
            headers = [(name, value) for name, value in fault.get("headers", {}).items()]
            if "location" in fault:
                headers.append(("Location", self.expand(fault["location"])))
            headers.append(("Content-Type", fault.get("content_type", "text/plain")))
            self.send_bytes(status, headers, data, 0, len(data), fault)
            return
        size = len(data) if source is None else os.path.getsize(source)
        start, status, extra = 0, 200, []
        wanted = self.requested_start()
        if wanted is not None and not fault.get("ignore_range"):
            if wanted >= size:
                extra = [("Content-Range", "bytes */%d" % size)]
                self.send_bytes(416, extra, b"", 0, 0, fault)
                return
            start, status = min(int(fault.get("range_start", wanted)), size - 1), 206
            extra = [("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))]
        headers = [("Content-Type", fault.get("content_type", "application/octet-stream")),
                   ("Accept-Ranges", "bytes")] + extra
        for name, value in fault.get("headers", {}).items():
            headers.append((name, value))
        if source is None:
            self.send_bytes(status, headers, data, start, size, fault)
        else:
            with open(source, "rb") as f:
                self.send_file(status, headers, f, start, size, fault)

    def trickle(self, fault):
        """An answer that never ends: `trickle_bytes` bytes (1 by default) every `trickle` seconds until the client
        closes, the server stops or `trickle_for` seconds have passed. The head (`status`, 200 by default, without
        a length) goes out at once and the body drips; with `trickle_head` the head drips too, its last header never
        ending."""
        every, size = float(fault["trickle"]), int(fault.get("trickle_bytes", 1))
        end = time.monotonic() + float(fault["trickle_for"]) if "trickle_for" in fault else None
        status = int(fault.get("status", 200))
        self.entry["status"] = status
        head = b"HTTP/1.1 %d Trickle\r\nConnection: close\r\n" % status
        pending = head + b"X-Trickle: " if fault.get("trickle_head") else b""
        if not pending:
            self.wfile.write(head + b"\r\n")
            self.wfile.flush()
        while not self.shared.stopping.is_set() and (end is None or time.monotonic() < end):
            piece, pending = pending[:size], pending[size:]
            piece += b"x" * (size - len(piece))
            self.connection.sendall(piece)
            self.entry["bytes_sent"] += len(piece)
            if every > 0 and self.hold_until_closed(every):
                return

    def content(self, fault):
        """(bytes, None) for a body given by the fault, (None, path) for a served file, (None, None) for none."""
        if "body" in fault:
            return self.expand(fault["body"]).encode("utf-8"), None
        if "body_file" in fault:
            path = self.shared.file_for(fault["body_file"])
            return (None, path) if path else (None, None)
        path = self.shared.file_for(self.entry["path"])
        return (None, path) if path else (None, None)

    def expand(self, text):
        """A location or body may name the server's own ports, which are known only once it listens."""
        return text.replace("{port}", str(self.shared.port)).replace("{closed_port}", str(self.shared.closed_port))

    def requested_start(self):
        value = self.headers.get("Range", "")
        if not value.startswith("bytes="):
            return None
        first = value[len("bytes="):].split(",")[0].split("-")[0].strip()
        return int(first) if first.isdigit() else None

    def head_for(self, status, headers, start, size, fault):
        """Sends the head; returns how many body bytes to send (None: until the connection closes)."""
        length = size - start
        if fault.get("no_content_length"):
            self.close_connection = True
            headers = headers + [("Connection", "close")]
        else:
            headers = headers + [("Content-Length", str(length))]
        self.begin(status, headers)
        if self.command == "HEAD":
            return 0
        if "truncate" in fault:
            self.close_connection = True
            return min(length, int(fault["truncate"]))
        if "stall" in fault:
            return min(length, int(fault["stall"]))
        return length

    def send_bytes(self, status, headers, data, start, size, fault):
        count = self.head_for(status, headers, start, size, fault)
        self.wfile.write(data[start:start + count])
        self.entry["bytes_sent"] = count
        self.end_answer(fault, count == size - start or self.command == "HEAD")

    def send_file(self, status, headers, f, start, size, fault):
        count = self.head_for(status, headers, start, size, fault)
        sent = 0
        while sent < count:
            done = self.connection.sendfile(f, start + sent, min(COPY_CHUNK, count - sent))
            if done == 0:
                break
            sent += done
            self.entry["bytes_sent"] = sent
        self.end_answer(fault, sent == size - start or self.command == "HEAD")

    def end_answer(self, fault, whole):
        self.entry["complete"] = whole
        if "stall" in fault and not whole:
            self.hold_until_closed()
            self.close_connection = True

    def hold_until_closed(self, seconds=None):
        """Nothing more is sent until the client gives up (True), the server stops or `seconds` have passed."""
        end = None if seconds is None else time.monotonic() + seconds
        while not self.shared.stopping.is_set() and (end is None or time.monotonic() < end):
            readable, _, _ = select.select([self.connection], [], [], 0.2)
            if readable:
                try:
                    if not self.connection.recv(4096, socket.MSG_PEEK):
                        return True
                except OSError:
                    return True
                # The client sent more while stalled (a pipelined request): drop it, keep holding.
                self.connection.recv(4096)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, address, family, shared):
        self.address_family = family
        self.shared = shared
        super().__init__(address, Handler)


def bind_listeners(shared, port, excluded):
    """Binds every loopback address on one port; with port 0 a free one that all of them have, not one of
    `excluded`."""
    for _ in range(50):
        servers = []
        try:
            first = Server(("127.0.0.1", port), socket.AF_INET, shared)
            servers.append(first)
            chosen = first.server_address[1]
            if not port and chosen in excluded:
                raise OSError("port %d is excluded" % chosen)
            for host, family in LISTEN_ADDRESSES[1:]:
                try:
                    servers.append(Server((host, chosen), family, shared))
                except OSError as error:
                    if family == socket.AF_INET6 and error.errno in (97, 99):  # no IPv6 on this machine
                        continue
                    raise
            return servers, chosen
        except OSError:
            for server in servers:
                server.server_close()
            if port:
                raise
    raise OSError("no free port shared by every loopback address")


def write_ready_file(path, line):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(line + "\n")
    os.replace(temporary, path)


def watch_control(sock, stop):
    """Stops the server when the control connection says "stop" or closes."""
    received = b""
    while not stop.is_set():
        readable, _, _ = select.select([sock], [], [], 0.5)
        if not readable:
            continue
        try:
            data = sock.recv(4096)
        except OSError:
            data = b""
        if not data:
            break
        received += data
        if b"stop" in received:
            break
    stop.set()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True, help="folder whose files are served by path")
    parser.add_argument("--faults", help="JSON fault table file")
    parser.add_argument("--log", help="request log, one JSON line per request (appended)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 (default) picks a free one")
    parser.add_argument("--exclude-ports", default="",
                        help="comma-separated ports not to pick (a client may still hold pooled connections to "
                             "an earlier server on them)")
    parser.add_argument("--lifetime", type=float, default=600, help="seconds after which the server stops")
    parser.add_argument("--control", help="HOST:PORT to connect to, announce on, and take the stop from")
    parser.add_argument("--ready-file", help="file that receives the announcement line")
    parser.add_argument("--bodies", help="folder that receives each request body, named by its SHA-256")
    options = parser.parse_args()

    faults = {}
    if options.faults:
        with open(options.faults, encoding="utf-8") as f:
            faults = json.load(f)
    control = None
    if options.control:
        host, _, port = options.control.rpartition(":")
        control = socket.create_connection((host, int(port)), timeout=30)
        control.settimeout(None)

    if options.bodies:
        os.makedirs(options.bodies, exist_ok=True)
    if options.port:
        # A fixed port belongs to the whole machine: servers of other test runs on it (other clones of the
        # project) wait here for each other instead of failing to bind. The lock goes with the process. It lives
        # in /tmp itself, not in TMPDIR, which the wine harness points into each run's own prefix.
        port_lock = open("/tmp/loopback_server_port_%d.lock" % options.port, "a")
        fcntl.flock(port_lock, fcntl.LOCK_EX)
    shared = Shared(options.root, FaultTable(faults), RequestLog(options.log), options.bodies)
    excluded = {int(p) for p in options.exclude_ports.split(",") if p.strip()}
    try:
        servers, port = bind_listeners(shared, options.port, excluded)
    except OSError as error:
        if not options.port or error.errno != errno.EADDRINUSE:
            raise
        # Our own servers wait for each other above: another program holds the port. Its callers skip, saying so.
        refusal = json.dumps({"port_taken": "port %d is in use by a program other than this server"
                                            % options.port})
        if control:
            control.sendall(refusal.encode() + b"\n")
        else:
            print(refusal, flush=True)
        if options.ready_file:
            write_ready_file(options.ready_file, refusal)
        return PORT_TAKEN_STATUS
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)  # bound, never listening: connections are refused
    closed.bind(("127.0.0.1", 0))
    shared.port, shared.closed_port = port, closed.getsockname()[1]
    threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
               for server in servers]
    for thread in threads:
        thread.start()

    stop = threading.Event()
    for signal_number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signal_number, lambda *_: stop.set())
    announcement = json.dumps({"port": port, "closed_port": closed.getsockname()[1],
                               "ipv6": any(s.address_family == socket.AF_INET6 for s in servers),
                               "pid": os.getpid()})
    if not options.control:
        print(announcement, flush=True)
    if options.ready_file:
        write_ready_file(options.ready_file, announcement)
    if control:
        control.sendall(announcement.encode() + b"\n")
        shared.control = control
        threading.Thread(target=watch_control, args=(control, stop), daemon=True).start()

    deadline = time.monotonic() + options.lifetime
    while not stop.wait(min(1.0, max(0.0, deadline - time.monotonic()))):
        if time.monotonic() >= deadline:
            break

    shared.stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    shared.close_connections()
    closed.close()
    shared.log.close()
    if control:
        try:
            shared.notify("stopped")
            control.close()
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
