// cPictDIB, cPictBMP and cPictICO over cDibReader (and cPngReader for PNG icon entries).
#include "picts/bmp/pictdib.h"

#include "base/memio.h"
#include "picts/bmp/dibreader.h"
#include "picts/byteorder.h"
#include "picts/png/pngreader.h"

namespace {

const long long kMaxFile = 1LL << 31;

}  // namespace

bool cPictDIB::validFor(cFileIOTarget* io, sPictInfo* info, bool iconHalf) {
    unsigned char b[140];
    long long n = peek(io, b, sizeof(b));
    cDibReader r;
    r.icon = iconHalf;
    sDibInfo di;
    if (r.parseHeader(b, n, di) != cDibReader::eOk) return false;
    if (info) {
        info->width = di.width;
        info->height = di.height;
        info->hasPreview = false;
    }
    return true;
}

bool cPictDIB::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data, kMaxFile)) return endRows(false);
    cDibReader r;
    r.icon = myIcon;
    r.useAlpha = myUseAlpha;
    r.forcePalette = myForcePalette;
    return endRows(r.decode(data.ptr, data.count, -1, *this) == cDibReader::eOk);
}

bool cPictBMP::validFor(cFileIOTarget* io, sPictInfo* info) {
    unsigned char b[14 + 140];
    long long n = peek(io, b, sizeof(b));
    if (n < 14 + 12 || b[0] != 'B' || b[1] != 'M') return false;
    cDibReader r;
    sDibInfo di;
    if (r.parseHeader(b + 14, n - 14, di) != cDibReader::eOk) return false;
    if (info) {
        info->width = di.width;
        info->height = di.height;
        info->hasPreview = false;
    }
    return true;
}

bool cPictBMP::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data, kMaxFile) || data.count < 14 + 12 || data.ptr[0] != 'B' || data.ptr[1] != 'M')
        return endRows(false);
    long long off = le32(data.ptr + 10);
    // A zero or impossible offset: the pixels follow the palette.
    if (off < 14 + 12 || off >= data.count) off = -1;
    cDibReader r;
    r.useAlpha = true;
    return endRows(r.decode(data.ptr + 14, data.count - 14, off < 0 ? -1 : off - 14, *this) == cDibReader::eOk);
}

int cPictICO::bestEntry(const unsigned char* data, long long size, long long& bw, long long& bh) {
    if (size < 6 || data[0] || data[1] || data[2] != 1 || data[3]) return -1;
    unsigned int count = data[4] | (data[5] << 8);
    if (!count || 6 + 16LL * count > size) return -1;
    int best = -1;
    long long bestArea = 0;
    unsigned int bestBpp = 0;
    for (unsigned int i = 0; i < count; i++) {
        const unsigned char* e = data + 6 + 16 * i;
        long long len = le32(e + 8), off = le32(e + 12);
        // Every entry must lie inside the file, after the directory.
        if (off < 6 + 16LL * count || len < 12 || off > size || len > size - off) return -1;
        long long w = 0, h = 0;
        unsigned int bpp = 0;
        cBufWrapperIO s(data + off, len);
        sPngHeader ph;
        if (cPngReader::readHeader(&s, ph) == cPngReader::eOk) {
            w = ph.width;
            h = ph.height;
            bpp = 64;
        } else {
            cDibReader r;
            r.icon = true;
            sDibInfo di;
            if (r.parseHeader(data + off, len, di) != cDibReader::eOk) continue;
            w = di.width;
            h = di.height;
            bpp = di.bpp;
        }
        long long area = w * h;
        if (area > bestArea || (area == bestArea && bpp > bestBpp)) {
            best = (int)i;
            bestArea = area;
            bestBpp = bpp;
            bw = w;
            bh = h;
        }
    }
    return best;
}

bool cPictICO::validFor(cFileIOTarget* io, sPictInfo* info) {
    if (!io) return false;
    unsigned char head[6];
    if (peek(io, head, 6) != 6 || head[0] || head[1] || head[2] != 1 || head[3]) return false;
    unsigned int count = head[4] | (head[5] << 8);
    unsigned long long pos = io->get_fp(), size = io->size();
    if (!count || pos > size || 6 + 16ULL * count > size - pos) return false;
    // The directory and each entry's header are enough to choose; entries are read whole
    // only when they are small, as icons are.
    _typebuf<unsigned char> data;
    if (size - pos > (64ULL << 20) || !readAll(io, data, 64LL << 20)) {
        io->set_fp(pos);
        return false;
    }
    io->set_fp(pos);
    long long w = 0, h = 0;
    if (bestEntry(data.ptr, data.count, w, h) < 0) return false;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = false;
    }
    return true;
}

bool cPictICO::decode(cFileIOTarget* io) {
    startRows();
    _typebuf<unsigned char> data;
    if (!readAll(io, data, kMaxFile)) return endRows(false);
    long long w, h;
    int i = bestEntry(data.ptr, data.count, w, h);
    if (i < 0) return endRows(false);
    const unsigned char* e = data.ptr + 6 + 16 * i;
    const unsigned char* img = data.ptr + le32(e + 12);
    long long len = le32(e + 8);
    cBufWrapperIO s(img, len);
    sPngHeader ph;
    if (cPngReader::readHeader(&s, ph) == cPngReader::eOk) {
        s.set_fp(0);
        cPngReader png;
        return endRows(png.decode(&s, *this) == cPngReader::eOk);
    }
    cDibReader r;
    r.icon = true;
    r.useAlpha = true;
    r.forcePalette = true;
    return endRows(r.decode(img, len, -1, *this) == cDibReader::eOk);
}
