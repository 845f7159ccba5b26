// Phase One IIQ: kit-written files, plain and ZIP-stored, decode to the exact sensor frame
// (through the frame hook) computed by a plain model of the format (curve, scale, black
// level and tables); the same files read the same through dcraw and LibRaw; corrupt codes,
// hostile directories and truncations fail cleanly; the real file probes as the peers see it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/phaseone/pictiiq.h"
#include "rawkit/iiqenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {


IiqSpec spec(int w, int h, unsigned seed) {
    IiqSpec s;
    s.width = w;
    s.height = h;
    s.values.resize((size_t)w * h);
    unsigned x = seed * 2654435761u + 5;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            x = x * 1103515245u + 12345u;
            // Smooth runs, some wide steps and, every few rows, values below 256 for the curve.
            int v = 600 + c * 31 + r * 17 + (int)((x >> 16) % 40) + ((c / 9) % 2) * 3000;
            if (r % 5 == 3 && c % 7 < 2) v = (int)((x >> 8) % 256);
            s.values[(size_t)r * w + c] = (uint16_t)(v % 16384);
        }
    return s;
}

// The frame a reader must produce: the format-5 curve below 256, times 4, less the black
// level, plus the row and column tables (pairs per row and per column), limited to 16 bits.
std::vector<uint16_t> model(const IiqSpec& s) {
    std::vector<uint16_t> f(s.values.size());
    for (int r = 0; r < s.height; r++)
        for (int c = 0; c < s.width; c++) {
            long long v = s.values[(size_t)r * s.width + c];
            if (s.format == 5 && v < 256) v = (long long)(v * v / 3.969 + 0.5);
            v = v * 4 - s.black;
            if (!s.blackRows.empty()) v += s.blackRows[(size_t)(2 * c + (r < (int)s.splitRow ? 0 : 1))];
            if (!s.blackCols.empty()) v += s.blackCols[(size_t)(2 * r + (c < (int)s.splitCol ? 0 : 1))];
            f[(size_t)r * s.width + c] = (uint16_t)(v < 0 ? 0 : v > 65535 ? 65535 : v);
        }
    return f;
}

// Black tables of small signed steps, split off centre.
void addBlackTables(IiqSpec& s) {
    for (int i = 0; i < 2 * s.height; i++) s.blackCols.push_back((int16_t)((i * 37) % 61 - 30));
    for (int i = 0; i < 2 * s.width; i++) s.blackRows.push_back((int16_t)((i * 53) % 81 - 40));
    s.splitCol = (uint32_t)s.width / 2 + 1;
    s.splitRow = (uint32_t)s.height / 3;
}

}  // namespace

TEST(RawIiq, KitFramesDecodeExactly) {
    struct Case {
        const char* what;
        int w, h;
        uint32_t format, black;
        bool tables, zip;
        unsigned margins[4];
    };
    const Case cases[] = {
        {"format 3", 32, 12, 3, 0, false, false, {0, 0, 0, 0}},
        {"format 5 curve, black", 37, 10, 5, 300, false, false, {0, 0, 0, 0}},
        {"black tables and split", 40, 14, 3, 200, true, false, {2, 3, 1, 2}},
        {"ZIP-stored", 24, 9, 5, 100, true, true, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IiqSpec s = spec(c.w, c.h, (unsigned)c.w);
        s.format = c.format;
        s.black = c.black;
        s.zip = c.zip;
        s.left = c.margins[0];
        s.right = c.margins[1];
        s.top = c.margins[2];
        s.bottom = c.margins[3];
        if (c.tables) addBlackTables(s);
        std::vector<unsigned char> file = writeIiq(s);
        const long long width = c.w - (long long)c.margins[0] - c.margins[1], height = c.h - (long long)c.margins[2] - c.margins[3];
        cPictIIQ d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, file, width, height, seen));
        EXPECT_EQ(seen.samples, model(s));
        // Stored red, green, blue 2.0, 1.0, 1.5 become the multipliers of codes 0, 1, 2.
        EXPECT_DOUBLE_EQ(seen.mul[0], 2.0);
        EXPECT_DOUBLE_EQ(seen.mul[1], 1.0);
        EXPECT_DOUBLE_EQ(seen.mul[2], 1.5);
        EXPECT_EQ(seen.black, 0u);
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.margins[i], c.margins[i]);
        EXPECT_EQ(d.width(), width);
        EXPECT_EQ(d.height(), height);
    }
}

// The preview is the TIFF the file starts with (after the ZIP entry's header when stored in
// a ZIP): whole, or fitted within the bounds; a file whose TIFF holds no picture has none.
TEST(RawIiq, PreviewIsTheLeadingTiff) {
    for (int zip = 0; zip < 2; zip++) {
        SCOPED_TRACE(zip);
        IiqSpec s = spec(24, 16, 3);
        s.zip = zip != 0;
        cPictBase::sPictInfo info;
        {
            std::vector<unsigned char> f = writeIiq(s);
            cBufWrapperIO io(f.data(), (long long)f.size());
            ASSERT_TRUE(cPictIIQ::validFor(&io, &info));
            EXPECT_FALSE(info.hasPreview);
            cPictIIQ d;
            cPictDummy out;
            EXPECT_FALSE(d.getPreview(&io, &out, nullptr, nullptr));
        }
        s.previewW = 30;
        s.previewH = 20;
        for (int i = 0; i < 30 * 20 * 3; i++) s.previewRgb.push_back((unsigned char)(i * 7 % 251));
        std::vector<unsigned char> f = writeIiq(s);
        cBufWrapperIO io(f.data(), (long long)f.size());
        ASSERT_TRUE(cPictIIQ::validFor(&io, &info));
        EXPECT_TRUE(info.hasPreview);
        cPictIIQ d;
        cPictDummy whole, scaled;
        ASSERT_TRUE(d.getPreview(&io, &whole, nullptr, nullptr));
        ASSERT_EQ(whole.width(), 30);
        ASSERT_EQ(whole.height(), 20);
        const unsigned int* px = whole.raw8Bpp();
        ASSERT_NE(px, nullptr);
        int wrong = 0;
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 30; x++) {
                const unsigned char* rgb = &s.previewRgb[(size_t)(y * 30 + x) * 3];
                unsigned int want = 0xFF000000u | rgb[0] << 16 | rgb[1] << 8 | rgb[2];
                wrong += px[(19 - y) * 30 + x] != want;  // rows stored bottom-up
            }
        EXPECT_EQ(wrong, 0);
        long long mw = 15, mh = 15;
        ASSERT_TRUE(d.getPreview(&io, &scaled, &mw, &mh));
        EXPECT_EQ(scaled.width(), 15);
        EXPECT_EQ(scaled.height(), 10);
        EXPECT_EQ(mw, 15);
        EXPECT_EQ(mh, 10);
    }
}

// dcraw only: LibRaw's unprocessed_raw does not return on these small kit files, and dcraw
// does not open ZIP-stored ones. dcraw adds the black tables as pairs per row and column.
TEST(RawIiq, KitFilesReadAlikeByPeers) {
    testutil::TempDir dir;
    for (bool tables : {false, true}) {
        SCOPED_TRACE(tables ? "black tables" : "format 5");
        IiqSpec s = spec(64, 40, 11);
        s.format = tables ? 3 : 5;
        s.black = 64;
        if (tables) addBlackTables(s);
        expectPeersReadAs(dir, writeIiq(s), ".iiq", s.width, s.height, model(s), {"dcraw"});
    }
}

TEST(RawIiq, CorruptAndHostileFilesFailCleanly) {
    IiqSpec s = spec(24, 8, 3);
    const std::vector<unsigned char> good = writeIiq(s);
    const size_t dirAt = 8 + (good[16] | good[17] << 8 | good[18] << 16 | (size_t)good[19] << 24);
    auto entry = [&](std::vector<unsigned char>& f, uint32_t tag) -> unsigned char* {
        for (size_t at = dirAt + 8; at + 16 <= f.size(); at += 16)
            if ((f[at] | f[at + 1] << 8) == (int)tag) return &f[at];
        return nullptr;
    };
    struct Case {
        const char* what;
        uint32_t tag;
        int field;  // 1 type, 2 size, 3 data
        uint32_t value;
        bool probe;
    };
    const Case cases[] = {
        {"format below 3", 0x10E, 3, 2, true},
        {"raw block past the file", 0x10F, 2, 0x7FFFFFF0u, true},
        {"row table past the file", 0x21C, 3, 0x7FFFFFF0u, true},
        {"margins wider than the frame", 0x10A, 3, 24, false},
        {"width 0", 0x108, 3, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> f = good;
        unsigned char* e = entry(f, c.tag);
        ASSERT_NE(e, nullptr);
        for (int i = 0; i < 4; i++) e[4 * c.field + i] = (unsigned char)(c.value >> (8 * i));
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_EQ(cPictIIQ::validFor(&io, nullptr), c.probe);
        cPictIIQ d;
        io.set_fp(0);
        EXPECT_FALSE(d.decode(&io));
    }
    // A huge entry count: refused before the entries are read one by one.
    {
        std::vector<unsigned char> f = good;
        f[dirAt] = f[dirAt + 1] = f[dirAt + 2] = 0xFF;
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_FALSE(cPictIIQ::validFor(&io, nullptr));
    }
    // A row whose first length code is "keep" (a one bit) uses a length never given, and a
    // step below 0 would index the curve at a negative value: both refused.
    const uint32_t rawAt = 8 + (entry(const_cast<std::vector<unsigned char>&>(good), 0x10F)[12] |
                                entry(const_cast<std::vector<unsigned char>&>(good), 0x10F)[13] << 8);
    for (int which = 0; which < 2; which++) {
        std::vector<unsigned char> f = good;
        if (which == 0) {
            f[rawAt + 3] |= 0x80;  // the first bit of the first word
        } else {
            // Both parities length 5 (four zeros, a one, then 0), then a first step of five
            // zero bits: 0 - 16 + 1 = -15.
            f[rawAt + 3] = 0x08;  // 000010 000010 00000...
            f[rawAt + 2] = 0x20;
            f[rawAt + 1] = 0x00;
        }
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictIIQ d;
        EXPECT_FALSE(d.decode(&io)) << which;
    }
    decodeEachCut<cPictIIQ>(good, 3, SIZE_MAX);
}

// Probe, size and refusal are checked with the other real samples.
TEST(RawIiq, RealFileFrameAndPreview) {
    const std::vector<unsigned char> f = sharedRawOrSkip("PhaseOne.iiq");
    if (f.empty()) return;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictIIQ d;
    ASSERT_TRUE(d.processIIQ(&io, nullptr));
    // dcraw -i -v: full size 7372 x 5536.
    EXPECT_EQ(d.frameWidth(), 7372);
    EXPECT_EQ(d.frameHeight(), 5536);
    cPictDummy preview;  // tiffinfo: a 1 x 1 RGB picture
    ASSERT_TRUE(d.getPreview(&io, &preview, nullptr, nullptr));
    EXPECT_EQ(preview.width(), 1);
    EXPECT_EQ(preview.height(), 1);
}
