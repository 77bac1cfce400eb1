#!/usr/bin/env bash
# Runs the frame_exchange example the way a user does and checks exit codes, messages, and
# that no FIFO or peer process is left behind. Usage: frame_exchange_check.sh PROGRAM CASE
set -uo pipefail
program=$1
case=$2

# shellcheck source-path=SCRIPTDIR source=support/example_check.sh
. "$(dirname "$0")/support/example_check.sh"
export TMPDIR=$work/fifos  # where the example's pipe names go
mkdir "$TMPDIR"
printf '%s/' "$TMPDIR" >"$work/pattern"

# Nothing in the FIFO folder, and (after a short grace) no process whose command line names
# it, i.e. no peer. The pattern comes from a file so that grep does not match itself.
expect_no_leftovers() {
    [ -z "$(ls -A "$TMPDIR")" ] || fail "left behind in TMPDIR: $(ls -A "$TMPDIR")"
    for _ in $(seq 100); do
        grep -lsF -f "$work/pattern" /proc/[0-9]*/cmdline >/dev/null || return 0
        sleep 0.1
    done
    fail "a peer process is still running"
}

# Progress lines come once a second, so a slow (sanitizer) build may print some.
no_diagnostics() {
    ! grep -qv '^progress: ' "$work/err" || fail "unexpected diagnostics on stderr"
}

run() {  # run ARGS...: runs the example bounded in time; sets rc
    timeout 60 "$program" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    [ $rc -ne 124 ] || fail "timed out: $*"
}

case $case in
end-to-end | poll)  # poll: B waits for frames in its own poll() loop on a DataAvailableDescriptor
    # shellcheck disable=SC2046
    run --frames 300 --min-size 1 --max-size 200k --seed 7 $([ "$case" = poll ] && echo --poll)
    [ $rc -eq 0 ] || fail "exit code $rc"
    grep -q '^frames: *300 .*all answers checked' "$work/out" || fail "no frame summary"
    grep -q '^throughput: .* MB/s' "$work/out" || fail "no throughput"
    grep -q '^round trip: *p50 .* us, p99 .* us' "$work/out" || fail "no latency percentiles"
    # The histogram counts every round trip once: its buckets add up to the frames sent.
    [ "$(awk '/^  [0-9]+-[0-9]+ us +#* +[0-9]+$/ { n += $NF } END { print n + 0 }' "$work/out")" -eq 300 ] ||
        fail "no histogram of the 300 round trips"
    no_diagnostics
    expect_no_leftovers
    ;;
bad-options)
    expect_usage_errors frame_exchange <<'LIST'
--frames abc
--frames
--frames -5
--frames 0
--frames 99999999999999999999999
--frames=12x
--bogus
extra
--min-size 0
--min-size 10 --max-size 5
--max-size 300m
--seed 1.5
--verbose=yes
--soak=1
--soak --frames 1000
LIST
    expect_no_leftovers
    ;;
soak)
    run --soak --frames 3000 --max-size 16k --seed 3
    [ $rc -eq 0 ] || fail "exit code $rc"
    grep -q '^frames: *3000 .*all answers checked in order' "$work/out" || fail "no frame summary"
    [ "$(grep -cE '^soak [AB]: .* descriptors throughout, all closed with the channel$' "$work/out")" -eq 2 ] ||
        fail "no memory and descriptor checks of both processes"
    no_diagnostics
    expect_no_leftovers
    ;;
peer-dies)
    run --frames 1000 --crash-peer-after 10
    [ $rc -eq 1 ] || fail "exit code $rc"
    grep -qE 'error: (the peer process ended before the exchange was over \(killed by signal 9|no answer to frame 11)' \
        "$work/err" || fail "no clear error"
    expect_no_leftovers
    ;;
interrupted)
    for signal in TERM INT; do
        "$program" --frames 1000000000 --max-size 4k >"$work/out" 2>"$work/err" &
        pid=$!
        for _ in $(seq 200); do
            [ "$(ls -A "$TMPDIR" | wc -l)" -eq 2 ] && break
            sleep 0.05
        done
        sleep 0.3
        kill -s "$signal" "$pid"
        for _ in $(seq 300); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            kill -s KILL "$pid"
            fail "SIG$signal: still running"
        fi
        wait "$pid"
        rc=$?
        [ $rc -ne 0 ] || fail "SIG$signal: exit code 0"
        expect_no_leftovers
    done
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok ($case)"
