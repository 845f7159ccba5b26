#!/bin/sh
# Times our raw decoders (whole process: probe, decode, PPG demosaic, tone curve, a 16-bit PPM
# written) against dcraw -q 2 (PPG) -4 -c (a 16-bit PPM on standard output), both into
# /dev/null, on generated 6000x4000 files: an uncompressed DNG, an uncompressed Sony ARW and a
# 16-bit Minolta MRW. Each file twice: we on every core, and both pinned to one CPU (dcraw has
# one thread). Runs are interleaved (bench/fairtime.py): median and minimum wall time, CPU time,
# peak memory, the ratios ours / dcraw, the machine's load and one verdict line per case. Not a
# test.
#
# What is compared. The two PPMs timed are not meant to be equal: dcraw -4 gives linear sRGB
# (its own colour matrix and daylight balance for the camera, the DNG's white level, its own
# black level for an unknown Sony model: 2048 here, where LibRaw takes 512 and our model table
# 0), while our decoders give each camera's own balance in camera colour, then their tone
# finishing (histogram black and white points, a gamma curve, and for DNG the saturation
# boost). What both are meant to agree on is the sensor frame as read (samples, crop, colour
# pattern) and its pixel grouping: `rawdecode --check` writes the frame our decoder hands to
# its demosaic, demosaiced by the same routine with unit multipliers and no black level, and it
# must equal `dcraw -q 2 -4 -o 0 -r 1 1 1 1 -k 0 -S 65535 -t 0` (the same scaling: none) inside
# the 4-pixel border, which we fill by 3 x 3 means. LibRaw (dcraw_emu), when installed, is held
# to the same. The black levels and multipliers of both sides are printed beside it.
# Usage: bench/bench_raw.sh [build-dir]   (default build-bench, Release, QMX_BENCH)
set -eu
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
RUNS=${RUNS:-7}
for tool in dcraw python3 taskset /usr/bin/time; do
    command -v $tool >/dev/null || { echo "bench_raw: $tool not installed" >&2; exit 1; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target rawdecode -j3 >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
python3 - "$WORK" <<'PY'
import struct, sys
w, h = 6000, 4000
# A smooth 12-bit scene with some texture, as 16-bit little-endian (ARW, DNG) and big-endian (MRW) rows.
rows_le, rows_be = [], []
for y in range(h):
    vals = [(((x * 3 + y * 2) ^ (x * y >> 9)) & 0xFFF) for x in range(0, w)]
    rows_le.append(struct.pack('<%dH' % w, *vals))
    rows_be.append(struct.pack('>%dH' % w, *vals))
le, be = b''.join(rows_le), b''.join(rows_be)
def ifd(entries, next_off=0):
    out = struct.pack('<H', len(entries))
    for tag, typ, count, value in sorted(entries):
        out += struct.pack('<HHII', tag, typ, count, value)
    return out + struct.pack('<I', next_off)
# ARW: header, IFD0 at 8 (make, model, SubIFD), raw IFD, strings, pattern, strip.
make_off, model_off = 200, 208
raw_ifd = 60
strip_off = 300
ifd0 = ifd([(271, 2, 5, make_off), (272, 2, 9, model_off), (330, 4, 1, raw_ifd)])
raw = ifd([(256, 3, 1, w), (257, 3, 1, h), (258, 3, 1, 16), (259, 3, 1, 1), (273, 4, 1, strip_off),
           (277, 3, 1, 1), (278, 3, 1, h), (279, 4, 1, len(le)), (33421, 3, 2, 2 | 2 << 16),
           (33422, 1, 4, 0x02010100)])
f = bytearray(b'II*\x00' + struct.pack('<I', 8))
f += ifd0; f += b'\x00' * (raw_ifd - len(f)); f += raw
f += b'\x00' * (make_off - len(f)); f += b'SONY\x00\x00\x00\x00' + b'ILCE-KIT\x00'
f += b'\x00' * (strip_off - len(f)); f += le
open(sys.argv[1] + '/bench.arw', 'wb').write(f)
# DNG: one IFD holding the colour-filter frame (DNG 1.4, RGGB, 12-bit white level), the
# camera name and the samples.
name_off, strip_off = 300, 400
dng = ifd([(254, 4, 1, 0), (256, 3, 1, w), (257, 3, 1, h), (258, 3, 1, 16), (259, 3, 1, 1),
           (262, 3, 1, 32803), (273, 4, 1, strip_off), (277, 3, 1, 1), (278, 3, 1, h),
           (279, 4, 1, len(le)), (33421, 3, 2, 2 | 2 << 16), (33422, 1, 4, 0x02010100),
           (50706, 1, 4, 0x00000401), (50708, 2, 9, name_off), (50717, 3, 1, 4095)])
f = bytearray(b'II*\x00' + struct.pack('<I', 8)) + dng
f += b'\x00' * (name_off - len(f)); f += b'KIT DNG1\x00'
f += b'\x00' * (strip_off - len(f)); f += le
open(sys.argv[1] + '/bench.dng', 'wb').write(f)
# MRW: PRD (16-bit unpacked), WBG, TTW with make and model, then the samples.
def blk(tag, data): return b'\x00' + tag + struct.pack('>I', len(data)) + data
prd = b'27820001' + struct.pack('>HHHHBBBBHH', h, w, h, w, 12, 12, 0x59, 0, 0, 1)
wbg = b'\x02\x02\x02\x02' + struct.pack('>HHHH', 500, 256, 256, 400)
ttw = bytearray(b'MM\x00*' + struct.pack('>I', 8))
ttw += struct.pack('>H', 2) + struct.pack('>HHII', 271, 2, 8, 38) + struct.pack('>HHII', 272, 2, 9, 46) + b'\x00' * 4
ttw += b'MINOLTA\x00DiMAGE 7\x00'
inner = blk(b'PRD', prd) + blk(b'WBG', wbg) + blk(b'TTW', bytes(ttw))
open(sys.argv[1] + '/bench.mrw', 'wb').write(blk(b'MRM', inner) + be)
PY

# One CPU for the single-threaded peer and for us pinned beside it (the last one unless PIN_CPU).
PIN=${PIN_CPU:-$(($(nproc) - 1))}
for kind in dng arw mrw; do
    f="$WORK/bench.$kind"
    # The stage both are meant to agree on, checked once (see the top).
    same="-q 2 -4 -o 0 -r 1 1 1 1 -k 0 -S 65535 -t 0"
    dcraw $same -c "$f" >"$WORK/dcraw.ppm"
    "$BUILD/rawdecode" --check "$f" "$WORK/ours.ppm" 2>"$WORK/reading" || : >"$WORK/ours.ppm"
    echo "$kind: ours $(cat "$WORK/reading")"
    echo "$kind: dcraw's own reading: $(dcraw -v -h -4 -c "$f" 2>&1 >/dev/null | sed -n '2,3p' | tr '\n' ' ')"
    peers="dcraw"
    if command -v dcraw_emu >/dev/null; then
        dcraw_emu $same -Z "$WORK/libraw.ppm" "$f" && peers="dcraw libraw"
    fi
    match=""
    for peer in $peers; do
        m=$(python3 - "$WORK/ours.ppm" "$WORK/$peer.ppm" <<'PY'
import array, sys
a, b = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
ha, hb = a.split(b"\n", 3), b.split(b"\n", 3)
if ha[:3] != hb[:3]:
    print("NO: other sizes")
    sys.exit()
# Rows 4 to h - 5, columns 4 to w - 5, 6 bytes a pixel.
w, h = map(int, ha[1].split())
r = w * 6
rows = [y for y in range(4, h - 4) if ha[3][y * r + 24:(y + 1) * r - 24] != hb[3][y * r + 24:(y + 1) * r - 24]]
if not rows:
    print("yes")
    sys.exit()
x, y = array.array('H', ha[3][: len(ha[3]) // 2 * 2]), array.array('H', hb[3][: len(hb[3]) // 2 * 2])
if sys.byteorder == 'little':
    x.byteswap(), y.byteswap()
d = [abs(x[i] - y[i]) for i in range(0, min(len(x), len(y)), 997)]
print("NO: %d rows differ, samples by %.0f on average, %d at most (every 997th)" % (len(rows), sum(d) / len(d), max(d)))
PY
)
        match="$match${match:+, }$peer $m"
    done
    match="$match (frame and pixel grouping, 4-pixel border and finishing left out)"
    rm -f "$WORK/ours.ppm" "$WORK/dcraw.ppm" "$WORK/libraw.ppm" "$WORK/reading"
    echo "$kind 6000x4000, every core for us (load before: $(cut -d' ' -f1-3 /proc/loadavg)):"
    FAIRTIME_CASE="$kind, every core" FAIRTIME_MATCH="$match" python3 "$ROOT/bench/fairtime.py" "$RUNS" \
        "dcraw=dcraw -q 2 -4 -c $f" \
        "ours=$BUILD/rawdecode $f /dev/null"
    echo "$kind 6000x4000, both on CPU $PIN (load before: $(cut -d' ' -f1-3 /proc/loadavg)):"
    FAIRTIME_CASE="$kind, one CPU" FAIRTIME_MATCH="$match" python3 "$ROOT/bench/fairtime.py" "$RUNS" \
        "dcraw=taskset -c $PIN dcraw -q 2 -4 -c $f" \
        "ours=taskset -c $PIN $BUILD/rawdecode $f /dev/null"
done
echo "machine load after: $(uptime)"
