#!/bin/sh
# Inflate of the same zlib data by cZDecompress and by python's zlib (the library's own
# speed); prints both best times and our overhead.
# Usage: bench/inflate_vs_zlib.sh <build dir configured with -DQMX_BENCH=ON>
set -e
build=${1:-build-bench}
drv="$build/bench_inflate"
[ -x "$drv" ] || { echo "build $drv first (cmake --build $build --target bench_inflate)"; exit 1; }
command -v python3 >/dev/null || { echo "python3 not installed"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# 64 MiB of text-like data with some noise, deflated at level 6.
python3 - "$tmp/data.z" <<'PY'
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
set -- $("$drv" --file "$tmp/data.z" 7)
ours=$1; size=$2
peer=$(python3 - "$tmp/data.z" <<'PY'
import sys, time, zlib
z = open(sys.argv[1], "rb").read()
best = 1e30
for _ in range(7):
    t = time.perf_counter()
    d = zlib.decompress(z)
    best = min(best, time.perf_counter() - t)
print("%.6f" % best)
PY
)
printf 'plain size: %s bytes\nours:   %.4f s\nzlib:   %.4f s\n' "$size" "$ours" "$peer"
printf 'our overhead above zlib: %.1f%%\n' "$(echo "($ours / $peer - 1) * 100" | bc -l)"
