// The test kit's files against the peers: DNG files with lossless-JPEG tiles and Canon-style
// sliced frames written by the kit must read, through `dcraw -D -4` and LibRaw's
// `unprocessed_raw`, as the frame they were made from, and our lossless-JPEG decoder must give
// that same frame from the file's bytes. The kit and the decoder therefore cannot share a
// misunderstanding of the format unnoticed. Skips when a peer is absent.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <cstdio>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/raw/rawljpeg.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

// The raw frame a peer reads from `path` (16-bit PGM); empty when it gave none.
std::vector<uint16_t> peerFrame(const std::string& tool, const std::string& path, int& w, int& h) {
    std::vector<unsigned char> pgm;
    if (tool == "dcraw") {
        std::string out;
        if (testutil::run({"dcraw", "-D", "-4", "-t", "0", "-c", path}, &out) != 0) return {};
        pgm.assign(out.begin(), out.end());
    } else {
        if (testutil::run({"unprocessed_raw", "-q", path}) != 0) return {};
        pgm = testutil::readFile(path + ".pgm");
    }
    jpegtest::Image im = jpegtest::parsePnm(pgm);
    w = im.w;
    h = im.h;
    if (im.channels != 1) return {};
    return im.px;
}

// Decodes the lossless-JPEG block at [offset, offset + length) of a file as a width x height frame.
std::vector<uint16_t> ourFrame(const std::vector<unsigned char>& file, uint64_t offset, uint64_t length, int width,
                               int height, int slices = 0, int sliceWidth = 0) {
    cBufWrapperIO io(file.data() + offset, (long long)length);
    cRAWLosslessJpeg d;
    if (slices)
        d.init((unsigned)width, (unsigned)height, slices, (unsigned)sliceWidth, (unsigned)(width - slices * sliceWidth));
    else
        d.init((unsigned)width, (unsigned)height, cRAWLosslessJpeg::stInOrder);
    if (!d.decodeFrame(&io)) return {};
    _typebuf<unsigned short>& f = d.getBitmap();
    return std::vector<uint16_t>(f.ptr, f.ptr + f.count);
}

}  // namespace

TEST(RawKitOracle, DngLosslessTilesReadAsTheirFrame) {
    struct Case {
        bool be;
        int width, height, tileWidth, tileHeight, components, bits, psv;
        int jpegWidth;  // 0: lines match tile rows
    };
    const Case cases[] = {
        {false, 64, 40, 0, 0, 2, 16, 1, 0},  {true, 64, 40, 0, 0, 2, 14, 1, 0},  {false, 96, 48, 32, 16, 2, 12, 6, 0},
        {true, 50, 30, 0, 0, 1, 16, 4, 0},    {false, 64, 32, 32, 32, 4, 16, 7, 0}, {true, 48, 48, 16, 16, 2, 10, 2, 0},
        // JPEG lines that do not match tile rows: both peers read the samples as one row-major
        // run (line * samples * components + k); 4 x 6 samples a line in a 48-wide tile is
        // where "4 / (width / samples)" rows a line would be 0 and every line would land on row 0.
        {false, 40, 30, 0, 0, 2, 16, 1, 15}, {true, 40, 30, 0, 0, 2, 16, 1, 25}, {false, 48, 32, 0, 0, 4, 16, 1, 6},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.be ? "MM " : "II ") << c.width << "x" << c.height << " tiles " << c.tileWidth
                                        << " nc" << c.components << " P" << c.bits << " psv" << c.psv
                                        << " jpeg width " << c.jpegWidth);
        DngSpec s;
        s.bigEndian = c.be;
        s.width = c.width;
        s.height = c.height;
        s.bits = c.bits;
        s.tileWidth = c.tileWidth;
        s.tileHeight = c.tileHeight;
        s.components = c.components;
        s.psv = c.psv;
        s.jpegWidth = c.jpegWidth;
        s.white = (1u << c.bits) - 1;
        s.frame = rampNoiseFrame(c.width, c.height, c.bits, (unsigned)(c.width + c.bits));
        DngBlocks blocks;
        std::vector<unsigned char> file = writeDng(s, &blocks);
        // Our decoder, tile by tile, gives the frame back.
        const int tw = c.tileWidth ? c.tileWidth : c.width, th = c.tileHeight ? c.tileHeight : c.height;
        std::vector<uint16_t> ours(s.frame.size(), 0);
        size_t t = 0;
        for (int ty = 0; ty < c.height; ty += th)
            for (int tx = 0; tx < c.width; tx += tw, t++) {
                ASSERT_LT(t, blocks.offset.size());
                std::vector<uint16_t> tile = ourFrame(file, blocks.offset[t], blocks.length[t], tw, th);
                ASSERT_EQ(tile.size(), (size_t)tw * th);
                for (int y = 0; y < th && ty + y < c.height; y++)
                    for (int x = 0; x < tw && tx + x < c.width; x++)
                        ours[(size_t)(ty + y) * c.width + tx + x] = tile[(size_t)y * tw + x];
            }
        EXPECT_EQ(ours, s.frame);
        std::string path = dir.file("kit.dng");
        ASSERT_TRUE(testutil::writeFile(path, file));
        for (const char* tool : {"dcraw", "unprocessed_raw"}) {
            if (!testutil::haveTool(tool)) {
                std::printf("skipped %s: not installed\n", tool);
                continue;
            }
            int w = 0, h = 0;
            std::vector<uint16_t> got = peerFrame(tool, path, w, h);
            ASSERT_EQ(w, c.width) << tool;
            ASSERT_EQ(h, c.height) << tool;
            EXPECT_EQ(got, s.frame) << tool;
        }
    }
}

// Canon-style sliced frames (two components, the slice tag 0xC640) in both byte orders.
TEST(RawKitOracle, SlicedFramesReadAsTheirFrame) {
    struct Case {
        bool be;
        int width, height, slices, sliceWidth, components;
    };
    // Both peers re-read a Canon frame of an unlikely aspect (100 x 20, 64 x 16) as half as
    // wide and twice as high; the cases keep camera-like proportions.
    const Case cases[] = {{false, 96, 24, 2, 32, 2}, {false, 100, 40, 1, 48, 2}, {true, 64, 32, 3, 16, 4}};
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " slices " << c.slices << "x" << c.sliceWidth);
        Cr2Spec s;
        s.bigEndian = c.be;
        s.width = c.width;
        s.height = c.height;
        s.sliceCount = c.slices;
        s.sliceWidth = c.sliceWidth;
        s.components = c.components;
        s.frame = rampNoiseFrame(c.width, c.height, 12, (unsigned)c.width);
        uint64_t off = 0, len = 0;
        std::vector<unsigned char> file = writeCr2(s, off, len);
        EXPECT_EQ(ourFrame(file, off, len, c.width, c.height, c.slices, c.sliceWidth), s.frame);
        std::string path = dir.file("kit.cr2");
        ASSERT_TRUE(testutil::writeFile(path, file));
        for (const char* tool : {"dcraw", "unprocessed_raw"}) {
            if (!testutil::haveTool(tool)) {
                std::printf("skipped %s: not installed\n", tool);
                continue;
            }
            int w = 0, h = 0;
            std::vector<uint16_t> got = peerFrame(tool, path, w, h);
            ASSERT_EQ(w, c.width) << tool;
            ASSERT_EQ(h, c.height) << tool;
            EXPECT_EQ(got, s.frame) << tool;
        }
    }
}
