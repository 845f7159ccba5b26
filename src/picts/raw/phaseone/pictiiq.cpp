// Phase One IIQ. The directory's entry count is bounded by the file, the raw block and the
// tables must lie inside it, code lengths must be set before use, and a decoded value must
// stay within 0-65535 before it indexes anything.
#include "picts/raw/phaseone/pictiiq.h"

#include <cmath>
#include <cstring>

#include "base/memio.h"
#include "base/strings.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtiffwalk.h"
#include "picts/tiff/picttiff.h"

namespace {

// Bits most significant first out of little-endian 32-bit words; past the end 0 bits.
struct sPh1Bits {
    const unsigned char* data;
    long long size, pos;
    unsigned long long buf = 0;
    int held = 0;

    unsigned int get(int count) {
        if (count <= 0) return 0;
        if (held < count) {
            if (pos + 4 > size) return 0;
            buf = buf << 32 | le32(data + pos);
            pos += 4;
            held += 32;
        }
        const unsigned int v = (unsigned int)(buf >> (held - count)) & ((1u << count) - 1);
        held -= count;
        return v;
    }
};

const int kLengths[10] = {8, 7, 6, 9, 11, 10, 5, 12, 14, 13};

}  // namespace

void cPictIIQ::reset() {
    close();
    myFormat = myBlack = 0;
    mySplitCol = myBlackColOffset = mySplitRow = myBlackRowOffset = 0;
    myMargins = sMarginInfo();
    myRowTableOffset = myRawOffset = myRawSize = 0;
    for (double& b : myBalance) b = 1.0;
    myFrameWidth = myFrameHeight = 0;
}

bool cPictIIQ::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictIIQ p;
    return p.isPicture(io, info);
}

bool cPictIIQ::processIIQ(cFileIOTarget* io, unsigned int* tiffBase) {
    if (!io) return false;
    const unsigned long long fileSize = io->size();
    unsigned int base, dir;
    unsigned char h[59];
    if (io->set_fp(8) && io->readf(h, 12) && !memcmp(h, "IIII", 4) && le32(h + 4) == 0x52617743) {
        base = 8;
        dir = le32(h + 8);
        if (tiffBase) *tiffBase = 0;
    } else if (io->set_fp(0) && io->readf(h, 59) && le32(h) == 0x04034B50 && rawGet16(h + 8, false) == 0 &&
               !memcmp(h + 30, "0.II", 4) && !memcmp(h + 47, "IIII", 4) && le32(h + 51) == 0x52617743) {
        base = 47;
        dir = le32(h + 55);
        if (tiffBase) *tiffBase = 39;
    } else {
        return false;
    }
    const unsigned long long at = (unsigned long long)base + dir;
    unsigned char c[4];
    if (!io->set_fp(at) || !io->readf(c, 4)) return false;
    const unsigned int count = le32(c);
    if (!count) return true;
    // Each entry takes 16 bytes of the file.
    if (count > kMaxEntries || at + 8 + 16ULL * count > fileSize) return false;
    unsigned long long balanceAt = 0;
    for (unsigned int i = 0; i < count; i++) {
        unsigned char e[16];
        if (!io->set_fp(at + 8 + 16ULL * i) || !io->readf(e, 16)) return false;
        const unsigned int tag = le32(e), size = le32(e + 8), data = le32(e + 12);
        const unsigned int abs = data + base;
        switch (tag) {
            case 0x107:
                if (size >= 12) balanceAt = (unsigned long long)data + base;
                break;
            case 0x108: myFrameWidth = data; break;
            case 0x109: myFrameHeight = data; break;
            case 0x10A: myMargins.left = data; break;
            case 0x10B: myMargins.top = data; break;
            case 0x10C:
                if ((long long)data < myFrameWidth - (long long)myMargins.left)
                    myMargins.right = (unsigned int)(myFrameWidth - data - myMargins.left);
                break;
            case 0x10D:
                if ((long long)data < myFrameHeight - (long long)myMargins.top)
                    myMargins.bottom = (unsigned int)(myFrameHeight - data - myMargins.top);
                break;
            case 0x10E: myFormat = data; break;
            case 0x10F:
                myRawOffset = abs;
                myRawSize = size;
                break;
            case 0x21C: myRowTableOffset = abs; break;
            case 0x21D: myBlack = data; break;
            case 0x222: mySplitCol = data; break;
            case 0x223: myBlackColOffset = abs; break;
            case 0x224: mySplitRow = data; break;
            case 0x225: myBlackRowOffset = abs; break;
            default: break;
        }
    }
    if (balanceAt) {
        unsigned char f[12];
        if (io->set_fp(balanceAt) && io->readf(f, 12)) {
            float v[3];
            for (int i = 0; i < 3; i++) {
                const unsigned int u = le32(f + 4 * i);
                memcpy(&v[i], &u, 4);
            }
            myBalance[0] = v[2];
            myBalance[1] = myBalance[3] = v[1];
            myBalance[2] = v[0];
        }
    }
    return true;
}

bool cPictIIQ::isPicture(cFileIOTarget* io, sPictInfo* info) {
    reset();
    if (!processIIQ(io, nullptr) || !myFrameWidth || !myFrameHeight || !myRawOffset || !myRawSize) return false;
    // Margins are checked against the frame: they must leave something of it.
    if (!myMargins.leaveRoom(myFrameWidth, myFrameHeight)) return false;
    if (info) {
        info->width = myFrameWidth - myMargins.left - myMargins.right;
        info->height = myFrameHeight - myMargins.top - myMargins.bottom;
        cFileIOSubRange tiff(io, previewBase(io), ~0ULL);
        sPictInfo t;
        info->hasPreview = tiff.set_fp(0) && cPictTIFF::validFor(&tiff, &t) && t.width > 0 && t.height > 0;
    }
    return true;
}

unsigned long long cPictIIQ::previewBase(cFileIOTarget* io) {
    unsigned char h[34];
    if (!io->set_fp(0) || !io->readf(h, 34) || __memicmp(h + 30, "0.II", 4)) return 0;
    return rawGet16(h + 8, false) == 0 ? 39 : 0;
}

bool cPictIIQ::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!io || !target) return false;
    return rawTiffPreview(io, previewBase(io), target, maxWidth, maxHeight);
}

bool cPictIIQ::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    const unsigned long long fileSize = io->size();
    long long n;
    // The raw block inside the file, holding at least 2 bits a sample, and a row table.
    if (!checkedImagePixels(width, height, n) || !myRowTableOffset ||
        (unsigned long long)myRawOffset + myRawSize > fileSize || (unsigned long long)myRawSize * 4 < (unsigned long long)n)
        return false;
    _typebuf<unsigned char> rowTable, raw;
    if (!rowTable.set(height * 4) || !io->set_fp(myRowTableOffset) || !io->readf(rowTable.ptr, height * 4))
        return false;
    _typebuf<short> blackCol, blackRow;
    auto readI16 = [&](unsigned int off, long long count, _typebuf<short>& out) {
        _typebuf<unsigned char> b;
        if (!b.set(count * 2) || !out.set(count) || !io->set_fp(off) || !io->readf(b.ptr, count * 2)) return false;
        for (long long i = 0; i < count; i++) out.ptr[i] = (short)rawGet16(b.ptr + 2 * i, false);
        return true;
    };
    if (myBlackColOffset && !readI16(myBlackColOffset, 2 * height, blackCol)) return false;
    if (myBlackRowOffset && !readI16(myBlackRowOffset, 2 * width, blackRow)) return false;
    if (!raw.set(myRawSize) || !io->set_fp(myRawOffset) || !io->readf(raw.ptr, myRawSize)) return false;
    if (!frame.set(n)) return false;
    unsigned short curve[256];
    for (int i = 0; i < 256; i++) curve[i] = (unsigned short)(i * i / 3.969 + 0.5);
    const long long fixedFrom = width & ~7LL;  // from here on raw 16-bit values
    for (long long row = 0; row < height; row++) {
        const unsigned int rowOff = le32(rowTable.ptr + 4 * row);
        if (rowOff >= myRawSize) return false;
        sPh1Bits bits{raw.ptr, (long long)myRawSize, (long long)rowOff};
        int len[2] = {0, 0};  // 0: not set yet
        long long value[2] = {0, 0};
        // The tables hold pairs: per row its black left and right of the split column, per
        // column its black above the split row and from it on.
        const int colBlack[2] = {blackCol.ptr ? blackCol.ptr[2 * row] : 0, blackCol.ptr ? blackCol.ptr[2 * row + 1] : 0};
        const long long rowPart = row < mySplitRow ? 0 : 1;
        unsigned short* out = frame.ptr + row * width;
        for (long long x = 0; x < width; x++) {
            if (x >= fixedFrom) {
                len[0] = len[1] = 14;
            } else if (!(x & 7)) {
                for (int i = 0; i < 2; i++) {
                    int zeros = 0;
                    while (zeros < 5 && !bits.get(1)) zeros++;
                    if (zeros) len[i] = kLengths[(zeros - 1) * 2 + (int)bits.get(1)];
                }
            }
            const int l = len[x & 1];
            if (!l) return false;  // a length used before any was given
            if (l == 14) value[x & 1] = bits.get(16);
            else value[x & 1] += (long long)bits.get(l) - (1LL << (l - 1)) + 1;
            const long long v0 = value[x & 1];
            // Negative or beyond 16 bits: corrupt data, refused before the curve sees it.
            if (v0 < 0 || v0 > 65535) return false;
            const long long v = myFormat == 5 && v0 < 256 ? curve[v0] : v0;
            long long s = v * 4 - (long long)myBlack;
            if (blackRow.ptr) s += blackRow.ptr[2 * x + rowPart];
            if (blackCol.ptr) s += colBlack[x < mySplitCol ? 0 : 1];
            out[x] = (unsigned short)(s < 0 ? 0 : s > 65535 ? 65535 : s);
        }
    }
    return true;
}

bool cPictIIQ::decode(cFileIOTarget* io) {
    if (!isPicture(io, nullptr) || myFormat < 3) return false;
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    sCFAData cfa;
    static const unsigned char kCodes[4] = {0, 1, 1, 2};
    cfa.rows = cfa.cols = 2;
    cfa.pattern.set(kCodes, 4);
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myFrameWidth;
    job.height = myFrameHeight;
    job.cfa = &cfa;
    job.mul[0] = myBalance[2];
    job.mul[1] = myBalance[1];
    job.mul[2] = myBalance[0];
    job.mul[3] = myBalance[1];
    job.margins = myMargins;
    return rawBayerFinish(*this, job, io);
}
