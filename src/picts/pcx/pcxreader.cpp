// PCX decoding into a row sink. Runs may cross scan lines, so the RLE stream is unpacked
// continuously, one line of planes at a time.
#include "picts/pcx/pcxreader.h"

bool cPcxReader::probe(const unsigned char* data, long long size, long long& width, long long& height) {
    if (size < 128 || data[0] != 0x0A || data[2] > 1) return false;
    unsigned int v = data[1];
    if (v != 0 && v != 2 && v != 3 && v != 4 && v != 5) return false;
    unsigned int bits = data[3], planes = data[65];
    bool ok = (bits == 1 && (planes == 1 || planes == 2 || planes == 3 || planes == 4)) ||
              ((bits == 2 || bits == 4) && planes == 1) || (bits == 8 && (planes == 1 || planes == 3 || planes == 4));
    if (!ok) return false;
    long long x0 = data[4] | (data[5] << 8), y0 = data[6] | (data[7] << 8);
    long long x1 = data[8] | (data[9] << 8), y1 = data[10] | (data[11] << 8);
    if (x1 < x0 || y1 < y0) return false;
    width = x1 - x0 + 1;
    height = y1 - y0 + 1;
    long long bpl = data[66] | (data[67] << 8);
    return bpl * 8 >= width * bits && bpl > 0;
}

int cPcxReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    long long w, h;
    if (!probe(data, size, w, h)) return eNotPcx;
    long long px;
    if (!checkedPictPixels(w, h, px)) return eBadSize;
    const unsigned int bits = data[3], planes = data[65];
    const bool rle = data[2] == 1;
    const long long bpl = data[66] | (data[67] << 8), lineBytes = bpl * planes;

    unsigned int pal[256];
    for (unsigned int i = 0; i < 16; i++) pal[i] = pictArgb(data[16 + 3 * i], data[17 + 3 * i], data[18 + 3 * i]);
    for (unsigned int i = 16; i < 256; i++) pal[i] = 0xFF000000u;
    if (bits == 1 && planes == 1) {
        // Monochrome files often leave the header palette empty: black and white then.
        if (pal[0] == pal[1]) {
            pal[0] = 0xFF000000u;
            pal[1] = 0xFFFFFFFFu;
        }
    }
    if (bits == 8 && planes == 1) {
        // The 256-colour palette: 0x0C and 768 bytes at the very end.
        if (size < 128 + 769 || data[size - 769] != 0x0C) return eTruncated;
        const unsigned char* p = data + size - 768;
        for (unsigned int i = 0; i < 256; i++) pal[i] = pictArgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    }
    sByteReader r(data, size);
    r.pos = 128;
    if (!rle && lineBytes > r.left() / h) return eTruncated;
    // A run of two bytes makes at most 63: the whole picture needs lineBytes * h / 31.5 bytes.
    if (rle && lineBytes * h > r.left() * 32 + 63) return eTruncated;

    _typebuf<unsigned char> line;
    _typebuf<unsigned int> out;
    if (!line.set(lineBytes) || !out.set(w)) return eNoMemory;
    if (!sink.begin(w, h, false)) return eNoMemory;
    unsigned int runLeft = 0, runValue = 0;
    for (long long y = 0; y < h; y++) {
        for (long long i = 0; i < lineBytes; i++) {
            if (!rle) {
                line.ptr[i] = (unsigned char)r.u8();
                continue;
            }
            if (!runLeft) {
                unsigned int b = r.u8();
                if ((b & 0xC0) == 0xC0) {
                    runLeft = b & 0x3F;
                    runValue = r.u8();
                } else {
                    runLeft = 1;
                    runValue = b;
                }
                if (r.bad) break;
                if (!runLeft) {
                    i--;
                    continue;
                }
            }
            line.ptr[i] = (unsigned char)runValue;
            runLeft--;
        }
        if (r.bad) return eTruncated;
        const unsigned char* l = line.ptr;
        for (long long x = 0; x < w; x++) {
            unsigned int v;
            if (bits == 8) {
                if (planes == 1)
                    v = pal[l[x]];
                else
                    v = pictArgb(l[x], l[bpl + x], l[2 * bpl + x], planes == 4 ? l[3 * bpl + x] : 255);
            } else if (bits == 1) {
                unsigned int idx = 0;
                for (unsigned int p = 0; p < planes; p++) idx |= ((l[p * bpl + (x >> 3)] >> (7 - (x & 7))) & 1) << p;
                v = pal[idx];
            } else {
                unsigned int perByte = 8 / bits;
                v = pal[(l[x / perByte] >> (8 - bits * (unsigned int)(x % perByte + 1))) & ((1u << bits) - 1)];
            }
            out.ptr[x] = v;
        }
        sink.row32(y, out.ptr);
    }
    return eOk;
}
