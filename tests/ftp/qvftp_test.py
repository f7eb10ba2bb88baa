#!/usr/bin/env python3
"""End-to-end checks of qvftp.exe against the vsftpd fixture: a download, the
protocol dialogue with -v, a refused file, a bad command line, an upload, a
resumed download, the listings; the failure lines (against vsftpd, the
scripted server, a closed port, an unknown name, an address without a route
and the silent address); the URL forms.

usage: qvftp_test.py ROOT WINE-WRAPPER qvftp.exe   (ROOT: the server's folder)
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import unittest

ROOT = ""
TOOL = []
HOST = "ftp.norv.test"
PASSIVE_ONLY = "127.0.0.21"  # vsftpd with port_enable=NO (its own folder, the same files)
ACTIVE_ONLY = "127.0.0.22"   # vsftpd with pasv_enable=NO, serving ROOT
ASKS_PASSWORD = ("127.0.0.20", 2100)  # vsftpd with no_anon_password=NO, serving ROOT
SCRIPTED = ("127.0.0.40", 2121, 2120)  # the scripted server: address, FTP port, admin port
SILENT = os.environ.get("NORV_SILENT_ADDR", "198.18.0.2")  # packets to it vanish
NO_ROUTE = "198.18.77.1"  # the test namespace has no route to it


def scripted(request):
    """One request to the scripted server's admin port; its answer lines."""
    with socket.create_connection((SCRIPTED[0], SCRIPTED[2]), timeout=30) as s:
        s.sendall((request + "\n").encode())
        f = s.makefile("r", encoding="latin-1")
        if not request.startswith("LOG"):
            return [f.readline().strip()]
        lines = []
        for line in f:
            if line.strip() == ".":
                break
            lines.append(line.rstrip("\r\n"))
        return lines


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def winpath(p):
    return "Z:" + p.replace("/", "\\")


class Qvftp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def run_tool(self, *args, timeout=300):
        return self.run_tool_in(None, *args, timeout=timeout)

    def run_tool_in(self, folder, *args, timeout=300):
        p = subprocess.run(TOOL + list(args), capture_output=True, timeout=timeout, cwd=folder)
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
        # Redirected: the summary line only, no meter (no carriage return
        # but the one of a line end, no percentage, no time left).
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertNotRegex(err, r"\r(?!\n)|%|left")
        rc, _, err = self.run_tool("get", "-q", HOST, "small.txt", winpath(out))
        self.assertEqual(rc, 0, err)
        self.assertEqual(err, "")

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

    def test_failure_lines_say_what_where_and_why(self):
        """One line per failure: the host, the port and the cause."""
        out = os.path.join(self.dir.name, "never.bin")
        closed = free_port()
        sh, sp = SCRIPTED[0], SCRIPTED[1]
        cases = [
            # (name, scenario for the scripted server or None, arguments, the line as a pattern)
            ("unknown host", None, ["-t", "5000", "nosuch.invalid", "/x", winpath(out)],
             r"Could not resolve host: nosuch\.invalid$"),
            ("refused", None, ["-P", str(closed), "127.0.0.1", "/x", winpath(out)],
             r"Failed to connect to 127\.0\.0\.1 port %d after \d+ ms: Couldn't connect to server "
             r"\(10061:Connection refused\)$" % closed),
            ("no route", None, ["-t", "3000", NO_ROUTE, "/x", winpath(out)],
             r"Failed to connect to %s port 21 after \d+ ms: Couldn't connect to server "
             r"\(10051:Network is unreachable\)$" % re.escape(NO_ROUTE)),
            ("connect time-out", None, ["-t", "2000", SILENT, "/x", winpath(out)],
             r"Failed to connect to %s port 21 after (?P<ms>\d+) ms: Timeout was reached$" % re.escape(SILENT)),
            ("550", None, [HOST, "missing.bin", winpath(out)],
             r"550 Failed to open file\. \(the answer to RETR missing\.bin from ftp\.norv\.test port 21\)$"),
            ("530 on login", {"replies": {"PASS": "530 Login incorrect."}},
             ["-P", str(sp), "-u", "bob", "-p", "x", sh, "f.bin", winpath(out)],
             r"530 Login incorrect\. \(the answer to PASS from %s port %d, logging in as bob\)$" % (sh, sp)),
            ("reply time-out", {"replies": {"RETR": {"hang": True}}},
             ["-A", "-t", "2000", "-P", str(sp), sh, "slow.bin", winpath(out)],
             r"Operation timed out: nothing from %s port %d for 2000 ms, waiting after RETR slow\.bin "
             r"\(Timed out waiting for the server\)$" % (sh, sp)),
            ("local file", None, [HOST, "small.txt", winpath(os.path.join(self.dir.name, "no-dir", "f"))],
             r"cannot write the local file .*no-dir\\f: Cannot create file .* "
             r"\(RETR small\.txt from ftp\.norv\.test port 21\)$"),
        ]
        for name, scenario, args, pattern in cases:
            with self.subTest(name):
                if scenario is not None:
                    self.assertEqual(scripted("SCENARIO " + json.dumps(scenario)), ["OK"])
                rc, _, err = self.run_tool("get", *args, timeout=120)
                self.assertEqual(rc, 1, err)
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, err)
                m = re.match(r"qvftp: " + pattern, lines[0])
                self.assertTrue(m, lines[0])
                if "ms" in m.groupdict():
                    self.assertGreaterEqual(int(m.group("ms")), 1900)
                self.assertFalse(os.path.exists(out))

    def test_url_forms(self):
        with open(os.path.join(ROOT, "sub", "inner.txt"), "rb") as f:
            want = f.read()
        # A user, a password with escapes and a port; no local name: the
        # file's own name in the current folder.
        host, port = ASKS_PASSWORD
        rc, _, err = self.run_tool_in(self.dir.name, "get", "-v",
                                      "ftp://anonymous:me%%40x.y%%20z@%s:%d/sub/inner.txt" % (host, port))
        self.assertEqual(rc, 0, err)
        self.assertIn("331 Please specify the password.", err)
        self.assertIn("230 Login successful.", err)
        with open(os.path.join(self.dir.name, "inner.txt"), "rb") as f:
            self.assertEqual(f.read(), want)
        # A local name given, the listing and an upload to a folder URL.
        rc, _, err = self.run_tool("get", "ftp://%s/%%2Fsub/inner.txt" % HOST, winpath(os.path.join(self.dir.name, "b")))
        self.assertEqual(rc, 0, err)
        rc, out, err = self.run_tool("nlst", "ftp://%s:%d/list/" % (host, port))
        self.assertEqual(rc, 0, err)
        self.assertEqual(sorted(out.split()), ["alpha.txt", "beta.bin", "gamma"])
        src = os.path.join(self.dir.name, "url put.bin")
        with open(src, "wb") as f:
            f.write(b"x" * 1000)
        stored = os.path.join(ROOT, "incoming", "url put.bin")
        rc, _, err = self.run_tool("put", "ftp://%s/incoming/" % HOST, winpath(src))
        self.assertEqual(rc, 0, err)
        self.assertEqual(os.path.getsize(stored), 1000)
        os.remove(stored)
        # What the server receives is the decoded text.
        self.assertEqual(scripted('SCENARIO {}'), ["OK"])
        rc, _, err = self.run_tool_in(self.dir.name, "get", "-A",
                                      "ftp://b%%6Fb:s%%3Ac%%40t@%s:%d/dir%%20x/f.bin" % SCRIPTED[:2])
        self.assertEqual(rc, 1, err)
        log = scripted("LOG")
        for line in ("USER bob", "PASS s:c@t", "RETR dir x/f.bin"):
            self.assertIn(line, log)
        # Refused with one clear line, before anything is sent.
        for url, word in (("http://%s/small.txt" % HOST, "http://"), ("sftp://%s/small.txt" % HOST, "sftp://"),
                          ("ftp:///small.txt", "host"), ("ftp://%s/" % HOST, "file"),
                          ("ftp://%s/sub/" % HOST, "file"), ("ftp://%s/sub/.." % HOST, "file"),
                          ("ftp://%s/a%%0d%%0aDELE%%20b" % HOST, "control character")):
            with self.subTest(url):
                rc, _, err = self.run_tool_in(self.dir.name, "get", url)
                self.assertEqual(rc, 2)
                first = err.splitlines()[0]
                self.assertTrue(first.startswith("qvftp: ") and word in first, first)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["b", "inner.txt", "url put.bin"])

    def test_help_goes_to_stdout(self):
        for flag in ("--help", "-h"):
            rc, out, err = self.run_tool(flag)
            self.assertEqual((rc, err), (0, ""))
            self.assertIn("usage: qvftp get", out)


if __name__ == "__main__":
    ROOT = sys.argv[1]
    TOOL = sys.argv[2:]
    # QVFTP_TESTS: a pattern that picks cases (unittest -k), for the product stage.
    pick = ["-k", os.environ["QVFTP_TESTS"]] if os.environ.get("QVFTP_TESTS") else []
    unittest.main(argv=[sys.argv[0], "-v"] + pick)
