"""Names on the wire against the real nuboftpd: UTF-8 both ways; a name that is not
UTF-8 is read as CP949 (an older Korean client), and a name that is neither stays the
bytes it is, on disk and on the wire.

Raw sockets send and read the exact bytes; ftplib with UTF-8 plays today's client.
"""
import hashlib
import os
import unittest

from nubo import class_server, recv_all, scratch_dir

NOTE = "Names that are not UTF-8 are read as CP949."
# Neither UTF-8 nor CP949: a lone 0x80, the user-defined pair C9 A1 and 0xFF begin
# nothing in either. 0xFF is the Telnet escape: a command line doubles it.
ODD = b"raw-\x80\xc9\xa1.bin"
ODD_DIR = b"dir-\xff"


def utf8(text):
    return text.encode("utf-8")


def shown(data):
    """Bytes as RawClient returns reply text."""
    return data.decode("latin-1")


class Names(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = class_server(cls)

    def setUp(self):
        self.dir = scratch_dir(self, "nubo-e2e-names-")

    def raw(self):
        c = self.srv.raw()
        c.login()
        self.assertTrue(c.cmd("CWD " + self.dir).startswith("250 "))
        return c

    def cmd(self, c, keyword, name):
        """keyword plus a name of raw bytes; the reply as RawClient shows it."""
        c.send(keyword.encode("ascii") + b" " + name.replace(b"\xff", b"\xff\xff") + b"\r\n")
        return c.reply()

    def store(self, c, name, data):
        d = c.pasv()
        self.assertEqual(self.cmd(c, "STOR", name)[:4], "150 ")
        d.sendall(data)
        d.close()
        self.assertEqual(c.reply()[:4], "226 ")

    def fetch(self, c, keyword, name=None):
        """The data a transfer or listing command sends, and its final reply."""
        d = c.pasv()
        first = self.cmd(c, keyword, name) if name is not None else c.cmd(keyword)
        self.assertEqual(first[:4], "150 ", first)
        body = recv_all(d)
        d.close()
        return body, c.reply()

    def on_disk(self, folder=None):
        return sorted(os.listdir(os.fsencode(folder or self.dir)))

    @staticmethod
    def names(entries):
        return sorted(e for e in entries if e not in (b".", b".."))

    def notes(self):
        return self.srv.output().count(NOTE)

    def utf8_client(self):
        f = self.srv.ftp()
        f.encoding = "utf-8"
        f.login("anonymous", "x")
        f.cwd(self.dir)
        return f

    def test_cp949_names_are_stored_as_utf8(self):
        before = self.notes()
        c = self.raw()
        # STOR, MKD and RNTO of one session, each with a Korean name in CP949.
        self.store(c, "한글.txt".encode("cp949"), b"hangul")
        reply = self.cmd(c, "MKD", "새 폴더".encode("cp949"))
        self.assertEqual(reply, shown(utf8('257 "%s/새 폴더": directory created.' % self.dir)))
        with open(os.path.join(self.dir, "a.txt"), "wb") as f:
            f.write(b"renamed")
        self.assertEqual(c.cmd("RNFR a.txt")[:4], "350 ")
        self.assertEqual(self.cmd(c, "RNTO", "똠방각하.txt".encode("cp949"))[:4], "250 ")
        # The folder by its CP949 name is the folder of its UTF-8 name.
        self.assertEqual(self.cmd(c, "CWD", "새 폴더".encode("cp949"))[:4], "250 ")
        self.assertEqual(c.cmd("PWD"), shown(utf8('257 "%s/새 폴더/" is current directory.' % self.dir)))

        self.assertEqual(self.on_disk(), sorted(utf8(n) for n in ("한글.txt", "새 폴더", "똠방각하.txt")))
        self.assertTrue(self.srv.wait_output(NOTE))
        self.assertEqual(self.notes(), before + 1)  # once for the session

        f = self.utf8_client()
        self.assertEqual(sorted(f.nlst()), sorted(["한글.txt", "새 폴더", "똠방각하.txt"]))
        self.assertEqual(sorted(n for n, facts in f.mlsd() if facts["type"] in ("file", "dir")),
                         sorted(["한글.txt", "새 폴더", "똠방각하.txt"]))
        for name, data in (("한글.txt", b"hangul"), ("똠방각하.txt", b"renamed")):
            got = []
            f.retrbinary("RETR " + name, got.append)
            self.assertEqual(b"".join(got), data)
        self.assertEqual(self.notes(), before + 1)  # a UTF-8 client is never noted

    def test_valid_utf8_names_pass_unchanged(self):
        before = self.notes()
        c = self.raw()
        names = [b"plain name.txt", utf8("한글 파일.txt"), utf8("😀 smile.png"), utf8("café ß.txt")]
        for name in names:
            with self.subTest(name=name):
                self.store(c, name, name)
                body, reply = self.fetch(c, "RETR", name)
                self.assertEqual((body, reply[:4]), (name, "226 "))
                self.assertIn(shown(name), self.cmd(c, "DELE", name))
                self.store(c, name, name)
        self.assertEqual(self.on_disk(), sorted(names))
        body, _ = self.fetch(c, "NLST")
        self.assertEqual(sorted(body.split(b"\r\n")[:-1]), sorted(names))
        self.assertEqual(self.notes(), before)

    def test_names_on_disk_that_are_neither_stay_their_bytes(self):
        for text in (ODD, ODD_DIR):
            for codec in ("utf-8", "cp949"):
                with self.assertRaises(UnicodeDecodeError):
                    text.decode(codec)
        before = self.notes()
        native = os.fsencode(self.dir)
        with open(os.path.join(native, ODD), "wb") as f:
            f.write(b"odd bytes")
        os.mkdir(os.path.join(native, ODD_DIR))
        with open(os.path.join(native, ODD_DIR, ODD), "wb") as f:
            f.write(b"inner")
        c = self.raw()

        body, reply = self.fetch(c, "LIST")
        self.assertEqual(reply, "226 File sent ok")
        self.assertEqual(self.names(line.rsplit(b" ", 1)[-1] for line in body.split(b"\r\n")[:-1]), [ODD_DIR, ODD])
        body, _ = self.fetch(c, "NLST")
        self.assertEqual(sorted(body.split(b"\r\n")[:-1]), [ODD_DIR, ODD])
        body, _ = self.fetch(c, "MLSD")
        self.assertIn(b"type=file;size=9;", body)
        self.assertEqual(self.names(line.split(b"; ", 1)[1] for line in body.split(b"\r\n")[:-1]), [ODD_DIR, ODD])
        body, _ = self.fetch(c, "NLST", ODD_DIR)
        self.assertEqual(body, ODD_DIR + b"/" + ODD + b"\r\n")

        # The same bytes name the file and the folder, and the replies echo them.
        body, reply = self.fetch(c, "RETR", ODD)
        self.assertEqual((body, reply), (b"odd bytes", "226 File sent ok"))
        self.assertEqual(self.cmd(c, "SIZE", ODD), "213 9")
        self.assertIn(shown(ODD), self.cmd(c, "MLST", ODD))
        self.assertEqual(self.cmd(c, "MD5", ODD), shown(b'251 "' + ODD + b'" ' + hashlib.md5(b"odd bytes").hexdigest()
                                                        .upper().encode()))
        self.assertEqual(self.cmd(c, "MD5", ODD + b".missing"), shown(b"550 '" + ODD + b".missing': no such file."))
        self.assertEqual(self.cmd(c, "CWD", ODD_DIR)[:4], "250 ")
        self.assertEqual(c.cmd("PWD"), shown(b'257 "' + native + b"/" + ODD_DIR + b'/" is current directory.'))
        body, reply = self.fetch(c, "RETR", ODD)
        self.assertEqual((body, reply), (b"inner", "226 File sent ok"))
        self.assertEqual(self.cmd(c, "DELE", ODD), shown(b"250 File '" + native + b"/" + ODD_DIR + b"/" + ODD +
                                                         b"' deleted."))
        self.assertEqual(self.on_disk(), [ODD_DIR, ODD])
        self.assertEqual(self.notes(), before)
        # The server lives on and still answers.
        self.assertEqual(c.cmd("NOOP"), "200 Ok. Parameter was ''.")


if __name__ == "__main__":
    unittest.main()
