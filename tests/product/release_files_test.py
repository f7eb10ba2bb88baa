#!/usr/bin/env python3
"""What Windows and its administrators read out of the release: for each file
of the release archive its manifest (programs), version resource, Authenticode
signature, the link to its debug information in the symbols archive, and the
properties it keeps (32-bit image, ASLR and DEP, imports from Known DLLs
only); for the command-line tools of the build the manifest and the version
resource. The signature check runs osslsigncode verify against the signer's
certificate that make dist recorded, on each file as shipped and on damaged
copies of it.

usage: release_files_test.py RELEASE.zip SYMBOLS.zip SIGNER.pem VERSION COMPANY TOOLS-DIR BINUTILS-PREFIX
"""
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peimage import PEImage, RT_MANIFEST, RT_VERSION, WIN_CERT_TYPE_PKCS_SIGNED_DATA, version_info  # noqa: E402

RELEASE_ZIP = SYMBOLS_ZIP = SIGNER = VERSION = COMPANY = TOOLS_DIR = BINUTILS = ""

# The release and the execution level each program asks for (None: a library).
RELEASE = {
    "NorvUpdate.exe": "requireAdministrator",
    "Romwrite.exe": "requireAdministrator",
    "Romscope.dll": None,
    "NorvSite.dll": None,
    "unzip32.dll": None,
}
# The command-line tools of the build: not shipped, but run as invoker.
TOOLS = ["norvidx.exe", "qvftp.exe", "qvping.exe", "qvtrace.exe", "qvsock.exe"]

# Libraries that Windows always takes from the system folder: the only ones a
# release file may name in its import table (any other would be looked for in
# the program's folder first, before a line of ours runs).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
DPI = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE_NX_COMPAT = 0x0140


def verify(path):
    p = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNER, "-in", path],
                       capture_output=True, text=True, errors="replace")
    return p.returncode, p.stdout + p.stderr


class ReleaseFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = os.path.join(cls.tmp.name, "NorvUpdate")
        # Both archives unpacked into one place, as a user who wants to read a
        # crash address does: each .debug file lands beside its file.
        for archive in (RELEASE_ZIP, SYMBOLS_ZIP):
            with zipfile.ZipFile(archive) as z:
                z.extractall(cls.tmp.name)
        cls.images = {}
        for name in RELEASE:
            with open(os.path.join(cls.dir, name), "rb") as f:
                cls.images[name] = PEImage(f.read())

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check_manifest(self, image, level):
        manifests = image.resources_of_type(RT_MANIFEST)
        self.assertEqual(len(manifests), 1, "one manifest")
        root = ET.fromstring(manifests[0])
        self.assertEqual(root.find(ASM_V1 + "assemblyIdentity").get("processorArchitecture"), "x86")
        levels = [e.get("level") for e in root.iter(ASM_V3 + "requestedExecutionLevel")]
        self.assertEqual(levels, [level])
        controls = [e for e in root.iter(ASM_V1 + "assemblyIdentity")
                    if e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(len(controls), 1, "the common controls dependency")
        self.assertEqual(controls[0].get("version"), "6.0.0.0")
        self.assertEqual(controls[0].get("publicKeyToken"), "6595b64144ccf1df")
        self.assertEqual({e.get("Id") for e in root.iter(COMPAT + "supportedOS")}, SUPPORTED_OS)
        # DPI unaware: Windows scales the fixed 96 DPI layout.
        self.assertEqual([e.text for e in root.iter(DPI + "dpiAware")], ["false"])
        self.assertEqual(list(root.iter("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")), [])

    def check_version(self, image, name):
        resources = image.resources_of_type(RT_VERSION)
        self.assertEqual(len(resources), 1, "one version resource")
        fixed, strings = version_info(resources[0])
        numbers = tuple(int(n) for n in VERSION.split(".")) + (0,)
        self.assertEqual(fixed["file_version"], numbers)
        self.assertEqual(fixed["product_version"], numbers)
        self.assertEqual(fixed["file_type"], 1 if name.endswith(".exe") else 2)  # VFT_APP / VFT_DLL
        self.assertEqual(strings.get("ProductName"), "NORV Update")
        self.assertEqual(strings.get("CompanyName"), COMPANY)
        self.assertEqual(strings.get("FileVersion"), VERSION)
        self.assertEqual(strings.get("ProductVersion"), VERSION)
        self.assertEqual(strings.get("OriginalFilename"), name)
        self.assertTrue(strings.get("FileDescription"))
        return strings["FileDescription"]

    def test_each_release_file_carries_its_manifest_version_and_signature(self):
        descriptions = set()
        for name, level in RELEASE.items():
            with self.subTest(file=name):
                image = self.images[name]
                self.assertEqual((image.machine, image.magic), (0x14C, 0x10B), "a PE32 image for i386")
                self.assertEqual(image.dll_characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE_NX_COMPAT,
                                 IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE_NX_COMPAT, "ASLR and DEP")
                foreign = {d.lower() for d in image.imports()} - KNOWN_DLLS
                self.assertEqual(foreign, set(), "imports from Known DLLs only")
                if level:
                    self.check_manifest(image, level)
                else:
                    self.assertEqual(image.resources_of_type(RT_MANIFEST), [])
                descriptions.add(self.check_version(image, name))
                certs = image.certificates()
                self.assertEqual([(c[0], c[1]) for c in certs], [(0x200, WIN_CERT_TYPE_PKCS_SIGNED_DATA)],
                                 "one Authenticode signature")
                rc, out = verify(os.path.join(self.dir, name))
                self.assertEqual(rc, 0, out)
        self.assertEqual(len(descriptions), len(RELEASE), "a description of its own for each file")

    def test_a_damaged_or_unsigned_file_fails_the_signature_check(self):
        def code_byte(image):  # in the code, which the signature's hash covers
            text = image.section(".text")
            return text.rawptr + text.rawsize // 2

        def signature_byte(image):  # in the signer's encrypted digest, near the blob's end
            _, _, blob, offset, _ = image.certificates()[0]
            der_length = 4 + int.from_bytes(blob[2:4], "big")  # SEQUENCE with a two-byte length
            return offset + 8 + der_length - 16

        def flip(at):
            return lambda data, image: data[:at(image)] + bytes([data[at(image)] ^ 0x01]) + data[at(image) + 1:]

        def unsign(data, image):
            out = os.path.join(self.tmp.name, "unsigned")
            src = os.path.join(self.tmp.name, "signed")
            with open(src, "wb") as f:
                f.write(data)
            if os.path.exists(out):  # osslsigncode writes no file over an old one
                os.remove(out)
            subprocess.run(["osslsigncode", "remove-signature", "-in", src, "-out", out],
                           check=True, capture_output=True)
            with open(out, "rb") as f:
                return f.read()

        damages = {"a byte of code changed": flip(code_byte),
                   "a byte of the signature changed": flip(signature_byte),
                   "the signature removed": unsign}
        for name in RELEASE:
            with open(os.path.join(self.dir, name), "rb") as f:
                data = f.read()
            for damage, change in damages.items():
                with self.subTest(file=name, damage=damage):
                    copy = os.path.join(self.tmp.name, "damaged-" + name)
                    with open(copy, "wb") as f:
                        f.write(change(data, self.images[name]))
                    rc, out = verify(copy)
                    self.assertNotEqual(rc, 0, out)

    def test_debug_information_is_beside_each_file_and_reads_an_address(self):
        for name in RELEASE:
            with self.subTest(file=name):
                image = self.images[name]
                self.assertEqual([s.name for s in image.sections if s.name.startswith(".debug")], [],
                                 "no debug sections in the release")
                link = image.section_bytes(".gnu_debuglink")
                self.assertIsNotNone(link, "a debug link")
                debug_name = link[:link.index(b"\0")].decode()
                self.assertEqual(debug_name, name + ".debug")
                crc = int.from_bytes(link[-4:], "little")
                with open(os.path.join(self.dir, debug_name), "rb") as f:
                    debug = f.read()
                self.assertEqual(zlib.crc32(debug), crc, "the link's checksum is the symbols file's")
                self.assertIsNotNone(PEImage(debug).section(".debug_info"))
        # A code address of the wizard read back to its source file through the link.
        symbols = subprocess.run([BINUTILS + "nm", os.path.join(self.dir, "NorvUpdate.exe.debug")],
                                 capture_output=True, text=True, check=True).stdout
        address = next(line.split()[0] for line in symbols.splitlines() if line.endswith(" _WinMain@16"))
        where = subprocess.run([BINUTILS + "addr2line", "-e", os.path.join(self.dir, "NorvUpdate.exe"), address],
                               capture_output=True, text=True, check=True).stdout
        self.assertRegex(where, r"NorvUpdate\.cpp:\d+")

    def test_each_tool_runs_as_invoker_and_carries_a_version(self):
        for name in TOOLS:
            with self.subTest(file=name):
                with open(os.path.join(TOOLS_DIR, name), "rb") as f:
                    image = PEImage(f.read())
                self.check_manifest(image, "asInvoker")
                self.check_version(image, name)


if __name__ == "__main__":
    if len(sys.argv) < 8:
        sys.exit(__doc__)
    RELEASE_ZIP, SYMBOLS_ZIP, SIGNER, VERSION, COMPANY, TOOLS_DIR, BINUTILS = sys.argv[1:8]
    unittest.main(argv=sys.argv[:1] + sys.argv[8:])
