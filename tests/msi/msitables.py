"""What the tests of the installer packages share: building one with scripts/msi.py and reading
its tables with msitools."""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MSI_PY = os.path.join(ROOT, "scripts", "msi.py")
with open(os.path.join(ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", _f.read())[1]
# Written out here, not read from the script: a package with another upgrade code no longer
# replaces the versions already on the counter PCs.
UPGRADE_CODES = {"win32": "{5E0B6A41-93C7-4F2E-8D1A-0C7B3F6E2A91}",
                 "win64": "{B27D4C18-6A05-4E93-A1F6-7D2C9E4B5830}"}


def previous_version(version):
    """A version below `version` (the last nonzero number lowered by one)."""
    numbers = [int(n) for n in version.split(".")]
    last = max(i for i, n in enumerate(numbers) if n)
    numbers[last] -= 1
    return ".".join(map(str, numbers))


def build_msi(build, out, version=None, manifest=None):
    """Runs scripts/msi.py; returns (path of the package, its stderr)."""
    env = dict(os.environ, QUILLON_BRIDGE_MANIFEST=manifest or "")
    args = [sys.executable, MSI_PY, build, out] + (["--version", version] if version else [])
    r = subprocess.run(args, capture_output=True, text=True, env=env)
    assert r.returncode == 0, "msi.py: " + r.stdout + r.stderr
    return r.stdout.strip(), r.stderr


def table(msi, name):
    """The rows of one table as dicts of column: text."""
    text = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True,
                          check=True).stdout
    lines = text.replace("\r\n", "\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, l.split("\t"))) for l in lines[3:] if l]

