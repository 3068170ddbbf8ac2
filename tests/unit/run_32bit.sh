#!/usr/bin/env bash
# run_32bit.sh TESTS32 TESTS64: the 32-bit unit tests under qemu-i386-static; fails unless they
# pass and are exactly the tests of the 64-bit binary.
set -euo pipefail
list() { "$@" --gtest_list_tests | grep -v '^Running main' | sed 's/  *#.*//'; }
export QEMU_LD_PREFIX=/
file "$1" | grep -q 'ELF 32-bit' || { echo "$1 is not 32-bit code"; exit 1; }
d=$(diff <(list qemu-i386-static "$1") <(list "$2")) ||
    { echo "the 32-bit and 64-bit suites differ:"; head -20 <<<"$d"; exit 1; }
qemu-i386-static "$1" --gtest_brief=1
