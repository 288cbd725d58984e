"""File management commands against the real nuboftpd, with ftplib, raw sockets and curl.

Every test works in a fresh temporary folder that it makes current with CWD by its
absolute path; replies are compared byte for byte.
"""
import calendar
import ftplib
import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import zlib

from nubo import NuboServer

SYNTAX = "501 Syntax error in parameter."
MDTM_SYNTAX = "501 Syntax error in MDTM/MFMT parameter."
BIG = 5_000_000_000  # sparse, above 4 GiB


def utc(y, mo, d, h=0, mi=0, s=0):
    return calendar.timegm((y, mo, d, h, mi, s))


class FileCommandsBase(unittest.TestCase):
    tz = None  # the server's time zone, when a test class needs a fixed one

    @classmethod
    def setUpClass(cls):
        saved = os.environ.get("TZ")
        if cls.tz:
            os.environ["TZ"] = cls.tz
        try:
            cls.srv = NuboServer().__enter__()
        finally:
            if cls.tz:
                if saved is None:
                    del os.environ["TZ"]
                else:
                    os.environ["TZ"] = saved

    @classmethod
    def tearDownClass(cls):
        cls.srv.__exit__(None, None, None)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="nubo-e2e-files-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.ftp = self.srv.ftp()
        self.ftp.login("anonymous", "x")
        self.ftp.cwd(self.dir)

    def tearDown(self):
        try:
            self.ftp.quit()
        except ftplib.all_errors:
            pass

    def reply(self, line, ftp=None):
        """The complete reply text, whatever its code."""
        try:
            return (ftp or self.ftp).sendcmd(line)
        except ftplib.all_errors as e:
            return str(e)

    def path(self, name=""):
        """The path the replies show for a name in the test folder (the home is the root)."""
        return os.path.join(self.dir, name)

    def write(self, name, data=b""):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def native(self, name):
        return os.path.join(self.dir, name)

    def sparse(self, name, size):
        with open(self.native(name), "wb") as f:
            f.truncate(size)


class DeleteAndSize(FileCommandsBase):
    def test_dele(self):
        self.write("a.txt", b"hello")
        os.mkdir(self.native("sub"))
        cases = [
            ("DELE a.txt", "250 File '%s' deleted." % self.path("a.txt")),
            ("DELE a.txt", "550 '%s': no such file or directory." % self.path("a.txt")),
            ("DELE sub", "550 '%s': no such file or directory." % self.path("sub")),
            ("DELE", SYNTAX),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        self.assertFalse(os.path.exists(self.native("a.txt")))
        self.assertTrue(os.path.isdir(self.native("sub")))
        # ftplib's own call, through a folder part of the argument
        self.write("sub/b.txt")
        self.ftp.delete("sub/b.txt")
        self.assertFalse(os.path.exists(self.native("sub/b.txt")))

    def test_size(self):
        self.write("five.txt", b"12345")
        self.write("empty")
        os.mkdir(self.native("sub"))
        self.sparse("big.bin", BIG)
        cases = [
            ("SIZE five.txt", "213 5"),
            ("SIZE empty", "213 0"),
            ("SIZE sub", "550 Command failed: Not a plain file."),
            ("SIZE big.bin", "213 %d" % BIG),
            ("SIZE bi?.*", "213 %d" % BIG),
            ("SIZE missing", "550 Command failed: File not found."),
            ("SIZE", SYNTAX),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        self.assertEqual(self.ftp.size("big.bin"), BIG)

    def test_links_are_followed_and_dangling_ones_missing(self):
        self.write("target.txt", b"abc")
        os.symlink(self.native("target.txt"), self.native("link.txt"))
        os.symlink(self.native("gone"), self.native("dangling"))
        cases = [
            ("SIZE link.txt", "213 3"),
            ("MD5 link.txt", '251 "link.txt" 900150983CD24FB0D6963F7D28E17F72'),
            ("SIZE dangling", "550 Command failed: File not found."),
            ("MD5 dangling", "550 'dangling': no such file."),
            ("RNFR dangling", "550 '%s': no such file or directory." % self.path("dangling")),
            ("DELE dangling", "550 '%s': no such file or directory." % self.path("dangling")),
            ("MKD dangling", "550 '%s': can't create directory." % self.path("dangling")),
            ("MDTM dangling", "550 '%s': no such file or directory." % self.path("dangling")),
            ("DELE link.txt", "250 File '%s' deleted." % self.path("link.txt")),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        # Deleting the link left its target alone, and nothing was created through a link.
        self.assertTrue(os.path.exists(self.native("target.txt")))
        self.assertFalse(os.path.lexists(self.native("gone")))


class RenameAndFolders(FileCommandsBase):
    def test_rename_file(self):
        self.write("a.txt", b"A")
        self.write("b.txt", b"B")
        cases = [
            ("RNFR a.txt", "350 File exists, ready for destination name."),
            ("RNTO b.txt", "553 '%s': file already exists." % self.path("b.txt")),
            ("RNTO a.txt", "553 '%s': file already exists." % self.path("a.txt")),
            ("RNTO", SYNTAX),
            ("RNTO c.txt", "250 File '%s' renamed to '%s'." % (self.path("a.txt"), self.path("c.txt"))),
            # The source is remembered, and now gone.
            ("RNTO d.txt", "550 '%s': no such file or directory." % self.path("a.txt")),
            ("RNFR missing", "550 '%s': no such file or directory." % self.path("missing")),
            ("RNFR", "501 Syntax error is parameter."),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        with open(self.native("c.txt"), "rb") as f:
            self.assertEqual(f.read(), b"A")
        self.ftp.rename("c.txt", "e.txt")
        self.assertTrue(os.path.exists(self.native("e.txt")))

    def test_rnto_without_rnfr(self):
        ftp = self.srv.ftp()
        ftp.login("anonymous", "x")
        self.assertEqual(self.reply("RNTO x", ftp), "550 '': no such file or directory.")

    def test_rename_folder_moves_it(self):
        os.makedirs(self.native("src/inner"))
        self.write("src/inner/f.txt", b"f")
        os.mkdir(self.native("dest"))
        os.mkdir(self.native("taken"))
        self.write("file.txt")
        cases = [
            ("RNFR src", "350 File exists, ready for destination name."),
            ("RNTO taken", "553 '%s': file already exists." % self.path("taken")),
            # A folder never replaces a file either.
            ("RNTO file.txt", "450 File '%s' can't be renamed." % self.path("src")),
            ("RNTO dest/moved", "250 File '%s' renamed to '%s'." % (self.path("src"), self.path("dest/moved"))),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        with open(self.native("dest/moved/inner/f.txt"), "rb") as f:
            self.assertEqual(f.read(), b"f")
        self.assertFalse(os.path.exists(self.native("src")))

    def test_mkd_and_rmd(self):
        self.write("a.txt")
        os.mkdir(self.native("full"))
        self.write("full/f")
        cases = [
            ("MKD x", "257 \"%s\": directory created." % self.path("x")),
            ("MKD x", "550 '%s': can't create directory." % self.path("x")),
            ("XMKD y", "257 \"%s\": directory created." % self.path("y")),
            ("MKD a.txt", "550 '%s': file or directory already exists." % self.path("a.txt")),
            ("MKD no/parent", "550 '%s': can't create directory." % self.path("no/parent")),
            ("MKD", SYNTAX),
            ("RMD full", "550 '%s': can't remove directory." % self.path("full")),
            ("RMD a.txt", "550 '%s': can't remove directory." % self.path("a.txt")),
            ("RMD missing", "550 '%s': no such directory." % self.path("missing")),
            ("RMD x", "250 '%s': directory removed." % self.path("x")),
            ("XRMD y/", "250 '%s': directory removed." % self.path("y/")),
            ("RMD", SYNTAX),
            ("XRMD", SYNTAX),
            ("XMKD", SYNTAX),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt", "full"])
        self.ftp.mkd("z")
        self.ftp.rmd("z")


class Times(FileCommandsBase):
    # Five hours behind UTC, all year: local and UTC times differ, and predictably.
    tz = "EST5"

    def mtime(self, name):
        return int(os.stat(self.native(name)).st_mtime)

    def test_query(self):
        self.write("a.txt")
        os.utime(self.native("a.txt"), (0, utc(2024, 2, 29, 12, 0, 1) + 0.75))
        self.assertEqual(self.reply("MDTM a.txt"), "213 20240229120001.000")
        self.assertEqual(self.reply("MDTM missing"),
                         "550 '%s': no such file or directory." % self.path("missing"))
        self.assertEqual(self.reply("MDTM"), MDTM_SYNTAX)
        self.assertEqual(self.reply("MFMT a.txt"), MDTM_SYNTAX)
        self.assertEqual(self.reply("MFMT"), MDTM_SYNTAX)

    def test_set(self):
        self.write("a.txt")
        cases = [
            # both forms take the time as UTC, whatever the zone of the machine
            ("MDTM 20240229120000 a.txt", "253 Date/time changed OK", utc(2024, 2, 29, 12)),
            ("MFMT 20240229120000 a.txt", "213 Date/time changed OK", utc(2024, 2, 29, 12)),
            ("MDTM 20240229120000+060 a.txt", "253 Date/time changed OK", utc(2024, 2, 29, 13)),
            ("MDTM 20240229120000-60 a.txt", "253 Date/time changed OK", utc(2024, 2, 29, 11)),
            ("MDTM 20240229120000+0 a.txt", "253 Date/time changed OK", utc(2024, 2, 29, 12)),
            # odd seconds stay
            ("MFMT 20240229120059 a.txt", "213 Date/time changed OK", utc(2024, 2, 29, 12, 0, 59)),
        ]
        for line, expected, stored in cases:
            self.assertEqual(self.reply(line), expected, line)
            self.assertEqual(self.mtime("a.txt"), stored, line)
        self.assertEqual(self.reply("MDTM a.txt"), "213 20240229120059.000")

    def test_bad_dates_change_nothing(self):
        self.write("a.txt")
        os.utime(self.native("a.txt"), (0, utc(2020, 1, 1)))
        for line in ["MDTM 20230229120000 a.txt",  # no 29 February in 2023
                     "MFMT 20230229120000 a.txt",
                     "MDTM 20241301120000 a.txt",  # month 13
                     "MDTM 20240001120000 a.txt",  # month 0
                     "MDTM 20240132120000 a.txt",  # day 32
                     "MDTM 20240431120000 a.txt",  # 31 April
                     "MDTM 20240229240000 a.txt",  # hour 24
                     "MDTM 19000108235959 a.txt"]:  # before 9 January 1900
            self.assertEqual(self.reply(line), MDTM_SYNTAX, line)
        # A date a DOS date-time cannot hold is refused by the file system step.
        self.assertEqual(self.reply("MFMT 19790101000000 a.txt"),
                         "550 MDTM/MFMT cannot change date/time on this server")
        self.assertEqual(self.reply("MFMT 20240101000000 missing"),
                         "550 '%s': no such file or directory." % self.path("missing"))
        self.assertEqual(self.mtime("a.txt"), utc(2020, 1, 1))

    def test_digit_names_read_as_times(self):
        self.write("20240101120000.txt")
        self.write("123456789012345")
        self.assertEqual(self.reply("MDTM 20240101120000.txt"),
                         "550 '%s': no such file or directory." % self.path(".txt"))
        # Fifteen leading digits are no time: the whole text is the name.
        os.utime(self.native("123456789012345"), (0, utc(2021, 6, 1, 8, 30)))
        self.assertEqual(self.reply("MDTM 123456789012345"), "213 20210601083000.000")

    def test_big_file(self):
        self.sparse("big.bin", BIG)
        self.assertEqual(self.reply("MFMT 20240229120000 big.bin"), "213 Date/time changed OK")
        self.assertEqual(self.reply("MDTM big.bin"), "213 20240229120000.000")


class Digest(FileCommandsBase):
    def test_md5(self):
        self.write("empty")
        self.write("abc", b"abc")
        data = os.urandom(102400 * 3 + 17)  # several read blocks and a partial one
        self.write("blocks.bin", data)
        cases = [
            ("MD5 empty", '251 "empty" D41D8CD98F00B204E9800998ECF8427E'),
            ("MD5 abc", '251 "abc" 900150983CD24FB0D6963F7D28E17F72'),
            ("MD5 blocks.bin", '251 "blocks.bin" %s' % hashlib.md5(data).hexdigest().upper()),
            ("MD5 missing", "550 'missing': no such file."),
            ("MD5 ../%s/abc" % os.path.basename(self.dir),
             '251 "../%s/abc" 900150983CD24FB0D6963F7D28E17F72' % os.path.basename(self.dir)),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)

    def test_hash_and_x_forms(self):
        data = os.urandom(102400 * 3 + 17)  # several read blocks and a partial one
        files = {"empty": b"", "abc": b"abc", "blocks.bin": data}
        for name, content in files.items():
            self.write(name, content)
        os.mkdir(self.native("sub"))
        algorithms = [("SHA-256", "XSHA256", lambda b: hashlib.sha256(b).hexdigest()),
                      ("SHA-1", "XSHA1", lambda b: hashlib.sha1(b).hexdigest()),
                      ("MD5", "XMD5", lambda b: hashlib.md5(b).hexdigest()),
                      ("CRC32", "XCRC", lambda b: "%08x" % zlib.crc32(b))]
        self.assertEqual(self.reply("HASH abc"), "213 SHA-256 0-3 %s abc" % hashlib.sha256(b"abc").hexdigest())
        for algorithm, x_form, reference in algorithms:
            self.assertEqual(self.reply("OPTS HASH " + algorithm), "200 " + algorithm)
            for name, content in files.items():
                expected = reference(content)
                self.assertEqual(self.reply("HASH " + name),
                                 "213 %s 0-%d %s %s" % (algorithm, len(content), expected, name), algorithm)
                self.assertEqual(self.reply("%s %s" % (x_form, name)), "250 " + expected.upper(), x_form)
        up = "../%s/abc" % os.path.basename(self.dir)
        cases = [
            ("HASH sub", "550 'sub': not a plain file."),
            ("HASH sub/", "550 'sub/': not a plain file."),
            ("HASH missing", "550 'missing': no such file."),
            ("HASH", "501 Syntax error in parameter."),
            ("HASH " + up, "213 CRC32 0-3 352441c2 " + up),
            ("HASH D:abc", "550 HASH failed: 'No current dir for 'D:''."),
            ("XSHA256 sub", "550 'sub': not a plain file."),
            ("XSHA1 missing", "550 'missing': no such file."),
            ("XMD5", "501 Syntax error in parameter."),
            ("XCRC D:abc", "550 XCRC failed: 'No current dir for 'D:''."),
            ("MD5 sub", "550 'sub': no such file."),  # as it always answered
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)

    @unittest.skipIf(os.environ.get("NUBO_SANITIZE") == "1", "bulk volume only")
    def test_hash_of_a_huge_file_while_others_are_served(self):
        size = 5 << 30  # sparse: above 4 GiB, many slices
        self.sparse("huge.bin", size)
        reference = subprocess.Popen(["sha256sum", self.native("huge.bin")], stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (reference.kill(), reference.wait()))
        raw = self.srv.raw()
        raw.login()
        raw.cmd("CWD " + self.dir)
        raw.send("HASH huge.bin\r\nNOOP x\r\n")
        other = self.srv.raw()
        raw.sock.setblocking(False)
        rounds = 0
        deadline = time.monotonic() + 600
        while b"\r\n" not in raw.buf and time.monotonic() < deadline:
            # Another client's commands are answered while the digest runs.
            self.assertEqual(other.cmd("NOOP"), "200 Ok. Parameter was ''.")
            rounds += 1
            try:
                chunk = raw.sock.recv(65536)
            except BlockingIOError:
                time.sleep(0.005)
                continue
            self.assertTrue(chunk, "connection closed")
            raw.buf += chunk
        raw.sock.settimeout(60)
        self.assertGreaterEqual(rounds, 3)
        out, _ = reference.communicate(timeout=600)
        self.assertEqual(raw.reply(), "213 SHA-256 0-%d %s huge.bin" % (size, out.split()[0]))
        self.assertEqual(raw.reply(), "200 Ok. Parameter was 'x'.")

    def test_large_digest_keeps_reply_order_and_other_clients(self):
        size = 600 * 1024 * 1024  # takes many slices
        self.sparse("large.bin", size)
        zeros = hashlib.md5()
        block = bytes(1 << 20)
        for _ in range(size >> 20):
            zeros.update(block)
        raw = self.srv.raw()
        raw.login()
        raw.cmd("CWD " + self.dir)
        # Three commands in one packet: the replies come in order, the digest first.
        raw.send("MD5 large.bin\r\nNOOP x\r\nSIZE large.bin\r\n")
        other = self.srv.raw()
        self.assertEqual(other.cmd("NOOP busy"), "200 Ok. Parameter was 'busy'.")
        self.assertEqual(raw.reply(), '251 "large.bin" %s' % zeros.hexdigest().upper())
        self.assertEqual(raw.reply(), "200 Ok. Parameter was 'x'.")
        self.assertEqual(raw.reply(), "213 %d" % size)

    def test_client_leaving_during_digest(self):
        self.sparse("large.bin", 600 * 1024 * 1024)
        raw = self.srv.raw()
        raw.login()
        raw.cmd("CWD " + self.dir)
        raw.send("MD5 large.bin\r\n")
        raw.close()
        # The server goes on serving, and the file is no longer held.
        self.assertEqual(self.reply("MD5 empty-not-here"), "550 'empty-not-here': no such file.")
        self.assertEqual(self.reply("DELE large.bin"), "250 File '%s' deleted." % self.path("large.bin"))


class BlanksInNames(FileCommandsBase):
    def test_names_keep_leading_and_trailing_blanks(self):
        # One blank separates a command from its argument; every further blank is the name's.
        self.write("  lead.txt", b"12345")
        self.write("lead.txt", b"other")
        cases = [
            ("SIZE   lead.txt", "213 5"),
            ("MFMT 20240229120001   lead.txt", "213 Date/time changed OK"),
            ("MDTM   lead.txt", "213 20240229120001.000"),
            ("MKD  dir ", '257 "%s": directory created.' % self.path(" dir ")),
            ("CWD  dir ", '250 CWD command successful. "%s/" is current directory.' % self.path(" dir ")),
            ("CDUP", '250 CWD command successful. "%s/" is current directory.' % self.dir),
            ("RNFR   lead.txt", "350 File exists, ready for destination name."),
            ("RNTO  dir /  moved ", "250 File '%s' renamed to '%s'." % (self.path("  lead.txt"),
                                                                        self.path(" dir /  moved "))),
            ("DELE  dir /  moved ", "250 File '%s' deleted." % self.path(" dir /  moved ")),
            ("RMD  dir ", "250 '%s': directory removed." % self.path(" dir ")),
        ]
        for line, expected in cases:
            self.assertEqual(self.reply(line), expected, line)
        self.assertEqual(sorted(os.listdir(self.dir)), ["lead.txt"])
        with open(self.native("lead.txt"), "rb") as f:
            self.assertEqual(f.read(), b"other")


class EveryCommand(FileCommandsBase):
    COMMANDS = ["DELE", "SIZE", "RNFR", "RNTO", "MKD", "XMKD", "RMD", "XRMD", "MDTM", "MFMT", "MD5",
                "HASH", "XSHA256", "XSHA1", "XMD5", "XCRC"]

    def test_login_required_and_implemented(self):
        raw = self.srv.raw()
        for cmd in self.COMMANDS:
            self.assertEqual(raw.cmd(cmd + " x"), "530 Please login with USER and PASS.", cmd)
        raw.login()
        for cmd in self.COMMANDS:
            self.assertFalse(raw.cmd(cmd + " x").startswith("502"), cmd)

    def test_curl_quote_commands(self):
        self.write("a.txt", b"hello")
        quotes = ["CWD " + self.dir, "MKD d", "XMKD e", "RMD e", "SIZE a.txt", "MD5 a.txt",
                  "MFMT 20240229120000 a.txt", "MDTM a.txt", "RNFR a.txt", "RNTO d/b.txt",
                  "DELE d/b.txt", "XRMD d", "SIZE a.txt"]
        args = ["curl", "-sS", "-v", "--max-time", "20", "-I", "ftp://127.0.0.1:%d/" % self.srv.port]
        for q in quotes:
            args += ["-Q", q]
        r = subprocess.run(args, capture_output=True, text=True, timeout=30)
        replies = [line[2:].rstrip("\r") for line in r.stderr.splitlines() if line.startswith("< ")]
        # After the login, PWD and SYST, one reply for each quoted command.
        self.assertEqual(replies[-len(quotes):], [
            '250 CWD command successful. "%s/" is current directory.' % self.dir,
            "257 \"%s\": directory created." % self.path("d"),
            "257 \"%s\": directory created." % self.path("e"),
            "250 '%s': directory removed." % self.path("e"),
            "213 5",
            '251 "a.txt" 5D41402ABC4B2A76B9719D911017C592',
            "213 Date/time changed OK",
            "213 20240229120000.000",
            "350 File exists, ready for destination name.",
            "250 File '%s' renamed to '%s'." % (self.path("a.txt"), self.path("d/b.txt")),
            "250 File '%s' deleted." % self.path("d/b.txt"),
            "250 '%s': directory removed." % self.path("d"),
            "550 Command failed: File not found.",
        ])
        self.assertEqual(r.returncode, 21)  # the last SIZE failed, as curl reports it
        self.assertEqual(os.listdir(self.dir), [])


if __name__ == "__main__":
    unittest.main()
