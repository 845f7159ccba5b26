// cPictDNG: DNG tags, the choice of the raw directory, crop margins, black level, white
// balance and the raw pipeline. The frame keeps its sample units throughout, so black and
// white levels (read in those units) apply to it as they stand.
#include "picts/tiff/pictdng.h"

#include <cstring>

#include "picts/byteorder.h"
#include "picts/rawcore/rawbands.h"

#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawtone.h"

namespace {
enum {
    tgDNGVersion = 50706, tgBlackLevel = 50714, tgWhiteLevel = 50717, tgCropOrigin = 50719, tgCropSize = 50720,
    tgAsShotNeutral = 50728, tgActiveArea = 50829,
};

bool startsWith(const char* s, const char* prefix) { return s && strncmp(s, prefix, strlen(prefix)) == 0; }

}  // namespace

bool cPictDNG::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictDNG d;
    d.setWantAlts(false);
    return d.isPicture(io, info);
}

void cPictDNG::reset() {
    cPictTIFF_EP::reset();
    myVersion = 0;
    mySamples0 = 0;
    myWhite = myBlack = 0;
    myCropSize.clear();
    myCropOrigin.clear();
    myMul.clear();
}

bool cPictDNG::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (myDirKind != dkMain) return cPictTIFF_EP::onTag(tag, type, data, size);
    if (!myRawMode) {
        if (tag == tgDNGVersion) {
            if (type != 1 || size != 4 || !data) return false;
            const unsigned char* b = (const unsigned char*)data;
            myVersion = be32(b);
        } else if (tag == tgAsShotNeutral) {
            if (type == 5 || type == 10) {
                _typebuf<double> v;
                _typebuf<sSignedRational> sr;
                _typebuf<sRational> ur;
                long long n = size / 8;
                if (!myMul.set(n) && n) return false;
                if (type == 5 ? !getValsRational(p, ur) : !getValsSRational(p, sr)) return false;
                for (long long i = 0; i < n; i++) {
                    double num = type == 5 ? (double)ur.ptr[i].num : (double)sr.ptr[i].num;
                    double den = type == 5 ? (double)ur.ptr[i].den : (double)sr.ptr[i].den;
                    if (num == 0) return false;
                    myMul.ptr[i] = rawClampMul(den / num);
                }
            } else {
                _typebuf<unsigned int> ignored;
                if (!getValsU32(p, ignored)) return false;
            }
        }
        return cPictTIFF_EP::onTag(tag, type, data, size);
    }
    _typebuf<unsigned int> u;
    _typebuf<sRational> r;
    switch (tag) {
        case tgBlackLevel:
            if (type == 5) {
                if (!getValsRational(p, r) || !r.count) return false;
                myBlack = r.ptr[0].den ? r.ptr[0].num / r.ptr[0].den : 0;
            } else if (!getValU32(p, myBlack)) {
                return false;
            }
            break;
        case tgWhiteLevel:
            if (!getValU32(p, myWhite)) return false;
            break;
        case tgCropOrigin:
        case tgCropSize: {
            _typebuf<unsigned int>& out = tag == tgCropOrigin ? myCropOrigin : myCropSize;
            if (type == 5) {
                if (!getValsRational(p, r) || r.count != 2 || !out.set(2)) return false;
                for (int i = 0; i < 2; i++) {
                    if (tag == tgCropSize && !r.ptr[i].den) return false;
                    out.ptr[i] = r.ptr[i].den ? r.ptr[i].num / r.ptr[i].den : 0;
                }
            } else if (!getValsU32(p, out) || out.count != 2) {
                return false;
            }
            if (tag == tgCropSize && (!out.ptr[0] || !out.ptr[1])) return false;
            break;
        }
        case tgActiveArea: {
            // Top, left, bottom, right; an area outside the frame is ignored.
            const long long* w = getPropInt(ppWidth);
            const long long* h = getPropInt(ppHeight);
            if (getValsU32(p, u) && u.count == 4 && w && h && u.ptr[1] < u.ptr[3] && u.ptr[3] <= *w &&
                u.ptr[0] < u.ptr[2] && u.ptr[2] <= *h && myCropOrigin.set(2) && myCropSize.set(2)) {
                myCropOrigin.ptr[0] = u.ptr[1], myCropOrigin.ptr[1] = u.ptr[0];
                myCropSize.ptr[0] = u.ptr[3] - u.ptr[1], myCropSize.ptr[1] = u.ptr[2] - u.ptr[0];
            }
            return true;
        }
        default: break;
    }
    return cPictTIFF_EP::onTag(tag, type, data, size);
}

bool cPictDNG::previewCase() const {
    long long s = myRawIFDs.count;
    return s > 0 && !(s == 1 && mySamples0 == 1);
}

bool cPictDNG::leicaM10() {
    return startsWith(getPropString(ppMake), "Leica Camera AG") && startsWith(getPropString(ppModel), "LEICA M10");
}

bool cPictDNG::walkRawPage(cFileIOTarget* io, int page) {
    myBlack = myWhite = 0;
    myCropSize.clear();
    myCropOrigin.clear();
    if (previewCase()) return walkRaw(io, page);
    if (page != 0) return false;
    // IFD0 is the frame itself: walk it again for the raw tags.
    myRawMode = true;
    cPictTIFF::reset();
    myCFA.pattern.clear();
    myCFA.rows = myCFA.cols = 0;
    return walkFirstDir(io) && isFullConfig();
}

bool cPictDNG::isPicture(cFileIOTarget* io, sPictInfo* info) {
    myLoading = false;
    if (!io) return false;
    unsigned long long start = io->get_fp();
    bool ok = walkIFD0(io) && myVersion >= 0x01000000;
    mySamples0 = mySamples;
    bool preview = ok && (previewCase() ? isFullConfig() : myRawIFDs.count == 1);
    ok = ok && walkRawPage(io, 0);
    io->set_fp(start);
    if (!ok) return false;
    if (info) {
        bool crop = myCropSize.count == 2;
        info->width = crop ? myCropSize.ptr[0] : *getPropInt(ppWidth);
        info->height = crop ? myCropSize.ptr[1] : *getPropInt(ppHeight);
        info->hasPreview = preview;
    }
    return true;
}

int cPictDNG::getNumPages(cFileIOTarget* io) {
    myLoading = false;
    if (!walkIFD0(io) || myVersion < 0x01000000) return 0;
    return myRawIFDs.count ? (int)myRawIFDs.count : 1;
}

bool cPictDNG::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    myLoading = false;
    if (page < 0 || !walkIFD0(io) || myVersion < 0x01000000) return false;
    mySamples0 = mySamples;
    int index = leicaM10() ? page - 1 : page;
    if (index >= 0 && !walkRawPage(io, index)) return false;
    if (index < 0 && !previewCase()) return false;
    bool crop = myRawMode && myCropSize.count == 2;
    const long long* pw = getPropInt(ppWidth);
    const long long* ph = getPropInt(ppHeight);
    if (!crop && (!pw || !ph)) return false;
    w = crop ? myCropSize.ptr[0] : *pw;
    h = crop ? myCropSize.ptr[1] : *ph;
    return true;
}

bool cPictDNG::decodePage(cFileIOTarget* io, int page) {
    setExtTarget(nullptr);
    myLoading = true;
    myPixels.clear();
    myPixels16.clear();
    myWidth = myHeight = 0;
    if (page < 0 || !walkIFD0(io) || myVersion < 0x01000000) return false;
    mySamples0 = mySamples;
    int index = leicaM10() ? page - 1 : page;
    if (index < 0) {
        // The Leica numbering's page 0: IFD0's preview, decoded as a plain TIFF.
        if (!previewCase() || !isFullConfig()) return false;
    } else if (!walkRawPage(io, index)) {
        return false;
    }
    raiseSingleStripCount();
    bool taken = false;
    const bool ok = index >= 0 && decodeFrameInPlace(io, taken);
    return taken ? finishDecode(ok) : decodeIntFinal(io);
}

bool cPictDNG::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!io || !target || !walkIFD0(io) || myVersion < 0x01000000 || !myRawIFDs.count) return false;
    mySamples0 = mySamples;
    if (previewCase()) return cPictTIFF_EP::getPreview(io, target, maxWidth, maxHeight);
    int n = leicaM10() && myRawIFDs.count > 2 ? 2 : 0;
    // The sub-directory is a plain picture: walked and decoded outside raw mode.
    bool be = myBigEndian, big = myBigTiff;
    myRawMode = false;
    myLoading = true;
    cPictTIFF::reset();
    removeProp(ppWidth);
    removeProp(ppHeight);
    removeProp(ppCompression);
    if (!decodeDirect(this, io, dkMain, myRawIFDs.ptr[n], be, big, ~0ULL) || !isFullConfig() || !decodeIntFinal(io))
        return false;
    return fitInto(*this, target, maxWidth, maxHeight);
}

bool cPictDNG::margins(long long width, long long height, sMarginInfo& m) const {
    if (myCropSize.count != 2) return false;
    long long left = 0, top = 0;
    if (myCropOrigin.count == 2) {
        left = myCropOrigin.ptr[0] < width ? myCropOrigin.ptr[0] : 0;
        top = myCropOrigin.ptr[1] < height ? myCropOrigin.ptr[1] : 0;
    }
    left = (left + 1) & ~1LL;
    // Sums in 64 bits: a crop size near 4 G must not wrap into a small margin.
    long long right = left + myCropSize.ptr[0] <= width ? width - (left + myCropSize.ptr[0]) : 0;
    long long bottom = top + myCropSize.ptr[1] <= height ? height - (top + myCropSize.ptr[1]) : 0;
    if ((top & 1) && myVersion <= 0x0103FFFF) top++;
    if (left + right >= width || top + bottom >= height) return false;
    m.left = (unsigned)left, m.right = (unsigned)right, m.top = (unsigned)top, m.bottom = (unsigned)bottom;
    return true;
}

bool cPictDNG::cropOf(long long w, long long h, sMarginInfo& m, long long& cw, long long& ch) {
    if (startsWith(getPropString(ppMake), "YI TECHNOLOGY") && startsWith(getPropString(ppModel), "M1")) myBlack = 3700;
    m = sMarginInfo();
    const bool crop = margins(w, h, m);
    cw = crop ? w - m.left - m.right : w;
    ch = crop ? h - m.top - m.bottom : h;
    return crop;
}

bool cPictDNG::demosaic(_typebuf<unsigned short>& frame, long long w, long long h) {
    sMarginInfo m;
    long long cw, ch, n;
    cropOf(w, h, m, cw, ch);
    _typebuf<unsigned long long> out;
    if (!checkedImagePixels(cw, ch, n) || !out.set(n)) return false;
    return demosaicInto(frame.ptr, w, h, out);
}

bool cPictDNG::demosaicInto(const unsigned short* raw, long long w, long long h, _typebuf<unsigned long long>& out) {
    sMarginInfo m;
    long long cw, ch;
    const bool crop = cropOf(w, h, m, cw, ch);
    cStreamGuardProgressTarget progress(stream());
    sInterpolateInfo info;
    info.raw = (unsigned short*)raw;
    info.pixels = out.ptr;
    info.width = w;
    info.height = h;
    info.progress = &progress;
    info.black = myBlack > 65535 ? 65535 : myBlack;
    if (!rawDemosaicPPG(info, myCFA, crop ? &m : nullptr)) return false;
    myPixels16.swap(out);
    out.clear();
    myWidth = cw;
    myHeight = ch;
    my16Bpp = true;
    return whiteBalanceAndTone();
}

bool cPictDNG::decodeFrameInPlace(cFileIOTarget* io, bool& taken) {
    taken = false;
    const long long* pw = getPropInt(ppWidth);
    const long long* ph = getPropInt(ppHeight);
    const long long* pc = getPropInt(ppCompression);
    const long long strips = myStripOffsets.count;
    if (!cfaMode() || hasExtTarget() || !strips || !pw || !ph || (pc && *pc != 1) || myBits != 16 ||
        mySampleFormat > 1 || myPlanar == 2 || (myStripByteCounts.count && myStripByteCounts.count != strips))
        return false;
    const long long w = *pw, h = *ph;
    long long bytes, n, rowBytes;
    // The strip loop's own refusals (its packed buffer, its strip layout) stay its own.
    if (w < 1 || h < 1 || w % 4 || !checkedImageBytes(w / 4, h, 8, bytes) || !checkedMul(w, h, n) ||
        !checkedMul(w, 2, rowBytes))
        return false;
    long long rps = myRowsPerStrip ? myRowsPerStrip : (h + strips - 1) / strips;
    if (rps > h) rps = h;
    if (strips != (h + rps - 1) / rps) return false;
    const unsigned long long size = io->size();
    for (long long i = 0; i < strips; i++) {
        const long long rows = i == strips - 1 ? h - i * rps : rps;
        const unsigned long long expected = (unsigned long long)(rowBytes * rows);
        const unsigned long long off = myStripOffsets.ptr[i];
        const unsigned long long cnt = myStripByteCounts.count ? myStripByteCounts.ptr[i] : expected;
        if (off >= size || cnt > size - off || cnt < expected) return false;
    }
    // The frame takes the last quarter (or less) of the pixel buffer; a crop under a quarter
    // of the frame leaves no room, and the frame gets a buffer of its own.
    sMarginInfo m;
    long long cw, ch, cn;
    cropOf(w, h, m, cw, ch);
    _typebuf<unsigned long long> out;
    _typebuf<unsigned short> own;
    if (!checkedImagePixels(cw, ch, cn) || !out.set(cn)) return false;
    rawTouchPages(out.ptr, cn * 8);
    unsigned short* frame = 4 * cn >= n ? (unsigned short*)out.ptr + (4 * cn - n) : nullptr;
    if (!frame && !own.set(n)) return false;
    if (!frame) frame = own.ptr;
    for (long long i = 0; i < strips; i++) {
        const long long rows = i == strips - 1 ? h - i * rps : rps;
        if (!io->set_fp(myStripOffsets.ptr[i]) || !io->readf(frame + i * rps * w, rowBytes * rows) || !io->valid())
            return false;
    }
    if (myBigEndian != hostBigEndian() && !rawRowBands(0, h, [&](int, long long y0, long long y1) {
            for (unsigned short *s = frame + y0 * w, *e = frame + y1 * w; s < e; s++)
                *s = (unsigned short)(*s >> 8 | *s << 8);
        }))
        return false;
    // From here the page is this path's: the state the strip loop leaves behind, then the
    // demosaic it would have reached.
    taken = true;
    myImageW = w;
    myImageH = h;
    if (!onBeforeDecodeStripes((int)strips)) return false;
    myPixels.clear();
    myPixels16.clear();
    myWidth = myImageW;
    myHeight = myImageH;
    myPlanarMerge = false;
    return demosaicInto(frame, w, h, out);
}

bool cPictDNG::whiteBalanceAndTone() {
    const long long n = myWidth * myHeight;
    if (!my16Bpp || myPixels16.count < n || n <= 0) return false;
    if (myMul.count == 3) {
        const double mr = myMul.ptr[0], mg = myMul.ptr[1], mb = myMul.ptr[2];
        unsigned long long* px = myPixels16.ptr;
        if (!rawRowBands(0, myHeight, [&](int, long long y0, long long y1) {
                for (long long i = y0 * myWidth; i < y1 * myWidth; i++) {
                    unsigned long long p = px[i];
                    unsigned long long b = rawClamp16((double)(p & 0xFFFF) * mb);
                    unsigned long long g = rawClamp16((double)(p >> 16 & 0xFFFF) * mg);
                    unsigned long long r = rawClamp16((double)(p >> 32 & 0xFFFF) * mr);
                    px[i] = (p & 0xFFFF000000000000ULL) | r << 32 | g << 16 | b;
                }
            }))
            return false;
    }
    cStreamGuardProgressTarget progress(stream());
    return finishRawTone(myPixels16.ptr, n, 0.999, 2.2, 1.5, &progress, &progress);
}

bool cPictDNG::finishRaw() {
    if (myCFAPacked) return finishCFA();
    // A linear (already demosaiced) frame gets the white balance and the tone stage.
    if (myRawMode && myPhotometric == 34892 && mySamples == 3 && myMul.count == 3 && my16Bpp)
        return whiteBalanceAndTone();
    return true;
}
