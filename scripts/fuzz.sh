#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each one briefly.
# Runs are deterministic (fixed seed and run count) so that CI sees what a developer saw;
# the targets run side by side, one per processor, each bounded in time as well.
# A target passes only when the fuzzer itself reports every run asked for; each verdict
# carries the code edges the target covered. fuzz/corpus/<name>/ holds a target's seeds,
# fuzz/<name>.dict its dictionary (magic strings and keywords of its format).
# Usage: scripts/fuzz.sh [runs per target]   (default 20000)
# FUZZ_MAX_TIME caps one target's run in seconds (default 600); a capped run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20000}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
t=$SECONDS
took() { echo "time: $1 $((SECONDS - t)) s"; t=$SECONDS; }
maxtime=${FUZZ_MAX_TIME:-600}
ls "$root"/fuzz/*.cpp >/dev/null 2>&1 || { echo "fuzz: FAILED: no targets in $root/fuzz"; exit 1; }
# Line tables only (-g1): a crash report keeps its files and lines; the build is faster.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQMX_FUZZ=ON -DQMX_TESTS=OFF -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" -- -j"$(nproc)" >"$build.log" 2>&1 || { tail -50 "$build.log"; exit 1; }
took "fuzz build"

# One target: its log in $build/<name>.log, its verdict line in $build/<name>.result.
run_one() {
  local name=$1 root=$2 build=$3 runs=$4 maxtime=$5
  local corpus="$root/fuzz/corpus/$name" dict="$root/fuzz/$name.dict"
  rm -f "$build/$name.log" "$build/$name"-crash-* "$build/$name"-timeout-* "$build/$name"-oom-*
  if [ ! -x "$build/$name" ]; then
    echo "FAILED: no build at $build/$name" >"$build/$name.result"
    return
  fi
  # -reload=0: the corpus folders are read once, not again on a timer, which made runs
  # of the same seed drift apart with the machine's speed. -max_total_time only caps a
  # target that a loaded machine slows down far beyond its usual few seconds; such a run
  # falls short of its count and fails.
  local args=(-seed=1 -runs="$runs" -max_len=65536 -timeout=60 -rss_limit_mb=2048 -reload=0 -max_total_time="$maxtime")
  # A failing input is kept beside the target's log, not in the working folder.
  args+=(-artifact_prefix="$build/$name-")
  if [ -f "$dict" ]; then args+=(-dict="$dict"); fi
  # New inputs go to a scratch folder first, never into the committed corpus.
  local scratch
  scratch=$(mktemp -d)
  args+=("$scratch")
  if [ -d "$corpus" ]; then args+=("$corpus"); fi
  # Address-space randomisation off where the system allows it: UBSan's vptr cache and the
  # comparison tracing see pointer values, so the same seed reached other edges run after run.
  local fixed=() status=0
  if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi
  "${fixed[@]}" "$build/$name" "${args[@]}" >"$build/$name.log" 2>&1 || status=$?
  rm -rf "$scratch"
  # The count comes from the fuzzer's own closing line, "Done <runs> runs in <s> second(s)";
  # the edges from its last stats line ("#<n> DONE cov: <edges> ft: ...").
  local closing done_runs secs cov
  closing=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$build/$name.log" | tail -1 || true)
  done_runs=$(awk '{print $2}' <<<"$closing")
  secs=$(awk '{print $5}' <<<"$closing")
  cov=$(grep -oE '^#[0-9]+.* cov: [0-9]+' "$build/$name.log" | tail -1 | awk '{print $NF}' || true)
  if [ "$status" -ne 0 ]; then
    local why
    why=$(grep -m1 -E 'ERROR: |SUMMARY: |runtime error: ' "$build/$name.log" | sed -E 's/^==[0-9]+== ?//' || true)
    echo "FAILED: exit status $status${why:+: $why}" >"$build/$name.result"
  elif [ -z "$closing" ]; then
    echo "FAILED: no run count in its output (no \"Done <runs> runs\" line)" >"$build/$name.result"
  elif [ "$done_runs" -lt "$runs" ]; then
    local cause="in $secs s"
    if [ "$secs" -ge "$maxtime" ]; then cause="in $secs s: stopped by the time cap (-max_total_time=$maxtime)"; fi
    echo "FAILED: only $done_runs of $runs runs $cause" >"$build/$name.result"
  else
    echo "ok ($done_runs runs, ${cov:-?} edges, $secs s)" >"$build/$name.result"
  fi
}
export -f run_one

names=()
for src in "$root"/fuzz/*.cpp; do names+=("$(basename "$src" .cpp)"); done
# Longest first, by the last run's time where there is one: a slow target that starts last
# keeps the run going long after the other processors have gone idle.
order=$(for name in "${names[@]}"; do
  secs=$(grep -hoE '^Done [0-9]+ runs in [0-9]+' "$build/$name.log" 2>/dev/null | tail -1 | awk '{print $5}' || true)
  echo "${secs:-0} $name"
done | sort -k1,1nr -k2,2 | awk '{print $2}')
rm -f "$build"/*.result
echo "$order" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$root" "$build" "$runs" "$maxtime"
took "fuzz runs"

failed=0
for name in "${names[@]}"; do
  verdict=$(cat "$build/$name.result" 2>/dev/null || echo "FAILED: no verdict (the run did not finish)")
  echo "fuzz: $name $verdict"
  case $verdict in ok*) ;; *) failed=1 ;; esac
done
# Logs of the failures after the verdicts, so that the verdict lines stay together.
for name in "${names[@]}"; do
  case $(cat "$build/$name.result" 2>/dev/null) in
    ok*) ;;
    *) if [ -f "$build/$name.log" ]; then echo "--- $name: last lines of $build/$name.log"; tail -40 "$build/$name.log"; fi ;;
  esac
done
exit $failed
