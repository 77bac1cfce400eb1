#!/usr/bin/env bash
# Fails when a C++ source differs from what .clang-format makes of it. With --fix, rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.cpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format-14 -i "${files[@]}"
  exit 0
fi
clang-format-14 --dry-run --Werror "${files[@]}"
echo "format check: ${#files[@]} files clean"
