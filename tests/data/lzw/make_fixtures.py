#!/usr/bin/env python3
# Writes small uncompressed TIFFs, compresses them with `tiffcp -c lzw`, and saves each
# LZW strip (<name>.<n>.lzw) beside the plain pixels (<name>.raw); index.txt lists them.
import random, struct, subprocess, sys, os

def write_tiff(path, w, h, spp, pixels):
    # Little-endian TIFF, one uncompressed strip, 8 bits a sample.
    entries = []
    def e(tag, typ, count, value):
        entries.append((tag, typ, count, value))
    data_off = 8
    ifd_off = data_off + len(pixels)
    ifd_off += ifd_off & 1
    bps_off = None
    e(256, 3, 1, w)
    e(257, 3, 1, h)
    e(258, 3, spp, 8 if spp == 1 else None)
    e(259, 3, 1, 1)
    e(262, 3, 1, 1 if spp == 1 else 2)
    e(273, 4, 1, data_off)
    e(277, 3, 1, spp)
    e(278, 3, 1, h)
    e(279, 4, 1, len(pixels))
    extra_off = ifd_off + 2 + 12 * len(entries) + 4
    out = bytearray(b"II*\x00" + struct.pack("<I", ifd_off))
    out += pixels
    while len(out) < ifd_off:
        out += b"\x00"
    out += struct.pack("<H", len(entries))
    extra = bytearray()
    for tag, typ, count, value in entries:
        if value is None:  # BitsPerSample for several samples lives outside the entry
            value = extra_off + len(extra)
            extra += struct.pack("<" + "H" * count, *([8] * count))
            out += struct.pack("<HHII", tag, typ, count, value)
        elif typ == 3:
            out += struct.pack("<HHIHH", tag, typ, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, typ, count, value)
    out += struct.pack("<I", 0)
    out += extra
    open(path, "wb").write(out)

def read_strips(path):
    d = open(path, "rb").read()
    assert d[:4] == b"II*\x00"
    ifd = struct.unpack_from("<I", d, 4)[0]
    n = struct.unpack_from("<H", d, ifd)[0]
    tags = {}
    for i in range(n):
        tag, typ, count = struct.unpack_from("<HHI", d, ifd + 2 + 12 * i)
        size = {3: 2, 4: 4}[typ] * count
        voff = ifd + 2 + 12 * i + 8
        if size > 4:
            voff = struct.unpack_from("<I", d, voff)[0]
        fmt = "<" + ("H" if typ == 3 else "I") * count
        tags[tag] = struct.unpack_from(fmt, d, voff)
    assert tags[259][0] == 5, "not LZW"
    return [d[o:o + c] for o, c in zip(tags[273], tags[279])]

def make(name, w, h, spp, rows, pixels, index):
    plain = name + ".plain.tif"
    lzw = name + ".lzw.tif"
    write_tiff(plain, w, h, spp, pixels)
    subprocess.check_call(["tiffcp", "-c", "lzw", "-r", str(rows), plain, lzw])
    strips = read_strips(lzw)
    open(name + ".raw", "wb").write(pixels)
    for i, s in enumerate(strips):
        open("%s.%d.lzw" % (name, i), "wb").write(s)
    index.append("%s %d %d %d %d %d" % (name, w, h, spp, rows, len(strips)))
    os.remove(plain)
    os.remove(lzw)

random.seed(1)
index = []
# A smooth gradient: long repeated strings, few codes.
make("gradient", 64, 64, 1, 64, bytes(((x + y) // 2) & 255 for y in range(64) for x in range(64)), index)
# Noise over four grey levels: the table fills and clear codes follow.
make("levels", 128, 128, 1, 128, bytes(random.choice((0, 85, 170, 255)) for _ in range(128 * 128)), index)
# RGB noise: nearly every code a literal, the table fills three times.
make("noise", 64, 64, 3, 64, bytes(random.randrange(256) for _ in range(64 * 64 * 3)), index)
# Several strips, the last one shorter.
make("strips", 40, 50, 3, 16, bytes((x * 5 + y * 3 + c * 40) & 255 for y in range(50) for x in range(40) for c in range(3)), index)
open("index.txt", "w").write("\n".join(index) + "\n")
