#!/usr/bin/env bash
# Builds every configuration into build/: the native core with its tests and tools (sanitized),
# the same tests as 32-bit code, the 32-bit product DLL and its 64-bit twin, and the clang fuzz
# targets.
#
#   scripts/build.sh        every tree
#   scripts/build.sh demo   only what the demos run: the x86_64 DLL, host, bridge and stand-in
#                           reader, and the native simulator, pty shim and MyKad decoder
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

# Each tree is one configure preset of CMakePresets.json.
configure_windows() {  # ARCH
    cmake --preset "win-$1" >/dev/null
}
configure_native() {
    cmake --preset native >/dev/null
}

case "${1:-}" in
    "") ;;
    demo)
        configure_windows x86_64
        cmake --build build/win-x86_64 -j "$jobs" --target quillon quillon_host quillon_bridge \
            orvmykad_standin
        configure_native
        cmake --build build/native -j "$jobs" --target quillon_terminal_sim quillon_ptyshim \
            quillon_mykad_decode
        exit 0 ;;
    *) echo "build.sh: unknown argument $1" >&2; echo "usage: scripts/build.sh [demo]" >&2; exit 2 ;;
esac

for arch in i686 x86_64; do
    configure_windows "$arch"
    cmake --build "build/win-$arch" -j "$jobs"
done

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$jobs"

# The core and its unit tests as 32-bit code, as in the product (run under qemu-i386-static).
cmake --preset native32 >/dev/null
cmake --build build/native32 -j "$jobs" --target quillon_unit_tests quillon_mykad_decoder_tests

configure_native
cmake --build build/native -j "$jobs"
