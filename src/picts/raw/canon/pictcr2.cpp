// Canon CR2. The directories are walked one at a time with small walkers (never nested), the
// frame goes through the lossless-JPEG raw decoder, which places every sample inside the
// sensor frame; the black mask and the margin table are clamped to that frame before use.
#include "picts/raw/canon/pictcr2.h"

#include "base/memio.h"
#include "base/strings.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawhook.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtone.h"
#include "picts/sizecheck.h"

namespace {
const unsigned long long kAllOnes = ~0ULL;
// Every lossless-JPEG sample takes at least one bit: a frame of more samples than 16 times
// its stream's bytes cannot be there, and is refused before anything is allocated for it.
const unsigned long long kSamplesPerByte = 16;
const unsigned char kRggb[4] = {0, 1, 1, 2};
const unsigned char kGrbg[4] = {1, 0, 2, 1};

bool startsWithCanon(const char* s) { return s && !__stricmp(s, "CANON", 5); }

// Whether [offset, offset + length) of io holds a JPEG with a size; its size.
bool jpegAt(cFileIOTarget* io, unsigned long long offset, unsigned long long length, long long& w, long long& h) {
    const unsigned long long size = io->size();
    if (!offset || !length || offset >= size || length > size - offset) return false;
    cFileIOSubRange window(io, offset, length);
    cPictBase::sPictInfo info;
    if (!window.set_fp(0) || !cPictJPEG::validFor(&window, &info) || info.width < 1 || info.height < 1) return false;
    w = info.width;
    h = info.height;
    return true;
}
}  // namespace

cPictCR2::cPictCR2() {
    initColors();
    initMargins();
}

bool cPictCR2::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictCR2 p;
    return p.isPicture(io, info);
}

void cPictCR2::reset() {
    close();
    myMaker.reset();
    myExif.reset();
    myData.reset();
    myModel.clear();
    myMargins = sMarginInfo();
    myCfa.pattern.clear();
    myCfa.rows = myCfa.cols = 0;
    myBigEndian = false;
    myIfd1 = myPreviewOffset = myPreviewLength = 0;
    mySensorW = mySensorH = myOldJpegWidth = myOldJpegHeight = 0;
    myRawKind = cRAWLosslessJpeg::rtPlain;
}

bool cPictCR2::isFullConfig() const {
    return myMaker.sensor[siWidth] && myMaker.sensor[siHeight] && myExif.pixelWidth && myExif.pixelHeight &&
           myData.frameOffset && myData.frameLength && myMaker.levels[0] && myMaker.levels[1] && myMaker.levels[2] &&
           myMaker.modelId && myModel.ptr && myModel.ptr[0];
}

void cPictCR2::setMargins() {
    marginsFor(myMaker.modelId, myMargins);
    // Margins that would leave no picture (a frame smaller than the model's) crop nothing.
    if (!myMargins.leaveRoom(mySensorW, mySensorH)) myMargins = sMarginInfo();
}

bool cPictCR2::readHeader(cFileIOTarget* io, bool forDecode) {
    reset();
    if (!io || !io->valid()) return false;
    const unsigned long long size = io->size();
    // The first directory alone first: its make rules out other TIFF files before the EXIF
    // walk decodes their thumbnails. Its strip is the large preview, its link leads on.
    cCR2DataProps ifd0;
    if (!ifd0.processStream(io, kAllOnes) || !ifd0.canonMake) return false;
    myPreviewOffset = ifd0.frameOffset;
    myPreviewLength = ifd0.frameLength;
    myIfd1 = ifd0.nextOffset();
    if (!myIfd1) return false;
    if (!myExif.decode(this, io, cExifDecoder::dkMain)) return false;
    if (!startsWithCanon(getPropString(ppMake))) return false;
    const cPictProp* note = getPropRaw(ppMakerNote);
    if (!note || note->type() != cPictProp::tRaw || !note->rawOffset || note->rawOffset >= size) return false;
    myBigEndian = myExif.bigEndian();
    if (!myMaker.decodeDirect(io, (unsigned int)note->rawOffset, myBigEndian, kAllOnes)) return false;
    // The model without its maker's prefix.
    const char* model = getPropString(ppModel);
    if (model) {
        const char* rest = startsWithCanon(model) ? model + 5 : model;
        while (*rest == ' ') rest++;
        myModel.set(*rest ? rest : model);
    }

    if (isOldModel()) {
        if (!myData.decodeDirect(io, myIfd1, myBigEndian, kAllOnes)) return false;
        if (!myExif.pixelWidth || !myExif.pixelHeight || !myData.frameOffset || !myData.frameLength ||
            !myMaker.modelId || !myModel.ptr || !myModel.ptr[0] || !myMaker.oldFrameOffset)
            return false;
        if (!jpegAt(io, myMaker.oldFrameOffset, size - myMaker.oldFrameOffset, myOldJpegWidth, myOldJpegHeight))
            return false;
        // Each JPEG line holds two sensor rows.
        mySensorW = myOldJpegWidth;
        mySensorH = 2 * myOldJpegHeight;
        if ((unsigned long long)(mySensorW * mySensorH) > (size - myMaker.oldFrameOffset) * kSamplesPerByte)
            return false;
        setMargins();
        return true;
    }

    unsigned int next;
    if (forDecode) {
        cCR2JpegProps thumb;
        if (!thumb.decodeDirect(io, myIfd1, myBigEndian, kAllOnes)) return false;
        next = thumb.nextOffset();
    } else {
        cCR2SkipIFD skip;
        if (!skip.decodeDirect(io, myIfd1, myBigEndian, kAllOnes)) return false;
        next = skip.nextOffset();
    }
    cCR2SkipIFD skip2;
    if (!next || !skip2.decodeDirect(io, next, myBigEndian, kAllOnes) || !skip2.nextOffset()) return false;
    if (!myData.decodeDirect(io, skip2.nextOffset(), myBigEndian, kAllOnes)) return false;
    if (!isFullConfig()) return false;
    long long jw, jh;
    if (!jpegAt(io, myData.frameOffset, myData.frameLength, jw, jh)) return false;
    mySensorW = myMaker.sensor[siWidth];
    mySensorH = myMaker.sensor[siHeight];
    if ((unsigned long long)(mySensorW * mySensorH) > (unsigned long long)myData.frameLength * kSamplesPerByte)
        return false;
    setMargins();
    return true;
}

bool cPictCR2::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!readHeader(io, false)) return false;
    if (info) {
        info->width = mySensorW - myMargins.left - myMargins.right;
        info->height = mySensorH - myMargins.top - myMargins.bottom;
        info->hasPreview = getPropImage(ppThumbnail) != nullptr;
    }
    return true;
}

unsigned int cPictCR2::blackLevel(const unsigned short* frame, long long width, long long height,
                                  const unsigned short* si, bool derived) {
    if (!frame || width < 1 || height < 1) return 0;
    const long long left = si[siMaskLeft], top = si[siMaskTop];
    const long long right = si[siMaskRight] < width ? si[siMaskRight] : width;
    const long long bottom = si[siMaskBottom] < height ? si[siMaskBottom] : height;
    if (left >= right || top >= bottom) return 0;
    unsigned long long sum[4] = {}, count[4] = {};
    for (long long y = top; y < bottom; y++)
        for (long long x = left; x < right; x++) {
            const int b = (int)(x & 1) + 2 * (int)(y & 1);
            sum[b] += frame[y * width + x];
            count[b]++;
        }
    unsigned int value[4], total = 0;
    for (int b = 0; b < 4; b++) {
        value[b] = count[b] ? (unsigned int)(sum[b] / count[b]) : 0;
        total += value[b];
    }
    const unsigned int average = (total & 0xFFFF) / 4;
    if (derived)
        for (int b = 0; b < 4; b++) {
            const int d = (int)value[b] - (int)average;
            if (d >= 21 || d <= -21) return 0;  // the guessed rectangle is not all black
        }
    return average;
}

void cPictCR2::srawToRgb(const unsigned short* yuv, unsigned long long* out, long long width, long long height,
                         int bits, unsigned int id, bool flip) {
    if (bits < 1 || bits > 16) bits = 16;
    const double scale = 65535.0 / (double)((1 << bits) - 1);
    const bool newer = id == 0x80000218 || id == 0x80000250 || id == 0x80000261 || id == 0x80000281 ||
                       id == 0x80000287;
    for (long long y = 0; y < height; y++) {
        unsigned long long* row = out + (flip ? height - 1 - y : y) * width;
        for (long long x = 0; x < width; x++) {
            const unsigned short* p = yuv + (y * width + x) * 3;
            int Y = (short)p[0], cb = (short)p[1], cr = (short)p[2], r, g, b;
            if (newer) {
                cb = (short)(cb * 4);
                cr = (short)(cr * 4);
                r = Y + ((22929 * cr + 50 * cb) >> 14);
                g = Y + ((-11751 * cr - 5640 * cb) >> 14);
                b = Y + ((-101 * cr + 29040 * cb) >> 14);
            } else {
                if (id < 0x80000218u) Y -= 512;
                r = Y + cr;
                g = Y + ((-778 * cb - 2048 * cr) >> 12);
                b = Y + cb;
            }
            row[x] = (unsigned long long)rawClamp16(b * scale) | (unsigned long long)rawClamp16(g * scale) << 16 |
                     (unsigned long long)rawClamp16(r * scale) << 32 | 0xFFFFULL << 48;
        }
    }
}

bool cPictCR2::decodeBayer(_typebuf<unsigned short>& frame, int precision, cFileIOTarget* io) {
    unsigned short tBlack, tWhite;
    double m[3][3];
    getColors(tBlack, tWhite, m);
    unsigned int black = tBlack;
    if (unsigned int b = blackLevel(frame.ptr, mySensorW, mySensorH, myMaker.sensor, myMaker.maskDerived)) black = b;
    const unsigned int white = tWhite ? tWhite : (unsigned int)((1 << precision) - 1);
    if (black >= white) return false;
    const double* lv = myMaker.levels;
    double least = lv[0];
    for (int c = 1; c < 4; c++)
        if (lv[c] != 0 && lv[c] < least) least = lv[c];
    const double scale = 65535.0 / (double)(white - black);
    sInterpolateInfo info;
    for (int c = 0; c < 4; c++) info.mul[c] = rawClampMul(least != 0 ? lv[c] * scale / least : scale);
    const long long w = mySensorW - myMargins.left - myMargins.right;
    const long long h = mySensorH - myMargins.top - myMargins.bottom;
    if (!allocPixels(w, h, true)) return false;
    cStreamGuardProgressTarget guard(io);
    info.raw = frame.ptr;
    info.pixels = raw16Bpp();
    info.width = mySensorW;
    info.height = mySensorH;
    info.progress = &guard;
    info.black = black > 65535 ? 65535 : black;
    info.minRaw = 0;
    info.maxRaw = 65535;
    return rawDemosaicPPG(info, myCfa, &myMargins, m);
}

bool cPictCR2::decodeFrame(cFileIOTarget* io) {
    const bool old = isOldModel();
    cRAWLosslessJpeg jpeg;
    // Small-raw cameras predict in decode order; for every other stream the two agree.
    jpeg.setDecodeOrderPrediction(true);
    unsigned long long offset = myData.frameOffset, length = myData.frameLength;
    if (old) {
        jpeg.init((unsigned int)(2 * myOldJpegWidth), (unsigned int)myOldJpegHeight, cRAWLosslessJpeg::stInOrder);
        offset = myMaker.oldFrameOffset;
        length = io->size() - offset;
    } else {
        jpeg.init((unsigned int)mySensorW, (unsigned int)mySensorH, myData.slices[0], myData.slices[1],
                  myData.slices[2]);
    }
    cFileIOSubRange window(io, offset, length);
    if (!window.set_fp(0) || !jpeg.decodeFrame(&window)) return false;
    int precision;
    jpeg.getInfo(myRawKind, precision);
    _typebuf<unsigned short> frame;
    if (!jpeg.getData(frame) || precision < 1 || precision > 16) return false;
    myCfa.rows = myCfa.cols = 2;
    myCfa.pattern.set(old ? kGrbg : kRggb, 4);
    if (old && myMaker.levels[0] == 0)
        for (int c = 0; c < 4; c++) myMaker.levels[c] = myMaker.wbValues[c];

    if (myRawKind != cRAWLosslessJpeg::rtPlain) {
        if ((long long)frame.count != mySensorW * mySensorH * 3 || !allocPixels(mySensorW, mySensorH, true))
            return false;
        sRawFrameView view;
        view.samples = frame.ptr;
        view.width = mySensorW;
        view.height = mySensorH;
        view.channels = 3;
        showRawFrame(view);
        srawToRgb(frame.ptr, raw16Bpp(), mySensorW, mySensorH, precision, myMaker.modelId, true);
    } else {
        if ((long long)frame.count != mySensorW * mySensorH || !decodeBayer(frame, precision, io)) {
            close();
            return false;
        }
    }
    // The finishing's own failures leave the picture linear; that is still a picture.
    finishRawTone(raw16Bpp(), width() * height(), 0.999, 2.2, 0.0, nullptr, nullptr);
    return true;
}

bool cPictCR2::decode(cFileIOTarget* io) {
    if (!readHeader(io, true)) return false;
    getProp(ppDescription, true);
    getProp(ppCopyright, true);
    if (!decodeFrame(io)) {
        close();
        return false;
    }
    return true;
}

bool cPictCR2::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    // Only the first directory: the preview stays reachable when the sensor data is damaged.
    reset();
    cCR2DataProps ifd0;
    if (!io || !ifd0.processStream(io, kAllOnes) || !ifd0.canonMake || !ifd0.frameOffset || !ifd0.frameLength)
        return false;
    return rawJpegPreview(io, ifd0.frameOffset, ifd0.frameLength, target, maxWidth, maxHeight);
}
