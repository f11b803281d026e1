#!/usr/bin/env bash
# Builds ordil and converts the bundled example cache file, showing the XML.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_group "build tools" cmake g++ make || { echo "cannot build: ${group_problem["build tools"]}" >&2; exit 1; }

cmake -S . -B build -DORDIL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target ordil >/dev/null
mkdir -p build/example
cp examples/example.ashx build/example/678.ashx
build/ordil build/example/678.ashx 678
echo "build/example/678.xml:"
cat build/example/678.xml
echo
