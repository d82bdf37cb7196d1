#!/usr/bin/env bash
# Starts a single-node SLURM cluster with accounting, on loopback only: munged, MariaDB,
# slurmdbd, slurmctld and slurmd. Their configuration, key, database, spool and logs all
# live under STATE_DIR and the ports are ones of its own, so nothing under /etc or /var is
# touched (munge's socket aside, see below) and a cluster already running on the machine is
# left alone. Each daemon's PID is written to STATE_DIR/pids as soon as it starts, for
# cluster_down.sh, which must be run afterwards whatever happens (this script too may fail
# half-way). Clients reach the cluster through SLURM_CONF, which STATE_DIR/env exports.
# Usage: cluster_up.sh STATE_DIR   (as root, with the packages of `install-deps.sh cluster`)
set -euo pipefail

# The ports: MariaDB, slurmctld, slurmd and slurmdbd, in that order.
base=${KESTRA_CLUSTER_PORT_BASE:-26810}
db_port=$((base + 6)) ctld_port=$((base + 7)) slurmd_port=$((base + 8)) dbd_port=$((base + 9))

state=$(mkdir -p "$1" && cd "$1" && pwd)
# munged and mariadbd run as their own users, which must reach their directories in here.
chmod 0755 "$state" && mkdir -p "$state"/{etc,log,run,spool/ctld,spool/d}
export SLURM_CONF=$state/etc/slurm.conf
printf 'export SLURM_CONF=%q\n' "$SLURM_CONF" >"$state/env"
: >"$state/pids"

fail() { echo "cluster_up: $*" >&2; exit 1; }

for user in munge mysql; do  # they run munged and mariadbd
  setpriv --reuid="$user" --regid="$user" --clear-groups test -x "$state" ||
    fail "user $user cannot reach $state: every directory above it must be open to all"
done
for port in "$db_port" "$ctld_port" "$slurmd_port" "$dbd_port"; do
  ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null ||
    fail "port $port is in use (set KESTRA_CLUSTER_PORT_BASE to move the ports)"
done

# up NAME CHECK COMMAND...: runs a daemon that stays in the foreground, its output to its
# log, and notes its PID with the name it runs under (what cluster_down.sh checks before it
# signals that PID); then waits up to a minute for the shell command CHECK to pass, giving up
# early when the daemon has died. A check that hangs (SLURM's clients retry for long) counts
# as failed after 10 s.
up() {
  local name=$1 check=$2 pid deadline=$((SECONDS + 60))
  "${@:3}" </dev/null >>"$state/log/$name.out" 2>&1 &
  pid=$!
  echo "$pid $name" >>"$state/pids"
  while [ "$SECONDS" -lt "$deadline" ]; do
    ! timeout 10 bash -c "$check" >/dev/null 2>&1 || return 0
    kill -0 "$pid" 2>/dev/null || fail "$name exited; see $state/log/$name.*"
    sleep 0.5
  done
  fail "$name did not come up within a minute; see $state/log/$name.*"
}

# munge, on its usual socket: SLURM 22.05 takes another socket from AuthInfo for some of its
# connections but not for those to slurmdbd. A munged already serving that socket will do
# as well as one of our own; otherwise ours runs there, with a key of this cluster's own.
if ! munge -n 2>/dev/null | unmunge >/dev/null 2>&1; then
  [ ! -S /run/munge/munge.socket.2 ] ||
    fail "/run/munge/munge.socket.2 exists but does not answer: a munged in trouble?"
  install -d -o munge -g munge -m 0755 /run/munge "$state/munge"
  mungekey --create --keyfile "$state/munge/munge.key" --force
  chown munge:munge "$state/munge/munge.key" && chmod 0600 "$state/munge/munge.key"
  up munged 'munge -n | unmunge' setpriv --reuid=munge --regid=munge --init-groups \
    munged --foreground --key-file="$state/munge/munge.key" \
    --pid-file="$state/munge/munged.pid" --seed-file="$state/munge/munged.seed" \
    --log-file="$state/log/munged.log"
fi

# MariaDB, for slurmdbd: a database of its own, reached over TCP on loopback.
install -d -o mysql -g mysql -m 0750 "$state/db"
mariadb-install-db --no-defaults --datadir="$state/db/data" --user=mysql \
  --auth-root-authentication-method=socket --skip-test-db >"$state/log/mariadb-install.log" 2>&1 ||
  fail "mariadb-install-db failed; see $state/log/mariadb-install.log"
db_socket=$state/db/mysqld.sock
up mariadbd "mariadb-admin --no-defaults --socket=$(printf %q "$db_socket") ping" \
  mariadbd --no-defaults --user=mysql --datadir="$state/db/data" \
  --socket="$db_socket" --port="$db_port" --bind-address=127.0.0.1 --skip-name-resolve \
  --pid-file="$state/db/mariadbd.pid" --log-error="$state/log/mariadbd.log" \
  --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=2
password=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
mariadb --no-defaults --socket="$db_socket" -u root -e "
  CREATE USER 'slurm'@'127.0.0.1' IDENTIFIED BY '$password';
  GRANT ALL ON slurm_acct_db.* TO 'slurm'@'127.0.0.1';"

# The node as slurmd sees this machine, under the name localhost; a few GiB of memory are
# plenty for the tests and leave the rest to whatever else runs here.
node=$(slurmd -C | head -n 1)
memory=$(sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p' <<<"$node")
[ -n "$memory" ] || fail "cannot read the node from 'slurmd -C': $node"
node=$(sed -e 's/^NodeName=[^ ]*/NodeName=localhost NodeAddr=127.0.0.1/' \
  -e "s/RealMemory=[0-9]*/RealMemory=$((memory < 4096 ? memory : 4096))/" \
  -e 's/ UpTime=.*//' <<<"$node")

# The configuration files: data/slurm.conf and slurmdbd.conf, with the variables here filled
# in. slurmdbd reads slurmdbd.conf next to SLURM_CONF; it holds a password, so it is private.
fill() { eval "cat <<EOF"$'\n'"$(grep -v '^#' "$(dirname "$0")/data/$1")"$'\nEOF'; }
fill slurm.conf >"$SLURM_CONF"
: >"$state/etc/plugstack.conf"
(umask 077 && fill slurmdbd.conf >"$state/etc/slurmdbd.conf")

up slurmdbd 'sacctmgr -n list cluster' slurmdbd -D
# --slurm checks that the user has an account; the tests submit as root.
sacctmgr -i add cluster kestra >/dev/null
sacctmgr -i add account tests Description=tests Organization=tests Cluster=kestra >/dev/null
sacctmgr -i add user root Account=tests DefaultAccount=tests Cluster=kestra >/dev/null

up slurmctld 'scontrol ping' slurmctld -D
# shellcheck disable=SC2016  # for that shell, not for this one
up slurmd '[ "$(sinfo -h -n localhost -o %T)" = idle ]' slurmd -D -N localhost
srun --quiet --time=1 true || fail "a one-step job did not run; see $state/log/slurm*.log"
echo "cluster up: $(sinfo -h -o '%P %D node, %c CPUs, %m MB') (SLURM_CONF=$SLURM_CONF)"
