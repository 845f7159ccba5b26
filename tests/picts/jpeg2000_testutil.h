// Helpers for the JPEG 2000 tests: source pictures as PNM files, encoding with opj_compress,
// the peer's decode (opj_decompress) and ours, read back as component samples.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
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
    std::string head = std::string(s.comps == 1 ? "P5" : "P6") + "\n" + std::to_string(s.w) + " " +
                       std::to_string(s.h) + "\n" + std::to_string((1 << bits) - 1) + "\n";
    std::vector<unsigned char> d(head.begin(), head.end());
    for (int v : s.v) {
        if (bits > 8) d.push_back((unsigned char)(v >> 8));
        d.push_back((unsigned char)v);
    }
    return testutil::writeFile(path, d);
}

inline Samples readPnm(const std::string& path) {
    Samples s;
    std::vector<unsigned char> d = testutil::readFile(path);
    if (d.size() < 3 || d[0] != 'P' || (d[1] != '5' && d[1] != '6')) return s;
    s.comps = d[1] == '5' ? 1 : 3;
    size_t pos = 2;
    long long vals[3];
    for (int i = 0; i < 3; i++) {
        for (;;) {  // blanks and comment lines
            while (pos < d.size() && isspace(d[pos])) pos++;
            if (pos >= d.size() || d[pos] != '#') break;
            while (pos < d.size() && d[pos] != '\n') pos++;
        }
        long long v = 0;
        while (pos < d.size() && isdigit(d[pos])) v = v * 10 + (d[pos++] - '0');
        vals[i] = v;
    }
    pos++;
    s.w = vals[0], s.h = vals[1];
    int bytes = vals[2] > 255 ? 2 : 1;
    size_t n = (size_t)(s.w * s.h * s.comps);
    if (d.size() < pos + n * bytes) return s;
    s.v.resize(n);
    for (size_t i = 0; i < n; i++)
        s.v[i] = bytes == 2 ? (d[pos + 2 * i] << 8) | d[pos + 2 * i + 1] : d[pos + i];
    s.ok = true;
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
