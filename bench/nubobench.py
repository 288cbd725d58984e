#!/usr/bin/env python3
"""nubobench.py --server PATH [options]: the project's own loopback benchmark.

Starts the given nuboftpd on a free port of 127.0.0.1 in a temporary --dir, makes a
data set in a temporary folder (one large file, a folder of small files), measures

  large download   RETR of the large file with curl            (MB/s, median and best)
  large upload     STOR of the large file with curl            (MB/s, median and best)
  TLS download     the large download under AUTH TLS and PROT P (curl --ssl-reqd)
  TLS upload       the large upload under AUTH TLS and PROT P
  small download   RETR of every small file on one connection  (files/s)
  small upload     STOR of as many small files on one connection (files/s)

prints a table, stops the server by its PID and removes what it made. Given two or
more binaries (--server A --server B), it starts each on a port of its own and runs
them in turns, one run each a round, so that builds can be compared on a noisy
machine; the table adds each one's median ratio to the first, round by round. MB = 10^6
bytes. Python's standard library and the curl binary only. Every loop has a fixed
count and a deadline, every network call a time-out, and only loopback is used.

The server's folder gets one account, bench/bench, whose home is the data folder
with every right; the client sends paths relative to it.
"""
import argparse
import contextlib
import ftplib
import io
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import nubo  # noqa: E402  the tests' helper: nuboftpd in a temporary --dir, stopped by its PID

MB = 1e6
MIB = 1 << 20
HOST = "127.0.0.1"
USER, PASSWORD = "bench", "bench"
SOCK_TIMEOUT = 20      # seconds, every control and data socket
CURL_MAX = 120         # seconds, one curl transfer
BUDGET = 300           # seconds, one workload with all its runs


def make_dataset(root, large_mib, n_small, small_size):
    block = os.urandom(16 * MIB)
    with open(os.path.join(root, "large.bin"), "wb") as f:
        for _ in range(large_mib // 16):
            f.write(block)
        f.write(block[:(large_mib % 16) * MIB])
    os.mkdir(os.path.join(root, "small"))
    for i in range(n_small):
        with open(os.path.join(root, "small", "s%04d.bin" % i), "wb") as f:
            f.write(os.urandom(small_size))
    os.mkdir(os.path.join(root, "up"))
    # Read the large file once so that downloads measure the server, not the disk.
    buf = bytearray(8 * MIB)
    with open(os.path.join(root, "large.bin"), "rb", buffering=0) as f:
        while f.readinto(buf):
            pass


class Client:
    def __init__(self, port, user, password, root):
        self.port, self.user, self.password, self.root = port, user, password, root

    def curl(self, args, name, tls=False):
        url = "ftp://%s:%d/%s" % (HOST, self.port, name)
        # -k: the server's self-signed certificate names the machine, not 127.0.0.1.
        cmd = ["curl", "-s", "-S", "--disable-epsv", "--max-time", str(CURL_MAX),
               "-u", "%s:%s" % (self.user, self.password)] + (["--ssl-reqd", "-k"] if tls else []) + args + [url]
        try:
            r = subprocess.run(cmd, capture_output=True, text=True, timeout=CURL_MAX + 15)
        except subprocess.TimeoutExpired:
            return None, "curl hung"
        if r.returncode != 0:
            return None, "curl rc=%d %s" % (r.returncode, r.stderr.strip()[:200])
        return r.stdout.split(), None

    def ftp(self):
        f = ftplib.FTP(timeout=SOCK_TIMEOUT)
        f.connect(HOST, self.port)
        f.login(self.user, self.password)
        f.voidcmd("TYPE I")
        return f

    def large_download(self, size, tls=False):
        r, err = self.curl(["-o", "/dev/null", "-w", "%{speed_download} %{size_download}"], "large.bin", tls)
        if err or int(float(r[1])) != size:
            return None, err or "short download: %s bytes" % r[1]
        return float(r[0]) / MB, None

    def large_upload(self, size, tls=False):
        src, name = os.path.join(self.root, "large.bin"), "up/large.bin"
        os.sync()     # no dirty pages of an earlier run pending
        r, err = self.curl(["-T", src, "-o", "/dev/null", "-w", "%{speed_upload} %{size_upload}"], name, tls)
        dest = os.path.join(self.root, name)
        stored = os.path.getsize(dest) if os.path.exists(dest) else None
        if os.path.exists(dest):
            os.remove(dest)
        if err or stored != size:
            return None, err or "stored %s of %d bytes" % (stored, size)
        return float(r[0]) / MB, None

    def small_download(self, n, size):
        f = self.ftp()
        done = total = 0
        end = time.monotonic() + BUDGET
        t0 = time.perf_counter()
        for i in range(n):
            if time.monotonic() > end:
                break
            conn = f.transfercmd("RETR small/s%04d.bin" % i)
            while True:
                b = conn.recv(65536)
                if not b:
                    break
                total += len(b)
            conn.close()
            f.voidresp()
            done += 1
        dt = time.perf_counter() - t0
        f.quit()
        errs = [] if done == n else ["%d of %d files in the time budget" % (done, n)]
        if total != done * size:
            errs.append("received %d bytes, expected %d" % (total, done * size))
        return rate_or_errors(done, dt, errs)

    def small_upload(self, n, size):
        f = self.ftp()
        payload = os.urandom(size)
        done, end = 0, time.monotonic() + BUDGET
        t0 = time.perf_counter()
        for i in range(n):
            if time.monotonic() > end:
                break
            f.storbinary("STOR up/u%04d.bin" % i, io.BytesIO(payload))
            done += 1
        dt = time.perf_counter() - t0
        f.quit()
        errs = [] if done == n else ["%d of %d files in the time budget" % (done, n)]
        up = os.path.join(self.root, "up")
        bad = [e for e in os.listdir(up) if os.path.getsize(os.path.join(up, e)) != size]
        if len(os.listdir(up)) != done or bad:
            errs.append("stored %d files, %d of the wrong size" % (len(os.listdir(up)), len(bad)))
        for e in os.listdir(up):
            os.remove(os.path.join(up, e))
        return rate_or_errors(done, dt, errs)


def rate_or_errors(done, dt, errs):
    """A small-file run's figure, or None and its errors in one text."""
    return (done / dt if not errs else None), "; ".join(errs) or None


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--server", required=True, action="append",
                    help="a nuboftpd binary; give it twice or more to compare builds run for run")
    ap.add_argument("--large-mib", type=int, default=1024, help="size of the large file (MiB, default 1024)")
    ap.add_argument("--small", type=int, default=500, help="number of small files (default 500)")
    ap.add_argument("--small-size", type=int, default=4096, help="size of a small file (bytes, default 4096)")
    ap.add_argument("--runs", type=int, default=3, help="runs of each workload (default 3)")
    ap.add_argument("--only", default="", help="workloads to run, by number: 1 large download, 2 large upload, "
                    "3 small download, 4 small upload, 5 TLS download, 6 TLS upload (default all), e.g. --only 12")
    ap.add_argument("--data-dir", help="folder for the temporary data set (default: the system's)")
    a = ap.parse_args()
    if not shutil.which("curl"):
        sys.exit("nubobench: curl not found")
    if not (1 <= a.runs <= 40 and 1 <= a.large_mib <= 16384 and 1 <= a.small <= 10000
            and 1 <= a.small_size <= 64 * MIB and 1 <= len(a.server) <= 4 and set(a.only) <= set("123456")):
        sys.exit("nubobench: runs 1..40, large-mib 1..16384, small 1..10000, small-size 1..64 MiB, "
                 "1..4 servers, --only of the digits 123456")

    root = tempfile.mkdtemp(prefix="nubobench-data-", dir=a.data_dir)
    rows, failed = [], False
    try:
        t0 = time.monotonic()
        make_dataset(root, a.large_mib, a.small, a.small_size)
        print("# data set in %s made in %.1f s; load average before: %s" % (root, time.monotonic() - t0, loadavg()),
              flush=True)
        with contextlib.ExitStack() as stack:
            servers = []
            for path in a.server:
                nubo.BINARY = os.path.abspath(path)   # read when the server starts
                # TLS offered: the clear workloads run as without it, the TLS ones ask for it.
                servers.append(stack.enter_context(nubo.NuboServer(settings=nubo.TEST_SETTINGS + "Encryption=1\r\n",
                                                                   users=nubo.account_text(USER, PASSWORD, home=root))))
            clients = [Client(srv.port, USER, PASSWORD, root) for srv in servers]
            large = a.large_mib * MIB
            # (number, label, one uncounted run first, one run)
            work = [
                ("1", "large download %d MiB (MB/s)" % a.large_mib, False, lambda c: c.large_download(large)),
                # On these virtual machines the first large write after a pause runs far
                # slower while the host hands memory back: one upload each goes uncounted.
                ("2", "large upload %d MiB (MB/s)" % a.large_mib, True, lambda c: c.large_upload(large)),
                ("3", "small download %d x %d B (files/s)" % (a.small, a.small_size), False,
                 lambda c: c.small_download(a.small, a.small_size)),
                ("4", "small upload %d x %d B (files/s)" % (a.small, a.small_size), False,
                 lambda c: c.small_upload(a.small, a.small_size)),
                ("5", "TLS download %d MiB (MB/s)" % a.large_mib, False, lambda c: c.large_download(large, True)),
                ("6", "TLS upload %d MiB (MB/s)" % a.large_mib, True, lambda c: c.large_upload(large, True)),
            ]
            for number, label, warmup, one in work:
                if a.only and number not in a.only:
                    continue
                try:
                    results = interleave(clients, a.runs, warmup, one)
                except (OSError, EOFError, ftplib.Error) as e:
                    results = [([], ["%s: %s" % (type(e).__name__, e)]) for _ in clients]
                for k, (rounds, errs) in enumerate(results):
                    values = [v for v in rounds if v is not None]
                    failed |= bool(errs) or not values
                    rows.append((label, k, rounds, values, errs))
                    print("# %s, server %d: %s %s" % (label, k + 1, [round(v, 1) for v in values], "; ".join(errs)),
                          flush=True)
            if failed:
                for k, srv in enumerate(servers):
                    print("# output of server %d:\n%s" % (k + 1, srv.output()))
    finally:
        shutil.rmtree(root, ignore_errors=True)

    print("\nnuboftpd on %s, %d cores, load average after: %s" % (HOST, os.cpu_count() or 0, loadavg()))
    for k, path in enumerate(a.server):
        print("server %d: %s" % (k + 1, path))
    print("%-40s %6s %10s %10s %6s %9s" % ("workload", "server", "median", "best", "runs", "vs 1"))
    first = {}
    for label, k, rounds, values, errs in rows:
        med = "%.1f" % statistics.median(values) if values else "-"
        best = "%.1f" % max(values) if values else "-"
        if k == 0:
            first[label] = rounds
        # Only rounds in which both servers have a figure are compared.
        paired = [v / f for v, f in zip(rounds, first[label]) if v and f] if k else []
        ratio = "%.2f" % statistics.median(paired) if paired else "-"
        print("%-40s %6d %10s %10s %6d %9s%s" % (label, k + 1, med, best, len(values), ratio,
                                                 "  ERRORS: " + "; ".join(errs) if errs else ""))
    return 1 if failed else 0


def interleave(clients, runs, warmup, one):
    """Runs each server once a round, the order turning by one each round so that no
    server always runs first; returns (figure of each round, None where the run
    failed; errors) a server.

    Servers measured in the same rounds meet the same state of the machine (page
    cache, other load), which separate sittings do not: the paired ratio is the
    figure to trust when two builds are compared."""
    out = [([], []) for _ in clients]
    end = time.monotonic() + BUDGET * len(clients)
    if warmup:
        for c, (_, errs) in zip(clients, out):
            _, e = one(c)
            if e:
                errs.append("warm-up: " + e)
    for r in range(runs):
        if time.monotonic() > end:
            for _, errs in out:
                errs.append("time budget spent")
            break
        for k in range(len(clients)):
            i = (r + k) % len(clients)
            v, e = one(clients[i])
            out[i][0].append(v)
            if e:
                out[i][1].append(e)
    return out


if __name__ == "__main__":
    sys.exit(main())
