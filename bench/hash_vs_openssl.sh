#!/bin/sh
# Whole-process SHA-256 of one 256 MiB file: our driver (build/sha256file, also with
# --portable) against openssl dgst -sha256 and sha256sum, the file in the page cache, the
# digests checked equal; prints median and minimum wall time, peak memory and ours / peer.
# Usage: bench/hash_vs_openssl.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-7}
for tool in /usr/bin/openssl /usr/bin/sha256sum /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "hash_vs_openssl: $tool not installed" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target sha256file -j3 >/dev/null
tmp=$(mktemp -d /tmp/bench_hash.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
head -c 268435456 /dev/urandom >"$tmp/data"
ours=$("$build/sha256file" "$tmp/data" | cut -d' ' -f1)
peer=$(/usr/bin/openssl dgst -sha256 "$tmp/data" | sed 's/.*= //')
[ "$ours" = "$peer" ] || { echo "digests differ: $ours $peer" >&2; exit 1; }
echo "SHA-256 of 256 MiB (digests agree):"
/usr/bin/python3 "$root/bench/fairtime.py" "$runs" \
    "openssl=/usr/bin/openssl dgst -sha256 $tmp/data" \
    "sha256sum=/usr/bin/sha256sum $tmp/data" \
    "ours=$build/sha256file $tmp/data" \
    "ours-portable=$build/sha256file --portable $tmp/data"
