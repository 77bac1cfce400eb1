#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every check: the test suite in the
# normal build, in the build that uses only POSIX interfaces (ZEPH_POSIX_ONLY), under
# AddressSanitizer with UndefinedBehaviorSanitizer and under ThreadSanitizer, each fuzz target
# for a bounded time, and a brief soak run of the main job (frame_exchange --soak). Any
# failing test, sanitizer report, fuzzer crash or soak check fails.
#
# Usage: scripts/test.sh [step ...]
#   steps: format (clang-format check), docs (API reference, warnings fail), default debug
#   posix asan-ubsan tsan (test suites, by CMake preset), fuzz, soak
#   no step given: format docs default posix asan-ubsan tsan fuzz soak
# Environment: FUZZ_SECONDS (per fuzz target, default 60), SOAK_FRAMES (default 10000).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh

# Runs the test suite of one preset. Under the sanitizer presets (see CMakePresets.json) every
# report ends the process that makes it with a failure status; ASan, LSan and TSan also write
# their reports to build/<preset>/sanitizer-reports, and UBSan's (which GCC's combined runtime
# prints to stderr only) land in the test log. Either fails the step even when the process
# that made the report (a peer a test started) was not watched for its exit status.
suite() {
    local preset=$1 reports="build/$1/sanitizer-reports" status=0
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    rm -rf "$reports"
    mkdir -p "$reports"
    ctest --preset "$preset" || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        echo "== sanitizer reports ($preset):"
        cat "$reports"/*
        status=1
    fi
    if grep -n -A20 ': runtime error: ' "build/$preset/Testing/Temporary/LastTest.log"; then
        echo "== UBSan reports ($preset) above"
        status=1
    fi
    return $status
}

soak() {
    cmake --preset default >/dev/null
    cmake --build --preset default --target frame_exchange
    build/default/examples/frame_exchange --soak --frames "${SOAK_FRAMES:-10000}" --max-size 1m
}

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(format docs default posix asan-ubsan tsan fuzz soak)
started=$SECONDS
for step in "${steps[@]}"; do
    echo "== $step"
    began=$SECONDS
    case $step in
        format) scripts/check-format.sh ;;
        docs) scripts/docs.sh ;;
        fuzz) scripts/fuzz.sh "${FUZZ_SECONDS:-60}" ;;
        soak) soak ;;
        *) suite "$step" ;;
    esac
    echo "== $step passed in $((SECONDS - began)) s"
done
echo "== all passed (${steps[*]}) in $((SECONDS - started)) s"
