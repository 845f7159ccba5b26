#!/bin/sh
# Whole-process JPEG 2000 decode: our driver (build/jp2decode) against opj_decompress on a
# 12 MP picture (4000x3000 RGB), lossless 5/3 and 9/7, on one thread and on every core, both
# writing a PNM. Runs interleaved through bench/fairtime.py (median and minimum wall time, CPU
# time, peak memory, ratios ours / peer) and prints the machine's load beside each figure;
# checks once that our lossless output equals the source picture. Not a test.
# Usage: bench/bench_jpeg2000.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
# The machine's load beside the figures: figures from a busy machine are noisier.
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
"$BUILD/jp2decode" "$WORK/lossless.j2k" "$WORK/ours.ppm" 1
if cmp -s "$WORK/ours.ppm" "$WORK/src.ppm"; then same="equals the source"; else same="DIFFERS from the source"; fi
rm -f "$WORK/ours.ppm" "$WORK/src.ppm"
echo "our lossless output $same"
# The peer writes a comment into its header: the samples (the last 4000 * 3000 * 3 bytes) are compared.
"$BUILD/jp2decode" "$WORK/irrev.j2k" "$WORK/ours.ppm" 1
opj_decompress -i "$WORK/irrev.j2k" -o "$WORK/peer.ppm" >/dev/null
tail -c 36000000 "$WORK/ours.ppm" >"$WORK/ours.raw"
tail -c 36000000 "$WORK/peer.ppm" >"$WORK/peer.raw"
if cmp -s "$WORK/ours.raw" "$WORK/peer.raw"; then same="equal"; else same="DIFFER from"; fi
rm -f "$WORK/ours.ppm" "$WORK/peer.ppm" "$WORK/ours.raw" "$WORK/peer.raw"
echo "our 9/7 samples $same opj_decompress's"
NCPU=$(nproc)

for kind in lossless irrev; do
    f="$WORK/$kind.j2k"
    for threads in 1 "$NCPU"; do
        echo "$kind, $threads thread(s); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
        python3 "$ROOT/bench/fairtime.py" "$RUNS" \
            "opj_decompress=opj_decompress -i $f -o $WORK/peer.ppm -threads $threads" \
            "ours=$BUILD/jp2decode $f $WORK/ours.ppm $threads"
        echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"
    done
done
echo "machine load after: $(uptime)"
