// cPictDNG: Digital Negative files: IFD0 holds the DNG version and usually a preview, the
// raw colour-filter frame lies in a sub-directory (or in IFD0 itself). The frame is cropped
// to the default crop (or the active area), its black level taken off, demosaiced, white
// balanced from AsShotNeutral and tone-finished.
#pragma once

#include "picts/tiff/picttiffep.h"

#include "picts/rawcore/interpolate.h"

class cPictDNG : public cPictTIFF_EP {
public:
    cPictDNG() {}
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkDNG; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override { return decodePage(io, 0); }
    // Sub-directories when IFD0 is a preview, else one page (IFD0's own frame).
    int getNumPages(cFileIOTarget* io) override;
    bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) override;
    bool decodePage(cFileIOTarget* io, int page) override;
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;
    using cPictBase::getPreview;

    void reset() override;
    bool onTag(int tag, int type, const void* data, int size) override;
    bool onAfterDecodeStripes() override { return finishRaw(); }
    bool onAfterDecodeTiles() override { return finishRaw(); }

    unsigned int version() const { return myVersion; }
    // The crop the frame gets (after walking a raw directory).
    bool margins(long long width, long long height, sMarginInfo& out) const;

protected:
    bool previewCase() const;
    // Walks the raw directory of page n (n -1: IFD0 in the Leica M10 numbering).
    bool walkRawPage(cFileIOTarget* io, int page);
    bool leicaM10();
    bool finishRaw();
    bool demosaic(_typebuf<unsigned short>& frame, long long w, long long h) override;
    // Uncompressed 16-bit strips of a w x h frame (w a multiple of 4) whose layout the TIFF
    // strip loop would accept: read into the tail of the pixel buffer and demosaiced there.
    // `taken` false (nothing changed) sends the page to the strip loop instead: another
    // layout, or a read that failed (the loop then fails as it always has).
    bool decodeFrameInPlace(cFileIOTarget* io, bool& taken);
    // The crop of a w x h frame (false: none); sets the black level some cameras need.
    bool cropOf(long long w, long long h, sMarginInfo& m, long long& cw, long long& ch);
    // PPG from `raw` (w x h, may lie inside `out`) into `out` (the crop), then white balance
    // and tone; `out` becomes the pixels.
    bool demosaicInto(const unsigned short* raw, long long w, long long h, _typebuf<unsigned long long>& out);
    bool whiteBalanceAndTone();

    unsigned int myVersion = 0;
    unsigned int mySamples0 = 0;  // samples per pixel of IFD0
    unsigned int myWhite = 0, myBlack = 0;
    _typebuf<unsigned int> myCropSize, myCropOrigin;
    _typebuf<double> myMul;  // 1 / AsShotNeutral
};
