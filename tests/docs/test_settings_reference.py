"""Keeps docs/settings.md and the sample packaging/QUILLON.ini honest against the sources: every
section and key the library reads is documented with its type, every default and the folder that
reads it; nothing is documented that the library never reads; the sample holds every key at its
default. The extractor itself is checked on small sources of known content."""
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import settings_extract  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
REFERENCE = os.path.join(ROOT, "docs", "settings.md")
SAMPLE = os.path.join(ROOT, "packaging", "QUILLON.ini")


def reference_rows(path=REFERENCE):
    """{(section, key): {"type", "default", "read_by", "effect"}} of the tables under the
    "## [SECTION]" headings."""
    rows, section = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            heading = re.match(r"^##\s+\[([A-Z_]+)\]", line)
            if heading:
                section = heading.group(1)
                continue
            if line.startswith("#"):
                section = None
                continue
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if section and line.startswith("|") and re.fullmatch(r"`[^`]+`", cells[0]):
                if len(cells) != 5:
                    raise AssertionError("%s: row of %d cells: %s" % (path, len(cells), line))
                rows[(section, cells[0].strip("`"))] = dict(
                    type=cells[1], default=cells[2], read_by=cells[3], effect=cells[4])
    return rows


def sample_entries(path=SAMPLE):
    """{(section, key): (value, commented)} of KEY=value and ;KEY=value lines."""
    entries, section = {}, None
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\r\n")
            m = re.match(r"^\[([A-Z_]+)\]$", line)
            if m:
                section = m.group(1)
                continue
            m = re.match(r"^(;?)([A-Z][A-Z0-9_.]*)=(.*)$", line)
            if m and section:
                entries[(section, m.group(2))] = (m.group(3), m.group(1) == ";")
    return entries


class ReferenceMatchesTheSources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.settings, cls.problems = settings_extract.extract()
        cls.rows = reference_rows()

    def test_every_read_is_understood(self):
        self.assertEqual(self.problems, [])

    def test_the_sources_read_the_known_kinds_of_setting(self):
        # A floor, so an extractor that silently finds nothing cannot pass the checks below.
        sections = {s for s, _ in self.settings}
        self.assertTrue({"COMPORT", "MYKAD", "APDU", "MESSAGE", "BRANCH", "DEBUG"} <= sections)
        self.assertIn(("MESSAGE", "EBA_M9.1_L1"), self.settings)
        self.assertGreater(len(self.settings), 60)

    def test_every_key_read_is_documented(self):
        missing = sorted("[%s] %s (%s)" % (s, k, ", ".join(v.places))
                         for (s, k), v in self.settings.items() if (s, k) not in self.rows)
        self.assertEqual(missing, [], "read by the library but not in docs/settings.md")

    def test_every_documented_key_is_read(self):
        unread = sorted("[%s] %s" % key for key in self.rows if key not in self.settings)
        self.assertEqual(unread, [], "in docs/settings.md but never read")

    def test_documented_defaults_types_and_readers_match(self):
        wrong = []
        for key, setting in sorted(self.settings.items()):
            row = self.rows.get(key)
            if row is None:
                continue
            for default in setting.defaults:
                if "`%s`" % default not in row["default"]:
                    wrong.append("[%s] %s: default `%s` not in %r" % (key + (default, row["default"])))
            for kind in setting.kinds:
                if not row["type"].startswith(kind):
                    wrong.append("[%s] %s: type %r, read as %s" % (key + (row["type"], kind)))
            for folder in setting.folders:
                if folder not in row["read_by"]:
                    wrong.append("[%s] %s: read by %s, not named in %r"
                                 % (key + (folder, row["read_by"])))
            if not row["effect"]:
                wrong.append("[%s] %s: no description" % key)
        self.assertEqual(wrong, [])


class SampleSettingsFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.settings, _ = settings_extract.extract()
        cls.entries = sample_entries()

    def test_sample_holds_exactly_the_keys_read(self):
        self.assertEqual(sorted(set(self.settings) - set(self.entries)), [], "missing")
        self.assertEqual(sorted(set(self.entries) - set(self.settings)), [], "never read")

    def test_active_keys_hold_their_default(self):
        wrong = []
        for key, (value, commented) in sorted(self.entries.items()):
            setting = self.settings.get(key)
            if setting is None or commented:
                continue
            if setting.defaults != [value] or "\\r\\n" in value:
                wrong.append("[%s] %s=%s, default %s" % (key + (value, setting.defaults)))
        self.assertEqual(wrong, [])

    def test_keys_whose_default_an_ini_line_cannot_hold_are_commented_out(self):
        # A two-line prompt (or a key with several defaults) set to any one value would change it.
        active = sorted("[%s] %s" % key for key, s in self.settings.items()
                        if key in self.entries and not self.entries[key][1]
                        and (len(s.defaults) != 1 or "\\r\\n" in s.defaults[0]))
        self.assertEqual(active, [])


class ExtractorOnKnownSources(unittest.TestCase):
    """The extractor against a small tree written here, so its findings are known exactly."""

    def extract(self, files):
        tree = tempfile.mkdtemp()
        for relative, text in files.items():
            os.makedirs(os.path.join(tree, os.path.dirname(relative)), exist_ok=True)
            with open(os.path.join(tree, relative), "w") as f:
                f.write(text)
        saved = settings_extract.SRC
        settings_extract.SRC = tree
        try:
            return settings_extract.extract()
        finally:
            settings_extract.SRC = saved

    def test_literal_reads_with_comments_and_joined_literals(self):
        found, problems = self.extract({"a/x.cpp": '''
            int f(IProfile& p) {
                // p.ReadInt(path, "OLD", "GONE", 1);  a comment is no read
                /* p.ReadInt(path, "OLD", "ALSO", 2); */
                const char kName[] = "Named";
                std::string t = p.ReadString(path, "SEC", "TEXT", "two\\r\\n"
                                             "lines", 100);
                std::string u = p.ReadString(path, "SEC", "NAMED", kName, 50);
                return p.ReadInt(path, "SEC", "NUM", -7);
            }'''})
        self.assertEqual(problems, [])
        self.assertEqual(sorted(found), [("SEC", "NAMED"), ("SEC", "NUM"), ("SEC", "TEXT")])
        self.assertEqual(found[("SEC", "TEXT")].defaults, ["two\\r\\nlines"])
        self.assertEqual(found[("SEC", "NAMED")].defaults, ["Named"])
        self.assertEqual(found[("SEC", "NUM")].defaults, ["-7"])
        self.assertEqual(found[("SEC", "NUM")].kinds, {"integer"})
        self.assertEqual(found[("SEC", "NUM")].folders, ["a"])

    def test_an_unknown_indirect_read_is_reported(self):
        found, problems = self.extract({"b/y.cpp": '''
            int g(IProfile& p, const char* k) { return p.ReadInt(path, "SEC", k, 0); }'''})
        self.assertEqual(found, {})
        self.assertEqual(len(problems), 1)
        self.assertIn("b/y.cpp:2", problems[0])

    def test_message_helpers_and_reader_prompts_expand_to_their_keys(self):
        found, problems = self.extract({
            "c/terminal_replies.cpp": 'void h() { ShowEvent("Q1", "one\\r\\ntwo", true); }',
            "d/mykad_reader.cpp": '''
                const char kPlain[] = "Plain";
                const char kNew[] = "New card";
                const char kOld[] = "Old card";
                void ShowPrompt(int n, const char* line1Key) {}
                void Prompt(int n, const char* a, const char* b) {
                    ShowPrompt(n, Format("EBA_M%d_L1", n).c_str(), a, b);
                    Format("EBA_M%d_L2", n);
                }
                void CardPrompt(int n, const char* b) {
                    if (eba_) ShowPrompt(n, Format("EBA_M%d_L1", n).c_str(), kNew, b);
                    else ShowPrompt(n, Format("EBA_M%d.1_L1", n).c_str(), kOld, b);
                }
                void Run() { Prompt(3, kPlain, "Three"); CardPrompt(4, "Four");
                             Setting("APDU", "WAIT", 250); }'''})
        self.assertEqual(problems, [])
        self.assertEqual(found[("MESSAGE", "Q1")].defaults, ["one\\r\\ntwo"])
        self.assertEqual(found[("MESSAGE", "EBA_M3_L1")].defaults, ["Plain"])
        self.assertEqual(found[("MESSAGE", "EBA_M3_L2")].defaults, ["Three"])
        self.assertEqual(found[("MESSAGE", "EBA_M4_L1")].defaults, ["New card"])
        self.assertEqual(found[("MESSAGE", "EBA_M4.1_L1")].defaults, ["Old card"])
        self.assertEqual(found[("APDU", "WAIT")].defaults, ["250"])
        self.assertNotIn(("MESSAGE", "EBA_M3.1_L1"), found)

    def test_a_new_prompt_key_format_is_reported(self):
        _, problems = self.extract({"d/mykad_reader.cpp": 'void f() { Format("EBA_X%d", 1); }'})
        self.assertEqual(len(problems), 2)  # the formats, and CardPrompt's line-1 constants


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    r = program.result
    failed = len(r.failures) + len(r.errors)
    print("%d passed, %d failed" % (r.testsRun - failed, failed))
    sys.exit(1 if failed or r.testsRun == 0 else 0)
