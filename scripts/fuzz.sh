#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each one briefly.
# Runs are deterministic (fixed seed and run count) so that CI sees what a developer saw;
# the targets run side by side, one per processor, each bounded in time as well.
# Usage: scripts/fuzz.sh [runs per target]   (default 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20000}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
t=$SECONDS
took() { echo "time: $1 $((SECONDS - t)) s"; t=$SECONDS; }
ls "$root"/fuzz/*.cpp >/dev/null 2>&1 || { echo "fuzz: no targets"; exit 0; }
# Line tables only (-g1): a crash report keeps its files and lines; the build is faster.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQMX_FUZZ=ON -DQMX_TESTS=OFF -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" -- -j"$(nproc)" >"$build.log" 2>&1 || { tail -50 "$build.log"; exit 1; }
took "fuzz build"

# One target: its log in $build/<name>.log, its verdict in $build/<name>.result.
run_one() {
  local name=$1 root=$2 build=$3 runs=$4
  local corpus="$root/fuzz/corpus/$name"
  # -reload=0: the corpus folders are read once, not again on a timer, which made runs
  # of the same seed drift apart with the machine's speed. -max_total_time only caps a
  # target that a loaded machine slows down far beyond its usual few seconds.
  local args=(-seed=1 -runs="$runs" -max_len=65536 -timeout=60 -rss_limit_mb=2048 -reload=0 -max_total_time=600)
  # New inputs go to a scratch folder first, never into the committed corpus.
  local scratch
  scratch=$(mktemp -d)
  args+=("$scratch")
  if [ -d "$corpus" ]; then args+=("$corpus"); fi
  # Address-space randomisation off where the system allows it: UBSan's vptr cache and the
  # comparison tracing see pointer values, so the same seed reached other edges run after run.
  local fixed=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi
  if "${fixed[@]}" "$build/$name" "${args[@]}" >"$build/$name.log" 2>&1; then
    echo "ok" >"$build/$name.result"
  else
    echo "FAILED" >"$build/$name.result"
  fi
  rm -rf "$scratch"
}
export -f run_one

names=()
for src in "$root"/fuzz/*.cpp; do names+=("$(basename "$src" .cpp)"); done
rm -f "$build"/*.result
printf '%s\n' "${names[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$root" "$build" "$runs"
took "fuzz runs"

failed=0
for name in "${names[@]}"; do
  if [ "$(cat "$build/$name.result" 2>/dev/null)" = ok ]; then
    echo "fuzz: $name ok ($runs runs)"
  else
    echo "fuzz: $name FAILED"; tail -40 "$build/$name.log"; failed=1
  fi
done
exit $failed
