#!/bin/sh
# Whole-process inflate of the same 64 MiB zlib stream: our driver (build/zinflate, cZInflate in
# 256 KiB pieces) against pigz -dcz (zlib's inflate), both writing the plain bytes to /dev/null,
# so neither side grows an output buffer. Checks once that both give the same bytes, then
# prints median and minimum wall time, peak memory and the ratio ours / peer.
# Usage: bench/inflate_vs_zlib.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-7}
for tool in /usr/bin/pigz /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "inflate_vs_zlib: $tool not installed" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target zinflate -j3 >/dev/null
tmp=$(mktemp -d /tmp/bench_inflate.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# 64 MiB of text-like data with some noise, deflated at level 6 (the stream is made here, outside
# any timing).
/usr/bin/python3 - "$tmp/data.zz" <<'PY'
import random, sys, zlib
random.seed(7)
words = [("token%d" % i).encode() for i in range(500)]
parts, size = [], 0
while size < 64 << 20:
    p = random.choice(words) + (b"\n" if random.random() < 0.14 else b" ")
    if random.random() < 0.001:
        p += random.randbytes(200)
    parts.append(p)
    size += len(p)
open(sys.argv[1], "wb").write(zlib.compress(b"".join(parts)[:64 << 20], 6))
PY
"$build/zinflate" "$tmp/data.zz" "$tmp/ours.out"
/usr/bin/pigz -dcz "$tmp/data.zz" >"$tmp/peer.out"
cmp -s "$tmp/ours.out" "$tmp/peer.out" || { echo "inflate_vs_zlib: outputs differ" >&2; exit 1; }
echo "64 MiB text-like stream ($(stat -c %s "$tmp/data.zz") bytes deflated), same output as pigz:"
rm -f "$tmp/ours.out" "$tmp/peer.out"
/usr/bin/python3 "$root/bench/fairtime.py" "$runs" \
    "pigz-dcz=/usr/bin/pigz -dcz $tmp/data.zz" \
    "ours=$build/zinflate $tmp/data.zz /dev/null"
