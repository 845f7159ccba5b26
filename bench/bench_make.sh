#!/usr/bin/env bash
# "make" and loading a package, whole process against whole process, each with its peak
# memory (/usr/bin/time -v's maximum resident set), on three payloads generated under a
# private folder in /tmp (never committed): a 200 MB mixed tree, one 2 GiB file and
# 20,000 small files.
#   make, all usable cores      against  tar | pigz -9 -p N   (N = the same cores)
#   make, pinned to one CPU     against  zip -9 -r            (pinned to the same CPU)
#   load and test every item    against  unzip -t             (load only: memory of loading)
# Runs are interleaved; each figure is the median and the minimum of RUNS runs, and the
# ratio is ours / peer of the medians. Peers are called by full path. Not a test.
#   bench/bench_make.sh [build-dir] [runs]
#   PAYLOADS="mixed200 single2g small20k"  which payloads (default these three; mixedN: N MiB mixed)
#   ONECPU="mixed200 small20k"             payloads that also get the one-CPU pair (slow on 2 GiB)
#   OLD=build-dir-of-an-earlier-tree       also time that tree's make and load, for before/after
#   GZIPSIZE=1                             also compare the data file's size with tar | gzip -9
set -euo pipefail
# The machine's load beside the figures: figures from a busy machine are noisier.
echo "machine load before: $(uptime)"
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
runs=${2:-3}
payloads=${PAYLOADS:-mixed200 single2g small20k}
onecpu=${ONECPU:-mixed200 small20k}
prog=$build/SoftManager.app/Contents/MacOS/softmgr
load=$build/pkgload
for f in "$prog" "$load" /usr/bin/pigz /usr/bin/zip /usr/bin/unzip /usr/bin/time /usr/bin/taskset /usr/bin/tar; do
  [ -x "$f" ] || { echo "missing $f (build softmgr_devbundle and pkgload with -DQMX_BENCH=ON; scripts/setup.sh)" >&2; exit 1; }
done
old=""
if [ -n "${OLD:-}" ]; then old=$(cd "$OLD" && pwd); fi
cores=$(nproc)
cpu0=$(/usr/bin/taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')

work=$(mktemp -d /tmp/bench-make.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
export HOME=$work/home
mkdir -p "$HOME"
results=$work/results.txt
: >"$results"

# measure NAME CMD...: one run; appends "NAME seconds kbytes" to the results.
measure() {
  local name=$1
  shift
  if ! /usr/bin/time -f "%e %M" -o "$work/t" "$@" >"$work/out.txt" 2>"$work/err"; then
    echo "$name failed:" >&2; tail -n 3 "$work/out.txt" "$work/err" >&2 || true
    # The earlier tree may refuse what this one packs (empty files): noted, not fatal.
    [[ $name == *before* ]] && return 0
    exit 1
  fi
  echo "$name $(cat "$work/t")" >>"$results"
}

scenario() {  # scenario FILE SOURCE: installs SOURCE (a folder or a file) under the install folder
  printf 'ENG = "./eula_en.txt"\n' >"$work/eula.idx"
  printf '<text>Licence</text>\n' >"$work/eula_en.txt"
  cat >"$1" <<TXT
[General]
langs = ENG
[Software]
codename = "bench.make"
name = "Bench"
version = "1.0"
eula = "$work/eula.idx"
[Install]
"$2" = \$pgm "payload"
TXT
}

for p in $payloads; do
  src=$work/in/$p
  case $p in
    mixed*) python3 "$root/bench/make_inputs.py" mixed "$src" "${p#mixed}" ;;
    single2g) python3 "$root/bench/make_inputs.py" single "$src/big.bin" 2048 ;;
    small20k) python3 "$root/bench/make_inputs.py" small "$src" 20000 ;;
    *) echo "unknown payload $p" >&2; exit 1 ;;
  esac
  scenario "$work/$p.txt" "$src"
  sync
  for r in $(seq "$runs"); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    measure "$p make_${cores}cpu" "$prog" make "$work/$p.txt" "$work/out/ours.app"
    measure "$p pigz-9_p$cores" /bin/sh -c "/usr/bin/tar cf - -C '$work/in' '$p' | /usr/bin/pigz -9 -p $cores >'$work/out/tree.tar.gz'"
    [ -n "$old" ] && measure "$p before_make_${cores}cpu" "$old/SoftManager.app/Contents/MacOS/softmgr" make "$work/$p.txt" "$work/out/old.app"
    if [[ " $onecpu " == *" $p "* ]]; then
      measure "$p make_1cpu" /usr/bin/taskset -c "$cpu0" "$prog" make "$work/$p.txt" "$work/out/one.app"
      measure "$p zip-9_1cpu" /usr/bin/taskset -c "$cpu0" /bin/sh -c "cd '$work/in' && /usr/bin/zip -9 -r -q '$work/out/tree.zip' '$p'"
    else
      (cd "$work/in" && /usr/bin/zip -1 -r -q "$work/out/tree.zip" "$p")  # for unzip -t only
    fi
    data=$work/out/ours.app/Contents/Resources/scenario.data
    measure "$p load" "$load" "$data"
    measure "$p load+test" "$load" "$data" verify
    measure "$p unzip-t" /usr/bin/unzip -t -qq "$work/out/tree.zip"
    if [ -n "$old" ]; then
      measure "$p before_load" "$old/pkgload" "$data"
      measure "$p before_load+test" "$old/pkgload" "$data" verify
    fi
    if [ "$r" = 1 ]; then
      ds=$(stat -c %s "$data"); gs=$(stat -c %s "$work/out/tree.tar.gz")
      echo "$p sizes: scenario.data $ds, tar | pigz -9 $gs, ratio $(python3 -c "print('%.4f' % ($ds / $gs))")" >>"$work/sizes"
      if [ -n "${GZIPSIZE:-}" ]; then
        zs=$(/usr/bin/tar cf - -C "$work/in" "$p" | /usr/bin/gzip -9 | wc -c)
        echo "$p sizes: tar | gzip -9 $zs, scenario.data / gzip -9 $(python3 -c "print('%.4f' % ($ds / $zs))")" >>"$work/sizes"
      fi
    fi
  done
  rm -rf "$src" "$work/out"
done

cat "$work/sizes"
python3 - "$results" "$cores" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    p, name, sec, kb = line.split()
    rows.setdefault(p, {}).setdefault(name, []).append((float(sec), int(kb)))
cores = sys.argv[2]
pairs = [("make_%scpu" % cores, "pigz-9_p%s" % cores), ("make_1cpu", "zip-9_1cpu"), ("load+test", "unzip-t"),
         ("load", None), ("before_make_%scpu" % cores, None), ("before_load", None), ("before_load+test", None)]
print("%-9s %-22s %9s %9s %10s   %-14s %9s %9s %10s %7s %7s %7s" % (
    "payload", "ours", "median s", "min s", "peak MiB", "peer", "median s", "min s", "peak MiB", "time", "(min)", "memory"))
for p, named in rows.items():
    med = lambda n: statistics.median(s for s, _ in named[n])
    mins = lambda n: min(s for s, _ in named[n])
    mem = lambda n: max(k for _, k in named[n]) / 1024
    for ours, peer in pairs:
        if ours not in named:
            continue
        line = "%-9s %-22s %9.2f %9.2f %10.1f" % (p, ours, med(ours), mins(ours), mem(ours))
        if peer and peer in named:
            line += "   %-14s %9.2f %9.2f %10.1f %7.2f %7.2f %7.1f" % (
                peer, med(peer), mins(peer), mem(peer), med(ours) / med(peer), mins(ours) / mins(peer),
                mem(ours) / mem(peer))
        print(line)
PY
echo "machine load after: $(uptime)"
