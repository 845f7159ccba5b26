#!/usr/bin/env bash
# Installing a package against /usr/bin/unzip of a zip of the same tree, whole process
# against whole process, each run into a fresh target (the target is removed before every
# run, untimed), runs interleaved through bench/fairtime.py: median and minimum wall time,
# CPU time, peak memory and the ratios ours / unzip. Our side is build/pkginstall: the
# installer's checks and installation job without windows, every file flushed to the disk
# before it is moved into place (unzip flushes nothing). Payloads (bench/make_inputs.py,
# generated under a private folder in /tmp, never committed): a 512 MiB mixed tree, one
# 2 GiB file and 20,000 small files.
#   bench/bench_install.sh [build-dir] [runs]   (build-dir default build-bench, configured
#                                               Release with QMX_BENCH; runs default 5)
#   PAYLOADS="mixed512 single2g small20k"       which payloads (mixedN: N MiB mixed)
#   OLD=dir                                     also time OLD/pkginstall (an earlier tree's
#                                               build folder), for before/after
#   PKGBENCH_WORK=dir                           keep the inputs there and reuse them
set -euo pipefail
echo "machine load before: $(uptime)"
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-5}
payloads=${PAYLOADS:-mixed512 single2g small20k}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target softmgr_devbundle pkginstall -j3 >/dev/null
build=$(cd "$build" && pwd)
prog=$build/SoftManager.app/Contents/MacOS/softmgr
for f in /usr/bin/zip /usr/bin/unzip /usr/bin/python3 /usr/bin/time; do
    [ -x "$f" ] || { echo "$f not installed" >&2; exit 1; }
done
old=""
if [ -n "${OLD:-}" ]; then old=$(cd "$OLD" && pwd); fi

if [ -n "${PKGBENCH_WORK:-}" ]; then
    mkdir -p "$PKGBENCH_WORK"
    work=$(cd "$PKGBENCH_WORK" && pwd)
else
    work=$(mktemp -d /tmp/bench-install.XXXXXX)
    trap 'rm -rf "$work"' EXIT INT TERM
fi
printf 'ENG = "./eula_en.txt"\n' >"$work/eula.idx"
printf '<text>Licence text</text>\n' >"$work/eula_en.txt"

for p in $payloads; do
    w=$work/$p
    if [ ! -f "$w/tree.zip" ] || [ ! -f "$w/Bench.app/Contents/Resources/scenario.data" ]; then
        rm -rf "$w" && mkdir -p "$w/h"
        echo "generating $p ..."
        case $p in
            mixed*) python3 "$root/bench/make_inputs.py" mixed "$w/tree" "${p#mixed}" ;;
            single2g) python3 "$root/bench/make_inputs.py" single "$w/tree/big.bin" 2048 ;;
            small20k) python3 "$root/bench/make_inputs.py" small "$w/tree" 20000 ;;
            *) echo "unknown payload $p" >&2; exit 1 ;;
        esac
        cat >"$w/scenario.txt" <<TXT
[General]
langs = ENG
[Software]
codename = "bench.install"
name = "Bench"
version = "1.0"
eula = "$work/eula.idx"
[Install]
"$w/tree" = \$pgm ""
TXT
        (cd "$w" && HOME="$w/h" "$prog" make scenario.txt "$w/Bench.app" >/dev/null)
        (cd "$w" && /usr/bin/zip -q -r tree.zip tree)
        rm -rf "$w/tree"
    fi
    sync
    echo "== $p: $(du -sh "$w/tree.zip" | cut -f1) zip, $(du -sh "$w/Bench.app" | cut -f1) package"
    # Each command installs into a folder of its own, emptied (and its store removed)
    # before every run, untimed.
    data=$w/Bench.app/Contents/Resources/scenario.data
    set -- "unzip=/usr/bin/unzip -q $w/tree.zip -d $w/unz"
    set -- "$@" "install=env HOME=$w/h $build/pkginstall $data $w/h/Applications/Bench $prog"
    [ -n "$old" ] && set -- "$@" "before=env HOME=$w/h $old/pkginstall $data $w/h/Applications/Bench $prog"
    FAIRTIME_PREP="rm -rf $w/h/Applications $w/h/.qmx $w/h/.local $w/unz && mkdir -p $w/unz && sync" \
        python3 "$root/bench/fairtime.py" "$runs" "$@"
    rm -rf "$w/h/Applications" "$w/unz"
done
echo "machine load after: $(uptime)"
