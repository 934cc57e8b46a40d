#!/usr/bin/env bash
# The sweep at its edges: a state whose making was cut off, two sweeps racing for one
# state, a sweep ended by SIGTERM and by SIGKILL, a run's program killed by a signal, a
# file changed under a sweep, commands that are missing, and the seed's clock leaving
# nothing behind. Most runs are a stand-in for the program (held until signalled, deaf to
# SIGTERM, killed, or changing its file) or a missing file, refused at once; the cases
# that need mounts of their own (a full disk, a private /dev/shm, a hidden library) run
# in namespaces of their own when this user may make them, and say so when not.
# Usage: tests/sweep_edges_test.sh BIN_DIR (the build to sweep with).
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export SUBSET_BIN_DIR=$bin
unset SLURM_JOB_ID
work=$(mktemp -d)
# Whatever a failed case left running is ended, by its process id.
end_left() {
    local pid
    for pid in $(left pids); do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap end_left EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# The processes of the sweeps with the stand-in still there, from parallel to the stand-in
# (their ids with "pids").
left() {
    ps -eo pid=,stat=,args= >"$work/processes"
    awk -v path="$work/stand-in" -v what="${1:-}" '$2 !~ /^Z/ && index($0, path) {
        if (what == "pids") print $1; else print }' "$work/processes"
}
# Waits for an event, for up to a minute.
await() { # description, command...
    local description=$1
    shift
    for _ in $(seq 1200); do
        ! "$@" || return 0
        sleep 0.05
    done
    fail "waited a minute for $description"
}
gone() { [ -z "$(left)" ]; }

cp "$root/data/four.txt" "$work/four.txt"
"$bin/make_distances" 5 11 -3 7 >"$work/five.txt"
missing=$work/missing.txt
mkdir "$work/tmp"
export TMPDIR=$work/tmp

# The stand-in for the program: in the mode written in $work/mode, for one file, held
# until signalled (touching $work/held once it is), or deaf to SIGTERM as a program still
# writing its last iterations would be, killed outright, or changing the file under its
# run and ending with no trace; otherwise the program itself. (Deaf, it is killed
# outright with its job, which can then remove nothing: it drops the clock's semaphore
# and shared memory itself, and holds without libfaketime.)
mkdir "$work/stand-in"
ln -s "$bin/trace_summary" "$work/stand-in/"
cat >"$work/stand-in/subset_search" <<STANDIN
#!/usr/bin/env bash
IFS= read -r name
case "\$(cat '$work/mode'):\$name" in
hold:*five.txt) touch '$work/held' && exec -a '$work/stand-in/held' tail -f /dev/null ;;
deaf:*five.txt)
    rm -f /dev/shm/faketime_shm_\$\$ /dev/shm/sem.faketime_sem_\$\$
    trap '' TERM && touch '$work/held' && LD_PRELOAD= exec -a '$work/stand-in/held' tail -f /dev/null ;;
kill:*five.txt) kill -KILL \$\$ ;;
change:*ch.txt) [ -e '$work/changed' ] || { touch '$work/changed' && cp '$work/five.txt' "\$name"; }; exit 0 ;;
esac
printf '%s\n' "\$name" | exec '$bin/subset_search'
STANDIN
chmod +x "$work/stand-in/subset_search"
echo none >"$work/mode"
sweep() { # CSV, arguments...: the sweep with the stand-in, its status in $status
    local csv=$1
    shift
    status=0
    SUBSET_BIN_DIR=$work/stand-in "$root/tools/sweep" "$@" >"$csv" 2>"$work/sweep.err" || status=$?
}
statuses() { # CSV: the status of each row, one a line
    /usr/bin/python3 -c '
import csv, sys
for row in csv.DictReader(open(sys.argv[1], newline="")):
    print(row["status"])' "$1"
}
# A sweep whose run of five.txt is held: started in the background, its process in
# $held once the run is.
stopped=(--jobs 1 --first-seed 20 --state "$work/stopped" "$missing" "$work/five.txt")
held_sweep() { # CSV
    rm -f "$work/held"
    SUBSET_BIN_DIR=$work/stand-in "$root/tools/sweep" "${stopped[@]}" >"$1" 2>"$work/sweep.err" &
    held=$!
    await "a run held" held_or_ended
    [ -e "$work/held" ] || fail "the sweep ended before its run was held: $(cat "$work/sweep.err")"
}
held_or_ended() { [ -e "$work/held" ] || ! kill -0 "$held" 2>/dev/null; }

# ---- The state folder: made whole or taken up ----
# A making cut off, as a full disk left it (the kept folders, no rows, half the runs),
# and a folder holding a lock and nothing else: the same command takes each up.
mkdir "$work/cut" "$work/bare"
printf 'keep-traces\t\nsummary-dir\t\n' >"$work/cut/kept"
: >"$work/cut/rows"
printf '%s\t1\t3\t' "$missing" >"$work/cut/runs.new"
: >"$work/bare/lock"
for state in cut bare; do
    sweep "$work/$state.csv" --first-seed 3 --state "$work/$state" "$missing"
    [ "$status" = 1 ] && [ "$(statuses "$work/$state.csv")" = "Erro no acesso ao ficheiro dos dados" ] ||
        fail "a state whose making was cut off ($state): status $status, $(cat "$work/sweep.err")"
done
# A new state whose lock another sweep has just taken: this one is told so, and writes
# nothing. Two sweeps started at once on a new state: one makes it, the other is told
# that another sweep runs on it, or takes up the finished state.
mkdir "$work/taken"
exec 7>"$work/taken/lock"
flock 7
sweep "$work/taken.csv" --first-seed 3 --state "$work/taken" "$missing"
[ "$status" = 2 ] && [ ! -s "$work/taken.csv" ] && [ "$(ls "$work/taken")" = lock ] &&
    [ "$(cat "$work/sweep.err")" = "subset_sweep: another sweep is running on $work/taken" ] ||
    fail "a state whose lock is taken: status $status, $(cat "$work/sweep.err")"
exec 7>&-
for race in 1 2 3 4; do
    for side in a b; do
        "$root/tools/sweep" --first-seed 3 --state "$work/race$race" "$missing" \
            >"$work/race$side.csv" 2>"$work/race$side.err" &
        eval "sweep_$side=\$!"
    done
    won=0
    for side in a b; do
        status=0
        eval "wait \$sweep_$side" || status=$?
        if [ "$status" = 1 ] && [ "$(statuses "$work/race$side.csv")" = "Erro no acesso ao ficheiro dos dados" ]; then
            won=1
        elif [ "$status" != 2 ] || [ -s "$work/race$side.csv" ] ||
            [ "$(cat "$work/race$side.err")" != "subset_sweep: another sweep is running on $work/race$race" ]; then
            fail "two sweeps racing for a state: status $status, $(cat "$work/race$side.err" "$work/race$side.csv")"
        fi
    done
    [ "$won" = 1 ] || fail "two sweeps racing for a state: neither made it"
done
# A full disk while the state is made: the sweep says so; once there is room, the same
# command takes the state up.
full_disk() {
    mkdir "$work/small"
    mount -t tmpfs -o size=4k tmpfs "$work/small"
    sweep "$work/small.csv" --first-seed 3 --state "$work/small/state" "$missing"
    [ "$status" != 0 ] && [ ! -s "$work/small.csv" ] || fail "a state on a full disk: status $status"
    mount -o remount,size=1m "$work/small"
    sweep "$work/small.csv" --first-seed 3 --state "$work/small/state" "$missing"
    [ "$status" = 1 ] && [ "$(statuses "$work/small.csv")" = "Erro no acesso ao ficheiro dos dados" ] ||
        fail "the state once the disk has room: status $status, $(cat "$work/sweep.err")"
}

# ---- A sweep ended by a signal, then by SIGKILL ----
# SIGTERM while a run is held, its program deaf to it: once the sweep has ended, none of
# its processes is left, and the same command at once is not refused (it holds its run
# again). SIGKILL then: its parallel and jobs end on their own, and the same command at
# once, with the real program, finishes the rest. No temporary file is left behind.
echo deaf >"$work/mode"
held_sweep "$work/stopped.csv"
kill -TERM "$held"
status=0
wait "$held" || status=$?
[ "$status" = 143 ] && gone || fail "after SIGTERM: status $status, left $(left)"
echo hold >"$work/mode"
held_sweep "$work/stopped.csv"
kill -KILL "$held"
{ wait "$held"; } 2>/dev/null || true
"$root/tools/sweep" "${stopped[@]}" >"$work/stopped.csv" 2>"$work/sweep.err" || status=$?
[ "$(statuses "$work/stopped.csv" | tr '\n' '|')" = "Erro no acesso ao ficheiro dos dados|0|" ] && gone ||
    fail "the same command after SIGKILL: $(cat "$work/sweep.err" "$work/stopped.csv"), left $(left)"
[ -z "$(ls -A "$work/tmp")" ] || fail "left in TMPDIR: $(ls -A "$work/tmp")"
# A sweep with no state of its own (its output a pipe), ended by SIGKILL: its temporary
# state goes with the next sweep, once its jobs have.
rm -f "$work/held"
mkfifo "$work/pipe"
cat "$work/pipe" >/dev/null &
SUBSET_BIN_DIR=$work/stand-in "$root/tools/sweep" --first-seed 20 "$missing" "$work/five.txt" \
    >"$work/pipe" 2>"$work/sweep.err" &
held=$!
await "a run held" test -e "$work/held"
kill -KILL "$held"
{ wait "$held"; } 2>/dev/null || true
await "the jobs of a sweep ended by SIGKILL to end" gone
{ "$root/tools/sweep" --first-seed 20 "$missing" || true; } | cat >/dev/null
[ -z "$(ls -A "$work/tmp")" ] || fail "left in TMPDIR after SIGKILL: $(ls -A "$work/tmp")"

# ---- A run's program killed by a signal ----
# The row says by which signal, and the same command runs that run again; a run that
# failed on its own keeps its row.
echo kill >"$work/mode"
killed=(--first-seed 30 --state "$work/killed" "$missing" "$work/five.txt")
sweep "$work/killed.csv" "${killed[@]}"
statuses "$work/killed.csv" >"$work/killed.status"
[ "$status" = 1 ] && [ "$(sed -n 1p "$work/killed.status")" = "Erro no acesso ao ficheiro dos dados" ] &&
    sed -n 2p "$work/killed.status" | grep -q '^subset_search killed by SIGKILL, trace_summary 1: ' ||
    fail "a run killed by SIGKILL: $(cat "$work/killed.csv")"
"$root/tools/sweep" "${killed[@]}" >"$work/killed.csv" || status=$?
[ "$(statuses "$work/killed.csv" | tr '\n' '|')" = "Erro no acesso ao ficheiro dos dados|0|" ] &&
    [ "$(tail -n +2 "$work/killed/joblog" | wc -l)" = 1 ] ||
    fail "the killed run run again: $(cat "$work/killed.csv" "$work/killed/joblog")"

# ---- A file changed under a sweep ----
# A run's file changes while it runs: that run and the next have no row from either
# version, saying why; the same command is then refused, naming the file, until the file
# is put back; then it runs them.
echo change >"$work/mode"
cp "$work/four.txt" "$work/ch.txt"
changed=(--runs 2 --jobs 1 --first-seed 40 --state "$work/changed-state" "$work/ch.txt")
sweep "$work/changed.csv" "${changed[@]}"
why="the file is not the one the sweep began with (another size or other bytes): no row from it"
[ "$status" = 1 ] && [ "$(statuses "$work/changed.csv" | sort -u)" = "$why" ] &&
    [ "$(cut -d, -f2,5-8 "$work/changed.csv" | tail -n +2 | sort -u)" = ',,,,""' ] ||
    fail "runs of a changed file: $(cat "$work/changed.csv")"
sweep "$work/changed.csv" "${changed[@]}"
[ "$status" = 2 ] && [ ! -s "$work/changed.csv" ] &&
    [ "$(cat "$work/sweep.err")" = "subset_sweep: $work/ch.txt is not the file this sweep began with (another size or other bytes): put that one back, or remove $work/changed-state to begin the sweep again" ] ||
    fail "a sweep resumed on a changed file: status $status, $(cat "$work/sweep.err")"
cp "$work/four.txt" "$work/ch.txt"
"$root/tools/sweep" "${changed[@]}" --jobs 2 >"$work/changed.csv" || fail "the sweep with its file back"
[ "$(statuses "$work/changed.csv" | tr '\n' '|')" = "0|0|" ] || fail "the runs with their file back"
echo none >"$work/mode"

# ---- What the sweep needs ----
# GNU parallel missing from PATH (its package still installed): one line naming it and
# its package, status 2, and neither a row nor a state.
mkdir "$work/no-parallel"
ln -s /usr/bin/* "$work/no-parallel/"
rm "$work/no-parallel/parallel"
status=0
PATH=$work/no-parallel "$root/tools/sweep" "$missing" >"$work/needs.csv" 2>"$work/needs.err" || status=$?
[ "$status" = 2 ] && [ ! -s "$work/needs.csv" ] && [ ! -e "$work/needs.csv.state" ] &&
    [ "$(cat "$work/needs.err")" = "subset_sweep: needs parallel, which is not on PATH (apt-get install parallel)" ] ||
    fail "a sweep without parallel: status $status, $(cat "$work/needs.err" "$work/needs.csv")"
no_libfaketime() {
    local lib
    lib=$("$root/tools/sweep-job" --faketime-library)
    mount -t tmpfs tmpfs "$(dirname "$lib")"
    status=0
    "$root/tools/sweep" "$missing" >"$work/needs.csv" 2>"$work/needs.err" || status=$?
    [ "$status" = 2 ] && [ ! -s "$work/needs.csv" ] && [ ! -e "$work/needs.csv.state" ] &&
        [ "$(cat "$work/needs.err")" = "subset_sweep: needs libfaketime, which is not installed (apt-get install libfaketime)" ] ||
        fail "a sweep without libfaketime: status $status, $(cat "$work/needs.err" "$work/needs.csv")"
}

# ---- The seed's clock leaves nothing behind ----
# In a /dev/shm of their own: a sweep stopped by SIGTERM while its run is held leaves
# nothing there, and a sweep runs as it should with stale entries of the faketime
# wrapper planted for every process id it could be given (the namespace's own, from 1).
seed_clock() {
    mount -t tmpfs tmpfs /dev/shm
    echo hold >"$work/mode"
    rm -rf "$work/stopped"
    held_sweep "$work/stopped.csv"
    kill -TERM "$held"
    wait "$held" || true
    [ -z "$(ls -A /dev/shm)" ] || fail "left in /dev/shm after SIGTERM: $(ls -A /dev/shm)"
    echo none >"$work/mode"
    for ((pid = 1; pid <= 5000; ++pid)); do
        : >"/dev/shm/sem.faketime_sem_$pid"
        : >"/dev/shm/faketime_shm_$pid"
    done
    sweep "$work/planted.csv" --runs 2 --first-seed 50 "$missing"
    [ "$status" = 1 ] && [ "$(statuses "$work/planted.csv" | sort -u)" = "Erro no acesso ao ficheiro dos dados" ] ||
        fail "a sweep among stale faketime entries: $(cat "$work/sweep.err" "$work/planted.csv")"
    [ "$(cat /proc/sys/kernel/ns_last_pid)" -le 5000 ] ||
        echo "note: the sweep among stale entries used process ids past those planted" >&2
}

# Each in mount and process namespaces of its own (as root, or as root of a user
# namespace of its own), the functions above given to a shell there.
unshared=()
if unshare -m --pid --fork --mount-proc true 2>/dev/null; then
    unshared=(unshare -m --pid --fork --mount-proc)
elif unshare -rm --pid --fork --mount-proc true 2>/dev/null; then
    unshared=(unshare -rm --pid --fork --mount-proc)
fi
export work root bin missing
for case in full_disk no_libfaketime seed_clock; do
    if [ ${#unshared[@]} = 0 ]; then
        echo "skipped: $case (no namespaces of its own here)"
        continue
    fi
    "${unshared[@]}" bash -c "set -euo pipefail; $(declare -f fail left await gone sweep statuses held_sweep held_or_ended "$case")
        stopped=(${stopped[*]@Q}); $case" || fail "$case"
done
echo "sweep edges: 1 passed, 0 failed"
