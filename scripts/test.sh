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
# Every test the programs define must run: CTest may neither find none nor leave some out.
# Under CI=true a skip fails unless tests/ci_skips.txt allows it (tests/testutil.cpp).
defined=0
while read -r program; do
  n=$("$program" --gtest_list_tests | grep -c '^  ') || true
  defined=$((defined + n))
done < "$BUILD_DIR/test_programs.txt"
junit=$BUILD_DIR/ctest-junit.xml
rm -f "$junit"
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)" --timeout 600 --no-tests=error --output-junit "$junit")
ran=$(grep -c '^[[:space:]]*<testcase ' "$junit") || true
if [ "$ran" -lt "$defined" ] || [ "$defined" -eq 0 ]; then
  echo "ci: ctest ran $ran tests, the test programs define $defined" >&2
  exit 1
fi
took "ctest ($ran tests)"

plain=$root/build-plain
cmake -S "$root" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only" >/dev/null
cmake --build "$plain" --target test_base -- -j"$(nproc)" >/dev/null
# The sanitizer build skips these (tests/ci_skips.txt); here they must all run and pass.
signal_tests='Exception.*:Job.Cancellation*'
want=$("$plain/test_base" --gtest_filter="$signal_tests" --gtest_list_tests | grep -c '^  ') || true
log=$("$plain/test_base" --gtest_filter="$signal_tests" --gtest_brief=1) || { echo "$log"; exit 1; }
echo "$log"
passed=$(echo "$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p')
if [ "$want" -eq 0 ]; then
  echo "ci: test_base --gtest_filter='$signal_tests' matches no test" >&2
  exit 1
elif [ "${passed:-0}" -ne "$want" ]; then
  echo "ci: test_base --gtest_filter='$signal_tests' passed ${passed:-0} of the $want tests it matches" >&2
  exit 1
fi
took "plain build and signal tests"
