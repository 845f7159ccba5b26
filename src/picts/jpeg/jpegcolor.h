// From decoded component planes to pixels: upsampling of subsampled components (triangle
// filter for 2:1 ratios, replication otherwise) and colour conversion to 0xAARRGGBB words
// or 16-bit-per-channel words.
#pragma once

#include "base/buffers.h"

class cJPEGParser;

class cJColorConverter {
public:
    // Prepares for the parser's frame; false when the planes are missing.
    bool init(cJPEGParser& parser);
    // Output row y, counted from the top, of the frame width.
    void row32(int y, unsigned int* out);
    void row64(int y, unsigned long long* out);
    // Strip mode: output rows (from the top) whose plane rows are all decoded.
    int readyRows(const cJPEGParser& parser) const;
    // True when the picture needs the 16-bit buffer (precision above 8 bits).
    bool sixteen() const { return myPrecision > 8; }

private:
    struct sPlane {
        const unsigned short* data = nullptr;
        long long stride = 0;
        int sw = 0, sh = 0;
        int h = 1, v = 1;
        int mode = 0;  // 0 full size, 1 h2v1 triangle, 2 h2v2 triangle, 3 h1v2 triangle, 4 replicate
        int ring = 0;  // rows kept in strip mode (a power of two; row r at r % ring), 0 for all
        _typebuf<unsigned short> tmp;
        const unsigned short* row(long long r) const { return data + (ring ? r & (ring - 1) : r) * stride; }
    };
    static void halfRows(const sPlane& pl, int y, const unsigned short*& near, const unsigned short*& far);
    const unsigned short* compRow(int c, int y);
    // Half-width planes (modes 1 and 2): the column sums the triangle filter weighs, with
    // cs[-1] and cs[sw] replicating the edges.
    void columnSums(int c, int y, unsigned short* cs);
    // Converts row y into per-channel values 0..maxv: r, g, b.
    void convert(int y, unsigned short* r, unsigned short* g, unsigned short* b);

    sPlane myPlanes[4];
    int myNum = 0;
    int myWidth = 0;
    int myMaxH = 1, myMaxV = 1;
    int myPrecision = 8;
    int myMaxVal = 255;
    int myColor = 0;
    _typebuf<int> myCrR, myCbB, myCrG, myCbG;  // YCbCr tables, indexed by sample value
    _typebuf<int> myColSum;                                // 2x2 triangle filter of compRow
    _typebuf<unsigned short> myColSum16, myColSum16b;      // chroma column sums of the fused rows
    _typebuf<unsigned short> myRGB;            // three rows of converted channels
    _typebuf<unsigned short> myScale;          // sample -> 8 or 16 bits
};
