"""The shipped programs from the command line: --help, a wrong command line, the installer, the
README's marked shell blocks; and quillon_doctor.exe on a counter PC: all in place gives OK lines,
each fault that needs the real library, reader, port, folder or registry the one FAIL or WARN
line naming it, in bounded time (its watchdog ends a check that outlives --wait)."""
import os
import re
import shutil
import subprocess
import time
import unittest

import winerig

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
UNKNOWN = ("--no-such-option", "unknown option --no-such-option")
# (program, where it runs, wrong command lines' argument and the first line each gets on stderr)
PROGRAMS = [
    ("quillon_terminal_sim", "native", [UNKNOWN, ("--scenario", "--scenario needs a value")]),
    ("quillon_mykad_decode", "native", [("--hex=1", "unknown option --hex=1")]),
    ("quillon_host.exe", "wine", [UNKNOWN, ("--file", "--file needs a value")]),
    ("quillon_doctor.exe", "wine", [UNKNOWN, ("--port", "--port needs a number")]),
    ("quillon_benchmark.exe", "wine", [UNKNOWN, ("--runs", "--runs needs a number")]),
    ("quillon_bridge.exe", "wine", [("--port=7", "unknown option --port=7")]),
]
BROWSERS = ("Google\\Chrome", "Microsoft\\Edge", "Chromium")
# The installer in a child cmd (wine's "call" reports any failing batch file as 1), its exit
# status, then every registration.
STEP = ("@echo off\r\ncmd /c install.cmd %*\r\necho rc=%errorlevel%\r\n"
        "for %%R in (HKCU HKLM) do for %%K in (\"Google\\Chrome\" \"Microsoft\\Edge\" Chromium) do "
        "reg query \"%%R\\Software\\%%~K\\NativeMessagingHosts\\quillon.bridge\" /ve 2>nul\r\n")
# What reg query prints of one registration: its root, the browser's key and the manifest path.
REGISTERED = re.compile(r"^HKEY_(CURRENT_USER|LOCAL_MACHINE)\\(.*)\\NativeMessagingHosts\\"
                        r"quillon\.bridge\n.*REG_SZ\s+(.*)$", re.M)
BLOCK = re.compile(r"^<!-- tested: [^\n]*-->\n```sh\n(.*?)^```$", re.M | re.S)
# What each README block shows, by the program it runs.
BRANCH = r"result: 0\nreply: \[GETBRANCHCODE\]\[1\]\[EMPTY\]"
SHOWS = {"quillon_host.exe": r"(?s)%s.*%s.*result: -9999\n.*\nquillon_host( [\d.]+)?: sends one "
                             % (BRANCH, BRANCH),  # the request, from a file, the wrong code, --help
         "quillon_doctor.exe": r"\nFAIL  settings file: no QUILLON\.ini"}

READER = "OrvMyKad.dll"
INI = "[COMPORT]\nCOM=5\n[MYKAD]\nTIMEOUT=1500\n"  # a short step keeps the silent runs short
CHECKS = ["install folder", "library", "settings file", "settings values", "COM port",
          "card reader", "file log", "browser host", "port open", "terminal"]
CHROME_HOST = r"HKCU\Software\Google\Chrome\NativeMessagingHosts\quillon.bridge"
SILENT = "on 23 always\n  silence\nend\n"  # hears the status query, never answers
LINE = re.compile(r"^(OK  |WARN|FAIL)  ([a-zA-Z ]+): (.*)$")
# The stand-in's exports but OrvMyKadClose: a reader library of another make or version.
PARTIAL_READER = "".join(
    "__declspec(dllexport) int __cdecl OrvMyKad%s() { return 0; }\n" % name for name in (
        "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData", "IsEBA",
        "ReadPhoto", "ReadBio", "SecurityLevel", "VerifyFinger"))
# A quillon.dll of another release: the entry point, and a version resource of its own.
OTHER_RELEASE = ("__declspec(dllexport) int __cdecl ProcessWebMessage(const char* a, "
                 "const char* r, char* o) { return -1007; }\n",
                 "1 VERSIONINFO\nFILEVERSION 9,9,9,0\nPRODUCTVERSION 9,9,9,0\nBEGIN\nEND\n")


class Programs(winerig.WineTestCase):
    def run_program(self, program, where, arg):
        if where == "wine":
            shutil.copy(os.path.join(self.wine.build, program), self.workdir)
            return self.wine.run(program, [arg], cwd=self.workdir, timeout=60)
        return subprocess.run([os.path.join(self.wine.native, program), arg], cwd=self.workdir,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)

    def test_help_and_a_wrong_command_line(self):
        for program, where, wrongs in PROGRAMS:
            if where == "native" and self.wine.emulated:
                continue  # the same programs as in the x86_64 run
            name = program.replace(".exe", "")
            with self.subTest(program=program):
                r = self.run_program(program, where, "--help")
                self.assertEqual((r.returncode, r.stderr), (0, ""), r.stdout)
                self.assertRegex(r.stdout, r"^%s( \d+\.\d+\.\d+)?: \w" % name)
                self.assertIn("\nOptions:\n", r.stdout)
                self.assertIn("\n  --help ", r.stdout)
                self.assertRegex(r.stdout, r"\nExample[^\n]*:\n  [^\n]*%s" % name)
                if self.wine.emulated:
                    continue  # the same command-line code in both builds
                for wrong, why in wrongs:
                    r = self.run_program(program, where, wrong)
                    lines = r.stderr.splitlines() + ["", ""]
                    self.assertEqual((r.returncode, r.stdout, lines[0], lines[1].split(" ")[:2]),
                                     (2, "", "%s: %s" % (name, why), ["usage:", name]), wrong)

    @unittest.skipIf(winerig.ARCH == "win32", "install.cmd is the same script for both builds")
    def test_install_cmd_registers_for_the_machine_and_for_the_user_only_when_told(self):
        for name in ("install.cmd", "quillon.bridge.json"):
            shutil.copy(os.path.join(ROOT, "clients", "install", name), self.workdir)
        with open(os.path.join(self.workdir, "step.cmd"), "w", newline="") as f:
            f.write(STEP)
        manifest = winerig.windows_path(os.path.join(self.workdir, "quillon.bridge.json"))

        def step(*args):  # (exit status, {key: manifest path}, stderr) after install.cmd ARGS
            r = self.wine.run("cmd", ["/c", "step.cmd"] + list(args), cwd=self.workdir)
            keys = {("HKCU\\" if root == "CURRENT_USER" else "HKLM\\") + key: value
                    for root, key, value in REGISTERED.findall(r.stdout)}
            return int(r.stdout.split("rc=")[1].split()[0]), keys, r.stderr.strip()

        def under(*roots):
            return {"%s\\Software\\%s" % (r, b): manifest for r in roots for b in BROWSERS}

        usage = "install.cmd: unknown option /everyone\nusage: install.cmd [/user] [/remove]"
        warning = ("install.cmd: warning: registered for this user only. The browsers take a "
                   "user's registration\nbefore the machine's, so any program this user runs "
                   "could put its own in its place. On a\ncounter PC run install.cmd without "
                   "/user, as administrator: see docs/deploy.md")
        for args, expected in [((), (0, under("HKLM"), "")),
                               (("/user",), (0, under("HKCU", "HKLM"), warning)),
                               (("/everyone",), (2, under("HKCU", "HKLM"), usage)),
                               (("/remove", "/machine"), (0, under("HKCU"), "")),
                               (("/remove", "/user"), (0, {}, ""))]:
            with self.subTest(args=args):
                self.assertEqual(step(*args), expected)
        os.unlink(os.path.join(self.workdir, "quillon.bridge.json"))
        self.assertEqual(step(), (1, {}, "install.cmd: %s is missing" % manifest))

    @unittest.skipIf(winerig.ARCH == "win32", "the README's examples run the x86_64 build")
    def test_every_marked_readme_shell_block_runs_to_its_end(self):
        build = os.path.join(self.workdir, "build", "win-x86_64")
        os.makedirs(build)
        for name in ("quillon.dll", "quillon_host.exe", "quillon_doctor.exe"):
            shutil.copy(os.path.join(self.wine.build, name), build)
        env = dict(os.environ, WINEPREFIX=self.wine.prefix)
        env.pop("LD_PRELOAD", None)
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            blocks = BLOCK.findall(f.read())
        self.assertEqual(sorted(p for b in blocks for p in SHOWS if p in b), sorted(SHOWS))
        for block in blocks:
            with self.subTest(block=block.splitlines()[-1]):
                # A typo'd command or path fails the block: errexit, nounset and pipefail.
                r = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=self.workdir,
                                   env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                   text=True, timeout=120)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertNotRegex(r.stderr, "No such file|not found|cannot read")
                for program, shown in SHOWS.items():
                    if program in block:
                        self.assertRegex(r.stdout.replace("\r\n", "\n"), shown)


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

    def build_dll(self, name, source, resource=None):
        self.wine.build_dll(os.path.join(self.workdir, name), source, resource)

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

    def register_for_user(self, manifest):  # returns how to undo it
        self.wine.run("reg", ["add", CHROME_HOST, "/ve", "/d", manifest, "/f"])
        return lambda: self.wine.run("reg", ["delete", CHROME_HOST, "/f"])

    def open_folder(self):  # Unix's "others" are Everyone under wine
        os.chmod(self.workdir, 0o777)
        return lambda: os.chmod(self.workdir, 0o700)

    # The verdicts are the same code in both builds; under the emulator each run costs seconds.
    @unittest.skipIf(winerig.ARCH == "win32", "the faults run in the x86_64 build")
    def test_each_fault_gives_the_one_line_that_names_it(self):
        faults = [  # (what, how (may return its undo), the terminal's scenario, arguments, line)
            ("no settings file", lambda: os.unlink(os.path.join(self.workdir, "QUILLON.ini")), "",
             (), r"FAIL  settings file: no QUILLON\.ini in the current folder, System32 or "
             r"SysWow64; every key reads its default \(the library would read "
             r".*\\SysWow64\\QUILLON\.ini\)$"),
            ("a value that does not parse",
             lambda: self.host.write_ini(INI + "[DEVICE]\nTYPE=one\n"), "", (),
             r"FAIL  settings value: \[DEVICE\] TYPE=one: no number, reads 0$"),
            ("a silent terminal", None, SILENT, (), r"FAIL  terminal: no answer to the status "
             r"query on COM7 \(result -30 after \d+\.\d\d s\)$"),
            # The library would wait 10 s; the doctor waits 3.
            ("past the watchdog", lambda: self.host.write_ini(INI.replace("1500", "10000")),
             SILENT, ("--wait", "3"),
             r"FAIL  terminal: no end to the status query on COM7 within 3 s \(the doctor stopped"),
            ("no reader library", lambda: os.unlink(os.path.join(self.workdir, READER)), "", (),
             r"FAIL  card reader: OrvMyKad\.dll not found \(looked at Z:\\.*\\OrvMyKad\.dll, "
             r"C:\\windows\\system32\\OrvMyKad\.dll\)$"),
            ("a reader library missing a function",
             lambda: self.build_dll(READER, PARTIAL_READER), "", (), r"FAIL  card reader: "
             r"Z:\\.*\\OrvMyKad\.dll lacks 1 of its 11 functions: OrvMyKadClose$"),
            # The doctor stops there: the other checks follow its own release's rules.
            ("a library of another release",
             lambda: self.build_dll("quillon.dll", *OTHER_RELEASE), "", (),
             r"FAIL  library: quillon\.dll 9\.9\.9 beside quillon_doctor \d+\.\d+\.\d+: the "
             r"doctor and the library come from different releases$"),
            # It stops there too, before it loads anything from the folder.
            ("a folder others may change", self.open_folder, "", (),
             r"FAIL  install folder: Z:\\.*\\ may be changed by Everyone: a DLL put there "),
            ("a user's registration elsewhere",
             lambda: self.register_for_user(r"C:\users\Public\x.json"), "", (),
             r"WARN  browser host: the browser takes a user's registration before the "
             r"machine's, and one points elsewhere: HKU\\S-1-5-21-[\d-]+\\Software\\Google\\Chrome\\"
             r"NativeMessagingHosts\\quillon\.bridge = C:\\users\\Public\\x\.json \(the "
             r"machine's: none\)$"),
            # Last: the registry keeps COM9 from here on.
            ("a port that does not exist",
             lambda: self.wine.reg_add(winerig.SERIALCOMM, r"\Device\Silabser0", "COM9"), "", (),
             r"FAIL  port open: COM9 does not exist on this PC \(error 2\)$"),
        ]
        for name, fault, scenario, args, expected in faults:
            with self.subTest(fault=name):
                self.host.write_ini(INI)
                for shipped in ("quillon.dll", READER):
                    shutil.copy(os.path.join(self.wine.build, shipped), self.workdir)
                self.start_terminal(scenario)  # on COM7 in place of the last row's
                undo = fault() if fault else None
                code, lines, out, seconds = self.doctor(*args)
                if undo:
                    undo()
                flagged = ["%s  %s: %s" % line for line in lines if line[0] != "OK  "]
                self.assertEqual((code, len(flagged)), (int(expected[0] == "F"), 1), out)
                self.assertRegex(flagged[0], expected)
                self.assertLess(seconds, 15, "each check is bounded")


if __name__ == "__main__":
    winerig.main()
