"""The release: the zip package.py makes of the 32-bit build, its export contract (read statically:
no 32-bit code runs here), and every place that states the version or the longest reply."""
import base64
import hashlib
import io
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WIN32, WIN64 = os.environ["QUILLON_WIN32_DIR"], os.environ["QUILLON_WIN64_DIR"]
SAMPLE = "samples/dotnet/QuillonSample.cs"


def read(path, mode="r"):
    with open(os.path.join(ROOT, path), mode, encoding=None if "b" in mode else "utf-8") as f:
        return f.read()


VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+(\d+\.\d+\.\d+)", read("CMakeLists.txt"))[1]
TOP = "quillon-" + VERSION
MACROS = {m[1]: int(m[2]) for m in re.finditer(r"#define (QUILLON_\w+) \(?(-?\d+)\)?",
                                               read("include/quillon.h"))}
DOCS = {"docs/" + n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md")}
# Each file of the zip besides docs/*.md, with the folder it is a copy of (None: checked otherwise).
EXPECTED = {}
for _into, _source, _names in (
        ("", WIN32, "quillon.dll quillon_host.exe quillon_doctor.exe quillon_bridge.exe"),
        ("decoder/", WIN32, "quillon_mykad_decode.exe"), ("standin/", WIN32, "OrvMyKad.dll"),
        ("", "", "CHANGELOG.md"), ("", "clients/install", "install.cmd quillon.bridge.json"),
        ("include/", "include", "quillon.h"),
        ("samples/dotnet/", "samples/dotnet", "QuillonSample.cs README.md"),
        ("decoder/", "tools/mykad-decoder", "mykad_decoder.h mykad_decoder.cpp"),
        ("", None, "README.txt QUILLON.ini"), ("decoder/", None, "quillon_build_config.h"),
        ("standin/", None, "README.txt scenario-format.md"),
        # The web client, extension and demo page ship without their tests and build files.
        ("clients/extension/", "clients/extension", "manifest.json schema.json background.js "
         "relay.js origins.js content.js options.html options.js"),
        ("clients/", None, "quillon-extension-%s.crx quillon-extension-update.xml" % VERSION),
        ("clients/js/", "clients/js", "quillon.js package.json README.md"),
        ("clients/demo/", "clients/demo", "index.html demo.js mykad.js")):
    EXPECTED.update({_into + n: _source for n in _names.split()})
READER_FUNCTIONS = ["OrvMyKad" + f for f in (
    "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData", "IsEBA",
    "ReadPhoto", "ReadBio", "SecurityLevel", "VerifyFinger", "Close")]


def objdump(*args, arch="i686"):
    return subprocess.run(["%s-w64-mingw32-objdump" % arch] + list(args), capture_output=True,
                          text=True, check=True).stdout


def pe_info(path, arch="i686"):
    """(format, image base, {export: rva}, {imported dll in lower case: [names]})"""
    text = objdump("-p", path, arch=arch)
    rvas = dict(re.findall(r"^\t\[\s*(\d+)\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", text, re.M))
    names = text.partition("[Ordinal/Name Pointer] Table")[2].split("\n\n")[0]
    return (re.search(r"file format (\S+)", text)[1],
            int(re.search(r"^ImageBase\s+([0-9a-f]+)", text, re.M)[1], 16),
            {name: int(rvas[n], 16) for n, name in re.findall(r"\[\s*(\d+)\] (\S+)", names)},
            {dll.lower(): re.findall(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", table) for dll, table in
             re.findall(r"DLL Name: (\S+)\n\tvma:.*\n((?:\t[0-9a-f]+\t.*\n)*)", text)})


def returns(path, names):
    """{export: its first return}: cdecl ends with a plain `ret`, stdcall pops (`ret $0xc`)."""
    _, base, exports, _ = pe_info(path)
    return {n: " ".join(re.search(r"^\s*[0-9a-f]+:\s+(ret\w*\b.*)$", objdump(
        "-d", "--no-show-raw-insn", "--start-address=0x%x" % (base + exports[n]),
        "--stop-address=0x%x" % (base + exports[n] + 4096), path), re.M)[1].split())
        for n in names}


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        r = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package.py"), WIN32,
                            tempfile.mkdtemp()], capture_output=True, text=True)
        assert r.returncode == 0, "package.py: " + r.stdout + r.stderr
        cls.zip_path, cls.unpacked = r.stdout.strip(), tempfile.mkdtemp()
        with zipfile.ZipFile(cls.zip_path) as z:
            cls.names = z.namelist()
            z.extractall(cls.unpacked)

    def shipped(self, name, mode="rb"):
        with open(os.path.join(self.unpacked, TOP, name), mode) as f:
            return f.read()

    def test_zip_holds_the_build_s_programs_and_the_tree_s_files_in_one_versioned_folder(self):
        self.assertEqual(os.path.basename(self.zip_path), TOP + "-win32.zip")
        self.assertIn("docs/settings.md", DOCS)
        self.assertEqual(set(self.names), {"%s/%s" % (TOP, n) for n in set(EXPECTED) | DOCS})
        for name, folder in EXPECTED.items():
            if folder is not None:
                with open(os.path.join(ROOT, folder, os.path.basename(name)), "rb") as f:
                    self.assertEqual(self.shipped(name), f.read(), name)
        self.assertEqual(self.shipped("QUILLON.ini"),
                         read("packaging/QUILLON.ini", "rb").replace(b"\n", b"\r\n"))
        self.assertIn(b"DO NOT SHIP", self.shipped("standin/README.txt"))

    def test_the_packed_extension_s_id_is_its_manifest_key_s_and_the_update_manifest_names_it(self):
        crx = self.shipped("clients/quillon-extension-%s.crx" % VERSION)
        size = struct.unpack("<I", crx[8:12])[0]
        with zipfile.ZipFile(io.BytesIO(crx[12 + size:])) as z:
            manifest, packed = json.loads(z.read("manifest.json")), sorted(z.namelist())
        der = base64.b64decode(manifest["key"])
        digest = hashlib.sha256(der).digest()
        ext_id = "".join(chr(97 + int(c, 16)) for c in digest[:16].hex())
        # The header's signed data (field 10000) holds the ID (field 1, 16 bytes); a proof holds
        # the public key the signature checks against.
        self.assertEqual((crx[:8], manifest["version"]), (b"Cr24\x03\0\0\0", VERSION))
        header = crx[12:12 + size]
        self.assertEqual((b"\x82\xf1\x04\x12\x0a\x10" + digest[:16] in header, der in header),
                         (True, True), "the header's ID and key are not the manifest key's")
        self.assertEqual(packed, sorted(n.split("/")[-1] for n in EXPECTED
                                        if n.startswith("clients/extension/")))
        update = self.shipped("clients/quillon-extension-update.xml", "r")
        self.assertRegex(update, r'<app appid="%s">\s*<updatecheck codebase="https://\S+/'
                         r'quillon-extension-%s.crx" version="%s" />' % (ext_id, VERSION, VERSION))

    def test_decoder_and_header_build_from_the_zip_alone(self):
        host, top = os.path.join(self.unpacked, "host.c"), os.path.join(self.unpacked, TOP)
        with open(host, "w") as f:
            f.write('#include "quillon.h"\nint call(char* reply) { return ProcessWebMessage('
                    '"QLN26", "[PING]", reply) == QUILLON_RESULT_NO_COMMAND; }\n')
        for compiler, source, flags in (
                ("g++", os.path.join(top, "decoder", "mykad_decoder.cpp"), ["-std=c++17"]),
                ("gcc", host, ["-std=c89", "-pedantic", "-Werror", "-I", top + "/include"])):
            subprocess.run(["i686-w64-mingw32-" + compiler, "-c", "-o", source + ".o", source]
                           + flags, check=True)

    def test_every_link_in_the_shipped_documents_leads_to_a_file_in_the_zip(self):
        broken = ["%s -> %s" % (name, t) for name in self.names if name.endswith(".md")
                  for t in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)",
                                      self.shipped(name[len(TOP) + 1:], "r"))
                  if not os.path.isfile(os.path.join(self.unpacked, os.path.dirname(name), t))]
        self.assertEqual(broken, [])

    def test_shipped_programs_keep_the_cdecl_exports_and_need_no_mingw_runtime(self):
        path = lambda name: os.path.join(self.unpacked, TOP, name)  # noqa: E731
        # ProcessWebMessage is the one way in, in the product and in its twin.
        for build, arch, pe in ((WIN32, "i686", "pei-i386"), (WIN64, "x86_64", "pei-x86-64")):
            dll = pe_info(os.path.join(build, "quillon.dll"), arch)
            self.assertEqual((dll[0], list(dll[2])), (pe, ["ProcessWebMessage"]), build)
        self.assertEqual(returns(path("quillon.dll"), ["ProcessWebMessage"]),
                         {"ProcessWebMessage": "ret"})
        # The stand-in keeps the contract quillon.dll relies on in the maker's library.
        self.assertEqual(returns(path("standin/OrvMyKad.dll"), READER_FUNCTIONS),
                         dict.fromkeys(READER_FUNCTIONS, "ret"))
        self.assertEqual(pe_info(path("quillon_host.exe"))[3]["quillon.dll"], ["ProcessWebMessage"])
        for name in ("quillon.dll", "quillon_host.exe", "standin/OrvMyKad.dll",
                     "decoder/quillon_mykad_decode.exe"):
            info = pe_info(path(name))
            runtime = [d for d in info[3] if re.search(r"gcc|stdc\+\+|pthread", d)]
            self.assertEqual((info[0], runtime), ("pei-i386", []), name)
        # The programs that load quillon.dll from their folder import only DLLs that Windows
        # takes from its system folder whatever lies beside them (its known DLLs).
        for name in ("quillon_bridge.exe", "quillon_doctor.exe"):
            self.assertLessEqual(set(pe_info(path(name))[3]), {
                "kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "ws2_32.dll"}, name)

    def test_a_stdcall_export_with_an_undecorated_name_is_told_by_its_return(self):
        folder = tempfile.mkdtemp()
        source, dll = os.path.join(folder, "entry.c"), os.path.join(folder, "variant.dll")
        with open(source, "w") as f:
            f.write("__declspec(dllexport) int __stdcall ProcessWebMessage(const char* a, "
                    "const char* r, char* o) { return a[0] + r[0] + o[0]; }\n")
        subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-shared", "-Wl,--kill-at", "-o", dll,
                        source], check=True)
        self.assertEqual(returns(dll, ["ProcessWebMessage"]), {"ProcessWebMessage": "ret $0xc"})

    def test_every_place_that_states_the_version_has_the_cmake_one(self):
        headings = re.findall(r"^## (.+)$", read("CHANGELOG.md"), re.M)
        self.assertEqual((headings[0], VERSION in headings), ("Unreleased", True))
        for path in ("clients/js/package.json", "clients/extension/manifest.json"):
            self.assertEqual(json.loads(read(path))["version"], VERSION, path)
        numbers = ", ".join((VERSION.split(".") + ["0"])[:4])
        for build in (WIN32, WIN64):
            for program in ("quillon.dll", "quillon_bridge.exe"):
                rc = subprocess.run(["x86_64-w64-mingw32-windres", "-O", "rc", "-i",
                                     os.path.join(build, program)], capture_output=True,
                                    text=True, check=True).stdout
                for line in ("FILEVERSION " + numbers, "PRODUCTVERSION " + numbers,
                             'VALUE "FileVersion", "%s"' % VERSION,
                             'VALUE "ProductVersion", "%s"' % VERSION,
                             'VALUE "OriginalFilename", "%s"' % program):
                    self.assertIn(line, rc, "%s of %s" % (program, build))

    def test_the_docs_and_the_dotnet_sample_state_the_longest_reply_of_quillon_h(self):
        figure = MACROS["QUILLON_REPLY_MAX"]
        for path in ("docs/commands.md", "docs/bridge.md", "samples/dotnet/README.md"):
            self.assertIn("{:,}".format(figure), read(path), path)
        self.assertIn("public const int ReplyMax = %d;" % figure, read(SAMPLE))
        for name in DOCS:
            for old in (r"\b8,?192\b", r"(?<![\d.])[12] MiB", r"\b524,?28[78]\b"):
                self.assertNotRegex(read(name), old, name)

    def test_dotnet_sample_compiles_without_warnings_and_its_enum_is_quillon_h_s_codes(self):
        with tempfile.TemporaryDirectory() as folder:
            r = subprocess.run(["mcs", "-platform:x86", "-warnaserror", "-out:" + os.path.join(
                folder, "QuillonSample.exe"), os.path.join(ROOT, SAMPLE)], capture_output=True,
                text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        squeeze = lambda name: name.replace("_", "").upper()  # noqa: E731
        enum = re.search(r"enum QuillonResult\s*\{(.*?)\}", read(SAMPLE), re.S)[1]
        self.assertEqual({squeeze(m[1]): int(m[2]) for m in re.finditer(r"(\w+) = (-?\d+)", enum)},
                         {squeeze(k[len("QUILLON_RESULT_"):]): v for k, v in MACROS.items()
                          if k.startswith("QUILLON_RESULT_")})


if __name__ == "__main__":
    unittest.main(verbosity=2)
