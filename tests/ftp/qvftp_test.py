#!/usr/bin/env python3
"""End-to-end checks of qvftp.exe against the vsftpd fixture: a download, the
protocol dialogue with -v, a refused file, a bad command line.

usage: qvftp_test.py ROOT WINE-WRAPPER qvftp.exe   (ROOT: the server's folder)
"""
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = ""
TOOL = []
HOST = "ftp.norv.test"


def winpath(p):
    return "Z:" + p.replace("/", "\\")


class Qvftp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def run_tool(self, *args):
        p = subprocess.run(TOOL + list(args), capture_output=True, timeout=300)
        return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")

    def test_get_writes_the_file_and_shows_progress(self):
        out = os.path.join(self.dir.name, "small.txt")
        rc, _, err = self.run_tool("get", HOST, "small.txt", winpath(out))
        self.assertEqual(rc, 0, err)
        with open(out, "rb") as a, open(os.path.join(ROOT, "small.txt"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        size = os.path.getsize(out)
        self.assertIn("%d bytes" % size, err)
        self.assertIn("MB/s", err)

    def test_verbose_prints_the_dialogue_without_the_password(self):
        out = os.path.join(self.dir.name, "inner.txt")
        rc, _, err = self.run_tool("get", "-v", "-u", "anonymous", "-p", "secret@x.y", "-t", "5000",
                                   HOST, "/sub/inner.txt", winpath(out))
        self.assertEqual(rc, 0, err)
        for line in ("USER anonymous", "230 Login successful.", "TYPE I", "RETR /sub/inner.txt",
                     "226 Transfer complete.", "QUIT", "221 Goodbye."):
            self.assertIn(line, err)
        self.assertRegex(err, r"PORT 127,0,0,1,\d+,\d+")
        self.assertNotIn("secret@x.y", err)

    def test_refused_file_fails_with_the_servers_line(self):
        out = os.path.join(self.dir.name, "missing.bin")
        rc, _, err = self.run_tool("get", HOST, "missing.bin", winpath(out))
        self.assertEqual(rc, 1)
        self.assertIn("qvftp: 550 Failed to open file.", err)
        self.assertFalse(os.path.exists(out))

    def test_unreachable_server_and_bad_command_line(self):
        out = os.path.join(self.dir.name, "x")
        rc, _, err = self.run_tool("get", "-P", "2", HOST, "small.txt", winpath(out))
        self.assertEqual(rc, 1)
        self.assertIn("qvftp: ", err)
        rc, _, err = self.run_tool("get", HOST, "small.txt")
        self.assertEqual(rc, 2)
        self.assertIn("usage: qvftp get", err)


if __name__ == "__main__":
    ROOT = sys.argv[1]
    TOOL = sys.argv[2:]
    unittest.main(argv=[sys.argv[0], "-v"])
