#!/usr/bin/env bash
# Installs what building and testing Quillon needs on Debian 12, only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libgtest-dev googletest python3 file
          gcc-multilib g++-multilib qemu-user-static
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb x11-apps)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    # -t bookworm keeps apt from mixing security-suite and main versions.
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq -t bookworm \
        --no-install-recommends "${missing[@]}" </dev/null
fi
