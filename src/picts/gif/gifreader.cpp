// GIF decoding into a row sink; pixels outside the first frame stay transparent.
#include "picts/gif/gifreader.h"

namespace {
// Indices one byte of LZW data can yield at most: four 2-bit codes of 4096 indices each.
const long long kMaxLzwExpansion = 4 * 4096;
}  // namespace

long long gifLzwDecode(const unsigned char* in, long long inSize, unsigned int minCodeSize, unsigned char* out,
                       long long outSize) {
    if (minCodeSize < 1 || minCodeSize > 11) return 0;
    unsigned short prefix[4096];
    unsigned char suffix[4096];
    unsigned char stack[4097];
    const unsigned int clear = 1u << minCodeSize, eoi = clear + 1;
    for (unsigned int i = 0; i < clear; i++) {
        prefix[i] = 0;
        suffix[i] = (unsigned char)i;
    }
    unsigned int size = minCodeSize + 1, next = clear + 2;
    int old = -1;
    unsigned char firstChar = 0;
    unsigned long long bits = 0;
    unsigned int nbits = 0;
    long long pos = 0, made = 0;
    while (made < outSize) {
        while (nbits < size && pos < inSize) {
            bits |= (unsigned long long)in[pos++] << nbits;
            nbits += 8;
        }
        if (nbits < size) break;
        unsigned int code = (unsigned int)(bits & ((1u << size) - 1));
        bits >>= size;
        nbits -= size;
        if (code == clear) {
            size = minCodeSize + 1;
            next = clear + 2;
            old = -1;
            continue;
        }
        if (code == eoi) break;
        if (old < 0) {
            if (code >= clear) break;  // the first code after a clear must be a literal
            out[made++] = (unsigned char)code;
            old = (int)code;
            firstChar = (unsigned char)code;
            continue;
        }
        if (code > next) break;
        unsigned int sp = 0, c = code;
        if (code == next) {
            stack[sp++] = firstChar;
            c = (unsigned int)old;
        }
        while (c >= clear && sp < 4096) {
            stack[sp++] = suffix[c];
            c = prefix[c];
        }
        if (c >= clear) break;
        firstChar = suffix[c];
        stack[sp++] = firstChar;
        if (next < 4096) {
            prefix[next] = (unsigned short)old;
            suffix[next] = firstChar;
            next++;
            if (next == (1u << size) && size < 12) size++;
        }
        old = (int)code;
        while (sp && made < outSize) out[made++] = stack[--sp];
    }
    return made;
}

bool cGifReader::probe(const unsigned char* data, long long size, long long& width, long long& height) {
    if (size < 13 || memcmp(data, "GIF", 3) != 0 || (memcmp(data + 3, "87a", 3) != 0 && memcmp(data + 3, "89a", 3) != 0))
        return false;
    width = data[6] | (data[7] << 8);
    height = data[8] | (data[9] << 8);
    return true;
}

int cGifReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    long long sw, sh;
    if (!probe(data, size, sw, sh)) return eNotGif;
    sByteReader r(data, size);
    r.skip(10);
    unsigned int flags = r.u8();
    r.skip(2);
    unsigned int global[256], local[256];
    unsigned int globalCount = 0;
    if (flags & 0x80) {
        globalCount = 2u << (flags & 7);
        const unsigned char* p = r.bytes(3LL * globalCount);
        if (!p) return eTruncated;
        for (unsigned int i = 0; i < globalCount; i++) global[i] = pictArgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    }
    int transparent = -1;
    // Blocks until the first image; each block consumes input, so the loop ends with the data.
    for (;;) {
        unsigned int b = r.u8();
        if (r.bad || b == 0x3B) return eTruncated;
        if (b == 0x21) {
            unsigned int label = r.u8();
            bool first = true;
            for (;;) {
                unsigned int n = r.u8();
                if (r.bad) return eTruncated;
                if (!n) break;
                const unsigned char* p = r.bytes(n);
                if (!p) return eTruncated;
                if (label == 0xF9 && first && n >= 4) transparent = (p[0] & 1) ? p[3] : -1;
                first = false;
            }
            continue;
        }
        if (b != 0x2C) return eBadData;
        break;
    }
    long long fx = r.u16le(), fy = r.u16le(), fw = r.u16le(), fh = r.u16le();
    unsigned int iflags = r.u8();
    if (r.bad) return eTruncated;
    const unsigned int* pal = global;
    unsigned int palCount = globalCount;
    if (iflags & 0x80) {
        palCount = 2u << (iflags & 7);
        const unsigned char* p = r.bytes(3LL * palCount);
        if (!p) return eTruncated;
        for (unsigned int i = 0; i < palCount; i++) local[i] = pictArgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
        pal = local;
    }
    if (!palCount) return eBadData;
    // A screen smaller than the frame grows to hold it.
    long long w = sw > fx + fw ? sw : fx + fw, h = sh > fy + fh ? sh : fy + fh;
    long long px, fpx;
    if (!checkedPictPixels(w, h, px) || !checkedPictPixels(fw, fh, fpx)) return eBadSize;
    unsigned int minCode = r.u8();
    // Gather the sub-blocks of LZW data.
    _typebuf<unsigned char> lzw, idx;
    if (!lzw.set(r.left() + 1)) return eNoMemory;
    long long lzwLen = 0;
    for (;;) {
        unsigned int n = r.u8();
        if (r.bad || !n) break;
        const unsigned char* p = r.bytes(n);
        if (!p) {
            n = (unsigned int)r.left();
            p = r.bytes(n);
        }
        memcpy(lzw.ptr + lzwLen, p, n);
        lzwLen += n;
        if (r.bad) break;
    }
    if (!lzwLen) return eTruncated;
    // Every code takes at least two bits and stands for at most 4096 indices: a picture
    // larger than its data could ever fill (frame, or screen grown by the frame's offsets) is
    // refused before its buffers exist.
    if ((px - 1) / kMaxLzwExpansion >= lzwLen) return eBadData;
    if (!idx.set(fpx)) return eNoMemory;
    long long made = gifLzwDecode(lzw.ptr, lzwLen, minCode, idx.ptr, fpx);
    if (made <= 0) return eBadData;
    lzw.clear();
    // A stream that ends (or breaks) before the frame is full is truncated: the rows it did
    // give are still handed on, but the picture is a failure, never a success with holes.
    const bool whole = made == fpx;

    sRawPict pict;
    if (!pict.begin(w, h, false)) return eNoMemory;
    // GIF89a appendix E: interlaced rows come in four passes.
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    long long row = 0;
    for (int pass = 0; pass < ((iflags & 0x40) ? 4 : 1); pass++) {
        long long y0 = (iflags & 0x40) ? start[pass] : 0, dy = (iflags & 0x40) ? step[pass] : 1;
        for (long long y = y0; y < fh; y += dy, row++) {
            unsigned int* d = pict.top32(fy + y) + fx;
            for (long long x = 0; x < fw; x++) {
                long long k = row * fw + x;
                if (k >= made) break;
                unsigned int i = idx.ptr[k];
                d[x] = (int)i == transparent ? 0 : i < palCount ? pal[i] : 0xFF000000u;
            }
        }
    }
    if (!pict.sendTo(sink)) return eNoMemory;
    return whole ? eOk : eTruncated;
}
