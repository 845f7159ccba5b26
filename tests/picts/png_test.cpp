// PNG decoder: every colour type, depth and interlace against ImageMagick, committed fixtures,
// a filter round trip through zlib, damaged and hostile files.
#include <zlib.h>

#include "base/memio.h"
#include "picts/png/pictpng.h"
#include "picts/png/pngreader.h"
#include "pictfmt_testutil.h"

using namespace pictfmt;

namespace {

const std::string kData = std::string(QMX_TEST_DATA) + "/picts/png/";

void put32(std::vector<unsigned char>& v, uint32_t x) {
    for (int i = 3; i >= 0; i--) v.push_back((unsigned char)(x >> (8 * i)));
}

// Appends a chunk with its CRC (zlib's crc32 as the independent check).
void chunk(std::vector<unsigned char>& png, const char* type, const std::vector<unsigned char>& data) {
    put32(png, (uint32_t)data.size());
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32(png, (uint32_t)crc32(0, body.data(), (uInt)body.size()));
}

std::vector<unsigned char> ihdr(uint32_t w, uint32_t h, int depth, int ct, int interlace = 0) {
    std::vector<unsigned char> d;
    put32(d, w);
    put32(d, h);
    d.push_back((unsigned char)depth);
    d.push_back((unsigned char)ct);
    d.push_back(0);
    d.push_back(0);
    d.push_back((unsigned char)interlace);
    return d;
}

// Signature, IHDR, the `before` chunks (type, data), the zlib data of `raw` in IDATs of
// idatPiece bytes (0: one), IEND.
using Chunks = std::vector<std::pair<const char*, std::vector<unsigned char>>>;
std::vector<unsigned char> makePng(const std::vector<unsigned char>& header, const std::vector<unsigned char>& raw,
                                   size_t idatPiece = 0, const Chunks& before = {}) {
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    chunk(png, "IHDR", header);
    for (auto& c : before) chunk(png, c.first, c.second);
    uLongf zn = compressBound((uLong)raw.size());
    std::vector<unsigned char> z(zn);
    compress2(z.data(), &zn, raw.data(), (uLong)raw.size(), 9);
    z.resize(zn);
    if (!idatPiece) idatPiece = z.size();
    for (size_t i = 0; i < z.size(); i += idatPiece)
        chunk(png, "IDAT", std::vector<unsigned char>(z.begin() + (long)i, z.begin() + (long)std::min(z.size(), i + idatPiece)));
    chunk(png, "IEND", {});
    return png;
}

int paethRef(int a, int b, int c) {
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Forward filtering of RGBA8 rows, filter type (row % 5): the reference model of PNG 9.
std::vector<unsigned char> filterRows(const std::vector<unsigned char>& img, int w, int h) {
    std::vector<unsigned char> out;
    size_t stride = (size_t)w * 4;
    for (int y = 0; y < h; y++) {
        int f = y % 5;
        out.push_back((unsigned char)f);
        for (size_t i = 0; i < stride; i++) {
            int x = img[y * stride + i];
            int a = i >= 4 ? img[y * stride + i - 4] : 0;
            int b = y ? img[(y - 1) * stride + i] : 0;
            int c = (y && i >= 4) ? img[(y - 1) * stride + i - 4] : 0;
            int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paethRef(a, b, c);
            out.push_back((unsigned char)(x - pred));
        }
    }
    return out;
}

}  // namespace

TEST(PngDecoder, MatchesImageMagickForEveryColourTypeDepthAndInterlace) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    struct Case {
        int ct, depth, colors;
        bool alpha;
    } cases[] = {
        {0, 1, 2, false}, {0, 2, 4, false}, {0, 4, 16, false}, {0, 8, 0, false}, {0, 16, 0, false},
        {2, 8, 0, false}, {2, 16, 0, false}, {3, 1, 2, false}, {3, 2, 4, false}, {3, 4, 16, true},
        {3, 8, 200, true}, {4, 8, 0, true},  {4, 16, 0, true}, {6, 8, 0, true},  {6, 16, 0, true},
    };
    testutil::TempDir dir;
    int n = 0;
    for (const Case& c : cases)
        for (int interlace = 0; interlace < 2; interlace++) {
            SCOPED_TRACE("colour type " + std::to_string(c.ct) + " depth " + std::to_string(c.depth) +
                         (interlace ? " Adam7" : ""));
            std::vector<std::string> opts = {"-define", "png:color-type=" + std::to_string(c.ct), "-depth",
                                             std::to_string(c.depth)};
            if (c.ct == 0 || c.ct == 4) opts.insert(opts.begin(), {"-colorspace", "gray"});
            if (c.depth < 8) opts.insert(opts.end(), {"-define", "png:bit-depth=" + std::to_string(c.depth)});
            if (interlace) opts.insert(opts.end(), {"-interlace", "PNG"});
            int k = n++;
            std::string path = convertFrom(dir, "png:c" + std::to_string(k) + ".png", 37, 19, c.colors, c.alpha, 8 + k, opts);
            ASSERT_FALSE(path.empty());
            std::vector<unsigned char> bytes = testutil::readFile(path);
            ASSERT_GT(bytes.size(), 33u);
            // The file must really be of the variant asked for, else this case tests nothing.
            // (ImageMagick widens small palettes; packed palette depths are covered by the model test.)
            if (c.ct != 3) {
                EXPECT_EQ(bytes[24], c.depth);
            }
            EXPECT_EQ(bytes[25], c.ct);
            EXPECT_EQ(bytes[28], interlace);
            Rgba ours = decodeWith<cPictPNG>(bytes);
            ASSERT_TRUE(ours.ok);
            EXPECT_EQ(ours.wide, c.depth == 16);
            Rgba ref = oracle(path, c.depth == 16, 37, 19);
            ASSERT_TRUE(ref.ok);
            std::string first;
            EXPECT_EQ(mismatches(ours, ref, false, &first), 0) << first;
        }
}

TEST(PngDecoder, CommittedFixturesDecodeToTheirExpectedPixels) {
    // Made by tests/data/picts/png/README.md; expected pixels are ImageMagick's RGBA.
    struct Fixture {
        const char* name;
        int w, h;
        bool wide;
    } fixtures[] = {
        {"gray1_adam7", 13, 11, false}, {"pal4_trns", 13, 11, false}, {"rgba16", 13, 11, true},
        {"rgb8_adam7", 13, 11, false}, {"graya8", 13, 11, false},
    };
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        std::vector<unsigned char> png = testutil::readFile(kData + f.name + ".png");
        Rgba ref = fromRgbaBytes(testutil::readFile(kData + f.name + ".rgba"), f.wide, f.w, f.h);
        ASSERT_TRUE(ref.ok);
        Rgba ours = decodeWith<cPictPNG>(png);
        ASSERT_TRUE(ours.ok);
        std::string first;
        EXPECT_EQ(mismatches(ours, ref, false, &first), 0) << first;
    }
}

TEST(PngDecoder, AllFiveFiltersAndSplitIdatRoundTrip) {
    const int w = 23, h = 17;
    std::vector<unsigned char> img = testutil::randomBytes((size_t)w * h * 4, 99);
    // Smooth areas too, so that predictions matter.
    for (size_t i = 0; i < img.size() / 2; i++) img[i] = (unsigned char)(i / 7);
    std::vector<unsigned char> raw = filterRows(img, w, h);
    for (size_t piece : {size_t(0), size_t(1), size_t(7)}) {
        SCOPED_TRACE("IDAT piece " + std::to_string(piece));
        Rgba ours = decodeWith<cPictPNG>(makePng(ihdr(w, h, 8, 6), raw, piece));
        ASSERT_TRUE(ours.ok);
        for (size_t i = 0; i < img.size(); i++) ASSERT_EQ(ours.px[i], img[i]) << "sample " << i;
    }
}

TEST(PngDecoder, PackedDepthsMatchAPlainModel) {
    // Palette and grey at 1, 2 and 4 bits: samples packed from the high bit, rows padded.
    const int w = 11, h = 3;
    std::vector<unsigned char> plte;
    for (int i = 0; i < 16; i++) plte.insert(plte.end(), {(unsigned char)(i * 16), (unsigned char)(255 - i * 9), (unsigned char)(i * 5)});
    std::vector<unsigned char> trns = {0, 128, 255};
    for (int ct : {0, 3})
        for (int depth : {1, 2, 4}) {
            SCOPED_TRACE("colour type " + std::to_string(ct) + " depth " + std::to_string(depth));
            std::vector<unsigned char> idx = testutil::randomBytes((size_t)w * h, (unsigned)(ct * 10 + depth));
            std::vector<unsigned char> raw;
            int rowBytes = (w * depth + 7) / 8;
            for (int y = 0; y < h; y++) {
                raw.push_back(0);
                std::vector<unsigned char> row((size_t)rowBytes, 0);
                for (int x = 0; x < w; x++) {
                    int v = idx[(size_t)(y * w + x)] & ((1 << depth) - 1);
                    idx[(size_t)(y * w + x)] = (unsigned char)v;
                    row[(size_t)(x * depth / 8)] |= (unsigned char)(v << (8 - depth - (x * depth) % 8));
                }
                raw.insert(raw.end(), row.begin(), row.end());
            }
            Chunks palette;
            if (ct == 3)
                palette = {{"PLTE", std::vector<unsigned char>(plte.begin(), plte.begin() + 3 * (1 << depth))},
                           {"tRNS", std::vector<unsigned char>(trns.begin(), trns.begin() + std::min(3, 1 << depth))}};
            Rgba ours = decodeWith<cPictPNG>(makePng(ihdr(w, h, depth, ct), raw, 0, palette));
            ASSERT_TRUE(ours.ok);
            for (int i = 0; i < w * h; i++) {
                int v = idx[(size_t)i];
                uint16_t r, g, b, a = 255;
                if (ct == 0) {
                    r = g = b = (uint16_t)(v * 255 / ((1 << depth) - 1));
                } else {
                    r = plte[(size_t)(3 * v)], g = plte[(size_t)(3 * v + 1)], b = plte[(size_t)(3 * v + 2)];
                    if (v < std::min(3, 1 << depth)) a = trns[(size_t)v];
                }
                ASSERT_EQ(argbAt(ours, (size_t)i), (unsigned)a << 24 | r << 16 | g << 8 | b) << i;
            }
        }
}

TEST(PngDecoder, RefusesDamagedFiles) {
    const int w = 9, h = 5;
    std::vector<unsigned char> img = testutil::randomBytes((size_t)w * h * 4, 3);
    std::vector<unsigned char> raw = filterRows(img, w, h);
    std::vector<unsigned char> good = makePng(ihdr(w, h, 8, 6), raw);
    ASSERT_TRUE(decodeWith<cPictPNG>(good).ok);

    auto flipped = [&](size_t at, unsigned char bits) {
        auto v = good;
        v[at] ^= bits;
        return v;
    };
    std::vector<std::pair<std::string, std::vector<unsigned char>>> bad = {
        {"IHDR CRC", flipped(29, 1)},
        {"IDAT CRC", flipped(33 + 8 + 3, 0x40)},  // a byte of the data: its CRC no longer matches
        // IDAT data cut short (the CRCs are correct): fewer rows than the header promises.
        {"truncated IDAT",
         makePng(ihdr(w, h, 8, 6), std::vector<unsigned char>(raw.begin(), raw.begin() + (long)raw.size() / 2))},
    };
    bad.push_back({"file cut in IDAT", std::vector<unsigned char>(good.begin(), good.begin() + 50)});
    bad.push_back({"bad filter type", makePng(ihdr(1, 1, 8, 0), {5, 0})});
    bad.push_back({"palette without PLTE", makePng(ihdr(1, 1, 8, 3), {0, 0})});
    bad.push_back({"depth 16 palette", makePng(ihdr(1, 1, 16, 3), {0, 0, 0})});
    bad.push_back({"zero width", makePng(ihdr(0, 1, 8, 0), {0})});
    bad.push_back({"unknown critical chunk", makePng(ihdr(1, 1, 8, 0), {0, 0}, 0, {{"ABCD", {1}}})});
    // 100000 x 100000 RGBA would need 40 GB: refused from the header alone, even by the probe.
    bad.push_back({"huge", makePng(ihdr(100000, 100000, 8, 6), std::vector<unsigned char>(100, 0))});
    // Plausible dimensions whose raw size the tiny file could never inflate to.
    bad.push_back(
        {"more than the data inflates to", makePng(ihdr(20000, 20000, 8, 6), std::vector<unsigned char>(10, 0))});
    for (auto& b : bad) {
        cPictPNG d;
        cBufWrapperIO s(b.second.data(), (long long)b.second.size());
        EXPECT_FALSE(d.decode(&s)) << b.first;
        EXPECT_EQ(d.raw8Bpp(), nullptr) << b.first;
        if (b.first == "huge") {
            cPictBase::sPictInfo info;
            EXPECT_FALSE(cPictPNG::validFor(&s, &info));
        }
        if (b.first == "more than the data inflates to") {
            EXPECT_EQ(d.lastError(), cPngReader::eBadSize);
        }
    }
}

TEST(PngDecoder, ProbeFillsSizeAndRewinds) {
    std::vector<unsigned char> png = makePng(ihdr(31, 7, 8, 2), std::vector<unsigned char>(7 * 94, 0));
    std::vector<unsigned char> withPrefix(5, 0xEE);
    withPrefix.insert(withPrefix.end(), png.begin(), png.end());
    cBufWrapperIO s(withPrefix.data(), (long long)withPrefix.size());
    s.set_fp(5);
    cPictBase::sPictInfo info;
    ASSERT_TRUE(cPictPNG::validFor(&s, &info));
    EXPECT_EQ(info.width, 31);
    EXPECT_EQ(info.height, 7);
    EXPECT_EQ(s.get_fp(), 5u);
    cPictPNG d;
    ASSERT_TRUE(d.decode(&s));
    EXPECT_EQ(d.width(), 31);
}

TEST(PngDecoder, SurvivesTruncationAndByteFlips) {
    std::vector<unsigned char> png = testutil::readFile(kData + "pal4_trns.png");
    ASSERT_FALSE(png.empty());
    survivesHostileCopies<cPictPNG>(png, 11);
    std::vector<unsigned char> png2 = testutil::readFile(kData + "rgba16.png");
    survivesHostileCopies<cPictPNG>(png2, 12, 1000);
}
