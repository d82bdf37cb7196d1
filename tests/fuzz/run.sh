#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR for SECONDS each, from a copy of the committed corpus,
# and prints the executions and corpus size of each. Any finding fails the script.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in fasta options run; do
  mkdir -p "$work/$target"
  cp "$here/corpus/$target"/* "$work/$target"/ 2>/dev/null || true
  "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=4096 -artifact_prefix="$work/$target-" "$work/$target" 2>"$work/$target.log" || {
    tail -n 40 "$work/$target.log"
    echo "fuzz target $target failed"
    exit 1
  }
  runs=$(grep -o 'Done [0-9]* runs' "$work/$target.log" | tail -n 1)
  echo "$target: ${runs:-no summary}, corpus $(ls "$work/$target" | wc -l) inputs"
done
