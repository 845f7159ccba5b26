// cPictTIFF_EP: TIFF/EP camera raw files (ISO 12234-2): IFD0 carries the standard identifier
// and a preview; each of its sub-directories holds a colour-filter-array image, demosaiced
// and tone-finished by the raw pipeline (src/picts/raw).
#pragma once

#include "picts/tiff/picttiff.h"

#include "picts/rawcore/cfafilter.h"

class cPictTIFF_EP : public cPictTIFF {
public:
    cPictTIFF_EP() {}
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkTIFFEP; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override { return decodePage(io, 0); }
    bool supportsExtRendering() override { return false; }
    // One page a raw sub-directory of IFD0 (the preview in IFD0 is not a page).
    int getNumPages(cFileIOTarget* io) override;
    bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) override;
    bool decodePage(cFileIOTarget* io, int page) override;
    // IFD0's preview, fitted within maxWidth x maxHeight.
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;
    using cPictBase::getPreview;
    bool decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height, int page,
                           bool allowFull, unsigned int background) override;

    void reset() override;
    bool onTag(int tag, int type, const void* data, int size) override;
    bool decodeStripe(int compression, _typebuf<unsigned char>& in, sDecomress& rec) override;
    bool onBeforeDecodeStripes(int strips) override;
    bool onBeforeDecodeTiles(int tiles) override;
    bool onAfterDecodeStripes() override { return finishCFA(); }
    bool onAfterDecodeTiles() override { return finishCFA(); }

    // Compression 32769: 12-bit samples packed big-endian in 3 bytes a pair, one padding
    // byte after every 15 bytes, into host-order 16-bit samples. Reads never pass `size`.
    static bool unpackPacked12(const unsigned char* in, long long size, _typebuf<unsigned char>& out);

protected:
    // Whether this machine stores the high byte of a number first.
    static bool hostBigEndian() {
        const unsigned short one = 1;
        return *(const unsigned char*)&one == 0;
    }
    bool walkIFD0(cFileIOTarget* io);
    bool walkRaw(cFileIOTarget* io, int n);
    bool cfaMode() const { return myRawMode && mySamples == 1 && myCFA.pattern.count > 0; }
    // Unpacks the packed pixels into the sensor frame and hands it to demosaic.
    bool finishCFA();
    void raiseSingleStripCount();
    // A decoded picture into target, scaled down to fit maxWidth x maxHeight (null: its size).
    static bool fitInto(cPictBase& picture, cPictBase* target, long long* maxWidth, long long* maxHeight);
    // Frame (w x h samples, row-major, top row first) into the picture: PPG, tone.
    virtual bool demosaic(_typebuf<unsigned short>& frame, long long w, long long h);

    unsigned int myStandardID = 0;
    bool myRawMode = false;
    bool myCFAPacked = false;  // sensor samples travel packed, myCFAGroup a pixel
    int myCFAGroup = 4;        // 4, or 2 or 1 for rows (tiles) that are not a multiple of 4
    sCFAData myCFA;
    _typebuf<unsigned int> myRawIFDs;  // IFD0's sub-directories
};
