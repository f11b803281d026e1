#!/usr/bin/env bash
# Builds everything and runs every test. Installs what it needs (Debian).
#
#   scripts/test.sh            everything
#   FUZZ_SECONDS=N             how long each fuzz target runs (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages cmake g++ make libgtest-dev libexpat1-dev clang libclang-rt-14-dev
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}

step() { printf '\n== %s\n' "$*"; }

step "native build (warnings are errors), unit and end-to-end tests"
cmake -S . -B build -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure)

if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  step "end-to-end tests as an unprivileged user (permissions apply)"
  copy=$(mktemp -d)
  cp build/ordil build/tests/ordil_tests "$copy"
  chmod 755 "$copy"
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env ORDIL_EXE="$copy/ordil" "$copy/ordil_tests" \
    --gtest_brief=1 --gtest_filter='EndToEnd.*:-EndToEnd.BundledExample*'
  rm -rf "$copy"
fi

step "AddressSanitizer and UndefinedBehaviorSanitizer build, whole suite"
cmake -S . -B build-sanitize -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON \
  -DORDIL_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 ctest -j"$jobs" --output-on-failure)

step "fuzz targets, ${fuzz_seconds} s each"
CXX=clang++ cmake -S . -B build-fuzz -DORDIL_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_records fuzz_path_argument fuzz_text
for target in records path_argument text; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$target/." "$work"
  echo "fuzz_$target:"
  status=0
  build-fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/$target-" "$work" > "$work.log" 2>&1 || status=$?
  grep -E 'ERROR|SUMMARY|Test unit written|DONE|stat::number_of_executed_units' "$work.log" || true
  rm -rf "$work" "$work.log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$target found a failure (exit $status); the input is in build-fuzz/" >&2
    exit 1
  fi
done
