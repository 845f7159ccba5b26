// Decodes every page of a DICOM file with the format factory, writing the pixels' grey or
// RGB samples (16-bit little-endian for 16-bit pictures) to an output file, so that one run
// does what dcmdjpeg does: read, decode, write. With --info it prints what it found instead.
// The driver bench_dicom.sh times it against dcmdjpeg.
#include <cstdio>
#include <cstring>

#include "base/fileio.h"
#include "picts/pictbase.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: dicomdecode in.dcm out.raw | dicomdecode --info file...\n");
        return 2;
    }
    const bool info = !strcmp(argv[1], "--info");
    int rc = 0;
    for (int a = info ? 2 : 1; a < (info ? argc : 2); a++) {
        cFileIO file;
        if (!file.open(argv[a])) {
            printf("%s: cannot open\n", argv[a]);
            rc = 1;
            continue;
        }
        cPictBase::sPictInfo pi;
        cPictBase* p = cPictBase::mkPicture(&file, &pi);
        if (!p) {
            printf("%s: not recognised\n", argv[a]);
            rc = 1;
            continue;
        }
        FILE* out = info ? nullptr : fopen(argv[2], "wb");
        int pages = p->getNumPages(&file), ok = 0;
        long long w = 0, h = 0;
        for (int i = 0; i < pages; i++) {
            if (!p->decodePage(&file, i)) continue;
            ok++;
            w = p->width(), h = p->height();
            if (!out) continue;
            // Grey pictures give one sample a pixel, colour ones three.
            if (w < 1 || h < 1) continue;
            // A grey 16-bit page is written as it is held, a row at a time.
            if (const unsigned short* g = p->rawGrey16()) {
                for (long long y = h - 1; y >= 0; y--) fwrite(g + y * w, 2, (size_t)w, out);
                continue;
            }
            const size_t n = (size_t)(w * h);
            bool grey = true;
            for (size_t k = 0; k < n && grey; k += 97) {
                unsigned long long v = p->raw16Bpp() ? p->raw16Bpp()[k] : p->raw8Bpp()[k];
                int cs = p->raw16Bpp() ? 16 : 8;
                unsigned long long m = (1ull << cs) - 1;
                grey = (v & m) == ((v >> cs) & m) && (v & m) == ((v >> 2 * cs) & m);
            }
            // One row at a time, as a streaming writer would.
            const int spp = grey ? 1 : 3;
            const unsigned long long* px16 = p->raw16Bpp();
            const unsigned int* px8 = p->raw8Bpp();
            unsigned short* buf16 = new unsigned short[(size_t)w * spp];
            unsigned char* buf8 = new unsigned char[(size_t)w * spp];
            for (long long y = h - 1; y >= 0; y--) {
                if (px16) {
                    const unsigned long long* r = px16 + y * w;
                    for (long long x = 0; x < w; x++)
                        for (int c = 0; c < spp; c++) buf16[x * spp + c] = (unsigned short)(r[x] >> (32 - 16 * c));
                    fwrite(buf16, 2, (size_t)w * spp, out);
                } else {
                    const unsigned int* r = px8 + y * w;
                    for (long long x = 0; x < w; x++)
                        for (int c = 0; c < spp; c++) buf8[x * spp + c] = (unsigned char)(r[x] >> (16 - 8 * c));
                    fwrite(buf8, 1, (size_t)w * spp, out);
                }
            }
            delete[] buf16;
            delete[] buf8;
        }
        if (out) fclose(out);
        if (info)
            printf("%s: type %d, %d pages, %d decoded, last %lldx%lld%s\n", argv[a], p->typeOf(), pages, ok, w, h,
                   p->is16Bpp() ? " 16-bit" : "");
        if (ok != pages) rc = 1;
        delete p;
    }
    return rc;
}
