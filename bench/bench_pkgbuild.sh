#!/usr/bin/env bash
# Building a package from a 512 MiB tree of text, executable bytes and random data, as
# whole processes with their peak memory: "make" against tar | pigz -9 at the same thread
# count and, pinned to one CPU, against zip -9 -r; the data file's size against
# tar | gzip -9. The measuring is bench_make.sh's; this is its 512 MiB case.
#   bench/bench_pkgbuild.sh [build-dir] [runs]      (PKGBENCH_MIB to change the size)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mib=${PKGBENCH_MIB:-512}
PAYLOADS="mixed$mib" ONECPU="mixed$mib" GZIPSIZE=1 exec bash "$here/bench_make.sh" "$@"
