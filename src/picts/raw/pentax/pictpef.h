// cPictPEF: Pentax (and Ricoh-made Pentax) raw files. A TIFF file whose first directory holds
// the sensor strips (Pentax Huffman code 65535, packed 12-bit 32773 or plain 16-bit), whose
// EXIF directory holds the colour-filter pattern, whose maker note holds the balance, the crop
// and the Huffman table, and whose second directory holds a JPEG preview.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

// The maker-note directory, walked by a walker of its own.
class cPefMeta : public cTiffGeneric {
public:
    enum { kTableSize = 4097 };
    void reset();
    bool onTag(int tag, int type, const void* data, int size) override;
    // The table of a 0x220 / 0x22A value: false for a value shorter than its depth needs
    // (14 + 3 x depth bytes) or a code length of 32 or more.
    bool loadTable(const unsigned char* d, int count);

    double balance[4] = {1.0, 1.0, 1.0, 1.0};
    _typebuf<unsigned short> table;  // entry 0: look-ahead width once loaded
    _typebuf<unsigned int> cropOrigin, cropSize;
    bool ricoh = false;
};

class cPictPEF : public cPictBase, public cRawTiffWalker {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkPEF; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;
    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override;

    const cPefMeta& meta() const { return myMeta; }
    const sMarginInfo& margins() const { return myMargins; }

private:
    void reset();
    bool walk(cFileIOTarget* io);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    bool decodeHuffman(const unsigned char* data, long long size, long long rows, unsigned short* out);

    cPefMeta myMeta;
    unsigned int myWidth = 0, myHeight = 0, myBits = 0, myCompression = 0, mySamples = 0, myRowsPerStrip = 0;
    _typebuf<unsigned int> myStripOffsets, myStripCounts;
    sCFAData myCfa;
    sMarginInfo myMargins;
    unsigned int myPreviewOffset = 0, myPreviewLength = 0;
    unsigned int myMakerNote = 0;  // file offset of the maker note, 0 without one
    bool myRicoh = false;
};
