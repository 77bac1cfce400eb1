#!/usr/bin/env bash
# Mutation check: applies each fault of scripts/mutants.txt to the library, one at a time,
# rebuilds, runs the normal test suite, and counts the faults the suite catches. A fault the
# suite does not notice points at a test that is missing.
#
# Usage: scripts/mutate.sh [--list | --check | ID ...]     (no ID: every fault)
# Environment: MUTATE_BUILD (build folder, default build/mutate), MUTATE_JOBS (default 2),
#              MUTATE_TIMEOUT (seconds per test, default 60), MUTATE_CTEST_ARGS (e.g. -R Pipe,
#              to try a part of the suite first).
# A line of scripts/mutants.txt: ID<TAB>file<TAB>text<TAB>replacement<TAB>what the fault is.
# The text must stand exactly once in the file; `\n` in text or replacement is a line feed.
set -euo pipefail
cd "$(dirname "$0")/.."
list=scripts/mutants.txt
build=${MUTATE_BUILD:-build/mutate}
jobs=${MUTATE_JOBS:-2}

if [ "${1:-}" = "--list" ]; then
    grep -v '^#' "$list" | awk -F'\t' 'NF {printf "%-4s %s\n", $1, $5}'
    exit 0
fi
wanted=" $* "
if [ "${1:-}" = "--check" ]; then
    # Every fault's text must stand exactly once in its file.
    status=0
    while IFS=$'\t' read -r id file old _; do
        [[ -z "$id" || "$id" == \#* ]] && continue
        n=$(OLD="$old" perl -0777 -ne '(my $o = $ENV{OLD}) =~ s/\\n/\n/g; my $n = () = /\Q$o\E/g; print $n' "$file" 2>/dev/null || echo 0)
        [ "$n" = 1 ] || { echo "$id: text stands ${n:-0} times in $file"; status=1; }
    done <"$list"
    exit $status
fi

# Replaces the one occurrence of OLD in FILE by NEW; fails when OLD stands 0 or 2+ times.
apply() {
    OLD="$2" NEW="$3" perl -0777 -i -pe '
        my ($old, $new) = ($ENV{OLD}, $ENV{NEW});
        s/\\n/\n/g for $old, $new;
        my $n = () = /\Q$old\E/g;
        die "text stands $n times\n" unless $n == 1;
        s/\Q$old\E/$new/;' "$1"
}

scripts/setup-deps.sh
# Faults never change the library's interface, so programs need not relink against it.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHIO_BUILD_BENCHMARKS=OFF -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >/dev/null
build_all() { cmake --build "$build" -j "$jobs" >"$build/mutate-build.log" 2>&1; }
run_suite() { ctest --test-dir "$build" -j "$jobs" --timeout "${MUTATE_TIMEOUT:-60}" ${MUTATE_CTEST_ARGS:-} >"$build/mutate-test.log" 2>&1; }

build_all || { echo "the unmutated tree does not build"; exit 1; }
run_suite || { echo "the unmutated suite fails: see $build/mutate-test.log"; exit 1; }

backup=$(mktemp -d)
current=""
restore() { [ -z "$current" ] || cp "$backup/file" "$current"; current=""; }
trap 'restore; rm -rf "$backup"' EXIT

caught=0 survived=0 invalid=0 survivors=()
while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Tabs are white space to `read`, which would merge an empty replacement away.
    IFS=$'\x1f' read -r id file old new what <<<"${line//$'\t'/$'\x1f'}"
    [[ "$wanted" == "  " || "$wanted" == *" $id "* ]] || continue
    cp "$file" "$backup/file"
    current=$file
    if ! apply "$file" "$old" "$new" 2>"$backup/err"; then
        echo "INVALID  $id $what ($file: $(cat "$backup/err"))"
        invalid=$((invalid + 1)); restore; continue
    fi
    if ! build_all; then
        echo "INVALID  $id $what (does not build)"
        invalid=$((invalid + 1)); restore; continue
    fi
    if run_suite; then
        echo "SURVIVED $id $what"
        survived=$((survived + 1)); survivors+=("$id")
    else
        failing=$(grep -E '^\s+[0-9]+ - ' "$build/mutate-test.log" | head -3 | sed -E 's/^\s+[0-9]+ - //; s/ \(.*//' | paste -sd, - || true)
        echo "CAUGHT   $id $what [$failing]"
        caught=$((caught + 1))
    fi
    restore
done <"$list"
build_all || true
echo "mutants: $((caught + survived + invalid)), caught: $caught, survived: $survived, invalid: $invalid"
[ ${#survivors[@]} -eq 0 ] || echo "survivors: ${survivors[*]}"
