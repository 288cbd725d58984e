"""nuboftpd's account commands (user, deny, allow) end to end: the real binary edits the
files of a folder where a real nuboftpd runs, and the running server obeys the change
from the next login or connection."""
import ftplib
import os
import pty
import select
import subprocess
import time
import unittest

from nubo import BINARY, class_server, error_of, recv_all, scratch_dir


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(folder, *args, stdin=b""):
    """The command's exit code, standard output and standard error."""
    p = subprocess.run([BINARY, "--dir", folder] + list(args), input=stdin, capture_output=True, timeout=60)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


class AccountCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = class_server(cls)
        cls.home = scratch_dir(cls, "nubo-admin-home-")
        cls.docs = scratch_dir(cls, "nubo-admin-docs-")
        with open(os.path.join(cls.home, "in-home.txt"), "wb") as f:
            f.write(b"home")
        with open(os.path.join(cls.docs, "in-docs.txt"), "wb") as f:
            f.write(b"docs")

    def cmd(self, *args, stdin=b"", code=0):
        rc, out, err = run(self.srv.dir, *args, stdin=stdin)
        self.assertEqual(rc, code, (args, out, err))
        return out, err

    def users_text(self):
        return read(os.path.join(self.srv.dir, "ftp_users.ini"))

    def login(self, user, password):
        ftp = self.srv.ftp()
        ftp.login(user, password)
        return ftp

    def test_add_then_passwords_from_stdin_reach_the_running_server(self):
        out, _ = self.cmd("user", "add", "carol", "--home", self.home, stdin=b"first pw\n")
        self.assertEqual(out, "account 'carol' added\n")
        text = self.users_text()
        self.assertIn(b"$pbkdf2-sha256$600000$", text)
        self.assertNotIn(b"first pw", text)
        ftp = self.login("carol", "first pw")
        self.assertIn("in-home.txt", ftp.nlst())
        ftp.quit()

        # A script's CR LF line end is not part of the password.
        self.cmd("user", "passwd", "carol", "--stdin", stdin=b"second\r\n")
        self.assertIn("530", error_of(self.login, "carol", "first pw"))
        self.login("carol", "second").quit()

    def test_terminal_password_asked_twice_without_echo(self):
        self.cmd("user", "add", "hank", "--home", self.home, "--no-password")
        self.assertEqual(error_of(self.login, "hank", ""), None)  # no password: the empty one logs in
        for first, second, code, message in (("tty pw", "tty pw", 0, b""), ("one", "two", 1, b"do not match")):
            with self.subTest(second=second):
                master, slave = pty.openpty()
                p = subprocess.Popen([BINARY, "--dir", self.srv.dir, "user", "passwd", "hank"],
                                     stdin=slave, stdout=subprocess.PIPE, stderr=slave)
                os.close(slave)
                seen = b""

                def until(text):
                    nonlocal seen
                    deadline = time.time() + 30
                    while text not in seen and time.time() < deadline:
                        if select.select([master], [], [], 1)[0]:
                            try:
                                seen += os.read(master, 4096)
                            except OSError:  # the other end closed
                                break
                    return text in seen

                self.assertTrue(until(b"New password: "), seen)
                os.write(master, first.encode() + b"\n")
                self.assertTrue(until(b"Repeat the password: "), seen)
                os.write(master, second.encode() + b"\n")
                out = p.communicate(timeout=30)[0]
                until(b"\0")  # the rest, up to the close
                os.close(master)
                self.assertEqual(p.returncode, code, seen)
                self.assertIn(message, seen)
                self.assertNotIn(first.encode(), seen)
                self.assertNotIn(second.encode(), seen)
                if code == 0:
                    self.assertEqual(out, b"password of 'hank' set\n")
        self.login("hank", "tty pw").quit()
        self.assertIn("530", error_of(self.login, "hank", ""))

    def test_list_show_and_set(self):
        self.cmd("user", "add", "dave", "--home", self.home, "--perm", "DS", "--max-speed", "64", "--memo",
                 "night shift", stdin=b"pw\n")
        out, _ = self.cmd("user", "list")
        self.assertIn("dave\tenabled\t%s\n" % self.home, out)
        self.assertTrue(out.startswith("anonymous\t"), out)
        out, _ = self.cmd("user", "show", "DAVE")  # names match without regard to case
        for line in ("account:       DAVE", "state:         enabled",
                     "password:      hashed (pbkdf2-sha256, 600000 iterations)", "memo:          night shift",
                     "home:          " + self.home, "max-speed:     64 KB/s", "max-users:     0",
                     "home folder:   /  %s  D_______S__" % self.home):
            self.assertIn(line + "\n", out)
        self.assertNotIn("$pbkdf2", out)

        # set writes only what it is given; the running server applies it at the next login.
        self.cmd("user", "set", "dave", "--max-users", "1", "--timeout", "5")
        out, _ = self.cmd("user", "show", "dave")
        self.assertIn("max-users:     1\n", out)
        self.assertIn("timeout:       5 min\n", out)
        self.assertIn("max-speed:     64 KB/s\n", out)
        self.assertIn("memo:          night shift\n", out)
        first = self.login("dave", "pw")
        self.assertIn("530", error_of(self.login, "dave", "pw"))  # the second session
        first.quit()
        self.cmd("user", "set", "dave", "--disabled")
        self.assertIn("530", error_of(self.login, "dave", "pw"))
        self.cmd("user", "set", "dave", "--enabled", "--max-users", "0")
        self.login("dave", "pw").quit()

        self.cmd("user", "remove", "dave")
        self.assertNotIn(b"[dave]", self.users_text())
        self.assertIn("530", error_of(self.login, "dave", "pw"))

    def test_virtual_folder_in_the_listing_of_the_running_server(self):
        self.cmd("user", "add", "erin", "--home", self.home, stdin=b"pw\n")
        out, _ = self.cmd("user", "vdir", "add", "erin", "docs", self.docs, "--perm", "D")
        self.assertEqual(out, "folder 'docs' added to 'erin'\n")
        self.assertIn(("Dir1=%s|D______V___|docs" % self.docs).encode(), self.users_text())
        ftp = self.login("erin", "pw")
        self.assertIn("docs", ftp.nlst())
        ftp.cwd("/docs")
        self.assertEqual(ftp.nlst(), ["in-docs.txt"])
        ftp.quit()
        self.cmd("user", "vdir", "remove", "erin", "docs")
        ftp = self.login("erin", "pw")
        self.assertNotIn("docs", ftp.nlst())
        ftp.quit()

    def test_deny_refuses_a_new_connection_and_remove_lifts_it(self):
        self.cmd("deny", "add", "127.0.0.1")
        self.cmd("allow", "add", "10.0.0.0/8")
        out, _ = self.cmd("deny", "list")
        self.assertEqual(out, "127.0.0.1\n")
        out, _ = self.cmd("allow", "list")
        self.assertEqual(out, "10.0.0.0/8\n")
        try:
            c = self.srv.raw(greet=False)
            self.assertEqual(c.reply(), "421 Access Denied.")
            self.assertTrue(c.closed())
        finally:
            self.cmd("deny", "remove", "127.0.0.1")
            self.cmd("allow", "remove", "10.0.0.0/8")
        self.assertTrue(self.srv.raw().greeting.startswith("220"))
        self.assertEqual(self.cmd("deny", "list")[0], "")

    def test_refusals_leave_the_files_as_they_were(self):
        self.cmd("user", "add", "frank", "--home", self.home, stdin=b"pw\n")
        for alias in ("a1", "a2", "a3"):
            sub = os.path.join(self.docs, alias)
            os.makedirs(sub, exist_ok=True)
            self.cmd("user", "vdir", "add", "frank", alias, sub)
        self.cmd("user", "vdir", "add", "frank", "a4", self.docs)
        os.makedirs(os.path.join(self.docs, "a5"), exist_ok=True)
        missing = os.path.join(self.home, "no-such-folder")
        piped = os.path.join(self.home, "a|b")
        os.makedirs(piped, exist_ok=True)
        long_pw = b"x" * 1025 + b"\n"
        cases = [
            # (arguments, standard input, exit code, message on standard error)
            (["user", "show", "nobody"], b"", 1, "user show: no account 'nobody'"),
            (["user", "set", "nobody", "--max-users", "2"], b"", 1, "user set: no account 'nobody'"),
            (["user", "passwd", "nobody"], b"pw\n", 1, "user passwd: no account 'nobody'"),
            (["user", "remove", "nobody"], b"", 1, "user remove: no account 'nobody'"),
            (["user", "remove", "Anonymous"], b"", 1, "user remove: the anonymous account cannot be removed"),
            (["user", "add", "FRANK", "--home", self.home], b"pw\n", 1, "user add: account 'FRANK' already exists"),
            (["user", "add", "bad]name", "--home", self.home], b"pw\n", 1,
             "user add: account name 'bad]name' may not hold ']', '=' or a line break"),
            (["user", "add", "gina", "--home", missing], b"pw\n", 1,
             "user add: home folder '%s' is not an existing folder" % missing),
            (["user", "vdir", "add", "frank", "a5", piped], b"", 1,
             "user vdir add: folder '%s' holds '|' or a line break" % piped),
            (["user", "add", "gina", "--home", self.home, "--perm", "DUX"], b"pw\n", 1,
             "user add: --perm: 'DUX' is not a set of the letters D U A E M R Y V S, each once"),
            (["user", "add", "gina", "--home", self.home, "--perm", "DD"], b"pw\n", 1, "--perm: 'DD' is not a set"),
            (["user", "set", "frank", "--max-speed", "fast"], b"", 1,
             "user set: --max-speed: 'fast' is not a whole number from 0 to 100000000"),
            (["user", "set", "frank", "--timeout", "601"], b"", 1,
             "user set: --timeout: '601' is not a whole number from 0 to 600"),
            (["user", "set", "frank", "--max-users", "-1"], b"", 1, "--max-users: '-1' is not a whole number"),
            (["user", "vdir", "add", "frank", "a5", os.path.join(self.docs, "a5")], b"", 1,
             "user vdir add: account 'frank' already has 4 virtual folders, the most it may"),
            (["user", "vdir", "remove", "frank", "zz"], b"", 1,
             "user vdir remove: account 'frank' has no folder named 'zz'"),
            (["user", "vdir", "remove", "frank", "/"], b"", 1, "the home folder cannot be removed"),
            (["deny", "add", "2001:db8::/200"], b"", 1,
             "deny add: '2001:db8::/200' is not an address, a prefix or a pattern"),
            (["deny", "remove", "10.9.9.9"], b"", 1, "deny remove: '10.9.9.9' is not in the deny list"),
            (["user", "passwd", "frank"], long_pw, 1, "user passwd: the password is longer than 1024 bytes"),
            (["user", "passwd", "frank"], b"", 1, "user passwd: no password on standard input"),
            (["user", "passwd", "frank"], b"\n", 1, "user passwd: the password is empty"),
            (["user", "passwd", "anonymous"], b"pw\n", 1, "the anonymous account takes any password"),
            (["user", "passwd", "frank", "secret"], b"", 2,
             "user passwd: passwords are not taken from the command line"),
            (["user", "add", "gina", "--home", self.home, "--password", "secret"], b"", 2,
             "user add: passwords are not taken from the command line"),
            (["user", "add", "gina", "--home", self.home, "--password=secret"], b"", 2,
             "passwords are not taken from the command line"),
            (["user", "add", "gina"], b"pw\n", 2, "user add: --home DIR is required"),
            (["user", "set", "frank"], b"", 2, "user set: nothing to change"),
            (["user", "frobnicate"], b"", 2, "user frobnicate: unknown command 'frobnicate'"),
            (["user", "show", "frank", "--colour"], b"", 2, "user show: unknown option '--colour'"),
            (["deny", "add"], b"", 2, "deny add: expected ADDRESS"),
        ]
        self.cmd("deny", "add", "192.168.*")
        cases.append((["deny", "add", "192.168.*"], b"", 1, "deny add: '192.168.*' is already in the deny list"))
        paths = [os.path.join(self.srv.dir, n) for n in ("ftp_users.ini", "ftp_config.ini")]
        try:
            for args, stdin, code, message in cases:
                with self.subTest(args=args):
                    before = [read(p) for p in paths]
                    rc, out, err = run(self.srv.dir, *args, stdin=stdin)
                    self.assertEqual(rc, code, err)
                    self.assertIn(message, err)
                    self.assertTrue(err.startswith("nuboftpd: "), err)
                    self.assertEqual(out, "")
                    self.assertEqual([read(p) for p in paths], before)
        finally:
            self.cmd("deny", "remove", "192.168.*")

    def test_help_lists_the_commands(self):
        for args in (["--help"], ["user", "--help"]):
            rc, out, _ = run(self.srv.dir, *args)
            self.assertEqual(rc, 0)
            for usage in ("user add NAME --home DIR", "user passwd NAME [--stdin]", "user vdir add NAME ALIAS DIR",
                          "deny list | deny add ADDRESS", "allow list"):
                self.assertIn(usage, out)

    def test_concurrent_commands_lose_nothing(self):
        # Sixteen commands at once, each a read-modify-write of the same two files.
        procs = []
        for i in range(8):
            procs.append(subprocess.Popen(
                [BINARY, "--dir", self.srv.dir, "user", "add", "many%d" % i, "--home", self.home, "--no-password"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            procs.append(subprocess.Popen([BINARY, "--dir", self.srv.dir, "allow", "add", "10.1.1.%d" % i],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.assertEqual([p.wait(timeout=60) for p in procs], [0] * len(procs))
        names = self.cmd("user", "list")[0]
        allowed = self.cmd("allow", "list")[0].split()
        for i in range(8):
            self.assertIn("many%d\t" % i, names)
            self.assertIn("10.1.1.%d" % i, allowed)
            self.cmd("user", "remove", "many%d" % i)
            self.cmd("allow", "remove", "10.1.1.%d" % i)


if __name__ == "__main__":
    unittest.main()
