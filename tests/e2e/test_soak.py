"""Soak: a few hundred consecutive requests in one host process against the terminal simulator
and the stand-in card reader, mixed commands and some failing, every reply asserted; afterwards
the process has as many threads and handles as it had after the first round."""
import re

import winerig

SIGNATURE = bytes((i * 11 + 5) & 0xFF for i in range(120))  # the simulator's default
TEMPLATE = bytearray((i * 73 + 29) & 0xFF for i in range(598))  # its default enrolment
TEMPLATE[17] = 2
ROUNDS = 25


def mykad(command, photo):
    b64 = "[A-Za-z0-9+/=]"
    return re.compile(r"^\[%s\]\[0\]\[0\]\[%s{975}\]%s$" % (command, b64, (
        r"\[%s{5335}\]" % b64) if photo else ""))


# One round, (request, (code, exact reply or pattern)). A terminal command comes before the
# process's first card read: the reader library must still load once port threads have ended. A
# card read installs the reader's link key, so only commands that run the status query follow.
ROUND = [
    ("[GETSERIALNUMBER][0][7]", (0, "[GETSERIALNUMBER][0][SN-SOAK-7][123]")),
    ("[READMYKADNOVERIFYNOPHOTO][0][3][ALI][KL01][OP7]", (0, mykad("READMYKADNOVERIFYNOPHOTO", 0))),
    ("[GETBRANCHCODE]", (0, re.compile(r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]\[EMPTY\]\[[0-9.]+\]"
                                       r"\[123\]$"))),
    ("[PING]", (-1007, "[PING][-1007][123]")),
    ("[GETFIRMWAREVERSION][0][7]", (0, "[GETFIRMWAREVERSION][0][SOAK BANK][123]")),
    ("[SETDATETIME][7][260612101500]", (0, "[SETDATETIME][0][123]")),
    ("[GETSIGNATURE][0][7]", (0, "[GETSIGNATURE][0][%s][123]" % SIGNATURE.hex().upper())),
    ("[READMYKADNOPHOTO][0][3][ALI][KL01][OP7]", (0, mykad("READMYKADNOPHOTO", 0))),
    ("[GETSERIALNUMBER][0][9]", (-4, "[GETSERIALNUMBER][-4][123]")),  # no such port
    ("[READMYKADNOVERIFYWITHPHOTO][0][3][ALI][KL01][OP7]",
     (0, mykad("READMYKADNOVERIFYWITHPHOTO", 1))),
    ("[VERIFY][0][7][%s]" % ("00" * 598), (-5, "[VERIFY][-5][123]")),  # byte 17 is not 2
    ("[ENROLL][0][7]", (0, "[ENROLL][0][%s][123]" % bytes(TEMPLATE).hex().upper())),
]


class Soak(winerig.WineTestCase):
    def test_hundreds_of_requests_in_one_process_leak_no_threads_or_handles(self):
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=3000\n")
        self.start_terminal("name SOAK BANK\nserial SN-SOAK-7\n")
        process = self.batch()
        for n in range(ROUNDS):
            for request, (code, reply) in ROUND:
                got, where = process.send(request, timeout=60), "round %d, %s" % (n, request[:40])
                self.assertEqual(got[0], code, where)
                check = self.assertEqual if isinstance(reply, str) else self.assertRegex
                check(got[1], reply, where)
            if n == 0:
                # Now every lazily made object (fonts, the reader library, the socket layer)
                # exists; from here on nothing may pile up.
                baseline = process.counts()
        final = process.counts()
        print("%d requests; threads and handles %s -> %s" % (ROUNDS * len(ROUND), baseline, final))
        self.assertEqual(final, baseline)


if __name__ == "__main__":
    winerig.main()
