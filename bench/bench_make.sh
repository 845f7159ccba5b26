#!/usr/bin/env bash
# "make" against its peers, whole process against whole process, interleaved through
# bench/fairtime.py (median and minimum wall time, CPU time, peak memory, ratios, the
# machine's load), on payloads generated under a private folder in /tmp (never committed):
# a 512 MiB mixed tree, one 2 GiB file and 20,000 small files.
#   make, all usable cores      against  tar | pigz -9 -p N   (N = the same cores)
#   make, pinned to one CPU     against  zip -9 -r            (pinned to the same CPU)
#   load and test every item    against  unzip -t             (LOAD=1)
# Before the runs each payload is made once and checked with `pkgload verify`; the sizes
# of our data file, tar | pigz -9 and zip -9 are printed beside. Every command removes its
# output first, in a shell of its own, so both sides pay the same. Not a test.
#   bench/bench_make.sh [build-dir] [runs]
#   PAYLOADS="mixed512 single2g small20k"  which payloads (mixedN: N MiB mixed; singleN: one N MiB file)
#   ONECPU="mixed512 single2g small20k"    payloads that also get the one-CPU pair (default: all)
#   OLD=build-dir-of-an-earlier-tree       also time that tree's make, for before/after
#   GZIPSIZE=1                             also print the size of tar | gzip -9
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
runs=${2:-5}
payloads=${PAYLOADS:-mixed512 single2g small20k}
onecpu=${ONECPU:-$payloads}
prog=$build/SoftManager.app/Contents/MacOS/softmgr
load=$build/pkgload
for f in "$prog" "$load" /usr/bin/pigz /usr/bin/zip /usr/bin/unzip /usr/bin/time /usr/bin/taskset /usr/bin/tar; do
  [ -x "$f" ] || { echo "missing $f (build softmgr_devbundle and pkgload with -DQMX_BENCH=ON; scripts/setup.sh)" >&2; exit 1; }
done
old=""
if [ -n "${OLD:-}" ]; then old=$(cd "$OLD" && pwd)/SoftManager.app/Contents/MacOS/softmgr; fi
cores=$(nproc)
cpu0=$(/usr/bin/taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')

work=$(mktemp -d /tmp/bench-make.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
export HOME=$work/home
mkdir -p "$HOME" "$work/out"
printf 'ENG = "./eula_en.txt"\n' >"$work/eula.idx"
printf '<text>Licence</text>\n' >"$work/eula_en.txt"

scenario() {  # scenario FILE SOURCE: installs SOURCE (a folder or a file) under the install folder
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

verify() {  # verify DATAFILE: the loader reads and tests every item, or the run stops
  "$load" "$1" verify >"$work/verify.txt" 2>&1 || { echo "pkgload verify refused $1:" >&2; tail -n 3 "$work/verify.txt" >&2; exit 1; }
}

for p in $payloads; do
  src=$work/in/$p
  case $p in
    mixed*) python3 "$root/bench/make_inputs.py" mixed "$src" "${p#mixed}" ;;
    single*) mib=${p#single}; mib=${mib%g}; [[ $p == *g ]] && mib=$((mib * 1024))
             python3 "$root/bench/make_inputs.py" single "$src/big.bin" "$mib" ;;
    small*) n=${p#small}; n=${n%k}; [[ $p == *k ]] && n=$((n * 1000))
            python3 "$root/bench/make_inputs.py" small "$src" "$n" ;;
    *) echo "unknown payload $p" >&2; exit 1 ;;
  esac
  sc=$work/$p.txt
  scenario "$sc" "$src"
  sync
  out=$work/out
  data=$out/ours.app/Contents/Resources/scenario.data
  "$prog" make "$sc" "$out/ours.app" >/dev/null
  verify "$data"
  ds=$(stat -c %s "$data")
  gs=$(/usr/bin/tar cf - -C "$work/in" "$p" | /usr/bin/pigz -9 -p "$cores" | wc -c)
  (cd "$work/in" && /usr/bin/zip -9 -r -q "$out/tree.zip" "$p")
  zs=$(stat -c %s "$out/tree.zip")
  echo "== $p ($(du -sh "$src" | cut -f1), $(find "$src" -type f | wc -l) files): scenario.data $ds (verified), tar | pigz -9 $gs," \
       "zip -9 $zs; ours / pigz $(python3 -c "print('%.4f' % ($ds / $gs))"), ours / zip $(python3 -c "print('%.4f' % ($ds / $zs))")"
  if [ -n "${GZIPSIZE:-}" ]; then
    gz=$(/usr/bin/tar cf - -C "$work/in" "$p" | /usr/bin/gzip -9 | wc -c)
    echo "   tar | gzip -9 $gz, ours / gzip -9 $(python3 -c "print('%.4f' % ($ds / $gz))")"
  fi

  echo "-- $p, $cores threads: make against tar | pigz -9 -p $cores"
  set -- "pigz-9_p$cores=sh -c \"rm -f '$out/tree.tgz' && /usr/bin/tar cf - -C '$work/in' '$p' | /usr/bin/pigz -9 -p $cores >'$out/tree.tgz'\"" \
         "make_${cores}cpu=sh -c \"rm -rf '$out/ours.app' && '$prog' make '$sc' '$out/ours.app'\""
  [ -n "$old" ] && set -- "$@" "before_${cores}cpu=sh -c \"rm -rf '$out/old.app' && '$old' make '$sc' '$out/old.app'\""
  python3 "$root/bench/fairtime.py" "$runs" "$@"
  verify "$data"
  [ -n "$old" ] && rm -rf "$out/old.app"

  if [[ " $onecpu " == *" $p "* ]]; then
    echo "-- $p, one CPU ($cpu0): make against zip -9 -r"
    set -- "zip-9_1cpu=/usr/bin/taskset -c $cpu0 sh -c \"rm -f '$out/tree.zip' && cd '$work/in' && /usr/bin/zip -9 -r -q '$out/tree.zip' '$p'\"" \
           "make_1cpu=/usr/bin/taskset -c $cpu0 sh -c \"rm -rf '$out/one.app' && '$prog' make '$sc' '$out/one.app'\""
    [ -n "$old" ] && set -- "$@" "before_1cpu=/usr/bin/taskset -c $cpu0 sh -c \"rm -rf '$out/old.app' && '$old' make '$sc' '$out/old.app'\""
    python3 "$root/bench/fairtime.py" "$runs" "$@"
    verify "$out/one.app/Contents/Resources/scenario.data"
  fi

  if [ -n "${LOAD:-}" ]; then
    echo "-- $p: loading and testing every item against unzip -t"
    python3 "$root/bench/fairtime.py" "$runs" "unzip-t=/usr/bin/unzip -t -qq $out/tree.zip" "load+test=$load $data verify"
  fi
  rm -rf "$src" "$out"
  mkdir -p "$out"
done
