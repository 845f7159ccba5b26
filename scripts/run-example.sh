#!/usr/bin/env bash
# Sets up the machine (only what building and running need), builds the program and runs
# its main job on the bundled example.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
BUILD_DIR=$root/build bash "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=Release -DQMX_TESTS=OFF
"$root/build/softmgr" version
# Build the example package's installer bundle from the example's folder (its paths are
# relative). build/softmgr is a link to the staged development bundle's program, whose
# icon "make" copies into the installer.
mkdir -p "$root/out"
cd "$root/examples/hello"
"$root/build/softmgr" make scenario.txt "$root/out/HelloTool.app"
