#!/bin/sh
# Times our TIFF decoder (Release driver, whole process) against tiff2rgba on a 12 MP RGB
# TIFF with LZW + predictor and with Deflate, and against tiffcp on a G4 page; prints the
# best wall time of RUNS runs, the peak memory of each (/usr/bin/time -v) and the ratios.
# Both sides read the same file and write their output into the same scratch folder.
# Usage: bench/bench_tiff.sh [build-dir]   (default build-bench)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-5}
for tool in convert tiffcp tiff2rgba python3 /usr/bin/time; do
    command -v $tool >/dev/null || { echo "bench_tiff: $tool not installed" >&2; exit 1; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tiffdecode -j4 >/dev/null
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

# Best wall ms and the peak resident KiB of that command over RUNS runs.
measure() {
    python3 - "$RUNS" "$@" <<'PY'
import subprocess, sys, time, re
runs = int(sys.argv[1]); cmd = sys.argv[2:]
best = 1e30; peak = 0
for _ in range(runs):
    t = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    ms = (time.perf_counter() - t) * 1000
    if p.returncode != 0:
        sys.exit("failed: " + " ".join(cmd) + "\n" + p.stderr[-400:])
    best = min(best, ms)
    peak = max(peak, int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", p.stderr).group(1)))
print("%.1f %d" % (best, peak))
PY
}

compare() {
    name=$1; peer=$2; shift 2
    set -- $(measure "$BUILD/tiffdecode" "$WORK/$name.tif" "$WORK/out.rgba") $(measure "$@")
    ratio=$(python3 -c "print('%.2f' % ($1 / $3))")
    echo "$name: ours $1 ms ($2 KiB peak), $peer $3 ms ($4 KiB peak), ratio $ratio"
}
compare lzw tiff2rgba tiff2rgba -c none "$WORK/lzw.tif" "$WORK/peer.tif"
compare lzw_smooth tiff2rgba tiff2rgba -c none "$WORK/lzw_smooth.tif" "$WORK/peer.tif"
compare zip tiff2rgba tiff2rgba -c none "$WORK/zip.tif" "$WORK/peer.tif"
# tiffcp writes the page back as 1-bit rows; tiff2rgba expands it to RGBA as we do.
compare g4 "tiffcp -c none" tiffcp -c none "$WORK/g4.tif" "$WORK/peer.tif"
compare g4 tiff2rgba tiff2rgba -c none "$WORK/g4.tif" "$WORK/peer.tif"
