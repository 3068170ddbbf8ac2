"""The stand-in OrvMyKad.dll calls the message callback handed to OrvMyKadVerifyFinger as the
card maker's library does, as a cdecl function whose argument the caller removes, and writes to
its call record a callback that removed the argument itself (a stdcall one): in the real library
that corrupts its frame. Only 32-bit x86 has the two conventions, so only there is a line due."""
import os
import shutil

import winerig

VERIFY = "OrvMyKadVerifyFinger DUV prompts 160,163 -> 0"


class StandinConvention(winerig.WineTestCase):
    def test_callback_that_removes_its_own_argument_is_recorded_where_conventions_differ(self):
        for name in ("OrvMyKad.dll", "quillon_standin_convention_probe.exe"):
            shutil.copy(os.path.join(self.wine.build, name), self.workdir)
        record = os.path.join(self.workdir, "calls.txt")
        r = self.wine.run("quillon_standin_convention_probe.exe", [], cwd=self.workdir,
                          env={"QUILLON_ORVMYKAD_RECORD": record})
        # The stand-in puts the stack back, so both calls end normally.
        self.assertEqual((r.returncode, r.stdout), (0, "cdecl: 0, 160 163\nstdcall: 0, 160 163\n"))
        calls = winerig.record_lines(record)
        wrong = ["prompt routine %d moved the stack by 4 bytes: not a cdecl function" % code
                 for code in (160, 163)] if self.wine.arch == "win32" else []
        self.assertEqual(calls, [VERIFY] + wrong + [VERIFY])


if __name__ == "__main__":
    winerig.main()
