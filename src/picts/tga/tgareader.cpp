// TGA decoding into a row sink.
#include "picts/tga/tgareader.h"

namespace {

unsigned int from16(unsigned int v, bool alpha) {
    unsigned int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    return pictArgb((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2), alpha && !(v & 0x8000) ? 0 : 255);
}

unsigned int pixelOf(const unsigned char* p, unsigned int bytes, bool alpha) {
    switch (bytes) {
        case 1: return pictArgb(p[0], p[0], p[0]);
        case 2: return from16(p[0] | (p[1] << 8), alpha);
        case 3: return pictArgb(p[2], p[1], p[0]);
    }
    return pictArgb(p[2], p[1], p[0], alpha ? p[3] : 255);
}

}  // namespace

bool cTgaReader::probe(const unsigned char* data, long long size, long long& width, long long& height) {
    if (size < 19) return false;
    unsigned int cmapType = data[1], type = data[2], depth = data[16], desc = data[17];
    unsigned int cmapLen = data[5] | (data[6] << 8), cmapBits = data[7];
    unsigned int base = type & 7;
    if (cmapType > 1 || (type & ~8u) < 1 || (type & ~8u) > 3 || (desc & 0xC0)) return false;
    if (base == 1) {
        if (cmapType != 1 || (depth != 8 && depth != 16) || cmapLen == 0) return false;
    } else if (base == 2) {
        if (depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
    } else if (depth != 8 && depth != 16) {
        return false;
    }
    if (cmapType == 1 && cmapBits != 15 && cmapBits != 16 && cmapBits != 24 && cmapBits != 32) return false;
    width = data[12] | (data[13] << 8);
    height = data[14] | (data[15] << 8);
    long long cmapBytes = cmapType ? (long long)cmapLen * ((cmapBits + 7) / 8) : 0;
    return width > 0 && height > 0 && 18 + data[0] + cmapBytes < size;
}

int cTgaReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    long long w, h;
    if (!probe(data, size, w, h)) return eNotTga;
    long long px;
    if (!checkedPictPixels(w, h, px)) return eBadSize;
    const unsigned int type = data[2], base = type & 7, depth = data[16], desc = data[17];
    const bool rle = (type & 8) != 0, alpha = (desc & 15) != 0;
    const unsigned int bytes = (depth + 7) / 8;
    sByteReader r(data, size);
    r.pos = 18 + data[0];

    _typebuf<unsigned int> cmap;
    unsigned int cmapFirst = data[3] | (data[4] << 8), cmapLen = data[5] | (data[6] << 8);
    if (data[1] == 1) {
        unsigned int eb = (data[7] + 7) / 8;
        const unsigned char* p = r.bytes((long long)cmapLen * eb);
        if (!p || !cmap.set(cmapLen)) return eTruncated;
        for (unsigned int i = 0; i < cmapLen; i++) cmap.ptr[i] = pixelOf(p + i * eb, eb == 1 ? 3 : eb, data[7] == 32 || (eb == 2 && alpha));
    }
    if (!rle && w * bytes > r.left() / h) return eTruncated;
    if (rle && w * bytes > (r.left() / h) * 128) return eTruncated;

    sRawPict pict;
    if (!pict.begin(w, h, false)) return eNoMemory;
    const bool topDown = (desc & 0x20) != 0, rightLeft = (desc & 0x10) != 0;
    unsigned int runLeft = 0, rawLeft = 0;
    const unsigned char* runPixel = nullptr;
    bool anyAlpha = false;
    for (long long fy = 0; fy < h && !r.bad; fy++) {
        unsigned int* d = pict.top32(topDown ? fy : h - 1 - fy);
        for (long long fx = 0; fx < w; fx++) {
            const unsigned char* p;
            if (!rle) {
                p = r.bytes(bytes);
            } else {
                if (!runLeft && !rawLeft) {
                    unsigned int hd = r.u8();
                    if (hd & 0x80) {
                        runLeft = (hd & 0x7F) + 1;
                        runPixel = r.bytes(bytes);
                    } else {
                        rawLeft = hd + 1;
                    }
                }
                if (runLeft) {
                    runLeft--;
                    p = runPixel;
                } else {
                    rawLeft--;
                    p = r.bytes(bytes);
                }
            }
            if (!p) return eTruncated;
            unsigned int v;
            if (base == 1) {
                unsigned int i = bytes == 1 ? p[0] : (p[0] | (p[1] << 8));
                v = i >= cmapFirst && i - cmapFirst < cmapLen ? cmap.ptr[i - cmapFirst] : 0xFF000000u;
            } else if (base == 3) {
                v = pictArgb(p[0], p[0], p[0], bytes == 2 && alpha ? p[1] : 255);
            } else {
                v = pixelOf(p, bytes, alpha);
            }
            if ((v >> 24) != 255) anyAlpha = true;
            d[rightLeft ? w - 1 - fx : fx] = v;
        }
    }
    // A 32-bit picture whose alpha bytes are all zero was written without alpha.
    if (depth == 32 && alpha && anyAlpha) {
        bool allZero = true;
        for (long long i = 0; i < pict.px32.count && allZero; i++) allZero = (pict.px32.ptr[i] >> 24) == 0;
        if (allZero)
            for (long long i = 0; i < pict.px32.count; i++) pict.px32.ptr[i] |= 0xFF000000u;
    }
    return pict.sendTo(sink) ? eOk : eNoMemory;
}
