// JPEG 2000 decode driver for bench/bench_jpeg2000.sh: decodes a .j2k/.jp2 file with the
// given number of threads (0: every core) and writes the components as a PNM (8 or 16 bits,
// as opj_decompress does), so both programs do the same work from file to file. With
// --picture first it decodes through the picture factory instead (8-bit pixel rows, as the
// program shows them) and writes a PPM.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fileio.h"
#include "base/memio.h"
#include "picts/jpeg2000/jp2decode.h"
#include "picts/jpeg2000/pictjp2.h"
#include "ppmsink.h"

int main(int argc, char** argv) {
    const bool picture = argc > 1 && !strcmp(argv[1], "--picture");
    if (picture) argc--, argv++;
    if (argc < 3) {
        fprintf(stderr, "usage: jp2decode [--picture] in.j2k|in.jp2 out.pnm [threads]\n");
        return 2;
    }
    // Read through a file stream with the decoder's read cache, as the picture classes do.
    cFileIO file;
    if (!file.open(argv[1])) return 1;
    cMemBufferedIO io(&file, 1 << 16);
    unsigned char sig[5] = {};
    io.read(sig, 5);
    io.set_fp(0);
    cJ2KDecode::setThreads(argc > 3 ? atoi(argv[3]) : 0);
    bool jp2 = sig[4] == 'j';
    if (picture) {
        cPictBase::sPictInfo info;
        cPictBase* p = cPictBase::mkPicture(&io, &info);
        io.set_fp(0);
        const bool ok = p && (p->typeOf() == cPictBase::pkJ2K || p->typeOf() == cPictBase::pkJP2) &&
                        p->decode(&io) && writePpm(*p, argv[2]);
        delete p;
        if (!ok) fprintf(stderr, "decode failed\n");
        return ok ? 0 : 1;
    }
    cPtr<cJP2Image> img;
    cJP2Decode d2;
    cJ2KDecode d1;
    bool ok = jp2 ? d2.setup(0) && d2.readHeader(&io, img) && d2.decode(&io, img.ptr)
                  : d1.readHeader(&io, img) && d1.decode(&io, img.ptr);
    if (!ok || (img->numcomps != 1 && img->numcomps != 3)) {
        fprintf(stderr, "decode failed\n");
        return 1;
    }
    const cJP2Image& im = *img.ptr;
    unsigned int w = im.comps.ptr[0].w, h = im.comps.ptr[0].h, prec = im.comps.ptr[0].prec, nc = im.numcomps;
    int bytes = prec > 8 ? 2 : 1;
    FILE* o = fopen(argv[2], "wb");
    if (!o) return 1;
    fprintf(o, "P%c\n%u %u\n%u\n", nc == 1 ? '5' : '6', w, h, (1u << prec) - 1);
    std::vector<unsigned char> row((size_t)w * nc * bytes);
    for (unsigned int y = 0; y < h; y++) {
        unsigned char* p = row.data();
        for (unsigned int x = 0; x < w; x++)
            for (unsigned int c = 0; c < nc; c++) {
                int v = im.comps.ptr[c].data.ptr[(size_t)y * w + x];
                if (bytes == 2) *p++ = (unsigned char)(v >> 8);
                *p++ = (unsigned char)v;
            }
        fwrite(row.data(), 1, row.size(), o);
    }
    fclose(o);
    return 0;
}
