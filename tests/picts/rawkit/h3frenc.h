// Hasselblad 3FR writer of the raw test kit: IFD0 (Make, model, UniqueCameraModel, optionally
// a DNG version) with the raw frame as one strip or as tiles, each a lossless JPEG of one
// component written the way the cameras do: a frame header followed by one byte its length
// leaves out, differences coded in pairs per row from predictors starting at 0x8000, the
// entropy-coded data packed into little-endian 32-bit words from their top bit, no stuffing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rawkit {

struct H3frSpec {
    bool bigEndian = false;
    int width = 0, height = 0;
    std::vector<uint16_t> frame;  // width * height
    std::string make = "Hasselblad", model = "Kit-39";
    bool uniqueModel = true;
    bool dngVersion = false;
    bool cfaTags = false;
    unsigned char cfa[4] = {1, 0, 2, 1};
    int tileWidth = 0, tileHeight = 0;  // 0: one strip
    bool uncompressed = false;          // 16-bit samples instead of the JPEG
    int bits = 16;                      // below 16: uncompressed, packed from the top bit
    int samples = 1;                    // 3: a linear (demosaiced) frame, width * height * 3
    bool extraSofByte = true;
    int cutLastRowBits = 0;             // drop this many bits from the end of the entropy data
    bool length17 = false;              // a table that also codes a difference length of 17, used once
};

// One block (width x height samples) as the cameras' lossless JPEG.
std::vector<unsigned char> h3frScan(const std::vector<uint16_t>& block, int width, int height, bool extraSofByte,
                                    int cutBits = 0, bool length17 = false);
std::vector<unsigned char> write3fr(const H3frSpec& spec);

}  // namespace rawkit
