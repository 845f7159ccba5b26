// Decodes a camera raw file through the picture factory (demosaic and tone finishing
// included) and writes a 16-bit PPM, as dcraw -4 does; bench_raw.sh times whole runs
// against dcraw. The decode works in row bands on every core, and so does the PPM's
// conversion (in the picture's own rows, which are not needed after it).
// With --check it writes instead the stage the peer is held against: the sensor frame the
// decoder hands to its demosaic, demosaiced by the same pixel grouping with unit multipliers
// and no black level (top row first, the decoder's crop), and prints the black level and
// multipliers the decoder used; the tone finishing is ours alone and is left out.
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/fileio.h"
#include "picts/pictbase.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawbands.h"
#include "picts/rawcore/rawhook.h"
#include "ppmsink.h"

namespace {

struct sCheckStage {
    bool seen = false;
    bool ok = false;
    long long width = 0, height = 0;
    std::vector<unsigned long long> pixels;
};

// The first Bayer frame the decode shows, demosaiced on the spot (the filter lives only as
// long as the call).
void demosaicShownFrame(void* context, const sRawFrameView& v) {
    sCheckStage& st = *(sCheckStage*)context;
    if (st.seen) return;
    st.seen = true;
    fprintf(stderr, "decoder's reading: %lldx%lld, black %u, multipliers %.6f %.6f %.6f %.6f\n", v.width, v.height,
            v.black, v.mul ? v.mul[0] : 1.0, v.mul ? v.mul[1] : 1.0, v.mul ? v.mul[2] : 1.0, v.mul ? v.mul[3] : 1.0);
    if (!v.filter || v.channels != 1) return;
    const sMarginInfo m = v.margins ? *v.margins : sMarginInfo();
    st.width = v.width - (long long)m.left - (long long)m.right;
    st.height = v.height - (long long)m.top - (long long)m.bottom;
    if (st.width < 1 || st.height < 1) return;
    std::vector<unsigned short> raw(v.samples, v.samples + v.width * v.height);
    st.pixels.resize((size_t)(st.width * st.height));
    sInterpolateInfo info;
    info.raw = raw.data();
    info.pixels = st.pixels.data();
    info.width = v.width;
    info.height = v.height;
    info.filter = const_cast<cBayerFilter*>(v.filter);
    setRawFrameHook(nullptr, nullptr);
    st.ok = interpolatePPG(info, &m);
}

bool writeCheckStage(const sCheckStage& st, const char* path) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    fprintf(f, "P6\n%lld %lld\n65535\n", st.width, st.height);
    std::vector<unsigned char> row((size_t)st.width * 6);
    bool ok = true;
    for (long long y = 0; ok && y < st.height; y++) {
        const unsigned long long* in = st.pixels.data() + y * st.width;
        for (long long x = 0; x < st.width; x++)
            for (int k = 0; k < 3; k++) {
                const unsigned v = (unsigned)(in[x] >> (32 - 16 * k)) & 0xFFFF;
                row[(size_t)(x * 6 + 2 * k)] = (unsigned char)(v >> 8);
                row[(size_t)(x * 6 + 2 * k + 1)] = (unsigned char)v;
            }
        ok = fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return fclose(f) == 0 && ok;
}

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
    const bool check = argc > 1 && !strcmp(argv[1], "--check");
    if (check) argc--, argv++;
    if (argc < 3) {
        fprintf(stderr, "usage: rawdecode [--check] file out.ppm\n");
        return 2;
    }
    cFileIO file;
    if (!file.open(argv[1])) return 2;
    sCheckStage stage;
    if (check) setRawFrameHook(demosaicShownFrame, &stage);
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&file, &info);
    if (!p) {
        fprintf(stderr, "not a picture we read\n");
        return 1;
    }
    file.set_fp(0);
    bool ok = p->decode(&file);
    if (!ok) fprintf(stderr, "decode failed\n");
    if (check) {
        setRawFrameHook(nullptr, nullptr);
        if (ok && !stage.ok) fprintf(stderr, "no Bayer frame to check\n");
        ok = ok && stage.ok && writeCheckStage(stage, argv[2]);
    } else if (ok && !writePpm16Consuming(*p, argv[2])) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        ok = false;
    }
    delete p;
    return ok ? 0 : 1;
}
