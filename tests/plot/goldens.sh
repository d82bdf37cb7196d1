#!/usr/bin/env bash
# The reports, BEDs, tables and indexes in data/ that kestra-plot's tests read are the ones
# the built kestra writes, as test_plot.py's header says they were made (the .fai of the
# masked FASTA by --index, which the end-to-end tests hold to samtools' own). With
# KESTRA_UPDATE_GOLDENS set, they are written from the build instead.
# Usage: goldens.sh KESTRA
set -euo pipefail
kestra=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
data=$root/tests/plot/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root"
"$kestra" examples/lambda.fa "$work/lambda" --bed --table --all-segments --summary -L --index \
  >/dev/null 2>&1
"$kestra" tests/plot/data/three.fa "$work/three" --all-entries -R:AT --bed --table --summary -L \
  --index >/dev/null 2>&1
failed=0
for name in lambda three; do
  for suffix in seg bed tsv summary.tsv fas.fai; do
    if [ -n "${KESTRA_UPDATE_GOLDENS:-}" ]; then
      cmp -s "$work/$name.$suffix" "$data/$name.$suffix" || cp "$work/$name.$suffix" "$data/"
    elif ! cmp "$work/$name.$suffix" "$data/$name.$suffix"; then
      failed=1
    fi
  done
done
exit "$failed"
