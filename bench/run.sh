#!/usr/bin/env bash
# Wall-time benchmark of kestra on a bacterial genome and on a 100 Mbp genome-scale file,
# with dustmasker as the reference.
#
# Usage: bench/run.sh   (from anywhere; builds, fetches and times in one go)
# Environment:
#   RUNS=5              timed runs per row; the best (smallest) wall time is kept
#   PAIRS=7             paired runs (one thread, then two, or the other way) per thread row
#   SECTIONS="ecoli lambda memory big entries threads cliffs"
#                       the sections to run, in that order whatever the order given:
#                       ecoli (E. coli rows), lambda (random estimation on phage lambda),
#                       memory (peak memory of every mode on a random 20 Mbp sequence; of
#                       an entry too long to analyse, and of a tiny one in a padded gzip),
#                       big (the genome-scale file, with peak memory),
#                       entries (whole inputs: 25 entries, a sequence database with and
#                       without the report),
#                       threads (two threads against one, paired; the work only one
#                       thread does at a time; memory on several threads),
#                       tables (the table of segments against the same runs without),
#                       cliffs (large windows, a long gap, more threads than cores,
#                       memory on 16 and 64 threads), compressed (gzip and BGZF input,
#                       parts of a BGZF file, compressed outputs), plot (kestra-plot on the
#                       reports of 1,000,000 entries, an assembly and the database, and on a
#                       BED), significance (not run unless named: the share of random
#                       entries masked at -M:0.05 and with --mask-evalue 0.05, planted
#                       A-rich reads and a contig of A found with and without
#                       --background input, and what the survey of the input costs),
#                       guard (not run unless named: this
#                       build against the build of GUARD_BASE over a grid of switches),
#                       library (not run unless named: the Python package's kestra.read of
#                       a 20,000-entry database collecting every segment, and kestra.scan of
#                       E. coli, against the command writing the same --all-segments table)
#   GUARD_BASE=COMMIT   the earlier build the guard compares with (default: origin of the
#                       last landing, 5a1f732); built once in a worktree under BENCH_DATA
#   GUARD_PAIRS=3       paired runs per guard row
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
SECTIONS=${SECTIONS:-ecoli lambda memory big entries tables threads cliffs compressed plot}
GUARD_BASE=${GUARD_BASE:-5a1f732}
GUARD_PAIRS=${GUARD_PAIRS:-3}
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
  local targets=(kestra generator_draws make_genome count_a)
  if wants library; then targets+=(kestra_python_module); fi
  cmake --build "$BUILD_DIR" --target "${targets[@]}" -j "$(nproc 2>/dev/null || echo 2)" \
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
  never_written_rows
}

# Prints the path of a gzip file of an entry of 3.2 G letters (too long to analyse) and a short
# one, made once in the cache: the letters come from `yes`, streamed into gzip -1 (26 MB).
skipped_entry_gzip() {
  local out=$BENCH_DATA/skipped_3200000040.fa.gz
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    log "making $out"
    {
      printf '>huge of 3.2 G letters\n'
      yes ACGTTGCAACGTAGCTAGCTAGGATCCATGCATGCAAAATTTTCCCCGGGGACGTTGACG 2>/dev/null |
        head -n 53333334
      printf '>small\nACGTAAAAAAAAAAAAAAAAAAAAACGTACGTTGCAAAAAAAAAAAAAAAAAAAATGCA\n'
    } | gzip -1 >"$out.tmp" && mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

# What is never written is not held: the entry of 3.2 G letters, skipped by --all-entries,
# holds its letters until they reach 2^31 and is then only counted, within 2^31 bytes beside
# the bound of the short entry analysed (74 MiB); a 29-letter first entry in a 200 MB gzip
# file of zero padding holds storage for what it reads, whatever the file's size, and runs in
# the 74 MiB of address space that bound gives it (ulimit -v).
never_written_rows() {
  local huge padded t kib verdict
  huge=$(skipped_entry_gzip)
  read -r t kib < <(time_mem_best "$KESTRA" "$huge" out --all-entries)
  row_time_mem "3.2 G letters skipped, gzip" "$t" "$kib"
  row_ratio "  peak MiB" \
    "$(awk -v k="$kib" 'BEGIN { if (k == "NA") print "NA"; else printf "%.1f", k / 1024 }')" \
    "$((2048 + 74))"
  padded=$WORK/padded.fa.gz
  { printf '>tiny\nACGTAAAAAAAAAAAAAAAAAAAACGTAC\n' | gzip -1; head -c 200000000 /dev/zero; } >"$padded"
  read -r t kib < <(time_mem_best "$KESTRA" "$padded" out)
  row_time_mem "29 letters, 200 MB padded gzip" "$t" "$kib"
  read -r t kib < <(time_mem_best sh -c 'ulimit -v 75776 && exec "$@"' sh "$KESTRA" "$padded" out)
  if [[ $t == NA ]]; then verdict=MISS; else verdict=PASS; fi
  printf '%-34s %10s   %s\n' "  under ulimit -v 74 MiB" "" "$verdict"
  rm -f "$padded"
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
  paired_rows "(c) database" 1.5 "" "no report" "report" ""
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
# against LIMIT, the median ratio of their processor time (user + system) against 1.1 (a
# second thread must not add work), and (unless SPREAD is empty) the slowest B run against
# the fastest.
paired_rows() {
  local summary median one_min one_max two_min two_max spread cpu a=${4:-1 thread} b=${5:-2 threads}
  summary=$(paste -d ' ' "$WORK/pairs.1" "$WORK/pairs.2" | awk '
    $1 == "NA" || $8 == "NA" || $8 == "" { bad = 1; next }
    { r[NR] = $8 / $1; c[NR] = ($9 + $10) / ($2 + $3); one[NR] = $1; two[NR] = $8 }
    END {
      if (bad || NR == 0) { print "NA NA NA NA NA NA NA"; exit }
      n = asort(r); asort(c); asort(one); asort(two)
      m = n % 2 ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2
      mc = n % 2 ? c[(n + 1) / 2] : (c[n / 2] + c[n / 2 + 1]) / 2
      printf "%.3f %.3f %.3f %.3f %.3f %.3f %.3f\n", m, one[1], one[n], two[1], two[n],
        two[n] / two[1], mc
    }')
  read -r median one_min one_max two_min two_max spread cpu <<<"$summary"
  printf '%-34s %10s s .. %s s\n' "$1, $a" "$one_min" "$one_max"
  printf '%-34s %10s s .. %s s\n' "$1, $b" "$two_min" "$two_max"
  row_ratio "  median $b / $a" "$median" "$2"
  [[ ${6-x} == "" ]] || row_ratio "  processor time $b / $a" "$cpu" 1.1
  [[ -z $3 ]] || row_ratio "  slowest / fastest, $b" "$spread" "$3"
  PAIRED_MEDIAN_B=$(awk '{ t[NR] = $1 } END { n = asort(t); print n ? t[int((n + 1) / 2)] : "NA" }' \
    "$WORK/pairs.2")
}

# The time the threads spent idle in the two-thread runs, waiting for work or for their turn
# (the kernel's copy of a write not counted), as a share of the run's processor time: the
# median over the runs, against 5%.
idle_rows() {
  local share
  share=$(awk '
    $1 == "NA" { bad = 1; next }
    { s[NR] = $7 / ($2 + $3) }
    END {
      if (bad || NR == 0) { print "NA"; exit }
      n = asort(s)
      printf "%.4f\n", n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
    }' "$WORK/pairs.2")
  row_ratio "  idle, share of processor time" "$share" 0.05
}

# THREADS LONGEST: the peak memory of the paired runs on THREADS threads against
# (THREADS + 1) x 3 bytes a position of the longest entry + 64 MiB + 10 MiB a thread.
memory_row() {
  local peak limit
  peak=$(awk '$1 == "NA" { bad = 1 } $4 > m { m = $4 }
    END { if (bad || !m) print "NA"; else printf "%.1f", m / 1024 }' "$WORK/pairs.$1")
  limit=$(awk -v t="$1" -v n="$2" 'BEGIN { printf "%.1f", (t + 1) * 3 * n / 1048576 + 64 + 10 * t }')
  row_ratio "  peak MiB, --threads $1" "$peak" "$limit"
}

# The table of segments costs little beside the run that makes it: the database and the
# 100 Mbp file with --table against the same runs without, paired, one thread.
section_tables() {
  local big db
  big=$(big_genome)
  db=$(database)
  rule
  printf 'tables: %s pairs of runs, without --table and with it\n' "$PAIRS"
  rule
  PAIR_A=()
  PAIR_B=(--table)
  paired "$KESTRA" "$db" out --all-entries -L --bed
  paired_rows "database -L --bed" 1.1 "" "without" "--table" ""
  paired "$KESTRA" "$big" out
  paired_rows "100M default" 1.1 "" "without" "--table" ""
}

# Threads: two against one, paired, on the 25 entries, the database with its report and the
# single 100 Mbp entry: the time, the processor time, the idle share of the first two, memory.
section_threads() {
  local big parts db
  big=$(big_genome)
  parts=$(genome_in_25)
  db=$(database)
  rule
  printf 'threads: %s pairs of runs, one thread and two\n' "$PAIRS"
  rule
  paired_threads "$KESTRA" "$parts" out --all-entries
  paired_rows "100M in 25 entries" 0.60 1.3
  idle_rows
  memory_row 1 $((BIG_SIZE / 25))
  memory_row 2 $((BIG_SIZE / 25))
  paired_threads "$KESTRA" "$db" out --all-entries -L --bed
  paired_rows "database, -L --bed" 0.55 ""
  idle_rows
  memory_row 2 2000
  paired_threads "$KESTRA" "$big" out
  paired_rows "100M as one entry" 0.65 ""
  memory_row 1 "$BIG_SIZE"
  memory_row 2 "$BIG_SIZE"
}

# NAME ARGS...: a file made once in the cache by make_genome ARGS (OUTPUT last but for the
# sizes of --database, which follow it).
made_genome() {
  local name=$1 out=$BENCH_DATA/$1.fa
  shift
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    case $1 in
      --database) "$MAKE_GENOME" --database "$2" "$out.tmp" "${@:3}" || die "make_genome failed" ;;
      --uniform) "$MAKE_GENOME" --uniform "$2" "$3" "$out.tmp" "${@:4}" || die "make_genome failed" ;;
    esac
    mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

# A random sequence with a run of special residues in its middle: 10 Mbp, 2 Mbp of A.
specials_run_genome() {
  local out=$BENCH_DATA/run_of_a_10000000.fa
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    awk -v seed=7 'BEGIN { srand(seed); print ">run of A"; s = "ACGT"; line = "";
      for (i = 0; i < 10000000; i++) {
        c = (i >= 4000000 && i < 6000000) ? "A" : substr(s, int(rand() * 4) + 1, 1);
        line = line c; if (length(line) == 80) { print line; line = "" } }
      if (line != "") print line }' >"$out.tmp" || die "awk failed"
    mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

# What used to fall off a cliff: windows of 2 kb against 20 kb on E. coli (the cost may grow
# with the window no faster than linearly), 80 Mbp without a special residue against 20
# (linear in the gap), more threads than the machine has cores against as many as it has
# (no slower).
section_cliffs() {
  local ecoli t_w2k t_w20k gap20 gap80 t_g20 t_g80 tiny big50 cores t_many t_cores
  ecoli=$(cached_genome ecoli_mg1655 ragout-examples \
    usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz)
  gap20=$(made_genome gap_20000000 --uniform C 20000000 A)
  gap80=$(made_genome gap_80000000 --uniform C 80000000 A)
  tiny=$(made_genome tiny_1000000 --database 1000000 20 60)
  big50=$(random_genome 50000000)
  cores=$(nproc 2>/dev/null || echo 2)
  rule
  printf 'cliffs: best of %s runs; this machine has %s cores\n' "$RUNS" "$cores"
  rule
  t_w2k=$(time_best "$KESTRA" "$ecoli" out -W:2000)
  row_time "E.coli -W:2000" "$t_w2k"
  t_w20k=$(time_best "$KESTRA" "$ecoli" out -W:20000)
  row_time "E.coli -W:20000" "$t_w20k"
  row_ratio "-W:20000 / -W:2000" "$(ratio "$t_w20k" "$t_w2k")" 10
  t_g20=$(time_best "$KESTRA" "$gap20" out)
  row_time "20 Mbp of C, one A" "$t_g20"
  t_g80=$(time_best "$KESTRA" "$gap80" out)
  row_time "80 Mbp of C, one A" "$t_g80"
  row_ratio "80 Mbp / 20 Mbp" "$(ratio "$t_g80" "$t_g20")" 5
  t_cores=$(time_best "$KESTRA" "$tiny" out --all-entries --threads "$cores")
  row_time "1M tiny entries, --threads $cores" "$t_cores"
  t_many=$(time_best "$KESTRA" "$tiny" out --all-entries --threads 1024)
  row_time "1M tiny entries, --threads 1024" "$t_many"
  row_ratio "  --threads 1024 / $cores" "$(ratio "$t_many" "$t_cores")" 1.1
  t_cores=$(time_best "$KESTRA" "$big50" out --threads "$cores")
  row_time "50 Mbp entry, --threads $cores" "$t_cores"
  t_many=$(time_best "$KESTRA" "$big50" out --threads 1024)
  row_time "50 Mbp entry, --threads 1024" "$t_many"
  row_ratio "  --threads 1024 / $cores" "$(ratio "$t_many" "$t_cores")" 1.1
}

# The peak memory of 16 and 64 threads (more than this machine's cores, let through for the
# measure) on 300,000 entries of 200-300 letters, against the bound the README gives:
# (N + 1) x 3 bytes a letter of the longest entry + 64 MiB + 10 MiB a thread.
section_thread_memory() {
  local short t kib threads
  short=$(made_genome short_300000 --database 300000 200 300)
  rule
  printf 'memory of many threads: 300,000 entries of 200-300 letters, worst of %s runs\n' "$RUNS"
  rule
  for threads in 16 64; do
    read -r t kib < <(time_mem_best env KESTRA_TEST_LIMITS=cores=1024 "$KESTRA" "$short" out \
      --all-entries --threads "$threads")
    row_time_mem "--threads $threads" "$t" "$kib"
    row_ratio "  peak MiB" \
      "$(awk -v k="$kib" 'BEGIN { if (k == "NA") print "NA"; else printf "%.1f", k / 1024 }')" \
      "$(awk -v t="$threads" 'BEGIN { printf "%.1f", (t + 1) * 3 * 300 / 1048576 + 64 + 10 * t }')"
  done
}

# kestra-plot on what kestra writes for inputs of many entries: the report of 1,000,000 tiny
# entries (against 20 s and 500 MiB), the same drawn from the BED and the .fai of the masked
# FASTA, and the reports of the 767 contigs of a draft assembly, of the 200,000-entry database
# and of the one 100 Mbp entry of the genome-scale file. Needs python3-matplotlib and samtools.
section_plot() {
  local tiny contigs db big t kib name input
  tiny=$(made_genome tiny_1000000 --database 1000000 20 60)
  big=$(big_genome)
  contigs=$(cached_genome usa300_contigs ragout-examples \
    usr/share/doc/ragout/examples/S.Aureus/usa300_contigs.fasta.gz)
  db=$BENCH_DATA/database_200000.fa
  [[ -s "$db" ]] || { "$MAKE_GENOME" --database 200000 "$db.tmp" && mv "$db.tmp" "$db"; } ||
    die "make_genome failed"
  command -v samtools >/dev/null || die "samtools is needed"
  rule
  printf 'kestra-plot: worst memory and best time of %s runs\n' "$RUNS"
  rule
  "$KESTRA" "$big" "$WORK/big" >/dev/null || die "kestra failed on $big"
  for name in tiny contigs db; do
    input=${!name}
    "$KESTRA" "$input" "$WORK/$name" --all-entries --bed -L --threads 2 >/dev/null ||
      die "kestra failed on $input"
    samtools faidx "$WORK/$name.fas"
    rm "$WORK/$name.fas"
  done
  read -r t kib < <(time_mem_best "$REPO/tools/kestra-plot" "$WORK/tiny.seg" -o "$WORK/p.png")
  row_time_mem "1M entries, report ($(du -m "$WORK/tiny.seg" | cut -f1) MB)" "$t" "$kib"
  row_ratio "  seconds" "$(awk -v t="$t" 'BEGIN { printf "%.2f", t }')" 20
  row_ratio "  peak MiB" "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')" 500
  read -r t kib < <(time_mem_best "$REPO/tools/kestra-plot" "$WORK/tiny.bed" \
    --fai "$WORK/tiny.fas.fai" -o "$WORK/p.png")
  row_time_mem "1M entries, BED and .fai" "$t" "$kib"
  read -r t kib < <(time_mem_best "$REPO/tools/kestra-plot" "$WORK/contigs.seg" -o "$WORK/p.png")
  row_time_mem "767 contigs, report" "$t" "$kib"
  read -r t kib < <(time_mem_best "$REPO/tools/kestra-plot" "$WORK/db.seg" -o "$WORK/p.png")
  row_time_mem "database, report ($(du -m "$WORK/db.seg" | cut -f1) MB)" "$t" "$kib"
  read -r t kib < <(time_mem_best "$REPO/tools/kestra-plot" "$WORK/big.seg" -o "$WORK/p.png")
  row_time_mem "100 Mbp entry, report ($(du -m "$WORK/big.seg" | cut -f1) MB)" "$t" "$kib"
  rm -f "$WORK"/tiny.* "$WORK"/db.* "$WORK"/contigs.* "$WORK"/big.*
}

# FILE: its BGZF copy FILE.bgz in the cache, made once with bgzip at its default level.
bgzf_copy() {
  if [[ ! -s "$1.bgz" ]]; then
    command -v bgzip >/dev/null || die "bgzip (Debian's tabix) is needed"
    bgzip -@ "$(nproc 2>/dev/null || echo 2)" -c "$1" >"$1.bgz.tmp" || die "bgzip failed"
    mv "$1.bgz.tmp" "$1.bgz"
  fi
  printf '%s\n' "$1.bgz"
}

# Compressed genomes, paired against the plain file's runs: the 100 Mbp file as gzip -6 on
# one thread (a), as BGZF on two (b); each part of eight of a BGZF copy of the database
# against the whole run on it (c); -L --bed written compressed against the plain run followed
# by bgzip -@2 of its outputs (d), at the default level and at level 1, the files no larger
# than bgzip's (e); peak memory of the compressed runs against the plain ones' bounds (f).
section_compressed() {
  local big bgz db db_bgz t_whole t_part worst=0 i size_k size_b kib peak limit
  big=$(big_genome)
  bgz=$(bgzf_copy "$big")
  db=$(database)
  db_bgz=$(bgzf_copy "$db")
  rule
  printf 'compressed genomes: %s pairs of runs\n' "$PAIRS"
  rule
  PAIR_A=("$big" out)
  PAIR_B=("$big.gz" out)
  paired "$KESTRA"
  paired_rows "(a) 100M, one thread" 1.4 "" "plain" "gzip -6" ""
  peak=$(awk '$4 > m { m = $4 } END { printf "%.1f", m / 1024 }' "$WORK/pairs.2")
  limit=$(awk -v n="$BIG_SIZE" 'BEGIN { printf "%.1f", 3 * n / 1048576 + 8 }')
  row_ratio "(f) peak MiB, gzip -6" "$peak" "$limit"
  PAIR_A=("$big" out --threads 2)
  PAIR_B=("$bgz" out --threads 2)
  paired "$KESTRA"
  paired_rows "(b) 100M, --threads 2" 1.15 "" "plain" "BGZF" ""
  peak=$(awk '$4 > m { m = $4 } END { printf "%.1f", m / 1024 }' "$WORK/pairs.2")
  limit=$(awk -v n="$BIG_SIZE" 'BEGIN { printf "%.1f", 3 * 3 * n / 1048576 + 64 + 20 }')
  row_ratio "(f) peak MiB, BGZF --threads 2" "$peak" "$limit"
  rule
  t_whole=$(time_best "$KESTRA" "$db_bgz" out --all-entries -L --bed)
  row_time "(c) database BGZF, whole" "$t_whole"
  for ((i = 1; i <= 8; i++)); do
    t_part=$(time_best "$KESTRA" "$db_bgz" out --shard "$i/8" -L --bed)
    worst=$(awk -v a="$worst" -v b="$t_part" 'BEGIN { print (b == "NA" || b > a) ? b : a }')
  done
  row_time "(c) slowest part of 8" "$worst"
  row_ratio "(c) slowest part / whole" "$(ratio "$worst" "$t_whole")" 0.25
  rule
  # bgzip takes one file a call: it leaves the rest of its arguments as they are.
  PAIR_A=(bash -c "$KESTRA $big out -L --bed --threads 2 &&
    for f in out.seg out.fas out.bed; do bgzip -@2 -f \$f || exit; done")
  PAIR_B=("$KESTRA" "$big" out -L --bed --threads 2 --compress)
  # At the default level a run takes half a minute: 3 pairs at most.
  PAIRS=$((PAIRS < 3 ? PAIRS : 3)) paired
  paired_rows "(d) 100M -L --bed" 0.6 "" "then bgzip" ".gz outputs" ""
  PAIR_A=(bash -c "$KESTRA $big out -L --bed --threads 2 &&
    for f in out.seg out.fas out.bed; do bgzip -l1 -@2 -f \$f || exit; done")
  PAIR_B=("$KESTRA" "$big" out -L --bed --threads 2 --compress --compress-level 1)
  paired
  paired_rows "(d) the same at level 1" 0.6 "" "then bgzip" ".gz outputs" ""
  (cd "$WORK" && "$KESTRA" "$big" out -L --bed --threads 2 >/dev/null &&
    for f in out.seg out.fas out.bed; do bgzip -@2 -f "$f" || exit; done &&
    "$KESTRA" "$big" mine -L --bed --threads 2 \
    --compress >/dev/null) || die "compressed outputs failed"
  size_b=$(cat "$WORK"/out.seg.gz "$WORK"/out.fas.gz "$WORK"/out.bed.gz | wc -c)
  size_k=$(cat "$WORK"/mine.seg.gz "$WORK"/mine.fas.gz "$WORK"/mine.bed.gz | wc -c)
  printf '%-34s %10s bytes, bgzip %s bytes\n' "(e) .gz outputs" "$size_k" "$size_b"
  row_ratio "(e) size / bgzip's" "$(ratio "$size_k" "$size_b")" 1
  rm -f "$WORK"/*.gz
}

# The earlier build of GUARD_BASE, made once in a worktree of the cache; prints its binary.
base_build() {
  local sha dir
  sha=$(git -C "$REPO" rev-parse --short "$GUARD_BASE^{commit}") || die "no commit $GUARD_BASE"
  dir=$BENCH_DATA/guard-$sha
  if [[ ! -x "$dir/build/kestra" ]]; then
    log "building $GUARD_BASE in $dir"
    [[ -d "$dir/src" ]] || git -C "$REPO" worktree add --detach "$dir" "$sha" >&2 \
      || die "cannot check out $GUARD_BASE"
    cmake -S "$dir" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF >/dev/null \
      && cmake --build "$dir/build" --target kestra -j "$(nproc 2>/dev/null || echo 2)" >/dev/null \
      || die "cannot build $GUARD_BASE"
  fi
  printf '%s\n' "$dir/build/kestra"
}

# BINARY DIR ARGS...: one run in DIR, without the outputs of the one before; prints the wall
# time, or NA.
guard_once() {
  local bin=$1 dir=$2 t0 t1 rc=0
  shift 2
  rm -f "$dir"/out.*
  sync
  t0=$(date +%s.%N)
  (cd "$dir" && "$bin" "$@" >"$dir/stdout" 2>/dev/null) || rc=$?
  t1=$(date +%s.%N)
  if ((rc != 0)); then echo NA; return; fi
  sed -i '/^Elapsed time/d' "$dir/stdout"
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }'
}

# LABEL INPUT ARGS...: GUARD_PAIRS paired runs of the earlier build and this one, taking
# turns; the medians, their ratio and the earlier build's own spread (half its range over
# its median). The row is SLOWER when the ratio exceeds 1 by more than that spread; the
# outputs of the first pair must be the same bytes.
guard_row() {
  local label=$1 input=$2 i old new same=same verdict
  shift 2
  : >"$WORK/guard.old"
  : >"$WORK/guard.new"
  mkdir -p "$WORK/old" "$WORK/new"
  for ((i = 0; i < GUARD_PAIRS; i++)); do
    if ((i % 2 == 0)); then
      guard_once "$BASE_KESTRA" "$WORK/old" "$input" out "$@" >>"$WORK/guard.old"
      guard_once "$KESTRA" "$WORK/new" "$input" out "$@" >>"$WORK/guard.new"
    else
      guard_once "$KESTRA" "$WORK/new" "$input" out "$@" >>"$WORK/guard.new"
      guard_once "$BASE_KESTRA" "$WORK/old" "$input" out "$@" >>"$WORK/guard.old"
    fi
    if ((i == 0)); then
      for f in stdout out.seg out.fas out.bed; do
        if [[ -e "$WORK/old/$f" || -e "$WORK/new/$f" ]] && ! cmp -s "$WORK/old/$f" "$WORK/new/$f"
        then same="BYTES DIFFER ($f)"; fi
      done
    fi
  done
  read -r old new verdict < <(paste -d ' ' "$WORK/guard.old" "$WORK/guard.new" | awk '
    $1 == "NA" || $2 == "NA" { bad = 1; next }
    { o[NR] = $1; n[NR] = $2 }
    END {
      if (bad || NR == 0) { print "NA NA failed"; exit }
      k = asort(o); asort(n)
      mo = k % 2 ? o[(k + 1) / 2] : (o[k / 2] + o[k / 2 + 1]) / 2
      mn = k % 2 ? n[(k + 1) / 2] : (n[k / 2] + n[k / 2 + 1]) / 2
      spread = (o[k] - o[1]) / 2 / mo
      printf "%.3f %.3f %s\n", mo, mn, (mn / mo > 1 + spread ? "SLOWER" : "ok") }')
  printf '%-40s %8s s %8s s %7s  %s %s\n' "$label" "$old" "$new" \
    "$(ratio "$new" "$old")" "$verdict" "$([[ $same == same ]] || echo "$same")"
  [[ $verdict != SLOWER ]] || SLOWER_ROWS+=("$label")
}

# This build against the build of GUARD_BASE, side by side, over a grid of switches: windows
# from 2 to 20,000, linkage distances up to 1,000,000, -K, -N, several special residues,
# random estimation, a long gap and a long run of special residues, one entry and many, one
# thread, two and 64 (more than this machine has cores).
section_guard() {
  local ecoli gap80 run db parts big lambda w
  ecoli=$(cached_genome ecoli_mg1655 ragout-examples \
    usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz)
  lambda=$(cached_genome lambda_phage bowtie2-examples \
    usr/share/doc/bowtie2/examples/reference/lambda_virus.fa.gz)
  gap80=$(made_genome gap_80000000 --uniform C 80000000 A)
  run=$(specials_run_genome)
  db=$(database)
  parts=$(genome_in_25)
  big=$(big_genome)
  BASE_KESTRA=$(base_build)
  SLOWER_ROWS=()
  rule
  printf 'guard: this build against %s, %s paired runs a row (medians)\n' "$GUARD_BASE" \
    "$GUARD_PAIRS"
  printf '%-40s %10s %10s %7s\n' "" "earlier" "this" "ratio"
  rule
  guard_row "E.coli default" "$ecoli"
  for w in 2 50 100 1000 2000 5000 20000; do guard_row "E.coli -W:$w" "$ecoli" -W:$w; done
  guard_row "E.coli -W:2 -P:1.1 (every window)" "$ecoli" -W:2 -P:1.1
  guard_row "E.coli -W:100 -N --bed" "$ecoli" -W:100 -N --bed
  guard_row "E.coli -W:500 -E:50 -F" "$ecoli" -W:500 -E:50 -F
  for e in 0 100 1000 1000000; do guard_row "E.coli -E:$e" "$ecoli" -E:$e; done
  guard_row "E.coli -K -L --bed" "$ecoli" -K -L --bed
  guard_row "E.coli -R:AT" "$ecoli" -R:AT
  guard_row "E.coli -R:GCT -E:10 -F" "$ecoli" -R:GCT -E:10 -F
  guard_row "lambda -S:300 --seed 7" "$lambda" -S:300 --seed 7
  guard_row "lambda -B:300 --seed 7" "$lambda" -B:300 --seed 7
  guard_row "80 Mbp gap, one A" "$gap80"
  guard_row "80 Mbp gap, -W:100" "$gap80" -W:100
  guard_row "10 Mbp, a run of 2 Mbp of A" "$run"
  guard_row "10 Mbp, a run of 2 Mbp of A, -W:1000" "$run" -W:1000
  guard_row "100 Mbp one entry" "$big"
  guard_row "100 Mbp one entry, --threads 2" "$big" --threads 2
  guard_row "100 Mbp one entry, --threads 64" "$big" --threads 64
  guard_row "100 Mbp in 25, --all-entries" "$parts" --all-entries
  guard_row "100 Mbp in 25, --threads 2" "$parts" --all-entries --threads 2
  guard_row "database -L --bed" "$db" --all-entries -L --bed
  guard_row "database -L --bed, --threads 2" "$db" --all-entries -L --bed --threads 2
  guard_row "database -L --bed, --threads 64" "$db" --all-entries -L --bed --threads 64
  guard_row "database --no-report -F, --threads 2" "$db" --all-entries --no-report -F --threads 2
  rule
  if ((${#SLOWER_ROWS[@]} == 0)); then
    printf 'no row slower than %s beyond its spread\n' "$GUARD_BASE"
  else
    printf 'slower than %s beyond the spread: %s\n' "$GUARD_BASE" "${SLOWER_ROWS[*]}"
  fi
}

# NAME COUNT LENGTH A_SHARE...: the file NAME.fa in the cache, made once: for each
# (COUNT LENGTH A_SHARE) its random entries, named after the file, the length and the share.
random_entries() {
  local name=$1 out=$BENCH_DATA/$1.fa
  shift
  if [[ ! -s "$out" ]]; then
    mkdir -p "$BENCH_DATA"
    : >"$out.tmp"
    while (($# >= 3)); do
      "$MAKE_GENOME" --random "$1" "$2" "$3" "${name}_${2}_$3" "$WORK/part.fa" ||
        die "make_genome failed"
      cat "$WORK/part.fa" >>"$out.tmp"
      shift 3
    done
    mv "$out.tmp" "$out"
  fi
  printf '%s\n' "$out"
}

# INPUT PATTERN SWITCHES...: one run on INPUT with the summary of entries; prints, for the
# entries whose name matches PATTERN, "MASKED ENTRIES": how many have a masked position.
masked_entries() {
  local input=$1 pattern=$2
  shift 2
  (cd "$WORK" && "$KESTRA" "$input" calib --all-entries --summary --no-report "$@" >/dev/null \
    2>"$WORK/last.err") || { echo "NA NA"; return; }
  awk -F'\t' -v p="$pattern" 'NR > 1 && $1 ~ p { n++; if ($6 > 0) m++ }
    END { printf "%d %d\n", m, n }' "$WORK/calib.summary.tsv"
}

# LABEL MASKED ENTRIES: a row of the calibration: the count and share masked.
row_share() {
  printf '%-56s %6s of %6s  %s\n' "$1" "$2" "$3" \
    "$(awk -v m="$2" -v n="$3" 'BEGIN { if (n + 0 == 0) print "NA"; else printf "%.2f%%", 100 * m / n }')"
}

# The calibration of the E-values and the background, and the cost of the survey. (a) Random
# entries, 20,000 a composition (10,000 of 100 letters, 8,000 of 1,000 and 2,000 of 10,000;
# uniform, and A-rich at 40% A): how many get a masked segment at -M:0.05, where about 5%
# do by chance, and with --mask-evalue 0.05, where at most 2 in all may. (b) Planted: 50 reads
# of 100 letters at 85% A among 2,000 random ones, and a contig of 56 A among 2,000 random
# contigs of 1,000 letters: how many are found with each entry's own composition and with
# --background input, and how many random ones are masked besides. (c) The survey: the
# database and the 100 Mbp file with --evalues (which reads the input once more and changes
# no mask) and with --background input, against the same runs without, paired.
section_significance() {
  local uniform arich reads contigs len m n total_m total_n big db
  uniform=$(random_entries calib_uniform 10000 100 0.25 8000 1000 0.25 2000 10000 0.25)
  arich=$(random_entries calib_arich 10000 100 0.4 8000 1000 0.4 2000 10000 0.4)
  reads=$(random_entries calib_reads 2000 100 0.25 50 100 0.85)
  contigs=$(random_entries calib_contigs 2000 1000 0.25 1 56 1)
  rule
  printf 'significance: random entries masked by chance (one run over each file)\n'
  rule
  for input in "$uniform" "$arich"; do
    for rule_switches in "-M:0.05" "--mask-evalue 0.05"; do
      total_m=0
      total_n=0
      for len in 100 1000 10000; do
        # shellcheck disable=SC2086  # the switches are words
        read -r m n < <(masked_entries "$input" "_${len}_" $rule_switches)
        row_share "(a) $(basename "$input" .fa) $len, $rule_switches" "$m" "$n"
        [[ $m != NA ]] || die "the run failed: $(head -n 3 "$WORK/last.err")"
        total_m=$((total_m + m))
        total_n=$((total_n + n))
      done
      row_share "(a) $(basename "$input" .fa) all, $rule_switches" "$total_m" "$total_n"
      if [[ $rule_switches == --mask-evalue* ]]; then
        row_ratio "  entries masked, --mask-evalue 0.05" "$total_m" 2
      fi
    done
  done
  rule
  printf 'significance: planted entries found, and random ones masked besides\n'
  rule
  for background in "" "--background input"; do
    for rule_switches in "-M:0.05" "--mask-evalue 0.05"; do
      # shellcheck disable=SC2086  # the switches are words
      read -r m n < <(masked_entries "$reads" "_0.85_" $rule_switches $background)
      row_share "(b) 85% A reads, $rule_switches ${background:-own}" "$m" "$n"
      # shellcheck disable=SC2086
      read -r m n < <(masked_entries "$reads" "_0.25_" $rule_switches $background)
      row_share "    random reads masked" "$m" "$n"
      # shellcheck disable=SC2086
      read -r m n < <(masked_entries "$contigs" "_56_" $rule_switches $background)
      row_share "(b) 56 A contig, $rule_switches ${background:-own}" "$m" "$n"
      # shellcheck disable=SC2086
      read -r m n < <(masked_entries "$contigs" "_1000_" $rule_switches $background)
      row_share "    random contigs masked" "$m" "$n"
    done
  done
  big=$(big_genome)
  db=$(database)
  rule
  printf 'significance: the survey of the input, %s pairs of runs, one thread\n' "$PAIRS"
  rule
  for survey in --evalues "--background input"; do
    PAIR_A=()
    # shellcheck disable=SC2206  # the switches are words
    PAIR_B=($survey)
    paired "$KESTRA" "$db" out --all-entries -L --bed --no-report
    paired_rows "(c) database -L --bed --no-report" 1.3 "" "without" "$survey" ""
    paired "$KESTRA" "$big" out -L --bed
    paired_rows "(c) 100M -L --bed" 1.3 "" "without" "$survey" ""
  done
}

# The library from Python, through the package built beside the command: kestra.read of a
# database of 20,000 entries collecting every entry's segments against the command's
# --table-out --all-segments run (a), and kestra.scan of E. coli against the command writing
# the same table (b); one thread.
# CMD...: the least, over RUNS runs, of the seconds CMD prints as the last field of its
# output (a time it takes inside its own process), or NA.
inner_best() {
  local best=NA i t
  for ((i = 0; i < RUNS; i++)); do
    t=$( (cd "$WORK" && "$@" 2>"$WORK/last.err") | awk '{ t = $NF } END { print t }') || t=""
    if [[ -z $t ]]; then
      log "failed: $*"
      echo NA
      return
    fi
    best=$(awk -v t="$t" -v m="$best" 'BEGIN { if (m == "NA" || t < m) m = t; printf "%.6f", m }')
  done
  echo "$best"
}

# A minus B, or NA.
minus() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "NA" || b == "NA") print "NA"; else print a - b }'; }

# The Python package against the command writing the same table, three ways: the whole
# python3 run; the same less the start of python3 with the package and a first, tiny result
# (what the run imports, NumPy's core among it; kestra.read's analysis runs meanwhile, so
# this understates the call's share); and the call alone, timed inside the process.
section_library() {
  local db ecoli python t_read t_table t_scan t_ecoli t_start t_numpy c_read c_scan path
  db=$BENCH_DATA/database_20000.fa
  mkdir -p "$BENCH_DATA"
  if [[ ! -s "$db" ]]; then
    "$MAKE_GENOME" --database 20000 "$db.tmp" || die "make_genome failed"
    mv "$db.tmp" "$db"
  fi
  ecoli=$(cached_genome ecoli_mg1655 ragout-examples \
    usr/share/doc/ragout/examples/E.Coli/references/MG1655-K12.fasta.gz)
  path="$REPO/python:$(dirname "$KESTRA")/python"
  python=(env PYTHONPATH="$path" /usr/bin/python3 "$REPO/bench/library/read_all.py")
  rule
  printf 'library: %s and %s, best of %s runs\n' "$(basename "$db")" "$(basename "$ecoli")" "$RUNS"
  rule
  t_table=$(time_best "$KESTRA" "$db" out --all-entries --table-out t.tsv --all-segments \
    --no-report --quiet)
  row_time "database, --table-out --all-segments" "$t_table"
  t_read=$(time_best "${python[@]}" read "$db")
  row_time "database, kestra.read: python3 run" "$t_read"
  c_read=$(inner_best "${python[@]}" read "$db" 1 --time)
  row_time "database, kestra.read: the call" "$c_read"
  t_ecoli=$(time_best "$KESTRA" "$ecoli" out --table-out t.tsv --all-segments --no-report --quiet)
  row_time "E.coli, --table-out --all-segments" "$t_ecoli"
  t_scan=$(time_best "${python[@]}" scan "$ecoli")
  row_time "E.coli, kestra.scan: python3 run" "$t_scan"
  c_scan=$(inner_best "${python[@]}" scan "$ecoli" 1 --time)
  row_time "E.coli, kestra.scan: the call" "$c_scan"
  t_start=$(time_best env PYTHONPATH="$path" /usr/bin/python3 -c "import kestra")
  row_time "python3 -c 'import kestra'" "$t_start"
  # The start and a first, tiny result: what the run imports (NumPy's core among it).
  t_numpy=$(time_best env PYTHONPATH="$path" /usr/bin/python3 -c \
    "import kestra; kestra.scan('ACGT').segments")
  row_time "python3, a first result of 4 letters" "$t_numpy"
  rule
  printf '%s\n' "python3 run: the whole run; less the start: less python3 with a first result of 4 letters" \
    "the call: timed inside the process (kestra and NumPy imported, letters read, before)"
  row_ratio "(a) kestra.read / command" "$(ratio "$t_read" "$t_table")" 1.5
  row_ratio "(b) kestra.scan / command" "$(ratio "$t_scan" "$t_ecoli")" 1.3
  row_ratio "(a') less the start / command" "$(ratio "$(minus "$t_read" "$t_numpy")" "$t_table")" 1.5
  row_ratio "(b') less the start / command" "$(ratio "$(minus "$t_scan" "$t_numpy")" "$t_ecoli")" 1.3
  row_ratio "(a'') the call / command" "$(ratio "$c_read" "$t_table")" 1.5
  row_ratio "(b'') the call / command" "$(ratio "$c_scan" "$t_ecoli")" 1.3
}

# ---- main --------------------------------------------------------------------------------

wants() { [[ " $SECTIONS " == *" $1 "* ]]; }

for s in $SECTIONS; do
  case $s in
    ecoli | lambda | memory | big | entries | tables | threads | cliffs | compressed | plot | \
      significance | guard | library) ;;
    *) die "unknown section '$s' (ecoli, lambda, memory, big, entries, tables, threads, cliffs, compressed, plot, significance, guard, library)" ;;
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
if wants tables; then section_tables; fi
if wants threads; then section_threads; fi
if wants cliffs; then
  section_cliffs
  section_thread_memory
fi
if wants compressed; then section_compressed; fi
if wants plot; then section_plot; fi
if wants significance; then section_significance; fi
if wants guard; then section_guard; fi
if wants library; then section_library; fi
