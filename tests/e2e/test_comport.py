"""The terminal's serial port under wine64: quillon_comport_probe.exe drives ComPort against the
terminal simulator on a pseudo-terminal mapped as COM7 (with the modem-line shim, so the dialog's
event mask EV_RXCHAR|EV_CTS works). The simulator's record shows each frame exactly as the
terminal decoded it; the probe prints the replies as the parser decoded them and the port's log."""
import os
import re

import winerig

PORT = 7
MISSING_PORT = 42

NAME = b"ACME BANK"
IDENTITY = bytes(range(0x30, 0x40))
LINK_KEY = bytes.fromhex("0F1E2D3C4B5A69788796A5B4C3D2E1F0")
SERIAL = b"SN-0042"
SCENARIO = "name %s\nidentity %s\nlinkkey %s\nserial %s\n" % (
    NAME.decode(), IDENTITY.hex(), LINK_KEY.hex(), SERIAL.decode())


plain = winerig.plain_frame


def inbound_wire_length(code, data=b""):
    """Bytes the terminal sends for a reply: payload padded to whole blocks, plus 5."""
    length = 1 + len(data)
    return length + (8 - length % 8) + 5


STATUS_REPLY = plain(0x23, bytes([6, len(NAME)]) + NAME + IDENTITY + LINK_KEY)
SERIAL_REPLY_DATA = bytes([6, 0, len(SERIAL)]) + SERIAL
SERIAL_REPLY = plain(0x25, SERIAL_REPLY_DATA)


CLOSE_LINES = ["Begin Close COM Port", "Waiting for ThreadClose", "Thread Closed",
               "End Close COM Port"]


def hexs(data):
    return data.hex().upper()


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Run:
    """The probe's output: repeated keys keep every value in order; log lines unescaped."""

    def __init__(self, stdout):
        self.values = {}
        self.log = []
        for line in stdout.split("\n"):
            if line.startswith("log: "):
                self.log.append(unescape(line[len("log: "):]))
            elif ": " in line:
                key, value = line.split(": ", 1)
                self.values.setdefault(key, []).append(value)

    def all(self, key):
        return self.values.get(key, [])

    def one(self, key):
        values = self.all(key)
        if len(values) != 1:
            raise AssertionError("%s: %r" % (key, values))
        return values[0]

    def number(self, key):
        return int(self.one(key))

    def index(self, line, start=0):
        return self.log.index(line, start)


class ComPortTestCase(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.probe_exe = os.path.join(self.wine.win64, "quillon_comport_probe.exe")
        self.terminal = self.start_terminal(SCENARIO, port=PORT)

    def probe(self, *args, timeout=60):
        r = self.wine.run(self.probe_exe, [str(a) for a in args], cwd=self.workdir,
                          timeout=timeout)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return Run(r.stdout)


class FramesOutAndIn(ComPortTestCase):
    def test_status_query_goes_out_with_the_default_key_and_the_next_with_the_link_key(self):
        run = self.probe("exchange", PORT)
        self.assertEqual(run.one("init"), "valid")
        self.assertEqual(run.one("monitor"), "1")
        self.assertEqual(self.terminal.frames(), [hexs(plain(0x23)) + " 1",
                                                  hexs(plain(0x25)) + " 0"])
        self.assertEqual(run.all("reply"), [hexs(STATUS_REPLY), hexs(SERIAL_REPLY)])
        self.assertEqual(run.one("linkkey"), hexs(LINK_KEY))

    def test_port_is_configured_from_the_line_string_and_logs_every_step(self):
        run = self.probe("exchange", PORT)
        # 115200 baud, 8 data bits, no parity (0), one stop bit (0), RTS enabled (1).
        self.assertEqual(run.one("dcb"), "115200 8 0 0 rts=1")
        self.assertEqual(run.one("events"), "9 size: 1024")
        self.assertEqual(run.log[:7], [
            "Entering InitPort", "Create Port and Baud buffer", "Begin Open COM",
            "\\\\.\\COM7", "baud=115200 parity=N data=8 stop=1", "Leaving InitPort",
            "Begin COMThread"])
        # The monitor thread's last lines interleave with the close's; both keep their order.
        closing = run.log[run.index("Begin Close COM Port"):]
        self.assertEqual([l for l in closing if l in CLOSE_LINES], CLOSE_LINES)
        self.assertEqual(closing[-1], "End Close COM Port")
        self.assertIn("End COMThread", closing)
        self.assertFalse([l for l in run.log if l.startswith("WARNING")], run.log)
        self.assertNotIn("INVALID PROTOCOL REPLY RETURN", run.log)

    def test_frame_over_the_write_buffer_is_refused_and_a_full_one_goes_out_whole(self):
        run = self.probe("limits", PORT)
        data = bytes((i * 7 + 1) & 0xFF for i in range(2048 - 6))
        self.assertEqual((run.one("too long"), run.one("fits")), ("2049", "2048"))
        self.assertIn("FRAME OF 2049 BYTES DOES NOT FIT THE WRITE BUFFER", run.log)
        self.assertEqual(self.terminal.frames(), [hexs(plain(0x77, data)) + " 0"])
        self.assertEqual(run.all("reply"), ["none", hexs(plain(0x77, b"\x06"))])


class Purge(ComPortTestCase):
    def test_reply_left_in_the_queue_is_discarded_when_the_next_frame_is_written(self):
        # Without EV_RXCHAR in the mask the monitor thread never drains: the serial-number
        # reply stays queued until the next frame's write purges it.
        run = self.probe("purge", PORT)
        first = inbound_wire_length(0x25, SERIAL_REPLY_DATA)
        second = inbound_wire_length(0x99, b"\x06")
        self.assertEqual((first, second), (21, 13))
        self.assertEqual(run.all("queued"), [str(first), str(second)])
        self.assertEqual(run.one("read"), str(second))
        self.assertEqual(run.all("reply"), [hexs(plain(0x99, b"\x06"))])
        self.assertEqual(self.terminal.frames(), [hexs(plain(0x25)) + " 0",
                                                  hexs(plain(0x99)) + " 0"])


class Reopen(ComPortTestCase):
    def test_second_init_ends_the_first_monitor_thread_before_it_reopens(self):
        run = self.probe("reopen", PORT)
        self.assertEqual(run.all("init"), ["valid", "valid"])
        self.assertEqual(run.number("threads with monitor"), 1)
        self.assertEqual(run.number("threads after reinit"), 0)
        self.assertEqual(run.number("threads after close"), 0)
        self.assertEqual(run.all("reply"), [hexs(SERIAL_REPLY)])

        second = run.index("Entering InitPort", 1)
        stop = run.index("COMThread Thread Close Signal", second)
        self.assertEqual(run.log[stop:stop + 7], [
            "COMThread Thread Close Signal", "End COMThread",
            "Reset Read Event if already Set", "Reset Write Event if already Set",
            "Reset Shutdown Event if already Set", "Reset ShutdownSet Event if already Set",
            "Create Port and Baud buffer"])
        self.assertEqual(run.log[stop + 7:stop + 9],
                         ["COM Port already Open Trying to Close", "Begin Open COM"])
        self.assertEqual(run.log.count("Begin COMThread"), 2)


class SharedHandle(ComPortTestCase):
    def test_frame_goes_out_through_the_shared_handle_when_the_port_has_none(self):
        run = self.probe("shared", PORT)
        self.assertEqual(run.one("init"), "valid")
        self.assertEqual(run.one("adopted"), "1")
        self.assertEqual(run.all("reply"), [hexs(SERIAL_REPLY), "none"])
        self.assertEqual(self.terminal.frames(), [hexs(plain(0x25)) + " 0"])
        adopted = run.index("FOUND GLOBAL HANDLE GOT")
        self.assertLess(adopted, run.index("Begin Close COM Port"))

    def test_close_empties_the_shared_copy_so_a_later_frame_is_dropped(self):
        run = self.probe("shared", PORT)
        self.assertEqual(run.one("shared after close"), "empty")
        closed = run.index("End Close COM Port")
        self.assertEqual(run.log[closed + 1:], ["PORT NOT OPENED Trying to Write"])


class MissingPort(ComPortTestCase):
    def warning(self, run):
        lines = [l for l in run.log if l.startswith("WARNING")]
        self.assertEqual(len(lines), 3, run.log)
        self.assertEqual(len(set(lines)), 1)
        return lines[0]

    def test_open_fails_with_the_invalid_handle_and_the_close_event_set(self):
        run = self.probe("missing", MISSING_PORT)
        self.assertEqual(run.all("init"), ["invalid alive: 0 closed event: 1"] * 3)
        # Nothing to wait for: the failed open already signalled the thread's end.
        for ms in run.all("close ms"):
            self.assertLess(int(ms), 1000)

    def test_failed_open_logs_the_error_and_the_warning_text(self):
        run = self.probe("missing", MISSING_PORT)
        warning = self.warning(run)
        m = re.match(r"^WARNING:  Open COM ERROR Failed with the following error: \n(.+)\nPort: "
                     r"42\n$", warning, re.S)
        self.assertTrue(m, repr(warning))
        self.assertEqual(m.group(1), "File not found.\r\n")

        opening = ["Create Port and Baud buffer", "Begin Open COM", "\\\\.\\COM42",
                   "baud=115200 parity=N data=8 stop=1", "Open COM ERROR", warning]
        reset = ["Reset Read Event if already Set", "Reset Write Event if already Set",
                 "Reset Shutdown Event if already Set", "Reset ShutdownSet Event if already Set"]
        close = CLOSE_LINES
        self.assertEqual(run.log,
                         ["Entering InitPort"] + opening +
                         ["Entering InitPort"] + reset + opening +
                         close + close +
                         ["Entering InitPort"] + opening + close)


class CloseWhileHandingOver(ComPortTestCase):
    def test_close_gives_up_after_about_10_s_when_the_thread_is_stuck_and_recovers(self):
        run = self.probe("stuckclose", PORT)
        self.assertEqual(run.one("stuck"), "1")
        self.assertGreaterEqual(run.number("close ms"), 9900)
        self.assertLessEqual(run.number("close ms"), 11500)
        self.assertEqual(run.number("threads while stuck"), 1)
        self.assertEqual(run.number("threads after release"), 0)
        self.assertIn("COMThread still running after the close wait", run.log)
        # Released, the thread finds the port closed and ends by itself.
        released = run.index("End Close COM Port")
        self.assertEqual(run.log[released + 1:released + 4],
                         ["COMPORT CLOSED, Exit Forever Loop", "COMThread Pointer not exists",
                          "End COMThread"])
        self.assertEqual(run.all("init"), ["valid", "valid"])
        self.assertEqual(run.all("reply"), [hexs(SERIAL_REPLY)])
        self.assertEqual(run.number("threads after close"), 0)

    def test_close_serves_the_reply_sent_to_its_own_window_and_returns_at_once(self):
        run = self.probe("closeinreply", PORT)
        self.assertEqual(run.one("window"), "1")
        self.assertEqual(run.one("in hand-over"), "1")
        self.assertLess(run.number("close ms"), 2000)
        self.assertEqual(run.one("window got"), hexs(SERIAL_REPLY))
        self.assertEqual(run.number("threads after close"), 0)
        self.assertIn("End COMThread", run.log)
        self.assertNotIn("COMThread still running after the close wait", run.log)


class Cycles(ComPortTestCase):
    def test_200_cycles_leave_no_thread_or_handle_behind(self):
        run = self.probe("cycles", PORT, 200, timeout=120)
        m = re.match(r"^200 answered: (\d+) ms: (\d+)$", run.one("cycles"))
        self.assertTrue(m, run.one("cycles"))
        self.assertEqual(int(m.group(1)), 200)
        threads_before, threads_after = map(int, run.one("threads").split())
        handles_before, handles_after = map(int, run.one("handles").split())
        self.assertGreater(threads_before, 0)
        self.assertGreater(handles_before, 0)
        self.assertEqual(threads_after, threads_before)
        self.assertEqual(handles_after, handles_before)
        self.assertEqual(len(self.terminal.frames()), 201)


if __name__ == "__main__":
    winerig.main()
