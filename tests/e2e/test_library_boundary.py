"""The library's edge under wine64: where quillon.dll looks for the card-reader library (only
beside itself, then the system folder; never the host's working directory or PATH), a call with a
wrong access code that sets nothing off, not even the reader library's start-up code, and the
MyKad record's host lookup, which shuts the sockets interface down after it. quillon_batch.exe
reports what the process holds: loaded modules, the system's own DLL search, the sockets
interface's start count."""
import os
import shutil
import tempfile

import fault_tables as ft
import winerig

READER = "OrvMyKad.dll"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class LibraryBoundary(winerig.WineTestCase):
    def setUp(self):
        super().setUp()
        self.record = os.path.join(self.workdir, "calls.txt")

    def folder(self, reader=False):
        """A fresh folder holding the settings, and the stand-in reader library if asked."""
        folder = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        winerig.write_ini(folder, ft.READER_INI % 20000)
        if reader:
            shutil.copy(os.path.join(self.wine.build, READER), folder)
        return folder

    def process(self, cwd, reader=False, env=None):
        """quillon.dll and the host program in self.workdir, the process working in cwd."""
        return self.batch(reader=reader, cwd=cwd,
                          env=dict(QUILLON_ORVMYKAD_RECORD=self.record, **(env or {})))

    def calls(self):
        return winerig.record_lines(self.record)

    def test_reader_library_planted_where_the_system_search_looks_is_never_loaded(self):
        for where, _, expected in ft.PLANTED:
            with self.subTest(planted=where):
                planted = self.folder(reader=True)
                if where == "PATH":
                    process = self.process(self.folder(), env={"WINEPATH": windows_path(planted)})
                else:
                    process = self.process(planted)
                # The system's own search would find the planted file: the test means something.
                self.assertEqual(process.ask("search " + READER).lower(),
                                 "search: " + windows_path(os.path.join(planted, READER)).lower())
                self.assertEqual(process.send(ft.READ), expected)
                self.assertEqual(process.ask("loaded " + READER), "loaded: 0")
                self.assertEqual(self.calls(), [], "the planted library's code never ran")
                process.close()

    def test_reader_library_is_taken_from_beside_quillon_dll_else_from_the_system_folder(self):
        system = os.path.join(self.wine.prefix, "drive_c", "windows", "system32", READER)
        for where in ("system folder", "beside quillon.dll"):
            with self.subTest(found=where):
                if where == "system folder":
                    shutil.copy(os.path.join(self.wine.build, READER), system)
                process = self.process(self.folder(), reader=where != "system folder")
                try:
                    code, reply = process.send(ft.READ, 60)
                    loaded = process.ask("loaded " + READER)
                finally:
                    process.close()
                    if os.path.exists(system):
                        os.unlink(system)  # the prefix serves the other tests too
                self.assertEqual(code, 0)
                self.assertRegex(reply, ft.READ_OK)
                self.assertEqual(loaded, "loaded: 1")
                self.assertEqual(self.calls()[0], "OrvMyKadInit 3 -> 0")
                os.unlink(self.record)

    def test_call_with_a_wrong_access_code_loads_nothing(self):
        process = self.process(self.workdir, reader=True)
        for access, what, (code, reply) in ft.WRONG_ACCESS:
            with self.subTest(access=what):
                self.assertEqual(process.ask("access %s\t%s" % (access, ft.READ)),
                                 "result: %d\treply: %s" % (code, reply))
                self.assertEqual(process.ask("loaded " + READER), "loaded: 0")
        # The first call past the gate loads it, before its command runs any thread.
        self.assertEqual(process.send("[PING]"), (-1007, "[PING][-1007][123]"))
        self.assertEqual(process.ask("loaded " + READER), "loaded: 1")
        self.assertEqual(self.calls(), [], "no call reached the reader library")

    def test_mykad_record_lookup_shuts_the_sockets_interface_down_branch_code_keeps_it(self):
        # The first read finds no card.
        process = self.reader("result OrvMyKadGetCardStatus 0 0", ft.READER_INI % 20000)

        def started():
            return int(process.ask("sockets")[len("sockets: "):])
        before = started()
        self.assertEqual(process.send(ft.READ, 60), (-30, "[READMYKAD][-30][123]"))
        without_record = started()
        self.assertRegex(process.send(ft.READ, 60)[1], ft.READ_OK)
        with_record = started()
        # The read that forms a record (and looks the address up) leaves the interface started
        # no more often than the read that forms none: the lookup's start has its clean-up.
        self.assertEqual(with_record - without_record, without_record - before)
        self.assertRegex(process.send("[GETBRANCHCODE]")[1], r"^\[GETBRANCHCODE\]\[1\]")
        self.assertEqual(started(), with_record + 1, "GETBRANCHCODE leaves it started")


if __name__ == "__main__":
    winerig.main()
