"""Starts the real nuboftpd in a temporary folder on a free loopback port.

    with NuboServer() as srv:
        ftp = srv.ftp()            # ftplib.FTP, connected, not logged in
        srv.raw()                  # a RawClient for byte-exact replies

Only the process started here is ever stopped, by its PID.
"""
import ftplib
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

BINARY = os.environ.get("NUBOFTPD", "nuboftpd")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def engine_path(native):
    """The client-visible form of a native absolute folder for the test accounts,
    whose home is the root: /tmp/x -> /tmp/x/."""
    return native.rstrip("/") + "/"


class RawClient:
    """A control connection that reads replies as raw bytes."""

    def __init__(self, port, timeout=10, host="127.0.0.1"):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buf = b""

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def cmd(self, line):
        self.send(line + "\r\n")
        return self.reply()

    def line(self):
        while b"\r\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed; pending %r" % self.buf)
            self.buf += chunk
        line, self.buf = self.buf.split(b"\r\n", 1)
        return line.decode("latin-1")

    def reply(self):
        """One complete reply, lines joined by CR LF (multi-line aware)."""
        first = self.line()
        lines = [first]
        if len(first) >= 4 and first[3] == "-":
            code = first[:3]
            while True:
                nxt = self.line()
                lines.append(nxt)
                if nxt.startswith(code + " "):
                    break
        return "\r\n".join(lines)

    def pasv(self):
        """PASV, then a connected data socket."""
        reply = self.cmd("PASV")
        if not reply.startswith("227 "):
            raise AssertionError(reply)
        nums = reply[reply.index("(") + 1:reply.index(")")].split(",")
        port = int(nums[4]) * 256 + int(nums[5])
        return socket.create_connection((".".join(nums[:4]), port), timeout=10)

    def login(self, user="anonymous", password="x"):
        self.cmd("USER " + user)
        return self.cmd("PASS " + password)

    def closed(self, timeout=5):
        """True once the server has closed the connection."""
        self.sock.settimeout(timeout)
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return True
                self.buf += chunk
        except (ConnectionResetError, socket.timeout):
            return False

    def close(self):
        self.sock.close()


# The first-start settings give the passive ports 2020 to 2039, which servers of tests
# running side by side would share; a folder made here lets the system choose instead.
# Wrong passwords are answered at once, so that the tests that try them do not wait.
TEST_SETTINGS = "[Setup]\r\nLowPASV=0\r\nHighPASV=0\r\nLoginFailDelay=0\r\n"

# Accounts of the engine-level tests: the whole machine as the home folder, every letter
# but the restriction, and client paths shown from the root ("/tmp/x/").
TEST_ACCOUNTS = {"anonymous": "", "user": "pw", "u": "p", "someone": "x"}


def account_text(name, password, home="/", letters="DU_EMRY_S__", extra="", virtual_dir=1):
    return ("[%s]\r\nPassword=%s\r\nHomePath=%s\r\nDir0=%s|%s|\r\nVirtualDir=%d\r\n%s"
            % (name, password, home, home, letters, virtual_dir, extra))


TEST_USERS = "".join(account_text(n, p) for n, p in TEST_ACCOUNTS.items())


class NuboServer:
    def __init__(self, args=(), workdir=None, settings=None, users=None):
        """settings, users: the texts of ftp_config.ini and ftp_users.ini to write before
        the start (default: TEST_SETTINGS and TEST_USERS in a folder made here, none in a
        given workdir)."""
        self.args = list(args)
        self.own_dir = workdir is None
        self.dir = workdir or tempfile.mkdtemp(prefix="nubo-e2e-")
        if settings is None and self.own_dir:
            settings = TEST_SETTINGS
        if users is None and self.own_dir:
            users = TEST_USERS
        for name, text in (("ftp_config.ini", settings), ("ftp_users.ini", users)):
            if text is not None:
                with open(os.path.join(self.dir, name), "wb") as f:
                    f.write(text.encode("utf-8"))
        self.port = None
        self.proc = None
        self.clients = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        if self.own_dir:
            shutil.rmtree(self.dir, ignore_errors=True)

    def start(self):
        self.port = free_port()
        self.log_path = os.path.join(self.dir, "stdout.txt")
        self.log = open(self.log_path, "ab")
        self.proc = subprocess.Popen(
            [BINARY, "--dir", self.dir, "--port", str(self.port)] + self.args,
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("nuboftpd exited: " + self.output())
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nuboftpd did not listen: " + self.output())

    def output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_output(self, pattern, timeout=10):
        """True once the server's output matches the regular expression."""
        import re
        deadline = time.time() + timeout
        while time.time() < deadline:
            if re.search(pattern, self.output()):
                return True
            time.sleep(0.05)
        return False

    def stop(self):
        for c in self.clients:
            try:
                c.close()
            except Exception:
                pass
        self.clients = []
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.log.close()
        self.proc = None

    def ftp(self, timeout=10, host="127.0.0.1"):
        f = ftplib.FTP()
        f.connect(host, self.port, timeout=timeout)
        self.clients.append(f)
        return f

    def raw(self, greet=True, timeout=10, host="127.0.0.1"):
        c = RawClient(self.port, timeout, host)
        self.clients.append(c)
        if greet:
            c.greeting = c.reply()
        return c


def error_of(fn, *args):
    """The error reply that fn(*args) raised; None when it succeeded."""
    try:
        fn(*args)
    except ftplib.all_errors as e:
        return str(e)
    return None


def scratch_dir(case, prefix):
    """A temporary folder removed when the test ends, or the class when case is one."""
    d = tempfile.mkdtemp(prefix=prefix)
    if isinstance(case, type):
        case.addClassCleanup(shutil.rmtree, d, True)
    else:
        case.addCleanup(shutil.rmtree, d, True)
    return d


def class_server(cls, **kwargs):
    """A server for every test of a class, stopped when the class ends (before any
    folder made earlier is removed: class clean-ups run last first)."""
    srv = NuboServer(**kwargs).__enter__()
    cls.addClassCleanup(srv.__exit__, None, None, None)
    return srv


def make_sparse(path, size):
    """A file of size bytes that holds b"head" and b"tail" at its ends and nothing between
    on disk."""
    with open(path, "wb") as f:
        f.write(b"head")
        f.seek(size - 4)
        f.write(b"tail")


def digest(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def recv_all(sock):
    """Everything the peer sends until it closes."""
    chunks = []
    while True:
        b = sock.recv(1 << 16)
        if not b:
            return b"".join(chunks)
        chunks.append(b)
