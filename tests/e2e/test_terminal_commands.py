"""The terminal commands end to end: quillon_host.exe -> quillon.dll -> pty COM port -> the
terminal simulator, asserting the exact replies and, through the simulator's record, the exact
plain frames the library sent."""
import datetime
import os
import time

import winerig
from winerig import SERIALCOMM, recorded

NAME = "BANK RAKYAT CAWANGAN SENTRAL"
SERIAL = "QT-2026-00042"
FAST = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=1500\n"
STATUS = recorded(0x23, key_flag=1)


class TerminalCommands(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini(FAST)

    def test_serial_number_runs_the_status_query_with_the_default_key_first(self):
        terminal = self.start_terminal("name %s\nserial %s\n" % (NAME, SERIAL))
        self.assertEqual(self.host.send("[GETSERIALNUMBER][1][7]"),
                         (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL))
        # The serial-number frame decodes on the terminal's side only with the link key that
        # the status reply handed out: key flag 0.
        self.assertEqual(terminal.frames(), [STATUS, recorded(0x25)])

    def test_firmware_version_answers_the_customer_name(self):
        terminal = self.start_terminal("name %s\n" % NAME)
        self.assertEqual(self.host.send("[GETFIRMWAREVERSION][0][7]"),
                         (0, "[GETFIRMWAREVERSION][0][%s][123]" % NAME))
        self.assertEqual(terminal.frames(), [STATUS])

    def test_customer_name_over_49_characters_is_cut(self):
        self.start_terminal("name %s\n" % ("N" * 60))
        self.assertEqual(self.host.send("[GETFIRMWAREVERSION][0][7]"),
                         (0, "[GETFIRMWAREVERSION][0][%s][123]" % ("N" * 49)))

    def test_set_date_time_sends_twelve_characters_unchanged_before_the_port_closes(self):
        terminal = self.start_terminal(port=4)
        self.assertEqual(self.host.send("[SETDATETIME][4][99AB12345678]"),
                         (0, "[SETDATETIME][0][123]"))
        self.assertEqual(terminal.frames(), [recorded(0x72, b"\x01\x00" + b"99AB12345678")])

    def test_set_date_time_of_other_lengths_uses_the_local_clock(self):
        for field in ("26120610150", "2612061015001"):
            terminal = self.start_terminal(port=4)
            before = datetime.datetime.now()
            self.assertEqual(self.host.send("[SETDATETIME][4][%s]" % field),
                             (0, "[SETDATETIME][0][123]"))
            after = datetime.datetime.now()
            frames = terminal.frames()
            self.assertEqual(len(frames), 1)
            sent = bytes.fromhex(frames[0].split()[0])[6:18].decode()
            allowed = {t.strftime("%y%m%d%H%M%S") for t in
                       (before + datetime.timedelta(seconds=s)
                        for s in range(int((after - before).total_seconds()) + 2))}
            self.assertIn(sent, allowed)
            terminal.stop()

    def test_signature_bytes_come_back_in_uppercase_hex(self):
        terminal = self.start_terminal("signature 00 01 7F 80 AB FF\n")
        self.assertEqual(self.host.send("[GETSIGNATURE][0][7]"),
                         (0, "[GETSIGNATURE][0][00017F80ABFF][123]"))
        self.assertEqual(terminal.frames(), [recorded(0xF3, bytes(5))])

    def test_signature_with_a_failed_status_gives_minus_9(self):
        self.start_terminal("on F3\n  result 15\nend\n")
        self.assertEqual(self.host.send("[GETSIGNATURE][0][7]"), (-9, "[GETSIGNATURE][-9][123]"))

    def test_empty_signature_gives_an_empty_field(self):
        self.start_terminal("on F3\n  reply 00 00 00 00 00 06\nend\n")
        self.assertEqual(self.host.send("[GETSIGNATURE][0][7]"), (0, "[GETSIGNATURE][0][][123]"))

    def test_no_reply_ends_with_minus_30_after_the_step_timeout_and_one_second(self):
        terminal = self.start_terminal("on any always\n  silence\nend\n")
        start = time.monotonic()
        self.assertEqual(self.host.send("[GETFIRMWAREVERSION][0][7]"),
                         (-30, "[GETFIRMWAREVERSION][-30][123]"))
        elapsed = time.monotonic() - start
        self.assertGreaterEqual(elapsed, 2.5, "1.5 s step time-out plus the 1 s display")
        self.assertLess(elapsed, 6.0)
        self.assertEqual(terminal.frames(), [STATUS])

    def test_port_that_cannot_open_gives_minus_4_without_a_second_dialog(self):
        terminal = self.start_terminal(port=7)
        self.assertEqual(self.host.send("[GETSERIALNUMBER][0][9]"),
                         (-4, "[GETSERIALNUMBER][-4][123]"))
        self.assertEqual(terminal.frames(), [])

    def test_port_zero_is_found_in_the_registry(self):
        self.wine.reg_add(SERIALCOMM, r"\Device\Silabser0", "COM6")
        terminal = self.start_terminal("serial %s\n" % SERIAL, port=6)
        self.assertEqual(self.host.send("[GETSERIALNUMBER][0][0]"),
                         (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL))
        self.assertEqual(len(terminal.frames()), 2)

    def test_port_zero_falls_back_to_the_comport_setting(self):
        self.host.write_ini(FAST + "[COMPORT]\nCOM=3\n")
        self.start_terminal("serial %s\n" % SERIAL, port=3)
        self.assertEqual(self.host.send("[GETSERIALNUMBER][0][0]"),
                         (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL))

    def test_unrecognised_mode_waits_for_the_timer_and_ends_with_minus_30(self):
        terminal = self.start_terminal()
        r = self.wine.run(os.path.join(self.wine.win64, "quillon_probe.exe"),
                          ["dialog", "enroll", "7"], cwd=self.workdir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("result: -30", r.stdout)
        self.assertEqual(terminal.frames(), [], "no set-up runs for an unknown mode")


if __name__ == "__main__":
    winerig.main()
