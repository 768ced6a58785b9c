#!/usr/bin/env python3
"""The binding against the Drive emulator on 127.0.0.1: every command of a
session end to end, over real HTTP, and the emulator's hostile answers.
The library is OSTREL_GDRIVE_LIBRARY; the emulator is the project's."""

import hashlib
import http.client
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# OSTREL_GDRIVE_BINDING: an installed binding to test instead of this tree's.
sys.path.insert(0, os.environ.get("OSTREL_GDRIVE_BINDING") or os.path.join(HERE, ".."))
HEADER = os.path.join(HERE, "..", "..", "..", "include", "ostrel_google_drive_common.h")
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "tests", "drive"))
from harness import start_emulator, stop_emulator  # noqa: E402

import ostrel_gdrive  # noqa: E402
from ostrel_gdrive import DriveError, Session  # noqa: E402
from ostrel_gdrive._lib import _SIGNATURES, lib  # noqa: E402
from ostrel_gdrive.transport import Transport  # noqa: E402

# Every call the binding declares is made by these tests: each is counted.
CALLED = set()


def _counted(name, function):
    def call(*args):
        CALLED.add(name)
        return function(*args)
    return call


for _name in _SIGNATURES:
    setattr(lib, _name, _counted(_name, getattr(lib, _name)))


def tearDownModule():
    missing = sorted(set(_SIGNATURES) - CALLED)
    if missing and len(sys.argv) == 1:  # the whole module ran
        raise AssertionError("calls the binding declares but no test made: %s" % ", ".join(missing))

TOKEN = "emulator-token"
TREE = {"root": "0Root", "files": [
    {"id": "1Docs", "name": "docs", "mimeType": "application/vnd.google-apps.folder", "parents": ["0Root"]},
    {"id": "1Big", "name": "big.bin", "mimeType": "application/octet-stream", "parents": ["0Root"],
     "size": 700000},
    {"id": "1Note", "name": "Notes", "mimeType": "application/vnd.google-apps.document", "parents": ["0Root"],
     "export_content": "the notes\n"},
] + [{"id": "1Many%03d" % i, "name": "m%03d" % i, "mimeType": "text/plain", "parents": ["1Docs"],
      "content": "x"} for i in range(30)]}


class Binding(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        tree = os.path.join(cls.dir.name, "tree.json")
        with open(tree, "w") as out:
            json.dump(TREE, out)
        cls.emulator, cls.url = start_emulator("--tree", tree, "--max-seconds", "100")
        cls.port = int(cls.url.rsplit(":", 1)[1])
        ostrel_gdrive.start("export_documents=pdf")

    @classmethod
    def tearDownClass(cls):
        stop_emulator(cls.emulator)
        cls.dir.cleanup()

    def setUp(self):
        self.control("DELETE", "/emulator/faults")
        self.control("PUT", "/emulator/tokens", {"tokens": [TOKEN]})
        self.session = Session(self.url, attempts=3)
        self.transport = Transport(self.url, token=lambda: TOKEN, timeout=20)

    def tearDown(self):
        self.transport.close()
        self.session.close()

    def control(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            connection.request(method, path, body=json.dumps(body) if body is not None else None)
            return connection.getresponse().read()
        finally:
            connection.close()

    def faults(self, *rules):
        self.control("POST", "/emulator/faults", list(rules))

    def run_op(self, op, content=None):
        got = []
        source = (lambda offset, length: content[offset:offset + length]) if content is not None else None
        with op:
            self.transport.run(op, sink=got.append, source=source, restart=got.clear)
            return op, b"".join(got)

    def names(self, path):
        with self.session.list(path) as op:
            self.transport.run(op)
            return sorted(entry.client_name for entry in op.entries())

    def test_the_binding_under_test_is_the_one_asked_for(self):
        installed = os.environ.get("OSTREL_GDRIVE_BINDING")
        if installed:
            self.assertTrue(os.path.realpath(ostrel_gdrive.__file__).startswith(os.path.realpath(installed)))
            self.assertNotIn("OSTREL_GDRIVE_LIBRARY", os.environ)  # found beside the binding
            prefix = os.path.realpath(os.path.join(installed, "..", "..", ".."))
            self.assertTrue(os.path.realpath(lib._name).startswith(prefix), lib._name)

    def test_every_command(self):
        content = os.urandom(300000)
        self.run_op(self.session.mkdir("/new"))
        op = self.session.write("/new/a{slash}b{x0a}", len(content))
        op.set_md5(hashlib.md5(content).hexdigest())
        op.set_chunk_size(262144)  # two chunks
        with op:
            self.transport.run(op, source=lambda offset, length: content[offset:offset + length])
            self.assertEqual((op.bytes, op.restarts), (len(content), 0))
        self.assertEqual(self.names("/new"), ["a{slash}b{x0a}"])
        _, got = self.run_op(self.session.read("/new/a{slash}b{x0a}"))
        self.assertEqual(got, content)
        _, got = self.run_op(self.session.read("/new/a{slash}b{x0a}", 1000, 10))
        self.assertEqual(got, content[1000:1010])
        self.run_op(self.session.rename("/new/a{slash}b{x0a}", "/new/c.txt"))
        self.run_op(self.session.write("/new/c.txt", 3), b"new")
        _, got = self.run_op(self.session.read("/new/c.txt"))
        self.assertEqual(got, b"new")
        _, got = self.run_op(self.session.read("/Notes{export-gdoc}.pdf"))
        self.assertEqual(got, b"the notes\n")
        with self.assertRaises(DriveError) as refused:
            self.run_op(self.session.rmdir("/new"))
        self.assertEqual(refused.exception.code, 550)
        op = self.session.write("/new/c.txt", 3)
        op.set_create_only()
        with self.assertRaises(DriveError) as refused:
            self.run_op(op, b"new")
        self.assertEqual(refused.exception.line.split(":")[0], "FILE_EXISTS")
        with self.session.stat("/new/c.txt") as op:
            self.transport.run(op)
            self.assertEqual([step.name for step in op.steps()], ["new", "c.txt"])
        self.run_op(self.session.delete("/new/c.txt"))
        with self.session.list_trashed("/new") as op:
            self.transport.run(op)
            self.assertEqual([(e.client_name, e.trashed) for e in op.entries()], [("c.txt", True)])
            self.assertEqual(op.left_out(), (0, False))
        self.run_op(self.session.rmdir("/new"))
        self.assertNotIn("new", self.names("/"))
        self.assertEqual(len(self.names("/docs")), 30)

    def test_a_lost_create_answer_makes_one_folder(self):
        self.faults({"method": "POST", "path": "^/drive/v3/files$", "cut": "answer"})
        self.run_op(self.session.mkdir("/once"))
        self.assertEqual(self.names("/").count("once"), 1)
        self.run_op(self.session.rmdir("/once", permanent=True))

    def test_hostile_answers_fail(self):
        cases = [
            ({"path": "^/drive/v3/files$", "repeat_page_token": True, "times": 0}, self.session.list, "/docs"),
            ({"path": "^/drive/v3/files$", "page_overflow": 5, "times": 0}, self.session.list, "/docs"),
            ({"path": "^/drive/v3/files/1Big", "query": "alt=media", "content_range": "bytes 0-1/700000"},
             lambda p: self.session.read(p, 5, 10), "/big.bin"),
        ]
        for rule, make, path in cases:
            with self.subTest(rule=rule):
                self.control("DELETE", "/emulator/faults")
                self.faults(rule)
                self.session.forget()
                with self.assertRaises(DriveError) as failed:
                    self.run_op(make(path))
                self.assertEqual(failed.exception.code, 451, failed.exception.lines)
                self.assertNotIn("\r", failed.exception.line)

    def test_a_200_to_a_range_is_skipped_here(self):
        self.faults({"path": "^/drive/v3/files/1Big", "ignore_range": True})
        _, whole = self.run_op(self.session.read("/big.bin"))
        _, part = self.run_op(self.session.read("/big.bin", 300000, 1000))
        self.assertEqual(part, whole[300000:301000])

    def test_facts_checksums_times_and_counts(self):
        with self.session.stat("/big.bin") as op:
            self.transport.run(op)
            self.assertTrue(op.facts().startswith("type=file;size=700000;"), op.facts())
            self.assertEqual(op.client_size(), 700000)
            md5 = op.drive_md5()
            self.assertGreater(op.requests, 0)
            file_id = op.file().id
        with self.assertRaises(DriveError) as none:
            with self.session.stat("/big.bin") as op:
                self.transport.run(op)
                op.drive_md5(1, 10)  # a range is not the whole file
        self.assertEqual(none.exception.code, 550)
        # A read fed a 503 first: its error body comes through feed_body, then the retry reads.
        self.faults({"path": "^/drive/v3/files/1Big$", "query": "alt=media", "status": 503, "retry_after": 0})
        checksum = ostrel_gdrive.Checksum("MD5")
        self.run_op(self.session.read("/big.bin"))
        with self.session.read("/big.bin") as op:
            self.transport.run(op, sink=checksum.update, restart=checksum.reset)
            self.assertEqual((op.bytes, op.md5), (700000, md5))
        self.assertEqual(checksum.text(), md5)
        with self.session.get(file_id) as op:
            self.transport.run(op)
            self.assertEqual(op.file().name, "big.bin")
        self.run_op(self.session.set_time("/big.bin", 1714496520123))
        with self.session.stat("/big.bin") as op:
            self.transport.run(op)
            self.assertIn("modify=20240430170200.123;", op.facts())
        self.assertGreater(self.session.requests, 5)

    def test_a_refused_token_is_asked_again(self):
        tokens = iter(["stale", TOKEN])
        transport = Transport(self.url, token=lambda: next(tokens), timeout=20)
        with self.session.stat("/big.bin") as op:
            transport.run(op)
            self.assertEqual(op.file().size, 700000)
        transport.close()


class Declarations(unittest.TestCase):
    """The binding's declarations agree with the header's, parameter for parameter."""

    def test_each_call_matches_the_header(self):
        import ctypes
        import re
        with open(HEADER) as f:
            header = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
        integers = {"uint64_t": ctypes.c_uint64, "int64_t": ctypes.c_int64, "size_t": ctypes.c_size_t,
                    "unsigned": ctypes.c_uint, "unsigned long": ctypes.c_ulong, "int": ctypes.c_int,
                    "bool": ctypes.c_bool, "ostrel_result_t": ctypes.c_uint32,
                    "ostrel_google_drive_kind_t": ctypes.c_int}

        def agrees(c_type, declared):
            c_type = " ".join(c_type.replace("const ", "").split())
            if c_type.endswith("*"):  # any pointer: a pointer type of ctypes
                return declared in (ctypes.c_void_p, ctypes.c_char_p) or hasattr(declared, "contents") \
                    or getattr(declared, "_type_", None) is not None
            return integers.get(c_type) is declared or (c_type == "void" and declared is None)

        checked = 0
        for name, (result, arguments) in _SIGNATURES.items():
            if not name.startswith("ostrel_google_drive_"):
                continue  # the host runtime's
            match = re.search(r"([\w\s\*]+?)\b%s\(([^;]*?)\)\s*OSTREL_NOTHROW;" % name, header)
            self.assertIsNotNone(match, name)
            result_type = match.group(1).split("\n")[-1].strip()
            parameters = [p.strip() for p in match.group(2).split(",") if p.strip() and p.strip() != "void"]
            self.assertEqual(len(parameters), len(arguments), name)
            for parameter, declared in zip(parameters, arguments):
                c_type = re.sub(r"\w+$", "", parameter).strip() if not parameter.endswith("*") else parameter
                self.assertTrue(agrees(c_type, declared), "%s: %s as %r" % (name, parameter, declared))
            self.assertTrue(agrees(result_type, result), "%s returns %s as %r" % (name, result_type, result))
            checked += 1
        self.assertGreater(checked, 45)


if __name__ == "__main__":
    unittest.main()
