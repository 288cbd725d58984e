"""Many clients at once on the one thread, a client that stops reading, and files
above 4 GiB end to end."""
import hashlib
import os
import socket
import subprocess
import threading
import unittest

from nubo import class_server, digest, make_sparse, scratch_dir

FIVE_GIB = 5 << 30


class Load(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = scratch_dir(cls, "nubo-load-")
        cls.srv = class_server(cls)

    def path(self, name):
        return os.path.join(self.data, name)

    def test_twenty_clients_and_a_stalled_one(self):
        src = self.path("src.bin")
        with open(src, "wb") as f:
            f.write(os.urandom(1 << 20) * 16)
        want = digest(src)

        # The stalled client: starts a download and never reads it.
        stalled = self.srv.raw()
        stalled.login()
        stalled.cmd("CWD " + self.data)
        d = stalled.pasv()
        d.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.assertEqual(stalled.cmd("RETR src.bin"), "150 Opening data connection for src.bin.")

        results, errors = {}, []

        def client(i):
            try:
                ftp = self.srv.ftp(timeout=60)
                ftp.login("u", "p")
                ftp.cwd(self.data)
                if i % 2:
                    with open(src, "rb") as f:
                        ftp.storbinary("STOR up%d.bin" % i, f, blocksize=1 << 16)
                    results[i] = digest(self.path("up%d.bin" % i))
                else:
                    h = hashlib.md5()
                    ftp.retrbinary("RETR src.bin", h.update, blocksize=1 << 16)
                    results[i] = h.hexdigest()
                ftp.quit()
            except Exception as e:  # reported below with the client's number
                errors.append((i, repr(e)))

        threads = [threading.Thread(target=client, args=(i,)) for i in range(20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertEqual(errors, [])
        self.assertEqual(results, {i: want for i in range(20)})
        # The stalled client's download is still alive: its data continues where it
        # stopped, and it can be aborted on its control connection.
        with open(src, "rb") as f:
            prefix = f.read(1 << 16)
        got = b""
        while len(got) < len(prefix):
            got += d.recv(len(prefix) - len(got))
        self.assertEqual(got, prefix)
        self.assertEqual(stalled.cmd("ABOR"), "426 Connection closed; ABORT requested by client.")
        self.assertEqual(stalled.reply(), "226 ABOR command successful.")
        d.close()

    @unittest.skipIf(os.environ.get("NUBO_SANITIZE") == "1", "bulk volume: normal build only")
    def test_five_gib_download_and_upload(self):
        big = self.path("five.bin")
        make_sparse(big, FIVE_GIB)
        url = "ftp://127.0.0.1:%d/%%2F%s/" % (self.srv.port, self.data.strip("/"))
        # Download straight into cmp against the file.
        curl = subprocess.Popen(["curl", "-sS", "--max-time", "300", url + "five.bin"], stdout=subprocess.PIPE)
        cmp = subprocess.run(["cmp", "-", big], stdin=curl.stdout, capture_output=True, timeout=400)
        curl.stdout.close()
        self.assertEqual(curl.wait(60), 0)
        self.assertEqual(cmp.returncode, 0, cmp.stdout + cmp.stderr)
        # Upload it back and compare the stored copy.
        up = subprocess.run(["curl", "-sS", "--max-time", "300", "-T", big, url + "five-up.bin"],
                            capture_output=True, timeout=400)
        self.assertEqual(up.returncode, 0, up.stderr)
        self.assertEqual(os.path.getsize(self.path("five-up.bin")), FIVE_GIB)
        self.assertEqual(subprocess.run(["cmp", big, self.path("five-up.bin")]).returncode, 0)
        os.remove(self.path("five-up.bin"))


if __name__ == "__main__":
    unittest.main()
