"""The reader's time-out under pressure in one host process with the stand-in OrvMyKad.dll: every
MyKad call returns within the time-out + GRACE + the dialog's end wait, whatever the library does
(rows in fault_tables.py)."""
import os
import subprocess
import sys
import time

import fault_tables as ft
import winerig

GRACE = 5.0  # the reader thread's grace after the time-out (kReaderGraceMs)
BOUND = 1.0 + GRACE + 1.0 + 1.5  # a time-out of at most 1 s, the end wait, wine and busy cores


class ReaderTimeOuts(winerig.WineTestCase):
    def timed(self, process, request, expected):  # checks the answer; returns the seconds taken
        start = time.monotonic()
        self.assertEqual(process.send(request, timeout=60), expected, request)
        return time.monotonic() - start

    def test_hammer_fifty_time_outs_at_once_with_every_call_slow_and_the_cores_busy(self):
        process = self.reader(ft.HAMMER[2], ft.READER_INI % 1)
        for _ in range(os.cpu_count() or 2):
            hog = subprocess.Popen([sys.executable, "-c", "while True: pass"])
            self.addCleanup(hog.wait)
            self.addCleanup(hog.kill)
        for n in range(50):
            self.assertLess(self.timed(process, ft.READ, ft.HAMMER[3]), BOUND, "call %d" % n)
            if n == 0:
                baseline = process.counts()  # the library, fonts and sockets exist from here on
        self.assertEqual(process.counts(), baseline)
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)

    def test_a_call_that_outlasts_the_grace_is_left_behind_and_reads_wait_until_it_is_back(self):
        process = self.reader(ft.LEFT_BEHIND[2], ft.READER_INI % 1000)
        self.assertEqual(process.send(ft.READ_NO_PHOTO, 60)[0], 0)  # no photo: not held
        baseline = process.counts()
        took = self.timed(process, ft.READ, ft.LEFT_BEHIND[3])
        self.assertTrue(1.0 + GRACE <= took < BOUND, took)
        # Still inside the photo call (7 s): the reader is not entered twice; others work.
        self.assertLess(self.timed(process, ft.READ_NO_PHOTO, ft.LEFT_BEHIND_NEXT[1]), 2.0)
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)
        time.sleep(2.0)  # the photo call is back; its thread ends on its own
        self.assertRegex(process.send(ft.READ, 60)[1], ft.READ_OK)
        self.assertEqual(process.counts(), baseline)

    def test_a_call_that_never_returns_leaves_the_host_free_to_work_and_to_quit(self):
        process = self.reader(ft.NEVER_RETURNS[2], ft.READER_INI % 1000)
        self.assertEqual(process.send(ft.READ_NO_PHOTO, 60)[0], 0)  # no photo: not held
        baseline = process.counts()
        self.assertLess(self.timed(process, ft.READ, ft.NEVER_RETURNS[3]), BOUND)
        self.assertEqual(process.send(ft.READ)[0], ft.LEFT_BEHIND_NEXT[1][0])
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], ft.BRANCH_OK)
        # One thread outlives its call; the one more handle is wine's, held while that thread,
        # which sent messages to another thread's window, lives.
        self.assertEqual(process.counts(), (baseline[0] + 1, baseline[1] + 1))
        process.proc.communicate(b"quit\n", timeout=30)  # with a thread inside the library
        self.assertEqual(process.proc.returncode, 0)


if __name__ == "__main__":
    winerig.main()
