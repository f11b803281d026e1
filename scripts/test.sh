#!/usr/bin/env bash
# Builds everything and runs every test. Installs what it needs (Debian).
#
#   scripts/test.sh            everything
#   FUZZ_SECONDS=N             how long each fuzz target runs (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_i386
need_packages cmake g++ make libgtest-dev googletest libexpat1-dev libbenchmark-dev \
  clang libclang-rt-14-dev groff-base dpkg-dev file \
  g++-mingw-w64-i686 wine wine32 locales
need_locale ja_JP.utf8
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

step "32-bit Windows build, tests under Wine with code pages 932 and 1252"
export WINEDEBUG=-all
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON >/dev/null
cmake --build build-win32 -j"$jobs"
file build-win32/ordil.exe
file build-win32/ordil.exe | grep -q 'PE32 executable (console) Intel 80386'
compare=$(mktemp -d)
build/ordil-gen random --any-bytes 11 3000 "$compare/any.ashx"
build/ordil-gen random 12 3000 "$compare/real.ashx"
cp examples/example.ashx "$compare/example.ashx"
for lang in ja_JP.UTF-8:932 C.UTF-8:1252; do
  echo "-- LANG=${lang%%:*} (code page ${lang##*:})"
  LANG=${lang%%:*} ORDIL_EXPECT_CODE_PAGE=${lang##*:} wine build-win32/tests/ordil_tests.exe --gtest_brief=1
  for name in any real example; do
    # The same input and id must give the same bytes from both builds.
    cp "$compare/$name.ashx" "$compare/$name-native.ashx"
    cp "$compare/$name.ashx" "$compare/$name-win32.ashx"
    build/ordil "$compare/$name-native.ashx" 678
    (cd "$compare" && LANG=${lang%%:*} wine "$OLDPWD/build-win32/ordil.exe" "$name-win32.ashx" 678)
    cmp "$compare/$name-native.xml" "$compare/$name-win32.xml"
  done
  echo "documents identical to the native build's"
done
rm -rf "$compare"

step "install rules and the Debian package"
scratch=$(mktemp -d)
cmake --install build --prefix "$scratch/prefix" >/dev/null
test -x "$scratch/prefix/bin/ordil"
test -f "$scratch/prefix/share/man/man1/ordil.1"
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/ordil_*.deb)
dpkg-deb -f "$deb" Package Version Architecture Depends Maintainer
[ "$(dpkg-deb -f "$deb" Version)" = "$(build/ordil --version | cut -d' ' -f2)" ]
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]
dpkg-deb -f "$deb" Depends | grep -q libc6
dpkg-deb -x "$deb" "$scratch/root"
"$scratch/root/usr/bin/ordil" --version
cp examples/example.ashx "$scratch/678.ashx"
"$scratch/root/usr/bin/ordil" "$scratch/678.ashx" 678
build/ordil-gen from-text examples/example.txt "$scratch/again.ashx"
build/ordil "$scratch/again.ashx" 678
cmp "$scratch/678.xml" "$scratch/again.xml"
echo "packaged ordil converts the example like the built one"
rm -rf "$scratch"
