"""Entry point, settings location, port discovery, branch code and the file log, end to end:
quillon_host.exe -> quillon.dll under wine64."""
import os
import re

import winerig
from winerig import SERIALCOMM


class EntryPoint(winerig.WineTestCase):
    def test_wrong_access_code_returns_minus_9999_and_leaves_the_reply_untouched(self):
        for code in ("QLN25", "qln26", "QLN2"):
            self.assertEqual(self.host.send("[GETBRANCHCODE]", access=code, prefill="untouched"),
                             (-9999, "untouched"))

    def test_unknown_command_echoes_field_one_with_minus_1007(self):
        self.assertEqual(self.host.send("[PING]"), (-1007, "[PING][-1007][123]"))
        self.assertEqual(self.host.send(""), (-1007, "[][-1007][123]"))

    def test_megabyte_request_is_cut_to_the_command_buffer(self):
        code, reply = self.host.send("[" + "A" * (2 << 20) + "][1][2]")
        self.assertEqual(code, -1007)
        self.assertEqual(reply, "[" + "A" * 499 + "][-1007][123]")

    def test_no_file_is_created_in_the_working_directory(self):
        before = set(os.listdir(self.workdir))
        self.host.send("[PING]")
        self.host.send("[GETBRANCHCODE]")
        self.assertEqual(set(os.listdir(self.workdir)), before)


class BranchCode(winerig.WineTestCase):
    ADDRESS = r"\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}"

    def test_code_set_and_name_missing_gives_status_1_and_returns_0(self):
        self.host.write_ini("[BRANCH]\nCODE=KL042\n")
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[1\]\[KL042\]\[EMPTY\]\[%s\]\[123\]$"
                         % self.ADDRESS)

    def test_both_keys_give_status_0(self):
        self.host.write_ini("[BRANCH]\nCODE=KL042\nNAME=Kuala Lumpur Sentral\n")
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[0\]\[KL042\]\[Kuala Lumpur Sentral\]\[%s\]"
                         r"\[123\]$" % self.ADDRESS)

    def test_no_settings_anywhere_reads_the_defaults(self):
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]\[EMPTY\]\[%s\]\[123\]$"
                         % self.ADDRESS)

    def test_working_directory_file_wins_over_system32(self):
        self.wine.write_system32_ini("[BRANCH]\nCODE=SYS32\nNAME=System\n")
        self.host.write_ini("[BRANCH]\nCODE=LOCAL\nNAME=Local\n")
        self.assertRegex(self.host.send("[GETBRANCHCODE]")[1], r"^\[GETBRANCHCODE\]\[0\]\[LOCAL\]")

    def test_system32_file_is_used_when_the_working_directory_has_none(self):
        self.wine.write_system32_ini("[BRANCH]\nCODE=SYS32\nNAME=System\n")
        self.assertRegex(self.host.send("[GETBRANCHCODE]")[1],
                         r"^\[GETBRANCHCODE\]\[0\]\[SYS32\]\[System\]")

    def test_over_long_settings_are_cut_to_their_buffers(self):
        self.host.write_ini("[BRANCH]\nCODE=%s\nNAME=%s\n" % ("C" * 200, "N" * 240))
        reply = self.host.send("[GETBRANCHCODE]")[1]
        self.assertTrue(reply.startswith("[GETBRANCHCODE][0][%s][%s][" % ("C" * 49, "N" * 149)),
                        reply)


class PortDiscovery(winerig.WineTestCase):
    def probe(self):
        r = self.wine.run(os.path.join(self.wine.win64, "quillon_probe.exe"), ["findcomport"],
                          cwd=self.workdir)
        self.assertEqual(r.returncode, 0, r.stderr)
        fields = dict(line.split(": ", 1) for line in r.stdout.strip().split("\n"))
        return int(fields["port"]), fields["path"]

    def test_fourth_bridge_name_gives_its_port(self):
        self.wine.reg_add(SERIALCOMM, r"\Device\Silabser0", "COM10")
        self.assertEqual(self.probe()[0], 10)

    def test_first_bridge_name_wins(self):
        self.wine.reg_add(SERIALCOMM, r"\Device\slabser0", "COM7")
        self.wine.reg_add(SERIALCOMM, r"\Device\Silabser0", "COM10")
        self.assertEqual(self.probe()[0], 7)

    def test_no_bridge_falls_back_to_the_setting_then_to_5(self):
        self.wine.reg_add(SERIALCOMM, r"\Device\Serial0", "COM1")
        port, path = self.probe()
        self.assertEqual(port, 5)
        self.assertTrue(path.lower().endswith(r"\syswow64\quillon.ini"), path)
        self.host.write_ini("[COMPORT]\nCOM=12\n")
        self.assertEqual(self.probe(), (12, r".\QUILLON.ini"))


class FileLog(winerig.WineTestCase):
    LINE = re.compile(r"^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} \| (.*)$")

    def test_debug_enable_appends_lines_to_the_named_file(self):
        self.host.write_ini("[DEBUG]\nENABLE=1\nFILE=.\\trace.txt\n")
        self.host.send("[PING]")
        self.host.send("[PING]")
        with open(os.path.join(self.workdir, "trace.txt"), "rb") as f:
            raw = f.read().decode("latin-1")
        self.assertTrue(raw.endswith("\r\n"))
        lines = [self.LINE.match(l).group(1) for l in raw.split("\r\n") if l]
        self.assertEqual(lines, ["Before Checking", "[PING][-1007][123]"] * 2)

    def test_debug_enable_without_file_writes_log_txt(self):
        self.host.write_ini("[DEBUG]\nENABLE=1\n")
        self.host.send("[PING]")
        self.assertTrue(os.path.exists(os.path.join(self.workdir, "Log.txt")))

    def test_switching_off_stops_the_log_on_the_next_call(self):
        self.host.write_ini("[DEBUG]\nENABLE=0\nFILE=.\\trace.txt\n")
        self.host.send("[PING]")
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "trace.txt")))


if __name__ == "__main__":
    winerig.main()
