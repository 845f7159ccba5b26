// cPictRAF: Fujifilm RAF raw files. A fixed 124-byte header locates a JPEG preview, a
// property block of tag-length records and the raw block (bare samples, or a small TIFF
// whose private tags 0xF000-0xF00E point at them). Sensors are Bayer or X-Trans, some of
// them turned by 45 degrees.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictRAF : public cPictBase, public cRawTiffWalker {
public:
    enum { kHeaderSize = 124, kMaxProps = 65536 };

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkRAF; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;

    // After a probe or decode.
    const sMarginInfo& margins() const { return myMargins; }
    bool xTrans() const { return myXTrans; }
    bool rotated() const { return myRotated; }
    unsigned int blackLevel() const { return myBlack; }

private:
    void reset();
    bool loadVerifyHeader(cFileIOTarget* io);
    bool loadProps(cFileIOTarget* io);
    void initModelSpecificInfo();
    // Header, properties, model table and the raw block's directory.
    bool load(cFileIOTarget* io);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    bool samplesBigEndian(cFileIOTarget* io);
    bool finish(unsigned long long* pixels, long long count, unsigned int maxRaw, cFileIOTarget* io);

    sMarginInfo myMargins;
    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    unsigned char myHeader[kHeaderSize] = {};
    bool myRotated = false;
    bool myLayout = false;
    bool myGroups12 = false;
    bool myXTrans = false;
    unsigned int myBlack = 240;
    unsigned long long myImageWidth = 0, myImageHeight = 0;
    bool mySwapBytes = false;
    unsigned int myBits = 16;
    unsigned int myRawDataOffset = 0, myRawDataLength = 0;
    unsigned char myCodes[4] = {0, 1, 1, 2};
    long long myFrameWidth = 0, myFrameHeight = 0;
    unsigned long long myRawOffset = 0, myRawLength = 0;  // the raw block, then its samples
};
