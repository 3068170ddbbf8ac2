#!/usr/bin/env bash
# The performance benchmark (docs/performance.md): builds what it needs into the trees of
# scripts/build.sh, then runs quillon_benchmark.exe under wine64 against the paced simulator.
# Arguments go to scripts/benchmark.py (--runs N, --delays 500,0, --no-mykad).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
win64=${QUILLON_WIN64_DIR:-$root/build/win-x86_64}
native=${QUILLON_NATIVE_DIR:-$root/build/native}
if [ ! -f "$win64/build.ninja" ]; then
    cmake -S . -B "$win64" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw.cmake" >/dev/null
fi
cmake --build "$win64" --target quillon quillon_benchmark orvmykad_standin >/dev/null
if [ ! -f "$native/build.ninja" ]; then
    cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_WERROR=ON >/dev/null
fi
cmake --build "$native" --target quillon_terminal_sim quillon_ptyshim >/dev/null
QUILLON_WIN64_DIR=$win64 QUILLON_NATIVE_DIR=$native exec python3 "$root/scripts/benchmark.py" "$@"
