#!/usr/bin/env python3
"""Line coverage of the portable core (src/*/*.cpp without the *_win32.cpp adapters) by the native
unit tests, from a tree configured with -DQUILLON_COVERAGE=ON in which quillon_unit_tests and
quillon_mykad_decoder_tests are built:

    scripts/coverage.py BUILD_DIR [--floor FILE] [--root CHECKOUT]

Runs both programs from fresh counts, reads the counts with gcov and prints one line. A line
counts when gcov calls it executable; a core file built but run by no test counts with all its
lines unrun, and one not built for the two programs at all fails. With --floor, fails when the
figure is below the number in FILE."""
import argparse
import glob
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ("quillon_unit_tests", "quillon_mykad_decoder_tests")


def core_file(path, src):
    folder, name = os.path.split(path)
    return (os.path.dirname(folder) == src and name.endswith(".cpp")
            and not name.endswith("_win32.cpp"))


def run_programs(build):
    for stale in glob.glob(os.path.join(build, "**", "*.gcda"), recursive=True):
        os.unlink(stale)
    for program in PROGRAMS:
        r = subprocess.run([os.path.join(build, program), "--gtest_brief=1"],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise SystemExit("%s failed:\n%s%s" % (program, r.stdout, r.stderr))


def line_counts(build, root):
    """{(source, line): count} over the object files made from src/, whatever library holds
    them (a source built into two counts once, at its highest count per line)."""
    notes = sorted(glob.glob(os.path.join(build, "CMakeFiles", "*", "src", "*", "*.gcno")))
    if not notes:
        raise SystemExit("no gcov notes in %s: configure it with -DQUILLON_COVERAGE=ON" % build)
    out = subprocess.run(["gcov", "--json-format", "--stdout"] + notes, cwd=build,
                         capture_output=True, text=True, check=True).stdout
    src = os.path.realpath(os.path.join(root, "src"))
    counts, decoder, at = {}, json.JSONDecoder(), 0
    while at < len(out):
        if out[at].isspace():
            at += 1
            continue
        report, at = decoder.raw_decode(out, at)
        for f in report["files"]:
            source = f["file"] if os.path.isabs(f["file"]) else os.path.join(
                report.get("current_working_directory", build), f["file"])
            source = os.path.realpath(source)
            if not core_file(source, src):
                continue
            for line in f["lines"]:
                key = (source, line["line_number"])
                counts[key] = max(counts.get(key, 0), line["count"])
    # CMake names the notes after their source: CMakeFiles/TARGET/src/FOLDER/NAME.cpp.gcno.
    built = {os.path.join(src, *n[:-len(".gcno")].split(os.sep)[-2:]) for n in notes}
    missing = sorted(path for path in glob.glob(os.path.join(src, "*", "*.cpp"))
                     if core_file(path, src) and path not in built)
    if not counts:
        raise SystemExit("no line of %s in the counts of %s" % (src, build))
    if missing:
        raise SystemExit("not built into the unit-test programs: " +
                         ", ".join(os.path.relpath(m, src) for m in missing))
    return counts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--floor")
    ap.add_argument("--root", default=ROOT, help="the checkout the tree was built from")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    run_programs(build)
    counts = line_counts(build, a.root)
    run = sum(1 for c in counts.values() if c > 0)
    percent = 100.0 * run / max(1, len(counts))
    print("line coverage of the portable core: %.1f %% (%d of %d lines)"
          % (percent, run, len(counts)))
    if a.floor:
        with open(a.floor) as f:
            floor = float(next(l for l in f if l.strip() and not l.startswith("#")))
        if percent < floor:
            print("line coverage is below the floor of %.1f %% in %s" % (floor, a.floor))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
