"""The README's shell examples work when pasted: every ```sh block after a line
"<!-- tested: ... -->" runs in bash from a copy of the repository's top with the x86_64 build in
build/win-x86_64, in the test's wine prefix."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import winerig

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BLOCK = re.compile(r"^<!-- tested: [^\n]*-->\n```sh\n(.*?)^```$", re.M | re.S)
# What each block shows, by the program it runs.
SHOWS = {"quillon_host.exe": r"result: 0\nreply: \[GETBRANCHCODE\]\[1\]\[EMPTY\]",
         "quillon_doctor.exe": r"\nFAIL  settings file: no QUILLON\.ini"}


@unittest.skipIf(winerig.ARCH == "win32", "the README's examples run the x86_64 build")
class ReadmeExamples(unittest.TestCase):
    def test_every_marked_shell_block_runs_to_its_end(self):
        wine, top = winerig.Wine(), tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, top, True)
        build = os.path.join(top, "build", "win-x86_64")
        os.makedirs(build)
        for name in ("quillon.dll", "quillon_host.exe", "quillon_doctor.exe"):
            shutil.copy(os.path.join(wine.build, name), build)
        env = dict(os.environ, WINEPREFIX=wine.prefix)
        env.pop("LD_PRELOAD", None)
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            blocks = BLOCK.findall(f.read())
        self.assertEqual(sorted(p for b in blocks for p in SHOWS if p in b), sorted(SHOWS))
        for block in blocks:
            with self.subTest(block=block.splitlines()[-1]):
                # A typo'd command or path fails the block: errexit, nounset and pipefail.
                r = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=top, env=env,
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                   timeout=120)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                for program, shown in SHOWS.items():
                    if program in block:
                        self.assertRegex(r.stdout.replace("\r\n", "\n"), shown)


if __name__ == "__main__":
    winerig.main()
