"""File transfers over real data connections: curl, lftp and ftplib in passive and
active mode, resumes, aborts, STOU, and the mends against bounce and theft."""
import ftplib
import io
import os
import socket
import subprocess
import threading
import time
import unittest

from nubo import class_server, digest, recv_all, scratch_dir

SIZES = {"empty.bin": 0, "one.bin": 1, "mib.bin": 1 << 20}


class Transfers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = scratch_dir(cls, "nubo-xfer-")
        cls.srv = class_server(cls)
        for name, size in SIZES.items():
            with open(os.path.join(cls.data, name), "wb") as f:
                f.write(os.urandom(size))
        cls.url = "ftp://127.0.0.1:%d/%s" % (cls.srv.port, cls.data.strip("/"))

    def path(self, name):
        return os.path.join(self.data, name)

    def curl(self, *args):
        # The URL path after the host is taken relative to the login folder; a leading
        # "%2F" makes it absolute, so the data folder is reached from C:\TEMP\.
        out = subprocess.run(["curl", "-sS", "--max-time", "60"] + list(args),
                             capture_output=True, timeout=90)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        return out.stdout

    def curl_url(self, name):
        return "ftp://127.0.0.1:%d/%%2F%s/%s" % (self.srv.port, self.data.strip("/"), name)

    def ftp(self, passive=True):
        f = self.srv.ftp()
        f.login("user", "pw")
        f.set_pasv(passive)
        f.cwd(self.data)
        return f

    def test_curl_downloads_and_uploads_passive_and_active(self):
        for name in SIZES:
            for mode in ([], ["-P", "-"]):
                with self.subTest(name=name, mode=mode):
                    out = self.path("dl-" + name)
                    self.curl(*mode, self.curl_url(name), "-o", out)
                    self.assertEqual(digest(out), digest(self.path(name)))
                    up = "up-%s-%d" % (name, len(mode))
                    self.curl(*mode, "-T", self.path(name), self.curl_url(up))
                    self.assertEqual(digest(self.path(up)), digest(self.path(name)))  # zero bytes too

    def test_ftplib_downloads_and_uploads_passive_and_active(self):
        for passive in (True, False):
            ftp = self.ftp(passive)
            for name in SIZES:
                with self.subTest(name=name, passive=passive):
                    buf = io.BytesIO()
                    self.assertEqual(ftp.retrbinary("RETR " + name, buf.write), "226 File sent ok")
                    with open(self.path(name), "rb") as f:
                        self.assertEqual(buf.getvalue(), f.read())
                    up = "ftplib-%d-%s" % (passive, name)
                    with open(self.path(name), "rb") as f:
                        self.assertEqual(ftp.storbinary("STOR " + up, f), "226 File received ok")
                    # An upload of zero bytes creates an empty file.
                    self.assertEqual(digest(self.path(up)), digest(self.path(name)))
            ftp.quit()

    def test_lftp_get_and_put(self):
        script = "set net:max-retries 1; set net:timeout 10; cd %s; get mib.bin -o %s; put %s -o lftp-up.bin; " \
                 "nlist; quit" % (self.data, self.path("lftp-dl.bin"), self.path("mib.bin"))
        out = subprocess.run(["lftp", "-u", "user,pw", "-p", str(self.srv.port), "-e", script, "127.0.0.1"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(digest(self.path("lftp-dl.bin")), digest(self.path("mib.bin")))
        self.assertEqual(digest(self.path("lftp-up.bin")), digest(self.path("mib.bin")))
        self.assertIn("mib.bin", out.stdout.split())

    def test_resume_download_and_append_upload(self):
        with open(self.path("k.bin"), "wb") as f:
            f.write(bytes(range(250)) * 4)
        ftp = self.ftp()
        buf = io.BytesIO()
        ftp.retrbinary("RETR k.bin", buf.write, rest=100)
        self.assertEqual(buf.getvalue(), (bytes(range(250)) * 4)[100:])
        buf = io.BytesIO()
        ftp.retrbinary("RETR k.bin", buf.write)  # the offset was used up
        self.assertEqual(len(buf.getvalue()), 1000)
        with self.assertRaises(ftplib.error_perm) as e:  # nothing to send there
            ftp.retrbinary("RETR k.bin", buf.write, rest=5000)
        self.assertEqual(str(e.exception),
                         "554 Cannot RETR. Restart offset 5000 is beyond the end of the file (1000 bytes).")
        buf = io.BytesIO()
        ftp.retrbinary("RETR k.bin", buf.write, rest=1000)  # the end itself: nothing, and success
        self.assertEqual(buf.getvalue(), b"")
        self.assertEqual(ftp.sendcmd("REST abc"), "350 REST supported. Ready to resume at byte offset 0.")
        with self.assertRaises(ftplib.error_perm) as e:
            ftp.sendcmd("REST 99999999999999999999")  # beyond 64 bits
        self.assertEqual(str(e.exception), "501 Required byte offset parameter bad or missing.")
        # curl -a appends: APPE of an existing 1000-byte file continues after it.
        extra = self.path("extra.bin")
        with open(extra, "wb") as f:
            f.write(b"tail")
        self.curl("-a", "-T", extra, self.curl_url("k.bin"))
        with open(self.path("k.bin"), "rb") as f:
            self.assertEqual(f.read(), bytes(range(250)) * 4 + b"tail")
        # REST then STOR of a missing file is refused before any data connection.
        ftp.sendcmd("REST 100")
        with self.assertRaises(ftplib.error_perm) as e:
            ftp.ntransfercmd("STOR missing-rest.bin")
        self.assertTrue(str(e.exception).startswith("550 Cannot STOR. Cannot open file "), str(e.exception))
        self.assertFalse(os.path.exists(self.path("missing-rest.bin")))
        ftp.quit()

    def test_empty_upload_over_an_existing_file(self):
        # No bytes arrive, so no file is opened; a STOR must still leave the file empty,
        # an APPE leaves it as it was.
        ftp = self.ftp()
        for command, name, left in (("STOR", "z-stor.txt", b""), ("APPE", "z-appe.txt", b"old content")):
            with self.subTest(command=command):
                with open(self.path(name), "wb") as f:
                    f.write(b"old content")
                self.assertEqual(ftp.storbinary("%s %s" % (command, name), io.BytesIO(b"")), "226 File received ok")
                with open(self.path(name), "rb") as f:
                    self.assertEqual(f.read(), left)
        ftp.quit()
        with open(self.path("z-curl.txt"), "wb") as f:
            f.write(b"old content")
        self.curl("-T", self.path("empty.bin"), self.curl_url("z-curl.txt"))
        self.assertEqual(os.path.getsize(self.path("z-curl.txt")), 0)

    def test_raw_replies_stou_missing_file_and_abor(self):
        c = self.srv.raw()
        c.login()
        c.cmd("CWD " + self.data)
        # Refused before "150": RETR of a missing file or of a folder,
        # uploads into a missing folder or onto a folder, a listing of a missing folder.
        local = self.data + "/nothing.bin"
        os.mkdir(self.path("adir"))
        for command, reply in [
                ("RETR nothing.bin", '550 Cannot RETR. File not found: "%s"' % local),
                ("RETR adir", '550 Cannot RETR. File not found: "%s/adir"' % self.data),
                ("STOR nodir/x.bin", '550 Cannot STOR. Cannot create file "%s/nodir/x.bin". '
                                     'No such file or directory' % self.data),
                ("STOR adir", '550 Cannot STOR. Cannot create file "%s/adir". Is a directory' % self.data),
                ("APPE nodir/x.bin", "550 APPE failed."),
                ("LIST nodir", "550 'nodir': no such file or directory."),
                ("NLST nodir/*.txt", "550 'nodir/*.txt': no such file or directory."),
                ("MLSD nothing.bin", "550 'nothing.bin': no such file or directory.")]:
            with self.subTest(command=command):
                d = c.pasv()  # connected, and left for the client to close
                self.assertEqual(c.cmd(command), reply)
                d.close()
        self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")  # no late reply came
        self.assertFalse(os.path.exists(self.path("nodir")))
        # STOU: a full local path FTP<hex>, the upload lands there, and no placeholder stays.
        d = c.pasv()
        reply = c.cmd("STOU")
        self.assertTrue(reply.startswith("150 Opening data connection for /"), reply)
        name = reply[len("150 Opening data connection for "):-1]
        base = name.rsplit("/", 1)[1]
        self.assertRegex(base, r"^FTP[0-9A-F]+$")
        d.sendall(b"unique")
        d.close()
        self.assertEqual(c.reply(), "250 '%s': file created." % name)
        with open(self.path(base), "rb") as f:
            self.assertEqual(f.read(), b"unique")
        self.assertFalse(os.path.exists(self.path(base + ".TMP")))
        # APPE of a missing file creates it, at offset 0.
        d = c.pasv()
        self.assertEqual(c.cmd("APPE new-appe.bin"),
                         '150 APPE supported.  Ready to append file "new-appe.bin" at offset 0.')
        d.sendall(b"abc")
        d.close()
        self.assertEqual(c.reply(), "226 File received ok")
        with open(self.path("new-appe.bin"), "rb") as f:
            self.assertEqual(f.read(), b"abc")
        # ABOR without a transfer, and during an upload (the partial file stays).
        self.assertEqual(c.cmd("ABOR"), "225 ABOR command successful.")
        d = c.pasv()
        self.assertEqual(c.cmd("STOR partial.bin"), "150 Opening data connection for partial.bin.")
        d.sendall(b"p" * 1000)
        time.sleep(0.3)
        self.assertEqual(c.cmd("ABOR"), "426 Connection closed; ABORT requested by client.")
        self.assertEqual(c.reply(), "226 ABOR command successful.")
        self.assertEqual(os.path.getsize(self.path("partial.bin")), 1000)
        d.close()
        # A NOOP during an upload does not change its final reply.
        d = c.pasv()
        self.assertEqual(c.cmd("STOR noop.bin"), "150 Opening data connection for noop.bin.")
        d.sendall(b"n")
        self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")
        d.close()
        self.assertEqual(c.reply(), "226 File received ok")

    def test_commands_between_transfer_and_passive_connection(self):
        # The passive connection may be accepted after later commands were handled:
        # the upload still gets its handlers and its reply.
        c = self.srv.raw()
        c.login()
        c.cmd("CWD " + self.data)
        for i in range(50):
            reply = c.cmd("PASV")
            nums = reply[reply.index("(") + 1:reply.index(")")].split(",")
            c.send("STOR race.bin\r\nNOOP\r\n")
            d = socket.create_connection(("127.0.0.1", int(nums[4]) * 256 + int(nums[5])), timeout=10)
            self.assertEqual(c.reply(), "150 Opening data connection for race.bin.")
            self.assertEqual(c.reply(), "200 Ok. Parameter was ''.")
            d.sendall(b"x%d" % i)
            d.close()
            self.assertEqual(c.reply(), "226 File received ok", i)
            with open(self.path("race.bin"), "rb") as f:
                self.assertEqual(f.read(), b"x%d" % i)

    def test_data_connection_edges_keep_replies_in_step(self):
        """Sequences a soak of random clients found out of step: every command gets its
        own replies, in order, and the next command's reply is its own."""
        c = self.srv.raw()
        c.login("user", "pw")
        c.cmd("CWD " + self.data)
        with open(self.path("mib.bin"), "rb") as f:
            whole = f.read()
        # A passive connection opened and closed with no command answers nothing itself.
        d = c.pasv()
        time.sleep(0.05)
        d.close()
        time.sleep(0.05)
        self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")
        # PORT after PASV: the transfer connects out to the PORT address.
        c.cmd("PASV")
        with socket.create_server(("127.0.0.1", 0)) as ls:
            ls.settimeout(10)
            p = ls.getsockname()[1]
            self.assertEqual(c.cmd("PORT 127,0,0,1,%d,%d" % (p >> 8, p & 255)), "200 Port command successful.")
            self.assertTrue(c.cmd("RETR mib.bin").startswith("150"))
            d, _ = ls.accept()
            with d:
                self.assertEqual(recv_all(d), whole)
        self.assertEqual(c.reply(), "226 File sent ok")
        # A REST sent before an earlier command's data connection ended still holds.
        d = c.pasv()
        self.assertTrue(c.cmd("STOR /no/such/folder/x.bin").startswith("5"))
        self.assertEqual(c.cmd("REST 4"), "350 REST supported. Ready to resume at byte offset 4.")
        d.close()
        time.sleep(0.05)
        d = c.pasv()
        self.assertTrue(c.cmd("RETR mib.bin").startswith("150"))
        self.assertEqual(recv_all(d), whole[4:])
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        # ABOR in the same packet as RETR, before any data moved: 426 for the RETR, then 226.
        for _ in range(5):
            d = c.pasv()
            time.sleep(0.02)
            c.send("RETR mib.bin\r\nABOR\r\n")
            self.assertTrue(c.reply().startswith("150"))
            self.assertEqual(c.reply(), "426 Connection closed; ABORT requested by client.")
            self.assertEqual(c.reply(), "226 ABOR command successful.")
            d.close()
            self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")

    def test_passive_connection_closed_before_its_command(self):
        """The client connects to the passive port and closes before any command takes
        the connection: a refused command ends quietly, a granted one gets 425 after its
        150, and the next PASV, or PORT, serves its transfer."""
        c = self.srv.raw()
        c.login("user", "pw")
        c.cmd("CWD " + self.data)
        cases = [("STOR /no/such/folder/x.bin", None), ("RETR no-such.bin", None), ("LIST no-such-folder", None),
                 ("RETR one.bin", "425 Can't open data connection."),
                 ("STOR closed.bin", "425 Can't open data connection."),
                 ("LIST", "425 Can't open data connection.")]
        for line, late in cases:
            with self.subTest(line=line):
                d = c.pasv()
                self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")  # the server took it
                d.close()
                time.sleep(0.1)
                reply = c.cmd(line)
                if late:
                    self.assertTrue(reply.startswith("150"), reply)
                    self.assertEqual(c.reply(), late)
                else:
                    self.assertTrue(reply.startswith("5"), reply)
                self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")
                d = c.pasv()
                self.assertTrue(c.cmd("NLST").startswith("150"))
                names = recv_all(d)
                d.close()
                self.assertEqual(c.reply(), "226 File sent ok")
                self.assertIn(b"one.bin\r\n", names)
        # A refused command's connection still open when PORT comes (its close can reach
        # the server after the client's next commands): the download connects out.
        d = c.pasv()
        c.cmd("NOOP")
        self.assertTrue(c.cmd("RETR no-such.bin").startswith("550"))
        with socket.create_server(("127.0.0.1", 0)) as ls:
            ls.settimeout(10)
            p = ls.getsockname()[1]
            self.assertEqual(c.cmd("PORT 127,0,0,1,%d,%d" % (p >> 8, p & 255)), "200 Port command successful.")
            self.assertEqual(c.cmd("RETR one.bin"), "150 Opening data connection for one.bin.")
            a, _ = ls.accept()
            with a:
                self.assertEqual(len(recv_all(a)), 1)
        self.assertEqual(c.reply(), "226 File sent ok")
        # The refused command's connection was closed: an end, or a reset when the server
        # had not taken it from the listener's queue yet.
        try:
            self.assertEqual(recv_all(d), b"")
        except ConnectionResetError:
            pass
        d.close()

    def test_port_bounce_and_failed_connections(self):
        c = self.srv.raw()
        c.login()
        for arg in ["", "10,0,0,1,4,0", "127,0,0,1,0,80", "127,0,0,1,300,1", "10;0;0;1;4;0", "127,0,0,2,40,0"]:
            self.assertEqual(c.cmd("PORT " + arg), "501 Invalid PORT command.", arg)
        self.assertEqual(c.cmd("PORT 127,0,0,1,40,0"), "200 Port command successful.")
        c.cmd("CWD " + self.data)
        # Nobody listens on 127.0.0.1:10240: the download says so after its 150.
        self.assertEqual(c.cmd("RETR one.bin"), "150 Opening data connection for one.bin.")
        self.assertEqual(c.reply(), "501 Cannot RETR. Client data socket connection error: 10061")
        # The upload's failed connection is not reported as success.
        c.cmd("PORT 127,0,0,1,40,0")
        self.assertEqual(c.cmd("STOR nowhere.bin"), "150 Opening data connection for nowhere.bin.")
        self.assertEqual(c.reply(), "426 Connection closed; Client data socket connection error: 10061.")
        # A RETR with no PORT and no PASV on a new connection.
        n = self.srv.raw()
        n.login()
        n.cmd("CWD " + self.data)
        self.assertEqual(n.cmd("RETR one.bin"), "150 Opening data connection for one.bin.")
        self.assertEqual(n.reply(), "501 Cannot RETR. Connect: No Port Specified")
        self.assertEqual(n.cmd("NOOP"), "200 Ok. Parameter was ''.")

    def test_passive_connection_from_another_address_is_refused(self):
        c = self.srv.raw()
        c.login()
        reply = c.cmd("PASV")
        nums = reply[reply.index("(") + 1:reply.index(")")].split(",")
        port = int(nums[4]) * 256 + int(nums[5])
        thief = socket.socket()
        thief.bind(("127.0.0.2", 0))
        thief.settimeout(5)
        thief.connect(("127.0.0.1", port))
        self.assertEqual(recv_all(thief), b"")  # closed at once
        thief.close()
        d = socket.create_connection(("127.0.0.1", port), timeout=5)
        c.cmd("CWD " + self.data)
        self.assertEqual(c.cmd("RETR one.bin"), "150 Opening data connection for one.bin.")
        with open(self.path("one.bin"), "rb") as f:
            self.assertEqual(recv_all(d), f.read())
        d.close()  # the reply comes once the client has closed its side
        self.assertEqual(c.reply(), "226 File sent ok")

    def test_control_closed_mid_download_and_concurrent_readers(self):
        big = self.path("big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(1 << 20) * 32)
        c = self.srv.raw()
        c.login()
        c.cmd("CWD " + self.data)
        d = c.pasv()
        d.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.assertEqual(c.cmd("RETR big.bin"), "150 Opening data connection for big.bin.")
        d.recv(1000)
        c.close()  # the client goes away mid-download
        time.sleep(0.3)
        fds = os.listdir("/proc/%d/fd" % self.srv.proc.pid)
        self.assertFalse(any(os.readlink("/proc/%d/fd/%s" % (self.srv.proc.pid, fd)) == big
                             for fd in fds if os.path.exists("/proc/%d/fd/%s" % (self.srv.proc.pid, fd))))
        d.close()
        # Two clients download the same file at once; both get it whole.
        results = {}

        def fetch(i):
            buf = io.BytesIO()
            f = self.ftp()
            f.retrbinary("RETR big.bin", buf.write)
            f.quit()
            results[i] = digest_bytes(buf.getvalue())
        threads = [threading.Thread(target=fetch, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(results, {0: digest(big), 1: digest(big)})


def digest_bytes(b):
    import hashlib
    return hashlib.md5(b).hexdigest()


if __name__ == "__main__":
    unittest.main()
