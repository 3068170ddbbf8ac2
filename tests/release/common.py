"""Reading the figures that a release states in several files."""
import os
import re

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def read(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def cmake_version():
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)",
                     read("CMakeLists.txt"))[1]


def header_macros():
    """The numeric #defines of quillon.h: name -> value."""
    return {m[1]: int(m[2]) for m in re.finditer(r"#define (QUILLON_\w+) \(?(-?\d+)\)?",
                                                 read("include", "quillon.h"))}
