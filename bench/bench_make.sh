#!/usr/bin/env bash
# Times "make" against `zip -9 -r` of the same payload, on the example package and on a
# generated 512 MiB tree, and "version" start-up (the whole process) against /bin/true.
# Prints each pair and its ratio. Not a test: nothing fails on slow figures.
#   bench/bench_make.sh [build-dir] [tree MiB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-512}
prog=$build/SoftManager.app/Contents/MacOS/softmgr
[ -x "$prog" ] || { echo "no staged program at $prog (build target softmgr_devbundle)" >&2; exit 1; }
command -v zip >/dev/null || { echo "zip is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"

now() { date +%s.%N; }
ratio() { python3 -c "import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print('%.2f' % (a/b if b else 0))" "$1" "$2"; }

# --- the example package ---
t0=$(now)
(cd "$root/examples/hello" && "$prog" make scenario.txt "$work/Hello.app" >/dev/null)
t1=$(now)
(cd "$root/examples/hello" && zip -9 -r -q "$work/hello.zip" app docs)
t2=$(now)
mk=$(echo "$t1 - $t0" | bc); zp=$(echo "$t2 - $t1" | bc)
echo "example: make ${mk}s, zip -9 -r ${zp}s, ratio $(ratio "$mk" "$zp")"

# --- a generated tree: half random bytes, half text, in 8 MiB files ---
tree=$work/tree
mkdir -p "$tree/random" "$tree/text"
files=$((mib / 8))
python3 - "$tree" "$files" <<'PY'
import os, random, sys
tree, files = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))) for _ in range(4000)]
size = 8 << 20
for i in range(files):
    if i % 2 == 0:
        with open(os.path.join(tree, "random", "r%03d.bin" % i), "wb") as f:
            f.write(os.urandom(size))
    else:
        out, n = [], 0
        while n < size:
            line = " ".join(rnd.choice(words) for _ in range(12)) + "\n"
            out.append(line)
            n += len(line)
        with open(os.path.join(tree, "text", "t%03d.txt" % i), "w") as f:
            f.write("".join(out)[:size])
PY
mkdir -p "$work/doc"
echo '<text>Bench licence.</text>' > "$work/doc/eula_en.txt"
echo 'ENG = "./eula_en.txt"' > "$work/doc/eula.idx"
cat > "$work/bench.txt" <<EOS
[General]
langs = ENG
[Software]
codename = "org.qmx.bench"
name = "Bench"
version = "1.0"
eula = "$work/doc/eula.idx"
[Install]
"$tree" = \$pgm "tree"
EOS
sync
t0=$(now)
"$prog" make "$work/bench.txt" "$work/Bench.app" >/dev/null
t1=$(now)
(cd "$work" && zip -9 -r -q "$work/tree.zip" tree)
t2=$(now)
mk=$(echo "$t1 - $t0" | bc); zp=$(echo "$t2 - $t1" | bc)
ds=$(stat -c %s "$work/Bench.app/Contents/Resources/scenario.data"); zs=$(stat -c %s "$work/tree.zip")
echo "${mib} MiB tree: make ${mk}s (${ds} bytes), zip -9 -r ${zp}s (${zs} bytes), time ratio $(ratio "$mk" "$zp")"

# --- "version" start-up against /bin/true ---
runs=200
t0=$(now)
for _ in $(seq $runs); do "$prog" version >/dev/null; done
t1=$(now)
for _ in $(seq $runs); do /bin/true; done
t2=$(now)
v=$(echo "($t1 - $t0) * 1000 / $runs" | bc -l); t=$(echo "($t2 - $t1) * 1000 / $runs" | bc -l)
printf 'version start-up: %.3f ms, /bin/true %.3f ms, ratio %s\n' "$v" "$t" "$(ratio "$v" "$t")"
