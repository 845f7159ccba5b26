// Olympus ORF: kit-written files of every sample layout decode to the exact sensor frame
// (through the frame hook) with the maker note's balance and black level; the same files
// read the same through dcraw and LibRaw; the preview comes from the maker note; corrupt
// compressed data, truncations and crafted files fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <algorithm>
#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/olympus/pictorf.h"
#include "rawkit/orfenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> scene(int w, int h, unsigned seed) {
    std::vector<uint16_t> f((size_t)w * h);
    unsigned x = seed * 2654435761u + 3;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            x = x * 1103515245u + 12345u;
            f[(size_t)r * w + c] = (uint16_t)((300 + c * 37 + r * 19 + (x >> 16) % 200 + ((c / 6) & 1) * 900) % 4000 + 50);
        }
    return f;
}

OrfSpec spec(OrfSpec::Layout layout, int w, int h, bool be = false) {
    OrfSpec s;
    s.layout = layout;
    s.bigEndian = be;
    s.width = w;
    s.height = h;
    s.frame = scene(w, h, (unsigned)(w * 7 + h + layout));
    return s;
}

}  // namespace

TEST(RawOrf, KitFramesDecodeExactly) {
    struct Case {
        OrfSpec::Layout layout;
        bool be;
        int w, h, rowsPerStrip;
        const char* model;
        unsigned margins[3];  // left, right, top
    };
    const Case cases[] = {
        {OrfSpec::Packed12, false, 24, 12, 0, "E-KIT", {0, 0, 0}},
        // Strips of whole 32-bit words: 4 rows of 20 samples.
        {OrfSpec::Packed12, true, 20, 12, 4, "E-M1 MarkII", {1, 0, 1}},
        {OrfSpec::Interlaced12, true, 20, 11, 0, "E-KIT", {0, 0, 0}},
        {OrfSpec::Interlaced12, false, 20, 10, 0, "E-KIT", {0, 0, 0}},  // even height: the last row too
        {OrfSpec::Groups12, false, 24, 8, 0, "XZ-2", {0, 0, 0}},
        {OrfSpec::Plain16, false, 18, 10, 3, "E-P1 ", {0, 4, 0}},
        {OrfSpec::Plain16, true, 18, 10, 0, "E-KIT", {0, 0, 0}},
        {OrfSpec::Padded12, false, 20, 10, 0, "E-KIT", {0, 0, 0}},
        {OrfSpec::Compressed, false, 32, 16, 0, "E-KIT", {0, 0, 0}},
        {OrfSpec::Compressed, true, 31, 9, 0, "TG-5", {1, 23, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << c.layout << (c.be ? " MM " : " II ") << c.w << "x" << c.h << " "
                                        << c.model);
        OrfSpec s = spec(c.layout, c.w, c.h, c.be);
        s.rowsPerStrip = c.rowsPerStrip;
        s.model = c.model;
        std::vector<unsigned char> file = writeOrf(s);
        const long long width = c.w - (long long)c.margins[0] - c.margins[1], height = c.h - (long long)c.margins[2];
        cPictORF d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, file, width, height, seen));
        EXPECT_EQ(seen.samples, s.frame);
        EXPECT_EQ(seen.black, 64u);  // the largest of the four black levels
        // Camera settings' red 640 and blue 320 over 256, divided by red.
        EXPECT_DOUBLE_EQ(seen.mul[0], 1.0);
        EXPECT_DOUBLE_EQ(seen.mul[1], 256.0 / 640.0);
        EXPECT_DOUBLE_EQ(seen.mul[2], 320.0 / 640.0);
        EXPECT_EQ(seen.cfa[0], 0);
        EXPECT_EQ(seen.cfa[3], 2);
        EXPECT_EQ(d.width(), width);
        EXPECT_EQ(d.height(), height);
    }
}

TEST(RawOrf, BalanceWithoutSettingsAndWithoutMakerNote) {
    OrfSpec s = spec(OrfSpec::Packed12, 16, 8);
    s.withSettings = false;
    std::vector<unsigned char> f = writeOrf(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictORF d;
    SeenFrame seen;
    ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
    EXPECT_DOUBLE_EQ(seen.mul[2], 384.0 / 512.0);  // 0x1018 over 0x1017
    EXPECT_EQ(seen.black, 0u);
    s.withMakerNote = false;
    f = writeOrf(s);
    cBufWrapperIO io2(f.data(), (long long)f.size());
    ASSERT_TRUE(decodeSeeingFrame(d, &io2, seen));
    for (int c = 0; c < 3; c++) EXPECT_DOUBLE_EQ(seen.mul[c], 1.0);
}

TEST(RawOrf, KitFilesReadAlikeByPeers) {
    struct Case {
        OrfSpec::Layout layout;
        bool be;
        int rowsPerStrip, bits;  // bits 0: the layout's own
    };
    const Case cases[] = {
        {OrfSpec::Packed12, false, 0, 0}, {OrfSpec::Packed12, true, 0, 0},
        {OrfSpec::Compressed, false, 0, 0}, {OrfSpec::Compressed, true, 0, 0},
        // Padded rows: pairs low nibble first in either byte order, also under 16 bits.
        {OrfSpec::Padded12, false, 0, 0}, {OrfSpec::Padded12, true, 0, 16},
        // 16-bit words in the file's byte order, shifted right by 4. The peers go by the
        // first strip's size: strips of a few rows, as the cameras write them (larger ones
        // they take for compressed data).
        {OrfSpec::Plain16, false, 2, 0}, {OrfSpec::Plain16, true, 1, 0},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << c.layout << (c.be ? " MM" : " II") << " bits " << c.bits);
        OrfSpec s = spec(c.layout, 64, 40, c.be);
        s.rowsPerStrip = c.rowsPerStrip;
        s.bits = c.bits;
        const std::vector<unsigned char> file = writeOrf(s);
        SeenFrame seen;
        ASSERT_TRUE(decodeKitFile<cPictORF>(file, &seen));
        EXPECT_EQ(seen.samples, s.frame);
        expectPeersReadAs(dir, file, ".orf", s.width, s.height, s.frame);
    }
}

TEST(RawOrf, PreviewFromMakerNote) {
    OrfSpec s = spec(OrfSpec::Packed12, 16, 8);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    expectKitFilePreview<cPictORF>(writeOrf(s));
}

TEST(RawOrf, CorruptAndShortFilesFailCleanly) {
    // The strip is the only block: found by its code (7 skipped bytes, then the samples').
    auto codeAt = [](const std::vector<unsigned char>& f, const OrfSpec& s) {
        const std::vector<unsigned char> code = encodeOlympus(s.frame, s.width, s.height);
        size_t at = 0;
        for (size_t i = 8; i + code.size() <= f.size(); i++)
            if (std::equal(code.begin(), code.end(), f.begin() + (long)i)) at = i;
        return std::make_pair(at + 7, at + code.size());
    };
    // A compressed first sample whose sign bit is flipped decodes below 0: refused, not
    // wrapped into a bright 16-bit value.
    OrfSpec s = spec(OrfSpec::Compressed, 16, 8);
    s.withMakerNote = false;
    std::vector<unsigned char> f = writeOrf(s);
    const auto first = codeAt(f, s);
    ASSERT_GT(first.first, 7u);
    ASSERT_TRUE(decodeKitFile<cPictORF>(f));
    f[first.first] ^= 0x80;
    EXPECT_FALSE(decodeKitFile<cPictORF>(f));
    // Random compressed data: decodes or fails, within bounds (the sanitizers watch).
    s = spec(OrfSpec::Compressed, 24, 12);
    const std::vector<unsigned char> good = writeOrf(s);
    const auto code = codeAt(good, s);
    ASSERT_GT(code.first, 7u);
    for (unsigned seed = 1; seed <= 40; seed++) {
        f = good;
        unsigned x = seed;
        for (size_t i = code.first; i < code.second; i++) {
            x = x * 1103515245u + 12345u;
            f[i] = (unsigned char)(x >> 16);
        }
        decodeKitFile<cPictORF>(f);
    }
    for (OrfSpec::Layout layout : {OrfSpec::Packed12, OrfSpec::Interlaced12, OrfSpec::Compressed}) {
        const std::vector<unsigned char> whole = writeOrf(spec(layout, 16, 8));
        for (size_t n = 0; n + 1 < whole.size(); n += 5) {
            std::vector<unsigned char> cut(whole.begin(), whole.begin() + (long)n);
            cBufWrapperIO io(cut.data(), (long long)cut.size());
            cPictORF d;
            d.decode(&io);  // strips past the end fail; cut maker notes may be skipped
            cPictDummy t;
            io.set_fp(0);
            d.getPreview(&io, &t, nullptr, nullptr);
        }
    }
}
