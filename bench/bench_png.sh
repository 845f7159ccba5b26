#!/bin/sh
# Times our PNG decoder (Release driver) against a peer on a 4000x3000 RGBA PNG; prints the ratio.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target pngdecode -j4 >/dev/null
png=$work/big.png
convert -size 4000x3000 -seed 1 plasma:fractal \( -size 4000x3000 gradient:white-black \) \
    -compose CopyOpacity -composite -define png:color-type=6 -depth 8 "$png"
ours=$("$build/pngdecode" "$png" 3)
now() { date +%s%N; }
if command -v pngtopnm >/dev/null 2>&1; then
    peer=pngtopnm
    best=
    for i in 1 2 3; do
        t0=$(now); pngtopnm "$png" >/dev/null 2>&1; t1=$(now)
        ms=$(( (t1 - t0) / 1000000 )); [ -z "$best" ] || [ "$ms" -lt "$best" ] && best=$ms
    done
else
    peer="ImageMagick convert rgba:"
    best=
    for i in 1 2 3; do
        t0=$(now); /usr/bin/convert "$png" rgba:- >/dev/null; t1=$(now)
        ms=$(( (t1 - t0) / 1000000 )); [ -z "$best" ] || [ "$ms" -lt "$best" ] && best=$ms
    done
fi
echo "ours: ${ours} ms, $peer: ${best} ms"
awk -v a="$ours" -v b="$best" 'BEGIN { printf "ratio (ours / peer): %.2f\n", a / b }'
