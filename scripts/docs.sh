#!/usr/bin/env bash
# Builds the HTML reference of the public headers into build/docs/html (open index.html).
# Fails on any Doxygen warning, such as an undocumented public class or function.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v doxygen >/dev/null || scripts/setup-deps.sh
rm -rf build/docs
mkdir -p build/docs
doxygen docs/Doxyfile
echo "reference: build/docs/html/index.html"
