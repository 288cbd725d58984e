"""The client matrix: lftp, wget, rclone, ncftp and ftplib as their users run them,
copying a whole tree to and from the real server. Every copy is checked path by path
and by SHA-256 against the tree the test made, so a lost empty file, a stripped blank
or a short file shows as the path it happened to."""
import hashlib
import os
import posixpath
import random
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

from nubo import NuboServer, account_text

USER, PASSWORD = "user", "pw"
# No client may take longer: a hanging client fails its test instead of holding CI.
CLIENT_TIMEOUT = 120

# Folders that stay empty.
EMPTY_DIRS = ["empty", "empty dir", " lead dir/inner empty", "nested/a/b/empty", "한글 폴더/빈 폴더"]
# Files and their size; None is a short text naming its own path, so a file delivered
# under another name never matches.
FILES = {
    "plain.txt": None,
    "  lead.txt": None,
    "inner  two  spaces.txt": None,
    "trail .txt": None,
    "한글 파일.txt": None,
    "a&b (1) [x] #!.txt": None,
    "semi;colon.txt": None,
    "percent%20.txt": None,
    "quote'.txt": None,
    "plus+eq=comma,tilde~.txt": None,
    "at@dollar$.txt": None,
    "Mixed Case.TXT": None,
    "zero": 0,
    "zero.txt": 0,
    "  lead zero": 0,
    "one.bin": 1,
    "random-1m.bin": 1 << 20,
    "random-odd.bin": 65537,
    " lead dir/  lead.txt": None,
    " lead dir/zero": 0,
    " lead dir/random-4k.bin": 4097,
    "nested/a/file.txt": None,
    "nested/a/b/c/deep.txt": None,
    "nested/a/b/c/zero.bin": 0,
    "nested/a/b/c/random-300k.bin": 300000,
    "한글 폴더/한글 파일.txt": None,
    "한글 폴더/빈 파일": 0,
    "sp ace/in ner/file with  spaces.txt": None,
    "punct/a&b (1) [x] #!.txt": None,
    "punct/semi;colon.txt": None,
    "punct/percent%20.txt": None,
    "punct/quote'.txt": None,
    "punct/trail .txt": None,
    "punct/zero'.txt": 0,
}


def make_tree(top):
    rng = random.Random(20240611)
    for d in EMPTY_DIRS:
        os.makedirs(os.path.join(top, d))
    for rel, size in FILES.items():
        path = os.path.join(top, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = (rel + "\n").encode() * 3 if size is None else rng.randbytes(size)
        with open(path, "wb") as f:
            f.write(data)


def snapshot(top, dirs=True):
    """{relative path: ("dir",) or ("file", size, SHA-256)} of everything under top."""
    out = {}
    for here, subdirs, files in os.walk(top):
        rel = os.path.relpath(here, top)
        for name in subdirs if dirs else ():
            out[os.path.normpath(os.path.join(rel, name))] = ("dir",)
        for name in files:
            path = os.path.join(here, name)
            with open(path, "rb") as f:
                sha = hashlib.sha256(f.read()).hexdigest()
            out[os.path.normpath(os.path.join(rel, name))] = ("file", os.path.getsize(path), sha)
    return out


def describe(entry):
    return "folder" if entry[0] == "dir" else "%d-byte file %s..." % (entry[1], entry[2][:12])


def diff_lines(want, got, show):
    """What got lacks, adds and holds otherwise than want, one line per kind, names
    quoted so that blanks show."""
    missing = [repr(p) for p in sorted(set(want) - set(got))]
    extra = [repr(p) for p in sorted(set(got) - set(want))]
    different = ["%r (%s, got %s)" % (p, show(want[p]), show(got[p]))
                 for p in sorted(set(want) & set(got)) if want[p] != got[p]]
    return ["%s (%d): %s" % (label, len(paths), ", ".join(paths))
            for label, paths in (("missing", missing), ("extra", extra), ("different", different)) if paths]


def tree_diff(src, dst, dirs=True, rename=lambda rel: rel):
    """The differences of the copy dst from src; rename maps a source path to the name
    the client is known to store it under."""
    if not os.path.isdir(dst):
        return ["%r was not created" % dst]
    want = {rename(rel): entry for rel, entry in snapshot(src, dirs).items()}
    return diff_lines(want, snapshot(dst, dirs), describe)


def remove_tree(top):
    # A client may have copied folder modes without the search bit; give it back first.
    for here, subdirs, _ in os.walk(top):
        for name in subdirs:
            p = os.path.join(here, name)
            if not os.path.islink(p):
                os.chmod(p, stat.S_IRWXU)
    shutil.rmtree(top, ignore_errors=True)


def has(binary):
    return shutil.which(binary) is not None


class Clients(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="nubo-clients-")
        # ncftpput -R copies the folder itself, so the source folder's name is seen too.
        cls.src = os.path.join(cls.tmp, "tree")
        make_tree(cls.src)
        # The account's home: the client sees it as "/". The seed folder is the server's
        # copy of the source, put there without FTP, for the downloads.
        cls.root = os.path.join(cls.tmp, "root")
        shutil.copytree(cls.src, os.path.join(cls.root, "seed"))
        # wget's listing parser drops the blanks that lead a name and then asks for a
        # file that is not there, so its seed has no such names.
        cls.wget_seed = os.path.join(cls.root, "seed-wget")
        shutil.copytree(cls.src, cls.wget_seed, ignore=lambda _, names: [n for n in names if n.startswith(" ")])
        home = os.path.join(cls.tmp, "home")
        os.mkdir(home)
        # Clients keep their settings and history in HOME; proxies would take the
        # traffic off loopback.
        cls.env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
        cls.env.update(HOME=home, LC_ALL="C.UTF-8")
        # The passive range a new installation writes: parallel transfers must not run out
        # of it. No other test server uses these ports.
        cls.srv = NuboServer(settings="[Setup]\r\nLowPASV=2020\r\nHighPASV=2040\r\n",
                             users=account_text(USER, PASSWORD, cls.root)).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.srv.__exit__(None, None, None)
        remove_tree(cls.tmp)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix=self._testMethodName + "-", dir=self.tmp)

    def server_folder(self, name):
        """An empty folder in the server's home, for an upload: its client path and its
        native path."""
        path = os.path.join(self.root, name)
        os.mkdir(path)
        return "/" + name, path

    def run_client(self, argv, env=None, timeout=CLIENT_TIMEOUT):
        try:
            return subprocess.run(argv, capture_output=True, text=True, errors="replace", timeout=timeout,
                                  env=env or self.env, stdin=subprocess.DEVNULL, cwd=self.work)
        except subprocess.TimeoutExpired as e:
            out = "".join(x.decode("utf-8", "replace") if isinstance(x, bytes) else x
                          for x in (e.stdout or "", e.stderr or ""))
            raise self.failureException("%s did not finish within %d s; it printed:\n%s"
                                        % (argv[0], timeout, out[-3000:])) from None

    def assert_copy(self, what, result, src, dst, **how):
        problems = tree_diff(src, dst, **how)
        if result.returncode != 0:
            problems.insert(0, "exit code %d" % result.returncode)
        if problems:
            out = (result.stdout + result.stderr).strip().splitlines() or ["(none)"]
            self.fail("%s: the copy differs from the source\n  %s\nlast client output:\n%s"
                      % (what, "\n  ".join(problems), "\n".join(out[-20:])))

    # --- lftp ---

    def lftp(self, commands):
        script = ("set net:max-retries 1; set net:timeout 10; set ftp:passive-mode true; "
                  "set cmd:fail-exit true; open -u %s,%s -p %d 127.0.0.1; %s"
                  % (USER, PASSWORD, self.srv.port, commands))
        return self.run_client(["lftp", "-c", script])

    def lftp_both_ways(self, options):
        remote, native = self.server_folder("lftp" + options.replace("=", "").replace("-", "_"))
        with self.subTest("mirror -R " + options):
            out = self.lftp('mirror -R %s "%s" "%s"' % (options, self.src, remote))
            self.assert_copy("lftp mirror -R " + options, out, self.src, native)
        with self.subTest("mirror " + options):
            local = os.path.join(self.work, "down")
            out = self.lftp('mirror %s /seed "%s"' % (options, local))
            self.assert_copy("lftp mirror " + options, out, self.src, local)

    @unittest.skipUnless(has("lftp"), "lftp is not installed")
    def test_lftp_mirror(self):
        self.lftp_both_ways("")

    @unittest.skipUnless(has("lftp"), "lftp is not installed")
    def test_lftp_mirror_parallel(self):
        self.lftp_both_ways("--parallel=4")

    # --- wget ---

    @unittest.skipUnless(has("wget"), "wget is not installed")
    def test_wget_mirror(self):
        local = os.path.join(self.work, "down")
        out = self.run_client(["wget", "-m", "--no-host-directories", "--cut-dirs=1", "-nv", "--tries=1",
                               "--timeout=10", "--remove-listing", "-P", local,
                               "ftp://%s:%s@127.0.0.1:%d/seed-wget/" % (USER, PASSWORD, self.srv.port)])
        # wget makes a folder only for a file it stores, so empty folders cannot come
        # across: files only. It asks for "percent%20.txt" rightly but stores it as
        # "percent .txt", decoding the name once more on its own side.
        self.assert_copy("wget -m", out, self.wget_seed, local, dirs=False,
                         rename=lambda rel: rel.replace("%20", " "))

    @unittest.skipUnless(has("wget"), "wget is not installed")
    def test_wget_missing_file_fails_at_once(self):
        # Default tries: a failure the client takes as passing goes round its retry loop
        # for minutes, a clear "no such file" ends it.
        start = time.monotonic()
        out = self.run_client(["wget", "-nv", "--timeout=10", "-P", self.work,
                               "ftp://%s:%s@127.0.0.1:%d/seed/missing.bin" % (USER, PASSWORD, self.srv.port)],
                              timeout=20)
        elapsed = time.monotonic() - start
        self.assertNotEqual(out.returncode, 0, out.stderr)
        self.assertLess(elapsed, 5, "wget took %.1f s to give up:\n%s" % (elapsed, out.stderr[-2000:]))

    # --- rclone ---

    @unittest.skipUnless(has("rclone"), "rclone is not installed")
    def test_rclone_copy(self):
        obscured = subprocess.run(["rclone", "obscure", PASSWORD], capture_output=True, text=True,
                                  timeout=30, check=True).stdout.strip()
        env = dict(self.env, RCLONE_CONFIG_NUBO_TYPE="ftp", RCLONE_CONFIG_NUBO_HOST="127.0.0.1",
                   RCLONE_CONFIG_NUBO_PORT=str(self.srv.port), RCLONE_CONFIG_NUBO_USER=USER,
                   RCLONE_CONFIG_NUBO_PASS=obscured)
        config = os.path.join(self.work, "rclone.conf")
        open(config, "w").close()
        common = ["rclone", "copy", "--config", config, "--low-level-retries", "1", "--retries", "1",
                  "--transfers", "4", "--create-empty-src-dirs", "--contimeout", "10s", "--timeout", "30s"]
        remote, native = self.server_folder("rclone")
        with self.subTest("upload"):
            out = self.run_client(common + [self.src, "nubo:" + remote], env=env)
            self.assert_copy("rclone copy (upload)", out, self.src, native)
        with self.subTest("download"):
            local = os.path.join(self.work, "down")
            out = self.run_client(common + ["nubo:/seed", local], env=env)
            self.assert_copy("rclone copy (download)", out, self.src, local)

    # --- ncftp ---

    @unittest.skipUnless(has("ncftpput") and has("ncftpget"), "ncftp is not installed")
    def test_ncftp_recursive(self):
        # ncftpget exits 0 even when it fetched nothing: the tree comparison catches that.
        login = ["-u", USER, "-p", PASSWORD, "-P", str(self.srv.port), "-t", "10", "-V"]
        remote, native = self.server_folder("ncftp")
        with self.subTest("ncftpput -R"):
            out = self.run_client(["ncftpput", "-R"] + login + ["127.0.0.1", remote, self.src])
            self.assert_copy("ncftpput -R", out, self.src, os.path.join(native, "tree"))
        with self.subTest("ncftpget -R"):
            local = os.path.join(self.work, "down")
            os.mkdir(local)
            out = self.run_client(["ncftpget", "-R"] + login + ["127.0.0.1", local, "/seed"])
            self.assert_copy("ncftpget -R", out, self.src, os.path.join(local, "seed"))

    # --- ftplib ---

    def test_ftplib_mlsd_facts_and_mkd_path(self):
        ftp = self.srv.ftp()
        ftp.login(USER, PASSWORD)
        for folder in ("seed", "seed/ lead dir"):
            with self.subTest(folder=folder):
                native = os.path.join(self.root, folder)
                want = {}
                for name in os.listdir(native):
                    p = os.path.join(native, name)
                    want[name] = ("dir", None) if os.path.isdir(p) else ("file", str(os.path.getsize(p)))
                got = {}
                for name, facts in ftp.mlsd("/" + folder):
                    if facts.get("type") in ("cdir", "pdir"):
                        continue
                    got[name] = (facts.get("type"), facts.get("size") if facts.get("type") == "file" else None)
                problems = diff_lines(want, got, lambda e: "type=%s size=%s" % e)
                if problems:
                    self.fail("MLSD /%s, entries as ftplib parsed them:\n  %s" % (folder, "\n  ".join(problems)))
        _, native = self.server_folder("mkd")
        ftp.cwd("/mkd")
        path = ftp.mkd("newdir")
        self.assertEqual(posixpath.basename(path.rstrip("/")), "newdir",
                         "FTP.mkd returned %r: the 257 reply must carry the new path in double quotes" % path)
        self.assertTrue(os.path.isdir(os.path.join(native, "newdir")))
        ftp.quit()


if __name__ == "__main__":
    unittest.main()
