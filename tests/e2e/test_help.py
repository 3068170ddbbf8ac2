"""The shipped programs and install.cmd from the command line: --help, a wrong command line, and
the installer's registrations. The native programs run directly, the Windows ones under wine."""
import os
import shutil
import subprocess
import unittest

import winerig

INSTALL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "clients", "install")
# (program, where it runs, a wrong command line's argument, the first line it gets on stderr)
PROGRAMS = [
    ("quillon_terminal_sim", "native", "--scenario", "--scenario needs a value"),
    ("quillon_mykad_decode", "native", "--hex=1", "unknown option --hex=1"),
    ("quillon_host.exe", "wine", "--file", "--file needs a value"),
    ("quillon_doctor.exe", "wine", "--port", "--port needs a number"),
    ("quillon_benchmark.exe", "wine", "--runs", "--runs needs a number"),
    ("quillon_bridge.exe", "wine", "--port=7", "unknown option --port=7"),
]
BROWSERS = ("Google\\Chrome", "Microsoft\\Edge", "Chromium")
# The installer in a child cmd (wine's "call" reports any failing batch file as 1), its exit
# status, then every registration.
STEP = ("@echo off\r\ncmd /c install.cmd %*\r\necho rc=%errorlevel%\r\n"
        "for %%R in (HKCU HKLM) do for %%K in (\"Google\\Chrome\" \"Microsoft\\Edge\" Chromium) do "
        "reg query \"%%R\\Software\\%%~K\\NativeMessagingHosts\\quillon.bridge\" /ve 2>nul\r\n")


class Programs(winerig.WineTestCase):
    def run_program(self, program, where, arg):
        if where == "wine":
            shutil.copy(os.path.join(self.wine.build, program), self.workdir)
            return self.wine.run(program, [arg], cwd=self.workdir, timeout=60)
        return subprocess.run([os.path.join(self.wine.native, program), arg], cwd=self.workdir,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)

    def test_help_and_a_wrong_command_line(self):
        for program, where, wrong, why in PROGRAMS:
            if where == "native" and self.wine.emulated:
                continue  # the same programs as in the x86_64 run
            name = program.replace(".exe", "")
            with self.subTest(program=program):
                r = self.run_program(program, where, "--help")
                self.assertEqual((r.returncode, r.stderr), (0, ""), r.stdout)
                self.assertRegex(r.stdout, r"^%s( \d+\.\d+\.\d+)?: \w" % name)
                if self.wine.emulated:
                    continue  # the same command-line code in both builds
                r = self.run_program(program, where, wrong)
                lines = r.stderr.splitlines() + ["", ""]
                self.assertEqual((r.returncode, r.stdout, lines[0], lines[1].split(" ")[:2]),
                                 (2, "", "%s: %s" % (name, why), ["usage:", name]))

    @unittest.skipIf(winerig.ARCH == "win32", "install.cmd is the same script for both builds")
    def test_install_cmd_registers_and_removes_for_the_user_and_the_machine(self):
        for name in ("install.cmd", "quillon.bridge.json"):
            shutil.copy(os.path.join(INSTALL, name), self.workdir)
        with open(os.path.join(self.workdir, "step.cmd"), "w", newline="") as f:
            f.write(STEP)
        manifest = "Z:" + os.path.join(self.workdir, "quillon.bridge.json").replace("/", "\\")

        def step(*args):
            """(exit status, {key: manifest path}, stderr) after install.cmd ARGS."""
            r = self.wine.run("cmd", ["/c", "step.cmd"] + list(args), cwd=self.workdir)
            keys, key = {}, None
            for line in r.stdout.splitlines():
                if line.startswith("HKEY_"):
                    key = line.replace("HKEY_CURRENT_USER", "HKCU").replace(
                        "HKEY_LOCAL_MACHINE", "HKLM").split("\\NativeMessagingHosts")[0]
                elif "REG_SZ" in line:
                    keys[key] = line.split("REG_SZ")[1].strip()
            return int(r.stdout.split("rc=")[1].split()[0]), keys, r.stderr.strip()

        def under(*roots):
            return {"%s\\Software\\%s" % (r, b): manifest for r in roots for b in BROWSERS}

        usage = "install.cmd: unknown option /user\nusage: install.cmd [/machine] [/remove]"
        for args, expected in [((), (0, under("HKCU"), "")),
                               (("/machine",), (0, under("HKCU", "HKLM"), "")),
                               (("/user",), (2, under("HKCU", "HKLM"), usage)),
                               (("/remove",), (0, under("HKLM"), "")),
                               (("/remove", "/machine"), (0, {}, ""))]:
            with self.subTest(args=args):
                self.assertEqual(step(*args), expected)
        os.unlink(os.path.join(self.workdir, "quillon.bridge.json"))
        self.assertEqual(step(), (1, {}, "install.cmd: %s is missing" % manifest))


if __name__ == "__main__":
    winerig.main()
