"""The installer packages read back with msitools, for what the wine64 install of the 64-bit one
does not show: the 32-bit package, the fixed identity of both, and the programs that follow the
build tree. Its helpers build a package with scripts/msi.py and read its tables."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

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

    def test_identity_folders_and_settings_attributes_of_each_build(self):
        for arch, msi in self.msi.items():
            props = {p["Property"]: p["Value"] for p in table(msi, "Property")}
            dirs = {d["Directory"]: d["Directory_Parent"] for d in table(msi, "Directory")}
            settings = [int(c["Attributes"]) for c in table(msi, "Component")
                        if c["Directory_"] == PLACES[arch][0]]
            self.assertEqual(
                (os.path.basename(msi), props["ProductVersion"], props["UpgradeCode"],
                 props["ALLUSERS"], dirs["INSTALLDIR"], settings),
                ("quillon-%s-%s.msi" % (VERSION, arch), VERSION, UPGRADE_CODES[arch], "1",
                 PLACES[arch][1], [PERMANENT_NEVER_OVERWRITE | (WIN64 if arch == "win64" else 0)]))

    def test_component_codes_stay_between_versions_and_differ_between_builds(self):
        codes = {a: [{c["Component"]: c["ComponentId"] for c in table(m[a], "Component")}
                     for m in (self.msi, self.older)] for a in BUILDS}
        for arch, (now, before) in codes.items():
            self.assertEqual(now, before, arch)
        self.assertFalse(set(codes["win32"][0].values()) & set(codes["win64"][0].values()))

    def test_programs_follow_the_build_tree_and_a_bridge_needs_its_manifest_to_register(self):
        manifest = os.path.join(self.out, "counter-host.json")
        with open(manifest, "w") as f:
            json.dump({"name": "org.example.counter_bridge", "path": "quillon_bridge.exe"}, f)
        docs = {("DOCS", n) for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md")}
        # (what the build tree holds besides the product, a manifest?): the bridge with its
        # manifest registered is the wine test's.
        for extra, registered in ((["quillon_doctor.exe"], True), (["quillon_bridge.exe"], False)):
            tree = tempfile.mkdtemp(dir=self.out)
            for name in ("quillon.dll", "quillon_host.exe"):
                shutil.copy(os.path.join(BUILDS["win32"], name), tree)
            for name in extra:  # taken as they are: a stand-in will do
                with open(os.path.join(tree, name), "wb") as f:
                    f.write(b"stand-in")
            msi, errors = build_msi(tree, tempfile.mkdtemp(dir=self.out), manifest=manifest
                                    if registered else os.path.join(self.out, "absent.json"))
            folder = {c["Component"]: c["Directory_"] for c in table(msi, "Component")}
            self.assertEqual({(folder[f["Component_"]], f["FileName"]) for f in table(msi, "File")},
                             {("INSTALLDIR", n) for n in ["quillon.dll", "quillon_host.exe",
                                                          "README.txt"] + extra} |
                             {("SystemFolder", "QUILLON.ini")} | docs, extra)
            self.assertEqual(table(msi, "Registry"), [], extra)
            self.assertEqual("the bridge is installed but not registered" in errors, not registered)


if __name__ == "__main__":
    unittest.main(verbosity=2)
