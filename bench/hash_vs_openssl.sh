#!/bin/sh
# SHA-256 of one 256 MiB file: our driver against `openssl dgst -sha256`.
# Usage: bench/hash_vs_openssl.sh <build dir configured with -DQMX_BENCH=ON>
set -e
build=${1:-build-bench}
drv="$build/sha256file"
[ -x "$drv" ] || { echo "build $drv first (cmake --build $build --target sha256file)"; exit 1; }
command -v openssl >/dev/null || { echo "openssl not installed"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
head -c 268435456 /dev/urandom > "$tmp/data"
# Warm the page cache, then take the best of three runs of each.
cat "$tmp/data" > /dev/null
best() {
    b=
    for i in 1 2 3; do
        s=$(date +%s.%N)
        "$@" > "$tmp/out"
        e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc -l)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
    done
    echo "$b"
}
ours=$(best "$drv" "$tmp/data")
ourDigest=$(cut -d' ' -f1 "$tmp/out")
portable=$(best "$drv" --portable "$tmp/data")
peer=$(best openssl dgst -sha256 "$tmp/data")
peerDigest=$(sed 's/.*= //' "$tmp/out")
[ "$ourDigest" = "$peerDigest" ] || { echo "digests differ: $ourDigest $peerDigest"; exit 1; }
printf 'ours:     %.3f s\nportable: %.3f s\nopenssl:  %.3f s\n' "$ours" "$portable" "$peer"
printf 'speed ratio (openssl time / our time): %.2fx\n' "$(echo "$peer / $ours" | bc -l)"
