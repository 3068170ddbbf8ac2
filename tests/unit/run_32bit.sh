#!/usr/bin/env bash
# run_32bit.sh TESTS32 TESTS64: runs the 32-bit unit-test binary under qemu-i386-static and fails
# unless it passes and lists exactly the tests of the 64-bit binary.
set -euo pipefail
tests32=$1 tests64=$2
list() { "$@" --gtest_list_tests | grep -v '^Running main' | sed 's/  *#.*//'; }
export QEMU_LD_PREFIX=/
file "$tests32" | grep -q 'ELF 32-bit' || { echo "$tests32 is not 32-bit code"; exit 1; }
if ! differences=$(diff <(list qemu-i386-static "$tests32") <(list "$tests64")); then
    echo "the 32-bit and 64-bit suites hold different tests:"
    echo "$differences" | head -20
    exit 1
fi
qemu-i386-static "$tests32" --gtest_brief=1
