"""install.cmd under wine's cmd: it registers the bridge's host manifest with Chrome, Edge and
Chromium for the user or the machine, removes the registration again, and refuses what it does
not know. The script is the same for both builds, so the 64-bit prefix alone runs it."""
import os
import shutil
import unittest

import winerig

INSTALL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "clients", "install")
BROWSERS = ("Google\\Chrome", "Microsoft\\Edge", "Chromium")
# One step: the installer with the step's arguments, its exit status, then every registration.
# A child cmd, not "call": wine's call reports any nonzero exit of a batch file as 1.
STEP = ("@echo off\r\ncmd /c install.cmd %*\r\necho rc=%errorlevel%\r\n"
        "for %%R in (HKCU HKLM) do for %%K in (\"Google\\Chrome\" \"Microsoft\\Edge\" Chromium) do "
        "reg query \"%%R\\Software\\%%~K\\NativeMessagingHosts\\quillon.bridge\" /ve 2>nul\r\n")


@unittest.skipIf(winerig.ARCH == "win32", "install.cmd is the same script for both builds")
class HostRegistration(winerig.WineTestCase):
    def step(self, *args):
        """(exit status, {key: manifest path}, standard error) after install.cmd ARGS."""
        r = self.wine.run("cmd", ["/c", "step.cmd"] + list(args), cwd=self.workdir)
        keys, key = {}, None
        for line in r.stdout.splitlines():
            if line.startswith("HKEY_"):
                key = line.replace("HKEY_CURRENT_USER", "HKCU").replace("HKEY_LOCAL_MACHINE", "HKLM")
            elif "REG_SZ" in line:
                keys[key.split("\\NativeMessagingHosts")[0]] = line.split("REG_SZ")[1].strip()
        status = int(r.stdout.split("rc=")[1].split()[0])
        return status, keys, r.stderr.strip()

    def test_user_and_machine_registration_and_removal(self):
        for name in ("install.cmd", "quillon.bridge.json"):
            shutil.copy(os.path.join(INSTALL, name), self.workdir)
        with open(os.path.join(self.workdir, "step.cmd"), "w", newline="") as f:
            f.write(STEP)
        manifest = "Z:" + os.path.join(self.workdir, "quillon.bridge.json").replace("/", "\\")

        def under(*roots):
            return {"%s\\Software\\%s" % (r, b): manifest for r in roots for b in BROWSERS}

        usage = "install.cmd: unknown option /user\nusage: install.cmd [/machine] [/remove]"
        rows = [
            ((), 0, under("HKCU"), ""),
            (("/machine",), 0, under("HKCU", "HKLM"), ""),
            (("/user",), 2, under("HKCU", "HKLM"), usage),
            (("/remove",), 0, under("HKLM"), ""),
            (("/remove", "/machine"), 0, {}, ""),
        ]
        for args, status, keys, errors in rows:
            with self.subTest(args=args):
                self.assertEqual(self.step(*args), (status, keys, errors))
        os.unlink(os.path.join(self.workdir, "quillon.bridge.json"))
        self.assertEqual(self.step(), (1, {}, "install.cmd: %s is missing" % manifest))


if __name__ == "__main__":
    winerig.main()
