#!/usr/bin/env python3
"""The Drive emulator's own checks: paging, the strict query parser, ranges,
exports, a resumable upload cut short and resumed, generated ids, fault rules,
the log and the bounds. Each case talks HTTP to a running emulator on 127.0.0.1."""

import hashlib
import http.client
import json
import os
import tempfile
import unittest
import urllib.parse

from harness import start_emulator
TOKEN = "t0ken-never-logged"
MIB = 1024 * 1024
FOLDER = "application/vnd.google-apps.folder"

TREE = {
    "root": "0ARoot",
    "tokens": [TOKEN],
    "files": [
        {"id": "1Dir", "name": "Dir", "mimeType": "application/vnd.google-apps.folder", "parents": ["0ARoot"]},
        {"id": "1Quote", "name": "it's", "mimeType": "text/plain", "parents": ["1Dir"], "content": "q"},
        {"id": "1Slash", "name": "back\\slash", "mimeType": "text/plain", "parents": ["1Dir"], "content": "b"},
        {"id": "1Gone", "name": "it's", "mimeType": "text/plain", "parents": ["1Dir"], "trashed": True},
        {"id": "1Big", "name": "big.bin", "mimeType": "application/octet-stream", "parents": ["0ARoot"],
         "size": 100000, "content_seed": 7},
        {"id": "1Empty", "name": "empty", "mimeType": "text/plain", "parents": ["0ARoot"], "content": ""},
        {"id": "1Doc", "name": "Notes", "mimeType": "application/vnd.google-apps.document", "parents": ["0ARoot"],
         "export_content": "notes\n"},
        {"id": "1Huge", "name": "Huge", "mimeType": "application/vnd.google-apps.spreadsheet",
         "parents": ["0ARoot"], "export_size": 11 * MIB},
    ],
}


def generated(seed, first, last):
    return bytes((i % 251 + i // 65536 + seed) % 256 for i in range(first, last + 1))


def start(*args):
    process, url = start_emulator(*args)
    return process, int(url.rsplit(":", 1)[1])


class Emulator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        tree = os.path.join(cls.dir.name, "tree.json")
        with open(tree, "w") as f:
            json.dump(TREE, f)
        cls.log = os.path.join(cls.dir.name, "log.ndjson")
        cls.process, cls.port = start("--tree", tree, "--big-folder", "Many=2500", "--log", cls.log)

    @classmethod
    def tearDownClass(cls):
        cls.process.stdin.close()
        cls.process.wait(timeout=10)
        cls.dir.cleanup()

    def setUp(self):
        self.call("DELETE", "/emulator/faults")

    def call(self, method, path, body=None, headers=None, token=TOKEN):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        self.addCleanup(connection.close)
        headers = dict(headers or {})
        if token:
            headers["Authorization"] = "Bearer " + token
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        return response.status, response, response.read()

    def list(self, **params):
        status, _, body = self.call("GET", "/drive/v3/files?" + urllib.parse.urlencode(params))
        return status, json.loads(body)

    def fault(self, **rule):
        self.call("POST", "/emulator/faults", rule)

    def assert_error(self, status, body, code, reason):
        self.assertEqual(status, code, body)
        error = json.loads(body)["error"]
        self.assertEqual((error["code"], error["errors"][0]["reason"]), (code, reason))
        return error

    def test_pages_list_a_big_folder_once_with_opaque_tokens(self):
        q = "'1BigMany' in parents and trashed = false"
        ids, token, pages = [], None, []
        while True:
            params = {"q": q, "pageSize": 1000, "fields": "nextPageToken,files(id,name)"}
            if token:
                params["pageToken"] = token
            status, page = self.list(**params)
            self.assertEqual(status, 200)
            self.assertEqual(set(page["files"][0]), {"id", "name"})
            ids += [f["id"] for f in page["files"]]
            pages.append(len(page["files"]))
            token = page.get("nextPageToken")
            if not token:
                break
            self.assertNotIn("1BigMany", token)
        self.assertEqual(pages, [1000, 1000, 500])
        self.assertEqual(len(set(ids)), 2500)
        status, _, body = self.call("GET", "/drive/v3/files?" + urllib.parse.urlencode({"q": q, "pageToken": "x"}))
        self.assertEqual(self.assert_error(status, body, 400, "invalid")["errors"][0]["location"], "pageToken")

    def test_fields_and_parameters_are_checked(self):
        cases = [({"fields": "files(id,nosuch)"}, 400, "invalidParameter"),
                 ({"fields": "files(id)(name)"}, 400, "invalidParameter"),
                 ({"fields": "kind,files/name(x)"}, 400, "invalidParameter"),
                 ({"pageSize": 1001}, 400, "invalid"),
                 ({"pageSize": 0}, 400, "invalid"),
                 ({"supportAllDrives": "true"}, 400, "badRequest"),
                 ({"fields": "files(id,capabilities/canEdit),incompleteSearch", "pageSize": 1}, 200, None)]
        for params, code, reason in cases:
            with self.subTest(params=params):
                status, _, body = self.call("GET", "/drive/v3/files?" + urllib.parse.urlencode(params))
                if reason:
                    self.assert_error(status, body, code, reason)
                else:
                    page = json.loads(body)
                    self.assertEqual(set(page), {"files", "incompleteSearch"})
                    self.assertEqual(set(page["files"][0]), {"id", "capabilities"})

    def test_query_strings_take_only_quote_and_backslash_escapes(self):
        found = [("'1Dir' in parents and name = 'it\\'s' and trashed = false", ["1Quote"]),
                 ("'1Dir' in parents and name = 'it\\'s'", ["1Quote", "1Gone"]),
                 ("name = 'back\\\\slash'", ["1Slash"]),
                 ("'root' in parents AND (name = 'Dir' or name = 'empty') and not mimeType = 'text/plain'",
                  ["1Dir"]),
                 ("'1Dir' in parents and trashed = true", ["1Gone"])]
        for q, ids in found:
            with self.subTest(q=q):
                status, page = self.list(q=q)
                self.assertEqual(status, 200, page)
                self.assertEqual([f["id"] for f in page["files"]], ids)
        refused = ["name = 'a\\\"'", "name = 'a\\n'", 'name = "a"', "name = 'a", "name = 'a\\'", "name = 'a\\",
                   "'x' in parent", "name == 'a'", "title = 'a'", "name = 'a' and", "(name = 'a'",
                   "trashed = 'false'", "name = 'a' name = 'b'", "name = a", "'x' parents", "not"]
        for q in refused:
            with self.subTest(q=q):
                status, _, body = self.call("GET", "/drive/v3/files?" + urllib.parse.urlencode({"q": q}))
                error = self.assert_error(status, body, 400, "invalid")
                self.assertEqual((error["message"], error["errors"][0]["location"]), ("Invalid Value", "q"))

    def test_ranges(self):
        cases = [("bytes=0-9", 206, 0, 9), ("bytes=65530-65545", 206, 65530, 65545),
                 ("bytes=99990-", 206, 99990, 99999), ("bytes=-5", 206, 99995, 99999),
                 ("bytes=99999-200000", 206, 99999, 99999), ("bytes=100000-", 416, None, None),
                 ("bytes=-0", 416, None, None), ("bytes=0-1,5-6", 200, 0, 99999), (None, 200, 0, 99999)]
        for header, code, first, last in cases:
            with self.subTest(range=header):
                status, response, body = self.call("GET", "/drive/v3/files/1Big?alt=media",
                                                   headers={"Range": header} if header else {})
                self.assertEqual(status, code)
                if code == 416:
                    self.assertEqual(response.getheader("Content-Range"), "bytes */100000")
                    continue
                self.assertEqual(body, generated(7, first, last))
                if code == 206:
                    self.assertEqual(response.getheader("Content-Range"), "bytes %d-%d/100000" % (first, last))
        status, _, body = self.call("GET", "/drive/v3/files/1Big?fields=md5Checksum,size")
        self.assertEqual(json.loads(body), {"md5Checksum": hashlib.md5(generated(7, 0, 99999)).hexdigest(),
                                            "size": "100000"})
        status, _, _ = self.call("GET", "/drive/v3/files/1Empty?alt=media", headers={"Range": "bytes=0-"})
        self.assertEqual(status, 416)

    def test_exports(self):
        status, response, body = self.call("GET", "/drive/v3/files/1Doc/export?mimeType=text/plain")
        self.assertEqual((status, response.getheader("Content-Type"), body), (200, "text/plain", b"notes\n"))
        cases = [("/drive/v3/files/1Huge/export?mimeType=text/csv", 403, "exportSizeLimitExceeded"),
                 ("/drive/v3/files/1Big/export?mimeType=text/plain", 403, "fileNotExportable"),
                 ("/drive/v3/files/1Doc/export?mimeType=text/csv", 400, "badRequest"),
                 ("/drive/v3/files/1Doc?alt=media", 403, "fileNotDownloadable"),
                 ("/drive/v3/files/1Nope?alt=media", 404, "notFound")]
        for path, code, reason in cases:
            with self.subTest(path=path):
                status, _, body = self.call("GET", path)
                self.assert_error(status, body, code, reason)

    def start_upload(self, name, code=200, **metadata):
        status, response, body = self.call("POST", "/upload/drive/v3/files?uploadType=resumable&fields=id,md5Checksum",
                                           dict(name=name, parents=["1Dir"], **metadata),
                                           {"Content-Type": "application/json"})
        self.assertEqual(status, code, body)
        return urllib.parse.urlsplit(response.getheader("Location")) if code == 200 else json.loads(body)["error"]

    def generate_ids(self, count):
        status, _, body = self.call("GET", "/drive/v3/files/generateIds?count=%d&space=drive&type=files" % count)
        self.assertEqual(status, 200, body)
        value = json.loads(body)
        self.assertEqual((value["kind"], value["space"], len(set(value["ids"]))),
                         ("drive#generatedIds", "drive", count))
        return value["ids"]

    def create(self, code, **metadata):
        status, _, body = self.call("POST", "/drive/v3/files", dict(parents=["1Dir"], **metadata))
        self.assertEqual(status, code, body)
        return json.loads(body)

    def exists(self, file_id):
        return self.call("GET", "/emulator/files/" + file_id)[0] == 200

    def put(self, session, data, content_range):
        path = session.path + "?" + session.query
        return self.call("PUT", path, data, {"Content-Range": content_range}, token=None)

    def test_resumable_upload_cut_in_a_chunk_resumes_where_the_session_stands(self):
        data = os.urandom(MIB + 1000)
        total, chunk = len(data), 512 * 1024
        session = self.start_upload("upload.bin")
        self.fault(method="PUT", header={"Content-Range": "^bytes 524288-"}, cut="request")
        status, response, _ = self.put(session, data[:chunk], "bytes 0-%d/%d" % (chunk - 1, total))
        self.assertEqual((status, response.getheader("Range")), (308, "bytes=0-524287"))
        with self.assertRaises((http.client.HTTPException, OSError)):
            self.put(session, data[chunk:2 * chunk], "bytes %d-%d/%d" % (chunk, 2 * chunk - 1, total))
        status, response, _ = self.put(session, b"", "bytes */%d" % total)
        self.assertEqual((status, response.getheader("Range")), (308, "bytes=0-786431"))
        status, _, body = self.put(session, data[786432:], "bytes 786432-%d/%d" % (total - 1, total))
        self.assertEqual(status, 200)
        resource = json.loads(body)
        self.assertEqual(resource["md5Checksum"], hashlib.md5(data).hexdigest())
        self.assertEqual(self.call("GET", "/emulator/files/%s/content" % resource["id"])[2], data)
        log = [json.loads(line) for line in self.call("GET", "/emulator/log")[2].splitlines()]
        # By offset: a cut chunk is logged when the emulator sees the cut, which may be after the next request.
        chunks = sorted((e["upload"] for e in log if "first" in e.get("upload", {})
                         and e["upload"]["session"] == urllib.parse.parse_qs(session.query)["upload_id"][0]),
                        key=lambda c: c["first"])
        self.assertEqual([(c["first"], c["stored_before"], c["stored_after"]) for c in chunks],
                         [(0, 0, chunk), (chunk, chunk, 786432), (786432, 786432, total)])
        self.assertFalse(any("overlap" in c or "gap" in c for c in chunks))

    def test_upload_sessions_answer_like_drive(self):
        session = self.start_upload("small")
        status, response, _ = self.put(session, b"", "bytes */*")
        self.assertEqual((status, response.getheader("Range")), (308, None))
        status, response, _ = self.put(session, b"x" * 1000, "bytes 0-999/*")
        self.assertEqual((status, response.getheader("Range")), (308, None))  # under one 256 KiB unit
        self.fault(method="PUT", expire_session=True, status=410)
        self.assert_error(*self.put(session, b"", "bytes */1000")[::2], 410, "notFound")
        self.assert_error(*self.put(session, b"", "bytes */1000")[::2], 404, "notFound")
        self.fault(path="^/upload/", reason="storageQuotaExceeded")
        status, _, body = self.call("POST", "/upload/drive/v3/files?uploadType=resumable", {"name": "q"})
        self.assert_error(status, body, 403, "storageQuotaExceeded")

    def test_fault_rules(self):
        self.fault(path="^/drive/v3/files$", status=429, reason="rateLimitExceeded", retry_after=1, times=2)
        answers = [self.call("GET", "/drive/v3/files?pageSize=1") for _ in range(3)]
        self.assertEqual([a[0] for a in answers], [429, 429, 200])
        self.assertEqual(answers[0][1].getheader("Retry-After"), "1")
        self.assertEqual(json.loads(answers[0][2])["error"]["errors"][0]["domain"], "usageLimits")
        self.fault(path="^/drive/v3/files/1Empty$", status=503, every=2, times=0)
        self.assertEqual([self.call("GET", "/drive/v3/files/1Empty")[0] for _ in range(4)], [503, 200, 503, 200])
        self.call("DELETE", "/emulator/faults")
        self.fault(status=502, html=True)
        status, response, body = self.call("GET", "/drive/v3/files/1Empty")
        self.assertEqual((status, response.getheader("Content-Type")), (502, "text/html; charset=UTF-8"))
        self.assertIn(b"<html>", body)
        self.fault(path="^/drive/v3/files/1Big$", cut="response")
        with self.assertRaises(http.client.IncompleteRead):
            self.call("GET", "/drive/v3/files/1Big?alt=media")
        self.fault(cut="connection")
        with self.assertRaises((http.client.HTTPException, OSError)):
            self.call("GET", "/drive/v3/files/1Big")

    def test_generated_ids_are_taken_once_by_creates_and_uploads(self):
        ids = self.generate_ids(3)
        self.assertFalse(any(self.exists(i) for i in ids))
        self.assertEqual(len(json.loads(self.call("GET", "/drive/v3/files/generateIds")[2])["ids"]), 10)
        for count in ("0", "1001", "x"):
            status, _, body = self.call("GET", "/drive/v3/files/generateIds?count=" + count)
            self.assertEqual(self.assert_error(status, body, 400, "invalid")["errors"][0]["location"], "count")
        self.assertEqual(self.create(200, id=ids[0], name="made", mimeType=FOLDER)["id"], ids[0])
        session = self.start_upload("up", id=ids[1])
        status, _, body = self.put(session, b"hello", "bytes 0-4/5")
        self.assertEqual((status, json.loads(body)["id"]), (200, ids[1]))
        in_use = (409, "fileIdInUse", "A file already exists with the provided ID.", None)
        unusable = (400, "invalid", "The provided file ID is not usable.", "id")
        cases = [(ids[0], in_use), (ids[1], in_use), ("1Dir", in_use), ("1NeverGenerated", unusable)]
        for file_id, (code, reason, message, location) in cases:
            with self.subTest(id=file_id):
                for error in (self.create(code, id=file_id)["error"], self.start_upload("again", code, id=file_id)):
                    self.assertEqual((error["code"], error["message"]), (code, message))
                    self.assertEqual((error["errors"][0]["reason"], error["errors"][0].get("location")),
                                     (reason, location))
        self.assertFalse(self.exists("1NeverGenerated"))

    def test_a_lost_create_answer_leaves_the_file_made(self):
        folder, upload = self.generate_ids(2)
        self.fault(method="POST", path="^/drive/v3/files$", cut="answer")
        with self.assertRaises((http.client.HTTPException, OSError)):
            self.create(200, id=folder, name="lost", mimeType=FOLDER)
        self.assertTrue(self.exists(folder))
        self.create(409, id=folder, name="lost", mimeType=FOLDER)
        session = self.start_upload("lost.bin", id=upload)
        self.fault(method="PUT", header={"Content-Range": "/3$"}, cut="answer")
        with self.assertRaises((http.client.HTTPException, OSError)):
            self.put(session, b"abc", "bytes 0-2/3")
        self.assertEqual(self.call("GET", "/emulator/files/%s/content" % upload)[2], b"abc")
        self.start_upload("lost.bin", 409, id=upload)
        log = [json.loads(line) for line in self.call("GET", "/emulator/log")[2].splitlines()]
        self.assertEqual([(e["status"], e["sent"]) for e in log if e.get("cut") == "answer"], [(None, 0)] * 2)

    def test_list_and_media_fault_actions_fire_within_times(self):
        q = "'1BigMany' in parents"
        _, first = self.list(q=q, pageSize=1000)
        self.fault(path="^/drive/v3/files$", repeat_page_token=True, times=2)
        _, page = self.list(q=q, pageSize=1000)
        token = page["nextPageToken"]
        _, again = self.list(q=q, pageSize=1000, pageToken=token)
        self.assertEqual((again["files"], again["nextPageToken"]), (first["files"], token))
        _, after = self.list(q=q, pageSize=1000, pageToken=token)
        self.assertEqual(after["files"], first["files"])
        self.assertNotEqual(after["nextPageToken"], token)

        self.fault(path="^/drive/v3/files$", page_overflow=2)
        for overflow in (True, False):
            _, page = self.list(q=q, pageSize=5, fields="files(id,name,parents)")
            made = [(f["name"], f["parents"], self.exists(f["id"])) for f in page["files"][5:]]
            self.assertEqual(made, [("overflow-1", ["1BigMany"], False), ("overflow-2", ["1BigMany"], False)]
                             if overflow else [])

        cases = [({"content_range": "bytes 0-0/1"}, 206, "bytes 0-0/1", generated(7, 0, 9)),
                 ({"ignore_range": True}, 200, None, generated(7, 0, 99999))]
        for rule, code, content_range, data in cases:
            with self.subTest(rule=rule):
                self.fault(path="^/drive/v3/files/1Big$", **rule)
                for expected in ((code, content_range, data), (206, "bytes 0-9/100000", generated(7, 0, 9))):
                    status, response, body = self.call("GET", "/drive/v3/files/1Big?alt=media",
                                                       headers={"Range": "bytes=0-9"})
                    self.assertEqual((status, response.getheader("Content-Range"), body), expected)

    def test_tokens_are_checked_and_never_logged(self):
        self.assert_error(*self.call("GET", "/drive/v3/files/1Doc", token="other")[::2], 401, "authError")
        self.assert_error(*self.call("GET", "/drive/v3/files/1Doc", token=None)[::2], 401, "required")
        self.call("PUT", "/emulator/tokens", {"tokens": ["fresh"]})
        try:
            self.assert_error(*self.call("GET", "/drive/v3/files/1Doc")[::2], 401, "authError")
            self.assertEqual(self.call("GET", "/drive/v3/files/1Doc", token="fresh")[0], 200)
        finally:
            self.call("PUT", "/emulator/tokens", {"tokens": [TOKEN]})
        self.call("GET", "/drive/v3/files?access_token=" + TOKEN)
        with open(self.log) as f:
            logged = f.read()
        self.assertIn('"auth": "wrong"', logged)
        self.assertNotIn(TOKEN, logged)
        self.assertNotIn(TOKEN, self.call("GET", "/emulator/log")[2].decode())


class Bounds(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
        json.dump({"root": "0ARoot"}, self.tree)
        self.tree.close()
        self.addCleanup(os.unlink, self.tree.name)

    def test_end_of_input_stops_it(self):
        process, _ = start("--tree", self.tree.name)
        process.stdin.close()
        self.assertEqual(process.wait(timeout=10), 0)

    def test_request_and_time_bounds_stop_it_with_status_3(self):
        process, port = start("--tree", self.tree.name, "--max-requests", "2")
        statuses = []
        for _ in range(3):
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            self.addCleanup(connection.close)
            connection.request("GET", "/drive/v3/files", headers={"Authorization": "Bearer emulator-token"})
            statuses.append(connection.getresponse().status)
        self.assertEqual(statuses, [200, 200, 503])
        self.assertEqual(process.wait(timeout=10), 3)
        process.stdin.close()
        process, _ = start("--tree", self.tree.name, "--max-seconds", "0.5")
        self.assertEqual(process.wait(timeout=10), 3)
        process.stdin.close()


if __name__ == "__main__":
    unittest.main()
