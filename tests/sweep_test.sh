#!/usr/bin/env bash
# The sweep as its users run it: rows in order with distinct seeds, a row that the program
# run at its seed reproduces, a hosts file, a file that cannot be used, and a CSV that a
# CSV reader takes. Usage: tests/sweep_test.sh BIN_DIR (the build to sweep with).
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export SUBSET_BIN_DIR=$bin
# No Slurm allocation: --slurm is refused here.
unset SLURM_JOB_ID
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

cp "$root/data/four.txt" "$work/four.txt"
"$bin/make_distances" 5 11 -3 7 >"$work/five.txt"

# Two files, three runs each, two at a time: six rows in the order given, seeds S..S+5;
# nothing on standard error, which is no terminal; no state left once every run has its
# row.
"$root/tools/sweep" --runs 3 --jobs 2 --first-seed 1700000000 --summary-dir "$work/sums" \
    "$work/four.txt" "$work/five.txt" >"$work/results.csv" 2>"$work/results.err" ||
    fail "the sweep failed: $(cat "$work/results.err" "$work/results.csv")"
[ ! -s "$work/results.err" ] || fail "the sweep wrote on standard error: $(cat "$work/results.err")"
[ ! -e "$work/results.csv.state" ] || fail "a finished sweep left its state"
/usr/bin/python3 - "$work/results.csv" "$work" <<'PY' || fail "the rows"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert len(rows) == 6, rows
want = [("four.txt", 4, r) for r in (1, 2, 3)] + [("five.txt", 5, r) for r in (1, 2, 3)]
for i, (row, (name, points, run)) in enumerate(zip(rows, want)):
    assert row["file"] == sys.argv[2] + "/" + name, row
    assert int(row["points"]) == points and int(row["run"]) == run, row
    assert int(row["seed"]) == 1700000000 + i, row
    assert row["status"] == "0", row
    assert int(row["best_size"]) == len(row["best_points"].split()), row
    assert float(row["seconds"]) > 0 and row["host"], row
assert len({r["seed"] for r in rows}) == 6
PY
[ "$(ls "$work/sums" | wc -l)" = 6 ] || fail "six per-K tables"

# A row reproduced: the program run with its clock at the row's seed prints the row's
# best in its final line, and the row's points as its iteration's sorted points.
row=$(sed -n 6p "$work/results.csv")
/usr/bin/python3 - "$row" >"$work/row" <<'PY'
import csv, sys
r = next(csv.reader([sys.argv[1]]))
print(r[3], r[4], r[5], r[6], r[7])
PY
read -r seed score size iteration points <"$work/row"
clock=$(TZ=UTC date -d "@$seed" '+%Y-%m-%d %H:%M:%S')
# (grep -F, with the two lines before each line it finds: the iteration's sorted points
# come two lines before its result; the final line is the trace's last.)
printf '%s\n' "$work/five.txt" |
    TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -m -f "@$clock" "$bin/subset_search" |
    grep -F -B 2 -e " pontos, iteracao $iteration: " -e "Melhor com " |
    awk 'NR == 1 || NR == 3 { print } { last = $0 } END { print last }' >"$work/reproduced"
[ "$(sed -n 1p "$work/reproduced")" = "$points " ] || fail "sorted points: $(sed -n 1p "$work/reproduced") / $points"
[ "$(sed -n 2p "$work/reproduced")" = "Distancia media para $size pontos, iteracao $iteration: $score" ] ||
    fail "the iteration's line: $(sed -n 2p "$work/reproduced")"
[ "$(sed -n 3p "$work/reproduced")" = "Melhor com $size numeros: $score pontos" ] ||
    fail "the final line: $(sed -n 3p "$work/reproduced")"

# A hosts file naming this machine, and a file that cannot be used: its rows say why, the
# sweep goes on, and its status says that not every run ended well.
echo ":" >"$work/hosts"
status=0
"$root/tools/sweep" --runs 2 --first-seed 42 --hosts "$work/hosts" \
    "$work/missing.txt" "$work/four.txt" >"$work/mixed.csv" || status=$?
[ "$status" = 1 ] || fail "the sweep's status with a missing file: $status"
/usr/bin/python3 - "$work/mixed.csv" <<'PY' || fail "the missing file's rows"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert [r["status"] for r in rows] == ["Erro no acesso ao ficheiro dos dados"] * 2 + ["0"] * 2, rows
assert [int(r["seed"]) for r in rows] == [42, 43, 44, 45], rows
PY

# Each run's per-K CSV is made from its table: byte for byte what trace_summary --csv
# prints for the run's kept trace, with scores that are no number (a size with none that
# is, and a mean over both infinities), for a run refused at start-up (the header alone),
# and for a trace cut short.
printf '%s\n' "1 2 nan" "1 3 inf" "1 4 1.5" "1 5 2" "2 3 -1" "2 4 3" "2 5 4" "3 4 -inf" \
    "3 5 5" "4 5 6" >"$work/odd.txt"
# Of these 3 points only {1, 3} scores above 0, by 1e-7, which prints as 0.000000: the
# run's final line names it, of 2 points, and so must its row.
printf '%s\n' "1 2 -2e-7" "1 3 2e-7" "2 3 -4e-7" >"$work/tiny.txt"
"$root/tools/sweep" --runs 2 --first-seed 90 --keep-traces "$work/kept" --summary-dir "$work/csv" \
    "$work/odd.txt" "$work/missing.txt" >"$work/odd.csv" || true
zstd -dq -c "$work/kept/odd.txt.run1.seed90.trace.zst" | tail -n 1 | grep -q '^Melhor com ' ||
    fail "a kept trace"
"$root/tools/sweep" --runs 2 --first-seed 94 "$work/tiny.txt" >"$work/tiny.csv" || fail "the sweep of tiny scores"
/usr/bin/python3 - "$work/tiny.csv" <<'PY' || fail "the rows of tiny scores: $(cat "$work/tiny.csv")"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert [(r["best_score"], r["best_size"], r["best_points"], r["status"]) for r in rows] == [
    ("0.000000", "2", "1 3", "0")] * 2, rows
assert all(r["best_iteration"] != "" for r in rows), rows
PY
mkdir "$work/cut-bin"
ln -s "$bin/trace_summary" "$work/cut-bin/trace_summary"
{ zstd -dq -c "$work/kept/odd.txt.run1.seed90.trace.zst" || true; } | head -c 300000 >"$work/cut.trace"
printf '#!/bin/sh\ncat "%s"\n' "$work/cut.trace" >"$work/cut-bin/subset_search"
chmod +x "$work/cut-bin/subset_search"
cut_row=$("$root/tools/sweep-job" "$work/cut-bin" "$work/odd.txt" 1 7 "$work/kept" "$work/csv") &&
    fail "a cut trace's job ended well: $cut_row"
case "$cut_row" in
*',"subset_search 0, trace_summary 3: O trace esta incompleto: acaba na linha '[0-9]*', antes da linha final; resumido ate a ultima iteracao inteira"') ;;
*) fail "a cut trace's row: $cut_row" ;;
esac
for stem in odd.txt.run1.seed90 odd.txt.run2.seed91 missing.txt.run1.seed92 odd.txt.run1.seed7; do
    zstd -dq -c "$work/kept/$stem.trace.zst" | "$bin/trace_summary" --csv >"$work/want.csv" || true
    cmp "$work/want.csv" "$work/csv/$stem.csv" || fail "$stem's per-K CSV"
done
grep -q '^5,[0-9]*,[0-9]*,nan,nan,nan,$' "$work/csv/odd.txt.run1.seed90.csv" || fail "a size with no number"
grep -q '^2,[0-9]*,[0-9]*,nan,-inf,inf,[0-9]*$' "$work/csv/odd.txt.run1.seed90.csv" ||
    fail "a mean over both infinities"
[ "$(cat "$work/csv/missing.txt.run1.seed92.csv")" = k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo ] ||
    fail "a refused run's CSV"
# Odd paths: the scripts in a folder with a space, the build behind one, kept traces and
# tables in folders with a space and a quote, and files named with a leading dash and a
# quote, given after --: every run has its row, every file its place.
odd="$work/my co"
mkdir -p "$odd/tools"
cp "$root/tools/sweep" "$root/tools/sweep-job" "$odd/tools/"
ln -s "$bin" "$odd/b in"
cp "$root/data/four.txt" "$odd/-dash.txt"
cp "$root/data/four.txt" "$odd/it's.txt"
(cd "$odd" && SUBSET_BIN_DIR="$odd/b in" tools/sweep --first-seed 5 --keep-traces "kept traces" \
    --summary-dir "it's" -- -dash.txt "it's.txt") >"$work/odd-paths.csv" || fail "the sweep on odd paths"
/usr/bin/python3 - "$work/odd-paths.csv" "$odd" <<'PY' || fail "the rows on odd paths"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert [r["file"] for r in rows] == [sys.argv[2] + "/-dash.txt", sys.argv[2] + "/it's.txt"], rows
assert [r["status"] for r in rows] == ["0", "0"], rows
PY
for kept in "kept traces/-dash.txt.run1.seed5.trace.zst" "it's/it's.txt.run1.seed6.csv"; do
    [ -s "$odd/$kept" ] || fail "kept on an odd path: $kept"
done

# Every bad command line is refused before anything runs: its reason and the usage on
# standard error, status 2, no row; --help is the usage on standard output, status 0.
while IFS= read -r line; do
    eval "set -- $line"
    status=0
    "$root/tools/sweep" "$@" >"$work/bad.out" 2>"$work/bad.err" || status=$?
    [ "$status" = 2 ] && [ ! -s "$work/bad.out" ] && grep -q '^subset_sweep: ' "$work/bad.err" ||
        fail "bad command line ($line): status $status, $(head -c 300 "$work/bad.out" "$work/bad.err")"
done <<'CASES'
--jobs abc four.txt
--jobs 0 four.txt
--runs
four.txt --runs
--runs 0 four.txt
--runs -1 four.txt
--first-seed 99999999999999999999 four.txt
--first-seed 4294967295 four.txt five.txt
--first-seed 0 --runs 2 four.txt
--first-seed x four.txt
--hosts /nonexistent four.txt
--bogus four.txt
--slurm four.txt
--slurm --hosts /etc/hostname four.txt
--state "" four.txt
"a	tab.txt"

CASES
"$root/tools/sweep" --help >"$work/help.out" 2>"$work/help.err" || fail "--help's status"
grep -q '^Usage: subset_sweep' "$work/help.out" && [ ! -s "$work/help.err" ] &&
    tail -n 1 "$work/help.out" | grep -q '128+N when stopped by signal N\.$' || fail "--help's usage"
# Without zstd, --keep-traces is refused before any run, with what to install.
mkdir "$work/no-zstd"
ln -s /usr/bin/* "$work/no-zstd/"
rm "$work/no-zstd/"zstd*
status=0
(cd "$work" && PATH=$work/no-zstd "$root/tools/sweep" --keep-traces unkept four.txt) \
    >"$work/bad.out" 2>"$work/bad.err" || status=$?
[ "$status" = 2 ] && [ ! -s "$work/bad.out" ] && [ ! -e "$work/unkept" ] &&
    grep -q '^subset_sweep: --keep-traces needs zstd (apt-get install zstd)$' "$work/bad.err" ||
    fail "--keep-traces without zstd: status $status, $(cat "$work/bad.out" "$work/bad.err")"
# Options after the files are options still.
(cd "$work" && "$root/tools/sweep" four.txt --runs 2 --first-seed 3) >"$work/after.csv" ||
    fail "options after the files"
[ "$(cut -d, -f3,4 "$work/after.csv" | tail -n +2 | tr '\n' ' ')" = "1,3 2,4 " ] ||
    fail "options after the files: $(cat "$work/after.csv")"

# Hosts that cannot be logged into. A stand-in for ssh runs a host's commands here as
# sshd runs a remote command: in a session of their own, with SHELL set to the login
# shell (parallel's remote side needs it, and a CI run may start without one). "flaky"
# lets parallel's probes through and then fails each job (whose command parallel sends
# in hexadecimal) as a dropped login would. A host that is down from the start is left
# out and its share runs elsewhere; a run that no machine could start, or whose login
# failed, still has its row, saying why.
cat >"$work/ssh" <<'SSH'
#!/usr/bin/env bash
while [ $# -gt 0 ]; do
    case "$1" in -l | -p | -o | -S | -i) shift 2 ;; -*) shift ;; *) break ;; esac
done
host=$1
shift
[ "${1:-}" != -- ] || shift
case "$host" in
*.invalid) echo "ssh: Could not resolve hostname $host" >&2 && exit 255 ;;
flaky) case "$*" in *"$(printf sweep-job | od -An -tx1 | tr -d ' \n')"*) exit 255 ;; esac ;;
esac
SHELL=/bin/bash setsid bash -c "$*" &
wait $!
SSH
chmod +x "$work/ssh"
export PARALLEL_SSH=$work/ssh
sweep_hosts() { # CSV, hosts...
    local csv=$1
    shift
    printf '%s\n' "$@" >"$work/hosts"
    status=0
    "$root/tools/sweep" --runs 2 --first-seed 50 --hosts "$work/hosts" "$work/four.txt" \
        >"$csv" 2>"$work/hosts.err" || status=$?
}
sweep_hosts "$work/up.csv" : down.invalid
[ "$status" = 0 ] || fail "a sweep with one host down: status $status"
sweep_hosts "$work/down.csv" down.invalid
[ "$status" = 1 ] || fail "a sweep with every host down: status $status"
sweep_hosts "$work/flaky.csv" flaky
[ "$status" = 1 ] || fail "a sweep whose logins fail: status $status"
/usr/bin/python3 - "$work" <<'PY' || fail "the rows of hosts that cannot be logged into"
import csv, sys
def rows(name):
    return list(csv.DictReader(open(sys.argv[1] + "/" + name, newline="")))
up, down, flaky = rows("up.csv"), rows("down.csv"), rows("flaky.csv")
assert [r["status"] for r in up] == ["0", "0"], up
for table, why in ((down, "not run: no machine of " + sys.argv[1] + "/hosts could be logged into"),
                   (flaky, "not run: ssh to flaky failed (status 255)")):
    assert [(r["file"], r["run"], r["seed"], r["status"]) for r in table] == [
        (sys.argv[1] + "/four.txt", "1", "50", why), (sys.argv[1] + "/four.txt", "2", "51", why)], table
    assert all(r["points"] == r["best_score"] == r["best_points"] == "" for r in table), table
PY

# A signal to the sweep ends it at once, by that signal: no job goes on, on this machine
# or on a host, no cut run leaves a kept trace, and the CSV holds the finished runs'
# rows, whole. The signal is sent once the long run's trace is being kept.
"$bin/make_distances" 1000 3 0 100 >"$work/long.txt"
mkdir "$work/signal-bin"
ln -s "$bin/subset_search" "$bin/trace_summary" "$work/signal-bin/"
left() {
    ps -eo stat=,args= >"$work/processes"
    awk -v path="$work/signal-bin/" '$1 !~ /^Z/ && index($0, path)' "$work/processes"
}
signal_sweep() { # signal, host
    local kept=$work/kept-$1
    printf '%s\n' "$2" >"$work/hosts"
    SUBSET_BIN_DIR=$work/signal-bin "$root/tools/sweep" --jobs 1 --first-seed 60 --hosts "$work/hosts" \
        --keep-traces "$kept" "$work/four.txt" "$work/long.txt" >"$work/signal-$1.csv" 2>"$work/signal.err" &
    local sweep=$!
    until [ -e "$kept/long.txt.run1.seed61.trace.zst" ]; do
        kill -0 "$sweep" 2>/dev/null || fail "the sweep ended before its long run: $(cat "$work/signal.err")"
        sleep 0.05
    done
    kill -s "$1" "$sweep"
    status=0
    { wait "$sweep"; } 2>/dev/null || status=$?
    [ "$status" = "$3" ] || fail "the sweep's status after SIG$1: $status"
    grep -q "^subset_sweep: stopped by SIG$1 after 1 of 2 runs; the same command again runs the rest (rows kept in $work/signal-$1.csv.state)$" "$work/signal.err" ||
        fail "after SIG$1: $(cat "$work/signal.err")"
    [ "$(sed -n 2p "$work/signal-$1.csv" | cut -d, -f1-4)" = "\"$work/four.txt\",4,1,60" ] &&
        [ "$(wc -l <"$work/signal-$1.csv")" = 2 ] || fail "the CSV after SIG$1: $(cat "$work/signal-$1.csv")"
    [ ! -e "$kept/long.txt.run1.seed61.trace.zst" ] || fail "a cut run's trace kept after SIG$1"
    cp "$work/signal-$1.csv" "$work/signal-at-exit.csv"
}
signal_sweep TERM : 143
[ -z "$(left)" ] || fail "left running after SIGTERM: $(left)"
cmp -s "$work/signal-TERM.csv" "$work/signal-at-exit.csv" || fail "the CSV changed after SIGTERM"
# A host's job ends when its connection does, which it notices within a second: the
# sweep waits for it (the stand-in's host runs here), so none is left once it has ended.
signal_sweep HUP otherhost 129
[ -z "$(left)" ] || fail "left running on a host after SIGHUP: $(left)"
cmp -s "$work/signal-HUP.csv" "$work/signal-at-exit.csv" || fail "the CSV changed after SIGHUP"
unset PARALLEL_SSH

# Resuming. A sweep is stopped by Ctrl-C once its first two runs have their rows, the
# third run being held by a stand-in for the program that never ends; run again with
# the same command (and the real program), it runs only the two runs left, and its CSV
# is an uninterrupted sweep's at the same seeds, but for the time taken. A sweep with
# other runs, seeds or kept folders is refused that state.
mkdir "$work/held-bin"
ln -s "$bin/trace_summary" "$work/held-bin/"
cat >"$work/held-bin/subset_search" <<HELD
#!/usr/bin/env bash
IFS= read -r name
case "\$name" in *five.txt) exec tail -f /dev/null ;; esac
printf '%s\n' "\$name" | exec "$bin/subset_search"
HELD
chmod +x "$work/held-bin/subset_search"
resumed=(--runs 2 --jobs 1 --first-seed 70 --summary-dir "$work/resumed-sums" --state "$work/state"
    "$work/four.txt" "$work/five.txt")
SUBSET_BIN_DIR=$work/held-bin /usr/bin/python3 -c '
import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$root/tools/sweep" "${resumed[@]}" >"$work/stopped.csv" 2>"$work/stopped.err" &
sweep=$!
until [ "$(grep -c . "$work/state/rows" 2>/dev/null)" = 2 ]; do
    kill -0 "$sweep" 2>/dev/null || fail "the sweep to resume ended: $(cat "$work/stopped.err")"
    sleep 0.05
done
kill -INT "$sweep"
status=0
{ wait "$sweep"; } 2>/dev/null || status=$?
[ "$status" = 130 ] || fail "the sweep's status after SIGINT: $status"
[ -z "$(ps -eo stat=,args= | awk -v path="$work/held-bin/" '$1 !~ /^Z/ && index($0, path) && !/awk/')" ] ||
    fail "left running after SIGINT"
"$root/tools/sweep" "${resumed[@]}" --jobs 2 >"$work/resumed.csv" || fail "the resumed sweep"
[ "$(tail -n +2 "$work/state/joblog" | cut -f 9 | sed 's/.* \([0-9]*\) [^ ]* [^ ]* [^ ]*$/\1/' | sort | tr '\n' ' ')" = "72 73 " ] ||
    fail "the resumed sweep's jobs: $(cat "$work/state/joblog")"
"$root/tools/sweep" "${resumed[@]/#$work\/state/$work/whole-state}" --jobs 2 >"$work/whole.csv" ||
    fail "the uninterrupted sweep"
for csv in resumed whole; do cut -d, -f1-8,10- "$work/$csv.csv" >"$work/$csv.cut"; done
cmp "$work/resumed.cut" "$work/whole.cut" || fail "the resumed CSV: $(cat "$work/resumed.csv")"
# Nor may two sweeps share a state at once.
status=0
flock "$work/state/lock" "$root/tools/sweep" "${resumed[@]}" >"$work/other.csv" 2>"$work/other.err" ||
    status=$?
[ "$status" = 2 ] && [ ! -s "$work/other.csv" ] &&
    [ "$(cat "$work/other.err")" = "subset_sweep: another sweep is running on $work/state" ] ||
    fail "two sweeps on one state: status $status, $(cat "$work/other.err")"
for other in "--runs 3" "--first-seed 71" "--summary-dir $work/other-sums"; do
    status=0
    # shellcheck disable=SC2086 # each option and its value as two words
    "$root/tools/sweep" "${resumed[@]}" $other >"$work/other.csv" 2>"$work/other.err" || status=$?
    [ "$status" = 2 ] && [ ! -s "$work/other.csv" ] &&
        grep -q "^subset_sweep: $work/state holds another sweep" "$work/other.err" ||
        fail "another sweep on the state ($other): status $status, $(cat "$work/other.err")"
done

# Progress: on standard error when it is a terminal (here a pseudo-terminal), with the
# runs left; the CSV is the same.
script -qec "'$root/tools/sweep' --first-seed 80 '$work/four.txt' >'$work/progress.csv'" /dev/null \
    >"$work/progress.tty" </dev/null || fail "the sweep on a terminal"
grep -q 'Left: ' "$work/progress.tty" && ! grep -q 'cannot open' "$work/progress.tty" ||
    fail "the progress on a terminal: $(cat "$work/progress.tty")"
[ "$(wc -l <"$work/progress.csv")" = 2 ] || fail "the CSV with progress: $(cat "$work/progress.csv")"
echo "sweep: 1 passed, 0 failed"
