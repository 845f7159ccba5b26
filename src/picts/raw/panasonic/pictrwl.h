// cPictRWL: Panasonic and Leica raw files (RW2, RWL). A TIFF-like structure with its own
// header magic ("IIU\0") whose first directory gives the sensor size, the pattern code, the
// balance levels, the model and the strips: Panasonic's compressed bit stream, a padded
// 12-bit packing or plain 16-bit samples.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictRWL : public cPictBase, public cRawTiffWalker {
public:
    enum { kBlockSize = 0x4000, kSplitAt = 0x2008 };
    // A compressed stream may end this many rows early (the rows stay 0); more fails.
    enum { kMaxMissingRows = 7 };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkRWL; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }

    eHeaderLayout headerLayout(bool bigEndian, unsigned short version) const override;
    bool onTag(int tag, int type, const void* data, int size) override;

    // After a probe or decode.
    const sMarginInfo& margins() const { return myMargins; }
    unsigned int blackLevel() const { return myBlack; }
    bool rawOffsetMode() const { return myRawOffsetMode; }
    bool splitBlocks() const { return mySplitBlocks; }

private:
    void reset();
    bool walk(cFileIOTarget* io);
    void applyModel(const char* model, int size);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    bool readCompressed(cFileIOTarget* io, unsigned short* frame);

    _typebuf<unsigned int> myStripOffsets;
    _typebuf<unsigned int> myStripCounts;
    unsigned int myRowsPerStrip = 0;
    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    sMarginInfo myMargins;
    bool myRawOffsetMode = false;
    bool mySplitBlocks = true;
    unsigned int myPattern = 4;
    unsigned int myBlack = 0;
    long long myFrameWidth = 0, myFrameHeight = 0;
};
