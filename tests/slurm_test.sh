#!/usr/bin/env bash
# The sweep on a real Slurm cluster: a one-node cluster from Debian's packages (slurmctld,
# slurmd, munge), configured in a temporary folder, started here and stopped at the end.
# A sweep run with --slurm in an allocation gives the rows of a sweep run here at the same
# seeds, but for each run's time and host; a signal ends its job steps.
# Usage: tests/slurm_test.sh BIN_DIR (the build to sweep with). Needs root.
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/deps.sh"
install_missing slurmctld slurmd slurm-client munge parallel libfaketime
export SUBSET_BIN_DIR=$bin
work=$(mktemp -d)
chmod 755 "$work"
fail() {
    echo "FAILED: $*" >&2
    for log in "$work"/*.log; do
        [ ! -s "$log" ] || { echo "-- $log" && tail -n 20 "$log"; } >&2
    done
    exit 1
}

# ---- The cluster ----
# munge authenticates the daemons to each other, through a socket of its own; ports
# other than Slurm's own keep clear of a cluster this machine may belong to.
stop_cluster() {
    if [ -e "$work/slurmctld.pid" ]; then scontrol shutdown >/dev/null 2>&1 || true; fi
    for pid_file in "$work/slurmd.pid" "$work/slurmctld.pid"; do
        [ -e "$pid_file" ] || continue
        pid=$(cat "$pid_file")
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    [ ! -e "$work/munge.socket" ] || munged --stop -S "$work/munge.socket" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap stop_cluster EXIT
mungekey -c -k "$work/munge.key"
munged --force -S "$work/munge.socket" --key-file="$work/munge.key" --log-file="$work/munged.log" \
    --pid-file="$work/munged.pid" --seed-file="$work/munged.seed"
mkdir "$work/spool" "$work/state"
node=$(hostname -s)
cat >"$work/slurm.conf" <<CONF
ClusterName=sweep-test
SlurmctldHost=$node
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
SlurmctldPort=16817
SlurmdPort=16818
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$node CPUs=$(nproc) State=UNKNOWN
PartitionName=sweep Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
slurmctld
slurmd
for _ in $(seq 600); do
    [ "$(sinfo -h -o %T 2>/dev/null)" != idle ] || break
    sleep 0.1
done
[ "$(sinfo -h -o %T)" = idle ] || fail "the node is $(sinfo -h -o %T)"

# ---- The sweep through it ----
cp "$root/data/four.txt" "$work/four.txt"
"$bin/make_distances" 5 11 -3 7 >"$work/five.txt"
sweep=(--runs 2 --first-seed 1700000100 --summary-dir "$work/sums" "$work/four.txt" "$work/five.txt")
salloc --quiet -n 2 "$root/tools/sweep" --slurm --state "$work/slurm-state" "${sweep[@]}" \
    >"$work/slurm.csv" 2>"$work/sweep.log" || fail "the sweep on Slurm"
"$root/tools/sweep" "${sweep[@]/#$work\/sums/$work/local-sums}" >"$work/local.csv" ||
    fail "the sweep here"
for csv in slurm local; do cut -d, -f1-8,11 "$work/$csv.csv" >"$work/$csv.cut"; done
cmp "$work/slurm.cut" "$work/local.cut" || fail "the Slurm sweep's rows: $(cat "$work/slurm.csv")"
[ "$(wc -l <"$work/slurm.csv")" = 5 ] || fail "the Slurm sweep's CSV: $(cat "$work/slurm.csv")"
diff -r "$work/sums" "$work/local-sums" >/dev/null || fail "the Slurm sweep's tables per subset size"
# Each run was a job step, started by srun.
[ "$(grep -c $'\tsrun --exclusive -N1 -n1 ' "$work/slurm-state/joblog")" = 4 ] ||
    fail "the Slurm sweep's jobs: $(cat "$work/slurm-state/joblog")"

# A signal to the sweep ends its steps: none is left once the sweep has ended.
"$bin/make_distances" 1000 3 0 100 >"$work/long.txt"
salloc --quiet -n 2 "$root/tools/sweep" --slurm --first-seed 5 --state "$work/long-state" \
    "$work/long.txt" >"$work/long.csv" 2>"$work/long.log" &
allocation=$!
until [ -n "$(squeue -h -s 2>/dev/null)" ]; do
    kill -0 "$allocation" 2>/dev/null || fail "the long sweep ended: $(cat "$work/long.log")"
    sleep 0.05
done
# The sweep alone is signalled, not salloc, which would end the allocation itself.
pkill -TERM -f -- "^bash $root/tools/sweep --slurm --first-seed 5 " || fail "no sweep to signal"
wait "$allocation" || true
grep -q '^subset_sweep: stopped by SIGTERM after 0 of 1 runs' "$work/long.log" ||
    fail "the long sweep's end: $(cat "$work/long.log")"
for _ in $(seq 300); do
    [ -n "$(squeue -h -s 2>/dev/null)" ] || break
    sleep 0.1
done
[ -z "$(squeue -h -s)" ] || fail "steps left after SIGTERM: $(squeue -s)"
echo "slurm: 1 passed, 0 failed"
