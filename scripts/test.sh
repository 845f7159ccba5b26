#!/usr/bin/env bash
# Sets up the machine, builds everything with the sanitizers and runs every test;
# then runs, in a plain build, the few tests that a sanitizer's own signal handling rules out.
# Each stage's wall time is printed ("time: ..."), to see where a run goes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
t=$SECONDS
took() { echo "time: $1 $((SECONDS - t)) s"; t=$SECONDS; }
bash "$root/scripts/setup.sh" test
took setup
export BUILD_DIR=${BUILD_DIR:-$root/build-test}
# Line tables only (-g1): sanitizer reports keep their files and lines, and the build
# (mostly the tests) takes about a quarter less time than with full debug information.
lines_only="-O2 -g1 -DNDEBUG"
bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=ON -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only"
took "sanitizer build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:handle_segv=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
took ctest

plain=$root/build-plain
cmake -S "$root" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only" >/dev/null
cmake --build "$plain" --target test_base -- -j"$(nproc)" >/dev/null
"$plain/test_base" --gtest_filter='Exception.*:Job.Cancellation*' --gtest_brief=1
took "plain build and signal tests"
