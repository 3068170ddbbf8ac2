"""The MyKad commands end to end: quillon_host.exe -> quillon.dll -> the stand-in OrvMyKad.dll
beside it, driven by a scenario file and recording every call. Replies are taken apart with the
integrators' decoder (quillon_mykad_decode), and the stand-in's call record shows which reader
steps each command took."""
import datetime
import os
import re
import shutil
import subprocess
import tempfile
import time

import winerig

TEXTS = ("ALI BIN ABU", "KL01", "OPERATOR7")
FIELDS = "[%s][%s][%s]" % TEXTS
PORT = 3
# Every byte value once (0x00 and 0x20 among them), then text: what scrambling must bring back.
RECORD = bytes(range(256)) + b"900101-14-5678 SITI AMINAH BINTI AHMAD" + bytes(range(255, 99, -1))
PHOTO = bytes([0xFF, 0xD8]) + bytes((i * 37 + 11) & 0xFF for i in range(3996)) + b"\xFF\xD9"
BASE_INI = "[CSSSERVER]\nGLOBTIMEOUT=20000\n"
BASE64 = "[A-Za-z0-9+/=]"


def call(name, *args, result=0):
    return " ".join(["OrvMyKad" + name] + [str(a) for a in args] + ["->", str(result)])


START = [call("Init", PORT), call("GetFirmwareVersion", 2000), call("GetCardStatus", 1, 2000, result=2)]
CARD = [call("ResetCard"), call("ReadOpenData"), call("IsEBA", result=1)]
PHOTO_CALL = [call("ReadPhoto")]
FINGER = [call("ReadBio", "DUV"), call("SecurityLevel", 4), call("VerifyFinger", "DUV", "prompts", "160,163")]
CLOSE = [call("Close")]


class MyKad(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.standin = os.path.join(self.wine.win64, "OrvMyKad.dll")
        shutil.copy(self.standin, self.workdir)
        self.record = os.path.join(self.workdir, "calls.txt")
        self.host.write_ini(BASE_INI)

    # --- helpers ----------------------------------------------------------------------------
    def read(self, request, scenario="", ini=""):
        """Sends `request` with the stand-in playing `scenario`; returns (code, reply, calls)."""
        with open(os.path.join(self.workdir, "scenario.txt"), "w") as f:
            f.write(scenario)
        if os.path.exists(self.record):
            os.unlink(self.record)
        self.host.write_ini(BASE_INI + ini)
        code, reply = self.host.send(request, timeout=60, env={
            "QUILLON_ORVMYKAD_SCENARIO": os.path.join(self.workdir, "scenario.txt"),
            "QUILLON_ORVMYKAD_RECORD": self.record})
        return code, reply, self.calls()

    def calls(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as f:
            return [line.rstrip("\r\n") for line in f if line.strip()]

    def decode(self, reply):
        """The decoder's fields: name -> value (quotes removed); data and photo as bytes."""
        r = subprocess.run([os.path.join(self.wine.native, "quillon_mykad_decode"), "--hex"],
                           input=reply, capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, "every check byte right: " + r.stdout + r.stderr)
        fields = {}
        for line in r.stdout.splitlines():
            name, _, value = line.partition(":")
            value = value.strip()
            if value.startswith('"') and value.endswith('"'):
                value = value[1:-1]
            fields[name] = value
        fields["data hex"] = bytes.fromhex(fields["data hex"])
        if "photo hex" in fields:
            fields["photo hex"] = bytes.fromhex(fields["photo hex"])
        return fields

    def host_address(self):
        code, reply = self.host.send("[GETBRANCHCODE]")
        return re.match(r"\[GETBRANCHCODE\]\[\d\]\[.*\]\[.*\]\[(.*)\]\[123\]$", reply).group(1)

    def assertStampedNow(self, stamp):
        moment = datetime.datetime.strptime(stamp, "%d%m%Y%H%M%S")
        self.assertLess(abs((datetime.datetime.now() - moment).total_seconds()), 60, stamp)

    # --- successful reads -------------------------------------------------------------------
    def test_readmykad_of_a_mykad_carries_scrambled_card_record_and_photo(self):
        address = self.host_address()
        scenario = "record hex %s\nphoto hex %s\n" % (RECORD.hex(), PHOTO.hex())
        code, reply, calls = self.read("[READMYKAD][0][%d]%s" % (PORT, FIELDS), scenario)
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[READMYKAD\]\[0\]\[0\]\[%s{975}\]\[%s{5335}\]$" % (BASE64, BASE64))
        self.assertEqual(calls, START + CARD + PHOTO_CALL + FINGER + CLOSE)

        d = self.decode(reply)
        self.assertEqual(d["card type"], "0 (MyKad)")
        self.assertEqual(d["marker"], "KESTRELMARGINFOLDINGPLATE" + " " * 6)
        self.assertEqual(d["layout"], "plain (record at 603)")
        self.assertEqual((d["first text"], d["second text"], d["third text"]),
                         ("ALI BIN ABU" + " " * 9, "KL01  ", "OPERATOR7" + " " * 11))
        self.assertStampedNow(d["time stamp"])
        self.assertEqual(d["address"], address.ljust(19), "the last space is the check byte")
        record = "%-20s%-6s%s%-20s%-20s" % (TEXTS[0], TEXTS[1], d["time stamp"], TEXTS[2], address)
        # Type byte, the card's record, zeros up to the record column, the record without the
        # last byte (the check byte took its place).
        expected = b"0" + RECORD + bytes(602 - len(RECORD)) + record.encode()[:79]
        self.assertEqual(d["data hex"], expected)
        self.assertEqual(d["photo hex"], PHOTO[:3999])

    def test_two_identical_reads_give_different_payload_texts(self):
        payloads = set()
        for _ in range(2):
            code, reply, _ = self.read("[READMYKADNOVERIFYNOPHOTO][0][%d]%s" % (PORT, FIELDS))
            self.assertEqual(code, 0)
            payloads.add(reply)
        self.assertEqual(len(payloads), 2)

    def test_labelled_record_names_the_command_kind_at_offset_303(self):
        for command, label, form in (
                ("READMYKADNOVERIFYNOPHOTO", "VERIFY FAIL   ", r"\[%s{595}\]"),
                ("READMYKADNOPHOTO", "VERIFIED      ", r"\[%s{595}\]"),
                ("READMYKADNOVERIFYWITHPHOTO", "VERIFY FAIL   ", r"\[%s{595}\]\[%s{5335}\]")):
            with self.subTest(command=command):
                code, reply, _ = self.read("[%s][0][%d]%s" % (command, PORT, FIELDS),
                                           ini="[MYKAD]\nLABELLED_RECORD=1\n")
                self.assertEqual(code, 0)
                self.assertRegex(reply, r"^\[%s\]\[0\]\[0\]%s$" % (command, form % ((BASE64,) * form.count("%s"))))
                d = self.decode(reply)
                self.assertEqual(d["layout"], "labelled (record at 303)")
                self.assertEqual(d["label"], label)
                self.assertEqual(d["data hex"][303:303 + 14], label.encode())
                self.assertEqual(d["first text"], TEXTS[0].ljust(20))
                self.assertStampedNow(d["time stamp"])

    def test_mykid_answers_its_record_without_photo_or_finger_whatever_the_command(self):
        kid = bytes(range(1, 256)) * 5 + b"AISYAH BINTI MOHD"
        scenario = "card mykid\nrecord hex %s\n" % kid.hex()
        expected_calls = START + [call("ResetCard"), call("ReadOpenData", result=9999)] + CLOSE
        for command in ("READMYKAD", "READMYKADNOVERIFYWITHPHOTO"):
            with self.subTest(command=command):
                code, reply, calls = self.read("[%s][0][%d]%s" % (command, PORT, FIELDS), scenario)
                self.assertEqual(code, 0)
                self.assertRegex(reply, r"^\[%s\]\[0\]\[1\]\[%s{1991}\]$" % (command, BASE64))
                self.assertEqual(calls, expected_calls)
                d = self.decode(reply)
                self.assertEqual(d["marker"], "KESTRELMARGINFOLDINGPLATE" + "\\x00" * 6)
                self.assertEqual(d["photo"], "none")
                self.assertEqual(d["data hex"], b"1" + kid + bytes(1443 - len(kid)))

    def test_each_mode_reads_photo_and_finger_as_its_command_asks(self):
        for command, steps, photo_field in (
                ("READMYKADNOPHOTO", FINGER, False),
                ("READMYKADNOVERIFYWITHPHOTO", PHOTO_CALL, True),
                ("READMYKADNOVERIFYNOPHOTO", [], False),
                ("READMYKAD", PHOTO_CALL + FINGER, True)):
            with self.subTest(command=command):
                code, reply, calls = self.read("[%s][0][%d]%s" % (command, PORT, FIELDS))
                self.assertEqual(code, 0)
                self.assertEqual(calls, START + CARD + steps + CLOSE)
                self.assertEqual(reply.count("]["), 4 if photo_field else 3, reply[:40])
                self.assertTrue(reply.startswith("[%s][0][0][" % command), reply[:40])

    def test_older_card_and_a_slow_card_wait_still_succeed(self):
        # The operation's own time-out (timer 99) cannot end the dialog while the reader runs:
        # the thread's result replaces it.
        code, reply, calls = self.read(
            "[READMYKADNOVERIFYNOPHOTO][0][%d]%s" % (PORT, FIELDS),
            "eba no\ndelay OrvMyKadGetCardStatus 2500\n", ini="[CSSSERVER]\nGLOBTIMEOUT=1000\n")
        self.assertEqual(code, 0)
        self.assertTrue(reply.startswith("[READMYKADNOVERIFYNOPHOTO][0][0]["), reply)
        self.assertEqual(calls, START + [call("ResetCard"), call("ReadOpenData"),
                                         call("IsEBA", result=0)] + CLOSE)

    def test_failing_reader_version_is_retried_then_the_card_wait_starts(self):
        ini = ("[APDU]\nRETRY_COUNT_FW=2\nRETRY_WAIT_INIT=10\nRETRY_WAIT_TRY=10\n"
               "RETRY_WAIT_FW=10\nV_TIMEOUT=1500\n")
        code, reply, calls = self.read("[READMYKADNOVERIFYNOPHOTO][0][%d]%s" % (PORT, FIELDS),
                                       "result OrvMyKadGetFirmwareVersion" + " -5" * 10 + "\n", ini)
        self.assertEqual(code, 0)
        retry = [call("GetFirmwareVersion", 1500, result=-5), call("Close"), call("Init", PORT)]
        self.assertEqual(calls, [call("Init", PORT)] + retry * 3 +
                         [call("GetCardStatus", 1, 2000, result=2)] + CARD + CLOSE)

    def test_open_data_longer_than_599_bytes_is_cut_to_599(self):
        for scenario in ("record fill 1500 0x41\n", "record fill 10 0x41\nrecord-length 5000\n"):
            with self.subTest(scenario=scenario):
                code, reply, _ = self.read("[READMYKADNOVERIFYNOPHOTO][0][%d]%s" % (PORT, FIELDS),
                                           scenario)
                self.assertEqual(code, 0)
                data = self.decode(reply)["data hex"]
                sent = 1500 if "1500" in scenario else 10
                kept = min(sent, 599)
                self.assertEqual(data[:603], b"0" + b"A" * kept + bytes(602 - kept))
                self.assertEqual(data[603:623], TEXTS[0].ljust(20).encode())

    def test_prompts_guide_the_holder_and_end_with_prompt_5_also_on_failure(self):
        old_card = ["Pengesahan MyKad", "Init Port", "Init : 0", "FW : 0", "------------------",
                    "Scanner 2.7", "------------------", "Pengesahan MyKad", "Please Insert MyKad",
                    "CS : 2", "RC : 0", "Pengesahan MyKad", "Reading Open Data", "RD : 0",
                    "EBA : 0", "Pengesahan OLD MyKad", "Reading Photo"]
        cases = (
            ("older card, photo fails; .1 keys by card type", "READMYKAD",
             "eba no\nversion Scanner 2.7\nresult OrvMyKadReadPhoto -21\n",
             "EBA_M5.1_L1=Selesai kad lama\nEBA_M5_L2=Done\n",
             old_card + ["Kad lama", "Reading Photo", "RP : -21", "Selesai kad lama", "Done",
                         "Return Code : -21"]),
            ("EBA card, finger retried then matched", "READMYKADNOPHOTO",
             "version Scanner 2.7\nresult OrvMyKadVerifyFinger -3 0\nprompts\n",
             "EBA_M9_L2=Letak jari\n",
             old_card[:14] + ["EBA : 1", "Pengesahan EBA MyKad", "Reading Photo",
                              "Pengesahan EBA MyKad", "Reading Bio", "RB : 0",
                              "Pengesahan EBA MyKad", "Letak jari", "VF : -3",
                              "Pengesahan EBA MyKad", "Place the Finger Again",
                              "Pengesahan EBA MyKad", "Letak jari", "VF : 0",
                              "Pengesahan EBA MyKad", "Copying MyKad Data and Photo",
                              "Pengesahan EBA MyKad", "Process Completed", "Return Code : 0"]),
            ("MyKid ends after its record", "READMYKAD", "card mykid\nversion Scanner 2.7\n", "",
             old_card[:13] + ["RD : 9999", "Pengesahan MyKad", "Process Completed"]),
            ("card wait given up: prompt 6, no prompt 5", "READMYKAD",
             "version Scanner 2.7\nresult OrvMyKadGetCardStatus -30\n", "",
             old_card[:9] + ["CS : -30", "Pengesahan MyKad", "User Cancel"]),
        )
        for name, command, scenario, messages, expected in cases:
            with self.subTest(name):
                log = os.path.join(self.workdir, "Log.txt")
                if os.path.exists(log):
                    os.unlink(log)
                self.read("[%s][0][%d]%s" % (command, PORT, FIELDS), scenario,
                          "[DEBUG]\nENABLE=1\nFILE=.\\Log.txt\n[MESSAGE]\n"
                          "EBA_M3.1_L1=Kad lama\n" + messages)
                with open(log, encoding="latin-1") as f:
                    lines = [line.rstrip("\r\n").split(" | ", 1)[-1] for line in f]
                # The dialog's thread may still finish its set-up after the reader started.
                thread = [line for line in
                          lines[lines.index("INSIDE THREAD") + 1:lines.index("EXIT THREAD")]
                          if line not in ("End Init Program Param", "CAcqDialog: Initdialog end")]
                self.assertEqual(thread, expected)

    # --- failures ---------------------------------------------------------------------------
    def test_failures_answer_the_code_with_field_1_as_received(self):
        init_fail = [call("Init", PORT, result=-4)] + CLOSE
        found = START + [call("ResetCard"), call("ReadOpenData"), call("IsEBA", result=1)]
        cases = (
            ("reader cannot start", "READMYKAD", "result OrvMyKadInit -4\n", "", -4, init_fail),
            ("any other init failure", "READMYKADNOPHOTO", "result OrvMyKadInit -7\n", "", -4,
             [call("Init", PORT, result=-7)] + CLOSE),
            ("field 1 as received", "xREADMYKADNOVERIFYNOPHOTOx", "result OrvMyKadInit -4\n", "",
             -4, init_fail),
            ("card already inserted", "READMYKAD", "result OrvMyKadGetFirmwareVersion -15\n", "",
             -1, [call("Init", PORT), call("GetFirmwareVersion", 2000, result=-15)] + CLOSE),
            ("reader lost while retrying", "READMYKAD",
             "result OrvMyKadGetFirmwareVersion -5\nresult OrvMyKadInit 0 -4\n",
             "[APDU]\nRETRY_WAIT_INIT=10\nRETRY_WAIT_TRY=10\nRETRY_WAIT_FW=10\n", -4,
             [call("Init", PORT), call("GetFirmwareVersion", 2000, result=-5), call("Close"),
              call("Init", PORT, result=-4)] + CLOSE),
            ("library gave up the card wait", "READMYKAD",
             "result OrvMyKadGetCardStatus -30\n", "", -30,
             START[:2] + [call("GetCardStatus", 1, 2000, result=-30)] + CLOSE),
            ("no finger match in VERIFY_TIMES, lower level after SET_LOW_TIMES", "READMYKADNOPHOTO",
             "result OrvMyKadVerifyFinger -3 -3 -3\n",
             "[MYKAD]\nVERIFY_TIMES=2\nSET_LOW_TIMES=1\nSET_LOW_LEVEL=2\n", -3,
             found + [call("ReadBio", "DUV"), call("SecurityLevel", 4),
                      call("VerifyFinger", "DUV", "prompts", "160,163", result=-3),
                      call("SecurityLevel", 2),
                      call("VerifyFinger", "DUV", "prompts", "160,163", result=-3)] + CLOSE),
            ("finger failure other than no match", "READMYKAD",
             "result OrvMyKadVerifyFinger -7\n", "", -7,
             found + PHOTO_CALL + FINGER[:2] +
             [call("VerifyFinger", "DUV", "prompts", "160,163", result=-7)] + CLOSE),
            ("reset failure", "READMYKADNOVERIFYWITHPHOTO", "result OrvMyKadResetCard -12\n", "",
             -12, START + [call("ResetCard", result=-12), call("IsEBA", result=1)] + CLOSE),
            ("photo failure", "READMYKAD", "result OrvMyKadReadPhoto -21\n", "", -21,
             found + [call("ReadPhoto", result=-21)] + CLOSE),
            ("fingerprint data failure", "READMYKADNOPHOTO", "result OrvMyKadReadBio -22\n", "",
             -22, found + [call("ReadBio", "DUV", result=-22)] + CLOSE),
        )
        for name, command, scenario, ini, code, expected_calls in cases:
            with self.subTest(name):
                self.assertEqual(
                    self.read("[%s][0][%d]%s" % (command, PORT, FIELDS), scenario, ini),
                    (code, "[%s][%d][123]" % (command, code), expected_calls))

    def test_no_card_within_insert_count_polls_ends_with_minus_30(self):
        start = time.monotonic()
        result = self.read("[READMYKAD][0][%d]%s" % (PORT, FIELDS),
                           "result OrvMyKadGetCardStatus 0 0 0 0\n", "[MYKAD]\nINSERT_COUNT=2\n")
        elapsed = time.monotonic() - start
        self.assertEqual(result, (-30, "[READMYKAD][-30][123]",
                                  START[:2] + [call("GetCardStatus", 1, 2000)] * 2 + CLOSE))
        self.assertGreaterEqual(elapsed, 2.0, "two seconds between the polls")

    def test_without_a_reader_library_mykad_fails_with_minus_4_and_other_commands_work(self):
        os.unlink(os.path.join(self.workdir, "OrvMyKad.dll"))
        self.assertEqual(self.read("[READMYKADNOPHOTO][0][%d]%s" % (PORT, FIELDS)),
                         (-4, "[READMYKADNOPHOTO][-4][123]", []))
        code, reply = self.host.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]\[EMPTY\]\[[0-9.]+\]\[123\]$")

    def test_cancel_pressed_while_waiting_ends_with_minus_9(self):
        clicker = os.path.join(self.wine.win64, "quillon_dialog_clicker.exe")
        cases = (
            ("during the card wait", "delay OrvMyKadGetCardStatus 15000\n",
             START[:2] + [call("GetCardStatus", 1, 2000, result=-30)] + CLOSE),
            ("during a finger attempt", "delay OrvMyKadVerifyFinger 3000\n"
                                        "result OrvMyKadVerifyFinger -3 -3 -3\n",
             START + CARD + PHOTO_CALL + FINGER[:2] +
             [call("VerifyFinger", "DUV", "prompts", "160,163", result=-3)] + CLOSE),
        )
        for name, scenario, expected_calls in cases:
            with self.subTest(name), tempfile.TemporaryFile() as out:
                # The operator's click comes from another process, once the card wait is on.
                presser = subprocess.Popen(
                    [winerig.LOADER, clicker, "MYKAD", "1", "1200", "20000"],
                    env=self.wine.env(), cwd=self.workdir, stdin=subprocess.DEVNULL,
                    stdout=out, stderr=subprocess.DEVNULL)
                start = time.monotonic()
                result = self.read("[READMYKAD][0][%d]%s" % (PORT, FIELDS), scenario,
                                   "[MISC]\nCANCEL=1\n")
                elapsed = time.monotonic() - start
                self.assertEqual(presser.wait(timeout=30), 0)
                out.seek(0)
                self.assertEqual(out.read().decode().replace("\r\n", "\n"),
                                 'found\ncontrol: 1 "Cancel" visible=1 enabled=1\n'
                                 'after: enabled=0\n')
                self.assertEqual(result, (-9, "[READMYKAD][-9][123]", expected_calls))
                self.assertLess(elapsed, 10.0, "the pending wait gave up at once")


if __name__ == "__main__":
    winerig.main()
