#!/usr/bin/env bash
# Wall-time benchmark of kestra on a bacterial genome, with dustmasker as the reference.
#
# Usage: bench/run.sh   (from anywhere; builds, fetches and times in one go)
# Environment:
#   RUNS=5              timed runs per row; the best (smallest) wall time is kept
#   BENCH_DATA=DIR      genome cache (default bench/data, git-ignored)
#   BENCH_DEB_ROOT=DIR  a directory where the example packages are already extracted
#                       (dpkg -x); consulted before downloading
#   KESTRA=PATH         use this binary instead of building build/release/kestra
#
# To add a row: t=$(time_best CMD ARGS...); row_time "label" "$t"; and for a target,
# row_ratio "a/b" "$(ratio "$t" "$t_other")" LIMIT.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=${RUNS:-5}
BENCH_DATA=${BENCH_DATA:-$REPO/bench/data}
BENCH_DEB_ROOT=${BENCH_DEB_ROOT:-}
BUILD_DIR=$REPO/build/release

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kestra-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

log() { printf '%s\n' "$*" >&2; }
die() { log "run.sh: $*"; exit 1; }

# ---- build -------------------------------------------------------------------------------

build_kestra() {
  if [[ -n "${KESTRA:-}" ]]; then
    [[ -x "$KESTRA" ]] || die "KESTRA=$KESTRA is not executable"
    RAN1_DRAWS=${RAN1_DRAWS:-$(dirname "$KESTRA")/bench/ran1_draws}
    return
  fi
  log "building $BUILD_DIR (Release)"
  cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF \
    -DKESTRA_BENCH=ON >/dev/null
  cmake --build "$BUILD_DIR" --target kestra ran1_draws -j "$(nproc 2>/dev/null || echo 2)" \
    >/dev/null \
    || die "build failed (run: cmake --build $BUILD_DIR)"
  KESTRA=$BUILD_DIR/kestra
  RAN1_DRAWS=$BUILD_DIR/bench/ran1_draws
}

# ---- data --------------------------------------------------------------------------------

# Prints the path of REL (a path inside package PKG) in the cache, in BENCH_DEB_ROOT, or
# after downloading PKG with apt-get and extracting it into the cache.
package_file() {
  local pkg=$1 rel=$2
  if [[ -f "$BENCH_DATA/x/$rel" ]]; then printf '%s\n' "$BENCH_DATA/x/$rel"; return; fi
  if [[ -n "$BENCH_DEB_ROOT" && -f "$BENCH_DEB_ROOT/$rel" ]]; then
    printf '%s\n' "$BENCH_DEB_ROOT/$rel"
    return
  fi
  log "downloading $pkg"
  mkdir -p "$BENCH_DATA/deb" "$BENCH_DATA/x"
  (cd "$BENCH_DATA/deb" && apt-get download "$pkg" >&2) || die "apt-get download $pkg failed"
  local deb
  for deb in "$BENCH_DATA/deb/${pkg}"_*.deb; do dpkg -x "$deb" "$BENCH_DATA/x"; done
  [[ -f "$BENCH_DATA/x/$rel" ]] || die "$rel not found in $pkg"
  printf '%s\n' "$BENCH_DATA/x/$rel"
}

# Prints the path of the decompressed FASTA NAME.fa in the cache, made once from REL.gz.
cached_genome() {
  local pkg=$2 rel=$3 out=$BENCH_DATA/$1.fa
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    gzip -dc "$(package_file "$pkg" "$rel")" >"$out.tmp" && mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

ensure_dustmasker() {
  command -v dustmasker >/dev/null && return 0
  if [[ $(id -u) -eq 0 ]]; then
    log "installing ncbi-blast+ for dustmasker"
    apt-get update -qq >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ncbi-blast+ >&2
  fi
  command -v dustmasker >/dev/null || { log "dustmasker missing (install ncbi-blast+)"; return 1; }
}

# ---- timing ------------------------------------------------------------------------------

# Runs CMD... RUNS times in the work directory and prints the best wall time in seconds,
# or NA when a run fails. Standard output is discarded, standard error kept in $WORK/last.err.
time_best() {
  local best=NA i t0 t1 rc
  for ((i = 0; i < RUNS; i++)); do
    t0=$(date +%s.%N)
    rc=0
    (cd "$WORK" && "$@" >/dev/null 2>"$WORK/last.err") || rc=$?
    t1=$(date +%s.%N)
    if [[ $rc -ne 0 ]]; then
      log "failed (exit $rc): $*"
      sed -n '1,5p' "$WORK/last.err" >&2
      echo NA
      return
    fi
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" \
      'BEGIN { d = b - a; if (m == "NA" || d < m) m = d; printf "%.6f", m }')
  done
  echo "$best"
}

# Prints A/B with three decimals, or NA.
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    if (a == "NA" || b == "NA" || b + 0 == 0) print "NA"; else printf "%.3f", a / b }'
}

# LABEL SECONDS: one timing row, in milliseconds' precision.
row_time() {
  local shown=$2
  [[ $shown == NA ]] || shown=$(awk -v t="$2" 'BEGIN { printf "%.3f", t }')
  printf '%-34s %10s s\n' "$1" "$shown"
}

# LABEL VALUE LIMIT: the ratio with PASS when VALUE <= LIMIT, MISS otherwise.
row_ratio() {
  local verdict
  verdict=$(awk -v v="$2" -v l="$3" 'BEGIN { if (v == "NA") print "n/a";
    else if (v + 0 <= l + 0) print "PASS"; else print "MISS" }')
  printf '%-34s %10s   (<= %s) %s\n' "$1" "$2" "$3" "$verdict"
}

# ---- main --------------------------------------------------------------------------------

build_kestra
ECOLI=$(cached_genome ecoli_mg1655 ragout-examples \
  usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz)
LAMBDA=$(cached_genome lambda_phage bowtie2-examples \
  usr/share/doc/bowtie2/examples/reference/lambda_virus.fa.gz)
HAVE_DUST=1
ensure_dustmasker || HAVE_DUST=0

printf 'kestra benchmark: %s (%s bytes), best of %s runs\n' \
  "$(basename "$ECOLI")" "$(wc -c <"$ECOLI" | tr -d ' ')" "$RUNS"
printf '%s\n' "-----------------------------------------------------------------"

t_def=$(time_best "$KESTRA" "$ECOLI" out)
row_time "kestra E.coli default" "$t_def"
t_w100=$(time_best "$KESTRA" "$ECOLI" out -W:100)
row_time "kestra E.coli -W:100" "$t_w100"
t_w1000=$(time_best "$KESTRA" "$ECOLI" out -W:1000)
row_time "kestra E.coli -W:1000" "$t_w1000"
t_dust=NA
if [[ $HAVE_DUST -eq 1 ]]; then
  t_dust=$(time_best dustmasker -in "$ECOLI" -outfmt interval)
fi
row_time "dustmasker E.coli" "$t_dust"

printf '%s\n' "-----------------------------------------------------------------"
row_ratio "W100 / default" "$(ratio "$t_w100" "$t_def")" 2
row_ratio "W1000 / default" "$(ratio "$t_w1000" "$t_def")" 2
row_ratio "default / dustmasker" "$(ratio "$t_def" "$t_dust")" 0.5

# Random estimation on phage lambda, against the bare generator making as many draws.
# Generation: the 1,000,000-letter pool, then one draw per position and sequence. Shuffling:
# at least one draw per position for the two preparatory shuffles and each sequence, plus on
# average n/(n-1) - 1 redraws per shuffle; rounded, one extra draw per shuffle.
N_LAMBDA=$(grep -v '^>' "$LAMBDA" | tr -cd 'A-Za-z-' | wc -c | tr -d ' ')
SEQS=1000
draws_b=$((1000000 + SEQS * N_LAMBDA))
draws_s=$(((SEQS + 2) * (N_LAMBDA + 1)))
printf '%s\n' "-----------------------------------------------------------------"
t_b=$(time_best "$KESTRA" "$LAMBDA" out -B:$SEQS)
row_time "kestra lambda -B:$SEQS" "$t_b"
t_gb=$(time_best "$RAN1_DRAWS" "$draws_b")
row_time "ran1, $draws_b draws" "$t_gb"
t_s=$(time_best "$KESTRA" "$LAMBDA" out -S:$SEQS)
row_time "kestra lambda -S:$SEQS" "$t_s"
t_gs=$(time_best "$RAN1_DRAWS" "$draws_s")
row_time "ran1, $draws_s draws" "$t_gs"
row_ratio "-B:$SEQS / ran1" "$(ratio "$t_b" "$t_gb")" 1.5
row_ratio "-S:$SEQS / ran1" "$(ratio "$t_s" "$t_gs")" 2.5
