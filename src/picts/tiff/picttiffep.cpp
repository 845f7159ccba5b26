// cPictTIFF_EP: pages are IFD0's raw sub-directories; a colour-filter-array frame travels
// through the strip and tile loops as four-sample pixels (photometric 65534; two or one a pixel
// for rows that are not a multiple of 4) and is then demosaiced (PPG) and tone-finished.
#include "picts/tiff/picttiffep.h"

#include <cstring>

#include "base/memio.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/rawcore/rawtone.h"

namespace {
enum { tgStandardID = 37398, tgCFARepeatPatternDim = 33421, tgCFAPattern = 33422, kPacked12 = 32769 };
const unsigned long long kAllOnes = ~0ULL;

}  // namespace

bool cPictTIFF_EP::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictTIFF_EP t;
    t.setWantAlts(false);
    return t.isPicture(io, info);
}

void cPictTIFF_EP::reset() {
    cPictTIFF::reset();
    myStandardID = 0;
    myRawMode = false;
    myCFAPacked = false;
    myCFAGroup = 4;
    myCFA.pattern.clear();
    myCFA.rows = myCFA.cols = 0;
    myRawIFDs.clear();
}

bool cPictTIFF_EP::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (myDirKind == dkMain && !myRawMode && tag == tgStandardID) {
        if (type == 1) {
            if (size != 4 || !data) return false;
            memcpy(&myStandardID, data, 4);
        } else if (!getValU32(p, myStandardID)) {
            return false;
        }
    } else if (myDirKind == dkMain && myRawMode && tag == tgCFARepeatPatternDim) {
        _typebuf<unsigned int> v;
        if (!getValsU32(p, v) || v.count != 2 || v.ptr[0] > 16 || v.ptr[1] > 16) return false;
        myCFA.rows = (unsigned short)v.ptr[0];
        myCFA.cols = (unsigned short)v.ptr[1];
    } else if (myDirKind == dkMain && myRawMode && tag == tgCFAPattern) {
        if (!getValsU8(p, myCFA.pattern) || myCFA.pattern.count != (long long)myCFA.rows * myCFA.cols ||
            !myCFA.pattern.count)
            return false;
    }
    return cPictTIFF::onTag(tag, type, data, size);
}

bool cPictTIFF_EP::walkIFD0(cFileIOTarget* io) {
    myProps.clear();
    reset();
    if (!walkFirstDir(io)) return false;
    // The sub-directory table goes with the next reset; keep it.
    return myRawIFDs.set(mySubIFDs.ptr, mySubIFDs.count) || mySubIFDs.count == 0;
}

bool cPictTIFF_EP::walkRaw(cFileIOTarget* io, int n) {
    if (n < 0 || n >= myRawIFDs.count) return false;
    bool be = myBigEndian, big = myBigTiff;
    myRawMode = true;
    cPictTIFF::reset();
    myCFA.pattern.clear();
    myCFA.rows = myCFA.cols = 0;
    removeProp(ppWidth);
    removeProp(ppHeight);
    removeProp(ppCompression);
    // The sub-directory's values may lie anywhere in the file: the whole stream is the limit.
    return decodeDirect(this, io, dkMain, myRawIFDs.ptr[n], be, big, kAllOnes) && isFullConfig();
}

bool cPictTIFF_EP::isPicture(cFileIOTarget* io, sPictInfo* info) {
    myLoading = false;
    if (!io) return false;
    unsigned long long start = io->get_fp();
    bool ok = walkIFD0(io) && myStandardID && myRawIFDs.count > 0;
    bool preview = ok && isFullConfig();
    ok = ok && walkRaw(io, 0);
    io->set_fp(start);
    if (!ok) return false;
    if (info) {
        info->width = *getPropInt(ppWidth);
        info->height = *getPropInt(ppHeight);
        info->hasPreview = preview;
    }
    return true;
}

int cPictTIFF_EP::getNumPages(cFileIOTarget* io) {
    myLoading = false;
    if (!walkIFD0(io) || !myStandardID) return 0;
    return (int)myRawIFDs.count;
}

bool cPictTIFF_EP::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    myLoading = false;
    if (page < 0 || !walkIFD0(io) || !myStandardID || !walkRaw(io, page)) return false;
    w = *getPropInt(ppWidth);
    h = *getPropInt(ppHeight);
    return true;
}

bool cPictTIFF_EP::decodePage(cFileIOTarget* io, int page) {
    setExtTarget(nullptr);
    myLoading = true;
    myPixels.clear();
    myPixels16.clear();
    myWidth = myHeight = 0;
    if (page < 0 || !walkIFD0(io) || !myStandardID || !walkRaw(io, page)) return false;
    raiseSingleStripCount();
    return decodeIntFinal(io);
}

void cPictTIFF_EP::raiseSingleStripCount() {
    // A single uncompressed strip shorter than its rows is read at their size (and then
    // refused by the strip loop when the stream does not hold them).
    const long long* comp = getPropInt(ppCompression);
    if (!getPropInt(ppWidth) || !getPropInt(ppHeight)) return;
    if (myStripOffsets.count == 1 && myStripByteCounts.count == 1 && (!comp || *comp == 1)) {
        long long rowBytes, rows = myRowsPerStrip ? myRowsPerStrip : *getPropInt(ppHeight), need;
        if (rows > *getPropInt(ppHeight)) rows = *getPropInt(ppHeight);
        if (checkedRowBytes(*getPropInt(ppWidth), myPlanar == 2 ? 1 : mySamples, myBits, rowBytes) &&
            checkedMul(rowBytes, rows, need) && need <= 0xFFFFFFFFLL && myStripByteCounts.ptr[0] < need)
            myStripByteCounts.ptr[0] = (unsigned int)need;
    }
}

bool cPictTIFF_EP::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!io || !target) return false;
    cPictTIFF plain;
    plain.setWantAlts(false);
    return plain.decodePage(io, 0) && fitInto(plain, target, maxWidth, maxHeight);
}

bool cPictTIFF_EP::fitInto(cPictBase& picture, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    long long mw = maxWidth && *maxWidth > 0 ? *maxWidth : picture.width();
    long long mh = maxHeight && *maxHeight > 0 ? *maxHeight : picture.height();
    bool ok;
    if (picture.width() <= mw && picture.height() <= mh) {
        picture.moveTo(*target);
        ok = target->width() > 0;
    } else {
        ok = imgToPreview(&picture, target, mw, mh, 0);
    }
    if (ok && maxWidth) *maxWidth = target->width();
    if (ok && maxHeight) *maxHeight = target->height();
    return ok;
}

bool cPictTIFF_EP::decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height,
                                     int page, bool allowFull, unsigned int background) {
    return getPreview(io, target, &width, &height);
}

// --- the colour-filter frame ---

namespace {
// Sensor samples a carried pixel: four where the width allows, else two or one (grey, or
// grey and alpha, in the colour stage).
int cfaGroup(long long width) { return width % 4 == 0 ? 4 : width % 2 == 0 ? 2 : 1; }
}  // namespace

bool cPictTIFF_EP::onBeforeDecodeStripes(int strips) {
    myCFAPacked = false;
    if (!cfaMode()) return true;
    myCFAGroup = cfaGroup(myImageW);
    myImageW /= myCFAGroup;
    mySamples = myCFAGroup;
    myRowsBottomUp = false;
    myRawSamples = true;
    myCFAPacked = true;
    return true;
}

bool cPictTIFF_EP::onBeforeDecodeTiles(int tiles) {
    myCFAPacked = false;
    if (!cfaMode()) return true;
    // The group must divide the tile width and the picture width alike.
    const int byImage = cfaGroup(myImageW), byTile = cfaGroup(myTileWidth);
    myCFAGroup = byImage < byTile ? byImage : byTile;
    myImageW /= myCFAGroup;
    myTileWidth /= myCFAGroup;
    mySamples = myCFAGroup;
    myRowsBottomUp = false;
    myRawSamples = true;
    myCFAPacked = true;
    return true;
}

bool cPictTIFF_EP::unpackPacked12(const unsigned char* in, long long size, _typebuf<unsigned char>& out) {
    out.clear();
    if (!in || size < 3) return false;
    // 16 input bytes carry 10 samples; a tail shorter than 3 bytes carries none.
    long long groups = (size / 16) * 5 + (size % 16 >= 15 ? 5 : (size % 16) / 3);
    if (!out.set(groups * 4)) return false;
    unsigned short* o = (unsigned short*)out.ptr;
    long long i = 0, g = 0;
    while (g < groups && i + 3 <= size) {
        const unsigned char* b = in + i;
        o[2 * g] = (unsigned short)(b[0] << 4 | b[1] >> 4);
        o[2 * g + 1] = (unsigned short)((b[1] & 0x0F) << 8 | b[2]);
        i += 3;
        if (++g % 5 == 0) i++;  // the padding byte after each 15
    }
    return g == groups;
}

bool cPictTIFF_EP::decodeStripe(int compression, _typebuf<unsigned char>& in, sDecomress& rec) {
    if (compression == kPacked12) {
        if (rec.bits != 12 || rec.sampleFormat > 1) return false;
        _typebuf<unsigned char> out;
        if (!unpackPacked12(in.ptr, in.count, out)) return false;
        rec.output.swap(out);
        rec.bits = 16;
        rec.bytesPerRow = rec.bytesPerRow * 4 / 3;
        rec.sampleFormat = 1;
        rec.bigEndian = hostBigEndian();
    } else if (myCFAPacked && compression == 7 && rec.sampleFormat <= 1) {
        cRAWLosslessJpeg lj;
        lj.init(rec.width * myCFAGroup, rec.rows, cRAWLosslessJpeg::stInOrder);
        cBufWrapperIO s(in.ptr, in.count);
        _typebuf<unsigned short> samples;
        if (!lj.decodeFrame(&s) || !lj.getData(samples)) return false;
        long long bytes;
        if (!checkedMul(samples.count, 2, bytes) || !rec.output.set(bytes)) return false;
        memcpy(rec.output.ptr, samples.ptr, (size_t)bytes);
        rec.bits = 16;
        rec.bytesPerRow = rec.width * myCFAGroup * 2;
        rec.sampleFormat = 1;
        rec.bigEndian = hostBigEndian();
    } else if (!cPictTIFF::decodeStripe(compression, in, rec)) {
        return false;
    }
    if (myCFAPacked) {
        rec.samples = myCFAGroup;
        rec.photometric = 65534;
    }
    return true;
}

bool cPictTIFF_EP::finishCFA() {
    if (!myCFAPacked) return true;
    const int group = myCFAGroup;
    const long long w = myImageW * group, h = myImageH;
    long long n;
    if (!checkedImagePixels(w, h, n)) return false;
    // The sensor frame, row-major: four samples a decoded pixel, low field first; two ride
    // as grey (low field) and alpha (top field), one as grey.
    _typebuf<unsigned short> frame;
    if (!frame.set(n)) return false;
    for (long long i = 0; i < n / group; i++) {
        unsigned long long p = my16Bpp ? myPixels16.ptr[i] : 0;
        if (!my16Bpp) {
            unsigned int q = myPixels.ptr[i];
            p = (unsigned long long)(q & 255) | (unsigned long long)(q >> 8 & 255) << 16 |
                (unsigned long long)(q >> 16 & 255) << 32 | (unsigned long long)(q >> 24) << 48;
        }
        if (group == 4)
            for (int k = 0; k < 4; k++) frame.ptr[4 * i + k] = (unsigned short)(p >> (16 * k));
        else if (group == 2)
            frame.ptr[2 * i] = (unsigned short)p, frame.ptr[2 * i + 1] = (unsigned short)(p >> 48);
        else
            frame.ptr[i] = (unsigned short)p;
    }
    myPixels.clear();
    myPixels16.clear();
    return demosaic(frame, w, h);
}

bool cPictTIFF_EP::demosaic(_typebuf<unsigned short>& frame, long long w, long long h) {
    const long long n = w * h;
    _typebuf<unsigned long long> out;
    if (!out.set(n)) return false;
    cStreamGuardProgressTarget progress(stream());
    sInterpolateInfo info;
    info.raw = frame.ptr;
    info.pixels = out.ptr;
    info.width = w;
    info.height = h;
    info.progress = &progress;
    if (!rawDemosaicPPG(info, myCFA, nullptr)) return false;
    myPixels16.swap(out);
    myWidth = w;
    myHeight = h;
    my16Bpp = true;
    return finishRawTone(myPixels16.ptr, n, 0.999, 2.2, 1.5, &progress, &progress);
}
