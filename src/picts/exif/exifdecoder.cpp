// cExifDecoder: EXIF/TIFF tags into picture properties; the thumbnail through the factory.
#include "picts/exif/exifdecoder.h"

#include "base/memio.h"

namespace {
const unsigned long long kAllOnes = ~0ULL;
// EXIF 2.3 tags read here.
enum {
    tgWidth = 256, tgHeight = 257, tgCompression = 259, tgDescription = 0x10E, tgMake = 0x10F,
    tgModel = 0x110, tgOrientation = 0x112, tgSoftware = 0x131, tgDateTime = 0x132,
    tgThumbOffset = 0x201, tgThumbLength = 0x202, tgCopyright = 0x8298, tgExposure = 0x829A,
    tgFNumber = 0x829D, tgExifIfd = 0x8769, tgGPSIfd = 0x8825, tgISO = 0x8827,
    tgDateOriginal = 0x9003, tgDateDigitized = 0x9004, tgFlash = 0x9209, tgFocalLength = 0x920A,
    tgMakerNote = 0x927C, tgPixelX = 0xA002, tgPixelY = 0xA003, tgInteropIfd = 0xA005,
};
// Thumbnails decoded while decoding a thumbnail: bounded, a thumbnail may hold EXIF again.
thread_local int gThumbDepth = 0;
}  // namespace

bool cExifDecoder::decode(cPictBase* picture, cFileIOTarget* io, int kind) {
    myPicture = picture;
    myDirKind = kind;
    myExifOffset = myGPSOffset = myInteropOffset = myNextIfd = 0;
    myThumbOffset = myThumbLength = 0;
    myThumbData.clear();
    myHaveLat = myHaveLon = false;
    myLatRef = myLonRef = 0;
    if (!processStream(io, kAllOnes)) return false;
    return walkPending();
}

bool cExifDecoder::decodeDirect(cPictBase* picture, cFileIOTarget* io, int kind, unsigned int offset,
                                bool bigEndian, bool bigTiff, unsigned long long size) {
    myPicture = picture;
    myExifOffset = myGPSOffset = myInteropOffset = myNextIfd = 0;
    myHaveLat = myHaveLon = false;
    myLatRef = myLonRef = 0;
    myIO = io;
    if (!io) {
        myError = teNoStream;
        return false;
    }
    myBigEndian = bigEndian;
    myBigTiff = bigTiff;
    mySize = size == kAllOnes ? io->size() : size;
    resetVisited();
    if (!walkDirectory(kind, offset)) return false;
    // Only the named directory: the chain that follows it is the caller's business.
    myNextIfd = 0;
    return walkPending();
}

bool cExifDecoder::walkDirectory(int kind, unsigned int offset) {
    if (!markVisited(offset)) return false;
    myDirKind = kind;
    bool ok = processStream(myIO, myBigEndian, myBigTiff, offset, mySize);
    if (kind == dkGPS) finishGPS();
    return ok;
}

bool cExifDecoder::walkPending() {
    // Sub-directories are walked one after another, never nested, so one walker serves.
    bool ok = true;
    int guard = 0;
    while (ok && guard++ < 16) {
        unsigned int off;
        int kind;
        if (myExifOffset) {
            off = myExifOffset, kind = dkExif, myExifOffset = 0;
        } else if (myGPSOffset) {
            off = myGPSOffset, kind = dkGPS, myGPSOffset = 0;
        } else if (myInteropOffset) {
            off = myInteropOffset, kind = dkInterop, myInteropOffset = 0;
        } else if (myNextIfd) {
            off = myNextIfd, kind = dkThumbnail, myNextIfd = 0;
        } else {
            break;
        }
        ok = walkDirectory(kind, off);
        if (kind == dkThumbnail) finishThumbnail();
    }
    return ok;
}

bool cExifDecoder::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    // The maker note keeps its place in the stream: its own offsets count from there.
    if (tag == tgMakerNote)
        myMakerNoteOffset = data ? (unsigned int)(myPos + (myBigTiff ? 12 : 8)) : offset;
    return cTiffGeneric::onRawTag(tag, type, data, size, offset);
}

bool cExifDecoder::setString(int id, const void* data, int size) {
    if (!myPicture || !data || size <= 0) return true;
    const char* s = (const char*)data;
    int n = 0;
    while (n < size && s[n]) n++;  // up to the terminator
    while (n > 0 && s[n - 1] == ' ') n--;
    cPictProp* p = myPicture->getProp(id, true);
    return p && p->setString(s, n);
}

bool cExifDecoder::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (tag == kNextIfdTag) {
        if (myDirKind == dkMain) myNextIfd = getU32(data);
        return true;
    }
    unsigned int u = 0;
    double d = 0;
    if (myDirKind == dkGPS) {
        _typebuf<double> v;
        if ((tag == 1 || tag == 3) && type == 2 && data && size > 0) {
            (tag == 1 ? myLatRef : myLonRef) = *(const char*)data;
        } else if ((tag == 2 || tag == 4) && getValsDouble(p, v) && v.count >= 3) {
            double deg = v.ptr[0] + v.ptr[1] / 60.0 + v.ptr[2] / 3600.0;
            if (tag == 2)
                myLat = deg, myHaveLat = true;
            else
                myLon = deg, myHaveLon = true;
        }
        return true;
    }
    if (myDirKind == dkThumbnail) {
        if (tag == tgThumbOffset && getValU32(p, u)) myThumbOffset = u;
        if (tag == tgThumbLength && getValU32(p, u)) myThumbLength = u;
        return true;
    }
    if (myDirKind == dkInterop || !myPicture) return true;
    cPictProp* prop;
    sTimestamp ts;
    switch (tag) {
        case tgExifIfd:
            if (getValU32(p, u)) myExifOffset = u;
            break;
        case tgGPSIfd:
            if (getValU32(p, u)) myGPSOffset = u;
            break;
        case tgInteropIfd:
            if (getValU32(p, u)) myInteropOffset = u;
            break;
        case tgMake: return type != 2 || setString(ppMake, data, size);
        case tgModel: return type != 2 || setString(ppModel, data, size);
        case tgSoftware: return type != 2 || setString(ppSoftware, data, size);
        case tgDescription: return type != 2 || setString(ppDescription, data, size);
        case tgCopyright: return type != 2 || setString(ppCopyright, data, size);
        case tgWidth:
        case tgHeight:
        case tgCompression:
            // Only a main directory describes the picture itself.
            if (myDirKind == dkMain && getValU32(p, u)) {
                int id = tag == tgWidth ? ppWidth : tag == tgHeight ? ppHeight : ppCompression;
                if ((prop = myPicture->getProp(id, true))) prop->setInt(u);
            }
            break;
        case tgPixelX:
        case tgPixelY:
            if (getValU32(p, u)) {
                int id = tag == tgPixelX ? ppWidth : ppHeight;
                if (!myPicture->getPropInt(id) && (prop = myPicture->getProp(id, true))) prop->setInt(u);
            }
            break;
        case tgOrientation:
        case tgISO:
        case tgFlash:
            if (getValU32(p, u)) {
                int id = tag == tgOrientation ? ppOrientation : tag == tgISO ? ppISO : ppFlash;
                if ((prop = myPicture->getProp(id, true))) prop->setInt(u);
            }
            break;
        case tgExposure:
        case tgFNumber:
        case tgFocalLength:
            if (getValDouble(p, d)) {
                int id = tag == tgExposure ? ppExposureTime : tag == tgFNumber ? ppFNumber : ppFocalLength;
                if ((prop = myPicture->getProp(id, true))) prop->setDouble(d);
            }
            break;
        case tgDateTime:
        case tgDateOriginal:
        case tgDateDigitized:
            if (type == 2 && data) {
                // Stored with its terminator: 20 bytes for a date and time.
                int n = size;
                while (n > 0 && ((const char*)data)[n - 1] == 0) n--;
                if (getDate((const char*)data, n, ts)) {
                    int id = tag == tgDateTime ? ppDateTime : tag == tgDateOriginal ? ppDateTimeOriginal
                                                                                    : ppDateTimeDigitized;
                    if ((prop = myPicture->getProp(id, true))) prop->setTime(ts);
                }
            }
            break;
        case tgMakerNote:
            if ((prop = myPicture->getProp(ppMakerNote, true)) && !prop->setRaw(data, size, myMakerNoteOffset)) {
                myError = teExif;
                return false;
            }
            break;
        default: break;
    }
    return true;
}

void cExifDecoder::finishGPS() {
    if (!myPicture) return;
    cPictProp* prop;
    if (myHaveLat && (prop = myPicture->getProp(ppGPSLatitude, true)))
        prop->setDouble(myLatRef == 'S' ? -myLat : myLat);
    if (myHaveLon && (prop = myPicture->getProp(ppGPSLongitude, true)))
        prop->setDouble(myLonRef == 'W' ? -myLon : myLon);
}

void cExifDecoder::finishThumbnail() {
    unsigned long long off = myThumbOffset, len = myThumbLength;
    if (!myIO || !off || !len || len > kMaxThumbnailBytes || off + len > mySize) return;
    if (!myThumbData.set((long long)len) || !myIO->set_fp(off) || !myIO->readf(myThumbData.ptr, (long long)len)) {
        myThumbData.clear();
        return;
    }
    if (!myPicture || !myPicture->wantAlts() || gThumbDepth >= 2) return;
    // Decoded by whichever decoder of the factory accepts it (the JPEG decoder for EXIF
    // thumbnails); when none is built in, only the raw bytes above are kept.
    cBufWrapperIO mem(myThumbData.ptr, myThumbData.count);
    cPictBase::sPictInfo info;
    gThumbDepth++;
    cPictBase* thumb = cPictBase::mkPicture(&mem, &info);
    bool ok = thumb && thumb->decode(&mem);
    gThumbDepth--;
    cPictProp* prop;
    if (ok && (prop = myPicture->getProp(ppThumbnail, true)) && prop->setImage(thumb)) return;
    delete thumb;
}
