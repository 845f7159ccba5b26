// cPictJBIG2: bi-level JBIG2 pictures (ITU-T T.88) made of page information and immediate
// generic regions, from a standalone file (sequential organisation) or a bare segment stream.
#pragma once

#include "base/fastertreelist.h"
#include "picts/jbig2/jbig2arith.h"
#include "picts/pictrowsbase.h"

class cPictJBIG2 : public cPictRowsBase {
public:
    cPictJBIG2();
    ~cPictJBIG2() override;

    // Probe from the stream's position: a temporary decoder's isPicture.
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkJBIG2; }
    bool is16Bpp() override { return false; }
    // The segments are walked (data not decoded); the size is that of the lowest page.
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    // Page 0 (page number 1).
    bool decode(cFileIOTarget* io) override;
    bool supportsMultipage() override { return true; }
    int getNumPages(cFileIOTarget* io) override;
    bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) override;
    // Combines every generic region of the page, in order, with the page's default colour by
    // the region's operator; false when any region cannot be decoded (its decoded rows stay
    // painted, as far as the picture is kept).
    bool decodePage(cFileIOTarget* io, int page) override;
    bool decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height, int page,
                           bool allowFull, unsigned int background) override;

    // A 1 bit is black (the default) or white.
    void setOneIsBlack(bool black) { myOneIsBlack = black; }

private:
    struct sRegionInfo {
        long long offset = 0;  // of the segment data in the stream
        long long length = 0;  // of the segment data
        bool rowCountAtEnd = false;  // the length was left open: end marker and row count close it
    };
    struct sPageCtx {
        unsigned int width = 0;
        unsigned int height = 0;    // 0xFFFFFFFF: striped, grows with its stripes
        bool defaultBlack = false;  // page information flags bit 2: the page starts with 1 bits
        long long stripeEnd = 0;    // rows covered by end-of-stripe segments
        long long regionsEnd = 0;   // lowest region bottom
        _typebuf<sRegionInfo> regions;
        long long regionCount = 0;
        long long finalHeight() const;
    };

    // Walks the segments from the stream's position (put back afterwards) into the page table;
    // true when every page of the count has its size and at least one region.
    bool load(cFileIOTarget* io);
    bool readSegments(cFileIOTarget* io, long long pos, long long end);
    bool processSegment(cFileIOTarget* io, int type, unsigned int page, long long offset, long long length,
                        bool lengthOpen);
    bool regionEnd(cFileIOTarget* io, long long offset, long long end, long long& length);
    bool isFullConfig();
    sPageCtx* pageOf(int page, cFileIOTarget* io);
    // Decodes one region and combines it with the 1-bit canvas by its operator: the canvas's
    // top row at `top`, row r at top + r * rowStep (a negative step for rows stored bottom-up).
    // `budget` is what the page may still decode (pixels), the region's share taken from it.
    bool decodeRegion(cFileIOTarget* io, const sRegionInfo& r, const sPageCtx& page, unsigned char* top,
                      long long rowStep, long long canvasHeight, long long& budget);

    cFasterTreeList<int, sPageCtx> myPages;
    unsigned int myPageCount = 0;
    bool myOneIsBlack = true;
};
