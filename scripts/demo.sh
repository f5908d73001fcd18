#!/usr/bin/env bash
# Sets everything up and runs the demo. The program is built with its
# installation root inside build-demo/root, so nothing outside the build
# tree is touched.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
bash scripts/setup.sh --packages-only
root="$here/build-demo/root"
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_ROOT="$root" -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF
cmake --build build-demo
mkdir -p "$root/etc" "$root/tftpboot" "$root/var/template/master" "$root/bin"
echo "== Tarvo -h"
build-demo/main/Tarvo -h
echo "== Tarvo -l -j 1 (no settings file yet: the job fails with exit code 2)"
set +e
build-demo/main/Tarvo -l -j 1
echo "exit code: $?"
