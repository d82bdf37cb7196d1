#!/usr/bin/env bash
# Wall-time benchmark of kestra on a bacterial genome and on a 100 Mbp genome-scale file,
# with dustmasker as the reference.
#
# Usage: bench/run.sh   (from anywhere; builds, fetches and times in one go)
# Environment:
#   RUNS=5              timed runs per row; the best (smallest) wall time is kept
#   PAIRS=7             paired runs (one thread, then two, or the other way) per thread row
#   SECTIONS="ecoli lambda memory big entries threads"
#                       the sections to run, in that order whatever the order given:
#                       ecoli (E. coli rows), lambda (random estimation on phage lambda),
#                       memory (peak memory of every mode on a random 20 Mbp sequence),
#                       big (the genome-scale file, with peak memory),
#                       entries (whole inputs: 25 entries, a sequence database with and
#                       without the report),
#                       threads (two threads against one, paired; the work only one
#                       thread does at a time; memory on several threads)
#   BENCH_DATA=DIR      genome cache (default bench/data, git-ignored)
#   BENCH_DEB_ROOT=DIR  a directory where the example packages are already extracted
#                       (dpkg -x); consulted before downloading
#   KESTRA=PATH         use this binary instead of building build/release/kestra; the
#                       helpers are then taken from its directory's bench/
#
# The genome-scale file is made once in the cache (genome_100000000.fa and .fa.gz) from the
# reference genomes of the ragout-examples package; delete both to make them anew.
#
# To add a row: t=$(time_best CMD ARGS...); row_time "label" "$t"; and for a target,
# row_ratio "a/b" "$(ratio "$t" "$t_other")" LIMIT. With peak memory:
# read -r t kib < <(time_mem_best CMD ARGS...); row_time_mem "label" "$t" "$kib".
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=${RUNS:-5}
PAIRS=${PAIRS:-7}
BENCH_DATA=${BENCH_DATA:-$REPO/bench/data}
BENCH_DEB_ROOT=${BENCH_DEB_ROOT:-}
BUILD_DIR=$REPO/build/release
SECTIONS=${SECTIONS:-ecoli lambda memory big entries threads}
BIG_SIZE=100000000

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kestra-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

log() { printf '%s\n' "$*" >&2; }
die() { log "run.sh: $*"; exit 1; }

# ---- build -------------------------------------------------------------------------------

build_kestra() {
  if [[ -n "${KESTRA:-}" ]]; then
    [[ -x "$KESTRA" ]] || die "KESTRA=$KESTRA is not executable"
    KESTRA=$(realpath "$KESTRA")
    local helpers
    helpers=$(dirname "$KESTRA")/bench
    GENERATOR_DRAWS=${GENERATOR_DRAWS:-$helpers/generator_draws}
    MAKE_GENOME=${MAKE_GENOME:-$helpers/make_genome}
    COUNT_A=${COUNT_A:-$helpers/count_a}
    return
  fi
  log "building $BUILD_DIR (Release)"
  cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF \
    -DKESTRA_BENCH=ON >/dev/null
  cmake --build "$BUILD_DIR" --target kestra generator_draws make_genome count_a -j "$(nproc 2>/dev/null || echo 2)" \
    >/dev/null \
    || die "build failed (run: cmake --build $BUILD_DIR)"
  KESTRA=$BUILD_DIR/kestra
  GENERATOR_DRAWS=$BUILD_DIR/bench/generator_draws
  MAKE_GENOME=$BUILD_DIR/bench/make_genome
  COUNT_A=$BUILD_DIR/bench/count_a
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

# Prints, one a line, the decompressed reference genomes of ragout-examples (E. coli,
# H. pylori, S. aureus, V. cholerae), each made once in the cache, in byte order of their
# package paths so that the genome-scale file is the same everywhere.
ragout_references() {
  local first=usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz
  local path root gz species out
  path=$(package_file ragout-examples "$first") || exit 1
  root=${path%"$first"}
  mkdir -p "$BENCH_DATA/ragout"
  printf '%s\n' "$root"usr/share/doc/ragout/examples/*/references/*.fasta.gz | LC_ALL=C sort \
    | while IFS= read -r gz; do
      species=$(basename "$(dirname "$(dirname "$gz")")")
      out=$BENCH_DATA/ragout/${species}_$(basename "$gz" .fasta.gz).fa
      if [[ ! -s "$out" ]]; then
        gzip -dc "$gz" >"$out.tmp" || exit 1
        mv "$out.tmp" "$out"
      fi
      printf '%s\n' "$out"
    done
}

# Prints the path of the genome-scale file, made once in the cache with its .gz beside it.
big_genome() {
  local out=$BENCH_DATA/genome_$BIG_SIZE.fa list sources
  if [[ ! -s "$out" ]]; then
    list=$(ragout_references) || die "cannot prepare the reference genomes"
    [[ -n "$list" ]] || die "no reference genome found in ragout-examples"
    log "making $out"
    rm -f "$out.gz"
    mapfile -t sources <<<"$list"
    "$MAKE_GENOME" "$BIG_SIZE" "$out.tmp" "${sources[@]}" || die "make_genome failed"
    mv "$out.tmp" "$out"
  fi
  if [[ ! -s "$out.gz" ]]; then
    log "compressing $out"
    gzip -c "$out" >"$out.gz.tmp" || die "gzip failed"
    mv "$out.gz.tmp" "$out.gz"
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

# MEM CMD...: runs CMD... RUNS times in the work directory, under /usr/bin/time when MEM is 1,
# and prints the best wall time in seconds and the largest peak resident set over the runs
# in KiB (0 when not measured), or "NA NA" when a run fails. Standard output is discarded,
# standard error kept in $WORK/last.err.
measure() {
  local mem=$1 best=NA peak=0 i t0 t1 rc kib prefix=()
  shift
  [[ $mem -eq 0 ]] || prefix=(/usr/bin/time -f %M -o "$WORK/last.rss")
  for ((i = 0; i < RUNS; i++)); do
    # Every run starts without the outputs of the one before, as a fresh run would, and with
    # theirs on disk: the kernel's writing back of earlier runs' outputs would weigh on it.
    rm -f "$WORK"/out.seg "$WORK"/out.fas "$WORK"/out.bed
    sync
    t0=$(date +%s.%N)
    rc=0
    (cd "$WORK" && "${prefix[@]}" "$@" >/dev/null 2>"$WORK/last.err") || rc=$?
    t1=$(date +%s.%N)
    if [[ $rc -ne 0 ]]; then
      log "failed (exit $rc): $*"
      sed -n '1,5p' "$WORK/last.err" >&2
      echo NA NA
      return
    fi
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" \
      'BEGIN { d = b - a; if (m == "NA" || d < m) m = d; printf "%.6f", m }')
    if [[ $mem -ne 0 ]]; then
      kib=$(tail -n 1 "$WORK/last.rss")
      if ((kib > peak)); then peak=$kib; fi
    fi
  done
  echo "$best $peak"
}

# CMD...: the best wall time in seconds of RUNS runs, or NA.
time_best() {
  local r
  r=$(measure 0 "$@")
  echo "${r% *}"
}

# CMD...: "SECONDS KIB", the best wall time and the peak resident set of RUNS runs, or "NA NA".
time_mem_best() { measure 1 "$@"; }

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

# LABEL SECONDS KIB: one timing row with the peak resident set in MiB.
row_time_mem() {
  local shown=$2 mib=NA
  [[ $shown == NA ]] || shown=$(awk -v t="$2" 'BEGIN { printf "%.3f", t }')
  [[ $3 == NA ]] || mib=$(awk -v k="$3" 'BEGIN { printf "%.1f", k / 1024 }')
  printf '%-34s %10s s %9s MiB\n' "$1" "$shown" "$mib"
}

# LABEL VALUE LIMIT: the ratio with PASS when VALUE <= LIMIT, MISS otherwise.
row_ratio() {
  local verdict
  verdict=$(awk -v v="$2" -v l="$3" 'BEGIN { if (v == "NA") print "n/a";
    else if (v + 0 <= l + 0) print "PASS"; else print "MISS" }')
  printf '%-34s %10s   (<= %s) %s\n' "$1" "$2" "$3" "$verdict"
}

rule() { printf '%s\n' "-----------------------------------------------------------------"; }

# ---- sections ----------------------------------------------------------------------------

section_ecoli() {
  local ecoli t_def t_w100 t_w1000 t_dust=NA
  ecoli=$(cached_genome ecoli_mg1655 ragout-examples \
    usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz)
  printf 'kestra benchmark: %s (%s bytes), best of %s runs\n' \
    "$(basename "$ecoli")" "$(wc -c <"$ecoli" | tr -d ' ')" "$RUNS"
  rule
  t_def=$(time_best "$KESTRA" "$ecoli" out)
  row_time "kestra E.coli default" "$t_def"
  t_w100=$(time_best "$KESTRA" "$ecoli" out -W:100)
  row_time "kestra E.coli -W:100" "$t_w100"
  t_w1000=$(time_best "$KESTRA" "$ecoli" out -W:1000)
  row_time "kestra E.coli -W:1000" "$t_w1000"
  [[ $HAVE_DUST -eq 0 ]] || t_dust=$(time_best dustmasker -in "$ecoli" -outfmt interval)
  row_time "dustmasker E.coli" "$t_dust"
  rule
  row_ratio "W100 / default" "$(ratio "$t_w100" "$t_def")" 2
  row_ratio "W1000 / default" "$(ratio "$t_w1000" "$t_def")" 2
  row_ratio "default / dustmasker" "$(ratio "$t_def" "$t_dust")" 0.5
}

# Random estimation on phage lambda, against the bare generator making as many draws with
# the draw inlined in its loop, as estimation inlines it (the floor).
# Generation: the 1,000,000-letter pool, then one draw per position and sequence. Shuffling:
# at least one draw per position for the two preparatory shuffles and each sequence, plus on
# average n/(n-1) - 1 redraws per shuffle; rounded, one extra draw per shuffle.
section_lambda() {
  local lambda n seqs=1000 draws_b draws_s t_b t_gb t_s t_gs
  lambda=$(cached_genome lambda_phage bowtie2-examples \
    usr/share/doc/bowtie2/examples/reference/lambda_virus.fa.gz)
  n=$(grep -v '^>' "$lambda" | tr -cd 'A-Za-z-' | wc -c | tr -d ' ')
  draws_b=$((1000000 + seqs * n))
  draws_s=$(((seqs + 2) * (n + 1)))
  rule
  t_b=$(time_best "$KESTRA" "$lambda" out -B:$seqs)
  row_time "kestra lambda -B:$seqs" "$t_b"
  t_gb=$(time_best "$GENERATOR_DRAWS" "$draws_b")
  row_time "inlined generator, $draws_b draws" "$t_gb"
  t_s=$(time_best "$KESTRA" "$lambda" out -S:$seqs)
  row_time "kestra lambda -S:$seqs" "$t_s"
  t_gs=$(time_best "$GENERATOR_DRAWS" "$draws_s")
  row_time "inlined generator, $draws_s draws" "$t_gs"
  row_ratio "-B:$seqs / generator" "$(ratio "$t_b" "$t_gb")" 1.5
  row_ratio "-S:$seqs / generator" "$(ratio "$t_s" "$t_gs")" 1.5
}

# Prints the path of a random sequence of SIZE letters (no real pieces), made once in the cache.
random_genome() {
  local out=$BENCH_DATA/random_$1.fa
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    "$MAKE_GENOME" "$1" "$out.tmp" || die "make_genome failed"
    mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

# Peak memory of every mode on a random 20 Mbp sequence: whatever the mode, memory stays
# within a few bytes a position (recorded windows are merged as they slide, the scan
# statistic keeps one table, random lengths are counted in a table sized to the longest).
section_memory() {
  local size=20000000 seq t kib args limit
  seq=$(random_genome $size)
  rule
  printf 'memory: %s, peak resident set of the worst of %s runs\n' "$(basename "$seq")" "$RUNS"
  rule
  for args in "" "-W:2 -P:1.1" "-E:1000" "-S:1" "-B:1"; do
    # shellcheck disable=SC2086
    read -r t kib < <(time_mem_best "$KESTRA" "$seq" out $args)
    row_time_mem "kestra 20M ${args:-default}" "$t" "$kib"
    if [[ -z $args ]]; then limit=3; else limit=6; fi
    row_ratio "  bytes a position" \
      "$(awk -v k="$kib" -v n=$size -v l=$limit 'BEGIN { if (k == "NA") print "NA";
         else printf "%.2f", (k * 1024 - (l == 6 ? 32 * 1048576 : 0)) / n }')" "$limit"
  done
}

# The genome-scale file: kestra against dustmasker and against the floors of one pass over
# the file (count_a) and of decompressing it (gzip -dc); peak memory of the default run
# within 3 bytes a position plus 8 MiB.
section_big() {
  local big t_def m_def t_fas m_fas t_w100 m_w100 t_gz m_gz t_cnt m_cnt t_gun m_gun
  local t_dust=NA m_dust=NA gz_budget peak_mib limit_mib
  big=$(big_genome)
  rule
  printf 'genome scale: %s (%s bytes, .gz %s bytes), best of %s runs\n' \
    "$(basename "$big")" "$(wc -c <"$big" | tr -d ' ')" "$(wc -c <"$big.gz" | tr -d ' ')" "$RUNS"
  rule
  read -r t_def m_def < <(time_mem_best "$KESTRA" "$big" out)
  row_time_mem "kestra 100M default" "$t_def" "$m_def"
  read -r t_fas m_fas < <(time_mem_best "$KESTRA" "$big" out -F)
  row_time_mem "kestra 100M -F" "$t_fas" "$m_fas"
  read -r t_w100 m_w100 < <(time_mem_best "$KESTRA" "$big" out -W:100)
  row_time_mem "kestra 100M -W:100" "$t_w100" "$m_w100"
  read -r t_gz m_gz < <(time_mem_best "$KESTRA" "$big.gz" out)
  row_time_mem "kestra 100M .gz" "$t_gz" "$m_gz"
  read -r t_cnt m_cnt < <(time_mem_best "$COUNT_A" "$big")
  row_time_mem "count_a 100M" "$t_cnt" "$m_cnt"
  read -r t_gun m_gun < <(time_mem_best gzip -dc "$big.gz")
  row_time_mem "gzip -dc 100M.gz" "$t_gun" "$m_gun"
  if [[ $HAVE_DUST -eq 1 ]]; then
    read -r t_dust m_dust < <(time_mem_best dustmasker -in "$big" -outfmt interval)
  fi
  row_time_mem "dustmasker 100M" "$t_dust" "$m_dust"
  rule
  gz_budget=$(awk -v p="$t_def" -v g="$t_gun" \
    'BEGIN { if (p == "NA" || g == "NA") print "NA"; else printf "%.6f", p + 1.2 * g }')
  peak_mib=$(awk -v k="$m_def" 'BEGIN { if (k == "NA") print "NA"; else printf "%.1f", k / 1024 }')
  limit_mib=$(awk -v n="$BIG_SIZE" 'BEGIN { printf "%.1f", 3 * n / 1048576 + 8 }')
  row_ratio "default / dustmasker" "$(ratio "$t_def" "$t_dust")" 0.125
  row_ratio "default / count_a" "$(ratio "$t_def" "$t_cnt")" 7
  row_ratio ".gz / (default + 1.2 gzip -dc)" "$(ratio "$t_gz" "$gz_budget")" 1
  row_ratio "default peak MiB" "$peak_mib" "$limit_mib"
}

# The genome-scale letters cut into 25 entries of 4 Mbp, made once in the cache.
genome_in_25() {
  local parts=$BENCH_DATA/genome_${BIG_SIZE}_25.fa
  if [[ ! -s "$parts" ]]; then
    # shellcheck disable=SC2046  # one reference genome a word
    "$MAKE_GENOME" --entries 25 "$BIG_SIZE" "$parts.tmp" $(ragout_references | tr '\n' ' ') \
      || die "make_genome failed"
    mv "$parts.tmp" "$parts"
  fi
  printf '%s\n' "$parts"
}

# A database of 200,000 entries of 500 to 2000 letters, made once in the cache.
database() {
  local db=$BENCH_DATA/database_200000.fa
  if [[ ! -s "$db" ]]; then
    "$MAKE_GENOME" --database 200000 "$db.tmp" || die "make_genome failed"
    mv "$db.tmp" "$db"
  fi
  printf '%s\n' "$db"
}

# Whole inputs: the 25 entries with --all-entries against the same letters as one entry (a)
# and their peak memory (b), one thread; the database with the report against the same run
# without it, paired (c), and against dustmasker (d), and without the report against
# dustmasker (e).
section_entries() {
  local big parts db t_one m_one t_all m_all t_db t_bare t_dust=NA m_dust=NA limit_mib
  big=$(big_genome)
  parts=$(genome_in_25)
  db=$(database)
  rule
  printf 'whole inputs: %s (25 entries), %s (200,000 entries), best of %s runs\n' \
    "$(basename "$parts")" "$(basename "$db")" "$RUNS"
  rule
  read -r t_one m_one < <(time_mem_best "$KESTRA" "$big" out)
  row_time_mem "100M as one entry" "$t_one" "$m_one"
  read -r t_all m_all < <(time_mem_best "$KESTRA" "$parts" out --all-entries)
  row_time_mem "100M in 25, --all-entries" "$t_all" "$m_all"
  if [[ $HAVE_DUST -eq 1 ]]; then
    read -r t_dust m_dust < <(time_mem_best dustmasker -in "$db" -outfmt fasta -out /dev/null)
  fi
  row_time_mem "database, dustmasker -outfmt fasta" "$t_dust" "$m_dust"
  limit_mib=$(awk -v n=$((BIG_SIZE / 25)) 'BEGIN { printf "%.1f", 3 * n / 1048576 + 32 }')
  row_ratio "(a) 25 entries / one entry" "$(ratio "$t_all" "$t_one")" 1.1
  row_ratio "(b) 25 entries peak MiB" \
    "$(awk -v k="$m_all" 'BEGIN { if (k == "NA") print "NA"; else printf "%.1f", k / 1024 }')" \
    "$limit_mib"
  rule
  printf 'database --all-entries -L --bed, one thread: %s pairs of runs\n' "$PAIRS"
  rule
  PAIR_A=(--no-report)
  PAIR_B=()
  paired "$KESTRA" "$db" out --all-entries -L --bed
  paired_rows "(c) database" 1.5 "" "no report" "report"
  t_db=$PAIRED_MEDIAN_B
  t_bare=$(awk '{ t[NR] = $1 } END { n = asort(t); print n ? t[int((n + 1) / 2)] : "NA" }' \
    "$WORK/pairs.1")
  row_ratio "(d) report (median) / dustmasker" "$(ratio "$t_db" "$t_dust")" 0.1
  row_ratio "(e) --no-report / dustmasker" "$(ratio "$t_bare" "$t_dust")" 0.1
}

# CMD...: one run in the work directory, without the outputs of the one before; prints
# "WALL USER SYS KIB READING WRITING WAITING": seconds of wall and processor time, the peak
# resident set, the time kestra spent reading and writing where only one thread does it at a
# time, and the time its threads spent waiting (KESTRA_TIMES); "NA" when the run fails.
once() {
  local t0 t1 rc=0 wall
  rm -f "$WORK"/out.seg "$WORK"/out.fas "$WORK"/out.bed
  sync
  t0=$(date +%s.%N)
  (cd "$WORK" && KESTRA_TIMES=1 /usr/bin/time -f '%U %S %M' -o "$WORK/once.time" "$@" \
    >/dev/null 2>"$WORK/once.err") || rc=$?
  t1=$(date +%s.%N)
  if ((rc != 0)); then
    log "failed (exit $rc): $*"
    sed -n '1,5p' "$WORK/once.err" >&2
    echo NA
    return
  fi
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
  printf '%s %s %s\n' "$wall" "$(tail -n 1 "$WORK/once.time")" \
    "$(awk '$1 == "KESTRA_TIMES" { r = $3; w = $5; t = $7 }
      END { printf "%s %s %s", r + 0, w + 0, t + 0 }' "$WORK/once.err")"
}

# CMD...: PAIRS pairs of runs, of CMD with the arguments in PAIR_A and of CMD with those in
# PAIR_B, the first of a pair taking turns, so that a drift in the machine's speed weighs on
# both alike; the runs' lines (see once) in $WORK/pairs.1 and $WORK/pairs.2.
paired() {
  local i
  : >"$WORK/pairs.1"
  : >"$WORK/pairs.2"
  for ((i = 0; i < PAIRS; i++)); do
    if ((i % 2 == 0)); then
      once "$@" "${PAIR_A[@]}" >>"$WORK/pairs.1"
      once "$@" "${PAIR_B[@]}" >>"$WORK/pairs.2"
    else
      once "$@" "${PAIR_B[@]}" >>"$WORK/pairs.2"
      once "$@" "${PAIR_A[@]}" >>"$WORK/pairs.1"
    fi
  done
}

# CMD...: paired runs of CMD --threads 1 and CMD --threads 2.
paired_threads() {
  PAIR_A=(--threads 1)
  PAIR_B=(--threads 2)
  paired "$@"
}

# LABEL LIMIT SPREAD [A B]: the paired runs' rows: the fastest and slowest runs of each kind
# (A and B name them, one thread and two by default), the median of the ratios B / A
# against LIMIT, and (unless SPREAD is empty) the slowest B run against the fastest.
paired_rows() {
  local summary median one_min one_max two_min two_max spread a=${4:-1 thread} b=${5:-2 threads}
  summary=$(paste -d ' ' "$WORK/pairs.1" "$WORK/pairs.2" | awk '
    $1 == "NA" || $8 == "NA" || $8 == "" { bad = 1; next }
    { r[NR] = $8 / $1; one[NR] = $1; two[NR] = $8 }
    END {
      if (bad || NR == 0) { print "NA NA NA NA NA NA"; exit }
      n = asort(r); asort(one); asort(two)
      m = n % 2 ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2
      printf "%.3f %.3f %.3f %.3f %.3f %.3f\n", m, one[1], one[n], two[1], two[n], two[n] / two[1]
    }')
  read -r median one_min one_max two_min two_max spread <<<"$summary"
  printf '%-34s %10s s .. %s s\n' "$1, $a" "$one_min" "$one_max"
  printf '%-34s %10s s .. %s s\n' "$1, $b" "$two_min" "$two_max"
  row_ratio "  median $b / $a" "$median" "$2"
  [[ -z $3 ]] || row_ratio "  slowest / fastest, $b" "$spread" "$3"
  PAIRED_MEDIAN_B=$(awk '{ t[NR] = $1 } END { n = asort(t); print n ? t[int((n + 1) / 2)] : "NA" }' \
    "$WORK/pairs.2")
}

# The work only one thread can do at a time in the two-thread runs (reading a gzip file or a
# pipe, writing the outputs in turn) and the time threads waited (for work, or for their
# turn): their share of the threads' time, processor time and waiting (the median over the
# runs), and the speed-ups that share allows on 16 and 64 cores by Amdahl's law.
serial_rows() {
  local summary share s16 s64
  summary=$(awk '
    $1 == "NA" { bad = 1; next }
    { s[NR] = ($5 + $6 + $7) / ($2 + $3 + $7) }
    END {
      if (bad || NR == 0) { print "NA NA NA"; exit }
      n = asort(s)
      m = n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
      printf "%.4f %.1f %.1f\n", m, 1 / (m + (1 - m) / 16), 1 / (m + (1 - m) / 64)
    }' "$WORK/pairs.2")
  read -r share s16 s64 <<<"$summary"
  row_ratio "  one at a time, share (2 threads)" "$share" 0.05
  printf '%-34s %10s x on 16 cores, %s x on 64\n' "  speed-up it allows" "$s16" "$s64"
}

# THREADS LONGEST: the peak memory of the paired runs on THREADS threads against
# (THREADS + 1) x 3 bytes a position of the longest entry + 64 MiB.
memory_row() {
  local peak limit
  peak=$(awk '$1 == "NA" { bad = 1 } $4 > m { m = $4 }
    END { if (bad || !m) print "NA"; else printf "%.1f", m / 1024 }' "$WORK/pairs.$1")
  limit=$(awk -v t="$1" -v n="$2" 'BEGIN { printf "%.1f", (t + 1) * 3 * n / 1048576 + 64 }')
  row_ratio "  peak MiB, --threads $1" "$peak" "$limit"
}

# Threads: two against one, paired, on the 25 entries, the database with its report and the
# single 100 Mbp entry; for the first two, the work only one thread does at a time; memory.
section_threads() {
  local big parts db
  big=$(big_genome)
  parts=$(genome_in_25)
  db=$(database)
  rule
  printf 'threads: %s pairs of runs, one thread and two\n' "$PAIRS"
  rule
  paired_threads "$KESTRA" "$parts" out --all-entries
  paired_rows "100M in 25 entries" 0.55 1.3
  serial_rows
  memory_row 1 $((BIG_SIZE / 25))
  memory_row 2 $((BIG_SIZE / 25))
  paired_threads "$KESTRA" "$db" out --all-entries -L --bed
  paired_rows "database, -L --bed" 0.55 ""
  serial_rows
  memory_row 2 2000
  paired_threads "$KESTRA" "$big" out
  paired_rows "100M as one entry" 0.65 ""
  memory_row 1 "$BIG_SIZE"
  memory_row 2 "$BIG_SIZE"
}

# ---- main --------------------------------------------------------------------------------

wants() { [[ " $SECTIONS " == *" $1 "* ]]; }

for s in $SECTIONS; do
  case $s in
    ecoli | lambda | memory | big | entries | threads) ;;
    *) die "unknown section '$s' (ecoli, lambda, memory, big, entries, threads)" ;;
  esac
done
build_kestra
HAVE_DUST=0
if wants ecoli || wants big || wants entries; then ensure_dustmasker && HAVE_DUST=1; fi
if wants ecoli; then section_ecoli; fi
if wants lambda; then section_lambda; fi
if wants memory; then section_memory; fi
if wants big; then section_big; fi
if wants entries; then section_entries; fi
if wants threads; then section_threads; fi
