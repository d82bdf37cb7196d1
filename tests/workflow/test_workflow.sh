#!/usr/bin/env bash
# shellcheck disable=SC2015  # A && B || C: C when A or B fails
# The workflow against direct KESTRA runs: four genomes (one gzip'd, one bgzip'd over several
# blocks) through the workflow give the bytes of `kestra --all-entries --summary` on their
# plain text, the same again when each genome is analysed in three parts, and a dry rerun
# finds nothing left to do. With compress and index, whole and in parts, the .gz outputs hold
# those bytes, and samtools and tabix read regions through the indexes as they read them from
# the plain files. The totals of all samples (summary.tsv, and kestra_mqc.tsv read as MultiQC
# reads it) are those of KESTRA's summary files, masked positions counted without a masked
# copy too. A background and an E-value threshold set in the config reach every part: in
# three parts, a sample's outputs are one direct run's with them. Switches and settings the
# workflow cannot honour are refused, naming the setting to use. A sample with no entry to
# analyse fails alone: with --keep-going the other samples' outputs are all written.
# Usage: test_workflow.sh KESTRA MAKE_GENOME [SNAKEMAKE]
set -euo pipefail

kestra=$(realpath "$1") make_genome=$(realpath "$2")
snakemake=${3:-snakemake}
root=$(cd "$(dirname "$0")/../.." && pwd)
for program in "$snakemake" bgzip tabix samtools; do
  command -v "$program" >/dev/null || { echo "SKIPPED: $program is not installed"; exit 77; }
done
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT && cd "$tmp"
export XDG_CACHE_HOME=$tmp/cache  # where Snakemake would otherwise keep a cache of its own

# In data/: contigs, entries of mixed composition, case and line width, one starting inside a
# line, one named with a leading '#' (a summary file's entry all the same, not a comment);
# scaffolds, nine entries, the middle three of which cannot be analysed: in three parts, one
# part has no entry KESTRA can analyse; gaps, nothing to analyse. Made here by the bench's
# maker: assembly, fifty entries with A- and T-rich stretches, bgzip'd into blocks that parts
# cut across (only if it has several).
cp "$root"/tests/workflow/data/{contigs.fa,scaffolds.fa.gz,gaps.fa} .
"$make_genome" --entries 50 500000 assembly.fa && sed -i "s/^>.* part=/>assembly/" assembly.fa
# The index of a BGZF file notes the start of each block but the first.
bgzip -i assembly.fa && [ "$(od -An -tu8 -N8 assembly.fa.gz.gzi)" -ge 3 ] ||
  { echo "assembly.fa.gz has too few BGZF blocks for its parts to cut across them"; exit 1; }
rm assembly.fa.gz.gzi
tsv() { { printf 'sample\tpath\n'; printf '%s\t%s\n' "${@:2}"; } >"$1"; }
tsv samples.tsv lambda "$root/examples/lambda.fa" contigs contigs.fa \
  scaffolds scaffolds.fa.gz assembly assembly.fa.gz
tsv lambda.tsv lambda "$root/examples/lambda.fa"
tsv failing.tsv gaps gaps.fa contigs contigs.fa
# The plotting tool is not under test: the text of the report it is given (which it reads
# compressed or not) shows it ran on it.
# shellcheck disable=SC2016  # for the script, not for here
printf '#!/bin/sh\ngzip -dcf "$1" >"$3"\n' >plot && chmod +x plot

workflow() {
  "$snakemake" --snakefile "$root/workflow/Snakefile" --directory "$tmp" --cores 2 \
    --config samples=samples.tsv kestra="$kestra" kestra_plot="$tmp/plot" "$@"
}
failed=0
bad() { echo "$*"; failed=1; }
same() { cmp "$1" "$2" || failed=1; }

# Each run's outdir and config (shell words). In parts, the joined masked FASTA indexed by
# samtools. No masked copy: the masked positions are counted all the same. Compressed and
# indexed, whole (KESTRA's own indexes) and in parts (joined, then indexed). A background and
# an E-value reach every part: the input's own, and a file's. Level 0 stores the text as it is.
packed="compress=true index=true 'switches=-L --bed --table'"
declare -A runs=([whole]="" [sharded]="shards=3 index=true" [unmasked]=switches=--bed
  [packed1]="shards=1 $packed" [packed3]="shards=3 $packed"
  [significant]="shards=3 background=input mask_evalue=0.01"
  [against]="shards=3 background=contigs.fa mask_evalue=0.5"
  [stored]="samples=lambda.tsv compress=true compress_level=0")
for run in "${!runs[@]}"; do eval "workflow outdir=$run ${runs[$run]}"; done

# Each genome's plain text, read from a pipe (gzip -dcf passes a plain file through).
mkdir direct && : >expected-summary.tsv
bgzf_end=$(printf '' | bgzip -c | od -An -tx1)
while IFS=$'\t' read -r sample path; do
  d=direct/$sample
  gzip -dcf "$path" | "$kestra" - "$d" -L --bed --table --all-entries --summary >"$d.out"
  for out in {whole,sharded,unmasked}/"$sample".{seg,fas,bed,summary.tsv}; do
    [ "$out" = "unmasked/$sample.fas" ] || same "$d.${out#*/"$sample".}" "$out"
  done
  # In three parts as one run over the file.
  for run in significant against; do
    read -r _ background evalue <<<"${runs[$run]}"
    "$kestra" "$path" "$d.$run" -L --bed --all-entries --summary \
      --background "${background#*=}" --mask-evalue "${evalue#*=}" >/dev/null
    for ext in seg fas bed summary.tsv; do same "$d.$run.$ext" "$run/$sample.$ext"; done
  done
  # Every line after the column names is an entry's, whatever its name starts with.
  awk -F'\t' -v s="$sample" 'NR == 1 { next } { letters += $2 } $10 == "skipped" { skipped++ }
    $10 == "analysed" { analysed++; segments += $5; masked += $6 }
    END { printf "%s\t%d\t%d\t%d\t%d\t%d\t%.2f\n", s, analysed, skipped, letters, segments,
          masked, 100 * masked / letters }' "$d.summary.tsv" >>expected-summary.tsv
  # Compressed outputs hold the plain bytes (no plain copy beside them); the summary stays plain
  # and the plot reads the compressed report. Through the indexes (KESTRA's whole, samtools'
  # and tabix's of the parts joined), samtools and tabix find in them what they find in the
  # plain files, and the regions read something: letters of every sample, and segments of
  # every sample that has segments tabix can see.
  samtools faidx "$d.fas"
  same "$d.fas.fai" "sharded/$sample.fas.fai"
  # Regions of the entries as samtools and tabix name them, with the bounds they stand for,
  # one a line: each entry of 3 letters or more whole, and its middle third.
  awk -F'\t' '$2 >= 3 { a = int($2 / 3) + 1; b = int(2 * $2 / 3)
    printf "%s\t%s\t1\t%d\n%s:%d-%d\t%s\t%d\t%d\n", $1, $1, $2, $1, a, b, $1, a, b }' \
    "$d.fas.fai" >"$d.regions"
  mapfile -t parts < <(cut -f1 "$d.regions")
  mapfile -t queries < <(awk -F'\t' '$2 !~ /^#/ { print $1 }' "$d.regions")
  samtools faidx "$d.fas" "${parts[@]}" >"$d.parts.fa"
  # The lines of the plain BED file that tabix gives for each region in turn: those of its
  # entry that overlap it. A line whose name starts with '#' is a comment to tabix.
  awk -F'\t' 'NR == FNR { line[++n] = $0; name[n] = $1; start[n] = $2; end[n] = $3; next }
    $2 !~ /^#/ { for (i = 1; i <= n; i++)
      if (name[i] == $2 && start[i] < $4 && end[i] >= $3) print line[i] }' \
    "$d.bed" "$d.regions" >"$d.queried.bed"
  [ -s "$d.parts.fa" ] || bad "$sample: no letters in its regions"
  ! grep -qv '^#' "$d.bed" || [ -s "$d.queried.bed" ] || bad "$sample: no segment in its regions"
  for run in packed1 packed3; do
    for ext in seg fas bed tsv; do
      same "$d.$ext" <(bgzip -dc "$run/$sample.$ext.gz")
      [ ! -e "$run/$sample.$ext" ] || bad "$run/$sample.$ext was written plain"
      # htslib takes a file without this block at its end for one cut short.
      [ "$(tail -c 28 "$run/$sample.$ext.gz" | od -An -tx1)" = "$bgzf_end" ] ||
        bad "$run/$sample.$ext.gz does not end with BGZF's end-of-file block"
    done
    same "$d.summary.tsv" "$run/$sample.summary.tsv"
    same "whole/$sample.png" "$run/$sample.png"
    for f in "$run/$sample".{fas.gz.fai,fas.gz.gzi,bed.gz.tbi}; do [ -s "$f" ] || bad "no $f"; done
    same "$d.parts.fa" <(samtools faidx "$run/$sample.fas.gz" "${parts[@]}" || echo failed)
    same "$d.queried.bed" <(tabix "$run/$sample.bed.gz" "${queries[@]}" || echo failed)
  done
done < <(tail -n +2 samples.tsv)
[ ! -e unmasked/contigs.fas ] || bad "unmasked/contigs.fas was written without -F or -L"
same expected-summary.tsv <(tail -n +2 whole/summary.tsv)
python3 "$root/tests/workflow/check_mqc.py" whole/kestra_mqc.tsv whole/summary.tsv || failed=1
for t in {sharded,unmasked,packed1,packed3}/{summary,kestra_mqc}.tsv; do
  same "whole/${t#*/}" "$t"; done

same whole/lambda.fas <(bgzip -dc stored/lambda.fas.gz)
[ "$(stat -c %s stored/lambda.fas.gz)" -gt "$(stat -c %s whole/lambda.fas)" ] &&
  [ "$(stat -c %s packed1/lambda.fas.gz)" -lt "$(stat -c %s whole/lambda.fas)" ] ||
  bad "compress_level=0 did not store the masked FASTA as it is, or the default did too"

for run in "${!runs[@]}"; do
  eval "workflow outdir=$run ${runs[$run]} --dry-run" >dry.log 2>&1 || true
  grep -q '^Nothing to be done' dry.log || bad "$(cat dry.log)"$'\n'"dry rerun $run: work left"
done

# Switches that would move an output away from where the workflow looks for it, or set what
# the config sets, are refused before any job runs, naming the setting to use instead; so are
# settings of the wrong kind (data/refused.txt).
mapfile -t refusals < <(grep -v '^#' "$root/tests/workflow/data/refused.txt")
for refused in "${refusals[@]}"; do
  ! workflow outdir=refused "${refused%%|*}" --dry-run >refused.log 2>&1 &&
    grep -qF "${refused#*|}" refused.log ||
    bad "$(cat refused.log)"$'\n'"'${refused%%|*}' was not refused with: ${refused#*|}"
done

# One sample fails, in one run or in parts; the others are still written in full.
for shards in 1 3; do
  out=failing$shards
  ! workflow samples=failing.tsv outdir=$out shards=$shards --keep-going >$out.log 2>&1 ||
    bad "a sample with nothing to analyse did not fail the run (shards=$shards)"
  for ext in seg fas bed summary.tsv; do same "whole/contigs.$ext" "$out/contigs.$ext"; done
  for file in "$out"/{gaps.{seg,fas,bed,summary.tsv},summary.tsv,kestra_mqc.tsv}; do
    [ ! -e "$file" ] || bad "$file was written although a sample failed"
  done
done

# The README's first run, as it stands there, in a copy of the checkout after `make run`
# (the binary under test in build/release); with the real plotting tool where matplotlib is.
if /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
  checkout=$tmp/checkout
  mkdir -p "$checkout"/{build/release,examples} && ln -s "$kestra" "$checkout/build/release/kestra"
  cp -r "$root"/{workflow,tools,python} "$checkout/"
  cp "$root/examples/lambda.fa" "$checkout/examples/"
  awk '/^<!-- first workflow run -->$/ { on = 1; next }
       on && /^```$/ { if (inside) exit; inside = 1; next } inside' "$root/README.md" >first-run.sh
  (cd "$checkout" && PATH=$(dirname "$snakemake"):/usr/bin:/bin bash -e "$tmp/first-run.sh") \
    >first-run.log 2>&1 || bad "$(cat first-run.log)"$'\n'"the README's first workflow run failed"
  for file in lambda.{seg,fas,bed,png,summary.tsv} summary.tsv kestra_mqc.tsv; do
    [ -s "$checkout/results/$file" ] || bad "no results/$file"
  done
  same "whole/lambda.seg" "$checkout/results/lambda.seg"
  # Without a report, the plot is drawn from the compressed BED and the summary.
  workflow samples=lambda.tsv outdir=fast kestra_plot="$root/tools/kestra-plot" compress=true \
    "switches=--no-report --bed" >fast.log 2>&1 ||
    bad "$(cat fast.log)"$'\n'"the workflow could not draw lambda from its BED"
  [ "$(head -c 4 fast/lambda.png | od -An -c | tr -d ' ')" = '211PNG' ] || bad "no fast/lambda.png"
fi

[ "$failed" -eq 0 ] && echo "workflow outputs match direct runs"
exit "$failed"
