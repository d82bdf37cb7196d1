#!/usr/bin/env bash
# The workflow against direct KESTRA runs: four genomes (one gzip'd, one bgzip'd over several
# blocks) through the workflow give the bytes of `kestra --all-entries --summary` on their
# plain text, the same again when each genome is analysed in three parts, and a dry rerun
# finds nothing left to do. With compress and index, whole and in parts, the .gz outputs hold
# those bytes, and samtools and tabix read regions through the indexes as they read them from
# the plain files. The totals of all samples (summary.tsv, and kestra_mqc.tsv read as MultiQC
# reads it) are those of KESTRA's summary files, masked positions counted without a masked
# copy too. A background and an E-value threshold set in the config reach every part: in
# three parts, a sample's outputs are one direct run's with them. Switches and settings the
# workflow cannot honour are refused, naming the setting to use. A sample with no entry to analyse fails alone: with --keep-going the other samples'
# outputs are all written.
# Usage: test_workflow.sh KESTRA [SNAKEMAKE]
set -euo pipefail

kestra=$(realpath "$1")
snakemake=${2:-snakemake}
root=$(cd "$(dirname "$0")/../.." && pwd)
for program in "$snakemake" bgzip tabix samtools; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIPPED: $program is not installed"
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
export XDG_CACHE_HOME=$tmp/cache  # where Snakemake would otherwise keep a cache of its own

# contigs: entries of mixed composition, case and line width, one starting inside a line, one
# named with a leading '#' (a summary file's entry all the same, not a comment).
# scaffolds: nine entries, the middle three of which cannot be analysed: in three parts,
# one part has no entry KESTRA can analyse. assembly: fifty entries with A-rich stretches,
# bgzip'd below into blocks that parts cut across. gaps: nothing to analyse at all.
python3 - <<'EOF'
import gzip, random
r = random.Random(11)

def letters(n, bias):
    weights = {"even": (1, 1, 1, 1), "at": (6, 1, 1, 6), "a": (12, 1, 1, 1)}[bias]
    return "".join(r.choices("ACGT", weights, k=n))

def record(name, seq, width):
    lines = [seq[i:i + width] for i in range(0, len(seq), width)] if width else [seq]
    return f">{name}\n" + "".join(line + "\n" for line in lines if line)

with open("contigs.fa", "w") as f:
    for k in range(8):
        seq = "".join(letters(r.randint(200, 3000), r.choice(("even", "at", "a")))
                      for _ in range(r.randint(1, 4)))
        if k % 3 == 1:
            seq = seq[:500].lower() + "N" * 300 + seq[500:]
        text = record(f"{'#' if k == 6 else ''}contig{k} part of a test genome", seq,
                      (60, 80, 0)[k % 3])
        # A '>' inside a line starts an entry for KESTRA.
        f.write(text[:-1] + "ACGT" if k == 4 else text)

with gzip.open("scaffolds.fa.gz", "wt") as f:
    unusable = {3: "N" * 700, 4: "", 5: "nnnn"}
    for k in range(9):
        seq = unusable[k] if k in unusable else \
            letters(4000, "even") + letters(400, "a") + letters(3000, "at")
        f.write(record(f"scaffold{k}", seq, 70))

with open("assembly.fa", "w") as f:
    for k in range(50):
        seq = "".join(letters(r.randint(300, 3000), bias)
                      for bias in ("even", "a", "even", "at", "a", "even"))
        f.write(record(f"assembly{k}", seq, 60))

with open("gaps.fa", "w") as f:
    f.write(">gap1\nNNNNNNNN\n>gap2\n>gap3\n----\n")
EOF
bgzip assembly.fa
# Parts of a bgzip'd input cut across its blocks only if it has several.
blocks=$(python3 -c 'import sys
data, at, count = open(sys.argv[1], "rb").read(), 0, 0
while at < len(data):
    at, count = at + int.from_bytes(data[at + 16:at + 18], "little") + 1, count + 1
print(count)' assembly.fa.gz)
if [ "$blocks" -lt 4 ]; then
  echo "assembly.fa.gz has $blocks BGZF blocks: too few for its parts to cut across them"
  exit 1
fi
printf 'sample\tpath\nlambda\t%s\ncontigs\tcontigs.fa\nscaffolds\tscaffolds.fa.gz\n' \
  "$root/examples/lambda.fa" >samples.tsv
printf 'assembly\tassembly.fa.gz\n' >>samples.tsv
# The plotting tool is not under test: the text of the report it is given (which it reads
# compressed or not) shows it ran on it.
# shellcheck disable=SC2016  # for the script, not for here
printf '#!/bin/sh\ngzip -dcf "$1" >"$3"\n' >plot
chmod +x plot

workflow() {
  "$snakemake" --snakefile "$root/workflow/Snakefile" --directory "$tmp" --cores 2 \
    --config samples=samples.tsv kestra="$kestra" kestra_plot="$tmp/plot" "$@"
}
failed=0
same() { cmp "$1" "$2" || failed=1; }

workflow outdir=whole
# In parts, the joined masked FASTA indexed by samtools.
workflow outdir=sharded shards=3 index=true
# No masked copy: the masked positions are counted all the same.
workflow outdir=unmasked switches=--bed
# Compressed and indexed, whole (KESTRA's own indexes) and in parts (joined, then indexed).
packed=(compress=true index=true "switches=-L --bed --table")
for shards in 1 3; do
  workflow outdir=packed$shards shards=$shards "${packed[@]}"
done
# A background and an E-value reach every part: the input's own, and a file's.
workflow outdir=significant shards=3 background=input mask_evalue=0.01
workflow outdir=against shards=3 background=contigs.fa mask_evalue=0.5
# Level 0 stores the text as it is: the level reaches KESTRA.
printf 'sample\tpath\nlambda\t%s\n' "$root/examples/lambda.fa" >lambda.tsv
workflow samples=lambda.tsv outdir=stored compress=true compress_level=0

# Each genome's plain text, read from a pipe (gzip -dcf passes a plain file through).
mkdir direct
: >expected-summary.tsv
samples=()
while IFS=$'\t' read -r sample path; do
  [ "$sample" = sample ] && continue
  samples+=("$sample")
  gzip -dcf "$path" |
    "$kestra" - "direct/$sample" -L --bed --table --all-entries --summary >"direct/$sample.out"
  for ext in seg fas bed summary.tsv; do
    same "direct/$sample.$ext" "whole/$sample.$ext"
    same "whole/$sample.$ext" "sharded/$sample.$ext"
  done
  for ext in seg bed summary.tsv; do
    same "whole/$sample.$ext" "unmasked/$sample.$ext"
  done
  # In three parts as one run over the file.
  for significance in "significant --background input --mask-evalue 0.01" \
      "against --background contigs.fa --mask-evalue 0.5"; do
    read -r run options <<<"$significance"
    # shellcheck disable=SC2086  # the options are words
    "$kestra" "$path" "direct/$sample.$run" -L --bed --all-entries --summary $options \
      >/dev/null
    for ext in seg fas bed summary.tsv; do
      same "direct/$sample.$run.$ext" "$run/$sample.$ext"
    done
  done
  # Every line after the column names is an entry's, whatever its name starts with.
  awk -F'\t' -v s="$sample" '
    NR == 1 { next }
    { letters += $2 }
    $10 == "analysed" { analysed++; segments += $5; masked += $6 }
    $10 == "skipped" { skipped++ }
    END { printf "%s\t%d\t%d\t%d\t%d\t%d\t%.2f\n", s, analysed, skipped, letters, segments,
          masked, 100 * masked / letters }' "direct/$sample.summary.tsv" >>expected-summary.tsv
done <samples.tsv
if [ -e unmasked/contigs.fas ]; then
  echo "unmasked/contigs.fas was written without -F or -L"
  failed=1
fi
same expected-summary.tsv <(tail -n +2 whole/summary.tsv)
python3 "$root/tests/workflow/check_mqc.py" whole/kestra_mqc.tsv whole/summary.tsv || failed=1
for run in sharded unmasked packed1 packed3; do
  same whole/summary.tsv "$run/summary.tsv"
  same whole/kestra_mqc.tsv "$run/kestra_mqc.tsv"
done

# Regions of the entries listed in a .fai as samtools and tabix name them, with the bounds
# they stand for, one a line: each entry of 3 letters or more whole, and its middle third.
regions() {
  awk -F'\t' '$2 >= 3 {
    printf "%s\t%s\t1\t%d\n", $1, $1, $2
    printf "%s:%d-%d\t%s\t%d\t%d\n", $1, int($2 / 3) + 1, int(2 * $2 / 3), $1,
      int($2 / 3) + 1, int(2 * $2 / 3) }' "$1"
}
# The lines of a plain BED file that tabix gives for each region in turn: those of its entry
# that overlap it. A line whose name starts with '#' is a comment to tabix.
bed_lines() {
  awk -F'\t' 'NR == FNR { line[++n] = $0; name[n] = $1; start[n] = $2; end[n] = $3; next }
    $2 !~ /^#/ { for (i = 1; i <= n; i++)
      if (name[i] == $2 && start[i] < $4 && end[i] >= $3) print line[i] }' "$1" "$2"
}

# Compressed outputs hold the plain bytes; the summary stays plain and the plot reads the
# compressed report. Through the indexes (KESTRA's whole, samtools' and tabix's of the parts
# joined), samtools and tabix find in them what they find in the plain files.
bgzf_end=$(printf '' | bgzip -c | od -An -tx1)
for sample in "${samples[@]}"; do
  samtools faidx "direct/$sample.fas"
  same "direct/$sample.fas.fai" "sharded/$sample.fas.fai"
  regions "direct/$sample.fas.fai" >"direct/$sample.regions"
  mapfile -t parts < <(cut -f1 "direct/$sample.regions")
  mapfile -t queries < <(awk -F'\t' '$2 !~ /^#/ { print $1 }' "direct/$sample.regions")
  samtools faidx "direct/$sample.fas" "${parts[@]}" >"direct/$sample.parts.fa"
  bed_lines "direct/$sample.bed" "direct/$sample.regions" >"direct/$sample.queried.bed"
  for run in packed1 packed3; do
    for ext in seg fas bed tsv; do
      same "direct/$sample.$ext" <(bgzip -dc "$run/$sample.$ext.gz")
      # htslib takes a file without this block at its end for one cut short.
      if [ "$(tail -c 28 "$run/$sample.$ext.gz" | od -An -tx1)" != "$bgzf_end" ]; then
        echo "$run/$sample.$ext.gz does not end with BGZF's end-of-file block"
        failed=1
      fi
    done
    same "direct/$sample.summary.tsv" "$run/$sample.summary.tsv"
    same "whole/$sample.png" "$run/$sample.png"
    for index in fas.gz.fai fas.gz.gzi bed.gz.tbi; do
      [ -s "$run/$sample.$index" ] || { echo "no $run/$sample.$index"; failed=1; }
    done
    samtools faidx "$run/$sample.fas.gz" "${parts[@]}" >"$run/$sample.parts.fa"
    same "direct/$sample.parts.fa" "$run/$sample.parts.fa"
    tabix "$run/$sample.bed.gz" "${queries[@]}" >"$run/$sample.queried.bed"
    same "direct/$sample.queried.bed" "$run/$sample.queried.bed"
  done
done
# The regions read something: letters of every sample, and segments of every sample that has
# segments tabix can see.
for sample in "${samples[@]}"; do
  [ -s "direct/$sample.parts.fa" ] || { echo "$sample: no letters in its regions"; failed=1; }
  if grep -qv '^#' "direct/$sample.bed" && [ ! -s "direct/$sample.queried.bed" ]; then
    echo "$sample: no segment in its regions"
    failed=1
  fi
done
for run in packed1 packed3; do
  for ext in seg fas bed tsv; do
    [ ! -e "$run/contigs.$ext" ] || { echo "$run/contigs.$ext was written plain"; failed=1; }
  done
done
same whole/lambda.fas <(bgzip -dc stored/lambda.fas.gz)
if [ "$(stat -c %s stored/lambda.fas.gz)" -le "$(stat -c %s whole/lambda.fas)" ] ||
    [ "$(stat -c %s packed1/lambda.fas.gz)" -ge "$(stat -c %s whole/lambda.fas)" ]; then
  echo "compress_level=0 did not store the masked FASTA as it is, or the default did too"
  failed=1
fi

for run in whole sharded packed3; do
  case $run in
    whole) settings=() ;;
    sharded) settings=(shards=3 index=true) ;;
    packed3) settings=(shards=3 "${packed[@]}") ;;
  esac
  plan=$(workflow outdir=$run "${settings[@]}" --dry-run 2>&1) || true
  if ! grep -q '^Nothing to be done' <<<"$plan"; then
    echo "$plan"
    echo "a dry rerun ($run) found work left to do"
    failed=1
  fi
done

# Switches that would move an output away from where the workflow looks for it, or set what
# the config sets, are refused before any job runs, naming the setting to use instead; so are
# settings of the wrong kind.
named="outputs are <outdir>/<sample> with a suffix: set config 'outdir' (and 'compress')"
for refused in \
    "switches=--bed --summary-out=elsewhere.tsv|switches: leave out --summary-out; $named" \
    "switches=-L --fasta-out x.fa.gz|switches: leave out --fasta-out; $named" \
    "switches=--shard 1/2|switches: leave out --shard; set config 'shards' instead" \
    "switches=-L --compress|switches: leave out --compress; set config 'compress' instead" \
    "switches=-L --compress-level=1|leave out --compress-level; set config 'compress_level'" \
    "switches=--bed --index|switches: leave out --index; set config 'index' instead" \
    "compress=yes|config 'compress' must be true or false" \
    "compress_level=10|config 'compress_level' must be a whole number from 0 to 9" \
    "index=1|config 'index' must be true or false" \
    "mask_evalue=-1|config 'mask_evalue' must be a number of at least 0, or empty"; do
  setting=${refused%%|*}
  if workflow outdir=refused "$setting" --dry-run >refused.log 2>&1 ||
      ! grep -qF "${refused#*|}" refused.log; then
    cat refused.log
    echo "'$setting' was not refused with: ${refused#*|}"
    failed=1
  fi
done

# One sample fails, in one run or in parts; the others are still written in full.
printf 'sample\tpath\ngaps\tgaps.fa\ncontigs\tcontigs.fa\n' >failing.tsv
for shards in 1 3; do
  if workflow samples=failing.tsv outdir=failing$shards shards=$shards --keep-going \
      >failing$shards.log 2>&1; then
    echo "a sample with nothing to analyse did not fail the run (shards=$shards)"
    failed=1
  fi
  for ext in seg fas bed summary.tsv; do
    same "whole/contigs.$ext" "failing$shards/contigs.$ext"
    if [ -e "failing$shards/gaps.$ext" ]; then
      echo "failing$shards/gaps.$ext was left behind"
      failed=1
    fi
  done
  for table in summary.tsv kestra_mqc.tsv; do
    if [ -e "failing$shards/$table" ]; then
      echo "failing$shards/$table was written although a sample failed"
      failed=1
    fi
  done
done

# The README's first run, as it stands there, in a copy of the checkout after `make run`
# (the binary under test in build/release); with the real plotting tool where matplotlib is.
if /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
  checkout=$tmp/checkout
  mkdir -p "$checkout/build/release" "$checkout/examples"
  cp -r "$root/workflow" "$root/tools" "$root/python" "$checkout/"
  cp "$root/examples/lambda.fa" "$checkout/examples/"
  ln -s "$kestra" "$checkout/build/release/kestra"
  awk '/^<!-- first workflow run -->$/ { on = 1; next }
       on && /^```$/ { if (inside) exit; inside = 1; next }
       inside' "$root/README.md" >first-run.sh
  if ! (cd "$checkout" && PATH=$(dirname "$snakemake"):/usr/bin:/bin bash -e "$tmp/first-run.sh") \
      >first-run.log 2>&1; then
    cat first-run.log
    echo "the README's first workflow run failed"
    failed=1
  fi
  for file in lambda.seg lambda.fas lambda.bed lambda.png lambda.summary.tsv summary.tsv \
      kestra_mqc.tsv; do
    [ -s "$checkout/results/$file" ] || { echo "no results/$file"; failed=1; }
  done
  same "whole/lambda.seg" "$checkout/results/lambda.seg"
  # Without a report, the plot is drawn from the compressed BED and the summary.
  printf 'sample\tpath\nlambda\t%s\n' "$root/examples/lambda.fa" >lambda.tsv
  if ! workflow samples=lambda.tsv outdir=fast kestra_plot="$root/tools/kestra-plot" \
      compress=true "switches=--no-report --bed" >fast.log 2>&1; then
    cat fast.log
    echo "the workflow could not draw lambda from its BED"
    failed=1
  fi
  [ "$(head -c 4 fast/lambda.png | od -An -c | tr -d ' ')" = '211PNG' ] ||
    { echo "no picture in fast/lambda.png"; failed=1; }
fi

[ "$failed" -eq 0 ] && echo "workflow outputs match direct runs"
exit "$failed"
