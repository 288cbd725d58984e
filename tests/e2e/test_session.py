"""Login and session commands against the real nuboftpd, with ftplib, curl and raw bytes."""
import ftplib
import os
import subprocess
import tempfile
import unittest

from nubo import NuboServer, engine_path

GREETING = "220- Nubo FTP Server (Version 2.0.0)\r\n220 Nubo FTP Server 2.0.0 ready..."


class SessionCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = NuboServer().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.srv.__exit__(None, None, None)

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
        self.assertEqual(ftp.sendcmd("FEAT"),
                         "211-Extensions supported:\n  SIZE\n  REST STREAM\n  MDTM\n"
                         "  MDTM YYYYMMDDHHMMSS[+-TZ] filename\n"
                         "  MLST size*;type*;perm*;create*;modify*;\n  MFMT\n  MD5\n211 END")
        with self.assertRaises(ftplib.error_perm) as e:
            ftp.cwd("../" + os.path.basename(d) + "-missing")  # resolved, and not there
        self.assertEqual(str(e.exception), "550 CWD failed. No such directory")
        self.assertEqual(ftp.quit(), "221 Goodbye!")

    def test_raw_bytes_and_guard(self):
        c = self.srv.raw()
        self.assertEqual(c.greeting, GREETING)
        self.assertEqual(c.cmd("SYST"), "530 Please login with USER and PASS.")
        self.assertEqual(c.cmd("FEAT"), "530 Please login with USER and PASS.")
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


if __name__ == "__main__":
    unittest.main()
