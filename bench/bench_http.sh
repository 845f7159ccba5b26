#!/bin/sh
# Download of a 256 MiB file from a loopback python3 http.server into a memory sink,
# timed against `curl -o /dev/null` in the same run; prints the throughput ratio.
# Usage: bench/bench_http.sh [build-folder]   (needs python3 and curl)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
command -v curl >/dev/null || { echo "curl is needed: apt-get install -y curl"; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed"; exit 1; }

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target httpget -j4 >/dev/null

work=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

head -c 268435456 /dev/urandom >"$work/big.bin"
python3 -u -m http.server --bind 127.0.0.1 --directory "$work" 0 >"$work/server.log" 2>/dev/null &
server=$!
port=
for i in $(seq 1 100); do
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/server.log" | head -1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "server did not start"; exit 1; }
url="http://127.0.0.1:$port/big.bin"

now() { python3 -c 'import time; print(time.monotonic())'; }
best_ours=999999
best_curl=999999
for run in 1 2 3; do
    t0=$(now); "$build/httpget" "$url" >/dev/null; t1=$(now)
    ours=$(python3 -c "print($t1 - $t0)")
    t0=$(now); curl -s -o /dev/null "$url"; t1=$(now)
    theirs=$(python3 -c "print($t1 - $t0)")
    best_ours=$(python3 -c "print(min($best_ours, $ours))")
    best_curl=$(python3 -c "print(min($best_curl, $theirs))")
done
python3 - "$best_ours" "$best_curl" <<'PY'
import sys
ours, curl = float(sys.argv[1]), float(sys.argv[2])
mib = 256.0
print("httpget: %.3f s (%.0f MiB/s)" % (ours, mib / ours))
print("curl:    %.3f s (%.0f MiB/s)" % (curl, mib / curl))
print("ratio (httpget throughput / curl throughput): %.2fx (target >= 0.8x)" % (curl / ours))
PY
