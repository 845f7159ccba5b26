#!/usr/bin/env python3
# Independent view of a PE file through python3-pefile, for the executable reader's tests.
# Prints "time N", "str KEY=VALUE" for the first version resource whose strings parse
# (tables in order, later keys win) and "icon W H" per RT_ICON name (first language) in
# ascending id order. Exit 2 when pefile is missing, 3 when the file is not a PE file.
# With a second argument, the largest icon image is also written there as a one-image
# .ico file, for ImageMagick to decode as a second oracle.
import struct
import sys

try:
    import pefile
except ImportError:
    sys.exit(2)

try:
    pe = pefile.PE(sys.argv[1])
except Exception:
    sys.exit(3)

print("time %d" % pe.FILE_HEADER.TimeDateStamp)
for fi in getattr(pe, "FileInfo", None) or []:
    for entry in fi:
        for table in getattr(entry, "StringTable", []):
            for k, v in table.entries.items():
                print("str %s=%s" % (k.decode("utf-8"), v.decode("utf-8").rstrip(" \0")))
    break

best = (0, 0, 0, b"")
if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != 3:
            continue
        for name in sorted(t.directory.entries, key=lambda e: e.id if e.id is not None else -1):
            lang = name.directory.entries[0].data.struct
            data = pe.get_memory_mapped_image()[lang.OffsetToData:lang.OffsetToData + lang.Size]
            if data[:8] == b"\x89PNG\r\n\x1a\n":
                w, h = struct.unpack(">II", data[16:24])
            else:
                w, h = struct.unpack("<ii", data[4:12])
                h //= 2
            print("icon %d %d" % (w, h))
            if len(sys.argv) > 2 and w * h > best[0]:
                best = (w * h, w, h, bytes(data))
    if len(sys.argv) > 2 and best[0]:
        _, w, h, data = best
        entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), 22)
        open(sys.argv[2], "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + data)
