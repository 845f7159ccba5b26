// Minolta MRW. Block positions are 64-bit sums that must move forward and stay before the
// raw data, so a crafted length can neither wrap nor loop; the sample frame is allocated
// only once the file is known to hold its bytes.
#include "picts/raw/minolta/pictmrw.h"

#include <cstring>

#include "base/memio.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/raw/rawpreview.h"

namespace {
const unsigned char kCodes[4] = {0, 1, 1, 2};
const unsigned char kA200Codes[4] = {1, 2, 0, 1};
}  // namespace

void cPictMRW::resetProps() {
    for (double& b : myBalance) b = 1.0;
    myJpegOffset = myJpegLength = 0;
    myTtwStart = myRawOffset = 0;
    myFrameWidth = myFrameHeight = 0;
    myBigSamples = false;
    myMargins = sMarginInfo();
    myCfa.rows = myCfa.cols = 2;
    myCfa.pattern.set(kCodes, 4);
    myNesting = 0;
}

bool cPictMRW::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictMRW p;
    return p.isPicture(io, info);
}

bool cPictMRW::loadMrwProps(cFileIOTarget* io) {
    resetProps();
    if (!io) return false;
    const unsigned long long base = io->get_fp(), fileSize = io->size();
    unsigned char h[8];
    if (!io->readf(h, 8) || h[0] || h[1] != 'M' || h[2] != 'R' || (h[3] != 'M' && h[3] != 'I')) return false;
    const bool be = h[3] == 'M';
    myRawOffset = base + 8 + rawGet32(h + 4, be);
    if (myRawOffset - base < 17) return true;
    unsigned long long pos = base + 8;
    for (int n = 0; pos + 8 < myRawOffset; n++) {
        if (n >= kMaxBlocks || !io->set_fp(pos) || !io->readf(h, 8)) return false;
        const unsigned long long len = rawGet32(h + 4, be), data = pos + 8, next = data + len;
        if (next > myRawOffset || next > fileSize) return false;
        if (!memcmp(h, "\0PRD", 4) && len >= 16) {
            unsigned char d[12];
            if (!io->set_fp(data) || !io->readf(d, 12)) return false;
            myFrameHeight = rawGet16(d + 8, be);
            myFrameWidth = rawGet16(d + 10, be);
        } else if (!memcmp(h, "\0WBG", 4) && len >= 12) {
            unsigned char d[12];
            if (!io->set_fp(data) || !io->readf(d, 12)) return false;
            for (int i = 0; i < 4; i++) myBalance[i] = rawGet16(d + 4 + 2 * i, be);
        } else if (!memcmp(h, "\0TTW", 4)) {
            cFileIOSubRange window(io, data, len);
            myTtwStart = data;
            if (!processStream(&window, ~0ULL)) return false;
            myBigSamples = bigEndian();
        }
        pos = next;  // next >= data > pos: the chain always moves forward
    }
    return true;
}

bool cPictMRW::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    switch (tag) {
        case 513: return getValU32(p, myJpegOffset);
        case 514: return getValU32(p, myJpegLength);
        case 272:
            if (type == 2 && size >= 12 && data && !memcmp(data, "DiMAGE A200", 12)) myCfa.pattern.set(kA200Codes, 4);
            return true;
        default: return true;
    }
}

bool cPictMRW::isPicture(cFileIOTarget* io, sPictInfo* info) {
    close();
    if (!loadMrwProps(io)) return false;
    if (info) {
        info->width = myFrameWidth;
        info->height = myFrameHeight;
        info->hasPreview = myJpegOffset != 0;
    }
    return true;
}

bool cPictMRW::decode(cFileIOTarget* io) {
    close();
    if (!loadMrwProps(io)) return false;
    long long n;
    if (!checkedImagePixels(myFrameWidth, myFrameHeight, n)) return false;
    const unsigned long long size = io->size();
    if (myRawOffset > size || !io->set_fp(myRawOffset)) return false;
    const unsigned long long avail = size - myRawOffset;
    _typebuf<unsigned short> frame;
    if (avail >= (unsigned long long)n * 2) {
        if (!frame.set(n) || !io->readf(frame.ptr, n * 2)) return false;
        const unsigned char* b = (const unsigned char*)frame.ptr;
        for (long long i = 0; i < n; i++) frame.ptr[i] = (unsigned short)rawGet16(b + 2 * i, myBigSamples);
    } else {
        const long long bytes = (n * 3 + 1) / 2;
        if (avail < (unsigned long long)bytes) return false;
        _typebuf<unsigned char> packed;
        if (!packed.set(bytes + 1) || !frame.set(n) || !io->readf(packed.ptr, bytes)) return false;
        packed.ptr[bytes] = 0;
        const unsigned char* b = packed.ptr;
        for (long long i = 0; i < n; i += 2, b += 3) {
            const unsigned int b0 = b[0], b1 = b[1], b2 = i + 1 < n ? b[2] : 0;
            unsigned int s0, s1;
            if (myBigSamples) {
                s0 = b0 << 4 | b1 >> 4;
                s1 = b2 | (b1 & 15) << 8;
            } else {
                s0 = b0 | (b1 & 15) << 8;
                s1 = b1 >> 4 | b2 << 4;
            }
            frame.ptr[i] = (unsigned short)s0;
            if (i + 1 < n) frame.ptr[i + 1] = (unsigned short)s1;
        }
    }
    // The balance is given per pattern position; the second green stands for code 3.
    double b[4] = {1.0, 1.0, 1.0, 1.0};
    for (int i = 0; i < 4; i++) {
        const unsigned char code = myCfa.pattern.ptr[i];
        if (code > 3) return false;
        b[code] = myBalance[i];
    }
    b[3] = b[1];
    double m = b[0] < b[1] ? b[0] : b[1];
    if (b[2] < m) m = b[2];
    if (!(m > 0.0)) {
        for (double& v : b) v = 1.0;
        m = 1.0;
    }
    const double s = 65535.0 / 4095.0 / m;
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = myFrameWidth;
    job.height = myFrameHeight;
    job.cfa = &myCfa;
    for (int c = 0; c < 4; c++) job.mul[c] = b[c == 3 ? 1 : c] * s;
    job.margins = myMargins;
    return rawBayerFinish(*this, job, io);
}

bool cPictMRW::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    close();
    if (!loadMrwProps(io) || !myJpegOffset) return false;
    // TIFF offsets count from the structure's own header, here the start of the TTW data.
    const unsigned long long off = myTtwStart + myJpegOffset;
    return rawJpegPreview(io, off, myJpegLength ? myJpegLength : 0xFFFFFFFFULL, target, maxWidth, maxHeight);
}
