"""Fingerprint enrolment and verification end to end: quillon_host.exe -> quillon.dll -> pty
COM port -> the terminal simulator, asserting the exact replies, the exact frames the library
sent, and the prompts of the terminal's events (through the file log)."""
import os
import time

import winerig
from winerig import recorded

FAST = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=1500\n"
STATUS = recorded(0x23, key_flag=1)


def template(seed, byte17=2, length=598):
    t = bytearray((seed + 7 * i) & 0xFF for i in range(length))
    t[17] = byte17
    return bytes(t)


def verify_frame(data_template, two_finger=False):
    """What the terminal receives for CMD_VERIFY: header, then the template with bytes 512 to
    597 and 1110 to 1195 sent as spaces."""
    header = bytes([0xC1 if two_finger else 0x01, 0x04, 0, 0, 0]) + (
        bytes([0x04, 0xAC]) if two_finger else bytes([0x02, 0x56]))
    body = bytearray(data_template)
    for start, end in ((512, 598), (1110, 1196)):
        for i in range(start, min(end, len(body))):
            body[i] = 0x20
    return recorded(0x28, header + bytes(body))


class Enrolment(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini(FAST + "[DEBUG]\nENABLE=1\nFILE=.\\trace.txt\n")

    def trace(self):
        with open(os.path.join(self.workdir, "trace.txt"), "rb") as f:
            return f.read().decode("latin-1")

    def test_enrolment_returns_the_598_byte_template_in_hex_after_its_prompts(self):
        enrolled = template(3)
        terminal = self.start_terminal("template %s\n" % enrolled.hex())
        self.assertEqual(self.host.send("[ENROLL][1][7]"),
                         (0, "[ENROLL][0][%s][123]" % enrolled.hex().upper()))
        self.assertEqual(terminal.frames(), [STATUS, recorded(0x27, bytes([0x01]) + bytes(20))])
        trace = self.trace()
        for prompt in ("Please put in your thumb for enrollment\r\nSila letak ibu jari untuk imbasan",
                       "Place your thumb again\r\nSila letak ibu jari semula", "Enroll Success"):
            self.assertIn(prompt, trace)

    def test_event_prompts_come_from_the_message_section(self):
        self.host.write_ini(FAST + "[DEBUG]\nENABLE=1\nFILE=.\\trace.txt\n"
                            "[MESSAGE]\nE2=Letakkan ibu jari\nE9=Berjaya\n")
        self.start_terminal()
        self.assertEqual(self.host.send("[ENROLL][0][7]")[0], 0)
        trace = self.trace()
        self.assertIn("| Letakkan ibu jari\r\n", trace)
        self.assertIn("| Berjaya\r\n", trace)
        self.assertNotIn("Enroll Success", trace)

    def test_enrolment_failed_event_gives_minus_5(self):
        self.start_terminal("on 27\n  event A0 A7\nend\n")
        self.assertEqual(self.host.send("[ENROLL][0][7]"), (-5, "[ENROLL][-5][123]"))

    def test_terminal_error_in_the_result_leaves_the_dialog_open_until_the_time_out(self):
        # The error sets -3 but keeps the dialog open for later frames; none come, so the step
        # time-out ends it and its -30 is what the host sees.
        self.start_terminal("on 27\n  event A0\n  result 15\nend\n")
        start = time.monotonic()
        self.assertEqual(self.host.send("[ENROLL][0][7]"), (-30, "[ENROLL][-30][123]"))
        self.assertGreaterEqual(time.monotonic() - start, 2.5)
        self.assertIn("RECV: Error Code 0x15", self.trace())

    def test_failing_status_query_returns_its_code_and_sends_no_enrol_frame(self):
        terminal = self.start_terminal("on 23\n  silence\nend\n")
        self.assertEqual(self.host.send("[ENROLL][0][7]"), (-30, "[ENROLL][-30][123]"))
        self.assertEqual(terminal.frames(), [STATUS])


class Verification(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini(FAST)

    def test_verify_sends_the_exact_frame_and_matches(self):
        t = template(5)
        terminal = self.start_terminal("verify match\n")
        self.assertEqual(self.host.send("[VERIFY][1][7][%s]" % t.hex().upper()),
                         (0, "[VERIFY][0][123]"))
        self.assertEqual(terminal.frames(), [STATUS, verify_frame(t)])

    def test_lowercase_hex_verifies_the_same_as_uppercase(self):
        t = template(9)
        terminal = self.start_terminal("verify match\n")
        self.assertEqual(self.host.send("[VERIFY][1][7][%s]" % t.hex()), (0, "[VERIFY][0][123]"))
        self.assertEqual(terminal.frames()[1], verify_frame(t))

    def test_template_whose_byte_17_is_not_2_is_refused_after_the_status_query(self):
        terminal = self.start_terminal()
        self.assertEqual(self.host.send("[VERIFY][1][7][%s]" % template(1, byte17=3).hex()),
                         (-5, "[VERIFY][-5][123]"))
        self.assertEqual(terminal.frames(), [STATUS])

    def test_no_match_and_terminal_error(self):
        for scenario, expected in (("verify nomatch\n", (0, "[VERIFY][0][123]")),
                                   ("on 28\n  result 15\nend\n", (-3, "[VERIFY][-3][123]"))):
            self.start_terminal(scenario)
            self.assertEqual(self.host.send("[VERIFY][0][7][%s]" % template(2).hex()), expected,
                             scenario)

    def test_two_templates_go_out_with_the_two_finger_layout(self):
        first, second = template(11), template(13)
        terminal = self.start_terminal("verify match\n")
        self.assertEqual(self.host.send("[VERIFY2F][1][7][%s]" % (first + second).hex().upper()),
                         (0, "[VERIFY2F][0][123]"))
        self.assertEqual(terminal.frames(), [STATUS, verify_frame(first + second, True)])

    def test_second_template_with_a_bad_byte_17_is_refused(self):
        terminal = self.start_terminal()
        request = "[VERIFY2F][1][7][%s]" % (template(11) + template(13, byte17=0)).hex()
        self.assertEqual(self.host.send(request), (-5, "[VERIFY2F][-5][123]"))
        self.assertEqual(terminal.frames(), [STATUS])

    def test_enrolled_template_verifies_against_the_same_terminal(self):
        self.start_terminal()
        code, reply = self.host.send("[ENROLL][0][7]")
        self.assertEqual(code, 0)
        enrolled = reply.split("][")[2]
        self.assertEqual(self.host.send("[VERIFY][0][7][%s]" % enrolled), (0, "[VERIFY][0][123]"))


if __name__ == "__main__":
    winerig.main()
