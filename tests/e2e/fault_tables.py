"""The faults and bad inputs that tests/e2e/test_faults.py and test_overlong.py play, with what
each gives. The same rows write the table of docs/reliability.md; a test checks that the document
holds them, so the document cannot drift from what is tested.

    python3 tests/e2e/fault_tables.py > docs/reliability-table.md   (pasted into the document)
"""

SERIAL = "SN-FAULT-01"
GETSN = "[GETSERIALNUMBER][0][7]"
SN_OK = (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL)
SN_TIMEOUT = (-30, "[GETSERIALNUMBER][-30][123]")
# A reply is handled by its own code: another command's success ends the query with no serial.
SN_EMPTY = (0, "[GETSERIALNUMBER][0][][123]")

# Terminal faults: what the terminal does instead of answering the serial-number query (0x25),
# the reply the host then gets. Each row is followed by a normal request in the same process.
TERMINAL_FAULTS = [
    # (name, what the line does, scenario steps for the 0x25 answer, (code, reply))
    ("silence", "the terminal never answers", "silence", SN_TIMEOUT),
    ("garbage only", "400 random bytes, none an STX, and nothing else", "garbage 400", SN_TIMEOUT),
    ("garbage then a good frame", "400 random bytes, then the answer",
     "garbage 400\ndefault", SN_OK),
    ("wrong checksum", "the answer with a wrong checksum byte (not checked)",
     "badsum\ndefault", SN_OK),
    ("oversize frame then a good frame",
     "a frame whose length field says 4000 bytes, then the answer",
     "oversize 4000\ndefault", SN_OK),
    ("frame cut in the middle", "the first 9 bytes of the answer, never the rest",
     "cut 9\ndefault", SN_TIMEOUT),
    ("bytes trickling in", "the answer one byte at a time, 40 ms apart",
     "split 1 40\ndefault", SN_OK),
    ("reply to a different command", "a clock-setting answer (0x72) instead",
     "frame 72 06", SN_EMPTY),
    ("reply to a different command, then the right one",
     "a verification result (0x28), then the answer", "frame 28 06\ndefault", SN_EMPTY),
    ("event storm", "1,000 unsolicited events (0x94 A5) before the answer",
     "event " + " ".join(["A5"] * 1000) + "\ndefault", SN_OK),
]

# The port vanishing: the simulator closes its pseudo-terminal while the host waits.
HANGUP = ("pty closed by the far end", "the line goes away after the query arrived",
          "delay 100\nhangup", SN_TIMEOUT)
HANGUP_NEXT = (-4, "[GETSERIALNUMBER][-4][123]")

# A card wait that returns only once the cancel event is set, and nobody presses Cancel.
BLOCKING = ("OrvMyKadGetCardStatus", "nothing until the cancel event is set (nobody cancels)",
            "delay OrvMyKadGetCardStatus 600000", -30)

READ = "[READMYKAD][0][3][ALI BIN ABU][KL01][OPERATOR7]"
READ_OK = r"^\[READMYKAD\]\[0\]\[0\]\[[A-Za-z0-9+/=]{975}\]\[[A-Za-z0-9+/=]+\]$"
# Fast retries of the reader's version call, and two polls for a card.
READER_INI = ("[APDU]\nRETRY_WAIT_INIT=0\nRETRY_WAIT_TRY=0\nRETRY_WAIT_FW=0\nRETRY_COUNT_FW=1\n"
              "[MYKAD]\nINSERT_COUNT=2\n[CSSSERVER]\nGLOBTIMEOUT=20000\n")

# Card-reader library faults, in the order the reader thread calls the library: the stand-in's
# scenario, the code READMYKAD then answers ("[READMYKAD][code][123]"; 0 is a full MyKad
# reply). Each row's failures are used up by the first request; the next one reads the card.
READER_FAULTS = [
    # (call, what it answers, stand-in scenario, code)
    ("OrvMyKadInit", "-7 (any failure)", "result OrvMyKadInit -7", -4),
    ("OrvMyKadGetFirmwareVersion", "-15 (a card still inserted)",
     "result OrvMyKadGetFirmwareVersion -15", -1),
    ("OrvMyKadGetFirmwareVersion", "-5 twice: re-initialised, then the card wait starts",
     "result OrvMyKadGetFirmwareVersion -5 -5", 0),
    ("OrvMyKadInit (re-initialisation)", "-4 after a failed version call",
     "result OrvMyKadGetFirmwareVersion -5\nresult OrvMyKadInit 0 -4", -4),
    ("OrvMyKadGetCardStatus", "-30 (wait given up)", "result OrvMyKadGetCardStatus -30", -30),
    ("OrvMyKadGetCardStatus", "0 at both polls (no card)",
     "result OrvMyKadGetCardStatus 0 0", -30),
    ("OrvMyKadResetCard", "-12", "result OrvMyKadResetCard -12", -12),
    ("OrvMyKadReadOpenData", "-13", "result OrvMyKadReadOpenData -13", -13),
    ("OrvMyKadIsEBA", "0 (older card: other prompts only)", "eba no", 0),
    ("OrvMyKadReadPhoto", "-21", "result OrvMyKadReadPhoto -21", -21),
    ("OrvMyKadReadBio", "-22", "result OrvMyKadReadBio -22", -22),
    ("OrvMyKadSecurityLevel", "-1 (result ignored)", "result OrvMyKadSecurityLevel -1", 0),
    ("OrvMyKadVerifyFinger", "-3 three times (no match)",
     "result OrvMyKadVerifyFinger -3 -3 -3", -3),
    ("OrvMyKadVerifyFinger", "-7", "result OrvMyKadVerifyFinger -7", -7),
    ("OrvMyKadClose", "-1 (result ignored)", "result OrvMyKadClose -1", 0),
]

# Over-long input: request fields over their buffers, and terminal replies whose lengths claim
# more than the frame carries or more than any buffer holds. All in one host process, in order.
T598 = bytearray((i * 73 + 29) & 0xFF for i in range(598))  # the simulator's default template
T598[17] = 2
T598 = bytes(T598)
T1196 = T598 + bytes(T598)  # two templates, each with byte 17 = 2
NAME = "OVERLONG BANK"
SERIAL_CUT = "S" * 49  # the dispatcher's result text holds 49 characters


def _sig(count):
    return bytes((i * 7 + 1) & 0xFF for i in range(count))


OVERLONG = [
    # (input, what is too long, scenario (None: no terminal needed), request, (code, reply))
    # The card read comes first: see ROUND in test_soak.py for why, under wine.
    ("fields 4 to 6 of READMYKAD", "40 characters each (buffers 20): cut to 19", None,
     "[READMYKADNOVERIFYNOPHOTO][0][3][%s][%s][%s]" % ("A" * 40, "B" * 40, "C" * 40),
     (0, r"^\[READMYKADNOVERIFYNOPHOTO\]\[0\]\[0\]\[[A-Za-z0-9+/=]{975}\]$")),
    ("field 1", "600 characters, no keyword (buffer 500)", None,
     "[" + "X" * 600 + "]", (-1007, "[" + "X" * 499 + "][-1007][123]")),
    ("field 3 (port)", "101 characters (buffer 50): cut, then read as 7", "",
     "[GETSERIALNUMBER][0][7" + "x" * 100 + "]", (0, "[GETSERIALNUMBER][0][QT-0001][123]")),
    ("field 3 of SETDATETIME", "80 digits (buffer 50): not 12 characters, the PC's clock is used",
     "", "[SETDATETIME][7][" + "2" * 80 + "]", (0, "[SETDATETIME][0][123]")),
    ("field 4 of VERIFY", "the template and 2,000 more digits (buffer 1,200): cut to 598 bytes",
     "", "[VERIFY][0][7][" + T598.hex().upper() + "AB" * 1000 + "]", (0, "[VERIFY][0][123]")),
    ("field 4 of VERIFY2F", "two templates and 2,000 more digits (buffer 2,400)",
     "template " + T1196.hex(), "[VERIFY2F][0][7][" + T1196.hex().upper() + "CD" * 1000 + "]",
     (0, "[VERIFY2F][0][123]")),
    ("0x25 reply", "serial length 65,535, 3 bytes in the frame", "on 25\nreply 06 FF FF 41 42 43\nend",
     "[GETSERIALNUMBER][0][7]", (0, "[GETSERIALNUMBER][0][ABC][123]")),
    ("0x25 reply", "2,176 serial bytes, the longest frame the parser takes",
     "on 25\nreply 06 08 80 " + "53" * 2176 + "\nend",
     "[GETSERIALNUMBER][0][7]", (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL_CUT)),
    ("0x25 reply", "2,180 serial bytes: one block over the parser's 2,192-byte work area, dropped",
     "on 25\nreply 06 08 84 " + "53" * 2180 + "\nend",
     "[GETSERIALNUMBER][0][7]", (-30, "[GETSERIALNUMBER][-30][123]")),
    ("0x23 reply", "name length 255, 4 name bytes in the frame and no link key",
     "on 23\nreply 06 FF 4E 41 4D 45\nend", "[GETFIRMWAREVERSION][0][7]",
     (0, "[GETFIRMWAREVERSION][0][NAME][123]")),
    ("0xF3 reply", "2,170 signature bytes (fits the frame and the 5,000-byte area)",
     "signature " + _sig(2170).hex(), "[GETSIGNATURE][0][7]",
     (0, "[GETSIGNATURE][0][%s][123]" % _sig(2170).hex().upper())),
    ("0xF3 reply", "6,000 signature bytes (beyond 5,000): the frame is dropped by the parser",
     "signature " + _sig(6000).hex(), "[GETSIGNATURE][0][7]",
     (-30, "[GETSIGNATURE][-30][123]")),
    ("0x51 enrolment reply", "template length 65,535, 20 template bytes in the frame",
     "on 27\nframe 51 00 00 00 00 00 06 FF FF " + "11" * 20 + "\nend", "[ENROLL][0][7]",
     (0, "[ENROLL][0][%s][123]" % ("11" * 20 + "00" * 578))),
]


def markdown():
    lines = ["| fault on the serial line | what the host gets |", "|---|---|"]
    for name, what, _, (code, reply) in TERMINAL_FAULTS + [HANGUP]:
        lines.append("| %s: %s | %d, `%s` |" % (name, what, code, reply))
    lines.append("| the next request on the vanished port | %d, `%s`; once a terminal is back: "
                 "0 |" % HANGUP_NEXT)
    lines += ["", "| card-reader library call | answers | READMYKAD gives |", "|---|---|---|"]
    for call, what, _, code in READER_FAULTS + [BLOCKING]:
        lines.append("| `%s` | %s | %s |" % (call, what, "0, the card's reply" if code == 0 else
                                             "%d, `[READMYKAD][%d][123]`" % (code, code)))
    lines += ["", "| input | too long how | what the host gets |", "|---|---|---|"]
    for field, what, _, _, (code, reply) in OVERLONG:
        if reply.startswith("^"):
            shown = "the card's reply"
        elif len(reply) <= 60:
            shown = "`%s`" % reply
        else:
            shown = "`%s…%s` (%d characters)" % (reply[:30], reply[-10:], len(reply))
        lines.append("| %s | %s | %d, %s |" % (field, what, code, shown))
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    print(markdown(), end="")
