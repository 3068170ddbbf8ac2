"""Builds the release zip of Quillon from a 32-bit (i686) build tree.

usage: python3 scripts/package.py WIN32_BUILD_DIR OUTPUT_DIR
Prints the path of the zip it wrote: OUTPUT_DIR/quillon-<version>-win32.zip. The browser
extension goes in packed too (scripts/crx.py: QUILLON_EXTENSION_KEY names the release key).
"""
import os
import re
import sys
import tempfile
import zipfile

import crx

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", f.read()).group(1)


# Where the documents' links out of docs/ lead inside the zip. A link to a file the zip does not
# carry keeps its text and loses its target.
SHIPPED_LINKS = {
    "../include/quillon.h": "../include/quillon.h",
    "../packaging/QUILLON.ini": "../QUILLON.ini",
    "../tools/orvmykad-standin/README.md": "../standin/scenario-format.md",
}


def relink(markdown):
    """The document with its links out of docs/ pointed at the zip's own files."""
    def target(match):
        text, path, anchor = match.group(1), match.group(2), match.group(3) or ""
        if path in SHIPPED_LINKS:
            return "[%s](%s%s)" % (text, SHIPPED_LINKS[path], anchor)
        return "%s (in the source tree)" % text
    return re.sub(r"\[([^\]]*)\]\((\.\./[^)#]*)(#[^)]*)?\)", target, markdown)


def layout(build):
    """[(path in the zip, path on disk)], in the order they are written."""
    docs = os.path.join(ROOT, "docs")
    files = [
        ("README.txt", os.path.join(ROOT, "packaging", "README.txt")),
        ("quillon.dll", os.path.join(build, "quillon.dll")),
        ("quillon_host.exe", os.path.join(build, "quillon_host.exe")),
        ("quillon_doctor.exe", os.path.join(build, "quillon_doctor.exe")),
        ("quillon_bridge.exe", os.path.join(build, "quillon_bridge.exe")),
        # Beside the bridge: the manifest names it relative to its own folder.
        ("quillon.bridge.json", os.path.join(ROOT, "clients", "install", "quillon.bridge.json")),
        ("install.cmd", os.path.join(ROOT, "clients", "install", "install.cmd")),
        ("CHANGELOG.md", os.path.join(ROOT, "CHANGELOG.md")),
        ("QUILLON.ini", os.path.join(ROOT, "packaging", "QUILLON.ini")),
        ("include/quillon.h", os.path.join(ROOT, "include", "quillon.h")),
        ("decoder/mykad_decoder.h", os.path.join(ROOT, "tools", "mykad-decoder", "mykad_decoder.h")),
        ("decoder/mykad_decoder.cpp",
         os.path.join(ROOT, "tools", "mykad-decoder", "mykad_decoder.cpp")),
        ("decoder/quillon_build_config.h",
         os.path.join(build, "generated", "quillon_build_config.h")),
        ("decoder/quillon_mykad_decode.exe", os.path.join(build, "quillon_mykad_decode.exe")),
        ("standin/OrvMyKad.dll", os.path.join(build, "OrvMyKad.dll")),
        ("standin/README.txt", os.path.join(ROOT, "packaging", "standin-README.txt")),
        ("standin/scenario-format.md", os.path.join(ROOT, "tools", "orvmykad-standin", "README.md")),
    ]
    for name in sorted(os.listdir(docs)):
        if name.endswith(".md"):
            files.append(("docs/" + name, os.path.join(docs, name)))
    for folder in SHIPPED_FOLDERS:
        files += tree(folder)
    return files


# Folders of the source tree that ship whole, under the same name: one line each.
SHIPPED_FOLDERS = [
    "samples",
    "clients/extension",
    "clients/js",
    "clients/demo",
]
# Not shipped from those folders: their tests and build wiring.
LEFT_OUT = {"test", "node_modules", "native.cmake", ".gitattributes"}


def tree(folder):
    """[(path in the zip, path on disk)] of every file under `folder` (relative to the root)."""
    found = []
    for top, dirs, names in os.walk(os.path.join(ROOT, folder)):
        dirs[:] = sorted(d for d in dirs if d not in LEFT_OUT)
        for name in sorted(n for n in names if n not in LEFT_OUT):
            disk = os.path.join(top, name)
            found.append((os.path.relpath(disk, ROOT).replace(os.sep, "/"), disk))
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, out = sys.argv[1], sys.argv[2]
    version = project_version()
    top = "quillon-%s" % version
    missing = [disk for _, disk in layout(build) if not os.path.isfile(disk)]
    if missing:
        sys.exit("missing: " + ", ".join(missing))
    os.makedirs(out, exist_ok=True)
    target = os.path.join(out, "%s-win32.zip" % top)
    with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED) as z, \
            tempfile.TemporaryDirectory() as packed:
        # The packed extension and its update manifest, for a bank's own web server (crx.py
        # says on stderr when it packed with a throwaway key rather than the release key).
        extension = crx.pack(packed, LEFT_OUT)
        for disk in (extension["crx"], extension["update"]):
            z.write(disk, "%s/clients/%s" % (top, os.path.basename(disk)))
        for inside, disk in layout(build):
            if inside.startswith("docs/"):
                with open(disk, encoding="utf-8") as f:
                    z.writestr("%s/%s" % (top, inside), relink(f.read()))
            elif inside.endswith((".txt", ".ini")):
                # Notepad-friendly line ends for the texts a counter PC's staff opens.
                with open(disk, "rb") as f:
                    text = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
                z.writestr("%s/%s" % (top, inside), text)
            else:
                z.write(disk, "%s/%s" % (top, inside))
    os.replace(target + ".part", target)
    print(target)


if __name__ == "__main__":
    main()
