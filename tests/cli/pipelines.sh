#!/usr/bin/env bash
# The README's pipeline examples, as they stand there, with `kestra` on PATH: each must end
# well, and give what the same work gives through files. Each runs in a directory of its own,
# so that no example's outputs stand in for another's.
# Usage: pipelines.sh KESTRA README
set -euo pipefail
kestra=$(realpath "$1")
readme=$(realpath "$2")
data=$(dirname "$(realpath "$0")")/data/input
for tool in bgzip tabix samtools; do command -v $tool >/dev/null ||
  { echo "SKIPPED: $tool (Debian's tabix and samtools) is not installed"; exit 77; }; done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
mkdir bin && ln -s "$kestra" bin/kestra
export PATH=$tmp/bin:$PATH

# g.fa: entries with A-rich stretches to mask, one of them without nucleotides.
cp "$data/compressed_genome.fa" g.fa
gzip -kn g.fa

# Each line of a block after the marker is an example.
awk '/^<!-- pipeline -->$/ { on = 1; next }
     on && /^```$/ { if (inside) on = 0; inside = !inside; next }
     inside' "$readme" >examples.txt
failed=0 count=0
bad() { echo "$*"; failed=1; }
while IFS= read -r line; do
  count=$((count + 1))
  mkdir "ex$count" && ln -s ../g.fa ../g.fa.gz "ex$count/"
  (cd "ex$count" && bash -euo pipefail -c "$line") >"ex$count.out" 2>"ex$count.err" ||
    bad "example $count failed: $line"$'\n'"$(cat "ex$count.err")"
done <examples.txt
[ "$count" -ge 3 ] || { echo "only $count examples found"; exit 1; }

# What the same work gives through files.
kestra g.fa ref --all-entries --no-report --bed --table -L --line-width 60 --summary >/dev/null 2>&1
kestra g.fa ref.L --all-entries --no-report --bed -L >/dev/null 2>&1
tail -n +2 ref.tsv | sort -t "$(printf '\t')" -k6,6g | head -n 5 >ref.top.tsv
samtools faidx ref.L.fas chr1:101-200 >ref.region.fa
awk '$1 == "chr1"' ref.bed >ref.chr1.bed
[ -s ref.chr1.bed ] || bad "no segment of chr1 to look up"
# Each output an example writes (read through cat or zcat), against what files give; every
# example that wrote it is compared, and one at least must have.
while read -r out read ref; do
  compgen -G "ex*/$out" >/dev/null || bad "no example wrote $out"
  for file in ex*/"$out"; do
    [ ! -e "$file" ] || $read "$file" | cmp - "$ref" || bad "$file differs from $ref"
  done
done <<'ROWS'
g.bed.gz zcat ref.bed
top.tsv cat ref.top.tsv
g.masked.fa cat ref.fas
g.summary.tsv cat ref.summary.tsv
g.fas.gz zcat ref.L.fas
region.fa cat ref.region.fa
chr1.bed cat ref.chr1.bed
ROWS
[ "$failed" -eq 0 ] && echo "the README's pipelines give what files give"
exit "$failed"
