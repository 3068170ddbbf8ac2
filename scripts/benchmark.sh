#!/usr/bin/env bash
# The performance benchmark (docs/performance.md): builds what it needs into the trees of
# scripts/build.sh, then runs quillon_benchmark.exe under wine against the paced simulator: the
# x86_64 twin under wine64, or with QUILLON_E2E_ARCH=win32 the 32-bit product under the 32-bit
# wine in qemu's user-mode emulator (its times carry the emulation's cost).
# Arguments go to scripts/benchmark.py (--runs N, --delays 500,0, --no-mykad, --gap MS), but for
# --baseline REF: quillon.dll is also built from commit REF, in a git worktree under build/
# (QUILLON_BASELINE_DIR, default build/benchmark-baseline; made once and moved to REF on later
# runs, never committed; `git worktree remove` takes it away), and timed beside this tree's in the
# same process, alternating, with the ratio per command.
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
args=()
baseline_ref=
while [ $# -gt 0 ]; do
    if [ "$1" = --baseline ]; then
        [ $# -ge 2 ] || { echo "--baseline needs a commit" >&2; exit 2; }
        baseline_ref=$2
        shift 2
    else
        args+=("$1")
        shift
    fi
done
if [ -n "$baseline_ref" ]; then
    commit=$(git rev-parse --verify "$baseline_ref^{commit}")
    worktree=${QUILLON_BASELINE_DIR:-$root/build/benchmark-baseline}
    git worktree prune
    if [ -e "$worktree/.git" ]; then
        git -C "$worktree" checkout --quiet --detach "$commit"
    else
        git worktree add --quiet --detach "$worktree" "$commit"
    fi
    # Its own build tree inside the worktree, configured without presets: an older commit may
    # not have the same ones.
    base_tree=$worktree/build/win-$toolchain
    if [ ! -f "$base_tree/build.ninja" ]; then
        cmake -S "$worktree" -B "$base_tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$worktree/cmake/toolchain-$toolchain-mingw.cmake" >/dev/null
    fi
    # Quiet unless it fails: a tree moved to another commit reconfigures itself loudly.
    if ! cmake --build "$base_tree" --target quillon >"$base_tree/baseline-build.log" 2>&1; then
        cat "$base_tree/baseline-build.log" >&2
        exit 1
    fi
    echo "Baseline: $(git log -1 --format='%h %s' "$commit")"
    args+=(--baseline-dll "$base_tree/quillon.dll")
fi
if [ ! -f "$tree/build.ninja" ]; then
    cmake --preset "win-$toolchain" -B "$tree" >/dev/null
fi
cmake --build "$tree" --target quillon quillon_benchmark orvmykad_standin >/dev/null
if [ ! -f "$native/build.ninja" ]; then
    cmake --preset bench-native -B "$native" >/dev/null
fi
cmake --build "$native" --target quillon_terminal_sim "$shim" >/dev/null
QUILLON_E2E_ARCH=$arch QUILLON_NATIVE_DIR=$native exec python3 "$root/scripts/benchmark.py" ${args[@]+"${args[@]}"}
