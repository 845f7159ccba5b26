#!/bin/sh
# Whole-process JPEG 2000 decode: our driver (build/jp2decode) against opj_decompress on a
# 12 MP picture (4000x3000 RGB), lossless 5/3 and 9/7, on one thread and on every core, both
# writing a PNM; our driver twice: the bare codestream decoder, and the picture factory with the
# 8-bit pixel rows the program shows (the peak memory that matters to the program). Runs
# interleaved through bench/fairtime.py (median and minimum wall time, CPU time, peak memory,
# ratios ours / peer, the machine's load) and one verdict line per case; the outputs are checked
# once against the peer's samples (and the lossless one against the source).
# OLD=path/to/jp2decode adds an older build of our driver (both ways) to the same runs. Not a test.
# Usage: bench/bench_jpeg2000.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-7}
for tool in opj_compress opj_decompress convert python3; do
    command -v $tool >/dev/null || { echo "bench_jpeg2000: $tool not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench_jpeg2000: /usr/bin/time not installed" >&2; exit 1; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target jp2decode -j3 >/dev/null
WORK=$(mktemp -d /tmp/bench_jpeg2000.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 +noise Gaussian -attenuate 0.3 -depth 8 "$WORK/src.ppm"
opj_compress -i "$WORK/src.ppm" -o "$WORK/lossless.j2k" >/dev/null
opj_compress -i "$WORK/src.ppm" -o "$WORK/irrev.j2k" -I -r 10 >/dev/null
# The samples are the last 4000 * 3000 * 3 bytes of each PPM (the peer writes a comment into
# its header).
SAMPLES=36000000
samples_equal() { cmp -s "$1" "$2" 2>/dev/null || [ "$(tail -c $SAMPLES "$1" | md5sum)" = "$(tail -c $SAMPLES "$2" | md5sum)" ]; }
NCPU=$(nproc)

for kind in lossless irrev; do
    f="$WORK/$kind.j2k"
    opj_decompress -i "$f" -o "$WORK/peer.ppm" >/dev/null
    "$BUILD/jp2decode" "$f" "$WORK/ours.ppm" 0
    "$BUILD/jp2decode" --picture "$f" "$WORK/pict.ppm" 0
    raw="yes" pict="yes"
    samples_equal "$WORK/ours.ppm" "$WORK/peer.ppm" || raw="NO: the samples differ from opj_decompress's"
    samples_equal "$WORK/pict.ppm" "$WORK/peer.ppm" || pict="NO: the samples differ from opj_decompress's"
    if [ $kind = lossless ]; then
        samples_equal "$WORK/ours.ppm" "$WORK/src.ppm" || raw="$raw; NO: differs from the source"
        samples_equal "$WORK/pict.ppm" "$WORK/src.ppm" || pict="$pict; NO: differs from the source"
    fi
    rm -f "$WORK/peer.ppm" "$WORK/ours.ppm" "$WORK/pict.ppm"
    for threads in 1 "$NCPU"; do
        echo "$kind, $threads thread(s) (target: time <= 1.0, peak memory <= 1.05x):"
        FAIRTIME_CASE="$kind, $threads thread(s)" FAIRTIME_MATCH_ours="$raw" FAIRTIME_MATCH_picture="$pict" \
            python3 "$ROOT/bench/fairtime.py" "$RUNS" \
            "opj_decompress=opj_decompress -i $f -o $WORK/peer.ppm -threads $threads" \
            "ours=$BUILD/jp2decode $f $WORK/ours.ppm $threads" \
            "picture=$BUILD/jp2decode --picture $f $WORK/pict.ppm $threads" \
            ${OLD:+"old=$OLD $f $WORK/old.ppm $threads" "old-picture=$OLD --picture $f $WORK/old.ppm $threads"}
    done
done
rm -f "$WORK/src.ppm"
echo "machine load after: $(uptime)"
