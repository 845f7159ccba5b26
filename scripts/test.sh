#!/usr/bin/env bash
# Sets up the machine, builds everything with the sanitizers and runs every test;
# then runs, in a plain build, the few tests that a sanitizer's own signal handling rules out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build-test}
bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=ON
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:handle_segv=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)" --timeout 600)

plain=$root/build-plain
cmake -S "$root" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=OFF >/dev/null
cmake --build "$plain" --target test_base -- -j"$(nproc)" >/dev/null
"$plain/test_base" --gtest_filter='Exception.*:Job.Cancellation*' --gtest_brief=1
