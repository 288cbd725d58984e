"""A password guesser against the failed-login defence, with the default delay and ban.

    NUBOFTPD=build/app/nuboftpd python3 bench/guessing.py [guesses] [connections]

Sends 200 wrong passwords (default) from 127.0.0.1 over up to 8 parallel connections
(default) to a nuboftpd started here with the default settings and BanLoopback=1. A
connection that is closed is replaced by a new one while guesses are left. Prints how many
guesses the server checked (its "Authentification Fail" lines), how many got a "530"
without a check (their connection was open when the ban began), how many were refused at
connect ("421"), when the ban began and how long it all took. Loopback only; bounded by the
number of guesses and a 120 s deadline.
"""
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from nubo import NuboServer, RawClient, account_text  # noqa: E402

SETTINGS = "[Setup]\r\nLowPASV=0\r\nHighPASV=0\r\nBanLoopback=1\r\n"
DEADLINE = 120


def main():
    guesses = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    connections = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    lock = threading.Lock()
    state = {"left": guesses, "answered": 0, "refused": 0, "first_refusal": None}

    def take():
        with lock:
            if state["left"] <= 0:
                return False
            state["left"] -= 1
            return True

    def count(key):
        with lock:
            state[key] += 1
            if key == "refused" and state["first_refusal"] is None:
                state["first_refusal"] = time.monotonic() - start

    def guesser(port, n):
        client = None
        k = 0
        while time.monotonic() - start < DEADLINE and take():
            k += 1
            try:
                if client is None:
                    client = RawClient(port, timeout=10)
                    if not client.reply().startswith("220"):
                        count("refused")
                        client.close()
                        client = None
                        continue
                client.cmd("USER victim")
                reply = client.cmd("PASS guess-%d-%d" % (n, k))
                count("answered" if reply.startswith("530") else "refused")
            except (OSError, EOFError):
                count("refused")
                if client:
                    client.close()
                client = None
        if client:
            client.close()

    with NuboServer(settings=SETTINGS, users=account_text("victim", "the-real-one")) as srv:
        start = time.monotonic()
        threads = [threading.Thread(target=guesser, args=(srv.port, i)) for i in range(connections)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        took = time.monotonic() - start
        time.sleep(0.2)  # the last log lines
        out = srv.output()
    checked = out.count("Authentification Fail")
    bans = out.count("동안 차단합니다")
    first = state["first_refusal"]
    print("guessing: %d guesses from 127.0.0.1 over %d connections: %d checked by the server, "
          "%d answered 530 unchecked after the ban, %d refused at connect; %d ban line(s); "
          "first refusal after %s; all done in %.2f s"
          % (guesses, connections, checked, state["answered"] - checked, state["refused"], bans,
             "%.2f s" % first if first is not None else "never", took))


if __name__ == "__main__":
    main()
