#!/usr/bin/env bash
# Stops the cluster that cluster_up.sh started in STATE_DIR: first its jobs, then each daemon
# by the PID noted in STATE_DIR/pids, in the reverse order of their start, with SIGTERM and,
# after half a minute, SIGKILL. A PID is signalled only while it still runs the program
# noted with it, so that a number the system has given to another process since is spared.
# Safe to run more than once, and on a cluster that came up only in part.
# Fails when a daemon could not be stopped.
# Usage: cluster_down.sh STATE_DIR
set -euo pipefail

state=$1 pids=$1/pids
[ -s "$pids" ] || exit 0
export SLURM_CONF=$state/etc/slurm.conf

runs() {  # PID NAME: whether that process still runs that program (a zombie does not)
  local stat
  [ "$(cat "/proc/$1/comm" 2>/dev/null)" = "$2" ] &&
    stat=$(cat "/proc/$1/stat" 2>/dev/null) && [ "$(cut -d ' ' -f 2 <<<"${stat##*)}")" != Z ]
}

pid_of() { awk -v n="$1" '$2 == n { p = $1 } END { print p }' "$pids"; }
queued() { timeout 10 squeue -h -o %i 2>/dev/null || true; }

# A job step outlives slurmd unless its job ends first. (No PID noted: no such process runs.)
if runs "$(pid_of slurmctld)" slurmctld && runs "$(pid_of slurmd)" slurmd &&
  jobs=$(queued) && [ -n "$jobs" ]; then
  # shellcheck disable=SC2086  # one job id a word
  timeout 10 scancel $jobs 2>/dev/null || true
  for _ in $(seq 30); do [ -z "$(queued)" ] && break; sleep 0.5; done
fi

# PID NAME SIGNAL ROUNDS: signals the daemon, then waits up to ROUNDS half-seconds for it to
# end; false if it still runs.
signal_and_wait() {
  kill -"$3" "$1" 2>/dev/null || true
  for _ in $(seq "$4"); do runs "$1" "$2" || return 0; sleep 0.5; done
  return 1
}

failed=0
while read -r pid name; do
  runs "$pid" "$name" || continue
  signal_and_wait "$pid" "$name" TERM 60 && continue
  echo "cluster_down: $name ($pid) ignored SIGTERM for 30 s; killing it" >&2
  signal_and_wait "$pid" "$name" KILL 10 && continue
  echo "cluster_down: $name ($pid) is still running" >&2 && failed=1
done < <(tac "$pids")
exit "$failed"
