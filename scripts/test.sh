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

# No locale-following character calls in the sources (scripts/check_locale_calls.sh says why).
bash "$root/scripts/check_locale_calls.sh"
bash "$root/scripts/setup.sh" test
took setup
export BUILD_DIR=${BUILD_DIR:-$root/build-test}
# The project's defaults, the caller's sanitizer options, then the ones that decide whether a
# fault fails its test.
. "$root/scripts/sanitizer_env.sh" "detect_leaks=1:handle_segv=1"
. "$root/scripts/build_tmpdir.sh"

# The tests' temporary folders go to a fresh folder, which must be empty again afterwards
# (open to all as /tmp is: some tests hand their folders to an ordinary user).
scratch=$(mktemp -d)
chmod 1777 "$scratch"
trap 'rm -rf "$scratch"' EXIT
# What this machine has that some tests may skip without (tests/ci_skips.txt's sha, nobody
# and root lines): a skip for the lack of what is there is a fault. The superuser runs some tests as
# uid 65534, which a user namespace that maps only the superuser does not have; and that user
# must reach the folder (a TMPDIR inside a private folder: then the tests' go to /tmp instead).
present=
if [ -z "${QMX_NO_CPU_SHA:-}" ] && awk '/^flags/ { for (i = 3; i <= NF; i++) n += $i == "sha_ni" || $i == "ssse3" || $i == "sse4_1"; exit }
  END { exit n != 3 }' /proc/cpuinfo; then
  present+=" sha"
fi
[ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null || present+=" root"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@" 2>/dev/null; }
if [ "$(id -u)" -ne 0 ]; then
  present+=" nobody"
elif as_nobody true; then
  present+=" nobody"
  if ! as_nobody test -w "$scratch" -a -x "$scratch"; then
    echo "note: uid 65534 cannot reach $scratch (TMPDIR=${TMPDIR:-}): the tests' temporary folders go to /tmp"
    rm -rf "$scratch"
    scratch=$(mktemp -d /tmp/tmp.XXXXXXXXXX)
    chmod 1777 "$scratch"
  fi
fi
# Room for what the tests hold there at once: at its peak a whole run held 324 MiB one test at
# a time (most of it one test's package of more than 64 MB, which the engine unpacks on several
# threads, with its sources and the maker's spool), 388 MiB two at a time and 445 MiB eight at
# a time (README, "Testing"). A folder short of that runs fewer tests at once, or none: the run
# stops rather than fail tests with messages that read as the program's faults. Checked before
# the build, so that a folder far too small stops the run at once, and after it, since the
# build may have taken that room on the same disk; the second check sets the parallelism.
need_mb() { echo $((400 + 10 * $1)); }
check_room() {
  free_mb=$(df --output=avail -m "$scratch" | tail -1 | tr -d ' ')
  jobs=$(nproc)
  while [ "$jobs" -gt 1 ] && [ "$free_mb" -lt "$(need_mb "$jobs")" ]; do jobs=$((jobs - 1)); done
  [ "$free_mb" -ge "$(need_mb 1)" ] || fail "the tests' temporary folder $scratch has $free_mb MiB free, and a run \
needs $(need_mb 1) MiB: point TMPDIR at a folder with more room (TMPDIR=/var/tmp bash scripts/test.sh)"
}
check_room

# Line tables only (-g1): sanitizer reports keep their files and lines, and the build
# (mostly the tests) takes about a quarter less time than with full debug information.
lines_only="-O2 -g1 -DNDEBUG"
# The test programs' own sources at -O0: under the sanitizers they compile in about a fifth
# of the time (they were four fifths of this build), and the tests take a few seconds longer,
# the code under test being built as before.
bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TESTS=ON -DQMX_SANITIZE=ON -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only" -DQMX_TEST_OPT=-O0
took "sanitizer build"
check_room
[ "$jobs" -eq "$(nproc)" ] || echo "note: the tests' temporary folder $scratch has $free_mb MiB free, short of the \
$(need_mb "$(nproc)") MiB that $(nproc) tests at once need: $jobs run at once (a TMPDIR with more room runs more)"

# Every test source is compiled: each file under tests/ with a C or C++ extension is in the
# build's compile commands, and the target it is compiled into is a test program (whose tests
# CTest must run, below) or a helper the tests build and run themselves (test_helpers.txt);
# a source outside both, or a program linked with GoogleTest (or named test_*, wherever it
# lies) that CTest does not know, would pass without running.
python3 - "$root" "$BUILD_DIR" <<'EOF'
import json, os, re, subprocess, sys
root, build = sys.argv[1:]
def fail(message):
    print("ci: " + message, file=sys.stderr)
    sys.exit(1)
def lines(name):
    path = os.path.join(build, name)
    return [l for l in open(path).read().split("\n") if l] if os.path.exists(path) else []
programs = {os.path.basename(p) for p in lines("test_programs.txt")}
helpers = set(lines("test_helpers.txt"))
try:
    commands = json.load(open(os.path.join(build, "compile_commands.json")))
except (OSError, ValueError) as e:
    fail("no readable compile commands (%s/compile_commands.json): %s" % (build, e))
targets = {}
for c in commands:
    f = os.path.realpath(os.path.join(c.get("directory", ""), c["file"]))
    m = re.search(r"CMakeFiles/([^/ ]+)\.dir/", c.get("output", "") or c.get("command", ""))
    targets.setdefault(f, set()).add(m.group(1) if m else "?")
sources = []
for folder, _, files in os.walk(os.path.join(root, "tests")):
    sources += [os.path.join(folder, f) for f in files if re.search(r"\.(cpp|cc|cxx|c\+\+|C|c)$", f)]
for f in sorted(sources):
    rel = os.path.relpath(f, root)
    built = targets.get(os.path.realpath(f))
    if not built:
        fail("test source not compiled by the build (not in its compile commands): " + rel)
    strays = sorted(t for t in built if t not in programs and t not in helpers)
    if strays:
        fail("test source %s is compiled into %s, neither a test program CTest runs (test_programs.txt) "
             "nor a helper of the tests (test_helpers.txt)" % (rel, ", ".join(strays)))
# The programs the build makes, from its own graph (a file left by an older build is none): those
# named test_*, and those whose link takes in GoogleTest or GoogleMock, whatever their name.
def ninja(*args):
    return subprocess.run(["ninja", "-C", build, "-t"] + list(args), capture_output=True, text=True, check=True).stdout
made = set(m.group(1) for m in re.finditer(r"^((?:\S*/)?test_[A-Za-z0-9_]+): C(XX)?_EXECUTABLE_LINKER", ninja("targets", "all"), re.M))
gtest = re.compile(r"(^|[\s/])(lib(gtest|gmock)(_main)?(d)?\.(a|so)\S*|-l(gtest|gmock)(_main)?)(\s|$)")
for command in ninja("commands", "all").split("\n"):
    out = re.search(r"\s-o\s+(\S+)", command)
    if out and gtest.search(command) and not out.group(1).endswith(".o"):
        made.add(out.group(1))
run_by_ctest = {os.path.realpath(p) for p in lines("test_programs.txt")}
strays = sorted(m for m in made if os.path.realpath(os.path.join(build, m)) not in run_by_ctest)
if strays:
    fail("programs the build made with GoogleTest, or named test_*, that CTest does not run (not in "
         "test_programs.txt): " + ", ".join(strays))
EOF

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
# GoogleTest's own report of each test, <Suite.Test>.xml (CMakeLists.txt): the verdict that
# counts, CTest's being only the exit status.
results=$BUILD_DIR/gtest-results
rm -rf "$junit" "$results"
# A passed test's output is kept in the report from its end (where GoogleTest's verdict is).
ctest_status=0
(cd "$BUILD_DIR" && TMPDIR=$scratch ctest --output-on-failure -j"$jobs" --timeout 600 --no-tests=error \
  --output-junit "$junit" --test-output-size-passed 4096 --test-output-truncation head) || ctest_status=$?
# The SHA code as on a CPU without its extensions, on every machine: test_hash again with
# QMX_NO_CPU_SHA set, where the tests of the extension code skip and every other one passes.
nosha=$BUILD_DIR/test_hash-no-cpu-sha
rm -f "$nosha.xml"
nosha_status=0
(cd "$BUILD_DIR" && TMPDIR=$scratch QMX_NO_CPU_SHA=1 ./test_hash --gtest_output="xml:$nosha.xml") >"$nosha.log" 2>&1 ||
  nosha_status=$?
left=$(ls -A "$scratch")
rm -rf "$scratch"
# A test passes when CTest saw it pass and GoogleTest's report of it says it ran to its end
# without a failure. Under CI=true it may skip only when that report calls it skipped and a
# line of tests/ci_skips.txt names it (the program itself also fails a skip for a reason that
# line does not give, tests/testutil.cpp). What a test prints decides nothing.
python3 - "$defined" "$junit" "$results" "$root/tests/ci_skips.txt" "$ctest_status" "${CI:-}" "$present" <<'EOF'
import fnmatch, os, sys, xml.etree.ElementTree as ET
defined_path, junit_path, results, skips_path, ctest_status, ci, present = sys.argv[1:]
present = present.split()
def fail(message):
    print("ci: " + message, file=sys.stderr)
    sys.exit(1)
def some(names):
    return ", ".join(names[:20]) + (" and %d more" % (len(names) - 20) if len(names) > 20 else "")
names = [n for n in open(defined_path).read().split("\n") if n]
try:
    cases = ET.parse(junit_path).getroot().iter("testcase")
except (OSError, ET.ParseError) as e:
    fail("no readable JUnit report from CTest (%s): %s" % (junit_path, e))
ctest = {}
for case in cases:
    name, status = case.get("name"), case.get("status")
    if status == "disabled":
        fail("test disabled in CTest, not run: " + name)
    ctest[name] = status
missing = [n for n in names if n not in ctest]
if missing:
    fail("ctest ran %d tests, the test programs define %d; not run: %s" % (len(ctest), len(names), some(missing)))
# (where, pattern) of each line; a line whose <where> this machine has allows no skip here.
allowed = [tuple(w[:2]) for w in (l.split("#")[0].split() for l in open(skips_path).read().split("\n")) if len(w) >= 3]
failed, unfinished, skipped, unlisted, unfounded = [], [], [], [], []
for name in names:
    verdict = None
    try:
        for case in ET.parse(os.path.join(results, name + ".xml")).getroot().iter("testcase"):
            if case.get("classname") + "." + case.get("name") != name:
                continue
            if case.find("failure") is not None or case.find("error") is not None:
                verdict = "failed"
            elif case.get("result") == "skipped":
                verdict = "skipped"
            elif case.get("status") == "run" and case.get("result") == "completed":
                verdict = "passed"
    except (OSError, ET.ParseError):
        pass
    # Were CTest's skip pattern back (CMakeLists.txt cuts it), it would call a test "notrun"
    # whose output holds "[  SKIPPED ]": a skip only if GoogleTest says so.
    status = ctest[name]
    if verdict == "failed" or status not in ("run", "notrun") or (status == "notrun" and verdict != "skipped"):
        failed.append(name)
    elif verdict is None:
        # No report: the program ended part-way (exit, _exit, a signal) or never ran the test.
        unfinished.append(name)
    elif verdict == "skipped":
        skipped.append(name)
        lines = [w for w, p in allowed if fnmatch.fnmatchcase(name, p)]
        if ci in ("true", "1") and not lines:
            unlisted.append(name)
        elif ci in ("true", "1") and all(w in present for w in lines):
            unfounded.append("%s (%s)" % (name, ", ".join(sorted(set(lines)))))
if failed:
    fail("%d tests failed: %s" % (len(failed), some(failed)))
if unfinished:
    fail("passed without GoogleTest's report that they ran to their end (%s/<test>.xml; the program "
         "ended part-way): %s" % (results, some(unfinished)))
if unlisted:
    fail("skipped, and tests/ci_skips.txt does not allow it: " + some(unlisted))
if unfounded:
    fail("skipped for the lack of what this machine has (tests/ci_skips.txt: sha, the CPU's SHA extensions; "
         "nobody, uid 65534 within the superuser's reach; root, the superuser's own mount namespace): " + some(unfounded))
if ctest_status != "0":
    fail("ctest failed (exit status %s) though every test passed" % ctest_status)
print("ci: %d tests defined, each run once by CTest and passed%s" % (len(names),
      ", %d skipped: %s" % (len(skipped), some(skipped)) if skipped else ""))
EOF
# test_hash as on a CPU without the SHA extensions ran to its end, and exactly the tests of the
# extension code (tests/ci_skips.txt's sha lines) skipped: the switch took.
python3 - "$nosha" "$root/tests/ci_skips.txt" "$nosha_status" <<'EOF'
import fnmatch, sys, xml.etree.ElementTree as ET
nosha, skips_path, status = sys.argv[1:]
def fail(message):
    print("ci: test_hash with QMX_NO_CPU_SHA=1 (as on a CPU without the SHA extensions): %s (its output: %s.log)"
          % (message, nosha), file=sys.stderr)
    sys.exit(1)
if status != "0":
    fail("exit status " + status)
try:
    cases = list(ET.parse(nosha + ".xml").getroot().iter("testcase"))
except (OSError, ET.ParseError) as e:
    fail("no readable report of its end (%s.xml): %s" % (nosha, e))
sha = [w[1] for w in (l.split("#")[0].split() for l in open(skips_path).read().split("\n")) if len(w) >= 3 and w[0] == "sha"]
wrong = []
for case in cases:
    name = case.get("classname") + "." + case.get("name")
    cpu = any(fnmatch.fnmatchcase(name, p) for p in sha)
    if case.find("failure") is not None or case.find("error") is not None:
        wrong.append(name + " failed")
    elif case.get("result") != ("skipped" if cpu else "completed"):
        wrong.append("%s %s" % (name, "ran the extension code" if cpu else case.get("result")))
if wrong or not cases:
    fail(", ".join(wrong) or "no tests")
print("ci: test_hash with QMX_NO_CPU_SHA=1: %d tests passed, %d of the extension code skipped"
      % (sum(c.get("result") == "completed" for c in cases), sum(c.get("result") == "skipped" for c in cases)))
EOF
# (After the verdicts: a failing test may well leave its folder behind.)
[ -z "$left" ] || fail "the tests left in their temporary folder (TMPDIR): $(echo $left)"
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
# With a scratch HOME, where it opens its store: the runner's may be missing or unwritable, and
# is left as it was.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home "$plain/softmgr" version >/dev/null || fail "the Release build's program does not start: $plain/softmgr version (exit status $?, HOME=$home)"
rm -rf "$home"
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
