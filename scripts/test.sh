#!/usr/bin/env bash
# Builds everything and runs every test, installing what it needs (Debian).
# Each stage runs on its own; the last lines are a summary, one line a stage:
#   STAGE: passed (DETAILS) | skipped (REASON) | failed (DETAILS)
# and the command exits non-zero when any stage failed.
#
#   scripts/test.sh
#   FUZZ_SECONDS=N     how long each fuzz target runs (default 60)
#   ORDIL_WINE32=PATH  Wine's 32-bit loader (default /usr/lib/wine/wine);
#   ORDIL_WINE64=PATH  and its 64-bit one (default /usr/lib/wine/wine64)
#
# The Windows stages call Wine's loaders directly rather than through
# /usr/bin/wine, which picks the 32-bit loader whenever it is installed,
# for 64-bit programs too, and so runs nothing on a kernel that refuses
# 32-bit programs. What runs is decided by trying it: the 32-bit suite
# under 32-bit Wine where that starts, otherwise the x86-64 build's suite
# under 64-bit Wine. tests/standins/no-ia32 stands for a 32-bit loader on
# such a kernel:  ORDIL_WINE32=$PWD/tests/standins/no-ia32 scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}
wine32=${ORDIL_WINE32:-/usr/lib/wine/wine}
wine64=${ORDIL_WINE64:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# --- installing, in groups ------------------------------------------------
have_build=1 have_clang=1 have_mingw=1 have_wine64=1 have_wine32=1
install_group "build and test tools" cmake g++ make libgtest-dev googletest libexpat1-dev \
  libbenchmark-dev groff-base dpkg-dev file locales lintian || have_build=
install_group "clang and the fuzzing runtime" clang libclang-rt-14-dev || have_clang=
install_group "MinGW" g++-mingw-w64-i686 g++-mingw-w64-x86-64 unzip || have_mingw=
install_group "Wine's 64-bit half" wine wine64 || have_wine64=
if add_i386; then
  install_group "Wine's 32-bit half" wine32:i386 || have_wine32=
else
  group_problem["Wine's 32-bit half"]="the i386 architecture cannot be added"
  have_wine32=
fi
[ -z "$have_build" ] || need_locale ja_JP.utf8 || true

# --- running stages -------------------------------------------------------
step() { printf '\n== %s\n' "$*"; }
# A stage writes what its summary line says into $details; a stage that
# cannot run exits with $skip after writing its reason there.
skip=77
declare -a order=()
run_stage() {
  local name=$1
  shift
  order+=("$name")
  step "$name"
  export details="$results/$name"
  : >"$details"
  set +e
  (set -e; "$@")
  local status=$?
  set -e
  case $status in
    0) echo passed >"$results/$name.status" ;;
    "$skip") echo skipped >"$results/$name.status" ;;
    *) echo failed >"$results/$name.status"
       [ -s "$details" ] || echo "exit status $status" >"$details" ;;
  esac
}
skipped_because() { echo "$*" >"$details"; exit "$skip"; }

# "N tests, K skipped" from a ctest log.
ctest_counts() {
  local total skipped
  total=$(grep -oE 'tests failed out of [0-9]+' "$1" | grep -oE '[0-9]+$' || echo 0)
  skipped=$(grep -c '\*\*\*Skipped' "$1" || true)
  echo "$total tests, $skipped skipped"
}
# Tests run and skipped from a GoogleTest log, as "N K".
gtest_counts() {
  local passed failed skipped
  passed=$(grep -oE '^\[  PASSED  \] [0-9]+' "$1" | grep -oE '[0-9]+$' || echo 0)
  failed=$(grep -oE '^\[  FAILED  \] [0-9]+ test' "$1" | grep -oE '[0-9]+' || echo 0)
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+ test' "$1" | grep -oE '[0-9]+' || echo 0)
  echo "$((passed + failed + skipped)) $skipped"
}

need_build() { [ -n "$have_build" ] || skipped_because "build and test tools ${group_problem["build and test tools"]}"; }

stage_native() {
  need_build
  cmake -S . -B build -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON >/dev/null
  cmake --build build -j"$jobs"
  (cd build && ctest -j"$jobs" --output-on-failure) | tee "$results/native.log"
  ctest_counts "$results/native.log" >"$details"
}

stage_unprivileged() {
  [ "$(id -u)" -eq 0 ] || skipped_because "not run as root, so the suite already ran unprivileged"
  command -v setpriv >/dev/null || skipped_because "no setpriv to change user"
  [ -x build/tests/ordil_tests ] || { echo "the native build is missing" >"$details"; exit 1; }
  local copy links i
  copy=$(mktemp -d)
  cp build/ordil build/tests/ordil_tests "$copy"
  chmod 755 "$copy"
  # Links of root's for the tests of what another user may plant: nobody
  # moves them out of this folder into its own (a rename keeps the owner).
  links=$(mktemp -d)
  chmod 777 "$links"
  for i in 1 2 3 4 5 6 7 8; do
    ln -s victim "$links/victim-$i"
    ln -s /dev/null "$links/device-$i"
  done
  set +e
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env ORDIL_EXE="$copy/ordil" ORDIL_FOREIGN_LINKS="$links" "$copy/ordil_tests" \
    --gtest_brief=1 --gtest_filter='EndToEnd.*:Replacing.*:Batch.*:Planted.*:-EndToEnd.BundledExample*' |
    tee "$results/unprivileged.log"
  local status=${PIPESTATUS[0]}
  set -e
  rm -rf "$copy" "$links"
  read -r total skipped < <(gtest_counts "$results/unprivileged.log")
  echo "$total end-to-end tests as nobody, $skipped skipped" >"$details"
  return "$status"
}

stage_sanitizers() {
  need_build
  cmake -S . -B build-sanitize -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON -DORDIL_SANITIZE=ON >/dev/null
  cmake --build build-sanitize -j"$jobs"
  (cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 ctest -j"$jobs" --output-on-failure) |
    tee "$results/sanitizers.log"
  echo "AddressSanitizer and UndefinedBehaviorSanitizer: $(ctest_counts "$results/sanitizers.log")" >"$details"
}

# The tests of what runs on two threads (a large input's parts, reading
# ahead, the batch mode's jobs) under ThreadSanitizer.
stage_threads() {
  need_build
  cmake -S . -B build-tsan -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=ON -DORDIL_SANITIZE_THREADS=ON >/dev/null
  cmake --build build-tsan -j"$jobs" --target ordil ordil-gen ordil_tests
  set +e
  TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/ordil_tests --gtest_brief=1 \
    --gtest_filter='ConvertInParts.*:RecordReader.*:Batch.*:BatchRunner.*:Replacing.*' | tee "$results/threads.log"
  local status=${PIPESTATUS[0]}
  set -e
  read -r total skipped < <(gtest_counts "$results/threads.log")
  echo "ThreadSanitizer: $total tests of the threaded parts, $skipped skipped" >"$details"
  return "$status"
}

stage_fuzz() {
  need_build
  [ -n "$have_clang" ] || skipped_because "clang ${group_problem["clang and the fuzzing runtime"]}"
  CXX=clang++ cmake -S . -B build-fuzz -DORDIL_WERROR=ON -DORDIL_BUILD_TESTS=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs" --target fuzz_records fuzz_path_argument fuzz_text
  local target work status runs total=0
  for target in records path_argument text; do
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$target/." "$work"
    echo "fuzz_$target:"
    status=0
    build-fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/$target-" "$work" >"$work.log" 2>&1 || status=$?
    grep -E 'ERROR|SUMMARY|Test unit written|DONE|stat::number_of_executed_units' "$work.log" || true
    runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$work.log" | grep -oE '[0-9]+$' || echo 0)
    total=$((total + runs))
    rm -rf "$work" "$work.log"
    if [ "$status" -ne 0 ]; then
      echo "fuzz_$target found a failure (exit $status); the input is in build-fuzz/" >"$details"
      exit 1
    fi
  done
  echo "3 targets, ${fuzz_seconds} s each, $total inputs, no failure" >"$details"
}

# Builds the Windows program with a toolchain file into a folder.
build_windows() {
  local dir=$1 toolchain=$2
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORDIL_WERROR=ON \
    -DORDIL_BUILD_TESTS=ON >/dev/null
  cmake --build "$dir" -j"$jobs"
}

# Makes a Windows build's zip (cpack -G ZIP), checks it and unpacks it into
# DIR/zip; prints the zip's name and size.
package_windows() {
  local dir=$1 zip
  (cd "$dir" && cpack -G ZIP >/dev/null)
  zip=$(ls "$dir"/ordil-*-win*.zip)
  bash tests/windows_package_test.sh "$zip" "$(build/ordil --version | cut -d' ' -f2)" >&2
  rm -rf "$dir/zip"
  unzip -q "$zip" -d "$dir/zip"
  echo "$(basename "$zip") ($(( ($(stat -c %s "$zip") + 1023) / 1024 )) KiB)"
}

# Runs a program under the Wine of one loader (its WINELOADER too, so that
# what it starts runs under the same one): run_wine LOADER PROGRAM ARG...
run_wine() {
  local loader=$1
  shift
  WINELOADER=$loader "$loader" "$@"
}

# Runs a Windows build's suite under the Wine of a loader in code pages 932
# and 1252, with the ordil.exe unpacked from the zip, and compares its
# documents with the native build's. Writes the details.
test_windows() {
  local dir=$1 zip=$2 loader=$3
  local exe="$PWD/$dir/zip/ordil.exe"
  export WINEPREFIX="$PWD/$dir/wine-prefix"
  local compare lang cp name log mode status=0 total=0 t s skips=() args=()
  compare=$(mktemp -d)
  build/ordil-gen random --any-bytes 11 3000 "$compare/any.ashx"
  build/ordil-gen random 12 3000 "$compare/real.ashx"
  cp examples/example.ashx "$compare/example.ashx"
  for lang in ja_JP.UTF-8:932 C.UTF-8:1252; do
    cp=${lang##*:}
    echo "-- LANG=${lang%%:*} (code page $cp)"
    log="$results/$dir-$cp.log"
    LANG=${lang%%:*} ORDIL_EXPECT_CODE_PAGE=$cp ORDIL_EXE="$exe" run_wine "$loader" "$dir/tests/ordil_tests.exe" --gtest_brief=1 |
      tee "$log" || status=1
    read -r t s < <(gtest_counts "$log")
    total=$t
    skips+=("$s in $cp")
    [ "$t" -gt 0 ] || status=1
    for name in any real example; do
      # The same input and id must give the same bytes from both builds.
      cp "$compare/$name.ashx" "$compare/$name-native.ashx"
      cp "$compare/$name.ashx" "$compare/$name-windows.ashx"
      build/ordil "$compare/$name-native.ashx" 678 || true
      (cd "$compare" && LANG=${lang%%:*} run_wine "$loader" "$exe" "$name-windows.ashx" 678) || true
      if ! cmp "$compare/$name-native.xml" "$compare/$name-windows.xml"; then
        echo "the $name document differs from the native build's (code page $cp)" >"$details"
        exit 1
      fi
    done
    echo "documents identical to the native build's"
    # A link in a document's place is replaced, never written through:
    # here a Unix link, which Wine shows to the program as a plain file.
    for mode in single batch; do
      rm -rf "$compare/links"
      mkdir "$compare/links"
      cp examples/example.ashx "$compare/links/678.ashx"
      echo victim >"$compare/links/victim"
      ln -s victim "$compare/links/678.xml"
      args=(678.ashx 678)
      [ $mode = single ] || args=(--batch .)
      (cd "$compare/links" && LANG=${lang%%:*} run_wine "$loader" "$exe" "${args[@]}") || true
      if [ "$(cat "$compare/links/victim")" != victim ] || [ -L "$compare/links/678.xml" ] ||
        ! cmp -s "$compare/links/678.xml" "$compare/example-native.xml"; then
        echo "a link in the document's place was written through ($mode mode, code page $cp)" >"$details"
        exit 1
      fi
    done
    echo "links in documents' places replaced, not written through"
  done
  rm -rf "$compare"
  if [ "$status" -ne 0 ]; then
    echo "tests failed under Wine (see above)" >"$details"
    exit 1
  fi
  echo "$total tests, code pages 932 and 1252, with ordil.exe from $zip; skipped ${skips[0]}, ${skips[1]}" >"$details"
}

# Whether the Wine of a loader runs a build: a prefix is made and the
# program answers. wine_runs DIR LOADER
wine_runs() {
  WINEPREFIX="$PWD/$1/wine-prefix" run_wine "$2" "$1/ordil.exe" --version >/dev/null 2>&1
}

# Why the 32-bit loader, installed, ran no program: the kernel's refusal
# of every 32-bit program ("Exec format error", exit 126, as the shell
# reports it), or what the loader itself said.
why_wine32_failed() {
  local out status=0
  out=$("$wine32" --version 2>&1) || status=$?
  if [ "$status" -eq 126 ] || [[ $out == *"Exec format error"* ]]; then
    echo "this kernel runs no 32-bit program"
  elif [ "$status" -ne 0 ]; then
    echo "wine32 cannot start ($(printf '%s' "$out" | tail -1 | cut -c1-120))"
  else
    echo "wine32 starts but cannot run ordil.exe"
  fi
}

stage_windows_32() {
  need_build
  [ -n "$have_mingw" ] || { echo "MinGW ${group_problem[MinGW]}" >"$details"; exit 1; }
  build_windows build-win32 cmake/mingw-i686.cmake
  file build-win32/ordil.exe
  if ! file build-win32/ordil.exe | grep -q 'PE32 executable (console) Intel 80386'; then
    echo "ordil.exe is not a PE32 console program for Intel 80386" >"$details"
    exit 1
  fi
  # Built, zipped and checked whatever can run it.
  local zip checked="built, zipped and checked as PE32 (console) Intel 80386"
  zip=$(package_windows build-win32)
  [ -n "$have_wine32" ] ||
    skipped_because "wine32 ${group_problem["Wine's 32-bit half"]}; $checked ($zip)"
  wine_runs build-win32 "$wine32" || skipped_because "$(why_wine32_failed); $checked ($zip)"
  test_windows build-win32 "$zip" "$wine32"
}

stage_windows_64() {
  [ ! -s "$results/windows-32.status" ] || [ "$(cat "$results/windows-32.status")" != passed ] ||
    skipped_because "not needed: the 32-bit build was tested under 32-bit Wine"
  if [ "$(cat "$results/windows-32.status")" = failed ] && [ -n "$have_wine32" ]; then
    skipped_because "the 32-bit build ran under 32-bit Wine (and failed there)"
  fi
  need_build
  [ -n "$have_mingw" ] || { echo "MinGW ${group_problem[MinGW]}" >"$details"; exit 1; }
  if [ -z "$have_wine64" ]; then
    echo "no Wine can run a Windows build: wine64 ${group_problem["Wine's 64-bit half"]}" >"$details"
    exit 1
  fi
  build_windows build-win64 cmake/mingw-x86_64.cmake
  file build-win64/ordil.exe
  if ! wine_runs build-win64 "$wine64"; then
    echo "no Wine can run a Windows build: 64-bit Wine ($wine64) cannot run ordil.exe" >"$details"
    exit 1
  fi
  local zip
  zip=$(package_windows build-win64)
  test_windows build-win64 "$zip" "$wine64"
  # Say why this build was the one tested.
  local why32
  why32=$(head -1 "$results/windows-32" | cut -d';' -f1)
  echo "$(cat "$details"); under $wine64 called directly, as the 32-bit suite could not run: $why32" >"$details"
}

stage_package() {
  need_build
  [ -x build/ordil ] || { echo "the native build is missing" >"$details"; exit 1; }
  local scratch deb
  scratch=$(mktemp -d)
  cmake --install build --prefix "$scratch/prefix" >/dev/null
  test -x "$scratch/prefix/bin/ordil"
  test -f "$scratch/prefix/share/man/man1/ordil.1.gz"
  (cd build && cpack -G DEB >/dev/null)
  deb=$(ls build/ordil_*.deb)
  dpkg-deb -f "$deb" Package Version Architecture Depends Maintainer
  [ "$(dpkg-deb -f "$deb" Version)" = "$(build/ordil --version | cut -d' ' -f2)" ]
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]
  dpkg-deb -f "$deb" Depends | grep -q libc6
  lintian --fail-on error,warning "$deb"
  dpkg-deb -x "$deb" "$scratch/root"
  test -f "$scratch/root/usr/share/doc/ordil/copyright"
  "$scratch/root/usr/bin/ordil" --version
  cp examples/example.ashx "$scratch/678.ashx"
  "$scratch/root/usr/bin/ordil" "$scratch/678.ashx" 678
  build/ordil-gen from-text examples/example.txt "$scratch/again.ashx"
  build/ordil "$scratch/again.ashx" 678
  cmp "$scratch/678.xml" "$scratch/again.xml"
  rm -rf "$scratch"
  echo "$(basename "$deb"), lintian clean, installed copy converts like the build" >"$details"
}

started=$(date +%s)
run_stage native stage_native
run_stage unprivileged stage_unprivileged
run_stage sanitizers stage_sanitizers
run_stage threads stage_threads
run_stage fuzz stage_fuzz
run_stage windows-32 stage_windows_32
run_stage windows-64 stage_windows_64
run_stage package stage_package

failed=0
printf '\n== summary (%d s)\n' "$(($(date +%s) - started))"
for name in "${order[@]}"; do
  outcome=$(cat "$results/$name.status")
  [ "$outcome" != failed ] || failed=1
  echo "$name: $outcome ($(head -1 "$results/$name"))"
done
exit "$failed"
