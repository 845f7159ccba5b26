#!/usr/bin/env bash
# Regenerates the crafted Windows executables used by tests/propreader (committed, so the
# tests run without these tools). Needs imagemagick, binutils-mingw-w64-x86-64 and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
convert -size 48x48 gradient:red-blue -fill yellow -draw "circle 24,24 24,8" base.png
convert base.png -define icon:auto-resize=48,32,16 three.ico
convert -size 256x256 gradient:green-white -fill red -draw "rectangle 64,64 192,192" \
        -define icon:auto-resize=256 big.ico

cat > full.rc <<'RC'
1 ICON "three.ico"
1 VERSIONINFO
FILEVERSION 1,0,0,1
PRODUCTVERSION 2,5,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "Example Works"
      VALUE "FileDescription", "Crafted test program"
      VALUE "FileVersion", "1.0.0.1"
      VALUE "LegalCopyright", "(c) 2026 Example Works"
      VALUE "ProductName", "Crafted Product  "
      VALUE "ProductVersion", "2.5"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC

cat > descr.rc <<'RC'
1 VERSIONINFO
FILEVERSION 3,1,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "First Company"
      VALUE "FileDescription", "Only a description"
    END
    BLOCK "040704b0"
    BEGIN
      VALUE "CompanyName", "Second Company"
      VALUE "FileVersion", "3.1"
    END
  END
END
RC

printf '1 ICON "big.ico"\n' > big.rc

build() {  # name, link time (0 = none)
    x86_64-w64-mingw32-windres --preprocessor=cpp --preprocessor-arg=-P "$1.rc" -O coff -o "$1.o"
    x86_64-w64-mingw32-ld --no-insert-timestamp --entry=0 -s -o "$1.exe" "$1.o"
    # The file header's TimeDateStamp (at e_lfanew + 8).
    python3 - "$1.exe" "$2" <<'PY'
import struct, sys
p, t = sys.argv[1], int(sys.argv[2])
b = bytearray(open(p, 'rb').read())
lfanew = struct.unpack_from('<I', b, 60)[0]
struct.pack_into('<I', b, lfanew + 8, t)
open(p, 'wb').write(b)
PY
    cp "$1.exe" "$here/$1.exe"
}
build full 1600000000
build descr 0
build big 1700000000
