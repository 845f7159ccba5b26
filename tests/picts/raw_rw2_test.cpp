// Panasonic RW2: kit-written files of every sample layout decode to the exact sensor frame
// (through the frame hook) with the model's margins and black level and the balance of the
// file; the same files read the same through dcraw and LibRaw; truncated and crafted files
// fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "rawkit/peers.h"
#include "rawkit/rw2enc.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {


// Smooth enough for the compressed code (steps within its reach), never below 16.
std::vector<uint16_t> scene(int w, int h, unsigned seed) {
    std::vector<uint16_t> f((size_t)w * h);
    unsigned x = seed * 2654435761u + 7;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            x = x * 1103515245u + 12345u;
            f[(size_t)r * w + c] = (uint16_t)((200 + c * 23 + r * 11 + (x >> 16) % 90 + ((c / 5) % 3) * 700) % 3900 + 100);
        }
    return f;
}

Rw2Spec spec(Rw2Spec::Layout layout, int w, int h, const std::string& model) {
    Rw2Spec s;
    s.layout = layout;
    s.width = w;
    s.height = h;
    s.frame = scene(w, h, (unsigned)(w + h + layout));
    s.model = model;
    return s;
}

}  // namespace

TEST(RawRw2, KitFramesDecodeExactly) {
    struct Case {
        Rw2Spec::Layout layout;
        int w, h;
        const char* model;
        uint32_t pattern;
        int cfa[4];
        unsigned margins[4];  // left, right, top, bottom
        unsigned black;
        int rowsPerStrip;
    };
    const Case cases[] = {
        {Rw2Spec::Plain16, 20, 12, "DMC-KIT", 1, {0, 1, 1, 2}, {0, 0, 0, 0}, 0, 0},
        {Rw2Spec::Plain16, 21, 13, "DMC-FZ8", 2, {1, 0, 2, 1}, {4, 29 - 20, 0, 0}, 0, 5},
        {Rw2Spec::Packed12, 20, 10, "DMC-FZ1000", 3, {1, 2, 0, 1}, {0, 0, 0, 0}, 120, 0},
        {Rw2Spec::Compressed, 28, 10, "DMC-KIT", 4, {2, 1, 1, 0}, {0, 0, 0, 0}, 0, 0},
        {Rw2Spec::Compressed, 42, 9, "DMC-L10", 1, {0, 1, 1, 2}, {0, 28 - 20, 0, 4}, 0, 0},
        {Rw2Spec::Compressed, 56, 12, "DMC-CM1", 4, {2, 1, 1, 0}, {0, 0, 0, 0}, 120, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << " layout " << c.layout << " " << c.w << "x" << c.h);
        Rw2Spec s = spec(c.layout, c.w, c.h, c.model);
        s.pattern = c.pattern;
        s.rowsPerStrip = c.rowsPerStrip;
        s.splitBlocks = std::string(c.model) != "DMC-L10";
        std::vector<unsigned char> file = writeRw2(s);
        ASSERT_FALSE(file.empty());
        cBufWrapperIO io(file.data(), (long long)file.size());
        cPictRWL d;
        if (c.margins[1] == 29 - 20) {
            // DMC-FZ8 crops 4 + 29 columns: more than this frame has.
            cPictBase::sPictInfo info;
            EXPECT_FALSE(cPictRWL::validFor(&io, &info));
            SeenFrame seen;
            EXPECT_FALSE(decodeSeeingFrame(d, &io, seen));
            continue;
        }
        if (c.margins[1] == 28 - 20) {
            // DMC-L10 crops 28 columns and 4 rows.
            cPictBase::sPictInfo info;
            ASSERT_TRUE(cPictRWL::validFor(&io, &info));
            EXPECT_EQ(info.width, c.w - 28);
            EXPECT_EQ(info.height, c.h - 4);
        }
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(d.splitBlocks(), s.splitBlocks);
        EXPECT_EQ(seen.samples, s.frame);
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.cfa[i], c.cfa[i]) << i;
        EXPECT_EQ(seen.black, c.black);
        // Levels red 512, green 256, blue 384 over red: (1, g / r, b / r, g / r).
        EXPECT_DOUBLE_EQ(seen.mul[0], 1.0);
        EXPECT_DOUBLE_EQ(seen.mul[1], 256.0 / 384.0);
        EXPECT_DOUBLE_EQ(seen.mul[2], 512.0 / 384.0);
        EXPECT_TRUE(d.is16Bpp());
        EXPECT_EQ(d.width(), c.w - (long long)seen.margins[0] - seen.margins[1]);
        EXPECT_EQ(d.height(), c.h - (long long)seen.margins[2] - seen.margins[3]);
    }
}

// LibRaw refuses these small kit files as a format it does not support; dcraw reads them.
TEST(RawRw2, KitFilesReadAlikeByPeers) {
    testutil::TempDir dir;
    for (Rw2Spec::Layout layout : {Rw2Spec::Plain16, Rw2Spec::Packed12, Rw2Spec::Compressed}) {
        SCOPED_TRACE(testing::Message() << "layout " << layout);
        // Rows a multiple of ten samples wide: the peers pad the 12-bit packing per row.
        Rw2Spec s = spec(layout, 140, 64, "DMC-KIT");
        const std::vector<unsigned char> f = writeRw2(s);
        expectPeersReadAs(dir, f, ".rw2", s.width, s.height, s.frame, {"dcraw"});
    }
}

TEST(RawRw2, ShortAndCraftedFilesFailCleanly) {
    // A compressed stream may end within the last 7 rows (they stay 0), not earlier.
    {
        Rw2Spec s = spec(Rw2Spec::Compressed, 28, 600, "DMC-KIT");
        std::vector<unsigned char> full = writeRw2(s);
        ASSERT_FALSE(full.empty());
        // 28 x 600 samples fill three blocks and part of a fourth: drop the last block.
        std::vector<unsigned char> cut(full.begin(), full.end() - 0x4000);
        cBufWrapperIO io(cut.data(), (long long)cut.size());
        cPictRWL d;
        SeenFrame seen;
        const bool ok = decodeSeeingFrame(d, &io, seen);
        // Whatever the outcome, never more than 7 rows may be missing when it succeeds.
        if (ok) {
            long long zeros = 0;
            for (long long r = s.height - 1; r >= 0 && !seen.samples[(size_t)r * s.width + 1]; r--) zeros++;
            EXPECT_LE(zeros, 7);
        }
        EXPECT_FALSE(ok);  // the last block holds well over 8 rows
    }
    Rw2Spec s = spec(Rw2Spec::Plain16, 20, 12, "DMC-KIT");
    const std::vector<unsigned char> good = writeRw2(s);
    decodeEachCut<cPictRWL>(good, 7, SIZE_MAX);
    // Pattern codes outside 1-4 pass the probe and fail the decode.
    for (uint32_t pattern : {0u, 5u}) {
        Rw2Spec p = s;
        p.pattern = pattern;
        std::vector<unsigned char> f = writeRw2(p);
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_TRUE(cPictRWL::validFor(&io, nullptr));
        cPictRWL d;
        io.set_fp(0);
        EXPECT_FALSE(d.decode(&io));
    }
}

// 65536 x 8197 samples: width x height x 8 is 2^32 + 5 x 2^19, so in 32 bits it equals
// 5 x a strip of 2^19 bytes and the frame would pass as padded 12-bit data; in 64 bits it
// does not, and a strip of 512 KiB cannot hold a frame of 537 million samples: refused
// before anything of that size is allocated.
TEST(RawRw2, PackedSizeCheckedIn64Bits) {
    TiffWriter t(false, false);
    const int ifd = t.newIfd();
    t.addLongs(ifd, 2, {65536});
    t.addLongs(ifd, 3, {8197});
    t.addShorts(ifd, 9, {1});
    t.addBlocks(ifd, 273, 279, {std::vector<unsigned char>(1 << 19, 0x11)});
    std::vector<unsigned char> f = t.write(ifd);
    f[2] = 0x55;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictBase::sPictInfo info;
    EXPECT_TRUE(cPictRWL::validFor(&io, &info));
    cPictRWL d;
    io.set_fp(0);
    EXPECT_FALSE(d.decode(&io));
}
