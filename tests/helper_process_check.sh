#!/usr/bin/env bash
# Runs the helper_process example in each of its endings and checks the exit code, the message,
# how long the shutdown took, and that no helper is left running.
# Usage: helper_process_check.sh PROGRAM CASE
set -uo pipefail
program=$1
case=$2
# shellcheck source-path=SCRIPTDIR source=support/example_check.sh
. "$(dirname "$0")/support/example_check.sh"

run() {  # run ARGS...: sets rc and took (ms); the tag in the environment marks our helpers
    local start
    start=$(date +%s%3N)
    HELPER_PROCESS_CHECK=$work timeout 20 "$program" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    end=$(date +%s%3N)
    took=$((end - start))
    [ $rc -ne 124 ] || fail "timed out: $*"
    leftovers=$(grep -lsF "HELPER_PROCESS_CHECK=$work" /proc/[0-9]*/environ | cut -d/ -f3)
    # shellcheck disable=SC2086 # one pid per word
    [ -z "$leftovers" ] || { kill -KILL $leftovers; fail "a helper is still running"; }
}

case $case in
normal)
    run --requests 3
    [ $rc -eq 0 ] || fail "exit code $rc"
    [ "$(grep -c '^answer [123]: REQUEST [123] FROM THE PARENT$' "$work/out")" -eq 3 ] || fail "no 3 answers"
    grep -q '^all 3 requests answered; the helper ended normally$' "$work/out" || fail "no summary"
    [ ! -s "$work/err" ] || fail "unexpected diagnostics"
    ;;
hangs)
    # Gone within 100 ms of the deadline: from the deadline the message names to the exit.
    run --helper hangs --requests 3 --deadline 300
    [ $rc -eq 3 ] || fail "exit code $rc"
    line=$(grep '^helper_process: error: no answer to request 3 within 300 ms; the helper was stopped' "$work/err") ||
        fail "no clear error"
    late=$((end - $(sed -E 's/.*deadline at ([0-9]+) ms since the epoch.*/\1/' <<<"$line")))
    [ $late -le 100 ] || fail "gone $late ms after the deadline"
    echo "gone $late ms after the deadline"
    ;;
dies)
    # Learned from the channel's descriptor, long before the 10 s deadline.
    run --helper dies --requests 3 --deadline 10000
    [ $rc -eq 4 ] || fail "exit code $rc"
    grep -q '^helper_process: error: the helper ended before answering request 3 (killed by signal 9' "$work/err" ||
        fail "no clear error"
    [ $took -le 5000 ] || fail "took $took ms"
    echo "whole run $took ms"
    ;;
bad-options)
    expect_usage_errors helper_process <<'LIST'
--helper
--helper sleeps
--requests 0
--requests 1001
--deadline 0
--deadline 1.5
--bogus
extra
LIST
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok ($case)"
