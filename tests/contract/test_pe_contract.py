"""The export contract of the 32-bit kit, checked statically (no 32-bit code runs here): the
product DLL, the host program and the stand-in reader library, and the checker itself against a
DLL built to break the contract."""
import os
import subprocess
import sys
import tempfile
import unittest

import pe_contract

WIN32_DIR = os.environ.get("QUILLON_WIN32_DIR", "")
READER_FUNCTIONS = ["OrvMyKad" + f for f in (
    "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData", "IsEBA",
    "ReadPhoto", "ReadBio", "SecurityLevel", "VerifyFinger", "Close")]


class Contract(unittest.TestCase):
    def test_quillon_dll_exports_only_process_web_message_cdecl_and_the_host_imports_it(self):
        dll = os.path.join(WIN32_DIR, "quillon.dll")
        self.assertEqual(pe_contract.check_dll(dll, ["ProcessWebMessage"]), [])
        self.assertEqual(list(pe_contract.pe_info(dll)["exports"]), ["ProcessWebMessage"])
        host = pe_contract.pe_info(os.path.join(WIN32_DIR, "quillon_host.exe"))
        self.assertEqual((host["format"], host["imports"]["quillon.dll"]),
                         ("pei-i386", ["ProcessWebMessage"]))

    def test_standin_reader_library_exports_the_eleven_functions_cdecl(self):
        # The stand-in keeps the contract that quillon.dll relies on in the maker's library.
        self.assertEqual(pe_contract.check_dll(os.path.join(WIN32_DIR, "OrvMyKad.dll"),
                                               READER_FUNCTIONS), [])

    def test_a_stdcall_export_is_refused_by_its_name_or_by_its_return(self):
        # MinGW decorates a stdcall export as ProcessWebMessage@12 unless told otherwise; with
        # --kill-at the name looks right and only the `ret $0xc` gives it away.
        folder = tempfile.mkdtemp()
        source, dll = os.path.join(folder, "entry.c"), os.path.join(folder, "variant.dll")
        with open(source, "w") as f:
            f.write("__declspec(dllexport) int __stdcall ProcessWebMessage(const char* a, "
                    "const char* r, char* o) { return a[0] + r[0] + o[0]; }\n")
        for flags, problem in (([], "not exported undecorated"), (["-Wl,--kill-at"], "ret $0xc")):
            subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-shared", "-o", dll, source] + flags,
                           check=True)
            problems = pe_contract.check_dll(dll, ["ProcessWebMessage"])
            self.assertEqual(len(problems), 1, problems)
            self.assertIn(problem, problems[0])


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
