"""The shipped programs from the command line: --help, a wrong command line, the installer's
registrations and the README's marked shell blocks, pasted as they stand."""
import os
import re
import shutil
import subprocess
import unittest

import winerig

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
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
BLOCK = re.compile(r"^<!-- tested: [^\n]*-->\n```sh\n(.*?)^```$", re.M | re.S)
# What each README block shows, by the program it runs.
SHOWS = {"quillon_host.exe": r"result: 0\nreply: \[GETBRANCHCODE\]\[1\]\[EMPTY\]",
         "quillon_doctor.exe": r"\nFAIL  settings file: no QUILLON\.ini"}


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
            shutil.copy(os.path.join(ROOT, "clients", "install", name), self.workdir)
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
                for program, shown in SHOWS.items():
                    if program in block:
                        self.assertRegex(r.stdout.replace("\r\n", "\n"), shown)


if __name__ == "__main__":
    winerig.main()
