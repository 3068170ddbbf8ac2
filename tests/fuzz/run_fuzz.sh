#!/usr/bin/env bash
# run_fuzz.sh TARGET CORPUS SECONDS: a bounded run on a scratch copy of the corpus, failing on
# any finding.
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$scratch/artifacts"
[ -d "$2" ] && cp -r "$2/." "$scratch/corpus/"
"$1" -max_total_time="$3" -rss_limit_mb=2048 -max_len=1100000 \
    -artifact_prefix="$scratch/artifacts/" -print_final_stats=1 "$scratch/corpus" 2>&1 | tail -n 15
