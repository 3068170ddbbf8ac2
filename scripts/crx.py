"""Packs the Quillon browser extension into a .crx and writes its update manifest.

usage: python3 scripts/crx.py OUTPUT_DIR
Writes OUTPUT_DIR/quillon-extension-<version>.crx and OUTPUT_DIR/quillon-extension-update.xml
and prints one JSON line: {"crx", "update", "id", "version", "throwaway"}.

QUILLON_EXTENSION_KEY names the vendor's release key (a PEM private key kept outside the
repository); the manifest's "key" is its public half, so the extension keeps its one ID. Without
it a throwaway key under build/ signs a copy of the extension whose manifest names that key: the
.crx then has an ID of its own, for tests and developer builds only. QUILLON_EXTENSION_URL is the
web folder the update manifest names as the .crx's home (default: a placeholder a bank replaces).
QUILLON_CHROMIUM names the browser that packs (default: chromium).
"""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import quoteattr

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXTENSION = os.path.join(ROOT, "clients", "extension")
THROWAWAY = os.path.join(ROOT, "build", "extension-throwaway-key.pem")
PLACEHOLDER_URL = "https://extensions.bank.example/quillon/"
UPDATE_NAME = "quillon-extension-update.xml"


def extension_id(der):
    """Chrome's ID for a public key: the first 32 hex digits of its SHA-256, 0-f as a-p."""
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(der).hexdigest()[:32])


def public_der(key):
    return subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"],
                          capture_output=True, check=True).stdout


def throwaway_key():
    """The developer builds' key, made once; written aside first so a reader never sees half."""
    if not os.path.isfile(THROWAWAY):
        os.makedirs(os.path.dirname(THROWAWAY), exist_ok=True)
        part = "%s.%d" % (THROWAWAY, os.getpid())
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                        "rsa_keygen_bits:2048", "-out", part], capture_output=True, check=True)
        os.replace(part, THROWAWAY)
    return THROWAWAY


def update_manifest(ext_id, version, url):
    return ("<?xml version='1.0' encoding='UTF-8'?>\n"
            "<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>\n"
            "  <app appid=%s>\n    <updatecheck codebase=%s version=%s />\n  </app>\n"
            "</gupdate>\n" % (quoteattr(ext_id), quoteattr(url), quoteattr(version)))


def pack(out, left_out):
    """Packs clients/extension (without the names in left_out) into `out`; returns the JSON."""
    release_key = os.environ.get("QUILLON_EXTENSION_KEY")
    key = release_key or throwaway_key()
    der = public_der(key)
    with open(os.path.join(EXTENSION, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    if release_key and manifest["key"] != base64.b64encode(der).decode():
        sys.exit("crx: QUILLON_EXTENSION_KEY is not the key whose public half the manifest names")
    with tempfile.TemporaryDirectory() as work:
        stage = os.path.join(work, "quillon-extension")
        shutil.copytree(EXTENSION, stage, ignore=lambda _, names: set(names) & set(left_out))
        if not release_key:
            manifest["key"] = base64.b64encode(der).decode()
            with open(os.path.join(stage, "manifest.json"), "w", encoding="utf-8") as f:
                json.dump(manifest, f, indent=2)
        # Packing starts the browser's zygote, which refuses root without this switch.
        sandbox = ["--no-sandbox"] if hasattr(os, "geteuid") and os.geteuid() == 0 else []
        r = subprocess.run([os.environ.get("QUILLON_CHROMIUM", "chromium"), *sandbox,
                            "--pack-extension=" + stage, "--pack-extension-key=" + key],
                           capture_output=True, text=True)
        if not os.path.isfile(stage + ".crx"):
            sys.exit("crx: the browser did not pack the extension: " + r.stdout + r.stderr)
        os.makedirs(out, exist_ok=True)
        crx = os.path.join(out, "quillon-extension-%s.crx" % manifest["version"])
        shutil.move(stage + ".crx", crx)
        os.chmod(crx, 0o644)
    ext_id = extension_id(der)
    url = os.environ.get("QUILLON_EXTENSION_URL", PLACEHOLDER_URL).rstrip("/") + "/"
    update = os.path.join(out, UPDATE_NAME)
    with open(update, "w", encoding="utf-8") as f:
        f.write(update_manifest(ext_id, manifest["version"], url + os.path.basename(crx)))
    if not release_key:
        print("crx: no QUILLON_EXTENSION_KEY: packed with the throwaway key %s, ID %s (not the "
              "release ID; for tests and developer builds only)" % (THROWAWAY, ext_id),
              file=sys.stderr)
    return {"crx": crx, "update": update, "id": ext_id, "version": manifest["version"],
            "throwaway": not release_key}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from package import LEFT_OUT
    print(json.dumps(pack(sys.argv[1], LEFT_OUT)))


if __name__ == "__main__":
    main()
