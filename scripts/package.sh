#!/usr/bin/env bash
# Builds the release zip: the 32-bit product tree (built first when missing or out of date), then
# build/dist/quillon-<version>-win32.zip. QUILLON_WIN32_DIR names another i686 tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tree=${QUILLON_WIN32_DIR:-build/win-i686}
if [ ! -f "$tree/build.ninja" ]; then
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
fi
cmake --build "$tree" -j "$(nproc)"
python3 scripts/package.py "$tree" "${QUILLON_DIST_DIR:-build/dist}"
