// Canon CR3. Box walks move forward by at least a header at every step: a box of size 0
// (to the end of the file) or a 64-bit size below its own 16-byte header is refused rather
// than walked in place (see picts/pictbox.h), every box must end inside its parent, and
// "uuid" boxes nest only kMaxUuidDepth deep inside the movie box.
#include "picts/raw/canon/pictcr3.h"

#include <cstring>

#include "base/memio.h"
#include "picts/pictbox.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtiffwalk.h"

bool cPictCR3::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictCR3 p;
    return p.isPicture(io, info);
}

bool cPictCR3::onTag(int tag, int type, const void* data, int size) {
    if (tag != 256 && tag != 257) return true;
    long long v;
    if (type == 3 && size == 2 && data) v = getU16(data);
    else if (type == 4 && size == 4 && data) v = getU32(data);
    else return false;
    (tag == 256 ? myPictWidth : myPictHeight) = v;
    return true;
}

bool cPictCR3::preLoadMoov(cFileIOTarget* box, int uuidDepth) {
    if (uuidDepth > kMaxUuidDepth) return false;
    const unsigned long long end = box->size();
    for (unsigned long long pos = 0; pos < end;) {
        // A tail shorter than a header with a 64-bit size is no box.
        if (end - pos < 16) return true;
        sPictBox b;
        if (pictReadBox(box, pos, end, 0, b) != pbBox) return false;
        const unsigned long long payload = pos + b.header, length = b.size - b.header;
        if (b.type == pictBoxType("CMT1") || b.type == pictBoxType("CMT2")) {
            cFileIOSubRange tiff(box, payload, length);
            if (!processStream(&tiff, ~0ULL)) return false;
        } else if (b.type == pictBoxType("uuid")) {
            if (length < 16) return false;
            cFileIOSubRange inner(box, payload + 16, length - 16);
            if (!preLoadMoov(&inner, uuidDepth + 1)) return false;
        }
        pos += b.size;
    }
    return true;
}

bool cPictCR3::preLoad(cFileIOTarget* io) {
    if (!io || !io->valid()) return false;
    if (myLoaded) return true;
    const unsigned long long fileSize = io->size();
    unsigned char f[24];
    if (fileSize < 24 || !io->set_fp(0) || !io->readf(f, 24)) return false;
    const unsigned long long ftypSize = rawGet32(f, true);
    if (ftypSize < 24 || ftypSize > fileSize || memcmp(f + 4, "ftyp", 4) || memcmp(f + 8, "crx ", 4) ||
        rawGet32(f + 12, true) != 1 || memcmp(f + 16, "crx ", 4))
        return false;
    bool movie = false;
    for (unsigned long long pos = ftypSize; pos < fileSize;) {
        if (fileSize - pos < 16) break;  // a short tail is no box
        sPictBox b;
        if (pictReadBox(io, pos, fileSize, 0, b) != pbBox) return false;
        const unsigned long long payload = pos + b.header, length = b.size - b.header;
        if (b.type == pictBoxType("uuid")) {
            unsigned char u[32];
            if (length >= 48 && io->set_fp(payload + 16) && io->readf(u, 32) && !memcmp(u + 12, "PRVW", 4)) {
                const unsigned long long l = rawGet32(u + 28, true);
                if (l && l + 48 <= length) {
                    myPreviewOffset = payload + 48;
                    myPreviewLength = l;
                }
            }
        } else if (b.type == pictBoxType("mdat")) {
            if (!myMediaOffset) {
                myMediaOffset = payload;
                myMediaLength = length;
            }
        } else if (b.type == pictBoxType("moov")) {
            cFileIOSubRange moov(io, payload, length);
            if (!preLoadMoov(&moov, 0)) return false;
            movie = true;
        } else {
            break;
        }
        pos += b.size;
    }
    myLoaded = movie && myMediaOffset && myMediaLength;
    return myLoaded;
}

bool cPictCR3::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!preLoad(io)) return false;
    if (info) {
        info->width = myPictWidth;
        info->height = myPictHeight;
        info->hasPreview = myPreviewLength != 0;
    }
    return true;
}

bool cPictCR3::decode(cFileIOTarget* io) {
    if (!preLoad(io)) return false;
    cRAWLosslessJpeg jpeg;
    jpeg.init((unsigned int)(myPictWidth > 0 && myPictWidth < 0xFFFFFFFFLL ? myPictWidth : 0),
              (unsigned int)(myPictHeight > 0 && myPictHeight < 0xFFFFFFFFLL ? myPictHeight : 0),
              cRAWLosslessJpeg::stInOrder);
    cFileIOSubRange media(io, myMediaOffset, myMediaLength);
    // Only a JPEG that gives pixels is a picture; a lossless stream would give sensor samples.
    if (!media.set_fp(0) || !jpeg.decode(&media) || (!jpeg.raw8Bpp() && !jpeg.raw16Bpp())) return false;
    close();
    jpeg.moveTo(*this);
    return true;
}

bool cPictCR3::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!preLoad(io) || !myPreviewLength) return false;
    return rawJpegPreview(io, myPreviewOffset, myPreviewLength, target, maxWidth, maxHeight);
}
