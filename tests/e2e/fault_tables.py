"""The faults the e2e tests play and what each gives; `python3 fault_tables.py` prints the same
rows for docs/reliability.md."""

SERIAL = "SN-FAULT-01"
GETSN = "[GETSERIALNUMBER][0][7]"
SN_OK = (0, "[GETSERIALNUMBER][0][%s][123]" % SERIAL)
SN_TIMEOUT = (-30, "[GETSERIALNUMBER][-30][123]")
BRANCH_OK = r"^\[GETBRANCHCODE\]\[1\]"  # the reply to a request that needs no device

# (name, what the line does, the simulator's steps instead of the serial-number answer, result)
TERMINAL_FAULTS = [
    ("silence", "the terminal never answers", "silence", SN_TIMEOUT),
    ("frame cut in the middle", "the first 9 bytes of the answer, never the rest",
     "cut 9\ndefault", SN_TIMEOUT),
]
HANGUP = ("pty closed by the far end", "the line goes away after the query arrived",
          "delay 100\nhangup", SN_TIMEOUT)
HANGUP_NEXT = (-4, "[GETSERIALNUMBER][-4][123]")

READ = "[READMYKAD][0][3][PELANGGAN CONTOH][KL01][OPERATOR7]"
READ_OK = r"^\[READMYKAD\]\[0\]\[0\]\[[A-Za-z0-9+/=]{975}\]\[[A-Za-z0-9+/=]+\]$"
READER_INI = ("[APDU]\nRETRY_WAIT_INIT=0\nRETRY_WAIT_TRY=0\nRETRY_WAIT_FW=0\nRETRY_COUNT_FW=1\n"
              "[MYKAD]\nINSERT_COUNT=2\n[CSSSERVER]\nGLOBTIMEOUT=%d\n")
# (call, what it answers, stand-in scenario, code of "[READMYKAD][code][123]"), in the reader
# thread's order: one scenario in one process, each read uses up one row's failures.
READER_FAULTS = [(call, what, "result %s %s" % (call, results), code)
                 for call, what, results, code in [
    ("OrvMyKadInit", "-7 (any failure)", "-7", -4),
    ("OrvMyKadGetFirmwareVersion", "-15 (a card still inserted)", "-15", -1),
    ("OrvMyKadGetCardStatus", "0 at both polls (no card)", "0 0", -30),
    ("OrvMyKadReadPhoto", "-21", "-21", -21),
    ("OrvMyKadVerifyFinger", "-3 three times (no match)", "-3 -3 -3", -3)]]
BLOCKING = ("OrvMyKadGetCardStatus", "nothing until the cancel event is set (nobody cancels): at its "
            "budget, its 2 s time-out and 5 s, the dialog sets the event",
            "delay OrvMyKadGetCardStatus 600000", -30)

# (input, what is too long, scenario (None: no terminal), request, (code, reply))
OVERLONG = [
    ("field 1", "600 characters, no keyword (buffer 500)", None,
     "[" + "X" * 600 + "]", (-1007, "[" + "X" * 499 + "][-1007][123]")),
    ("0x25 reply", "2,176 serial bytes, the longest frame the parser takes",
     "on 25\nreply 06 08 80 " + "53" * 2176 + "\nend", GETSN,
     (0, "[GETSERIALNUMBER][0][%s][123]" % ("S" * 49))),  # the dispatcher's text holds 49
]

# The reader against a slow or stuck library: (name, what, stand-in scenario, result). A read
# that makes progress is never cut; only a call past its budget is given up.
READ_NO_PHOTO = "[READMYKADNOVERIFYNOPHOTO]" + READ[len("[READMYKAD]"):]
READ_NO_PHOTO_OK = r"^\[READMYKADNOVERIFYNOPHOTO\]\[0\]\[0\]\[[A-Za-z0-9+/=]+\]$"
READ_TIMEOUT = (-30, "[READMYKAD][-30][123]")
# The version call's own time-out of 1 ms makes its budget 5 s.
READER_INI_SHORT_VERSION = READER_INI.replace("[APDU]\n", "[APDU]\nV_TIMEOUT=1\n")
SLOW_HEALTHY = ("time-out 2 s, every library call 1.5 s",
                "READMYKADNOVERIFYNOPHOTO: seven calls in 10.5 s, each well within its budget, so "
                "the read runs on past the time-out",
                "\n".join("delay OrvMyKad%s 1500" % f for f in (
                    "Init", "GetFirmwareVersion", "GetCardStatus", "ResetCard", "ReadOpenData",
                    "IsEBA", "Close")),
                (0, "`[READMYKADNOVERIFYNOPHOTO][0][0][...]`, the whole record"))
LEFT_BEHIND = ("version time-out 1 ms, `OrvMyKadGetFirmwareVersion` takes 9 s",
               "it ignores the cancel event: past its budget (5 s) and the grace (2 s) the read "
               "is given up", "delay OrvMyKadGetFirmwareVersion 0 9000 0", READ_TIMEOUT)
LEFT_BEHIND_NEXT = ("the next MyKad read while that version call still runs",
                    (-1008, "[READMYKADNOVERIFYNOPHOTO][-1008][123]"))
NEVER_RETURNS = ("version time-out 1 ms, `OrvMyKadGetFirmwareVersion` never returns (10 minutes)",
                 "the host gets its answer, the next read -1008, GETBRANCHCODE works, the host "
                 "can quit", "delay OrvMyKadGetFirmwareVersion 0 600000", READ_TIMEOUT)

# None beside quillon.dll or in the system folder: (where a stand-in is planted, how, READ gives).
PLANTED = [
    ("working directory", "`OrvMyKad.dll` only in the host's working directory",
     (-4, "[READMYKAD][-4][123]")),
    ("PATH", "`OrvMyKad.dll` only in a folder on PATH", (-4, "[READMYKAD][-4][123]")),
]
# (access code, what, result): the reply buffer is the host's zeroed one and stays empty.
WRONG_ACCESS = [("qln26", "lower case", (-9999, "")), ("QLN2", "four bytes and a NUL", (-9999, ""))]


def shown(reply):
    return "`%s`" % reply if len(reply) <= 60 else "`%s…%s` (%d characters)" % (
        reply[:30], reply[-10:], len(reply))


def markdown_rows():  # every row of the page's tables, in its order
    return (["| %s: %s | %d, `%s` |" % (name, what, code, reply)
             for name, what, _, (code, reply) in TERMINAL_FAULTS + [HANGUP]] +
            ["| the next request on the vanished port | %d, `%s`; once a terminal is back: 0 |"
             % HANGUP_NEXT] +
            ["| `%s` | %s | %d, `[READMYKAD][%d][123]` |" % (call, what, code, code)
             for call, what, _, code in READER_FAULTS + [BLOCKING]] +
            ["| %s | %s | %d, %s |" % (field, what, code, shown(reply))
             for field, what, _, _, (code, reply) in OVERLONG] +
            ["| %s: %s | %d, %s |" % (SLOW_HEALTHY[:2] + SLOW_HEALTHY[3])] +
            ["| %s: %s | %d, `%s` |" % (name, what, code, reply)
             for name, what, _, (code, reply) in (LEFT_BEHIND, NEVER_RETURNS)] +
            ["| %s | %d, `%s`; once the call has come back: 0 |"
             % ((LEFT_BEHIND_NEXT[0],) + LEFT_BEHIND_NEXT[1])] +
            ["| %s; the planted library is never loaded, its code never runs | %d, `%s` |"
             % (what, code, reply) for _, what, (code, reply) in PLANTED] +
            ["| wrong access code (%s), `OrvMyKad.dll` beside quillon.dll | %d, reply buffer "
             "untouched; the reader library stays unloaded |" % (what, code)
             for _, what, (code, _) in WRONG_ACCESS])


if __name__ == "__main__":
    print("\n".join(markdown_rows()))
