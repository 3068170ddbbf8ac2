"""The export contract of the 32-bit kit, checked statically (before anything runs): the
product DLL, the host program, the stand-in reader library and the decoder, and the checker
itself against a DLL built to break the contract."""
import os
import re
import subprocess
import tempfile
import unittest

import pe_contract

WIN32_DIR = os.environ.get("QUILLON_WIN32_DIR", "")
READER_FUNCTIONS = ["OrvMyKad" + f for f in (
    "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData", "IsEBA",
    "ReadPhoto", "ReadBio", "SecurityLevel", "VerifyFinger", "Close")]


class Contract(unittest.TestCase):
    def test_kit_keeps_the_cdecl_exports_and_imports_no_mingw_runtime(self):
        dll = os.path.join(WIN32_DIR, "quillon.dll")
        exports = ["ProcessWebMessage", "QuillonDescribe"]
        self.assertEqual(pe_contract.check_dll(dll, exports), [])
        self.assertEqual(sorted(pe_contract.pe_info(dll)["exports"]), exports)
        # The stand-in keeps the contract that quillon.dll relies on in the maker's library.
        self.assertEqual(pe_contract.check_dll(os.path.join(WIN32_DIR, "OrvMyKad.dll"),
                                               READER_FUNCTIONS), [])
        host = pe_contract.pe_info(os.path.join(WIN32_DIR, "quillon_host.exe"))
        self.assertEqual((host["format"], host["imports"]["quillon.dll"]),
                         ("pei-i386", ["ProcessWebMessage"]))
        for name in ("quillon.dll", "quillon_host.exe", "quillon_mykad_decode.exe"):
            imported = pe_contract.pe_info(os.path.join(WIN32_DIR, name))["imports"]
            self.assertEqual([d for d in imported if re.search("gcc|stdc\\+\\+|pthread", d)], [])

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
    pe_contract.main()
