"""The export contract of the 32-bit kit, checked statically (no 32-bit code runs here): the
product DLL and the host program, and the checker itself against DLLs built to break it."""
import os
import subprocess
import sys
import tempfile
import unittest

import pe_contract

WIN32_DIR = os.environ.get("QUILLON_WIN32_DIR", "")
WIN64_DIR = os.environ.get("QUILLON_WIN64_DIR", "")

READER_FUNCTIONS = [
    "OrvMyKadInit", "OrvMyKadGetFirmwareVersion", "OrvMyKadGetCardStatus", "OrvMyKadResetCard",
    "OrvMyKadReadOpenData", "OrvMyKadIsEBA", "OrvMyKadReadPhoto", "OrvMyKadReadBio",
    "OrvMyKadSecurityLevel", "OrvMyKadVerifyFinger", "OrvMyKadClose"]

ENTRY = r'''
__declspec(dllexport) int %s ProcessWebMessage(const char* a, const char* r, char* o)
{ return a[0] + r[0] + o[0]; }
'''


def build_dll(directory, calling_convention, extra=""):
    source = os.path.join(directory, "entry.c")
    with open(source, "w") as f:
        f.write(ENTRY % calling_convention + extra)
    out = os.path.join(directory, "variant.dll")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-shared", "-o", out, source], check=True)
    return out


class ProductContract(unittest.TestCase):
    def test_quillon_dll_is_i386_with_an_undecorated_cdecl_export(self):
        self.assertEqual(pe_contract.check_dll(os.path.join(WIN32_DIR, "quillon.dll"),
                                               ["ProcessWebMessage"]), [])

    def test_host_program_imports_the_plain_name_from_quillon_dll(self):
        pe = pe_contract.PeFile(os.path.join(WIN32_DIR, "quillon_host.exe"))
        self.assertEqual(pe.machine, pe_contract.MACHINE_I386)
        self.assertIn("ProcessWebMessage", pe.imports()["quillon.dll"])

    def test_standin_reader_library_exports_the_eleven_functions_cdecl(self):
        # The stand-in must keep the contract that quillon.dll relies on in the maker's library.
        self.assertEqual(pe_contract.check_dll(os.path.join(WIN32_DIR, "OrvMyKad.dll"),
                                               READER_FUNCTIONS), [])

    def test_quillon_dll_exports_nothing_else(self):
        pe = pe_contract.PeFile(os.path.join(WIN32_DIR, "quillon.dll"))
        self.assertEqual(sorted(pe.exports()), ["ProcessWebMessage"])


class CheckerCatchesBrokenContracts(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def test_stdcall_export_is_refused(self):
        # MinGW decorates a stdcall export as ProcessWebMessage@12 unless told otherwise; with
        # --kill-at the name looks right and only the `ret $0xc` gives it away.
        path = build_dll(self.dir, "__stdcall")
        problems = pe_contract.check_dll(path, ["ProcessWebMessage"])
        self.assertEqual(len(problems), 1)
        self.assertIn("not exported undecorated", problems[0])
        subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-shared", "-Wl,--kill-at", "-o", path,
                        os.path.join(self.dir, "entry.c")], check=True)
        problems = pe_contract.check_dll(path, ["ProcessWebMessage"])
        self.assertEqual(len(problems), 1)
        self.assertIn("ret $0xc", problems[0])

    def test_cdecl_export_passes(self):
        self.assertEqual(pe_contract.check_dll(build_dll(self.dir, "__cdecl"),
                                               ["ProcessWebMessage"]), [])

    def test_64_bit_twin_is_refused_as_the_product(self):
        problems = pe_contract.check_dll(os.path.join(WIN64_DIR, "quillon.dll"),
                                         ["ProcessWebMessage"])
        self.assertEqual(len(problems), 1)
        self.assertIn("not a 32-bit i386 PE", problems[0])


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    r = program.result
    failed = len(r.failures) + len(r.errors)
    print("%d passed, %d failed" % (r.testsRun - failed, failed))
    sys.exit(1 if failed or r.testsRun == 0 else 0)
