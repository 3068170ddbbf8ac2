"""What the counter staff see: a visible ENROLL dialog on an X server of its own (Xvfb, in an X11
copy of the run's prefix), captured with xwd. The logo starts exactly where the client area of a
window centred at the logo's size starts, both prompt lines are drawn over the picture, and a
hidden dialog leaves the screen black. Skipped only when Xvfb cannot start. The capture is kept
as artefacts/enroll-dialog.png (x86_64 twin) or enroll-dialog-win32.png in the native build."""
import os
import select
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

import winerig

SCREEN = (640, 480)
CLIENT = (170, 171)  # where a centred 306 by 182 window has its client area (logo 300 by 150)
SETTINGS = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=5000\n[IMAGE]\nLOC=.\\logo.bmp\n"


def logo_pixel(x, y):
    """Red follows x and green follows y, so a picture drawn one pixel off shows it; every
    channel stays light, so dark text over it stands out."""
    return (255 - x % 160, 120 + y % 120, 160 + (x + y) % 96)


def logo_bmp(width=300, height=150):
    """An uncompressed 24-bit bottom-up BMP of logo_pixel (rows already 4-byte aligned)."""
    data = b"".join(bytes(logo_pixel(x, y)[::-1]) for y in range(height - 1, -1, -1)
                    for x in range(width))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data


def read_xwd(data):
    """Rows of (r, g, b) of a true-colour ZPixmap dump, as xwd writes an Xvfb screen (24 or 32
    bits a pixel, from one capture to the next)."""
    f = struct.unpack(">25I", data[:100])
    width, height, step, stride, masks = f[4], f[5], f[11] // 8, f[12], f[14:17]
    at, order = f[0] + f[19] * 12, "little" if f[7] == 0 else "big"
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    return [[tuple(((v & m) >> s) * 255 // (m >> s) for s, m in zip(shifts, masks))
             for v in (int.from_bytes(data[i:i + step], order)
                       for i in range(at + y * stride, at + y * stride + width * step, step))]
            for y in range(height)]


def png(rows):
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    chunks = ((b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0)),
              (b"IDAT", zlib.compress(raw, 9)), (b"IEND", b""))
    return b"\x89PNG\r\n\x1a\n" + b"".join(struct.pack(">I", len(body)) + kind + body +
                                         struct.pack(">I", zlib.crc32(kind + body))
                                         for kind, body in chunks)


class VisibleDialog(winerig.WineTestCase):
    @classmethod
    def setUpClass(cls):
        """Xvfb, and an X11 copy of the run's prefix."""
        if not (shutil.which("Xvfb") and shutil.which("xwd")):
            raise unittest.SkipTest("Xvfb or xwd is not installed")
        read_end, write_end = os.pipe()
        cls.xvfb_log = tempfile.TemporaryFile()
        cls.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
             "-nolisten", "tcp", "-br"], pass_fds=(write_end,),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=cls.xvfb_log,
            start_new_session=True)
        os.close(write_end)
        # The server writes the number and the line end separately and dies if the pipe is gone
        # before the second write: read the whole line.
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip() if select.select([numbers], [], [], 20)[0] else ""
        if not number.isdigit():
            cls.tearDownClass()
            raise unittest.SkipTest("Xvfb did not start")
        cls.display = ":" + number
        cls.prefix_dir = tempfile.mkdtemp(prefix="quillon-x11-")
        cls.x11 = winerig.Wine(os.path.join(cls.prefix_dir, "prefix"))
        shutil.copytree(os.environ["QUILLON_WINEPREFIX"], cls.x11.prefix, symlinks=True)
        with open(os.path.join(cls.x11.prefix, "user.reg"), "r+") as f:
            text = f.read().replace('"Graphics"="null"', '"Graphics"="x11"')
            # No window manager runs here: wine draws the caption and frame itself.
            f.seek(0)
            f.write(text + '\n[Software\\\\Wine\\\\X11 Driver]\n"Managed"="N"\n')

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "x11", None):
            cls.x11.kill_server()
            shutil.rmtree(cls.prefix_dir, ignore_errors=True)
        cls.xvfb.terminate()
        cls.xvfb.wait(timeout=10)

    def setUp(self):
        super().setUp()
        self.wine = self.x11  # ports and cleanup in the X11 copy
        self.host.write_ini(SETTINGS)
        with open(os.path.join(self.workdir, "logo.bmp"), "wb") as f:
            f.write(logo_bmp())

    def capture(self):
        # xwd now and then fails to connect while the machine is busy; a dead server is a failure.
        for _ in range(3):
            dump = subprocess.run(["xwd", "-root", "-silent", "-display", self.display],
                                  capture_output=True, timeout=30)
            if dump.returncode == 0:
                return read_xwd(dump.stdout)
            self.xvfb_log.seek(0)
            self.assertIsNone(self.xvfb.poll(), "Xvfb has ended: " + self.xvfb_log.read().decode(
                errors="replace"))
            time.sleep(0.5)
        self.fail("xwd: " + dump.stderr.decode(errors="replace"))

    def enrol(self, show, shown, settle=0.5):
        """Runs an ENROLL dialog with the show flag; `settle` seconds after the terminal got the
        enrolment frame, captures the screen until shown(screen) holds (or for 6 s). Returns the
        last capture; the dialog ends by the step time-out."""
        # Line 2 gets the terminal's "place your right thumb" event; then the terminal is silent.
        terminal = self.start_terminal("on 27\n  event A1\nend\n")
        with tempfile.TemporaryFile() as out:
            proc = self.x11.popen("quillon_host.exe", ["[ENROLL][%d][7]" % show],
                                  cwd=self.workdir, env={"DISPLAY": self.display},
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
            self.addCleanup(lambda: proc.poll() is None and (proc.kill(), proc.wait()))
            deadline = time.monotonic() + 45
            while len(terminal.frames()) < 2 and time.monotonic() < deadline:
                time.sleep(0.1)
            deadline = time.monotonic() + 6 + settle
            time.sleep(settle)
            screen = self.capture()
            while not shown(screen) and time.monotonic() < deadline:
                screen = self.capture()
            proc.wait(timeout=60)
            out.seek(0)
            self.assertIn("reply: [ENROLL][-30][123]", out.read().decode())
        return screen

    def test_enroll_dialog_shows_the_logo_with_the_prompts_drawn_over_it(self):
        def at(screen, x, y):
            return screen[CLIENT[1] + y][CLIENT[0] + x]

        def line2_drawn(screen):
            return at(screen, 0, 0) == logo_pixel(0, 0) and any(
                max(at(screen, x, y)) < 90 for y in range(85, 140) for x in range(300))

        screen = self.enrol(1, line2_drawn)
        artefacts = os.path.join(os.environ.get("QUILLON_NATIVE_DIR") or self.workdir, "artefacts")
        os.makedirs(artefacts, exist_ok=True)
        name = "enroll-dialog-win32.png" if self.wine.arch == "win32" else "enroll-dialog.png"
        with open(os.path.join(artefacts, name), "wb") as f:
            f.write(png([row[CLIENT[0] - 15:CLIENT[0] + 315] for row in
                         screen[CLIENT[1] - 41:CLIENT[1] + 162]]))
        self.assertNotEqual(screen[CLIENT[1]][CLIENT[0] - 1], logo_pixel(0, 0))
        # Above line 1 and below line 2 the client area is the logo, pixel for pixel.
        wrong = [(x, y) for y in list(range(60)) + list(range(140, 150)) for x in range(300)
                 if at(screen, x, y) != logo_pixel(x, y)]
        self.assertEqual(wrong[:5], [], "%d logo pixels differ" % len(wrong))
        # Inside each prompt line: dark text, and between its strokes the logo itself.
        for name, top, bottom in (("line 1", 60, 85), ("line 2", 85, 140)):
            area = [(at(screen, x, y), logo_pixel(x, y)) for y in range(top, bottom)
                    for x in range(300)]
            self.assertGreater(sum(p == l for p, l in area), len(area) * 0.7, name + ": the logo")
            self.assertGreater(sum(max(p) < 90 for p, _ in area), 40, name + ": text is drawn")

    def test_hidden_dialog_leaves_the_screen_black(self):
        screen = self.enrol(0, lambda screen: True, settle=2)
        self.assertEqual(sum(1 for row in screen for p in row if p != (0, 0, 0)), 0)


if __name__ == "__main__":
    winerig.main()
