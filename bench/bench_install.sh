#!/bin/sh
# Installing the package of a generated tree of mixed text and binary files against
# /usr/bin/unzip of a zip of the same tree, each run into a fresh target (the target is
# removed between runs, untimed), runs interleaved: median and minimum wall time and peak
# memory (/usr/bin/time) of the whole process, and the ratios ours / unzip. The install
# side is build/pkginstall: the installer's checks and installation job without windows.
#   bench/bench_install.sh [build-dir]   (default build-bench, configured Release with QMX_BENCH)
#   PKGBENCH_MIB=2048 for a larger tree (default 512); RUNS=n (default 3)
set -eu
# The machine's load beside the figures: figures from a busy machine are noisier.
echo "machine load before: $(uptime)"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
MIB=${PKGBENCH_MIB:-512}
RUNS=${RUNS:-3}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target softmgr_devbundle pkginstall -j3 >/dev/null
PROG=$BUILD/SoftManager.app/Contents/MacOS/softmgr
for tool in /usr/bin/zip /usr/bin/unzip /usr/bin/python3 /usr/bin/time; do
    [ -x $tool ] || { echo "$tool not installed"; exit 1; }
done

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
    if kind < 4:
        data = ' '.join(rnd.choice(words) for _ in range(size // 6)).encode()[:size]
        name = 'f%05d.txt' % i
    elif kind < 8:
        at = rnd.randrange(0, max(1, len(libblob) - size))
        data = libblob[at:at + size]
        name = 'f%05d.so' % i
    else:
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
codename = "bench.install"
name = "Bench"
version = "1.0"
eula = "$WORK/eula.idx"
[Install]
"$WORK/tree" = \$pgm ""
TXT
echo "make ..."
mkdir -p "$WORK/h1"
(cd "$WORK" && HOME="$WORK/h1" "$PROG" make scenario.txt "$WORK/Bench.app" >/dev/null)
echo "zip -r ..."
(cd "$WORK" && /usr/bin/zip -q -r tree.zip tree)
rm -rf "$WORK/tree"
sync

: >"$WORK/results"
for r in $(seq "$RUNS"); do
    rm -rf "$WORK/h1/Applications" "$WORK/h1/.qmx" "$WORK/unz"
    HOME="$WORK/h1" /usr/bin/time -f "install %e %M" -a -o "$WORK/results" "$BUILD/pkginstall" \
        "$WORK/Bench.app/Contents/Resources/scenario.data" "$WORK/h1/Applications/Bench" "$PROG"
    mkdir -p "$WORK/unz"
    /usr/bin/time -f "unzip %e %M" -a -o "$WORK/results" /usr/bin/unzip -q "$WORK/tree.zip" -d "$WORK/unz"
done
/usr/bin/python3 - "$WORK/results" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, sec, kb = line.split()
    rows.setdefault(name, []).append((float(sec), int(kb)))
fig = {n: (statistics.median(s for s, _ in v), min(s for s, _ in v), max(k for _, k in v) / 1024) for n, v in rows.items()}
for n in ("install", "unzip"):
    print("%-8s median %7.2f s  min %7.2f s  peak %8.1f MiB" % ((n,) + fig[n]))
i, u = fig["install"], fig["unzip"]
print("install / unzip: time %.2f (min %.2f), peak memory %.1f" % (i[0] / u[0], i[1] / u[1], i[2] / u[2]))
PY
echo "machine load after: $(uptime)"
