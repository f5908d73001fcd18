#!/usr/bin/env bash
# Sets everything up and runs the whole test suite twice: in the normal
# optimised build with gcc (build/) and in the AddressSanitizer + UBSan
# build with clang (build-asan/), which also builds the libFuzzer targets.
# So the tree keeps building with both compilers, and each file is
# compiled only twice. The normal build carries no debug information: it
# would more than double its compile time on a 2-core machine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"

bash scripts/setup.sh --packages-only

jobs=${TARVO_CTEST_JOBS:-8}

build_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir"
}
test_suite() {
  (cd "$1" && ctest -j"$jobs" --output-on-failure --timeout 600)
}
run_suite() {
  build_suite "$@"
  test_suite "$1"
}

# The Debian packages (where debhelper is installed) are built while the
# normal suite runs: its tests mostly wait, so the package build's compile
# takes the idle cores (niced, without debug information or dbgsym
# packages), and its contents are checked with dpkg-deb.
package_pid=
start_package() {
  if ! dpkg-query -W -f='${Status}' debhelper 2>/dev/null | grep -q 'install ok installed'; then
    echo "debhelper is not installed: no package build"
    return
  fi
  (
    start=$(date +%s)
    DEB_BUILD_OPTIONS="parallel=2 noautodbgsym" DEB_CFLAGS_APPEND=-g0 DEB_CXXFLAGS_APPEND=-g0 \
      nice -n 10 bash scripts/package.sh "$here/build/packages"
    bash scripts/check-packages.sh "$here/build/packages"
    echo "package build: $(( $(date +%s) - start )) s"
  ) >"$here/build/package.log" 2>&1 &
  package_pid=$!
}
finish_package() {
  [ -n "$package_pid" ] || return 0
  local status=0
  wait "$package_pid" || status=$?
  tail -n 30 "$here/build/package.log"
  if [ "$status" != 0 ]; then
    echo "package build failed (whole log: build/package.log)"
    return "$status"
  fi
}

start=$(date +%s)
build_suite build -DCMAKE_BUILD_TYPE=Release
start_package
suite_status=0
test_suite build || suite_status=$?
waited=$(date +%s)
finish_package
echo "waited for the package build after the normal suite: $(( $(date +%s) - waited )) s"
[ "$suite_status" = 0 ] || exit "$suite_status"
echo "normal suite: $(( $(date +%s) - start )) s"
start=$(date +%s)
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  run_suite build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DTARVO_SANITIZE=ON -DTARVO_FUZZ=ON -DTARVO_BENCH=OFF
echo "sanitizer suite: $(( $(date +%s) - start )) s"
