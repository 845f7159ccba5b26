// cPictSRW: Samsung SRW raw files. A TIFF structure whose IFD0 names the camera and lists two
// sub-directories: the preview (and in some files the colour pattern) in the first, the raw
// image in the second. Strips are plain 16-bit, packed 12-bit, or one of three codes:
// row-indexed variable lengths (32769/32770), a Huffman predictor (32772) or a predictive
// bit code (32773).
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictSRW : public cPictBase, public cRawTiffWalker {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkSRW; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;

    // After a probe or decode.
    const sMarginInfo& margins() const { return myMargins; }
    bool bigEndianPacking() const { return myBEPacking; }

private:
    void reset();
    bool walk(cFileIOTarget* io);
    void applyModel(const char* model, int size);
    bool readStrips(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    // Each decodes `rows` rows of one strip's bytes (out: the strip's first row in the frame;
    // the predictive code takes the whole frame and that row's index); false for corrupt data.
    bool decodeRowIndexed(cFileIOTarget* io, long long strip, const unsigned char* data, long long size,
                          long long rows, unsigned short* out);
    bool decodeHuffman(const unsigned char* data, long long size, long long rows, unsigned short* out);
    bool decodePredictive(const unsigned char* data, long long size, long long rows, unsigned short* frame,
                          long long firstRow);

    _typebuf<unsigned int> mySubIfds;
    unsigned int myBits = 0;
    unsigned int myCompression = 0;
    unsigned int mySamples = 0;
    _typebuf<unsigned int> myStripOffsets;
    _typebuf<unsigned int> myStripCounts;
    unsigned int myRowsPerStrip = 0;
    sCFAData myCfa;
    sMarginInfo myMargins;
    unsigned int myRowTableOffset = 0;
    bool myBEPacking = false;
    unsigned int myJpegOffset = 0;
    unsigned int myJpegLength = 0;
    long long myFrameWidth = 0, myFrameHeight = 0;
    bool myPatternOnly = false;  // walking the preview directory: only its pattern and JPEG
};
