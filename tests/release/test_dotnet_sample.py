"""The .NET sample (samples/dotnet) compiles with Mono's C# compiler, and its result enum says
what quillon.h says. It cannot run here: no .NET runtime on Linux loads a Windows DLL."""
import os
import re
import subprocess
import tempfile
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from common import ROOT, header_macros, read

SAMPLE = os.path.join(ROOT, "samples", "dotnet", "QuillonSample.cs")


def squeeze(name):
    return name.replace("_", "").upper()


class DotnetSample(unittest.TestCase):
    def test_it_compiles_as_an_x86_program_without_warnings(self):
        with tempfile.TemporaryDirectory() as folder:
            r = subprocess.run(["mcs", "-platform:x86", "-warnaserror",
                                "-out:" + os.path.join(folder, "QuillonSample.exe"), SAMPLE],
                               capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_its_result_enum_is_the_result_codes_of_quillon_h(self):
        enum = re.search(r"enum QuillonResult\s*\{(.*?)\}", read(SAMPLE), re.S)[1]
        members = {squeeze(m[1]): int(m[2]) for m in re.finditer(r"(\w+) = (-?\d+)", enum)}
        codes = {squeeze(k[len("QUILLON_RESULT_"):]): v for k, v in header_macros().items()
                 if k.startswith("QUILLON_RESULT_")}
        self.assertEqual(members, codes)


if __name__ == "__main__":
    unittest.main(verbosity=2)
