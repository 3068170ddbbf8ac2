"""The release zip made by scripts/package.py from the 32-bit build: its layout, the 32-bit DLL
with its cdecl export, the stand-in kept apart and labelled, and the texts it carries."""
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
import version_info  # noqa: E402

ROOT = os.path.join(HERE, "..", "..")
WIN32_DIR = os.environ.get("QUILLON_WIN32_DIR", "")

EXPECTED = {
    "README.txt", "quillon.dll", "quillon_host.exe", "QUILLON.ini", "include/quillon.h",
    "decoder/mykad_decoder.h", "decoder/mykad_decoder.cpp", "decoder/quillon_build_config.h",
    "decoder/quillon_mykad_decode.exe", "standin/OrvMyKad.dll", "standin/README.txt",
    "standin/scenario-format.md",
}


class ReleasePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        out = tempfile.mkdtemp()
        result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package.py"),
                                 WIN32_DIR, out], capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError("package.py failed: " + result.stdout + result.stderr)
        cls.zip_path = result.stdout.strip()
        cls.unpacked = tempfile.mkdtemp()
        with zipfile.ZipFile(cls.zip_path) as z:
            cls.names = z.namelist()
            z.extractall(cls.unpacked)
        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            cls.version = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", f.read()).group(1)
        cls.top = "quillon-%s" % cls.version

    def path(self, name):
        return os.path.join(self.unpacked, self.top, name)

    def test_zip_is_named_for_the_version_and_holds_one_folder(self):
        self.assertEqual(os.path.basename(self.zip_path), "%s-win32.zip" % self.top)
        self.assertEqual({n.split("/")[0] for n in self.names}, {self.top})

    def test_contents_are_the_documented_layout(self):
        inside = {n[len(self.top) + 1:] for n in self.names}
        docs = {"docs/" + n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md")}
        self.assertTrue({"docs/settings.md", "docs/commands.md"} <= docs)
        self.assertEqual(inside, EXPECTED | docs)

    def test_dll_is_the_32_bit_product_with_its_cdecl_export(self):
        dll = self.path("quillon.dll")
        self.assertEqual(pe_contract.check_dll(dll, ["ProcessWebMessage"]), [])
        self.assertEqual(sorted(pe_contract.PeFile(dll).exports()), ["ProcessWebMessage"])
        info = version_info.read(dll)
        self.assertEqual(info["strings"]["ProductVersion"], self.version)

    def test_host_program_is_32_bit_and_calls_the_dll(self):
        pe = pe_contract.PeFile(self.path("quillon_host.exe"))
        self.assertEqual(pe.machine, pe_contract.MACHINE_I386)
        self.assertIn("ProcessWebMessage", pe.imports()["quillon.dll"])

    def test_windows_programs_need_no_mingw_runtime(self):
        for name in ("quillon.dll", "quillon_host.exe", "decoder/quillon_mykad_decode.exe"):
            imported = set(pe_contract.PeFile(self.path(name)).imports())
            self.assertEqual({d for d in imported if "gcc" in d or "stdc++" in d
                              or "winpthread" in d}, set(), name)

    def test_stand_in_is_kept_apart_and_labelled(self):
        self.assertNotIn("%s/OrvMyKad.dll" % self.top, self.names)
        pe = pe_contract.PeFile(self.path("standin/OrvMyKad.dll"))
        self.assertEqual(pe.machine, pe_contract.MACHINE_I386)
        self.assertIn("OrvMyKadInit", pe.exports())
        with open(self.path("standin/README.txt")) as f:
            self.assertIn("DO NOT SHIP", f.read())

    def test_header_and_decoder_are_the_sources_of_this_tree(self):
        for inside, source in (("include/quillon.h", "include/quillon.h"),
                               ("decoder/mykad_decoder.cpp",
                                "tools/mykad-decoder/mykad_decoder.cpp")):
            with open(self.path(inside), "rb") as a, open(os.path.join(ROOT, source), "rb") as b:
                self.assertEqual(a.read(), b.read(), inside)
        with open(self.path("decoder/quillon_build_config.h")) as f:
            self.assertIn("QUILLON_MYKAD_MASK_EVEN", f.read())

    def test_decoder_sources_compile_on_their_own(self):
        obj = os.path.join(self.unpacked, "decoder.o")
        subprocess.run(["i686-w64-mingw32-g++", "-std=c++17", "-c", "-o", obj,
                        self.path("decoder/mykad_decoder.cpp")], check=True)
        self.assertGreater(os.path.getsize(obj), 0)

    def test_header_compiles_as_c_for_the_32_bit_target(self):
        source = os.path.join(self.unpacked, "host.c")
        with open(source, "w") as f:
            f.write('#include "quillon.h"\n'
                    'int call(char* reply) { return ProcessWebMessage("QLN26", "[PING]", reply)'
                    ' == QUILLON_RESULT_NO_COMMAND; }\n')
        subprocess.run(["i686-w64-mingw32-gcc", "-std=c89", "-pedantic", "-Werror", "-c",
                        "-I", self.path("include"), "-o", source + ".o", source], check=True)

    def test_sample_settings_file_is_the_checked_one_with_windows_line_ends(self):
        with open(self.path("QUILLON.ini"), "rb") as a, \
                open(os.path.join(ROOT, "packaging", "QUILLON.ini"), "rb") as b:
            packed, checked = a.read(), b.read()
        self.assertEqual(packed, checked.replace(b"\n", b"\r\n"))
        self.assertIn(b"\r\nCOM=5\r\n", packed)


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    r = program.result
    failed = len(r.failures) + len(r.errors)
    print("%d passed, %d failed" % (r.testsRun - failed, failed))
    sys.exit(1 if failed or r.testsRun == 0 else 0)
