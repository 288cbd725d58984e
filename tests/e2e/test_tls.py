"""Encrypted sessions: AUTH TLS with curl, lftp and ftplib against a server that requires
TLS, the refusals of such a server, and bad input in the middle of a handshake."""
import ftplib
import hashlib
import os
import socket
import ssl
import subprocess
import time
import unittest

from nubo import NuboServer, TEST_SETTINGS, class_server, digest, error_of, free_port, make_sparse, scratch_dir

FIVE_GIB = 5 << 30
REQUIRED = TEST_SETTINGS + "Encryption=2\r\n"
OFFERED = TEST_SETTINGS + "Encryption=1\r\n"


class SessionFTP(ftplib.FTP_TLS):
    """ftplib's TLS client whose data connections resume the control connection's TLS
    session, as FileZilla, lftp and curl do."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


def client_context(server_dir):
    """Trusts exactly the certificate the server made for itself."""
    ctx = ssl.create_default_context(cafile=os.path.join(server_dir, "ftp_cert.pem"))
    ctx.check_hostname = False  # the certificate names the machine, the test dials 127.0.0.1
    return ctx


def tls_client(srv, timeout=30):
    f = SessionFTP(context=client_context(srv.dir), timeout=timeout)
    f.connect("127.0.0.1", srv.port)
    srv.clients.append(f)
    return f


def content(path):
    with open(path, "rb") as f:
        return f.read()


class RequiredTls(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = scratch_dir(cls, "nubo-tls-")
        for name, size in (("empty.bin", 0), ("mib.bin", 1 << 20)):
            with open(os.path.join(cls.data, name), "wb") as f:
                f.write(os.urandom(size))
        cls.srv = class_server(cls, settings=REQUIRED)
        cls.cert = os.path.join(cls.srv.dir, "ftp_cert.pem")

    def path(self, name):
        return os.path.join(self.data, name)

    def protected_client(self, passive=True):
        """Logged in, PROT P, in the data folder."""
        f = tls_client(self.srv)
        f.login("user", "pw")
        f.prot_p()
        f.set_pasv(passive)
        f.cwd(self.data)
        return f

    def curl(self, *args):
        # -k: the certificate names the machine, and the test dials 127.0.0.1.
        out = subprocess.run(["curl", "-sS", "--max-time", "60", "--ssl-reqd", "-k", "--user", "user:pw"] + list(args),
                             capture_output=True, timeout=90)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        return out.stdout

    def url(self, name=""):
        return "ftp://127.0.0.1:%d/%s/%s" % (self.srv.port, self.data.strip("/"), name)

    def test_the_certificate_is_made_once_with_a_private_key(self):
        key = os.path.join(self.srv.dir, "ftp_key.pem")
        self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)
        with open(self.cert, "rb") as f:
            der = ssl.PEM_cert_to_DER_cert(f.read().decode())
        fingerprint = ":".join("%02X" % b for b in hashlib.sha256(der).digest())
        self.assertIn(fingerprint, self.srv.output())

    def test_the_connect_pane_says_a_session_is_encrypted(self):
        f = tls_client(self.srv)
        f.login("user", "pw")
        self.assertTrue(self.srv.wait_output(r"connect: .*Encrypted: TLSv1\.3, TLS_"))

    def test_curl_lists_downloads_uploads_and_resumes(self):
        # Passive only: curl 7.87 and 7.88 never start TLS on an active data connection
        # (their bug 10666); ftplib and lftp cover active mode.
        self.assertIn(b"mib.bin", self.curl("--list-only", self.url()))
        for name in ("empty.bin", "mib.bin"):
            self.assertEqual(self.curl(self.url(name)), content(self.path(name)))
        self.curl("-T", self.path("mib.bin"), self.url("up-curl.bin"))
        self.addCleanup(os.remove, self.path("up-curl.bin"))
        self.assertEqual(digest(self.path("up-curl.bin")), digest(self.path("mib.bin")))
        # A resumed upload continues at the file's end.
        with open(self.path("mib.bin"), "rb") as f:
            whole = f.read()
        part = self.path("part.bin")
        with open(part, "wb") as f:
            f.write(whole[:1000])
        self.addCleanup(os.remove, part)
        self.curl("-C", "-", "-T", self.path("mib.bin"), self.url("part.bin"))
        self.assertEqual(content(part), whole)

    def test_lftp_with_tls_forced(self):
        target = scratch_dir(self, "nubo-tls-lftp-")
        script = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file %s; "
                  "set ssl:check-hostname false; set net:max-retries 1; set net:timeout 20; "
                  "open -u user,pw -p %d 127.0.0.1; cd %s; get mib.bin -o %s/mib.bin; "
                  "put %s/mib.bin -o up-lftp.bin; set ftp:passive-mode false; cls -1" % (
                      self.cert, self.srv.port, self.data, target, target))
        out = subprocess.run(["lftp", "-c", script], capture_output=True, timeout=120)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.addCleanup(os.remove, self.path("up-lftp.bin"))
        self.assertEqual(digest(os.path.join(target, "mib.bin")), digest(self.path("mib.bin")))
        self.assertEqual(digest(self.path("up-lftp.bin")), digest(self.path("mib.bin")))
        self.assertIn(b"up-lftp.bin", out.stdout)

    def test_ftplib_passive_and_active(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.protected_client(passive)
                got = []
                f.retrbinary("RETR mib.bin", got.append)
                self.assertEqual(b"".join(got), content(self.path("mib.bin")))
                with open(self.path("mib.bin"), "rb") as src:
                    f.storbinary("STOR up-ftplib-%d.bin" % passive, src)
                self.addCleanup(os.remove, self.path("up-ftplib-%d.bin" % passive))
                self.assertEqual(digest(self.path("up-ftplib-%d.bin" % passive)), digest(self.path("mib.bin")))
                self.assertIn("mib.bin", f.nlst())
                f.quit()

    @unittest.skipIf(os.environ.get("NUBO_SANITIZE") == "1", "bulk volume: normal build only")
    def test_a_five_gib_file_both_ways_and_resumed_past_four_gib(self):
        big = self.path("five.bin")
        make_sparse(big, FIVE_GIB)
        self.addCleanup(os.remove, big)
        curl = ["curl", "-sS", "--max-time", "600", "--ssl-reqd", "-k", "--user", "user:pw"]
        # Downloaded straight into cmp against the file.
        down = subprocess.Popen(curl + [self.url("five.bin")], stdout=subprocess.PIPE)
        cmp = subprocess.run(["cmp", "-", big], stdin=down.stdout, capture_output=True, timeout=700)
        down.stdout.close()
        self.assertEqual(down.wait(60), 0)
        self.assertEqual(cmp.returncode, 0, cmp.stdout + cmp.stderr)
        up = subprocess.run(curl + ["-T", big, self.url("five-up.bin")], capture_output=True, timeout=700)
        self.assertEqual(up.returncode, 0, up.stderr)
        self.addCleanup(os.remove, self.path("five-up.bin"))
        self.assertEqual(os.path.getsize(self.path("five-up.bin")), FIVE_GIB)
        self.assertEqual(subprocess.run(["cmp", big, self.path("five-up.bin")]).returncode, 0)
        # A download resumed past 4 GiB, passive and active.
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.protected_client(passive)
                got = []
                f.retrbinary("RETR five.bin", got.append, rest=FIVE_GIB - 8)
                self.assertEqual(b"".join(got), b"\0\0\0\0tail")
                f.quit()

    def test_a_client_that_goes_away_mid_upload_keeps_what_it_sent(self):
        sent = os.urandom(300_000)
        # The data connection ends without TLS's close alert: like a clear one that
        # closes, the bytes received are the file and the transfer is answered.
        f = self.protected_client()
        conn = f.transfercmd("STOR cut.bin")
        conn.sendall(sent)
        conn.close()  # no unwrap(): no close_notify
        self.assertEqual(f.voidresp(), "226 File received ok")
        self.addCleanup(os.remove, self.path("cut.bin"))
        self.assertEqual(content(self.path("cut.bin")), sent)
        # The whole client vanishes, control connection included: the file keeps its bytes.
        g = self.protected_client()
        conn = g.transfercmd("STOR gone.bin")
        conn.sendall(sent)
        conn.close()
        g.sock.close()
        self.addCleanup(os.remove, self.path("gone.bin"))
        deadline = time.time() + 20
        while time.time() < deadline and os.path.getsize(self.path("gone.bin")) < len(sent):
            time.sleep(0.05)
        self.assertEqual(content(self.path("gone.bin")), sent)
        # And the server serves on.
        h = self.protected_client()
        got = []
        h.retrbinary("RETR gone.bin", got.append)
        self.assertEqual(b"".join(got), sent)

    def test_a_data_connection_that_does_not_resume_the_session_is_refused(self):
        f = ftplib.FTP_TLS(context=client_context(self.srv.dir), timeout=30)  # no session reuse
        f.connect("127.0.0.1", self.srv.port)
        self.srv.clients.append(f)
        f.login("user", "pw")
        f.prot_p()
        f.cwd(self.data)
        with open(self.path("keep.bin"), "wb") as out:
            out.write(b"old content")
        self.addCleanup(os.remove, self.path("keep.bin"))
        source = open(self.path("mib.bin"), "rb")
        self.addCleanup(source.close)
        for call in (lambda: f.retrbinary("RETR mib.bin", lambda b: None),
                     lambda: f.storbinary("STOR keep.bin", source)):
            try:
                call()
                self.fail("a data connection without the control connection's session was taken")
            except (ftplib.Error, ssl.SSLError, OSError):
                pass
            # In step again: the transfer's failure reply may still wait when the data side failed first.
            f.putcmd("NOOP")
            while True:
                try:
                    if f.getresp().startswith("200"):
                        break
                except (ftplib.error_temp, ftplib.error_perm) as e:
                    self.assertTrue(str(e)[:4] in ("426 ", "501 "), str(e))
        self.assertEqual(content(self.path("keep.bin")), b"old content")
        self.assertTrue(self.srv.wait_output("TLS session is not the control connection's"))
        # The same client with its session resumed is served.
        g = self.protected_client()
        self.assertIn("mib.bin", g.nlst())

    def test_refusals_of_a_server_that_requires_tls(self):
        clear = self.srv.ftp()
        clear.getwelcome()
        self.assertEqual(error_of(clear.sendcmd, "USER user"),
                         "530 This server requires TLS: send AUTH TLS before USER.")
        self.assertEqual(error_of(clear.sendcmd, "PBSZ 0"),
                         "503 PBSZ needs an encrypted control connection: send AUTH TLS first.")
        self.assertEqual(error_of(clear.sendcmd, "AUTH KERBEROS"),
                         "504 AUTH KERBEROS is not supported; use AUTH TLS.")
        # Before any login, in clear, a client learns that TLS is offered.
        self.assertIn("\n AUTH TLS\n PBSZ\n PROT\n211 END", clear.sendcmd("FEAT"))
        self.assertEqual(clear.sendcmd("HELP AUTH"), "214 Syntax: AUTH <sp> TLS")
        f = tls_client(self.srv)
        f.auth()
        self.assertEqual(error_of(f.sendcmd, "PROT P"), "503 PROT needs PBSZ first.")
        self.assertEqual(error_of(f.sendcmd, "AUTH TLS"), "503 TLS is already active.")
        f.login("user", "pw")  # ftplib sends no PBSZ or PROT by itself
        self.assertEqual(error_of(f.nlst), "521 Data connections must be encrypted: send PBSZ 0 and PROT P first.")
        self.assertEqual(f.sendcmd("PBSZ 0"), "200 PBSZ=0")
        self.assertEqual(error_of(f.sendcmd, "PROT C"),
                         "534 Protection level C is refused: data connections must be encrypted.")
        self.assertEqual(error_of(f.sendcmd, "PROT E"), "536 Protection level E is not supported.")
        self.assertEqual(error_of(f.sendcmd, "CCC"), "534 CCC is refused: the control connection stays encrypted.")
        self.assertIn("AUTH TLS", f.sendcmd("FEAT"))
        f.prot_p()
        f.cwd(self.data)
        self.assertIn("mib.bin", f.nlst())

    def test_bad_handshakes_cost_only_their_connection(self):
        def after_auth():
            raw = self.srv.raw()
            self.assertEqual(raw.cmd("AUTH TLS"), "234 AUTH TLS successful.")
            return raw.sock

        def ends(c):
            """The server closes the connection (a time-out fails the test)."""
            try:
                while c.recv(1000):
                    pass
            except ConnectionResetError:
                pass
            return True

        # Commands in clear where the handshake belongs.
        c = after_auth()
        c.sendall(b"USER user\r\nPASS pw\r\n")
        self.assertTrue(ends(c))
        self.assertTrue(self.srv.wait_output(r"connect: .*TLS handshake failed: "))
        # A record header that promises a handshake, then garbage.
        c = after_auth()
        c.sendall(b"\x16\x03\x01\x00\x10" + b"\xff" * 16)
        self.assertTrue(ends(c))
        # A handshake cut off: the client goes away in the middle.
        c = after_auth()
        c.sendall(b"\x16\x03\x01\x02\x00\x01")
        c.close()
        # A whole handshake, its records split into single bytes.
        c = after_auth()
        ctx = client_context(self.srv.dir)
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = ctx.wrap_bio(incoming, outgoing)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                for b in outgoing.read():
                    c.sendall(bytes([b]))
                incoming.write(c.recv(65536))
        for b in outgoing.read():
            c.sendall(bytes([b]))
        tls.write(b"NOOP\r\n")
        for b in outgoing.read():
            c.sendall(bytes([b]))
        reply = b""
        while not reply.endswith(b"\r\n") and time.time() < deadline:
            incoming.write(c.recv(65536))
            try:
                reply += tls.read()
            except ssl.SSLWantReadError:
                pass
        self.assertEqual(reply, b"200 Ok. Parameter was ''.\r\n")
        # Everyone else is still served.
        f = self.protected_client()
        self.assertIn("mib.bin", f.nlst())


class DataHandshakeTimeOut(unittest.TestCase):
    def test_a_data_connection_that_never_starts_tls_ends_its_transfer(self):
        data = scratch_dir(self, "nubo-tls-stall-")
        with open(os.path.join(data, "f.bin"), "wb") as f:
            f.write(b"x" * 1000)
        with NuboServer(settings=REQUIRED + "PasvTimeOut=2\r\n") as srv:
            f = tls_client(srv)
            f.login("user", "pw")
            f.prot_p()
            f.cwd(data)
            reply = f.sendcmd("PASV")
            nums = reply[reply.index("(") + 1:reply.index(")")].split(",")
            silent = socket.create_connection(("127.0.0.1", int(nums[4]) * 256 + int(nums[5])), timeout=10)
            self.addCleanup(silent.close)
            self.assertTrue(f.sendcmd("RETR f.bin").startswith("150"))
            # The data connection never says a word of TLS.
            with self.assertRaises(ftplib.error_perm) as refused:
                f.getresp()
            self.assertEqual(str(refused.exception), "501 Cannot RETR. Data connection refused: "
                             "the TLS handshake of the data connection timed out")
            self.assertEqual(f.sendcmd("NOOP"), "200 Ok. Parameter was ''.")


class ImplicitTls(unittest.TestCase):
    def test_the_implicit_port_is_encrypted_from_the_first_byte(self):
        port = free_port()
        data = scratch_dir(self, "nubo-implicit-")
        with open(os.path.join(data, "f.bin"), "wb") as f:
            f.write(os.urandom(100000))
        with NuboServer(settings=REQUIRED + "ImplicitTlsPort=%d\r\n" % port) as srv:
            url = "ftps://127.0.0.1:%d/%s/" % (port, data.strip("/"))
            out = subprocess.run(["curl", "-sS", "-k", "--max-time", "30", "--user", "user:pw", url + "f.bin"],
                                 capture_output=True, timeout=60)
            self.assertEqual(out.returncode, 0, out.stderr.decode())
            self.assertEqual(out.stdout, content(os.path.join(data, "f.bin")))
            # A clear client on that port gets no greeting, only the end of a failed handshake.
            raw = socket.create_connection(("127.0.0.1", port), timeout=10)
            self.addCleanup(raw.close)
            raw.sendall(b"USER user\r\n")
            try:
                got = raw.recv(1000)
            except ConnectionResetError:
                got = b""
            self.assertNotIn(b"220", got)


class OfferedAndOff(unittest.TestCase):
    def test_offered_tls_leaves_clear_sessions_as_they_were(self):
        with NuboServer(settings=OFFERED) as srv:
            clear = srv.ftp()
            clear.login("user", "pw")
            self.assertIn("/", clear.pwd())
            self.assertEqual(error_of(clear.sendcmd, "AUTH TLS"), "503 AUTH comes before the login.")
            f = tls_client(srv)
            f.login("user", "pw")
            f.prot_p()
            self.assertIn("tmp", " ".join(f.nlst("/")))

    def test_tls_off_answers_auth_as_unknown(self):
        with NuboServer(settings=TEST_SETTINGS) as srv:
            f = srv.ftp()
            f.getwelcome()
            self.assertEqual(error_of(f.sendcmd, "AUTH TLS"), "500 'AUTH': command not understood.")
            self.assertFalse(os.path.exists(os.path.join(srv.dir, "ftp_cert.pem")))
            f.login("user", "pw")
            self.assertNotIn("AUTH", f.sendcmd("FEAT"))


if __name__ == "__main__":
    unittest.main()
