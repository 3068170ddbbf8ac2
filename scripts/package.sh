#!/usr/bin/env bash
# Builds the release: the 32-bit product tree and the 64-bit twin's (each built first when missing
# or out of date), then in build/dist the zip quillon-<version>-win32.zip and the Windows Installer
# packages quillon-<version>-win32.msi and -win64.msi. QUILLON_WIN32_DIR and QUILLON_WIN64_DIR
# name other trees.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tree=${QUILLON_WIN32_DIR:-build/win-i686}
tree64=${QUILLON_WIN64_DIR:-build/win-x86_64}
dist=${QUILLON_DIST_DIR:-build/dist}
for pair in "$tree:i686" "$tree64:x86_64"; do
    dir=${pair%:*}
    if [ ! -f "$dir/build.ninja" ]; then
        cmake --preset "win-${pair##*:}" -B "$dir" >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)"
done
python3 scripts/package.py "$tree" "$dist"
python3 scripts/msi.py "$tree" "$dist"
python3 scripts/msi.py "$tree64" "$dist"
