"""The library's edge under wine: where quillon.dll finds the card-reader library (beside itself,
then the system folder; never the working directory or PATH), a wrong access code that starts
nothing, and the record's host lookup, which shuts the sockets interface down after it."""
import os
import shutil
import tempfile

import fault_tables as ft
import winerig

READER = "OrvMyKad.dll"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class LibraryBoundary(winerig.WineTestCase):
    def process(self, reader=False, planted=None):
        """A batch host in self.workdir (the stand-in beside it if `reader`), working in a fresh
        folder with the settings; `planted` puts the stand-in in that folder ("working
        directory") or in one on PATH: (process, the planted stand-in's folder)."""
        folder, env = tempfile.mkdtemp(prefix="quillon-e2e-"), {}
        self.addCleanup(shutil.rmtree, folder, True)
        winerig.write_ini(folder, ft.READER_INI % 20000)
        where = tempfile.mkdtemp(dir=folder) if planted == "PATH" else folder
        if planted:
            shutil.copy(os.path.join(self.wine.build, READER), where)
            env = {"WINEPATH": windows_path(where)} if planted == "PATH" else {}
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
                process.close()

    def test_reader_library_is_taken_from_beside_quillon_dll_else_from_the_system_folder(self):
        system = os.path.join(self.wine.prefix, "drive_c", "windows", "system32", READER)
        for beside in (False, True):
            with self.subTest(beside=beside):
                if not beside:
                    shutil.copy(os.path.join(self.wine.build, READER), system)
                process, _ = self.process(reader=beside)
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


if __name__ == "__main__":
    winerig.main()
