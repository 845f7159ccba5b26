// cRAWLosslessJpeg: the sensor frame of a raw file stored as a lossless JPEG (T.81 process
// 14, SOF3). The JPEG parser decodes the scan; this class only places each decoded sample in
// a frame of unsigned 16-bit samples whose size the container gives: plain frames (rows in
// order or interleaved from both ends), full-width slices, and small-raw frames whose luma
// and two chroma components come at reduced resolution (three samples a pixel).
// Two switches of the parser apply before decodeFrame: setDiff16Bits for streams whose
// difference category 16 carries 16 extra bits (DNG 1.0 writers), and
// setDecodeOrderPrediction for small-raw streams predicted in decode order.
#pragma once

#include "picts/jpeg/pictjpeg.h"

class cRAWLosslessJpeg : public cPictJPEG {
public:
    enum eRawType { rtPlain = 0, rtSmall2x2 = 1, rtSmall2x1 = 2 };
    enum eScanType { stInOrder = 0, stInterleaved = 1 };

    cRAWLosslessJpeg();
    ~cRAWLosslessJpeg() override;

    // Sliced geometry: sliceCount slices of sliceWidth columns, then one of lastSliceWidth
    // (0 means sliceWidth); each slice runs over every row before the next one starts.
    void init(unsigned int width, unsigned int height, int sliceCount, unsigned int sliceWidth,
              unsigned int lastSliceWidth);
    // Unsliced geometry; stInterleaved fills even lines from the top and odd lines from the bottom.
    void init(unsigned int width, unsigned int height, eScanType type);

    // Runs the JPEG parser over the stream (positioned at the JPEG data). True when the
    // whole frame decoded; false for a refused geometry, damaged or truncated data.
    bool decodeFrame(cFileIOTarget* io);

    // The frame: width * height samples (times 3 for small raw), row-major; samples no line
    // reached are 0. Still owned by the decoder.
    _typebuf<unsigned short>& getBitmap() { return mySamples; }
    // Moves the frame into out; true when out now holds one (a second call answers false).
    bool getData(_typebuf<unsigned short>& out);
    // Kind and sample precision of the last frame (precision 0 before any).
    void getInfo(eRawType& kind, int& precision) const {
        kind = (eRawType)myRawKind;
        precision = (int)myPrecision;
    }

    bool processHuffmanLosslessScan() override;
    bool onScanLine(unsigned short** lines, int line, int samples) override;

private:
    // Row, column and the width of the slice the linear index i falls in.
    void sliceMap(unsigned long long i, unsigned long long& row, unsigned long long& col,
                  unsigned long long& sliceWidth) const;
    bool placePlain(unsigned short** lines, int line, int samples);
    bool placeSmall2x1(unsigned short** lines, int line, int samples);
    bool placeSmall2x2(unsigned short** lines, int line, int samples);

    unsigned int myWidth32 = 0;
    unsigned int myHeight32 = 0;
    unsigned int mySliceCount = 0;
    unsigned int mySliceWidth = 0;
    unsigned int myLastSliceWidth = 0;
    // Slice widths in units of the decoded lines (small raw divides them).
    unsigned long long myEffSliceWidth = 0;
    unsigned long long myEffLastWidth = 0;
    _typebuf<unsigned short> mySamples;
    unsigned int myRawKind = rtPlain;
    unsigned int myScanType = stInOrder;
    unsigned int myPrecision = 0;
    unsigned int myChromaOffset = 16384;
    unsigned int myMaxH = 0;
    unsigned int myMaxV = 0;
    int myCompH[4] = {};
    int myCompV[4] = {};
    int myScanComps = 0;
};
