"""Writers of the formats fuzz/make_seeds.py makes its long seeds in: noise and ramps, GIF's
LZW, PNG chunks and filters, baseline and lossless JPEG, the MQ arithmetic coder and JBIG2
generic regions, JPEG 2000 tile-parts, TIFF pages and PackBits, version resources, DICOM
elements. Each writes what its reader in src/ takes; none of them aims at small output.
"""
import math
import struct
import zlib


def noise(n, seed):
    """n bytes of a fixed linear congruential sequence."""
    out, s = bytearray(n), seed
    for i in range(n):
        s = (s * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = s >> 16 & 255
    return bytes(out)


def gradient(w, h, seed):
    """Rows of (r, g, b): smooth ramps with a little noise."""
    n = noise(w * h, seed)
    return [[((x * 255 // max(w - 1, 1) + n[y * w + x] % 16) & 255, (y * 255 // max(h - 1, 1)) & 255,
              ((x + y) * 4 + n[y * w + x] % 8) & 255) for x in range(w)] for y in range(h)]


def gif_lzw(indexes, min_size, clear_at=None):
    """GIF LZW codes, least significant bit first. The table is cleared before the index
    clear_at, and not when it fills (the decoder then adds no more entries)."""
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    out, acc, nacc = bytearray(), 0, 0

    def emit(code, size):
        nonlocal acc, nacc
        acc |= code << nacc
        nacc += size
        while nacc >= 8:
            out.append(acc & 255)
            acc >>= 8
            nacc -= 8

    def reset():
        return {bytes((i,)): i for i in range(clear)}, clear + 2, min_size + 1

    table, nxt, size = reset()
    emit(clear, size)
    w = b""
    for i, v in enumerate(indexes):
        if i == clear_at:
            if w:
                emit(table[w], size)
                if nxt < 4096:
                    nxt += 1
                    if nxt - 1 == 1 << size and size < 12:
                        size += 1
            emit(clear, size)
            table, nxt, size = reset()
            w = b""
        c = bytes((v,))
        if w + c in table:
            w += c
            continue
        emit(table[w], size)
        if nxt < 4096:
            table[w + c] = nxt
            nxt += 1
            if nxt - 1 == 1 << size and size < 12:
                size += 1
        w = c
    emit(table[w], size)
    emit(eoi, size)
    if nacc:
        out.append(acc & 255)
    return bytes(out)


def gif_unlzw(data, min_size, count):
    """The decoder of src/picts/gif/gifreader.cpp, to check gif_lzw."""
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    prefix, suffix = [0] * 4096, list(range(256)) + [0] * 3840
    size, nxt, old, first, bits, nbits, pos, out = min_size + 1, clear + 2, -1, 0, 0, 0, 0, []
    while len(out) < count:
        while nbits < size and pos < len(data):
            bits |= data[pos] << nbits
            pos += 1
            nbits += 8
        if nbits < size:
            break
        code = bits & ((1 << size) - 1)
        bits >>= size
        nbits -= size
        if code == clear:
            size, nxt, old = min_size + 1, clear + 2, -1
            continue
        if code == eoi:
            break
        if old < 0:
            out.append(code)
            old = first = code
            continue
        stack, c = [], code
        if code == nxt:
            stack.append(first)
            c = old
        while c >= clear:
            stack.append(suffix[c])
            c = prefix[c]
        first = suffix[c]
        stack.append(first)
        if nxt < 4096:
            prefix[nxt], suffix[nxt] = old, first
            nxt += 1
            if nxt == 1 << size and size < 12:
                size += 1
        old = code
        out.extend(reversed(stack))
    return out


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_filter(kind, row, prev, bpp):
    out = bytearray()
    for i, v in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        if kind == 1:
            v -= a
        elif kind == 2:
            v -= b
        elif kind == 3:
            v -= (a + b) // 2
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            v -= a if pa <= pb and pa <= pc else b if pb <= pc else c
        out.append(v & 255)
    return bytes((kind,)) + bytes(out)


# ---- JPEG: the pieces of a baseline encoder with flat Huffman tables (every category at 4 bits,
# every run/size pair at 8)
ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14,
          21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53,
          60, 61, 54, 47, 55, 62, 63]
AC_SYMBOLS = [0x00, 0xF0] + [r << 4 | s for r in range(16) for s in range(1, 11)]


class BitWriter:
    """Bits most significant first, with the 0xFF byte stuffing of entropy-coded data."""

    def __init__(self):
        self.out, self.acc, self.n = bytearray(), 0, 0

    def put(self, value, size):
        for i in range(size - 1, -1, -1):
            self.acc = self.acc << 1 | (value >> i & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc = self.n = 0

    def align(self):
        while self.n:
            self.put(1, 1)


def jpeg_category(v):
    return abs(v).bit_length()


def jpeg_bits(v):
    return v if v >= 0 else v + (1 << jpeg_category(v)) - 1


def fdct(block):
    out = [0.0] * 64
    for v in range(8):
        for u in range(8):
            s = 0.0
            for y in range(8):
                cy = math.cos((2 * y + 1) * v * math.pi / 16)
                for x in range(8):
                    s += block[y * 8 + x] * math.cos((2 * x + 1) * u * math.pi / 16) * cy
            out[v * 8 + u] = s * (0.5 ** 0.5 if u == 0 else 1) * (0.5 ** 0.5 if v == 0 else 1) / 4
    return out


def jpeg_block(bw, coefs, prev_dc):
    """One block's quantised coefficients (natural order); returns its DC."""
    dc = coefs[0] - prev_dc
    bw.put(jpeg_category(dc), 4)
    bw.put(jpeg_bits(dc), jpeg_category(dc))
    zz = [coefs[k] for k in ZIGZAG]
    last = max([k for k in range(1, 64) if zz[k]] or [0])
    run = 0
    for k in range(1, last + 1):
        if not zz[k]:
            run += 1
            continue
        while run >= 16:
            bw.put(AC_SYMBOLS.index(0xF0), 8)
            run -= 16
        bw.put(AC_SYMBOLS.index(run << 4 | jpeg_category(zz[k])), 8)
        bw.put(jpeg_bits(zz[k]), jpeg_category(zz[k]))
        run = 0
    if last < 63:
        bw.put(AC_SYMBOLS.index(0x00), 8)
    return coefs[0]


# ---- Lossless JPEG (predictor 1), components interleaved one sample each, restart markers; a
# flat Huffman table (every category's code of code_bits bits: 16, the longest, takes the most
# bytes for a sample)
def lossless_jpeg(rows, comps, precision, restart_rows, code_bits=5):
    """rows: the JPEG's lines, each of width * comps samples (sample k to component k % comps)."""
    width = len(rows[0]) // comps
    bw, data = BitWriter(), b""
    for y, row in enumerate(rows):
        if y and y % restart_rows == 0:
            bw.align()
            data += bytes(bw.out) + bytes((0xFF, 0xD0 + (y // restart_rows - 1) % 8))
            bw = BitWriter()
        first = y % restart_rows == 0
        for k, v in enumerate(row):
            if k < comps:
                pred = 1 << (precision - 1) if first else rows[y - 1][k]
            else:
                pred = row[k - comps]
            diff = (v - pred) & 0xFFFF
            diff = diff - 0x10000 if diff > 0x8000 else diff
            cat = 16 if diff == 0x8000 else jpeg_category(diff)
            bw.put(cat, code_bits)
            if cat < 16:
                bw.put(jpeg_bits(diff), cat)
    bw.align()
    data += bytes(bw.out)

    def seg(marker, body):
        return bytes((0xFF, marker)) + struct.pack(">H", len(body) + 2) + body

    counts = bytes(17 if n == code_bits else 0 for n in range(1, 17))
    out = b"\xff\xd8" + seg(0xC4, b"\x00" + counts + bytes(range(17)))
    out += seg(0xC3, struct.pack(">BHHB", precision, len(rows), width, comps)
               + b"".join(bytes((i + 1, 0x11, 0)) for i in range(comps)))
    out += seg(0xDD, struct.pack(">H", restart_rows * width))
    out += seg(0xDA, bytes((comps,)) + b"".join(bytes((i + 1, 0)) for i in range(comps)) + b"\x01\x00\x00")
    return out + data + b"\xff\xd9"


def dicom_element(group, elem, vr, value):
    """One data element, explicit VR little endian, padded to an even length."""
    if len(value) % 2:
        value += b"\0" if vr in ("UI", "OB") else b" "
    head = struct.pack("<HH", group, elem) + vr.encode()
    if vr in ("OB", "OW", "UN", "SQ", "UT"):
        return head + b"\0\0" + struct.pack("<I", len(value)) + value
    return head + struct.pack("<H", len(value)) + value


# ---- JBIG2: the MQ arithmetic encoder (T.88 Annex E.2) and generic regions of template 0 with
# the nominal adaptive pixels, with or without typical prediction
QE = [0x5601, 0x3401, 0x1801, 0x0AC1, 0x0521, 0x0221, 0x5601, 0x5401, 0x4801, 0x3801, 0x3001, 0x2401,
      0x1C01, 0x1601, 0x5601, 0x5401, 0x5101, 0x4801, 0x3801, 0x3401, 0x3001, 0x2801, 0x2401, 0x2201,
      0x1C01, 0x1801, 0x1601, 0x1401, 0x1201, 0x1101, 0x0AC1, 0x09C1, 0x08A1, 0x0521, 0x0441, 0x02A1,
      0x0221, 0x0141, 0x0111, 0x0085, 0x0049, 0x0025, 0x0015, 0x0009, 0x0005, 0x0001, 0x5601]
NMPS = [1, 2, 3, 4, 5, 38, 7, 8, 9, 10, 11, 12, 13, 29, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
        30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 45, 46]
NLPS = [1, 6, 9, 12, 29, 33, 6, 14, 14, 14, 17, 18, 20, 21, 14, 14, 15, 16, 17, 18, 19, 19, 20, 21, 22, 23, 24, 25,
        26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46]


class MQEncoder:
    """The MQ arithmetic encoder of T.88 Annex E.2 (software conventions)."""

    def __init__(self):
        self.a, self.c, self.ct, self.out = 0x8000, 0, 12, bytearray(b"\0")  # out[0]: the byte before the first
        self.index, self.mps = {}, {}

    def byteout(self):
        if self.out[-1] == 0xFF:
            self.out.append(self.c >> 20 & 0xFF)
            self.c &= 0xFFFFF
            self.ct = 7
        elif self.c < 0x8000000:
            self.out.append(self.c >> 19 & 0xFF)
            self.c &= 0x7FFFF
            self.ct = 8
        else:
            self.out[-1] += 1
            if self.out[-1] == 0xFF:
                self.c &= 0x7FFFFFF
                self.out.append(self.c >> 20 & 0xFF)
                self.c &= 0xFFFFF
                self.ct = 7
            else:
                self.out.append(self.c >> 19 & 0xFF)
                self.c &= 0x7FFFF
                self.ct = 8

    def renorm(self):
        while True:
            self.a <<= 1
            self.c <<= 1
            self.ct -= 1
            if self.ct == 0:
                self.byteout()
            if self.a & 0x8000:
                break

    def encode(self, cx, d):
        i, mps = self.index.get(cx, 0), self.mps.get(cx, 0)
        qe = QE[i]
        self.a -= qe
        if d == mps:
            if not self.a & 0x8000:
                if self.a < qe:
                    self.a = qe
                else:
                    self.c += qe
                self.index[cx] = NMPS[i]
                self.renorm()
            else:
                self.c += qe
        else:
            if self.a < qe:
                self.c += qe
            else:
                self.a = qe
            if i in (0, 6, 14):
                self.mps[cx] = 1 - mps
            self.index[cx] = NLPS[i]
            self.renorm()

    def flush(self):
        temp = self.c + self.a
        self.c |= 0xFFFF
        if self.c >= temp:
            self.c -= 0x8000
        self.c <<= self.ct
        self.byteout()
        self.c <<= self.ct
        self.byteout()
        if self.out[-1] != 0xFF:
            self.out.append(0xFF)
        self.out += b"\xac"
        return bytes(self.out[1:])


def generic_template0(bitmap, w, h, tpgdon=False):
    """Pixels (rows of 0/1) as a generic region's arithmetic data; with typical prediction a row
    equal to the one above is one decision (SLTP, context 0x9B25)."""
    def px(x, y):
        return bitmap[y][x] if 0 <= x < w and 0 <= y < h else 0
    e, ltp = MQEncoder(), 0
    for y in range(h):
        if tpgdon:
            typical = int(bitmap[y] == (bitmap[y - 1] if y else [0] * w))
            e.encode(0x9B25, typical ^ ltp)
            ltp = typical
            if typical:
                continue
        for x in range(w):
            cx = (px(x - 1, y) | px(x - 2, y) << 1 | px(x - 3, y) << 2 | px(x - 4, y) << 3 | px(x + 3, y - 1) << 4
                  | px(x + 2, y - 1) << 5 | px(x + 1, y - 1) << 6 | px(x, y - 1) << 7 | px(x - 1, y - 1) << 8
                  | px(x - 2, y - 1) << 9 | px(x - 3, y - 1) << 10 | px(x + 2, y - 2) << 11 | px(x + 1, y - 2) << 12
                  | px(x, y - 2) << 13 | px(x - 1, y - 2) << 14 | px(x - 2, y - 2) << 15)
            e.encode(cx, bitmap[y][x])
    return e.flush()


def j2k_parts(data):
    """Main header (after SIZ) and the tile-parts of a codestream: (header markers, [(tp, tn, body)])."""
    p, head, parts = 2, b"", []
    while p + 4 <= len(data):
        marker, length = struct.unpack(">HH", data[p:p + 4])
        if marker == 0xFF90:
            _, psot, tp, tn = struct.unpack(">HIBB", data[p + 4:p + 12])
            parts.append((tp, tn, data[p + 12:p + psot]))
            p += psot
        else:
            if marker != 0xFF51:
                head += data[p:p + 2 + length]
            p += 2 + length
    return head, parts


def tiff_pages(pages):
    """pages: lists of (tag, type, values, or bytes for an undefined or ASCII value) with the
    strips as ("strips", [bytes]) (offsets 273 and counts 279 are made). Little-endian."""
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}
    codes = {1: "B", 3: "H", 4: "I", 5: "II", 6: "b", 8: "h", 9: "i", 10: "ii", 11: "f", 12: "d"}
    out = bytearray(b"II*\0\0\0\0\0")
    link = 4  # where the offset of the next directory goes
    for page in pages:
        entries = []
        for tag, typ, vals in page:
            if tag == "strips":
                offsets = []
                for strip in vals:
                    offsets.append(len(out))
                    out += strip + b"\0" * (len(strip) & 1)
                entries += [(273, 4, offsets), (279, 4, [len(s) for s in vals])]
            else:
                entries.append((tag, typ, vals))
        entries.sort()
        ifd = len(out)
        out[link:link + 4] = struct.pack("<I", ifd)
        tail_at = ifd + 2 + 12 * len(entries) + 4
        body, tail = struct.pack("<H", len(entries)), b""
        for tag, typ, vals in entries:
            if isinstance(vals, bytes):
                data, count = vals, len(vals)
            else:
                flat = [v for pair in vals for v in pair] if typ in (5, 10) else vals
                data, count = struct.pack("<" + codes[typ][0] * len(flat), *flat), len(vals)
            if len(data) > 4:
                body += struct.pack("<HHII", tag, typ, count, tail_at + len(tail))
                tail += data + b"\0" * (len(data) & 1)
            else:
                body += struct.pack("<HHI", tag, typ, count) + data.ljust(4, b"\0")
        link = ifd + len(body)
        out += body + b"\0\0\0\0" + tail
    return bytes(out)


def packbits(data):
    """Literal runs of up to 128 bytes, and runs of a repeated byte."""
    out, i = b"", 0
    while i < len(data):
        n = 1
        while i + n < len(data) and data[i + n] == data[i] and n < 128:
            n += 1
        if n > 2:
            out += bytes((257 - n, data[i]))
            i += n
            continue
        j = i
        while j < len(data) and j - i < 128 and not (j + 2 < len(data) and data[j] == data[j + 1] == data[j + 2]):
            j += 1
        out += bytes((j - i - 1,)) + data[i:j]
        i = j
    return out


def version_node(key, value=b"", kind=1, children=b"", value_units=None):
    """A VS_VERSIONINFO node: header, UTF-16 key, value and children, each 32-bit aligned."""
    body = (key + "\0").encode("utf-16-le")
    body += b"\0" * (-(6 + len(body)) % 4) + value
    body += b"\0" * (-(6 + len(body)) % 4) if children else b""
    body += children
    units = value_units if value_units is not None else len(value) // (2 if kind else 1)
    return struct.pack("<HHH", 6 + len(body), units, kind) + body


def aligned(node):
    return node + b"\0" * (-len(node) % 4)
