#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each one briefly.
# Runs are repeatable: one process a target (no workers), a fixed seed and run count, the
# seeds handed over as one sorted list, names of one length, a fixed environment and
# address-space randomisation off; a build covers the same edges in every run, whoever
# starts it (but for a target whose code runs threads). A checkout at another path builds
# slightly other code (the compiler keeps file names), which covers a little more or less.
# The targets run side by side, one per processor, each bounded in time as well.
# A target passes only when the fuzzer itself reports every run asked for, each of its seeds
# alone reaches more code than no input, and so does its largest seed padded to the longest
# input a run makes (-max_len), that seed (of several KiB) whole reaches code its first 256 and
# 1024 bytes and its first half do not, and it covered at least its floor of code edges
# (fuzz/edges_floor.txt, measured at the run count written there, which is the least a run may
# ask for): a target that stopped reaching its parser, or a harness that drops an input, a long
# one included, or cuts it short, fails.
# fuzz/corpus/<name>/ holds a target's seeds (it must have some), fuzz/<name>.dict its
# dictionary (magic strings and keywords of its format).
# Usage: scripts/fuzz.sh [runs per target]   (default 20000; fewer than the floors' count fails)
# FUZZ_MAX_TIME caps one target's run in seconds (default 600); a capped run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20000}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
t=$SECONDS
took() { echo "time: $1 $((SECONDS - t)) s"; t=$SECONDS; }
maxtime=${FUZZ_MAX_TIME:-600}
# The longest input a run makes; the per-seed check also gives each target one this long.
maxlen=65536
# The shortest a target's longest seed may be: its first 256 and 1024 bytes and its first half
# must each reach less than it whole.
cutmin=4096
ls "$root"/fuzz/*.cpp >/dev/null 2>&1 || { echo "fuzz: FAILED: no targets in $root/fuzz"; exit 1; }
[ -f "$root/fuzz/edges_floor.txt" ] || { echo "fuzz: FAILED: no fuzz/edges_floor.txt (the targets' floors of edges)"; exit 1; }
names=()
for src in "$root"/fuzz/*.cpp; do names+=("$(basename "$src" .cpp)"); done
# The floors are read strictly, before any run: besides comments and blank lines, one "runs <n>"
# line and one "<target> <edges>" line for each target, nothing else. A second floor for a
# target could hide the one that holds, a floor that is not a number compares as none, and a
# floor for a target that is gone would be kept up for nothing.
bad=$(printf '%s\n' "${names[@]}" | awk '
  FILENAME == "-" { target[$1] = 1; next }
  /^[ \t]*(#|$)/ { next }
  { where = "fuzz/edges_floor.txt line " FNR " (" $0 ")" }
  NF != 2 || $2 !~ /^[0-9]+$/ { print where ": not \"<target> <edges>\" or \"runs <count>\" with a whole number"; failed = 1; exit }
  $1 == "runs" && seen_runs++ { print where ": a second runs line"; failed = 1; exit }
  $1 == "runs" { next }
  !($1 in target) { print where ": no target " $1 " (fuzz/" $1 ".cpp)"; failed = 1; exit }
  $1 in floor { print where ": a second floor for " $1 " (line " floor[$1] ")"; failed = 1; exit }
  { floor[$1] = FNR }
  END {
    if (failed) exit
    if (!seen_runs) { print "fuzz/edges_floor.txt has no \"runs <count>\" line"; failed = 1; exit }
    for (t in target) if (!(t in floor)) missing = missing " " t
    if (missing != "") print "fuzz/edges_floor.txt has no floor for" missing " (give each about three quarters of the lowest it reaches)"
  }' - "$root/fuzz/edges_floor.txt")
if [ -n "$bad" ]; then echo "fuzz: FAILED: $bad"; exit 1; fi
# A shorter run than the floors were measured at reaches less, so no floor could be compared:
# it fails rather than pass unchecked. (A longer one makes the shorter one's inputs first.)
[[ $runs =~ ^[0-9]+$ ]] || { echo "fuzz: FAILED: the run count \"$runs\" is not a whole number"; exit 1; }
floor_runs=$(awk '$1 == "runs" { print $2 }' "$root/fuzz/edges_floor.txt")
if [ "$runs" -lt "$floor_runs" ]; then
  echo "fuzz: FAILED: $runs runs a target, fewer than the $floor_runs its floors are measured at (fuzz/edges_floor.txt): no floor would be checked"
  exit 1
fi
# The caller's sanitizer options, then the ones that decide whether a fault fails the run
# (no AddressSanitizer defaults of the project's own here).
. "$root/scripts/sanitizer_env.sh" ""
. "$root/scripts/build_tmpdir.sh"
# Line tables only (-g1): a crash report keeps its files and lines; the build is faster.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQMX_FUZZ=ON -DQMX_TESTS=OFF -DQMX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" -- -j"$(nproc)" >"$build.log" 2>&1 || { tail -50 "$build.log"; exit 1; }
took "fuzz build"

# One target: its log in $build/<name>.log, its verdict line in $build/<name>.result.
run_one() {
  local name=$1 root=$2 build=$3 runs=$4 maxtime=$5 maxlen=$6 cutmin=$7
  local corpus="$root/fuzz/corpus/$name" dict="$root/fuzz/$name.dict" floors="$root/fuzz/edges_floor.txt"
  rm -f "$build/$name.log" "$build/$name"-crash-* "$build/$name"-timeout-* "$build/$name"-oom-*
  if [ ! -x "$build/$name" ]; then
    echo "FAILED: no build at $build/$name" >"$build/$name.result"
    return
  fi
  if [ ! -d "$corpus" ]; then
    echo "FAILED: no seed folder fuzz/corpus/$name (a target starts from its format's own files)" >"$build/$name.result"
    return
  fi
  local nseeds
  nseeds=$(find "$corpus" -type f | wc -l)
  if [ "$nseeds" -eq 0 ]; then
    echo "FAILED: no seeds in fuzz/corpus/$name" >"$build/$name.result"
    return
  fi
  # The run sees nothing that depends on where the build lies or on the caller: pointer
  # values steer a run (UBSan's vptr cache, the comparison tracing), and the stack's addresses
  # move with the length of the arguments and environment, the heap's with the length of the
  # names read. So every name it is given has one length (a scratch folder of a fixed pattern in
  # /tmp holds a link to the target, the seeds copied to numbered files, the dictionary, the
  # new inputs and any failing one), the environment is fixed, and address-space
  # randomisation is off where the system allows. The seeds go as one list in name order:
  # libFuzzer shuffles its inputs with its seeded generator, but from the order it is given,
  # and a folder's order is the file system's.
  local work i=0 f list="" status=0 fixed=()
  work=$(mktemp -d /tmp/qmxfuzzrun.XXXXXX)
  ln -s "$build/$name" "$work/target"
  mkdir "$work/seeds" "$work/new"
  while read -r f; do
    i=$((i + 1))
    cp "$f" "$work/seeds/$(printf %06d "$i")"
    list+="${list:+,}$work/seeds/$(printf %06d "$i")"
  done < <(find "$corpus" -type f | LC_ALL=C sort)
  # (Without a final newline, which libFuzzer would take as part of the last name.)
  printf %s "$list" >"$work/seeds.list"
  # -reload=0: the corpus folder is read once, not again on a timer, which made runs of the
  # same seed drift apart with the machine's speed. -max_total_time only caps a target that a
  # loaded machine slows down far beyond its usual few seconds; such a run falls short of
  # its count and fails. One process (-jobs=0): no workers that race each other.
  local args=(-seed=1 -runs="$runs" -max_len="$maxlen" -timeout=60 -rss_limit_mb=2048 -reload=0 -max_total_time="$maxtime")
  args+=(-jobs=0 -seed_inputs=@"$work/seeds.list" -artifact_prefix="$work/out-")
  if [ -f "$dict" ]; then
    cp "$dict" "$work/dict"
    args+=(-dict="$work/dict")
  fi
  # New inputs go to the scratch folder, never into the committed corpus.
  args+=("$work/new")
  if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi
  # Each seed alone must reach more code than an input of no content (without seeds libFuzzer
  # runs a newline): a harness that drops an input (too long, too short, of some kind) or a
  # seed that no longer reaches its reader would otherwise hide behind the others' reach.
  # A harness that cuts its input short reaches as far as before on the seeds shorter than its
  # cut: so the largest seed, of several KiB (cutmin), whole must reach code, or code as many
  # more times, that its first 256 bytes, its first 1024 and its first half do not, the rest of
  # each zeroed (libFuzzer's features: the edges and how often each ran). fuzz/make_seeds.py
  # gives each target such a seed, read to its end, whose last part takes paths its beginning
  # does not. (A harness that cuts at 1024 bytes may fail at 256 already: a reader that checks a
  # size before reading on reaches as far on 1024 bytes as on 256.) A cut may leave a seed that
  # reaches no more code than no input (a stream's first bytes, a text without its last line
  # end): so a seed of 256 bytes or more that reaches no further is judged after this
  # comparison, and a seed that reaches no more than no input whole, but more cut short (without
  # the zeros), tells a harness that drops it from one that cuts it.
  # The seeds are short, and a harness that passes over long inputs reaches as far as before on
  # them: so must the largest seed padded to -max_len, as long as an input of the run may grow.
  # Padded with newlines, which a text reader takes as blank lines and a picture decoder as
  # bytes past its end or more data (zeros would end a text at once). (Only here: fuzzing from
  # a seed that long would slow the run down many times.)
  local bare seed_cov dropped="" unread="" largest size cut same whole gain tries
  # seed_cov <cov:|ft:> <libFuzzer arguments>: that figure of the inputs given, run once each.
  seed_cov() {
    local figure=$1
    shift
    rm -rf "$work/probe" && mkdir "$work/probe"
    (cd "$work" && env -i PATH=/usr/bin:/bin ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="$LSAN_OPTIONS" \
      UBSAN_OPTIONS="$UBSAN_OPTIONS" "${fixed[@]}" "$work/target" -runs=0 -max_len="$maxlen" -timeout=60 \
      -rss_limit_mb=2048 "$@" "$work/probe") 2>&1 |
      awk -v f="$figure" '/INITED/ { for (i = 1; i < NF; i++) if ($i == f) c = $(i + 1) } END { print c + 0 }'
  }
  bare=$(seed_cov cov:)
  # Shortest first (each with the number of its copy): the first seed that reaches no further
  # is the shortest such.
  local bysize n
  bysize=$(i=0; find "$corpus" -type f | LC_ALL=C sort | while read -r f; do
    i=$((i + 1))
    echo "$(stat -c %s "$f") $i $f"
  done | LC_ALL=C sort -k1,1n -k2,2n)
  while read -r n i f; do
    if [ "$(seed_cov cov: -seed_inputs="$work/seeds/$(printf %06d "$i")")" -le "$bare" ]; then
      unread="its seed ${f#"$root/"} ($n bytes) reaches no more code than no input ($bare edges): the harness drops it, or it no longer reaches its reader"
      if [ "$n" -lt 256 ]; then dropped=$unread; fi
      break
    fi
  done <<<"$bysize"
  largest=$(find "$corpus" -type f -printf '%s %p\n' | LC_ALL=C sort -k1,1nr -k2 | awk 'NR == 1 { print substr($0, index($0, " ") + 1) }')
  size=$(stat -c %s "$largest")
  cp "$largest" "$work/whole"
  if [ -z "$dropped" ] && [ "$size" -lt "$cutmin" ]; then
    dropped="its longest seed ${largest#"$root/"} has $size bytes, under $cutmin: a harness that cuts its input at 1024 bytes would pass unseen (give it a seed of several KiB read to its end, fuzz/make_seeds.py)"
  fi
  for cut in 256 1024 $((size / 2)); do
    [ -z "$dropped" ] || break
    # The cut keeps the seed's length, its bytes past the cut zeroed: a harness's own test of
    # the size (its "if (size > 256) size = 256") goes the same way for both.
    { head -c "$cut" "$largest"; head -c $((size - cut)) /dev/zero; } >"$work/cutw"
    # The cut twice against the cut and the whole: a second run of a harness takes paths of
    # its own (what its first run set up), which the whole must not be credited with. A gain of
    # a tenth of the cut's features or less must hold twice more: a target whose work runs on a
    # thread of its own (fuzz_scenario_data's digest) reaches a few features more or less from
    # one run to the next, the more so on a busy machine.
    cp "$work/cutw" "$work/cutx"
    tries=1
    while :; do
      same=$(seed_cov ft: -seed_inputs="$work/cutw,$work/cutx")
      gain=$(($(seed_cov ft: -seed_inputs="$work/cutw,$work/whole") - same))
      [ "$gain" -gt 0 ] && [ $((gain * 10)) -le "$same" ] && [ "$tries" -lt 3 ] || break
      tries=$((tries + 1))
    done
    [ "$gain" -gt 0 ] && continue
    head -c "$cut" "$largest" >"$work/part"
    whole=$(seed_cov cov: -seed_inputs="$work/whole")
    if [ "$whole" -le "$bare" ] && [ "$whole" -lt "$(seed_cov cov: -seed_inputs="$work/part")" ]; then
      dropped="its longest seed ${largest#"$root/"} ($size bytes) reaches no more code than no input ($bare edges), its first $cut bytes alone more: the harness drops inputs that long"
    else
      dropped="its longest seed ${largest#"$root/"} ($size bytes) reaches no code beyond its first $cut bytes (the rest zeroed: $same features either way): does the harness cut its input short? Or that seed's end is never read"
    fi
  done
  [ -n "$dropped" ] || dropped=$unread
  if [ -z "$dropped" ] && [ "$size" -lt "$maxlen" ]; then
    { cat "$largest"; head -c $((maxlen - size)) /dev/zero | tr '\0' '\n'; } >"$work/padded"
    if [ "$(seed_cov cov: -seed_inputs="$work/padded")" -le "$bare" ]; then
      dropped="its seed ${largest#"$root/"} padded with newlines to $maxlen bytes (-max_len) reaches no more code than no input ($bare edges): the harness drops it, or it no longer reaches its reader"
    fi
  fi
  if [ -n "$dropped" ]; then
    rm -rf "$work"
    echo "FAILED: $dropped" >"$build/$name.result"
    return
  fi
  (cd "$work" && env -i PATH=/usr/bin:/bin ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="$LSAN_OPTIONS" \
    UBSAN_OPTIONS="$UBSAN_OPTIONS" "${fixed[@]}" "$work/target" "${args[@]}") >"$build/$name.log" 2>&1 || status=$?
  # A failing input is kept beside the target's log.
  for f in "$work"/out-*; do
    if [ -e "$f" ]; then mv "$f" "$build/$name-${f#"$work/out-"}"; fi
  done
  rm -rf "$work"
  # The count comes from the fuzzer's own closing line, "Done <runs> runs in <s> second(s)";
  # the edges from its last stats line ("#<n> DONE cov: <edges> ft: ...").
  local done_runs secs cov floor read_seeds
  # libFuzzer passes over a seed it cannot open without failing: "INFO: seed corpus: files: <n> ..."
  read_seeds=$(awk '/^INFO: seed corpus: files: [0-9]+/ { print $5; exit }' "$build/$name.log")
  read -r done_runs secs < <(awk '/^Done [0-9]+ runs in [0-9]+ second/ { r = $2; s = $5 } END { print r, s }' "$build/$name.log")
  cov=$(awk '/^#[0-9]+.* cov: [0-9]+/ { for (i = 1; i < NF; i++) if ($i == "cov:") c = $(i + 1) } END { print c }' "$build/$name.log")
  floor=$(awk -v n="$name" '$1 == n { print $2 }' "$floors")
  if [ "$status" -ne 0 ]; then
    local why
    why=$(awk '/ERROR: |SUMMARY: |runtime error: / { sub(/^==[0-9]+== ?/, ""); print; exit }' "$build/$name.log")
    echo "FAILED: exit status $status${why:+: $why}" >"$build/$name.result"
  elif [ -z "$done_runs" ]; then
    echo "FAILED: no run count in its output (no \"Done <runs> runs\" line)" >"$build/$name.result"
  elif [ "$done_runs" -lt "$runs" ]; then
    local cause="in $secs s"
    if [ "$secs" -ge "$maxtime" ]; then cause="in $secs s: stopped by the time cap (-max_total_time=$maxtime)"; fi
    echo "FAILED: only $done_runs of $runs runs $cause" >"$build/$name.result"
  elif [ "${read_seeds:-0}" -ne "$nseeds" ]; then
    echo "FAILED: the fuzzer read ${read_seeds:-0} of the $nseeds seeds in fuzz/corpus/$name" >"$build/$name.result"
  elif [ -z "$cov" ]; then
    echo "FAILED: no edge count in its output (no \"cov: <edges>\" line)" >"$build/$name.result"
  elif [ -z "$floor" ]; then
    echo "FAILED: no floor in fuzz/edges_floor.txt (it reached $cov edges in $runs runs)" >"$build/$name.result"
  elif [ "$cov" -lt "$floor" ]; then
    echo "FAILED: $cov edges, below its floor of $floor (fuzz/edges_floor.txt): it no longer reaches its parser" >"$build/$name.result"
  else
    echo "ok ($done_runs runs, $cov edges, floor $floor, $secs s)" >"$build/$name.result"
  fi
}
export -f run_one

# Longest first, by the last run's time where there is one: a slow target that starts last
# keeps the run going long after the other processors have gone idle.
order=$(for name in "${names[@]}"; do
  secs=0
  if [ -f "$build/$name.log" ]; then
    secs=$(awk '/^Done [0-9]+ runs in [0-9]+/ { s = $5 } END { print s + 0 }' "$build/$name.log")
  fi
  echo "$secs $name"
done | sort -k1,1nr -k2,2 | awk '{print $2}')
rm -f "$build"/*.result
# Without it the stack's and heap's addresses, which steer the fuzzer, change from run to run.
setarch "$(uname -m)" -R true 2>/dev/null ||
  echo "note: address-space randomisation cannot be turned off here (setarch -R): the edges covered vary from run to run by a few percent"
echo "$order" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$root" "$build" "$runs" "$maxtime" "$maxlen" "$cutmin"
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
