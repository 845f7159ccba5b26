// DIB decoding. Every size is checked against the bytes present before pixels are allocated.
#include "picts/bmp/dibreader.h"

#include "picts/byteorder.h"

namespace {

enum { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };

// Pixels an RLE picture may hold per byte of codes.
const long long kMaxRleExpansion = 1LL << 16;

struct sMaskField {
    unsigned int shift = 0;
    unsigned int bits = 0;
    unsigned int mask = 0;  // the field's value bits after the shift (a 32-bit field has them all)
};

sMaskField fieldOf(unsigned int mask) {
    sMaskField f;
    if (!mask) return f;
    while (!(mask & 1)) {
        mask >>= 1;
        f.shift++;
    }
    while (mask & 1) {
        mask >>= 1;
        f.bits++;
    }
    f.mask = f.bits >= 32 ? 0xFFFFFFFFu : (1u << f.bits) - 1;
    return f;
}

// A field of `bits` bits scaled to 0..255 with rounding.
unsigned int scaleField(unsigned int v, unsigned int bits) {
    if (bits == 0) return 0;
    if (bits >= 8) return (v >> (bits - 8)) & 0xFF;
    unsigned int maxv = (1u << bits) - 1;
    return (v * 255 + maxv / 2) / maxv;
}

}  // namespace

int cDibReader::parseHeader(const unsigned char* data, long long size, sDibInfo& info) const {
    info = sDibInfo();
    if (size < 12) return eTruncated;
    sByteReader r(data, size);
    unsigned int hs = r.u32le();
    info.headerSize = hs;
    long long w, h;
    if (hs == 12) {
        w = r.u16le();
        h = (short)r.u16le();
        if (r.u16le() != 1) return eBadHeader;
        info.bpp = r.u16le();
        info.paletteEntry = 3;
    } else if (hs >= 40 && hs <= 124) {
        if (size < (long long)hs) return eTruncated;
        w = (int)r.u32le();
        h = (int)r.u32le();
        if (r.u16le() != 1) return eBadHeader;
        info.bpp = r.u16le();
        info.compression = r.u32le();
        r.skip(12);
        info.paletteCount = r.u32le();
        r.skip(4);
        if (hs >= 52) {
            for (int i = 0; i < (hs >= 56 ? 4 : 3); i++) info.masks[i] = r.u32le();
            info.hasMasks = true;
        }
    } else {
        return eBadHeader;
    }
    long long pos = hs;
    if (hs == 40 && (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields)) {
        int n = info.compression == kBiAlphaBitfields ? 4 : 3;
        if (size < pos + 4 * n) return eTruncated;
        for (int i = 0; i < n; i++) info.masks[i] = le32(data + pos + 4 * i);
        pos += 4 * n;
        info.hasMasks = true;
    }
    switch (info.bpp) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return eUnsupported;
    }
    switch (info.compression) {
        case kBiRgb: break;
        case kBiRle8: if (info.bpp != 8) return eUnsupported; break;
        case kBiRle4: if (info.bpp != 4) return eUnsupported; break;
        case kBiBitfields:
        case kBiAlphaBitfields: if (info.bpp != 16 && info.bpp != 32) return eUnsupported; break;
        default: return eUnsupported;
    }
    if (h < 0) {
        if (h == -2147483648LL) return eBadSize;
        info.topDown = true;
        h = -h;
    }
    if (icon) h /= 2;
    long long px;
    if (!checkedPictPixels(w, h, px)) return eBadSize;
    info.width = w;
    info.height = h;
    if (info.bpp <= 8) {
        if (info.paletteCount == 0 || info.paletteCount > (1u << info.bpp)) info.paletteCount = 1u << info.bpp;
    } else if (!forcePalette) {
        info.paletteCount = 0;
    } else if (info.paletteCount > 256) {
        return eBadHeader;
    }
    info.dataStart = pos + (long long)info.paletteCount * info.paletteEntry;
    return eOk;
}

int cDibReader::decodeRle(sByteReader& in, const sDibInfo& info, sRawPict& out) {
    const long long w = info.width, h = info.height;
    const bool four = info.compression == kBiRle4;
    long long x = 0, y = 0;  // y counts rows in file order (bottom first unless top-down)
    auto put = [&](unsigned int idx) {
        if (x < w && y < h) {
            long long row = info.topDown ? y : h - 1 - y;
            out.top32(row)[x] = idx < info.paletteCount ? myPalette[idx] : 0xFF000000u;
        }
        x++;
    };
    // Bounded: every code consumes input, so the loop ends with the data.
    while (in.left() >= 2 && y < h) {
        unsigned int n = in.u8(), c = in.u8();
        if (n) {
            for (unsigned int i = 0; i < n && x < w; i++) put(four ? ((i & 1) ? c & 15 : c >> 4) : c);
            continue;
        }
        if (c == 0) {
            x = 0;
            y++;
        } else if (c == 1) {
            break;
        } else if (c == 2) {
            x += in.u8();
            y += in.u8();
            if (in.bad) return eTruncated;
        } else {
            long long bytes = four ? (c + 1) / 2 : c;
            const unsigned char* p = in.bytes(bytes);
            if (!p) return eTruncated;
            for (unsigned int i = 0; i < c; i++) put(four ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            if (bytes & 1) in.skip(1);
        }
    }
    return eOk;
}

int cDibReader::decode(const unsigned char* data, long long size, long long pixelOffset, cPictRowSink& sink) {
    sDibInfo info;
    int r = parseHeader(data, size, info);
    if (r != eOk) return r;
    if (info.dataStart > size) return eTruncated;
    for (unsigned int i = 0; i < 256; i++) myPalette[i] = 0xFF000000u;
    for (unsigned int i = 0; i < info.paletteCount && i < 256; i++) {
        const unsigned char* p =
            data + info.dataStart - (long long)(info.paletteCount - i) * info.paletteEntry;
        myPalette[i] = pictArgb(p[2], p[1], p[0]);
    }
    long long start = pixelOffset < 0 ? info.dataStart : pixelOffset;
    if (start < info.headerSize || start > size) return eTruncated;

    const long long w = info.width, h = info.height;
    const long long stride = ((w * info.bpp + 31) / 32) * 4;
    sByteReader in(data + start, size - start);
    sRawPict pict;
    bool anyAlpha = false;

    if (info.compression == kBiRle4 || info.compression == kBiRle8) {
        // Skips and the end code leave pixels uncoded, but a picture thousands of times larger
        // than its codes is no bitmap anyone wrote: refused before its buffer exists.
        if ((w * h - 1) / kMaxRleExpansion >= in.left()) return eTruncated;
        if (!pict.begin(w, h, false)) return eNoMemory;
        for (long long i = 0; i < pict.px32.count; i++) pict.px32.ptr[i] = myPalette[0];
        r = decodeRle(in, info, pict);
        if (r != eOk) return r;
    } else {
        if (stride > in.left() / h) return eTruncated;
        if (!pict.begin(w, h, false)) return eNoMemory;
        sMaskField f[4];
        bool fields = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
        if (info.bpp == 16 && !fields) {
            f[0] = fieldOf(0x7C00);
            f[1] = fieldOf(0x03E0);
            f[2] = fieldOf(0x001F);
        } else if (fields) {
            for (int i = 0; i < 4; i++) f[i] = fieldOf(info.masks[i]);
        }
        bool alphaField = fields && f[3].bits > 0;
        for (long long fy = 0; fy < h; fy++) {
            const unsigned char* p = data + start + fy * stride;
            unsigned int* d = pict.top32(info.topDown ? fy : h - 1 - fy);
            for (long long x = 0; x < w; x++) {
                unsigned int v;
                switch (info.bpp) {
                    case 1: v = myPalette[(p[x >> 3] >> (7 - (x & 7))) & 1]; break;
                    case 4: {
                        unsigned int i = (x & 1) ? p[x >> 1] & 15 : p[x >> 1] >> 4;
                        v = i < info.paletteCount ? myPalette[i] : 0xFF000000u;
                        break;
                    }
                    case 8: v = p[x] < info.paletteCount ? myPalette[p[x]] : 0xFF000000u; break;
                    case 24: v = pictArgb(p[3 * x + 2], p[3 * x + 1], p[3 * x]); break;
                    default: {
                        unsigned int s = info.bpp == 16 ? (p[2 * x] | ((unsigned int)p[2 * x + 1] << 8)) : le32(p + 4 * x);
                        if (fields || info.bpp == 16) {
                            unsigned int c[4];
                            for (int k = 0; k < 4; k++) c[k] = scaleField((s >> f[k].shift) & f[k].mask, f[k].bits);
                            unsigned int a = alphaField ? c[3] : 255;
                            v = pictArgb(c[0], c[1], c[2], a);
                            if (alphaField && a) anyAlpha = true;
                        } else {
                            v = s;  // BGRA bytes little-endian are 0xAARRGGBB already
                            if (s >> 24) anyAlpha = true;
                        }
                    }
                }
                d[x] = v;
            }
        }
        // A 32-bit picture whose alpha is unused (or zero everywhere) is opaque.
        if (info.bpp == 32 && (!anyAlpha || (!useAlpha && !alphaField)))
            for (long long i = 0; i < pict.px32.count; i++) pict.px32.ptr[i] |= 0xFF000000u;
        in.seek(stride * h);
    }

    // An icon's AND mask (1 = transparent) follows the image; icons with real alpha keep theirs.
    if (icon && !(info.bpp == 32 && anyAlpha && useAlpha)) {
        long long mstride = ((w + 31) / 32) * 4;
        if (mstride <= in.left() / h) {
            const unsigned char* m = in.data + in.pos;
            for (long long fy = 0; fy < h; fy++) {
                unsigned int* d = pict.top32(info.topDown ? fy : h - 1 - fy);
                for (long long x = 0; x < w; x++)
                    if ((m[fy * mstride + (x >> 3)] >> (7 - (x & 7))) & 1) d[x] &= 0x00FFFFFFu;
            }
        }
    }
    return pict.sendTo(sink) ? eOk : eNoMemory;
}
