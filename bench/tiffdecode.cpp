// TIFF decode driver for bench/bench_tiff.sh: decodes page 0 of a file once and writes the
// pixels as raw 8-bit RGBA rows, top first (the same work tiff2rgba does), so that whole
// processes can be compared.
#include <cstdio>
#include <vector>

#include "base/fileio.h"
#include "picts/tiff/picttiff.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: tiffdecode in.tif out.rgba\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    cPictTIFF pic;
    if (!pic.decode(&file)) {
        fprintf(stderr, "decode failed\n");
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (!out) return 2;
    static char sink[1 << 18];
    setvbuf(out, sink, _IOFBF, sizeof(sink));
    const long long w = pic.width(), h = pic.height();
    const bool wide = pic.is16Bpp();
    const unsigned int* px8 = pic.raw8Bpp();
    const unsigned long long* px16 = pic.raw16Bpp();
    // 0xAARRGGBB pixels as the bytes R, G, B, A: one 32-bit word each on a little-endian host.
    const bool hostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    std::vector<unsigned int> row((size_t)w);
    for (long long y = 0; y < h; y++) {
        long long src = (h - 1 - y) * w;
        if (!wide && hostLittle) {
            const unsigned int* in = px8 + src;
            unsigned int* o = row.data();
            for (long long x = 0; x < w; x++) o[x] = (in[x] & 0xFF00FF00u) | (in[x] >> 16 & 0xFFu) | (in[x] & 0xFFu) << 16;
            fwrite(row.data(), 4, row.size(), out);
            continue;
        }
        for (long long x = 0; x < w; x++) {
            unsigned p = wide ? cPictBase::to8Bpp(px16[src + x]) : px8[src + x];
            if (hostLittle) {
                row[(size_t)x] = (p & 0xFF00FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
            } else {
                unsigned char* d = (unsigned char*)&row[(size_t)x];
                d[0] = (unsigned char)(p >> 16), d[1] = (unsigned char)(p >> 8), d[2] = (unsigned char)p,
                d[3] = (unsigned char)(p >> 24);
            }
        }
        fwrite(row.data(), 4, row.size(), out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
