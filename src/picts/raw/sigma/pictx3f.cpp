// Sigma X3F. Every count and offset of the section directory is checked against the file
// before it is used; the code table of the compressed format is filled inside its 256
// entries; planes are read into memory no larger than the file.
#include "picts/raw/sigma/pictx3f.h"

#include <cstring>

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/rawcore/rawhook.h"
#include "picts/raw/rawpreview.h"
#include "picts/sizecheck.h"
#include "picts/rawcore/rawtiffwalk.h"

namespace {
struct sSection {
    unsigned int type = 0, format = 0, columns = 0, rows = 0;
};
bool readSectionHeader(cFileIOTarget* io, unsigned long long offset, sSection& s) {
    unsigned char h[28];
    if (!io->set_fp(offset) || !io->readf(h, 28) || memcmp(h, "SECi", 4)) return false;
    s.type = rawGet32(h + 8, false);
    s.format = rawGet32(h + 12, false);
    s.columns = rawGet32(h + 16, false);
    s.rows = rawGet32(h + 20, false);
    return true;
}
inline unsigned short clamp16(int v) { return (unsigned short)(v < 0 ? 0 : v > 65535 ? 65535 : v); }
}  // namespace

void cPictX3F::reset() {
    close();
    myPreviews.destroy();
    myRawOffset = myRawLength = myRawFormat = 0;
}

bool cPictX3F::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictX3F p;
    return p.isPicture(io, info);
}

bool cPictX3F::loadX3F(cFileIOTarget* io) {
    reset();
    if (!io) return false;
    unsigned char h[12];
    const unsigned long long size = io->size();
    if (!io->readf(h, 8) || memcmp(h, "FOVb", 4) || size < 44) return false;
    if (!io->set_fp(size - 4) || !io->readf(h, 4)) return false;
    const unsigned long long dir = rawGet32(h, false);
    if (dir < 40 || dir >= size - 4) return false;
    if (!io->set_fp(dir) || !io->readf(h, 12) || memcmp(h, "SECd", 4)) return false;
    const unsigned long long count = rawGet32(h + 8, false);
    if (count > kMaxSections || dir + 12 + count * 12 > size) return false;
    long long width = 0, height = 0;
    for (unsigned long long i = 0; i < count; i++) {
        unsigned char e[12];
        if (!io->set_fp(dir + 12 + i * 12) || !io->readf(e, 12)) return false;
        if (memcmp(e + 8, "IMA2", 4) && memcmp(e + 8, "IMAG", 4)) continue;
        const unsigned int off = rawGet32(e, false), len = rawGet32(e + 4, false);
        sSection s;
        if (!readSectionHeader(io, off, s)) return false;
        // Both sizes come from the file: their product is taken in 64 bits unsigned, and a
        // preview larger than any picture is passed over.
        const unsigned long long area = (unsigned long long)s.columns * s.rows;
        if (s.type != 2) {
            width = s.columns;
            height = s.rows;
            myRawOffset = off;
            myRawLength = len;
        } else if (s.format == 18 && len > 28 && area <= (unsigned long long)kMaxImagePixels) {
            bool isNew;
            sPreview* p = myPreviews.insert((long long)area, isNew);
            if (!p) return false;
            if (isNew) {
                p->offset = off + 28;
                p->length = len - 28;
                p->columns = s.columns;
                p->rows = s.rows;
            }
        }
    }
    if (!myRawLength || !myRawOffset || !width || !height) return false;
    sSection raw;
    if (!readSectionHeader(io, myRawOffset, raw)) return false;
    myRawFormat = raw.format;
    myWidth = width;
    myHeight = height;
    return true;
}

bool cPictX3F::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!loadX3F(io)) return false;
    sPictInfo r;
    if (myRawFormat == 5 || myRawFormat == 30) {
        r.width = myWidth;
        r.height = myHeight;
        r.hasPreview = !myPreviews.empty();
    } else {
        const sPreview* p = choosePreview(0, 0);
        if (!p) return false;
        r.width = p->columns;
        r.height = p->rows;
        r.hasPreview = true;
    }
    reset();
    if (info) *info = r;
    return true;
}

const cPictX3F::sPreview* cPictX3F::choosePreview(long long maxWidth, long long maxHeight) {
    auto* last = myPreviews.last();
    if (!last) return nullptr;
    if (maxWidth > 0 && maxHeight > 0) {
        auto* fit = myPreviews.find_le(maxWidth * maxHeight);
        if (fit) return &fit->value();
    }
    return &last->value();
}

bool cPictX3F::fillCodeTable(const unsigned char pairs[26], unsigned short table[256]) {
    memset(table, 0, 256 * sizeof(unsigned short));
    for (int i = 0; i < 13; i++) {
        const unsigned int len = pairs[2 * i], code = pairs[2 * i + 1];
        if (len >= 32) return false;
        const unsigned int n = len >= 9 ? 0 : 256u >> len;
        for (unsigned int k = code; k < code + n && k < 256; k++) table[k] = (unsigned short)(len << 8 | i);
    }
    return true;
}

bool cPictX3F::decodeFormat5(cFileIOTarget* io, unsigned short* frame) {
    const long long w = myWidth, h = myHeight;
    unsigned char t[2048];
    if (!io->set_fp((unsigned long long)myRawOffset + 28) || !io->readf(t, 2048)) return false;
    short table[1024];
    for (int i = 0; i < 1024; i++) table[i] = (short)rawGet16(t + 2 * i, false);
    _typebuf<unsigned char> row;
    if (!row.set(w * 4)) return false;
    for (long long y = 0; y < h; y++) {
        if (!io->readf(row.ptr, w * 4)) return false;
        int sum[3] = {0, 0, 0};  // blue, green, red
        unsigned short* out = frame + y * w * 3;
        for (long long x = 0; x < w; x++) {
            const unsigned int word = rawGet32(row.ptr + 4 * x, false);
            for (int c = 0; c < 3; c++) {
                sum[c] += table[(word >> (10 * c)) & 0x3FF];
                // Differences of a crafted table could pile up past int; the sum stays bounded.
                if (sum[c] > 1 << 24) sum[c] = 1 << 24;
                if (sum[c] < -(1 << 24)) sum[c] = -(1 << 24);
            }
            out[3 * x] = clamp16(sum[2]);
            out[3 * x + 1] = clamp16(sum[1]);
            out[3 * x + 2] = clamp16(sum[0]);
        }
    }
    return true;
}

bool cPictX3F::decodeFormat30(cFileIOTarget* io, unsigned short* frame) {
    const long long w = myWidth, h = myHeight;
    const unsigned long long size = io->size();
    unsigned char t[26 + 12];
    if (!io->set_fp((unsigned long long)myRawOffset + 36) || !io->readf(t, sizeof(t))) return false;
    unsigned short table[256];
    if (!fillCodeTable(t, table)) return false;
    _typebuf<unsigned int> lookup;  // in the bit reader's table form: longest length, then entries
    if (!lookup.set(257)) return false;
    lookup.ptr[0] = 8;
    for (int i = 0; i < 256; i++) lookup.ptr[1 + i] = table[i];
    unsigned long long start = (unsigned long long)myRawOffset + 28 + 48;
    for (int c = 0; c < 3; c++) {
        const unsigned long long len = rawGet32(t + 26 + 4 * c, false);
        // A plane is read no further than the file holds.
        const unsigned long long have = start < size ? size - start : 0;
        const long long n = (long long)(len < have ? len : have);
        _typebuf<unsigned char> plane;
        if (n > 0 && (!plane.set(n) || !io->set_fp(start) || !io->readf(plane.ptr, n))) return false;
        cRawBitsMSB bits(plane.ptr, n);
        int v[2][2] = {{512, 512}, {512, 512}};
        for (long long r = 0; r < h; r++) {
            int hp[2] = {0, 0};
            unsigned short* out = frame + r * w * 3 + c;
            for (long long k = 0; k < w; k++) {
                int diff = 0;
                if (!bits.overrun()) {
                    const unsigned int e = table[bits.peek(8)];
                    bits.skip((int)(e >> 8));
                    const int l = (int)(e & 0xFF);  // 0..12
                    const int d = (int)bits.get(l);
                    diff = l && !(d >> (l - 1)) ? d - (1 << l) + 1 : d;
                    if (bits.overrun()) diff = 0;
                }
                if (k < 2) {
                    v[r & 1][k] += diff;
                    hp[k] = v[r & 1][k];
                } else {
                    hp[k & 1] += diff;
                }
                out[3 * k] = (unsigned short)hp[k & 1];
            }
        }
        start += (len + 15) & ~15ULL;
    }
    return true;
}

bool cPictX3F::decode(cFileIOTarget* io) {
    if (!loadX3F(io)) return false;
    if (myRawFormat != 5 && myRawFormat != 30) {
        const sPreview* p = choosePreview(0, 0);
        if (!p) return false;
        cFileIOSubRange window(io, p->offset, p->length);
        cPictJPEG jpeg;
        if (!window.set_fp(0) || !jpeg.decode(&window)) {
            reset();
            return false;
        }
        jpeg.moveTo(*this);
        return true;
    }
    const long long w = myWidth, h = myHeight;
    long long bytes;
    if (!checkedImageBytes(w, h, 8, bytes)) {
        reset();
        return false;
    }
    // The frame's bytes must be in the file before anything is allocated for them: four
    // bytes a pixel uncompressed, at least a bit a sample compressed.
    const unsigned long long size = io->size();
    const unsigned long long need = myRawFormat == 5 ? 28 + 2048 + (unsigned long long)w * h * 4
                                                     : 28 + 76 + ((unsigned long long)w * h * 3 + 7) / 8;
    if ((unsigned long long)myRawOffset + need > size) {
        reset();
        return false;
    }
    _typebuf<unsigned short> frame;
    if (!frame.set(w * h * 3)) {
        reset();
        return false;
    }
    frame.zero();
    bool ok = myRawFormat == 5 ? decodeFormat5(io, frame.ptr) : decodeFormat30(io, frame.ptr);
    if (!ok || !allocPixels(w, h, true)) {
        reset();
        return false;
    }
    sRawFrameView view;
    view.samples = frame.ptr;
    view.width = w;
    view.height = h;
    view.channels = 3;
    showRawFrame(view);
    // The file's first row is the top of the picture; pictures are stored bottom-up.
    for (long long y = 0; y < h; y++) {
        const unsigned short* s = frame.ptr + y * w * 3;
        unsigned long long* d = myPixels16.ptr + (h - 1 - y) * w;
        for (long long x = 0; x < w; x++)
            d[x] = 0xFFFFULL << 48 | (unsigned long long)s[3 * x] << 32 | (unsigned long long)s[3 * x + 1] << 16 |
                   s[3 * x + 2];
    }
    frame.clear();
    if (!rawToneFinish(*this, 2.2, 0, io)) {
        reset();
        return false;
    }
    return true;
}

bool cPictX3F::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!loadX3F(io)) return false;
    const sPreview* p = choosePreview(maxWidth ? *maxWidth : 0, maxHeight ? *maxHeight : 0);
    bool ok = p && rawJpegPreview(io, p->offset, p->length, target, maxWidth, maxHeight);
    reset();
    return ok;
}
