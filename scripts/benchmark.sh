#!/usr/bin/env bash
# The performance benchmark (docs/performance.md): builds what it needs into the trees of
# scripts/build.sh, then runs quillon_benchmark.exe under wine against the paced simulator: the
# x86_64 twin under wine64, or with QUILLON_E2E_ARCH=win32 the 32-bit product under the 32-bit
# wine in qemu's user-mode emulator (its times carry the emulation's cost).
# Arguments go to scripts/benchmark.py (--runs N, --delays 500,0, --no-mykad).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
arch=${QUILLON_E2E_ARCH:-win64}
if [ "$arch" = win32 ]; then
    tree=${QUILLON_WIN32_DIR:-$root/build/win-i686}
    toolchain=i686
    shim=quillon_ptyshim32
    export QUILLON_WIN32_DIR=$tree
else
    tree=${QUILLON_WIN64_DIR:-$root/build/win-x86_64}
    toolchain=x86_64
    shim=quillon_ptyshim
    export QUILLON_WIN64_DIR=$tree
fi
native=${QUILLON_NATIVE_DIR:-$root/build/native}
if [ ! -f "$tree/build.ninja" ]; then
    cmake --preset "win-$toolchain" -B "$tree" >/dev/null
fi
cmake --build "$tree" --target quillon quillon_benchmark orvmykad_standin >/dev/null
if [ ! -f "$native/build.ninja" ]; then
    cmake --preset bench-native -B "$native" >/dev/null
fi
cmake --build "$native" --target quillon_terminal_sim "$shim" >/dev/null
QUILLON_E2E_ARCH=$arch QUILLON_NATIVE_DIR=$native exec python3 "$root/scripts/benchmark.py" "$@"
