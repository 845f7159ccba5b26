// Helpers for the JPEG 2000 tests: source pictures as PNM files, encoding with opj_compress,
// the peer's decode (opj_decompress) and ours, read back as component samples.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/jpeg2000/j2kcodestream.h"
#include "picts/jpeg2000/jp2decode.h"
#include "testutil.h"

namespace j2ktest {

// Components interleaved, top row first.
struct Samples {
    bool ok = false;
    long long w = 0, h = 0;
    int comps = 0;
    std::vector<int> v;
};

// A smooth picture with noise (so every coding pass has work): 1 or 3 components.
inline Samples makePicture(long long w, long long h, int comps, int bits, unsigned seed) {
    Samples s;
    s.ok = true;
    s.w = w, s.h = h, s.comps = comps;
    s.v.resize((size_t)(w * h * comps));
    unsigned r = seed * 2654435761u + 1;
    int maxv = (1 << bits) - 1;
    for (long long y = 0; y < h; y++)
        for (long long x = 0; x < w; x++)
            for (int c = 0; c < comps; c++) {
                r = r * 1103515245u + 12345u;
                double base = (double)((x * (c + 1) + y * (3 - c)) % (w + h)) / (double)(w + h);
                int noise = (int)((r >> 16) % 33) - 16;
                int v = (int)(base * maxv) + noise * (maxv / 255 + 1);
                s.v[(size_t)((y * w + x) * comps + c)] = v < 0 ? 0 : v > maxv ? maxv : v;
            }
    return s;
}

inline bool writePnm(const std::string& path, const Samples& s, int bits) {
    jpegtest::Image im;
    im.w = (int)s.w, im.h = (int)s.h, im.channels = s.comps, im.maxval = (1 << bits) - 1;
    im.px.assign(s.v.begin(), s.v.end());
    return testutil::writeFile(path, jpegtest::makePnm(im));
}

inline Samples readPnm(const std::string& path) {
    jpegtest::Image im = jpegtest::parsePnm(testutil::readFile(path));
    Samples s;
    s.ok = im.w > 0;
    s.w = im.w, s.h = im.h, s.comps = im.channels;
    s.v.assign(im.px.begin(), im.px.end());
    return s;
}

// Our decode of a codestream or JP2 file, as samples (components interleaved).
inline Samples decodeOurs(const std::vector<unsigned char>& bytes, bool jp2, cJP2Image* keep = nullptr) {
    Samples s;
    cBufWrapperIO io(bytes.data(), (long long)bytes.size());
    cMemBufferedIO b(&io, 4096);
    cPtr<cJP2Image> img;
    cJP2Decode d2;
    cJ2KDecode d1;
    bool ok = jp2 ? d2.setup(0) && d2.readHeader(&b, img) && d2.decode(&b, img.ptr)
                  : d1.readHeader(&b, img) && d1.decode(&b, img.ptr);
    if (!ok) return s;
    cJP2Image& im = *img.ptr;
    // Components of one size (sub-sampled ones at their own size).
    s.w = im.comps.ptr[0].w, s.h = im.comps.ptr[0].h, s.comps = (int)im.numcomps;
    s.v.resize((size_t)(s.w * s.h * s.comps));
    for (int c = 0; c < s.comps; c++) {
        const sJP2ImageComp& ic = im.comps.ptr[c];
        if ((long long)ic.w != s.w || (long long)ic.h != s.h) return s;
        for (long long i = 0; i < s.w * s.h; i++) s.v[(size_t)(i * s.comps + c)] = ic.data.ptr[i];
    }
    if (keep) im.copyHeader(*keep);
    s.ok = true;
    return s;
}

// Largest difference between two decodes of the same size, -1 when they do not match in shape.
inline int maxDiff(const Samples& a, const Samples& b) {
    if (!a.ok || !b.ok || a.w != b.w || a.h != b.h || a.comps != b.comps) return -1;
    int m = 0;
    for (size_t i = 0; i < a.v.size(); i++) {
        int d = abs(a.v[i] - b.v[i]);
        if (d > m) m = d;
    }
    return m;
}

}  // namespace j2ktest
