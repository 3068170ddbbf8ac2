"""Every command end to end under wine with its exact reply and code, the frames the simulator got
(key flag 1: DefaultKey, 0: the link key handed out) and the calls the stand-in OrvMyKad.dll got;
MyKad replies taken apart with the integrators' decoder; and what the file log keeps of them."""
import datetime
import os
import re
import shutil
import subprocess

import winerig
from winerig import SERIALCOMM, recorded

NAME, SERIAL = "BANK SERINDIT CAWANGAN TENGAH", "QT-2026-00042"
FAST = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=3000\n"
STATUS = recorded(0x23, key_flag=1)
ADDRESS = r"\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}"
B64 = "[A-Za-z0-9+/=]"
TEXTS = ("PELANGGAN CONTOH", "KL01", "OPERATOR7")
FIELDS = "[0][3][%s][%s][%s]" % TEXTS
# Every byte value once (0x00 and 0x20 among them), then text: what scrambling must bring back.
RECORD = bytes(range(256)) + b"901301-14-0000 NAMA CONTOH BINTI UJIAN" + bytes(range(255, 99, -1))
PHOTO = bytes([0xFF, 0xD8]) + bytes((i * 37 + 11) & 0xFF for i in range(3996)) + b"\xFF\xD9"
# The stand-in's record of a READMYKAD: each call with its arguments and result.
CALLS = ["OrvMyKad" + c for c in (
    "Init 3 -> 0", "GetFirmwareVersion 2000 -> 0", "GetCardStatus 1 2000 -> 2", "ResetCard -> 0",
    "ReadOpenData -> 0", "IsEBA -> 1", "ReadPhoto -> 0", "ReadBio DUV -> 0",
    "SecurityLevel 4 -> 0", "VerifyFinger DUV prompts 160,163 -> 0", "Close -> 0")]


def template(seed, length=598):
    t = bytearray((seed + 7 * i) & 0xFF for i in range(length))
    t[17] = 2
    return bytes(t)


def verify_frame(templates, two_finger=False):  # header, templates with 512-597, 1110-1195 spaces
    body = bytearray(templates)
    for i in list(range(512, 598)) + list(range(1110, min(1196, len(body)))):
        body[i] = 0x20
    header = bytes([0xC1 if two_finger else 0x01, 0x04, 0, 0, 0]) + (
        b"\x04\xAC" if two_finger else b"\x02\x56")
    return recorded(0x28, header + bytes(body))


def mykad(command, photo):
    return re.compile(r"^\[%s\]\[0\]\[0\]\[%s{975}\]%s$" % (command, B64, (
        r"\[%s{5335}\]" % B64) if photo else ""))


ENROLLED, BOTH = template(3), template(11) + template(13)
# One round: (request, code, exact reply or pattern, the frames the terminal gets). A terminal
# command first: the reader library must still load once port threads have ended; after a card
# read (which installs the reader's link key) only commands that run the status query.
ROUND = [
    ("[GETSERIALNUMBER][1][7]", 0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL,
     [STATUS, recorded(0x25)]),
    ("[READMYKADNOVERIFYNOPHOTO]" + FIELDS, 0, mykad("READMYKADNOVERIFYNOPHOTO", False), []),
    ("[GETBRANCHCODE]", 0, re.compile(r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]\[EMPTY\]\[%s\]\[123\]$"
                                      % ADDRESS), []),
    ("[PING]", -1007, "[PING][-1007][123]", []),
    ("[GETFIRMWAREVERSION][1][7]", 0, "[GETFIRMWAREVERSION][0][%s][123]" % NAME, [STATUS]),
    # Field 2 is the port; twelve characters go out as given.
    ("[SETDATETIME][7][99AB12345678]", 0, "[SETDATETIME][0][123]",
     [recorded(0x72, b"\x01\x00" + b"99AB12345678")]),
    ("[GETSIGNATURE][1][7]", 0, "[GETSIGNATURE][0][00017F80ABFF][123]",
     [recorded(0xF3, bytes(5))]),
    ("[READMYKADNOPHOTO]" + FIELDS, 0, mykad("READMYKADNOPHOTO", False), []),
    # The third read of each round (CARD_WAITS) has its time-out land in a card wait that the
    # library gives up (-30) after 300 ms: the thread's own result is the one the host gets.
    ("[READMYKADNOVERIFYNOPHOTO]" + FIELDS, -30, "[READMYKADNOVERIFYNOPHOTO][-30][123]", []),
    ("[GETSERIALNUMBER][0][9]", -4, "[GETSERIALNUMBER][-4][123]", []),  # no such port
    ("[READMYKADNOVERIFYWITHPHOTO]" + FIELDS, 0, mykad("READMYKADNOVERIFYWITHPHOTO", True), []),
    ("[VERIFY][0][7][%s]" % ("00" * 598), -5, "[VERIFY][-5][123]", [STATUS]),  # byte 17 not 2
    ("[ENROLL][1][7]", 0, "[ENROLL][0][%s][123]" % ENROLLED.hex().upper(),
     [STATUS, recorded(0x27, b"\x01" + bytes(20))]),
    ("[VERIFY][1][7][%s]" % ENROLLED.hex().upper(), 0, "[VERIFY][0][123]",
     [STATUS, verify_frame(ENROLLED)]),
    ("[VERIFY2F][0][7][%s]" % BOTH.hex().upper(), 0, "[VERIFY2F][0][123]",
     [STATUS, verify_frame(BOTH, two_finger=True)]),
]


class EntryAndSettings(winerig.WineTestCase):
    def test_wrong_access_code_leaves_the_reply_then_branch_code_from_system32_or_here(self):
        self.assertEqual(self.host.send("[GETBRANCHCODE]", access="QLN25", prefill="untouched"),
                         (-9999, "untouched"))
        system32 = os.path.join(self.wine.prefix, "drive_c", "windows", "system32")
        winerig.write_ini(system32, "[BRANCH]\nCODE=SYS32\n")
        self.addCleanup(os.unlink, os.path.join(system32, "QUILLON.ini"))
        self.assertRegex("%d %s" % self.host.send("[GETBRANCHCODE]"),
                         r"^0 \[GETBRANCHCODE\]\[1\]\[SYS32\]\[EMPTY\]\[%s\]\[123\]$" % ADDRESS)
        self.host.write_ini("[BRANCH]\nCODE=KL042\nNAME=Cawangan Contoh\n")
        self.assertRegex(self.host.send("[GETBRANCHCODE]")[1], r"^\[GETBRANCHCODE\]\[0\]\[KL042\]"
                         r"\[Cawangan Contoh\]\[%s\]\[123\]$" % ADDRESS)

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


# 22 rounds of 15 requests, then 48 without the read that fails its card wait: a soak of 1,002
# requests. Under the emulator, where each costs about three times as long, the 22. The reads'
# time-out is 100 ms, so it lands inside most reads, which must run on to their own result.
TIMED_ROUNDS, ROUNDS = 22, 22 if winerig.ARCH == "win32" else 70
# The card waits of one round: milliseconds the stand-in takes, and what it answers.
CARD_WAITS, CARD_STATUS = "0 0 300 0 ", "2 2 -30 2 "


class Commands(winerig.WineTestCase):
    def test_every_command_round_after_round_in_one_process_leaking_no_threads_or_handles(self):
        process = self.reader("delay OrvMyKadGetCardStatus %s0\nresult OrvMyKadGetCardStatus %s"
                              % (CARD_WAITS * TIMED_ROUNDS, CARD_STATUS * TIMED_ROUNDS),
                              FAST + "[CSSSERVER]\nGLOBTIMEOUT=100\n")
        terminal = self.start_terminal("name %s\nserial %s\nsignature 00 01 7F 80 AB FF\n"
                                       "template %s\nverify match\n"
                                       % (NAME, SERIAL, ENROLLED.hex()))
        for n in range(ROUNDS):
            for request, code, reply, frames in ROUND:
                if code == -30 and n >= TIMED_ROUNDS:
                    continue
                where, before = "round %d, %s" % (n, request[:40]), len(terminal.frames())
                got = process.send(request, timeout=60)
                self.assertEqual(got[0], code, where)
                check = self.assertEqual if isinstance(reply, str) else self.assertRegex
                check(got[1], reply, where)
                self.assertEqual(terminal.frames(before + len(frames))[before:], frames, where)
            if n == 0:  # every lazily made object exists: from here on nothing may pile up
                baseline = process.counts()
        self.assertEqual(process.counts(), baseline)
        # Any other length than twelve: the PC's local clock.
        before = datetime.datetime.now().replace(microsecond=0)
        self.assertEqual(process.send("[SETDATETIME][7][26120610150]"),
                         (0, "[SETDATETIME][0][123]"))
        sent = datetime.datetime.strptime(
            bytes.fromhex(terminal.frames()[-1].split()[0])[6:18].decode(), "%y%m%d%H%M%S")
        self.assertTrue(before <= sent <= datetime.datetime.now(), sent)


class MyKad(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        shutil.copy(os.path.join(self.wine.build, "OrvMyKad.dll"), self.workdir)
        self.record = os.path.join(self.workdir, "calls.txt")
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write("record hex %s\nphoto hex %s\n" % (RECORD.hex(), PHOTO.hex()))
        self.host.write_ini("[CSSSERVER]\nGLOBTIMEOUT=20000\n")

    def read(self, request):  # (code, reply, the stand-in's calls)
        if os.path.exists(self.record):
            os.unlink(self.record)
        code, reply = self.host.send(request, timeout=60, env={
            "QUILLON_ORVMYKAD_SCENARIO": "reader.txt", "QUILLON_ORVMYKAD_RECORD": self.record})
        return code, reply, winerig.record_lines(self.record)

    def test_mykad_reply_carries_the_scrambled_card_record_and_photo_and_differs_each_time(self):
        address = re.search(r"\]\[([0-9.]*)\]\[123\]$", self.host.send("[GETBRANCHCODE]")[1])[1]
        code, reply, made = self.read("[READMYKAD]" + FIELDS)
        self.assertEqual((code, made), (0, CALLS))
        self.assertRegex(reply, mykad("READMYKAD", True))
        r = subprocess.run([os.path.join(self.wine.native, "quillon_mykad_decode"), "--hex"],
                           input=reply, capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, "every check byte right: " + r.stdout + r.stderr)
        d = dict((name, value.strip().strip('"')) for name, _, value in
                 (line.partition(":") for line in r.stdout.splitlines()))
        stamp = datetime.datetime.strptime(d["time stamp"], "%d%m%Y%H%M%S")
        self.assertLess(abs((datetime.datetime.now() - stamp).total_seconds()), 60)
        self.assertEqual(d["address"], address.ljust(19), "the last space is the check byte")
        record = "%-20s%-6s%s%-20s%-20s" % (TEXTS[0], TEXTS[1], d["time stamp"], TEXTS[2], address)
        # Type byte, card record, zeros to the record column, the record less its check byte.
        self.assertEqual(bytes.fromhex(d["data hex"]), b"0" + RECORD + bytes(602 - len(RECORD)) +
                         record.encode()[:79])
        self.assertEqual(bytes.fromhex(d["photo hex"]), PHOTO[:3999])
        code, again, _ = self.read("[READMYKAD]" + FIELDS)
        self.assertEqual(code, 0)
        self.assertNotEqual(again, reply, "a fresh random block each time")


SINGLE, SIGNATURE = template(5), bytes((i * 73 + 5) & 0xFF for i in range(400))
LINE = re.compile(r"^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} \| pid \d+ tid \d+ \| (.*)$")
# Lines logged where the data passes: the leak check looks at the right places.
PROGRESS = ["[ENROLL][0][1196 characters][123]", "templates: 2392 characters",
            "[GETSIGNATURE][0][800 characters][123]", "text 1: %d characters" % len(TEXTS[0]),
            "[READMYKAD][0][0][975 characters][5335 characters]"]
# Terminal commands first: after a card read the signature (no status query) would use its key.
PRIVATE = [("[ENROLL][0][7]", "[ENROLL][0][%s][123]" % ENROLLED.hex().upper()),
           ("[VERIFY][0][7][%s]" % SINGLE.hex(), "[VERIFY][0][123]"),
           ("[VERIFY2F][0][7][%s]" % BOTH.hex().upper(), "[VERIFY2F][0][123]"),
           ("[GETSIGNATURE][0][7]", "[GETSIGNATURE][0][%s][123]" % SIGNATURE.hex().upper())]
SECRETS = [("enrolled template", ENROLLED), ("template", SINGLE), ("two templates", BOTH),
           ("signature", SIGNATURE), ("photo", PHOTO)]


def windows(text, size=16):
    return {text[i:i + size] for i in range(len(text) - size + 1)}


def log(path):  # the text and each line's message; None for a line not stamped or not ended
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    *lines, rest = text.split("\r\n")
    return text, [m and m[1] for m in map(LINE.match, lines)] + ([None] if rest else [])


class LogPrivacy(winerig.WineTestCase):
    def test_log_holds_whole_stamped_lines_but_no_personal_data_and_is_capped_by_max_kb(self):
        self.start_terminal("serial %s\nverify match\ntemplate %s\nsignature %s\n"
                            % (SERIAL, ENROLLED.hex(), SIGNATURE.hex()))
        with open(os.path.join(self.workdir, "OrvMyKad.scenario"), "w") as f:
            f.write("record hex %s\nphoto hex %s\n" % (RECORD.hex(), PHOTO.hex()))
        logged = FAST + "[CSSSERVER]\nGLOBTIMEOUT=20000\n[DEBUG]\nENABLE=1\n"
        self.host.write_ini(logged + "FILE=.\\privacy.txt\n")
        process = self.batch()
        for request, reply in PRIVATE:
            self.assertEqual(process.send(request, timeout=60), (0, reply), request[:20])
        scrambled = []
        for command in ("READMYKAD", "READMYKADNOPHOTO", "READMYKADNOVERIFYWITHPHOTO",
                        "READMYKADNOVERIFYNOPHOTO"):
            code, reply = process.send("[%s]%s" % (command, FIELDS), timeout=60)
            self.assertEqual(code, 0, command)
            self.assertRegex(reply, mykad(command, not command.endswith("NOPHOTO")))
            scrambled += reply[:-1].split("][")[3:]
        text, said = log(os.path.join(self.workdir, "privacy.txt"))
        self.assertEqual(([l for l in PROGRESS if l not in said], said.count(None)), ([], 0))
        held, runs = windows(text), re.findall(rb"[\x20-\x7e]{8,}", RECORD)
        leaks = [name for name, s in SECRETS for case in (s.hex().upper(), s.hex())
                 if windows(case) & held]
        leaks += ["scrambled record or photo %d" % i
                  for i, s in enumerate(scrambled) if windows(s) & held]
        leaks += ["MyKad text %d" % (i + 1) for i, t in enumerate(TEXTS) if t in text]
        leaks += ["card record run %r" % r for r in runs if r.decode() in text]
        self.assertEqual(leaks, [])

        # At its cap the file becomes FILE.1, replacing the older one, and a new one starts.
        small = os.path.join(self.workdir, "small.txt")
        with open(small + ".1", "w") as f:
            f.write("OLDER CONTENT\n")
        self.host.write_ini(logged + "FILE=.\\small.txt\nMAX_KB=1\n")
        self.assertEqual(process.send("[READMYKADNOVERIFYNOPHOTO]" + FIELDS, timeout=60)[0], 0)
        (older, said_older), (newer, said_newer) = map(log, (small + ".1", small))
        self.assertEqual(("OLDER CONTENT" in older, None in said_older + said_newer),
                         (False, False))
        self.assertTrue(0 < len(newer) <= 1024 and len(older) <= 1024, (len(older), len(newer)))


if __name__ == "__main__":
    winerig.main()
