// cPictIIQ: Phase One raw files (IIQ), plain or stored as the first entry "0.IIQ" of a ZIP
// archive. A TIFF preview comes first; a Phase One directory of 16-byte entries gives the
// sensor size, margins, black levels and tables, white balance, the format and the offsets
// of the compressed rows.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/interpolate.h"

class cPictIIQ : public cPictBase {
public:
    enum { kMaxEntries = 4096 };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkIIQ; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    // The TIFF the file starts with (after the ZIP entry's header when the raw is stored in
    // a ZIP), whole or fitted within the bounds, which receive the size given.
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;
    using cPictBase::getPreview;

    // Reads the container and the Phase One directory; tiffBase (optional) receives where
    // the embedded TIFF starts (0, or 39 in a ZIP).
    bool processIIQ(cFileIOTarget* io, unsigned int* tiffBase);

    // After processIIQ.
    const sMarginInfo& margins() const { return myMargins; }
    unsigned int format() const { return myFormat; }
    unsigned int blackLevel() const { return myBlack; }
    const double* balance() const { return myBalance; }
    long long frameWidth() const { return myFrameWidth; }
    long long frameHeight() const { return myFrameHeight; }

private:
    void reset();
    // Where the preview TIFF starts: 39 in a ZIP whose "0.IIQ" entry is stored, else 0.
    static unsigned long long previewBase(cFileIOTarget* io);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);

    unsigned int myFormat = 0;
    unsigned int myBlack = 0;
    unsigned int mySplitCol = 0, myBlackColOffset = 0;
    unsigned int mySplitRow = 0, myBlackRowOffset = 0;
    sMarginInfo myMargins;
    unsigned int myRowTableOffset = 0;
    unsigned int myRawOffset = 0, myRawSize = 0;
    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    long long myFrameWidth = 0, myFrameHeight = 0;
};
