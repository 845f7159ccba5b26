// Helpers for the JPEG decoder tests: PNM reading and writing, decoding with our decoder
// into top-down RGB, and a synthetic test picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jpegtest {

// A picture as top-down samples, `channels` per pixel (1 grey or 3 RGB), values up to maxval.
struct Image {
    int w = 0, h = 0, channels = 0, maxval = 255;
    std::vector<uint16_t> px;
    uint16_t at(int x, int y, int c) const { return px[((size_t)y * w + x) * channels + c]; }
};

// Reads P5/P6 (8- or 16-bit samples).
Image parsePnm(const std::vector<unsigned char>& d);
std::vector<unsigned char> makePnm(const Image& im);
// A picture with smooth gradients, edges and some noise (up to noise/512 of the range either
// way), good at exercising every coefficient.
Image synthetic(int w, int h, int channels, int maxval, unsigned seed, int noise = 16);

// Decodes with cPictJPEG: RGB top-down at the picture's depth (8 or 16 bits); ok = decode's answer.
struct Decoded {
    bool ok = false;
    bool sixteen = false;
    Image rgb;
};
Decoded decodeJpeg(const std::vector<unsigned char>& bytes);

// Mean and largest absolute difference per channel over RGB images of the same size
// (b's values scaled by `scaleB` first); false when the sizes differ.
bool compare(const Image& a, const Image& b, double& meanMax, int& maxDiff);

}  // namespace jpegtest
