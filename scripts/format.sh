#!/usr/bin/env bash
# Applies the project's .clang-format to every C and C++ file in git; with --check, changes
# nothing and fails listing the files that differ (the test command runs it that way).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    differ=()
    for f in "${files[@]}"; do
        clang-format --style=file "$f" | cmp -s - "$f" || differ+=("$f")
    done
    if [ ${#differ[@]} -gt 0 ]; then
        printf 'format: %s differs from .clang-format (scripts/format.sh fixes it)\n' "${differ[@]}"
        exit 1
    fi
    echo "format: ${#files[@]} files as .clang-format has them"
else
    clang-format --style=file -i "${files[@]}"
fi
