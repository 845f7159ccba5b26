#!/bin/sh
# Times our JBIG2 decoder against jbig2dec, whole process against whole process, both writing a
# PBM, on two pages made by the tests' plain encoder (generic region, template 0, TPGDON):
#   dense   2000x3000, strokes, blocks and noise on two row bands in three;
#   sparse  A4 at 300 dpi (2480x3508), a printed page: mostly white, lines of glyphs.
# Each page's two PBMs are compared once, then the runs are interleaved (bench/fairtime.py):
# median and minimum wall time, CPU time, peak memory, the ratios ours / jbig2dec, the machine's
# load, and one verdict line per page. OLD=path/to/jbig2decode adds an older build of our driver
# to the same runs. Not a test.
# Usage: bench/bench_jbig2.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
#   PAGES="dense sparse"   which pages
set -eu
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-11}
for tool in jbig2dec python3; do
    command -v $tool >/dev/null || { echo "bench_jbig2: $tool not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench_jbig2: /usr/bin/time not installed" >&2; exit 1; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target jbig2decode -j3 >/dev/null
WORK=$(mktemp -d /tmp/bench_jbig2.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
for kind in ${PAGES:-dense sparse}; do
    case $kind in
        dense) size="2000 3000" ;;
        sparse) size="2480 3508" ;;
        *) echo "bench_jbig2: unknown page $kind" >&2; exit 1 ;;
    esac
    PAGE=$WORK/$kind.jb2
    # shellcheck disable=SC2086
    "$BUILD/jbig2decode" --make "$PAGE" $size $([ "$kind" = sparse ] && echo sparse)
    "$BUILD/jbig2decode" "$PAGE" "$WORK/ours.pbm"
    jbig2dec -q -t pbm -o "$WORK/peer.pbm" "$PAGE"
    if cmp -s "$WORK/ours.pbm" "$WORK/peer.pbm"; then match="yes"; else match="NO: the PBMs differ"; fi
    if [ -n "${OLD:-}" ]; then
        "$OLD" "$PAGE" "$WORK/old.pbm"
        cmp -s "$WORK/old.pbm" "$WORK/peer.pbm" || match="$match (old: NO, its PBM differs)"
    fi
    echo "$kind page $(echo "$size" | tr ' ' x) ($(stat -c %s "$PAGE") bytes; target: time <= 1.0, memory within 2x):"
    set -- "jbig2dec=jbig2dec -q -t pbm -o $WORK/peer.pbm $PAGE" "ours=$BUILD/jbig2decode $PAGE $WORK/ours.pbm"
    [ -n "${OLD:-}" ] && set -- "$@" "old=$OLD $PAGE $WORK/old.pbm"
    FAIRTIME_CASE="$kind page" FAIRTIME_MATCH="$match" python3 "$ROOT/bench/fairtime.py" "$RUNS" "$@"
done
echo "machine load after: $(uptime)"
