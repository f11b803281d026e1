#!/usr/bin/env bash
# Builds everything and runs every test. Installs what it needs (Debian).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages cmake g++ make libgtest-dev

jobs=$(nproc)

echo "== native build, unit and end-to-end tests"
cmake -S . -B build -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure)
