// Writes a decoded picture as a binary PPM (the format djpeg and pngtopnm write by default),
// so that the decode drivers hand their output to the same sink as the peer they are timed
// against. Header-only helper of the bench drivers.
#pragma once

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "picts/pictbase.h"

namespace ppmsink {

// 0xAARRGGBB words to R, G, B bytes (grey: the blue byte alone). `out` has room for 4 bytes
// a pixel: the last word stored may reach past the 3 bytes of its pixel.
inline void packRow(const unsigned int* in, long long w, unsigned char* out, bool grey) {
    long long x = 0;
    if (grey) {
        for (; x < w; x++) out[x] = (unsigned char)in[x];
        return;
    }
    for (; x < w; x++, out += 3) {
        unsigned v = __builtin_bswap32(in[x]) >> 8;  // R, G, B in memory order, then a zero byte
        memcpy(out, &v, 4);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
// The same, eight pixels a step (two lanes of four pixels to 12 bytes each).
__attribute__((target("avx2"))) inline void packRowAvx2(const unsigned int* in, long long w, unsigned char* out,
                                                        bool grey) {
    long long x = 0;
    if (grey) {
        const __m256i pick = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                              12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        for (; x + 8 <= w; x += 8) {
            __m256i v = _mm256_shuffle_epi8(_mm256_loadu_si256((const __m256i*)(in + x)), pick);
            unsigned lo = (unsigned)_mm256_extract_epi32(v, 0), hi = (unsigned)_mm256_extract_epi32(v, 4);
            memcpy(out + x, &lo, 4);
            memcpy(out + x + 4, &hi, 4);
        }
        packRow(in + x, w - x, out + x, grey);
        return;
    }
    const __m256i pick = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                                          10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    for (; x + 8 <= w; x += 8, out += 24) {
        __m256i v = _mm256_shuffle_epi8(_mm256_loadu_si256((const __m256i*)(in + x)), pick);
        _mm_storeu_si128((__m128i*)out, _mm256_castsi256_si128(v));
        _mm_storeu_si128((__m128i*)(out + 12), _mm256_extracti128_si256(v, 1));
    }
    packRow(in + x, w - x, out, grey);
}
#endif

}  // namespace ppmsink

// Writes a decoded picture as a binary PPM (the format djpeg and pngtopnm write by default),
// or as PGM when `grey` (as djpeg writes grey pictures), so that the decode drivers hand their
// output to the same sink as the peer they are timed against: the frame's rows (stored
// bottom-up) packed into a quarter-megabyte buffer, written whenever it fills.
inline bool writePpm(cPictBase& pic, const char* path, bool grey = false) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const long long w = pic.width(), h = pic.height();
    fprintf(f, "%s\n%lld %lld\n255\n", grey ? "P5" : "P6", w, h);
    fflush(f);
    const long long rowBytes = grey ? w : w * 3;
    long long rowsPerChunk = ((long long)1 << 18) / (rowBytes ? rowBytes : 1);
    if (rowsPerChunk < 1) rowsPerChunk = 1;
    std::vector<unsigned char> chunk((size_t)(rowsPerChunk * rowBytes + w + 32));
    const unsigned int* px = pic.raw8Bpp();
    const unsigned long long* px16 = pic.raw16Bpp();
    bool ok = px || px16;
    void (*pack)(const unsigned int*, long long, unsigned char*, bool) = ppmsink::packRow;
#if defined(__GNUC__) && defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) pack = ppmsink::packRowAvx2;
#endif
    long long filled = 0;
    for (long long y = h - 1; ok && y >= 0; y--) {
        unsigned char* o = chunk.data() + filled;
        if (px) {
            pack(px + y * w, w, o, grey);
        } else {
            const unsigned long long* in = px16 + y * w;
            for (long long x = 0; x < w; x++) {
                if (grey) {
                    o[x] = (unsigned char)(in[x] >> 8);
                } else {
                    o[3 * x] = (unsigned char)(in[x] >> 40);
                    o[3 * x + 1] = (unsigned char)(in[x] >> 24);
                    o[3 * x + 2] = (unsigned char)(in[x] >> 8);
                }
            }
        }
        filled += rowBytes;
        if (filled + rowBytes > rowsPerChunk * rowBytes || y == 0) {
            ok = fwrite(chunk.data(), 1, (size_t)filled, f) == (size_t)filled;
            filled = 0;
        }
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
