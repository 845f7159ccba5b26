// cPictARW: Sony ARW and SR2 raw files. A TIFF structure whose IFD0 names the camera and
// points to the raw sub-directory and a JPEG preview; the colour balance sits in a private
// block. The raw strip is plain 16-bit (compression 1) or one of the three layouts of
// Sony's compression 32767: ARW2 blocks, packed 12-bit, or ARW1 Huffman differences.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictARW : public cPictBase, public cRawTiffWalker {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkARW; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;
    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override;

    // Reads the balance from a block that begins 0x00 'M' 'R' at offset; false when the
    // block is not one.
    bool processMRW(cFileIOTarget* io, unsigned long long offset);

    // One row of the ARW2 layout: `width` bytes cut into 16-byte blocks of 16 samples
    // (columns col, col + 2, ..., col + 30), blocks alternating even and odd columns; a
    // width below 31 holds no block. Samples go through the tone curve (4096 entries,
    // 11-bit values doubled as index, result quartered). Never reads past the row.
    static void decodeArw2Row(const unsigned char* row, long long width, bool bigEndian, const unsigned short* curve,
                              unsigned short* out);

    // After a probe or decode: what the file gave.
    const double* balance() const { return myBalance; }
    unsigned int blackLevel() const { return myBlack; }
    unsigned int whiteLevel() const { return myWhite; }
    const sMarginInfo& margins() const { return myMargins; }
    double gamma() const { return myGamma; }

private:
    void reset();
    bool walk(cFileIOTarget* io, bool needSubIfd);
    void applyModel(const char* model, int size);
    bool readStrips(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    bool decodeArw1(const unsigned char* data, long long size, long long rows, unsigned short* out);
    unsigned int unlistedModelBlack() const;

    unsigned int myBits = 0;
    unsigned int myCompression = 0;
    unsigned int mySamples = 0;
    _typebuf<unsigned int> myStripOffsets;
    _typebuf<unsigned int> myStripCounts;
    unsigned int myRowsPerStrip = 0;
    sCFAData myCfa;
    sMarginInfo myMargins;
    unsigned int myJpegOffset = 0;
    unsigned int myJpegLength = 0;
    _typebuf<unsigned int> mySubIfds;
    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    bool myA100 = false;
    unsigned int myBlack = 0;
    unsigned int myWhite = 0;
    double myFactors[3] = {1.0, 1.0, 1.0};
    bool my14BitLevels = false;
    double myGamma = 2.2;
    unsigned int mySr2Key = 0, mySr2Length = 0, mySr2Offset = 0;
    long long myFrameWidth = 0, myFrameHeight = 0;
    _typebuf<unsigned short> myCurve;  // tag 0x7010 as a 4096-entry curve; empty: identity
    bool myListedModel = false;        // the model table named the camera
    enum eStripLayout { slPlain, slArw2, slPacked12, slArw1 } myLayout = slPlain;  // as the strips were read
};
