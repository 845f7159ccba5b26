// cPict3FR: Hasselblad raw files (3FR): TIFF files laid out like a DNG but without the DNG
// version, the make "Hasselblad" and the UniqueCameraModel tag present. The sensor frame is a
// lossless JPEG whose differences come in pairs from fixed start predictors. Files that carry
// a DNG version belong to the DNG decoder; raw directories beyond a one-sample CFA frame are
// decoded by it on this decoder's behalf (handOverToDng).
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/cfafilter.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawtiffwalk.h"

// The scan decoder: a lossless-JPEG stream of one component whose entropy-coded data are
// little-endian 32-bit words read from their most significant bit, without 0xFF stuffing; a
// one-component frame header is followed by one byte more than its length says. Each row
// starts both predictors at 0x8000 and decodes two difference lengths, then their two
// values, per pair of columns.
class cPict3FR_LJPEG {
public:
    // Decodes the stream into width x height samples (the frame's lines laid end to end).
    // False for a stream that is not such a scan, a frame of another size, a Huffman table
    // that cannot be built, a difference length above 16, or data that breaks before the
    // last row (a break inside the last row keeps what was decoded).
    bool decode(const unsigned char* data, long long size, long long width, long long height,
                _typebuf<unsigned short>& out);
    bool scanComplete() const { return myComplete; }

private:
    bool myComplete = false;
};

class cPict3FR : public cPictBase, public cRawTiffWalker {
public:
    static bool validFor(cFileIOTarget* io, sPictInfo* info);

    int typeOf() override { return pk3FR; }
    bool isPicture(cFileIOTarget* io, sPictInfo* info) override;
    bool decode(cFileIOTarget* io) override;
    bool supportsExtRendering() override { return false; }
    bool getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) override;

    bool onTag(int tag, int type, const void* data, int size) override;

    // The DNG decoder's share of a Hasselblad file: a raw directory other than one CFA
    // sample per pixel as a lossless JPEG or plain 16-bit samples (linear raw, floating-point
    // samples, other bit depths and compressions) is decoded by the DNG decoder, its version
    // test passed by the 3FR marker. A file with a DNG version is refused by the probe and
    // left to the DNG decoder itself.
    bool handOverToDng(cFileIOTarget* io);

private:
    struct sDir {
        unsigned int subfile = 0, width = 0, height = 0, bits = 16, compression = 1, samples = 1, format = 1;
        unsigned int rowsPerStrip = 0, tileWidth = 0, tileHeight = 0;
        _typebuf<unsigned int> offsets, counts;  // strips or tiles
        bool tiled = false;
        sCFAData cfa;
        unsigned int black = 0, white = 0;
        unsigned int jpegOffset = 0, jpegLength = 0;
    };
    void reset();
    bool walk(cFileIOTarget* io);
    bool dngShare() const;  // whether the chosen raw directory is the DNG decoder's
    bool readFrame(cFileIOTarget* io, _typebuf<unsigned short>& frame);

    bool myMakeOk = false, myUniqueModel = false, myDngVersion = false;
    double myNeutral[3] = {0, 0, 0};
    _typebuf<unsigned int> mySubIfds;
    sDir myDir;        // the directory being read
    sDir myRaw;        // the raw directory chosen
    bool myHaveRaw = false;
    unsigned int myPreviewOffset = 0, myPreviewLength = 0;
};
