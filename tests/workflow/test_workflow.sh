#!/usr/bin/env bash
# The workflow against direct KESTRA runs: three genomes (one gzip'd) through the workflow
# give the bytes of `kestra --all-entries --summary`, the same again when each genome is
# analysed in three parts, and a dry rerun finds nothing left to do. The totals of all
# samples (summary.tsv, and kestra_mqc.tsv read as MultiQC reads it) are those of KESTRA's
# summary files, masked positions counted without a masked copy too. A sample with no entry
# to analyse fails alone: with --keep-going the other samples' outputs are all written.
# Usage: test_workflow.sh KESTRA [SNAKEMAKE]
set -euo pipefail

kestra=$(realpath "$1")
snakemake=${2:-snakemake}
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v "$snakemake" >/dev/null; then
  echo "SKIPPED: $snakemake is not installed"
  exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
export XDG_CACHE_HOME=$tmp/cache  # where Snakemake would otherwise keep a cache of its own

# contigs: entries of mixed composition, case and line width, one starting inside a line, one
# named with a leading '#' (a summary file's entry all the same, not a comment).
# scaffolds: nine entries, the middle three of which cannot be analysed: in three parts,
# one part has no entry KESTRA can analyse. gaps: nothing to analyse at all.
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

with open("gaps.fa", "w") as f:
    f.write(">gap1\nNNNNNNNN\n>gap2\n>gap3\n----\n")
EOF
printf 'sample\tpath\nlambda\t%s\ncontigs\tcontigs.fa\nscaffolds\tscaffolds.fa.gz\n' \
  "$root/examples/lambda.fa" >samples.tsv
# The plotting tool is not under test: a copy of the report shows it ran on it.
printf '#!/bin/sh\ncp "$1" "$3"\n' >plot
chmod +x plot

workflow() {
  "$snakemake" --snakefile "$root/workflow/Snakefile" --directory "$tmp" --cores 2 \
    --config samples=samples.tsv kestra="$kestra" kestra_plot="$tmp/plot" "$@"
}
failed=0
same() { cmp "$1" "$2" || failed=1; }

workflow outdir=whole
workflow outdir=sharded shards=3
# No masked copy: the masked positions are counted all the same.
workflow outdir=unmasked switches=--bed

mkdir direct
: >expected-summary.tsv
while IFS=$'\t' read -r sample path; do
  [ "$sample" = sample ] && continue
  "$kestra" "$path" "direct/$sample" -L --bed --all-entries --summary >"direct/$sample.out"
  for ext in seg fas bed summary.tsv; do
    same "direct/$sample.$ext" "whole/$sample.$ext"
    same "whole/$sample.$ext" "sharded/$sample.$ext"
  done
  for ext in seg bed summary.tsv; do
    same "whole/$sample.$ext" "unmasked/$sample.$ext"
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
python3 "$root/tests/workflow/check_mqc.py" whole/kestra_mqc.tsv samples.tsv direct || failed=1
for run in sharded unmasked; do
  same whole/summary.tsv "$run/summary.tsv"
  same whole/kestra_mqc.tsv "$run/kestra_mqc.tsv"
done

for run in "outdir=whole" "outdir=sharded shards=3"; do
  # shellcheck disable=SC2086  # the two settings of a run are two words
  plan=$(workflow $run --dry-run 2>&1) || true
  if ! grep -q '^Nothing to be done' <<<"$plan"; then
    echo "$plan"
    echo "a dry rerun ($run) found work left to do"
    failed=1
  fi
done

# Switches that would move an output away from where the workflow looks for it, or set what
# the config sets, are refused before any job runs.
for refused in "--summary-out|--bed --summary-out=elsewhere.tsv" \
    "--fasta-out|-L --fasta-out x.fa" "--shard|--shard 1/2" "--compress|-L --compress"; do
  switches=${refused#*|}
  if workflow outdir=refused "switches=$switches" --dry-run >refused.log 2>&1 ||
      ! grep -qe "switches: leave out ${refused%%|*};" refused.log; then
    cat refused.log
    echo "switches '$switches' were not refused"
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
  cp -r "$root/workflow" "$root/tools" "$checkout/"
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
fi

[ "$failed" -eq 0 ] && echo "workflow outputs match direct runs"
exit "$failed"
