# shellcheck shell=bash disable=SC2154 # case and rc belong to the sourcing script
# Sourced by the example checks, after they set $case and define run (which sets rc and
# writes the program's output to "$work"/out and "$work"/err): the scratch folder, the failure
# report and the check that bad command lines are refused.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL ($case): $*" >&2
    for f in "$work"/out "$work"/err; do [ -f "$f" ] && { echo "--- $f"; tail -20 "$f"; } >&2; done
    exit 1
}

# Each line of standard input is one bad command line for PROGRAM_NAME: it must exit with 2
# and print its usage text.
expect_usage_errors() {
    local name=$1 args
    while IFS= read -r args; do
        # shellcheck disable=SC2086 # one argument per word
        run $args
        [ "$rc" -eq 2 ] || fail "exit code $rc for: $args"
        grep -q "^usage: $name" "$work/err" || fail "no usage text for: $args"
    done
}
