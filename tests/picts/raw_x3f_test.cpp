// Sigma X3F: kit files of raw formats 5 and 30 decode to their exact three-channel frame
// (through the frame hook); other formats give their largest preview; the code table stays
// inside its 256 entries; crafted directories and truncations fail cleanly; the real samples
// probe as dcraw identifies them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/raw/sigma/pictx3f.h"
#include "rawkit/peers.h"
#include "rawkit/x3fenc.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> smoothRgb(uint32_t w, uint32_t h) {
    std::vector<uint16_t> f((size_t)w * h * 3);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) f[((size_t)y * w + x) * 3 + c] = (uint16_t)((x * 37 + y * 11 + c * 100 + x * y) % 500);
    return f;
}

}  // namespace

TEST(RawX3f, KitFramesDecodeExactly) {
    struct Case {
        uint32_t format, w, h;
    };
    const Case cases[] = {{5, 16, 9}, {5, 3, 2}, {30, 16, 9}, {30, 33, 7}, {30, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " " << c.w << "x" << c.h);
        X3fSpec s;
        s.format = c.format;
        s.width = c.w;
        s.height = c.h;
        s.rgb = smoothRgb(c.w, c.h);
        s.previews.push_back({41, 27, testJpeg("base420.jpg")});
        std::vector<unsigned char> f = writeX3f(s);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictBase::sPictInfo info;
        ASSERT_TRUE(cPictX3F::validFor(&io, &info));
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
        EXPECT_TRUE(info.hasPreview);
        cPictX3F d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(seen.channels, 3);
        EXPECT_EQ(seen.samples, s.rgb);
        ASSERT_EQ(d.width(), c.w);
        ASSERT_EQ(d.height(), c.h);
        // Every pixel opaque; the file's first row is the picture's top (stored last).
        for (long long i = 0; i < d.width() * d.height(); i++) ASSERT_EQ(d.raw16Bpp()[i] >> 48, 0xFFFFu);
    }
}

TEST(RawX3f, OtherFormatsGiveTheLargestPreview) {
    X3fSpec s;
    s.format = 6;
    s.width = 2304;
    s.height = 1531;
    // Two of equal area: the first in directory order is kept; the larger one wins.
    s.previews.push_back({41, 27, testJpeg("base420.jpg")});
    s.previews.push_back({100, 80, testJpeg("grey.jpg")});
    s.previews.push_back({80, 100, testJpeg("base420.jpg")});
    // A size beyond any picture's is no preview (its area overflowed the 64-bit key).
    s.previews.push_back({0xFFFFFFECu, 0xFFFFFFF9u, testJpeg("base420.jpg")});
    std::vector<unsigned char> f = writeX3f(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictBase::sPictInfo info;
    ASSERT_TRUE(cPictX3F::validFor(&io, &info));
    EXPECT_EQ(info.width, 100);
    EXPECT_EQ(info.height, 80);
    cPictX3F d;
    io.set_fp(0);
    ASSERT_TRUE(d.decode(&io));
    _typebuf<unsigned int> px;
    ASSERT_TRUE(d.getColorData(px));
    for (long long i = 0; i < px.count; i++) {  // the grey JPEG
        unsigned p = px.ptr[i];
        ASSERT_TRUE((p & 0xFF) == ((p >> 8) & 0xFF) && (p & 0xFF) == ((p >> 16) & 0xFF));
    }
    // Bounded preview: the largest whose area fits (41 x 27 within 50 x 30), scaled to fit.
    cPictDummy t;
    long long mw = 50, mh = 30;
    io.set_fp(0);
    ASSERT_TRUE(d.getPreview(&io, &t, &mw, &mh));
    EXPECT_EQ(t.width(), 41);
    EXPECT_EQ(t.height(), 27);
    // No preview at all: an undecodable format is not taken.
    s.previews.clear();
    f = writeX3f(s);
    cBufWrapperIO io2(f.data(), (long long)f.size());
    EXPECT_FALSE(cPictX3F::validFor(&io2, &info));
}

// The format-30 table: lengths 0 and above 8 and codes near the end never fill past entry
// 255 (AddressSanitizer watches the fixed table); lengths of 32 or more are refused.
TEST(RawX3f, CodeTableStaysInside) {
    struct Case {
        unsigned char len, code;
        bool ok;
        int filled;  // slots of entry 0
    };
    const Case cases[] = {{1, 0xFF, true, 1}, {0, 0x10, true, 240}, {2, 0xC0, true, 64},
                          {9, 0, true, 0},    {31, 0, true, 0},     {32, 0, false, 0}, {255, 0, false, 0}};
    for (const Case& c : cases) {
        unsigned char pairs[26] = {};
        for (int i = 1; i < 13; i++) pairs[2 * i] = 20;  // fill nothing
        pairs[0] = c.len;
        pairs[1] = c.code;
        unsigned short table[256];
        EXPECT_EQ(cPictX3F::fillCodeTable(pairs, table), c.ok) << (int)c.len;
        if (!c.ok) continue;
        int n = 0;
        for (int i = 0; i < 256; i++) n += table[i] == (unsigned short)(c.len << 8);
        // With length 0 the unfilled slots hold the same value as the filled ones.
        EXPECT_EQ(n, c.len ? c.filled : 256) << (int)c.len;
    }
    // A file whose table has a length of 32 fails to decode.
    X3fSpec s;
    s.width = 8;
    s.height = 4;
    s.rgb = smoothRgb(8, 4);
    std::vector<unsigned char> f = writeX3f(s);
    // The raw section is the only one: its table starts 36 bytes into it (offset 40).
    f[40 + 36] = 32;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictX3F d;
    EXPECT_FALSE(d.decode(&io));
}

TEST(RawX3f, CraftedDirectoriesAndTruncationsFail) {
    X3fSpec s;
    s.format = 5;
    s.width = 12;
    s.height = 6;
    s.rgb = smoothRgb(12, 6);
    const std::vector<unsigned char> good = writeX3f(s);
    auto with32 = [&](size_t at, uint32_t v) {
        std::vector<unsigned char> f = good;
        for (int i = 0; i < 4; i++) f[at + i] = (unsigned char)(v >> (8 * i));
        return f;
    };
    const size_t dirAt = good.size() - 4;
    uint32_t dir = good[dirAt] | good[dirAt + 1] << 8 | good[dirAt + 2] << 16 | (uint32_t)good[dirAt + 3] << 24;
    struct Case {
        const char* what;
        std::vector<unsigned char> file;
    };
    const Case cases[] = {
        {"directory offset 39", with32(dirAt, 39)},
        {"directory offset past the end", with32(dirAt, (uint32_t)good.size())},
        {"entry count huge", with32(dir + 8, 0x10000000)},
        {"section offset past the end", with32(dir + 12, 0xFFFFFFF0u)},
        // A frame of 65535 x 65535 declared over a few bytes: refused before allocating.
        {"huge width", with32(40 + 16, 65535)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cBufWrapperIO io(c.file.data(), (long long)c.file.size());
        cPictX3F d;
        EXPECT_FALSE(d.decode(&io));
    }
    decodeEachCut<cPictX3F>(good, 1, SIZE_MAX);
}
