#!/bin/sh
# Installing the package of a 512 MiB tree of mixed text and binary files against
# `unzip` of a zip of the same tree, in one run, each in a fresh target: wall time and
# peak memory (/usr/bin/time -v) of the whole process, and their ratios.
#   bench/bench_install.sh [program]   (default: build/softmgr, a Release build)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PROG=${1:-$ROOT/build/softmgr}
MIB=${PKGBENCH_MIB:-512}
[ -x "$PROG" ] || { echo "no program at $PROG (bash scripts/build.sh first)"; exit 1; }
for tool in zip unzip python3 bc; do
    command -v $tool >/dev/null || { echo "$tool not installed"; exit 1; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time not installed (apt-get install time)"; exit 1; }

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
mkdir -p "$WORK/h1" "$WORK/unz"
(cd "$WORK" && HOME="$WORK/h1" "$PROG" make scenario.txt "$WORK/Bench.app" >/dev/null)
echo "zip -r ..."
(cd "$WORK" && zip -q -r tree.zip tree)
sync

measure() {  # label, command...: prints "<label> <seconds> <peak KiB>"
    label=$1
    shift
    /usr/bin/time -v "$@" 2>"$WORK/time.txt" >/dev/null || { cat "$WORK/time.txt"; exit 1; }
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/time.txt" |
        awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt")
    echo "$label $wall $rss"
}
INST=$(measure install env HOME="$WORK/h1" "$PROG" install "$WORK/Bench.app/Contents/Resources/scenario.data")
rm -rf "$WORK/h1/Applications/Bench"
sync
UNZ=$(measure unzip unzip -q "$WORK/tree.zip" -d "$WORK/unz")
echo "$INST" | awk '{ printf "install: %.2f s, peak %d MiB\n", $2, $3 / 1024 }'
echo "$UNZ" | awk '{ printf "unzip:   %.2f s, peak %d MiB\n", $2, $3 / 1024 }'
echo "$INST $UNZ" | awk '{ printf "time install / unzip = %.2f, peak memory install / unzip = %.1f\n", $2 / $5, $3 / $6 }'
