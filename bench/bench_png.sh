#!/bin/sh
# Whole-process PNG decode of a 4000x3000 RGBA picture made at run time: our driver
# (build/pngdecode, decodes and writes PPM) against pngtopnm and ImageMagick's convert, all
# writing PPM into /dev/null; checks once that our PPM equals pngtopnm's, then prints median
# and minimum wall time, peak memory and the ratios ours / peer. Not a test.
# Usage: bench/bench_png.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-7}
for tool in /usr/bin/pngtopnm /usr/bin/convert /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "bench_png: $tool not installed (netpbm, imagemagick)" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target pngdecode -j3 >/dev/null
work=$(mktemp -d /tmp/bench_png.XXXXXX)
trap 'rm -rf "$work"' EXIT
png=$work/big.png
/usr/bin/convert -size 4000x3000 -seed 1 plasma:fractal \( -size 4000x3000 gradient:white-black \) \
    -compose CopyOpacity -composite -define png:color-type=6 -depth 8 "$png"
"$build/pngdecode" "$png" "$work/ours.ppm"
/usr/bin/pngtopnm "$png" >"$work/peer.ppm" 2>/dev/null
if cmp -s "$work/ours.ppm" "$work/peer.ppm"; then same="identical to pngtopnm"; else same="DIFFERS from pngtopnm"; fi
rm -f "$work/ours.ppm" "$work/peer.ppm"
echo "4000x3000 RGBA PNG ($(stat -c %s "$png") bytes; our output $same):"
/usr/bin/python3 "$root/bench/fairtime.py" "$runs" \
    "pngtopnm=/usr/bin/pngtopnm $png" \
    "convert=/usr/bin/convert $png ppm:/dev/null" \
    "ours=$build/pngdecode $png /dev/null"
