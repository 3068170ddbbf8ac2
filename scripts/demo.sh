#!/usr/bin/env bash
# The main job: set-up, build, then quillon.dll under wine64 answering requests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" demo >/dev/null  # only what the demo runs
exec python3 "$root/scripts/demo.py"
