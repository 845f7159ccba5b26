#!/bin/sh
# Times our JBIG2 decoder against jbig2dec on a 2000x3000 text-like page (generic region,
# template 0, TPGDON), whole process against whole process, both writing a PBM; checks once
# that the two PBMs are identical, then runs them interleaved (bench/fairtime.py): median and
# minimum wall time, CPU time, peak memory, the ratios ours / jbig2dec and the machine's load.
# OLD=path/to/jbig2decode adds an older build of our driver to the same runs. Not a test.
# Usage: bench/bench_jbig2.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
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
PAGE=$WORK/page.jb2
"$BUILD/jbig2decode" --make "$PAGE" 2000 3000
"$BUILD/jbig2decode" "$PAGE" "$WORK/ours.pbm"
jbig2dec -q -t pbm -o "$WORK/peer.pbm" "$PAGE"
if cmp -s "$WORK/ours.pbm" "$WORK/peer.pbm"; then same="identical to jbig2dec's"; else same="DIFFERS from jbig2dec's"; fi
echo "2000x3000 page ($(stat -c %s "$PAGE") bytes; our PBM $same; target: time <= 1.0, memory within 2x):"
set -- "jbig2dec=jbig2dec -q -t pbm -o $WORK/peer.pbm $PAGE" "ours=$BUILD/jbig2decode $PAGE $WORK/ours.pbm"
[ -n "${OLD:-}" ] && set -- "$@" "old=$OLD $PAGE $WORK/old.pbm"
python3 "$ROOT/bench/fairtime.py" "$RUNS" "$@"
