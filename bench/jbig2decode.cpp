// Decodes page 1 of a JBIG2 file with cPictJBIG2 and writes it as a PBM, the same work and sink
// as "jbig2dec -t pbm -o OUT"; bench_jbig2.sh times the two processes. With --make it writes
// the benchmark's page instead (a text-like bitmap through the tests' plain encoder).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/picts/jbig2_testenc.h"
#include "base/fileio.h"
#include "picts/jbig2/pictjbig2.h"

int main(int argc, char** argv) {
    if (argc == 5 && !strcmp(argv[1], "--make")) {
        jbig2test::Options o;
        o.tpgdon = true;
        std::vector<unsigned char> file = jbig2test::jbig2File(jbig2test::sample(atoi(argv[3]), atoi(argv[4]), 7), o);
        FILE* f = fopen(argv[2], "wb");
        bool ok = f && fwrite(file.data(), 1, file.size(), f) == file.size();
        if (f) fclose(f);
        return ok ? 0 : 1;
    }
    if (argc != 3) {
        fprintf(stderr, "usage: jbig2decode IN.jb2 OUT.pbm | jbig2decode --make OUT.jb2 WIDTH HEIGHT\n");
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
    fprintf(out, "P4\n%lld %lld\n", w, h);
    std::vector<unsigned char> row((size_t)stride);
    for (long long y = 0; y < h; y++) {
        const unsigned int* px = pic.raw8Bpp() + (h - 1 - y) * w;  // rows are stored bottom-up
        // Black (0xFF000000) is the only value with the low bit clear.
        long long i = 0;
        for (; i < w / 8; i++) {
            const unsigned int* p = px + i * 8;
            unsigned int b = 0;
            for (int k = 0; k < 8; k++) b |= (~p[k] & 1) << (7 - k);
            row[(size_t)i] = (unsigned char)b;
        }
        if (i < stride) {
            unsigned int b = 0;
            for (long long x = i * 8; x < w; x++) b |= (~px[x] & 1) << (7 - (x & 7));
            row[(size_t)i] = (unsigned char)b;
        }
        fwrite(row.data(), 1, row.size(), out);
    }
    return fclose(out) == 0 ? 0 : 1;
}
