"""The ENROLL dialog as the counter staff see it, on Xvfb in an X11 copy of the prefix (skipped
only when Xvfb cannot start); the capture becomes artefacts/enroll-dialog[-win32].png."""
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
    """Red follows x, green y (a shift by one pixel shows); all light, so dark text stands out."""
    return (255 - x % 160, 120 + y % 120, 160 + (x + y) % 96)


def logo_bmp(width=300, height=150):
    """A 24-bit bottom-up BMP of logo_pixel (rows already 4-byte aligned)."""
    data = b"".join(bytes(logo_pixel(x, y)[::-1]) for y in range(height - 1, -1, -1)
                    for x in range(width))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54) + info + data


def read_xwd(data):
    """Rows of (r, g, b) of xwd's true-colour ZPixmap dump (24 or 32 bits a pixel)."""
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
        if not (shutil.which("Xvfb") and shutil.which("xwd")):
            raise unittest.SkipTest("Xvfb or xwd is not installed")
        read_end, write_end = os.pipe()
        cls.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
             "-nolisten", "tcp", "-br"], pass_fds=(write_end,),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        # The number and the line end come in two writes; the server dies if the pipe goes first.
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
            f.seek(0)  # no window manager here: wine draws the caption and frame itself
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
        for _ in range(3):  # xwd now and then fails to connect on a busy machine
            dump = subprocess.run(["xwd", "-root", "-silent", "-display", self.display],
                                  capture_output=True, timeout=30)
            if dump.returncode == 0:
                return read_xwd(dump.stdout)
            self.assertIsNone(self.xvfb.poll(), "Xvfb has ended")
            time.sleep(0.5)
        self.fail("xwd: " + dump.stderr.decode(errors="replace"))

    def enrol(self, show, shown, settle=0.5):
        """The screen `settle` s after the enrolment frame, once shown(screen) holds (6 s at most);
        line 2 gets the "place your right thumb" event, then the step times out."""
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
        at = lambda screen, x, y: screen[CLIENT[1] + y][CLIENT[0] + x]  # noqa: E731
        screen = self.enrol(1, lambda screen: at(screen, 0, 0) == logo_pixel(0, 0) and any(
            max(at(screen, x, y)) < 90 for y in range(85, 140) for x in range(300)))
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

    @unittest.skipIf(winerig.ARCH == "win32", "the same dialog code in both builds")
    def test_a_file_without_a_picture_keeps_the_template_window(self):
        def size(screen):  # of what is drawn on the black screen
            lit = [(x, y) for y, row in enumerate(screen) for x, p in enumerate(row)
                   if p != (0, 0, 0)]
            return lit and (max(x for x, _ in lit) - min(x for x, _ in lit) + 1,
                            max(y for _, y in lit) - min(y for _, y in lit) + 1)

        # Template 4000's 160 by 89 dialog units in wine's dialog font, frame and caption.
        template, sizes = (486, 270), []
        for zero_bytes in (True, False):  # then a missing file
            with open(os.path.join(self.workdir, "logo.bmp"), "wb") as f:
                f.write(b"")
            if not zero_bytes:
                os.unlink(f.name)
            sizes.append(size(self.enrol(1, lambda screen: size(screen) == template)))
        self.assertEqual(sizes, [template] * 2)

    def test_hidden_dialog_leaves_the_screen_black(self):
        # With a logo and, on the twin, without one (the template's window).
        for logo in (True, False)[:1 if winerig.ARCH == "win32" else 2]:
            if not logo:
                os.unlink(os.path.join(self.workdir, "logo.bmp"))
            screen = self.enrol(0, lambda screen: True, settle=2)
            self.assertEqual(sum(1 for row in screen for p in row if p != (0, 0, 0)), 0, logo)


if __name__ == "__main__":
    winerig.main()
