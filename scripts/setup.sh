#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the test oracles need.
# Idempotent: only missing packages are installed.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libdeflate-dev libfreetype-dev libfontconfig-dev libx11-dev
  fonts-dejavu-core fonts-wqy-microhei fonts-noto-cjk
  libxext-dev libxss-dev
  # test oracles (never linked)
  python3 openssl coreutils libjpeg-turbo-progs netpbm libtiff-tools libopenjp2-tools jbig2dec
  dcmtk dcraw libraw-bin imagemagick xvfb xdotool xclip unzip zip desktop-file-utils x11-common liblnk-utils
  # Windows executables: real ones, a resource compiler and linker for crafted ones, a PE oracle
  nsis-common binutils-mingw-w64-x86-64 python3-pefile
  # benchmark peers (bench/, never linked)
  pigz time util-linux
)

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
