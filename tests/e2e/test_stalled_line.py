"""A serial line that stops taking bytes (a USB bridge whose device stopped reading, a line held
by flow control): the simulator suspends output on the host's side of its pty, so the library's
overlapped write stays pending. Each command must still end at its step limit with -30, within the
bound that docs/time-bounds.md gives, and the next request in the same process must work."""
import time

import winerig
from winerig import recorded

SERIAL = "SN-STALL-07"
GETSN = "[GETSERIALNUMBER][0][7]"
SN_OK = (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL)
STEP_MS = 2000
INI = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=%d\n" % STEP_MS
# The documented bound of a command with a status query first, with these settings (step limit
# L = 2 s, no pause after the status query, the close deadline C = 10 s): 2 L + 1 s + 2 C.
BOUND_S = 2 * STEP_MS / 1000 + 1 + 2 * 10
# What a close that does not wait behind the write may add to the waits of a row: a port close
# and a dialog, a few tenths under wine, more on a loaded machine.
SLACK_S = 5.0


def template(seed):
    t = bytearray((seed + 5 * i) & 0xFF for i in range(598))
    t[17] = 2
    return t.hex().upper()


# (request, when the line stops taking bytes, the frames the terminal gets, the code and how long
# the dialogs wait before their close: the step limit and the "Timeout" second, or the two seconds
# the clock frame is given to go out, not awaited, so its code stays 0). Held from the start, the
# status query's own frame stalls; held after the status answer, the command's frame does: the
# two-template verification's is about 1,200 bytes, whose write time-outs (10 s a byte) ran for
# hours.
AFTER_STATUS = "on 23\ndefault\nhold\nend\n"
TIMED_OUT = (-30, STEP_MS / 1000 + 1)
ROWS = [
    ("[GETSERIALNUMBER][0][7]", "held\n", [], TIMED_OUT),
    ("[ENROLL][0][7]", AFTER_STATUS, [recorded(0x23, key_flag=1)], TIMED_OUT),
    ("[VERIFY2F][0][7][%s%s]" % (template(1), template(2)), AFTER_STATUS,
     [recorded(0x23, key_flag=1)], TIMED_OUT),
    ("[SETDATETIME][7][261206101500]", "held\n", [], (0, 2)),
]


class StalledLine(winerig.WineTestCase):
    def test_each_command_ends_at_its_step_limit_and_the_next_request_works(self):
        self.host.write_ini(INI)
        process = self.batch(reader=False)
        terminal = self.start_terminal("serial %s\n" % SERIAL)
        self.assertEqual(process.send(GETSN), SN_OK)
        baseline = process.counts()
        for request, scenario, frames, (code, waits) in ROWS:
            command = request[1:request.index("]")]
            with self.subTest(command=command):
                terminal.stop()
                terminal = self.start_terminal("serial %s\n%s" % (SERIAL, scenario))
                start = time.monotonic()
                got = process.send(request, timeout=BOUND_S + 30)
                took = time.monotonic() - start
                self.assertEqual((got, terminal.frames()),
                                 ((code, "[%s][%d][123]" % (command, code)), frames))
                self.assertLess(took, min(BOUND_S, waits + SLACK_S), "the close waited")
                terminal.stop()
                terminal = self.start_terminal("serial %s\n" % SERIAL)
                self.assertEqual(process.send(GETSN), SN_OK, "the next call")
        self.assertEqual(process.counts(), baseline, "threads and handles after the stalls")

if __name__ == "__main__":
    winerig.main()
