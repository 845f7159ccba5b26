#!/bin/sh
# Times our JBIG2 decoder against jbig2dec on a 2000x3000 text-like page (generic region,
# template 0, TPGDON), whole process against whole process, both writing a PBM, with peak
# memory beside the time; prints the ratios. Not a test.
# Usage: bench/bench_jbig2.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
# The machine's load beside the figures: figures from a busy machine are noisier.
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-5}
for tool in jbig2dec python3 /usr/bin/time; do
    command -v $tool >/dev/null || { echo "bench_jbig2: $tool not installed" >&2; exit 1; }
done
if [ ! -x "$BUILD/jbig2decode" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
    cmake --build "$BUILD" --target jbig2decode -j3 >/dev/null
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
"$BUILD/jbig2decode" --make "$WORK/page.jb2" 2000 3000
python3 - "$WORK" "$RUNS" "$BUILD/jbig2decode" <<'PY'
import re, subprocess, sys, time
work, runs, ours = sys.argv[1], int(sys.argv[2]), sys.argv[3]
page = work + "/page.jb2"
cmds = {
    "ours": [ours, page, work + "/ours.pbm"],
    "jbig2dec": ["jbig2dec", "-q", "-t", "pbm", "-o", work + "/peer.pbm", page],
}
best, peak = {}, {}
for _ in range(runs):
    for name, cmd in cmds.items():
        t = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-v"] + cmd, capture_output=True, text=True)
        ms = (time.perf_counter() - t) * 1000
        if r.returncode != 0:
            sys.exit(name + " failed: " + r.stderr[-300:])
        best[name] = min(best.get(name, 1e30), ms)
        peak[name] = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))
same = open(work + "/ours.pbm", "rb").read() == open(work + "/peer.pbm", "rb").read()
print("page 2000x3000, %d bytes; outputs %s" % (len(open(page, "rb").read()), "identical" if same else "DIFFER"))
for name in cmds:
    print("%-8s best of %d: %8.1f ms, peak %6d KiB" % (name, runs, best[name], peak[name]))
print("ratio ours/jbig2dec: time %.2f (target <= 1.0), peak memory %.2f"
      % (best["ours"] / best["jbig2dec"], peak["ours"] / peak["jbig2dec"]))
PY
echo "machine load after: $(uptime)"
