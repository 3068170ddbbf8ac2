"""The release zip made by scripts/package.py from the 32-bit build (whose contract
tests/contract checks): its layout, the files it takes from the build and the tree, the stand-in
labelled, a decoder and header that build from the zip alone, links that stay inside it; and the
version resource of quillon.dll (both builds) with the project version."""
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "contract"))
import pe_contract  # noqa: E402

ROOT = os.path.join(HERE, "..", "..")
WIN32, WIN64 = os.environ["QUILLON_WIN32_DIR"], os.environ["QUILLON_WIN64_DIR"]
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", _f.read())[1]
TOP = "quillon-" + VERSION
# What the zip holds besides docs/*.md, with the file each must be (None: checked otherwise).
EXPECTED = {
    "README.txt": None, "QUILLON.ini": None, "decoder/mykad_decoder.h": None,
    "decoder/quillon_build_config.h": None, "standin/README.txt": None,
    "standin/scenario-format.md": None, "include/quillon.h": os.path.join(ROOT, "include"),
    "decoder/mykad_decoder.cpp": os.path.join(ROOT, "tools", "mykad-decoder"),
    "quillon.dll": WIN32, "quillon_host.exe": WIN32, "quillon_doctor.exe": WIN32,
    "decoder/quillon_mykad_decode.exe": WIN32,
    "standin/OrvMyKad.dll": WIN32}


class ReleasePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package.py"),
                                 WIN32, tempfile.mkdtemp()], capture_output=True, text=True)
        assert result.returncode == 0, "package.py: " + result.stdout + result.stderr
        cls.zip_path, cls.unpacked = result.stdout.strip(), tempfile.mkdtemp()
        with zipfile.ZipFile(cls.zip_path) as z:
            cls.names = z.namelist()
            z.extractall(cls.unpacked)

    def read(self, name, folder=None):
        with open(os.path.join(folder, os.path.basename(name)) if folder else
                  os.path.join(self.unpacked, TOP, name), "rb") as f:
            return f.read()

    def test_layout_is_the_documented_one_in_one_folder_named_for_the_version(self):
        self.assertEqual(os.path.basename(self.zip_path), TOP + "-win32.zip")
        docs = {"docs/" + n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md")}
        self.assertIn("docs/settings.md", docs)
        self.assertEqual(set(self.names), {"%s/%s" % (TOP, n) for n in set(EXPECTED) | docs})

    def test_programs_come_from_the_32_bit_build_and_sources_from_this_tree(self):
        for name, folder in EXPECTED.items():
            if folder:
                self.assertEqual(self.read(name), self.read(name, folder), name)
        self.assertEqual(self.read("QUILLON.ini"),
                         self.read("QUILLON.ini", os.path.join(ROOT, "packaging")).replace(
                             b"\n", b"\r\n"))
        self.assertIn(b"DO NOT SHIP", self.read("standin/README.txt"))

    def test_decoder_and_header_build_from_the_zip_alone(self):
        with open(os.path.join(self.unpacked, "host.c"), "w") as f:
            f.write('#include "quillon.h"\nint call(char* reply) { return ProcessWebMessage('
                    '"QLN26", "[PING]", reply) == QUILLON_RESULT_NO_COMMAND; }\n')
        for compiler, source, flags in (
                ("i686-w64-mingw32-g++", os.path.join(self.unpacked, TOP, "decoder",
                                                      "mykad_decoder.cpp"), ["-std=c++17"]),
                ("i686-w64-mingw32-gcc", os.path.join(self.unpacked, "host.c"),
                 ["-std=c89", "-pedantic", "-Werror", "-I", os.path.join(self.unpacked, TOP,
                                                                         "include")])):
            subprocess.run([compiler, "-c", "-o", source + ".o", source] + flags, check=True)

    def test_every_link_in_the_shipped_documents_leads_to_a_file_in_the_zip(self):
        broken = ["%s -> %s" % (name, target) for name in self.names if name.endswith(".md")
                  for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)",
                                           self.read(name[len(TOP) + 1:]).decode("utf-8"))
                  if not os.path.isfile(os.path.join(self.unpacked, os.path.dirname(name), target))]
        self.assertEqual(broken, [])

    def test_quillon_dll_of_both_builds_carries_the_project_version(self):
        numbers = ", ".join((VERSION.split(".") + ["0"] * 4)[:4])
        for build in (WIN32, WIN64):
            rc = subprocess.run(["x86_64-w64-mingw32-windres", "-O", "rc", "-i",
                                 os.path.join(build, "quillon.dll")], capture_output=True,
                                text=True, check=True).stdout
            for line in ("FILEVERSION " + numbers, "PRODUCTVERSION " + numbers,
                         'VALUE "FileVersion", "%s"' % VERSION,
                         'VALUE "ProductVersion", "%s"' % VERSION,
                         'VALUE "OriginalFilename", "quillon.dll"'):
                self.assertIn(line, rc, build)


if __name__ == "__main__":
    pe_contract.main()
