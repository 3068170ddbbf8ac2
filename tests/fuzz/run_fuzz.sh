#!/usr/bin/env bash
# run_fuzz.sh TARGET CORPUS SECONDS: a bounded libFuzzer run that leaves the committed corpus
# untouched (new inputs go to a scratch copy) and fails on any crash, leak or sanitizer report.
set -euo pipefail
target=$1 corpus=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$scratch/artifacts"
[ -d "$corpus" ] && cp -r "$corpus/." "$scratch/corpus/"
"$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1100000 \
    -artifact_prefix="$scratch/artifacts/" -print_final_stats=1 "$scratch/corpus" 2>&1 | tail -n 15
