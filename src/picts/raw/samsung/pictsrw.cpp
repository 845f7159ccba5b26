// Samsung SRW. Strips are read into memory no larger than the file; every decoded position is
// checked against the row and the frame (rows not a multiple of 16 wide, the first rows of a
// strip), and code lengths outside 0-16 are corrupt data.
#include "picts/raw/samsung/pictsrw.h"

#include <cstring>

#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawstrips.h"

namespace {

struct sSamsungModel {
    const char* name;
    int compared;   // bytes compared (the NUL included for exact matches)
    int minSize;    // bytes the tag must hold
    unsigned int left, right, top, bottom;
    bool rggbSwap;  // the EK-GN120's own pattern
    bool bePacking;
};
const sSamsungModel kModels[] = {
    {"NX mini", 7, 8, 96, 25, 17, 0, false, false},
    {"EX2F", 4, 5, 0, 105, 0, 10, false, false},
    {"EK-GN120", 9, 9, 0, 8, 0, 19, true, false},
    {"WB2000", 6, 6, 0, 11, 2, 2, false, false},
    {"NX2000", 6, 7, 1, 0, 0, 20, false, false},
    {"NX1000", 6, 7, 46, 57, 2, 60, false, false},
    {"NX20", 5, 5, 46, 57, 2, 60, false, false},
    {"NX200", 6, 6, 46, 57, 2, 60, false, false},
    {"NX210", 6, 6, 46, 57, 2, 60, false, false},
    {"NX10 ", 5, 5, 8, 8, 8, 0, false, true},
    {"NX11 ", 5, 5, 8, 8, 8, 0, false, true},
    {"NX100 ", 6, 6, 8, 8, 8, 0, false, true},
    {"NX30", 5, 5, 0, 9, 0, 20, false, false},
    {"EX1    ", 8, 8, 0, 6, 0, 20, false, false},
    {"NX300", 6, 6, 1, 9, 0, 20, false, false},
    {"NX3000", 6, 7, 97, 32, 37, 26, false, false},
};

// 32772: high byte the code length, low byte the difference length; entries fill
// consecutive slots of a 10-bit lookup in this order.
const unsigned short kHuffCodes[14] = {0x304, 0x307, 0x206, 0x205, 0x403, 0x600, 0x709,
                                       0x80A, 0x90B, 0xA0C, 0xA0D, 0x501, 0x408, 0x402};

// A count of bits read through the LSB-word reader, in the bytes its lazy form loads.
inline long long wordBytes(long long bits) { return (bits + 31) / 32 * 4; }

}  // namespace

void cPictSRW::reset() {
    close();
    mySubIfds.clear();
    myBits = myCompression = mySamples = myRowsPerStrip = 0;
    myStripOffsets.clear();
    myStripCounts.clear();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
    myMargins = sMarginInfo();
    myRowTableOffset = 0;
    myBEPacking = false;
    myJpegOffset = myJpegLength = 0;
    myFrameWidth = myFrameHeight = 0;
    myPatternOnly = false;
    myNesting = 0;
}

bool cPictSRW::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictSRW p;
    return p.isPicture(io, info);
}

void cPictSRW::applyModel(const char* model, int size) {
    for (const sSamsungModel& m : kModels) {
        if (size < m.minSize || size < m.compared || memcmp(model, m.name, (size_t)m.compared)) continue;
        myMargins.left = m.left;
        myMargins.right = m.right;
        myMargins.top = m.top;
        myMargins.bottom = m.bottom;
        myBEPacking = m.bePacking;
        if (m.rggbSwap) {
            static const unsigned char kCodes[4] = {1, 0, 2, 1};
            myCfa.rows = myCfa.cols = 2;
            myCfa.pattern.set(kCodes, 4);
        }
        return;
    }
}

bool cPictSRW::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    unsigned int v = 0;
    if (myPatternOnly && tag != 33421 && tag != 33422 && tag != 513 && tag != 514) return true;
    switch (tag) {
        case 256:
        case 257:
            if (!getValU32(p, v) || !v || size > 4) return false;
            (tag == 256 ? myFrameWidth : myFrameHeight) = v;
            return true;
        case 258: return getValU32(p, myBits) && myBits >= 1 && myBits <= 16;
        case 259: return getValU32(p, myCompression);
        case 271: return size >= 7 && data && !memcmp(data, "SAMSUNG", 7);
        case 272:
            if (data && type == 2) applyModel((const char*)data, size);
            return true;
        case 273: return getValsU32(p, myStripOffsets) && myStripOffsets.count > 0;
        case 277: return getValU32(p, mySamples) && mySamples;
        case 278: return getValU32(p, myRowsPerStrip) && myRowsPerStrip;
        case 279: return getValsU32(p, myStripCounts) && myStripCounts.count == myStripOffsets.count;
        case 330: return getValsU32(p, mySubIfds) && mySubIfds.count > 0;
        case 513: return getValU32(p, myJpegOffset);
        case 514: return getValU32(p, myJpegLength);
        case 33421: {
            _typebuf<unsigned short> d;
            if (!getValsU16(p, d) || d.count != 2 || !d.ptr[0] || !d.ptr[1]) return false;
            myCfa.cols = d.ptr[0];
            myCfa.rows = d.ptr[1];
            return true;
        }
        case 33422:
            if (myCfa.pattern.count) return true;
            if (size != (int)myCfa.rows * myCfa.cols) return false;
            return getValsU8(p, myCfa.pattern);
        case 40976: return getValU32(p, myRowTableOffset);
        case 50706: return false;
        default: return true;
    }
}

bool cPictSRW::walk(cFileIOTarget* io) {
    reset();
    if (!io || !processStream(io, ~0ULL) || mySubIfds.count != 2) return false;
    if (!walkNested(mySubIfds.ptr[1])) return false;
    if (!myCfa.pattern.count) {
        // The preview's directory lends its pattern only: its sizes and strips are the
        // preview's, not the raw frame's.
        myPatternOnly = true;
        bool ok = walkNested(mySubIfds.ptr[0]);
        myPatternOnly = false;
        if (!ok) return false;
    }
    return myFrameWidth && myFrameHeight && myBits && myStripOffsets.count && myCfa.pattern.count;
}

bool cPictSRW::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io)) return false;
    if (info) {
        info->width = myFrameWidth;
        info->height = myFrameHeight;
        info->hasPreview = true;
    }
    return true;
}

bool cPictSRW::decodeRowIndexed(cFileIOTarget* io, long long strip, const unsigned char* data, long long size,
                                long long rows, unsigned short* out) {
    const long long width = myFrameWidth;
    if (!myRowTableOffset) return false;
    _typebuf<unsigned char> table;
    const unsigned long long at = (unsigned long long)myRowTableOffset + (unsigned long long)strip * myRowsPerStrip * 4;
    if (!table.set(rows * 4) || !io->set_fp(at) || !io->readf(table.ptr, rows * 4)) return false;
    for (long long r = 0; r < rows; r++) {
        const unsigned int rowOffset = rawGet32(table.ptr + 4 * r, false);
        if (rowOffset >= (unsigned long long)size) return false;
        cRawBits32 bits(data + rowOffset, size - rowOffset, false);
        int len[4];
        for (int& l : len) l = r < 2 ? 7 : 4;
        unsigned short* row = out + r * width;
        for (long long col = 0; col < width; col += 16) {
            const bool dir = bits.get(1) != 0;
            int op[4];
            for (int& o : op) o = (int)bits.get(2);
            for (int c = 0; c < 4; c++) {
                if (op[c] == 3) len[c] = (int)bits.get(4);
                else if (op[c] == 2) len[c]--;
                else if (op[c] == 1) len[c]++;
                if (len[c] < 0 || len[c] > 16) return false;
            }
            for (int c = 0; c < 16; c += 2) {
                const int n = len[(c >> 3) | ((c & 1) << 1)];
                const uint32_t raw = bits.get(n);
                const int d = n ? (int)(raw << (32 - n)) >> (32 - n) : 0;
                const long long x = col + c;
                if (c == 14) c = -1;  // then the odd samples
                if (x >= width) continue;  // the last group of a row not a multiple of 16 wide
                int pred;
                if (dir) {
                    // Vertical prediction: the first rows of a strip have nothing above them.
                    const long long above = (x & 1) ? 2 : 1;
                    if (r < above) return false;
                    pred = row[x - above * width];
                } else {
                    // Every sample of a group from the previous group's last sample of its
                    // parity (128 in the first group), as the peers read real files.
                    pred = col ? row[col - 2 + (x & 1)] : 128;
                }
                row[x] = (unsigned short)(pred + d);
            }
            if (bits.overrun()) return false;
        }
    }
    // The code stores each 2 x 2 block with its top-right and bottom-left samples exchanged.
    for (long long r = 0; r + 1 < rows; r += 2)
        for (long long c = 0; c + 1 < width; c += 2) {
            unsigned short& a = out[r * width + c + 1];
            unsigned short& b = out[(r + 1) * width + c];
            const unsigned short t = a;
            a = b;
            b = t;
        }
    return true;
}

bool cPictSRW::decodeHuffman(const unsigned char* data, long long size, long long rows, unsigned short* out) {
    const long long width = myFrameWidth;
    _typebuf<unsigned int> lookup;
    if (!lookup.set(1 + 1024)) return false;
    lookup.ptr[0] = 10;
    long long slot = 0;
    for (unsigned short e : kHuffCodes)
        for (long long n = 1024 >> (e >> 8); n > 0; n--) lookup.ptr[1 + slot++] = e;
    cRawBitsMSB bits(data, size);
    int v[2][2] = {{0, 0}, {0, 0}};
    for (long long r = 0; r < rows; r++) {
        int h[2] = {0, 0};
        for (long long c = 0; c < width; c++) {
            const int len = bits.huff(lookup);
            if (bits.overrun()) break;  // the data ran out: the rest of the row stays
            int diff;
            if (len == 16) {
                diff = -32768;
            } else {
                const int d = (int)bits.get(len);
                diff = len && !(d >> (len - 1)) ? d - (1 << len) + 1 : d;
            }
            if (c < 2) {
                v[r & 1][c] += diff;
                h[c] = v[r & 1][c];
            } else {
                h[c & 1] += diff;
            }
            const int sample = h[c & 1];
            if (sample < 0 || sample >> myBits) return false;
            out[r * width + c] = (unsigned short)sample;
        }
    }
    return true;
}

bool cPictSRW::decodePredictive(const unsigned char* data, long long size, long long rows, unsigned short* frame,
                                long long firstRow) {
    const long long width = myFrameWidth, frameSize = myFrameWidth * myFrameHeight;
    if (size < 16) return false;
    const unsigned int opt = data[9], init = rawGet16(data + 12, false);
    long long start = 16;
    int len[4] = {0, 0, 0, 0};
    // Predictors of the upper rows may reach a few samples past a row's ends (the codec
    // works on the frame as one run of samples); they are kept inside the frame.
    auto at = [&](long long i) -> int { return frame[i < 0 ? 0 : i >= frameSize ? frameSize - 1 : i]; };
    for (long long r = 0; r < rows; r++) {
        if (start >= size) return false;
        cRawBits32 bits(data + start, size - start, false);
        long long used = 0;  // bits read in this row
        auto get = [&](int n) {
            used += n;
            return bits.get(n);
        };
        const long long y = firstRow + r;
        unsigned short* out = frame + y * width;
        int mag = 0, pmode = 7;
        int lent[3][2];
        for (auto& l : lent) l[0] = l[1] = r < 2 ? 7 : 4;
        long long prow[2] = {0, 0};
        if (r >= 2) {
            prow[r & 1] = (y - 1) * width + 1 - 2 * (r & 1);
            prow[1 - (r & 1)] = (y - 2) * width;
        }
        for (long long tab = 0; tab + 15 < width; tab += 16) {
            if (!(opt & 4) && !(tab & 63)) {
                const int i = (int)get(2);
                mag = i == 3 ? (int)get(12) : mag + ("204"[i] - '2');
            }
            if (opt & 2)
                pmode = 7 - 4 * (int)get(1);
            else if (!get(1))
                pmode = (int)get(3);
            if ((opt & 1) || !get(1)) {
                for (int& l : len) l = (int)get(2);
                for (int c = 0; c < 4; c++) {
                    const int k = (int)(((r & 1) * 2 + (c & 1)) % 3);
                    len[c] = len[c] == 3 ? (int)get(4) : lent[k][0] + ("120"[len[c]] - '1');
                    lent[k][0] = lent[k][1];
                    lent[k][1] = len[c];
                }
            }
            for (int c = 0; c < 16; c++) {
                const long long col = tab + (((c & 7) * 2) ^ (c >> 3) ^ (r & 1));
                int pred;
                if (pmode == 7 || r < 2) {
                    pred = tab ? out[tab - 2 + (col & 1)] : (int)init;
                } else {
                    const long long p = prow[col & 1] + col - 4;
                    pred = (at(p + ("0224468"[pmode] - '0')) + at(p + ("0244668"[pmode] - '0')) + 1) >> 1;
                }
                const int n = len[c >> 2];
                if (n < 0 || n > 16) return false;
                int d = (int)get(n);
                if (n && (d >> (n - 1))) d -= 1 << n;
                out[col] = (unsigned short)(pred + mag + d * (2 * mag + 1));
            }
            if (bits.overrun()) return false;
        }
        start += (wordBytes(used) + 15) & ~15LL;
    }
    return true;
}

bool cPictSRW::readStrips(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myFrameWidth, height = myFrameHeight;
    // Strips inside the file and, at the densest code (a few bits a 16-sample group), bytes
    // enough for the frame before it is allocated.
    unsigned long long total;
    if (!rawStripsInFile(myStripOffsets, myStripCounts, io->size(), total)) return false;
    long long bytes;
    const unsigned long long density = myCompression == 32772 ? 4 : myCompression == 32773 ? 64 : 16;
    if (!checkedImageBytes(width, height, 2, bytes) || total * density < (unsigned long long)(width * height))
        return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    return rawForEachStrip(io, myStripOffsets, myStripCounts, myRowsPerStrip, height,
                           [&](long long i, const unsigned char* d, long long count, long long row0, long long rows) {
        unsigned short* out = frame.ptr + row0 * width;
        const long long n = rows * width;
        switch (myCompression) {
            case 32773: return decodePredictive(d, count, rows, frame.ptr, row0);
            case 32772: return decodeHuffman(d, count, rows, out);
            case 32769:
            case 32770:
                if (count == n * 2) {
                    for (long long k = 0; k < n; k++) out[k] = (unsigned short)rawGet16(d + 2 * k, false);
                } else if (count * 2 / 3 == n) {
                    // 32770 packs most significant bits first for every model, as both peers
                    // read such files; 32769 follows the model.
                    rawUnpack12(d, n, myBEPacking || myCompression == 32770, out);
                } else {
                    return decodeRowIndexed(io, i, d, count, rows, out);
                }
                return true;
            default: return false;
        }
    });
}

bool cPictSRW::decode(cFileIOTarget* io) {
    if (!walk(io)) return false;
    _typebuf<unsigned short> frame;
    if (!readStrips(io, frame)) {
        reset();
        return false;
    }
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myFrameWidth;
    job.height = myFrameHeight;
    job.cfa = &myCfa;
    const double mul[4] = {2.0, 1.0, 1.5, 1.0};
    for (int c = 0; c < 4; c++) job.mul[c] = mul[c];
    job.margins = myMargins;
    job.whiteFromMaxRaw = true;
    return rawBayerFinish(*this, job, io);
}

bool cPictSRW::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    reset();
    if (!io || !processStream(io, ~0ULL) || mySubIfds.count != 2 || !walkNested(mySubIfds.ptr[0])) return false;
    if (myCfa.pattern.count && !walkNested(mySubIfds.ptr[1])) return false;
    if (!myJpegOffset || !myJpegLength) return false;
    return rawJpegPreview(io, myJpegOffset, myJpegLength, target, maxWidth, maxHeight);
}
