#!/usr/bin/env python3
"""Writes the hand-made seed files of fuzz/corpus/ (small valid inputs of each format that
the repository has no sample of). Run from anywhere; the files are committed, so run it
only to change them: python3 fuzz/make_seeds.py
"""
import hashlib
import os
import struct
import sys
import zlib

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tools"))
import langgen  # noqa: E402

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


def exif(big_endian):
    e = ">" if big_endian else "<"

    def rat(*pairs):
        return b"".join(struct.pack(e + "II", a, b) for a, b in pairs)

    def short(v):
        return struct.pack(e + "H", v)

    def long_(v):
        return struct.pack(e + "I", v)

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
