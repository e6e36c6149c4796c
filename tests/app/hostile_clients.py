#!/usr/bin/env python3
"""Driftpost against hostile and careless clients, on loopback.

Usage: hostile_clients.py DRIFTPOST [CASE...]

Runs the built program in a folder of its own (RequestTimeout 2 s, header logging on) and
tries each case below on it. Every case is bounded in time and followed by the same checks:
a plain GET / is still answered within a second, the program holds no more descriptors than
before (/proc/<pid>/fd, once the case's connections are gone) and its memory (VmRSS) has not
grown by more than a few megabytes. Prints one line per case and exits 1 when one failed.
"""
import hashlib, os, random, re, resource, shutil, signal, socket, struct, subprocess, sys, tempfile, threading
import time, urllib.parse

TIMEOUT = 2                 # the program's RequestTimeout in these runs, seconds
BIG = 50 << 20              # the large shared file
CASE_LIMIT = 60             # seconds any one case may take
DESCRIPTORS = 1024          # what this process may open; raised in main() as far as allowed


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_bmp(path, width, height):
    """A 24-bit bottom-up BMP with a gradient, written row by row."""
    stride = (width * 3 + 3) & ~3
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", 54 + stride * height, 0, 0, 54))
        out.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height, 2835, 2835, 0, 0))
        row = bytes((x * 7 + c * 50) & 0xFF for x in range(width) for c in range(3)).ljust(stride, b"\0")
        for _ in range(height):
            out.write(row)


class Program:
    """The program running in `folder`, its log written to a file."""

    def __init__(self, executable, folder, settings, shares):
        self.folder = folder
        self.port = free_port()
        shutil.copy(executable, os.path.join(folder, "driftpost"))
        with open(os.path.join(folder, "driftpost.ini"), "w") as ini:
            ini.write("[Data]\r\nPort=%d\r\n%s" % (self.port, settings))
        if shares is not None:
            with open(os.path.join(folder, "driftpost.container"), "wb") as container:
                container.write(b"".join(os.fsencode(path) + b"\r\n" for path in shares))
        self.log_path = os.path.join(folder, "log")
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment["QT_QPA_PLATFORM"] = "offscreen"
        self.process = subprocess.Popen([os.path.join(folder, "driftpost")], cwd=folder, env=environment,
                                        stdout=open(self.log_path, "wb"), stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, "rb") as log:
            return log.read()

    def wait_for_log(self, text, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.log():
                return True
            if self.process.poll() is not None:
                return False
            time.sleep(0.05)
        return False

    def descriptors(self):
        return len(os.listdir("/proc/%d/fd" % self.process.pid))

    def rss_kb(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


# ---------------------------------------------------------------- client helpers

def connect(port, timeout=10):
    peer = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return peer


def read_all(peer, limit=None):
    """Everything until the server closes (a reset is an error)."""
    parts, total = [], 0
    while True:
        part = peer.recv(1 << 20)
        if not part:
            return b"".join(parts)
        parts.append(part)
        total += len(part)
        if limit is not None and total >= limit:
            return b"".join(parts)


def split(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    fields = dict(line.split(b": ", 1) for line in lines[1:] if b": " in line)
    return lines[0], fields, body


def exchange(port, request, timeout=10):
    with connect(port, timeout) as peer:
        peer.sendall(request)
        return read_all(peer)


def read_head(peer):
    raw = b""
    while b"\r\n\r\n" not in raw:
        part = peer.recv(4096)
        check(part, "the connection ended before the answer's header")
        raw += part
    status, fields, body = split(raw)
    return status, int(fields[b"Content-Length"]), body


def answered_quickly(port, seconds=1.0):
    started = time.monotonic()
    raw = exchange(port, b"GET / HTTP/1.0\r\n\r\n", timeout=seconds)
    return raw.startswith(b"HTTP/1.0 200 OK") and time.monotonic() - started < seconds


def digest(data):
    return hashlib.sha256(data).hexdigest()


# ---------------------------------------------------------------- the cases

class Suite:
    def __init__(self, executable, folder):
        self.executable = executable
        self.folder = folder
        self.files = {}
        shares = []

        def share(name, content=None, path=None):
            path = path or os.path.join(folder, "shared", name)
            if content is not None:
                with open(path, "wb") as out:
                    out.write(content)
            self.files[name] = path
            shares.append(path)

        os.makedirs(os.path.join(folder, "shared"))
        random.seed(11)
        self.big = random.randbytes(BIG)
        share("big.bin", self.big)
        share("song.wav", b"RIFF" + bytes(range(256)) * 64)
        share("Case.txt", b"upper case")
        share("case.txt", b"lower case")
        share("\u65e5.txt", b"sun")
        share("\u672c.txt", b"book")
        share("swapped.txt", b"soon a pipe")
        share("swapped.bmp", b"BM soon a pipe")
        share("huge.bin", b"")
        os.truncate(self.files["huge.bin"], 1 << 30)  # sparse: 1 GiB that takes no room
        share("grows.bin", self.big[:4 << 20])
        share("shrinks.bin", self.big[:8 << 20])
        write_bmp(os.path.join(folder, "shared", "large.bmp"), 4000, 3000)
        share("large.bmp")
        settings = "DisplayHeader=1\r\nRequestTimeout=%d\r\n" % TIMEOUT
        self.program = Program(executable, folder, settings, shares)
        check(self.program.wait_for_log(b"Server is waiting for connections"), "the program did not start")
        self.port = self.program.port
        index = exchange(self.port, b"GET / HTTP/1.0\r\n\r\n")
        links = re.findall(rb'<A HREF="([^"]*)">([^<]*)</a>', index, re.I)
        # Pictures, sounds and packages by their text; others by the path their link names
        # (two texts may both read "?.txt").
        self.links = {text: target for target, text in links}
        self.others = {urllib.parse.unquote_to_bytes(target.decode("latin-1")): target for target, _ in links}

    def link(self, name):
        path = os.fsencode(self.files[name])
        return self.others.get(path) or self.links[name.encode("iso8859_15", "replace")]

    def get_request(self, name):
        return b"GET /" + self.link(name).lstrip(b"/") + b" HTTP/1.0\r\n\r\n"

    def fetch(self, name, request=None):
        return split(exchange(self.port, request or self.get_request(name)))

    def log_since(self, mark):
        return self.program.log()[mark:]

    # 1
    def case_resets_before_accept(self):
        """Clients that reset at once, also while a large picture is converted."""
        def reset_burst(count):
            for _ in range(count):
                peer = socket.socket()
                peer.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                peer.connect(("127.0.0.1", self.port))
                peer.close()

        reset_burst(200)
        check(answered_quickly(self.port), "no answer after 200 resets")
        picture = {}
        converting = threading.Thread(target=lambda: picture.update(raw=exchange(
            self.port, b"GET /" + self.link("large.bmp").replace(b".html", b".jpeg") + b" HTTP/1.0\r\n\r\n", 30)))
        converting.start()
        time.sleep(0.05)
        reset_burst(100)
        converting.join()
        check(picture["raw"].startswith(b"HTTP/1.0 200 OK"), "the picture was not sent")
        check(b"Server stopped" not in self.program.log(), "the server stopped")

    # 2
    def case_half_close_gets_the_whole_answer(self):
        """A client that shuts down sending after its request still gets all of the answer."""
        for name, expected in (("big.bin", self.big), (None, None)):
            with connect(self.port) as peer:
                peer.sendall(self.get_request(name) if name else b"GET / HTTP/1.0\r\n\r\n")
                peer.shutdown(socket.SHUT_WR)
                status, length, body = read_head(peer)
                body += read_all(peer)
            check(status == b"HTTP/1.0 200 OK" and len(body) == length, "cut answer: %d of %d" % (len(body), length))
            if expected is not None:
                check(digest(body) == digest(expected), "the body differs from the file")

    # 3
    def case_bytes_after_the_request(self):
        """Input after the request is dropped while the answer goes on; a close with unread
        input lets the answer arrive first."""
        with connect(self.port) as peer:
            peer.sendall(self.get_request("big.bin") + b"x" * (100 << 10))
            status, length, body = read_head(peer)
            body += read_all(peer)
        check(len(body) == length and digest(body) == digest(self.big), "cut answer: %d of %d" % (len(body), length))
        # Far more than the server reads: it stops reading, finishes the answer and closes.
        with connect(self.port, 30) as peer:
            peer.sendall(self.get_request("big.bin"))
            flood = threading.Thread(target=self.flood, args=(peer, 16 << 20))
            flood.start()
            status, length, body = read_head(peer)
            body += read_all(peer)
            flood.join()
        check(len(body) == length and digest(body) == digest(self.big), "flooded answer: %d of %d" % (len(body), length))
        # The answer is read only after the server has closed with unread input.
        with connect(self.port) as peer:
            peer.sendall(b"GET / HTTP/1.0\r\n\r\n" + b"y" * (200 << 10))
            time.sleep(0.5)
            raw = read_all(peer)
        status, fields, body = split(raw)
        check(status == b"HTTP/1.0 200 OK" and len(body) == int(fields[b"Content-Length"]), "index page cut short")

    @staticmethod
    def flood(peer, count):
        block = b"z" * 65536
        try:
            for _ in range(count // len(block)):
                peer.sendall(block)
        except OSError:
            pass  # the server closed after its answer

    # 4
    def case_idle_clients_time_out(self):
        """Silent, half-header, trickling and non-reading clients are closed after the
        timeout and logged; meanwhile others are served."""
        mark = len(self.program.log())
        silent = [connect(self.port) for _ in range(300)]
        half = connect(self.port)
        half.sendall(b"GET / HTTP/1.0\r\nHost: x")
        trickle = connect(self.port)
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.connect(("127.0.0.1", self.port))
        stalled.sendall(self.get_request("big.bin"))
        check(answered_quickly(self.port), "not served beside 300 silent clients")
        started = time.monotonic()
        for byte in b"GET / HTTP/1.0\r\nX-Slow: " + b"s" * 40:
            try:
                trickle.send(bytes([byte]))
            except OSError:
                break
            time.sleep(0.25)
        trickle_closed = time.monotonic() - started
        check(trickle_closed < TIMEOUT + 1.5, "a trickling client stayed %.1f s" % trickle_closed)
        for peer in silent + [half]:
            peer.settimeout(TIMEOUT + 3)
            check(peer.recv(1) == b"", "a silent client got bytes")
        check(self.program.wait_for_log(b"no progress", 2 * TIMEOUT), "the stalled answer was not dropped")
        stalled.settimeout(TIMEOUT + 5)
        try:
            while stalled.recv(65536):
                pass
        except ConnectionResetError:
            pass
        for peer in silent + [half, trickle, stalled]:
            peer.close()
        log = self.log_since(mark)
        check(log.count(b"no complete request within") >= 301, "timeouts not logged:\n" + log[-400:].decode("latin-1"))

    # 5
    def case_file_answers_hold_one_block(self):
        """Twenty clients on a 50 MB file; a file that grows or shrinks while it is sent."""
        before = self.program.rss_kb()
        peers = [connect(self.port, 30) for _ in range(20)]
        for peer in peers:
            peer.sendall(self.get_request("big.bin"))
        for peer in peers:
            status, length, body = read_head(peer)
            check(length == BIG, "Content-Length %d" % length)
            read_all(peer, 1 << 20)
        time.sleep(0.3)
        grown = self.program.rss_kb() - before
        check(grown < 64 << 10, "20 answers of a 50 MB file took %d MB" % (grown >> 10))
        for peer in peers:
            peer.close()
        self.memory_note = "20 clients on a 50 MB file: +%d kB" % grown
        # A 1 GiB file starts at once and holds nothing back.
        with connect(self.port) as peer:
            started = time.monotonic()
            peer.sendall(self.get_request("huge.bin"))
            status, length, body = read_head(peer)
            body += read_all(peer, 1 << 20)
            check(time.monotonic() - started < 1 and length == 1 << 30, "1 GiB file: %d after %.1f s" % (
                length, time.monotonic() - started))

        mark = len(self.program.log())
        with connect(self.port) as peer:
            peer.sendall(self.get_request("grows.bin"))
            status, length, body = read_head(peer)
            with open(self.files["grows.bin"], "ab") as grows:
                grows.write(b"more" * (1 << 18))
            body += read_all(peer)
        check(length == 4 << 20 and body == self.big[:4 << 20], "a growing file sent %d bytes" % len(body))
        with connect(self.port) as peer:
            peer.sendall(self.get_request("shrinks.bin"))
            status, length, body = read_head(peer)
            body += read_all(peer, 1 << 20)
            os.truncate(self.files["shrinks.bin"], 2 << 20)
            body += read_all(peer)
        check(length == 8 << 20 and len(body) < length and body == self.big[:len(body)],
              "a shrinking file sent %d of %d bytes" % (len(body), length))
        check(self.program.wait_for_log(b"shorter", 5), "the shrunk file was not logged")

    # 6
    def case_shared_file_swapped_for_a_pipe(self):
        for name, request in (("swapped.txt", None),
                              ("swapped.bmp", b"GET /" + self.link("swapped.bmp").replace(b".html", b".jpeg") +
                               b" HTTP/1.0\r\n\r\n")):
            os.remove(self.files[name])
            os.mkfifo(self.files[name])
            started = time.monotonic()
            status, fields, body = self.fetch(name, request)
            check(time.monotonic() - started < 2, "a pipe held the program")
            check(status.startswith(b"HTTP/1.0 500"), "a pipe was answered with " + status.decode("latin-1"))

    # 7
    def case_terminal_escapes_are_shown_escaped(self):
        mark = len(self.program.log())
        evil = b"/\x1b[2J\x07\x9b\x00\rend"
        exchange(self.port, b"GET " + evil + b" HTTP/1.0\r\nX-Title: \x1b]0;owned\x07\xc2\x9b\r\n\r\n")
        time.sleep(0.2)
        log = self.log_since(mark)
        for raw in (b"\x1b", b"\x07", b"\x9b", b"\x00", b"\r"):
            check(raw not in log, "raw %r in the log" % raw)
        check(b"GET /\\x1B[2J\\x07\\x9B\\x00\\x0Dend" in log, "escaped path missing:\n" + log.decode("latin-1"))
        check(b"X-Title: \\x1B]0;owned\\x07\\xC2\\x9B" in log, "escaped header missing")

    # 8
    def case_other_links_name_their_own_files(self):
        for name, content in (("Case.txt", b"upper case"), ("case.txt", b"lower case"),
                              ("\u65e5.txt", b"sun"), ("\u672c.txt", b"book")):
            target = self.link(name)
            current = urllib.parse.quote(urllib.parse.unquote_to_bytes(target.decode("latin-1")), "/%")
            for request in (target, current.encode()):
                status, fields, body = self.fetch(name, b"GET /" + request.lstrip(b"/") + b" HTTP/1.0\r\n\r\n")
                check(body == content, "%s via %r gave %r" % (name, request, body[:40]))

    # 10
    def case_small_faults(self):
        raw = exchange(self.port, b"HEAD /nothing HTTP/1.0\r\n\r\n")
        check(raw.endswith(b"\r\n\r\n") and b"Content-Length: " in raw, "HEAD 404 with a body: %r" % raw[-40:])
        raw = exchange(self.port, b'POST /<b>&"x" HTTP/1.0\r\n\r\n')
        check(b"URL /&lt;b&gt;&amp;&quot;x&quot; was not" in raw, "404 page not escaped")
        for version, expected in ((b"JUNK\x1b", b"HTTP/1.0"), (b"http/1.1", b"HTTP/1.1"), (b"HTTP/12.0", b"HTTP/1.0")):
            raw = exchange(self.port, b"GET / " + version + b"\r\n\r\n")
            check(raw.startswith(expected + b" 200 OK\r\n"), "status line %r" % raw[:20])
        # A burst of connections is taken at once, not some of them a second later.
        burst, crowd = min(1000, DESCRIPTORS // 4), min(2000, DESCRIPTORS // 2)
        peers = []
        started = time.monotonic()
        for _ in range(burst):
            peer = socket.socket()
            peer.setblocking(False)
            peer.connect_ex(("127.0.0.1", self.port))
            peers.append(peer)
        import select
        pending = list(peers)
        while pending and time.monotonic() - started < 0.8:
            _, writable, _ = select.select([], pending[:500], [], 0.05)
            pending = [peer for peer in pending if peer not in writable]
        check(not pending, "%d of %d connections waited" % (len(pending), burst))
        # Thousands of clients leaving at once are freed quickly.
        peers += [connect(self.port) for _ in range(crowd)]
        time.sleep(0.5)
        for peer in peers:
            peer.close()
        started = time.monotonic()
        check(answered_quickly(self.port, 2.0), "no answer while %d clients left" % len(peers))
        self.free_note = "%d clients left at once, the next answer came after %.2f s" % (
            len(peers), time.monotonic() - started)

    # 9 runs a program of its own
    def case_unreadable_share_list_is_kept(self):
        folder = os.path.join(self.folder, "unreadable")
        os.makedirs(folder)
        container = os.path.join(folder, "driftpost.container")
        os.mkfifo(container)
        program = Program(self.executable, folder, "", None)
        try:
            check(program.wait_for_log(b"Server is waiting for connections", 10), "no start with a pipe as list")
            check(program.wait_for_log(b"could not be read", 2), "the failed load was not logged")
        finally:
            status = program.stop()
        check(status is not None, "no orderly end")
        check(os.path.exists(container) and not os.path.isfile(container), "the share list was written over")


def run_case(suite, name):
    method = getattr(suite, "case_" + name)
    program = suite.program
    check(answered_quickly(suite.port), "not answering before the case")
    fds, rss = program.descriptors(), program.rss_kb()

    def on_alarm(*_):
        raise Failure("took longer than %d s" % CASE_LIMIT)

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(CASE_LIMIT)
    try:
        method()
    finally:
        signal.alarm(0)
    check(program.process.poll() is None, "the program ended")
    check(answered_quickly(suite.port), "no quick answer after the case")
    deadline = time.monotonic() + TIMEOUT + 3
    while program.descriptors() > fds and time.monotonic() < deadline:
        time.sleep(0.1)
    check(program.descriptors() <= fds, "descriptors: %d before, %d after" % (fds, program.descriptors()))
    grown = program.rss_kb() - rss
    check(grown < 16 << 10, "memory grew by %d kB" % grown)
    return "fds %d, VmRSS %+d kB" % (fds, grown)


def main():
    executable, wanted = os.path.abspath(sys.argv[1]), sys.argv[2:]
    global DESCRIPTORS
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    DESCRIPTORS = max(soft, min(hard, 8192))
    resource.setrlimit(resource.RLIMIT_NOFILE, (DESCRIPTORS, hard))
    DESCRIPTORS -= 200  # the program's own and this script's
    names = [name[5:] for name in dir(Suite) if name.startswith("case_")]
    names.sort(key=lambda name: Suite.__dict__["case_" + name].__code__.co_firstlineno)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        suite = Suite(executable, folder)
        try:
            for name in names:
                if wanted and name not in wanted:
                    continue
                started = time.monotonic()
                try:
                    note = run_case(suite, name)
                    print("ok   %-45s %5.1f s  %s" % (name, time.monotonic() - started, note), flush=True)
                except Exception as error:  # every failure of a case is reported, then the next runs
                    failures += 1
                    print("FAIL %-45s %5.1f s  %s: %s" % (name, time.monotonic() - started, type(error).__name__,
                                                         error), flush=True)
            for note in ("memory_note", "free_note"):
                if hasattr(suite, note):
                    print("     " + getattr(suite, note))
        finally:
            status = suite.program.stop()
        if status != 0:
            print("FAIL the program ended with %s" % status)
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
