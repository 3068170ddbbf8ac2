"""The .NET sample (samples/dotnet) compiles as an x86 program with Mono's C# compiler, and its
enum and reply buffer say what quillon.h says. It cannot run here: no .NET runtime on Linux loads
a Windows DLL."""
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


def cli_flags(image, pe):
    """The flags of the CLI header (data directory 14), found through the section table."""
    u16 = lambda at: int.from_bytes(image[at:at + 2], "little")
    u32 = lambda at: int.from_bytes(image[at:at + 4], "little")
    optional = pe + 24
    self_size = u16(pe + 20)
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    rva = u32(directories + 14 * 8)
    sections = optional + self_size
    for i in range(u16(pe + 6)):
        at = sections + 40 * i
        virtual, size, raw = u32(at + 12), u32(at + 8), u32(at + 20)
        if virtual <= rva < virtual + size:
            return u32(raw + rva - virtual + 16)
    raise AssertionError("no CLI header")


class DotnetSample(unittest.TestCase):
    def test_it_compiles_as_an_x86_program_without_warnings(self):
        out = os.path.join(tempfile.mkdtemp(), "QuillonSample.exe")
        r = subprocess.run(["mcs", "-platform:x86", "-warnaserror", "-out:" + out, SAMPLE],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(out, "rb") as f:
            image = f.read()
        pe = int.from_bytes(image[0x3C:0x40], "little")
        self.assertEqual(image[pe:pe + 4], b"PE\0\0")
        self.assertEqual(int.from_bytes(image[pe + 4:pe + 6], "little"), 0x14C)  # i386
        self.assertEqual(cli_flags(image, pe) & 0x2, 0x2, "32BITREQUIRED: an x86 program")

    def test_its_result_enum_is_the_result_codes_of_quillon_h(self):
        enum = re.search(r"enum QuillonResult\s*\{(.*?)\}", read(SAMPLE), re.S)[1]
        members = {squeeze(m[1]): int(m[2]) for m in re.finditer(r"(\w+) = (-?\d+)", enum)}
        codes = {squeeze(k[len("QUILLON_RESULT_"):]): v for k, v in header_macros().items()
                 if k.startswith("QUILLON_RESULT_")}
        self.assertEqual(members, codes)


if __name__ == "__main__":
    unittest.main(verbosity=2)
