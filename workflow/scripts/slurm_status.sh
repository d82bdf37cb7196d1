#!/usr/bin/env bash
# The --cluster-status helper of the generic sbatch route: prints success, failed or running
# for a SLURM job id as `sbatch --parsable` printed it ("12345", or "12345;cluster" on a
# cluster among several). Snakemake runs it in the workflow's working directory, hence the
# whole path:
#   snakemake --cluster "sbatch --parsable ..." --cluster-cancel scancel \
#     --cluster-status "$PWD/workflow/scripts/slurm_status.sh" ...
# Snakemake stops the whole run when this helper fails or prints anything else, so a
# scheduler that cannot be reached for a moment counts as the job still running.
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: slurm_status.sh JOBID[;CLUSTER]" >&2
  exit 2
fi
job=${1%%;*}
# (Written for the bash of older cluster nodes too, where an empty array counts as unset.)
clusters=()
# A job of another cluster (sbatch --clusters) is known only to that cluster's controller.
if [ "$job" != "$1" ] && [ -n "${1#*;}" ]; then
  clusters=(--clusters "${1#*;}")
fi

# The controller knows a job from its submission until a while (MinJobAge) after it ended,
# and knows it first; accounting may list it only some seconds later, but keeps it for good.
state=
unknown_to_controller=false
if answer=$(scontrol ${clusters[@]+"${clusters[@]}"} show job "$job" 2>&1); then
  state=$(sed -n '/JobState=/{s/.*JobState=\([A-Z_]*\).*/\1/p;q}' <<<"$answer")
elif grep -qi 'invalid job id' <<<"$answer"; then
  unknown_to_controller=true
fi
accounted=false
if [ -z "$state" ] &&
  answer=$(sacct ${clusters[@]+"${clusters[@]}"} -X -n -P -j "$job" -o State 2>/dev/null); then
  accounted=true
  # "CANCELLED by 0" and the like: the first word is the state.
  state=${answer%%$'\n'*}
  state=${state%% *}
fi

case $state in
  COMPLETED) echo success ;;
  PENDING | RUNNING | SUSPENDED | COMPLETING | CONFIGURING | RESIZING | REQUEUED | \
    REQUEUE_FED | REQUEUE_HOLD | RESV_DEL_HOLD | STAGE_OUT | STOPPED | SIGNALING)
    echo running ;;
  "")
    # Gone from the controller and absent from a working accounting: the job ended long
    # ago or never existed, and nothing says it succeeded. Otherwise one of the two could
    # not be asked; ask again at the next check.
    if $unknown_to_controller && $accounted; then echo failed; else echo running; fi ;;
  *) echo failed ;;  # CANCELLED, FAILED, TIMEOUT, OUT_OF_MEMORY, NODE_FAIL, PREEMPTED, ...
esac
