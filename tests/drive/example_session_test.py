#!/usr/bin/env python3
"""examples/session.c, the example plug-in's nine commands, against the Drive
emulator on 127.0.0.1 (started and always stopped here).
Usage: example_session_test.py EXAMPLE"""

import os
import subprocess
import sys
import tempfile
import unittest

from harness import start_emulator, stop_emulator

HERE = os.path.dirname(os.path.abspath(__file__))
TREE = os.path.join(HERE, "..", "..", "examples", "my-drive-tree.json")
EXAMPLE = None


class Example(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.emulator, cls.url = start_emulator("--tree", TREE, "--max-seconds", "100")

    @classmethod
    def tearDownClass(cls):
        stop_emulator(cls.emulator)

    def command(self, *args, token="emulator-token"):
        done = subprocess.run([EXAMPLE, self.url, token] + list(args), capture_output=True, timeout=60)
        return done.returncode, done.stdout.decode()

    def test_the_nine_commands(self):
        with tempfile.NamedTemporaryFile() as local:
            local.write(b"hello\n")
            local.flush()
            steps = [
                (("LIST", "/"), 0, "226 Listed\nProjects\n"),
                (("STOR", "/h.txt", local.name), 0, "226 Stored\n"),
                (("RETR", "/h.txt"), 0, "hello\n226 Sent\n"),
                (("RETR", "/h.txt", "3"), 0, "lo\n226 Sent\n"),
                (("SIZE", "/h.txt"), 0, "213 6\n"),
                (("MDTM", "/h.txt"), 0, "213 "),
                (("MKD", "/dd"), 0, "257 Created\n"),
                (("RNFR", "/h.txt", "/dd/h2.txt"), 0, "250 Renamed\n"),
                (("RMD", "/dd"), 1, "550 FOLDER_NOT_EMPTY: GridFTP-Path: /dd: The folder is not empty\n"),
                (("DELE", "/dd/h2.txt"), 0, "250 Deleted (in the trash)\n"),
                (("RMD", "/dd"), 0, "250 Removed\n"),
                (("RETR", "/nothing"), 1, "550 PATH_NOT_FOUND: GridFTP-Path: /nothing: No file in the folder has this name\n"),
            ]
            for args, status, start in steps:
                with self.subTest(args=args):
                    got_status, out = self.command(*args)
                    self.assertEqual(got_status, status, out)
                    self.assertTrue(out.startswith(start), out)
        # What GridFTP adds: MODE E blocks through the window, CKSM, MFMT, MLSD.
        import hashlib
        import zlib
        with tempfile.NamedTemporaryFile() as local:
            data = os.urandom(9 * 1024 * 1024 + 12345)
            local.write(data)
            local.flush()
            steps = [
                (("ESTO", "/e.bin", local.name, "4"), 0, "226 Stored %d bytes\n" % len(data)),
                (("CKSM", "MD5", "0", "-1", "/e.bin"), 0, "213 %s\n" % hashlib.md5(data).hexdigest()),
                (("CKSM", "ADLER32", "0", "-1", "/e.bin"), 0, "213 %08x\n" % zlib.adler32(data)),
                (("CKSM", "CRC32", "7", "1000", "/e.bin"), 0, "213 %08x\n" % zlib.crc32(data[7:1007])),
                (("CKSM", "SHA1", "0", "-1", "/e.bin"), 1, "504 UNKNOWN_ALGORITHM"),
                (("MFMT", "/e.bin", "20240501120000"), 0, "213 Modified\n"),
                (("MDTM", "/e.bin"), 0, "213 20240501120000\n"),
                (("MLSD", "/"), 0, "226 Listed\ntype=dir;"),
            ]
            for args, status, start in steps:
                with self.subTest(args=args):
                    got_status, out = self.command(*args)
                    self.assertEqual(got_status, status, out)
                    self.assertTrue(out.startswith(start), out)
        status, out = self.command("LIST", "/", token="refused")
        self.assertEqual((status, out.split(":")[0]), (1, "530 NOT_AUTHORIZED"))


if __name__ == "__main__":
    EXAMPLE = sys.argv.pop(1)
    unittest.main()
