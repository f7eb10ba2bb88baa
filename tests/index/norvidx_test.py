#!/usr/bin/env python3
"""End-to-end checks of the norvidx tool: exit codes, output, and that FILE is kept.

usage: norvidx_test.py TOOL [WRAPPER...]   (e.g. scripts/wine.sh norvidx.exe)
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = []

SITE = (b"-- site index\n<product> Graphics\n<path> vga/vga.idx\n<~product>\n"
        b"<product> MOTHERBOARD all models\n<path> bios/board.idx\n")

VERSIONS = (b"-- version index\n<product> MODEL-B2\n<version> 1001\n<~product>\n"
            b"<product> model-a1\n<version> 1003\n<release-date> 2000/11/20\n"
            b"<description> Supports new processors.\n\nFixes the clock setting.\n<~description>\n"
            b"<path> /pub/bios/a1/a1v1003.zip\n<~version>\n"
            b"<version> 1004\n<path> /pub/bios/a1/a1v1004.zip\n<~product>\n")


class Norvidx(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_tool(self, *args):
        p = subprocess.run(TOOL + list(args), capture_output=True, timeout=120)
        return p.returncode, p.stdout, p.stderr

    def lint(self, data, *model):
        path = self.write("lint.idx", data)
        rc, out, _ = self.run_tool("lint", path, *model)
        prefix = path.encode() + b":"
        lines = out.decode("latin-1").splitlines()
        for line in lines:
            self.assertTrue(line.startswith(prefix.decode("latin-1")), line)
        return rc, [(int(l[len(prefix):].split(":", 1)[0]), l[len(prefix):].split(": ", 1)[1]) for l in lines]

    def test_site_prints_the_location_or_exits_1_silently(self):
        path = self.write("Path.idx", SITE)
        self.assertEqual(self.run_tool("site", path, "Motherboard")[:2], (0, b"bios/board.idx\n"))
        self.assertEqual(self.run_tool("site", path, "Default")[:2], (1, b""))
        rc, out, err = self.run_tool("site", path + ".missing", "Motherboard")
        self.assertEqual((rc, out), (1, b""))
        self.assertIn(b"Index file opened error", err)

    def test_versions_prints_the_committed_entries_as_json_and_keeps_the_file(self):
        path = self.write("board.idx", VERSIONS)
        rc, out, _ = self.run_tool("versions", path, "MODEL-A1")
        self.assertEqual(rc, 0)
        self.assertTrue(os.path.exists(path))
        self.assertEqual(json.loads(out), [{
            "version_text": "Version 1003", "release_date": "2000/11/20\n",
            "path": "/pub/bios/a1/a1v1003.zip", "sha256": "",
            "description": ["Supports new processors.\n", "", "Fixes the clock setting.\n"]}])
        rc, out, _ = self.run_tool("versions", path, "MODEL-B2")
        self.assertEqual((rc, json.loads(out)), (1, []))

    def test_versions_json_keeps_every_byte(self):
        raw = b"\"q\" \\ \x01\x7f\xe9\xff"
        path = self.write("bytes.idx", b"<product> M\n<version> " + raw + b"\n<~version>\n"
                          b"<version> 2\n<description>\t\x80x\r\n<~version>")
        rc, out, _ = self.run_tool("versions", path, "m")
        self.assertEqual(rc, 0)
        self.assertTrue(all(b < 0x80 for b in out))  # plain ASCII
        got = json.loads(out)
        self.assertEqual(got[0]["version_text"].encode("latin-1"), b"Version " + raw)
        self.assertIsNone(got[0]["description"])
        self.assertEqual(got[1]["description"], ["\x80x\n"])

    def test_lint_of_a_clean_file_and_of_an_unreadable_one(self):
        clean = (b"-- ok\n<product> MODEL-A1\n<version> 1\n<release-date> 2001/01/01\n"
                 b"<description> a\n<~description>\n<path> a.zip\n<~version>\n<~product>\n")
        self.assertEqual(self.lint(clean), (0, []))
        self.assertEqual(self.lint(clean, "MODEL-A1"), (0, []))
        rc, out, _ = self.run_tool("lint", os.path.join(self.dir.name, "missing.idx"))
        self.assertEqual((rc, out), (2, b""))
        self.assertEqual(self.run_tool("lint")[0], 2)

    def test_lint_reports_each_kind_of_lost_line_with_its_number(self):
        data = (b"<product> MODEL-A1\n"                               # 1
                b"<version> 1\n<path> one.zip\n<description> d\n"     # 2-4
                b"<path> lost.zip\n<release-date> lost\n"             # 5-6 inside the description
                b"<~product>\n"                                       # 7: version 1 never listed
                b"<product> MODEL-A1\n"                               # 8
                b"<version>2\n"                                       # 9: glued
                b" -- indented\n"                                     # 10
                b"<version> 3\n<~version>\n"                          # 11-12: inherits line 3 and 4
                b"<version> 4\n" + b"x" * 300 + b"\n"                 # 13-14: cut
                b"<~version>\n<product> MODEL-A1 \n<~product>\n"      # 15-17: trailing blank
                b"\x1a<version> 5\n")                                 # 18: Ctrl-Z
        rc, warnings = self.lint(data, "model-a1")
        self.assertEqual(rc, 1)
        lines = [n for n, _ in warnings]
        self.assertEqual(lines, [2, 5, 6, 9, 10, 11, 14, 16, 18], warnings)
        text = dict(warnings)
        self.assertIn('"Version 1" is never listed', text[2])
        self.assertIn("<path>", text[5])
        self.assertIn("<release-date>", text[6])
        self.assertIn("glued", text[9])
        self.assertIn("indented comment", text[10])
        self.assertIn('"<path>" of line 3', text[11])
        self.assertIn('"<description>" of line 4', text[11])
        self.assertIn("255", text[14])
        self.assertIn("blanks", text[16])
        self.assertIn("Ctrl-Z", text[18])

    def test_lint_and_versions_of_sha256_lines(self):
        good = b"ab" * 32
        data = (b"<product> MODEL-A1\n<version> 1\n<sha256> " + good + b"\n<~version>\n"   # 1-4
                b"<version> 2\n<sha256> " + good[:-1] + b"\n<~version>\n"                # 5-7: 63 digits
                b"<version> 3\n<description> d\n<sha256> " + good + b"\n<~version>\n")  # 8-11: in a description
        rc, warnings = self.lint(data, "MODEL-A1")
        self.assertEqual(rc, 1)
        self.assertEqual([n for n, _ in warnings], [6, 10], warnings)
        path = self.write("sha.idx", data)
        rc, out, _ = self.run_tool("versions", path, "MODEL-A1")
        got = json.loads(out)
        self.assertEqual([e["sha256"] for e in got], [good.decode(), good[:-1].decode(), ""])
        self.assertEqual(got[2]["description"], ["d\n", "<sha256> " + good.decode() + "\n"])

    @unittest.skipUnless(os.environ.get("NORV_TEST_KEYS"), "no test keys (NORV_TEST_KEYS)")
    def test_hash_and_verify_as_a_publisher_uses_them(self):
        keys = os.environ["NORV_TEST_KEYS"]
        k = lambda name: os.path.join(keys, name)
        with open(k("vector.sha256"), "rb") as f:
            want = f.read()[:64]
        self.assertEqual(self.run_tool("hash", k("vector.bin"))[:2], (0, b"<sha256> " + want + b"\n"))
        self.assertEqual(self.run_tool("hash", k("missing.bin"))[0], 2)
        with open(k("vector.bin"), "rb") as f:
            data = bytearray(f.read())
        data[100] ^= 1
        changed = self.write("changed.bin", bytes(data))
        for args, rc in [((k("vector.bin"), k("publisher.der")), 0),              # SIG beside FILE
                         ((k("vector.bin"), k("vector.bin.sig"), k("publisher.pub.pem")), 0),
                         ((changed, k("vector.bin.sig"), k("publisher.der")), 1),
                         ((k("vector.bin"), k("vector.bin.other.sig"), k("publisher.der")), 1),
                         ((changed, k("publisher.der")), 1),                       # no changed.bin.sig
                         ((k("vector.bin"), k("vector.bin.short.sig"), k("short.der")), 2),
                         ((k("vector.bin"), k("vector.bin.sig"), k("vector.bin")), 2)]:
            with self.subTest(args=args):
                self.assertEqual(self.run_tool("verify", *args)[0], rc)

    def test_lint_without_a_model_checks_every_board_on_its_own(self):
        data = (b"<product> A\n<version> 1\n<path> a.zip\n<~product>\n"   # 1-4: A's version 1 never listed
                b"<product> B\n<version> 2\n<~version>\n<~product>\n"     # 5-8: B inherits nothing of A
                b"<product> a\n<version> 3\n<~version>\n")                # 9-11: A's version 3 inherits a.zip
        rc, warnings = self.lint(data)
        self.assertEqual(rc, 1)
        self.assertEqual([n for n, _ in warnings], [2, 10], warnings)
        self.assertIn('"<path>" of line 3', warnings[1][1])
        # For board B alone the file is clean.
        self.assertEqual(self.lint(data, "B"), (0, []))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    TOOL = sys.argv[1:]
    unittest.main(argv=[sys.argv[0]], verbosity=2)
