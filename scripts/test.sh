#!/usr/bin/env bash
# Sets everything up and runs the whole test suite twice: in the normal
# build (build/) and in the AddressSanitizer + UBSan build (build-asan/).
# Then the whole tree is compiled once more with clang (fuzz targets and
# sanitizers on, no benchmarks), so that it keeps building with both
# compilers; that build only compiles, it runs no tests.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"

bash scripts/setup.sh --packages-only

jobs=${TARVO_CTEST_JOBS:-8}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir"
  (cd "$dir" && ctest -j"$jobs" --output-on-failure --timeout 600)
}

start=$(date +%s)
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "normal suite: $(( $(date +%s) - start )) s"
start=$(date +%s)
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON -DTARVO_BENCH=OFF
echo "sanitizer suite: $(( $(date +%s) - start )) s"
start=$(date +%s)
cmake -S . -B build-clang -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DTARVO_FUZZ=ON -DTARVO_SANITIZE=ON -DTARVO_BENCH=OFF
cmake --build build-clang
echo "clang build: $(( $(date +%s) - start )) s"
