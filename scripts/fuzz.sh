#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzzer (or those named) for a bounded time from its corpus.
# Usage: scripts/fuzz.sh [--merge] [--runs N] [seconds-per-target] [target ...]   (default 60 s)
#   --runs N  at most N executions per target (with no seconds given: no time limit)
#   --merge   afterwards, merge the inputs the run found into fuzz/corpus/<target>/ with
#             libFuzzer's -merge=1: only those that reach new code go in (hit counts aside),
#             so the corpus stays small and the next run starts where this one stopped
set -euo pipefail
cd "$(dirname "$0")/.."
merge=0
limit=()
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --merge) merge=1 ;;
    --runs) limit+=(-runs="$2"); shift ;;
    [0-9]*) limit+=(-max_total_time="$1") ;;
    *) targets+=("$1") ;;
  esac
  shift
done
[ ${#limit[@]} -gt 0 ] || limit=(-max_total_time=60)
label=$(printf '%s ' "${limit[@]}" | sed 's/-runs=\([0-9]*\)/\1 runs/; s/-max_total_time=\([0-9]*\)/\1 s/g; s/ $//')
scripts/setup-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
summary=()
for fuzzer in build/fuzz/fuzz/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  [ ${#targets[@]} -eq 0 ] || [[ " ${targets[*]} " == *" $name "* ]] || continue
  corpus="fuzz/corpus/$name"
  mkdir -p "$work/$name" "$corpus"
  before=$(find "$corpus" -type f | wc -l)
  echo "== $name ($label)"
  # New inputs go to the first folder, the checked-in corpus is only read.
  if ! "$fuzzer" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/$name-" "$work/$name" "$corpus" >"$work/$name.log" 2>&1; then
    status=1
    tail -n 60 "$work/$name.log"
    for a in "$work/$name-"*; do [ -e "$a" ] && echo "crash input: $(od -An -tx1 "$a" | head -c 400)"; done
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/$name.log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
  found=$(find "$work/$name" -type f | wc -l)
  if [ "$merge" = 1 ]; then
    "$fuzzer" -merge=1 -use_counters=0 -timeout=10 -rss_limit_mb=2048 "$corpus" "$work/$name" >"$work/$name-merge.log" 2>&1 ||
      { status=1; tail -n 20 "$work/$name-merge.log"; }
    summary+=("$name: ${runs:-?} executions ($label), $found new inputs, corpus $before -> $(find "$corpus" -type f | wc -l) inputs")
  else
    summary+=("$name: ${runs:-?} executions ($label), $found new inputs, corpus $before inputs")
  fi
done
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $status
