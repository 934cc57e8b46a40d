#!/usr/bin/env bash
# A trace through grown pipes is the trace: the program's output pipe grown to the
# system's limit; a whole run at a fixed second written to a file, through cat, and into
# trace_summary, byte for byte the same; the summary of a whole run read from a pipe the
# same as from the file. Usage: tests/pipes_test.sh BIN_DIR (the build to run).
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The program at a fixed second: the same trace every time.
run() {
    printf '%s\n' "$root/data/four.txt" |
        TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -m -f "@2026-12-01 00:00:00" "$bin/subset_search"
}

# The pipe as the reader sees it, once the first bytes have come through.
limit=$(cat /proc/sys/fs/pipe-max-size)
# (The program then ends by SIGPIPE, as it should.)
size=$({ run 2>/dev/null || true; } | /usr/bin/python3 -c '
import fcntl, sys
sys.stdin.buffer.read(100)
print(fcntl.fcntl(0, 1032))  # F_GETPIPE_SZ
')
[ "$size" = "$limit" ] || fail "the program's pipe holds $size bytes, not $limit"

run >"$work/trace"
[ "$(tail -n 1 "$work/trace" | cut -c1-11)" = "Melhor com " ] || fail "no whole run in the file"
[ "$(run | cat | cksum)" = "$(cksum <"$work/trace")" ] || fail "through cat"
"$bin/trace_summary" "$work/trace" >"$work/from-file" || fail "the summary of the file"
run | "$bin/trace_summary" >"$work/from-pipe" || fail "the summary of the pipe"
cmp -s "$work/from-file" "$work/from-pipe" || fail "the summaries differ"
"$bin/trace_summary" <"$work/trace" >"$work/from-input" || fail "the summary of standard input"
cmp -s "$work/from-file" "$work/from-input" || fail "the summary of standard input differs"
echo "pipes: 1 passed, 0 failed"
