#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzzer for a bounded time from its seed corpus.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
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
  mkdir -p "$work/$name"
  seeds="fuzz/corpus/$name"
  [ -d "$seeds" ] && cp -r "$seeds/." "$work/$name/"
  echo "== $name (${seconds}s)"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
    status=1
    tail -n 60 "$work/$name.log"
    for a in "$work/$name-"*; do [ -e "$a" ] && echo "crash input: $(od -An -tx1 "$a" | head -c 400)"; done
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/$name.log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
  summary+=("$name: ${runs:-?} executions in ${seconds} s, corpus $(find "$work/$name" -type f | wc -l) inputs")
done
echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit $status
