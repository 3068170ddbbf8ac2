"""The rows of fault_tables.py and a line that stops taking bytes, in one host process each, every
fault followed by a request that works; the serial port driven directly; and the library's edge:
where quillon.dll finds the card-reader library, a wrong access code that starts nothing, and the
record's host lookup, which shuts the sockets interface down after it."""
import os
import shutil
import tempfile
import time
import unittest

import fault_tables as ft
import winerig
from test_commands import BOTH  # two templates
from winerig import recorded, windows_path

READER = "OrvMyKad.dll"
STEP_MS = 2000
# The documented bound with a status query first: 2 step limits + 1 s + 2 close deadlines (10 s).
BOUND_S = 2 * STEP_MS / 1000 + 1 + 2 * 10
SLACK_S = 5.0  # a port close and a dialog that do not wait behind the write, on a busy machine


# The line stops taking bytes (the simulator suspends its pty's output, so the overlapped write
# stays pending): (request, when, the frames the terminal gets, (code, the dialogs' waits: the
# step and the "Timeout" second, or the 2 s the unawaited clock frame gets)). The two-template
# frame's 1,200 bytes once took hours.
AFTER_STATUS = "on 23\ndefault\nhold\nend\n"
TIMED_OUT = (-30, STEP_MS / 1000 + 1)
STALLED = [
    ("[GETSERIALNUMBER][0][7]", "held\n", [], TIMED_OUT),
    ("[ENROLL][0][7]", AFTER_STATUS, [recorded(0x23, key_flag=1)], TIMED_OUT),
    ("[VERIFY2F][0][7][%s]" % BOTH.hex().upper(), AFTER_STATUS,
     [recorded(0x23, key_flag=1)], TIMED_OUT),
    ("[SETDATETIME][7][261206101500]", "held\n", [], (0, 2)),
]


class TerminalFaults(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=%d\n" % STEP_MS)
        self.process = self.batch(reader=False)

    def terminal(self, steps):  # `steps` instead of the first serial-number answer
        return self.start_terminal("serial %s\non 25\n%s\nend\n" % (ft.SERIAL, steps))

    def test_each_line_fault_gives_its_code_and_the_next_request_works(self):
        for name, _, steps, expected in ft.TERMINAL_FAULTS:
            with self.subTest(fault=name):
                terminal, start = self.terminal(steps), time.monotonic()
                self.assertEqual(self.process.send(ft.GETSN), expected)
                took = time.monotonic() - start  # the 2 s step, then "Timeout" shown for 1 s
                self.assertTrue(3.0 <= took < 6.0, took)
                self.assertEqual(self.process.send(ft.GETSN), ft.SN_OK, "the next request")
                self.assertEqual(len(terminal.frames()), 4)
                terminal.stop()

    def test_line_closed_by_the_far_end_then_a_missing_port_then_a_terminal_again(self):
        self.terminal(ft.HANGUP[2])
        self.assertEqual([self.process.send(ft.GETSN) for _ in range(2)],
                         [ft.HANGUP[3], ft.HANGUP_NEXT])
        self.start_terminal("serial %s\n" % ft.SERIAL)
        self.assertEqual(self.process.send(ft.GETSN), ft.SN_OK)

    def test_each_command_on_a_stalled_line_ends_at_its_step_limit_and_the_next_works(self):
        terminal = self.start_terminal("serial %s\n" % ft.SERIAL)
        self.assertEqual(self.process.send(ft.GETSN), ft.SN_OK)
        baseline = self.process.counts()
        for request, scenario, frames, (code, waits) in STALLED:
            command = request[1:request.index("]")]
            with self.subTest(command=command):
                terminal.stop()
                terminal = self.start_terminal("serial %s\n%s" % (ft.SERIAL, scenario))
                start = time.monotonic()
                got = self.process.send(request, timeout=BOUND_S + 30)
                took = time.monotonic() - start
                self.assertEqual((got, terminal.frames()),
                                 ((code, "[%s][%d][123]" % (command, code)), frames))
                self.assertLess(took, min(BOUND_S, waits + SLACK_S), "the close waited")
                terminal.stop()
                terminal = self.start_terminal("serial %s\n" % ft.SERIAL)
                self.assertEqual(self.process.send(ft.GETSN), ft.SN_OK, "the next call")
        self.assertEqual(self.process.counts(), baseline, "threads and handles after the stalls")

    def test_call_while_another_runs_gets_minus_1008_and_over_long_input_is_bounded(self):
        # The second call comes from another thread while the first waits for a silent terminal.
        silent = self.terminal("silence")
        answer = self.process.ask("busy %s\t[GETBRANCHCODE]" % ft.GETSN)
        self.assertEqual(answer.split("\t"), ["result: -1008", "reply: [GETBRANCHCODE][-1008][123]",
                                              "result: -30", "reply: " + ft.SN_TIMEOUT[1]])
        silent.stop()
        # A guard left set would answer the rows below -1008; the step fits the longest reply.
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=10000\n")
        for field, what, scenario, request, expected in ft.OVERLONG:
            with self.subTest(input=field, what=what):
                if scenario is not None:
                    self.start_terminal(scenario + "\n")
                self.assertEqual(self.process.send(request), expected)


class ReaderFaults(winerig.WineTestCase):
    def test_each_failing_library_call_gives_its_code_and_the_next_read_works(self):
        process = self.reader("\n".join(row[2] for row in ft.READER_FAULTS), ft.READER_INI % 20000)
        for call, what, _, code in ft.READER_FAULTS:
            with self.subTest(call=call, answers=what):
                self.assertEqual(process.send(ft.READ, 60), (code, "[READMYKAD][%d][123]" % code))
        self.assertRegex(process.send(ft.READ, 60)[1], ft.READ_OK)


class ComPort(winerig.WineTestCase):
    def test_port_behaviours_that_only_a_real_port_shows(self):
        terminal = self.start_terminal("serial SN-0042\n", port=7)
        r = self.wine.run(os.path.join(self.wine.build, "quillon_comport_probe.exe"), ["7", "42"],
                          cwd=self.workdir, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertRegex(r.stdout, r"(?m)^[1-9]\d* passed, 0 failed$")
        # Purge: two frames; stuck close: two (one after reopening); close serving its window: one.
        self.assertEqual(terminal.frames(), [recorded(0x25), recorded(0x99)] + [recorded(0x25)] * 3)


class LibraryBoundary(winerig.WineTestCase):
    def process(self, reader=False, planted=None):
        """A batch host in self.workdir (the stand-in beside it if `reader`) working in a fresh
        folder, the stand-in planted there or on PATH: (process, the planted one's folder)."""
        folder = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        winerig.write_ini(folder, ft.READER_INI % 20000)
        where = tempfile.mkdtemp(dir=folder) if planted == "PATH" else folder
        env = {"WINEPATH": windows_path(where)} if planted == "PATH" else {}
        if planted:
            shutil.copy(os.path.join(self.wine.build, READER), where)
        self.record = os.path.join(self.workdir, "calls.txt")
        return self.batch(reader=reader, cwd=folder,
                          env=dict(QUILLON_ORVMYKAD_RECORD=self.record, **env)), where

    def test_reader_library_planted_where_the_system_search_looks_is_never_loaded(self):
        for where, _, expected in ft.PLANTED:
            with self.subTest(planted=where):
                process, planted = self.process(planted=where)
                # The system's own search would find it: the test means something.
                self.assertEqual(process.ask("search " + READER).lower(),
                                 "search: " + windows_path(os.path.join(planted, READER)).lower())
                self.assertEqual(process.send(ft.READ), expected)
                self.assertEqual(process.ask("loaded " + READER), "loaded: 0")
                self.assertEqual(winerig.record_lines(self.record), [], "its code never ran")
                self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK, "the rest works")
                process.close()

    def test_reader_library_is_taken_from_the_system_folder_when_none_is_beside(self):
        system = os.path.join(self.wine.prefix, "drive_c", "windows", "system32", READER)
        shutil.copy(os.path.join(self.wine.build, READER), system)
        self.addCleanup(os.unlink, system)  # the prefix serves the other tests too
        process, _ = self.process()
        code, reply = process.send(ft.READ, 60)
        self.assertEqual((code, process.ask("loaded " + READER)), (0, "loaded: 1"))
        self.assertRegex(reply, ft.READ_OK)
        self.assertEqual(winerig.record_lines(self.record)[0], "OrvMyKadInit 3 -> 0")

    def test_call_with_a_wrong_access_code_loads_nothing(self):
        process, _ = self.process(reader=True)
        for access, what, (code, reply) in ft.WRONG_ACCESS:
            with self.subTest(access=what):
                self.assertEqual(process.ask("access %s\t%s" % (access, ft.READ)),
                                 "result: %d\treply: %s" % (code, reply))
                self.assertEqual(process.ask("loaded " + READER), "loaded: 0")
        # The first call past the gate loads it, before its command runs any thread.
        self.assertEqual(process.send("[PING]"), (-1007, "[PING][-1007][123]"))
        self.assertEqual(process.ask("loaded " + READER), "loaded: 1")
        self.assertEqual(winerig.record_lines(self.record), [], "no call reached the library")

    def test_mykad_record_lookup_shuts_the_sockets_interface_down_branch_code_keeps_it(self):
        # A read that finds no card forms no record; one that does looks the address up; the
        # lookup's start must have its clean-up, while GETBRANCHCODE leaves one start behind.
        process = self.reader("result OrvMyKadGetCardStatus 0 0", ft.READER_INI % 20000)
        counts = [int(process.ask("sockets")[len("sockets: "):])]
        self.assertEqual(process.send(ft.READ, 60), (-30, "[READMYKAD][-30][123]"))
        counts.append(int(process.ask("sockets")[len("sockets: "):]))
        for request, reply in ((ft.READ, ft.READ_OK), ("[GETBRANCHCODE]", ft.BRANCH_OK)):
            self.assertRegex(process.send(request, 60)[1], reply)
            counts.append(int(process.ask("sockets")[len("sockets: "):]))
        no_record, record, branch = [b - a for a, b in zip(counts, counts[1:])]
        self.assertEqual((record, branch), (no_record, 1))



class ReliabilityPage(unittest.TestCase):
    def test_docs_page_lists_every_row_the_tests_play(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "docs", "reliability.md"),
                  encoding="utf-8") as f:
            page = f.read()
        self.assertEqual([row for row in ft.markdown_rows() if row not in page], [],
                         "docs/reliability.md is out of date: python3 tests/e2e/fault_tables.py")


if __name__ == "__main__":
    winerig.main()
