"""Login and session commands against the real nuboftpd, with ftplib, curl and raw bytes."""
import ftplib
import os
import re
import subprocess
import tempfile
import unittest

from nubo import TEST_SETTINGS, NuboServer, class_server, engine_path, scratch_dir

GREETING = "220- Nubo FTP Server (Version 2.0.0)\r\n220 Nubo FTP Server 2.0.0 ready..."
FEATURES = ["EPRT", "EPSV", "SIZE", "REST STREAM", "MDTM", "MDTM YYYYMMDDHHMMSS[+-TZ] filename",
            "MLST size*;type*;perm*;create*;modify*;", "MFMT", "MD5", "UTF8", "HASH SHA-256*;SHA-1;MD5;CRC32",
            "XSHA256", "XSHA1", "XMD5", "XCRC"]


def feat_reply(features=FEATURES, sep="\r\n"):
    return sep.join(["211-Extensions supported:"] + [" " + f for f in features] + ["211 END"])


class SessionCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = class_server(cls)

    def test_ftplib_session(self):
        ftp = self.srv.ftp()
        self.assertEqual(ftp.getwelcome(), GREETING.replace("\r\n", "\n"))
        self.assertEqual(ftp.login("anonymous", "guest@"), "230-\n230 User anonymous logged in.")
        self.assertEqual(ftp.pwd(), "/")
        with tempfile.TemporaryDirectory() as d:
            os.mkdir(os.path.join(d, "sub"))
            self.assertEqual(ftp.cwd(d),
                             '250 CWD command successful. "%s" is current directory.' % engine_path(d))
            ftp.cwd("sub")
            self.assertEqual(ftp.pwd(), engine_path(d) + "sub/")
            ftp.sendcmd("CDUP")
            self.assertEqual(ftp.pwd(), engine_path(d))
        self.assertEqual(ftp.sendcmd("NOOP"), "200 Ok. Parameter was ''.")
        self.assertEqual(ftp.sendcmd("SYST"), "215 UNIX Type: L8 Velmora")
        self.assertEqual(ftp.sendcmd("TYPE I"), "200 Type set to I.")
        self.assertEqual(ftp.sendcmd("TYPE A N"), "200 Type set to A N.")
        self.assertEqual(ftp.sendcmd("FEAT"), feat_reply(sep="\n"))
        with self.assertRaises(ftplib.error_perm) as e:
            ftp.cwd("../" + os.path.basename(d) + "-missing")  # resolved, and not there
        self.assertEqual(str(e.exception), "550 CWD failed. No such directory")
        self.assertEqual(ftp.quit(), "221 Goodbye!")

    def test_raw_bytes_and_guard(self):
        c = self.srv.raw()
        self.assertEqual(c.greeting, GREETING)
        self.assertEqual(c.cmd("SYST"), "530 Please login with USER and PASS.")
        self.assertEqual(c.cmd("FEAT"), feat_reply())  # clients ask before USER
        self.assertEqual(c.cmd("STRU F"), "200 Ok. STRU parameter 'F' ignored.")
        self.assertEqual(c.cmd("PASS x"), "503 Login with USER first.")
        self.assertEqual(c.cmd("USER  someone  "), "331 Password required for someone.")
        self.assertEqual(c.cmd("PASS x"), "230-\r\n230 User someone logged in.")
        self.assertEqual(c.cmd("XPWD"), '257 "/" is current directory.')
        self.assertEqual(c.cmd("CWD a:b:c"), "501 CWD failed. Invalid directory name syntax")
        self.assertEqual(c.cmd("TYPE E"), "500 'TYPE E': command not understood.")
        self.assertEqual(c.cmd("HELO"), "500 'HELO': command not understood.")
        self.assertEqual(c.cmd("QUIT"), "221 Goodbye!")
        self.assertTrue(c.closed())

    def test_long_line_and_junk_keep_server_serving(self):
        c = self.srv.raw()
        c.send(b"X" * 3000)
        self.assertEqual(c.reply(), "500 Command too long")
        self.assertTrue(c.closed())
        d = self.srv.raw()
        d.send(b"\xff\xff\x00\x01\r\n")
        self.assertEqual(d.reply(), "500 '\xff??': command not understood.")  # no control byte echoed
        self.assertEqual(d.cmd("NOOP"), "200 Ok. Parameter was ''.")

    def test_curl_quote_commands(self):
        out = subprocess.run(
            ["curl", "-sS", "-v", "--max-time", "20", "ftp://127.0.0.1:%d/" % self.srv.port,
             "-Q", "NOOP", "-Q", "SYST", "-Q", "TYPE I", "-Q", "PWD", "-Q", "CWD /tmp", "-Q", "CDUP",
             "--list-only", "-o", "/dev/null"],
            capture_output=True, text=True, timeout=30)
        log = out.stderr
        for reply in ["< 220- Nubo FTP Server (Version 2.0.0)", "< 220 Nubo FTP Server 2.0.0 ready...", "< 230 User anonymous logged in.",
                      "< 200 Ok. Parameter was ''.", "< 215 UNIX Type: L8 Velmora",
                      "< 200 Type set to I.", '< 257 "/" is current directory.',
                      '< 250 CWD command successful. "/tmp/" is current directory.',
                      '< 250 CWD command successful. "/" is current directory.']:
            self.assertIn(reply, log)


class Negotiation(unittest.TestCase):
    """FEAT, OPTS and HELP: answered before the login as after it."""

    @classmethod
    def setUpClass(cls):
        cls.srv = class_server(cls)

    def test_opts_table(self):
        c = self.srv.raw()
        cases = [
            ("OPTS UTF8 ON", "200 UTF8 mode enabled."),
            ("OPTS utf8 off", "200 UTF8 mode disabled."),
            ("OPTS UTF8", "501 OPTS UTF8 takes ON or OFF."),
            ("OPTS UTF8 MAYBE", "501 OPTS UTF8 takes ON or OFF."),
            ("OPTS", "501 OPTS needs an option."),
            ("OPTS MLST type;size;", "501 Option 'MLST' not understood."),
            ("OPTS MODE Z", "501 Option 'MODE' not understood."),
            ("OPTS HASH", "200 SHA-256"),
            ("OPTS HASH sha-1", "200 SHA-1"),
            ("OPTS HASH CRC-37", "501 Unknown algorithm, current selection not changed."),
            ("OPTS HASH SHA-1 SHA-256", "501 Unknown algorithm, current selection not changed."),
            ("OPTS HASH", "200 SHA-1"),
            ("FEAT", feat_reply([f if not f.startswith("HASH") else "HASH SHA-256;SHA-1*;MD5;CRC32"
                                 for f in FEATURES])),
            ("OPTS HASH CRC32", "200 CRC32"),
            ("USER someone", "331 Password required for someone."),
            ("PASS x", "230-\r\n230 User someone logged in."),
            ("OPTS UTF8 ON", "200 UTF8 mode enabled."),
            ("OPTS HASH", "200 CRC32"),  # the choice made before the login holds
            ("OPTS HASH md5", "200 MD5"),
        ]
        for line, expected in cases:
            self.assertEqual(c.cmd(line), expected, line)

    def test_help_lists_what_is_understood(self):
        c = self.srv.raw()
        reply = c.cmd("HELP").split("\r\n")
        self.assertEqual(reply[0], "214-The following commands are recognized:")
        self.assertEqual(reply[-1], "214 HELP command successful.")
        listed = " ".join(reply[1:-1]).split()
        self.assertTrue(all(line.startswith(" ") for line in reply[1:-1]))
        self.assertEqual(listed, sorted(listed))
        for k in ["RETR", "STOR", "HASH", "XCRC", "OPTS", "HELP", "FEAT", "MD5"]:
            self.assertIn(k, listed)
        for k in ["OVER", "AUTH", "PBSZ", "PROT", "CCC"]:  # internal, or TLS that is off
            self.assertNotIn(k, listed)
        for k in listed:
            if k in ("QUIT", "USER", "PASS"):
                continue
            # Before the login a known command answers anything but "not understood".
            self.assertNotIn("command not understood", c.cmd(k), k)
            self.assertTrue(c.cmd("HELP " + k.lower()).startswith("214 Syntax: " + k), k)
        cases = [
            ("HELP RETR", "214 Syntax: RETR <sp> file-name"),
            ("HELP  hash ", "214 Syntax: HASH <sp> file-name"),
            ("HELP NOOP", "214 Syntax: NOOP"),
            ("HELP SITE", "502 Unknown command 'SITE'."),
            ("HELP OVER", "502 Unknown command 'OVER'."),
            ("HELP AUTH", "502 Unknown command 'AUTH'."),
        ]
        for line, expected in cases:
            self.assertEqual(c.cmd(line), expected, line)

    def test_lftp_negotiates_before_login(self):
        r = subprocess.run(
            ["lftp", "-d", "-c", "set net:max-retries 1; set net:timeout 10; set ftp:ssl-allow no; "
             "open -u anonymous,x ftp://127.0.0.1:%d; cls /" % self.srv.port],
            capture_output=True, text=True, timeout=60)
        log = r.stderr
        self.assertEqual(r.returncode, 0, log)
        sent = [line.split("---> ", 1)[1].strip() for line in log.splitlines() if "---> " in line]
        self.assertLess(sent.index("FEAT"), sent.index("USER anonymous"), log)
        self.assertIn("OPTS UTF8 ON", sent, log)
        self.assertIn("<--- 200 UTF8 mode enabled.", log)
        self.assertNotIn("<--- 530", log)


class NativePaths(unittest.TestCase):
    """What a person reads names files as the machine does; replies keep the client's paths."""

    def test_output_and_daily_log_show_native_paths(self):
        tmp = scratch_dir(self, "nubo-paths-")
        data = os.path.join(tmp, "data")
        os.mkdir(data)
        path = os.path.join(data, "file.bin")
        with open(path, "wb") as f:
            f.write(b"x" * 5000)
        with NuboServer(settings=TEST_SETTINGS + "Log=1\r\n") as srv:
            ftp = srv.ftp()
            ftp.login("user", "pw")
            got = []
            self.assertTrue(ftp.retrbinary("RETR " + path, got.append).startswith("226"))
            self.assertEqual(b"".join(got), b"x" * 5000)
            self.assertTrue(srv.wait_output(r"transfer: .*" + re.escape(path) + r".*5,000 bytes"), srv.output())
            ftp.quit()
            out = srv.output()
            self.assertNotIn("C:\\", out)
            logs = os.listdir(os.path.join(srv.dir, "log"))
            self.assertEqual(len(logs), 1, logs)
            with open(os.path.join(srv.dir, "log", logs[0]), "rb") as f:
                daily = f.read().decode("utf-8")
        lines = [l for l in daily.splitlines() if path in l]
        self.assertEqual(len(lines), 2, daily)  # the start and the end of the download
        self.assertNotIn("C:\\", daily)


if __name__ == "__main__":
    unittest.main()
