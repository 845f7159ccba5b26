// Decodes page 1 of a JBIG2 file with cPictJBIG2 and writes it as a PBM, the same work and sink
// as "jbig2dec -t pbm -o OUT"; bench_jbig2.sh times the two processes. With --make it writes
// a benchmark page instead through the tests' plain encoder: dense (strokes, blocks and noise
// on every third row band) or, with "sparse", a printed page (mostly white, lines of glyphs).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/picts/jbig2_testenc.h"
#include "base/fileio.h"
#include "picts/jbig2/pictjbig2.h"

int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && !strcmp(argv[1], "--make")) {
        jbig2test::Options o;
        o.tpgdon = true;
        const int w = atoi(argv[3]), h = atoi(argv[4]);
        const bool sparse = argc == 6 && !strcmp(argv[5], "sparse");
        std::vector<unsigned char> file =
            jbig2test::jbig2File(sparse ? jbig2test::textPage(w, h, 7) : jbig2test::sample(w, h, 7), o);
        FILE* f = fopen(argv[2], "wb");
        bool ok = f && fwrite(file.data(), 1, file.size(), f) == file.size();
        if (f) fclose(f);
        return ok ? 0 : 1;
    }
    if (argc != 3) {
        fprintf(stderr, "usage: jbig2decode IN.jb2 OUT.pbm | jbig2decode --make OUT.jb2 WIDTH HEIGHT [sparse]\n");
        return 2;
    }
    cFileIO in;
    if (!in.open(argv[1])) return 2;
    cPictJBIG2 pic;
    if (!pic.decode(&in)) {
        fprintf(stderr, "decode failed\n");
        return 1;
    }
    const long long w = pic.width(), h = pic.height(), stride = (w + 7) / 8;
    FILE* out = fopen(argv[2], "wb");
    if (!out) return 2;
    // The page goes out in a few large writes, as jbig2dec's does, not one per 4 KiB.
    std::vector<char> outBuf((size_t)1 << 18);
    setvbuf(out, outBuf.data(), _IOFBF, outBuf.size());
    fprintf(out, "P4\n%lld %lld\n", w, h);
    // The page is held as PBM rows are written (a 1 bit black, rows padded to bytes); a picture
    // of another kind goes through 32-bit rows, black being the only value with the low bit clear.
    std::vector<unsigned char> row((size_t)stride);
    std::vector<unsigned int> px((size_t)w);
    const unsigned char* bits = pic.bitsOneWhite() ? nullptr : pic.rawBits();
    bool ok = true;
    for (long long y = h - 1; ok && y >= 0; y--) {  // rows are stored bottom-up
        const unsigned char* r = bits ? bits + y * stride : row.data();
        if (!bits) {
            ok = pic.pixelRow32(y, px.data());
            std::fill(row.begin(), row.end(), 0);
            for (long long x = 0; x < w; x++) row[(size_t)(x >> 3)] |= (~px[(size_t)x] & 1) << (7 - (x & 7));
        }
        ok = ok && fwrite(r, 1, (size_t)stride, out) == (size_t)stride;
    }
    return fclose(out) == 0 && ok ? 0 : 1;
}
