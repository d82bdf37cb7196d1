#!/usr/bin/env bash
# The README's pipeline examples, as they stand there, with `kestra` on PATH: each must end
# well, and give what the same work gives through files.
# Usage: pipelines.sh KESTRA README
set -euo pipefail
kestra=$(realpath "$1")
readme=$(realpath "$2")
for tool in bgzip tabix samtools; do
  if ! command -v $tool >/dev/null; then
    echo "SKIPPED: $tool (Debian's tabix and samtools) is not installed"
    exit 77
  fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
mkdir bin
ln -s "$kestra" bin/kestra
export PATH=$tmp/bin:$PATH

# g.fa: a few entries, some with A-rich stretches to mask, one of them without nucleotides.
python3 - <<'PY'
import random
r = random.Random(3)
with open("g.fa", "w") as f:
    for k in range(6):
        seq = "".join(r.choice("ACGT") for _ in range(r.randint(500, 4000)))
        if k % 2:
            for _ in range(4):
                p = r.randrange(len(seq) - 60)
                seq = seq[:p] + "".join(r.choice("AAAAAAAT") for _ in range(50)) + seq[p + 50:]
        if k == 3:
            seq = "N" * 300
        f.write(f">chr{k} test\n" + "".join(seq[i:i + 70] + "\n" for i in range(0, len(seq), 70)))
PY
gzip -kn g.fa

awk '/^<!-- pipeline -->$/ { on = 1; next }
     on && /^```$/ { if (inside) { print "#END"; on = 0; inside = 0 } else inside = 1; next }
     inside' "$readme" >examples.txt
failed=0
count=0
while IFS= read -r line; do
  [ "$line" = "#END" ] && continue
  count=$((count + 1))
  if ! bash -euo pipefail -c "$line" >"example$count.out" 2>"example$count.err"; then
    echo "example $count failed: $line"
    cat "example$count.err"
    failed=1
  fi
done <examples.txt
[ "$count" -ge 3 ] || { echo "only $count examples found"; exit 1; }

# What the same work gives through files.
kestra g.fa ref --all-entries --no-report --bed --table -L --line-width 60 --summary >/dev/null 2>&1
kestra g.fa ref.L --all-entries --no-report --bed -L >/dev/null 2>&1
same() { cmp "$1" "$2" || { echo "$1 differs from $2"; failed=1; }; }
zcat g.bed.gz >g.bed
same g.bed ref.bed
tail -n +2 ref.tsv | sort -t "$(printf '\t')" -k6,6g | head -n 5 >ref.top.tsv
same top.tsv ref.top.tsv
same g.masked.fa ref.fas
same g.summary.tsv ref.summary.tsv
# The compressed, indexed copies: whole, and the regions their indexes give.
zcat g.fas.gz >g.fas
same g.fas ref.L.fas
zcat g.bed.gz >g.all.bed
same g.all.bed ref.L.bed
samtools faidx ref.L.fas chr1:101-200 >ref.region.fa
same region.fa ref.region.fa
awk '$1 == "chr1"' ref.L.bed >ref.chr1.bed
[ -s ref.chr1.bed ] || { echo "no segment of chr1 to look up"; failed=1; }
same chr1.bed ref.chr1.bed
[ "$failed" -eq 0 ] && echo "the README's pipelines give what files give"
exit "$failed"
