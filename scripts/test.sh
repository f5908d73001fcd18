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

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir"
  (cd "$dir" && ctest -j"$jobs" --output-on-failure --timeout 600)
}

start=$(date +%s)
run_suite build -DCMAKE_BUILD_TYPE=Release
echo "normal suite: $(( $(date +%s) - start )) s"
start=$(date +%s)
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  run_suite build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DTARVO_SANITIZE=ON -DTARVO_FUZZ=ON -DTARVO_BENCH=OFF
echo "sanitizer suite: $(( $(date +%s) - start )) s"
