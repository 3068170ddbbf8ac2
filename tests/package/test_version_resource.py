"""The version resource of quillon.dll (both builds) carries the project version of
CMakeLists.txt, and the reader finds what a resource compiler really wrote."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "contract"))
import version_info  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        text = f.read()
    return tuple(int(n) for n in
                 re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text).group(1).split("."))


class QuillonVersion(unittest.TestCase):
    def check(self, directory):
        info = version_info.read(os.path.join(directory, "quillon.dll"))
        self.assertIsNotNone(info, "quillon.dll has no version resource")
        version = project_version()
        numbers = version + (0,) * (4 - len(version))
        text = ".".join(str(n) for n in version)
        self.assertEqual(info["file"], numbers)
        self.assertEqual(info["product"], numbers)
        self.assertEqual(info["strings"]["FileVersion"], text)
        self.assertEqual(info["strings"]["ProductVersion"], text)
        self.assertEqual(info["strings"]["OriginalFilename"], "quillon.dll")

    def test_32_bit_product(self):
        self.check(os.environ["QUILLON_WIN32_DIR"])

    def test_64_bit_twin(self):
        self.check(os.environ["QUILLON_WIN64_DIR"])


class ReaderOnBuiltResources(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.source = os.path.join(self.dir, "entry.c")
        with open(self.source, "w") as f:
            f.write("__declspec(dllexport) int f(void) { return 1; }\n")

    def build(self, rc=None):
        objects = []
        if rc is not None:
            path = os.path.join(self.dir, "v.rc")
            with open(path, "w") as f:
                f.write(rc)
            obj = os.path.join(self.dir, "v.o")
            subprocess.run(["i686-w64-mingw32-windres", path, "-o", obj], check=True)
            objects.append(obj)
        out = os.path.join(self.dir, "v.dll")
        subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-o", out, self.source] + objects,
                       check=True)
        return out

    def test_reads_the_numbers_and_strings_written(self):
        path = self.build('#include <winver.h>\n1 VERSIONINFO\nFILEVERSION 9,8,7,6\n'
                          'PRODUCTVERSION 5,4,3,2\nBEGIN\n BLOCK "StringFileInfo"\n BEGIN\n'
                          '  BLOCK "040904B0"\n  BEGIN\n   VALUE "FileVersion", "9.8.7"\n'
                          '   VALUE "Comments", "odd length"\n  END\n END\nEND\n')
        info = version_info.read(path)
        self.assertEqual(info["file"], (9, 8, 7, 6))
        self.assertEqual(info["product"], (5, 4, 3, 2))
        self.assertEqual(info["strings"], {"FileVersion": "9.8.7", "Comments": "odd length"})

    def test_a_dll_without_one_reads_none(self):
        self.assertIsNone(version_info.read(self.build()))


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    r = program.result
    failed = len(r.failures) + len(r.errors)
    print("%d passed, %d failed" % (r.testsRun - failed, failed))
    sys.exit(1 if failed or r.testsRun == 0 else 0)
