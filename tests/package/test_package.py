"""The release zip made by scripts/package.py from the 32-bit build: its layout, the 32-bit
programs with their contract and no MinGW runtime, the stand-in kept apart and labelled, the texts
it carries; and the version resource of quillon.dll (both builds) with the project version."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "contract"))
import pe_contract  # noqa: E402

ROOT = os.path.join(HERE, "..", "..")
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", _f.read())[1]
TOP = "quillon-" + VERSION
EXPECTED = {
    "README.txt", "quillon.dll", "quillon_host.exe", "QUILLON.ini", "include/quillon.h",
    "decoder/mykad_decoder.h", "decoder/mykad_decoder.cpp", "decoder/quillon_build_config.h",
    "decoder/quillon_mykad_decode.exe", "standin/OrvMyKad.dll", "standin/README.txt",
    "standin/scenario-format.md"}


def version_resource(path):
    """(file version, product version, {string name: text}) of the VS_VERSION_INFO resource."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    if at < 0:
        return None
    words = struct.unpack_from("<4I", data, at + 8)
    split = [(w >> 16, w & 0xFFFF) for w in words]
    strings = {}
    for name in ("FileVersion", "ProductVersion", "OriginalFilename"):
        key = data.find((name + "\0").encode("utf-16-le"), at)
        value = key + 2 * len(name) + 2
        value += -value % 4  # values are 32-bit aligned
        end = next(i for i in range(value, len(data), 2) if data[i:i + 2] == b"\0\0")
        strings[name] = data[value:end].decode("utf-16-le")
    return split[0] + split[1], split[2] + split[3], strings


class ReleasePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package.py"),
                                 os.environ["QUILLON_WIN32_DIR"], tempfile.mkdtemp()],
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError("package.py failed: " + result.stdout + result.stderr)
        cls.zip_path = result.stdout.strip()
        cls.unpacked = tempfile.mkdtemp()
        with zipfile.ZipFile(cls.zip_path) as z:
            cls.names = z.namelist()
            z.extractall(cls.unpacked)

    def path(self, name):
        return os.path.join(self.unpacked, TOP, name)

    def test_layout_is_the_documented_one_in_one_folder_named_for_the_version(self):
        self.assertEqual(os.path.basename(self.zip_path), TOP + "-win32.zip")
        docs = {"docs/" + n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md")}
        self.assertIn("docs/settings.md", docs)
        self.assertEqual(set(self.names), {"%s/%s" % (TOP, n) for n in EXPECTED | docs})

    def test_programs_are_the_32_bit_kit_without_the_mingw_runtime(self):
        self.assertEqual(pe_contract.check_dll(self.path("quillon.dll"), ["ProcessWebMessage"]), [])
        host = pe_contract.pe_info(self.path("quillon_host.exe"))
        self.assertEqual(host["imports"]["quillon.dll"], ["ProcessWebMessage"])
        self.assertEqual(pe_contract.check_dll(self.path("standin/OrvMyKad.dll"),
                                               ["OrvMyKadInit"]), [])
        for name in ("quillon.dll", "quillon_host.exe", "decoder/quillon_mykad_decode.exe"):
            imported = pe_contract.pe_info(self.path(name))["imports"]
            self.assertEqual([d for d in imported if re.search("gcc|stdc\\+\\+|pthread", d)], [])
        with open(self.path("standin/README.txt")) as f:
            self.assertIn("DO NOT SHIP", f.read())

    def test_headers_decoder_and_settings_are_those_of_this_tree(self):
        for inside, source in (("include/quillon.h", "include/quillon.h"),
                               ("decoder/mykad_decoder.cpp",
                                "tools/mykad-decoder/mykad_decoder.cpp")):
            with open(self.path(inside), "rb") as a, open(os.path.join(ROOT, source), "rb") as b:
                self.assertEqual(a.read(), b.read(), inside)
        with open(self.path("QUILLON.ini"), "rb") as a, \
                open(os.path.join(ROOT, "packaging", "QUILLON.ini"), "rb") as b:
            self.assertEqual(a.read(), b.read().replace(b"\n", b"\r\n"))
        # The decoder builds from the zip alone; the header compiles as C for the 32-bit target.
        with open(os.path.join(self.unpacked, "host.c"), "w") as f:
            f.write('#include "quillon.h"\nint call(char* reply) { return ProcessWebMessage('
                    '"QLN26", "[PING]", reply) == QUILLON_RESULT_NO_COMMAND; }\n')
        for compiler, source, flags in (
                ("i686-w64-mingw32-g++", self.path("decoder/mykad_decoder.cpp"), ["-std=c++17"]),
                ("i686-w64-mingw32-gcc", os.path.join(self.unpacked, "host.c"),
                 ["-std=c89", "-pedantic", "-Werror", "-I", self.path("include")])):
            subprocess.run([compiler, "-c", "-o", source + ".o", source] + flags, check=True)

    def test_every_link_in_the_shipped_documents_leads_to_a_file_in_the_zip(self):
        broken = []
        for name in self.names:
            if not name.endswith(".md"):
                continue
            with open(os.path.join(self.unpacked, name), encoding="utf-8") as f:
                text = f.read()
            for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", text):
                if not os.path.isfile(os.path.join(os.path.dirname(
                        os.path.join(self.unpacked, name)), target)):
                    broken.append("%s -> %s" % (name, target))
        self.assertEqual(broken, [])

    def test_quillon_dll_of_both_builds_carries_the_project_version(self):
        numbers = tuple(int(n) for n in VERSION.split("."))
        numbers += (0,) * (4 - len(numbers))
        for build in (os.environ["QUILLON_WIN32_DIR"], os.environ["QUILLON_WIN64_DIR"]):
            self.assertEqual(version_resource(os.path.join(build, "quillon.dll")), (
                numbers, numbers, {"FileVersion": VERSION, "ProductVersion": VERSION,
                                   "OriginalFilename": "quillon.dll"}), build)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
