"""The 64-bit package under wine64's msiexec in a prefix of its own: install, the bank's edit to
QUILLON.ini, upgrade, rebuild, refused downgrade and removal, each checked on what the PC holds."""
import json
import os
import re
import shutil
import tempfile
import unittest

import winerig
from test_msi_tables import ROOT, VERSION, build_msi, previous_version, table

BUILD = os.environ["QUILLON_WIN64_DIR"]
INSTALLED = r"C:\Program Files\Quillon"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
HOST_NAME = "org.example.counter_bridge"
BROWSERS = [r"HKLM\Software\%s\NativeMessagingHosts\%s" % (b, HOST_NAME)
            for b in ("Google\\Chrome", "Microsoft\\Edge")]
REFUSED = 1603 & 0xFF  # msiexec's fatal error as a Unix exit status
BRANCH = b"[BRANCH]\r\nCODE=TK017\r\nNAME=Taman Kenari\r\n"


windows_path = lambda path: "Z:" + os.path.abspath(path).replace("/", "\\")  # noqa: E731
product_code = lambda msi: next(p["Value"] for p in table(msi, "Property")  # noqa: E731
                                if p["Property"] == "ProductCode")


class SilentInstallUpgradeRemoval(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quillon-msi-wine-")
        tree = os.path.join(cls.work, "tree")
        os.makedirs(tree)
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(BUILD, name), tree)
        with open(os.path.join(tree, "quillon_bridge.exe"), "wb") as f:
            f.write(b"stand-in bridge")  # installed and registered, never run here
        manifest = os.path.join(cls.work, "counter-host.json")
        with open(manifest, "w") as f:
            json.dump({"name": HOST_NAME, "path": "quillon_bridge.exe"}, f)
        cls.expected = sorted(os.listdir(tree) + ["counter-host.json", "README.txt"] +
                              ["docs\\" + n for n in os.listdir(os.path.join(ROOT, "docs"))
                               if n.endswith(".md")])
        out = os.path.join(cls.work, "out")
        cls.current = build_msi(tree, out, manifest=manifest)[0]
        cls.older = build_msi(tree, out, previous_version(VERSION), manifest=manifest)[0]
        cls.rebuilt = build_msi(tree, os.path.join(out, "rebuilt"), manifest=manifest)[0]
        cls.wine = winerig.Wine(os.path.join(cls.work, "prefix"), arch="win64")
        cls.wine.create()
        cls.drive = os.path.join(cls.wine.prefix, "drive_c")

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill_server()
        shutil.rmtree(cls.work, ignore_errors=True)

    def msiexec(self, *args):
        log = os.path.join(tempfile.mkdtemp(dir=self.work), "msiexec.log")  # msiexec appends
        r = self.wine.run("msiexec", list(args) + ["/qn", "/l*v", windows_path(log)], timeout=180)
        self.last_log = open(log, encoding="latin-1").read() if os.path.exists(log) else ""
        return r.returncode

    def state(self):
        """(installed files, QUILLON.ini, browser registrations, {product code: version})"""
        top = os.path.join(self.drive, "Program Files", "Quillon")
        listed = sorted(os.path.relpath(os.path.join(d, n), top).replace("/", "\\")
                        for d, _, names in os.walk(top) for n in names)
        with open(os.path.join(self.drive, "windows", "system32", "QUILLON.ini"), "rb") as f:
            ini = f.read()
        registered = []
        for key in BROWSERS:
            r = self.wine.run("reg", ["query", key, "/ve"])
            found = re.search(r"\(Default\)\s+REG_SZ\s+(.*)", r.stdout)
            registered.append(found.group(1).strip() if r.returncode == 0 and found else None)
        products = {}
        for block in self.wine.run("reg", ["query", UNINSTALL, "/s"]).stdout.split("HKEY_")[1:]:
            if re.search(r"^\s*DisplayName\s+REG_SZ\s+Quillon\s*$", block, re.M):
                products[block.split("\n", 1)[0].strip().rsplit("\\", 1)[1]] = re.search(
                    r"DisplayVersion\s+REG_SZ\s+(\S+)", block)[1]
        return listed, ini, registered, products

    def test_install_upgrade_rebuild_refused_downgrade_and_removal(self):
        with open(os.path.join(ROOT, "packaging", "QUILLON.ini"), "rb") as f:
            template = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        registered = [INSTALLED + r"\counter-host.json"] * len(BROWSERS)
        steps = [
            # (what, msiexec arguments, exit status, installed product afterwards, QUILLON.ini)
            ("fresh install", ["/i", self.older], 0, self.older, template),
            ("upgrade", ["/i", self.current], 0, self.current, BRANCH),
            ("rebuild", ["/i", self.rebuilt], 0, self.rebuilt, BRANCH),
            ("downgrade", ["/i", self.older], REFUSED, self.rebuilt, BRANCH),
        ]
        for what, (verb, msi), status, product, ini in steps:
            self.assertEqual(self.msiexec(verb, windows_path(msi)), status,
                             what + self.last_log[-3000:])
            version = VERSION if product != self.older else previous_version(VERSION)
            self.assertEqual(self.state(), (self.expected, ini, registered,
                                            {product_code(product): version}), what)
            if what == "fresh install":  # the bank sets its branch
                with open(os.path.join(self.drive, "windows", "system32", "QUILLON.ini"),
                          "wb") as f:
                    f.write(BRANCH)
                # The carried bytes: the build's program, a page whose link out of docs\ is text.
                for name, source, old, new in (
                        ("quillon.dll", BUILD, b"", b""),
                        ("docs/settings.md", ROOT, b"[`packaging/QUILLON.ini`]"
                         b"(../packaging/QUILLON.ini)", b"`packaging/QUILLON.ini`")):
                    with open(os.path.join(self.drive, "Program Files", "Quillon", name),
                              "rb") as got, open(os.path.join(source, name), "rb") as f:
                        self.assertEqual(got.read(), f.read().replace(old, new), name)
        # Refused by the launch condition on the newer product, not by some failure.
        self.assertIn("WIX_DOWNGRADE_DETECTED = %s\n" % product_code(self.rebuilt), self.last_log)

        # From a folder without QUILLON.ini the installed host reads the machine's one.
        r = self.wine.run(INSTALLED + r"\quillon_host.exe", ["[GETBRANCHCODE]"],
                          cwd=tempfile.mkdtemp(dir=self.work))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertRegex(r.stdout, r"reply: +\[GETBRANCHCODE\]\[0\]\[TK017\]\[Taman Kenari\]"
                                   r"\[\d+\.\d+\.\d+\.\d+\]\[123\]\n")

        # Removal by product code, as a distribution tool does it without the package at hand.
        self.assertEqual(self.msiexec("/x", product_code(self.rebuilt)), 0, self.last_log[-3000:])
        self.assertEqual(self.state(), ([], BRANCH, [None] * len(BROWSERS), {}))
        self.assertFalse(os.path.exists(os.path.join(self.drive, "Program Files", "Quillon")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
