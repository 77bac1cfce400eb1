#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test.
# Usage: scripts/test.sh [preset ...]   (default: "default")
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default)
for preset in "${presets[@]}"; do
  echo "== preset: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
