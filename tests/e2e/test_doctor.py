"""quillon_doctor.exe on a counter PC played by wine: all in place gives OK lines and exit 0; each
fault that needs the real library, reader or port gives the one FAIL line naming it and exit 1, in
bounded time (the doctor's watchdog ends a check that outlives --wait)."""
import os
import re
import shutil
import subprocess
import time
import unittest

import winerig

READER = "OrvMyKad.dll"
INI = "[COMPORT]\nCOM=5\n[MYKAD]\nTIMEOUT=1500\n"  # a short step keeps the silent runs short
CHECKS = ["library", "settings file", "settings values", "COM port", "card reader", "file log",
          "port open", "terminal"]
SILENT = "on 23 always\n  silence\nend\n"  # hears the status query, never answers
LINE = re.compile(r"^(OK  |WARN|FAIL)  ([a-zA-Z ]+): (.*)$")
# The stand-in's exports but OrvMyKadClose: a reader library of another make or version.
PARTIAL_READER = "".join(
    "__declspec(dllexport) int __cdecl OrvMyKad%s() { return 0; }\n" % name for name in (
        "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData", "IsEBA",
        "ReadPhoto", "ReadBio", "SecurityLevel", "VerifyFinger"))


class Doctor(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        for name in ("quillon_doctor.exe", READER):
            shutil.copy(os.path.join(self.wine.build, name), self.workdir)
        self.host.write_ini(INI)
        self.wine.reg_add(winerig.SERIALCOMM, r"\Device\Silabser0", "COM7")

    def doctor(self, *args):  # (exit status, [(level, check, finding)], output, seconds)
        start = time.monotonic()
        r = self.wine.run("quillon_doctor.exe", list(args), cwd=self.workdir, timeout=60)
        lines = [LINE.match(l) for l in r.stdout.splitlines() if not l.startswith("      ")]
        self.assertNotIn(None, lines, r.stdout + r.stderr)
        return r.returncode, [m.groups() for m in lines], r.stdout, time.monotonic() - start

    def partial_reader(self):
        source = os.path.join(self.workdir, "partial.c")
        with open(source, "w") as f:
            f.write(PARTIAL_READER)
        compiler = "i686-w64-mingw32-gcc" if self.wine.arch == "win32" else "x86_64-w64-mingw32-gcc"
        subprocess.run([compiler, "-shared", "-o", os.path.join(self.workdir, READER), source],
                       check=True)

    def test_everything_in_place_gives_one_ok_line_per_check(self):
        self.start_terminal("name ACME BANK\n")
        code, lines, out, _ = self.doctor()
        self.assertEqual((code, [c for _, c, _ in lines], {l for l, _, _ in lines}),
                         (0, CHECKS, {"OK  "}), out)
        found = {check: finding for _, check, finding in lines}
        self.assertRegex(found["library"], r"^quillon\.dll \d+\.\d+\.\d+, %s-bit, loaded from Z:\\"
                         % ("32" if self.wine.arch == "win32" else "64"))
        self.assertEqual(found["settings file"], r".\QUILLON.ini (current folder), 2 keys set")
        # Registry names ignore case: the first name the library asks for answers.
        self.assertEqual(found["COM port"], "COM7 for port 0, named by the CP210x bridge value "
                         r"\Device\silabser0=COM7 in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM")
        self.assertRegex(found["card reader"], r'OrvMyKad\.dll, version "OrvMyKad stand-in 1\.0"$')
        self.assertRegex(found["terminal"], r'^answers the status query on COM7 in \d+\.\d\d s; '
                                            r'customer name "ACME BANK"$')

    # The verdicts are the same code in both builds; under the emulator each run costs seconds.
    @unittest.skipIf(winerig.ARCH == "win32", "the faults run in the x86_64 build")
    def test_each_fault_gives_the_one_fail_line_that_names_it(self):
        faults = [
            ("a silent terminal", None, SILENT, (),
             r"terminal: no answer to the status query on COM7 \(result -30 after \d+\.\d\d s\)$"),
            # The library would wait 10 s; the doctor waits 3.
            ("a silent terminal past the watchdog",
             lambda: self.host.write_ini(INI.replace("1500", "10000")), SILENT, ("--wait", "3"),
             r"terminal: no end to the status query on COM7 within 3 s \(the doctor stopped "
             r"waiting\)$"),
            ("no reader library", lambda: os.unlink(os.path.join(self.workdir, READER)), "", (),
             r"card reader: OrvMyKad\.dll not found \(looked at Z:\\.*\\OrvMyKad\.dll, "
             r"C:\\windows\\system32\\OrvMyKad\.dll\)$"),
            ("a reader library missing a function", self.partial_reader, "", (),
             r"card reader: Z:\\.*\\OrvMyKad\.dll lacks 1 of its 11 functions: OrvMyKadClose$"),
            # Last: the registry keeps COM9 from here on.
            ("a port that does not exist",
             lambda: self.wine.reg_add(winerig.SERIALCOMM, r"\Device\Silabser0", "COM9"), "", (),
             r"port open: COM9 does not exist on this PC \(error 2\)$"),
        ]
        for name, fault, scenario, args, expected in faults:
            with self.subTest(fault=name):
                self.host.write_ini(INI)
                shutil.copy(os.path.join(self.wine.build, READER), self.workdir)
                terminal = self.start_terminal(scenario)
                if fault:
                    fault()
                try:
                    code, lines, out, seconds = self.doctor(*args)
                finally:
                    terminal.stop()
                failed = ["%s: %s" % (c, f) for level, c, f in lines if level == "FAIL"]
                self.assertEqual((code, len(failed)), (1, 1), out)
                self.assertRegex(failed[0], expected)
                self.assertLess(seconds, 15, "each check is bounded")


if __name__ == "__main__":
    winerig.main()
