// Sony ARW/SR2. Nested directories go through cRawTiffWalker (position restored, depth and
// cycles bounded); strips are checked against the file before the frame is allocated; the
// ARW2 row cutter works on signed columns and never reads past its row.
#include "picts/raw/sony/pictarw.h"

#include <cstring>

#include "base/memio.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawstrips.h"

namespace {

struct sSonyModel {
    const char* name;
    bool exact;
    unsigned int black, white, right;
    double r, g, b;
    bool levels14, a100;
    double gamma;
};

// In matching order; the first entry that matches wins.
const sSonyModel kModels[] = {
    {"DSC-R1", true, 320, 0, 58, 1.1, 1.0, 1.1, false, false, 2.2},
    {"DSC-RX1R", true, 128, 0, 15, 0.75, 1.0, 0.8, false, false, 2.2},
    {"DSC-RX0", true, 128, 0, 15, 0.75, 1.0, 0.8, false, false, 2.2},
    {"DSC-RX10", true, 200, 0, 10, 0.6, 1.0, 0.75, false, false, 2.2},
    {"DSC-RX10M2", true, 200, 0, 10, 0.6, 1.0, 0.75, false, false, 2.2},
    {"DSC-RX10M3", true, 200, 0, 10, 0.6, 1.0, 0.75, false, false, 2.2},
    {"DSC-RX10M4", true, 250, 0, 10, 1.0, 1.0, 1.0, false, false, 2.2},
    {"DSC-RX100", true, 220, 0, 10, 0.9, 1.0, 1.3, false, false, 2.2},
    {"DSC-RX100M2", true, 128, 0, 10, 0.95, 1.0, 1.05, false, false, 2.2},
    {"DSC-RX100M4", true, 200, 0, 10, 0.55, 1.0, 0.9, false, false, 2.2},
    {"DSC-RX100M5", true, 200, 0, 10, 0.55, 1.0, 0.9, false, false, 2.2},
    {"DSC-RX100M3", true, 128, 0, 10, 0.55, 1.0, 0.9, false, false, 2.2},
    {"DSLR-A100", true, 0, 0, 0, 1.0, 1.0, 1.0, false, true, 2.2},
    {"DSLR-A700", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"DSLR-A850", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"DSLR-A560", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"DSLR-A900", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCE-3000", true, 128, 992, 32, 1.2, 1.0, 1.0, false, false, 2.2},
    {"ILCE-5000", true, 128, 992, 32, 1.2, 1.0, 1.0, false, false, 2.2},
    {"ILCE-6300", true, 120, 864, 25, 1.0, 1.0, 1.0, false, false, 2.2},
    {"DSC-HX99", true, 200, 1536, 0, 1.15, 1.0, 1.05, false, false, 2.2},
    {"ILCE-6000", true, 160, 864, 0, 1.0, 1.39, 1.0, false, false, 2.2},
    {"ILCE-7M2", true, 160, 864, 0, 1.0, 1.39, 1.0, false, false, 2.2},
    {"DSC-RX1RM2", false, 512, 16896, 0, 1.0, 1.0, 1.0, true, false, 2.2},
    {"ILCE-7SM2", false, 512, 16896, 0, 1.0, 1.0, 1.0, true, false, 2.2},
    {"ILCE-7M3", false, 512, 16896, 0, 1.0, 1.0, 1.0, true, false, 2.2},
    {"ILCE-7RM2", true, 512, 16896, 0, 1.0, 1.0, 1.0, true, false, 2.2},
    {"ILCA-99M2", false, 512, 16896, 0, 1.0, 1.0, 1.0, true, false, 2.2},
    {"ILCE-7RM3", false, 544, 16384, 0, 1.7, 1.0, 1.3, true, false, 2.2},
    {"ILCE-7", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCE-7R", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCA-77M2", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCE-5100", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCE-7S", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCA-68", true, 128, 896, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"MODEL-NAME", true, 128, 640, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A77V", true, 128, 640, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A99V", true, 128, 640, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"NEX-6", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"NEX-7", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A57", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A58", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A02", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"SLT-A65V", true, 128, 0, 0, 1.0, 1.0, 1.0, false, false, 2.2},
    {"ILCE-9", true, 96, 0, 0, 1.0, 0.95, 1.0, false, false, 1.4},
};

// ARW1 code table: high byte the code length, low byte the difference length; entries fill
// consecutive slots of a 15-bit lookup in this order.
const unsigned short kArw1Codes[18] = {0xF11, 0xF10, 0xE0F, 0xD0E, 0xC0D, 0xB0C, 0xA0B, 0x90A, 0x809,
                                       0x708, 0x607, 0x506, 0x405, 0x304, 0x303, 0x300, 0x202, 0x201};

}  // namespace

void cPictARW::reset() {
    close();
    myBits = myCompression = mySamples = myRowsPerStrip = 0;
    myStripOffsets.clear();
    myStripCounts.clear();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
    myMargins = sMarginInfo();
    myJpegOffset = myJpegLength = 0;
    mySubIfds.clear();
    for (double& b : myBalance) b = 1.0;
    myA100 = false;
    myBlack = myWhite = 0;
    for (double& f : myFactors) f = 1.0;
    my14BitLevels = false;
    myGamma = 2.2;
    mySr2Key = mySr2Length = mySr2Offset = 0;
    myFrameWidth = myFrameHeight = 0;
    myCurve.clear();
    myListedModel = false;
    myLayout = slPlain;
    myNesting = 0;
}

bool cPictARW::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictARW p;
    return p.isPicture(io, info);
}

void cPictARW::applyModel(const char* model, int size) {
    for (const sSonyModel& m : kModels) {
        const int n = (int)strlen(m.name) + (m.exact ? 1 : 0);
        if (size < n || memcmp(model, m.name, (size_t)n)) continue;
        myBlack = m.black;
        myWhite = m.white;
        myMargins.right = m.right;
        myFactors[0] = m.r;
        myFactors[1] = m.g;
        myFactors[2] = m.b;
        my14BitLevels = m.levels14;
        myA100 = m.a100;
        myGamma = m.gamma;
        myListedModel = true;
        return;
    }
}

bool cPictARW::processMRW(cFileIOTarget* io, unsigned long long offset) {
    unsigned char h[8];
    if (!io || !io->set_fp(offset) || !io->readf(h, 8) || h[0] || h[1] != 'M' || h[2] != 'R') return false;
    const bool be = h[3] == 'M';
    const unsigned long long length = rawGet32(h + 4, be);
    if (length < 17) return true;
    const unsigned long long end = offset + 8 + length;
    // Sub-blocks move forward by at least their 8-byte header and end with the block.
    for (unsigned long long pos = offset + 8; pos + 8 <= end;) {
        if (!io->set_fp(pos) || !io->readf(h, 8)) return true;
        const unsigned long long len = rawGet32(h + 4, be);
        if (!memcmp(h + 1, "WBG", 3)) {
            unsigned char v[8];
            if (!io->set_fp(pos + 12) || !io->readf(v, 8)) return true;
            for (int i = 0; i < 4; i++) myBalance[i] = rawGet16(v + 2 * i, be);
            return true;
        }
        if (len > length - 8) return true;
        pos += 8 + len;
    }
    return true;
}

bool cPictARW::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    if (tag == 0x7250) {
        // The block is found where the entry's value is: inline in the entry or at its offset.
        unsigned char v[4];
        const unsigned int at = data ? (unsigned int)(myPos + 8) : offset;
        for (int i = 0; i < 4; i++) v[i] = (unsigned char)(at >> (myBigEndian ? 24 - 8 * i : 8 * i));
        return onTag(tag, 4, v, 4);
    }
    return cTiffGeneric::onRawTag(tag, type, data, size, offset);
}

bool cPictARW::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    unsigned int v = 0;
    switch (tag) {
        case 256:
        case 257:
            if (!getValU32(p, v) || !v || size > 4) return false;
            (tag == 256 ? myFrameWidth : myFrameHeight) = v;
            return true;
        case 258:
            if (!getValU32(p, v) || !v || v > 16) return false;
            myBits = v;
            if (my14BitLevels && v <= 13) {
                my14BitLevels = false;
                myBlack >>= 14 - v;
                myWhite >>= 14 - v;
            }
            return true;
        case 259: return getValU32(p, myCompression);
        case 277: return getValU32(p, mySamples) && mySamples;
        case 278: return getValU32(p, myRowsPerStrip) && myRowsPerStrip;
        case 271: return size >= 4 && data && !memcmp(data, "SONY", 4);
        case 272:
            if (data && type == 2) applyModel((const char*)data, size);
            return true;
        case 273: return getValsU32(p, myStripOffsets) && myStripOffsets.count > 0;
        case 279: return getValsU32(p, myStripCounts) && myStripCounts.count == myStripOffsets.count;
        case 330: return getValsU32(p, mySubIfds) && mySubIfds.count > 0;
        case 513: return getValU32(p, myJpegOffset);
        case 514: return getValU32(p, myJpegLength);
        case 33421: {
            _typebuf<unsigned short> d;
            if (getValsU16(p, d) && d.count == 2 && d.ptr[0] && d.ptr[1]) {
                myCfa.cols = d.ptr[0];
                myCfa.rows = d.ptr[1];
            }
            return true;
        }
        case 33422:
            if (myCfa.pattern.count) return true;
            // Both repeat sizes come from the file (up to 65535 each): compared in 64 bits.
            if (size != (long long)myCfa.rows * myCfa.cols) return false;
            return getValsU8(p, myCfa.pattern);
        case 34665: return getValU32(p, v) && v && walkNested(v);
        case 41730: {
            if (size < 5 || !data) return false;
            const unsigned char* b = (const unsigned char*)data;
            const unsigned short cols = b[myBigEndian ? 1 : 0], rows = b[myBigEndian ? 3 : 2];
            if ((int)cols * rows != size - 4) return false;
            myCfa.cols = cols;
            myCfa.rows = rows;
            return myCfa.pattern.set(b + 4, size - 4);
        }
        case 50706: return false;  // a DNG is read as a DNG
        case 0x7200: return getValU32(p, mySr2Offset);
        case 0x7201: return getValU32(p, mySr2Length);
        case 0x7221:
            if (size != 4 || !data) return false;
            mySr2Key = rawGet32((const unsigned char*)data, myBigEndian);
            return true;
        case 0x7010: {
            // Sony's tone curve: knots at 0, the four values / 4 (12 bits) and 4095, slopes
            // 1, 2, 4, 8, 16 between them.
            _typebuf<unsigned short> k;
            if (!getValsU16(p, k) || k.count < 4 || !myCurve.set(4096)) return true;
            unsigned int knots[6] = {0, 0, 0, 0, 0, 4095};
            for (int i = 0; i < 4; i++) knots[i + 1] = (k.ptr[i] >> 2) & 0xFFF;
            for (unsigned int j = 0; j < 4096; j++) myCurve.ptr[j] = (unsigned short)j;
            // Knots out of order leave a segment empty.
            for (int i = 0; i < 5; i++)
                for (unsigned int j = knots[i] + 1; j <= knots[i + 1]; j++)
                    myCurve.ptr[j] = (unsigned short)(myCurve.ptr[j - 1] + (1u << i));
            return true;
        }
        case 0x7250:
        case 50740: {
            if (size != 4 || !data) return true;
            const unsigned int off = rawGet32((const unsigned char*)data, myBigEndian);
            if (!processMRW(myIO, off)) walkNested(off);
            return true;
        }
        case 0x7251:
            // The SR2 sub-directory is encrypted with a key-derived pad we do not build; the
            // default balance applies.
            return true;
        default: return true;
    }
}

bool cPictARW::walk(cFileIOTarget* io, bool needSubIfd) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    if (!needSubIfd) return true;
    if (!mySubIfds.count) return false;
    if (myA100) {
        // The A100 keeps its raw frame at the sub-IFD offset: one strip, RGGB, 12 bits.
        static const unsigned char kRggb[4] = {0, 1, 1, 2};
        if (!myStripOffsets.set(1)) return false;
        myStripOffsets.ptr[0] = mySubIfds.ptr[0];
        myStripCounts.clear();
        myCfa.rows = myCfa.cols = 2;
        myCfa.pattern.set(kRggb, 4);
        myBits = 12;
        myCompression = 32767;
    } else if (!walkNested(mySubIfds.ptr[0])) {
        return false;
    }
    return myFrameWidth && myFrameHeight && myBits && myStripOffsets.count && myCfa.pattern.count;
}

bool cPictARW::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io, true)) return false;
    if (info) {
        info->width = myFrameWidth;
        info->height = myFrameHeight;
        info->hasPreview = myJpegOffset != 0;
    }
    return true;
}

void cPictARW::decodeArw2Row(const unsigned char* row, long long width, bool be, const unsigned short* curve,
                             unsigned short* out) {
    const unsigned char* dp = row;
    for (long long col = 0; col < width - 30; dp += 16) {
        if (dp + 16 > row + width) break;
        const unsigned int w = rawGet32(dp, be);
        const int mx = (int)(w & 0x7FF), mn = (int)((w >> 11) & 0x7FF);
        const int imax = (int)((w >> 22) & 15), imin = (int)((w >> 26) & 15);
        int sh = 0;
        while (sh < 4 && !((0x80 << sh) > mx - mn)) sh++;
        // 30 header bits and 14 samples of 7 bits fill the 128 bits exactly: the position
        // moves only past the samples that are not the block's max or min.
        int bit = 30;
        for (int i = 0; i < 16; i++) {
            int v;
            if (i == imax) {
                v = mx;
            } else if (i == imin) {
                v = mn;
            } else {
                // A block whose max and min share an index codes 15 samples: the last one
                // runs past the block into the next (as the peers read it), and reads zero
                // bits past the row's end.
                const long long at = bit >> 3, avail = row + width - dp;
                const unsigned char cur = at < avail ? dp[at] : 0, next = at + 1 < avail ? dp[at + 1] : 0;
                const unsigned int pair = be ? (unsigned int)(cur << 8 | next) : (unsigned int)(next << 8 | cur);
                v = (int)((pair >> (bit & 7)) & 0x7F);
                v = (v << sh) + mn;
                if (v > 0x7FF) v = 0x7FF;
                bit += 7;
            }
            const int index = v << 1;
            out[col + 2 * i] = (unsigned short)((curve ? curve[index] : index) >> 2);
        }
        col += (col & 1) ? 31 : 1;
    }
}

bool cPictARW::decodeArw1(const unsigned char* data, long long size, long long rows, unsigned short* out) {
    const long long width = myFrameWidth;
    _typebuf<unsigned int> lookup;
    if (!lookup.set(1 + 32768)) return false;
    lookup.ptr[0] = 15;
    long long slot = 0;
    for (unsigned short e : kArw1Codes)
        for (long long n = 32768 >> (e >> 8); n > 0; n--) lookup.ptr[1 + slot++] = e;
    cRawBitsMSB bits(data, size);
    int sum = 0;  // runs on from column to column
    for (long long col = width - 1; col >= 0; col--) {
        for (long long row = 0; row < rows + 9; row += 2) {
            if (row == rows + 8) row = 1;
            const int len = bits.huff(lookup);
            int diff = 0;
            if (len == 16) {
                diff = -32768;
            } else if (len > 0) {
                const int d = (int)bits.get(len);
                diff = (d >> (len - 1)) ? d : d - (1 << len) + 1;
            }
            if (bits.overrun()) diff = 0;
            sum += diff;
            // A sample outside 12 bits (either way) is corrupt data, not a value to wrap.
            if (sum < 0 || sum > 4095) return false;
            if (row < rows) out[row * width + col] = (unsigned short)sum;
        }
    }
    return true;
}

bool cPictARW::readStrips(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    // Every strip in the file, and enough bytes for the frame at the densest coding
    // (ARW1 needs at least 2 bits a sample) before anything is allocated.
    unsigned long long total;
    if (!rawStripsInFile(myStripOffsets, myStripCounts, io->size(), total)) return false;
    long long pixels;
    if (!checkedImageBytes(width, height, 2, pixels) || total * 4 < (unsigned long long)(width * height)) return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    return rawForEachStrip(io, myStripOffsets, myStripCounts, myRowsPerStrip, height,
                           [&](long long, const unsigned char* d, long long count, long long row0, long long rows) {
        unsigned short* out = frame.ptr + row0 * width;
        if (myCompression == 32767) {
            if (count == rows * width) {
                myLayout = slArw2;
                for (long long r = 0; r < rows; r++)
                    decodeArw2Row(d + r * width, width, myBigEndian, myCurve.count == 4096 ? myCurve.ptr : nullptr,
                                  out + r * width);
            } else if (count == rows * width * 3 / 2) {
                myLayout = slPacked12;
                rawUnpack12(d, rows * width, myBigEndian, out);
            } else {
                myLayout = slArw1;
                return decodeArw1(d, count, rows, out);
            }
        } else if (myCompression == 1) {
            if (count != rows * width * 2) return false;
            myLayout = slPlain;
            // Samples in the file's byte order, as the cameras write them.
            for (long long k = 0; k < rows * width; k++) out[k] = (unsigned short)rawGet16(d + 2 * k, myBigEndian);
        } else {
            return false;
        }
        return true;
    });
}

// A camera missing from the table gets the black level the peers subtract, which real files
// are written for: none on frames up to 3888 wide; on wider ones 128 at 12 bits (ARW2 and
// packed samples are 12-bit whatever the file declares; ARW1 scales it with the declared
// bits), and 512 for plain samples (at 16 bits the peers differ: none).
unsigned int cPictARW::unlistedModelBlack() const {
    if (myFrameWidth <= 3888) return 0;
    switch (myLayout) {
        case slArw2:
        case slPacked12: return 128;
        case slArw1: return myBits >= 12 ? 128u << (myBits - 12) : 0;
        case slPlain: return myBits < 15 ? 512 : 0;
    }
    return 0;
}

bool cPictARW::decode(cFileIOTarget* io) {
    if (!walk(io, true)) return false;
    // Balance by colour code; codes 0 and 2 both left at 1.0 mean none was found.
    double b[4] = {1.4, 1.0, 1.1, 1.0};
    if (myCfa.pattern.count == 4) {
        double got[4] = {1.0, 1.0, 1.0, 1.0};
        for (int i = 0; i < 4; i++) {
            if (myCfa.pattern.ptr[i] > 3) return false;
            got[myCfa.pattern.ptr[i]] = myBalance[i];
        }
        if (!(got[0] == 1.0 && got[2] == 1.0))
            for (int c = 0; c < 4; c++) b[c] = got[c];
    }
    double f[4] = {b[0] * myFactors[0], b[1] * myFactors[1], b[2] * myFactors[2], 0};
    f[3] = f[1];
    double m = f[0] < f[1] ? f[0] : f[1];
    if (f[2] < m) m = f[2];
    if (!(m > 0.0)) {
        for (double& v : f) v = 1.0;
        m = 1.0;
    }
    _typebuf<unsigned short> frame;
    if (!readStrips(io, frame)) {
        reset();
        return false;
    }
    if (!myListedModel) myBlack = unlistedModelBlack();
    // Plain 16-bit samples declared narrower than 15 bits saturate at 14 bits, as the peers
    // read them whatever the declared depth.
    unsigned int white = myWhite;
    if (!white) white = myBits == 8 ? 4095 : myLayout == slPlain && myBits < 15 ? 16383 : (1u << myBits) - 1;
    const double s = 65536.0 / white / m;
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myFrameWidth;
    job.height = myFrameHeight;
    job.cfa = &myCfa;
    for (int c = 0; c < 4; c++) job.mul[c] = f[c] * s;
    job.black = myBlack;
    job.margins = myMargins;
    job.gamma = myGamma;
    return rawBayerFinish(*this, job, io);
}

bool cPictARW::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!walk(io, false) || !nextOffset() || !myJpegOffset || !myJpegLength) return false;
    return rawJpegPreview(io, myJpegOffset, myJpegLength, target, maxWidth, maxHeight);
}
