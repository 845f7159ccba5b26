#!/usr/bin/env python3
"""Times whole processes side by side, the way every bench/*.sh script compares us with a peer.

Each command runs RUNS times, the commands interleaved (A B C A B C ...) so that drift of the
machine hits all of them alike, each under /usr/bin/time -v for its peak resident memory. The
wall time is taken around the process here; both sides pay the same fork, exec and timer cost.
Prints per command the median and minimum wall time, the median CPU time (user + system, from
the children's resource usage; steadier than wall time on a busy machine) and the peak memory,
then the ratios of each command to the first (ours / peer when the first is the peer), and the
machine's load average before and after the runs (figures from a busy machine are noisier).

Usage: fairtime.py RUNS 'label=command line' ['label=command line' ...]
A command's standard output goes to /dev/null unless the command line redirects it itself
(then give it as 'label=sh -c "..."'). FAIRTIME_PREP, when set, is a shell command run before
every run, untimed (to empty an output folder, say).

Last comes one verdict line per command after the first: its ratios to the first (median wall
time and CPU time), the peak memory of both, and whether the outputs matched, as the calling
script found when it checked them (FAIRTIME_MATCH, e.g. "yes" or "NO: 12 bytes differ"; "not
checked" when unset; FAIRTIME_MATCH_<label> for one command); FAIRTIME_CASE names the case.
"""
import os
import resource
import shlex
import statistics
import subprocess
import sys
import tempfile
import time

TIME = "/usr/bin/time"


def cpu_seconds():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def run_once(argv, log):
    prep = os.environ.get("FAIRTIME_PREP")
    if prep:
        subprocess.run(["/bin/sh", "-c", prep], check=True)
    c0 = cpu_seconds()
    t0 = time.perf_counter()
    r = subprocess.run([TIME, "-v", "-o", log] + argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    dt = time.perf_counter() - t0
    cpu = cpu_seconds() - c0
    if r.returncode != 0:
        sys.stderr.write("failed (%d): %s\n%s" % (r.returncode, " ".join(argv), r.stderr.decode(errors="replace")))
        sys.exit(1)
    kib = 0
    with open(log) as f:
        for line in f:
            if "Maximum resident set size" in line:
                kib = int(line.rsplit(":", 1)[1])
    return dt, cpu, kib


def load_line():
    return "%.2f %.2f %.2f" % os.getloadavg()


def main():
    if len(sys.argv) < 3 or not os.access(TIME, os.X_OK):
        sys.stderr.write(__doc__)
        sys.exit(2)
    runs = int(sys.argv[1])
    cmds = []
    for spec in sys.argv[2:]:
        label, _, line = spec.partition("=")
        cmds.append((label, shlex.split(line)))
    times = {label: [] for label, _ in cmds}
    cpus = {label: [] for label, _ in cmds}
    peak = {label: 0 for label, _ in cmds}
    load_before = load_line()
    fd, log = tempfile.mkstemp()
    os.close(fd)
    try:
        # One untimed round warms the page cache and the binaries.
        for label, argv in cmds:
            run_once(argv, log)
        for _ in range(runs):
            for label, argv in cmds:
                dt, cpu, kib = run_once(argv, log)
                times[label].append(dt)
                cpus[label].append(cpu)
                peak[label] = max(peak[label], kib)
    finally:
        os.unlink(log)
    first = cmds[0][0]
    base_med = statistics.median(times[first])
    base_min = min(times[first])
    base_cpu = statistics.median(cpus[first])
    width = max(len(label) for label, _ in cmds)
    for label, _ in cmds:
        med, low, cpu = statistics.median(times[label]), min(times[label]), statistics.median(cpus[label])
        print("  %-*s  median %7.1f ms  min %7.1f ms  cpu %7.1f ms  peak %7.1f MiB  ratio to %s: %.2f median, %.2f min, %.2f cpu"
              % (width, label, med * 1000, low * 1000, cpu * 1000, peak[label] / 1024.0, first, med / base_med,
                 low / base_min, cpu / base_cpu if base_cpu else 0.0))
    print("  machine load (1/5/15 min, %d CPUs): %s before, %s after" % (os.cpu_count() or 0, load_before, load_line()))
    case = os.environ.get("FAIRTIME_CASE", "")
    for label, _ in cmds[1:]:
        match = os.environ.get("FAIRTIME_MATCH_" + label, os.environ.get("FAIRTIME_MATCH", "not checked"))
        med, cpu = statistics.median(times[label]), statistics.median(cpus[label])
        print("verdict%s: %s / %s  time %.2f  cpu %.2f  peak %.1f MiB against %.1f MiB  outputs matched: %s"
              % (" " + case if case else "", label, first, med / base_med, cpu / base_cpu if base_cpu else 0.0,
                 peak[label] / 1024.0, peak[first] / 1024.0, match))


if __name__ == "__main__":
    main()
