#!/bin/sh
# Building a package (text scenario -> scenario data file) against `zip -9 -r` of the
# same 512 MiB tree of mixed text and binary files, in one run. Prints times, sizes and
# ratios. The tree lives in a private temporary folder removed at the end.
#   bench/bench_pkgbuild.sh [driver]   (default: builds bench_pkgbuild_make in build-bench)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DRIVER=${1:-}
MIB=${PKGBENCH_MIB:-512}
if [ -z "$DRIVER" ]; then
    BUILD=${BUILD:-$ROOT/build-bench}
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DQMX_BENCH=ON -DQMX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD" --target bench_pkgbuild_make -j4 >/dev/null
    DRIVER=$BUILD/bench_pkgbuild_make
fi
command -v zip >/dev/null || { echo "zip not installed"; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
echo "generating a ${MIB} MiB tree in $WORK ..."
python3 - "$WORK/tree" "$MIB" <<'PY'
import os, random, sys
root, mib = sys.argv[1], int(sys.argv[2])
rnd = random.Random(1)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10))) for _ in range(5000)]
libs = []
for d in ('/usr/lib/x86_64-linux-gnu', '/usr/bin'):
    try:
        for n in sorted(os.listdir(d)):
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 65536:
                libs.append(p)
    except OSError:
        pass
libblob = b''.join(open(p, 'rb').read() for p in libs[:60])[:64 << 20] or os.urandom(1 << 20)
total, i = 0, 0
while total < mib << 20:
    d = os.path.join(root, 'd%02d' % (i % 40), 'sub%d' % (i % 7))
    os.makedirs(d, exist_ok=True)
    size = rnd.choice((4096, 30000, 200000, 1 << 20, 3 << 20))
    kind = i % 10
    if kind < 4:   # text
        data = ' '.join(rnd.choice(words) for _ in range(size // 6)).encode()[:size]
        name = 'f%05d.txt' % i
    elif kind < 8:  # executables and libraries
        at = rnd.randrange(0, max(1, len(libblob) - size))
        data = libblob[at:at + size]
        name = 'f%05d.so' % i
    else:           # already compressed
        data = os.urandom(size)
        name = 'f%05d.bin' % i
    open(os.path.join(d, name), 'wb').write(data or b'x')
    total += len(data) or 1
    i += 1
print('files', i, 'bytes', total)
PY
printf 'ENG = "./eula_en.txt"\n' > "$WORK/eula.idx"
printf '<text>Licence text</text>\n' > "$WORK/eula_en.txt"
cat > "$WORK/scenario.txt" <<TXT
[General]
langs = ENG
[Software]
codename = "bench.pkg"
name = "Bench"
version = "1.0"
eula = "$WORK/eula.idx"
[Install]
"$WORK/tree" = \$pgm ""
TXT

sync
echo "make (parallel level-9 body) ..."
"$DRIVER" "$WORK/scenario.txt" "$WORK/scenario.data" single | tee "$WORK/make.txt"
echo "zip -9 -r ..."
START=$(date +%s.%N)
(cd "$WORK" && zip -q -9 -r "$WORK/tree.zip" tree)
END=$(date +%s.%N)
ZIPS=$(echo "$END - $START" | bc)
ZIPB=$(stat -c %s "$WORK/tree.zip")
echo "zip_seconds $ZIPS"
echo "zip_bytes $ZIPB"
MAKES=$(awk '/^make_seconds/ {print $2}' "$WORK/make.txt")
PACKB=$(awk '/^packed_bytes/ {print $2}' "$WORK/make.txt")
SINGB=$(awk '/^single_bytes/ {print $2}' "$WORK/make.txt")
echo "speed: make is $(echo "scale=2; $ZIPS / $MAKES" | bc)x zip -9"
echo "size: package / zip = $(echo "scale=4; $PACKB / $ZIPB" | bc), package / single-stream level 9 = $(echo "scale=4; $PACKB / $SINGB" | bc)"
