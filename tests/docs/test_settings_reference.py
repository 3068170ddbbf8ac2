"""Keeps docs/settings.md and the sample packaging/QUILLON.ini in step with the sources: every
QUILLON.ini key the library reads (found in src/) is documented with its type, every default and
the folder that reads it; nothing is documented that the library never reads; the sample holds
every key at its default. A read the extractor below does not understand fails the test, so a new
way of reading a setting cannot slip past the reference."""
import glob
import os
import re
import sys
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
STR = r'"(?:[^"\\]|\\.)*"'
ARG = r"\s*((?:\s*%s)+|-?\d+|k\w+)" % STR  # literal text, number or named constant
READ = re.compile(r"\.Read(Int|String)\(\s*[^,]*,\s*(%s),\s*(%s),%s" % (STR, STR, ARG))
MESSAGE = [re.compile(p % (STR, ARG)) for p in (
    r"\bReadMessage\(\s*(%s),%s",  # a prompt read where it is shown
    r"\{\s*(%s)\s*,%s\s*\}")]  # a prompt of the tables: {key, default}
# Reads and helper calls whose key comes from their caller: (file, their first arguments).
FORWARDS = {("acq_dialog.cpp", 'iniPath_, "MESSAGE", prompt.key'),
            ("acq_dialog.cpp", "prompt); window_->SetItemText(kPromptLine2"),
            ("acq_dialog.cpp", "*prompts[i]); window_->SetItemText(lines[i]"),
            ("mykad_reader.cpp", "path_, section, key"),
            ("mykad_reader.cpp", 'path_, "MESSAGE", line1Key'),
            ("mykad_reader.cpp", 'path_, "MESSAGE", key2.c_str()'),
            ("reader_session.cpp", "prompt->key"),
            ("reader_session.cpp", 'inputs_.settingsPath, "MESSAGE", key'),
            # The description's watch over FindComPort's read, its test whether a key is set,
            # and its reads of the numeric keys it lists.
            ("describe.cpp", "path, section, key"),
            ("describe.cpp", "facts.path, numeric.section, numeric.key")}
EBA_FORMATS = {"EBA_M%d_L1", "EBA_M%d.1_L1", "EBA_M%d_L2"}  # the reader thread's prompt keys


def extract():
    """({(section, key): ([defaults], {kinds}, {folders})}, [problems])"""
    found, problems = {}, []

    def add(section, key, default, folder, kind="text"):
        defaults, kinds, folders = found.setdefault((section, key), ([], set(), set()))
        defaults += [] if default in defaults else [default]
        kinds.add(kind)
        folders.add(folder)

    for path in sorted(glob.glob(os.path.join(ROOT, "src", "*", "*.cpp")) +
                       glob.glob(os.path.join(ROOT, "src", "*", "*.h"))):
        folder, name = os.path.basename(os.path.dirname(path)), os.path.basename(path)
        with open(path, encoding="utf-8") as f:
            text = re.sub(STR + r"|//[^\n]*|/\*.*?\*/",
                          lambda m: m[0] if m[0][0] == '"' else " ", f.read(), flags=re.S)
        constants = dict(re.findall(r"const char (k\w+)\[\] = (%s);" % STR, text))

        def value(arg):
            """A literal as written (escapes kept, so a line break reads \\r\\n, but \\\\
            read as one backslash), a number, or a named constant's literal."""
            arg = constants.get(arg.strip(), arg.strip())
            if not arg.startswith('"'):
                return arg
            return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', arg)).replace("\\\\", "\\")

        for m in READ.finditer(text):
            add(value(m[2]), value(m[3]), value(m[4]), folder,
                "integer" if m[1] == "Int" else "text")
        for m in re.finditer(r"\bSetting\(\s*(%s),\s*(%s),%s\)" % (STR, STR, ARG), text):
            add(value(m[1]), value(m[2]), value(m[3]), folder, "integer")
        for pattern in MESSAGE:
            for m in pattern.finditer(text):
                add("MESSAGE", value(m[1]), value(m[2]), folder)
        for m in re.finditer(r"\bPrompt\(\s*(\d+),%s,%s\)" % (ARG, ARG), text):
            add("MESSAGE", "EBA_M%s_L1" % m[1], value(m[2]), folder)
            add("MESSAGE", "EBA_M%s_L2" % m[1], value(m[3]), folder)
        card_line1 = re.findall(r'ShowPrompt\(n, Format\("(EBA_M%d(?:\.1)?_L1)", n\)\.c_str\(\),'
                                r"\s*(k\w+)", text)
        for m in re.finditer(r"\bCardPrompt\(\s*(\d+),%s\)" % ARG, text):
            for key_format, constant in card_line1:
                add("MESSAGE", key_format % int(m[1]), value(constant), folder)
            add("MESSAGE", "EBA_M%s_L2" % m[1], value(m[2]), folder)
        if "CardPrompt(" in text and (len(card_line1) != 2 or set(re.findall(
                r'Format\("(EBA_[^"]*)"', text)) != EBA_FORMATS):
            problems.append("%s: the reader's prompt keys changed; teach this test" % name)
        # Every other read or helper call must be a known forward.
        for m in re.finditer(r"\.Read(?:Int|String)\(|\bReadMessage\(", text):
            args = ", ".join(" ".join(a.split()) for a in
                             text[m.end():].split(",")[:3 if m[0][0] == "." else 1])
            known = READ.match(text, m.start()) or any(p.match(text, m.start()) for p in MESSAGE)
            if not (known or args.startswith("const ") or (name, args) in FORWARDS):
                problems.append("%s/%s: %s%s) reads a setting this test does not know"
                                % (folder, name, m[0], args))
    return found, problems


def reference_rows():
    """{(section, key): [type, default, read by, effect]} of the tables under "## [SECTION]"."""
    rows, section = {}, None
    with open(os.path.join(ROOT, "docs", "settings.md"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                section = (re.match(r"^##\s+\[([A-Z_]+)\]", line) or [None, None])[1]
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if section and line.startswith("|") and re.fullmatch(r"`[^`]+`", cells[0]):
                rows[(section, cells[0].strip("`"))] = cells[1:]
    return rows


def sample_entries():
    """{(section, key): (value, commented out)} of packaging/QUILLON.ini."""
    entries, section = {}, None
    with open(os.path.join(ROOT, "packaging", "QUILLON.ini"), encoding="latin-1") as f:
        for line in f.read().splitlines():
            section = (re.match(r"^\[([A-Z_]+)\]$", line) or [None, section])[1]
            m = re.match(r"^(;?)([A-Z][A-Z0-9_.]*)=(.*)$", line)
            if m and section:
                entries[(section, m[2])] = (m[3], m[1] == ";")
    return entries


class SettingsReference(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.settings, cls.problems = extract()

    def test_reference_documents_exactly_the_keys_read_with_their_defaults_types_and_readers(self):
        self.assertEqual(self.problems, [])
        rows = reference_rows()
        self.assertEqual(sorted(set(self.settings) - set(rows)), [], "not in docs/settings.md")
        self.assertEqual(sorted(set(rows) - set(self.settings)), [], "documented, never read")
        wrong = []
        for key, (defaults, kinds, folders) in sorted(self.settings.items()):
            kind, default, read_by, effect = rows[key]
            wrong += ["%s: default `%s` not in %r" % (key, d, default)
                      for d in defaults if "`%s`" % d not in default]
            wrong += ["%s: read as %s, not %r" % (key, k, kind) for k in kinds
                      if not kind.startswith(k)]
            wrong += ["%s: read by %s, not %r" % (key, f, read_by) for f in folders
                      if f not in read_by]
            wrong += ["%s: no description" % (key,)] if not effect else []
        self.assertEqual(wrong, [])

    def test_sample_holds_every_key_read_at_its_default(self):
        entries = sample_entries()
        self.assertEqual(sorted(set(self.settings) ^ set(entries)), [])
        # A key whose default an INI line cannot hold (a two-line prompt, several defaults) is
        # commented out: set to any one value it would change the behaviour.
        wrong = ["%s=%s, default %s" % (key, value, self.settings[key][0])
                 for key, (value, commented) in sorted(entries.items()) if not commented and
                 (self.settings[key][0] != [value] or "\\r\\n" in value)]
        self.assertEqual(wrong, [])

    def test_description_checks_exactly_the_keys_read_as_numbers(self):
        # QuillonDescribe flags a number whose text does not read as written: its list of numeric
        # keys is the integer reads plus BAUDRATE, a text taken as a number.
        with open(os.path.join(ROOT, "src", "command", "describe.cpp"), encoding="utf-8") as f:
            listed = re.findall(r'\{"(\w+)", "(\w+)", (true|false)\}', f.read())
        expected = {key: "integer" in kinds for key, (_, kinds, _) in self.settings.items()
                    if "integer" in kinds}
        expected[("COMPORT", "BAUDRATE")] = False
        self.assertEqual({(s, k): v == "true" for s, k, v in listed}, expected)
        self.assertEqual(len(listed), len(expected), "a key listed twice")


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
