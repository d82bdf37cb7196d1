#!/usr/bin/env bash
# The workflow on a real scheduler. A single-node SLURM cluster with accounting is started on
# this machine (cluster_up.sh); three genomes, each split into three shards, go through the
# workflow by the generic sbatch route, by --slurm (its outputs compressed and indexed) and by
# the shipped profile, and every output must have the bytes of a local run. Meanwhile a
# KESTRA job is cancelled with scancel while it runs: that run of the workflow must stop with
# a failure, in bounded time, and a rerun must complete with the same outputs again. Whatever
# happens, every daemon started is stopped by its PID (cluster_down.sh). Skipped (exit status
# 77) when not run as root, or when the packages or the genomes cannot be had.
# Usage: test_cluster.sh KESTRA
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/cluster
kestra=$(realpath "$1")

skip() { echo "SKIPPED: $*"; exit 77; }
# The daemons run as root or as their own users, and packages get installed; those of the
# tests come with Debian's ragout-examples, which install-deps.sh unpacks where the benchmarks
# and CI read it.
[ "$(id -u)" -eq 0 ] || skip "the cluster test runs as root only"
{ bash "$root/scripts/install-deps.sh" cluster && bash "$root/scripts/install-deps.sh" test; } ||
  skip "the SLURM packages, the tests' or Debian's ragout-examples could not be installed"

# Three genomes of ragout-examples: one chromosome in plain FASTA, then two chromosomes and a
# draft of 183 contigs, both gzip'd.
examples=$root/bench/data/x/usr/share/doc/ragout/examples

# munged and mariadbd, which run as their own users, keep their files in here.
tmp=$(mktemp -d) && chmod 0755 "$tmp" && state=$tmp/cluster
# route -> PID of a workflow run not waited for yet, and when it started; PID -> route.
declare -A running=() started=() route_of=()
# shellcheck disable=SC2317  # run by the trap
finish() {
  local status=$? pid
  trap - EXIT INT TERM
  # timeout passes SIGTERM on to Snakemake, and kills it 20 s later if it is still there.
  for pid in "${running[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${running[@]}"; do wait "$pid" 2>/dev/null || true; done
  bash "$here/cluster_down.sh" "$state" || status=1
  [ "$status" -eq 0 ] || [ ! -d "$state/log" ] || tail -n 20 "$state"/log/*.log >&2 || true
  rm -rf "$tmp"
  exit "$status"
}
trap finish EXIT && trap 'exit 130' INT && trap 'exit 143' TERM

# A SLURM job of an outer scheduler that runs this test must not leak into its runs.
unset "${!SLURM_@}"
# --slurm asks sacctmgr about the account of $USER.
export USER=${USER:-$(id -un)}
export XDG_CACHE_HOME=$tmp/cache  # where Snakemake would otherwise keep a cache of its own

inputs=$tmp/inputs && mkdir "$inputs"
gzip -dc "$examples/H.Pylori/references/G27.fasta.gz" >"$inputs/hpylori_g27.fa"
printf 'sample\tpath\nhpylori_g27\t%s\nvcholerae_o395\t%s\nhpylori_sjm180\t%s\n' \
  "$inputs/hpylori_g27.fa" "$examples/V.Cholerae/references/O395.fasta.gz" \
  "$examples/H.Pylori/SJM180_contigs.fasta.gz" >"$inputs/samples.tsv"
samples=(hpylori_g27 vcholerae_o395 hpylori_sjm180)

# KESTRA through a wrapper that notes which SLURM job each run is part of ("local" when none)
# in $KESTRA_RUNS. While $KESTRA_HOLD exists, a run inside a SLURM job, once finished, names
# its job in $KESTRA_HOLD.jobs and waits: a job to cancel. The outputs are KESTRA's own.
cat >"$inputs/kestra" <<EOF
#!/bin/sh
echo "\${SLURM_JOB_ID:-local}" >>"\$KESTRA_RUNS"
$(printf '%q' "$kestra") "\$@"
status=\$?
if [ -n "\${SLURM_JOB_ID:-}" ] && [ -n "\${KESTRA_HOLD:-}" ] && [ -e "\$KESTRA_HOLD" ]; then
  echo "\$SLURM_JOB_ID" >>"\$KESTRA_HOLD.jobs"
  while [ -e "\$KESTRA_HOLD" ]; do sleep 1; done
fi
exit "\$status"
EOF
# The plotting tool is not under test: the text of the report it is given (which it reads
# compressed or not) shows it ran on it.
# shellcheck disable=SC2016  # for the script, not for here
printf '#!/bin/sh\ngzip -dcf "$1" >"$3"\n' >"$inputs/plot"
chmod +x "$inputs/kestra" "$inputs/plot"

failed=0
problem() { echo "FAILED: $*"; failed=1; }
# ROUNDS COMMAND...: runs COMMAND every half second until it passes; false if it has not
# passed after ROUNDS tries.
poll() { local n=$1; shift; until "$@"; do ((--n > 0)) || return 1; sleep 0.5; done; }
# shellcheck disable=SC2317  # run by poll
ended() { ! kill -0 "${running[$1]}" 2>/dev/null; }

# Starts the workflow in the background as ROUTE, in a working directory of that name, with
# the arguments after LIMIT and then the config: three shards unless $shards says otherwise,
# one thread a job, so that the node's two CPUs run two jobs at once, and compressed and
# indexed outputs for the slurm route. The run is stopped after LIMIT seconds, and killed 20 s
# later if that did not stop it. Snakemake starts from the checkout, where the profile's
# snakefile path leads. The PID (that of `timeout`, which
# passes a signal on) goes to running[ROUTE].
launch() {
  local route=$1 limit=$2 packing=()
  shift 2
  mkdir -p "$tmp/$route/slurm-logs" && : >"$tmp/runs.$route"
  [ "$route" != slurm ] || packing=(compress=true index=true)
  (cd "$root" && KESTRA_RUNS=$tmp/runs.$route exec timeout -k 20 "$limit" snakemake "$@" \
    --directory "$tmp/$route" --config samples="$inputs/samples.tsv" \
    kestra="$inputs/kestra" kestra_plot="$inputs/plot" shards="${shards:-3}" threads=1 \
    "${packing[@]}" >"$tmp/$route.log" 2>&1) &
  running[$route]=$! route_of[$!]=$route started[$route]=$SECONDS
}

# Waits for the first of the runs going to end, and sets $route to it; prints the run's log
# and fails when the run failed.
await() {
  local pid status=0
  wait -n -p pid "${running[@]}" || status=$?
  route=${route_of[$pid]}
  unset "running[$route]"
  echo "$route: exit status $status after $((SECONDS - started[$route])) s"
  [ "$status" -eq 0 ] || { cat "$tmp/$route.log"; problem "$route: the workflow failed"; }
  return "$status"
}

# Each output of ROUTE must be that of the local run, byte for byte (once decompressed, for
# the slurm route), and every KESTRA run of it must have been part of a SLURM job. (The
# indexes, outputs the workflow must write, are held to what samtools and tabix read through
# them, in three parts, by tests/workflow/test_workflow.sh.)
check() {
  local route=$1 sample suffix file read local=$tmp/local/results results=$tmp/$1/results
  for sample in "${samples[@]}"; do
    for suffix in summary.tsv png seg fas bed; do
      file=$sample.$suffix read=cat
      [[ $suffix == @(seg|fas|bed) && $route == slurm ]] && file+=.gz read="gzip -dc"
      $read "$results/$file" | cmp "$local/$sample.$suffix" - ||
        problem "$route: $file does not hold the local run's $sample.$suffix"
    done
  done
  for table in summary.tsv kestra_mqc.tsv; do
    cmp "$local/$table" "$results/$table" || problem "$route: $table differs from the local's"
  done
  local runs=$tmp/runs.$route
  { [ -s "$runs" ] && ! grep -qx local "$runs"; } ||
    problem "$route: KESTRA ran outside the cluster: $(sort "$runs" | uniq -c | tr -s ' \n' ' ')"
}

workflow=(--snakefile "$root/workflow/Snakefile")
submit="sbatch --parsable --cpus-per-task={threads} --mem={resources.mem_mb}"
submit+=" --time={resources.runtime} --job-name=kestra-{rule} --output=slurm-logs/%j.out"
sbatch_route=("${workflow[@]}" --jobs 50 --default-resources runtime=120 --cluster "$submit"
  --cluster-status "$(printf '%q' "$root/workflow/scripts/slurm_status.sh")"
  --cluster-cancel scancel)
cluster_defaults=(--default-resources slurm_account=tests slurm_partition=debug runtime=120)

# The reference: a local run, whole. (That in parts it gives the same is held by every route
# here, and by tests/workflow/test_workflow.sh.)
shards=1 launch local 300 "${workflow[@]}" --cores 2
await || exit 1
for sample in "${samples[@]}"; do
  [ -s "$tmp/local/results/$sample.seg" ] || { problem "local: no $sample.seg"; exit 1; }
done

start=$SECONDS
bash "$here/cluster_up.sh" "$state"
echo "cluster up in $((SECONDS - start)) s"
# shellcheck source=/dev/null  # written by cluster_up.sh: SLURM_CONF
source "$state/env"

# Two jobs for the status helper, checked at the end: one succeeds, one fails.
good=$(sbatch --parsable --output=/dev/null --wrap true)
bad=$(sbatch --parsable --output=/dev/null --wrap false)

# The routes run side by side, as each spends much of its time waiting for status checks.
launch sbatch 300 "${sbatch_route[@]}"
launch slurm 300 "${workflow[@]}" --slurm --jobs 50 --max-status-checks-per-second 1 \
  "${cluster_defaults[@]}"
# The profile as shipped, only pointed at this cluster's account and partition.
launch profile 300 --profile workflow/profiles/slurm "${cluster_defaults[@]}"

# A job cancelled while it runs: the workflow must notice and fail, not wait for it forever.
hold=$tmp/hold && touch "$hold" && : >"$hold.jobs"
KESTRA_HOLD=$hold launch cancel 240 "${sbatch_route[@]}"
# shellcheck disable=SC2016  # for eval
poll 120 eval '[ -s "$hold.jobs" ] || ended cancel' || true
held=$(head -n 1 "$hold.jobs")
[ -n "$held" ] ||
  { cat "$tmp/cancel.log"; problem "cancel: no KESTRA job ran in a minute"; exit 1; }
job_state=$(squeue -h -j "$held" -o %T)
[ "$job_state" = RUNNING ] || problem "cancel: job $held is '$job_state', not RUNNING"
scancel "$held"
cancelled=$SECONDS
# The other runs held may go on now.
rm -f "$hold"
# Snakemake checks its jobs every 10 s and, once one has failed, waits for those it has
# submitted already, which queue behind the other routes' jobs: two minutes are plenty.
# (finish stops a run still going.)
poll 240 ended cancel || { cat "$tmp/cancel.log"
  problem "cancel: the workflow still ran 2 minutes after job $held was cancelled"; exit 1; }
status=0 && wait "${running[cancel]}" || status=$?
unset "running[cancel]"
echo "cancel: exit status $status, $((SECONDS - cancelled)) s after job $held was cancelled"
[ "$status" -ne 0 ] || problem "cancel: the workflow succeeded although job $held was cancelled"
# Snakemake names the job by its SLURM id as "cluster_jobid: ID" and "external: ID,".
grep -Eq "(cluster_jobid|external): $held([^0-9]|\$)" "$tmp/cancel.log" ||
  { cat "$tmp/cancel.log"; problem "cancel: the workflow's log does not name the job $held"; }
mv "$tmp/cancel.log" "$tmp/cancel-first.log"
launch cancel 300 "${sbatch_route[@]}"

while [ ${#running[@]} -gt 0 ]; do ! await || check "$route"; done

# The status helper on its own: on the two jobs, also by the id that `sbatch --parsable`
# prints on a cluster among several, and on an id never given; then the same once the
# controller has forgotten the jobs, as it does a while after they end, so that accounting
# answers; and with neither of them answering, when the job may still be running.
helper=$root/workflow/scripts/slurm_status.sh
# shellcheck disable=SC2016  # for eval
poll 60 eval '[ -z "$(squeue -h -j "$good,$bad" -o %i)" ]' || true
mkdir "$tmp/forgetful" "$tmp/down"
# Clients that say a message and fail.
for fake in "forgetful/scontrol:slurm_load_jobs error: Invalid job id specified" \
    "down/scontrol:error: Unable to contact slurm controller" \
    "down/sacct:error: Problem talking to the database"; do
  printf '#!/bin/sh\necho "%s" >&2\nexit 1\n' "${fake#*:}" >"$tmp/${fake%%:*}"
  chmod +x "$tmp/${fake%%:*}"
done
for path in "" "$tmp/forgetful:" "$tmp/down:"; do
  cases=("success $good" "success $good;kestra" "failed $bad" "failed 99999999")
  [ "$path" != "$tmp/down:" ] || cases=("running $good" "running $bad")
  for case in "${cases[@]}"; do
    said=$(PATH=$path$PATH "$helper" "${case#* }") || said="exit status $?"
    [ "$said" = "${case%% *}" ] || problem "slurm_status.sh ${case#* } said '$said'," \
      "not '${case%% *}'${path:+ (PATH starting with ${path%:})}"
  done
done

[ "$failed" -eq 0 ] && echo "cluster runs match the local run"
exit "$failed"
