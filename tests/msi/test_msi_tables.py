"""The installer packages made by scripts/msi.py, read back with msitools, for what the wine64
install of the 64-bit one does not show: the 32-bit package, the fixed identity of both, the bytes
they carry, and the programs and browser registration that follow the build tree."""
import itertools
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from msitables import ROOT, UPGRADE_CODES, VERSION, build_msi, previous_version, table

BUILDS = {"win32": os.environ["QUILLON_WIN32_DIR"], "win64": os.environ["QUILLON_WIN64_DIR"]}
# Per build: its System folder and Program Files folder.
PLACES = {"win32": ("SystemFolder", "ProgramFilesFolder"),
          "win64": ("System64Folder", "ProgramFiles64Folder")}
DOCS = sorted(n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md"))
PERMANENT_NEVER_OVERWRITE, WIN64 = 0x10 | 0x80, 0x100  # msidbComponentAttributes


def files(msi):
    """{(folder, file name)} of what the package installs."""
    folder = {c["Component"]: c["Directory_"] for c in table(msi, "Component")}
    return {(folder[f["Component_"]], f["FileName"]) for f in table(msi, "File")}


def read(path):
    with open(path, "rb") as f:
        return f.read()


# (what the build tree holds besides the product, a bridge manifest?, what the package then adds
# to the install folder, the browsers registered)
OPTIONAL = [
    ("product alone", [], False, [], []),
    ("doctor built", ["quillon_doctor.exe"], False, ["quillon_doctor.exe"], []),
    ("bridge and manifest", ["quillon_bridge.exe"], True,
     ["quillon_bridge.exe", "counter-host.json"], ["Google\\Chrome", "Microsoft\\Edge"]),
    ("bridge without its manifest", ["quillon_bridge.exe"], False, ["quillon_bridge.exe"], []),
    ("manifest without a bridge", [], True, [], []),
]


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
            with self.subTest(arch):
                props = {p["Property"]: p["Value"] for p in table(msi, "Property")}
                dirs = {d["Directory"]: d["Directory_Parent"] for d in table(msi, "Directory")}
                settings = [int(c["Attributes"]) for c in table(msi, "Component")
                            if c["Directory_"] == PLACES[arch][0]]
                self.assertEqual(
                    (os.path.basename(msi), props["ProductVersion"], props["UpgradeCode"],
                     props["ALLUSERS"], dirs["INSTALLDIR"], settings),
                    ("quillon-%s-%s.msi" % (VERSION, arch), VERSION, UPGRADE_CODES[arch], "1",
                     PLACES[arch][1],
                     [PERMANENT_NEVER_OVERWRITE | (WIN64 if arch == "win64" else 0)]))

    def test_component_codes_stay_between_versions_and_differ_between_builds(self):
        codes = {a: [{c["Component"]: c["ComponentId"] for c in table(m[a], "Component")}
                     for m in (self.msi, self.older)] for a in BUILDS}
        for arch, (now, before) in codes.items():
            self.assertEqual(now, before, arch)
        self.assertFalse(set(codes["win32"][0].values()) & set(codes["win64"][0].values()))

    def test_carried_bytes_are_the_builds_programs_and_notepad_ready_texts(self):
        for arch, msi in self.msi.items():
            with self.subTest(arch):
                unpacked = tempfile.mkdtemp(dir=self.out)
                subprocess.run(["msiextract", "-C", unpacked, msi], check=True,
                               capture_output=True)
                folder = next(d for d, _, names in os.walk(unpacked) if "quillon.dll" in names)
                for name in ("quillon.dll", "quillon_host.exe"):
                    self.assertEqual(read(os.path.join(folder, name)),
                                     read(os.path.join(BUILDS[arch], name)), name)
                # Links out of docs\ become their text, the rest of each page stays.
                self.assertEqual(read(os.path.join(folder, "docs", "settings.md")),
                                 read(os.path.join(ROOT, "docs", "settings.md")).replace(
                                     b"[`packaging/QUILLON.ini`](../packaging/QUILLON.ini)",
                                     b"`packaging/QUILLON.ini`"))

    def test_programs_and_browser_registration_follow_the_build_tree(self):
        manifest = os.path.join(self.out, "counter-host.json")  # its "name" is the key
        with open(manifest, "w") as f:
            json.dump({"name": "org.example.counter_bridge", "path": "quillon_bridge.exe"}, f)
        for (label, extra, registered, added, browsers), arch in itertools.product(OPTIONAL,
                                                                                   BUILDS):
            with self.subTest(label, arch=arch):
                tree = tempfile.mkdtemp(dir=self.out)
                for name in ("quillon.dll", "quillon_host.exe"):
                    shutil.copy(os.path.join(BUILDS[arch], name), tree)
                for name in extra:  # taken as they are: a stand-in will do
                    with open(os.path.join(tree, name), "wb") as f:
                        f.write(b"stand-in")
                msi, errors = build_msi(tree, tempfile.mkdtemp(dir=self.out), manifest=manifest
                                        if registered else os.path.join(self.out, "absent.json"))
                self.assertEqual(files(msi), {("INSTALLDIR", n) for n in
                                              ["quillon.dll", "quillon_host.exe", "README.txt"]
                                              + added} |
                                 {(PLACES[arch][0], "QUILLON.ini")} | {("DOCS", n) for n in DOCS})
                self.assertEqual(sorted((r["Root"], r["Key"], r["Name"], r["Value"])
                                        for r in table(msi, "Registry")),
                                 [("2", "Software\\%s\\NativeMessagingHosts\\org.example."
                                   "counter_bridge" % b, "", "[INSTALLDIR]counter-host.json")
                                  for b in browsers])
                self.assertEqual("the bridge is installed but not registered" in errors,
                                 label == "bridge without its manifest")


if __name__ == "__main__":
    unittest.main(verbosity=2)
