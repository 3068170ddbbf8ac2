#!/usr/bin/env bash
# Builds every configuration into build/: the native core with its tests and tools (sanitized),
# the same tests as 32-bit code, the 32-bit product DLL and its 64-bit twin, and the clang fuzz
# targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

for arch in i686 x86_64; do
    cmake -S . -B "build/win-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" >/dev/null
    cmake --build "build/win-$arch" -j "$jobs"
done

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$jobs"

# The core and its unit tests as 32-bit code, as in the product (run under qemu-i386-static).
cmake -S . -B build/native32 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_WERROR=ON \
    -DQUILLON_M32=ON >/dev/null
cmake --build build/native32 -j "$jobs" --target quillon_unit_tests

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_WERROR=ON \
    -DQUILLON_SANITIZE=ON -DQUILLON_WIN64_DIR="$root/build/win-x86_64" \
    -DQUILLON_WIN32_DIR="$root/build/win-i686" -DQUILLON_FUZZ_DIR="$root/build/fuzz" \
    -DQUILLON_NATIVE32_DIR="$root/build/native32" >/dev/null
cmake --build build/native -j "$jobs"
