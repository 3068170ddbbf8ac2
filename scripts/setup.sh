#!/usr/bin/env bash
# Installs what building and testing Quillon needs on Debian 12, only when something is missing:
# the tool chains and wine64 from bookworm, then what runs the 32-bit product itself (wine32 under
# qemu's user-mode emulator, whose bookworm version is too old for it: qemu 10 from backports).
set -euo pipefail

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
apt_get() {
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get "$@" </dev/null
}
installed() {  # installed PACKAGE[:ARCH]
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
updated=""
update() {
    [ -n "$updated" ] || apt_get update -qq
    updated=1
}

packages=(cmake ninja-build g++ clang clang-format libgtest-dev googletest python3 file
          gcc-multilib g++-multilib
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 xvfb x11-apps
          nlohmann-json3-dev mono-mcs msitools wixl)
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    update
    # -t bookworm keeps apt from mixing security-suite and main versions.
    apt_get install -y -qq -t bookworm --no-install-recommends "${missing[@]}"
fi

# bookworm-backports, from the same archive and with the same key as bookworm itself.
sources=/etc/apt/sources.list.d/debian.sources
if ! grep -qs '^[^#]*bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources; then
    echo "setup: adding the bookworm-backports suite"
    if grep -qs '^Suites: *bookworm bookworm-updates *$' "$sources"; then
        $sudo_cmd sed -i 's/^\(Suites: *bookworm bookworm-updates\) *$/\1 bookworm-backports/' \
            "$sources"
    else
        printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' \
            'Suites: bookworm-backports' 'Components: main' \
            'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
            $sudo_cmd tee /etc/apt/sources.list.d/quillon-backports.sources >/dev/null
    fi
    updated=""
fi

# qemu 10: bookworm's 7.2 takes a quarter of an hour to start a win32 prefix and then crashes.
qemu=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
if [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:10; then
    echo "setup: installing qemu-user-static from bookworm-backports"
    update
    apt_get install -y -qq -t bookworm-backports --no-install-recommends qemu-user-static
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    $sudo_cmd dpkg --add-architecture i386
    updated=""
fi
if ! installed wine32:i386; then
    echo "setup: installing wine32:i386"
    update
    apt_get install -y -qq --no-install-recommends wine32:i386
fi

# The web client's tests and the browser test: node (Debian's when the machine has none),
# Debian's chromium, and the browser test's one npm package, pinned in its package-lock.json.
web=()
command -v node >/dev/null && command -v npm >/dev/null || web+=(nodejs npm)
installed chromium || web+=(chromium)
if [ ${#web[@]} -gt 0 ]; then
    echo "setup: installing ${web[*]}"
    update
    apt_get install -y -qq -t bookworm --no-install-recommends "${web[@]}"
fi
browser_tests="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
if [ ! -d "$browser_tests/node_modules/playwright-core" ]; then
    echo "setup: npm ci in tests/browser"
    (cd "$browser_tests" && npm ci --no-audit --no-fund --loglevel=error)
fi
