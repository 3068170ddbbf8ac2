"""quillon_doctor.exe on a counter PC played by wine: with everything in place every line is OK
and the exit status 0; then one fault at a time gives exactly one FAIL line, the one that names
the fault, and exit status 1. Each run is bounded: a silent terminal costs the library's own
step time-out, and the doctor's watchdog ends a check that outlives --wait."""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import winerig

READER = "OrvMyKad.dll"
# A short step limit keeps the silent terminal's run short.
INI = "[COMPORT]\nCOM=5\n[MYKAD]\nTIMEOUT=1500\n"
CHECKS = ["library", "settings file", "settings values", "COM port", "card reader", "file log",
          "port open", "terminal"]
# A terminal that hears the status query and never answers it.
SILENT = "on 23 always\n  silence\nend\n"
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

    def doctor(self, *args):
        """(exit status, [(level, check, finding)], the whole output, seconds)"""
        start = time.monotonic()
        r = self.wine.run(os.path.join(self.workdir, "quillon_doctor.exe"), list(args),
                          cwd=self.workdir, timeout=60)
        seconds = time.monotonic() - start
        lines = [LINE.match(l) for l in r.stdout.splitlines() if not l.startswith("      ")]
        self.assertNotIn(None, lines, r.stdout + r.stderr)
        return r.returncode, [m.groups() for m in lines], r.stdout, seconds

    def partial_reader(self):
        folder = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        source = os.path.join(folder, "partial.c")
        with open(source, "w") as f:
            f.write(PARTIAL_READER)
        compiler = "i686-w64-mingw32-gcc" if self.wine.arch == "win32" else "x86_64-w64-mingw32-gcc"
        subprocess.run([compiler, "-shared", "-o", os.path.join(self.workdir, READER), source],
                       check=True)

    def test_everything_in_place_gives_one_ok_line_per_check(self):
        self.start_terminal("name ACME BANK\n")
        code, lines, out, seconds = self.doctor()
        self.assertEqual(code, 0, out)
        self.assertEqual([check for _, check, _ in lines], CHECKS, out)
        self.assertEqual({level for level, _, _ in lines}, {"OK  "}, out)
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
        print("all OK in %.1f s" % seconds)

    # Under the emulator every wine command costs seconds; the verdicts are the same code in both
    # builds, and the all-OK run shows the 32-bit library's description.
    @unittest.skipIf(winerig.ARCH == "win32", "the faults run in the x86_64 build")
    def test_each_fault_gives_the_one_fail_line_that_names_it(self):
        def no_settings():
            os.unlink(os.path.join(self.workdir, "QUILLON.ini"))

        def bad_value():
            self.host.write_ini(INI + "[DEVICE]\nTYPE=one\n")

        def missing_port():
            self.wine.reg_add(winerig.SERIALCOMM, r"\Device\Silabser0", "COM9")

        def slow_time_out():  # the library would wait 10 s; the doctor waits 3
            self.host.write_ini(INI.replace("1500", "10000"))

        def no_reader():
            os.unlink(os.path.join(self.workdir, READER))

        faults = [
            ("no settings file", no_settings, "", (),
             r"settings file: no QUILLON\.ini in the current folder, System32 or SysWow64; every "
             r"key reads its default \(the library would read .*\\SysWow64\\QUILLON\.ini\)$"),
            ("a value that does not parse", bad_value, "", (),
             r"settings value: \[DEVICE\] TYPE=one: no number, reads 0$"),
            ("a silent terminal", None, SILENT, (),
             r"terminal: no answer to the status query on COM7 \(result -30 after \d+\.\d\d s\)$"),
            ("a silent terminal past the watchdog", slow_time_out, SILENT, ("--wait", "3"),
             r"terminal: no end to the status query on COM7 within 3 s \(the doctor stopped "
             r"waiting\)$"),
            ("no reader library", no_reader, "", (),
             r"card reader: OrvMyKad\.dll not found \(looked at Z:\\.*\\OrvMyKad\.dll, "
             r"C:\\windows\\system32\\OrvMyKad\.dll\)$"),
            ("a reader library missing a function", self.partial_reader, "", (),
             r"card reader: Z:\\.*\\OrvMyKad\.dll lacks 1 of its 11 functions: OrvMyKadClose$"),
            # Last: the registry keeps COM9 from here on.
            ("a port that does not exist", missing_port, "", (),
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
                failed = ["%s: %s" % (check, finding) for level, check, finding in lines
                          if level == "FAIL"]
                self.assertEqual(len(failed), 1, out)
                self.assertRegex(failed[0], expected)
                self.assertIn("FAIL  " + failed[0] + "\n      what to do: ", out)
                self.assertEqual(code, 1, out)
                self.assertLess(seconds, 15, "each check is bounded")


if __name__ == "__main__":
    winerig.main()
