"""Single instance of the console: a second nuboftp hands its command line to the
running copy in the same folder and exits. Only processes started here are stopped,
by their PID."""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from nubo import free_port  # noqa: E402

BINARY = os.environ.get("NUBOFTP", "nuboftp")


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def wait_for(cond, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.05)
    return False


class SingleInstanceTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="nuboftp-")
        self.port = free_port()
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.first = subprocess.Popen([BINARY, "--dir", self.dir, "--port", str(self.port)],
                                      env=self.env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.PIPE)
        self.assertTrue(wait_for(lambda: listening(self.port)), "the console never listened")

    def tearDown(self):
        if self.first.poll() is None:
            self.first.send_signal(signal.SIGTERM)
            try:
                self.first.wait(20)
            except subprocess.TimeoutExpired:
                self.first.kill()
                self.first.wait()
        self.first.stderr.close()
        subprocess.run(["rm", "-rf", self.dir], check=False)

    def second(self, *args):
        return subprocess.run([BINARY, "--dir", self.dir, *args], env=self.env,
                              capture_output=True, timeout=30)

    def test_second_start_hands_over_its_command_line(self):
        r = self.second("/stop")
        self.assertEqual(r.returncode, 0, r.stderr)
        # The hand-over waits until the first copy has run the command.
        self.assertFalse(listening(self.port))
        self.assertIsNone(self.first.poll())

        # Several switches do nothing; the first copy stays stopped.
        self.assertEqual(self.second("/start", "/close").returncode, 0)
        self.assertFalse(listening(self.port))

        self.assertEqual(self.second("/restart").returncode, 0)
        self.assertTrue(listening(self.port))

        # Without parameters only the window is asked for; one copy stays.
        self.assertEqual(self.second().returncode, 0)
        self.assertTrue(listening(self.port))
        self.assertIsNone(self.first.poll())

    def test_quit_drops_clients_then_logs_stop_and_shutdown(self):
        path = os.path.join(self.dir, "ftp_config.ini")
        with open(path, "rb") as f:
            config = f.read()
        self.assertIn(b"Log=0", config)
        with open(path, "wb") as f:
            f.write(config.replace(b"Log=0", b"Log=1"))
        self.assertEqual(self.second("/restart").returncode, 0)  # reloads the settings
        client = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        client.sendall(b"USER anonymous\r\nPASS x\r\n")
        reply = b""
        while b"230 " not in reply:
            chunk = client.recv(4096)
            self.assertTrue(chunk, reply)
            reply += chunk

        self.first.send_signal(signal.SIGTERM)  # quits as the menu's quit does
        self.assertEqual(self.first.wait(20), 0)
        client.close()
        logs = os.listdir(os.path.join(self.dir, "log"))
        self.assertEqual(len(logs), 1, logs)
        with open(os.path.join(self.dir, "log", logs[0]), encoding="utf-8") as f:
            lines = f.read().splitlines()
        # One disconnection, the stop line, the shutdown line, in that order.
        self.assertIn("Disconnected", lines[-3])
        self.assertTrue(lines[-2].endswith("] - 서버가 중지되었습니다."), lines[-2])
        self.assertTrue(lines[-1].endswith("] - 서버가 중지되었습니다."), lines[-1])

if __name__ == "__main__":
    unittest.main()
