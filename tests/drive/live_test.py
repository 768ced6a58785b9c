#!/usr/bin/env python3
"""ostrel-gdrive on live paths, end to end: the real tool and libcurl against
the Drive emulator on 127.0.0.1 (a free port), started and always stopped
here. Usage: live_test.py TOOL"""

import hashlib
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "emulator.py")
EXAMPLE_TREE = os.path.join(HERE, "..", "..", "examples", "my-drive-tree.json")
TOOL = None
TOKEN = "ya29.never-printed-7Qx"
MIB = 1024 * 1024

EXTRA = {"tokens": [TOKEN], "files": [
    {"id": "1XBadSum", "name": "bad sum.bin", "mimeType": "application/octet-stream", "parents": ["0AMyDriveRoot"],
     "size": 5000, "md5Checksum": "00000000000000000000000000000000"},
    {"id": "1XText", "name": "memo", "mimeType": "application/vnd.google-apps.document",
     "parents": ["0AMyDriveRoot"], "export_content": "memo text\n"},
    {"id": "1XHugeDoc", "name": "huge", "mimeType": "application/vnd.google-apps.document",
     "parents": ["0AMyDriveRoot"], "export_size": 11 * MIB},
    {"id": "1XRange", "name": "range.bin", "mimeType": "application/octet-stream", "parents": ["0AMyDriveRoot"],
     "size": 300000},
]}


class Live(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        tree = os.path.join(cls.dir.name, "tree.json")
        with open(EXAMPLE_TREE) as f, open(tree, "w") as out:
            out.write(f.read() + "\n" + json.dumps(EXTRA) + "\n")
        cls.emulator = subprocess.Popen(
            [sys.executable, EMULATOR, "--tree", tree, "--big-folder", "Many=2500", "--big-folder", "Huge=10000",
             "--big-folder", "Vast=100000", "--max-seconds", "290"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = cls.emulator.stdout.readline()
        cls.emulator.stdout.close()
        if not line.startswith("PORT "):
            cls.emulator.kill()
            raise RuntimeError("the emulator did not start: %r" % line)
        cls.port = int(line.split()[1])
        cls.url = "http://127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        cls.emulator.stdin.close()
        try:
            cls.emulator.wait(timeout=10)
        except subprocess.TimeoutExpired:
            cls.emulator.kill()
            cls.emulator.wait()
        cls.dir.cleanup()

    def setUp(self):
        self.control("DELETE", "/emulator/faults")
        self.control("PUT", "/emulator/tokens", {"tokens": [TOKEN]})
        self.control("DELETE", "/emulator/log")

    def control(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            connection.request(method, path, body=json.dumps(body) if body is not None else None)
            answer = connection.getresponse()
            return answer.read()
        finally:
            connection.close()

    def log(self):
        return [json.loads(line) for line in self.control("GET", "/emulator/log").decode().splitlines()]

    def faults(self, *rules):
        self.control("POST", "/emulator/faults", list(rules))

    def run_tool(self, *args, env=None, token=TOKEN, cwd=None):
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "OSTREL_GDRIVE_API_URL": self.url}
        if token:
            environment["OSTREL_GDRIVE_TOKEN"] = token
        environment.update(env or {})
        done = subprocess.run([TOOL, *args], env=environment, capture_output=True, timeout=90,
                              cwd=cwd or self.dir.name)
        return done.returncode, done.stdout, done.stderr.decode(errors="replace")

    def content(self, file_id):
        return self.control("GET", "/emulator/files/%s/content" % file_id)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    # -- listings and paths

    def test_ls_follows_every_page_once(self):
        status, out, err = self.run_tool("ls", "drive:/Many")
        self.assertEqual((status, err), (0, ""))
        names = out.decode().splitlines()
        self.assertEqual(len(names), 2500)
        self.assertEqual(len(set(names)), 2500)
        pages = [e for e in self.log() if e["path"] == "/drive/v3/files" and "1BigMany" in e["query"].get("q", "")]
        self.assertEqual([("pageToken" in e["query"]) for e in pages], [False, True, True])

    def test_every_example_file_resolves_from_its_live_name(self):
        # An id outside the ID set (no Drive id is) cannot be named: such a
        # record is left out of its folder's listing, and said.
        with open(EXAMPLE_TREE) as f:
            unusable, text, at = {}, f.read(), 0
        while text[at:].strip():  # the listing's pages, one after another
            page, at = json.JSONDecoder().raw_decode(text, len(text) - len(text[at:].lstrip()))
            for f in page["files"]:
                if re.search(r"[^0-9A-Za-z_ -]", f["id"]):
                    unusable[f["parents"][0]] = unusable.get(f["parents"][0], 0) + 1
        self.assertTrue(unusable)
        for export in ([], ["--export", "documents=pdf,spreadsheets=xlsx,presentations=pptx,drawings=png"]):
            with self.subTest(export=export):
                expected, folders, ids = {}, ["/"], {"/": "0AMyDriveRoot"}
                while folders:
                    folder = folders.pop()
                    status, out, err = self.run_tool(*export, "ls", "--json", "drive:" + folder)
                    left_out = unusable.get(ids[folder], 0)
                    if left_out:
                        self.assertEqual(status, 1, err)
                        self.assertIn(": %d %s left out: Drive gave no usable id"
                                      % (left_out, "file was" if left_out == 1 else "files were"), err)
                    else:
                        self.assertEqual(status, 0, err)
                    for entry in map(json.loads, out.decode().splitlines()):
                        path = folder.rstrip("/") + "/" + entry["clientName"]
                        if folder == "/" and entry["clientName"] in ("Many", "Huge", "Vast"):
                            continue
                        expected[path] = entry["id"]
                        if entry["type"] == "folder":
                            folders.append(path)
                            ids[path] = entry["id"]
                self.assertGreater(len(expected) + sum(unusable.values()), 60)
                status, out, err = self.run_tool(*export, "resolve", "--json", *("drive:" + p for p in expected))
                self.assertEqual(status, 0, err)
                for line in out.decode().splitlines():
                    result = json.loads(line)
                    self.assertEqual(result["steps"][-1]["id"], expected[result["path"]], result["path"])

    def test_a_path_through_a_big_folder_costs_one_request_an_element(self):
        status, out, err = self.run_tool("stat", "--json", "drive:/Huge/f005000.txt")
        self.assertEqual(status, 0, err)
        self.assertEqual(json.loads(out)["id"], "1BigHugex005000")
        self.assertEqual(len(self.log()), 3)  # the root's record, then one narrow query an element
        for command in (["stat", "--json", "--root", "1BigHuge"], ["ls", "--json", "--root", "1BigHuge"]):
            status, out, err = self.run_tool(*command, "drive:/f000007.txt" if command[0] == "stat" else "drive:/")
            self.assertEqual(status, 0, err)
            self.assertEqual(json.loads(out.splitlines()[6 if command[0] == "ls" else 0])["id"], "1BigHugex000007")
        self.control("DELETE", "/emulator/log")
        status, out, err = self.run_tool("resolve", "--json", "drive:/Huge/f005000.txt")
        self.assertEqual([step["id"] for step in json.loads(out)["steps"]], ["1BigHuge", "1BigHugex005000"])
        self.assertEqual((status, len(self.log())), (0, 3))  # one walk, not one a prefix

    def test_get_in_stripes_reads_each_on_its_own_and_resumes_a_cut_one(self):
        self.faults({"path": "^/drive/v3/files/1XRange$", "query": "alt=media", "header": {"Range": "^bytes=262144-"},
                     "cut": "response", "cut_at": 0.5})
        status, out, err = self.run_tool("get", "--streams", "4", "drive:/range.bin", "striped.bin")
        self.assertEqual(status, 0, err)
        with open(os.path.join(self.dir.name, "striped.bin"), "rb") as f:
            self.assertEqual(f.read(), self.content("1XRange"))
        ranges = sorted(entry["headers"].get("Range", "") for entry in self.log() if entry["query"].get("alt") == "media")
        # two stripes (the file is less than three 256 KiB units), the cut one read on from where it stopped
        self.assertEqual(ranges[:2], ["bytes=0-262143", "bytes=262144-299999"])
        self.assertEqual(len(ranges), 3, ranges)
        self.assertTrue(ranges[2].startswith("bytes=2") and ranges[2].endswith("-299999"), ranges)
        self.assertFalse(os.path.exists(os.path.join(self.dir.name, "striped.bin.part")))

    def test_apostrophe_and_backslash_names(self):
        for path, file_id in (("/Tom's files/it's done.txt", "1T054itsdon"),
                              ("/Tom's files/C:\\temp\\log.txt", "1T055Ctempl"),
                              ("/back\\slash/back\\slash.txt", "1T056backsl"),
                              ("/Shared with partners/''", "1T047")):
            with self.subTest(path=path):
                self.control("DELETE", "/emulator/log")
                status, out, err = self.run_tool("get", "drive:" + path, "-")
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(out, self.content(file_id))
                # The root, a narrow query an element, the content: by kind and path, not by count.
                kinds = [(e["method"], e["path"], "q" in e["query"] and "name =" in e["query"]["q"],
                          e["query"].get("alt")) for e in self.log()]
                self.assertEqual(kinds, [("GET", "/drive/v3/files/root", False, None),
                                         ("GET", "/drive/v3/files", True, None),
                                         ("GET", "/drive/v3/files", True, None),
                                         ("GET", "/drive/v3/files/" + file_id, False, "media")])

    @unittest.skipIf(os.environ.get("OSTREL_SANITIZED"), "a sanitized tool's resident size is mostly shadow memory")
    def test_memory_stays_bounded_for_a_huge_folder(self):
        environment = {"PATH": os.environ.get("PATH", ""), "OSTREL_GDRIVE_API_URL": self.url,
                       "OSTREL_GDRIVE_TOKEN": TOKEN}
        with open(os.devnull, "wb") as null:
            child = subprocess.Popen([TOOL, "ls", "-l", "drive:/Vast"], env=environment, stdout=null,
                                     stderr=subprocess.PIPE)
            _, status, usage = os.wait4(child.pid, 0)
            child.returncode = os.waitstatus_to_exitcode(status)
            err = child.stderr.read().decode()
            child.stderr.close()
        self.assertEqual(child.returncode, 0, err)
        self.assertLess(usage.ru_maxrss, 64 * 1024, "peak resident KiB")

    # -- reading

    def test_get_a_file_a_range_and_an_export(self):
        whole = self.content("1XRange")
        for args, want in ((["drive:/range.bin", "range.bin"], whole),
                           (["--offset", "123457", "drive:/range.bin", "range.bin"], whole[123457:]),
                           (["--offset", "300000", "drive:/range.bin", "range.bin"], b""),
                           (["drive:/range.bin", "."], whole),
                           (["--export", "documents=txt", "get", "drive:/memo{export-gdoc}.txt", "range.bin"], b"memo text\n"),
                           (["drive:/Top level notes.gdoc", "range.bin"],
                            b'{"url": "https://drive.google.com/open?id=1T058Toplev", "id": "1T058Toplev", '
                            b'"mimeType": "application/vnd.google-apps.document"}\n'),
                           (["--export", "documents=txt", "get", "--offset", "5", "drive:/memo{export-gdoc}.txt", "range.bin"],
                            b"text\n")):
            with self.subTest(args=args):
                if args[0] != "--export":
                    args = ["get"] + args
                status, _, err = self.run_tool(*args)
                self.assertEqual((status, err), (0, ""))
                with open(self.path("range.bin"), "rb") as f:
                    self.assertEqual(f.read(), want)
                self.assertFalse(os.path.exists(self.path("range.bin.part")))
        ranges = [e["headers"].get("Range") for e in self.log() if e["query"].get("alt") == "media"]
        self.assertEqual(ranges, [None, "bytes=123457-299999", None])  # at the end: no request at all
        # A cut export is read again from byte 0 into the emptied part file; written in place, it cannot be.
        for local, code, want in (("range.bin", 0, b"memo text\n"), ("-", 1, b"")):
            with self.subTest(local=local):
                self.faults({"path": "/1XText/export$", "cut": "response", "cut_at": 0.5})
                status, out, err = self.run_tool("--export", "documents=txt", "get", "drive:/memo{export-gdoc}.txt", local)
                self.assertEqual(status, code, err)
                if local == "-":
                    self.assertIn("426 TRANSFER_ABORTED", err)
                else:
                    with open(self.path(local), "rb") as f:
                        self.assertEqual(f.read(), want)
        # A stub lists with the size of what get gives.
        status, out, _ = self.run_tool("ls", "--json", "drive:/")
        sizes = {e["clientName"]: e["size"] for e in map(json.loads, out.decode().splitlines())}
        self.assertEqual(sizes["Top level notes.gdoc"], "129")

    def test_progress_only_on_a_terminal(self):
        import pty
        master, slave = pty.openpty()
        environment = {"PATH": os.environ.get("PATH", ""), "OSTREL_GDRIVE_API_URL": self.url,
                       "OSTREL_GDRIVE_TOKEN": TOKEN}
        try:
            done = subprocess.run([TOOL, "get", "drive:/range.bin", "-"], env=environment, stdout=subprocess.PIPE,
                                  stderr=slave, timeout=60)
            os.close(slave)
            shown = b""
            while True:
                try:
                    piece = os.read(master, 4096)
                except OSError:
                    break
                if not piece:
                    break
                shown += piece
        finally:
            os.close(master)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"300000 bytes of 300000", shown)
        self.assertEqual(done.stdout, self.content("1XRange"))

    def test_get_refusals(self):
        for args, message in (
                (["get", "drive:/bad sum.bin", "bad"], "Drive says 00000000000000000000000000000000"),
                (["--export", "documents=txt", "get", "drive:/huge{export-gdoc}.txt", "bad"], "at most 10 MB"),
                (["get", "drive:/Projects", "bad"], "550 NOT_A_FILE")):
            with self.subTest(args=args):
                status, _, err = self.run_tool(*args)
                self.assertEqual(status, 1)
                self.assertIn(message, err)
                self.assertEqual(err.count("\n"), 1, err)
                self.assertFalse(os.path.exists(self.path("bad")))
                self.assertFalse(os.path.exists(self.path("bad.part")))

    # -- writing

    def test_put_resumes_where_drive_stands(self):
        local = self.path("twenty.bin")
        data = os.urandom(20 * MIB)
        with open(local, "wb") as f:
            f.write(data)
        self.faults({"method": "PUT", "header": {"Content-Range": "^bytes 8388608-"}, "cut": "request",
                     "cut_at": 0.5})
        status, _, err = self.run_tool("put", local, "drive:/Projects/twenty.bin")
        self.assertEqual((status, err), (0, ""))
        status, out, err = self.run_tool("stat", "--json", "drive:/Projects/twenty.bin")
        stored = json.loads(out)
        self.assertEqual(stored["md5Checksum"], hashlib.md5(data).hexdigest())
        self.assertEqual(self.content(stored["id"]), data)
        uploads = [e["upload"] for e in self.log() if e.get("upload")]
        self.assertTrue(any(u.get("status_request") for u in uploads), uploads)
        self.assertFalse([u for u in uploads if u.get("overlap") or u.get("gap")], uploads)
        # Each byte was taken once: the chunk cut in the middle kept its first
        # half, and the next chunk began where that half ended.
        self.assertEqual(sum(u["last"] - u["first"] + 1 for u in uploads if "first" in u), 20 * MIB)

    def test_put_starts_again_only_when_the_session_expired(self):
        local = self.path("one.bin")
        with open(local, "wb") as f:
            f.write(os.urandom(MIB))
        self.faults({"method": "PUT", "header": {"Content-Range": "^bytes 262144-"}, "expire_session": True,
                     "status": 410})
        status, _, err = self.run_tool("put", "--chunk-size", "262144", local, "drive:/Projects/one.bin")
        self.assertEqual(status, 0, err)
        self.assertIn("expired; starting again from byte 0", err)

    def test_get_loses_nothing_on_the_local_side(self):
        import glob
        import signal
        import stat
        import threading
        victim = self.path("victim.txt")
        with open(victim, "w") as f:
            f.write("keep me")
        local = self.path("landing.bin")
        os.symlink(victim, local + ".part")  # planted where a part file used to go
        status, _, err = self.run_tool("get", "drive:/range.bin", local)
        self.assertEqual(status, 0, err)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep me")
        mask = os.umask(0)
        os.umask(mask)
        self.assertEqual(stat.S_IMODE(os.stat(local).st_mode), 0o666 & ~mask)
        # A device and a FIFO are written in place, never replaced.
        self.assertEqual(self.run_tool("get", "drive:/range.bin", "/dev/null")[0], 0)
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        got = []
        def read_fifo():
            with open(fifo, "rb") as f:
                got.append(f.read())
        reader = threading.Thread(target=read_fifo)
        reader.start()
        self.assertEqual(self.run_tool("get", "drive:/range.bin", fifo)[0], 0)
        reader.join(30)
        self.assertEqual(got, [self.content("1XRange")])
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        # A signal during get removes the part file and exits 128 + its number.
        self.faults({"path": "^/drive/v3/files/1XRange$", "query": "alt=media", "delay": 5})
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "OSTREL_GDRIVE_API_URL": self.url,
                       "OSTREL_GDRIVE_TOKEN": TOKEN}
        slow = self.path("slow.bin")
        tool = subprocess.Popen([TOOL, "get", "drive:/range.bin", slow], env=environment, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        for _ in range(100):
            if glob.glob(slow + ".part*"):
                break
            __import__("time").sleep(0.05)
        self.assertTrue(glob.glob(slow + ".part*"))
        tool.send_signal(signal.SIGTERM)
        self.assertEqual(tool.wait(timeout=30), 128 + signal.SIGTERM)
        self.assertEqual(glob.glob(slow + "*"), [])

    def test_errors_name_the_real_cause_and_stat_shows_the_facts(self):
        import socket
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        closed.close()
        status, _, err = self.run_tool("stat", "--retries", "1", "drive:/x",
                                       env={"OSTREL_GDRIVE_API_URL": "http://127.0.0.1:%d" % port})
        self.assertEqual(status, 1)
        self.assertIn("No answer from Drive (", err)
        self.assertIn("onnect", err)  # libcurl's own words for a refused connection
        for rules, cause in (
                ({"status": 302, "headers": {"Location": self.url + "/login"}, "body": "", "content_type": "text/html"},
                 'HTTP 302, a redirect to "%s/login"' % self.url),
                ({"status": 200, "body": " " * 1024, "body_repeat": 65 << 10, "content_type": "application/json"},
                 "No answer from Drive (an answer longer than 64 MiB)")):
            with self.subTest(cause=cause):
                self.control("DELETE", "/emulator/faults")
                self.faults(dict(rules, path="^/drive/v3/files$", times=0))
                status, _, err = self.run_tool("ls", "--retries", "1", "drive:/Projects")
                self.assertEqual(status, 1)
                self.assertIn(cause, err)
        self.control("DELETE", "/emulator/faults")
        # The local file shrinks between its MD5 and its upload (the token command runs in between).
        local = self.path("shrinks.bin")
        with open(local, "wb") as f:
            f.write(b"x" * 300000)
        status, _, err = self.run_tool("put", "--retries", "1", "--token-command", "truncate -s 1000 '%s'; echo %s"
                                       % (local, TOKEN), local, "drive:/Projects/shrinks.bin", token=None)
        self.assertEqual(status, 1)
        self.assertIn("No answer from Drive (cannot read the local file: it ended early", err)
        status, out, err = self.run_tool("stat", "--json", "drive:/range.bin")
        facts = json.loads(out)["facts"]
        self.assertTrue(facts.startswith("type=file;size=300000;") and "unique=1XRange;" in facts, facts)

    def test_replace_move_remove_and_md5(self):
        local = self.path("r.txt")
        with open(local, "wb") as f:
            f.write(b"first")
        os.utime(local, (1709287200.5, 1709287200.5))  # 2024-03-01T10:00:00.500Z
        self.assertEqual(self.run_tool("put", local, "drive:/Projects/r.txt")[0], 0)
        first = json.loads(self.run_tool("stat", "--json", "drive:/Projects/r.txt")[1])
        self.assertEqual(first["modifiedTime"], "2024-03-01T10:00:00Z")
        with open(local, "wb") as f:
            f.write(b"second")
        status, _, err = self.run_tool("put", local, "drive:/Projects/r.txt")
        self.assertEqual(status, 1)
        self.assertIn("--replace", err)
        self.assertEqual(self.run_tool("put", "--replace", "--no-mtime", local, "drive:/Projects/r.txt")[0], 0)
        second = json.loads(self.run_tool("stat", "--json", "drive:/Projects/r.txt")[1])
        self.assertEqual((second["id"], second["md5Checksum"]), (first["id"], hashlib.md5(b"second").hexdigest()))
        self.assertEqual(self.run_tool("mkdir", "drive:/Projects/moved")[0], 0)
        self.assertEqual(self.run_tool("mv", "drive:/Projects/r.txt", "drive:/Projects/moved")[0], 0)
        status, out, err = self.run_tool("md5", "drive:/Projects/moved/r.txt")
        self.assertEqual((status, out), (0, (hashlib.md5(b"second").hexdigest() + "  drive:/Projects/moved/r.txt\n").encode()))
        sums = self.path("sums.md5")
        with open(sums, "w") as f:
            f.write(hashlib.md5(b"second").hexdigest() + "  r.txt\n")
        status, out, err = self.run_tool("md5", "--check", sums, "drive:/Projects/moved")
        self.assertEqual((status, out), (0, b"r.txt: OK\n"), err)
        with open(sums, "w") as f:
            f.write(hashlib.md5(b"other").hexdigest() + "  r.txt\n")
        status, out, err = self.run_tool("md5", "--check", sums, "drive:/Projects/moved")
        self.assertEqual((status, out), (1, b"r.txt: FAILED\n"), err)
        for args, code, message in ((["rm", "drive:/Projects/moved"], 1, "IS_A_FOLDER"),
                                    (["rmdir", "drive:/Projects/moved"], 1, "FOLDER_NOT_EMPTY"),
                                    (["rm", "drive:/Projects/moved/r.txt"], 0, ""),
                                    (["ls", "--trashed", "-l", "drive:/Projects/moved"], 0, ""),
                                    (["rmdir", "drive:/Projects/moved"], 0, ""),
                                    (["stat", "drive:/Projects/moved"], 1, "PATH_NOT_FOUND")):
            with self.subTest(args=args):
                status, out, err = self.run_tool(*args)
                self.assertEqual(status, code, err)
                self.assertIn(message, err)
                if "--trashed" in args:  # the trash listed, the file in it marked
                    self.assertTrue(out.decode().rstrip().endswith("r.txt  (trashed)"), out)

    def test_put_and_mkdir_refusals(self):
        local = self.path("small.bin")
        with open(local, "wb") as f:
            f.write(b"x" * 1000)
        self.faults({"method": "POST", "path": "^/upload/", "status": 403, "reason": "storageQuotaExceeded"})
        status, _, err = self.run_tool("put", local, "drive:/Projects/small.bin")
        self.assertEqual(status, 1)
        self.assertIn('put: "/Projects/small.bin": 552 storageQuotaExceeded: ', err)
        self.control("DELETE", "/emulator/log")
        for args, code, message in (
                (["put", local, "drive:/Projects/x{export-gdoc}.pdf"], 1, "553 INVALID_PATH_NAME"),
                (["put", "--chunk-size", "1000", local, "drive:/Projects/y"], 2, "multiple of 256 KiB"),
                (["put", local, "drive:/top.txt.{ID1T059toptxt}"], 1, "exists"),
                (["mkdir", "drive:/Projects/2024"], 1, "exists")):
            with self.subTest(args=args):
                status, _, err = self.run_tool(*args)
                self.assertEqual(status, code, err)
                self.assertIn(message, err)
        self.assertFalse([e for e in self.log() if e["method"] != "GET"])
        status, _, err = self.run_tool("mkdir", "drive:/Projects/New folder")
        self.assertEqual((status, err), (0, ""))
        status, out, _ = self.run_tool("stat", "--json", "drive:/Projects/New folder")
        self.assertEqual(json.loads(out)["type"], "folder")

    # -- failures, retries and tokens

    def test_retries_and_errors(self):
        cases = (
            ("2 x 429 then success", [{"path": "^/drive/v3/files$", "status": 429, "reason": "rateLimitExceeded",
                                       "times": 2, "retry_after": 0}], [], 0, None),
            ("HTML 502 from a proxy", [{"status": 502, "html": True, "times": 0}], ["--retries", "2"], 1,
             'ostrel-gdrive: ls: "/Archive 2023": 451 DRIVE_UNAVAILABLE: An answer that is not Drive\'s error: '
             '"<!DOCTYPE html>\\x0a<html><head><title>502 Bad Gateway</title>'),
            ("not found", [], [], 1, 'ostrel-gdrive: ls: "/Archive 2023/none": 550 PATH_NOT_FOUND: '),
            ("no Drive scope", [{"status": 403, "reason": "insufficientPermissions"}], [], 1,
             'ostrel-gdrive: ls: "/Archive 2023": 550 insufficientPermissions: Insufficient Permission: Request had '
             'insufficient authentication scopes. (the token lacks a Drive scope'),
        )
        for name, rules, options, code, message in cases:
            with self.subTest(name):
                self.control("DELETE", "/emulator/faults")
                self.control("DELETE", "/emulator/log")
                self.faults(*rules)
                path = "drive:/Archive 2023" + ("/none" if name == "not found" else "")
                status, out, err = self.run_tool("ls", *options, path)
                self.assertEqual(status, code, err)
                if message is None:
                    self.assertEqual(out, b"January\nFebruary\n")
                    self.assertEqual([e["status"] for e in self.log()], [200, 429, 429, 200, 200])
                else:
                    self.assertTrue(err.startswith(message), err)
                    self.assertEqual(err.count("\n"), 1, err)

    def test_a_token_command_runs_once_more_after_a_401(self):
        counter = self.path("runs")
        script = self.path("token.sh")
        with open(script, "w") as f:
            f.write('echo x >> "%s"; n=$(wc -l < "%s"); echo "fresh-$n"\n' % (counter, counter))
        for accepted, code, runs in ((["fresh-2"], 0, 2), (["fresh-9"], 1, 2)):
            with self.subTest(accepted=accepted):
                if os.path.exists(counter):
                    os.remove(counter)
                self.control("PUT", "/emulator/tokens", {"tokens": accepted})
                status, _, err = self.run_tool("stat", "--token-command", "sh " + script, "drive:/Projects",
                                               token=None)
                self.assertEqual(status, code, err)
                with open(counter) as f:
                    self.assertEqual(len(f.readlines()), runs)
        self.assertIn(" 530 authError", err)

    def test_waits_are_bounded_and_said(self):
        import time
        # A stalled answer is dropped by the low-speed limit (30 s) and counts as a failed try.
        self.faults({"path": "^/drive/v3/files/1XRange$", "query": "alt=media", "delay": 36})
        started = time.monotonic()
        status, out, err = self.run_tool("get", "drive:/range.bin", "-")
        self.assertEqual((status, out), (0, self.content("1XRange")), err)
        self.assertLess(time.monotonic() - started, 36)
        self.assertEqual(len([e for e in self.log() if e["query"].get("alt") == "media"]), 2)
        # A Retry-After of an hour waits --max-wait, and says so.
        self.faults({"path": "^/drive/v3/files$", "status": 429, "reason": "rateLimitExceeded", "retry_after": 3600})
        started = time.monotonic()
        status, _, err = self.run_tool("ls", "--max-wait", "3", "drive:/Projects")
        self.assertEqual(status, 0, err)
        self.assertLess(time.monotonic() - started, 20)
        self.assertIn("waiting 3 s before asking Drive again", err)
        # A token command is read to its first line; a child it leaves holding its output is not waited for.
        started = time.monotonic()
        status, _, err = self.run_tool("stat", "--token-command", "sleep 20 2>/dev/null & echo " + TOKEN, "drive:/Projects",
                                       token=None)
        self.assertEqual(status, 0, err)
        self.assertLess(time.monotonic() - started, 20)
        # Every 401 after requests went through gets a fresh token, not only the first.
        counter, script = self.path("refreshes"), self.path("refresh.sh")
        with open(script, "w") as f:
            f.write('echo x >> "%s"; echo %s\n' % (counter, TOKEN))
        self.faults({"path": "^/drive/v3/files$", "status": 401, "reason": "authError"},
                    {"path": "^/drive/v3/files/1XRange$", "query": "alt=media", "status": 401, "reason": "authError"})
        status, out, err = self.run_tool("get", "--token-command", "sh " + script, "drive:/range.bin", "-", token=None)
        self.assertEqual((status, out), (0, self.content("1XRange")), err)
        with open(counter) as f:
            self.assertEqual(len(f.readlines()), 3)

    def test_the_token_is_never_printed(self):
        token_file = self.path("token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        self.control("PUT", "/emulator/tokens", {"tokens": ["another"]})
        for args in (["--debug", "ALL", "ls", "-l", "drive:/Projects"],
                     ["get", "--debug", "ALL", "--token-file", token_file, "drive:/top.txt", "-"],
                     # the commands on the library's session
                     ["--debug", "ALL", "stat", "drive:/top.txt"], ["--debug", "ALL", "md5", "drive:/top.txt"],
                     ["--debug", "ALL", "rm", "drive:/top.txt"]):
            with self.subTest(args=args):
                status, out, err = self.run_tool(*args, token=None if "--token-file" in args else TOKEN)
                self.assertEqual(status, 1, err)
                self.assertIn("530", err)
                self.assertIn("debug: GET", err)
                self.assertNotIn(TOKEN, err + out.decode(errors="replace"))
                self.assertNotIn(TOKEN[-6:], err + out.decode(errors="replace"))

    def test_usage(self):
        unused = "http://%s:1"  # a port nothing listens on
        for args, token, code, message in (
                (["ls", "--api-url", "http://drive.example.com", "drive:/"], TOKEN, 2, "plain http:// is refused"),
                (["ls", "--api-url", "http://127.0.0.1.example.com", "drive:/"], TOKEN, 2, "plain http:// is refused"),
                (["ls", "--api-url", "http://user@127.0.0.1", "drive:/"], TOKEN, 2, "a user name"),
                (["ls", "--api-url", "ftp://127.0.0.1", "drive:/"], TOKEN, 2, "not an http"),
                (["ls", "drive:/"], None, 2, "needs an access token"),
                (["stat", "/not/live"], TOKEN, 2, "not a live path"),
                (["ls", "drive:/", "drive:/Projects"], TOKEN, 2, "give one live path"),
                # Loopback is let through, and answers nothing there.
                (["ls", "--retries", "1", "--api-url", unused % "127.0.0.2", "drive:/"], TOKEN, 1, "No answer"),
                (["ls", "--retries", "1", "--api-url", unused % "[::1]", "drive:/"], TOKEN, 1, "No answer")):
            with self.subTest(args=args):
                status, _, err = self.run_tool(*args, token=token)
                self.assertEqual(status, code, err)
                self.assertIn(message, err)
        self.assertEqual(self.log(), [])
        status, _, err = self.run_tool("ls", "--api-url", "http://localhost:%d/" % self.port, "drive:/")
        self.assertEqual(status, 0, err)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
