#!/bin/sh
# Times our DICOM decoder against dcmdjpeg on one 3000x3000 16-bit JPEG lossless (SV1) frame
# made by dcmcjpeg from a generated picture: whole process against whole process (read,
# decode, write the samples to a file in the same scratch folder), runs interleaved
# (bench/fairtime.py): median and minimum wall time, CPU time, peak memory, the ratios ours /
# dcmdjpeg, the machine's load and a verdict line; the outputs are compared once (below).
# OLD=path/to/dicomdecode adds an older build of our driver to the same runs. Not a test.
# Usage: bench/bench_dicom.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-7}
for tool in dump2dcm dcmcjpeg dcmdjpeg python3; do
    command -v $tool >/dev/null || { echo "bench_dicom: $tool not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench_dicom: /usr/bin/time not installed" >&2; exit 1; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target dicomdecode -j3 >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# A smooth 16-bit field with ripples and noise, like a CT slice's soft tissue and bone.
python3 - "$WORK/src.raw" <<'PY'
import array, math, random, sys
random.seed(7)
w = h = 3000
a = array.array('H', bytes(2 * w * h))
for y in range(h):
    base = y * w
    for x in range(w):
        v = 20000 + 15000 * math.sin(x / 230.0) * math.cos(y / 170.0) + random.randint(-300, 300)
        a[base + x] = max(0, min(65535, int(v)))
a.tofile(open(sys.argv[1], 'wb'))
PY
cat > "$WORK/src.txt" <<DUMP
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.3.4]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 3000
(0028,0011) US 3000
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 0
(7fe0,0010) OW =$WORK/src.raw
DUMP
dump2dcm "$WORK/src.txt" "$WORK/native.dcm"
dcmcjpeg +e1 "$WORK/native.dcm" "$WORK/lossless.dcm"
ls -l "$WORK/lossless.dcm" | awk '{print "input: " $5 " bytes"}'

# The outputs, checked once. The peer's stored samples (the last 3000 * 3000 * 2 bytes of its
# file) must be the source's; ours are those samples stretched from their minimum and maximum to
# the full 16-bit range for display, so the same stretch is applied to the peer's before the
# comparison.
dcmdjpeg "$WORK/lossless.dcm" "$WORK/peer.dcm"
"$BUILD/dicomdecode" "$WORK/lossless.dcm" "$WORK/ours.raw"
match=$(python3 - "$WORK/peer.dcm" "$WORK/ours.raw" "$WORK/src.raw" <<'PY'
import array, sys
n = 3000 * 3000
with open(sys.argv[1], 'rb') as f:
    f.seek(-2 * n, 2)
    stored = f.read()
ours, src = open(sys.argv[2], 'rb').read(), open(sys.argv[3], 'rb').read()
if stored != src:
    print("NO: dcmdjpeg's samples differ from the source")
    sys.exit()
a = array.array('H', stored)
lo, hi = min(a), max(a)
lut = [((v - lo) * 65535 + (hi - lo) // 2) // (hi - lo) if hi > lo else v for v in range(65536)]
want = array.array('H', map(lut.__getitem__, a)).tobytes()
print("yes" if ours == want else "NO: our samples differ from dcmdjpeg's stretched from %d-%d" % (lo, hi))
PY
)
rm -f "$WORK/peer.dcm" "$WORK/ours.raw"
echo "3000x3000 16-bit lossless (target: time <= 1.0, memory within 1.5x):"
set -- "dcmdjpeg=dcmdjpeg $WORK/lossless.dcm $WORK/peer.dcm" "ours=$BUILD/dicomdecode $WORK/lossless.dcm $WORK/ours.raw"
[ -n "${OLD:-}" ] && set -- "$@" "old=$OLD $WORK/lossless.dcm $WORK/old.raw"
FAIRTIME_CASE="3000x3000 16-bit lossless" FAIRTIME_MATCH="$match" python3 "$ROOT/bench/fairtime.py" "$RUNS" "$@"
echo "machine load after: $(uptime)"
