#!/bin/sh
# Frame times of the X11 window maker on a private Xvfb: a full 800x600 repaint presented
# against presenting alone (XPutImage or MIT-SHM, the floor), through MIT-SHM and through
# plain XPutImage; and a form of 2,000 nested elements painted in place against an
# offscreen canvas per element. Prints the ratios and the peak memory of each run.
set -e
# The machine's load beside the figures: figures from a busy machine are noisier.
echo "machine load before: $(uptime)"
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DQMX_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_x11 -j3 >/dev/null
work=$(mktemp -d)
fifo=$work/displayfd
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null; rm -rf "$work"' EXIT
read -r n <"$fifo"
export DISPLAY=":$n"
run() {
    /usr/bin/time -v "$build/bench_x11" --benchmark_min_time=1 --benchmark_format=csv "$@" 2>"$work/time" >"$work/out"
    grep -E '^"' "$work/out" | awk -F, '{ gsub(/"/, "", $1); printf "  %-40s %10.3f ms\n", $1, $3 }'
    echo "  peak memory: $(grep 'Maximum resident' "$work/time" | awk '{ print $NF }') kB"
}
for mode in shm putimage; do
    if [ $mode = putimage ]; then export QMX_X11_NOSHM=1; else unset QMX_X11_NOSHM; fi
    echo "present through $mode:"
    run --benchmark_filter='X11'
    awk -F, '/RepaintAndPresent/ { a = $3 } /PresentOnly/ { b = $3 } END { printf "  ratio (repaint+present / present alone): %.2f\n", a / b }' "$work/out"
done
unset QMX_X11_NOSHM
echo "painting 2,000 nested elements (headless canvas):"
"$build/bench_x11" --benchmark_min_time=1 --benchmark_filter='Paint2000' --benchmark_counters_tabular=true 2>/dev/null | grep -E 'Paint2000|allocs'
for f in InPlace OffscreenPerElement; do
    /usr/bin/time -v "$build/bench_x11" --benchmark_min_time=1 --benchmark_filter="Paint2000$f" >/dev/null 2>"$work/time"
    echo "  peak memory, $f: $(grep 'Maximum resident' "$work/time" | awk '{ print $NF }') kB"
done
echo "machine load after: $(uptime)"
