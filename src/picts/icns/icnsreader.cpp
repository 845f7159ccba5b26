// ICNS decoding into a row sink.
#include "picts/icns/icnsreader.h"

#include "base/lists.h"
#include "base/memio.h"
#include "picts/byteorder.h"
#include "picts/jpeg2000/pictjp2.h"
#include "picts/pictbox.h"
#include "picts/png/pngreader.h"

namespace {

struct sElemType {
    unsigned int type;
    int side;
    int kind;  // 1 RLE 24-bit, 2 ARGB or PNG, 3 PNG or JPEG 2000, 4 8-bit mask
};

const sElemType kTypes[] = {
    {pictBoxType("is32"), 16, 1}, {pictBoxType("il32"), 32, 1}, {pictBoxType("ih32"), 48, 1},
    {pictBoxType("it32"), 128, 1}, {pictBoxType("s8mk"), 16, 4}, {pictBoxType("l8mk"), 32, 4},
    {pictBoxType("h8mk"), 48, 4}, {pictBoxType("t8mk"), 128, 4}, {pictBoxType("ic04"), 16, 2},
    {pictBoxType("ic05"), 32, 2}, {pictBoxType("icsb"), 18, 2}, {pictBoxType("icsB"), 36, 3},
    {pictBoxType("icp4"), 16, 3}, {pictBoxType("icp5"), 32, 3}, {pictBoxType("icp6"), 64, 3},
    {pictBoxType("ic07"), 128, 3}, {pictBoxType("ic08"), 256, 3}, {pictBoxType("ic09"), 512, 3},
    {pictBoxType("ic10"), 1024, 3}, {pictBoxType("ic11"), 32, 3}, {pictBoxType("ic12"), 64, 3},
    {pictBoxType("ic13"), 256, 3}, {pictBoxType("ic14"), 512, 3},
};

const unsigned char kPngSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
const unsigned char kJp2Sig[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
const unsigned char kJ2kSig[4] = {0xFF, 0x4F, 0xFF, 0x51};

// 0 not JPEG 2000, 1 a JP2 file, 2 a bare codestream.
int jpeg2000Kind(const unsigned char* d, long long n) {
    if (n >= 12 && memcmp(d, kJp2Sig, 12) == 0) return 1;
    if (n >= 4 && memcmp(d, kJ2kSig, 4) == 0) return 2;
    return 0;
}

}  // namespace

bool cIcnsReader::unpackRle(sByteReader& in, unsigned char* out, long long n, long long stride) {
    long long i = 0;
    while (i < n) {
        unsigned int b = in.u8();
        if (in.bad) return false;
        if (b & 0x80) {
            unsigned int v = in.u8();
            for (unsigned int k = 0; k < b - 125 && i < n; k++) out[stride * i++] = (unsigned char)v;
        } else {
            const unsigned char* p = in.bytes(b + 1);
            if (!p) return false;
            for (unsigned int k = 0; k <= b && i < n; k++) out[stride * i++] = p[k];
        }
        if (in.bad) return false;
    }
    return true;
}

bool cIcnsReader::choose(const unsigned char* data, long long size, sChoice& best) {
    if (size < 8 || memcmp(data, "icns", 4) != 0) return false;
    long long total = be32(data + 4);
    if (total < 8) return false;
    if (total > size) total = size;
    long long masks[4] = {-1, -1, -1, -1};  // 16, 32, 48, 128
    int bestRank = 0;
    bool found = false;
    // Elements are walked once; each is at least 8 bytes, so the walk ends.
    for (long long pos = 8; pos + 8 <= total;) {
        unsigned int type = be32(data + pos);
        long long len = be32(data + pos + 4);
        if (len < 8 || len > total - pos) break;
        const unsigned char* d = data + pos + 8;
        long long dl = len - 8;
        for (const sElemType& t : kTypes) {
            if (t.type != type) continue;
            sChoice c;
            c.offset = pos + 8;
            c.length = dl;
            c.width = c.height = t.side;
            if (t.kind == 4) {
                int slot = t.side == 16 ? 0 : t.side == 32 ? 1 : t.side == 48 ? 2 : 3;
                if (dl >= (long long)t.side * t.side) masks[slot] = c.offset;
                break;
            }
            if (dl >= 8 && memcmp(d, kPngSig, 8) == 0) {
                cBufWrapperIO s(d, dl);
                sPngHeader h;
                if (cPngReader::readHeader(&s, h) != cPngReader::eOk) break;
                c.width = h.width;
                c.height = h.height;
                c.kind = 3;
            } else if (t.kind == 3 && jpeg2000Kind(d, dl)) {
                cBufWrapperIO s(d, dl);
                cPictBase::sPictInfo info;
                bool ok = jpeg2000Kind(d, dl) == 1 ? cPictJP2::validFor(&s, &info) : cPictJ2K::validFor(&s, &info);
                if (!ok) break;
                c.width = info.width;
                c.height = info.height;
                c.kind = 5;
            } else if (t.kind == 2 && dl >= 4 && memcmp(d, "ARGB", 4) == 0) {
                c.kind = 2;
            } else if (t.kind == 1) {
                c.kind = 1;
            } else {
                break;  // unknown contents
            }
            // Larger wins; of equal size, elements with their own alpha win.
            int rank = c.kind == 1 ? 0 : 1;
            if (!found || c.width * c.height > best.width * best.height ||
                (c.width * c.height == best.width * best.height && rank > bestRank)) {
                best = c;
                bestRank = rank;
                found = true;
            }
            break;
        }
        pos += len;
    }
    if (found && best.kind == 1) {
        int slot = best.width == 16 ? 0 : best.width == 32 ? 1 : best.width == 48 ? 2 : 3;
        best.maskOffset = masks[slot];
    }
    return found;
}

bool cIcnsReader::probe(const unsigned char* data, long long size, long long& width, long long& height) {
    sChoice c;
    if (!choose(data, size, c)) return false;
    width = c.width;
    height = c.height;
    return true;
}

int cIcnsReader::decode(const unsigned char* data, long long size, cPictRowSink& sink) {
    sChoice c;
    if (size < 8 || memcmp(data, "icns", 4) != 0) return eNotIcns;
    if (!choose(data, size, c)) return eNoImage;
    const unsigned char* d = data + c.offset;
    if (c.kind == 3) {
        cBufWrapperIO s(d, c.length);
        cPngReader png;
        return png.decode(&s, sink) == cPngReader::eOk ? eOk : eBadData;
    }
    if (c.kind == 5) {
        // A JPEG 2000 element: decoded whole, then handed over row by row (stored bottom-up).
        cBufWrapperIO s(d, c.length);
        cPtr<cPictJP2Base> j(jpeg2000Kind(d, c.length) == 1 ? (cPictJP2Base*)new cPictJP2 : new cPictJ2K);
        if (!j->decode(&s) || !j->raw8Bpp()) return eBadData;
        long long w = j->width(), h = j->height();
        if (!sink.begin(w, h, false)) return eNoMemory;
        for (long long y = 0; y < h; y++) sink.row32(y, j->raw8Bpp() + (h - 1 - y) * w);
        return eOk;
    }
    long long px;
    if (!checkedPictPixels(c.width, c.height, px)) return eBadSize;
    sRawPict pict;
    if (!pict.begin(c.width, c.height, false)) return eNoMemory;
    _typebuf<unsigned char> planes;
    if (!planes.set(px * 4)) return eNoMemory;
    memset(planes.ptr, 255, (size_t)px * 4);
    sByteReader in(d, c.length);
    if (c.kind == 2) {
        in.skip(4);
        for (int ch = 0; ch < 4; ch++)  // A, R, G, B planes
            if (!unpackRle(in, planes.ptr + ch * px, px, 1)) return eTruncated;
    } else {
        // it32 data starts with four zero bytes.
        if (c.width == 128 && c.length >= 4 && !be32(d)) in.skip(4);
        if (c.length == px * 4 && c.width != 128) {
            for (long long i = 0; i < px; i++)
                for (int ch = 1; ch < 4; ch++) planes.ptr[ch * px + i] = d[4 * i + ch];
        } else {
            for (int ch = 1; ch < 4; ch++)
                if (!unpackRle(in, planes.ptr + ch * px, px, 1)) return eTruncated;
        }
        if (c.maskOffset >= 0) memcpy(planes.ptr, data + c.maskOffset, (size_t)px);
    }
    // Planes are stored top row first.
    for (long long y = 0; y < c.height; y++) {
        unsigned int* row = pict.top32(y);
        for (long long x = 0; x < c.width; x++) {
            long long i = y * c.width + x;
            row[x] = pictArgb(planes.ptr[px + i], planes.ptr[2 * px + i], planes.ptr[3 * px + i], planes.ptr[i]);
        }
    }
    return pict.sendTo(sink) ? eOk : eNoMemory;
}
