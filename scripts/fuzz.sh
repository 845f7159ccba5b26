#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each one briefly.
# Runs are deterministic (fixed seed and run count) so that CI sees what a developer saw.
# Usage: scripts/fuzz.sh [runs per target]   (default 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20000}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
ls "$root"/fuzz/*.cpp >/dev/null 2>&1 || { echo "fuzz: no targets"; exit 0; }
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQMX_FUZZ=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" -- -j"$(nproc)" >"$build.log" 2>&1 || { tail -50 "$build.log"; exit 1; }
failed=0
# Address-space randomisation off where the system allows it: UBSan's vptr cache and the
# comparison tracing see pointer values, so the same seed reached other edges run after run.
fixed=()
if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi
for src in "$root"/fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="$root/fuzz/corpus/$name"
  # -reload=0: the corpus folders are read once, not again on a timer, which made runs
  # of the same seed drift apart with the machine's speed.
  args=(-seed=1 -runs="$runs" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -reload=0)
  # New inputs go to a scratch folder first, never into the committed corpus.
  scratch=$(mktemp -d)
  args+=("$scratch")
  if [ -d "$corpus" ]; then args+=("$corpus"); fi
  if "${fixed[@]}" "$build/$name" "${args[@]}" >"$build/$name.log" 2>&1; then
    echo "fuzz: $name ok ($runs runs)"
  else
    echo "fuzz: $name FAILED"; tail -40 "$build/$name.log"; failed=1
  fi
  rm -rf "$scratch"
done
exit $failed
