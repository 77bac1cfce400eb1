#!/usr/bin/env bash
# Installs the dependencies, builds the library and the main job (nothing else) and runs it.
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target frame_exchange
exec build/default/examples/frame_exchange "$@"
