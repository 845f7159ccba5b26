#!/usr/bin/env python3
"""Writes the hand-made seed files of fuzz/corpus/ (small valid inputs of each format that
the repository has no sample of), and each target's long seed (long_*, several KiB, read to its
end). Run from anywhere; the files are committed, so run it only to change them:
python3 fuzz/make_seeds.py
"""
import hashlib
import io
import os
import struct
import sys
import zipfile
import zlib

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tools"))
import langgen  # noqa: E402
from seedwriters import (AC_SYMBOLS, ZIGZAG, BitWriter, aligned, dicom_element, fdct, generic_template0,  # noqa: E402
                         gif_lzw, gif_unlzw, gradient, j2k_parts, jpeg_block, lossless_jpeg, noise, packbits,
                         png_chunk, png_filter, tiff_pages, version_node)

corpus = os.path.join(root, "fuzz", "corpus")


def put(target, name, data):
    folder = os.path.join(corpus, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


# A 6 x 4 picture with a few colours, as rows of (r, g, b).
W, H = 6, 4
PIXELS = [[((x * 51) & 255, (y * 85) & 255, ((x + y) * 40) & 255) for x in range(W)] for y in range(H)]
PALETTE = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]
INDEXES = [[(x + y) % 4 for x in range(W)] for y in range(H)]


def rle_runs(row, limit):
    """Splits a row into (count, value) runs of at most `limit`."""
    runs, i = [], 0
    while i < len(row):
        n = 1
        while i + n < len(row) and row[i + n] == row[i] and n < limit:
            n += 1
        runs.append((n, row[i]))
        i += n
    return runs


# ---- TGA: true colour, run-length true colour (bottom-up), colour-mapped, grey
def tga(kind, depth, body, cmap=b"", cmap_depth=0, descriptor=0x20):
    head = struct.pack("<BBBHHBHHHHBB", 0, 1 if cmap else 0, kind, 0, len(cmap) // max(cmap_depth // 8, 1),
                       cmap_depth, 0, 0, W, H, depth, descriptor)
    return head + cmap + body


put("fuzz_tga", "rgb24.tga", tga(2, 24, b"".join(bytes((b, g, r)) for row in PIXELS for r, g, b in row)))
rle = b""
for row in reversed(PIXELS):
    for n, (r, g, b) in rle_runs([(r // 64 * 64, g, b) for r, g, b in row], 128):
        rle += bytes((0x80 | (n - 1), b, g, r))
put("fuzz_tga", "rle24_bottomup.tga", tga(10, 24, rle, descriptor=0))
put("fuzz_tga", "pal8.tga", tga(1, 8, bytes(i for row in INDEXES for i in row),
                                  b"".join(bytes((b, g, r)) for r, g, b in PALETTE), 24))
put("fuzz_tga", "grey8.tga", tga(3, 8, bytes(r for row in PIXELS for r, _, _ in row)))
put("fuzz_tga", "rgba32.tga", tga(2, 32, b"".join(bytes((b, g, r, 200)) for row in PIXELS for r, g, b in row),
                                    descriptor=0x28))


# ---- PCX: 24-bit in three planes, 8-bit with a 256-entry palette, 1-bit
def pcx_rle(data):
    out = b""
    for n, v in rle_runs(list(data), 63):
        out += bytes((v,)) if n == 1 and v < 0xC0 else bytes((0xC0 | n, v))
    return out


def pcx(bits, planes, rows, palette16=b"", tail=b""):
    line = (W * bits + 7) // 8
    line += line & 1
    head = struct.pack("<BBBBHHHHHH", 10, 5, 1, bits, 0, 0, W - 1, H - 1, 72, 72)
    head += palette16.ljust(48, b"\0") + bytes((0, planes)) + struct.pack("<HH", line, 1)
    head = head.ljust(128, b"\0")
    body = b"".join(pcx_rle(b"".join(plane.ljust(line, b"\0") for plane in row)) for row in rows)
    return head + body + tail


put("fuzz_pcx", "rgb24.pcx", pcx(8, 3, [[bytes(p[c] for p in row) for c in range(3)] for row in PIXELS]))
put("fuzz_pcx", "pal8.pcx", pcx(8, 1, [[bytes(row)] for row in INDEXES],
                                tail=b"\x0c" + b"".join(bytes(c) for c in PALETTE).ljust(768, b"\0")))
put("fuzz_pcx", "mono1.pcx", pcx(1, 1, [[bytes((0b10110100 >> (y & 1),))] for y in range(H)],
                                 b"\0\0\0\xff\xff\xff"))


# ---- DIB: an info header and its pixels, no file header (24-bit, 8-bit palette, 4-bit RLE)
def dib(bits, pixels, palette=b"", compression=0, height=H, size=0):
    head = struct.pack("<IiiHHIIiiII", 40, W, height, 1, bits, compression, size or len(pixels), 2835, 2835,
                       len(palette) // 4, 0)
    return head + palette + pixels


def rows24(rows):
    out = b""
    for row in rows:
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        out += line + b"\0" * (-len(line) % 4)
    return out


put("fuzz_dib", "rgb24.dib", dib(24, rows24(reversed(PIXELS))))
put("fuzz_dib", "rgb24_topdown.dib", dib(24, rows24(PIXELS), height=-H))
pal = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
put("fuzz_dib", "pal8.dib", dib(8, b"".join(bytes(row).ljust(8, b"\0") for row in reversed(INDEXES)), pal))
rle8 = b"".join(b"".join(bytes((n, v)) for n, v in rle_runs(row, 255)) + b"\0\0" for row in reversed(INDEXES))
put("fuzz_dib", "rle8.dib", dib(8, rle8[:-2] + b"\0\1", pal, compression=1))
rle4 = b""
for row in reversed(INDEXES):
    rle4 += b"".join(bytes((n, (v << 4) | v)) for n, v in rle_runs(row, 255)) + b"\0\0"
put("fuzz_dib", "rle4.dib", dib(4, rle4[:-2] + b"\0\1", pal, compression=2))
masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
px16 = b"".join(b"".join(struct.pack("<H", ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)) for r, g, b in row)
                for row in reversed(PIXELS))
put("fuzz_dib", "bitfields16.dib", dib(16, masks + px16, compression=3))


# ---- EXIF: a TIFF stream with the main, Exif, GPS, interoperability and thumbnail directories
def tiff_stream(big_endian, dirs, extra=b""):
    """dirs: list of lists of (tag, type, count, value bytes or ('dir', i) or ('extra', at)).
    Directory 0 is the first; ('next', i) in a list links to directory i."""
    e = ">" if big_endian else "<"
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 10: 8}
    # Lay out: header, then each directory followed by its out-of-line values.
    at = 8
    places = []
    for d in dirs:
        entries = [x for x in d if x[0] != "next"]
        places.append(at)
        at += 2 + 12 * len(entries) + 4
        for tag, typ, count, val in entries:
            if isinstance(val, bytes) and len(val) > 4:
                at += len(val) + (len(val) & 1)
    extra_at = at
    out = (b"MM" if big_endian else b"II") + struct.pack(e + "HI", 42, 8)
    for i, d in enumerate(dirs):
        entries = [x for x in d if x[0] != "next"]
        nxt = [x[1] for x in d if x[0] == "next"]
        tail_at = places[i] + 2 + 12 * len(entries) + 4
        body, tail = struct.pack(e + "H", len(entries)), b""
        for tag, typ, count, val in entries:
            if isinstance(val, tuple):
                val = struct.pack(e + "I", places[val[1]] if val[0] == "dir" else extra_at + val[1])
            if len(val) > 4:
                body += struct.pack(e + "HHII", tag, typ, count, tail_at + len(tail))
                tail += val + b"\0" * (len(val) & 1)
            else:
                body += struct.pack(e + "HHI", tag, typ, count) + val.ljust(4, b"\0")
        body += struct.pack(e + "I", places[nxt[0]] if nxt else 0)
        out += body + tail
    return out + extra


def exif(big_endian, thumb=None):
    e = ">" if big_endian else "<"

    def rat(*pairs):
        return b"".join(struct.pack(e + "II", a, b) for a, b in pairs)

    def short(v):
        return struct.pack(e + "H", v)

    def long_(v):
        return struct.pack(e + "I", v)

    if thumb is None:
        thumb = open(os.path.join(root, "tests/data/picts/jpeg/grey.jpg"), "rb").read()
    ifd0 = [(0x10F, 2, 6, b"Maker\0"), (0x110, 2, 9, b"Model 12\0"), (0x112, 3, 1, short(6)),
            (0x11A, 5, 1, rat((72, 1))), (0x132, 2, 20, b"2026:12:08 07:33:22\0"),
            (0x8769, 4, 1, ("dir", 1)), (0x8825, 4, 1, ("dir", 2)), ("next", 4)]
    exif_ifd = [(0x829A, 5, 1, rat((1, 250))), (0x829D, 5, 1, rat((28, 10))), (0x8827, 3, 1, short(400)),
                (0x9000, 7, 4, b"0230"), (0x9003, 2, 20, b"2026:12:08 07:33:22\0"), (0x920A, 5, 1, rat((50, 1))),
                (0xA002, 4, 1, long_(6)), (0xA003, 4, 1, long_(4)), (0xA005, 4, 1, ("dir", 3))]
    gps = [(0, 1, 4, bytes((2, 3, 0, 0))), (1, 2, 2, b"N\0"), (2, 5, 3, rat((48, 1), (8, 1), (3030, 100))),
           (3, 2, 2, b"E\0"), (4, 5, 3, rat((11, 1), (34, 1), (1, 1))), (5, 1, 1, b"\0"), (6, 5, 1, rat((520, 1)))]
    interop = [(1, 2, 4, b"R98\0"), (2, 7, 4, b"0100")]
    ifd1 = [(0x103, 3, 1, short(6)), (0x201, 4, 1, ("extra", 0)), (0x202, 4, 1, long_(len(thumb)))]
    return tiff_stream(big_endian, [ifd0, exif_ifd, gps, interop, ifd1], thumb)


put("fuzz_exif", "exif_le.tif", exif(False))
put("fuzz_exif", "exif_be.tif", exif(True))


def res8bim(ident, name, data):
    pname = bytes((len(name),)) + name
    pname += b"\0" * (len(pname) & 1)
    return b"8BIM" + struct.pack(">H", ident) + pname + struct.pack(">I", len(data)) + data + b"\0" * (len(data) & 1)


iptc = b"\x1c\x02\x00\x00\x02\x00\x04" + b"\x1c\x02\x78\x00\x05Hello" + b"\x1c\x02\x19\x00\x03key"
put("fuzz_exif", "resources.8bim", res8bim(0x0404, b"", iptc) + res8bim(0x03ED, b"", struct.pack(">IHHIHH", 72 << 16, 1, 1, 72 << 16, 1, 1))
    + res8bim(0x0409, b"thumb", b"\0" * 28) + res8bim(0x0422, b"", exif(True)))


# ---- HTTP answers: the first byte picks the size of the pieces the parser is fed
put("fuzz_http_response", "length", b"\x07HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n"
    b"Connection: keep-alive\r\n\r\nhello, world")
put("fuzz_http_response", "chunked", b"\x03HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
    b"5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\nX-Trailer: 1\r\n\r\n")
put("fuzz_http_response", "until_close", b"\xffHTTP/1.0 200 OK\r\nServer: test\r\n\r\nbody until the close")
put("fuzz_http_response", "redirect", b"\x10HTTP/1.1 302 Found\r\nLocation: http://example.org/updates/x.app\r\n"
    b"Content-Length: 0\r\n\r\n")
put("fuzz_http_response", "continue_then_ok", b"\x00HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 Partial Content\r\n"
    b"Content-Range: bytes 10-14/20\r\ncontent-length: 5\r\n\r\n01234")
put("fuzz_http_response", "not_modified", b"\x20HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n\r\n")
put("fuzz_http_response", "folded_headers", b"\x05HTTP/1.1 404 Not Found\nContent-Length: 3\nX-Long: a\n b\n\nnop")


# ---- zlib and raw deflate streams: stored, fixed and dynamic blocks
TEXT = (b"The installer copies every file, keeps a backup and rolls back on failure. " * 6
        + bytes(range(256)))


def deflate(data, level, wbits):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    return c.compress(data) + c.flush()


put("fuzz_inflate", "zlib_dynamic", deflate(TEXT, 9, 15))
put("fuzz_inflate", "zlib_stored", deflate(TEXT[:300], 0, 15))
put("fuzz_inflate", "zlib_fixed", deflate(b"abcabcabcabcxyz" * 4, 1, 15))
# Raw deflate behind a first byte with its low bit set (the chunked pass reads it raw).
put("fuzz_inflate", "raw_dynamic", b"\x01" + deflate(TEXT, 6, -15))
# A zlib stream cut after a sync flush: its blocks end, the stream does not.
flushed = zlib.compressobj(6)
put("fuzz_inflate", "zlib_flushed", flushed.compress(TEXT[:200]) + flushed.flush(zlib.Z_SYNC_FLUSH))

# The inflating stream: 8 steering bytes, the announced-size byte, then a zlib stream.
put("fuzz_zstream", "dynamic", bytes((0, 200, 17, 255, 3, 90, 1, 128, 5)) + deflate(TEXT * 4, 9, 15))
put("fuzz_zstream", "stored", bytes((255, 0, 128, 64, 32, 16, 8, 4, 2)) + deflate(TEXT, 0, 15))
put("fuzz_zstream", "fixed", bytes((10, 20, 30, 40, 50, 60, 70, 80, 1)) + deflate(b"0123456789" * 40, 1, 15))


# ---- UTF-8: several scripts, four-byte forms, and damage to repair
put("fuzz_utf8", "mixed", "Größe: 5 € — サイズ、ハロー ツール; 𝄞 😀 Ωmega ∑ ١٢٣ 한국어\n".encode())
put("fuzz_utf8", "bounds", "\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010ffff".encode())
put("fuzz_utf8", "damaged", b"\x05ok \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82 \xff\xfe trail \xe3\x81")


# ---- Text lines: line ends of every kind, a byte order mark, a mount table
put("fuzz_textlines", "mixed_ends", b"\xef\xbb\xbffirst\r\nsecond\nthird\rfourth\r\n\r\n\nlast without end")
put("fuzz_textlines", "mounts", b"proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
    b"/dev/sda1 / ext4 rw,relatime 0 0\n/dev/sdb1 /media/user/USB\\040STICK vfat rw,uid=1000 0 0\n"
    b"tmpfs /run/user/1000 tmpfs rw,size=1620k,mode=700 0 0\n//server/share /mnt/share cifs rw 0 0\n"
    b"/dev/sr0 /media/cdrom iso9660 ro,nosuid 0 0\n")


# ---- Configuration hives: sections and values of every kind
def hive(records):
    body = b""
    for kind, path, data in records:
        body += bytes((kind,)) + struct.pack("<H", len(path)) + path
        if kind != 0x01:
            body += struct.pack("<I", len(data)) + data
    head = b"QMXC" + struct.pack("<HHIII", 1, 24, len(records), len(body), zlib.crc32(body))
    return head + struct.pack("<I", zlib.crc32(head)) + body


put("fuzz_hive", "all_kinds", hive([
    (0x01, b"window", b""), (0x01, b"window/main/geometry", b""),
    (0x11, b"window/maximised", b"\x01"), (0x12, b"window/main/geometry/width", struct.pack("<H", 640)),
    (0x14, b"window/main/geometry/height", struct.pack("<i", 480)),
    (0x18, b"installs/last", struct.pack("<q", 1796716402)),
    (0x20, b"general/language", b"DEU"), (0x20, b"general/empty", b""),
    (0x30, b"general/blob", bytes(range(20)))]))
put("fuzz_hive", "empty", hive([]))
put("fuzz_hive", "deep", hive([(0x01, b"/".join(b"s%d" % i for i in range(10)), b""),
                               (0x20, b"a/b/c/name", "Grüße".encode())]))


# ---- Language containers (and one unpacked table)
for src, name in (("DEU.txt", "deu.laci"), ("JPN.txt", "jpn.laci")):
    lang, sections = langgen.parse_file(os.path.join(root, "src/ui/lang", src))
    # Two sections keep the seed small.
    small = dict(list(sections.items())[:2])
    put("fuzz_langcontainer", name, langgen.pack(small, lang))
lang, sections = langgen.parse_file(os.path.join(root, "src/ui/lang/DEU.txt"))
small = dict(list(sections.items())[:1])
put("fuzz_langcontainer", "table", langgen.build_table(small))


# ---- Icons: pictures as info header, pixels and mask (24-bit, 32-bit, 8-bit, 1-bit), and a PNG
def icon_dib(bits, pixels, palette=b""):
    mask = bytes(4 * H)  # 1-bit rows of 6 pixels, padded to 4 bytes: all opaque
    return dib(bits, pixels + mask, palette, height=2 * H, size=len(pixels) + len(mask))


def ico(images, kind=1):
    out = struct.pack("<HHH", 0, kind, len(images))
    at = 6 + 16 * len(images)
    for w, h, colours, bits, data in images:
        hot = (bits, 2) if kind == 2 else (1, bits)
        out += struct.pack("<BBBBHHII", w & 255, h & 255, colours, 0, hot[0], hot[1], len(data), at)
        at += len(data)
    return out + b"".join(img[4] for img in images)


rgba = b"".join(b"".join(bytes((b, g, r, 255 - 30 * x)) for x, (r, g, b) in enumerate(row)) for row in reversed(PIXELS))
mono = b"".join(bytes((0b10101000 >> (y & 1),)) + b"\0\0\0" for y in range(H))
png = open(os.path.join(root, "tests/data/picts/png/pal4_trns.png"), "rb").read()
put("fuzz_ico", "multi.ico", ico([(W, H, 0, 24, icon_dib(24, rows24(reversed(PIXELS)))),
                                  (W, H, 0, 32, icon_dib(32, rgba)),
                                  (W, H, 4, 8, icon_dib(8, b"".join(bytes(r).ljust(8, b"\0")
                                                                    for r in reversed(INDEXES)), pal))]))
put("fuzz_ico", "mono.cur", ico([(W, H, 2, 1, icon_dib(1, mono, b"\0\0\0\0\xff\xff\xff\0"))], kind=2))
put("fuzz_ico", "png.ico", ico([(0, 0, 0, 32, png)]))


# ---- Installation journals of the older forms, and one that unregisters
put("fuzz_journal", "v1", "QMXINFLIGHT 1\nstate committed\nR /opt/a\nO /opt/b\nend 2\n")
put("fuzz_journal", "v2", "QMXINFLIGHT 2\nstate pending\nM /opt/p\nD /opt/p/sub\nN /opt/p/sub/f\nend 3\n")
put("fuzz_journal", "unregister", "QMXINFLIGHT 3\nstate pending\ncode org.example.tool\nunregister\n"
    "O /h/.local/share/x\nrec ver 65536\nrec lang 2\nrec utime 1796716402\nrec path /opt/t\n"
    "rec icon /opt/t/i.png\nend 8\n")
signed = "QMXINFLIGHT 4\nstate committed\nD /opt/t\nN /opt/t/f\ncode org.example.tool\nregister\nrec ver 65536\n" \
    "rec path /opt/t\nrec file /opt/t/f\nend 7\n"
put("fuzz_journal", "v4", signed + "sha256 " + hashlib.sha256(signed.encode()).hexdigest() + "\n")


# ---- More TGA forms: 16-bit, 15-bit colour map, run-length colour-mapped and grey, right to
# left, an image id
def tga_rle(values, width):
    out = b""
    for y in range(0, len(values), width):
        for n, v in rle_runs(values[y:y + width], 128):
            out += bytes((0x80 | (n - 1),)) + v if n > 1 else bytes((0,)) + v
    return out


px16 = [struct.pack("<H", 0x8000 | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)) for row in PIXELS for r, g, b in row]
put("fuzz_tga", "rgb16_rightleft.tga", tga(2, 16, b"".join(px16), descriptor=0x31))
cmap15 = b"".join(struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)) for r, g, b in PALETTE)
put("fuzz_tga", "rle_pal15.tga", tga(9, 8, tga_rle([bytes((i,)) for row in INDEXES for i in row], W), cmap15, 15))
put("fuzz_tga", "rle_grey.tga", tga(11, 8, tga_rle([bytes((r,)) for row in PIXELS for r, _, _ in row], W)))
with_id = bytearray(tga(2, 24, b"".join(bytes((b, g, r)) for row in PIXELS for r, g, b in row)))
with_id[0] = 5
put("fuzz_tga", "rgb24_id.tga", bytes(with_id[:18]) + b"image" + bytes(with_id[18:]))


# ---- More PCX forms: 16 colours in four planes, 2 and 4 bits a pixel, RGBA, uncompressed
def pcx_plain(bits, planes, rows, palette16=b""):
    data = bytearray(pcx(bits, planes, rows, palette16))
    data[2] = 0
    line = (W * bits + 7) // 8
    line += line & 1
    return bytes(data[:128]) + b"".join(b"".join(p.ljust(line, b"\0") for p in row) for row in rows)


ega = b"".join(bytes(((i & 1) * 255, (i >> 1 & 1) * 255, (i >> 2 & 1) * 170)) for i in range(16))


def bitplane(row, p):
    v = 0
    for x, i in enumerate(row):
        v |= ((i >> p) & 1) << (7 - x)
    return bytes((v,))


idx16 = [[(x * 3 + y) % 16 for x in range(W)] for y in range(H)]
put("fuzz_pcx", "ega4planes.pcx", pcx(1, 4, [[bitplane(row, p) for p in range(4)] for row in idx16], ega))
put("fuzz_pcx", "cga2.pcx", pcx(2, 1, [[bytes(((r[0] << 6) | (r[1] << 4) | (r[2] << 2) | r[3], (r[4] << 6) | (r[5] << 4)))]
                                      for r in INDEXES], ega))
put("fuzz_pcx", "pal4.pcx", pcx(4, 1, [[bytes(((r[i] << 4) | r[i + 1] for i in range(0, W, 2)))] for r in idx16], ega))
put("fuzz_pcx", "rgba32.pcx", pcx(8, 4, [[bytes(p[c] for p in row) for c in range(3)] + [bytes(range(100, 100 + W))]
                                         for row in PIXELS]))
put("fuzz_pcx", "rgb24_plain.pcx", pcx_plain(8, 3, [[bytes(p[c] for p in row) for c in range(3)] for row in PIXELS]))


# ---- Long seeds: one a target of several KiB, read to its end, whose last part takes paths its
# beginning does not (the last rows, strips, frames, records or a trailer). scripts/fuzz.sh
# compares each target's longest seed whole with its first 256 and 1024 bytes and its first half:
# a harness that cuts its input short reaches no further on it. The formats' writers are in
# fuzz/seedwriters.py.


# BMP: RLE8, bottom-up; the rows in runs, then in absolute runs, the last one a skip (delta)
# and the end of the bitmap.
def long_bmp():
    w, h = 64, 56
    pal = b"".join(bytes((i, 255 - i, (i * 7) & 255, 0)) for i in range(256))
    rows = [[(x // 4 * 16 + y) & 255 if y < h // 3 else noise(1, x * 131 + y)[0] for x in range(w)] for y in range(h)]
    codes = b""
    for y, row in enumerate(rows[:-1]):
        if y < h // 3:
            codes += b"".join(bytes((n, v)) for n, v in rle_runs(row, 255))
        else:
            codes += bytes((0, w)) + bytes(row)  # absolute: w bytes (even), no pad
        codes += b"\0\0"
    codes += bytes((0, 2, 8, 0)) + bytes((0, 16)) + bytes(rows[-1][8:24]) + b"\0\1"
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 1, len(codes), 2835, 2835, 256, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pal) + len(codes), 0, 0, 14 + len(info) + len(pal))
    return head + info + pal + codes


put("fuzz_bmp", "long_rle8.bmp", long_bmp())


# DIB: an icon's picture (the height given twice, the AND mask after the pixels), 8-bit run-length
# with 16 colours, bottom-up; the rows in runs, then in absolute runs, the last one a skip and the
# end of the bitmap; then the mask, transparent in its last rows.
def long_dib():
    w, h = 48, 86
    pal = b"".join(bytes((i * 16, 255 - i * 16, i * 8, 0)) for i in range(16))
    n = noise(w * h, 7)
    rows = [[(x // 6 + y) % 16 if y < h // 3 else n[y * w + x] % 16 for x in range(w)] for y in range(h)]
    codes = b""
    for y, row in enumerate(rows[:-1]):
        if y < h // 3:
            codes += b"".join(bytes((k, v)) for k, v in rle_runs(row, 255))
        else:
            codes += bytes((0, w)) + bytes(row)
        codes += b"\0\0"
    codes += bytes((0, 2, 4, 0)) + bytes((0, 8)) + bytes(rows[-1][4:12]) + b"\0\1"
    mask = b"".join(bytes(8) if y < h - 4 else b"\xf0\x0f\xff\x00\x3c\xc3\x00\xff" for y in range(h))
    head = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 8, 1, len(codes), 2835, 2835, 16, 0)
    return head + pal + codes + mask


put("fuzz_dib", "long_icon_rle8.dib", long_dib())


# ICO: a 16 x 16 4-bit entry, then a 34 x 34 PNG one (the largest, which is decoded) last; its
# alpha is opaque but in its last rows.
def long_ico():
    pal16 = b"".join(bytes((i * 16, 255 - i * 16, i * 8, 0)) for i in range(16))
    small = bytes(((x + y) % 16 << 4 | (x + y + 1) % 16) for y in range(16) for x in range(8)) + bytes(4 * 16)
    small = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, len(small), 0, 0, 16, 0) + pal16 + small
    raw = b"".join(b"\0" + bytes(v if i % 4 != 3 else 255 if y < 30 else 7 * (i // 4)
                                  for i, v in enumerate(noise(4 * 34, 11 + y))) for y in range(34))
    big = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 34, 34, 8, 6, 0, 0, 0)) \
        + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b"")
    out = struct.pack("<HHH", 0, 1, 2)
    at = 6 + 32
    for w, img, bits in ((16, small, 4), (34, big, 32)):
        out += struct.pack("<BBBBHHII", w, w, 16 if bits == 4 else 0, 0, 1, bits, len(img), at)
        at += len(img)
    return out + small + big


put("fuzz_ico", "long_png_last.ico", long_ico())


# TGA: run-length 32-bit with alpha, top-down; runs first, raw packets in the last rows, and
# only those rows not opaque.
def long_tga():
    w, h = 48, 37
    px = gradient(w, h, 5)
    body = b""
    for y, row in enumerate(px):
        if y < h // 2:
            for n, (r, g, b) in rle_runs([(r & 0xC0, g, b & 0xC0) for r, g, b in row], 128):
                body += bytes((0x80 | (n - 1), b, g, r, 255))
        else:
            body += bytes((w - 1,)) + b"".join(bytes((b, g, r, 255 if y < h - 3 else x * 5))
                                               for x, (r, g, b) in enumerate(row))
    return struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, w, h, 32, 0x28) + body


put("fuzz_tga", "long_rle32.tga", long_tga())


# PCX: 8-bit, run-length, the 256-colour palette at the very end; bytes of 0xC0 and over
# escaped as runs of one, and in the last rows an empty run (0xC0).
def long_pcx():
    w, h = 64, 48
    rows = [noise(w, 3 + y) if y >= 8 else bytes(((x // 8 + y) * 9) & 0xBF for x in range(w)) for y in range(h)]
    body = b""
    for y, row in enumerate(rows):
        body += pcx_rle(row)
        if y >= h - 2:
            body += b"\xc0\0"
    head = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, w - 1, h - 1, 72, 72) + bytes(48) + bytes((0, 1))
    head = (head + struct.pack("<HH", w, 1)).ljust(128, b"\0")
    return head + body + b"\x0c" + b"".join(bytes((i, (i * 3) & 255, 255 - i)) for i in range(256))


put("fuzz_pcx", "long_pal8.pcx", long_pcx())


# PPM: the plain form (decimal samples) with a maximum of 1000 and comments; in the last rows a
# comment between the samples and samples over the maximum, which are clamped.
def long_ppm():
    w, h = 20, 18
    px = gradient(w, h, 9)
    lines = []
    for y, row in enumerate(px):
        samples = [str(c * 1000 // 255 if y < h - 2 else 1000 + c) for p in row for c in p]
        if y >= h - 2:
            samples.insert(len(samples) // 2, "# over the maximum\n")
        lines.append(" ".join(samples))
    return ("P3\n# made for the fuzz corpus\n%d %d\n1000\n" % (w, h) + "\n".join(lines) + "\n").encode()


put("fuzz_ppm", "long_plain.ppm", long_ppm())


# XPM: 56 x 37, two characters a pixel, colours by number, name and none; the last rows use a
# key no colour line names.
def long_xpm():
    w, h = 56, 37
    colours = [("..", "c None"), ("ab", "c #FF8000"), ("cd", "c dark slate grey"), ("ef", "c #00f"),
               ("gh", "g #808080 c navy"), ("ij", "m white c #123456789ABC")]
    lines = ['"%d %d %d 2",' % (w, h, len(colours))] + ['"%s %s",' % kv for kv in colours]
    for y in range(h):
        row = "".join(colours[(x // 4 + y) % len(colours)][0] if y < h - 2 else "zz" for x in range(w))
        lines.append('"%s"%s' % (row, "," if y < h - 1 else ""))
    return ("/* XPM */\nstatic char *long_xpm[] = {\n/* columns rows colours chars-per-pixel */\n"
            + "\n".join(lines) + "\n};\n").encode()


put("fuzz_xpm", "long_named.xpm", long_xpm())


# GIF: a 256-colour screen, a comment, then the picture's control block (index 255 transparent)
# and its LZW data in sub-blocks; a clear code before the last rows, which hold the transparent
# index.
def long_gif():
    w, h = 64, 60
    n = noise(w * h, 21)
    idx = [n[i] % 48 if i < w * (h - 2) else 255 for i in range(w * h)]
    lzw = gif_lzw(idx, 8, w * (h - 4))
    assert gif_unlzw(lzw, 8, w * h) == idx
    pal = b"".join(bytes((i, (i * 5) & 255, 255 - i)) for i in range(256))
    out = b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF7, 0, 0) + pal
    out += b"\x21\xfe\x0bfuzz corpus\0"
    out += b"\x21\xf9\x04\x01\0\0\xff\0"
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x08"
    for i in range(0, len(lzw), 255):
        out += bytes((len(lzw[i:i + 255]),)) + lzw[i:i + 255]
    return out + b"\0\x3b"


put("fuzz_gif", "long_clear.gif", long_gif())


# PNG: 8-bit RGB with a colour key, its zlib stream in IDAT chunks of 200 bytes; the rows filtered
# None, Sub, Up and Average in turn, the last ones Paeth and holding the keyed colour; a text
# chunk before the end.
def long_png():
    w, h = 44, 32
    px = gradient(w, h, 13)
    raw, prev = b"", bytes(3 * w)
    for y, row in enumerate(px):
        line = b"".join(bytes(p) if y < h - 4 or x % 5 else b"\x10\x20\x30" for x, p in enumerate(row))
        line = bytes(v ^ n for v, n in zip(line, noise(3 * w, y))) if y < h - 4 else line
        raw += png_filter(4 if y >= h - 4 else y % 4, line, prev, 3)
        prev = line
    z = zlib.compress(raw, 9)
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    out += png_chunk(b"tRNS", b"\0\x10\0\x20\0\x30")
    out += b"".join(png_chunk(b"IDAT", z[i:i + 200]) for i in range(0, len(z), 200))
    return out + png_chunk(b"tEXt", b"Comment\0fuzz corpus") + png_chunk(b"IEND", b"")


put("fuzz_png", "long_key_paeth.png", long_png())


# JPEG: baseline 4:2:0 of 80 x 48, a restart marker every two MCUs; in the last MCU a run of more
# than 16 zeros (ZRL) and a block whose last coefficient is not zero (no end-of-block code).
def long_jpeg():
    w, h = 80, 48
    px = gradient(w, h, 17)
    ycc = [[(0.299 * r + 0.587 * g + 0.114 * b, 128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
             128 + 0.5 * r - 0.418688 * g - 0.081312 * b) for r, g, b in row] for row in px]
    q = [1 + (k % 8 + k // 8) // 4 for k in range(64)]

    def block(c, x0, y0, step):
        return [sum(ycc[min(h - 1, y0 + (k // 8) * step + j)][min(w - 1, x0 + (k % 8) * step + i)][c]
                    for j in range(step) for i in range(step)) / (step * step) - 128 for k in range(64)]

    mcus = [(mx, my) for my in range(0, h, 16) for mx in range(0, w, 16)]
    bw, dc, data = BitWriter(), [0, 0, 0], b""
    for n, (mx, my) in enumerate(mcus):
        if n and n % 2 == 0:
            bw.align()
            data += bytes(bw.out) + bytes((0xFF, 0xD0 + (n // 2 - 1) % 8))
            bw, dc = BitWriter(), [0, 0, 0]
        blocks = [(0, mx + bx, my + by, 1) for by in (0, 8) for bx in (0, 8)] + [(1, mx, my, 2), (2, mx, my, 2)]
        for i, (c, x0, y0, step) in enumerate(blocks):
            coefs = [int(round(v / q[k])) for k, v in enumerate(fdct(block(c, x0, y0, step)))]
            if n == len(mcus) - 1 and c == 0:
                # The last MCU: a run of more than 16 zeros, and a block whose last coefficient is
                # not zero (no end-of-block code).
                zz = [coefs[k] for k in ZIGZAG]
                zz[17:40] = [0] * 23
                zz[40] = 3
                zz[63] = -1 if i == 3 else zz[63]
                coefs = [0] * 64
                for k in range(64):
                    coefs[ZIGZAG[k]] = zz[k]
            dc[c] = jpeg_block(bw, coefs, dc[c])
    bw.align()
    data += bytes(bw.out)

    def seg(marker, body):
        return bytes((0xFF, marker)) + struct.pack(">H", len(body) + 2) + body

    out = b"\xff\xd8" + seg(0xDB, b"\0" + bytes(q[k] for k in ZIGZAG))
    out += seg(0xC0, struct.pack(">BHHB", 8, h, w, 3) + b"\x01\x22\0\x02\x11\0\x03\x11\0")
    out += seg(0xC4, b"\x00" + bytes(3) + b"\x0c" + bytes(12) + bytes(range(12)))
    out += seg(0xC4, b"\x10" + bytes(7) + bytes((len(AC_SYMBOLS),)) + bytes(8) + bytes(AC_SYMBOLS))
    out += seg(0xDD, struct.pack(">H", 2))
    out += seg(0xDA, b"\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00") + data
    return out + b"\xff\xd9"


put("fuzz_jpeg", "long_restarts.jpg", long_jpeg())


# The raw core's frame: 36 x 31 16-bit samples, two components a line, noisy and with codes of 16
# bits (so that a few KiB hold few samples); the last row has a difference of 32768 (category 16,
# which carries no bits).
def long_rawljpeg():
    w, h = 36, 31
    n = noise(w * h, 29)
    rows = [[(x * 700 + y * 300 + n[y * w + x] * 97) & 0xFFFF for x in range(w)] for y in range(h)]
    rows[-1][9] = (rows[-1][7] + 0x8000) & 0xFFFF
    return struct.pack("<BHHBHH", 0, w, h, 0, 0, 0) + lossless_jpeg(rows, 2, 16, 10, 16)


put("fuzz_rawljpeg", "long_restarts_cat16", long_rawljpeg())


# Journal (version 3, without the digest of version 4, so that a part of it is read as far as it
# goes): many files in flight, then the package's registration, its record with escaped text and
# its run commands, and the end count.
def long_journal():
    base = "/home/user/Applications/Hello Tool"
    lines = ["M " + base, "D " + base + "/share", "D " + base + "/share/doc"]
    for i in range(40):
        lines.append("%s %s/share/doc/chapter %02d/page-%03d.html" % ("NRO"[i % 3], base, i // 10, i))
    lines += ["E /home/user/.local/share/applications/org.example.hello-%d.desktop" % i for i in range(3)]
    lines += ["Q /home/user/.local/share/applications/org.example.hello-old.desktop", "S /home/user/.local/share"]
    lines += ["code org.example.hello", "register", "manager /home/user/Applications/QMX Software Manager.app"]
    lines += ["rec ver 281479271743489", "rec name Hello\\5cTool\\0aSecond line", "rec path " + base,
              "rec publisher Example\\20Works", "rec icon %s/share/hello.png" % base, "rec base /home/user",
              "rec dir %s/share" % base, "rec cplns Run it", "rec cplcs %s/bin/hello --first" % base]
    lines += ["rec file %s/share/doc/chapter %02d/page-%03d.html" % (base, i // 10, i) for i in range(0, 40, 4)]
    return "QMXINFLIGHT 3\nstate committed\n" + "\n".join(lines) + "\nend %d\n" % len(lines)


put("fuzz_journal", "long_v3", long_journal())


# Hive: sections and numbers of every width, strings, then blobs and 64-bit times only at the end.
def long_hive():
    records = []
    for s in range(12):
        records.append((0x01, b"plugins/p%02d" % s, b""))
        records.append((0x11, b"plugins/p%02d/enabled" % s, bytes((s & 1,))))
        records.append((0x12, b"plugins/p%02d/order" % s, struct.pack("<H", s * 3)))
        records.append((0x14, b"plugins/p%02d/width" % s, struct.pack("<i", -s * 100)))
        records.append((0x20, b"plugins/p%02d/title" % s, ("Erweiterung Nr. %d: Größe und Farbe" % s).encode()))
        records.append((0x20, b"plugins/p%02d/path" % s, b"/home/user/Applications/Hello Tool/plugins/p%02d.so" % s))
    for s in range(6):
        records.append((0x18, b"history/run%d/time" % s, struct.pack("<q", 1796716402 + s * 86400)))
        records.append((0x30, b"history/run%d/state" % s, noise(200 + s * 20, 41 + s)))
    return hive(records)


put("fuzz_hive", "long_all_kinds", long_hive())


# HTTP: a chunked answer in pieces of 200 bytes: many chunks (with extensions), then a last chunk
# with trailer fields.
def long_http():
    head = b"HTTP/1.1 200 OK\r\nServer: updates\r\nContent-Type: application/octet-stream\r\n" \
           b"Cache-Control: no-cache\r\nTransfer-Encoding: chunked\r\n\r\n"
    body = b""
    for i in range(34):
        piece = b"".join(b"line %03d of the update notes\n" % (i * 4 + k) for k in range(4))
        body += b"%x%s\r\n" % (len(piece), b";part=%d" % i if i % 5 == 0 else b"") + piece + b"\r\n"
    return b"\xc7" + head + body + b"0\r\nX-Checksum: 1234abcd\r\nX-Trailer-Two: yes\r\n\r\n"


put("fuzz_http_response", "long_chunked_trailer", long_http())


# Deflate: text in dynamic blocks, then bytes that do not compress, which end in a stored block,
# and the Adler-32 check.
def long_zlib(text_bytes, raw_bytes, seed):
    c = zlib.compressobj(9, zlib.DEFLATED, 15)
    text = b"".join(b"%d: the installer copies file %d of the package, then its backup.\n" % (i, i * 7)
                    for i in range(text_bytes // 60))
    return c.compress(text) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(noise(raw_bytes, seed)) + c.flush()


put("fuzz_inflate", "long_dynamic_then_stored", long_zlib(12000, 3000, 43))
put("fuzz_zstream", "long_dynamic_then_stored",
    bytes((0, 200, 17, 255, 3, 90, 1, 128, 200)) + long_zlib(12000, 3000, 47))


# UTF-8: lines in many scripts, four-byte forms; damage only in the last line.
def long_utf8():
    words = ["Größe", "サイズ", "ハロー ツール", "Ωmega", "∑ ١٢٣", "한국어", "Привет", "עברית", "ไทย", "中文字符", "naïve café"]
    text = "".join("%d. %s — %s\n" % (i, words[i % len(words)], words[(i * 7) % len(words)]) for i in range(138))
    damage = b"trail \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82 \xff\xfe \xe3\x81"
    return text.encode() + "𝄞 😀 𐍈 ".encode() + damage


put("fuzz_utf8", "long_scripts_then_damage", long_utf8())


# Text lines: a byte order mark, a mount table with escaped blanks, lines of every ending, the
# last ones ended by a lone CR and none.
def long_textlines():
    lines = [b"/dev/sda%d /media/user/Disk\\040%d ext4 rw,relatime 0 0\n" % (i, i) for i in range(52)]
    lines += [b"tmpfs /run/user/%d tmpfs rw,size=1620k,mode=700 0 0\r\n" % (1000 + i) for i in range(30)]
    return b"\xef\xbb\xbf" + b"".join(lines) + b"\n\r\n" + b"last but one\rlast without end"


put("fuzz_textlines", "long_mounts_and_ends", long_textlines())


# Language container: the application's whole Russian table.
lang, sections = langgen.parse_file(os.path.join(root, "src/softmgrapp/lang/RUS.txt"))
put("fuzz_langcontainer", "long_rus.laci", langgen.pack(sections, lang))

# LZW: a strip of 16 KiB from the test data, whose table fills and is cleared.
put("fuzz_lzw", "long_levels.0.lzw", open(os.path.join(root, "tests/data/lzw/levels.0.lzw"), "rb").read())


# Update archive: folders, the installer's program (stored, executable), its scenario data and
# documents (deflated, one of them with a name in UTF-8); the central directory at the end.
def long_zip():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        def add(name, data, method=zipfile.ZIP_DEFLATED, mode=0o644):
            info = zipfile.ZipInfo(name, (2026, 12, 7, 14, 22, 0))
            info.create_system = 3
            info.external_attr = (mode | (0o040000 if name.endswith("/") else 0o100000)) << 16
            info.compress_type = method
            z.writestr(info, data)

        for d in ("Hello.app/", "Hello.app/Contents/", "Hello.app/Contents/MacOS/", "Hello.app/Contents/Resources/"):
            add(d, b"", zipfile.ZIP_STORED, 0o755)
        add("Hello.app/Contents/MacOS/Installer", b"\x7fELF" + noise(1100, 53), zipfile.ZIP_STORED, 0o755)
        add("Hello.app/Contents/Resources/scenario.data", b"QMXSOPKG\x01" + noise(1200, 59), zipfile.ZIP_STORED)
        for i in range(4):
            add("Hello.app/Contents/Resources/notes-%d.txt" % i,
                b"".join(b"Version 2.%d.%d: fixes and changes, line %d.\n" % (i, k, k) for k in range(40)))
        add("Hello.app/Contents/Resources/Größe.txt", "Größe und Farbe\n".encode() * 20)
    return out.getvalue()


put("fuzz_update_answer", "long_archive.zip", long_zip())


# Text scenario (no files, no licence: it is read to its end and then refused): every language,
# strings for each, the package's keys, menu entries; then settings of every type, programs to
# run and deprecated packages, and a section given twice. (No absolute base but $pgm: the target
# makes every "/" a "_".)
def long_text_scenario():
    langs = ["ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"]
    names = ["Hello Tool", "Привет", "Hallo-Werkzeug", "ハロー ツール", "안녕 도구", "Outil Bonjour", "Привіт",
             "Herramienta Hola", "你好工具", "你好工具", "Merhaba Aracı"]
    out = ["# Every section of a package without files.", "[General]", "langs = ENG RUS DEU JPN", "langs = KORFRAUKR",
           "langs = ESP CHN TWN TUR", "", "[Strings]", 'appname = "Hello Tool"', 'docs = ""']
    for code, name in zip(langs, names):
        out += ['%s.appname = "%s"' % (code, name), '%s.comment = "%s: \\"greets\\" you"' % (code, name),
                '%s.runlabel = "%s %s"' % (code, name, code.lower())]
    out += ["", "[Software]", 'codename = "org.example.long-scenario_2"', 'name = "Hello Tool"',
            'publisher = "Example Works"', 'copyright = "Copyright 2026 Example Works"', 'group = "Utility;Office;"',
            'folder = "/Applications/Example Suite"', 'version = "2.17.301.4"', 'version = "2.18"',
            'manual_URL = "http://example.org/hello/manual"', 'publish_URL = "http://example.org/hello"',
            'support_URL = "http://example.org/hello/support"', 'updates_URL = "http://example.org/hello/updates"',
            'icon = $pgm "share/hello.png"', "", "[Install]", "", "[Menu]"]
    for i in range(9):
        out.append('$appname = $pgm "bin/hello%d", $pgm "share/hello%d.png", %d, $comment, "--window %d"'
                   % (i, i, i, i))
    out += ['"Tool" = $pgm "", "" "", 1', "", "[Settings]"]
    for i, (kind, value) in enumerate([("w", "640"), ("d", "-480"), ("q", "0x7FFFFFFFFFFF"), ("t", ""),
                                       ("t", "Grüße"), ("w", "0x1E0"), ("d", "65536"), ("q", "-2")] * 3):
        out.append('"key.%d.%s" = %s, "%s"  # %s' % (i, kind, kind, value, kind))
    out += ["", "[Run]"]
    out += ['$runlabel = $pgm "bin/hello%d", %s, "--first-run %d"' % (i, "yes" if i & 1 else "no", i) for i in range(6)]
    out += ['"Read me" = $pgm "share/doc/hello/README"', "", "[Deprecates]"]
    out += ['"org.example.old-%d" = "%d"' % (i, i * 100) for i in range(16)]
    out += ['"org.example.ancient" = *', '"org.example.empty" = ""', "[General]", "langs = ENG"]
    return ("\n".join(out) + "\n").encode()


put("fuzz_text_scenario", "long_every_section.txt", long_text_scenario())


# Scenario data body (written with the independent writer of the tests): strings in three
# languages, menu entries, file records, programs, parameters, replaced packages, then the
# payload, whose last item is deflated in flushed pieces. An odd size over 4 KiB: the target
# packs it in runs of 4 KiB.
def long_scenario_data():
    sys.path.insert(0, os.path.join(root, "tests", "softmgr"))
    import sopkg_oracle as o
    s = o.s
    strings = {b"codename": b"org.example.long", b"name": b"Long Tool", b"dir": b"/opt/long", b"title": b"Long Tool"}
    strings.update({b"note%d" % i: b"Release note %d of the long tool" % i for i in range(12)})
    langs = b"".join(bytes((lang,)) + o.table({b"title": title, b"comment": b"%s (%d)" % (title, lang)})
                     for lang, title in ((0, b"Long Tool"), (2, "Langes Werkzeug".encode()), (3, "長いツール".encode())))
    menu = b"\x03" + b"".join(b"\x01" + s(b"title") + s(b"pgm") + s(b"bin/tool%d" % i) + s(b"--n %d" % i)
                              + s(b"pgm") + s(b"share/tool%d.png" % i) + s(b"comment") + bytes((i % 9,))
                              for i in range(6)) + b"\x00"
    files = [b"#!/bin/sh\necho tool %d\n" % i + b"# line of the script\n" * (10 + i * 4) for i in range(5)]
    files.append(noise(301, 61))
    filerec = b"".join(b"\x01" + struct.pack("<II", i, 0x03070505 if i < 5 else 0x03060404) + s(b"pgm")
                       + s(b"bin/tool%d" % i) + b"\xff" for i in range(len(files)))
    run = b"\x05" + b"".join(bytes((1, i & 1)) + s(b"title") + s(b"pgm") + s(b"bin/tool%d" % i) + s(b"--first")
                             for i in range(3)) + b"\x00"
    params = b"\x08" + b"".join(b"\x01" + s(b"param.%d" % i) + s(struct.pack("<q", i * 1000))
                                 for i in range(8)) + b"\x00"
    deps = b"\x0c" + b"".join(b"\x01" + s(b"org.example.old%d" % i) + struct.pack("<H", i) for i in range(4)) + b"\x00"
    payload = b"".join(o.item(f) for f in files[:-1]) + o.flushed_item(files[-1]) + b"\0" * 8
    b = o.body(version=(2, 18, 301, 4), strings=strings, langs=langs + b"\xff", menu=menu, filerec=filerec, run=run,
               params=params, deps=deps, doc=o.mini_doc([0, 2, 3]), payload=payload)
    o.parse(o.wrap(b))
    assert len(b) & 1
    return b


put("fuzz_scenario_data", "long_every_record", long_scenario_data())


# Markup: paragraphs in containers with margins, colours and fonts, bold and italic runs, line
# breaks; the last part adds links (one around a container), an escaped "<", justified and
# right-aligned text and faces of every kind.
def long_markup():
    words = "Hello Tool copies its files to the folder you choose and keeps a backup of every file it replaces".split()
    out = ['<text f="std,16,6,b" mb=8>Release notes</text>']
    for i in range(18):
        line = " ".join(words[(i + k) % len(words)] for k in range(12))
        out.append('<text ml=%d mr=2 mt=%d fg=0x%06X>%d. %s <b>%s</b> <i>%s</i><br>%s</text>'
                   % (i % 8, i % 5, (i * 0x10305) & 0xFFFFFF, i, line, words[i % len(words)], words[-1 - i % 5], line))
    out += ["Größe und Farbe: インストールの前に設定を確認してください。",
            '<text a=j w=120>' + " ".join(words) + '</text><text a=right f=Verd,14>right</text>',
            '<text f=luci,20,0,bu><b><i>both</i></b></text><text f=fixed>fixed</text><text f=Kor>한국어</text>',
            '<text f=chi>中文</text><text f=twn>中文</text><text f=STD>a<lt>b</text>',
            '<link ref="http://example.org/hello">site</link> <link ref=./readme.txt><text>readme</text></link>',
            "<link>no target</link><br><text h=20 bg=0xFF00FF br=0>end</text>"]
    return ("\n".join(out) + "\n").encode()


put("fuzz_hdlparser", "long_every_tag.txt", long_markup())


# Compiled document (written with the independent writer of the tests): three languages of
# containers, words and links, a font table, strings; the picture table, at the end, holds two
# PNG pictures, the second of them the one every language shows last.
def long_hdoc():
    sys.path.insert(0, os.path.join(root, "tests", "cihlpdoc"))
    import hdoc_tool as t
    streams = []
    for lang in (0, 2, 3):
        s = b""
        for i in range(40):
            s += t.box(colour=0x102030 * (i % 3), font=i % 3, align=i % 4, brk=1, m=(i % 5, 1, 2, 3), w=150, h=0)
            s += t.text(b"word%d" % i, colour=i * 0x10101, font=i % 3) + t.text(b"more", brk=i % 2)
            s += t.link(b"link%d" % i, i % 2) + t.END
        s += t.image(0, brk=1, m=(2, 2, 2, 2)) + t.imagelink(1, 0, brk=1) + t.END
        streams.append((lang, s))
    fonts = t.font(3, 5, 14, 0) + t.font(0, 7, 13, 1 | 4) + t.font(1, 6, 12, 2)
    rgba = b"".join(b"\0" + noise(4 * 22, y) for y in range(22))
    noisy = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 22, 22, 8, 6, 0, 0, 0)) \
        + png_chunk(b"IDAT", zlib.compress(rgba, 9)) + png_chunk(b"IEND", b"")
    return t.doc(streams, fonts, (b"http://example.org/a", b"./readme.txt"), (t.png(6, 4), noisy))


put("fuzz_hdoclayout", "long_pictures_last", long_hdoc())
put("fuzz_hdocloader", "long_pictures_last", long_hdoc())


# EXIF: the main, Exif, GPS and interoperability directories, then the thumbnail's, whose JPEG
# (the long one above) lies at the end of the stream.
put("fuzz_exif", "long_thumbnail_last.tif", exif(False, long_jpeg()))


# DICOM: explicit VR little endian with the preamble, four 12-bit frames (noisy and with codes of
# 16 bits, so that a few KiB hold few pixels) as lossless JPEG fragments after a basic offset
# table; the last frame (the one the target previews) spans two fragments.
def long_dicom():
    w, h, frames = 16, 16, 4
    streams = []
    for f in range(frames):
        n = noise(w * h, 67 + f)
        rows = [[(x * 90 + y * 60 + f * 400 + n[y * w + x] * 13) & 0xFFF for x in range(w)] for y in range(h)]
        streams.append(lossless_jpeg(rows, 1, 12, 8, 16))
    fragments = streams[:-1] + [streams[-1][:300], streams[-1][300:]]
    offsets, at = [], 0
    for i, frag in enumerate(fragments):
        if i < frames:
            offsets.append(at)
        at += 8 + len(frag)
    items = struct.pack("<HHI", 0xFFFE, 0xE000, 4 * frames) + b"".join(struct.pack("<I", o) for o in offsets)
    items += b"".join(struct.pack("<HHI", 0xFFFE, 0xE000, len(frag)) + frag for frag in fragments)
    items += struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)
    sop = b"1.2.840.10008.5.1.4.1.1.7.2"
    meta = dicom_element(2, 1, "OB", b"\0\1") + dicom_element(2, 2, "UI", sop)
    meta += dicom_element(2, 3, "UI", b"1.2.826.0.1.3680043.2.1125.7.5")
    meta += dicom_element(2, 0x10, "UI", b"1.2.840.10008.1.2.4.70")
    meta = dicom_element(2, 0, "UL", struct.pack("<I", len(meta))) + meta
    data = dicom_element(8, 0x16, "UI", sop) + dicom_element(8, 0x18, "UI", b"1.2.826.0.1.3680043.2.1125.7.5")
    data += dicom_element(0x28, 2, "US", struct.pack("<H", 1)) + dicom_element(0x28, 4, "CS", b"MONOCHROME2")
    data += dicom_element(0x28, 8, "IS", b"%d" % frames)
    data += dicom_element(0x28, 0x10, "US", struct.pack("<H", h))
    data += dicom_element(0x28, 0x11, "US", struct.pack("<H", w))
    for elem, v in ((0x100, 16), (0x101, 12), (0x102, 11), (0x103, 0)):
        data += dicom_element(0x28, elem, "US", struct.pack("<H", v))
    data += struct.pack("<HH", 0x7FE0, 0x10) + b"OB\0\0" + struct.pack("<I", 0xFFFFFFFF) + items
    return bytes(128) + b"DICM" + meta + data


put("fuzz_dicom", "long_lossless_frames.dcm", long_dicom())


# JBIG2: a 128 x 64 page; a 128 x 240 generic region (template 0) that runs past the page's end
# (decoded whole, the page keeps its first 64 rows: few pixels for the decoding a few KiB take),
# ORed; then, at the end, a region with typical prediction (rows that repeat the one above), off
# the byte grid and combined by XOR; the end of the page and of the file.
def long_jbig2():
    w, h = 128, 240
    n = noise(w * h, 83)
    big = [[int(n[y * w + x] < 100 + (x // 8) * 3) for x in range(w)] for y in range(h)]
    small = [[int((x // 3 + y // 4) % 3 == 0) for x in range(40)] for y in range(32)]
    small = [small[y - y % 4] for y in range(32)]

    def segment(number, kind, data):
        return struct.pack(">IBBBI", number, kind, 0, 1, len(data)) + data

    at = bytes((3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE))
    out = b"\x97JB2\r\n\x1a\n\x01" + struct.pack(">I", 1)
    out += segment(0, 0x30, struct.pack(">IIIIBH", w, 64, 0, 0, 0x40, 0))
    out += segment(1, 0x26, struct.pack(">IIIIB", w, h, 0, 0, 0) + b"\0" + at + generic_template0(big, w, h))
    out += segment(2, 0x26, struct.pack(">IIIIB", 40, 32, 5, 32, 2) + b"\x08" + at
                   + generic_template0(small, 40, 32, True))
    return out + segment(3, 0x31, b"") + segment(4, 0x33, b"")


put("fuzz_jbig2", "long_regions_typical", long_jbig2())


# JPEG 2000: twelve tiles in a row, each the one tile of grey_sop.j2k (SOP and EPH markers, three
# layers; a tile 32 wide keeps the code-block grid of the original), then the tile of grey.j2k in
# the three tile-parts of grey_tp.j2k (split by resolution), its first one with a coding style of
# its own (one layer, no markers) and its last one of length 0 (up to the end of the stream).
def long_j2k():
    folder = os.path.join(root, "tests/data/picts/jpeg2000")
    head, tile = j2k_parts(open(os.path.join(folder, "grey_sop.j2k"), "rb").read())
    plain_head, plain = j2k_parts(open(os.path.join(folder, "grey.j2k"), "rb").read())
    split = j2k_parts(open(os.path.join(folder, "grey_tp.j2k"), "rb").read())[1]
    assert len(tile) == 1 and b"".join(body[2:] for _, _, body in split) == plain[0][2][2:]
    cod = plain_head[:plain_head.index(b"\xff\x5c")]
    assert cod[:2] == b"\xff\x52" and head[head.index(b"\xff\x5c"):][:12] == plain_head[len(cod):][:12]
    n = 13
    out = b"\xff\x4f" + b"\xff\x51" + struct.pack(">HHIIIIIIIIH", 41, 0, 32 * n, 24, 0, 0, 32, 24, 0, 0, 1)
    out += b"\x07\x01\x01" + head
    for t in range(n - 1):
        out += b"\xff\x90" + struct.pack(">HHIBB", 10, t, 12 + len(tile[0][2]), 0, 1) + tile[0][2]
    for i, (tp, tn, body) in enumerate(split):
        body = cod + body if i == 0 else body
        psot = 0 if i == len(split) - 1 else 12 + len(body)
        out += b"\xff\x90" + struct.pack(">HHIBB", 10, n - 1, psot, tp, tn) + body
    return out + b"\xff\xd9"


put("fuzz_jpeg2000", "long_tiles_then_parts.j2k", long_j2k())


# TIFF: four pages, each page's strips then its directory; the last page's directory (with
# tags of the signed, floating and undefined types too) at the end of the file
def long_tiff():
    w, h = 32, 20
    px = gradient(w, h, 71)
    rgb = [b"".join(bytes(p) for p in row) for row in px]
    grey = [bytes((r + g) // 2 & 0xF0 for r, g, b in row) for row in px]
    idx = [bytes(((row[x][0] >> 6) << 6 | (row[x][1] >> 6) << 4 | (row[x + 1][0] >> 6) << 2 | row[x + 1][1] >> 6)
                 for x in range(0, w, 2)) for row in px]
    cmap = [i * 4369 for i in range(16)] + [i * 8191 & 0xFFFF for i in range(16)]
    cmap += [65535 - i * 4369 for i in range(16)]

    def common(photo, spp, bits, compression, rows):
        return [(256, 3, [w]), (257, 3, [h]), (258, 3, [bits] * spp), (259, 3, [compression]), (262, 3, [photo]),
                (277, 3, [spp]), (278, 3, [rows]), (282, 5, [(72, 1)]), (283, 5, [(72, 1)]), (296, 3, [2])]

    def predicted(row):
        return bytes(row[:3]) + bytes((row[i] - row[i - 3]) & 255 for i in range(3, len(row)))

    pages = [common(2, 3, 8, 1, 8) + [("strips", 0, [b"".join(rgb[y:y + 8]) for y in range(0, h, 8)]),
                                      (305, 2, b"fuzz corpus\0")],
             common(1, 1, 8, 32773, 6) + [("strips", 0, [packbits(b"".join(grey[y:y + 6])) for y in range(0, h, 6)])],
             common(3, 1, 4, 1, h) + [("strips", 0, [b"".join(idx)]), (320, 3, cmap)],
             common(2, 3, 8, 8, 12) + [("strips", 0, [zlib.compress(b"".join(predicted(r) for r in rgb[y:y + 12]), 9)
                                                     for y in range(0, h, 12)]), (317, 3, [2]),
                                       (65000, 6, [-5, 7]), (65001, 8, [-300, 300]), (65002, 9, [-70000]),
                                       (65003, 10, [(-1, 3), (5, -7)]), (65004, 11, [1.5, -0.25]), (65005, 12, [3.125]),
                                       (65006, 7, b"\x01\x02\x03\x04\x05"), (65007, 2, b"text\0")]]
    return tiff_pages(pages)


put("fuzz_tiff", "long_four_pages.tif", long_tiff())
put("fuzz_tiffgeneric", "long_four_pages.tif", long_tiff())

# The whole factory: the long PCX (a weak signature, so every other format is probed first; the
# palette at its very end).
put("fuzz_mkpicture", "long_pal8.pcx", long_pcx())

# Windows executable: headers, one section (.rsrc) holding the resource tree, the version
# strings, a group icon and two icons (16 x 16 with a palette, then 24 x 24 with alpha, the one
# read, at the end of the file).
def long_exe():
    strings = [("CompanyName", "Example Works"), ("FileDescription", "Long test program"),
               ("FileVersion", "2.18.301.4"), ("LegalCopyright", "(c) 2026 Example Works"),
               ("ProductName", "Größe Tool  "), ("ProductVersion", "2.18")]
    table = b"".join(aligned(version_node(k, (v + "\0").encode("utf-16-le"))) for k, v in strings)
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x20012, 0x12D0004, 0x20012, 0, 0x3F, 0, 0x40004, 1, 0, 0, 0)
    info = version_node("VS_VERSION_INFO", fixed, 0, aligned(version_node("StringFileInfo", children=aligned(
        version_node("040904b0", children=table)))) + version_node("VarFileInfo", children=version_node(
            "Translation", struct.pack("<HH", 0x409, 1200), 0)), value_units=len(fixed))
    pal = b"".join(bytes((i * 16, 255 - i * 16, i * 8, 0)) for i in range(16))
    small = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, 0, 0, 0, 16, 0) + pal \
        + bytes(((x + y) % 16 << 4 | (x + y + 1) % 16) for y in range(16) for x in range(8)) + bytes(4 * 16)
    px = gradient(24, 24, 89)
    big = struct.pack("<IiiHHIIiiII", 40, 24, 48, 1, 32, 0, 0, 0, 0, 0, 0) + b"".join(
        bytes((b, g, r, 255 if y < 20 else 10 * x)) for y, row in enumerate(px) for x, (r, g, b) in enumerate(row))
    big += bytes(4 * 24)
    group = struct.pack("<HHH", 0, 1, 2) + struct.pack("<BBBBHHIH", 16, 16, 16, 0, 1, 4, len(small), 1) \
        + struct.pack("<BBBBHHIH", 24, 24, 0, 0, 1, 32, len(big), 2)
    resources = [(3, 1, small), (3, 2, big), (14, 1, group), (16, 1, info)]
    # Directories: the root, one a type, one a name; then the data entries, then the data.
    types = sorted({t for t, _, _ in resources})
    entries_at = 16 + 8 * len(types) + sum(16 + 8 * len([r for r in resources if r[0] == t]) for t in types) \
        + len(resources) * (16 + 8)
    data_at, datas = entries_at + 16 * len(resources), []
    rva = 0x1000
    root_dir = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(types))
    type_dirs, name_dirs, entry_blob, at = b"", b"", b"", 16 + 8 * len(types)
    names_at = at + sum(16 + 8 * len([r for r in resources if r[0] == t]) for t in types)
    k = 0
    for t in types:
        mine = [r for r in resources if r[0] == t]
        root_dir += struct.pack("<II", t, 0x80000000 | (at + len(type_dirs)))
        type_dirs += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(mine))
        for _, name, data in mine:
            type_dirs += struct.pack("<II", name, 0x80000000 | (names_at + len(name_dirs)))
            name_dirs += struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, 0x409, entries_at + 16 * k)
            offset = data_at + sum(len(d) + (-len(d) % 8) for d in datas)
            entry_blob += struct.pack("<IIII", rva + offset, len(data), 0, 0)
            datas.append(data)
            k += 1
    section = root_dir + type_dirs + name_dirs + entry_blob
    assert len(section) == data_at
    section += b"".join(d + b"\0" * (-len(d) % 8) for d in datas[:-1]) + datas[-1]
    dos = b"MZ" + bytes(58) + struct.pack("<I", 64)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 1796716402, 0, 0, 224, 0x0102)
    optional = struct.pack("<HBB", 0x10B, 14, 0).ljust(224, b"\0")
    header = struct.pack("<8sIIIIIIHHI", b".rsrc", len(section), rva, len(section), 0x200, 0, 0, 0, 0, 0x40000040)
    return (dos + coff + optional + header).ljust(0x200, b"\0") + section


put("fuzz_peprops", "long_icons_last.exe", long_exe())


# Minolta MRW (selector 2 of fuzz_raw_makers): PRD, WBG and TTW blocks, then 48 x 44 samples as
# 16-bit big-endian words; the last rows saturated.
def long_mrw():
    w, h = 48, 44
    n = noise(w * h, 73)
    frame = [4095 if y >= h - 3 else (x * 60 + y * 40 + n[y * w + x] * 4) % 4000 for y in range(h) for x in range(w)]

    def block(tag, data):
        return b"\0" + tag + struct.pack(">I", len(data)) + data

    prd = b"27820001" + struct.pack(">HHHHBBBBHH", h, w, h, w, 12, 12, 0x59, 0, 0, 1)
    wbg = bytes((2, 2, 2, 2)) + struct.pack(">HHHH", 480, 256, 256, 400)
    ttw = tiff_stream(True, [[(271, 2, 8, b"MINOLTA\0"), (272, 2, 10, b"DiMAGE A2\0")]])
    inner = block(b"PRD", prd) + block(b"WBG", wbg) + block(b"TTW", ttw)
    return b"\x02" + block(b"MRM", inner) + struct.pack(">%dH" % len(frame), *frame)


put("fuzz_raw_makers", "long_mrw_saturated", long_mrw())


# Hasselblad 3FR (selector 2 of fuzz_raw_tiffmakers): 48 x 44 16-bit samples, uncompressed, in
# strips of 12 rows (the last one of 8), then the directory at the end; the last rows saturated.
def long_3fr():
    w, h = 48, 44
    n = noise(w * h, 79)
    rows = [struct.pack("<%dH" % w, *(65535 if y >= h - 3 else (x * 900 + y * 500 + n[y * w + x] * 16) & 0xFFFF
                                      for x in range(w))) for y in range(h)]
    return b"\x02" + tiff_pages([[(254, 4, [0]), (256, 4, [w]), (257, 4, [h]), (258, 3, [16]), (259, 3, [1]),
                                  (262, 3, [32803]), (271, 2, b"Hasselblad\0"), (272, 2, b"Kit-39\0"),
                                  ("strips", 0, [b"".join(rows[y:y + 12]) for y in range(0, h, 12)]),
                                  (277, 3, [1]), (278, 4, [12]), (50708, 2, b"Hasselblad Kit-39\0")]])


put("fuzz_raw_tiffmakers", "long_3fr_strips", long_3fr())
