"""The fault matrix end to end under wine64: a serial line that misbehaves in one way per row,
played by the terminal simulator, and a card-reader library that fails at each of its calls,
played by the stand-in OrvMyKad.dll. Every row asserts the result code and the reply, and that
the next request in the same host process works normally."""
import os
import time
import unittest

import batchrig
import fault_tables as ft
import winerig

INI = "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=%d\n"


class TerminalFaults(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host.write_ini(INI % 2000)
        self.batch = batchrig.Batch(self.wine, self.workdir, reader=False)
        self.addCleanup(self.batch.close)

    def test_each_line_fault_gives_its_code_and_the_next_request_works(self):
        for name, _, steps, expected in ft.TERMINAL_FAULTS:
            with self.subTest(fault=name):
                # Rows that end in an answer get a long step time-out: the port reads one byte at
                # a time (about half a millisecond each under wine), so 4,000 stray bytes or a
                # storm of 13,000 take seconds, and the step time-out is not renewed by them.
                self.host.write_ini(INI % (2000 if expected == ft.SN_TIMEOUT else 20000))
                terminal = self.start_terminal("serial %s\non 25\n%s\nend\n" % (ft.SERIAL, steps))
                start = time.monotonic()
                self.assertEqual(self.batch.send(ft.GETSN), expected)
                self.assertLess(time.monotonic() - start, 15)
                self.assertEqual(self.batch.send(ft.GETSN), ft.SN_OK, "the next request")
                self.assertEqual(len(terminal.frames()), 4)
                terminal.stop()

    def test_line_closed_by_the_far_end_mid_operation(self):
        _, _, steps, expected = ft.HANGUP
        self.start_terminal("serial %s\non 25\n%s\nend\n" % (ft.SERIAL, steps))
        self.assertEqual(self.batch.send(ft.GETSN), expected)
        # The port is gone: the next request cannot open it. Once a terminal is back on the
        # port, requests work again in the same process.
        self.assertEqual(self.batch.send(ft.GETSN), ft.HANGUP_NEXT)
        self.start_terminal("serial %s\n" % ft.SERIAL)
        self.assertEqual(self.batch.send(ft.GETSN), ft.SN_OK)


class ReaderFaults(winerig.WineTestCase):
    def reader(self, scenario, ini=ft.READER_INI):
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write(scenario + "\n")
        self.host.write_ini(ini)
        batch = batchrig.Batch(self.wine, self.workdir,
                               env={"QUILLON_ORVMYKAD_SCENARIO": "reader.txt"})
        self.addCleanup(batch.close)
        return batch

    def assertRead(self, result, code):
        if code == 0:
            self.assertEqual(result[0], 0)
            self.assertRegex(result[1], ft.READ_OK)
        else:
            self.assertEqual(result, (code, "[READMYKAD][%d][123]" % code))

    def test_each_failing_library_call_gives_its_code_and_the_next_read_works(self):
        for call, what, scenario, code in ft.READER_FAULTS:
            with self.subTest(call=call, answers=what):
                batch = self.reader(scenario)
                self.assertRead(batch.send(ft.READ, timeout=60), code)
                self.assertRead(batch.send(ft.READ, timeout=60), 0)
                batch.close()

    def test_card_wait_that_blocks_until_cancel_is_ended_by_the_time_out(self):
        # The library gives up its card wait only when the cancel event is set. Nobody presses
        # Cancel: the operation's own time-out must end the wait, not leave the host hanging.
        _, _, scenario, code = ft.BLOCKING
        batch = self.reader(scenario,
                            ft.READER_INI.replace("GLOBTIMEOUT=20000", "GLOBTIMEOUT=2000"))
        start = time.monotonic()
        self.assertRead(batch.send(ft.READ, timeout=60), code)
        self.assertLess(time.monotonic() - start, 10)
        # The process goes on answering (the reader itself still blocks in this scenario).
        code, reply = batch.send("[GETBRANCHCODE]")
        self.assertEqual(code, 0)
        self.assertRegex(reply, r"^\[GETBRANCHCODE\]\[1\]\[EMPTY\]\[EMPTY\]\[[0-9.]+\]\[123\]$")


class MixedProcess(winerig.WineTestCase):
    def test_card_read_after_a_terminal_command_in_the_same_process(self):
        # A counter enrols on the terminal, then reads a MyKad, in one host process: the reader
        # library must be usable after the terminal's threads have come and gone.
        self.host.write_ini(ft.READER_INI + "[APDU]\nDELAY_AFTER_FIRSTCALL=0\n")
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write("\n")
        self.start_terminal("serial %s\n" % ft.SERIAL)
        batch = batchrig.Batch(self.wine, self.workdir,
                               env={"QUILLON_ORVMYKAD_SCENARIO": "reader.txt"})
        self.addCleanup(batch.close)
        self.assertEqual(batch.send(ft.GETSN), ft.SN_OK)
        code, reply = batch.send(ft.READ, timeout=60)
        self.assertEqual(code, 0)
        self.assertRegex(reply, ft.READ_OK)


class ReliabilityPage(unittest.TestCase):
    def test_docs_page_lists_every_row_the_tests_play(self):
        page = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                            "reliability.md")
        with open(page, encoding="utf-8") as f:
            self.assertIn(ft.markdown(), f.read(),
                          "docs/reliability.md is out of date: python3 tests/e2e/fault_tables.py")


if __name__ == "__main__":
    winerig.main()
