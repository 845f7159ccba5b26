#!/bin/sh
# Times our JPEG 2000 decoder against opj_decompress on a 12 MP picture (4000x3000 RGB),
# lossless 5/3 and 9/7, single-threaded and on every core: whole process against whole
# process, same input, both writing a PNM, with peak memory. Prints the ratios. Not a test.
# Usage: bench/bench_jpeg2000.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
# The machine's load beside the figures: figures from a busy machine are noisier.
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-3}
for tool in opj_compress opj_decompress convert python3; do
    command -v $tool >/dev/null || { echo "bench_jpeg2000: $tool not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench_jpeg2000: /usr/bin/time not installed" >&2; exit 1; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target jp2decode -j3 >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
convert -seed 7 -size 4000x3000 plasma:fractal -blur 0x1 +noise Gaussian -attenuate 0.3 -depth 8 "$WORK/src.ppm"
opj_compress -i "$WORK/src.ppm" -o "$WORK/lossless.j2k" >/dev/null
opj_compress -i "$WORK/src.ppm" -o "$WORK/irrev.j2k" -I -r 10 >/dev/null
NCPU=$(nproc)

# Both programs run in turn, RUNS times each (so a change in machine load hits both alike);
# prints the best wall time (ms) of each and the peak resident size (KiB) of that run:
# "ours_ms ours_kib peer_ms peer_kib".
measure() {
    python3 - "$RUNS" "$@" <<'PY'
import subprocess, sys, time, re
runs = int(sys.argv[1]); args = sys.argv[2:]
cut = args.index("--")
cmds = [args[:cut], args[cut + 1:]]
best = [None, None]
for _ in range(runs):
    for i, cmd in enumerate(cmds):
        t = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        ms = (time.perf_counter() - t) * 1000
        if r.returncode != 0:
            sys.exit("failed: " + " ".join(cmd))
        kib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))
        if best[i] is None or ms < best[i][0]:
            best[i] = (ms, kib)
print("%.1f %d %.1f %d" % (best[0] + best[1]))
PY
}

for kind in lossless irrev; do
    f="$WORK/$kind.j2k"
    for threads in 1 "$NCPU"; do
        set -- $(measure "$BUILD/jp2decode" "$f" "$WORK/ours.ppm" "$threads" -- \
                 opj_decompress -i "$f" -o "$WORK/peer.ppm" -threads "$threads")
        ratio=$(python3 -c "print('%.2f' % ($1 / $3))")
        echo "$kind, $threads thread(s): ours $1 ms $2 KiB, opj_decompress $3 ms $4 KiB, ratio ${ratio}"
    done
done
echo "machine load after: $(uptime)"
