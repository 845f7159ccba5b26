// cPictMRW: Minolta MRW raw files, a chain of blocks (PRD dimensions, WBG balance, TTW a TIFF
// structure with the camera name and preview) followed by 16-bit or packed 12-bit samples.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictMRW : public cPictBase, public cRawTiffWalker {
public:
    enum { kMaxBlocks = 4096 };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);
    // Reads the block chain from the stream's current position; false for a wrong outer
    // tag, a short header, an inner block running past the raw data or a failed TTW walk.
    bool loadMrwProps(cFileIOTarget* io);

    int typeOf() override { return pkMRW; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;

    // After loadMrwProps: what the chain gave.
    long long frameWidth() const { return myFrameWidth; }
    long long frameHeight() const { return myFrameHeight; }
    unsigned long long rawOffset() const { return myRawOffset; }
    const double* balance() const { return myBalance; }

private:
    void resetProps();

    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    unsigned int myJpegOffset = 0;
    unsigned int myJpegLength = 0;
    unsigned long long myTtwStart = 0;   // file offset of the TIFF header inside the TTW block
    unsigned long long myRawOffset = 0;  // file offset of the samples
    long long myFrameWidth = 0;
    long long myFrameHeight = 0;
    bool myBigSamples = false;           // samples in big-endian order (the TTW structure's)
    sMarginInfo myMargins;
    sCFAData myCfa;
};
