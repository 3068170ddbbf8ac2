"""The logo through the real dialog under wine64: the window takes the picture's size and the
screen's centre, the prompt lines move under the picture's top third, a file that gives no
picture keeps the template, and a hidden dialog stays hidden either way. quillon_probe runs an
ENROLL dialog against a silent terminal and reports the geometry once the dialog is up."""
import os

import pictures
import winerig

SILENT = "on 27\n  silence\nend\n"
# A long step time-out: the dialog ends when the probe closes it, not by a timer.
SETTINGS = "[MYKAD]\nTIMEOUT=20000\n"


def parse(stdout):
    values = {}
    for line in stdout.split("\n"):
        key, sep, value = line.partition(": ")
        if not sep:
            continue
        parts = value.split()
        values[key] = [int(p) for p in parts] if all(
            p.lstrip("-").isdigit() for p in parts) and parts else value
    return values


class LogoLayout(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.probe = os.path.join(self.wine.win64, "quillon_probe.exe")

    def write_logo(self, name, data):
        with open(os.path.join(self.workdir, name), "wb") as f:
            f.write(data)

    def show(self, show=1, image=".\\logo.bmp", com=None):
        """One ENROLL dialog with [IMAGE] LOC = image (None: no [IMAGE] section)."""
        settings = SETTINGS
        if image is not None:
            settings += "[IMAGE]\nLOC=%s\n" % image
        self.host.write_ini(settings)
        terminal = winerig.Terminal(self.wine, self.workdir, SILENT)
        self.wine.map_com(7, terminal.device)
        try:
            args = ["showdialog", "ENROLL", "7", str(show), "0"]
            if com:
                args += ["--com", com]
            r = self.wine.run(self.probe, args, cwd=self.workdir, timeout=60)
        finally:
            terminal.stop()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        values = parse(r.stdout)
        self.assertEqual(values.get("result"), [-9], "closed while waiting: " + r.stdout)
        return values

    def assert_logo_layout(self, v):
        _, _, screen_w, screen_h = v["screen"]
        self.assertEqual(v["window"], [screen_w // 2 - 153, screen_h // 2 - 91, 306, 182])
        self.assertEqual(v["line1"], [0, 60, 306, 25])
        self.assertEqual(v["line2"], [0, 85, 306, 55])

    def assert_template_layout(self, v):
        self.assertEqual(v["client"][2:], v["template-client"][2:])
        self.assertEqual(v["line1"], v["template-line1"])
        self.assertEqual(v["line2"], v["template-line2"])

    def test_300_by_150_logo_sizes_centres_and_places_the_prompt_lines(self):
        self.write_logo("logo.bmp", pictures.bmp(300, 150))
        v = self.show()
        self.assert_logo_layout(v)
        self.assertEqual(v["ever-visible"], [1])
        self.assertNotEqual(v["client"][2:], v["template-client"][2:])

    def test_hidden_dialog_with_a_logo_is_laid_out_but_never_visible(self):
        self.write_logo("logo.bmp", pictures.bmp(300, 150))
        v = self.show(show=0)
        self.assert_logo_layout(v)
        self.assertEqual(v["ever-visible"], [0])
        self.assertEqual(v["visible-now"], [0])

    def test_file_without_a_picture_keeps_the_template_layout(self):
        cases = [
            ("missing file, hidden", None, 0),
            ("zero-byte file", b"", 1),
            ("undecodable file", b"this is not a picture\r\n" * 8, 1),
        ]
        for name, data, show in cases:
            with self.subTest(name):
                if data is not None:
                    self.write_logo("logo.bmp", data)
                elif os.path.exists(os.path.join(self.workdir, "logo.bmp")):
                    os.unlink(os.path.join(self.workdir, "logo.bmp"))
                v = self.show(show=show)
                self.assert_template_layout(v)
                self.assertEqual(v["ever-visible"], [show])

    def test_without_an_image_section_the_logo_comes_from_system32(self):
        # The loader goes by the content, so a BMP serves under the default JPEG name.
        path = os.path.join(self.wine.system32(), "mylogo.jpg")
        with open(path, "wb") as f:
            f.write(pictures.bmp(300, 150))
        try:
            v = self.show(image=None)
        finally:
            os.unlink(path)
        self.assert_logo_layout(v)

    def test_host_apartment_serves_the_loader_and_is_left_as_it_was(self):
        self.write_logo("logo.bmp", pictures.bmp(300, 150))
        # After the dialog a fresh multithreaded join answers how COM was left on the thread.
        cases = [(None, "S_OK"), ("sta", "RPC_E_CHANGED_MODE"), ("mta", "S_FALSE")]
        for com, after in cases:
            with self.subTest(com=com):
                v = self.show(com=com)
                self.assert_logo_layout(v)
                self.assertEqual(v["com-after"], after)


if __name__ == "__main__":
    winerig.main()
