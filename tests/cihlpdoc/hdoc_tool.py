#!/usr/bin/env python3
"""Independent reader and writer of compiled rich documents ("QMXHDOCF").

  hdoc_tool.py dump FILE     prints the document (languages, box trees, tables) or
                             "REJECT <reason>" with exit status 1
  hdoc_tool.py write DIR     writes hand-built documents and DIR/cases.txt
                             ("<name> accept|refuse" per line)
  hdoc_tool.py png FILE W H  writes a W x H RGBA PNG
"""
import os
import struct
import sys
import zlib

MAGIC = b"QMXHDOCF"
MAX_LANG = 64 << 20
MAX_FONTS = 65535 * 8
MAX_STRINGS = 64 << 20
MAX_NEST = 256
HEAD = {0: 26, 1: 20, 2: 25, 3: 28, 4: 20}


class Reject(Exception):
    pass


def inflate(data, cap):
    d = zlib.decompressobj()
    try:
        out = d.decompress(data, cap + 1)
    except zlib.error as e:
        raise Reject("damaged zlib stream: %s" % e)
    if len(out) > cap:
        raise Reject("inflates past the cap")
    if not d.eof:
        raise Reject("zlib stream does not end")
    return out


def png_size(data):
    if len(data) >= 24 and data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR":
        return struct.unpack(">II", data[16:24])
    return None


def auto(v):
    return "auto" if v in (0, 65535) else str(v)


def colour(v):
    return "none" if v == 0xFFFFFFFF else "%x" % v


def read_doc(data):
    out = []
    if len(data) < 13 or data[:8] != MAGIC:
        raise Reject("short or no magic")
    pos = 8
    if data[pos] == 0xFF:
        raise Reject("no language")
    langs = {}
    while pos < len(data) and data[pos] < 0xFF:
        if len(data) - pos < 5:
            raise Reject("language head cut")
        lang = data[pos]
        (n,) = struct.unpack_from("<I", data, pos + 1)
        pos += 5
        if n == 0 or n > len(data) - pos:
            raise Reject("bad language size")
        if lang in langs:
            raise Reject("language twice")
        if lang > 10:
            raise Reject("language id out of range")
        langs[lang] = data[pos:pos + n]
        pos += n
    if pos >= len(data):
        raise Reject("no end of languages")
    pos += 1
    tables = []
    for _ in range(3):
        if len(data) - pos < 4:
            raise Reject("table size cut")
        (n,) = struct.unpack_from("<I", data, pos)
        pos += 4
        if n > len(data) - pos:
            raise Reject("table past the end")
        tables.append(data[pos:pos + n])
        pos += n

    fonts = []
    if tables[0]:
        ft = inflate(tables[0], MAX_FONTS)
        if len(ft) % 8:
            raise Reject("font table not in records")
        for i in range(0, len(ft), 8):
            face, w, h, st = struct.unpack_from("<HHHB", ft, i)
            fonts.append((face, w, h, st & 1, (st >> 1) & 1, (st >> 2) & 1))
    strings = []
    if tables[1]:
        st = inflate(tables[1], MAX_STRINGS)
        p = 0
        while p < len(st):
            if len(strings) >= 65535 or len(st) - p < 2:
                raise Reject("string entry cut")
            (n,) = struct.unpack_from("<H", st, p)
            p += 2
            if len(st) - p < n:
                raise Reject("string bytes cut")
            strings.append(st[p:p + n])
            p += n
    images = []
    it = tables[2]
    p = 0
    while p < len(it):
        if len(it) - p < 4:
            raise Reject("image size cut")
        (n,) = struct.unpack_from("<I", it, p)
        p += 4
        if len(it) - p < n:
            raise Reject("image bytes cut")
        if n == 0:
            continue
        size = png_size(it[p:p + n])
        if size is None or size[0] == 0 or size[1] == 0 or size[0] > 32767 or size[1] > 32767 \
                or size[0] * size[1] > 64 * 1024 * 1024:
            raise Reject("picture not usable")
        images.append(size)
        p += n

    for lang in sorted(langs):
        stream = inflate(langs[lang], MAX_LANG)
        if not stream:
            raise Reject("empty language stream")
        out.append("lang %d" % lang)
        read_boxes(stream, strings, images, out)
    for i, f in enumerate(fonts):
        out.append("font %d face=%d w=%d h=%d b=%d i=%d u=%d" % ((i,) + f))
    for i, s in enumerate(strings):
        out.append('string %d "%s"' % (i, s.decode("utf-8", "replace")))
    for i, (w, h) in enumerate(images):
        out.append("image %d %dx%d" % (i, w, h))
    return out


def read_boxes(s, strings, images, out):
    pos = 0
    depth = 0
    while True:
        if pos >= len(s):
            raise Reject("stream ends without end record")
        t = s[pos]
        if t == 255:
            pos += 1
            if depth == 0:
                return
            depth -= 1
            continue
        if t not in HEAD or len(s) - pos < HEAD[t]:
            raise Reject("bad record")
        bg, brk, ml, mr, mt, mb, w, h = struct.unpack_from("<IBHHHHHH", s, pos + 1)
        common = "bg=%s br=%d m=%d,%d,%d,%d w=%s h=%s" % (colour(bg), 1 if brk else 0, ml, mr, mt, mb,
                                                           auto(w), auto(h))
        ind = " " * (depth + 1)
        if t in (0, 3):
            col, font, n = struct.unpack_from("<IHH", s, pos + 18)
            line = "%s%s %s color=%s font=%s" % (ind, "text" if t == 0 else "link", common, colour(col),
                                                 "none" if font == 65535 else font)
            if t == 3:
                (sid,) = struct.unpack_from("<H", s, pos + 26)
                if sid != 65535:
                    if sid >= len(strings):
                        raise Reject("unknown string id")
                    line += ' ref="%s"' % strings[sid].decode("utf-8", "replace")
            pos += HEAD[t]
            if len(s) - pos < n:
                raise Reject("text cut")
            line += ' "%s"' % s[pos:pos + n].decode("utf-8", "replace")
            pos += n
            out.append(line)
        elif t == 2:
            if depth >= MAX_NEST:
                raise Reject("nested too deep")
            col, font, align = struct.unpack_from("<IHB", s, pos + 18)
            out.append("%sbox %s color=%s font=%s align=%d" % (ind, common, colour(col),
                                                             "none" if font == 65535 else font, align))
            pos += HEAD[t]
            depth += 1
        else:
            (iid,) = struct.unpack_from("<H", s, pos + 18)
            if iid != 65535 and iid >= len(images):
                raise Reject("unknown image id")
            line = "%s%s %s img=%s" % (ind, "image" if t == 1 else "imagelink", common,
                                       "none" if iid == 65535 else iid)
            pos += 20
            if t == 4:
                if len(s) - pos < 2:
                    raise Reject("image link cut")
                (sid,) = struct.unpack_from("<H", s, pos)
                pos += 2
                if sid >= len(strings):
                    raise Reject("unknown string id")
                line += ' ref="%s"' % strings[sid].decode("utf-8", "replace")
            out.append(line)


# ---- writer ----

def png(w, h, seed=1):
    raw = b""
    for y in range(h):
        raw += b"\0" + bytes(((x * 37 + y * 11 + seed) & 255) for x in range(w * 4))
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def head(t, bg=0xFFFFFFFF, brk=0, m=(0, 0, 0, 0), w=65535, h=65535):
    return struct.pack("<BIBHHHHHH", t, bg, brk, m[0], m[1], m[2], m[3], w, h)


def text(word, colour=0, font=65535, **kw):
    return head(0, **kw) + struct.pack("<IHH", colour, font, len(word)) + word


def link(word, sid, colour=0xFF0000, font=65535, **kw):
    return head(3, **kw) + struct.pack("<IHHH", colour, font, len(word), sid) + word


def box(colour=0xFFFFFFFF, font=65535, align=0, **kw):
    return head(2, **kw) + struct.pack("<IHB", colour, font, align)


def image(iid, **kw):
    return head(1, **kw) + struct.pack("<H", iid)


def imagelink(iid, sid, **kw):
    return head(4, **kw) + struct.pack("<HH", iid, sid)


END = b"\xff"


def table(data):
    if not data:
        return struct.pack("<I", 0)
    z = zlib.compress(data)
    return struct.pack("<I", len(z)) + z


def doc(langs, fonts=b"", strings=(), images=(), raw_images=None, tail=b""):
    out = MAGIC
    for lang, stream in langs:
        z = zlib.compress(stream) if isinstance(stream, bytes) else stream[0]
        out += struct.pack("<BI", lang, len(z)) + z
    out += b"\xff" + table(fonts)
    out += table(b"".join(struct.pack("<H", len(s)) + s for s in strings))
    it = raw_images if raw_images is not None else b"".join(struct.pack("<I", len(i)) + i for i in images)
    out += struct.pack("<I", len(it)) + it
    return out + tail


def font(face, w, h, styles):
    return struct.pack("<HHHBB", face, w, h, styles, 0)


def cases():
    c = {}
    good = text(b"Hello") + END
    full = (box(colour=0x123456, font=0, align=2, brk=1, m=(1, 2, 3, 4), w=100, h=0, bg=0xABCDEF) +
            text(b"one", colour=0, font=1) + link(b"two", 0, font=65535) + image(0, brk=1, m=(5, 0, 0, 6)) +
            imagelink(1, 1) + text(b"", colour=0xFFFFFFFF, brk=1) + END + link(b"none", 65535) + END)
    fonts = font(3, 5, 14, 0) + font(0, 7, 13, 1 | 4)
    strings = (b"http://example.com/a", b"./readme.txt")
    imgs = (png(3, 2), png(1, 5, 7))
    c["minimal"] = (True, doc([(0, good)]))
    c["full"] = (True, doc([(0, full), (2, good)], fonts, strings, imgs))
    c["trailing_bytes_after_tables"] = (True, doc([(0, good)], tail=b"junk"))
    c["trailing_bytes_after_end_record"] = (True, doc([(0, good + b"\x00\x01garbage")]))
    c["zero_size_image_entry_skipped"] = (True, doc([(0, image(1) + END)], raw_images=struct.pack("<I", 0) +
                                                    struct.pack("<I", len(imgs[0])) + imgs[0] +
                                                    struct.pack("<I", 0) + struct.pack("<I", len(imgs[1])) + imgs[1]))
    c["image_id_none"] = (True, doc([(0, image(65535) + END)]))
    c["link_without_target"] = (True, doc([(0, link(b"x", 65535) + END)]))
    c["align_above_3"] = (True, doc([(0, box(align=9) + END + END)]))
    c["unknown_face_kind"] = (True, doc([(0, text(b"x", font=0) + END)], font(9, 5, 13, 0)))
    c["empty_text"] = (True, doc([(0, text(b"") + END)]))
    c["nesting_256"] = (True, doc([(0, box() * 256 + END * 257)]))
    c["ten_languages"] = (True, doc([(i, text(b"L%d" % i) + END) for i in (0, 1, 3, 4, 5, 6, 7, 8, 9, 10)]))

    c["too_short"] = (False, MAGIC + b"\x00\x00\x00\x00")
    c["bad_magic"] = (False, b"QMXHDOCX" + doc([(0, good)])[8:])
    c["no_language"] = (False, doc([]))
    c["language_size_zero"] = (False, MAGIC + b"\x00" + struct.pack("<I", 0) + b"\xff" + b"\0" * 12)
    c["language_size_past_end"] = (False, MAGIC + b"\x00" + struct.pack("<I", 1000) + b"\xff" + b"\0" * 12)
    c["language_twice"] = (False, doc([(0, good), (0, good)]))
    c["language_id_11"] = (False, doc([(11, good)]))
    c["language_id_254"] = (False, doc([(254, good)]))
    z = zlib.compress(good)
    c["no_end_of_languages"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z)
    c["font_size_missing"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff\0\0")
    c["font_size_past_end"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff" +
                               struct.pack("<III", 100, 0, 0))
    c["font_table_not_records"] = (False, doc([(0, good)], fonts=b"\0" * 7))
    c["font_table_damaged"] = (False, doc([(0, good)])[:-12] + struct.pack("<I", 6) + b"\x78\x9c\xff\xff\xff\xff" +
                               struct.pack("<II", 0, 0))
    c["string_size_missing"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff" + struct.pack("<I", 0) + b"\0")
    c["string_size_past_end"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff" +
                                 struct.pack("<III", 0, 50, 0))
    c["string_length_cut"] = (False, doc([(0, good)])[:-8] + table(b"\x05")[:] + struct.pack("<I", 0))
    c["string_bytes_cut"] = (False, doc([(0, good)])[:-8] + table(b"\x05\x00abc") + struct.pack("<I", 0))
    c["image_size_missing"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff" + struct.pack("<II", 0, 0) + b"\0\0")
    c["image_size_past_end"] = (False, MAGIC + struct.pack("<BI", 0, len(z)) + z + b"\xff" +
                                struct.pack("<III", 0, 0, 9))
    c["image_entry_size_cut"] = (False, doc([(0, good)], raw_images=b"\x01\x00"))
    c["image_entry_bytes_cut"] = (False, doc([(0, good)], raw_images=struct.pack("<I", 100) + imgs[0]))
    c["image_unknown_format"] = (False, doc([(0, good)], images=[b"this is not a picture at all"]))
    for side in (100000, 20000):
        huge = png(1, 1)
        huge = huge[:16] + struct.pack(">II", side, side) + huge[24:29] + struct.pack(">I", zlib.crc32(
            b"IHDR" + struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))) + huge[33:]
        c["image_%d_square" % side] = (False, doc([(0, good)], images=[huge]))
    c["language_inflates_empty"] = (False, doc([(0, b"")]))
    c["language_damaged_zlib"] = (False, doc([(0, (b"\x78\x9c\x01\x02\x03",))]))
    c["language_zip_bomb"] = (False, doc([(0, (zlib.compress(b"\0" * (MAX_LANG + 1024), 9),))]))
    c["strings_zip_bomb"] = (False, doc([(0, good)], strings=[b"x" * 65535] * 1100))
    c["fonts_zip_bomb"] = (False, doc([(0, good)], fonts=b"\0" * (MAX_FONTS + 8)))
    c["stream_without_end"] = (False, doc([(0, text(b"Hello"))]))
    c["container_without_end"] = (False, doc([(0, box() + text(b"x") + END)]))
    c["record_type_7"] = (False, doc([(0, b"\x07" + b"\0" * 30 + END)]))
    for t, rec in ((0, text(b"")), (1, image(0)), (2, box()), (3, link(b"", 65535)), (4, imagelink(0, 0))):
        c["header_cut_type_%d" % t] = (False, doc([(0, rec[:HEAD[t] - 1])], strings=[b"s"], images=[imgs[0]]))
    c["text_bytes_cut"] = (False, doc([(0, text(b"Hello")[:-2])]))
    c["link_unknown_string"] = (False, doc([(0, link(b"x", 3) + END)], strings=[b"a"]))
    c["image_unknown_id"] = (False, doc([(0, image(1) + END)], images=[imgs[0]]))
    c["image_link_sid_cut"] = (False, doc([(0, imagelink(0, 0)[:21])], strings=[b"a"], images=[imgs[0]]))
    c["image_link_unknown_string"] = (False, doc([(0, imagelink(0, 2) + END)], strings=[b"a"], images=[imgs[0]]))
    c["image_link_sid_none"] = (False, doc([(0, imagelink(0, 65535) + END)], strings=[b"a"], images=[imgs[0]]))
    c["nesting_257"] = (False, doc([(0, box() * 257 + END * 258)]))
    c["nesting_100000"] = (False, doc([(0, box() * 100000 + END * 100001)]))
    return c


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "dump":
        data = open(sys.argv[2], "rb").read()
        try:
            lines = read_doc(data)
        except Reject as e:
            print("REJECT %s" % e)
            return 1
        sys.stdout.write("\n".join(lines) + "\n")
        return 0
    if len(sys.argv) >= 3 and sys.argv[1] == "write":
        d = sys.argv[2]
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "cases.txt"), "w") as m:
            for name, (ok, data) in sorted(cases().items()):
                with open(os.path.join(d, name + ".hdoc"), "wb") as f:
                    f.write(data)
                m.write("%s %s\n" % (name, "accept" if ok else "refuse"))
        return 0
    if len(sys.argv) >= 5 and sys.argv[1] == "png":
        with open(sys.argv[2], "wb") as f:
            f.write(png(int(sys.argv[3]), int(sys.argv[4])))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
