"""The server under hostile clients and careless operators: a full descriptor table,
silent and crowding connections, symbolic links around the folder letters, races on a
file being uploaded, forged log lines, unlisted account names, restart offsets past the
end, and account files that are broken or interrupted in their writing."""
import ftplib
import io
import os
import re
import resource
import socket
import subprocess
import time
import unittest

from nubo import BINARY, NuboServer, TEST_SETTINGS, account_text, class_server, error_of, free_port, recv_all, scratch_dir


def settings(**keys):
    return TEST_SETTINGS + "".join("%s=%s\r\n" % kv for kv in keys.items())


def read_greeting(sock, timeout=5):
    """The bytes a server sends on a new connection until it pauses or closes."""
    sock.settimeout(timeout)
    data = b""
    try:
        while not data.endswith(b"\r\n") or re.search(rb"(^|\n)\d{3}-[^\n]*\r\n$", data):
            chunk = sock.recv(4096)
            if not chunk:
                break
            data += chunk
    except (socket.timeout, ConnectionResetError):
        pass
    return data.decode("latin-1")


class DescriptorFlood(unittest.TestCase):
    """With the descriptor table full the listener stays: the clients it cannot take are
    answered "421" and closed, the condition is logged once, and afterwards new clients
    are served again without an operator's help."""

    LIMIT = 96

    # The sanitizers' type checks open a pipe to read memory; with the table full they
    # report falsely and stop the server. The build without them runs this test.
    @unittest.skipIf(os.environ.get("NUBO_SANITIZE") == "1", "needs the build without sanitizers")
    def test_flood_then_service_again(self):
        def low_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (self.LIMIT, self.LIMIT))

        tmp = scratch_dir(self, "nubo-flood-")
        with open(os.path.join(tmp, "ftp_config.ini"), "w") as f:
            f.write(settings(MaxPendingIP=0))
        port = free_port()
        log = open(os.path.join(tmp, "out.txt"), "wb")
        self.addCleanup(log.close)
        proc = subprocess.Popen([BINARY, "--dir", tmp, "--port", str(port)], stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, preexec_fn=low_limit)
        self.addCleanup(lambda: (proc.poll() is None and proc.kill(), proc.wait()))
        deadline = time.time() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                self.assertLess(time.time(), deadline, "no listener")
                time.sleep(0.05)

        socks, answers = [], []
        for _ in range(self.LIMIT * 2):  # twice what the server can hold
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            socks.append(s)
            answers.append(read_greeting(s))
        greeted = sum(a.startswith("220") for a in answers)
        refused = [a for a in answers if a.startswith("421")]
        self.assertGreater(greeted, self.LIMIT // 2)
        self.assertEqual(greeted + len(refused), len(socks), [a for a in answers if not a[:3] in ("220", "421")])
        self.assertTrue(refused, "the flood never reached the limit")
        self.assertTrue(all(a == "421 Too many users connected.\r\n" for a in refused), refused[:3])
        for s in socks:
            s.close()

        # The flood is over: a new client is served again, all the way to a listing.
        deadline = time.time() + 10
        while True:
            ftp = ftplib.FTP()
            try:
                # The server may not have seen every flood connection end yet: its 421
                # comes as an error from connect, and the client tries again.
                ftp.connect("127.0.0.1", port, timeout=5)
                break
            except ftplib.error_temp as e:
                ftp.close()
                self.assertLess(time.time(), deadline, str(e))
            time.sleep(0.2)
        ftp.login("anonymous", "x")
        self.assertEqual(ftp.nlst(), [])
        ftp.quit()
        self.assertIsNone(proc.poll())
        with open(os.path.join(tmp, "out.txt"), encoding="utf-8", errors="replace") as f:
            out = f.read()
        self.assertEqual(out.count("New connections cannot be accepted"), 1, out[-2000:])
        self.assertIn("New connections are accepted again.", out)


class SlowAndCrowdingClients(unittest.TestCase):
    def test_login_time_out_and_per_address_limit(self):
        with NuboServer(settings=settings(LoginTimeOut=3, MaxPendingIP=3)) as srv:
            waiting = [srv.raw() for _ in range(3)]
            # A fourth connection that has not logged in is one too many for this address.
            c = srv.raw(greet=False)
            self.assertEqual(c.reply(), "421 Too many connections from your address.")
            self.assertTrue(c.closed())
            # One of them logs in: the address may open another.
            self.assertTrue(waiting[0].login("user", "pw").startswith("230"))
            extra = srv.raw()
            self.assertTrue(extra.greeting.startswith("220"))
            # The silent ones are closed after the login time-out; the logged-in one stays.
            for w in waiting[1:] + [extra]:
                self.assertEqual(w.reply(), "421 Login time-out, closing control connection.")
                self.assertTrue(w.closed())
            time.sleep(1.5)
            self.assertEqual(waiting[0].cmd("NOOP"), "200 Ok. Parameter was ''.")

    def test_passive_listener_time_out(self):
        with NuboServer(settings="[Setup]\r\nLowPASV=%d\r\nHighPASV=%d\r\nPasvTimeOut=1\r\n" % ((free_port(),) * 2)) as srv:
            # A pool of one port: the client that never connects would hold it.
            idle, other = srv.raw(), srv.raw()
            idle.login("user", "pw")
            other.login("user", "pw")
            self.assertTrue(idle.cmd("PASV").startswith("227"))
            # A transfer command waiting for the connection is answered when it gives up.
            self.assertTrue(idle.cmd("NLST /").startswith("150"))
            started = time.time()
            self.assertEqual(idle.reply(), "425 Can't open data connection.")
            self.assertLess(time.time() - started, 10)
            data = other.pasv()  # the port is back in the pool
            self.assertTrue(other.cmd("NLST /").startswith("150"))
            self.assertIn(b"/tmp", recv_all(data).split(b"\r\n"))
            data.close()
            self.assertEqual(other.reply(), "226 File sent ok")


class HeldCommands(unittest.TestCase):
    def test_md5_of_a_large_file_with_a_burst_of_commands_behind_it(self):
        # While the digest is computed in slices, the connection's commands wait; more
        # than a line buffer of them must neither spin the loop nor be lost.
        with NuboServer() as srv:
            d = scratch_dir(self, "nubo-md5-")
            big = os.path.join(d, "big.bin")
            with open(big, "wb") as f:
                f.truncate(64 << 20)  # sparse: cheap to make, slow enough to digest
            c = srv.raw(timeout=60)
            c.login("user", "pw")
            c.send("MD5 %s\r\n" % big + "NOOP\r\n" * 600)
            self.assertTrue(c.reply().startswith("251 "))
            for _ in range(600):
                self.assertEqual(c.reply(), "200 Ok. Parameter was ''.")
            other = srv.raw()
            self.assertTrue(other.login("user", "pw").startswith("230"))


class LettersAndLinks(unittest.TestCase):
    """alice's home holds a link to a download-only virtual folder: through the link the
    folder's own letters hold, exactly as through its alias."""

    @classmethod
    def setUpClass(cls):
        cls.root = scratch_dir(cls, "nubo-links-")
        cls.home = os.path.join(cls.root, "home")
        cls.share = os.path.join(cls.root, "vshare")
        for d in (cls.home, os.path.join(cls.share, "sub")):
            os.makedirs(d)
        with open(os.path.join(cls.root, "secret.txt"), "w") as f:
            f.write("outside the tree\n")
        os.symlink(cls.share, os.path.join(cls.home, "link_share"))
        users = (account_text("alice", "pw", home=cls.home, letters="DU_EMRY_S__",
                              extra="Dir1=%s|D______VS__|share\r\n" % cls.share)
                 + account_text("reader", "pw", home=cls.home, letters="D________S_")
                 + account_text("nobody", "pw", home=cls.home, letters="_________S_"))
        cls.srv = class_server(cls, users=users)

    def setUp(self):
        for name in ("f.txt", "g.txt"):
            with open(os.path.join(self.share, name), "w") as f:
                f.write("shared\n")

    def login(self, user):
        ftp = self.srv.ftp()
        ftp.login(user, "pw")
        return ftp

    def test_link_gets_the_shares_letters(self):
        ftp = self.login("alice")
        up = lambda name: ftp.storbinary("STOR " + name, io.BytesIO(b"x"))
        appe = lambda name: ftp.storbinary("APPE " + name, io.BytesIO(b"x"))
        for prefix in ("share/", "link_share/", "/link_share/sub/../"):
            cases = [
                ("STOR", up, prefix + "new.txt"),
                ("APPE", appe, prefix + "f.txt"),
                ("MKD", ftp.mkd, prefix + "newdir"),
                ("DELE", ftp.delete, prefix + "g.txt"),
                ("RNFR", ftp.sendcmd, "RNFR " + prefix + "sub"),
                ("MFMT", ftp.sendcmd, "MFMT 20200101000000 " + prefix + "f.txt"),
            ]
            for name, fn, arg in cases:
                with self.subTest(via=prefix, command=name):
                    self.assertIsNotNone(error_of(fn, arg))
            ftp.cwd(prefix if prefix.startswith("/") else "/" + prefix)
            with self.subTest(via=prefix, command="STOU"):
                self.assertIsNotNone(error_of(ftp.storbinary, "STOU", io.BytesIO(b"x")))
            ftp.cwd("/")
        self.assertEqual(sorted(os.listdir(self.share)), ["f.txt", "g.txt", "sub"])
        with open(os.path.join(self.share, "f.txt")) as f:
            self.assertEqual(f.read(), "shared\n")
        # Downloads through the link stay allowed, and the home keeps its own letters.
        buf = io.BytesIO()
        ftp.retrbinary("RETR link_share/f.txt", buf.write)
        self.assertEqual(buf.getvalue(), b"shared\n")
        up("mine.txt")
        self.assertTrue(os.path.exists(os.path.join(self.home, "mine.txt")))
        ftp.delete("mine.txt")

    def test_parent_of_a_link_reveals_nothing_outside(self):
        ftp = self.login("alice")
        os.utime(self.root, (0, 0))  # the folder above vshare, outside the tree: dated 1970
        # link_share/.. is the home (the path's own parent), never the folder above vshare.
        for cmd in ("SIZE link_share/../secret.txt", "MLST link_share/../secret.txt", "MDTM link_share/../secret.txt"):
            with self.subTest(cmd):
                self.assertTrue(error_of(ftp.sendcmd, cmd).startswith("550"))
        for cmd in ("MLST link_share/..", "MLST link_share/sub/../.."):
            with self.subTest(cmd):
                reply = ftp.sendcmd(cmd)
                self.assertIn("type=dir;", reply)
                self.assertNotIn("modify=1970", reply)

    def test_stou_and_mfmt_need_the_upload_letter(self):
        ftp = self.login("reader")
        for _ in range(5):
            self.assertIsNotNone(error_of(ftp.storbinary, "STOU", io.BytesIO(b"x")))
        self.assertEqual(sorted(os.listdir(self.home)), ["link_share"])  # no placeholder left
        # Without the share in reader's tree the link leads out of it.
        self.assertEqual(error_of(ftp.cwd, "link_share"), "501 CWD failed. No permission")
        before = os.stat(os.path.join(self.share, "f.txt")).st_mtime
        nobody = self.login("nobody")
        self.assertIsNotNone(error_of(nobody.sendcmd, "MFMT 20200101000000 link_share/f.txt"))  # outside the tree
        with open(os.path.join(self.home, "own.txt"), "w") as f:
            f.write("x")
        self.addCleanup(os.remove, os.path.join(self.home, "own.txt"))
        self.assertEqual(error_of(nobody.sendcmd, "MFMT 20200101000000 own.txt"), "501 Permission Denied")
        self.assertEqual(os.stat(os.path.join(self.share, "f.txt")).st_mtime, before)


class UploadRaces(unittest.TestCase):
    def test_file_being_uploaded_cannot_be_deleted_or_renamed(self):
        with NuboServer() as srv:
            d = scratch_dir(self, "nubo-race-")
            target = os.path.join(d, "growing.bin")
            a, b = srv.ftp(), srv.ftp()
            a.login("user", "pw")
            b.login("user", "pw")
            conn = a.transfercmd("STOR " + target)
            conn.sendall(b"first half ")
            deadline = time.time() + 5
            while os.path.getsize(target) < 11 and time.time() < deadline:
                time.sleep(0.02)
            self.assertTrue(error_of(b.delete, target).startswith("450"))
            b.sendcmd("RNFR " + target)
            self.assertTrue(error_of(b.sendcmd, "RNTO " + target + ".moved").startswith("450"))
            conn.sendall(b"second half")
            conn.close()
            self.assertEqual(a.voidresp(), "226 File received ok")
            with open(target, "rb") as f:
                self.assertEqual(f.read(), b"first half second half")
            # Once the upload is over the file is the client's to remove.
            self.assertTrue(b.delete(target).startswith("250"))


class RepliesAndLogs(unittest.TestCase):
    def test_unknown_and_known_accounts_answer_alike(self):
        with NuboServer() as srv:
            answers = []
            for user, password in (("nosuchuser", ""), ("nosuchuser", "x"), ("user", ""), ("user", "wrong")):
                c = srv.raw()
                c.cmd("USER " + user)
                answers.append(c.cmd("PASS " + password))
                answers.append(c.cmd("NOOP"))  # the connection stays in either case
            self.assertEqual(set(answers[0::2]), {"530 Login incorrect."})
            self.assertEqual(len(set(answers[1::2])), 1)
            self.assertTrue(srv.wait_output(r"NOSUCHUSER.*no such account"))

    def test_restart_offset_beyond_end(self):
        with NuboServer() as srv:
            d = scratch_dir(self, "nubo-rest-")
            path = os.path.join(d, "four.bin")
            with open(path, "wb") as f:
                f.write(b"abcd")
            ftp = srv.ftp()
            ftp.login("user", "pw")
            err = error_of(ftp.storbinary, "STOR " + path, io.BytesIO(b"x"), 8192, None, 1099511627776)
            self.assertEqual(err, "554 Cannot STOR. Restart offset 1099511627776 is beyond the end of the file (4 bytes).")
            self.assertEqual(os.path.getsize(path), 4)
            # The refused offset is gone: the next upload replaces the file as usual, and a
            # resume at the very end appends.
            ftp.storbinary("STOR " + path, io.BytesIO(b"wxyz"))
            ftp.storbinary("STOR " + path, io.BytesIO(b"!"), rest=4)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"wxyz!")

    def test_control_bytes_never_reach_replies_or_log_file(self):
        tmp = scratch_dir(self, "nubo-forge-")
        with open(os.path.join(tmp, "ftp_config.ini"), "w") as f:
            f.write(settings(Log=1))
        with open(os.path.join(tmp, "ftp_users.ini"), "w") as f:
            f.write(account_text("user", "pw"))
        with NuboServer(workdir=tmp) as srv:
            c = srv.raw()
            c.send(b"USER x\rsystem: [00:00:00] - FAKE LOG LINE\r\n")
            reply = c.reply()
            c.send(b"NOOP a\x00b\x1bc\x7f\r\n")
            noop = c.reply()
            self.assertEqual(noop, "200 Ok. Parameter was 'a?b?c?'.")
            self.assertNotIn("\r", reply)
            c.send(b"PASS y\r\n")
            c.reply()
            self.assertTrue(srv.wait_output(r"FAKE LOG LINE"))
        logs = os.listdir(os.path.join(tmp, "log"))
        self.assertEqual(len(logs), 1)
        with open(os.path.join(tmp, "log", logs[0]), "rb") as f:
            text = f.read()
        self.assertIn(b"X?SYSTEM: [00:00:00] - FAKE LOG LINE", text)
        for line in text.split(b"\r\n")[:-1]:
            self.assertTrue(re.match(rb"^\[\d\d:\d\d:\d\d\] - ", line), line)
            self.assertFalse(re.search(rb"[\x00-\x1f\x7f]", line), line)


class AccountFileAtStart(unittest.TestCase):
    """A broken account file is named in the system pane at start, nothing is rewritten,
    and logins fail safely; an interrupted write's temporary file is removed."""

    def test_broken_account_files(self):
        cases = [
            ("garbage", b"\x00\x01\xffnot an ini file\n\x7f", "holds no accounts"),
            ("empty", b"", "holds no accounts"),
            ("folder", None, "is a folder, not a file"),
        ]
        for name, content, message in cases:
            with self.subTest(name):
                tmp = scratch_dir(self, "nubo-broken-")
                users = os.path.join(tmp, "ftp_users.ini")
                if content is None:
                    os.mkdir(users)
                else:
                    with open(users, "wb") as f:
                        f.write(content)
                with NuboServer(workdir=tmp, settings=TEST_SETTINGS) as srv:
                    self.assertTrue(srv.wait_output(r"system: .*The account file .*" + message), srv.output())
                    self.assertEqual(len(re.findall("The account file", srv.output())), 1)
                    c = srv.raw()
                    self.assertEqual(c.login("anonymous", ""), "530 Login incorrect.")
                    self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")
                if content is not None:
                    with open(users, "rb") as f:
                        self.assertEqual(f.read(), content)

    def test_stale_temporary_removed_and_edits_count_at_once(self):
        tmp = scratch_dir(self, "nubo-stale-")
        stale = os.path.join(tmp, "ftp_users.ini.Ab12Cd")
        keep = os.path.join(tmp, "ftp_users.ini.notmine")
        for p in (stale, keep):
            with open(p, "w") as f:
                f.write("[half\r\n")
        users = os.path.join(tmp, "ftp_users.ini")
        with open(users, "w") as f:
            f.write(account_text("user", "aaaa"))
        with NuboServer(workdir=tmp, settings=TEST_SETTINGS) as srv:
            self.assertTrue(srv.wait_output(r"Removed the unfinished write .*ftp_users\.ini\.Ab12Cd"))
            self.assertFalse(os.path.exists(stale))
            self.assertTrue(os.path.exists(keep))
            c = srv.raw()
            self.assertTrue(c.login("user", "aaaa").startswith("230"))
            # An edit in place of the same size, at once: the next login already sees it.
            with open(users, "r+") as f:
                f.write(account_text("user", "bbbb"))
            d = srv.raw()
            self.assertEqual(d.login("user", "aaaa"), "530 Login incorrect.")
            self.assertTrue(d.login("user", "bbbb").startswith("230"))


if __name__ == "__main__":
    unittest.main()
