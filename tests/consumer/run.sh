#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, then builds and runs the consumer program
# against it twice: through the CMake package and through pkg-config.
# Usage: run.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libZephIO.so' | head -n 1)")
export LD_LIBRARY_PATH="$libdir"

echo "== CMake package"
cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 "$source_dir/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs zephio)
"$work/consumer-pc"
