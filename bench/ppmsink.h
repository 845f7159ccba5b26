// Writes a decoded picture as a binary PPM (the format djpeg and pngtopnm write by default),
// so that the decode drivers hand their output to the same sink as the peer they are timed
// against. Header-only helper of the bench drivers.
#pragma once

#include <cstdio>
#include <vector>

#include "picts/pictbase.h"

inline bool writePpm(cPictBase& pic, const char* path) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const long long w = pic.width(), h = pic.height();
    fprintf(f, "P6\n%lld %lld\n255\n", w, h);
    std::vector<unsigned char> row((size_t)w * 3);
    const unsigned int* px = pic.raw8Bpp();
    const unsigned long long* px16 = pic.raw16Bpp();
    bool ok = px || px16;
    // Rows are stored bottom-up.
    for (long long y = h - 1; ok && y >= 0; y--) {
        unsigned char* o = row.data();
        if (px) {
            const unsigned int* in = px + y * w;
            for (long long x = 0; x < w; x++, o += 3) {
                unsigned v = in[x];
                o[0] = (unsigned char)(v >> 16);
                o[1] = (unsigned char)(v >> 8);
                o[2] = (unsigned char)v;
            }
        } else {
            const unsigned long long* in = px16 + y * w;
            for (long long x = 0; x < w; x++, o += 3) {
                o[0] = (unsigned char)(in[x] >> 40);
                o[1] = (unsigned char)(in[x] >> 24);
                o[2] = (unsigned char)(in[x] >> 8);
            }
        }
        ok = fwrite(row.data(), 1, (size_t)w * 3, f) == (size_t)w * 3;
    }
    return fclose(f) == 0 && ok;
}

// Writes a 16-bit picture as a binary PPM of 16-bit samples, most significant byte first (as
// dcraw -4 writes); an 8-bit picture is widened (v * 257).
inline bool writePpm16(cPictBase& pic, const char* path) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    static char sink[1 << 18];
    setvbuf(f, sink, _IOFBF, sizeof(sink));
    const long long w = pic.width(), h = pic.height();
    fprintf(f, "P6\n%lld %lld\n65535\n", w, h);
    std::vector<unsigned char> row((size_t)w * 6);
    const unsigned int* px = pic.raw8Bpp();
    const unsigned long long* px16 = pic.raw16Bpp();
    bool ok = px || px16;
    for (long long y = h - 1; ok && y >= 0; y--) {
        unsigned char* o = row.data();
        for (long long x = 0; x < w; x++, o += 6) {
            unsigned long long v = px16 ? px16[y * w + x] : cPictBase::to16Bpp(px[y * w + x]);
            for (int c = 0; c < 3; c++) {
                unsigned s = (unsigned)(v >> (32 - 16 * c)) & 0xFFFF;
                o[2 * c] = (unsigned char)(s >> 8);
                o[2 * c + 1] = (unsigned char)s;
            }
        }
        ok = fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return fclose(f) == 0 && ok;
}
