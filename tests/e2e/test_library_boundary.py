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
    def process(self, reader=False, cwd_reader=False, env=None):
        """quillon.dll and the host program in self.workdir, the stand-in beside them if
        `reader`, the process working in a fresh folder holding the settings (and the stand-in
        if `cwd_reader`). Returns the process and its folder."""
        folder = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        winerig.write_ini(folder, ft.READER_INI % 20000)
        if cwd_reader:
            shutil.copy(os.path.join(self.wine.build, READER), folder)
        self.record = os.path.join(self.workdir, "calls.txt")
        return self.batch(reader=reader, cwd=folder,
                          env=dict(QUILLON_ORVMYKAD_RECORD=self.record, **(env or {}))), folder

    def test_reader_library_planted_where_the_system_search_looks_is_never_loaded(self):
        for where, _, expected in ft.PLANTED:
            with self.subTest(planted=where):
                if where == "PATH":
                    _, planted = self.process(cwd_reader=True)
                    process, _ = self.process(env={"WINEPATH": windows_path(planted)})
                else:
                    process, planted = self.process(cwd_reader=True)
                # The system's own search would find the planted file: the test means something.
                self.assertEqual(process.ask("search " + READER).lower(),
                                 "search: " + windows_path(os.path.join(planted, READER)).lower())
                self.assertEqual(process.send(ft.READ), expected)
                self.assertEqual(process.ask("loaded " + READER), "loaded: 0")
                self.assertEqual(winerig.record_lines(self.record), [], "its code never ran")
                process.close()

    def test_reader_library_is_taken_from_beside_quillon_dll_else_from_the_system_folder(self):
        system = os.path.join(self.wine.prefix, "drive_c", "windows", "system32", READER)
        for where in ("system folder", "beside quillon.dll"):
            with self.subTest(found=where):
                if where == "system folder":
                    shutil.copy(os.path.join(self.wine.build, READER), system)
                process, _ = self.process(reader=where != "system folder")
                try:
                    code, reply = process.send(ft.READ, 60)
                    loaded = process.ask("loaded " + READER)
                finally:
                    process.close()
                    if os.path.exists(system):
                        os.unlink(system)  # the prefix serves the other tests too
                self.assertEqual((code, loaded), (0, "loaded: 1"))
                self.assertRegex(reply, ft.READ_OK)
                self.assertEqual(winerig.record_lines(self.record)[0], "OrvMyKadInit 3 -> 0")
                os.unlink(self.record)

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
        # The first read finds no card.
        process = self.reader("result OrvMyKadGetCardStatus 0 0", ft.READER_INI % 20000)
        def started():
            return int(process.ask("sockets")[len("sockets: "):])
        counts = [started()]
        self.assertEqual(process.send(ft.READ, 60), (-30, "[READMYKAD][-30][123]"))
        counts.append(started())
        for request, reply in ((ft.READ, ft.READ_OK), ("[GETBRANCHCODE]", ft.BRANCH_OK)):
            self.assertRegex(process.send(request, 60)[1], reply)
            counts.append(started())
        # The read that forms a record (and looks the address up) leaves the interface started
        # no more often than the read that forms none: the lookup's start has its clean-up.
        # GETBRANCHCODE leaves it started.
        no_record, record, branch = [b - a for a, b in zip(counts, counts[1:])]
        self.assertEqual((record, branch), (no_record, 1))

if __name__ == "__main__":
    winerig.main()
