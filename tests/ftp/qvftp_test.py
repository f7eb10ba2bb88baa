#!/usr/bin/env python3
"""End-to-end checks of qvftp.exe against the vsftpd fixture: a download, the
protocol dialogue with -v, a refused file, a bad command line, an upload, a
resumed download, the listings.

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
PASSIVE_ONLY = "127.0.0.21"  # vsftpd with port_enable=NO (its own folder, the same files)
ACTIVE_ONLY = "127.0.0.22"   # vsftpd with pasv_enable=NO, serving ROOT


def winpath(p):
    return "Z:" + p.replace("/", "\\")


class Qvftp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def run_tool(self, *args, timeout=300):
        p = subprocess.run(TOOL + list(args), capture_output=True, timeout=timeout)
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
                     "226 Transfer complete.", "QUIT", "221 Goodbye.", "passive mode", "EPSV"):
            self.assertIn(line, err)
        self.assertRegex(err, r"229 Entering Extended Passive Mode \(\|\|\|\d+\|\)")
        self.assertNotIn("PORT", err)
        self.assertNotIn("secret@x.y", err)
        rc, _, err = self.run_tool("get", "-v", "-A", HOST, "/sub/inner.txt", winpath(out))
        self.assertEqual(rc, 0, err)
        self.assertIn("active mode", err)
        self.assertRegex(err, r"PORT 127,0,0,1,\d+,\d+")
        self.assertNotIn("EPSV", err)

    def test_each_mode_against_a_server_that_only_has_the_other(self):
        out = os.path.join(self.dir.name, "small.txt")
        with open(os.path.join(ROOT, "small.txt"), "rb") as f:
            want = f.read()
        # Passive (the default) where the server has no active mode, and the
        # other way round with -A.
        for host, args in ((PASSIVE_ONLY, []), (ACTIVE_ONLY, ["-A"])):
            rc, _, err = self.run_tool("get", *args, host, "small.txt", winpath(out))
            self.assertEqual(rc, 0, err)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), want)
            os.remove(out)
        # Passive refused: a clear word within the bounded wait, and no file.
        rc, _, err = self.run_tool("get", "-t", "5000", ACTIVE_ONLY, "small.txt", winpath(out), timeout=60)
        self.assertEqual(rc, 1)
        self.assertIn("qvftp: passive mode failed: ", err)
        self.assertIn("-A", err)
        self.assertFalse(os.path.exists(out))
        rc, _, err = self.run_tool("put", "-t", "5000", ACTIVE_ONLY, winpath(os.path.join(ROOT, "small.txt")),
                                   "incoming/never.txt", timeout=60)
        self.assertEqual(rc, 1)
        self.assertIn("qvftp: passive mode failed: ", err)
        self.assertFalse(os.path.exists(os.path.join(ROOT, "incoming", "never.txt")))

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

    def test_put_stores_the_file_under_its_name_or_the_given_path(self):
        src = os.path.join(self.dir.name, "put source.bin")
        data = os.urandom(200003)
        with open(src, "wb") as f:
            f.write(data)
        stored = os.path.join(ROOT, "incoming", "qvftp-put.bin")
        if os.path.exists(stored):
            os.remove(stored)
        rc, _, err = self.run_tool("put", HOST, winpath(src), "incoming/qvftp-put.bin")
        self.assertEqual(rc, 0, err)
        self.assertIn("200003 bytes", err)
        with open(stored, "rb") as f:
            self.assertEqual(f.read(), data)
        # Without a remote path the file goes to the login folder under its
        # own name; vsftpd's top folder is not writable, so the server's
        # refusal is what the tool reports, and nothing is stored.
        rc, _, err = self.run_tool("put", "-v", HOST, winpath(src))
        self.assertEqual(rc, 1)
        self.assertIn("STOR " + winpath(src), err)
        self.assertIn("qvftp: 553 ", err)
        self.assertFalse(os.path.exists(os.path.join(ROOT, "put source.bin")))
        os.remove(stored)

    def test_get_c_resumes_a_partial_download(self):
        out = os.path.join(self.dir.name, "big64.bin")
        with open(os.path.join(ROOT, "big64.bin"), "rb") as f:
            whole = f.read()
        with open(out, "wb") as f:
            f.write(whole[:1000000])
        rc, _, err = self.run_tool("get", "-c", "-v", HOST, "big64.bin", winpath(out))
        self.assertEqual(rc, 0, err)
        self.assertIn("350 Restart position accepted (1000000).", err)
        self.assertIn("%d bytes" % (len(whole) - 1000000), err)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), whole)
        # Nothing there yet: -c is an ordinary download.
        os.remove(out)
        rc, _, err = self.run_tool("get", "-c", HOST, "small.txt", winpath(out))
        self.assertEqual(rc, 0, err)
        with open(out, "rb") as a, open(os.path.join(ROOT, "small.txt"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_ls_prints_parsed_columns_and_nlst_the_names(self):
        rc, out, err = self.run_tool("ls", HOST, "list")
        self.assertEqual(rc, 0, err)
        rows = [r.split() for r in out.splitlines()]
        self.assertEqual(sorted(r[-1] for r in rows), ["alpha.txt", "beta.bin", "gamma"])
        sizes = {r[-1]: r[1] for r in rows}
        self.assertEqual(sizes["alpha.txt"], "5")
        self.assertEqual(sizes["beta.bin"], "1024")
        for r in rows:
            self.assertEqual(len(r), 6, r)  # attributes, size, three date columns, name
            self.assertRegex(r[0], r"^[d-][rwx-]{9}$")
        rc, out, err = self.run_tool("nlst", HOST, "/list")
        self.assertEqual(rc, 0, err)
        self.assertEqual(sorted(out.split()), ["alpha.txt", "beta.bin", "gamma"])
        rc, _, err = self.run_tool("ls", HOST, "no-such-dir")
        self.assertEqual(rc, 1)
        self.assertIn("qvftp: 550 ", err)


if __name__ == "__main__":
    ROOT = sys.argv[1]
    TOOL = sys.argv[2:]
    # QVFTP_TESTS: a pattern that picks cases (unittest -k), for the product stage.
    pick = ["-k", os.environ["QVFTP_TESTS"]] if os.environ.get("QVFTP_TESTS") else []
    unittest.main(argv=[sys.argv[0], "-v"] + pick)
