// cPictTIFF: baseline and extended TIFF (and BigTIFF) pictures: pages, strips and tiles,
// chunky and planar layouts, the common compressions, predictors and the colour stage.
#pragma once

#include "picts/exif/exifdecoder.h"
#include "picts/pictbase.h"

// One decompressed strip or tile as handed from the decompressor to the colour stage.
// A decompressor may rewrite every field (the JPEG and YCbCr paths hand on RGB rows).
struct sDecomress {
    _typebuf<unsigned char> output;
    unsigned int bytesPerRow = 0;
    unsigned int bits = 0;
    unsigned int samples = 0;
    unsigned int rows = 0;
    unsigned int planar = 1;
    unsigned int photometric = 0;
    unsigned short sampleFormat = 1;
    bool bigEndian = false;
    unsigned int width = 0;  // pixels in one row of this strip or tile
};

class cPictTIFF : public cPictBase, public cExifDecoder {
public:
    // Limits on what one file may make us do.
    enum { kMaxPages = 4096, kMaxSamples = 5 };

    cPictTIFF();
    ~cPictTIFF() override;

    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pkTIFF; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    // Decodes into the picture's own buffer; a registered external target then receives it.
    bool supportsExtRendering() override { return true; }
    bool supportsMultipage() override { return true; }
    // Pages of the next-IFD chain that are decodable directories, up to the first that is not.
    int getNumPages(cFileIOTarget* io) override;
    bool getPageSize(cFileIOTarget* io, int page, long long& w, long long& h) override;
    bool decodePage(cFileIOTarget* io, int page) override;
    // The page's Photoshop thumbnail scaled into target, else (allowFull) the page itself.
    bool decodePagePreview(cFileIOTarget* io, cPictBase* target, long long width, long long height, int page,
                           bool allowFull, unsigned int background) override;
    // The Photoshop thumbnail (tag 34377) of the first page.
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;
    using cPictBase::getPreview;

    // --- decoding hooks, replaced by the raw decoders ---
    // CCITT T.4 and T.6 data into rows of 1-bit samples (tifffax.cpp).
    virtual bool decompressFax3(const _typebuf<unsigned char>& in, sDecomress& rec);
    virtual bool decompressFax4(const _typebuf<unsigned char>& in, sDecomress& rec);
    virtual void reset();
    // Whether the directory just walked describes a decodable picture.
    virtual bool isFullConfig();
    bool onTag(int tag, int type, const void* data, int size) override;
    // Decompresses one strip or tile; `in` may be consumed (swapped into the output).
    virtual bool decodeStripe(int compression, _typebuf<unsigned char>& in, sDecomress& rec);
    // Colour stage (tiffcolor.cpp). Rows of rec go to image rows firstRow.., columns
    // x0..x0+cols-1 of the picture's buffer (rows counted from the top).
    virtual bool decodeColorsPalette(long long firstRow, long long x0, long long cols, sDecomress& rec);
    virtual bool decodeColorsMargePlane8bpp(long long firstRow, long long x0, long long cols, int plane,
                                            sDecomress& rec);
    virtual bool decodeColorsMargePlane16bpp(long long firstRow, long long x0, long long cols, int plane,
                                             sDecomress& rec);
    virtual bool decodeColors8bpp(long long firstRow, long long x0, long long cols, sDecomress& rec);
    virtual bool decodeColors16bpp(long long firstRow, long long x0, long long cols, sDecomress& rec);
    // After all planes of a planar picture: the merged samples into colours.
    virtual bool finalizeColorTransform();
    // Called once the image size is known and before anything is sized from the layout;
    // may change myImageW/myImageH, mySamples, myTileWidth and myRowsBottomUp.
    virtual bool onBeforeDecodeStripes(int strips) { return true; }
    virtual bool onBeforeDecodeTiles(int tiles) { return true; }
    virtual bool onAfterDecodeStripes() { return true; }
    virtual bool onAfterDecodeTiles() { return true; }

    int numSubIFDs() const { return (int)mySubIFDs.count; }
    unsigned int subIFD(int i) const { return i >= 0 && i < mySubIFDs.count ? mySubIFDs.ptr[i] : 0; }
    bool isTiled() const { return myStripOffsets.count == 0 && myTileOffsets.count > 0; }
    bool processStripes(cFileIOTarget* io);
    bool processTiles(cFileIOTarget* io);
    bool decodeInt(cFileIOTarget* io);
    bool decodeIntFinal(cFileIOTarget* io);
    // PackBits into exactly `expected` bytes (or fewer when the input ends); false on overrun.
    static bool makePackBitsDecompressing(const unsigned char* in, long long size, long long expected,
                                          _typebuf<unsigned char>& out);
    // TIFF 6.0 section 14 predictor 2 (each sample plus the same sample of the pixel to
    // its left, modulo 2^bits) over whole rows, samples in the given byte order.
    static bool makeHorzUndifferencing(unsigned char* data, long long size, long long width, int samples, int bits,
                                       bool bigEndian);
    // Predictor 3 (floating point): bytes differenced across the row, then the row's
    // bytes stored most significant plane first.
    static bool makeFloatUndifferencing(unsigned char* data, long long size, long long width, int samples,
                                        int bits, bool bigEndian);
    // A float sample of 16, 24, 32 or 64 bits (its bits in the low end of `value`).
    static bool getFloatVal(unsigned long long value, int width, float& out);

    // Layout state of the directory being decoded (read by the raw decoders).
    unsigned short photometric() const { return myPhotometric; }
    unsigned int samplesPerPixel() const { return mySamples; }
    unsigned short bitsPerSample() const { return myBits; }

protected:
    // The first directory (walkFirst: and it must be decodable).
    bool walkFirstDir(cFileIOTarget* io);
    bool walkFirst(cFileIOTarget* io);
    bool walkPage(cFileIOTarget* io, int page, bool dropPreview);
    bool processChunk(cFileIOTarget* io, unsigned long long offset, unsigned long long count, long long chunkW,
                      long long chunkRows, long long x0, long long y0, int plane);
    bool chunkIsPossible(int compression, unsigned long long count, long long expected, long long rowBytes) const;
    bool ensureBuffer(bool sixteen);
    bool toColors(sDecomress& rec, long long y0, long long x0, long long cols, long long rows, int plane);
    bool decodeJPEGChunk(_typebuf<unsigned char>& in, sDecomress& rec);
    bool decodeYCbCr(sDecomress& rec);
    long long ycbcrChunkBytes(long long w, long long rows) const;
    bool isSubsampledYCbCr(int compression) const;
    bool finishDecode(bool ok);
    bool readThumbnail(const void* data, int size);

    // Tags of the directory (TIFF 6.0 names).
    unsigned short myPhotometric = 0;
    unsigned int myRowsPerStrip = 0;
    _typebuf<unsigned int> myStripOffsets, myStripByteCounts;
    unsigned int myTileWidth = 0, myTileLength = 0;
    _typebuf<unsigned int> myTileOffsets, myTileByteCounts;
    _typebuf<unsigned int> mySubIFDs;
    _typebuf<unsigned short> myBitsAll;
    unsigned short myBits = 0;
    unsigned int mySamples = 0;
    unsigned short myPlanar = 0;
    _typebuf<unsigned short> myColorMap;
    _typebuf<sRational> myWhitePoint, myPrimaries, myRefBlackWhite;
    _typebuf<unsigned short> myTransferFunction, myTransferRange;
    unsigned int myT4Options = 0, myT6Options = 0;
    bool mySkipToEOL = true;
    unsigned int mySubfileType = 0;
    unsigned short myPredictor = 0;
    unsigned short myFillOrder = 1;
    unsigned short mySampleFormat = 0;
    unsigned int myNextIFD = 0;
    unsigned short myExtraSamples = 0;  // first ExtraSamples value: 1 associated, 2 unassociated alpha
    unsigned short myInkSet = 1;
    unsigned short mySubsampling[2] = {2, 2};
    _typebuf<sRational> myYCbCrCoefficients;
    _typebuf<unsigned char> myJPEGTables;
    // A strip's bytes as read and as decompressed, kept from one strip to the next so that a
    // page's strips reuse the same memory instead of faulting fresh pages in for each.
    _typebuf<unsigned char> myChunkIn, myChunkOut;
    unsigned int myFirstIFD = 0;
    int myPage = 0;
    bool myLoading = false;
    bool myRowsBottomUp = true;
    bool myRawSamples = false;  // samples of 9-16 bits stay in their own units (raw frames)

    // Decoding state.
    long long myImageW = 0, myImageH = 0;
    bool myPlanarMerge = false;  // planar samples collected in the channels, converted at the end
    bool myWantSixteen = false;
};
