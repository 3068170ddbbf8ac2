"""The terminal's serial port under wine64: quillon_comport_probe.exe (tests/comport) drives
ComPort directly against the terminal simulator on COM7, with the modem-line shim so the dialog's
event mask EV_RXCHAR|EV_CTS works, and checks what the port does; the simulator's record shows
every frame exactly as the terminal decoded it."""
import os

import winerig
from winerig import recorded

FULL = bytes((i * 7 + 1) & 0xFF for i in range(2048 - 6))  # a frame that fills the write buffer


class ComPort(winerig.WineTestCase):
    def test_port_behaviours_that_only_a_real_port_shows(self):
        terminal = self.start_terminal("serial SN-0042\n", port=7)
        r = self.wine.run(os.path.join(self.wine.win64, "quillon_comport_probe.exe"), ["7", "42"],
                          cwd=self.workdir, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertRegex(r.stdout, r"(?m)^[1-9]\d* passed, 0 failed$")
        # The over-long frame never goes out; the full one goes out whole; the purge case sends
        # two frames; every other case one serial-number query, the stuck close one more after
        # reopening.
        self.assertEqual(terminal.frames(), [recorded(0x77, FULL), recorded(0x25), recorded(0x99)] +
                         [recorded(0x25)] * 5)


if __name__ == "__main__":
    winerig.main()
