"""The server policy end to end: default files, accounts, the virtual tree and its
permission letters, limits, address lists, totals, farewell, idle time-out,
confinement, and the single running copy."""
import hashlib
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import zlib

from nubo import BINARY, NuboServer, TEST_SETTINGS, account_text, class_server, recv_all, scratch_dir

GREETING = "220- Nubo FTP Server (Version 2.0.0)\r\n220 Nubo FTP Server 2.0.0 ready..."


class DefaultFiles(unittest.TestCase):
    """A fresh folder: the anonymous account of the first start, with real clients."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="nubo-policy-")
        with open(os.path.join(cls.dir, "ftp_config.ini"), "w") as f:
            f.write(TEST_SETTINGS)  # the passive range and no login delay; everything else defaults
        cls.srv = NuboServer(workdir=cls.dir).__enter__()
        cls.down = os.path.join(cls.dir, "down")
        with open(os.path.join(cls.down, "hello.txt"), "wb") as f:
            f.write(b"hello world\n")

    @classmethod
    def tearDownClass(cls):
        cls.srv.__exit__(None, None, None)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_anonymous_with_ftplib_curl_and_lftp(self):
        c = self.srv.raw()
        self.assertEqual(c.greeting, GREETING)
        c.cmd("USER Anonymous")
        self.assertEqual(c.cmd("PASS "), "230-누보 FTP 서버에 오신것을 환영합니다 !\r\n230-\r\n230 User Anonymous logged in."
                         .encode("utf-8").decode("latin-1"))
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(c.cmd("QUIT"), "221-Goodbye !\r\n221 Goodbye!")

        out = subprocess.run(["curl", "-sS", "--max-time", "20", "ftp://127.0.0.1:%d/hello.txt" % self.srv.port],
                             capture_output=True, timeout=30)
        self.assertEqual(out.stdout, b"hello world\n", out.stderr)
        out = subprocess.run(["lftp", "-p", str(self.srv.port), "-e",
                              "set net:max-retries 1; put %s -o up.txt; ls; quit" % os.path.join(self.down, "hello.txt"),
                              "127.0.0.1"], capture_output=True, text=True, timeout=30)
        self.assertIn(" up.txt", out.stdout, out.stderr)
        ftp = self.srv.ftp()
        ftp.login()
        self.assertEqual(ftp.nlst(), ["hello.txt", "up.txt"])
        self.assertEqual(ftp.size("/hello.txt"), 12)
        ftp.quit()
        log = self.srv.output()
        self.assertRegex(log, r"connect: \[[\d:]+\] - \[\d+\] User ANONYMOUS Connected\n")
        self.assertRegex(log, r"transfer: \[[\d:]+\] - \[\d+\] ANONYMOUS: File Downloaded 성공: /.*/hello.txt "
                              r"\([\d,.]+ K/S - 12 bytes\)\n")
        self.assertRegex(log, r"connect: \[[\d:]+\] - \[\d+\] Client ANONYMOUS, 127.0.0.1 Disconnected \(00:00:0\d Min\)\n")


class Accounts(unittest.TestCase):
    """Named accounts with a virtual folder, letters, limits and messages."""

    @classmethod
    def setUpClass(cls):
        cls.root = scratch_dir(cls, "nubo-acc-")
        r = cls.root
        for d in ["home/pub", "home/secret", "music/albums", "outside"]:
            os.makedirs(os.path.join(r, d))
        for name, data in [("home/a.txt", b"A" * 3000), ("home/pub/p.txt", b"p"), ("home/secret/s.txt", b"s"),
                           ("music/song.mp3", b"M" * 100), ("music/albums/t.mp3", b"T"),
                           ("outside/private.txt", b"private")]:
            with open(os.path.join(r, name), "wb") as f:
                f.write(data)
        os.symlink(os.path.join(r, "outside"), os.path.join(r, "home/escape"))
        home, music, secret = (os.path.join(r, x) for x in ("home", "music", "home/secret"))
        users = (
            account_text("bob", "pw", home, "DU_EMRY_S__",
                         "Dir1=%s|DU_EMRYVS__|mp3\r\nDir2=%s|____A______|\r\nEnterMessage=hi bob\r\n"
                         "ExitMessage=bye bob\r\nMaxUser=2\r\nMaxUserIP=0\r\n" % (music, secret))
            + account_text("reader", "r", home, "D__________", virtual_dir=0)
            + account_text("once", "o", home, "D_________S", "MaxUser=1\r\n")
            + account_text("idle", "i", home, "D_________S", "Time-Out=1\r\n")
            + account_text("off", "x", home, "D_________S", "UserDisable=1\r\n")
            + account_text("nohome", "n", os.path.join(r, "missing"), "D__________"))
        cls.srv = class_server(cls, users=users)

    def tearDown(self):
        # Each test starts with no session of its own still counted.
        for c in self.srv.clients:
            c.close()
        self.srv.clients = []
        deadline = time.time() + 5
        while time.time() < deadline and \
                self.srv.output().count(" Disconnected (") < self.srv.output().count(" Connected\n"):
            time.sleep(0.05)

    def login(self, user, password):
        c = self.srv.raw()
        c.cmd("USER " + user)
        return c, c.cmd("PASS " + password)

    def test_virtual_folder_is_a_folder_of_the_tree(self):
        c, reply = self.login("bob", "pw")
        self.assertEqual(reply, "230-hi bob\r\n230-\r\n230 User bob logged in.")
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')
        self.assertEqual(c.cmd("CWD /mp3"), '250 CWD command successful. "/mp3/" is current directory.')
        self.assertEqual(c.cmd("CWD albums"), '250 CWD command successful. "/mp3/albums/" is current directory.')
        self.assertEqual(c.cmd("CWD .."), '250 CWD command successful. "/mp3/" is current directory.')
        self.assertEqual(c.cmd("CDUP"), '250 CWD command successful. "/" is current directory.')
        self.assertEqual(c.cmd("SIZE /mp3/song.mp3"), "213 100")
        self.assertEqual(c.cmd("SIZE mp3/albums/t.mp3"), "213 1")
        # The digests reach the virtual folder through its alias, and only a file.
        self.assertEqual(c.cmd("HASH mp3/albums/t.mp3"),
                         "213 SHA-256 0-1 %s mp3/albums/t.mp3" % hashlib.sha256(b"T").hexdigest())
        self.assertEqual(c.cmd("XCRC /mp3/song.mp3"), "250 %08X" % zlib.crc32(b"M" * 100))
        self.assertEqual(c.cmd("XMD5 /mp3/albums"), "550 '/mp3/albums': not a plain file.")
        self.assertEqual(c.cmd("HASH /secret/s.txt"), "550 '/secret/s.txt': permission denied.")
        d = c.pasv()
        c.cmd("LIST")
        listing = recv_all(d).decode()
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        names = [line.rsplit(" ", 1)[-1] for line in listing.split("\r\n") if line]
        self.assertIn("mp3", names)
        self.assertIn("pub", names)
        self.assertNotIn("secret", names)  # restricted folders are hidden
        self.assertIn("drwxrwxrwx   1 ftp      ftp            0 Apr 30 19:00 mp3", listing)
        d = c.pasv()
        self.assertEqual(c.cmd("RETR /mp3/albums/t.mp3"), "150 Opening data connection for /mp3/albums/t.mp3.")
        self.assertEqual(recv_all(d), b"T")
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        self.assertEqual(c.cmd("CWD /secret"), "501 CWD failed. No permission")
        # The alias names the folder without a separator after it, as mirror tools send it.
        for name in ("mp3", "/mp3"):
            d = c.pasv()
            self.assertEqual(c.cmd("NLST " + name)[:3], "150")
            self.assertEqual(sorted(recv_all(d).decode().split()), sorted([name + "/albums", name + "/song.mp3"]))
            d.close()
            self.assertEqual(c.reply(), "226 File sent ok")
        # The home and the virtual folder are the account's roots: never removed or renamed.
        for cmd in ("RMD /", "RMD /mp3", "RMD /mp3/", "RMD mp3", "RNFR /mp3", "RNFR /"):
            reply = c.cmd(cmd)
            self.assertRegex(reply, r"^5[05]0 ", cmd)
        self.assertTrue(os.path.isdir(os.path.join(self.root, "music")))
        self.assertTrue(os.path.isdir(os.path.join(self.root, "home")))
        self.assertEqual(c.cmd("QUIT"), "221-bye bob\r\n221 Goodbye!")

    def test_letters_allow_and_refuse(self):
        c, _ = self.login("reader", "r")
        self.assertEqual(c.cmd("PWD"), '257 "/C:%s/" is current directory.' % os.path.join(self.root, "home"))
        for command, refusal in [("DELE a.txt", "550 Cannot delete."), ("RNFR a.txt", "500 Cannot RNFR."),
                                 ("MKD newdir", "550 '/C:%s': can't create directory." %
                                  os.path.join(self.root, "home", "newdir")),
                                 ("RMD pub", "500 Cannot remove directory.")]:
            self.assertEqual(c.cmd(command), refusal, command)
        d = c.pasv()
        c.cmd("NLST")
        self.assertEqual(sorted(recv_all(d).split()), [b"a.txt"])  # no S: files only
        d.close()
        c.reply()
        d = c.pasv()
        self.assertEqual(c.cmd("STOR new.txt"), "501 Permission Denied")
        d.close()
        d = c.pasv()
        self.assertEqual(c.cmd("RETR a.txt"), "150 Opening data connection for a.txt.")
        self.assertEqual(len(recv_all(d)), 3000)
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        # bob has every letter but A: the same commands work, inside the tree only.
        b, _ = self.login("bob", "pw")
        self.assertEqual(b.cmd("MKD made"), '257 "/made": directory created.')
        self.assertEqual(b.cmd("RMD made"), "250 '/made': directory removed.")

    def retr(self, c, arg):
        d = c.pasv()
        reply = c.cmd("RETR " + arg)
        data = b""
        if reply.startswith("150"):
            data = recv_all(d)
            d.close()
            c.reply()
        d.close()
        return data

    def test_confinement_table(self):
        c, _ = self.login("bob", "pw")
        outside = os.path.join(self.root, "outside", "private.txt")
        hostile = ["../outside/private.txt", "/../outside/private.txt", "..\\outside\\private.txt",
                   "pub/../../outside/private.txt", "C:%s" % outside, "/C:%s" % outside, "c:" + outside,
                   "\\\\srv\\share\\x", "//srv/share/x", "~/../../outside/private.txt", "escape/private.txt",
                   "/escape/private.txt", "mp3/../../outside/private.txt", "/mp3/../../outside/private.txt",
                   "D:\\x", "D:/x", "/" + "a/" * 300 + "../" * 300 + "../outside/private.txt",
                   "%s/private.txt" % (os.path.join(self.root, "home") + "x"), "/etc/passwd", "C:/etc/passwd",
                   "pub/./../../outside/private.txt"]
        for arg in hostile:
            with self.subTest(arg=arg):
                self.assertEqual(self.retr(c, arg), b"")
                self.assertNotEqual(c.cmd("SIZE " + arg), "213 7")
                self.assertFalse(c.cmd("MDTM " + arg).startswith("213"))
                self.assertFalse(c.cmd("MD5 " + arg).startswith("251"))
                self.assertTrue(c.cmd("HASH " + arg).startswith("550 "))
                self.assertTrue(c.cmd("XCRC " + arg).startswith("550 "))
                self.assertFalse(c.cmd("MLST " + arg).startswith("250"))
                self.assertFalse(c.cmd("DELE " + arg).startswith("250"))
                self.assertFalse(c.cmd("RNFR " + arg).startswith("350"))
                self.assertFalse(c.cmd("MKD " + arg + "-dir").startswith("257"))
                d = c.pasv()
                reply = c.cmd("STOR " + arg + "-new")
                if reply.startswith("150"):
                    d.sendall(b"x")
                    d.close()
                    c.reply()
                d.close()
        self.assertTrue(os.path.exists(outside))
        self.assertEqual(os.listdir(os.path.join(self.root, "outside")), ["private.txt"])
        for arg in ["/../outside", "../outside", "/C:" + os.path.join(self.root, "outside"), "escape", "/escape",
                    "~/../../outside", "//srv/share", "/mp3/../../outside"]:
            self.assertRegex(c.cmd("CWD " + arg), "^(501|550) CWD failed.", arg)
            self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')
        d = c.pasv()
        self.assertEqual(c.cmd("LIST escape/"), "550 'escape/': no such file or directory.")
        d.close()

    def test_login_refusals_and_limits(self):
        c, reply = self.login("off", "x")
        self.assertEqual(reply, "530 Login incorrect.")
        c, reply = self.login("bob", "wrong")
        self.assertEqual(reply, "530 Login incorrect.")
        self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")  # still connected
        c, reply = self.login("nohome", "n")
        self.assertEqual(reply, "530 Not logged in, cannot find home directory.")
        self.assertTrue(c.closed())
        self.assertTrue(self.srv.wait_output(r"User NOHOME IP: 127.0.0.1: home directory not found: /.*missing\n"))
        first, reply = self.login("once", "o")
        self.assertTrue(reply.endswith("230 User once logged in."), reply)
        second, reply = self.login("ONCE", "o")
        self.assertEqual(reply, "530 Too Many Users Connected.")
        self.assertTrue(second.closed())
        first.cmd("QUIT")
        time.sleep(0.3)
        third, reply = self.login("once", "o")
        self.assertTrue(reply.endswith("230 User once logged in."), reply)

    def test_totals_after_downloads_and_uploads(self):
        users = os.path.join(self.srv.dir, "ftp_users.ini")
        c, _ = self.login("bob", "pw")
        for _ in range(2):
            d = c.pasv()
            c.cmd("RETR a.txt")
            recv_all(d)
            d.close()
            self.assertEqual(c.reply(), "226 File sent ok")
        # The additions reach the file within seconds, with the session still open.
        deadline = time.time() + 5
        while time.time() < deadline and "TotalDownload=4\r\n" not in open(users, encoding="utf-8", newline="").read():
            time.sleep(0.1)
        self.assertIn("TotalDownload=4\r\n", open(users, encoding="utf-8", newline="").read())
        d = c.pasv()
        self.assertEqual(c.cmd("STOR up.bin"), "150 Opening data connection for up.bin.")
        d.sendall(b"u" * 5000)
        d.close()
        self.assertEqual(c.reply(), "226 File received ok")
        c.cmd("QUIT")
        time.sleep(0.3)
        text = open(users, encoding="utf-8", newline="").read()
        bob = text[text.index("[bob]"):text.index("[reader]")]
        self.assertIn("TotalDownload=4\r\n", bob)  # 2 x 3000 bytes, 1024 each, truncated per transfer
        self.assertIn("TotalUpload=4\r\n", bob)
        os.remove(os.path.join(self.root, "home", "up.bin"))

    def test_two_sessions_sum_their_totals_and_a_second_login_moves_counts(self):
        users = os.path.join(self.srv.dir, "ftp_users.ini")

        def total():
            text = open(users, encoding="utf-8", newline="").read()
            section = text[text.index("[reader]"):text.index("[once]")]
            return int(section.split("TotalDownload=")[1].split("\r\n")[0]) if "TotalDownload=" in section else 0

        before = total()
        a, _ = self.login("reader", "r")
        b, _ = self.login("reader", "r")
        datas = []
        for c in (a, b):
            d = c.pasv()
            c.cmd("RETR a.txt")
            datas.append(d)
        for c, d in zip((a, b), datas):
            recv_all(d)
            d.close()
            self.assertEqual(c.reply(), "226 File sent ok")
        for c in (a, b):
            c.cmd("QUIT")
        self.assertTrue(self.srv.wait_output(r"Client READER.*\n(.*\n)*.*Client READER"))
        time.sleep(0.2)
        self.assertEqual(total(), before + 4)  # 2 KB from each session, none lost
        # A second login moves the session to the new account: "once" (MaxUser=1) is
        # free again after its only session logs in as another account.
        c, _ = self.login("once", "o")
        c.cmd("USER reader")
        self.assertTrue(c.cmd("PASS r").endswith("230 User reader logged in."))
        d, reply = self.login("once", "o")
        self.assertTrue(reply.endswith("230 User once logged in."), reply)

    def test_a_grant_without_data_connection_is_not_the_next_listing(self):
        c, _ = self.login("reader", "r")
        self.assertEqual(c.cmd("RETR a.txt"), "150 Opening data connection for a.txt.")
        self.assertEqual(c.reply(), "501 Cannot RETR. Connect: No Port Specified")
        d = c.pasv()
        c.cmd("LIST")
        recv_all(d)
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        c.cmd("QUIT")
        self.assertTrue(self.srv.wait_output(r"Client READER"))
        self.assertNotIn("READER: File Downloaded", self.srv.output())

    def test_idle_time_out(self):
        c, reply = self.login("idle", "i")
        self.assertTrue(reply.endswith("230 User idle logged in."))
        self.assertTrue(c.closed(timeout=75))  # Time-Out=1: closed after 60 idle seconds
        self.assertTrue(self.srv.wait_output(r"\] Connection Time-Out For:  IDLE\n"))


class Admission(unittest.TestCase):
    def test_server_limit_and_address_lists(self):
        settings = TEST_SETTINGS + "MaxUser=1\r\n"
        with NuboServer(settings=settings) as srv:
            a = srv.raw()
            a.login()
            b = srv.raw(greet=False)
            # One complete reply: no "220-" line that the "421" could not close.
            self.assertEqual(b.reply(), "421 Too many users connected.")
            self.assertTrue(b.closed())
        settings = TEST_SETTINGS + "[IP Deny]\r\nIP0=127.0.0.*\r\n"
        with NuboServer(settings=settings) as srv:
            b = srv.raw(greet=False)
            self.assertEqual(b.reply(), "421 Access Denied.")
            self.assertTrue(b.closed())
            self.assertNotIn("Connect to", srv.output())
        settings += "[IP Allow]\r\nIP0=127.0.0.1\r\n"
        with NuboServer(settings=settings) as srv:
            self.assertTrue(srv.raw().greeting.endswith("ready..."))

    def test_second_start_hands_over_stop(self):
        with NuboServer() as srv:
            srv.raw().login()
            out = subprocess.run([BINARY, "--dir", srv.dir, "/stop"], capture_output=True, text=True, timeout=20)
            self.assertEqual(out.returncode, 0, out.stderr)
            deadline = time.time() + 10
            while "서버가 중지되었습니다." not in srv.output() and time.time() < deadline:
                time.sleep(0.05)
            self.assertIn("Client ANONYMOUS, 127.0.0.1 Disconnected", srv.output())
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", srv.port), timeout=2)
            self.assertIsNone(srv.proc.poll())  # the first copy keeps running
            subprocess.run([BINARY, "--dir", srv.dir, "/start"], capture_output=True, timeout=20)
            time.sleep(0.3)
            socket.create_connection(("127.0.0.1", srv.port), timeout=2).close()

    def test_termination_stores_the_totals_of_open_sessions(self):
        root = tempfile.mkdtemp(prefix="nubo-term-")
        try:
            with open(os.path.join(root, "f.bin"), "wb") as f:
                f.write(b"f" * 2048)
            with NuboServer(users=account_text("kim", "k", root)) as srv:
                c = srv.raw()
                c.cmd("USER kim")
                c.cmd("PASS k")
                d = c.pasv()
                self.assertEqual(c.cmd("RETR f.bin"), "150 Opening data connection for f.bin.")
                self.assertEqual(len(recv_all(d)), 2048)
                d.close()
                self.assertEqual(c.reply(), "226 File sent ok")
                srv.proc.terminate()  # at once, with the session still open
                srv.proc.wait(timeout=10)
                with open(os.path.join(srv.dir, "ftp_users.ini"), encoding="utf-8", newline="") as f:
                    self.assertIn("TotalDownload=2\r\n", f.read())
        finally:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
