#!/bin/sh
# Whole-process JPEG decode: our driver (build/jpegdecode, decodes the file and writes PPM, or
# PGM for grey) against djpeg -dct int streaming the same and djpeg -dct int -bmp (which holds
# the whole frame, as we do), all three writing into /dev/null, on 12 MP (4000x3000) baseline
# 4:2:0, 4:2:2, 4:4:4, grey and progressive 4:2:0 pictures made at run time by ImageMagick and
# cjpeg. Prints median and minimum wall time, peak memory and the ratios ours / peer; checks
# once that our output equals djpeg's. Not a test.
# Usage: bench/bench_jpeg.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-7}
for tool in /usr/bin/cjpeg /usr/bin/djpeg /usr/bin/convert /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "bench_jpeg: $tool not installed" >&2; exit 1; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target jpegdecode -j3 >/dev/null
WORK=$(mktemp -d /tmp/bench_jpeg.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
# Plasma with a little blur and noise compresses like a photograph (about 5 MB at quality 90).
/usr/bin/convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 +noise Gaussian -attenuate 0.3 "$WORK/src.ppm"
/usr/bin/cjpeg -quality 90 -sample 2x2 -outfile "$WORK/base420.jpg" "$WORK/src.ppm"
/usr/bin/cjpeg -quality 90 -sample 2x1 -outfile "$WORK/base422.jpg" "$WORK/src.ppm"
/usr/bin/cjpeg -quality 90 -sample 1x1 -outfile "$WORK/base444.jpg" "$WORK/src.ppm"
/usr/bin/cjpeg -quality 90 -sample 2x2 -progressive -outfile "$WORK/prog420.jpg" "$WORK/src.ppm"
/usr/bin/cjpeg -quality 90 -grayscale -outfile "$WORK/grey.jpg" "$WORK/src.ppm"
rm -f "$WORK/src.ppm"

for kind in base420 base422 base444 grey prog420; do
    f="$WORK/$kind.jpg"
    "$BUILD/jpegdecode" "$f" "$WORK/ours.ppm"
    /usr/bin/djpeg -dct int -outfile "$WORK/peer.ppm" "$f"
    if cmp -s "$WORK/ours.ppm" "$WORK/peer.ppm"; then same="identical to djpeg"; else same="DIFFERS from djpeg"; fi
    rm -f "$WORK/ours.ppm" "$WORK/peer.ppm"
    echo "$kind ($(stat -c %s "$f") bytes; our output $same):"
    /usr/bin/python3 "$ROOT/bench/fairtime.py" "$RUNS" \
        "djpeg=/usr/bin/djpeg -dct int -outfile /dev/null $f" \
        "djpeg-bmp=/usr/bin/djpeg -dct int -bmp -outfile /dev/null $f" \
        "ours=$BUILD/jpegdecode $f /dev/null"
    echo "  (targets: ours / djpeg <= 0.9; peak memory <= 64 MiB for the baseline kinds)"
done
