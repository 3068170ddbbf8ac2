"""The file log in the field: the commands that carry personal data run with distinctive data in
one host process; the log holds whole stamped lines but none of that data, and at a small MAX_KB
the file becomes FILE.1 and starts anew."""
import os
import random
import re

import winerig

FAST = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=3000\n[CSSSERVER]\nGLOBTIMEOUT=20000\n"
LINE = re.compile(r"^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3} \| pid \d+ tid \d+ \| (.*)$")
# Invented holder, staff and terminal owner; at most 19, 6 and 19 characters.
TEXTS = ("NORVANA QADRISH", "QZ7X9W", "CLERK VANTELIO")
FIELDS = "[0][3][%s][%s][%s]" % TEXTS
MYKAD = ("READMYKAD", "READMYKADNOPHOTO", "READMYKADNOVERIFYWITHPHOTO", "READMYKADNOVERIFYNOPHOTO")
# Lines logged where the data passes: the leak check looks at the right places.
PROGRESS = ["[ENROLL][0][1196 characters][123]", "templates: 2392 characters",
            "[GETSIGNATURE][0][800 characters][123]", "text 1: 15 characters",
            "[READMYKAD][0][0][975 characters][5335 characters]"]

rng = random.Random(2026)


def data(length):
    return bytes(rng.randrange(256) for _ in range(length))


def template():
    t = bytearray(data(598))
    t[17] = 2  # what the verify runners test
    return bytes(t)


ENROLLED, SINGLE, FIRST, SECOND = template(), template(), template(), template()
SIGNATURE = data(400)
RECORD = (b"\x01\x07871203-08-5523\x00NORVANA BINTI QADRISH\x00\x00NO 12 JALAN KERAWANG 7\x1f"
          b"TAMAN SERI ORKIDVALE\x00MUKIM PELANGI TUJUH" + data(200))
PHOTO = b"\xFF\xD8" + data(3996) + b"\xFF\xD9"
# Terminal commands first: a card read installs the reader's link key, which the signature (no
# status query of its own) would then use.
REQUESTS = [("[ENROLL][0][7]", "[ENROLL][0][%s][123]" % ENROLLED.hex().upper()),
            ("[VERIFY][0][7][%s]" % SINGLE.hex(), "[VERIFY][0][123]"),
            ("[VERIFY2F][0][7][%s]" % (FIRST + SECOND).hex().upper(), "[VERIFY2F][0][123]"),
            ("[GETSIGNATURE][0][7]", "[GETSIGNATURE][0][%s][123]" % SIGNATURE.hex().upper())]
SECRETS = [("enrolled template", ENROLLED.hex()), ("template", SINGLE.hex()),
           ("two templates", (FIRST + SECOND).hex()), ("signature", SIGNATURE.hex()),
           ("photo", PHOTO.hex())]


def windows(text, size=16):
    return {text[i:i + size] for i in range(len(text) - size + 1)}


def log(path):  # the text and each line's message; None for a line not stamped or not ended
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    *lines, rest = text.split("\r\n")
    return text, [m and m[1] for m in map(LINE.match, lines)] + ([None] if rest else [])


class LogPrivacy(winerig.WineTestCase):
    def test_log_holds_progress_lines_but_no_personal_data_and_is_capped_by_max_kb(self):
        self.start_terminal("name KOPERASI CONTOH UTARA\nserial QX-LOG-0001\nverify match\n"
                            "template %s\nsignature %s\n" % (ENROLLED.hex(), SIGNATURE.hex()))
        with open(os.path.join(self.workdir, "OrvMyKad.scenario"), "w") as f:
            f.write("record hex %s\nphoto hex %s\n" % (RECORD.hex(), PHOTO.hex()))
        self.host.write_ini(FAST + "[DEBUG]\nENABLE=1\nFILE=.\\privacy.txt\n")
        process = self.batch()
        for request, reply in REQUESTS:
            self.assertEqual(process.send(request, timeout=60), (0, reply), request[:20])
        scrambled = []
        for command in MYKAD:
            code, reply = process.send("[%s]%s" % (command, FIELDS), timeout=60)
            self.assertEqual(code, 0, command)
            scrambled += re.match(r"^\[%s\]\[0\]\[0\]((?:\[[^]]+\])+)$" % command,
                                  reply)[1].strip("[]").split("][")
        self.assertEqual([len(s) for s in scrambled], [975, 5335, 975, 975, 5335, 975])
        text, said = log(os.path.join(self.workdir, "privacy.txt"))
        self.assertEqual(([l for l in PROGRESS if l not in said], said.count(None)), ([], 0))
        held, runs = windows(text), re.findall(rb"[\x20-\x7e]{8,}", RECORD)
        leaks = [name for name, s in SECRETS for case in (s.upper(), s.lower())
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
        self.host.write_ini(FAST + "[DEBUG]\nENABLE=1\nFILE=.\\small.txt\nMAX_KB=1\n")
        self.assertEqual(process.send("[READMYKADNOVERIFYNOPHOTO]" + FIELDS, timeout=60)[0], 0)
        (older, said_older), (newer, said_newer) = map(log, (small + ".1", small))
        self.assertEqual(("OLDER CONTENT" in older, None in said_older + said_newer), (False, False))
        self.assertTrue(0 < len(newer) <= 1024 and len(older) <= 1024, (len(older), len(newer)))


if __name__ == "__main__":
    winerig.main()
