#!/usr/bin/env bash
# Sets up the machine, builds everything with the sanitizers and runs every test; then builds
# the shipped Release configuration (static C++ runtime) with the benchmarks, and runs there
# the few tests that a sanitizer's own signal handling rules out.
# Each stage's wall time is printed ("time: ..."), to see where a run goes; each check that
# fails prints a line starting "ci: " that names its cause.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
t=$SECONDS
took() { echo "time: $1 $((SECONDS - t)) s"; t=$SECONDS; }
fail() { echo "ci: $*" >&2; exit 1; }

# GoogleTest also takes its selection from the environment (GTEST_FILTER, GTEST_REPEAT,
# GTEST_ALSO_RUN_DISABLED_TESTS, sharding, a flag file, TESTBRIDGE_TEST_ONLY, ...): CTest's
# discovery and every test run would follow it, and this run must run each test once.
for var in $(compgen -e); do
  case $var in
    GTEST_COLOR) ;;
    GTEST_* | TESTBRIDGE_*) fail "$var=${!var} is set in the environment: it selects or repeats GoogleTest's tests, and this run runs each of them once (unset it)" ;;
  esac
done

bash "$root/scripts/setup.sh" test
took setup
export BUILD_DIR=${BUILD_DIR:-$root/build-test}
# The project's defaults, the caller's sanitizer options, then the ones that decide whether a
# fault fails its test.
. "$root/scripts/sanitizer_env.sh" "detect_leaks=1:handle_segv=1"

# Line tables only (-g1): sanitizer reports keep their files and lines, and the build
# (mostly the tests) takes about a quarter less time than with full debug information.
lines_only="-O2 -g1 -DNDEBUG"
bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=ON -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only"
took "sanitizer build"

# Every test the programs define must run: CTest may neither find none nor leave some out, and
# no test may be disabled. The programs' own listing (no GTEST_* selection, see above) is the measure.
defined=$BUILD_DIR/tests-defined.txt
: >"$defined"
while read -r program; do
  listing=$("$program" --gtest_list_tests) || fail "$program --gtest_list_tests failed (exit status $?)"
  # "Suite." (or "Prefix/Suite.  # TypeParam = ...") heads its tests, each "  Name" or "  Name/0  # ...".
  awk '/^[^ ]/ { suite = ($1 ~ /\.$/) ? $1 : ""; next } /^  / && suite != "" { print suite $1 }' <<<"$listing" >>"$defined"
done <"$BUILD_DIR/test_programs.txt"
[ -s "$defined" ] || fail "the test programs define no test"
# GoogleTest lists a disabled test (DISABLED_ before its suite's or its own name), which CTest
# then reports as "Not Run (Disabled)" and its JUnit report as a test case all the same.
disabled=$(awk '/(^|[./])DISABLED_/ { printf "%s%s", sep, $0; sep = " " }' "$defined")
[ -z "$disabled" ] || fail "disabled tests, which CTest does not run: $disabled"
junit=$BUILD_DIR/ctest-junit.xml
rm -f "$junit"
# The tests' temporary folders go to a fresh folder, which must be empty again afterwards
# (open to all as /tmp is: some tests hand their folders to an ordinary user).
scratch=$(mktemp -d)
chmod 1777 "$scratch"
trap 'rm -rf "$scratch"' EXIT
# A passed test's output is kept in the report from its end (where GoogleTest's verdict is).
(cd "$BUILD_DIR" && TMPDIR=$scratch ctest --output-on-failure -j"$(nproc)" --timeout 600 --no-tests=error \
  --output-junit "$junit" --test-output-size-passed 4096 --test-output-truncation head)
left=$(ls -A "$scratch")
rm -rf "$scratch"
[ -z "$left" ] || fail "the tests left in their temporary folder (TMPDIR): $(echo $left)"
# Under CI=true a skip fails unless tests/ci_skips.txt allows it, for its reason (tests/testutil.cpp).
python3 - "$defined" "$junit" <<'EOF'
import sys, xml.etree.ElementTree as ET
defined_path, junit_path = sys.argv[1:]
def fail(message):
    print("ci: " + message, file=sys.stderr)
    sys.exit(1)
names = [n for n in open(defined_path).read().split("\n") if n]
try:
    cases = ET.parse(junit_path).getroot().iter("testcase")
except (OSError, ET.ParseError) as e:
    fail("no readable JUnit report from CTest (%s): %s" % (junit_path, e))
ran, passed_unfinished = set(), []
for case in cases:
    name, status = case.get("name"), case.get("status")
    if status == "disabled":
        fail("test disabled in CTest, not run: " + name)
    ran.add(name)
    out = case.findtext("system-out") or ""
    # GoogleTest's own verdict closes a test that ran to its end; a program that exited
    # part-way (exit, _exit) with status 0 is "passed" to CTest all the same.
    if status == "run" and "[  PASSED  ] 1 test." not in out:
        passed_unfinished.append(name)
missing = [n for n in names if n not in ran]
if missing:
    fail("ctest ran %d tests, the test programs define %d; not run: %s" % (len(ran), len(names), ", ".join(missing[:20])))
if passed_unfinished:
    fail("passed without GoogleTest's closing \"[  PASSED  ] 1 test.\" (its program ended part-way): " + ", ".join(passed_unfinished))
print("ci: %d tests defined, each run once by CTest" % len(names))
EOF
took "ctest ($(wc -l <"$defined") tests)"

# The shipped configuration, as scripts/run-example.sh builds it (Release, the C++ runtime
# linked in), with the benchmarks; and, in the same build, test_base without sanitizers for
# the tests listed "plain" in tests/ci_skips.txt, which must all run and pass here.
plain=$root/build-plain
cmake -S "$root" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_TESTS=ON -DQMX_BENCH=ON -DQMX_SANITIZE=OFF \
  -DQMX_WERROR=ON >/dev/null
benches=()
for b in "$root"/bench/*.cpp; do benches+=("$(basename "$b" .cpp)"); done
cmake --build "$plain" --target softmgr_devbundle test_base "${benches[@]}" -- -j"$(nproc)" >"$plain.log" 2>&1 ||
  { tail -40 "$plain.log"; fail "the Release build (softmgr, benchmarks, test_base) failed in $plain; its log: $plain.log"; }
"$plain/softmgr" version >/dev/null || fail "the Release build's program does not start: $plain/softmgr version (exit status $?)"
signal_tests=$(awk '!/^[ \t]*#/ && $1 == "plain" { printf "%s%s", sep, $2; sep = ":" }' "$root/tests/ci_skips.txt")
[ -n "$signal_tests" ] || fail "tests/ci_skips.txt lists no plain test"
for pattern in ${signal_tests//:/ }; do
  listing=$("$plain/test_base" --gtest_filter="$pattern" --gtest_list_tests) ||
    fail "$plain/test_base --gtest_list_tests failed (exit status $?)"
  grep -q '^  ' <<<"$listing" || fail "tests/ci_skips.txt's plain test $pattern matches no test of test_base"
done
listing=$("$plain/test_base" --gtest_filter="$signal_tests" --gtest_list_tests) ||
  fail "$plain/test_base --gtest_list_tests failed (exit status $?)"
want=$(awk '/^  / { n++ } END { print n + 0 }' <<<"$listing")
log=$("$plain/test_base" --gtest_filter="$signal_tests" --gtest_brief=1) || { echo "$log"; fail "test_base's plain tests failed ($signal_tests)"; }
echo "$log"
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' <<<"$log")
[ "${passed:-0}" -eq "$want" ] ||
  fail "test_base --gtest_filter='$signal_tests' passed ${passed:-0} of the $want tests it matches"
took "Release build, benchmarks and plain tests"
