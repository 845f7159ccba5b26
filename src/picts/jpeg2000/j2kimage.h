// cJP2Image: a decoded JPEG 2000 image (ITU-T T.800): the image area on the reference grid,
// its components with their samples, and the colour information the JP2 layer adds.
#pragma once

#include "base/buffers.h"

struct sJP2ImageComp {
    unsigned int dx = 1, dy = 1;      // sub-sampling (XRsiz, YRsiz)
    unsigned int w = 0, h = 0;        // size at the reduce factor
    unsigned int x0 = 0, y0 = 0;      // origin at the reduce factor
    unsigned int prec = 0;            // bits per sample
    unsigned int sgnd = 0;            // signed samples
    unsigned int resnoDecoded = 0;    // highest resolution decoded
    unsigned int factor = 0;          // reduce factor
    _typebuf<int> data;               // w * h samples, row by row (empty until decoded)
};

class cJP2Image {
public:
    unsigned int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // image area on the reference grid
    unsigned int numcomps = 0;
    int colorSpace = 0;  // 0 unknown, 1 sRGB, 2 grey, 3 sYCC, 4 CMYK, 5 ICC/unspecified, 6 CIELab, -1 other
    _classbuf<sJP2ImageComp> comps;
    _typebuf<unsigned char> icc;
    unsigned int cielab[8] = {};  // default marker, RL, OL, RA, OA, RB, OB, IL

    void destroy();
    // Each component's origin and size from the image area, its sub-sampling and factor
    // (T.800 B.2: ceiling divisions).
    void compHeaderUpdate();
    // Everything but the samples.
    bool copyHeader(cJP2Image& dst) const;
};

// Ceiling and floor divisions on the reference grid (T.800 B.2, B.5).
inline unsigned int j2kCeilDiv(unsigned long long a, unsigned long long b) {
    return (unsigned int)((a + b - 1) / b);
}
inline unsigned int j2kCeilDivPow2(unsigned long long a, unsigned int e) {
    return (unsigned int)((a + (1ULL << e) - 1) >> e);
}
