#!/usr/bin/env bash
# The fast loop while changing the core: configures build/unit once (ASan and UBSan, no wine, no
# MinGW), builds only the native unit-test programs, and runs them. Arguments go to
# GoogleTest, e.g. scripts/unit.sh --gtest_filter='FrameCodec*'. A filter that matches nothing in
# one program leaves it passing with zero tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=${QUILLON_UNIT_DIR:-$root/build/unit}
if [ ! -f "$tree/build.ninja" ]; then
    (cd "$root" && cmake --preset unit -B "$tree" >/dev/null)
fi
programs=(quillon_unit_tests quillon_mykad_decoder_tests quillon_doctor_tests quillon_bridge_tests)
cmake --build "$tree" -j "$(nproc)" --target "${programs[@]}"
status=0
for program in "${programs[@]}"; do
    "$tree/$program" --gtest_brief=1 "$@" || status=1
done
exit "$status"
