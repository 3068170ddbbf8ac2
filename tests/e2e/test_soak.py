"""Soak: 1,000 consecutive requests in one host process against the terminal simulator and the
stand-in card reader, mixed commands and some failing, every reply asserted; afterwards the
process has as many threads and handles as it had after the first round."""
import re
import time

import batchrig
import winerig

NAME = "SOAK BANK"
SERIAL = "SN-SOAK-7"
SIGNATURE = bytes((i * 11 + 5) & 0xFF for i in range(120))  # the simulator's default
TEMPLATE = bytearray((i * 73 + 29) & 0xFF for i in range(598))  # its default enrolment
TEMPLATE[17] = 2
TEMPLATE_HEX = bytes(TEMPLATE).hex().upper()
MYKAD = r"^\[READMYKADNOVERIFYNOPHOTO\]\[0\]\[0\]\[[A-Za-z0-9+/=]{975}\]$"
ROUNDS = 100

# One round: ten requests, (request, exact result or reply pattern). The card read comes first:
# wine (not Windows) loops for ever giving a newly loaded DLL with thread-local storage (the
# stand-in, built by MinGW) its slot once a thread of the process has ended, so the reader
# library must be loaded before the first serial-port thread has come and gone.
ROUND = [
    ("[READMYKADNOVERIFYNOPHOTO][0][3][ALI][KL01][OP7]", (0, re.compile(MYKAD))),
    ("[GETBRANCHCODE]", (0, re.compile(r"^\[GETBRANCHCODE\]\[0\]\[KL042\]\[Kuala Lumpur\]"
                                       r"\[[0-9.]+\]\[123\]$"))),
    ("[PING]", (-1007, "[PING][-1007][123]")),
    ("[GETSERIALNUMBER][0][7]", (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL)),
    ("[GETFIRMWAREVERSION][0][7]", (0, "[GETFIRMWAREVERSION][0][%s][123]" % NAME)),
    ("[SETDATETIME][7][260612101500]", (0, "[SETDATETIME][0][123]")),
    ("[GETSIGNATURE][0][7]", (0, "[GETSIGNATURE][0][%s][123]" % SIGNATURE.hex().upper())),
    ("[GETSERIALNUMBER][0][9]", (-4, "[GETSERIALNUMBER][-4][123]")),  # no such port
    ("[VERIFY][0][7][%s]" % ("00" * 598), (-5, "[VERIFY][-5][123]")),  # byte 17 is not 2
    ("[ENROLL][0][7]", (0, "[ENROLL][0][%s][123]" % TEMPLATE_HEX)),
]


class Soak(winerig.WineTestCase):
    def test_thousand_requests_in_one_process_leak_no_threads_or_handles(self):
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=3000\n"
                            "[BRANCH]\nCODE=KL042\nNAME=Kuala Lumpur\n")
        self.start_terminal("name %s\nserial %s\n" % (NAME, SERIAL))
        batch = batchrig.Batch(self.wine, self.workdir)
        self.addCleanup(batch.close)

        start = time.monotonic()
        baseline = None
        for n in range(ROUNDS):
            for request, (code, reply) in ROUND:
                got = batch.send(request, timeout=60)
                where = "round %d, %s" % (n, request[:40])
                self.assertEqual(got[0], code, where)
                if isinstance(reply, str):
                    self.assertEqual(got[1], reply, where)
                else:
                    self.assertRegex(got[1], reply, where)
            if n == 0:
                # After one round every lazily made object (fonts, the reader library, the
                # socket layer) exists; from here on nothing may pile up.
                baseline = batch.counts()
        final = batch.counts()
        elapsed = time.monotonic() - start
        print("%d requests in %.1f s; threads and handles %s -> %s"
              % (ROUNDS * len(ROUND), elapsed, baseline, final))
        self.assertEqual(final, baseline)


if __name__ == "__main__":
    winerig.main()
