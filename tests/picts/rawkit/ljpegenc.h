// Lossless JPEG encoder of the raw test kit (T.81 Annex H): predictors 1-7, 1 to 4
// components with sampling factors (small-raw layouts), precision 2-16, point transform,
// restart intervals, Huffman tables built from the data (K.2, lengths limited to 16), and the
// sample orders raw containers use (slices, interleaved rows).
#pragma once

#include <cstdint>
#include <vector>

namespace rawkit {

// One component's samples on its own grid (w x hgt).
struct LjComp {
    int h = 1, v = 1;
    int w = 0, hgt = 0;
    std::vector<uint16_t> px;
};

struct LjOptions {
    int precision = 16;
    int psv = 1;
    int pt = 0;
    int restart = 0;     // MCUs per restart interval, 0 for none
    bool stuff = true;   // 0xFF00 stuffing (raw variants without it exist)
    bool eoi = true;     // end with EOI
    bool diff16Bits = false;  // category 16 followed by 16 bits of the difference (early DNG writers)
    // Predictor 1, interleaved: each sample predicted from its component's sample coded just
    // before, the first of an MCU row from the first of the row above (small-raw cameras).
    bool decodeOrder = false;
};

// A complete JPEG stream (SOI ... EOI) of one interleaved lossless scan; `width` x `height`
// is the frame size (of the component with the largest factors).
std::vector<unsigned char> encodeLossless(const std::vector<LjComp>& comps, int width, int height,
                                          const LjOptions& o);

// A plain raw frame as the JPEG a camera writes: the frame's samples, in `order`, are cut
// into lines of jpegWidth * nc samples, sample k of a line going to component k % nc.
std::vector<unsigned char> encodeRawSequence(const std::vector<uint16_t>& order, int jpegWidth, int jpegHeight,
                                             int nc, const LjOptions& o);

// The frame's samples in slice order: sliceCount slices of sliceWidth columns, then the
// rest of the width, each slice row by row.
std::vector<uint16_t> sliceOrder(const std::vector<uint16_t>& frame, int width, int height, int sliceCount,
                                 int sliceWidth);
// Rows in the interleaved order: 0, h-1, 1, h-2, ...
std::vector<uint16_t> interleavedOrder(const std::vector<uint16_t>& frame, int width, int height);

// A frame of ramps plus noise (values below 2^precision), seeded.
std::vector<uint16_t> rampNoiseFrame(int width, int height, int precision, unsigned seed);

}  // namespace rawkit
