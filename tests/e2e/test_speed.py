"""Accounts' speed limits (MaxSpeed for downloads, MaxUpSpeed for uploads, in KB/s):
the limit caps the sum of an account's transfers and shares it evenly between its
sessions, throttled files arrive whole, and an account without a limit is not slowed.

Rates are measured over a ten-second window after the transfers are under way; the
limits here are far below the machine's speed, so load does not move the result."""
import os
import socket
import subprocess
import threading
import time
import unittest

from nubo import account_text, class_server, digest, scratch_dir, TEST_SETTINGS, TEST_USERS

SANITIZE = os.environ.get("NUBO_SANITIZE", "0") in ("1", "ON", "TRUE", "true")
WINDOW = 10.0
KB = 1024

ACCOUNTS = {
    # name: (MaxSpeed, MaxUpSpeed)
    "slow": (100, 100),
    "fast": (10240, 0),
    "free": (0, 0),
}


def users_text():
    return TEST_USERS + "".join(
        account_text(name, "pw", extra="MaxSpeed=%d\r\nMaxUpSpeed=%d\r\n" % limits)
        for name, limits in ACCOUNTS.items())


class Stream(threading.Thread):
    """One session's transfer that runs until stopped, counting the bytes it moved."""

    def __init__(self, srv, user, command, upload=False):
        super().__init__(daemon=True)
        self.ftp = srv.ftp(timeout=30)
        self.ftp.login(user, "pw")
        self.ftp.voidcmd("TYPE I")
        self.conn = self.ftp.transfercmd(command)
        self.conn.settimeout(0.5)
        self.upload = upload
        self.moved = 0
        self.halt = threading.Event()

    def run(self):
        block = b"\0" * 65536
        while not self.halt.is_set():
            try:
                if self.upload:
                    self.moved += self.conn.send(block)
                else:
                    b = self.conn.recv(65536)
                    if not b:
                        return
                    self.moved += len(b)
            except socket.timeout:
                continue
            except OSError:
                return

    def stop(self):
        self.halt.set()
        self.join(5)
        self.conn.close()
        self.ftp.close()


def measure(streams, counted):
    """Bytes each stream moved in WINDOW seconds once all are running, and the time."""
    for s in streams:
        s.start()
    try:
        deadline = time.monotonic() + 10
        while not all(counted(s) > 0 for s in streams) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(1.0)  # past the first slices and the buffers' filling
        t0, b0 = time.monotonic(), [counted(s) for s in streams]
        time.sleep(WINDOW)
        t1, b1 = time.monotonic(), [counted(s) for s in streams]
    finally:
        for s in streams:
            s.stop()
    return [b - a for a, b in zip(b0, b1)], t1 - t0


class SpeedLimits(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = scratch_dir(cls, "nubo-speed-")
        cls.srv = class_server(cls, settings=TEST_SETTINGS + "Encryption=1\r\n", users=users_text())
        # Large sparse files: no download reaches their end within the window.
        with open(os.path.join(cls.data, "big.bin"), "wb") as f:
            f.truncate(1 << 30)
        with open(os.path.join(cls.data, "small.bin"), "wb") as f:
            f.write(os.urandom(300 * KB))

    def path(self, name):
        return os.path.join(self.data, name)

    def assert_shared_limit(self, moved, secs, limit_kb):
        rate = sum(moved) / secs
        limit = limit_kb * KB
        self.assertLess(abs(rate / limit - 1), 0.05,
                        "%.0f B/s against a limit of %d B/s (%s)" % (rate, limit, moved))
        self.assertGreater(min(moved) / max(moved), 0.7, "unfair shares: %s" % moved)

    def download_two(self, user):
        streams = [Stream(self.srv, user, "RETR " + self.path("big.bin")) for _ in range(2)]
        return measure(streams, lambda s: s.moved)

    def test_download_limit_shared_by_two_sessions_at_100_kb(self):
        moved, secs = self.download_two("slow")
        self.assert_shared_limit(moved, secs, 100)

    @unittest.skipIf(SANITIZE, "10 MB/s is more than the sanitizer build is meant to carry")
    def test_download_limit_shared_by_two_sessions_at_10_mb(self):
        moved, secs = self.download_two("fast")
        self.assert_shared_limit(moved, secs, 10240)

    def test_upload_limit_shared_by_two_sessions(self):
        # Counted as the files grow on the server: what the client has sent includes
        # what waits in the sockets' buffers.
        names = [self.path("up%d.bin" % i) for i in range(2)]
        streams = [Stream(self.srv, "slow", "STOR " + n, upload=True) for n in names]
        def size(s):
            try:
                return os.path.getsize(names[streams.index(s)])
            except OSError:
                return 0
        moved, secs = measure(streams, size)
        self.assert_shared_limit(moved, secs, 100)

    def curl(self, *args):
        out = subprocess.run(["curl", "-sS", "--max-time", "60"] + list(args), capture_output=True, timeout=90)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        return out.stdout

    def url(self, user, name):
        return "ftp://%s:pw@127.0.0.1:%d/%%2F%s/%s" % (user, self.srv.port, self.data.strip("/"), name)

    def round_trip(self, *tls):
        # 300 KB at 100 KB/s: about three seconds, and every byte in place, both ways.
        start = time.monotonic()
        got = self.curl(*tls, self.url("slow", "small.bin"))
        self.assertGreater(time.monotonic() - start, 2.0)
        with open(self.path("small.bin"), "rb") as f:
            self.assertEqual(got, f.read())
        # The client closes its side long before the server has read it all: the end
        # must wait for the last byte.
        os.makedirs(self.path("back"), exist_ok=True)
        start = time.monotonic()
        self.curl(*tls, "-T", self.path("small.bin"), self.url("slow", "back/small.bin"))
        self.assertGreater(time.monotonic() - start, 2.0)
        self.assertEqual(digest(self.path("back/small.bin")), digest(self.path("small.bin")))

    def test_throttled_files_arrive_whole(self):
        self.round_trip()

    def test_throttled_files_arrive_whole_over_tls(self):
        # Decrypted bytes held inside the TLS stage, and the peer's close alert, wait for
        # the grant as the socket's own bytes do.
        self.round_trip("--ssl-reqd", "-k")

    def test_unlimited_account_is_not_held_by_a_limited_one(self):
        with open(self.path("mid.bin"), "wb") as f:
            f.write(os.urandom(32 << 20))
        slow = Stream(self.srv, "slow", "RETR " + self.path("big.bin"))
        slow.start()
        try:
            # 32 MiB would take over five minutes at the other account's limit.
            start = time.monotonic()
            got = self.curl(self.url("free", "mid.bin"))
            elapsed = time.monotonic() - start
        finally:
            slow.stop()
        self.assertEqual(len(got), 32 << 20)
        with open(self.path("mid.bin"), "rb") as f:
            self.assertEqual(got, f.read())
        self.assertLess(elapsed, 60)
        self.assertGreater(slow.moved, 0)


if __name__ == "__main__":
    unittest.main()
