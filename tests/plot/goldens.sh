#!/usr/bin/env bash
# The reports, BEDs, tables and indexes in data/ that kestra-plot's tests read are the ones
# the built kestra writes, as test_plot.py's header says they were made (the .fai of the
# masked FASTA by --index, which the end-to-end tests hold to samtools' own). With
# KESTRA_UPDATE_GOLDENS set, they are written from the build instead.
# Usage: goldens.sh KESTRA
set -euo pipefail
kestra=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$root/tests/plot/data"
failed=0
for run in "lambda $root/examples/lambda.fa --all-segments" \
    "three three.fa --all-entries -R:AT"; do
  read -r name input options <<<"$run"
  # shellcheck disable=SC2086  # the options are words
  "$kestra" "$input" "$work/$name" $options --bed --table --summary -L --index >/dev/null 2>&1
  for file in "$name".{seg,bed,tsv,summary.tsv,fas.fai}; do
    if [ -n "${KESTRA_UPDATE_GOLDENS:-}" ]; then cmp -s "$work/$file" "$file" || cp "$work/$file" .
    else cmp "$work/$file" "$file" || failed=1; fi
  done
done
exit "$failed"
