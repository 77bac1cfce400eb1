#!/usr/bin/env bash
# Builds the benchmarks of the default preset (target `benchmarks`, or the ones named), runs
# them and prints one table: each headline figure beside its same-run baseline and the ratio,
# with the load average before and after. Full output of each program goes to
# build/default/bench-logs/. Usage: scripts/bench.sh [benchmark-name ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default >/dev/null
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  cmake --build --preset default --target benchmarks >/dev/null
  for exe in build/default/bench/*_bench; do names+=("$(basename "$exe")"); done
else
  cmake --build --preset default --target "${names[@]}" >/dev/null
fi
logs=build/default/bench-logs
mkdir -p "$logs"

load=$(cut -d' ' -f1-3 /proc/loadavg)

rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
for name in "${names[@]}"; do
  echo "running $name ..." >&2
  if ! GLOG_minloglevel=1 "build/default/bench/$name" >"$logs/$name.log" 2>&1; then
    echo "$name failed; see $logs/$name.log" >&2
    exit 1
  fi
  { grep '^@row' "$logs/$name.log" || true; } | sed "s/^@row/$name/" >>"$rows"
done

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(uname -sr), $(date -u +%Y-%m-%d), load average $load before the run, $(cut -d' ' -f1-3 /proc/loadavg) after"
echo
echo "| benchmark | measure | figure | same-run baseline | ratio | target |"
echo "|---|---|---|---|---|---|"
while IFS=$'\t' read -r bench what figure baseline ratio target; do
  echo "| $bench | $what | $figure | $baseline | $ratio | $target |"
done <"$rows"
