// Inflates one zlib file with cZInflate in 256 KiB pieces and writes the plain bytes to the
// output (default /dev/null): the whole-process driver inflate_vs_zlib.sh times against
// pigz -dcz writing to the same sink. Usage: zinflate file.zz [out]
#include <cstdio>
#include <vector>

#include "compression/zlibstreams.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: zinflate file.zz [out]\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argc > 2 ? argv[2] : "/dev/null", "wb");
    if (!in || !out) return 2;
    const size_t piece = 256 << 10;
    std::vector<unsigned char> ibuf(piece), obuf(piece);
    cZInflate z;
    if (!z.init()) return 1;
    size_t have = 0, at = 0;
    bool ended = false;
    while (!ended) {
        if (at == have) {
            have = fread(ibuf.data(), 1, piece, in);
            at = 0;
        }
        long long used = 0, made = 0;
        cZInflate::eResult r = z.inflate(ibuf.data() + at, (long long)(have - at), used, obuf.data(),
                                         (long long)piece, made);
        if (r == cZInflate::eError || (r == cZInflate::eNeedMore && have == 0 && made == 0)) {
            fprintf(stderr, "inflate failed\n");
            return 1;
        }
        at += (size_t)used;
        if (made && fwrite(obuf.data(), 1, (size_t)made, out) != (size_t)made) return 1;
        ended = r == cZInflate::eStreamEnd;
    }
    fclose(in);
    return fclose(out) == 0 ? 0 : 1;
}
