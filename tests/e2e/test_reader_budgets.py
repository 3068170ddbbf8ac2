"""The card reader's rule in one host process with the stand-in OrvMyKad.dll: a read that makes
progress is never cut by the time-out; a library call past its budget is given up, the reader is
refused (-1008) until that call is back, and then reads again (rows in fault_tables.py)."""
import os
import time

import fault_tables as ft
import winerig

TICK, GRACE = 0.25, 2.0  # the dialog's watch tick and the grace after an overrun
VERSION_BUDGET = 5.0 + TICK  # a 1 ms version time-out and the 5 s margin, to the next tick
SLACK = 3.0  # wine, the host's start of the dialog, the thread's last steps


class ReaderBudgets(winerig.WineTestCase):
    def timed(self, process, request):  # the answer and the seconds it took
        start = time.monotonic()
        answer = process.send(request, timeout=120)
        return answer, time.monotonic() - start

    def test_a_slow_but_healthy_read_runs_past_the_time_out_to_its_whole_record(self):
        process = self.reader(ft.SLOW_HEALTHY[2], ft.READER_INI % 2000)
        (code, reply), took = self.timed(process, ft.READ_NO_PHOTO)
        self.assertEqual(code, ft.SLOW_HEALTHY[3][0], reply)
        self.assertRegex(reply, ft.READ_NO_PHOTO_OK)
        self.assertGreaterEqual(took, 7 * 1.5)

    def test_a_call_past_its_budget_is_given_up_and_no_call_follows_it(self):
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write(ft.LEFT_BEHIND[2] + "\n")
        self.host.write_ini(ft.READER_INI_SHORT_VERSION % 60000)
        process = self.batch(env={"QUILLON_ORVMYKAD_SCENARIO": "reader.txt",
                                  "QUILLON_ORVMYKAD_RECORD": "calls.txt"})
        self.assertEqual(process.send(ft.READ_NO_PHOTO, 60)[0], 0)  # the version call is quick
        baseline = process.counts()
        handles_of_first_throw = 1
        answer, took = self.timed(process, ft.READ)
        self.assertEqual(answer, ft.LEFT_BEHIND[3])
        self.assertTrue(VERSION_BUDGET + GRACE <= took < VERSION_BUDGET + GRACE + SLACK, took)
        # Still inside the version call (9 s): the reader is not entered twice; others work.
        self.assertEqual(process.send(ft.READ_NO_PHOTO), ft.LEFT_BEHIND_NEXT[1])
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)
        time.sleep(9.0 + 1.0 - took)  # the call is back; its thread ends without another call
        self.assertRegex(process.send(ft.READ, 60)[1], ft.READ_OK)
        # The thread is gone. The stopped thread's exception made the process's first C++ throw,
        # which leaves the runtime one handle for good (a second such cycle adds none).
        threads, handles = process.counts()
        self.assertEqual((threads, handles - handles_of_first_throw), baseline)
        with open(os.path.join(self.workdir, "calls.txt")) as f:
            calls = [line.split()[0] for line in f]
        given_up = calls.index("OrvMyKadGetFirmwareVersion", calls.index("OrvMyKadClose"))
        self.assertEqual(calls[given_up + 1], "OrvMyKadInit", calls)  # the next read's first

    def test_a_card_wait_that_blocks_until_cancel_is_cancelled_at_its_budget(self):
        process = self.reader(ft.BLOCKING[2], ft.READER_INI % 2000)
        answer, took = self.timed(process, ft.READ)
        self.assertEqual(answer, (-30, "[READMYKAD][-30][123]"))
        self.assertTrue(2.0 + 5.0 <= took < 2.0 + 5.0 + TICK + SLACK, took)
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)

    def test_a_call_that_never_returns_leaves_the_host_free_to_work_and_to_quit(self):
        process = self.reader(ft.NEVER_RETURNS[2], ft.READER_INI_SHORT_VERSION % 60000)
        self.assertEqual(process.send(ft.READ_NO_PHOTO, 60)[0], 0)
        baseline = process.counts()
        answer, took = self.timed(process, ft.READ)
        self.assertEqual(answer, ft.NEVER_RETURNS[3])
        self.assertLess(took, VERSION_BUDGET + GRACE + SLACK)
        self.assertEqual(process.send(ft.READ)[0], ft.LEFT_BEHIND_NEXT[1][0])
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)
        # One thread outlives its call; the one more handle is wine's, held while that thread,
        # which sent messages to another thread's window, lives.
        self.assertEqual(process.counts(), (baseline[0] + 1, baseline[1] + 1))
        process.proc.communicate(b"quit\n", timeout=30)  # with a thread inside the library
        self.assertEqual(process.proc.returncode, 0)


if __name__ == "__main__":
    winerig.main()
