#!/usr/bin/env bash
# The whole test suite from a fresh machine: set-up, the formatting check, every build, then one
# CTest run over the native unit tests (64-bit with ASan/UBSan, and 32-bit under qemu), the fuzz
# runs, the DLL contract checks, the layering probes and the wine end-to-end tests; last, the line
# coverage of the portable core by the unit tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# Formatting first: a file that differs from .clang-format fails the run before anything builds.
"$root/scripts/format.sh" --check
"$root/scripts/build.sh"
# The unit tests once more with gcov counts, in a tree of their own for the coverage line at the
# end: the two test programs only, no sanitizers and no debug information (a third less to build).
coverage=$root/build/coverage
if [ ! -f "$coverage/build.ninja" ]; then
    (cd "$root" && cmake --preset coverage >/dev/null)
fi
cmake --build "$coverage" -j "$(nproc)" --target quillon_unit_tests quillon_mykad_decoder_tests \
    >/dev/null
cd "$root/build/native"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
ctest --output-on-failure -j 2 "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
# The core's unit and record-builder tests run twice: one CTest test each in the 64-bit build,
# and each suite whole as 32-bit code (unit_tests_32bit, mykad_decoder_tests_32bit), where a
# suite prints "[  PASSED  ] N tests." (a single discovered test says "1 test.").
units64=$( { ./quillon_unit_tests --gtest_list_tests; ./quillon_mykad_decoder_tests \
    --gtest_list_tests; } | grep -c '^  ' || true)
units32=$(grep -h '^\[  PASSED  \] [0-9]* tests\.' Testing/Temporary/LastTest.log |
    awk '{n += $4} END {if (NR) print n " passed"}' || true)
echo "unit tests: ${units64} in the 64-bit build; 32-bit build under qemu-i386-static: ${units32:-not run}"
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1
# Fails the run below the floor kept in tests/coverage_floor.txt.
python3 "$root/scripts/coverage.py" "$coverage" --floor "$root/tests/coverage_floor.txt" || status=1
exit "$status"
