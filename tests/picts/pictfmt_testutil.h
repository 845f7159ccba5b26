// Helpers for the common-format decoder tests: decode bytes with a decoder, ask ImageMagick
// for the same picture as raw RGBA, and compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictrows.h"
#include "picts/pictbase.h"
#include "testutil.h"

namespace pictfmt {

// A picture as top-down RGBA samples (8-bit values, or 16-bit when wide).
struct Rgba {
    bool ok = false;
    long long w = 0, h = 0;
    bool wide = false;
    std::vector<uint16_t> px;
};

// Decodes (page `page` of) bytes with decoder D and reads the picture's own buffer back.
template <class D>
Rgba decodeWith(const std::vector<unsigned char>& bytes, D* dec = nullptr, int page = 0) {
    D local;
    if (!dec) dec = &local;
    cBufWrapperIO s(bytes.data(), (long long)bytes.size());
    Rgba r;
    r.ok = page ? dec->decodePage(&s, page) : dec->decode(&s);
    if (!r.ok) return r;
    r.w = dec->width();
    r.h = dec->height();
    r.wide = dec->raw16Bpp() != nullptr;
    r.px.resize((size_t)(r.w * r.h * 4));
    for (long long y = 0; y < r.h; y++)
        for (long long x = 0; x < r.w; x++) {
            long long src = (r.h - 1 - y) * r.w + x;  // stored bottom-up
            uint16_t* d = &r.px[(size_t)((y * r.w + x) * 4)];
            if (r.wide) {
                unsigned long long p = dec->raw16Bpp()[src];
                d[0] = (uint16_t)(p >> 32), d[1] = (uint16_t)(p >> 16), d[2] = (uint16_t)p, d[3] = (uint16_t)(p >> 48);
            } else {
                unsigned int p = dec->raw8Bpp()[src];
                d[0] = (p >> 16) & 255, d[1] = (p >> 8) & 255, d[2] = p & 255, d[3] = p >> 24;
            }
        }
    return r;
}

// A picture from raw RGBA bytes (16-bit little-endian samples when wide); not ok when the
// size does not match.
inline Rgba fromRgbaBytes(const std::vector<unsigned char>& p, bool wide, long long w, long long h) {
    Rgba r;
    size_t n = (size_t)(w * h * 4);
    if (p.size() != n * (wide ? 2 : 1)) return r;
    r.ok = true;
    r.w = w, r.h = h, r.wide = wide;
    r.px.resize(n);
    for (size_t i = 0; i < n; i++) r.px[i] = wide ? (uint16_t)(p[2 * i] | (p[2 * i + 1] << 8)) : p[i];
    return r;
}

// ImageMagick's RGBA of a file (16-bit little-endian samples when wide).
// With autoOrient the file's orientation field is applied (ImageMagick reads TGA rows in file
// order and only records where the origin is).
inline Rgba oracle(const std::string& path, bool wide, long long w, long long h, bool autoOrient = false) {
    std::string out;
    Rgba r;
    std::vector<std::string> argv = {"convert", path};
    if (autoOrient) argv.push_back("-auto-orient");
    argv.insert(argv.end(), {"-depth", wide ? "16" : "8", "-endian", "LSB", "rgba:-"});
    if (testutil::run(argv, &out) != 0) return r;
    return fromRgbaBytes(std::vector<unsigned char>(out.begin(), out.end()), wide, w, h);
}

// Number of differing pixels; with ignoreHiddenColor, fully transparent pixels compare equal
// whatever their colour (a transparent pixel's colour is not defined by the formats).
inline long long mismatches(const Rgba& a, const Rgba& b, bool ignoreHiddenColor, std::string* first = nullptr) {
    if (a.w != b.w || a.h != b.h || a.px.size() != b.px.size()) return -1;
    long long bad = 0;
    for (size_t i = 0; i < a.px.size(); i += 4) {
        bool same = true;
        for (int c = 0; c < 4; c++) same = same && a.px[i + c] == b.px[i + c];
        if (!same && ignoreHiddenColor && a.px[i + 3] == 0 && b.px[i + 3] == 0) same = true;
        if (!same && bad++ == 0 && first) {
            char buf[160];
            snprintf(buf, sizeof buf, "pixel %zu: ours %u,%u,%u,%u oracle %u,%u,%u,%u", i / 4, a.px[i], a.px[i + 1],
                     a.px[i + 2], a.px[i + 3], b.px[i], b.px[i + 1], b.px[i + 2], b.px[i + 3]);
            *first = buf;
        }
    }
    return bad;
}

// A deterministic RGBA picture of 16-bit samples (raw) with `colors` distinct colours
// (0 = any), some of them translucent when withAlpha.
inline std::vector<unsigned char> sourcePicture(int w, int h, int colors, bool withAlpha, unsigned seed) {
    std::vector<unsigned char> rnd = testutil::randomBytes((size_t)(w * h * 8 + 4096), seed);
    std::vector<unsigned char> out;
    for (int i = 0; i < w * h; i++) {
        uint16_t c[4];
        if (colors) {
            int k = rnd[(size_t)i] % colors;
            for (int j = 0; j < 3; j++) c[j] = (uint16_t)(((rnd[4080 + (size_t)j] + k * (37 + 20 * j)) & 255) * 257);
            c[3] = withAlpha && (k % 3 == 0) ? 0 : 65535;
        } else {
            for (int j = 0; j < 4; j++) c[j] = (uint16_t)((rnd[(size_t)(i * 8 + 2 * j)] << 8) | rnd[(size_t)(i * 8 + 2 * j + 1)]);
            if (!withAlpha) c[3] = 65535;
        }
        for (int j = 0; j < 4; j++) {
            out.push_back((unsigned char)(c[j] >> 8));
            out.push_back((unsigned char)c[j]);
        }
    }
    return out;
}

// sourcePicture(w, h, colors, withAlpha, seed) written by ImageMagick to `target` ("png:x.png")
// in dir with the extra options; the file's path, or "" when convert failed.
inline std::string convertFrom(const testutil::TempDir& dir, const std::string& target, int w, int h, int colors,
                               bool withAlpha, unsigned seed, const std::vector<std::string>& opts = {}) {
    size_t colon = target.find(':');
    std::string file = target.substr(colon + 1), src = dir.file(file + ".src.rgba");
    testutil::writeFile(src, sourcePicture(w, h, colors, withAlpha, seed));
    std::vector<std::string> argv = {"convert", "-size", std::to_string(w) + "x" + std::to_string(h), "-depth", "16",
                                     "rgba:" + src};
    argv.insert(argv.end(), opts.begin(), opts.end());
    argv.push_back(target.substr(0, colon + 1) + dir.file(file));
    return testutil::run(argv) == 0 ? dir.file(file) : std::string();
}

// An icon family of the elements (type, data) in order.
inline std::vector<unsigned char> icnsFile(const std::vector<std::pair<const char*, std::vector<unsigned char>>>& elems) {
    std::vector<unsigned char> f = {'i', 'c', 'n', 's', 0, 0, 0, 0};
    for (auto& e : elems) {
        f.insert(f.end(), e.first, e.first + 4);
        const uint32_t n = (uint32_t)e.second.size() + 8;
        for (int i = 3; i >= 0; i--) f.push_back((unsigned char)(n >> (8 * i)));
        f.insert(f.end(), e.second.begin(), e.second.end());
    }
    for (int i = 0; i < 4; i++) f[4 + (size_t)i] = (unsigned char)(f.size() >> (8 * (3 - i)));
    return f;
}

// Pixel i of an 8-bit picture as 0xAARRGGBB.
inline unsigned int argbAt(const Rgba& r, size_t i) {
    const uint16_t* p = &r.px[i * 4];
    return (unsigned)p[3] << 24 | p[0] << 16 | p[1] << 8 | p[2];
}

// Decodes every prefix of a valid file and a few thousand single-byte corruptions: the
// decoder must return (ASan watches for overreads and leaks).
template <class D>
void survivesHostileCopies(const std::vector<unsigned char>& good, unsigned seed, int flips = 2000) {
    for (size_t n = 0; n < good.size(); n++) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + (long)n);
        D d;
        cBufWrapperIO s(cut.data(), (long long)cut.size());
        cPictBase::sPictInfo info;
        d.isPicture(&s, &info);
        EXPECT_EQ(s.get_fp(), 0u) << "a probe must put the position back";
        d.decode(&s);
    }
    std::vector<unsigned char> rnd = testutil::randomBytes((size_t)flips * 3, seed);
    for (int i = 0; i < flips; i++) {
        std::vector<unsigned char> bad = good;
        size_t at = (((size_t)rnd[3 * i] << 8) | rnd[3 * i + 1]) % bad.size();
        bad[at] = rnd[3 * i + 2];
        if (i % 4 == 0) bad[(at * 7 + 13) % bad.size()] ^= 0x80;
        D d;
        cBufWrapperIO s(bad.data(), (long long)bad.size());
        d.decode(&s);
    }
}

}  // namespace pictfmt
