"""How long one client's digest of a large file keeps the server from answering others.

    NUBOFTPD=build/app/nuboftpd python3 bench/md5_stall.py [size_in_MiB] [command]

command is the digest command to time: MD5 (the default), HASH (SHA-256), XSHA256,
XSHA1, XMD5 or XCRC. Client A asks for the digest of a sparse file; client B sends NOOP
after NOOP meanwhile and records each round trip. Prints the digest's duration (what one unsliced digest would
stall the loop for) and B's worst and median round trip during it. Loopback only; ends
by itself when the digest reply arrives.
"""
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from nubo import NuboServer  # noqa: E402


def main():
    size_mib = int(sys.argv[1]) if len(sys.argv) > 1 else 4096
    command = sys.argv[2].upper() if len(sys.argv) > 2 else "MD5"
    folder = tempfile.mkdtemp(prefix="nubo-bench-md5-")
    try:
        with open(os.path.join(folder, "big.bin"), "wb") as f:
            f.truncate(size_mib << 20)
        with NuboServer() as srv:
            a, b = srv.raw(), srv.raw()
            for c in (a, b):
                c.login()
                c.cmd("CWD " + folder)
            b.cmd("NOOP warm")
            a.sock.settimeout(0)
            start = time.monotonic()
            a.send(command + " big.bin\r\n")
            rtts = []
            reply = None
            while reply is None and time.monotonic() - start < 300:
                t0 = time.monotonic()
                b.cmd("NOOP")
                rtts.append(time.monotonic() - t0)
                try:
                    a.buf += a.sock.recv(4096)
                except BlockingIOError:
                    pass
                if b"\r\n" in a.buf:
                    reply = a.buf.decode("latin-1").strip()
            took = time.monotonic() - start
        print("file: %d MiB (sparse), command %s" % (size_mib, command))
        print("reply: %s" % reply)
        print("digest took: %.2f s" % took)
        print("NOOP round trips during it: %d, worst %.1f ms, median %.2f ms"
              % (len(rtts), max(rtts) * 1000, statistics.median(rtts) * 1000))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
