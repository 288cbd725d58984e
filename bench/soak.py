#!/usr/bin/env python3
"""soak.py [--server PATH] [--clients N] [--minutes M] [--seed S]: a bounded soak of nuboftpd.

Starts the given nuboftpd (--server, else $NUBOFTPD) on a free port of 127.0.0.1 in a
temporary --dir, lets N clients do random FTP work for M minutes (logins, listings,
downloads, uploads, aborts, cut connections, idle pauses, malformed lines), stops them,
and checks that the server came through intact:

  - it is alive, and a fresh client still logs in, lists, downloads and uploads;
  - every upload it answered with 226 is on disk byte for byte as sent (SHA-256), the
    data set it served is unchanged, and nothing appeared where no account may write;
  - every reply a correct server gives was given (a download of the data set arrives
    whole, a refused upload is refused, ...), and no reply took longer than the time-out;
  - its open descriptors are back to the count measured after start-up;
  - its resident memory did not keep growing (median of the last third of the samples
    against the median of the first third);
  - its output holds no sanitizer report, and it ends with 0 on SIGTERM.

Prints a table of figures and exits 1 when a check failed. Python's standard library
only. Every socket has a time-out, every loop a deadline, every connection goes to
127.0.0.1, and only the server started here is stopped, by its PID.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback
from collections import Counter, deque

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import nubo  # noqa: E402  the tests' helper: nuboftpd in a temporary --dir, stopped by its PID

HOST = "127.0.0.1"
KIB, MIB = 1 << 10, 1 << 20
REPLY_TIMEOUT = 60.0       # seconds: one reply, one read or write of a data connection
CONNECT_TIMEOUT = 20.0     # seconds: one connection to the server or from it
TRANSFER_BUDGET = 240.0    # seconds: one transfer from its command to its last reply
MAX_REPLY_LINES = 10000    # lines of one multi-line reply
IDLE_TIMEOUT_MIN = 1       # Time-Out of the anonymous account, minutes
STOP_GRACE = REPLY_TIMEOUT + TRANSFER_BUDGET + 30   # clients still busy at the end get this long
OWN_FILES_CAP = 6          # a client deletes before it holds more uploads than this
SANITIZER = re.compile(rb"(ERROR|WARNING): \w*Sanitizer|runtime error:")


class Anomaly(Exception):
    """The server did what a correct server does not; counted, and the session dropped.
    key: a short kind, so that the table counts alike anomalies together."""

    def __init__(self, text, key=None):
        super().__init__(text)
        self.key = key or text[:60]


class SessionOver(Exception):
    """The session ended on purpose: a cut connection, an overlong line, an idle time-out."""


# --- the data set ----------------------------------------------------------------------

def make_dataset(root, rng):
    """Files of the sizes that matter (empty, one byte, odd sizes, several blocks), a name
    with a blank and one in Hangul, and a folder of small files; returns {relative path:
    content}. Every download is compared with these contents."""
    files = {
        "empty.bin": b"",
        "one.bin": b"\x00",
        "k1.bin": rng.randbytes(1000),
        "k64.bin": rng.randbytes(64 * KIB),
        "m1.bin": rng.randbytes(MIB + 7),
        "m4.bin": rng.randbytes(4 * MIB),
        "with blank.bin": rng.randbytes(12345),
        "한글 파일.txt": ("가나다라마바사\r\n" * 150).encode("utf-8"),
    }
    for i in range(30):
        files["sub/s%02d.txt" % i] = rng.randbytes(rng.randint(100, 3000))
    for i in range(3):
        files["sub/deeper/d%d.bin" % i] = rng.randbytes(rng.randint(1, 300 * KIB))
    for rel, content in files.items():
        path = os.path.join(root, "data", rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    os.makedirs(os.path.join(root, "up"))
    return files


def folder_names(dataset, folder):
    """Names directly in a folder of the data set ('' for its top): files and folders."""
    names = set()
    for rel in dataset:
        if folder and not rel.startswith(folder + "/"):
            continue
        rest = rel[len(folder) + 1:] if folder else rel
        names.add(rest.split("/")[0])
    return names


# --- uploads ------------------------------------------------------------------------------

class Upload:
    """What one client stored under one name. Its content is a list of parts, each a short
    tag and a slice of the shared random pool, so that any prefix can be rebuilt for a
    diagnosis without keeping the bytes."""

    def __init__(self, path):
        self.path = path           # as the writing account sees it: /up/...
        self.parts = []            # (tag, pool offset, length)
        self.hash = hashlib.sha256()
        self.size = 0
        # ok: completed with 226, checked exactly; prefix: 226 after the data connection
        # was reset, the file must be a prefix of what was sent; unknown: cut or aborted.
        self.state = "unknown"


def part_chunks(pool, part, block=256 * KIB):
    tag, off, n = part
    head = tag[:n]
    if head:
        yield head
    pos, end = off, off + n - len(head)
    while pos < end:
        yield pool[pos:min(end, pos + block)]
        pos += block


def content_of(pool, parts):
    return b"".join(bytes(c) for p in parts for c in part_chunks(pool, p))


# --- connections ----------------------------------------------------------------------------

def reset_close(sock):
    """Closes with a reset instead of the orderly end: what a killed client does."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    sock.close()


class Control:
    def __init__(self, port, stats):
        self.stats = stats
        self.sock = socket.create_connection((HOST, port), timeout=CONNECT_TIMEOUT)
        self.sock.settimeout(REPLY_TIMEOUT)
        self.buf = b""
        self.last = b""
        self.history = deque(maxlen=12)     # the last lines each way, for a diagnosis

    def send(self, data):
        self.history.append("> " + data[:60].decode("utf-8", "replace").rstrip("\r\n"))
        self.sock.sendall(data)

    def line(self):
        while True:
            i = self.buf.find(b"\r\n")
            if i >= 0:
                line, self.buf = self.buf[:i], self.buf[i + 2:]
                return line.decode("utf-8", "replace")
            if len(self.buf) > 64 * KIB:
                raise Anomaly("a reply line of more than 64 KiB")
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                raise socket.timeout("no reply in %d s" % REPLY_TIMEOUT) from None
            if not chunk:
                raise EOFError("connection closed by the server")
            self.buf += chunk

    def reply(self):
        first = self.line()
        if len(first) < 4 or not first[:3].isdigit() or first[3] not in " -":
            raise Anomaly("not a reply after %r: %r" % (self.last, first[:120]), "a line that is not a reply")
        lines = [first]
        if first[3] == "-":
            for _ in range(MAX_REPLY_LINES):
                lines.append(self.line())
                if lines[-1].startswith(first[:3] + " "):
                    break
            else:
                raise Anomaly("a reply of more than %d lines" % MAX_REPLY_LINES)
        code = int(first[:3])
        self.history.append("< " + first[:60])
        self.stats.codes[code] += 1
        return code, "\r\n".join(lines)

    def cmd(self, line):
        if isinstance(line, str):
            line = line.encode("utf-8")
        self.last = line[:80]
        self.stats.n["commands"] += 1
        self.send(line + b"\r\n")
        return self.reply()

    def expect(self, line, *codes):
        code, text = self.cmd(line)
        if code not in codes:
            shown = line if isinstance(line, str) else line[:80]
            word = shown.split(" ")[0] if isinstance(shown, str) else "<bytes>"
            raise Anomaly("%r answered %r" % (shown, text[:200]),
                          "%s answered %d, not %s" % (word, code, "/".join(map(str, codes))))
        return code, text

    def expect_reply(self, what, *codes):
        code, text = self.reply()
        if code not in codes:
            raise Anomaly("%s answered %r" % (what, text[:200]),
                          "%s answered %d, not %s" % (what, code, "/".join(map(str, codes))))
        return code, text

    def close(self, reset=False):
        if reset:
            reset_close(self.sock)
        else:
            self.sock.close()


class DataChannel:
    """A data connection prepared before its command: connected to the server's passive
    port, or listening on our side for the server's active connection."""

    def __init__(self, sock=None, listener=None):
        self.sock, self.listener = sock, listener

    def ready(self):
        if self.sock is None:
            try:
                self.sock, _ = self.listener.accept()
            except socket.timeout:
                raise socket.timeout("no active-mode connection from the server in %d s" % CONNECT_TIMEOUT) from None
            self.sock.settimeout(REPLY_TIMEOUT)
            self.listener.close()
            self.listener = None
        return self.sock

    def close(self, reset=False):
        for s in (self.sock, self.listener):
            if s is not None:
                reset_close(s) if reset else s.close()
        self.sock = self.listener = None


class Stats:
    def __init__(self):
        self.n = Counter()
        self.codes = Counter()
        self.samples = {}          # kind -> the first few texts
        self.anomalies = Counter()  # Anomaly.key -> count
        self.timeouts = Counter()   # command and what did not come -> count

    def note(self, kind, text):
        self.n[kind] += 1
        self.samples.setdefault(kind, [])
        if len(self.samples[kind]) < 5:
            self.samples[kind].append(text)

    def merge(self, other):
        self.n.update(other.n)
        self.codes.update(other.codes)
        self.anomalies.update(other.anomalies)
        self.timeouts.update(other.timeouts)
        for kind, texts in other.samples.items():
            mine = self.samples.setdefault(kind, [])
            mine.extend(texts[:max(0, 8 - len(mine))])


# --- accounts ---------------------------------------------------------------------------------

class Account:
    def __init__(self, name, password, home, data, write, weight, timeout_min=0):
        self.name, self.password, self.home, self.data = name, password, home, data
        self.write, self.weight, self.timeout_min = write, weight, timeout_min


def accounts(root):
    # soak: every right on the whole tree; reader: download only in the data set;
    # anonymous: the same, any password, and an idle time-out that the clients reach.
    return [
        Account("soak", "soak-pw", root, "/data/", True, 60),
        Account("reader", "reader-pw", os.path.join(root, "data"), "/", False, 25),
        Account("anonymous", "soak@example.invalid", os.path.join(root, "data"), "/", False, 15,
                IDLE_TIMEOUT_MIN),
    ]


def users_text(accts, limit):
    out = []
    for a in accts:
        letters = "DU_EMRY_S__" if a.write else "D_______S__"
        extra = "MaxUser=%d\r\nMaxUserIP=%d\r\nTime-Out=%d\r\n" % (limit, limit, a.timeout_min)
        out.append(nubo.account_text(a.name, "" if a.name == "anonymous" else a.password, home=a.home,
                                     letters=letters, extra=extra))
    return "".join(out)


# --- one client -------------------------------------------------------------------------------

class Context:
    def __init__(self, args, port, root, dataset, pool, accts):
        self.args, self.port, self.root, self.dataset, self.pool = args, port, root, dataset, pool
        self.accounts = accts
        self.stop = threading.Event()
        # Connections that have not logged in yet, at most this many at once from this
        # address: a server may limit them, as it should.
        self.pending = threading.BoundedSemaphore(args.max_pending)
        self.hashes = {rel: hashlib.sha256(c).hexdigest() for rel, c in dataset.items()}
        self.large = [rel for rel, c in dataset.items() if len(c) >= MIB]


class Worker(threading.Thread):
    WRITER = {"nav": 8, "list": 8, "info": 6, "retr": 10, "rest_retr": 4, "retr_abort": 4, "retr_cut": 3,
              "stor": 14, "appe": 4, "stor_abort": 3, "stor_cut": 3, "dele": 6, "rename": 2, "mkd_rmd": 4,
              "md5": 2, "idle": 5, "malformed": 4, "pipeline": 2, "pasv_unused": 2, "relogin": 1,
              "cut_control": 2, "overlong": 0.5}
    READER = {"nav": 8, "list": 8, "info": 6, "retr": 12, "rest_retr": 4, "retr_abort": 4, "retr_cut": 3,
              "md5": 2, "idle": 6, "malformed": 4, "pipeline": 2, "pasv_unused": 2, "relogin": 1,
              "cut_control": 1.5, "overlong": 0.5, "forbidden": 4, "long_idle": 0.4}

    def __init__(self, cid, ctx):
        super().__init__(name="soak-client-%d" % cid, daemon=True)
        self.cid, self.ctx = cid, ctx
        self.rng = random.Random("%s-%d" % (ctx.args.seed, cid))
        self.stats = Stats()
        self.files = {}          # own uploads by path
        self.serial = 0
        self.ctl = None
        self.acct = None
        self.active_share = ctx.args.active_share
        self.disk_failures = []

    # -- the loop ---------------------------------------------------------------------------

    def run(self):
        try:
            while not self.ctx.stop.is_set():
                self.session()
        except Exception:  # a fault of this script, reported with the figures
            self.stats.note("script errors", traceback.format_exc())

    def session(self):
        st, rng = self.stats, self.rng
        acct = self.pick_account()
        if not self.ctx.pending.acquire(timeout=5):
            return
        released = False
        try:
            try:
                self.ctl = Control(self.ctx.port, st)
            except OSError as e:
                st.note("connect failures", repr(e))
                self.ctx.stop.wait(1)
                return
            self.ctl.expect_reply("the greeting", 220)
            if rng.random() < 0.03:
                # Gone before logging in: after the greeting, or after USER.
                if rng.random() < 0.5:
                    self.ctl.expect("USER " + acct.name, 331)
                st.n["cut before login"] += 1
                self.ctl.close(reset=rng.random() < 0.5)
                self.ctl = None
                raise SessionOver()
            if rng.random() < 0.06:
                # A wrong password, or a name that no account has: the same refusal.
                name = acct.name if acct.name != "anonymous" else "nobody%d" % self.cid
                self.ctl.expect("USER " + name, 331)
                self.ctl.expect("PASS wrong-" + acct.password, 530)
                st.n["bad passwords"] += 1
            self.login(acct)
            self.ctx.pending.release()
            released = True
            st.n["sessions"] += 1
            for _ in range(rng.randint(1, 40)):
                if self.ctx.stop.is_set():
                    break
                self.act()
            self.end_session()
        except SessionOver:
            pass
        except Anomaly as e:
            st.anomalies[e.key] += 1
            st.note("unexpected replies", "%s: %s [%s]" % (self.acct.name if self.acct else acct.name, e,
                                                           " ".join(self.ctl.history) if self.ctl else ""))
        except socket.timeout as e:
            word = (self.ctl.last.split(b" ")[0].decode("latin-1") if self.ctl else "connect")
            st.timeouts["%s: %s" % (word, e or "time-out")] += 1
            st.note("time-outs", "%s after %r [%s]" % (e or "no reply in %d s" % REPLY_TIMEOUT,
                                                       self.ctl.last if self.ctl else b"",
                                                       " ".join(self.ctl.history) if self.ctl else ""))
        except (EOFError, OSError) as e:
            st.note("unexpected disconnects", "after %r: %r [%s]" % (self.ctl.last if self.ctl else b"", e,
                                                                     " ".join(self.ctl.history) if self.ctl else ""))
        finally:
            if not released:
                self.ctx.pending.release()
            if self.ctl:
                self.ctl.close(reset=True)
                self.ctl = None

    def pick_account(self):
        accts = self.ctx.accounts
        return self.rng.choices(accts, weights=[a.weight for a in accts])[0]

    def login(self, acct):
        self.ctl.expect("USER " + acct.name, 331)
        self.ctl.expect("PASS " + acct.password, 230)
        self.acct = acct
        self.stats.n["logins"] += 1

    def end_session(self):
        r = self.rng.random()
        if r < 0.8:
            self.ctl.expect("QUIT", 221)
            self.stats.n["quits"] += 1
            self.ctl.close()
            self.ctl = None
        elif r < 0.9:
            self.stats.n["control closed without QUIT"] += 1
            self.ctl.close()
            self.ctl = None
        else:
            self.stats.n["control reset"] += 1
            self.ctl.close(reset=True)
            self.ctl = None

    def act(self):
        table = self.WRITER if self.acct.write else self.READER
        if self.acct.write and len(self.files) >= OWN_FILES_CAP:
            name = "dele"
        else:
            names = [n for n in table if n not in self.ctx.args.without]
            name = self.rng.choices(names, weights=[table[n] for n in names])[0]
        getattr(self, "do_" + name)()

    # -- helpers ------------------------------------------------------------------------------

    def data_path(self, rel):
        return self.acct.data + rel

    def pick_file(self, large=False):
        return self.rng.choice(self.ctx.large if large else list(self.ctx.dataset))

    def open_data(self):
        """PASV (most) or PORT; a refused PASV or PORT is an anomaly."""
        if self.rng.random() < self.active_share:
            ls = socket.socket()
            try:
                ls.settimeout(CONNECT_TIMEOUT)
                ls.bind((HOST, 0))
                ls.listen(1)
                p = ls.getsockname()[1]
                self.ctl.expect("PORT 127,0,0,1,%d,%d" % (p >> 8, p & 255), 200)
            except BaseException:
                ls.close()
                raise
            self.stats.n["active data connections"] += 1
            return DataChannel(listener=ls)
        _, text = self.ctl.expect("PASV", 227)
        m = re.search(r"\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", text)
        if not m:
            raise Anomaly("PASV reply without an address: %r" % text)
        if ".".join(m.group(1, 2, 3, 4)) != HOST:
            raise Anomaly("PASV announced %s to a client on %s" % (".".join(m.group(1, 2, 3, 4)), HOST))
        port = int(m.group(5)) * 256 + int(m.group(6))
        s = socket.create_connection((HOST, port), timeout=CONNECT_TIMEOUT)
        s.settimeout(REPLY_TIMEOUT)
        return DataChannel(sock=s)

    def start_transfer(self, line):
        """The data channel and the command; returns the channel once the server said 150."""
        chan = self.open_data()
        try:
            code, text = self.ctl.cmd(line)
            if code != 150:
                raise Anomaly("%r answered %r" % (line, text[:200]),
                              "%s answered %d, not 150" % (line.split(" ")[0], code))
            chan.ready()
        except BaseException:
            chan.close(reset=True)
            raise
        return chan

    def read_all(self, sock, sink=None, limit=None):
        """Reads until the server closes (or `limit` bytes), handing each piece to sink;
        returns the byte count."""
        buf = bytearray(256 * KIB)
        view = memoryview(buf)
        got = 0
        end = time.monotonic() + TRANSFER_BUDGET
        while limit is None or got < limit:
            if time.monotonic() > end:
                raise socket.timeout("transfer budget spent")
            try:
                n = sock.recv_into(buf if limit is None else view[:min(len(buf), limit - got)])
            except socket.timeout:
                raise socket.timeout("no data from the server in %d s" % REPLY_TIMEOUT) from None
            if n == 0:
                break
            if sink:
                sink(view[:n])
            got += n
        return got

    def download(self, line, want_hash, want_len):
        chan = self.start_transfer(line)
        h = hashlib.sha256()
        try:
            got = self.read_all(chan.sock, h.update)
        finally:
            chan.close()
        self.ctl.expect_reply(line, 226)
        if got != want_len or h.hexdigest() != want_hash:
            raise Anomaly("%s delivered %d bytes of %d, SHA-256 %s" % (line, got, want_len,
                          "equal" if h.hexdigest() == want_hash else "different"), "a download differs from the file")
        self.stats.n["downloads"] += 1
        self.stats.n["download bytes"] += got

    def new_name(self):
        self.serial += 1
        blank = " x" if self.rng.random() < 0.1 else ""
        return "/up/c%03d-%05d%s.bin" % (self.cid, self.serial, blank)

    def new_parts(self, size):
        tag = ("<%d:%d:%d>" % (self.cid, self.serial, size)).encode()
        off = self.rng.randint(0, len(self.ctx.pool) - size)
        return [(tag, off, size)]

    def upload_size(self, at_least=0):
        r, top = self.rng.random(), self.ctx.args.max_upload_mib * MIB
        if r < 0.08 and at_least == 0:
            size = 0
        elif r < 0.4:
            size = self.rng.randint(1, 4 * KIB)
        elif r < 0.8:
            size = self.rng.randint(4 * KIB, 256 * KIB)
        else:
            size = self.rng.randint(256 * KIB, top)
        return min(max(size, at_least), top)

    def send_parts(self, sock, parts, limit=None):
        """Sends the parts (or their first `limit` bytes); returns (bytes sent, parts sent)."""
        sent, done = 0, []
        end = time.monotonic() + TRANSFER_BUDGET
        for tag, off, n in parts:
            take = n if limit is None else min(n, limit - sent)
            if take <= 0:
                break
            for chunk in part_chunks(self.ctx.pool, (tag, off, take)):
                if time.monotonic() > end:
                    raise socket.timeout("transfer budget spent")
                try:
                    sock.sendall(chunk)
                except socket.timeout:
                    raise socket.timeout("the server took no data in %d s" % REPLY_TIMEOUT) from None
            sent += take
            done.append((tag, off, take))
        return sent, done

    def record(self, path):
        up = self.files.get(path)
        if up is None:
            up = self.files[path] = Upload(path)
        return up

    def completed(self, up, parts, state="ok"):
        for part in parts:
            for chunk in part_chunks(self.ctx.pool, part):
                up.hash.update(chunk)
            up.size += part[2]
        up.parts += parts
        up.state = state
        self.stats.n["uploads completed"] += 1
        self.stats.n["upload bytes"] += sum(p[2] for p in parts)

    def check_on_disk(self, up):
        """A completed upload is checked before the client deletes or changes it."""
        if up.state == "unknown":
            return
        problem = disk_problem(self.ctx, up)
        if problem:
            self.disk_failures.append(problem)
        self.stats.n["uploads verified"] += 1

    def sync(self):
        """After anything unusual the session must still answer in order."""
        self.ctl.expect("NOOP", 200)

    # -- actions --------------------------------------------------------------------------------

    def folders(self):
        d = self.acct.data
        out = ["/", d, d + "sub/", d + "sub/deeper/"]
        return out + ["/up/"] if self.acct.write else out

    def do_nav(self):
        d = self.rng.choice(self.folders())
        self.ctl.expect("CWD " + d, 250)
        _, text = self.ctl.expect("PWD", 257)
        if '"%s"' % d not in text:
            raise Anomaly("PWD after CWD %s answered %r" % (d, text), "PWD differs from the CWD")
        if d == self.acct.data and self.rng.random() < 0.5:
            rel = self.rng.choice([r for r in self.ctx.dataset if "/" not in r])
            _, text = self.ctl.expect("SIZE " + rel, 213)
            if text.split()[1] != str(len(self.ctx.dataset[rel])):
                raise Anomaly("SIZE %s answered %r" % (rel, text), "SIZE differs from the file")
        if self.rng.random() < 0.3:
            self.ctl.expect("CDUP", 550 if d == "/" else 250)

    def do_list(self):
        kind = self.rng.choice(["LIST", "NLST", "MLSD"])
        folder = self.rng.choice(["", "sub", "sub/deeper"] + (["up"] if self.acct.write else []))
        target = "/up/" if folder == "up" else self.data_path(folder + "/" if folder else "")
        chan = self.start_transfer("%s %s" % (kind, target))
        h = bytearray()

        def keep(piece):
            h.extend(piece)
            if len(h) > 16 * MIB:
                raise Anomaly("a listing of more than 16 MiB")
        try:
            self.read_all(chan.sock, keep)
        finally:
            chan.close()
        self.ctl.expect_reply(kind, 226)
        self.stats.n["listings"] += 1
        if folder == "up":
            return
        lines = h.decode("utf-8", "replace").split("\r\n")
        if lines[-1] != "":
            raise Anomaly("%s %s: a listing whose last line has no CR LF" % (kind, target), "a listing without its last CR LF")
        lines = lines[:-1]
        want = folder_names(self.ctx.dataset, folder)
        if kind == "NLST":
            got = {ln.rstrip("/").rsplit("/", 1)[-1] for ln in lines}
        elif kind == "MLSD":
            got = {ln.split("; ", 1)[1] for ln in lines if "; " in ln} - {".", ".."}
        else:
            got = {n for n in want if any(ln.endswith(" " + n) for ln in lines)}
        if got != want:
            raise Anomaly("%s %s: missing %s, extra %s" % (kind, target, sorted(want - got)[:5], sorted(got - want)[:5]),
                          "%s differs from the folder" % kind)

    def do_info(self):
        rel = self.pick_file()
        path = self.data_path(rel)
        _, text = self.ctl.expect("SIZE " + path, 213)
        if text.split()[1] != str(len(self.ctx.dataset[rel])):
            raise Anomaly("SIZE %s answered %r" % (path, text), "SIZE differs from the file")
        _, text = self.ctl.expect("MDTM " + path, 213)
        if not re.match(r"213 \d{14}", text):
            raise Anomaly("MDTM %s answered %r" % (path, text), "MDTM without a time")
        if self.rng.random() < 0.3:
            _, text = self.ctl.expect("MLST " + path, 250)
            if "size=%d;" % len(self.ctx.dataset[rel]) not in text:
                raise Anomaly("MLST %s answered %r" % (path, text), "MLST without the size")

    def do_retr(self):
        rel = self.pick_file()
        self.download("RETR " + self.data_path(rel), self.ctx.hashes[rel], len(self.ctx.dataset[rel]))

    def do_rest_retr(self):
        rel = self.pick_file(large=self.rng.random() < 0.5)
        content = self.ctx.dataset[rel]
        offset = self.rng.randint(0, len(content))
        self.ctl.expect("REST %d" % offset, 350)
        self.download("RETR " + self.data_path(rel), hashlib.sha256(content[offset:]).hexdigest(),
                      len(content) - offset)
        self.stats.n["resumed downloads"] += 1

    def do_retr_abort(self):
        rel = self.pick_file(large=True)
        size = len(self.ctx.dataset[rel])
        chan = self.start_transfer("RETR " + self.data_path(rel))
        try:
            # Mostly after some data; now and then at once, as a user who cancels does.
            if self.rng.random() < 0.8:
                self.read_all(chan.sock, limit=self.rng.randint(1, size // 2))
            self.stats.n["commands"] += 1
            self.ctl.last = b"ABOR"
            self.ctl.send(b"ABOR\r\n")
            try:
                self.read_all(chan.sock)   # whatever was in flight, up to the server's close
            except ConnectionResetError:
                pass
        finally:
            chan.close()
        # Aborted: 426 for the transfer, then 226 for ABOR. Finished just before: the
        # transfer's 226, then 225 for ABOR. Not connected yet when ABOR came: 225, and
        # the transfer ends by itself.
        code, text = self.ctl.expect_reply("RETR then ABOR", 426, 226, 225)
        self.ctl.expect_reply("%r after ABOR" % text[:40], *{426: (226,), 226: (225,), 225: (226, 426)}[code])
        self.stats.n["aborts (RETR)"] += 1

    def do_retr_cut(self):
        rel = self.pick_file(large=True)
        chan = self.start_transfer("RETR " + self.data_path(rel))
        reset = self.rng.random() < 0.5
        try:
            self.read_all(chan.sock, limit=self.rng.randint(0, len(self.ctx.dataset[rel]) // 2))
        finally:
            chan.close(reset=reset)
        self.stats.n["data reset" if reset else "data closed early"] += 1
        # Whatever the server had already handed to the system may count as sent.
        # A connection reset before the server took it is answered when the passive
        # port times out (425).
        self.ctl.expect_reply("RETR with its data connection cut", 226, 425, 426, 451, 501)
        self.sync()

    def do_stor(self, path=None):
        path = path or self.new_name()
        up = self.record(path)
        parts = self.new_parts(self.upload_size())
        up.state = "unknown"
        self.stats.n["uploads started"] += 1
        chan = self.start_transfer("STOR " + path)
        try:
            _, done = self.send_parts(chan.sock, parts)
        finally:
            chan.close()
        self.ctl.expect_reply("STOR " + path, 226)
        up.parts, up.hash, up.size = [], hashlib.sha256(), 0
        self.completed(up, done)

    def do_appe(self):
        done_files = [u for u in self.files.values() if u.state == "ok"]
        if not done_files:
            return self.do_stor()
        up = self.rng.choice(done_files)
        self.check_on_disk(up)
        self.serial += 1
        parts = self.new_parts(self.upload_size())
        up.state = "unknown"
        self.stats.n["uploads started"] += 1
        chan = self.start_transfer("APPE " + up.path)
        try:
            _, done = self.send_parts(chan.sock, parts)
        finally:
            chan.close()
        self.ctl.expect_reply("APPE " + up.path, 226)
        self.completed(up, done)
        self.stats.n["appends"] += 1

    def do_stor_abort(self):
        path = self.new_name()
        up = self.record(path)
        parts = self.new_parts(self.upload_size(at_least=64 * KIB))
        self.stats.n["uploads started"] += 1
        chan = self.start_transfer("STOR " + path)
        try:
            _, done = self.send_parts(chan.sock, parts, limit=self.rng.randint(0, parts[0][2] - 1))
            self.stats.n["commands"] += 1
            self.ctl.last = b"ABOR"
            self.ctl.send(b"ABOR\r\n")
            code, text = self.ctl.expect_reply("STOR then ABOR", 426, 225)
            chan.close()
            if code == 426:
                self.ctl.expect_reply("ABOR after %r" % text[:60], 226)
            else:
                # The server had not taken the data connection yet: ABOR found nothing to
                # abort, and the upload ends with what was sent, now that we have closed.
                code, _ = self.ctl.expect_reply("STOR after a 225 for ABOR", 226, 426)
                if code == 226:
                    self.completed(up, done)
        finally:
            chan.close()
        self.stats.n["aborts (STOR)"] += 1

    def do_stor_cut(self):
        path = self.new_name()
        up = self.record(path)
        parts = self.new_parts(self.upload_size(at_least=16 * KIB))
        self.stats.n["uploads started"] += 1
        reset = self.rng.random() < 0.5
        chan = self.start_transfer("STOR " + path)
        try:
            _, done = self.send_parts(chan.sock, parts, limit=self.rng.randint(0, parts[0][2] - 1))
        finally:
            chan.close(reset=reset)
        if not reset:
            # An orderly close is how an upload ends: the server cannot tell it was meant
            # to be longer, so the bytes sent must be the file.
            self.stats.n["data closed early"] += 1
            self.ctl.expect_reply("STOR with its data connection closed early", 226)
            self.completed(up, done)
            return
        self.stats.n["data reset"] += 1
        code, _ = self.ctl.expect_reply("STOR with its data connection reset", 425, 426, 226)
        if code == 226:
            # A reset can drop bytes sent last; what the server kept must be a prefix.
            self.completed(up, done, state="prefix")
            self.stats.n["reset uploads answered 226"] += 1
        self.sync()

    def do_dele(self):
        if not self.files:
            return self.do_stor()
        up = self.files[self.rng.choice(sorted(self.files))]
        self.check_on_disk(up)
        codes = (250,) if up.state == "ok" else (250, 550)
        up.state = "unknown"     # whatever the reply, once the DELE has gone
        code, _ = self.ctl.expect("DELE " + up.path, *codes)
        if code == 250:
            self.stats.n["deletes"] += 1
        del self.files[up.path]

    def do_rename(self):
        done_files = [u for u in self.files.values() if u.state == "ok"]
        if not done_files:
            return self.do_stor()
        up = self.rng.choice(done_files)
        self.check_on_disk(up)
        new = self.new_name()
        self.ctl.expect("RNFR " + up.path, 350)
        up.state = "unknown"     # under either name until the reply is in
        self.ctl.expect("RNTO " + new, 250)
        del self.files[up.path]
        up.path = new
        up.state = "ok"
        self.files[new] = up
        self.stats.n["renames"] += 1

    def do_mkd_rmd(self):
        self.serial += 1
        d = "/up/d%03d-%05d" % (self.cid, self.serial)
        self.ctl.expect("MKD " + d, 257)
        if self.rng.random() < 0.5:
            self.ctl.expect("CWD " + d, 250)
            self.ctl.expect("PWD", 257)
            self.ctl.expect("CWD /", 250)
        if self.rng.random() < 0.3:
            # A folder that holds a file is not removed; emptied, it is.
            inner = d + "/f.bin"
            self.do_stor(inner)
            self.ctl.expect("RMD " + d, 550)
            self.check_on_disk(self.files[inner])
            self.files[inner].state = "unknown"
            self.ctl.expect("DELE " + inner, 250)
            del self.files[inner]
        self.ctl.expect("RMD " + d, 250)
        self.stats.n["folders made and removed"] += 1

    def do_md5(self):
        rel = self.pick_file(large=self.rng.random() < 0.5)
        path = self.data_path(rel)
        if self.rng.random() < 0.1:
            # Gone while the server still digests a large file.
            self.ctl.send(("MD5 %s\r\n" % path).encode("utf-8"))
            self.stats.n["commands"] += 1
            self.ctl.close(reset=self.rng.random() < 0.5)
            self.ctl = None
            self.stats.n["control cut during MD5"] += 1
            raise SessionOver()
        _, text = self.ctl.expect("MD5 " + path, 251)
        if text.split()[-1].upper() != hashlib.md5(self.ctx.dataset[rel]).hexdigest().upper():
            raise Anomaly("MD5 %s answered %r" % (path, text), "MD5 differs from the file")
        self.stats.n["digests"] += 1

    def do_idle(self):
        t = self.rng.uniform(0.2, 8)
        self.stats.n["idle pauses"] += 1
        self.stats.n["idle seconds"] += int(t)
        self.ctx.stop.wait(t)

    def do_long_idle(self):
        """Longer than the account's Time-Out: the server must close the session."""
        if not self.acct.timeout_min:
            return self.do_idle()
        limit = self.acct.timeout_min * 60
        t0 = time.monotonic()
        if self.ctx.stop.wait(self.rng.uniform(limit + 6, limit + 15)):
            if time.monotonic() - t0 > limit - 10:
                self.ctl.close()      # too near the time-out to tell who goes first
                self.ctl = None
                raise SessionOver()
            return
        self.ctl.sock.settimeout(15)
        end = time.monotonic() + 15
        try:
            while self.ctl.sock.recv(4096):
                if time.monotonic() > end:
                    raise socket.timeout()
        except ConnectionResetError:
            pass
        except socket.timeout:
            raise Anomaly("session idle for %.0f s still open; the account's Time-Out is %d min"
                          % (time.monotonic() - t0, self.acct.timeout_min), "idle session not closed") from None
        self.stats.n["idle time-outs"] += 1
        raise SessionOver()

    def do_malformed(self):
        rng = self.rng
        kind = rng.choice(["unknown", "nul", "empty", "garbage", "lf", "split", "badarg"])
        if kind == "unknown":
            self.ctl.expect("XQZZ%d some argument" % rng.randint(0, 999), 500)
        elif kind == "nul":
            self.ctl.expect(rng.choice([b"NO\x00OP", b"\x00", b"CWD a\x00b", b"RETR \x00\x00x"]), 500, 501, 550)
        elif kind == "empty":
            self.ctl.expect(b"", 500)
        elif kind == "garbage":
            junk = bytes(rng.choice([0, 1, 7, 27, 127] + list(range(128, 256))) for _ in range(rng.randint(1, 200)))
            self.ctl.expect(junk, 500)
        elif kind == "lf":
            self.stats.n["commands"] += 1
            self.ctl.send(b"NOOP\n")
            self.ctl.expect_reply("NOOP ended by LF alone", 200)
        elif kind == "split":
            self.stats.n["commands"] += 1
            self.ctl.send(b"NO")
            time.sleep(rng.uniform(0.01, 0.3))
            self.ctl.send(b"OP\r\n")
            self.ctl.expect_reply("NOOP in two pieces", 200)
        else:
            line, codes = rng.choice([("PORT 1,2,3", (501,)), ("PORT 127,0,0,1,0,21", (501,)),
                                      ("PORT 999,0,0,1,4,1", (501,)), ("TYPE Z", (500, 504)),
                                      ("MODE Z", (502, 504)), ("REST 99999999999999999999999", (501,)),
                                      ("PASS x", (503,)), ("RNTO /up/nothing", (503, 550, 500, 501)),
                                      ("SIZE", (501, 550)), ("MDTM", (501, 550)),
                                      ("CWD /no/such/folder", (550,)), ("RETR /no/such.bin", (550,))])
            self.ctl.expect(line, *codes)
        self.stats.n["malformed lines"] += 1
        self.sync()

    def do_overlong(self):
        """A line longer than the server's line buffer: refused, and the session ends."""
        n = self.rng.randint(2100, 6000)
        self.stats.n["commands"] += 1
        self.ctl.last = b"<overlong line>"
        self.ctl.send(b"X" * n + b"\r\n")
        self.ctl.expect_reply("an overlong line", 500)
        end = time.monotonic() + REPLY_TIMEOUT
        try:
            while self.ctl.sock.recv(4096):
                if time.monotonic() > end:
                    raise Anomaly("the session went on after an overlong line", "overlong line: session kept")
        except ConnectionResetError:
            pass
        self.stats.n["overlong lines"] += 1
        raise SessionOver()

    def do_pipeline(self):
        self.stats.n["commands"] += 4
        self.ctl.last = b"<pipelined>"
        self.ctl.send(b"NOOP\r\nPWD\r\nSYST\r\nTYPE I\r\n")
        for code in (200, 257, 215, 200):
            self.ctl.expect_reply("pipelined commands", code)

    def do_pasv_unused(self):
        """A data connection prepared and never used: connected, or not even that."""
        chan = self.open_data()
        if self.rng.random() < 0.5 and chan.sock is not None:
            chan.close(reset=self.rng.random() < 0.5)
        if self.rng.random() < 0.5:
            self.open_data().close()
        self.sync()
        chan.close()

    def do_relogin(self):
        acct = self.pick_account()
        self.ctl.expect("USER " + acct.name, 331)
        if self.rng.random() < 0.2 and acct.name != "anonymous":
            self.ctl.expect("PASS not-" + acct.password, 530)
            self.stats.n["bad passwords"] += 1
            self.ctl.expect("PWD", 530)
            self.ctl.expect("USER " + acct.name, 331)
        self.ctl.expect("PASS " + acct.password, 230)
        self.acct = acct
        self.stats.n["re-logins"] += 1

    def do_cut_control(self):
        """The control connection goes in the middle of a transfer; so may the data one."""
        upload = self.acct.write and self.rng.random() < 0.5
        if upload:
            path = self.new_name()
            self.record(path)
            parts = self.new_parts(self.upload_size(at_least=64 * KIB))
            self.stats.n["uploads started"] += 1
            chan = self.start_transfer("STOR " + path)
        else:
            rel = self.pick_file(large=True)
            chan = self.start_transfer("RETR " + self.data_path(rel))
        try:
            if upload:
                self.send_parts(chan.sock, parts, limit=self.rng.randint(0, parts[0][2] - 1))
            else:
                self.read_all(chan.sock, limit=self.rng.randint(0, len(self.ctx.dataset[rel]) // 2))
        except BaseException:
            chan.close(reset=True)
            raise
        reset = self.rng.random() < 0.5
        self.ctl.close(reset=reset)
        self.ctl = None
        self.stats.n["control reset" if reset else "control closed without QUIT"] += 1
        r = self.rng.random()
        if r < 0.4:
            chan.close(reset=True)
        elif r < 0.8:
            chan.close()
        else:
            # The data connection outlives its control connection for a moment.
            self.ctx.stop.wait(self.rng.uniform(0.1, 2))
            chan.close()
        raise SessionOver()

    def do_forbidden(self):
        """What a download-only account must be refused, with nothing changed on disk."""
        self.serial += 1
        name = "/forbidden-%03d-%05d.bin" % (self.cid, self.serial)
        kind = self.rng.choice(["STOR", "APPE", "MKD", "DELE", "RNFR", "escape"])
        if kind in ("STOR", "APPE"):
            chan = self.open_data() if self.rng.random() < 0.5 else None
            try:
                code, text = self.ctl.cmd("%s %s" % (kind, name))
            finally:
                if chan:
                    chan.close()
            if code < 500:
                raise Anomaly("%s by the download-only account %s answered %r" % (kind, self.acct.name, text),
                              "download-only account: %s answered %d" % (kind, code))
        elif kind == "MKD":
            self.forbid("MKD /forbidden-%03d-%05d" % (self.cid, self.serial))
        elif kind == "DELE":
            self.forbid("DELE " + self.data_path(self.pick_file()))
        elif kind == "RNFR":
            self.forbid("RNFR " + self.data_path(self.pick_file()))
        else:
            # Names outside the account's folder that exist: the uploads' folder beside
            # it, and the system's files far enough up.
            up = "../" * 12
            self.forbid(self.rng.choice(["CWD ../up", "SIZE %setc/passwd" % up, "RETR %setc/passwd" % up,
                                         "CWD %setc" % up, "MDTM ../up", "CWD /../up"]))
        self.stats.n["refused as expected"] += 1
        self.sync()

    def forbid(self, line):
        code, text = self.ctl.cmd(line)
        if code < 500:
            if code == 150:
                raise Anomaly("%r by %s was granted: %r" % (line, self.acct.name, text), "download-only account: %s granted" % line.split(" ")[0])
            raise Anomaly("%r by %s answered %r" % (line, self.acct.name, text),
                          "download-only account: %s answered %d" % (line.split(" ")[0], code))


# --- the server process ----------------------------------------------------------------------------

def count_fds(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def uses_asan(pid):
    with open("/proc/%d/maps" % pid) as f:
        maps = f.read()
    return "libasan" in maps or "libclang_rt.asan" in maps


def asan_quarantine_mib():
    m = re.search(r"quarantine_size_mb=(\d+)", os.environ.get("ASAN_OPTIONS", ""))
    return int(m.group(1)) if m else 256


class Monitor(threading.Thread):
    """Samples the server's RSS and descriptors every few seconds."""

    def __init__(self, pid, interval):
        super().__init__(name="soak-monitor", daemon=True)
        self.pid, self.interval = pid, interval
        self.samples = []          # (monotonic time, RSS KiB, descriptors)
        self.stop = threading.Event()

    def run(self):
        while not self.stop.wait(self.interval):
            try:
                self.samples.append((time.monotonic(), rss_kib(self.pid), count_fds(self.pid)))
            except OSError:
                return


def warm_up(port, accts, dataset):
    """One session per account before the baseline, so that what the first clients open
    once (the daily log file, the users file) is counted in it."""
    stats = Stats()
    for a in accts:
        c = Control(port, stats)
        c.expect_reply("the greeting", 220)
        c.expect("USER " + a.name, 331)
        c.expect("PASS " + a.password, 230)
        c.expect("QUIT", 221)
        c.close()


def fresh_session(ctx):
    """After the soak: a new client still logs in, lists, downloads and uploads."""
    w = Worker(-1, ctx)
    w.rng = random.Random("fresh")
    w.ctl = Control(ctx.port, w.stats)
    try:
        w.ctl.expect_reply("the greeting", 220)
        w.login(ctx.accounts[0])
        w.ctl.expect("PWD", 257)
        w.active_share = 0.0
        for folder in ("", "sub"):
            chan = w.start_transfer("NLST " + w.data_path(folder))
            w.read_all(chan.sock)
            chan.close()
            w.ctl.expect_reply("NLST", 226)
        rel = "m1.bin"
        w.download("RETR " + w.data_path(rel), ctx.hashes[rel], len(ctx.dataset[rel]))
        path = "/up/fresh.bin"
        w.do_stor(path)
        up = w.files[path]
        with open(os.path.join(ctx.root, path.lstrip("/")), "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != up.hash.hexdigest():
                raise Anomaly("the fresh upload differs on disk")
        w.ctl.expect("DELE " + path, 250)
        w.ctl.expect("QUIT", 221)
    finally:
        w.ctl.close()
    return w.stats


def disk_problem(ctx, up):
    """None when a completed upload is on disk as sent, else what is wrong."""
    native = os.path.join(ctx.root, up.path.lstrip("/"))
    try:
        with open(native, "rb") as f:
            disk = f.read()
    except OSError as e:
        return "%s: completed with 226, now %s" % (up.path, e.strerror)
    if up.state == "ok" and (len(disk) != up.size or hashlib.sha256(disk).hexdigest() != up.hash.hexdigest()):
        sent = content_of(ctx.pool, up.parts)
        first = next((i for i in range(min(len(sent), len(disk))) if sent[i] != disk[i]), min(len(sent), len(disk)))
        return "%s: %d bytes on disk, %d sent, first difference at byte %d" % (up.path, len(disk), up.size, first)
    if up.state == "prefix" and content_of(ctx.pool, up.parts)[:len(disk)] != disk:
        return "%s: answered 226 after a reset, and the file is not a prefix of what was sent" % up.path
    return None


def verify_disk(ctx, workers):
    """Returns (checked, failures): the completed uploads still there against the disk
    (the clients checked the others before they deleted or extended them), the data set
    against its contents, and no file where only download-only accounts were."""
    failures, checked = [], 0
    for w in workers:
        checked += w.stats.n["uploads verified"]
        failures += w.disk_failures
        for up in w.files.values():
            if up.state == "unknown":
                continue
            checked += 1
            problem = disk_problem(ctx, up)
            if problem:
                failures.append(problem)
    data = os.path.join(ctx.root, "data")
    for rel, content in ctx.dataset.items():
        try:
            with open(os.path.join(data, rel), "rb") as f:
                if f.read() != content:
                    failures.append("data set file %s changed" % rel)
        except OSError as e:
            failures.append("data set file %s: %s" % (rel, e.strerror))
    for folder, dirs, names in os.walk(data):
        for name in names + dirs:
            rel = os.path.relpath(os.path.join(folder, name), data)
            if rel not in ctx.dataset and not any(r.startswith(rel + "/") for r in ctx.dataset):
                failures.append("%s appeared in the download-only folder" % rel)
    return checked, failures


def scan_output(path):
    """The first sanitizer report in the server's output, or None."""
    with open(path, "rb") as f:
        text = f.read()
    m = SANITIZER.search(text)
    if not m:
        return None
    start = text.rfind(b"\n", 0, m.start()) + 1
    return text[start:start + 6000].decode("utf-8", "replace")


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# --- main -------------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--server", default=os.environ.get("NUBOFTPD"),
                    help="the nuboftpd binary (default: $NUBOFTPD)")
    ap.add_argument("--clients", type=int, default=200, help="simultaneous clients (default 200)")
    ap.add_argument("--minutes", type=float, default=10, help="duration of the load (default 10; 0.5 is fine)")
    ap.add_argument("--seed", default="1", help="seed of the clients' random choices (default 1)")
    ap.add_argument("--max-upload-mib", type=int, default=4, help="largest upload (MiB, default 4)")
    ap.add_argument("--max-pending", type=int, default=6,
                    help="connections not yet logged in at once (default 6; servers may limit them per address)")
    ap.add_argument("--active-share", type=float, default=0.1,
                    help="share of data connections in active mode, PORT (default 0.1)")
    ap.add_argument("--sample-seconds", type=float, default=2.0, help="RSS and descriptor sampling (default 2)")
    ap.add_argument("--settle-seconds", type=float, default=15.0,
                    help="longest wait for the descriptors to come back after the clients stop (default 15)")
    ap.add_argument("--fd-margin", type=int, default=2,
                    help="descriptors allowed above the baseline, e.g. a new day's log file (default 2)")
    ap.add_argument("--without", action="append", default=[], metavar="ACTION",
                    help="leave out one of the clients' actions, e.g. pasv_unused (repeatable; see Worker.WRITER)")
    ap.add_argument("--setting", action="append", default=[], metavar="KEY=VALUE",
                    help="one more line for the [Setup] section of ftp_config.ini (repeatable)")
    ap.add_argument("--data-dir", help="folder for the temporary data set and uploads (default: the system's)")
    a = ap.parse_args()
    if not a.server:
        sys.exit("soak: give --server PATH or set NUBOFTPD")
    if not (1 <= a.clients <= 2000 and 0 < a.minutes <= 24 * 60 and 1 <= a.max_upload_mib <= 256
            and 1 <= a.max_pending <= 100 and 0 <= a.active_share <= 1 and 0.2 <= a.sample_seconds <= 60
            and all("=" in s for s in a.setting)
            and set(a.without) <= (set(Worker.WRITER) | set(Worker.READER)) - {"dele"}):
        sys.exit("soak: clients 1..2000, minutes above 0 up to a day, max-upload-mib 1..256, max-pending 1..100, "
                 "active-share 0..1, sample-seconds 0.2..60, settings as KEY=VALUE, --without of the actions "
                 + ", ".join(sorted((set(Worker.WRITER) | set(Worker.READER)) - {"dele"})))
    threading.stack_size(1 * MIB)
    nubo.BINARY = os.path.abspath(a.server)

    root = tempfile.mkdtemp(prefix="nubo-soak-", dir=a.data_dir)
    srv = None
    failed = []
    kept_output = None
    try:
        dataset = make_dataset(root, random.Random("data-%s" % a.seed))
        pool = random.Random("pool-%s" % a.seed).randbytes(a.max_upload_mib * MIB + 64)
        accts = accounts(root)
        limit = a.clients + 20
        # The limits sit above what the clients reach, so that a count the server fails
        # to give back shows as a refused login or connection.
        settings = (nubo.TEST_SETTINGS + "MaxUser=%d\r\nMaxPendingIP=%d\r\nLog=1\r\n" % (limit, a.max_pending + 4)
                    + "".join(s + "\r\n" for s in a.setting))
        srv = nubo.NuboServer(settings=settings, users=users_text(accts, limit))
        srv.start()
        pid = srv.proc.pid
        ctx = Context(a, srv.port, root, dataset, memoryview(pool), accts)
        warm_up(srv.port, accts, dataset)
        time.sleep(1.5)
        fd_base, rss_base = count_fds(pid), rss_kib(pid)
        asan = uses_asan(pid)
        print("# nuboftpd %s, pid %d, port %d%s; fds %d, RSS %.1f MiB after start-up; %d clients for %g min, seed %s"
              % (nubo.BINARY, pid, srv.port, " (AddressSanitizer)" if asan else "", fd_base, rss_base / KIB,
                 a.clients, a.minutes, a.seed), flush=True)

        monitor = Monitor(pid, a.sample_seconds)
        monitor.start()
        workers = [Worker(i, ctx) for i in range(a.clients)]
        t_start = time.monotonic()
        deadline = t_start + a.minutes * 60
        ramp = min(10.0, a.minutes * 6)        # at most 10 s, a tenth of the run
        for i, w in enumerate(workers):
            if ctx.stop.wait(max(0.0, t_start + ramp * i / a.clients - time.monotonic())):
                break
            w.start()
        ramp_end = time.monotonic()
        died = None
        next_report = t_start + 30
        while time.monotonic() < deadline:
            if srv.proc.poll() is not None:
                died = srv.proc.returncode
                break
            time.sleep(min(1.0, max(0.0, deadline - time.monotonic())))
            if time.monotonic() >= next_report:
                next_report += 30
                print("# %3.0f s: %s" % (time.monotonic() - t_start, progress(workers, monitor)), flush=True)
        t_stop = time.monotonic()
        ctx.stop.set()
        for w in workers:
            w.join(max(0.0, t_stop + STOP_GRACE - time.monotonic()))
        stuck = [w.name for w in workers if w.is_alive()]
        t_joined = time.monotonic()
        print("# clients stopped %.1f s after the end of the load" % (t_joined - t_stop), flush=True)

        stats = Stats()
        for w in workers:
            stats.merge(w.stats)
        alive = srv.proc.poll() is None
        fd_end = fresh = None
        if alive:
            # Closed connections reach the server after the clients' closes; give it time.
            settle_end = time.monotonic() + a.settle_seconds
            fd_end = count_fds(pid)
            while fd_end > fd_base + a.fd_margin and time.monotonic() < settle_end:
                time.sleep(0.25)
                fd_end = count_fds(pid)
            try:
                fresh = fresh_session(ctx)
            except (Anomaly, EOFError, OSError) as e:
                fresh = e
            time.sleep(1.0)
            if srv.proc.poll() is None:
                fd_end = count_fds(pid)
                while fd_end > fd_base + a.fd_margin and time.monotonic() < settle_end + 5:
                    time.sleep(0.25)
                    fd_end = count_fds(pid)
            else:
                alive = False
        monitor.stop.set()
        monitor.join(10)

        checked, disk_failures = verify_disk(ctx, workers)

        # The server's end: SIGTERM, a longer wait than the tests' helper gives, since a
        # leak check runs at the exit of a sanitizer build.
        exit_code = None
        if srv.proc.poll() is None:
            srv.proc.send_signal(signal.SIGTERM)
            try:
                exit_code = srv.proc.wait(timeout=120)
            except subprocess.TimeoutExpired:
                exit_code = "no exit 120 s after SIGTERM"
        else:
            exit_code = srv.proc.returncode
        srv.stop()     # kills it only if still running; closes the output file
        report = scan_output(srv.log_path)

        # --- checks ---
        if died is not None or not alive:
            failed.append("the server ended during the soak (exit status %s)" % srv.proc.returncode
                          if died is not None else "the server ended after the clients stopped")
        if fresh is None or isinstance(fresh, Exception):
            failed.append("a fresh session after the soak failed: %r" % (fresh,))
        if fd_end is None or fd_end > fd_base + a.fd_margin:
            failed.append("descriptors: %s at the end against %d after start-up (margin %d)"
                          % (fd_end, fd_base, a.fd_margin))
        load = [s for s in monitor.samples if ramp_end <= s[0] <= t_stop]
        rss_verdict, rss_ok = rss_check(load, asan)
        if not rss_ok:
            failed.append("RSS kept growing: " + rss_verdict)
        if disk_failures:
            failed.append("disk: %d problems, e.g. %s" % (len(disk_failures), "; ".join(disk_failures[:5])))
        for kind in ("unexpected replies", "unexpected disconnects", "time-outs", "connect failures"):
            if stats.n[kind]:
                failed.append("%d %s, e.g.: %s" % (stats.n[kind], kind, " | ".join(stats.samples[kind][:5])))
        if report:
            failed.append("sanitizer report in the server's output:\n" + report)
        if exit_code != 0:
            failed.append("the server's exit status after SIGTERM: %s" % exit_code)
        if stuck or stats.n["script errors"]:
            failed.append("the soak script itself: %d clients did not stop, %d script errors: %s"
                          % (len(stuck), stats.n["script errors"], "\n".join(stats.samples.get("script errors", [])[:2])))
        if failed:
            kept_output = os.path.join(tempfile.gettempdir(), "nubo-soak-output-%d.txt" % os.getpid())
            shutil.copyfile(srv.log_path, kept_output)

        print_table(a, stats, workers, checked, fd_base, fd_end, rss_base, monitor.samples, load, rss_verdict,
                    t_joined - t_start, asan)
    finally:
        if srv is not None:
            srv.__exit__(None, None, None)
        shutil.rmtree(root, ignore_errors=True)
    if failed:
        print("\nFAILED:")
        for f in failed:
            print("  - " + f)
        print("the server's output is kept in " + kept_output)
        return 1
    print("\nall checks passed")
    return 0


def progress(workers, monitor):
    n = Counter()
    for w in workers:
        n.update({k: w.stats.n[k] for k in ("sessions", "uploads completed", "downloads", "unexpected replies",
                                           "unexpected disconnects", "time-outs")})
    last = monitor.samples[-1] if monitor.samples else (0, 0, 0)
    return ("sessions %d, uploads %d, downloads %d, problems %d; server RSS %.1f MiB, fds %d"
            % (n["sessions"], n["uploads completed"], n["downloads"],
               n["unexpected replies"] + n["unexpected disconnects"] + n["time-outs"], last[1] / KIB, last[2]))


# The RSS of a steady load is not flat: freed transfer buffers stay with the allocator
# for the next transfer, so the RSS follows the most transfers seen at once so far, and
# a steady load still meets new peaks now and then (0.2 to 1.9 MiB between the thirds
# of 1- and 2-minute runs of 50 and 200 clients on the project's machines, with an RSS
# of 10 to 15 MiB). The tolerance is 4 MiB and a tenth of the RSS on top, about three
# times that; a leak of 1 KiB a session still exceeds it within ten minutes. In a
# sanitizer build the quarantine of freed blocks (256 MiB unless ASAN_OPTIONS says
# otherwise) fills whatever the server does, so its size is allowed too: there the leak
# check at the server's exit is the one to trust.
RSS_FLOOR_MIB = 4
RSS_SHARE = 0.10


def rss_check(load, asan):
    if len(load) < 6:
        return "too few samples under load (%d) to judge" % len(load), True
    third = len(load) // 3
    first = statistics.median(s[1] for s in load[:third])
    last = statistics.median(s[1] for s in load[-third:])
    allowed = RSS_FLOOR_MIB * KIB + RSS_SHARE * first + (asan_quarantine_mib() * KIB if asan else 0)
    growth = last - first
    verdict = "median %.1f MiB in the first third, %.1f MiB in the last: %+.1f MiB, allowed %.1f MiB" % (
        first / KIB, last / KIB, growth / KIB, allowed / KIB)
    return verdict, growth <= allowed


def print_table(a, stats, workers, checked, fd_base, fd_end, rss_base, samples, load, rss_verdict, seconds, asan):
    n = stats.n
    print("\nnuboftpd soak on %s: %d clients, %.1f min, seed %s, %d cores, load average %s"
          % (HOST, a.clients, seconds / 60, a.seed, os.cpu_count() or 0, loadavg()))
    rows = [
        ("sessions (logged in)", n["sessions"]),
        ("logins / re-logins / bad passwords", "%d / %d / %d" % (n["logins"], n["re-logins"], n["bad passwords"])),
        ("commands", n["commands"]),
        ("uploads started / completed", "%d / %d" % (n["uploads started"], n["uploads completed"])),
        ("  appends, reset uploads answered 226", "%d, %d" % (n["appends"], n["reset uploads answered 226"])),
        ("checks of completed uploads on disk (SHA-256)", checked),
        ("uploaded MiB", "%.1f" % (n["upload bytes"] / MIB)),
        ("downloads completed and verified", "%d (%d resumed with REST)" % (n["downloads"], n["resumed downloads"])),
        ("downloaded MiB", "%.1f" % (n["download bytes"] / MIB)),
        ("listings / MD5 digests", "%d / %d" % (n["listings"], n["digests"])),
        ("aborts RETR / STOR", "%d / %d" % (n["aborts (RETR)"], n["aborts (STOR)"])),
        ("abrupt closes: control closed / reset",
         "%d / %d" % (n["control closed without QUIT"], n["control reset"])),
        ("  data closed early / reset", "%d / %d" % (n["data closed early"], n["data reset"])),
        ("  before login / during MD5", "%d / %d" % (n["cut before login"], n["control cut during MD5"])),
        ("sessions ended with QUIT", n["quits"]),
        ("malformed / overlong lines", "%d / %d" % (n["malformed lines"], n["overlong lines"])),
        ("idle pauses (s) / idle time-outs", "%d (%d) / %d" % (n["idle pauses"], n["idle seconds"], n["idle time-outs"])),
        ("refused as expected (download-only)", n["refused as expected"]),
        ("folders made+removed / deletes / renames",
         "%d / %d / %d" % (n["folders made and removed"], n["deletes"], n["renames"])),
        ("active-mode data connections", n["active data connections"]),
        ("unexpected replies / disconnects / time-outs",
         "%d / %d / %d" % (n["unexpected replies"], n["unexpected disconnects"], n["time-outs"])),
        ("unexpected replies by kind", "; ".join("%s: %d" % kv for kv in stats.anomalies.most_common()) or "none"),
        ("time-outs by kind", "; ".join("%s: %d" % kv for kv in stats.timeouts.most_common()) or "none"),
        ("replies >= 400 by code", ", ".join("%d: %d" % (c, k) for c, k in sorted(stats.codes.items()) if c >= 400)
         or "none"),
        ("fd baseline / end", "%d / %s" % (fd_base, fd_end)),
    ]
    if load:
        rows.append(("RSS MiB start-up / first / last / max",
                     "%.1f / %.1f / %.1f / %.1f%s" % (rss_base / KIB, load[0][1] / KIB, load[-1][1] / KIB,
                                                      max(s[1] for s in samples) / KIB, " (ASan)" if asan else "")))
        rows.append(("fds max under load", max(s[2] for s in load)))
    rows.append(("RSS trend", rss_verdict))
    for label, value in rows:
        print("%-44s %s" % (label, value))


if __name__ == "__main__":
    sys.exit(main())
