// cPictTIFF: directories, pages, previews and the strip and tile loops.
// Safety rests on one rule: before the picture is allocated, every strip or tile the
// picture needs must exist, lie inside the stream, and be able (by its compression's
// largest ratio) to produce the bytes it is expected to; every decompressor then stops at
// exactly those bytes.
#include "picts/tiff/picttiff.h"

#include <cstring>

#include "base/memio.h"
#include "picts/byteorder.h"
#include "picts/exif/md8bim.h"
#include "picts/jpeg/pictjpeg.h"

namespace {
const unsigned long long kAllOnes = ~0ULL;

enum {
    tgNewSubfileType = 254, tgSubfileType = 255, tgBitsPerSample = 258, tgPhotometric = 262,
    tgFillOrder = 266, tgStripOffsets = 273, tgSamplesPerPixel = 277, tgRowsPerStrip = 278,
    tgStripByteCounts = 279, tgPlanar = 284, tgT4Options = 292, tgT6Options = 293,
    tgTransferFunction = 301, tgPredictor = 317, tgWhitePoint = 318, tgPrimaries = 319, tgColorMap = 320,
    tgTileWidth = 322, tgTileLength = 323, tgTileOffsets = 324, tgTileByteCounts = 325, tgSubIFDs = 330,
    tgInkSet = 332, tgExtraSamples = 338, tgSampleFormat = 339, tgTransferRange = 342, tgJPEGTables = 347,
    tgYCbCrCoefficients = 529, tgYCbCrSubSampling = 530, tgRefBlackWhite = 532, tgPhotoshop = 34377,
};


// Reads the header: byte order, layout and first directory (32-bit offsets only).
bool readHeader(cFileIOTarget* io, bool& be, bool& big, unsigned int& first) {
    unsigned char h[16];
    unsigned long long size = io->size();
    if (size < 8 || !io->set_fp(0) || !io->readf(h, 8)) return false;
    if (h[0] == 'I' && h[1] == 'I')
        be = false;
    else if (h[0] == 'M' && h[1] == 'M')
        be = true;
    else
        return false;
    unsigned v = rawGet16(h + 2, be);
    unsigned long long off;
    if (v == 42) {
        big = false;
        off = rawGet32(h + 4, be);
    } else if (v == 43) {
        big = true;
        if (rawGet16(h + 4, be) != 8 || !io->readf(h + 8, 8)) return false;
        unsigned long long hi = rawGet32(h + 12, be), lo = rawGet32(h + 8, be);
        off = be ? (lo << 32 | hi) : (hi << 32 | lo);
    } else {
        return false;
    }
    if (off < 8 || off >= size || off > 0xFFFFFFFFULL) return false;
    first = (unsigned int)off;
    return true;
}

// Bytes a compressed chunk of `count` bytes can at most turn into (a bound, not an estimate),
// -1 when the compression sets no useful bound of its own.
long long maxExpansion(int compression, unsigned long long count) {
    long long c = (long long)count;
    switch (compression) {
        case 1: return c;
        case 32773: return c * 64 + 128;       // a 2-byte run gives 128 bytes
        case 8: case 32946: return c * 1032 + 1024;  // deflate's largest ratio
        case 5: return c * 3641 + 4096;        // a 9-bit code gives at most 4096 bytes
        case 6: case 7: return c * 2048 + (1 << 20);
        default: return -1;
    }
}
}  // namespace

cPictTIFF::cPictTIFF() {}
cPictTIFF::~cPictTIFF() {}

bool cPictTIFF::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictTIFF t;
    t.setWantAlts(false);
    return t.isPicture(io, info);
}

void cPictTIFF::reset() {
    myPhotometric = 0;
    myRowsPerStrip = 0;
    myStripOffsets.clear();
    myStripByteCounts.clear();
    myTileWidth = myTileLength = 0;
    myTileOffsets.clear();
    myTileByteCounts.clear();
    mySubIFDs.clear();
    myBitsAll.clear();
    myBits = 0;
    mySamples = 0;
    myPlanar = 0;
    myColorMap.clear();
    myWhitePoint.clear();
    myPrimaries.clear();
    myRefBlackWhite.clear();
    myTransferFunction.clear();
    myTransferRange.clear();
    myT4Options = myT6Options = 0;
    mySkipToEOL = true;
    mySubfileType = 0;
    myPredictor = 0;
    myFillOrder = 1;
    mySampleFormat = 0;
    myNextIFD = 0;
    myExtraSamples = 0;
    myInkSet = 1;
    mySubsampling[0] = mySubsampling[1] = 2;
    myYCbCrCoefficients.clear();
    myJPEGTables.clear();
    myRowsBottomUp = true;
    myRawSamples = false;
    myPlanarMerge = false;
}

bool cPictTIFF::isFullConfig() {
    if (myPlanar != 0 && myPlanar != 1 && myPlanar != 2) return false;
    if (myBits < 1 || myBits > 64 || mySamples < 1 || mySamples > kMaxSamples) return false;
    // One depth for every sample: mixed depths would be misread.
    for (long long i = 1; i < myBitsAll.count && i < mySamples; i++)
        if (myBitsAll.ptr[i] != myBits) return false;
    if (myStripOffsets.count) {
        bool oneWithout = myStripByteCounts.count == 0 && myStripOffsets.count == 1;
        if (myStripByteCounts.count != myStripOffsets.count && !oneWithout) return false;
    } else {
        if (!myTileOffsets.count) return false;
        if (myTileByteCounts.count != myTileOffsets.count && !(myTileByteCounts.count == 0 && myTileOffsets.count == 1))
            return false;
    }
    const long long* w = getPropInt(ppWidth);
    const long long* h = getPropInt(ppHeight);
    return w && h && *w > 0 && *h > 0;
}

bool cPictTIFF::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (tag == kNextIfdTag) {
        if (myDirKind == dkMain) myNextIFD = getU32(data);
        return cExifDecoder::onTag(tag, type, data, size);
    }
    if (myDirKind != dkMain) return cExifDecoder::onTag(tag, type, data, size);
    bool ok = true;
    unsigned int u = 0;
    unsigned short s = 0;
    switch (tag) {
        case tgNewSubfileType:
        case tgSubfileType: ok = getValU32(p, mySubfileType); break;
        case tgBitsPerSample:
            if (size == 2) {
                ok = getValU16(p, myBits);
                myBitsAll.clear();
            } else {
                ok = getValsU16(p, myBitsAll) && myBitsAll.count > 0;
                if (ok) myBits = myBitsAll.ptr[0];
            }
            break;
        case tgPhotometric: ok = getValU16(p, myPhotometric); break;
        case tgFillOrder: ok = getValU16(p, myFillOrder); break;
        case tgStripOffsets: ok = getValsU32(p, myStripOffsets); break;
        case tgSamplesPerPixel: ok = getValU32(p, mySamples); break;
        case tgRowsPerStrip: ok = getValU32(p, myRowsPerStrip); break;
        case tgStripByteCounts: ok = getValsU32(p, myStripByteCounts); break;
        case tgPlanar: ok = getValU16(p, myPlanar); break;
        case tgT4Options: ok = getValU32(p, myT4Options); break;
        case tgT6Options: ok = getValU32(p, myT6Options); break;
        case tgTransferFunction: ok = getValsU16(p, myTransferFunction); break;
        case tgPredictor: ok = getValU16(p, myPredictor); break;
        case tgWhitePoint: ok = getValsRational(p, myWhitePoint); break;
        case tgPrimaries: ok = getValsRational(p, myPrimaries); break;
        case tgColorMap: ok = getValsU16(p, myColorMap); break;
        case tgTileWidth:
        case tgTileLength:
            ok = getValU32(p, u) && u != 0;
            (tag == tgTileWidth ? myTileWidth : myTileLength) = u;
            break;
        case tgTileOffsets: ok = getValsU32(p, myTileOffsets); break;
        case tgTileByteCounts: ok = getValsU32(p, myTileByteCounts); break;
        case tgSubIFDs: ok = getValsU32(p, mySubIFDs); break;
        case tgInkSet: getValU16(p, myInkSet); break;
        case tgExtraSamples:
            if (getValU16(p, s)) myExtraSamples = s;
            break;
        case tgSampleFormat: ok = getValU16(p, mySampleFormat); break;
        case tgTransferRange: ok = getValsU16(p, myTransferRange); break;
        case tgJPEGTables:
            if ((type == 7 || type == 1) && data && size > 0) ok = myJPEGTables.set((const unsigned char*)data, size);
            break;
        case tgYCbCrCoefficients: getValsRational(p, myYCbCrCoefficients); break;
        case tgYCbCrSubSampling: {
            _typebuf<unsigned short> v;
            if (getValsU16(p, v) && v.count >= 2) mySubsampling[0] = v.ptr[0], mySubsampling[1] = v.ptr[1];
            break;
        }
        case tgRefBlackWhite: ok = getValsRational(p, myRefBlackWhite); break;
        case tgPhotoshop:
            if ((type == 1 || type == 7) && size >= 13) readThumbnail(data, size);
            break;
        default: break;
    }
    if (!ok) return false;
    return cExifDecoder::onTag(tag, type, data, size);
}

bool cPictTIFF::readThumbnail(const void* data, int size) {
    // Image resources are written big-endian whatever the TIFF's byte order (a few writers
    // follow the file's): the stream's order first, then the other.
    for (int pass = 0; pass < 2; pass++) {
        bool be = pass == 0 ? myBigEndian : !myBigEndian;
        cMd8BIM md;
        md.processMD(data, size, be);
        const cMd8BIM::sProp* r = md.prop(0x40C0000);
        if (!r || r->size < 29) continue;
        unsigned long long len = rawGet32(r->data + 20, be);
        if (len + 28 != r->size) continue;
        cPictJPEG* jpeg = new cPictJPEG;
        _typebuf<unsigned char> bytes;
        bool ok = bytes.set(r->data + 28, (long long)len);
        if (ok) {
            cBufWrapperIO s(bytes.ptr, bytes.count);
            sPictInfo info;
            jpeg->setWantAlts(false);
            ok = myLoading ? jpeg->decode(&s) : jpeg->isPicture(&s, &info);
        }
        cPictProp* prop = ok ? getProp(ppThumbnail, true) : nullptr;
        if (!prop || !prop->setImage(jpeg)) delete jpeg;
        return true;
    }
    return true;
}

bool cPictTIFF::walkFirstDir(cFileIOTarget* io) {
    bool be = false, big = false;
    unsigned int first = 0;
    if (!io || !readHeader(io, be, big, first)) return false;
    myFirstIFD = first;
    // The first directory alone: the chain that follows is made of pages, not thumbnails.
    return decodeDirect(this, io, dkMain, first, be, big, kAllOnes);
}

bool cPictTIFF::walkFirst(cFileIOTarget* io) { return walkFirstDir(io) && isFullConfig(); }

bool cPictTIFF::walkPage(cFileIOTarget* io, int page, bool dropPreview) {
    if (page < 0 || page >= kMaxPages) return false;
    myProps.clear();
    reset();
    if (!walkFirst(io)) return false;
    unsigned int seen[kMaxPages];
    seen[0] = myFirstIFD;
    for (int i = 1; i <= page; i++) {
        unsigned int off = myNextIFD;
        if (!off) return false;
        // A chain that comes back to a page already walked is a loop, not more pages.
        for (int j = 0; j < i; j++)
            if (seen[j] == off) return false;
        seen[i] = off;
        bool be = myBigEndian, big = myBigTiff;
        // Each page is described by its own directory only.
        reset();
        removeProp(ppWidth);
        removeProp(ppHeight);
        removeProp(ppCompression);
        if (dropPreview) removeProp(ppThumbnail);
        if (!decodeDirect(this, io, dkMain, off, be, big, kAllOnes) || !isFullConfig()) return false;
    }
    return true;
}

bool cPictTIFF::isPicture(cFileIOTarget* io, sPictInfo* info) {
    myLoading = false;
    myProps.clear();
    reset();
    if (!io) return false;
    unsigned long long start = io->get_fp();
    bool ok = walkFirst(io);
    io->set_fp(start);
    if (!ok) return false;
    if (info) {
        info->width = *getPropInt(ppWidth);
        info->height = *getPropInt(ppHeight);
        info->hasPreview = getPropImage(ppThumbnail) != nullptr;
    }
    return true;
}

int cPictTIFF::getNumPages(cFileIOTarget* io) {
    myLoading = false;
    int n = 0;
    unsigned int seen[kMaxPages];
    myProps.clear();
    reset();
    if (!walkFirst(io)) return 0;
    n = 1;
    seen[0] = myFirstIFD;
    bool be = myBigEndian, big = myBigTiff;
    while (n < kMaxPages && myNextIFD) {
        unsigned int off = myNextIFD;
        bool loop = false;
        for (int j = 0; j < n; j++) loop = loop || seen[j] == off;
        if (loop) break;
        seen[n] = off;
        reset();
        removeProp(ppWidth);
        removeProp(ppHeight);
        if (!decodeDirect(this, io, dkMain, off, be, big, kAllOnes) || !isFullConfig()) break;
        n++;
    }
    myProps.clear();
    return n;
}

bool cPictTIFF::getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) {
    myLoading = false;
    if (!walkPage(io, page, false)) return false;
    w = *getPropInt(ppWidth);
    h = *getPropInt(ppHeight);
    return true;
}

bool cPictTIFF::decode(cFileIOTarget* io) {
    myPage = 0;
    return decodeInt(io);
}

bool cPictTIFF::decodePage(cFileIOTarget* io, int page) {
    if (page < 0) return false;
    myPage = page;
    return decodeInt(io);
}

bool cPictTIFF::decodeInt(cFileIOTarget* io) {
    myLoading = true;
    myPixels.clear();
    myPixels16.clear();
    myWidth = myHeight = 0;
    my16Bpp = false;
    if (!walkPage(io, myPage, true)) return finishDecode(false);
    return decodeIntFinal(io);
}

bool cPictTIFF::decodeIntFinal(cFileIOTarget* io) {
    bool ok = myStripOffsets.count ? processStripes(io) : processTiles(io);
    return finishDecode(ok);
}

bool cPictTIFF::finishDecode(bool ok) {
    myChunkIn.clear();
    myChunkOut.clear();
    // A registered target receives what was decoded, then the picture's own copy goes.
    if (myHasExt) {
        if (myWidth > 0 && (myPixels.count || myPixels16.count)) toExtTarget(&myExt);
        myPixels.clear();
        myPixels16.clear();
        setExtTarget(nullptr);
    }
    // A refused page keeps the rows decoded before the fault when its buffer was allocated;
    // without one it is no picture at all, not a size without pixels.
    if (!ok && !myPixels.count && !myPixels16.count) myWidth = myHeight = 0;
    return ok;
}

bool cPictTIFF::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    myLoading = true;
    if (!target || !walkPage(io, 0, false)) return false;
    cPictBase* thumb = getPropImage(ppThumbnail);
    if (!thumb || thumb->width() < 1) return false;
    thumb->moveTo(*target);
    if (maxWidth) *maxWidth = target->width();
    if (maxHeight) *maxHeight = target->height();
    return true;
}

bool cPictTIFF::decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height, int page,
                                  bool allowFull, unsigned int background) {
    if (!io || !target || page < 0 || width < 1 || height < 1) return false;
    myLoading = true;
    if (!walkPage(io, page, true)) return false;
    cPictBase* thumb = getPropImage(ppThumbnail);
    if (thumb && thumb->width() > 0) return imgToPreview(thumb, target, width, height, background);
    if (!allowFull || !decodePage(io, page)) return false;
    return imgToPreview(this, target, width, height, background);
}

// --- the strip and tile loops ---

bool cPictTIFF::isSubsampledYCbCr(int compression) const {
    return myPhotometric == 6 && myPlanar != 2 && compression != 6 && compression != 7;
}

bool cPictTIFF::chunkIsPossible(int compression, unsigned long long count, long long expected,
                                long long rowBytes) const {
    if (compression == 3 || compression == 4) {
        // Every coded row takes at least one bit.
        long long rows = rowBytes > 0 ? expected / rowBytes : 0;
        return (long long)count * 8 + 16 >= rows;
    }
    long long most = maxExpansion(compression, count);
    return most < 0 || most >= expected;
}

bool cPictTIFF::ensureBuffer(bool sixteen) {
    if (sixteen ? myPixels16.count : myPixels.count) return true;
    if (sixteen ? myPixels.count : myPixels16.count) return false;  // depth changed between strips
    if (!allocPixels(myImageW, myImageH, sixteen)) return false;
    // Zeroed: rows no strip reaches are never left as heap contents.
    if (sixteen)
        myPixels16.zero();
    else
        myPixels.zero();
    return true;
}

bool cPictTIFF::processChunk(cFileIOTarget* io, unsigned long long offset, unsigned long long count, long long chunkW,
                             long long chunkRows, long long x0, long long y0, int plane) {
    const int compression = getPropInt(ppCompression) ? (int)*getPropInt(ppCompression) : 1;
    const int spp = myPlanar == 2 ? 1 : (int)mySamples;
    long long rowBytes, expected;
    if (!checkedRowBytes(chunkW, spp, myBits, rowBytes) || !checkedMul(rowBytes, chunkRows, expected)) return false;
    _typebuf<unsigned char>& in = myChunkIn;
    if ((in.count != (long long)count && !in.reset((long long)count)) || !io->set_fp(offset) ||
        !io->readf(in.ptr, (long long)count))
        return false;
    sDecomress rec;
    rec.output.swap(myChunkOut);
    rec.bytesPerRow = (unsigned int)rowBytes;
    rec.bits = myBits;
    rec.samples = (unsigned int)spp;
    rec.rows = (unsigned int)chunkRows;
    rec.planar = myPlanar == 2 ? 2 : 1;
    rec.photometric = myPhotometric;
    rec.sampleFormat = mySampleFormat ? mySampleFormat : 1;
    rec.bigEndian = myBigEndian;
    rec.width = (unsigned int)chunkW;
    if (!decodeStripe(compression, in, rec)) return false;
    if (rec.photometric == 6 && rec.planar == 1 && !decodeYCbCr(rec)) return false;
    if (!rec.bits || !rec.bytesPerRow) return false;
    long long rows = chunkRows < myImageH - y0 ? chunkRows : myImageH - y0;
    long long cols = chunkW < myImageW - x0 ? chunkW : myImageW - x0;
    if ((long long)rec.rows < rows || (long long)rec.width < cols) return false;
    long long need;
    if (!checkedMul(rec.bytesPerRow, rows, need) || rec.output.count < need) return false;
    if (compression == 5 || compression == 8 || compression == 32946) {
        bool ok = true;
        if (myPredictor == 2)
            ok = makeHorzUndifferencing(rec.output.ptr, rec.output.count, rec.width, (int)rec.samples, (int)rec.bits,
                                        rec.bigEndian);
        else if (myPredictor == 3)
            ok = makeFloatUndifferencing(rec.output.ptr, rec.output.count, rec.width, (int)rec.samples, (int)rec.bits,
                                         rec.bigEndian);
        if (!ok) return false;
    }
    const bool ok = toColors(rec, y0, x0, cols, rows, plane);
    rec.output.swap(myChunkOut);
    return ok;
}

bool cPictTIFF::toColors(sDecomress& rec, long long y0, long long x0, long long cols, long long rows, int plane) {
    rec.rows = (unsigned int)rows;
    if (rec.photometric == 3) {
        if (!ensureBuffer(false)) return false;
        my16Bpp = false;
        return decodeColorsPalette(y0, x0, cols, rec);
    }
    bool sixteen = rec.bits > 8;
    if (!ensureBuffer(sixteen)) return false;
    my16Bpp = sixteen;
    if (rec.planar == 2 && myPlanarMerge)
        return sixteen ? decodeColorsMargePlane16bpp(y0, x0, cols, plane, rec)
                       : decodeColorsMargePlane8bpp(y0, x0, cols, plane, rec);
    return sixteen ? decodeColors16bpp(y0, x0, cols, rec) : decodeColors8bpp(y0, x0, cols, rec);
}

bool cPictTIFF::processStripes(cFileIOTarget* io) {
    if (!myStripOffsets.count) return false;
    const long long* pw = getPropInt(ppWidth);
    const long long* ph = getPropInt(ppHeight);
    if (!pw || !ph || *pw < 1 || *ph < 1) return false;
    const int compression = getPropInt(ppCompression) ? (int)*getPropInt(ppCompression) : 1;
    myImageW = *pw;
    myImageH = *ph;
    const long long strips = myStripOffsets.count;
    // A raw decoder may repack the layout here (four sensor samples as one pixel): every
    // size below comes from the members after this call.
    if (!onBeforeDecodeStripes((int)strips)) return false;
    long long pixels;
    if (!checkedImagePixels(myImageW, myImageH, pixels)) return false;
    const long long planes = myPlanar == 2 && mySamples > 1 ? mySamples : 1;
    if (strips < planes) return false;
    long long rps = myRowsPerStrip;
    if (rps == 0) {
        long long perPlane = strips / planes;
        rps = (myImageH + perPlane - 1) / perPlane;
    }
    if (rps > myImageH) rps = myImageH;
    const long long perPlane = (myImageH + rps - 1) / rps;
    // Fewer strips than rows need cannot cover the picture; more have no rows to fill.
    if (strips != perPlane * planes) return false;
    const int spp = myPlanar == 2 ? 1 : (int)mySamples;
    long long rowBytes;
    if (!checkedRowBytes(myImageW, spp, myBits, rowBytes)) return false;
    const unsigned long long size = io->size();
    for (long long i = 0; i < strips; i++) {
        long long rows = rps;
        if ((i % perPlane) == perPlane - 1) rows = myImageH - (perPlane - 1) * rps;
        long long expected;
        if (!checkedMul(rowBytes, rows, expected)) return false;
        if (isSubsampledYCbCr(compression)) expected = ycbcrChunkBytes(myImageW, rows);
        if (expected <= 0) return false;
        unsigned long long off = myStripOffsets.ptr[i];
        unsigned long long cnt = myStripByteCounts.count ? myStripByteCounts.ptr[i] : 0;
        if (!myStripByteCounts.count) {
            if (compression != 1) return false;
            cnt = (unsigned long long)expected;
        }
        if (off >= size || cnt > size - off || cnt == 0) return false;
        if (!chunkIsPossible(compression, cnt, expected, rowBytes)) return false;
    }
    myPixels.clear();
    myPixels16.clear();
    myWidth = myImageW;
    myHeight = myImageH;
    myPlanarMerge = planes > 1;
    for (long long i = 0; i < strips; i++) {
        int plane = (int)(i / perPlane);
        long long row = (i % perPlane) * rps;
        long long rows = rps < myImageH - row ? rps : myImageH - row;
        unsigned long long cnt = myStripByteCounts.count ? myStripByteCounts.ptr[i] : 0;
        if (!cnt) cnt = isSubsampledYCbCr(compression) ? ycbcrChunkBytes(myImageW, rows) : rowBytes * rows;
        if (!processChunk(io, myStripOffsets.ptr[i], cnt, myImageW, rows, 0, row, plane)) return false;
        if (!io->valid()) return false;
    }
    if (myPlanarMerge && !finalizeColorTransform()) return false;
    return onAfterDecodeStripes();
}

bool cPictTIFF::processTiles(cFileIOTarget* io) {
    if (!myTileOffsets.count || !myTileWidth || !myTileLength) return false;
    const long long* pw = getPropInt(ppWidth);
    const long long* ph = getPropInt(ppHeight);
    if (!pw || !ph || *pw < 1 || *ph < 1) return false;
    const int compression = getPropInt(ppCompression) ? (int)*getPropInt(ppCompression) : 1;
    myImageW = *pw;
    myImageH = *ph;
    if (!onBeforeDecodeTiles((int)myTileOffsets.count)) return false;
    long long pixels;
    if (!checkedImagePixels(myImageW, myImageH, pixels) || !myTileWidth || !myTileLength) return false;
    const long long planes = myPlanar == 2 && mySamples > 1 ? mySamples : 1;
    const long long tw = myTileWidth, tl = myTileLength;
    const long long across = (myImageW + tw - 1) / tw, down = (myImageH + tl - 1) / tl;
    const long long perPlane = across * down, tiles = myTileOffsets.count;
    if (tiles != perPlane * planes) return false;
    const int spp = myPlanar == 2 ? 1 : (int)mySamples;
    long long rowBytes, expected;
    if (!checkedRowBytes(tw, spp, myBits, rowBytes) || !checkedMul(rowBytes, tl, expected) ||
        !checkedWorkBytes(expected, 1, expected))
        return false;
    if (isSubsampledYCbCr(compression) && (expected = ycbcrChunkBytes(tw, tl)) <= 0) return false;
    const unsigned long long size = io->size();
    for (long long i = 0; i < tiles; i++) {
        unsigned long long off = myTileOffsets.ptr[i];
        unsigned long long cnt = myTileByteCounts.count ? myTileByteCounts.ptr[i] : (unsigned long long)expected;
        if (!myTileByteCounts.count && compression != 1) return false;
        if (off >= size || cnt > size - off || cnt == 0) return false;
        if (!chunkIsPossible(compression, cnt, expected, rowBytes)) return false;
    }
    myPixels.clear();
    myPixels16.clear();
    myWidth = myImageW;
    myHeight = myImageH;
    myPlanarMerge = planes > 1;
    for (long long i = 0; i < tiles; i++) {
        int plane = (int)(i / perPlane);
        long long j = i % perPlane;
        long long x = (j % across) * tw, y = (j / across) * tl;
        unsigned long long cnt = myTileByteCounts.count ? myTileByteCounts.ptr[i] : (unsigned long long)expected;
        if (!processChunk(io, myTileOffsets.ptr[i], cnt, tw, tl, x, y, plane)) return false;
        if (!io->valid()) return false;
    }
    if (myPlanarMerge && !finalizeColorTransform()) return false;
    return onAfterDecodeTiles();
}
