#!/bin/sh
# Whole-process download of a 256 MiB file over loopback: our driver (build/httpget) against
# curl, both writing the body to /dev/null, from one sendfile server (bench/sendfile_server.py,
# started once before any timing, the kernel doing the sending, so it is not the bottleneck).
# Checks once that both received the file intact, then prints median and minimum wall time,
# peak memory and the ratio ours / peer.
# Usage: bench/bench_http.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-7}
for tool in /usr/bin/curl /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "bench_http: $tool not installed" >&2; exit 1; }
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target httpget -j3 >/dev/null

work=$(mktemp -d /tmp/bench_http.XXXXXX)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

head -c 268435456 /dev/urandom >"$work/big.bin"
/usr/bin/python3 -u "$root/bench/sendfile_server.py" "$work" >"$work/port" &
server=$!
port=
for i in $(seq 1 100); do
    port=$(head -1 "$work/port")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/big.bin"

"$build/httpget" "$url" "$work/ours.bin" 2>/dev/null
/usr/bin/curl -s -o "$work/peer.bin" "$url"
cmp -s "$work/ours.bin" "$work/big.bin" && cmp -s "$work/peer.bin" "$work/big.bin" ||
    { echo "bench_http: a download differs from the file" >&2; exit 1; }
rm -f "$work/ours.bin" "$work/peer.bin"
echo "256 MiB over loopback from a sendfile server (both downloads intact):"
/usr/bin/python3 "$root/bench/fairtime.py" "$runs" \
    "curl=/usr/bin/curl -s -o /dev/null $url" \
    "ours=$build/httpget $url /dev/null"
