"""Start-up of nuboftpd in its folder: first-start files, settings, log lines."""
import datetime
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from nubo import BINARY, NuboServer, free_port, recv_all

CONFIG = ("[Setup]\r\nPort=21\r\nMaxUser=0\r\nLowPASV=2020\r\nHighPASV=2040\r\n"
          "TrayIcon=0\r\nLog=0\r\nEncryption=1\r\n"
          "EnterMessage=Nubo FTP 서버에 접속을 환영합니다. !\r\n"
          "ExitMessage=Nubo FTP 서버를 종료합니다.\r\n").encode("utf-8")

USERS = ("[anonymous]\r\nUserDisable=0\r\nVirtualDir=1\r\npassword=\r\n"
         "User_Memo=암호없이 접속가능한 익명연결\r\nMaxUser=0\r\nMaxUserIP=0\r\n"
         "MaxSpeed=0\r\nTime-Out=0\r\n"
         "EnterMessage=누보 FTP 서버에 오신것을 환영합니다 !\r\n"
         "ExitMessage=Goodbye !\r\nHomePath={dir}down\r\nTotalDownload=0\r\n"
         "TotalUpload=0\r\nDir0={dir}down|DU_EMRY_S_|\r\n")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ConfigPortServer(NuboServer):
    """nuboftpd without --port: it listens on the settings file's port, if at all."""

    def start(self):
        self.log_path = os.path.join(self.dir, "stdout.txt")
        self.log = open(self.log_path, "ab")
        self.proc = subprocess.Popen([BINARY, "--dir", self.dir], stdout=self.log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def wait_output(self, text, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline and self.proc.poll() is None:
            if text in self.output():
                return True
            time.sleep(0.05)
        return text in self.output()


class StartUpTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="nubo-e2e-store-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.folder = self.dir + "/"

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_server(self, settings):
        p = ConfigPortServer(workdir=self.dir, settings=settings)
        p.start()
        self.addCleanup(p.stop)
        return p

    def test_first_start_creates_the_files_and_a_second_leaves_them(self):
        with NuboServer(workdir=self.dir):
            pass
        self.assertTrue(os.path.isdir(self.path("log")))
        self.assertTrue(os.path.isdir(self.path("down")))
        self.assertEqual(read(self.path("ftp_config.ini")), CONFIG)
        self.assertEqual(read(self.path("ftp_users.ini")),
                         USERS.format(dir=self.folder).encode("utf-8"))

        edited = CONFIG.replace(b"MaxUser=0", b"MaxUser=9")
        users_before = os.stat(self.path("ftp_users.ini"))
        with NuboServer(workdir=self.dir, settings=edited.decode("utf-8")):
            pass
        self.assertEqual(read(self.path("ftp_config.ini")), edited)
        self.assertEqual(os.stat(self.path("ftp_users.ini")).st_mtime_ns,
                         users_before.st_mtime_ns)

    def test_listens_on_the_configured_port_and_logs_start_and_stop(self):
        port = free_port()
        p = self.run_server("[Setup]\r\nPort=%d\r\nLog=1\r\n" % port)
        self.assertTrue(p.wait_output("FTP Port: %d" % port), p.output())
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            self.assertTrue(s.recv(100).startswith(b"220"))
        p.stop()

        out = p.output()
        self.assertRegex(out, r"system: \[\d\d:\d\d:\d\d\] - 서버가 시작되었습니다\.\n"
                              r"system: \[\d\d:\d\d:\d\d\] - FTP Port: %d\n" % port)
        self.assertRegex(out, r"system: \[\d\d:\d\d:\d\d\] - 서버가 중지되었습니다\.\n")
        day = datetime.date.today().strftime("%Y-%m-%d")
        logs = os.listdir(self.path("log"))
        self.assertIn("log-%s.log" % day, logs)
        text = "".join(read(os.path.join(self.path("log"), name)).decode("utf-8")
                       for name in sorted(logs))
        self.assertRegex(text, r"^\[\d\d:\d\d:\d\d\] - 서버가 시작되었습니다\.\r\n"
                               r"\[\d\d:\d\d:\d\d\] - FTP Port: %d\r\n" % port)
        self.assertRegex(text, r"\[\d\d:\d\d:\d\d\] - 서버가 중지되었습니다\.\r\n")
        self.assertNotIn("#", text)

    def test_passive_ports_come_from_the_settings(self):
        low = free_port()
        with NuboServer(workdir=self.dir,
                        settings="[Setup]\r\nLowPASV=%d\r\nHighPASV=%d\r\n" % (low, low + 1)) as srv:
            c = srv.raw()
            c.login()
            reply = c.cmd("PASV")
            self.assertTrue(reply.startswith("227 "), reply)
            h = [int(x) for x in re.search(r"\(([\d,]+)\)", reply).group(1).split(",")]
            self.assertEqual(h[4] * 256 + h[5], low)
            # The port is given back once its connection is accepted, not at the end of
            # the transfer: a second client gets it while the first one's is still open.
            d = socket.create_connection(("127.0.0.1", low), timeout=5)
            other = srv.raw()
            other.login()
            deadline = time.time() + 5
            while True:
                reply = other.cmd("PASV")
                if reply.startswith("227 ") or time.time() > deadline:
                    break
                time.sleep(0.05)
            self.assertTrue(reply.endswith(",%d,%d)." % (low // 256, low % 256)), reply)
            with open(os.path.join(self.dir, "down", "hello.txt"), "wb"):
                pass
            self.assertEqual(c.cmd("NLST"), "150 Opening data connection for directory list.")
            self.assertEqual(recv_all(d), b"hello.txt\r\n")
            d.close()
            self.assertEqual(c.reply(), "226 File sent ok")

    def test_a_pool_port_held_elsewhere_is_skipped(self):
        # Two neighbouring ports, the lower one held by a listener of another program.
        while True:
            holder = socket.socket()
            holder.bind(("0.0.0.0", 0))
            low = holder.getsockname()[1]
            try:
                with socket.socket() as probe:
                    probe.bind(("0.0.0.0", low + 1))
                break
            except OSError:
                holder.close()
        with holder:
            holder.listen(1)
            with NuboServer(workdir=self.dir,
                            settings="[Setup]\r\nLowPASV=%d\r\nHighPASV=%d\r\n" % (low, low + 2)) as srv:
                c = srv.raw()
                c.login()
                for _ in range(2):  # the held port is not kept from later PASVs either
                    reply = c.cmd("PASV")
                    self.assertTrue(reply.endswith(",%d,%d)." % ((low + 1) // 256, (low + 1) % 256)), reply)

    def test_high_pasv_below_low_fails_the_start_and_the_program_runs_on(self):
        port = free_port()
        p = self.run_server("[Setup]\r\nPort=%d\r\nLowPASV=3000\r\nHighPASV=2999\r\n" % port)
        self.assertTrue(p.wait_output("Invalid PasvPortRangeSize -1.\n"), p.output())
        time.sleep(0.3)
        self.assertIsNone(p.proc.poll(), "the program ended")
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
        self.assertNotIn("서버가 시작되었습니다", p.output())

    def test_a_port_in_use_logs_the_two_lines(self):
        with socket.socket() as holder:
            holder.bind(("0.0.0.0", 0))
            holder.listen(1)
            port = holder.getsockname()[1]
            p = self.run_server("[Setup]\r\nPort=%d\r\n" % port)
            self.assertTrue(p.wait_output("Server not started."), p.output())
            self.assertRegex(p.output(), r"system: \[[\d:]+\] - 이미 사용중인 포트입니다\. "
                                         r"다른 포트로 설정해주세요\.\n"
                                         r"system: \[[\d:]+\] - Server not started\.\n")


if __name__ == "__main__":
    unittest.main()
