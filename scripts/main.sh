#!/usr/bin/env bash
# Installs the dependencies, builds the library and runs the main job.
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/examples/frame_exchange "$@"
