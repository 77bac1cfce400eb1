#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, builds the consumer programs against it through
# the CMake package (one per target; with clang when there is one: its default language level is
# below C++17) and through pkg-config (every installed header's functions), runs them, then moves
# the prefix folder and runs the installed programs again. Nothing may depend on LD_LIBRARY_PATH.
# Usage: run.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
unset LD_LIBRARY_PATH
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libZephIO.so' | head -n 1)")

echo "== CMake package"
cxx=$(command -v clang++-14 || command -v c++)
cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-build" >/dev/null
cmake --install "$work/cmake-build" >/dev/null
for program in "$prefix"/bin/consumer*; do "$program"; done

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
c++ "$source_dir/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs zephio) \
  -Wl,-rpath,"$(pkg-config --variable=libdir zephio)"
"$work/consumer-pc"
# shellcheck disable=SC2046
c++ $(grep -o 'USE_Zeph[A-Za-z]*' "$source_dir/siblings.cpp" | sort -u | sed 's/^/-D/') "$source_dir/siblings.cpp" \
  -o "$work/siblings-pc" $(pkg-config --cflags --libs zephio) -Wl,-rpath,"$(pkg-config --variable=libdir zephio)"
"$work/siblings-pc"

echo "== installed programs after moving the prefix"
mv "$prefix" "$work/moved"
for program in "$work"/moved/bin/consumer*; do "$program"; done
