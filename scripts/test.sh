#!/usr/bin/env bash
# Sets up the machine, builds everything with the sanitizers and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build-test}
bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=ON
cd "$BUILD_DIR"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:handle_segv=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --output-on-failure -j"$(nproc)" --timeout 600
