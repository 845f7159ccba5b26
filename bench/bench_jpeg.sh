#!/bin/sh
# Times our JPEG decoder against djpeg -dct int on a 4000x3000 baseline and progressive JPEG
# (made by cjpeg from a generated photo-like picture) and prints the ratios. Not a test.
# Usage: bench/bench_jpeg.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-5}
for tool in cjpeg djpeg convert python3; do
    command -v $tool >/dev/null || { echo "bench_jpeg: $tool not installed" >&2; exit 1; }
done
if [ ! -x "$BUILD/jpegdecode" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
    cmake --build "$BUILD" --target jpegdecode -j4 >/dev/null
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Plasma with a little blur and noise compresses like a photograph (about 5 MB at quality 90).
convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 +noise Gaussian -attenuate 0.3 "$WORK/src.ppm"
cjpeg -quality 90 -outfile "$WORK/baseline.jpg" "$WORK/src.ppm"
cjpeg -quality 90 -progressive -outfile "$WORK/progressive.jpg" "$WORK/src.ppm"

# Best wall time of RUNS djpeg runs, in ms.
peer_ms() {
    python3 - "$1" "$RUNS" <<'PY'
import subprocess, sys, time
best = 1e30
for _ in range(int(sys.argv[2])):
    t = time.perf_counter()
    subprocess.run(["djpeg", "-dct", "int", "-outfile", "/dev/null", sys.argv[1]], check=True)
    best = min(best, (time.perf_counter() - t) * 1000)
print("%.2f" % best)
PY
}

for kind in baseline progressive; do
    f="$WORK/$kind.jpg"
    ours=$("$BUILD/jpegdecode" "$f" "$RUNS")
    peer=$(peer_ms "$f")
    ratio=$(python3 -c "print('%.2f' % ($ours / $peer))")
    echo "$kind: ours ${ours} ms, djpeg ${peer} ms, ratio ${ratio} (target <= 1.5)"
done
