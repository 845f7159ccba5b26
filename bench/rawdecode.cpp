// Decodes a camera raw file through the picture factory (demosaic and tone finishing
// included) and writes a 16-bit PPM, as dcraw -4 does; bench_raw.sh times whole runs
// against dcraw. The decode works in row bands on every core, and so does the PPM's
// conversion (in the picture's own rows, which are not needed after it).
#include <cstdio>
#include <cstring>

#include "base/fileio.h"
#include "picts/pictbase.h"
#include "picts/rawcore/rawbands.h"
#include "ppmsink.h"

namespace {

// writePpm16's output for a 16-bit picture that is not needed afterwards: every row is
// turned into big-endian samples in place (its first w * 6 bytes; pixel x is read before
// bytes 6x to 6x + 7 are written, all before pixel x + 1), rows in bands side by side, then the
// rows are written bottom row first (pictures are stored bottom-up). Little-endian hosts;
// others take writePpm16.
bool writePpm16Consuming(cPictBase& pic, const char* path) {
    unsigned long long* px = pic.raw16Bpp();
    const bool littleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    if (!px || !littleEndian) return writePpm16(pic, path);
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    const long long w = pic.width(), h = pic.height();
    const size_t rowBytes = (size_t)w * 6;
    fprintf(f, "P6\n%lld %lld\n65535\n", w, h);
    rawRowBands(0, h, [&](int, long long y0, long long y1) {
        for (long long y = y0; y < y1; y++) {
            unsigned long long* in = px + y * w;
            unsigned char* o = (unsigned char*)in;
            // Red, green, blue most significant byte first are the byte-swapped word shifted
            // up by 16; its 8 bytes go out, the last 2 overwritten by the next pixel (and, at
            // the row's end, still inside the row).
            for (long long x = 0; x < w; x++, o += 6) {
                const unsigned long long v = __builtin_bswap64(in[x] << 16);
                memcpy(o, &v, 8);
            }
        }
    });
    bool ok = true;
    for (long long y = h - 1; ok && y >= 0; y--) ok = fwrite(px + y * w, 1, rowBytes, f) == rowBytes;
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: rawdecode file out.ppm\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&file, &info);
    if (!p) {
        fprintf(stderr, "not a picture we read\n");
        return 1;
    }
    file.set_fp(0);
    bool ok = p->decode(&file);
    if (!ok) fprintf(stderr, "decode failed\n");
    if (ok && !writePpm16Consuming(*p, argv[2])) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        ok = false;
    }
    delete p;
    return ok ? 0 : 1;
}
