"""What the counter staff see: a visible ENROLL dialog with a logo and both prompt lines, on an X
server of its own (Xvfb), captured with xwd. The logo must start exactly where the client area
starts and the prompt text must be drawn over the picture, not on a background of its own. A
hidden dialog must leave the screen untouched. Skipped only when Xvfb cannot start.

The dialog runs in a copy of the run's prefix switched to the X11 driver, so the rest of the
suite stays headless. The capture is kept as artefacts/enroll-dialog.png in the native build."""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import pictures
import winerig
from winerig import LOADER

SCREEN = (1024, 768)
# Line 2 gets the terminal's "place your right thumb" event; then the terminal stays silent.
SCENARIO = "on 27\n  event A1\nend\n"
SETTINGS = "[MYKAD]\nTIMEOUT=20000\n[IMAGE]\nLOC=.\\logo.bmp\n"
LINE2_TEXT = "Place your right thumb||Sila letak ibu jari kanan"


class Display:
    """An Xvfb server on a free display number, with a black root window."""

    def __init__(self):
        if shutil.which("Xvfb") is None or shutil.which("xwd") is None:
            raise unittest.SkipTest("Xvfb or xwd is not installed")
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-br"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
        except OSError as e:
            raise unittest.SkipTest("Xvfb cannot start: %s" % e)
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise unittest.SkipTest("Xvfb did not start")
        self.name = ":" + number.strip().decode()

    def capture(self):
        dump = subprocess.run(["xwd", "-root", "-silent", "-display", self.name],
                              capture_output=True, check=True, timeout=30).stdout
        return pictures.read_xwd(dump)

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class VisibleDialog(winerig.WineTestCase):
    display = None
    x11 = None
    prefix_dir = None

    @classmethod
    def start_rig(cls):
        """Xvfb and an X11 copy of the run's prefix, once for the class."""
        if cls.display is not None:
            return
        cls.display = Display()
        cls.prefix_dir = tempfile.mkdtemp(prefix="quillon-x11-")
        prefix = os.path.join(cls.prefix_dir, "prefix")
        shutil.copytree(os.environ["QUILLON_WINEPREFIX"], prefix, symlinks=True)
        # Switched in the registry file itself, before any wine process of the copy starts.
        user_reg = os.path.join(prefix, "user.reg")
        with open(user_reg) as f:
            text = f.read()
        with open(user_reg, "w") as f:
            f.write(text.replace('"Graphics"="null"', '"Graphics"="x11"'))
            # No window manager runs here: wine draws the caption and frame itself.
            f.write('\n[Software\\\\Wine\\\\X11 Driver]\n"Managed"="N"\n')
        cls.x11 = winerig.Wine(prefix)
        cls.x11.unmap_all_com()

    @classmethod
    def tearDownClass(cls):
        if cls.x11 is not None:
            cls.x11.kill_server()
        if cls.display is not None:
            cls.display.stop()
        if cls.prefix_dir is not None:
            shutil.rmtree(cls.prefix_dir, ignore_errors=True)
        cls.display = cls.x11 = cls.prefix_dir = None

    def setUp(self):
        self.start_rig()
        super().setUp()
        self.host.write_ini(SETTINGS)
        with open(os.path.join(self.workdir, "logo.bmp"), "wb") as f:
            f.write(pictures.bmp(300, 150))
        self.x_env = {"DISPLAY": self.display.name}

    def run_dialog(self, show, hold_ms):
        """Starts the probe's dialog and returns (process, its output file) once the dialog is
        up."""
        terminal = winerig.Terminal(self.x11, self.workdir, SCENARIO)
        self.addCleanup(terminal.stop)
        self.x11.map_com(7, terminal.device)
        ready = os.path.join(self.workdir, "ready.txt")
        out = open(os.path.join(self.workdir, "probe.out"), "w+")
        self.addCleanup(out.close)
        probe = os.path.join(self.x11.win64, "quillon_probe.exe")
        proc = subprocess.Popen(
            [LOADER, probe, "showdialog", "ENROLL", "7", str(show), str(hold_ms),
             "--wait-line2", "--ready", "ready.txt"],
            cwd=self.workdir, env=self.x11.env(self.x_env), stdin=subprocess.DEVNULL,
            stdout=out, stderr=subprocess.STDOUT)
        self.addCleanup(self.end_probe, proc)
        deadline = time.monotonic() + 45
        while not os.path.exists(ready) and proc.poll() is None:
            self.assertLess(time.monotonic(), deadline, "the dialog never came up")
            time.sleep(0.1)
        return proc, out

    @staticmethod
    def end_probe(proc):
        if proc.poll() is None:
            proc.kill()
            proc.wait()

    def finish(self, proc, out):
        proc.wait(timeout=60)
        out.seek(0)
        values = {}
        for line in out.read().replace("\r\n", "\n").split("\n"):
            key, sep, value = line.partition(": ")
            if sep:
                values[key] = value
        return values

    @staticmethod
    def numbers(text):
        return [int(p) for p in text.split()]

    def test_enroll_dialog_shows_the_logo_with_the_prompts_drawn_over_it(self):
        proc, out = self.run_dialog(show=1, hold_ms=2500)
        # Let the X server finish what the dialog drew before the dump.
        time.sleep(0.7)
        screen = self.display.capture()
        values = self.finish(proc, out)
        self.assertEqual(values.get("result"), "-9", values)
        self.assertEqual(values["line2-text"], LINE2_TEXT)
        self.assertEqual(self.numbers(values["window"]), [359, 293, 306, 182])
        self.assertEqual(self.numbers(values["line1"]), [0, 60, 306, 25])
        self.assertEqual(self.numbers(values["line2"]), [0, 85, 306, 55])
        client_x, client_y, client_w, client_h = self.numbers(values["client"])

        artefacts = os.path.join(os.environ.get("QUILLON_NATIVE_DIR") or self.workdir,
                                 "artefacts")
        os.makedirs(artefacts, exist_ok=True)
        png = os.path.join(artefacts, "enroll-dialog.png")
        with open(png, "wb") as f:
            f.write(screen.crop(359 - 12, 293 - 12, 306 + 24, 182 + 24).png())
        print("screenshot: " + png)

        width = min(client_w, 300)
        height = min(client_h, 150)

        def at(x, y):
            return screen.pixel(client_x + x, client_y + y)

        # Above line 1 and below line 2 the client area is the logo, pixel for pixel, from the
        # client's first pixel on (red moves with x and green with y: any offset shows).
        uncovered = [(x, y) for y in list(range(0, 60)) + list(range(140, height))
                     for x in range(width)]
        wrong = [(x, y) for x, y in uncovered if at(x, y) != pictures.logo_pixel(x, y)]
        self.assertEqual(wrong[:5], [], "%d of %d logo pixels differ" % (len(wrong),
                                                                         len(uncovered)))
        self.assertNotEqual(screen.pixel(client_x - 1, client_y), pictures.logo_pixel(0, 0))

        # Inside each prompt line: dark text, and between its strokes the logo itself.
        for name, top, bottom in (("line 1", 60, 85), ("line 2", 85, 140)):
            area = [(x, y) for y in range(top, bottom) for x in range(width)]
            logo = sum(1 for x, y in area if at(x, y) == pictures.logo_pixel(x, y))
            dark = sum(1 for x, y in area if max(at(x, y)) < 90)
            self.assertGreater(logo, len(area) * 0.7, name + ": the logo shows through")
            self.assertGreater(dark, 40, name + ": text is drawn")

    def test_hidden_dialog_leaves_the_screen_black(self):
        proc, out = self.run_dialog(show=0, hold_ms=1500)
        time.sleep(0.5)
        screen = self.display.capture()
        values = self.finish(proc, out)
        self.assertEqual(values.get("result"), "-9", values)
        self.assertEqual(values["line2-text"], LINE2_TEXT, "the operation ran in full")
        self.assertEqual(values["ever-visible"], "0")
        lit = sum(1 for row in screen.rows for p in row if p != (0, 0, 0))
        self.assertEqual(lit, 0)


def main():
    """As winerig.main, but a run whose every test was skipped exits with 77, which CTest
    reports as skipped."""
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    skipped = len(result.skipped)
    print("%d passed, %d failed, %d skipped" % (result.testsRun - failed - skipped, failed,
                                                 skipped))
    if failed or result.testsRun == 0:
        sys.exit(1)
    sys.exit(77 if skipped == result.testsRun else 0)


if __name__ == "__main__":
    main()
