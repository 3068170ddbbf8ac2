"""Every command end to end: quillon_host.exe -> quillon.dll -> pty COM port -> the terminal
simulator, asserting the exact reply and result code and, through the simulator's record, the
exact plain frames the library sent (key flag 1: DefaultKey, 0: the link key handed out)."""
import datetime
import os

import winerig
from winerig import SERIALCOMM, recorded

NAME = "BANK RAKYAT CAWANGAN SENTRAL"
SERIAL = "QT-2026-00042"
FAST = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=1500\n"
STATUS = recorded(0x23, key_flag=1)
ADDRESS = r"\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}"


def template(seed, length=598):
    t = bytearray((seed + 7 * i) & 0xFF for i in range(length))
    t[17] = 2
    return bytes(t)


def verify_frame(templates, two_finger=False):
    """CMD_VERIFY as the terminal decodes it: header, then the templates with bytes 512 to 597
    and 1110 to 1195 sent as spaces."""
    body = bytearray(templates)
    for i in list(range(512, 598)) + list(range(1110, min(1196, len(body)))):
        body[i] = 0x20
    header = bytes([0xC1 if two_finger else 0x01, 0x04, 0, 0, 0]) + (
        b"\x04\xAC" if two_finger else b"\x02\x56")
    return recorded(0x28, header + bytes(body))


class EntryAndSettings(winerig.WineTestCase):
    def test_access_code_unknown_command_and_the_file_log(self):
        self.assertEqual(self.host.send("[GETBRANCHCODE]", access="QLN25", prefill="untouched"),
                         (-9999, "untouched"))
        self.assertEqual(self.host.send(""), (-1007, "[][-1007][123]"))
        self.assertNotIn("Log.txt", os.listdir(self.workdir), "no log by default")
        self.host.write_ini("[DEBUG]\nENABLE=1\nFILE=.\\trace.txt\n")
        self.assertEqual(self.host.send("[PING]"), (-1007, "[PING][-1007][123]"))
        with open(os.path.join(self.workdir, "trace.txt"), "rb") as f:
            lines = f.read().decode("latin-1").split("\r\n")
        self.assertRegex(lines[0], r"^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} \| Before Checking$")
        self.assertEqual([l.split(" | ")[1] for l in lines[1:] if l], ["[PING][-1007][123]"])

    def test_branch_code_from_system32_then_from_the_working_directory(self):
        system32 = os.path.join(self.wine.prefix, "drive_c", "windows", "system32")
        winerig.write_ini(system32, "[BRANCH]\nCODE=SYS32\n")
        self.addCleanup(os.unlink, os.path.join(system32, "QUILLON.ini"))
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[1\]\[SYS32\]\[EMPTY\]\[%s\]\[123\]$" % ADDRESS)
        self.host.write_ini("[BRANCH]\nCODE=KL042\nNAME=Kuala Lumpur Sentral\n")
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[0\]\[KL042\]\[Kuala Lumpur Sentral\]\[%s\]"
                         r"\[123\]$" % ADDRESS)

    def test_port_zero_comes_from_the_registry_else_from_the_comport_setting(self):
        self.host.write_ini(FAST + "[COMPORT]\nCOM=3\n")
        for registry, port in ((r"\Device\Silabser0", 6), (r"\Device\Serial0", 3)):
            with self.subTest(registry=registry):
                self.wine.reg_clear(SERIALCOMM)
                self.wine.reg_add(SERIALCOMM, registry, "COM6")
                self.wine.unmap_com()
                terminal = self.start_terminal("serial %s\n" % SERIAL, port=port)
                self.assertEqual(self.host.send("[GETSERIALNUMBER][0][0]"),
                                 (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL))
                self.assertEqual(len(terminal.frames()), 2)


class TerminalCommands(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini(FAST)

    def test_serial_number_and_firmware_version_after_the_status_query(self):
        terminal = self.start_terminal("name %s\nserial %s\n" % (NAME, SERIAL))
        self.assertEqual(self.host.send("[GETSERIALNUMBER][1][7]"),
                         (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL))
        self.assertEqual(self.host.send("[GETFIRMWAREVERSION][1][7]"),
                         (0, "[GETFIRMWAREVERSION][0][%s][123]" % NAME))
        self.assertEqual(terminal.frames(), [STATUS, recorded(0x25), STATUS])

    def test_set_date_time_sends_twelve_characters_as_given_else_the_local_clock(self):
        terminal = self.start_terminal(port=4)
        self.assertEqual(self.host.send("[SETDATETIME][4][99AB12345678]"),
                         (0, "[SETDATETIME][0][123]"))
        before = datetime.datetime.now().replace(microsecond=0)
        self.assertEqual(self.host.send("[SETDATETIME][4][26120610150]"),
                         (0, "[SETDATETIME][0][123]"))
        after = datetime.datetime.now()
        first, second = terminal.frames()
        self.assertEqual(first, recorded(0x72, b"\x01\x00" + b"99AB12345678"))
        sent = datetime.datetime.strptime(bytes.fromhex(second.split()[0])[6:18].decode(),
                                          "%y%m%d%H%M%S")
        self.assertTrue(before <= sent <= after, sent)

    def test_signature_bytes_come_back_in_uppercase_hex(self):
        terminal = self.start_terminal("signature 00 01 7F 80 AB FF\n")
        self.assertEqual(self.host.send("[GETSIGNATURE][1][7]"),
                         (0, "[GETSIGNATURE][0][00017F80ABFF][123]"))
        self.assertEqual(terminal.frames(), [recorded(0xF3, bytes(5))])

    def test_enrolled_template_verifies_with_one_and_with_two_fingers(self):
        enrolled = template(3)
        terminal = self.start_terminal("template %s\nverify match\n" % enrolled.hex())
        self.assertEqual(self.host.send("[ENROLL][1][7]"),
                         (0, "[ENROLL][0][%s][123]" % enrolled.hex().upper()))
        self.assertEqual(self.host.send("[VERIFY][1][7][%s]" % enrolled.hex().upper()),
                         (0, "[VERIFY][0][123]"))
        both = template(11) + template(13)
        self.assertEqual(self.host.send("[VERIFY2F][1][7][%s]" % both.hex().upper()),
                         (0, "[VERIFY2F][0][123]"))
        self.assertEqual(terminal.frames(), [
            STATUS, recorded(0x27, b"\x01" + bytes(20)), STATUS, verify_frame(enrolled),
            STATUS, verify_frame(both, two_finger=True)])


if __name__ == "__main__":
    winerig.main()
