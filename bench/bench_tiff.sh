#!/bin/sh
# Times our TIFF decoder (Release driver, whole process) against tiff2rgba on a 12 MP RGB
# TIFF with LZW + predictor (noisy and smooth) and with Deflate, and against tiffcp and
# tiff2rgba on a G4 page. Runs are interleaved (bench/fairtime.py): median and minimum wall
# time, CPU time, peak memory, the ratios ours / peer and the machine's load. Both sides read
# the same file and write their RGBA rows (tiffcp its 1-bit rows) into the same scratch
# folder; our pixels are checked once against tiff2rgba's. Not a test.
# Usage: bench/bench_tiff.sh [build-dir]   (default build-bench)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-9}
for tool in convert tiffcp tiff2rgba python3 cmp /usr/bin/time; do
    command -v $tool >/dev/null || { echo "bench_tiff: $tool not installed" >&2; exit 1; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tiffdecode -j3 >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 +noise Gaussian -attenuate 0.3 -depth 8 \
    -compress none "$WORK/src.tif"
# Without the noise: a smooth picture, the kind LZW compresses (the noisy one grows under LZW).
convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 -depth 8 -compress none "$WORK/smooth.tif"
tiffcp -c lzw:2 -r 64 "$WORK/src.tif" "$WORK/lzw.tif"
tiffcp -c lzw:2 -r 64 "$WORK/smooth.tif" "$WORK/lzw_smooth.tif"
tiffcp -c zip -r 64 "$WORK/src.tif" "$WORK/zip.tif"
# A fax-like page: 4960 x 7016 (A4 at 600 dpi) of text-like blocks.
convert -size 620x877 xc:white -fill black -draw "rectangle 40,40 580,60" \
    -seed 3 +noise Impulse -threshold 60% -scale 800% -alpha off -type bilevel -depth 1 \
    -compress none "$WORK/page.tif"
tiffcp -c g4 "$WORK/page.tif" "$WORK/g4.tif"
rm -f "$WORK/src.tif" "$WORK/smooth.tif" "$WORK/page.tif"

# tiff2rgba -c none writes its RGBA rows right after the 8-byte header, top row first, as we do.
same_as_peer() {
    "$BUILD/tiffdecode" "$WORK/$1.tif" "$WORK/ours.rgba"
    tiff2rgba -c none "$WORK/$1.tif" "$WORK/peer.tif"
    if cmp -s -i 8:0 -n "$(stat -c %s "$WORK/ours.rgba")" "$WORK/peer.tif" "$WORK/ours.rgba"; then
        echo "identical to tiff2rgba"
    else
        echo "DIFFERS from tiff2rgba"
    fi
}

for name in lzw lzw_smooth zip g4; do
    echo "$name ($(stat -c %s "$WORK/$name.tif") bytes; our pixels $(same_as_peer $name)):"
    if [ $name = g4 ]; then
        # tiff2rgba expands the page to RGBA as we do; tiffcp writes it back as 1-bit rows.
        python3 "$ROOT/bench/fairtime.py" "$RUNS" \
            "tiff2rgba=tiff2rgba -c none $WORK/g4.tif $WORK/peer.tif" \
            "tiffcp=tiffcp -c none $WORK/g4.tif $WORK/peer1.tif" \
            "ours=$BUILD/tiffdecode $WORK/g4.tif $WORK/ours.rgba"
    else
        python3 "$ROOT/bench/fairtime.py" "$RUNS" \
            "tiff2rgba=tiff2rgba -c none $WORK/$name.tif $WORK/peer.tif" \
            "ours=$BUILD/tiffdecode $WORK/$name.tif $WORK/ours.rgba"
    fi
done
