#!/usr/bin/env bash
# The whole test suite from a fresh machine: set-up, every build, then one CTest run over the
# native unit tests, the fuzz runs, the DLL contract checks and the wine64 end-to-end tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$root/build/native"
ctest --output-on-failure -j 2 "$@"
