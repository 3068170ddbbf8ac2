"""Over-long input end to end under wine64: request fields longer than their buffers, and
terminal replies that claim more than their frame carries or than any buffer holds, through the
real serial port and dialog. Each row's result is fixed in fault_tables.OVERLONG; all rows run in
one host process, so each also shows that the next request works normally."""
import os
import re

import batchrig
import fault_tables as ft
import winerig


class OverLongInput(winerig.WineTestCase):
    def test_every_over_long_input_is_bounded_with_its_result(self):
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=6000\n")
        batch = batchrig.Batch(self.wine, self.workdir)
        self.addCleanup(batch.close)
        for field, what, scenario, request, (code, reply) in ft.OVERLONG:
            with self.subTest(input=field, what=what):
                terminal = None
                if scenario is not None:
                    terminal = self.start_terminal(scenario + "\n")
                    if "GETSIGNATURE" in request:
                        # A fresh terminal shares a link key with the host only after a status
                        # query, and the signature command runs none of its own.
                        self.assertEqual(batch.send("[GETFIRMWAREVERSION][0][7]")[0], 0)
                got = batch.send(request, timeout=60)
                self.assertEqual(got[0], code)
                if reply.startswith("^"):
                    self.assertRegex(got[1], reply)
                else:
                    self.assertEqual(got[1], reply)
                if terminal is not None:
                    terminal.stop()
                    self.wine.unmap_com(7)


if __name__ == "__main__":
    winerig.main()
