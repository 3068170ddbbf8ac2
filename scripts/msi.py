"""Builds the Windows Installer package of Quillon from a Windows build tree with msitools' wixl.

usage: python3 scripts/msi.py BUILD_DIR OUTPUT_DIR [--version X.Y.Z] [--wxs FILE]
The package's bitness is that of BUILD_DIR/quillon.dll: quillon-<version>-win32.msi from the i686
tree, quillon-<version>-win64.msi from the x86_64 one. --version replaces the project version (an
older package to try upgrades with); --wxs keeps the generated WiX source. Prints the package's
path.
QUILLON_BRIDGE_MANIFEST names another native-messaging host manifest for the bridge.
"""
import argparse
import collections
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Fixed for the life of the product: Windows Installer finds the older version to replace by it.
# The twin has a line of its own, so a test machine can hold both.
UPGRADE_CODES = {"x86": "5E0B6A41-93C7-4F2E-8D1A-0C7B3F6E2A91",
                 "x64": "B27D4C18-6A05-4E93-A1F6-7D2C9E4B5830"}
# The browsers' machine-wide lists of native-messaging hosts; each gets the manifest's name as a
# key whose default value is the manifest's path.
BROWSER_HOST_KEYS = [r"Software\Google\Chrome\NativeMessagingHosts",
                     r"Software\Microsoft\Edge\NativeMessagingHosts"]
BRIDGE_MANIFEST = os.environ.get("QUILLON_BRIDGE_MANIFEST") or os.path.join(
    ROOT, "clients", "install", "quillon.bridge.json")

# folder: INSTALLDIR (Program Files\Quillon), DOCS (its docs\) or SYSTEM (the System32 folder that
# the library's settings search reaches for processes of the package's bitness).
# form: "program" (from the build tree, needed), "if built" (installed when the build made it),
# "text" (CRLF line ends for Notepad), "doc" (links out of docs\ become plain text), "settings"
# (a text that is never overwritten nor removed: it holds the bank's branch and port).
Item = collections.namedtuple("Item", "folder name source form")


def items(build):
    """Everything the package installs, one line a file."""
    listing = [
        Item("INSTALLDIR", "quillon.dll", os.path.join(build, "quillon.dll"), "program"),
        Item("INSTALLDIR", "quillon_host.exe", os.path.join(build, "quillon_host.exe"), "program"),
        Item("INSTALLDIR", "quillon_doctor.exe", os.path.join(build, "quillon_doctor.exe"),
             "if built"),
        Item("INSTALLDIR", "quillon_bridge.exe", os.path.join(build, "quillon_bridge.exe"),
             "if built"),
        Item("INSTALLDIR", "README.txt", os.path.join(ROOT, "packaging", "msi", "README.txt"),
             "text"),
        Item("SYSTEM", "QUILLON.ini", os.path.join(ROOT, "packaging", "QUILLON.ini"), "settings"),
    ]
    docs = os.path.join(ROOT, "docs")
    listing += [Item("DOCS", n, os.path.join(docs, n), "doc")
                for n in sorted(os.listdir(docs)) if n.endswith(".md")]
    listing = [i for i in listing if i.form != "if built" or os.path.isfile(i.source)]
    # The browsers start the bridge through its manifest, which lies beside it (its path is
    # relative): no bridge, no manifest and no registration.
    if any(i.name == "quillon_bridge.exe" for i in listing):
        if os.path.isfile(BRIDGE_MANIFEST):
            listing.append(Item("INSTALLDIR", os.path.basename(BRIDGE_MANIFEST), BRIDGE_MANIFEST,
                                "manifest"))
        else:
            print("msi.py: %s is missing: the bridge is installed but not registered with the "
                  "browsers" % BRIDGE_MANIFEST, file=sys.stderr)
    return listing


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", f.read()).group(1)


def pe_arch(path):
    """x86 or x64, from the machine field of a PE file's header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[offset:offset + 4] != b"PE\0\0":
        raise SystemExit("msi.py: %s is not a Windows program" % path)
    machine = struct.unpack_from("<H", data, offset + 4)[0]
    arches = {0x14C: "x86", 0x8664: "x64"}
    if machine not in arches:
        raise SystemExit("msi.py: %s is built for machine 0x%X" % (path, machine))
    return arches[machine]


def relinked(markdown):
    """The document with its links out of docs\\ reduced to their text: the package carries the
    docs folder only."""
    return re.sub(r"\[([^\]]*)\]\(\.\./[^)]*\)", r"\1", markdown)


def stage(item, folder):
    """The file as the package holds it, written under `folder`; returns its path."""
    target = os.path.join(folder, item.folder, item.name)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if item.form in ("text", "settings", "doc"):
        with open(item.source, encoding="utf-8") as f:
            text = f.read()
        if item.form == "doc":
            text = relinked(text)
        else:
            text = text.replace("\r\n", "\n").replace("\n", "\r\n")
        with open(target, "w", encoding="utf-8", newline="") as f:
            f.write(text)
    else:
        shutil.copyfile(item.source, target)
    return target


def identifier(*parts):
    """A table key wixl and Windows Installer accept (letters, digits, _ and ., at most 72)."""
    text = re.sub(r"[^A-Za-z0-9_.]", "_", "_".join(parts))
    return text if len(text) <= 72 else text[:60] + uuid.uuid5(uuid.NAMESPACE_OID, text).hex[:12]


def component_guid(arch, *resource):
    # The same resource keeps its component code from version to version (Windows Installer's
    # component rules); the twin's resources are other ones (other folders and registry view).
    return str(uuid.uuid5(uuid.UUID(UPGRADE_CODES[arch]), "|".join(resource))).upper()


def bridge_host_name(manifest):
    with open(manifest, encoding="utf-8") as f:
        return json.load(f)["name"]


def wix_source(listing, staged, arch):
    """The WiX document (an ElementTree; wixl gets the version as -D Version=) and the components
    that take the settings attributes."""
    ns = "http://schemas.microsoft.com/wix/2006/wi"
    ET.register_namespace("", ns)

    def el(parent, tag, **attributes):
        return ET.SubElement(parent, "{%s}%s" % (ns, tag), attributes)

    win64 = {"Win64": "yes"} if arch == "x64" else {}
    wix = ET.Element("{%s}Wix" % ns)
    product = el(wix, "Product", Id="*", Name="Quillon", Language="1033", Version="$(var.Version)",
                 Manufacturer="Quillon", UpgradeCode=UPGRADE_CODES[arch])
    el(product, "Package", InstallerVersion="500", Compressed="yes", InstallScope="perMachine",
       Description="Quillon $(var.Version) (%s)" % arch, Comments="quillon.dll and its programs")
    # wixl drops AllowSameVersionUpgrades too: build() writes its row in the Upgrade table.
    el(product, "MajorUpgrade", AllowSameVersionUpgrades="yes",
       DowngradeErrorMessage="A newer version of Quillon is already installed.")
    el(product, "Media", Id="1", Cabinet="quillon.cab", EmbedCab="yes")
    target = el(product, "Directory", Id="TARGETDIR", Name="SourceDir")
    programs = el(target, "Directory",
                  Id="ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder")
    folders = {"INSTALLDIR": el(programs, "Directory", Id="INSTALLDIR", Name="Quillon"),
               "SYSTEM": el(target, "Directory",
                            Id="System64Folder" if arch == "x64" else "SystemFolder")}
    folders["DOCS"] = el(folders["INSTALLDIR"], "Directory", Id="DOCS", Name="docs")
    feature = el(product, "Feature", Id="Quillon", Title="Quillon", Level="1")
    kept = []

    def component(folder, key, resource):
        node = el(folders[folder], "Component", Id=key, Guid=component_guid(arch, *resource),
                  **win64)
        el(feature, "ComponentRef", Id=key)
        return node

    # The install folder's permissions are set whatever INSTALLDIR is (build() adds the row that
    # sets them to this component's folder creation).
    el(component("INSTALLDIR", LOCKED_FOLDER_COMPONENT, ("INSTALLDIR", "permissions")),
       "CreateFolder")
    for item, path in zip(listing, staged):
        key = identifier(item.folder, item.name)
        node = component(item.folder, key, (item.folder, item.name.lower()))
        if item.form == "settings":
            # Real WiX takes these two; wixl 0.101 drops them, so build() also sets them in the
            # Component table.
            node.set("NeverOverwrite", "yes")
            node.set("Permanent", "yes")
            kept.append(key)
        el(node, "File", Id=key, Name=item.name, Source=path, KeyPath="yes")
        if item.form == "manifest":
            name = bridge_host_name(item.source)
            for index, browser in enumerate(BROWSER_HOST_KEYS):
                key = "%s\\%s" % (browser, name)
                node = component("INSTALLDIR", identifier("browser%d" % index, name),
                                 ("HKLM", key.lower()))
                el(node, "RegistryValue", Root="HKLM", Key=key, Type="string",
                   Value="[INSTALLDIR]" + item.name, KeyPath="yes")
    return ET.ElementTree(wix), kept


# Administrators and SYSTEM may change the install folder, users read and execute (0x1200a9:
# FILE_GENERIC_READ | FILE_GENERIC_EXECUTE); protected, so nothing comes from the parent folder
# (an INSTALLDIR under a folder users may write to, such as C:\ or D:\Apps, inherits nothing),
# and inherited by every file and folder the package puts inside. wixl takes no Permission
# elements, so build() writes the MsiLockPermissionsEx table, which Windows Installer 5 applies
# itself when it creates the folder: no custom action, and nothing run from the folder.
LOCKED_FOLDER_SDDL = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
LOCKED_FOLDER_COMPONENT = "INSTALLDIR_permissions"

# msidbComponentAttributes: Permanent, NeverOverwrite, 64-bit; msidbUpgradeAttributes:
# MigrateFeatures, VersionMaxInclusive.
PERMANENT, NEVER_OVERWRITE, WIN64 = 0x10, 0x80, 0x100
MIGRATE_FEATURES, VERSION_MAX_INCLUSIVE = 0x1, 0x200
# What wixl says about the attributes it does not read; build() sets them itself.
DROPPED = re.compile(r"has no property named '(NeverOverwrite|Permanent|AllowSameVersionUpgrades)'")


def build(build_dir, out, version=None, wxs=None):
    arch = pe_arch(os.path.join(build_dir, "quillon.dll"))
    version = version or project_version()
    listing = items(build_dir)
    missing = [i.source for i in listing if not os.path.isfile(i.source)]
    if missing:
        raise SystemExit("msi.py: missing: " + ", ".join(missing))
    os.makedirs(out, exist_ok=True)
    target = os.path.join(out, "quillon-%s-%s.msi" % (version, "win64" if arch == "x64"
                                                         else "win32"))
    with tempfile.TemporaryDirectory() as work:
        # wixl looks for sources from its working directory and refuses absolute paths.
        staged = [os.path.relpath(stage(i, os.path.join(work, "files")), work) for i in listing]
        tree, kept = wix_source(listing, staged, arch)
        source = wxs or os.path.join(work, "quillon.wxs")
        ET.indent(tree)
        tree.write(source, encoding="utf-8", xml_declaration=True)
        result = subprocess.run(["wixl", "-a", arch, "-D", "Version=" + version,
                                 "-o", os.path.abspath(target) + ".part",
                                 os.path.abspath(source)], cwd=work, capture_output=True, text=True)
        noise = [l for l in result.stderr.splitlines() if l.strip() and not DROPPED.search(l)]
        if result.returncode != 0:
            raise SystemExit("wixl: " + "\n".join(noise))
        if noise:
            print("\n".join(noise), file=sys.stderr)
        attributes = PERMANENT | NEVER_OVERWRITE | (WIN64 if arch == "x64" else 0)
        queries = ["UPDATE `Component` SET `Attributes` = %d WHERE `Component` = '%s'"
                   % (attributes, key) for key in kept]
        # A rebuild of the installed version replaces it too, else it would be added beside it as
        # a second product (the installed package itself, run again, is a maintenance run that
        # looks for no related product). wixl reads no AllowSameVersionUpgrades, and the
        # attributes are part of the row's key.
        queries += ["DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
                    "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, "
                    "`ActionProperty`) VALUES ('{%s}', '%s', %d, 'WIX_UPGRADE_DETECTED')"
                    % (UPGRADE_CODES[arch], version, MIGRATE_FEATURES | VERSION_MAX_INCLUSIVE)]
        queries += ["CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL,"
                    " `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR "
                    "NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)",
                    "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, "
                    "`Table`, `SDDL`) VALUES ('LockInstallFolder', 'INSTALLDIR', 'CreateFolder', "
                    "'%s')" % LOCKED_FOLDER_SDDL]
        for query in queries:
            subprocess.run(["msibuild", target + ".part", "-q", query], check=True)
    os.replace(target + ".part", target)
    return target


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n")[0], formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="example:\n  python3 scripts/msi.py build/win-i686 build/dist\n"
               "  (writes build/dist/quillon-%s-win32.msi)" % project_version())
    parser.add_argument("build_dir", help="a Windows build tree (build/win-i686 or win-x86_64)")
    parser.add_argument("output_dir", help="the folder the package is written to")
    parser.add_argument("--version", help="package version instead of the project's")
    parser.add_argument("--wxs", help="keep the generated WiX source in this file")
    args = parser.parse_args()
    if args.version and not re.fullmatch(r"\d+\.\d+\.\d+", args.version):
        parser.error("--version takes three numbers, such as 0.1.0")
    print(build(args.build_dir, args.output_dir, args.version, args.wxs))


if __name__ == "__main__":
    main()
