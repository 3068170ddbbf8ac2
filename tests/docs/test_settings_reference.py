"""docs/settings.md and the sample packaging/QUILLON.ini against the settings the library reads:
the settings table by value (printed by quillon_settings_table), and the prompt texts from the
prompt tables in src/. A read outside the table or the prompt tables fails the test, so a new way
of reading a setting cannot slip past the reference."""
import glob
import os
import re
import subprocess
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
            ("setting_table.cpp", "path, row.section, row.key"),
            ("mykad_reader.cpp", 'path_, "MESSAGE", line1Key'),
            ("mykad_reader.cpp", 'path_, "MESSAGE", key2.c_str()'),
            ("reader_session.cpp", "prompt->key"),
            ("reader_session.cpp", 'inputs_.settingsPath, "MESSAGE", key')}
EBA_FORMATS = {"EBA_M%d_L1", "EBA_M%d.1_L1", "EBA_M%d_L2"}  # the reader thread's prompt keys


def extract():
    """({(section, key): ([defaults], {kinds}, {folders})}, [problems])"""
    found, problems = {}, []
    for path in sorted(glob.glob(os.path.join(ROOT, "src", "*", "*.cpp")) +
                       glob.glob(os.path.join(ROOT, "src", "*", "*.h"))):
        folder, name = os.path.basename(os.path.dirname(path)), os.path.basename(path)
        with open(path, encoding="utf-8") as f:
            text = re.sub(STR + r"|//[^\n]*|/\*.*?\*/",
                          lambda m: m[0] if m[0][0] == '"' else " ", f.read(), flags=re.S)
        constants = dict(re.findall(r"const char (k\w+)\[\] = (%s);" % STR, text))

        def value(arg):
            """A literal as written (escapes kept but \\\\), a number, or a constant's literal."""
            arg = constants.get(arg.strip(), arg.strip())
            if not arg.startswith('"'):
                return arg
            return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', arg)).replace("\\\\", "\\")

        # (integer?, section, key, default) as written in the source: the prompt texts, which
        # their own tables hold; every other setting is read through the settings table.
        reads = [(m[1] == "Int", m[2], m[3], m[4]) for m in READ.finditer(text)]
        reads += [(False, '"MESSAGE"', m[1], m[2]) for p in MESSAGE for m in p.finditer(text)]
        for m in re.finditer(r"\bPrompt\(\s*(\d+),%s,%s\)" % (ARG, ARG), text):
            reads += [(False, '"MESSAGE"', '"EBA_M%s_L%d"' % (m[1], i), m[i + 1]) for i in (1, 2)]
        card_line1 = re.findall(r'ShowPrompt\(n, Format\("(EBA_M%d(?:\.1)?_L1)", n\)\.c_str\(\),'
                                r"\s*(k\w+)", text)
        for m in re.finditer(r"\bCardPrompt\(\s*(\d+),%s\)" % ARG, text):
            reads += [(False, '"MESSAGE"', '"%s"' % (f % int(m[1])), c) for f, c in card_line1]
            reads.append((False, '"MESSAGE"', '"EBA_M%s_L2"' % m[1], m[2]))
        for integer, section, key, default in reads:
            if value(section) != "MESSAGE":
                problems.append("%s/%s: reads [%s] %s past the settings table"
                                % (folder, name, value(section), value(key)))
                continue
            defaults, kinds, folders = found.setdefault((value(section), value(key)),
                                                        ([], set(), set()))
            defaults += [] if value(default) in defaults else [value(default)]
            kinds.add("integer" if integer else "text")
            folders.add(folder)
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


def table_rows():
    """{(section, key): (type, default, capacity, unit, read by)} of the settings table."""
    program = os.environ.get("QUILLON_SETTINGS_TABLE")
    if not program:
        raise unittest.SkipTest("QUILLON_SETTINGS_TABLE names no quillon_settings_table")
    out = subprocess.run([program], check=True, capture_output=True, text=True).stdout
    rows = {}
    for line in out.splitlines():
        section, key, kind, default, capacity, unit, read_by = line.split("\t")[:7]
        rows[(section, key)] = (kind, default, capacity, unit, read_by)
    return rows


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
    def test_reference_and_sample_hold_the_table_by_value(self):
        table, rows, entries = table_rows(), reference_rows(), sample_entries()
        documented = {k for k in rows if k[0] != "MESSAGE"}
        sampled = {k for k in entries if k[0] != "MESSAGE"}
        self.assertEqual((sorted(set(table) ^ documented), sorted(set(table) ^ sampled)),
                         ([], []), "keys in the table, documented, in the sample")
        wrong = []
        for key, (kind, default, capacity, unit, read_by) in sorted(table.items()):
            cells = rows[key]
            if not cells[0].startswith(kind):
                wrong.append("%s: read as %s, not %r" % (key, kind, cells[0]))
            if kind == "text" and "up to %d characters" % (int(capacity) - 1) not in cells[0]:
                wrong.append("%s: cut at %d characters, not %r" % (key, int(capacity) - 1,
                                                                   cells[0]))
            if unit == "ms" and ", ms" not in cells[0]:
                wrong.append("%s: in ms, not %r" % (key, cells[0]))
            if cells[1] != "`%s`" % default:
                wrong.append("%s: default %s, not %r" % (key, default, cells[1]))
            if read_by not in cells[2].split(", "):
                wrong.append("%s: read by %s, not %r" % (key, read_by, cells[2]))
            wrong += ["%s: no description" % (key,)] if not cells[3] else []
            if entries[key] != (default, False):
                wrong.append("%s: the sample has %r, the default is %s" % (key, entries[key],
                                                                           default))
        self.assertEqual(wrong, [])

    def test_reference_and_sample_hold_exactly_the_prompt_texts_read(self):
        settings, wrong = extract()
        rows = {k: v for k, v in reference_rows().items() if k[0] == "MESSAGE"}
        entries = {k: v for k, v in sample_entries().items() if k[0] == "MESSAGE"}
        self.assertEqual((sorted(set(settings) ^ set(rows)), sorted(set(settings) ^ set(entries))),
                         ([], []), "prompt keys read, documented, in the sample")
        for key, (defaults, kinds, folders) in sorted(settings.items()):
            kind, default, read_by, effect = rows[key]
            value, commented = entries[key]
            wrong += ["%s: default `%s` not in %r" % (key, d, default)
                      for d in defaults if "`%s`" % d not in default]
            wrong += ["%s: read as %s, not %r" % (key, k, kind) for k in kinds
                      if not kind.startswith(k)]
            wrong += ["%s: read by %s, not %r" % (key, f, read_by) for f in folders
                      if f not in read_by]
            # A key whose default an INI line cannot hold (a two-line prompt, several defaults)
            # is commented out: set to any one value it would change the behaviour.
            wrong += ["%s: no description" % (key,)] if not effect else []
            wrong += ["%s=%s, default %s" % (key, value, defaults)] if not commented and (
                defaults != [value] or "\\r\\n" in value) else []
        self.assertEqual(wrong, [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
