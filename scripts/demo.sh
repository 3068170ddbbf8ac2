#!/usr/bin/env bash
# The main job: set-up, build, then quillon.dll under wine64 answering requests; with --web, the
# web demo page in chromium through the extension and the bridge.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/demo.sh [--help] [--web]"
web=""
case "${1:-}" in
    "") ;;
    --web) web=1 ;;
    --help)
        printf '%s\n' "Builds Quillon and runs its demo under wine64: the host program sends every kind" \
            "of request to quillon.dll, with the terminal simulator on COM7 and the stand-in card" \
            "reader. --web runs the web demo page instead, in chromium with the Quillon extension and" \
            "the native bridge: it prints the page's URL, or without a display writes a screenshot" \
            "to build/web-demo.png." "" "$usage" "  --help  this text" \
            "  --web   the web demo page" "" "example: scripts/demo.sh --web"
        exit 0 ;;
    *) printf 'demo.sh: unknown option %s\n%s\n' "$1" "$usage" >&2; exit 2 ;;
esac
"$root/scripts/setup.sh"
"$root/scripts/build.sh" demo >/dev/null  # only what the demo runs
[ -n "$web" ] || exec python3 "$root/scripts/demo.py"

export QUILLON_WINEPREFIX="$root/build/demo-prefix" QUILLON_WIN64_DIR="$root/build/win-x86_64" \
    QUILLON_NATIVE_DIR="$root/build/native" QUILLON_E2E_ARCH=win64
python3 "$root/tools/wine-rig/winerig.py" create "$QUILLON_WINEPREFIX"
trap 'python3 "$root/tools/wine-rig/winerig.py" stop "$QUILLON_WINEPREFIX"' EXIT
if [ -n "${DISPLAY:-}" ]; then
    node "$root/tests/browser/web_demo.mjs"
else
    node "$root/tests/browser/web_demo.mjs" --screenshot "$root/build/web-demo.png"
fi
