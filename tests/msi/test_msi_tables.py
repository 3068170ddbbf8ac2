"""The installer packages made by scripts/msi.py, read back with msitools: product identity,
files and their folders, components, the upgrade rows, the bytes installed, and the programs and
browser registration that appear only when the build tree has them."""
import itertools
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from msitables import (MSI_PY, ROOT, UPGRADE_CODES, VERSION, build_msi, previous_version, summary,
                       table)

BUILDS = {"win32": os.environ["QUILLON_WIN32_DIR"], "win64": os.environ["QUILLON_WIN64_DIR"]}
SYSTEM = {"win32": "SystemFolder", "win64": "System64Folder"}
TEMPLATE = {"win32": "Intel;1033", "win64": "x64;1033"}
DOCS = sorted(n for n in os.listdir(os.path.join(ROOT, "docs")) if n.endswith(".md"))
# msidbComponentAttributes
REGISTRY_KEY_PATH, PERMANENT, NEVER_OVERWRITE, WIN64 = 0x4, 0x10, 0x80, 0x100
MANIFEST = os.path.join(ROOT, "clients", "install", "quillon.bridge.json")


def built_extras(arch):
    """What this build tree has beyond the product, with the bridge's manifest when it exists."""
    extra = [n for n in ("quillon_doctor.exe", "quillon_bridge.exe")
             if os.path.isfile(os.path.join(BUILDS[arch], n))]
    if "quillon_bridge.exe" in extra and os.path.isfile(MANIFEST):
        extra.append(os.path.basename(MANIFEST))
    return extra


def product_files(arch, extra=()):
    """{(folder, file name)} of a package whose build tree holds the product and `extra`."""
    return ({("INSTALLDIR", n) for n in ("quillon.dll", "quillon_host.exe", "README.txt")} |
            {("INSTALLDIR", n) for n in extra} | {(SYSTEM[arch], "QUILLON.ini")} |
            {("DOCS", n) for n in DOCS})


def files(msi):
    """{(folder, file name)} of what the package installs."""
    folder = {c["Component"]: c["Directory_"] for c in table(msi, "Component")}
    return {(folder[f["Component_"]], f["FileName"]) for f in table(msi, "File")}


def crlf(path):
    with open(path, "rb") as f:
        return f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="quillon-msi-")
        cls.msi = {arch: build_msi(build, cls.out)[0] for arch, build in BUILDS.items()}
        cls.older = {arch: build_msi(build, os.path.join(cls.out, "older"),
                                     previous_version(VERSION))[0]
                     for arch, build in BUILDS.items()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)

    def test_each_package_names_the_product_its_version_bitness_and_fixed_upgrade_code(self):
        for arch, msi in self.msi.items():
            with self.subTest(arch):
                self.assertEqual(os.path.basename(msi), "quillon-%s-%s.msi" % (VERSION, arch))
                props = {p["Property"]: p["Value"] for p in table(msi, "Property")}
                self.assertEqual({k: props.get(k) for k in (
                    "ProductName", "ProductVersion", "UpgradeCode", "ALLUSERS", "Manufacturer")},
                    {"ProductName": "Quillon", "ProductVersion": VERSION,
                     "UpgradeCode": UPGRADE_CODES[arch], "ALLUSERS": "1",
                     "Manufacturer": "Quillon"})
                self.assertEqual(summary(msi)["Template"], TEMPLATE[arch])
        codes = [{p["Property"]: p["Value"] for p in table(m, "Property")}["ProductCode"]
                 for m in list(self.msi.values()) + list(self.older.values())]
        self.assertEqual(len(set(codes)), 4, "every package is a product of its own")

    def test_files_go_to_the_install_folder_its_docs_folder_and_system32(self):
        for arch, msi in self.msi.items():
            with self.subTest(arch):
                self.assertEqual(files(msi), product_files(arch, built_extras(arch)))
                folders = {d["Directory"]: (d["Directory_Parent"], d["DefaultDir"])
                           for d in table(msi, "Directory")}
                programs = "ProgramFiles64Folder" if arch == "win64" else "ProgramFilesFolder"
                self.assertEqual(folders["INSTALLDIR"], (programs, "Quillon"))
                self.assertEqual(folders["DOCS"], ("INSTALLDIR", "docs"))
                self.assertEqual(folders[SYSTEM[arch]][0], "TARGETDIR")

    def test_settings_never_overwritten_nor_removed_and_components_keyed_by_their_own(self):
        for arch, msi in self.msi.items():
            with self.subTest(arch):
                bits = WIN64 if arch == "win64" else 0
                keys = {r[name]: (r["Component_"], flag)
                        for name, flag in (("File", 0), ("Registry", REGISTRY_KEY_PATH))
                        for r in table(msi, name)}
                for c in table(msi, "Component"):
                    component, keyed = keys[c["KeyPath"]]
                    self.assertEqual(component, c["Component"])
                    settings = c["Directory_"] == SYSTEM[arch]
                    self.assertEqual(int(c["Attributes"]), bits | keyed |
                                     (PERMANENT | NEVER_OVERWRITE if settings else 0),
                                     c["Component"])

    def test_component_codes_stay_from_version_to_version_and_differ_between_the_builds(self):
        codes = {}
        for arch in BUILDS:
            now, before = ({c["Component"]: c["ComponentId"] for c in table(m, "Component")}
                           for m in (self.msi[arch], self.older[arch]))
            self.assertEqual(now, before, arch)
            codes[arch] = set(now.values())
        self.assertEqual(codes["win32"] & codes["win64"], set())

    def test_a_newer_version_replaces_an_older_one_and_an_older_one_is_refused(self):
        for arch in BUILDS:
            for msi, version in ((self.msi[arch], VERSION),
                                 (self.older[arch], previous_version(VERSION))):
                with self.subTest(arch=arch, version=version):
                    rows = sorted((r["VersionMin"], r["VersionMax"], r["Attributes"],
                                   r["ActionProperty"], r["UpgradeCode"])
                                  for r in table(msi, "Upgrade"))
                    # 513: features migrate, up to this version included (a rebuild of it too);
                    # 2: only detect (a newer one).
                    self.assertEqual(rows, [
                        ("", version, "513", "WIX_UPGRADE_DETECTED", UPGRADE_CODES[arch]),
                        (version, "", "2", "WIX_DOWNGRADE_DETECTED", UPGRADE_CODES[arch])])
                    self.assertEqual([r["Condition"] for r in table(msi, "LaunchCondition")],
                                     ["NOT WIX_DOWNGRADE_DETECTED"])
                    steps = {r["Action"]: int(r["Sequence"])
                             for r in table(msi, "InstallExecuteSequence")}
                    self.assertLess(steps["FindRelatedProducts"], steps["InstallValidate"])
                    self.assertLess(steps["InstallValidate"], steps["RemoveExistingProducts"])
                    self.assertLess(steps["RemoveExistingProducts"], steps["InstallInitialize"])

    def test_installed_bytes_are_the_builds_programs_and_notepad_ready_texts(self):
        for arch, msi in self.msi.items():
            with self.subTest(arch):
                unpacked = tempfile.mkdtemp(dir=self.out)
                subprocess.run(["msiextract", "-C", unpacked, msi], check=True,
                               capture_output=True)
                found = {n: os.path.join(d, n) for d, _, names in os.walk(unpacked)
                         for n in names if n in ("quillon.dll", "QUILLON.ini")}
                # msiextract names the system folders its own way; the tables above say which.
                folder = os.path.dirname(found["quillon.dll"])
                self.assertEqual(os.path.basename(folder), "Quillon")
                for name in ("quillon.dll", "quillon_host.exe"):
                    self.assertEqual(read(os.path.join(folder, name)),
                                     read(os.path.join(BUILDS[arch], name)), name)
                self.assertEqual(read(found["QUILLON.ini"]),
                                 crlf(os.path.join(ROOT, "packaging", "QUILLON.ini")))
                self.assertEqual(read(os.path.join(folder, "README.txt")),
                                 crlf(os.path.join(ROOT, "packaging", "msi", "README.txt")))
                self.assertEqual(sorted(os.listdir(os.path.join(folder, "docs"))), DOCS)
                for name in DOCS:
                    text = read(os.path.join(folder, "docs", name)).decode("utf-8")
                    self.assertNotIn("](../", text, name)
                source = read(os.path.join(ROOT, "docs", "settings.md")).decode("utf-8")
                link = "[`packaging/QUILLON.ini`](../packaging/QUILLON.ini)"
                self.assertIn(link, source)
                self.assertEqual(read(os.path.join(folder, "docs", "settings.md")).decode("utf-8"),
                                 source.replace(link, "`packaging/QUILLON.ini`"))


# What the build tree holds besides the product, whether a bridge manifest exists, and what the
# package then carries in its install folder and registry.
OPTIONAL = [
    ("product alone", [], False, [], []),
    ("doctor built", ["quillon_doctor.exe"], False, ["quillon_doctor.exe"], []),
    ("bridge and manifest", ["quillon_bridge.exe"], True,
     ["quillon_bridge.exe", "counter-host.json"], ["Google\\Chrome", "Microsoft\\Edge"]),
    ("bridge without its manifest", ["quillon_bridge.exe"], False, ["quillon_bridge.exe"], []),
    ("manifest without a bridge", [], True, [], []),
]


class OptionalPrograms(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="quillon-msi-")
        self.addCleanup(shutil.rmtree, self.work, True)
        # The manifest's own name (not its file's) is the browsers' key.
        self.manifest = os.path.join(self.work, "counter-host.json")
        with open(self.manifest, "w") as f:
            json.dump({"name": "org.example.counter_bridge", "path": "quillon_bridge.exe",
                       "type": "stdio", "allowed_origins": []}, f)

    def tree(self, arch, extra):
        tree = tempfile.mkdtemp(dir=self.work)
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(BUILDS[arch], name), tree)
        for name in extra:  # the package takes them as they are; a stand-in will do
            with open(os.path.join(tree, name), "wb") as f:
                f.write(b"stand-in " + name.encode())
        return tree

    def test_programs_and_browser_registration_follow_the_build_tree(self):
        for (label, extra, manifest, installed, browsers), arch in itertools.product(OPTIONAL,
                                                                                     BUILDS):
            with self.subTest(label, arch=arch):
                msi, errors = build_msi(self.tree(arch, extra), tempfile.mkdtemp(dir=self.work),
                                        manifest=self.manifest if manifest else
                                        os.path.join(self.work, "absent.json"))
                self.assertEqual(files(msi), product_files(arch, installed))
                registry = sorted((r["Root"], r["Key"], r["Name"], r["Value"])
                                  for r in table(msi, "Registry"))
                self.assertEqual(registry, sorted(
                    ("2", "Software\\%s\\NativeMessagingHosts\\org.example.counter_bridge" % b,
                     "", "[INSTALLDIR]counter-host.json") for b in browsers))
                warned = "the bridge is installed but not registered" in errors
                self.assertEqual(warned, "quillon_bridge.exe" in extra and not manifest)


class Refusals(unittest.TestCase):
    def run_msi(self, *args):
        return subprocess.run([sys.executable, MSI_PY] + list(args), capture_output=True,
                              text=True)

    def test_a_tree_without_a_needed_program_or_a_windows_dll_builds_nothing(self):
        work = tempfile.mkdtemp(prefix="quillon-msi-")
        self.addCleanup(shutil.rmtree, work, True)
        no_host, not_pe = os.path.join(work, "no-host"), os.path.join(work, "not-pe")
        os.makedirs(no_host)
        shutil.copy(os.path.join(BUILDS["win64"], "quillon.dll"), no_host)
        os.makedirs(not_pe)
        for name in ("quillon.dll", "quillon_host.exe"):
            with open(os.path.join(not_pe, name), "wb") as f:
                f.write(b"\x7fELF" + bytes(200))
        out = os.path.join(work, "out")
        for tree, args, message in (
                (no_host, [], "msi.py: missing: " + os.path.join(no_host, "quillon_host.exe")),
                (not_pe, [], "msi.py: %s is not a Windows program"
                 % os.path.join(not_pe, "quillon.dll")),
                (BUILDS["win64"], ["--version", "1.2"], "--version takes three numbers")):
            with self.subTest(tree=tree, args=args):
                r = self.run_msi(tree, out, *args)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(out) and os.listdir(out), os.listdir(out)
                                 if os.path.exists(out) else None)


if __name__ == "__main__":
    unittest.main(verbosity=2)
