"""Every program the project ships explains itself: --help prints what it does, its options and
one example on standard output with exit status 0; an unknown option or a missing argument gets
one line saying why and the usage on standard error, exit status 2. The native programs run
directly, the Windows ones under wine."""
import os
import shutil
import subprocess
import tempfile
import unittest

import winerig

# (program, where it runs, an option that needs a value)
PROGRAMS = [
    ("quillon_terminal_sim", "native", "--scenario"),
    ("quillon_mykad_decode", "native", None),
    ("quillon_host.exe", "wine", "--file"),
    ("quillon_doctor.exe", "wine", "--port"),
    ("quillon_benchmark.exe", "wine", "--runs"),
]


class Help(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = winerig.Wine()
        cls.folder = tempfile.mkdtemp(prefix="quillon-e2e-")
        for name in ("quillon.dll", "quillon_host.exe", "quillon_doctor.exe",
                     "quillon_benchmark.exe"):
            shutil.copy(os.path.join(cls.wine.build, name), cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, True)

    def run_program(self, program, where, args):
        if where == "wine":
            return self.wine.run(os.path.join(self.folder, program), args, cwd=self.folder,
                                 timeout=60)
        return subprocess.run([os.path.join(self.wine.native, program)] + args, cwd=self.folder,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)

    def test_help_and_wrong_command_lines(self):
        for program, where, needs_value in PROGRAMS:
            if where == "native" and self.wine.emulated:
                continue  # the same programs as in the x86_64 run
            name = program.replace(".exe", "")
            with self.subTest(program=program):
                r = self.run_program(program, where, ["--help"])
                self.assertEqual((r.returncode, r.stderr), (0, ""), r.stdout)
                self.assertTrue(r.stdout.startswith(name + ": "), r.stdout)
                self.assertIn("\nOptions:\n", r.stdout)
                self.assertIn("  --help ", r.stdout)
                self.assertRegex(r.stdout, r"\nExample[^\n]*:\n  [^\n]*%s" % name)

                cases = [(["--no-such-option"], "unknown option --no-such-option")]
                if self.wine.emulated:
                    continue  # the command line is read by the same code in both builds
                if needs_value:
                    cases.append(([needs_value], needs_value + " needs a"))
                for args, why in cases:
                    r = self.run_program(program, where, args)
                    lines = r.stderr.splitlines()
                    self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                    self.assertEqual(r.stdout, "")
                    self.assertTrue(lines[0].startswith("%s: %s" % (name, why)), r.stderr)
                    self.assertTrue(lines[1].startswith("usage: %s " % name), r.stderr)
                    # Nothing else: the usage may go on over indented lines.
                    self.assertEqual([l for l in lines[2:] if not l.startswith(" ")], [], r.stderr)


if __name__ == "__main__":
    winerig.main()
