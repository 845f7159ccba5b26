#!/usr/bin/env bash
# Installs the Debian packages that are missing, by group:
#   scripts/setup.sh          what building and running the program need (run-example.sh)
#   scripts/setup.sh test     that, and the tests' compilers, libraries, oracles and the
#                             benchmark peers (test.sh, .ci/run)
# Idempotent: only missing packages are installed. To add a package, add it to its group.
set -euo pipefail

# Building and running: compilers, CMake, the linked libraries, the fonts the UI draws
# with, and python3 (the build generates the language tables and the icon with it).
build_packages=(
  build-essential cmake ninja-build pkg-config python3
  zlib1g-dev libdeflate-dev libfreetype-dev libfontconfig-dev libx11-dev libxext-dev libxss-dev
  fonts-dejavu-core fonts-wqy-microhei fonts-noto-cjk
)

# Tests, fuzzing and benchmarks: never linked into the program.
test_packages=(
  # test and benchmark libraries; clang for the fuzz targets
  libgtest-dev libgmock-dev libbenchmark-dev clang
  # test oracles
  openssl coreutils libjpeg-turbo-progs netpbm libtiff-tools libopenjp2-tools jbig2dec
  dcmtk dcraw libraw-bin imagemagick xvfb xdotool openbox xclip unzip zip desktop-file-utils x11-common liblnk-utils
  # Windows executables: real ones, a resource compiler and linker for crafted ones, a PE oracle
  nsis-common binutils-mingw-w64-x86-64 python3-pefile
  # the sources of the Turkish locales the tests compile with localedef
  locales
  # benchmark peers (bench/)
  pigz time util-linux
)

case "${1:-build}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [build|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
