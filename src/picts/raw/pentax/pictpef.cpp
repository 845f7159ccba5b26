// Pentax PEF. Strips are read into memory no larger than the file; the Huffman table of the
// maker note is checked against its length before it is read, and code lengths that would
// shift a 32-bit value by 32 or more refuse the table.
#include "picts/raw/pentax/pictpef.h"

#include <cstring>

#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/sizecheck.h"

namespace {

// The preview directory: only the JPEG's window.
class cPefPreviewDir : public cTiffGeneric {
public:
    unsigned int offset = 0, length = 0;
    bool onTag(int tag, int type, const void* data, int size) override {
        sTagProcessParam p = {tag, type, data, size};
        if (tag == 513) return getValU32(p, offset);
        if (tag == 514) return getValU32(p, length);
        return true;
    }
};

}  // namespace

void cPefMeta::reset() {
    for (double& b : balance) b = 1.0;
    table.clear();
    cropOrigin.clear();
    cropSize.clear();
    ricoh = false;
}

bool cPefMeta::loadTable(const unsigned char* d, int count) {
    if (count < 2) return true;
    const int depth = ((myBigEndian ? d[1] : d[0]) + 12) & 15;
    // Each of the depth codes has a 16-bit start at 14 + 2c and a length byte at 14 + 2 x depth + c.
    if (14 + 3 * depth > count) return false;
    if (!table.set(kTableSize)) return false;
    table.zero();
    for (int c = 0; c < depth; c++) {
        const unsigned int start = rawGet16(d + 14 + 2 * c, myBigEndian);
        const unsigned int len = d[14 + 2 * depth + c];
        if (len >= 32) return false;
        const unsigned int end = (start + (4096u >> len) + 4095) & 4095;
        for (unsigned int i = start; i <= end; i++) table.ptr[i + 1] = (unsigned short)(len << 8 | c);
    }
    table.ptr[0] = 12;
    return true;
}

bool cPefMeta::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    switch (tag) {
        case 0x38: return getValsU32(p, cropOrigin);
        case 0x39: return getValsU32(p, cropSize);
        case 0x201: {
            _typebuf<unsigned int> v;
            if (!getValsU32(p, v)) return false;
            if (v.count == 4 && v.ptr[1] && v.ptr[0] && v.ptr[3]) {
                balance[0] = (double)v.ptr[0] / v.ptr[1];
                balance[2] = (double)v.ptr[3] / v.ptr[1];
            }
            return true;
        }
        case 0x220:
            if (ricoh) return true;
            return !data || loadTable((const unsigned char*)data, size);
        case 0x22A:
            if (!data) return true;
            if (size >= 241) return loadTable((const unsigned char*)data + 226, size - 226);
            return loadTable((const unsigned char*)data, size);
        default: return true;
    }
}

void cPictPEF::reset() {
    close();
    myMeta.reset();
    myWidth = myHeight = myBits = myCompression = mySamples = myRowsPerStrip = 0;
    myStripOffsets.clear();
    myStripCounts.clear();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
    myMargins = sMarginInfo();
    myPreviewOffset = myPreviewLength = 0;
    myMakerNote = 0;
    myRicoh = false;
    myNesting = 0;
}

bool cPictPEF::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictPEF p;
    return p.isPicture(io, info);
}

bool cPictPEF::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    if (tag == 37500) {
        myMakerNote = data ? 0 : offset;
        return true;
    }
    return cRawTiffWalker::onRawTag(tag, type, data, size, offset);
}

bool cPictPEF::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    switch (tag) {
        case 256: return getValU32(p, myWidth) && myWidth;
        case 257: return getValU32(p, myHeight) && myHeight;
        case 258: return getValU32(p, myBits) && myBits >= 1 && myBits <= 16;
        case 259: return getValU32(p, myCompression);
        case 271:
            if (!data || type != 2) return false;
            if (size >= 6 && !memcmp(data, "PENTAX", 6)) return true;
            if (size >= 6 && !memcmp(data, "RICOH ", 6)) return myRicoh = true;
            return false;
        case 273: return getValsU32(p, myStripOffsets) && myStripOffsets.count > 0;
        case 277: return getValU32(p, mySamples) && mySamples;
        case 278: return getValU32(p, myRowsPerStrip) && myRowsPerStrip;
        case 279: return getValsU32(p, myStripCounts) && myStripCounts.count == myStripOffsets.count;
        case 513: return getValU32(p, myPreviewOffset);
        case 514: return getValU32(p, myPreviewLength);
        case 34665: {
            unsigned int at = 0;
            return getValU32(p, at) && walkNested(at);
        }
        case 41730: {
            if (!data || size < 5) return false;
            const unsigned char* d = (const unsigned char*)data;
            unsigned int cols = myBigEndian ? d[1] : d[0], rows = myBigEndian ? d[3] : d[2];
            if (!cols && !rows) {
                cols = myBigEndian ? d[0] : d[1];
                rows = myBigEndian ? d[2] : d[3];
            }
            if (cols * rows == (unsigned int)size - 4) {
                myCfa.cols = (unsigned short)cols;
                myCfa.rows = (unsigned short)rows;
                myCfa.pattern.set(d + 4, size - 4);
            }
            return true;
        }
        case 50706: return false;  // a Pentax DNG belongs to the DNG decoder
        default: return true;
    }
}

bool cPictPEF::walk(cFileIOTarget* io) {
    reset();
    if (!io || !processStream(io, ~0ULL)) return false;
    if (!myWidth || !myHeight || !myBits || !myStripOffsets.count || myStripCounts.count != myStripOffsets.count ||
        !myCfa.pattern.count)
        return false;
    if (myMakerNote) {
        // The maker note ("AOC\0" and a byte-order mark, Ricoh's four bytes longer) is a
        // directory with offsets into the file.
        myMeta.ricoh = myRicoh;
        const unsigned long long at = (unsigned long long)myMakerNote + (myRicoh ? 10 : 6);
        if (at >= io->size() || !myMeta.processStream(io, myBigEndian, false, (unsigned int)at, ~0ULL)) return false;
    }
    return true;
}

bool cPictPEF::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!walk(io)) return false;
    if (info) {
        if (myMeta.cropSize.count == 2) {
            info->width = myMeta.cropSize.ptr[0];
            info->height = myMeta.cropSize.ptr[1];
        } else {
            info->width = myWidth;
            info->height = myHeight;
        }
        info->hasPreview = nextOffset() != 0;
    }
    return true;
}

bool cPictPEF::decodeHuffman(const unsigned char* data, long long size, long long rows, unsigned short* out) {
    const long long width = myWidth;
    const unsigned short* t = myMeta.table.ptr;
    cRawBitsMSB bits(data, size);
    int vpred[2][2] = {{0, 0}, {0, 0}};
    for (long long r = 0; r < rows; r++) {
        int hpred[2] = {0, 0};
        for (long long c = 0; c < width; c++) {
            const unsigned short e = t[1 + bits.peek(t[0])];
            bits.skip(e >> 8);
            const int len = e & 0xFF;
            int diff;
            if (len == 16) {
                diff = -32768;
            } else {
                const int v = (int)bits.get(len);
                diff = len && !(v >> (len - 1)) ? v - (1 << len) + 1 : v;
            }
            if (bits.overrun()) diff = 0;
            if (c < 2) {
                vpred[r & 1][c] += diff;
                hpred[c] = vpred[r & 1][c];
            } else {
                hpred[c & 1] += diff;
            }
            const unsigned int sample = (unsigned short)hpred[c & 1];
            if (sample >> myBits) return false;
            out[r * width + c] = (unsigned short)sample;
        }
    }
    return true;
}

bool cPictPEF::readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame) {
    const long long width = myWidth, height = myHeight;
    const unsigned long long fileSize = io->size();
    const long long strips = myStripOffsets.count;
    if (!myRowsPerStrip) {
        if (myStripOffsets.ptr[0] >= fileSize) return false;
        const unsigned long long rest = fileSize - myStripOffsets.ptr[0];
        myStripCounts.ptr[0] = (unsigned int)(rest > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : rest);
    }
    const long long used = myRowsPerStrip ? strips : 1;
    unsigned long long total = 0;
    for (long long i = 0; i < used; i++) {
        if ((unsigned long long)myStripOffsets.ptr[i] + myStripCounts.ptr[i] > fileSize) return false;
        total += myStripCounts.ptr[i];
    }
    // Every code is at least one bit long: the strips must hold a bit a sample.
    long long bytes;
    if (!checkedImageBytes(width, height, 2, bytes) || total * 8 < (unsigned long long)(width * height)) return false;
    if (myCompression == 65535 && !myMeta.table.count) return false;
    if (!frame.set(width * height)) return false;
    frame.zero();
    long long row0 = 0;
    for (long long i = 0; i < used && row0 < height; i++) {
        const long long left = height - row0;
        const long long rows = myRowsPerStrip && myRowsPerStrip < left ? myRowsPerStrip : left;
        const long long count = myStripCounts.ptr[i];
        _typebuf<unsigned char> data;
        if (count > 0 && (!data.set(count) || !io->set_fp(myStripOffsets.ptr[i]) || !io->readf(data.ptr, count)))
            return false;
        const unsigned char* d = data.ptr;
        unsigned short* out = frame.ptr + row0 * width;
        const long long n = rows * width;
        switch (myCompression) {
            case 65535:
                if (!decodeHuffman(d, count, rows, out)) return false;
                break;
            case 32773:
                if (myBits != 12 || count * 2 / 3 != n) return false;
                for (long long k = 0; k + 1 < n; k += 2, d += 3) {
                    if (myBigEndian) {
                        out[k] = (unsigned short)(d[0] << 4 | d[1] >> 4);
                        out[k + 1] = (unsigned short)((d[1] & 15) << 8 | d[2]);
                    } else {
                        out[k] = (unsigned short)((d[1] & 15) << 8 | d[0]);
                        out[k + 1] = (unsigned short)(d[2] << 4 | d[1] >> 4);
                    }
                }
                break;
            case 1:
                if (count != n * 2) return false;
                for (long long k = 0; k < n; k++) out[k] = (unsigned short)rawGet16(d + 2 * k, myBigEndian);
                break;
            default: return false;
        }
        row0 += rows;
    }
    return row0 == height;
}

bool cPictPEF::decode(cFileIOTarget* io) {
    if (!walk(io)) return false;
    if (myMeta.cropOrigin.count == 2) {
        myMargins.left = (myMeta.cropOrigin.ptr[0] + 1) & ~1u;
        myMargins.top = myMeta.cropOrigin.ptr[1] & ~1u;
    }
    if (myMeta.cropSize.count == 2) {
        const long long r = (long long)myWidth - myMargins.left - myMeta.cropSize.ptr[0];
        const long long b = (long long)myHeight - myMargins.top - myMeta.cropSize.ptr[1];
        if (r > 0) myMargins.right = (unsigned int)r;
        if (b > 0) myMargins.bottom = (unsigned int)b;
    }
    _typebuf<unsigned short> frame;
    if (!readFrame(io, frame)) {
        reset();
        return false;
    }
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myWidth;
    job.height = myHeight;
    job.cfa = &myCfa;
    const double s = 65535.0 / (double)((1u << myBits) - 1);
    const double mul[4] = {s * myMeta.balance[0], s * myMeta.balance[1], s * myMeta.balance[2], s * myMeta.balance[1]};
    for (int c = 0; c < 4; c++) job.mul[c] = mul[c];
    job.margins = myMargins;
    return rawBayerFinish(*this, job, io);
}

bool cPictPEF::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    reset();
    if (!io || !processStream(io, ~0ULL) || !nextOffset()) return false;
    cPefPreviewDir dir;
    if (!dir.processStream(io, myBigEndian, false, nextOffset(), ~0ULL) || !dir.offset || !dir.length) return false;
    return rawJpegPreview(io, dir.offset, dir.length, target, maxWidth, maxHeight);
}
