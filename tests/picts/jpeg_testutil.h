// Helpers for the JPEG decoder tests: a memory stream, PNM reading and writing, decoding
// with our decoder into top-down RGB, and a synthetic test picture.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/fileiotarget.h"

namespace jpegtest {

// A read-only stream over a byte vector.
class MemStream : public cFileIOTarget {
public:
    explicit MemStream(const std::vector<unsigned char>& d) : myData(d) {}
    unsigned long long size() override { return myData.size(); }
    long long read(void* b, long long n) override {
        if (n <= 0 || myPos >= (long long)myData.size()) return 0;
        if (n > (long long)myData.size() - myPos) n = (long long)myData.size() - myPos;
        memcpy(b, myData.data() + myPos, (size_t)n);
        myPos += n;
        return n;
    }
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long p) override {
        if (p > myData.size()) return false;
        myPos = (long long)p;
        return true;
    }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long get_fp() override { return (unsigned long long)myPos; }

private:
    const std::vector<unsigned char>& myData;
    long long myPos = 0;
};

// A picture as top-down samples, `channels` per pixel (1 grey or 3 RGB), values up to maxval.
struct Image {
    int w = 0, h = 0, channels = 0, maxval = 255;
    std::vector<uint16_t> px;
    uint16_t at(int x, int y, int c) const { return px[((size_t)y * w + x) * channels + c]; }
};

// Reads P5/P6 (8- or 16-bit samples).
Image parsePnm(const std::vector<unsigned char>& d);
std::vector<unsigned char> makePnm(const Image& im);
// A picture with smooth gradients, edges and some noise, good at exercising every coefficient.
Image synthetic(int w, int h, int channels, int maxval, unsigned seed);

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
