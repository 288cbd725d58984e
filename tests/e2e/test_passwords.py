"""Stored passwords: plain ones turn into salted hashes at their first login, hashes are
checked off the loop, and stored values that cannot be used refuse the login."""
import base64
import ftplib
import hashlib
import os
import re
import select
import subprocess
import unittest

from nubo import NuboServer, TEST_SETTINGS, account_text, error_of

HASH_RE = re.compile(r"^\$pbkdf2-sha256\$(\d+)\$([A-Za-z0-9+/=]+)\$([A-Za-z0-9+/=]+)$")


def make_hash(password, iterations, salt=b"0123456789abcdef"):
    h = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, iterations)
    return "$pbkdf2-sha256$%d$%s$%s" % (iterations, base64.b64encode(salt).decode(), base64.b64encode(h).decode())


def stored_password(srv, account):
    with open(os.path.join(srv.dir, "ftp_users.ini"), "rb") as f:
        text = f.read().decode("utf-8")
    section = text[text.index("[%s]" % account):]
    return re.search(r"(?im)^password=(.*?)\r?$", section).group(1)


def hash_matches(stored, password):
    m = HASH_RE.match(stored)
    if not m:
        return False
    salt, want = base64.b64decode(m.group(2)), base64.b64decode(m.group(3))
    return hashlib.pbkdf2_hmac("sha256", password.encode(), salt, int(m.group(1))) == want


def login_error(srv, user, password):
    ftp = srv.ftp()
    err = error_of(ftp.login, user, password)
    if err is None:
        ftp.voidcmd("NOOP")  # the session works after the login
    ftp.close()
    return err


class PlainToHash(unittest.TestCase):
    def test_first_login_replaces_the_plain_password(self):
        users = account_text("alice", "s3cret pass") + account_text("bob", "other")
        with NuboServer(users=users) as srv:
            self.assertIsNone(login_error(srv, "alice", "s3cret pass"))
            stored = stored_password(srv, "alice")
            self.assertTrue(stored.startswith("$pbkdf2-sha256$600000$"), stored)
            self.assertTrue(hash_matches(stored, "s3cret pass"), stored)
            with open(os.path.join(srv.dir, "ftp_users.ini"), "rb") as f:
                self.assertNotIn(b"s3cret", f.read())
            self.assertEqual(stored_password(srv, "bob"), "other")  # not logged in yet

            # Again with the hash, through another client, and a wrong one fails.
            self.assertIsNone(login_error(srv, "ALICE", "s3cret pass"))
            self.assertIn("530", login_error(srv, "alice", "s3cret pas"))
            self.assertIn("530", login_error(srv, "alice", "S3cret pass"))
            self.assertIn("530", login_error(srv, "bob", "s3cret pass"))
            self.assertEqual(stored_password(srv, "bob"), "other")
            out = subprocess.run(["curl", "-sS", "--max-time", "20", "--user", "alice:s3cret pass", "-o", "/dev/null",
                                  "-w", "%{response_code}", "ftp://127.0.0.1:%d/tmp/" % srv.port],
                                 capture_output=True, text=True, timeout=30)
            self.assertEqual(out.stdout, "226", out.stderr)
        # A restarted server checks the stored hash (no cache yet).
        with NuboServer(users=users.replace("s3cret pass", stored)) as srv:
            self.assertIsNone(login_error(srv, "alice", "s3cret pass"))
            self.assertIn("530", login_error(srv, "alice", "wrong"))

    def test_plain_passwords_setting_keeps_plain_text(self):
        settings = TEST_SETTINGS + "PlainPasswords=1\r\n"
        with NuboServer(settings=settings, users=account_text("carol", "keep me")) as srv:
            self.assertIsNone(login_error(srv, "carol", "keep me"))
            self.assertIn("530", login_error(srv, "carol", "keep"))
            self.assertEqual(stored_password(srv, "carol"), "keep me")
            # A hashed value still logs in with the setting on.
        with NuboServer(settings=settings, users=account_text("carol", make_hash("keep me", 1000))) as srv:
            self.assertIsNone(login_error(srv, "carol", "keep me"))
            self.assertEqual(stored_password(srv, "carol"), make_hash("keep me", 1000))


class StoredValues(unittest.TestCase):
    GOOD = make_hash("pw", 1000)
    MALFORMED = {
        "truncated": GOOD[:40],
        "cut": "$pbkdf2-sha256",
        "scheme": GOOD.replace("pbkdf2-sha256", "scrypt"),
        "zero": GOOD.replace("$1000$", "$0$"),
        "absurd": GOOD.replace("$1000$", "$2000000000$"),
        "base64": GOOD.replace("MDEy", "M*Ey"),
        "short": GOOD[:-8] + "=",
    }

    @classmethod
    def setUpClass(cls):
        users = account_text("good", cls.GOOD) + account_text("long", "a" * 1500)
        users += "".join(account_text(name, value) for name, value in cls.MALFORMED.items())
        cls.srv = NuboServer(users=users).__enter__()
        cls.addClassCleanup(cls.srv.__exit__, None, None, None)

    def test_a_hash_made_elsewhere_logs_in(self):
        self.assertIsNone(login_error(self.srv, "good", "pw"))
        self.assertIn("530", login_error(self.srv, "good", "pw2"))
        self.assertEqual(stored_password(self.srv, "good"), self.GOOD)

    def test_malformed_values_refuse_the_login_and_say_so(self):
        for name, value in self.MALFORMED.items():
            with self.subTest(name=name):
                c = self.srv.raw()
                c.cmd("USER " + name)
                self.assertEqual(c.cmd("PASS pw"), "530 Login incorrect.")
                self.assertEqual(c.cmd("NOOP")[:3], "200")
                self.assertTrue(self.srv.wait_output(
                    r"system: .*The stored password of the account %s is not a valid hash" % name.upper()),
                    self.srv.output())
                self.assertEqual(stored_password(self.srv, name), value)  # left as it was

    def test_overlong_passwords_are_refused(self):
        c = self.srv.raw()
        c.cmd("USER long")
        self.assertEqual(c.cmd("PASS " + "a" * 1500), "530 Login incorrect.")
        self.assertEqual(stored_password(self.srv, "long"), "a" * 1500)
        # 10,000 characters do not even fit a command line.
        c = self.srv.raw()
        c.cmd("USER good")
        reply = c.cmd("PASS " + "p" * 10000)
        self.assertFalse(reply.startswith("230"), reply)
        self.assertIsNone(login_error(self.srv, "good", "pw"))


class OffTheLoop(unittest.TestCase):
    def test_other_clients_are_served_while_a_hash_is_checked(self):
        # A stored value with many iterations: its check takes seconds, not milliseconds.
        slow = make_hash("pw", 10_000_000)
        with NuboServer(users=account_text("slow", slow) + account_text("anonymous", "")) as srv:
            gone = srv.raw()
            gone.cmd("USER slow")
            gone.send("PASS pw\r\n")
            gone.close()  # its result comes back to a closed connection

            a = srv.raw(timeout=120)  # a loaded machine makes the hash slower still
            self.assertEqual(a.cmd("USER slow"), "331 Password required for slow.")
            a.send("PASS pw\r\nPWD\r\nNOOP\r\n")  # the lines behind PASS wait for its reply
            # Others at the same moment: the same password shares the check, another does not.
            same, wrong = srv.raw(timeout=120), srv.raw(timeout=120)
            for c, pw in ((same, "pw"), (wrong, "pW")):
                c.cmd("USER slow")
                c.send("PASS %s\r\n" % pw)
            b = srv.raw()
            b.send("NOOP\r\n")
            ready, _, _ = select.select([a.sock, b.sock], [], [], 60)
            self.assertEqual(ready, [b.sock])
            self.assertEqual(b.reply(), "200 Ok. Parameter was ''.")
            self.assertTrue(b.login("anonymous", "x").endswith("230 User anonymous logged in."))
            self.assertEqual(b.cmd("NOOP")[:3], "200")

            self.assertEqual(a.reply(), "230-\r\n230 User slow logged in.")
            self.assertEqual(a.reply(), '257 "/" is current directory.')
            self.assertEqual(a.reply()[:3], "200")
            self.assertEqual(same.reply(), "230-\r\n230 User slow logged in.")
            self.assertEqual(wrong.reply(), "530 Login incorrect.")
            self.assertEqual(b.cmd("NOOP")[:3], "200")
            # The connection that left got no login (its check began first, so its result
            # is back by now or very soon).
            self.assertFalse(srv.wait_output(r"(User SLOW Connected[^\0]*){3}", timeout=3), srv.output())
            self.assertEqual(srv.output().count("User SLOW Connected"), 2)


if __name__ == "__main__":
    unittest.main()
