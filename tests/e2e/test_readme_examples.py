"""The README's shell examples work when pasted: every ```sh block that follows a line
"<!-- tested: ... -->" runs in bash (stopping at the first failing command) from a copy of the
repository's top with the x86_64 build in build/win-x86_64, in the test's wine prefix."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import winerig

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BLOCK = re.compile(r"^<!-- tested: [^\n]*-->\n```sh\n(.*?)^```$", re.M | re.S)


def blocks():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return BLOCK.findall(f.read())


@unittest.skipIf(winerig.ARCH == "win32", "the README's examples run the x86_64 build")
class ReadmeExamples(unittest.TestCase):
    def setUp(self):
        self.wine = winerig.Wine()
        self.top = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, self.top, True)
        build = os.path.join(self.top, "build", "win-x86_64")
        os.makedirs(build)
        for name in ("quillon.dll", "quillon_host.exe", "quillon_doctor.exe"):
            shutil.copy(os.path.join(self.wine.build, name), build)

    def test_every_marked_shell_block_runs_to_its_end(self):
        found = blocks()
        self.assertGreaterEqual(len(found), 2, "the marked blocks are gone")
        for block in found:
            with self.subTest(block=block.splitlines()[-1]):
                # A typo'd command or path fails the block: errexit, nounset and pipefail.
                env = dict(os.environ, WINEPREFIX=self.wine.prefix)
                env.pop("LD_PRELOAD", None)
                r = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=self.top,
                                   env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                   text=True, timeout=120)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertNotRegex(r.stderr, "No such file|not found|cannot read")
                out = r.stdout.replace("\r\n", "\n")
                if "quillon_host.exe" in block:
                    self.assertEqual(out.count("result: 0\nreply: [GETBRANCHCODE][1][EMPTY]"), 2, out)
                    self.assertIn("result: -9999\n", out)
                    self.assertIn("quillon_host: sends one request", out)
                if "quillon_doctor.exe" in block:
                    self.assertRegex(out, r"^OK    library: quillon\.dll ")
                    self.assertRegex(out, r"\nFAIL  settings file: no QUILLON\.ini")


if __name__ == "__main__":
    winerig.main()
