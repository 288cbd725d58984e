"""Listings as clients get them: LIST line formats, NLST, MLSD and MLST, over real
data connections."""
import datetime
import os
import subprocess
import time
import unittest

from nubo import class_server, recv_all, scratch_dir


def local_ts(y, mo, d, h=0, mi=0):
    return time.mktime((y, mo, d, h, mi, 0, 0, 0, -1))


class Listings(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = d = scratch_dir(cls, "nubo-list-")
        cls.srv = class_server(cls)
        this_year = datetime.date.today().year
        cls.year = this_year

        def make(name, content=b"", when=None, mode=None, size=None):
            p = os.path.join(d, name)
            with open(p, "wb") as f:
                f.write(content)
                if size:
                    f.truncate(size)
            if when:
                os.utime(p, (when, when))
            if mode is not None:
                os.chmod(p, mode)

        make("a.txt", b"x" * 1234, local_ts(this_year, 1, 5, 9, 7))
        make("old.txt", b"o", local_ts(2005, 3, 4, 10, 0))
        make("eve.txt", b"e", local_ts(this_year - 1, 12, 31, 23, 59))
        make("setup.exe", b"MZ", local_ts(this_year, 2, 1), mode=0o444)
        make("run.bat", b"@", local_ts(this_year, 2, 1))
        make("huge.bin", size=5_000_000_000, when=local_ts(this_year, 2, 1))
        make(".hidden", b"h", local_ts(this_year, 2, 1))
        os.mkdir(os.path.join(d, "sub"))
        make("sub/inner.txt", b"i")
        os.mkdir(os.path.join(d, "empty"))

    def listing(self, command):
        c = self.srv.raw()
        c.login()
        c.cmd("CWD " + self.data)
        d = c.pasv()
        self.assertEqual(c.cmd(command), "150 Opening data connection for directory list.")
        body = recv_all(d).decode("latin-1")
        d.close()
        self.assertEqual(c.reply(), "226 File sent ok")
        return body

    def lines_by_name(self, body):
        self.assertTrue(body.endswith("\r\n"))
        return {line.rsplit(" ", 1)[-1]: line for line in body[:-2].split("\r\n")}

    def test_list_line_formats(self):
        lines = self.lines_by_name(self.listing("LIST"))
        mid = "   1 ftp      ftp  "
        self.assertEqual(lines["a.txt"], "-rw-rw-rw-" + mid + "       1234 Jan 05 09:07 a.txt")
        self.assertEqual(lines["old.txt"], "-rw-rw-rw-" + mid + "          1 Mar 04  2005 old.txt")
        self.assertEqual(lines["eve.txt"], "-rw-rw-rw-" + mid + "          1 Dec 31  %d eve.txt" % (self.year - 1))
        self.assertTrue(lines["setup.exe"].startswith("-r-xr-xr-x" + mid), lines["setup.exe"])
        self.assertTrue(lines["run.bat"].startswith("-rwxrwxrwx" + mid), lines["run.bat"])
        self.assertIn(" 5000000000 Feb 01 00:00 huge.bin", lines["huge.bin"])
        # Folders carry the execute bits, so that mirror clients can enter their copies.
        self.assertTrue(lines["sub"].startswith("drwxrwxrwx" + mid))
        # Sorted by name, "." and ".." first.
        self.assertEqual(list(lines), [".", "..", "a.txt", "empty", "eve.txt", "huge.bin", "old.txt", "run.bat",
                                       "setup.exe", "sub"])
        # Hidden entries have no detailed line; options are dropped.
        self.assertNotIn(".hidden", lines)
        self.assertEqual(self.listing("LIST -la"), self.listing("LIST"))

    def test_mlsd_sends_facts(self):
        facts = {}
        for line in self.listing("MLSD")[:-2].split("\r\n"):
            self.assertRegex(line, r"^type=(file|dir|cdir|pdir);size=\d+;perm=\w+;create=\d{14};modify=\d{14}; ")
            fact_text, name = line.split("; ", 1)
            facts[name] = dict(f.split("=") for f in fact_text.split(";"))
        self.assertEqual(list(facts), list(self.lines_by_name(self.listing("LIST"))))
        self.assertEqual(facts["huge.bin"]["size"], "5000000000")
        self.assertEqual(facts["sub"]["type"], "dir")
        self.assertEqual(facts["."]["type"], "cdir")
        self.assertEqual(facts["setup.exe"]["perm"], "rw")
        # ftplib reads them as facts.
        ftp = self.srv.ftp()
        ftp.login("u", "p")
        entries = dict(ftp.mlsd(self.data + "/sub"))
        self.assertEqual(entries["inner.txt"]["type"], "file")
        self.assertEqual(entries["inner.txt"]["size"], "1")
        ftp.quit()

    def test_list_arguments(self):
        self.assertEqual(self.listing("LIST *.xyz"), "")
        # A folder lists its contents, with or without its separator; "." is the current one.
        for command in ["LIST sub", "LIST sub/", "MLSD sub", "LIST " + self.data + "/sub"]:
            self.assertIn("inner.txt", self.listing(command), command)
        self.assertEqual(self.listing("LIST ."), self.listing("LIST"))
        one = self.lines_by_name(self.listing("LIST a.txt"))
        self.assertEqual(list(one), ["a.txt"])
        self.assertEqual(list(self.lines_by_name(self.listing("LIST *.bat"))), ["run.bat"])
        self.assertEqual(sorted(self.lines_by_name(self.listing("LIST empty/"))), [".", ".."])
        self.assertIn("inner.txt", self.lines_by_name(self.listing("LIST " + self.data + "/sub/")))

    def test_nlst_names_include_hidden(self):
        # Never "." or "..", which a client would try to fetch as files.
        names = self.listing("NLST")[:-2].split("\r\n")
        self.assertEqual(names, [".hidden", "a.txt", "empty", "eve.txt", "huge.bin", "old.txt", "run.bat",
                                 "setup.exe", "sub"])
        # Names a client can use as given: with the argument's folder.
        for command, listing in [("NLST sub", "sub/inner.txt\r\n"), ("NLST sub/*", "sub/inner.txt\r\n"),
                                 ("NLST sub/", "sub/inner.txt\r\n"), ("NLST ./sub/*.txt", "./sub/inner.txt\r\n"),
                                 ("NLST *.bat", "run.bat\r\n"), ("NLST empty", "")]:
            self.assertEqual(self.listing(command), listing, command)

    def test_mlst_on_the_control_connection(self):
        c = self.srv.raw()
        c.login()
        c.cmd("CWD " + self.data)
        reply = c.cmd("MLST a.txt").split("\r\n")
        self.assertEqual(reply[0], "250-Listing a.txt")
        self.assertRegex(reply[1], r"^ type=file;size=1234;perm=fdrwa;create=\d{14};modify=\d{14}; a\.txt$")
        self.assertEqual(reply[2], "250 END")
        self.assertEqual(c.cmd("MLST nope.txt"), "550 'nope.txt': no such file or directory.")
        self.assertEqual(c.cmd("MLST D:x"), "501 No current dir for 'D:'")
        setup = c.cmd("MLST setup.exe").split("\r\n")[1]
        self.assertTrue(setup.startswith(" type=file;size=2;perm=rw;"), setup)

    def test_clients_list_the_folder(self):
        out = subprocess.run(["curl", "-sS", "--max-time", "20", "ftp://127.0.0.1:%d/%%2F%s/" %
                              (self.srv.port, self.data.strip("/"))], capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn(" huge.bin", out.stdout)
        out = subprocess.run(["lftp", "-u", "u,p", "-p", str(self.srv.port), "-e",
                              "set net:max-retries 1; cd %s; ls; quit" % self.data, "127.0.0.1"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn(" setup.exe", out.stdout)
        # lftp's own listing reads MLSD facts.
        out = subprocess.run(["lftp", "-u", "u,p", "-p", str(self.srv.port), "-e",
                              "set net:max-retries 1; cd %s; cls -1; quit" % self.data, "127.0.0.1"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.split(), ["a.txt", "empty/", "eve.txt", "huge.bin", "old.txt", "run.bat",
                                              "setup.exe", "sub/"])
        ftp = self.srv.ftp()
        ftp.login("u", "p")
        ftp.cwd(self.data)
        self.assertIn("sub", ftp.nlst())
        ftp.quit()


if __name__ == "__main__":
    unittest.main()
