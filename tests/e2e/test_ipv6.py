"""Both address families on one listener: curl, lftp and ftplib over IPv6 and IPv4,
EPSV and EPRT with their defences, and IPv6 entries of the address lists."""
import os
import re
import socket
import subprocess
import unittest

from nubo import NuboServer, TEST_SETTINGS, class_server, digest, scratch_dir


class BothFamilies(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = scratch_dir(cls, "nubo-ipv6-")
        with open(os.path.join(cls.data, "mib.bin"), "wb") as f:
            f.write(os.urandom(1 << 20))
        cls.srv = class_server(cls)

    def path(self, name):
        return os.path.join(self.data, name)

    def content(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def curl(self, host, *args):
        url = "ftp://%s:%d/%s/" % (host, self.srv.port, self.data.strip("/"))
        out = subprocess.run(["curl", "-sS", "-g", "--max-time", "60", "--user", "user:pw"] +
                             [a.replace("URL/", url) for a in args], capture_output=True, timeout=90)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        return out.stdout

    def test_curl_over_both_families_passive_and_active(self):
        # curl's defaults: EPSV for passive, EPRT for active ("-P -").
        for host in ("[::1]", "127.0.0.1"):
            for active in ((), ("-P", "-")):
                with self.subTest(host=host, active=bool(active)):
                    name = "up-%s-%d.bin" % (host.strip("[]").replace(":", "_"), len(active))
                    self.assertIn(b"mib.bin", self.curl(host, "--list-only", *active, "URL/"))
                    self.assertEqual(self.curl(host, *active, "URL/mib.bin"), self.content("mib.bin"))
                    self.curl(host, *active, "-T", self.path("mib.bin"), "URL/" + name)
                    self.addCleanup(os.remove, self.path(name))
                    self.assertEqual(digest(self.path(name)), digest(self.path("mib.bin")))

    def test_ftplib_over_ipv6_passive_and_active(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.srv.ftp(host="::1")
                f.login("user", "pw")
                f.set_pasv(passive)  # ftplib speaks EPSV and EPRT on IPv6 by itself
                f.cwd(self.data)
                got = []
                f.retrbinary("RETR mib.bin", got.append)
                self.assertEqual(b"".join(got), self.content("mib.bin"))
                self.assertIn("mib.bin", f.nlst())
                f.quit()

    def test_lftp_over_ipv6(self):
        target = scratch_dir(self, "nubo-ipv6-lftp-")
        script = ("set net:max-retries 1; set net:timeout 20; open -u user,pw -p %d ::1; cd %s; "
                  "get mib.bin -o %s/mib.bin; set ftp:passive-mode false; cls -1" % (self.srv.port, self.data, target))
        out = subprocess.run(["lftp", "-c", script], capture_output=True, timeout=120)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertEqual(digest(os.path.join(target, "mib.bin")), digest(self.path("mib.bin")))
        self.assertIn(b"mib.bin", out.stdout)

    def test_negotiation_as_filezilla_does_it(self):
        # FEAT and OPTS before the login, then EPSV for every listing and transfer.
        for host in ("::1", "127.0.0.1"):
            with self.subTest(host=host):
                c = self.srv.raw(host=host)
                feat = c.cmd("FEAT")
                for line in (" EPSV", " EPRT", " UTF8"):
                    self.assertIn("\r\n" + line + "\r\n", feat)
                self.assertEqual(c.cmd("OPTS UTF8 ON"), "200 UTF8 mode enabled.")
                c.login("user", "pw")
                self.assertEqual(c.cmd("CWD " + self.data)[:3], "250")
                port = int(c.cmd("EPSV").split("|")[3])
                d = socket.create_connection((host, port), timeout=10)
                self.assertEqual(c.cmd("RETR mib.bin")[:3], "150")
                got = b""
                while True:
                    chunk = d.recv(1 << 16)
                    if not chunk:
                        break
                    got += chunk
                d.close()
                self.assertEqual(c.reply()[:3], "226")
                self.assertEqual(got, self.content("mib.bin"))

    def test_the_connect_pane_shows_the_ipv6_address(self):
        c = self.srv.raw(host="::1")
        c.login("user", "pw")
        self.assertTrue(self.srv.wait_output(r"connect: .*::1"))

    def test_extended_commands_and_their_refusals(self):
        c = self.srv.raw()
        c.login("user", "pw")
        port = c.sock.getsockname()[1] + 1 if c.sock.getsockname()[1] < 65535 else 5000
        cases = [
            ("EPSV 2", "522 Network protocol not supported, use (1)"),
            ("EPSV 3", "501 Invalid EPSV command."),
            ("EPRT |3|127.0.0.1|5000|", "522 Network protocol not supported, use (1,2)"),
            ("EPRT |1|127.0.0|5000|", "501 Invalid EPRT command."),
            ("EPRT |1|127.0.0.256|5000|", "501 Invalid EPRT command."),
            ("EPRT |2|::ffff:127.0.0.1|5000|", "501 Invalid EPRT command."),  # IPv4 inside IPv6
            ("EPRT |1|127.0.0.1|0|", "501 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|65536|", "501 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|1023|", "501 Invalid EPRT command."),
            ("EPRT |1|10.0.0.1|5000|", "501 Invalid EPRT command."),  # not the client's address
            ("EPRT 1|127.0.0.1|5000", "501 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|5000", "501 Invalid EPRT command."),
            ("EPRT", "501 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|%d|" % port, "200 EPRT command successful."),
            ("EPRT !1!127.0.0.1!%d!" % port, "200 EPRT command successful."),
            ("EPSV ALL", "200 EPSV ALL command successful."),
            ("PASV", "503 Only EPSV is accepted after EPSV ALL."),
            ("PORT 127,0,0,1,20,0", "503 Only EPSV is accepted after EPSV ALL."),
            ("EPRT |1|127.0.0.1|5000|", "503 Only EPSV is accepted after EPSV ALL."),
        ]
        for line, want in cases:
            self.assertEqual(c.cmd(line), want, line)
        self.assertRegex(c.cmd("EPSV"), r"^229 Entering Extended Passive Mode \(\|\|\|\d+\|\)$")
        # Over IPv6, PASV points to EPSV.
        six = self.srv.raw(host="::1")
        six.login("user", "pw")
        self.assertEqual(six.cmd("PASV"), "522 PASV works over IPv4 only; use EPSV.")
        self.assertEqual(six.cmd("EPSV 1"), "522 Network protocol not supported, use (2)")
        self.assertEqual(six.cmd("EPRT |1|127.0.0.1|5000|"), "501 Invalid EPRT command.")
        self.assertRegex(six.cmd("EPSV 2"), r"^229 ")

    def test_a_passive_connection_only_from_the_clients_own_address(self):
        # The IPv6 client's passive port turns away an IPv4 connection from this same host.
        six = self.srv.raw(host="::1")
        six.login("user", "pw")
        reply = six.cmd("EPSV")
        port = int(reply.split("|")[3])
        thief = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.addCleanup(thief.close)
        thief.settimeout(2)
        try:
            self.assertEqual(thief.recv(10), b"")  # turned away: closed without data
        except ConnectionResetError:
            pass
        d = socket.create_connection(("::1", port), timeout=10)
        self.assertEqual(six.cmd("NLST " + self.data).split(" ")[0], "150")
        names = b""
        while True:
            chunk = d.recv(65536)
            if not chunk:
                break
            names += chunk
        d.close()
        self.assertIn(b"mib.bin", names)
        self.assertEqual(six.reply()[:3], "226")


class AddressListsWithIPv6(unittest.TestCase):
    def test_an_ipv6_entry_refuses_that_address_only(self):
        for entry in ("::1", "0:0::1", "::/96"):
            with self.subTest(entry=entry):
                with NuboServer(settings=TEST_SETTINGS + "[IP Deny]\r\nIP0=%s\r\n" % entry) as srv:
                    refused = srv.raw(greet=False, host="::1")
                    self.assertEqual(refused.reply(), "421 Access Denied.")
                    self.assertTrue(refused.closed())
                    self.assertTrue(srv.raw(host="127.0.0.1").greeting.startswith("220"))


class PassiveAddressForNat(unittest.TestCase):
    def test_the_announced_address_and_what_it_is_not_for(self):
        cases = [
            ("203.0.113.7", "PASV announces 203.0.113.7 to clients outside the local network."),
            ("localhost", "PASV announces 127.0.0.1 to clients outside the local network."),
            ("no-such-host.invalid", "PassiveAddress no-such-host.invalid: "),
            ("2001:db8::1", "PassiveAddress 2001:db8::1: "),  # PASV announces IPv4 only
            ("auto", "PassiveAddress=auto: no public address could be learned; PASV announces the local address."),
        ]
        for setting, line in cases:
            with self.subTest(setting=setting):
                with NuboServer(settings=TEST_SETTINGS + "PassiveAddress=%s\r\n" % setting) as srv:
                    self.assertTrue(srv.wait_output(re.escape(line)), srv.output())
                    # A client on this machine is on the local network: it gets the local address.
                    c = srv.raw()
                    c.login("user", "pw")
                    self.assertTrue(c.cmd("PASV").startswith("227 Entering Passive Mode (127,0,0,1,"))


if __name__ == "__main__":
    unittest.main()
