// Minolta MRW: kit-written files of every sample layout decode to the exact sensor frame
// (through the frame hook) with the balance from the WBG block; the same files read the
// same through dcraw and LibRaw; crafted chains and truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/raw/minolta/pictmrw.h"
#include "rawkit/mrwenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> ramp(int w, int h, unsigned seed) {
    return noisyRamp(w, h, seed * 2654435761u + 1, 53, 29, 97, 4096);
}

}  // namespace

TEST(RawMrw, KitFramesDecodeExactly) {
    struct Case {
        bool be, packed;
        int w, h;
        std::string model;
        int cfa[4];
    };
    const Case cases[] = {
        {true, false, 24, 16, "DiMAGE A2", {0, 1, 1, 2}},  {true, true, 24, 16, "DiMAGE A2", {0, 1, 1, 2}},
        {false, false, 18, 12, "DiMAGE 7", {0, 1, 1, 2}},  {false, true, 17, 9, "DiMAGE 7", {0, 1, 1, 2}},
        {true, true, 20, 10, "DiMAGE A200", {1, 2, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.be ? "MRM" : "MRI") << (c.packed ? " packed " : " 16-bit ") << c.w << "x"
                                        << c.h << " " << c.model);
        MrwSpec s;
        s.bigEndian = c.be;
        s.packed = c.packed;
        s.width = c.w;
        s.height = c.h;
        s.frame = ramp(c.w, c.h, (unsigned)c.w);
        s.model = c.model;
        const uint16_t wb[4] = {500, 256, 300, 410};
        for (int i = 0; i < 4; i++) s.wb[i] = wb[i];
        std::vector<unsigned char> file = writeMrw(s);
        cPictMRW d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, file, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, s.frame);
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.cfa[i], c.cfa[i]);
        // Balance by pattern position (R G G B for the standard pattern), the second green
        // standing for code 3, scaled so the smallest is 65535 / 4095.
        double b[3];
        for (int i = 0; i < 4; i++)
            if (c.cfa[i] != 3) b[c.cfa[i]] = wb[i];
        const double m = std::min(b[0], std::min(b[1], b[2])), s0 = 65535.0 / 4095.0 / m;
        for (int k = 0; k < 3; k++) EXPECT_NEAR(seen.mul[k], b[k] * s0, 1e-9);
        EXPECT_EQ(d.width(), c.w);
        EXPECT_EQ(d.height(), c.h);
        EXPECT_TRUE(d.is16Bpp());
    }
}

// The kit's files as the peers read them: a misunderstanding shared by kit and decoder
// would show here.
TEST(RawMrw, KitFilesReadAlikeByPeers) {
    testutil::TempDir dir;
    for (bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed" : "16-bit");
        MrwSpec s;
        s.packed = packed;
        // The peers choose the layout by model; these models agree with the size.
        s.model = packed ? "DiMAGE A2" : "DiMAGE 7";
        s.width = 40;
        s.height = 26;
        s.frame = ramp(s.width, s.height, 7);
        expectPeersReadAs(dir, writeMrw(s), ".mrw", s.width, s.height, s.frame);
    }
}

TEST(RawMrw, CraftedChainsFailCleanly) {
    MrwSpec s;
    s.width = 16;
    s.height = 8;
    s.frame = ramp(16, 8, 3);
    const std::vector<unsigned char> good = writeMrw(s);
    auto put32 = [](std::vector<unsigned char>& f, size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) f[at + i] = (unsigned char)(v >> (24 - 8 * i));
    };
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        bool probe;
    };
    const Case cases[] = {
        // PRD's length made huge: next block far past the raw data (a 32-bit sum would wrap).
        {"inner length wraps", 12, 0xFFFFFFF8u, false},
        {"inner block past raw data", 12, 0x1000, false},
        // Outer length below 9: no blocks, no size: probe true, decode false.
        {"outer length 8", 4, 8, true},
        {"outer length beyond file", 4, 0xFFFFFFF0u, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> f = good;
        put32(f, c.at, c.value);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictBase::sPictInfo info;
        EXPECT_EQ(cPictMRW::validFor(&io, &info), c.probe);
        cPictMRW d;
        io.set_fp(0);
        EXPECT_FALSE(d.decode(&io));
    }
    // Every truncation: too little raw data (or a cut chain) fails, never reads past.
    uint64_t rawOffset = 0;
    writeMrw(s, &rawOffset);
    decodeEachCut<cPictMRW>(good, 1, rawOffset + 16 * 8 * 3 / 2);
    // A truncated 16-bit frame that still holds a packed frame's bytes reads as packed (the
    // size decides), as both peers do for files whose size decides.
    std::vector<unsigned char> cut(good.begin(), good.end() - (long long)(16 * 8 * 2 - 16 * 8 * 3 / 2));
    cBufWrapperIO io(cut.data(), (long long)cut.size());
    cPictMRW d;
    EXPECT_TRUE(d.decode(&io));
}

// The TTW structure's JPEG offset counts from the structure's own header (TIFF 6.0), not from
// the file's start: read as a file offset it would point into the PRD block.
TEST(RawMrw, PreviewOffsetCountsFromTheTiffHeader) {
    MrwSpec s;
    s.width = 16;
    s.height = 8;
    s.frame = ramp(16, 8, 2);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    for (bool be : {true, false}) {
        s.bigEndian = be;
        expectKitFilePreview<cPictMRW>(writeMrw(s));
    }
}
