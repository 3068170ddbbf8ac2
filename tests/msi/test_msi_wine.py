"""The 64-bit package under wine64's msiexec, in a prefix of its own: a silent install of the
previous version, the bank's edit to QUILLON.ini, the upgrade to this version in place, a refused
downgrade and the removal, with the files, the browser registration and the installed products
checked after each step, and the installed host program answering from the installed library and
settings."""
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import winerig
from msitables import ROOT, VERSION, build_msi, previous_version, table

BUILD = os.environ["QUILLON_WIN64_DIR"]
MANIFEST = os.path.join(ROOT, "clients", "install", "quillon.bridge.json")
INSTALLED = r"C:\Program Files\Quillon"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
BROWSERS = [r"HKLM\Software\Google\Chrome\NativeMessagingHosts",
            r"HKLM\Software\Microsoft\Edge\NativeMessagingHosts"]
# msiexec's 1603 (fatal error: here a launch condition) as a Unix exit status keeps its low byte.
REFUSED = 1603 & 0xFF
BRANCH = "[BRANCH]\r\nCODE=TK017\r\nNAME=Taman Kenari\r\n"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class SilentInstallUpgradeRemoval(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quillon-msi-wine-")
        # The release's bridge and manifest, or stand-ins when this tree has none, so the
        # registration is exercised all the same.
        tree = os.path.join(cls.work, "tree")
        os.makedirs(tree)
        for name in ("quillon.dll", "quillon_host.exe", "quillon_bridge.exe", "quillon_doctor.exe"):
            if os.path.isfile(os.path.join(BUILD, name)):
                shutil.copy(os.path.join(BUILD, name), tree)
        cls.real_bridge = os.path.isfile(os.path.join(tree, "quillon_bridge.exe"))
        if not cls.real_bridge:
            with open(os.path.join(tree, "quillon_bridge.exe"), "wb") as f:
                f.write(b"stand-in bridge")
        cls.manifest = MANIFEST
        if not os.path.isfile(MANIFEST):
            cls.manifest = os.path.join(cls.work, "quillon.bridge.json")
            with open(cls.manifest, "w") as f:
                json.dump({"name": "org.example.counter_bridge", "path": "quillon_bridge.exe",
                           "type": "stdio", "allowed_origins": []}, f)
        with open(cls.manifest) as f:
            cls.host_name = json.load(f)["name"]
        cls.expected = sorted(os.listdir(tree) + [os.path.basename(cls.manifest), "README.txt"] +
                              ["docs\\" + n for n in os.listdir(os.path.join(ROOT, "docs"))
                               if n.endswith(".md")])
        out = os.path.join(cls.work, "out")
        cls.current = build_msi(tree, out, manifest=cls.manifest)[0]
        cls.older = build_msi(tree, out, previous_version(VERSION), manifest=cls.manifest)[0]
        cls.rebuilt = build_msi(tree, os.path.join(out, "rebuilt"), manifest=cls.manifest)[0]
        cls.wine = winerig.Wine(os.path.join(cls.work, "prefix"), arch="win64")
        started = time.monotonic()
        cls.wine.create()
        print("prefix ready in %.1f s" % (time.monotonic() - started))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill_server()
        shutil.rmtree(cls.work, ignore_errors=True)

    def msiexec(self, *args):
        log = os.path.join(self.work, "msiexec.log")
        if os.path.exists(log):  # msiexec appends
            os.unlink(log)
        started = time.monotonic()
        r = self.wine.run("msiexec", list(args) + ["/qn", "/l*v", windows_path(log)], timeout=180)
        print("msiexec %s: %.1f s" % (" ".join(args[:1]), time.monotonic() - started))
        self.last_log = ""
        if os.path.exists(log):
            with open(log, encoding="latin-1") as f:
                self.last_log = f.read()
        return r.returncode

    def installed_files(self):
        top = os.path.join(self.wine.prefix, "drive_c", "Program Files", "Quillon")
        return sorted(os.path.relpath(os.path.join(d, n), top).replace("/", "\\")
                      for d, _, names in os.walk(top) for n in names)

    def ini(self):
        path = os.path.join(self.wine.prefix, "drive_c", "windows", "system32", "QUILLON.ini")
        with open(path, "rb") as f:
            return f.read()

    def default_value(self, key):
        """The key's default value, or None when the key is not there."""
        r = self.wine.run("reg", ["query", key, "/ve"])
        found = re.search(r"\(Default\)\s+REG_SZ\s+(.*)", r.stdout)
        return found.group(1).strip() if r.returncode == 0 and found else None

    def registrations(self):
        return [self.default_value("%s\\%s" % (b, self.host_name)) for b in BROWSERS]

    def products(self):
        """{product code: version} of the Quillon products the PC lists as installed."""
        r = self.wine.run("reg", ["query", UNINSTALL, "/s"])
        found, key, fields = {}, None, {}
        for line in r.stdout.splitlines() + ["HKEY_END"]:
            if line.startswith("HKEY_"):
                if key and fields.get("DisplayName") == "Quillon":
                    found[key.rsplit("\\", 1)[1]] = fields.get("DisplayVersion")
                key, fields = line.strip(), {}
            elif "REG_" in line:
                name, _, value = re.split(r"\s+(REG_\w+)\s*", line.strip(), maxsplit=1)
                fields[name] = value
        return found

    def unix_path(self, windows):
        return os.path.join(self.wine.prefix, "drive_c", windows[3:].replace("\\", "/"))

    def ask_bridge_as_a_browser_would(self, message):
        """Follows Chrome's key to the manifest and its path to the bridge, and sends one
        message; returns the answer."""
        manifest = self.registrations()[0]
        with open(self.unix_path(manifest)) as f:
            program = manifest.rsplit("\\", 1)[0] + "\\" + json.load(f)["path"]
        data = json.dumps(message).encode()
        bridge = self.wine.popen(program, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, cwd=self.work)
        out, _ = bridge.communicate(struct.pack("<I", len(data)) + data, timeout=60)
        size = struct.unpack_from("<I", out)[0]
        return json.loads(out[4:4 + size])

    def product_code(self, msi):
        return {p["Property"]: p["Value"] for p in table(msi, "Property")}["ProductCode"]

    def test_install_upgrade_refused_downgrade_and_removal(self):
        with open(os.path.join(ROOT, "packaging", "QUILLON.ini"), "rb") as f:
            template = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        manifest_path = "%s\\%s" % (INSTALLED, os.path.basename(self.manifest))
        older, current = previous_version(VERSION), VERSION

        # A fresh PC: the previous version, silently.
        self.assertEqual(self.msiexec("/i", windows_path(self.older)), 0, self.last_log[-3000:])
        self.assertEqual(self.installed_files(), self.expected)
        self.assertEqual(self.ini(), template)
        self.assertEqual(self.registrations(), [manifest_path] * len(BROWSERS))
        self.assertEqual(self.products(), {self.product_code(self.older): older})

        # The bank sets its branch in the machine's settings file.
        with open(os.path.join(self.wine.prefix, "drive_c", "windows", "system32",
                               "QUILLON.ini"), "wb") as f:
            f.write(BRANCH.encode())

        # This version over it: one product left, the edited settings kept.
        self.assertEqual(self.msiexec("/i", windows_path(self.current)), 0, self.last_log[-3000:])
        self.assertIn("WIX_UPGRADE_DETECTED = %s\n" % self.product_code(self.older), self.last_log)
        self.assertEqual(self.products(), {self.product_code(self.current): current})
        self.assertEqual(self.installed_files(), self.expected)
        self.assertEqual(self.ini(), BRANCH.encode())
        self.assertEqual(self.registrations(), [manifest_path] * len(BROWSERS))
        with open(os.path.join(self.wine.prefix, "drive_c", "Program Files", "Quillon",
                               "quillon.dll"), "rb") as installed, \
                open(os.path.join(BUILD, "quillon.dll"), "rb") as built:
            self.assertEqual(installed.read(), built.read())
        # From a folder without QUILLON.ini the installed host reads the machine's one.
        elsewhere = tempfile.mkdtemp(dir=self.work)
        r = self.wine.run(INSTALLED + r"\quillon_host.exe", ["[GETBRANCHCODE]"], cwd=elsewhere)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("result: 0\n", r.stdout)
        self.assertRegex(r.stdout, r"reply: +\[GETBRANCHCODE\]\[0\]\[TK017\]\[Taman Kenari\]"
                                   r"\[\d+\.\d+\.\d+\.\d+\]\[123\]\n")

        if "quillon_doctor.exe" in self.expected:  # a program that runs from where it lies
            r = self.wine.run(INSTALLED + r"\quillon_doctor.exe", ["--help"], cwd=elsewhere)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertIn("quillon_doctor", r.stdout)

        if self.real_bridge:
            self.assertEqual(self.ask_bridge_as_a_browser_would({"id": 1, "cmd": "version"}),
                             {"id": 1, "bridge": VERSION, "dll": VERSION})

        # The same package again changes nothing; a rebuild of this version replaces it.
        self.assertEqual(self.msiexec("/i", windows_path(self.current)), 0, self.last_log[-3000:])
        self.assertEqual(self.products(), {self.product_code(self.current): current})
        self.assertEqual(self.msiexec("/i", windows_path(self.rebuilt)), 0, self.last_log[-3000:])
        self.assertIn("WIX_UPGRADE_DETECTED = %s\n" % self.product_code(self.current),
                      self.last_log)
        self.assertEqual(self.products(), {self.product_code(self.rebuilt): current})
        self.assertEqual(self.installed_files(), self.expected)
        self.assertEqual(self.ini(), BRANCH.encode())

        # The previous version again: refused, nothing changed.
        self.assertEqual(self.msiexec("/i", windows_path(self.older)), REFUSED)
        # The refusal is the launch condition on the newer product found (a silent install
        # shows and logs no message text).
        self.assertIn("WIX_DOWNGRADE_DETECTED = %s\n" % self.product_code(self.rebuilt),
                      self.last_log)
        self.assertRegex(self.last_log, r"LaunchConditions\. Return value 0\.")
        self.assertNotIn("InstallFiles", self.last_log)
        self.assertEqual(self.products(), {self.product_code(self.rebuilt): current})
        self.assertEqual(self.installed_files(), self.expected)

        # Removal by product code, as a distribution tool does it without the package at hand.
        self.assertEqual(self.msiexec("/x", self.product_code(self.rebuilt)), 0,
                         self.last_log[-3000:])
        self.assertFalse(os.path.exists(os.path.join(self.wine.prefix, "drive_c",
                                                     "Program Files", "Quillon")))
        self.assertEqual(self.registrations(), [None] * len(BROWSERS))
        self.assertEqual(self.products(), {})
        self.assertEqual(self.ini(), BRANCH.encode())


if __name__ == "__main__":
    unittest.main(verbosity=2)
