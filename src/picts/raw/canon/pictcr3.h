// cPictCR3: Canon CR3 files (ISO base media, brand "crx "). The sensor data in the media
// box is coded in Canon's own wavelet-based scheme, which is not decoded here: the picture is
// the full-size JPEG that starts the media data box, its size the one the "CMT1" TIFF states,
// and the preview the small JPEG of the "PRVW" box.
#pragma once

#include "picts/pictbase.h"
#include "picts/tiffwalk/tiffgeneric.h"

class cPictCR3 : public cPictBase, public cTiffGeneric {
public:
    enum { kMaxUuidDepth = 4 };  // "uuid" boxes nested inside "moov"

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkCR3; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    // The full-size JPEG of the media data box.
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    // Tags 256 and 257 of "CMT1": a SHORT or a LONG, nothing else.
    bool onTag(int tag, int type, const void* data, int size) override;

    // After a load.
    unsigned long long previewOffset() const { return myPreviewOffset; }
    unsigned long long previewLength() const { return myPreviewLength; }
    unsigned long long mediaOffset() const { return myMediaOffset; }
    unsigned long long mediaLength() const { return myMediaLength; }

private:
    // The boxes of the file once (later calls answer from what was found).
    bool preLoad(cFileIOTarget* io);
    bool preLoadMoov(cFileIOTarget* box, int uuidDepth);

    long long myPictWidth = 0, myPictHeight = 0;
    unsigned long long myPreviewOffset = 0, myPreviewLength = 0;
    unsigned long long myMediaOffset = 0, myMediaLength = 0;
    bool myLoaded = false;
};
