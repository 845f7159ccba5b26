// cPictORF: Olympus raw files (ORF). A TIFF structure under Olympus header magics whose
// first directory describes the sensor strips, whose EXIF directory may give a colour
// pattern and whose maker note holds the balance, the black levels and a JPEG preview.
// Samples come in three 12-bit packings, as 16-bit words, or in Olympus's compressed code.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

class cPictORF : public cPictBase, public cRawTiffWalker {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkORF; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    eHeaderLayout headerLayout(bool bigEndian, unsigned short version) const override;
    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override;
    bool onTag(int tag, int type, const void* data, int size) override;

    // After a probe or decode.
    const sMarginInfo& margins() const { return myMargins; }
    unsigned int blackLevel() const { return myBlack; }
    const double* balance() const { return myBalance; }
    unsigned int previewOffset() const { return myPreviewOffset; }
    unsigned int previewLength() const { return myPreviewLength; }

private:
    void reset();
    bool walk(cFileIOTarget* io);
    void applyModel(const char* model, int size);
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);
    // Olympus's compressed code for `rows` frame rows from firstRow, `step` apart; false for
    // corrupt data.
    bool decodeCompressed(const unsigned char* data, long long size, unsigned short* frame, long long firstRow,
                          long long rows, long long step);

    _typebuf<unsigned int> myStripOffsets;
    _typebuf<unsigned int> myStripCounts;
    unsigned int myRowsPerStrip = 0;
    unsigned int myBits = 0;
    unsigned int myPhotometric = 0;
    unsigned char myExifPattern[4] = {0, 0, 0, 0};
    int myExifPatternSize = 0;
    double myBalance[4] = {1.0, 1.0, 1.0, 1.0};
    sMarginInfo myMargins;
    unsigned int myBlack = 0;
    unsigned int myPreviewOffset = 0, myPreviewLength = 0;
    bool myInterlaced = false;
    bool myHighNibbleFirst = false;
    bool myGroups12 = false;
    bool myMakerNoteMode = false;
    long long myFrameWidth = 0, myFrameHeight = 0;
};
