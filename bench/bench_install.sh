#!/usr/bin/env bash
# Installing a package against /usr/bin/unzip of a zip of the same tree, whole process
# against whole process, each run into a fresh target (the target is removed before every
# run, untimed), runs interleaved through bench/fairtime.py: median and minimum wall time,
# CPU time, peak memory and the ratios ours / unzip, on every core and with both pinned to one
# CPU (unzip has one thread), the machine's load and one verdict line per case. Our side is
# build/pkginstall: the installer's checks and installation job without windows, every file
# flushed to the disk before it is moved into place (unzip flushes nothing). The targets are on
# tmpfs (/dev/shm) when it has room: a disk file system still cleaning up the previous round's
# deletions slows whoever comes next. Before the runs, one install and one unzip are compared
# with diff -r. Payloads (bench/make_inputs.py, generated under a private folder in /tmp, never
# committed): a 512 MiB mixed tree, one 2 GiB file and 20,000 small files.
#   bench/bench_install.sh [build-dir] [runs]   (build-dir default build-bench, configured
#                                               Release with QMX_BENCH; runs default 5)
#   PAYLOADS="mixed512 single2g small20k"       which payloads (mixedN: N MiB mixed, smallN:
#                                               N small files)
#   TARGET_FS=dir                               where the targets go (default /dev/shm when
#                                               it is tmpfs with room, else the work folder)
#   PIN_CPU=n                                   the CPU of the pinned runs (default the last)
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

# The work folder (unless kept) and a target folder on tmpfs go when the script ends.
t=""
keep=${PKGBENCH_WORK:-}
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    work=$(cd "$keep" && pwd)
else
    work=$(mktemp -d /tmp/bench-install.XXXXXX)
fi
cleanup() {
    case $t in /dev/shm/bench-install.*) rm -rf "$t" ;; esac
    [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT INT TERM
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
            small[0-9]*) python3 "$root/bench/make_inputs.py" small "$w/tree" "${p#small}" ;;
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
    # The targets: tmpfs when it holds three trees of this payload, else beside the inputs.
    need=$(( $(du -sk "$w/tree.zip" | cut -f1) * 3 ))
    tfs=${TARGET_FS:-}
    if [ -z "$tfs" ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
        [ "$(df -k --output=avail /dev/shm | tail -1)" -gt "$need" ]; then
        tfs=/dev/shm
    fi
    t=${tfs:+$(mktemp -d "$tfs/bench-install.XXXXXX")}
    t=${t:-$w/t}
    mkdir -p "$t"
    echo "== $p: $(du -sh "$w/tree.zip" | cut -f1) zip, $(du -sh "$w/Bench.app" | cut -f1) package, targets on $(stat -f -c %T "$t") ($t)"
    # Each command installs into a folder of its own, emptied (and its store removed)
    # before every run, untimed.
    data=$w/Bench.app/Contents/Resources/scenario.data
    prep="rm -rf $t/h $t/unz && mkdir -p $t/h $t/unz && sync"
    # One install and one unzip, compared.
    sh -c "$prep"
    /usr/bin/unzip -q "$w/tree.zip" -d "$t/unz"
    HOME=$t/h "$build/pkginstall" "$data" "$t/h/Applications/Bench" "$prog"
    if diff -r "$t/unz/tree" "$t/h/Applications/Bench" >"$t/diff.txt" 2>&1; then
        match="yes"
    else
        match="NO: diff -r: $(wc -l <"$t/diff.txt") lines, first: $(head -1 "$t/diff.txt")"
    fi
    rm -f "$t/diff.txt"
    pin=${PIN_CPU:-$(($(nproc) - 1))}
    for cpus in all one; do
        run=""
        [ $cpus = one ] && run="taskset -c $pin "
        set -- "unzip=${run}/usr/bin/unzip -q $w/tree.zip -d $t/unz"
        set -- "$@" "install=${run}env HOME=$t/h $build/pkginstall $data $t/h/Applications/Bench $prog"
        [ -n "$old" ] && set -- "$@" "before=${run}env HOME=$t/h $old/pkginstall $data $t/h/Applications/Bench $prog"
        where=$([ $cpus = one ] && echo "both on CPU $pin" || echo "every core")
        echo "-- $p, $where:"
        FAIRTIME_PREP="$prep" FAIRTIME_CASE="$p, $where" FAIRTIME_MATCH="$match" \
            python3 "$root/bench/fairtime.py" "$runs" "$@"
    done
    rm -rf "$t/h" "$t/unz"
    [ -n "$tfs" ] && rmdir "$t"
done
echo "machine load after: $(uptime)"
