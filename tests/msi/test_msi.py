"""The installer packages: both builds' tables read back with msitools (Packages); the 64-bit one
under wine64's msiexec in a prefix of its own (SilentInstallUpgradeRemoval): install, the bank's
edit to QUILLON.ini, upgrade, rebuild, refused downgrade, removal; and the 32-bit one, the
branches' package, under the 32-bit wine (SilentInstallUpgradeRemoval32): install, upgrade and
removal only, since each step costs seconds under the emulator and the rest is the same package
logic."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import winerig
from winerig import windows_path

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", _f.read())[1]
BUILDS = {"win32": os.environ["QUILLON_WIN32_DIR"], "win64": os.environ["QUILLON_WIN64_DIR"]}
# Written out here, not read from the script: a package with another upgrade code no longer
# replaces the versions already on the counter PCs.
UPGRADE_CODES = {"win32": "{5E0B6A41-93C7-4F2E-8D1A-0C7B3F6E2A91}",
                 "win64": "{B27D4C18-6A05-4E93-A1F6-7D2C9E4B5830}"}
PLACES = {"win32": ("SystemFolder", "ProgramFilesFolder"),  # the settings file's, the programs'
          "win64": ("System64Folder", "ProgramFiles64Folder")}
PERMANENT_NEVER_OVERWRITE, WIN64 = 0x10 | 0x80, 0x100  # msidbComponentAttributes
# The install folder: administrators and SYSTEM full control, users read and execute, nothing
# inherited from the parent, all of it inherited by what the package puts inside.
LOCKED = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
DOCS = sorted(n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md"))


def previous_version(version):
    """A version below `version` (the last nonzero number lowered by one)."""
    numbers = [int(n) for n in version.split(".")]
    numbers[max(i for i, n in enumerate(numbers) if n)] -= 1
    return ".".join(map(str, numbers))


def build_msi(build, out, version=None, manifest=None):
    """(path of the package, msi.py's stderr)"""
    r = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "msi.py"), build, out] +
                       (["--version", version] if version else []), capture_output=True, text=True,
                       env=dict(os.environ, QUILLON_BRIDGE_MANIFEST=manifest or ""))
    assert r.returncode == 0, "msi.py: " + r.stdout + r.stderr
    return r.stdout.strip(), r.stderr


def table(msi, name):
    """The rows of one table as dicts of column: text."""
    lines = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True,
                           check=True).stdout.replace("\r\n", "\n").split("\n")
    return [dict(zip(lines[0].split("\t"), l.split("\t"))) for l in lines[3:] if l]


INSTALLED = r"C:\Program Files\Quillon"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
HOST_NAME = "org.example.counter_bridge"
BROWSERS = [r"HKLM\Software\%s\NativeMessagingHosts\%s" % (b, HOST_NAME)
            for b in ("Google\\Chrome", "Microsoft\\Edge")]
REFUSED = 1603 & 0xFF  # msiexec's fatal error as a Unix exit status
BRANCH = b"[BRANCH]\r\nCODE=TK017\r\nNAME=Taman Kenari\r\n"


product_code = lambda msi: next(p["Value"] for p in table(msi, "Property")  # noqa: E731
                                if p["Property"] == "ProductCode")


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="quillon-msi-")
        cls.msi = {a: build_msi(b, cls.out)[0] for a, b in BUILDS.items()}
        cls.older = {a: build_msi(b, os.path.join(cls.out, "older"), previous_version(VERSION))[0]
                     for a, b in BUILDS.items()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)

    def test_identity_folders_settings_attributes_and_component_codes_of_each_build(self):
        codes = {}
        for arch, msi in self.msi.items():
            props = {p["Property"]: p["Value"] for p in table(msi, "Property")}
            dirs = {d["Directory"]: d["Directory_Parent"] for d in table(msi, "Directory")}
            settings = [int(c["Attributes"]) for c in table(msi, "Component")
                        if c["Directory_"] == PLACES[arch][0]]
            # HKLM (root 2) keys whose default value is the bridge's manifest beside it.
            self.assertEqual(sorted((r["Root"], r["Key"], r["Name"], r["Value"])
                                    for r in table(msi, "Registry")),
                             [("2", r"Software\%s\NativeMessagingHosts\quillon.bridge" % b, "",
                               "[INSTALLDIR]quillon.bridge.json")
                              for b in ("Google\\Chrome", "Microsoft\\Edge")], arch)
            # Set when the folder is made, whatever INSTALLDIR the install is given.
            self.assertEqual(([(r["Directory_"], r["Component_"]) for r in table(msi, "CreateFolder")],
                              [(r["LockObject"], r["Table"], r["SDDL"], r["Condition"])
                               for r in table(msi, "MsiLockPermissionsEx")]),
                             ([("INSTALLDIR", "INSTALLDIR_permissions")],
                              [("INSTALLDIR", "CreateFolder", LOCKED, "")]), arch)
            codes[arch] = [{c["Component"]: c["ComponentId"] for c in table(m, "Component")}
                           for m in (msi, self.older[arch])]
            self.assertEqual(
                (os.path.basename(msi), props["ProductVersion"], props["UpgradeCode"],
                 props["ALLUSERS"], dirs["INSTALLDIR"], settings, codes[arch][0]),
                ("quillon-%s-%s.msi" % (VERSION, arch), VERSION, UPGRADE_CODES[arch], "1",
                 PLACES[arch][1], [PERMANENT_NEVER_OVERWRITE | (WIN64 if arch == "win64" else 0)],
                 codes[arch][1]))  # the older version's codes: an upgrade replaces in place
        self.assertFalse(set(codes["win32"][0].values()) & set(codes["win64"][0].values()))

    def test_built_programs_are_carried_and_a_bridge_without_its_manifest_is_not_registered(self):
        tree = tempfile.mkdtemp(dir=self.out)
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(BUILDS["win32"], name), tree)
        for name in ("quillon_doctor.exe", "quillon_bridge.exe"):  # taken as they are
            with open(os.path.join(tree, name), "wb") as f:
                f.write(b"stand-in")
        msi, errors = build_msi(tree, self.out + "/tree", manifest=self.out + "/absent.json")
        folder = {c["Component"]: c["Directory_"] for c in table(msi, "Component")}
        self.assertEqual({(folder[f["Component_"]], f["FileName"]) for f in table(msi, "File")},
                         {("INSTALLDIR", n) for n in os.listdir(tree) + ["README.txt"]} |
                         {("SystemFolder", "QUILLON.ini")} | {("DOCS", n) for n in DOCS})
        self.assertEqual(table(msi, "Registry"), [])
        self.assertIn("the bridge is installed but not registered", errors)


class SilentInstallUpgradeRemoval(unittest.TestCase):
    ARCH = "win64"

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quillon-msi-wine-")
        tree = os.path.join(cls.work, "tree")
        os.makedirs(tree)
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(BUILDS[cls.ARCH], name), tree)
        with open(os.path.join(tree, "quillon_bridge.exe"), "wb") as f:
            f.write(b"stand-in bridge")  # installed and registered, never run here
        manifest = os.path.join(cls.work, "counter-host.json")
        with open(manifest, "w") as f:
            json.dump({"name": HOST_NAME, "path": "quillon_bridge.exe"}, f)
        cls.expected = sorted(os.listdir(tree) + ["counter-host.json", "README.txt"] +
                              ["docs\\" + n for n in DOCS])
        out = os.path.join(cls.work, "out")
        cls.current = build_msi(tree, out, manifest=manifest)[0]
        cls.older = build_msi(tree, out, previous_version(VERSION), manifest=manifest)[0]
        cls.rebuilt = build_msi(tree, os.path.join(out, "rebuilt"), manifest=manifest)[0]
        cls.wine = winerig.Wine(os.path.join(cls.work, "prefix"), arch=cls.ARCH)
        cls.wine.create()
        cls.drive = os.path.join(cls.wine.prefix, "drive_c")

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill_server()
        shutil.rmtree(cls.work, ignore_errors=True)

    def msiexec(self, *args):
        log = os.path.join(tempfile.mkdtemp(dir=self.work), "msiexec.log")  # msiexec appends
        r = self.wine.run("msiexec", list(args) + ["/qn", "/l*v", windows_path(log)], timeout=180)
        self.last_log = ""
        if os.path.exists(log):
            with open(log, encoding="latin-1") as f:
                self.last_log = f.read()
        return r.returncode

    def state(self):
        """(installed files, QUILLON.ini, browser registrations, {product code: version})"""
        top = os.path.join(self.drive, "Program Files", "Quillon")
        listed = sorted(os.path.relpath(os.path.join(d, n), top).replace("/", "\\")
                        for d, _, names in os.walk(top) for n in names)
        with open(os.path.join(self.drive, "windows", "system32", "QUILLON.ini"), "rb") as f:
            ini = f.read()
        registered = [(re.findall(r"\(Default\)\s+REG_SZ\s+(.*\S)", self.wine.run(
            "reg", ["query", key, "/ve"]).stdout) or [None])[0] for key in BROWSERS]
        blocks = self.wine.run("reg", ["query", UNINSTALL, "/s"]).stdout.split("HKEY_")[1:]
        products = {b.split("\n", 1)[0].strip().rsplit("\\", 1)[1]: re.search(
            r"DisplayVersion\s+REG_SZ\s+(\S+)", b)[1] for b in blocks
            if re.search(r"^\s*DisplayName\s+REG_SZ\s+Quillon\s*$", b, re.M)}
        return listed, ini, registered, products

    def test_each_step_leaves_the_files_settings_registrations_and_product_it_should(self):
        with open(os.path.join(ROOT, "packaging", "QUILLON.ini"), "rb") as f:
            template = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        registered = [INSTALLED + r"\counter-host.json"] * len(BROWSERS)
        steps = [
            # (what, msiexec arguments, exit status, installed product afterwards, QUILLON.ini)
            ("fresh install", ["/i", self.older], 0, self.older, template),
            ("upgrade", ["/i", self.current], 0, self.current, BRANCH),
            ("rebuild", ["/i", self.rebuilt], 0, self.rebuilt, BRANCH),
            ("downgrade", ["/i", self.older], REFUSED, self.rebuilt, BRANCH),
        ][:4 if self.ARCH == "win64" else 2]
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
                        ("quillon.dll", BUILDS[self.ARCH], b"", b""),
                        ("docs/settings.md", ROOT, b"[`packaging/QUILLON.ini`]"
                         b"(../packaging/QUILLON.ini)", b"`packaging/QUILLON.ini`")):
                    with open(os.path.join(self.drive, "Program Files", "Quillon", name),
                              "rb") as got, open(os.path.join(source, name), "rb") as f:
                        self.assertEqual(got.read(), f.read().replace(old, new), name)
        installed = product_code(product)
        if self.ARCH == "win64":
            # Refused by the launch condition on the newer product, not by some failure.
            self.assertIn("WIX_DOWNGRADE_DETECTED = %s\n" % installed, self.last_log)
            # The installed programs work together: from a folder without QUILLON.ini the
            # installed host's library reads the bank's one in System32.
            r = self.wine.run(INSTALLED + r"\quillon_host.exe", ["[GETBRANCHCODE]"],
                              cwd=tempfile.mkdtemp(dir=self.work))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertRegex(r.stdout, r"reply: +\[GETBRANCHCODE\]\[0\]\[TK017\]\[Taman "
                                       r"Kenari\]\[\d+\.\d+\.\d+\.\d+\]\[123\]\n")

        # Removal by product code, as a distribution tool does it without the package at hand.
        self.assertEqual(self.msiexec("/x", installed), 0, self.last_log[-3000:])
        self.assertEqual(self.state(), ([], BRANCH, [None] * len(BROWSERS), {}))
        self.assertFalse(os.path.exists(os.path.join(self.drive, "Program Files", "Quillon")))


class SilentInstallUpgradeRemoval32(SilentInstallUpgradeRemoval):
    ARCH = "win32"


if __name__ == "__main__":
    unittest.main(verbosity=2)
