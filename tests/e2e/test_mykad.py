"""The MyKad commands end to end: quillon_host.exe -> quillon.dll -> the stand-in OrvMyKad.dll
beside it, driven by a scenario and recording every call it gets. Replies are taken apart with
the integrators' decoder (quillon_mykad_decode), the tests' oracle."""
import datetime
import os
import re
import shutil
import subprocess

import winerig

TEXTS = ("ALI BIN ABU", "KL01", "OPERATOR7")
FIELDS = "[0][3][%s][%s][%s]" % TEXTS
# Every byte value once (0x00 and 0x20 among them), then text: what scrambling must bring back.
RECORD = bytes(range(256)) + b"900101-14-5678 SITI AMINAH BINTI AHMAD" + bytes(range(255, 99, -1))
PHOTO = bytes([0xFF, 0xD8]) + bytes((i * 37 + 11) & 0xFF for i in range(3996)) + b"\xFF\xD9"
B64 = "[A-Za-z0-9+/=]"


def call(name, *args, result=0):
    return " ".join(["OrvMyKad" + name] + [str(a) for a in args] + ["->", str(result)])


START = [call("Init", 3), call("GetFirmwareVersion", 2000), call("GetCardStatus", 1, 2000, result=2)]


class MyKad(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        shutil.copy(os.path.join(self.wine.win64, "OrvMyKad.dll"), self.workdir)
        self.record = os.path.join(self.workdir, "calls.txt")
        self.host.write_ini("[CSSSERVER]\nGLOBTIMEOUT=20000\n")

    def read(self, request, scenario=""):
        """Sends `request` with the stand-in playing `scenario`; returns (code, reply, calls)."""
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write(scenario)
        if os.path.exists(self.record):
            os.unlink(self.record)
        code, reply = self.host.send(request, timeout=60, env={
            "QUILLON_ORVMYKAD_SCENARIO": "reader.txt", "QUILLON_ORVMYKAD_RECORD": self.record})
        calls = []
        if os.path.exists(self.record):
            with open(self.record) as f:
                calls = [line.rstrip("\r\n") for line in f if line.strip()]
        return code, reply, calls

    def decode(self, reply):
        """The decoder's fields, name -> text (quotes removed); "data" and "photo" as bytes."""
        r = subprocess.run([os.path.join(self.wine.native, "quillon_mykad_decode"), "--hex"],
                           input=reply, capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, "every check byte right: " + r.stdout + r.stderr)
        fields = dict((name, value.strip().strip('"')) for name, _, value in
                      (line.partition(":") for line in r.stdout.splitlines()))
        return dict(fields, data=bytes.fromhex(fields["data hex"]),
                    photo=bytes.fromhex(fields["photo hex"]))

    def test_mykad_reply_carries_the_scrambled_card_record_and_photo_and_differs_each_time(self):
        address = re.search(r"\]\[([0-9.]*)\]\[123\]$", self.host.send("[GETBRANCHCODE]")[1])[1]
        scenario = "record hex %s\nphoto hex %s\n" % (RECORD.hex(), PHOTO.hex())
        code, reply, calls = self.read("[READMYKAD]" + FIELDS, scenario)
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[READMYKAD\]\[0\]\[0\]\[%s{975}\]\[%s{5335}\]$" % (B64, B64))
        self.assertEqual(calls, START + [
            call("ResetCard"), call("ReadOpenData"), call("IsEBA", result=1), call("ReadPhoto"),
            call("ReadBio", "DUV"), call("SecurityLevel", 4),
            call("VerifyFinger", "DUV", "prompts", "160,163"), call("Close")])

        d = self.decode(reply)
        self.assertEqual((d["card type"], d["marker"], d["layout"]),
                         ("0 (MyKad)", "KESTRELMARGINFOLDINGPLATE" + " " * 6,
                          "plain (record at 603)"))
        stamp = datetime.datetime.strptime(d["time stamp"], "%d%m%Y%H%M%S")
        self.assertLess(abs((datetime.datetime.now() - stamp).total_seconds()), 60)
        self.assertEqual(d["address"], address.ljust(19), "the last space is the check byte")
        record = "%-20s%-6s%s%-20s%-20s" % (TEXTS[0], TEXTS[1], d["time stamp"], TEXTS[2], address)
        # Type byte, the card's record, zeros up to the record column, the record without its
        # last byte (the check byte took its place).
        self.assertEqual(d["data"], b"0" + RECORD + bytes(602 - len(RECORD)) +
                         record.encode()[:79])
        self.assertEqual(d["photo"], PHOTO[:3999])

        code, again, _ = self.read("[READMYKAD]" + FIELDS, scenario)
        self.assertEqual(code, 0)
        self.assertNotEqual(again, reply, "a fresh random block each time")

    def test_without_a_reader_library_mykad_fails_with_minus_4_and_other_commands_work(self):
        os.unlink(os.path.join(self.workdir, "OrvMyKad.dll"))
        self.assertEqual(self.read("[READMYKADNOPHOTO]" + FIELDS),
                         (-4, "[READMYKADNOPHOTO][-4][123]", []))
        self.assertRegex(self.host.send("[GETBRANCHCODE]")[1], r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]")


if __name__ == "__main__":
    winerig.main()
