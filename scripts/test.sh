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
test_suite() { # test_suite DIR [ctest options...]
  local dir=$1; shift
  (cd "$dir" && ctest -j"$jobs" --output-on-failure --timeout 600 "$@")
}

# The Debian packages (where debhelper is installed) are built while the
# suites run: their tests mostly wait, so the package build's compile takes
# the idle cores (niced below the tests and the sanitizer build, without
# debug information or dbgsym packages), and its contents are checked with
# dpkg-deb.
package_pid=
start_package() {
  if ! dpkg-query -W -f='${Status}' debhelper 2>/dev/null | grep -q 'install ok installed'; then
    echo "debhelper is not installed: no package build"
    return
  fi
  (
    start=$(date +%s)
    DEB_BUILD_OPTIONS="parallel=2 noautodbgsym" DEB_CFLAGS_APPEND=-g0 DEB_CXXFLAGS_APPEND=-g0 \
      nice -n 15 bash scripts/package.sh "$here/build/packages"
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

# ctest starts the tests it expects to take longest first, from the costs
# of its last run in this build folder; a fresh folder starts from the
# costs committed in tests/ctest-costs.txt (measured on a 2-core machine),
# so the long end-to-end tests do not start last and leave the tail alone.
seed_costs() {
  mkdir -p "$1/Testing/Temporary"
  [ -s "$1/Testing/Temporary/CTestCostData.txt" ] || cp tests/ctest-costs.txt "$1/Testing/Temporary/CTestCostData.txt"
}

asan_args=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
  -DTARVO_SANITIZE=ON -DTARVO_FUZZ=ON -DTARVO_BENCH=OFF)

start=$(date +%s)
build_suite build -DCMAKE_BUILD_TYPE=Release
echo "normal build: $(( $(date +%s) - start )) s"
# The normal suite mostly waits (devices' pauses, time-outs), so the
# sanitizer build compiles meanwhile, niced below the tests, and the
# package build below both.
asan_start=$(date +%s)
(
  renice -n 5 -p "$BASHPID" >/dev/null
  build_suite build-asan "${asan_args[@]}"
  echo "sanitizer build: $(( $(date +%s) - asan_start )) s"
) >"$here/build/asan-build.log" 2>&1 &
asan_build_pid=$!
start_package
suite_status=0
seed_costs build
test_suite build || suite_status=$?
echo "normal suite: $(( $(date +%s) - start )) s since the build began"
asan_status=0
wait "$asan_build_pid" || asan_status=$?
tail -n 3 "$here/build/asan-build.log"
if [ "$suite_status" != 0 ] || [ "$asan_status" != 0 ]; then
  [ "$asan_status" = 0 ] || echo "sanitizer build failed (whole log: build/asan-build.log)"
  finish_package || true
  exit 1
fi
start=$(date +%s)
seed_costs build-asan
asan_suite_status=0
# The cluster tests (label "cluster": a three-node Galera cluster and the
# claim, lease and fail-over tests on it) run in the normal suite only:
# they prove what the cluster does, and the same claim code runs under the
# sanitizers in the single-server claim tests, without the cluster's
# start-up time and CPU a second time.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  test_suite build-asan -LE cluster || asan_suite_status=$?
echo "sanitizer suite: $(( $(date +%s) - start )) s"
waited=$(date +%s)
finish_package
echo "waited for the package build after the suites: $(( $(date +%s) - waited )) s"
exit "$asan_suite_status"
