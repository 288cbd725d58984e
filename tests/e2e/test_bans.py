"""Failed logins: each "530" to a PASS comes after a delay while the server keeps serving
others, and an address that fails too often is refused as the deny list refuses it."""
import base64
import hashlib
import re
import time
import unittest

from nubo import NuboServer, account_text

# The suite's shared settings switch the delay off; these tests leave the keys out to get
# the defaults, or set them.
BASE = "[Setup]\r\nLowPASV=0\r\nHighPASV=0\r\n"


def pbkdf2(password, iterations=1000, salt=b"0123456789abcdef"):
    digest = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, iterations)
    return "$pbkdf2-sha256$%d$%s$%s" % (iterations, base64.b64encode(salt).decode(), base64.b64encode(digest).decode())


# A plain password, a hashed one (checked off the loop), a disabled account.
USERS = (account_text("u", "p") + account_text("h", pbkdf2("hp"))
         + account_text("gone", "x", extra="UserDisable=1\r\n") + account_text("anonymous", ""))
BAN_LINE = re.compile(r"127\.0\.0\.1 로그인 실패 (\d+)회: (\S+) 동안 차단합니다")


def timed_pass(client, password):
    """PASS, then (seconds until the reply, the reply)."""
    start = time.monotonic()
    reply = client.cmd("PASS " + password)
    return time.monotonic() - start, reply


def fail_login(srv, password="wrong", user="u"):
    c = srv.raw()
    c.cmd("USER " + user)
    return c, timed_pass(c, password)


class Delay(unittest.TestCase):
    def test_each_refusal_is_delayed_while_others_are_served(self):
        with NuboServer(settings=BASE, users=USERS) as srv:
            other = srv.raw()
            for user, password in (("u", "wrong"), ("h", "wrong"), ("nobody", "p"), ("gone", "x")):
                c = srv.raw()
                c.cmd("USER " + user)
                # The refused PASS and a command behind it: the command waits for the 530.
                start = time.monotonic()
                c.send("PASS %s\r\nNOOP\r\n" % password)
                time.sleep(0.2)
                # Meanwhile another client is answered at once.
                self.assertTrue(other.cmd("NOOP").startswith("200 "))
                other_done = time.monotonic() - start
                self.assertEqual(c.reply(), "530 Login incorrect.", user)
                refused = time.monotonic() - start
                self.assertTrue(c.reply().startswith("200 "), user)
                self.assertLess(other_done, refused, user)
                self.assertGreater(refused, 0.9, user)
                # The session goes on: the right password logs in.
                right = {"u": "p", "h": "hp"}.get(user)
                if right:
                    self.assertTrue(c.login(user, right).startswith("230"), user)

            # A client that goes during its delay harms nothing.
            c = srv.raw()
            c.cmd("USER u")
            c.send("PASS wrong\r\n")
            c.close()
            time.sleep(1.5)
            self.assertTrue(other.cmd("NOOP").startswith("200 "))
            self.assertEqual(srv.proc.poll(), None)

    def test_loopback_is_delayed_but_never_banned(self):
        # Eight connections fail at once, more than the five of a ban.
        with NuboServer(settings=BASE, users=USERS) as srv:
            clients = [srv.raw() for _ in range(8)]
            for c in clients:
                c.cmd("USER u")
            start = time.monotonic()
            for c in clients:
                c.send("PASS wrong\r\n")
            for c in clients:
                self.assertEqual(c.reply(), "530 Login incorrect.")
            self.assertGreater(time.monotonic() - start, 0.9)
            # Still open, and new connections still welcome.
            self.assertTrue(clients[0].cmd("NOOP").startswith("200 "))
            self.assertTrue(srv.raw().login("u", "p").startswith("230"))
            self.assertIsNone(BAN_LINE.search(srv.output()))

    def test_no_delay(self):
        with NuboServer(settings=BASE + "LoginFailDelay=0\r\n", users=USERS) as srv:
            for _ in range(3):
                c, (took, reply) = fail_login(srv)
                self.assertEqual(reply, "530 Login incorrect.")
                self.assertLess(took, 0.9)  # not the default second, even on a loaded machine


class Bans(unittest.TestCase):
    def test_parallel_guesses_from_one_address_earn_one_ban(self):
        with NuboServer(settings=BASE + "BanLoopback=1\r\n", users=USERS) as srv:
            guessers = [srv.raw() for _ in range(5)]
            late = srv.raw()  # opened before the ban, it will not log in even rightly
            for c in guessers + [late]:
                c.cmd("USER u")
            for c in guessers:
                c.send("PASS wrong\r\n")
            # The fifth failure bans at once, before any 530 has come.
            self.assertTrue(srv.wait_output(BAN_LINE.pattern, timeout=5))
            refused = srv.raw(greet=False)
            self.assertEqual(refused.reply(), "421 Access Denied.")
            self.assertTrue(refused.closed())
            # Every guesser gets its 530, then the connection ends.
            for c in guessers:
                self.assertEqual(c.reply(), "530 Login incorrect.")
                self.assertTrue(c.closed())
            start = time.monotonic()
            self.assertEqual(late.cmd("PASS p"), "530 Login incorrect.")
            self.assertGreater(time.monotonic() - start, 0.9)
            self.assertTrue(late.closed())

            out = srv.output()
            lines = BAN_LINE.findall(out)
            self.assertEqual(lines, [("5", "60분")], out)

    def test_a_short_ban_ends_by_itself_and_a_login_does_not_reset_the_count(self):
        settings = BASE + "LoginFailDelay=0\r\nBanFailures=3\r\nBanTime=2\r\nBanLoopback=1\r\n"
        with NuboServer(settings=settings, users=USERS) as srv:
            c = srv.raw()
            for password in ("wrong", "wrong", "p", "wrong"):
                c.cmd("USER u")
                c.cmd("PASS " + password)
            self.assertTrue(c.closed())  # the third failure banned: 530, then the close
            refused = srv.raw(greet=False)
            self.assertEqual(refused.reply(), "421 Access Denied.")
            self.assertEqual(BAN_LINE.findall(srv.output()), [("3", "2초")])
            time.sleep(2.5)
            self.assertTrue(srv.raw().login("u", "p").startswith("230"))

    def test_no_bans(self):
        settings = BASE + "LoginFailDelay=0\r\nBanFailures=0\r\nBanLoopback=1\r\n"
        with NuboServer(settings=settings, users=USERS) as srv:
            c = srv.raw()
            for _ in range(12):
                c.cmd("USER u")
                self.assertEqual(c.cmd("PASS wrong"), "530 Login incorrect.")
            self.assertTrue(srv.raw().login("u", "p").startswith("230"))
            self.assertIsNone(BAN_LINE.search(srv.output()))


if __name__ == "__main__":
    unittest.main()
