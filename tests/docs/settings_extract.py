"""Finds every QUILLON.ini setting the library reads, straight from the sources under src/.

Settings are read through IProfile::ReadInt / ReadString with the section and key as string
literals, or through a few small helpers that take the key from their caller: the dialog's
ReadMessage ([MESSAGE]) and its callers, the reader thread's Setting and Prompt / CardPrompt
(which format the EBA_M<n> keys), and the prompt-code table. Every read whose section or key is not
a literal must be one of those helpers; any other is reported, so a new way of reading a setting
cannot slip past the reference unnoticed.
"""
import os
import re

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")

# Reads whose section or key comes from the caller: (file, first three arguments as written).
HELPER_BODIES = {
    ("acq_dialog.cpp", "ReadString", ("m_strIniPath", '"MESSAGE"', "key")),
    ("mykad_reader.cpp", "ReadInt", ("path_", "section", "key")),
    ("mykad_reader.cpp", "ReadString", ("path_", '"MESSAGE"', "line1Key")),
    ("mykad_reader.cpp", "ReadString", ("path_", '"MESSAGE"', "key2.c_str()")),
}
# Helpers whose callers name a [MESSAGE] key: (file or None for any, function, key arg, default arg).
MESSAGE_HELPERS = [
    (None, "ReadMessage", 0, 1),
    ("acq_modes.cpp", "line", 1, 2),
    ("terminal_replies.cpp", "ShowEvent", 0, 1),
]
# Helper calls that pass their own parameters on: (file, function, first argument as written).
HELPER_FORWARDS = {
    ("acq_modes.cpp", "ReadMessage", "key"),
    ("terminal_replies.cpp", "ReadMessage", "key"),
    ("prompts.cpp", "ReadMessage", "prompt.key"),
}
# The key formats of the reader thread's prompts, and which prompt helper uses which.
EBA_FORMATS = {"EBA_M%d_L1", "EBA_M%d.1_L1", "EBA_M%d_L2"}


class Setting:
    def __init__(self, section, key):
        self.section, self.key = section, key
        self.defaults = []  # every default the code passes, as text
        self.places = []    # "folder/file:line"
        self.kinds = set()  # "integer" (ReadInt) or "text" (ReadString)

    @property
    def folders(self):
        return sorted({p.split("/")[0] for p in self.places})


def strip_comments(text):
    """Blanks out comments, keeping string literals and line numbers."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c == '"' or c == "'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def split_args(text, start):
    """Arguments of the call whose "(" is at text[start]; returns (args, index after ")")."""
    depth, i, args, current = 0, start, [], []
    while i < len(text):
        c = text[i]
        if c == '"' or c == "'":
            j = i + 1
            while text[j] != c:
                j += 2 if text[j] == "\\" else 1
            current.append(text[i:j + 1])
            i = j + 1
            continue
        if c in "([{":
            depth += 1
            if depth == 1:
                i += 1
                continue
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append("".join(current).strip())
                return [a for a in args if a or len(args) > 1], i + 1
        elif c == "," and depth == 1:
            args.append("".join(current).strip())
            current = []
            i += 1
            continue
        current.append(c)
        i += 1
    raise ValueError("unbalanced call")


_LITERALS = re.compile(r'^(\s*"(?:[^"\\]|\\.)*"\s*)+$')


def literal(arg, constants=None):
    """The value of a string literal (adjacent literals joined; escapes kept as written, so a
    carriage return and line feed read \\r\\n), of an integer literal, or of a named constant of
    the same file; None for anything else."""
    if _LITERALS.match(arg):
        return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', arg)).replace('\\\\', '\\')
    if re.fullmatch(r"-?\d+", arg):
        return str(int(arg))
    if constants and arg in constants:
        return constants[arg]
    return None


def calls(text, name):
    """(line, args) of every call of name( in text; definitions and declarations are skipped."""
    for m in re.finditer(r"(?<![\w])%s\s*\(" % re.escape(name), text):
        before = text[:m.start()].rstrip()
        if re.search(r"(\b(void|int|bool|std::string|auto)|\w::)$", before):
            continue
        args, _ = split_args(text, m.end() - 1)
        yield text.count("\n", 0, m.start()) + 1, args


def source_files():
    for folder in sorted(os.listdir(SRC)):
        path = os.path.join(SRC, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith((".cpp", ".h")):
                yield folder, name, os.path.join(path, name)


def extract():
    """Returns ({(section, key): Setting}, [problems])."""
    found, problems = {}, []

    def add(section, key, default, place, kind="text"):
        s = found.setdefault((section, key), Setting(section, key))
        s.kinds.add(kind)
        if default is not None and default not in s.defaults:
            s.defaults.append(default)
        s.places.append(place)

    for folder, name, path in source_files():
        with open(path, encoding="utf-8") as f:
            text = strip_comments(f.read())
        constants = dict(re.findall(r'const char (k\w+)\[\] = "((?:[^"\\]|\\.)*)";', text))
        here = lambda line: "%s/%s:%d" % (folder, name, line)  # noqa: E731

        for function in ("ReadInt", "ReadString"):
            for line, args in calls(text, function):
                if len(args) < 4:
                    continue  # the interface's own declaration
                section, key = literal(args[1]), literal(args[2])
                if section is not None and key is not None:
                    default = literal(args[3], constants)
                    if default is None:
                        problems.append("%s: default %s of [%s] %s is not a literal"
                                        % (here(line), args[3], section, key))
                    add(section, key, default, here(line),
                        "integer" if function == "ReadInt" else "text")
                elif (name, function, tuple(args[:3])) not in HELPER_BODIES:
                    problems.append("%s: %s(%s) reads a setting the reference check does not "
                                    "know; teach tests/docs/settings_extract.py"
                                    % (here(line), function, ", ".join(args[:3])))

        for only, function, key_at, default_at in MESSAGE_HELPERS:
            if only not in (None, name):
                continue
            for line, args in calls(text, function):
                key = literal(args[key_at]) if len(args) > key_at else None
                if key is None:
                    if (name, function, args[key_at] if args else "") not in HELPER_FORWARDS:
                        problems.append("%s: %s(%s) names its [MESSAGE] key indirectly; teach "
                                        "tests/docs/settings_extract.py"
                                        % (here(line), function, ", ".join(args)))
                    continue
                add("MESSAGE", key, literal(args[default_at], constants), here(line))

        if name == "prompts.cpp":
            for m in re.finditer(r'\{\s*0x[0-9A-Fa-f]+\s*,\s*("[^"]*")\s*,((?:\s*"(?:[^"\\]|\\.)*")+)\s*\}',
                                 text):
                add("MESSAGE", literal(m.group(1)), literal(m.group(2)),
                    here(text.count("\n", 0, m.start()) + 1))

        if name == "mykad_reader.cpp":
            formats = set(re.findall(r'Format\("(EBA_[^"]*)"', text))
            if formats != EBA_FORMATS:
                problems.append("%s/%s: prompt key formats %s, expected %s; teach "
                                "tests/docs/settings_extract.py"
                                % (folder, name, sorted(formats), sorted(EBA_FORMATS)))
            for line, args in calls(text, "Setting"):
                add(literal(args[0]), literal(args[1]), literal(args[2], constants), here(line),
                    "integer")
            for line, args in calls(text, "Prompt"):
                n = int(args[0])
                add("MESSAGE", "EBA_M%d_L1" % n, literal(args[1], constants), here(line))
                add("MESSAGE", "EBA_M%d_L2" % n, literal(args[2], constants), here(line))
            card_line1 = [constants.get(c) for c in re.findall(
                r'ShowPrompt\(n, Format\("EBA_M%d(?:\.1)?_L1", n\)\.c_str\(\), (k\w+)', text)]
            if len(card_line1) != 2 or None in card_line1:
                problems.append("%s/%s: CardPrompt no longer reads as expected; teach "
                                "tests/docs/settings_extract.py" % (folder, name))
                card_line1 = [None, None]
            for line, args in calls(text, "CardPrompt"):
                n = int(args[0])
                add("MESSAGE", "EBA_M%d_L1" % n, card_line1[0], here(line))
                add("MESSAGE", "EBA_M%d.1_L1" % n, card_line1[1], here(line))
                add("MESSAGE", "EBA_M%d_L2" % n, literal(args[1], constants), here(line))
    return found, problems


if __name__ == "__main__":
    settings, issues = extract()
    for (section, key), s in sorted(settings.items()):
        print("[%s] %s = %s   %s" % (section, key, " | ".join(s.defaults), ", ".join(s.places)))
    for p in issues:
        print("PROBLEM:", p)
