// The test kit's files against the peers: DNG files with lossless-JPEG tiles written by the
// kit must read, through `dcraw -D -4` and LibRaw's `unprocessed_raw`, as the frame they were
// made from, and our lossless-JPEG decoder must give that same frame from the file's bytes
// (the kit's Canon frames are held against the peers in the CR2 tests). The kit and the
// decoder therefore cannot share a misunderstanding of the format unnoticed. Skips when a peer
// is absent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/raw/canon/pictcr2.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/tiff/pictdng.h"
#include "rawkit/canonenc.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/peers.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

// Decodes the lossless-JPEG block at [offset, offset + length) of a file as a width x height frame.
std::vector<uint16_t> ourFrame(const std::vector<unsigned char>& file, uint64_t offset, uint64_t length, int width,
                               int height, bool diff16Bits = false) {
    cBufWrapperIO io(file.data() + offset, (long long)length);
    cRAWLosslessJpeg d;
    d.setDiff16Bits(diff16Bits);
    d.init((unsigned)width, (unsigned)height, cRAWLosslessJpeg::stInOrder);
    if (!d.decodeFrame(&io)) return {};
    _typebuf<unsigned short>& f = d.getBitmap();
    return std::vector<uint16_t>(f.ptr, f.ptr + f.count);
}

// Our pixel grouping of a frame (colours of the crop's first 2 x 2 in cfa, margins left,
// right, top, bottom) with unit multipliers and no black level against dcraw -q 2 given the
// same (no scaling) on the file at path: inside the 4-pixel border every channel must agree.
void expectPpgAsThePeers(const std::string& path, std::vector<uint16_t> raw, int width, int height,
                         const unsigned char cfa[4], const unsigned margins[4] = nullptr) {
    std::string out;
    ASSERT_EQ(testutil::run({"dcraw", "-q", "2", "-4", "-o", "0", "-r", "1", "1", "1", "1", "-k", "0", "-S", "65535",
                             "-t", "0", "-c", path},
                            &out),
              0);
    jpegtest::Image peer = jpegtest::parsePnm(std::vector<unsigned char>(out.begin(), out.end()));
    sMarginInfo m;
    if (margins) m = {margins[0], margins[1], margins[2], margins[3]};
    const int cw = width - (int)(m.left + m.right), ch = height - (int)(m.top + m.bottom);
    ASSERT_EQ(peer.w, cw);
    ASSERT_EQ(peer.h, ch);
    ASSERT_EQ(peer.channels, 3);

    sCFAData pattern;
    pattern.rows = pattern.cols = 2;
    pattern.pattern.set(cfa, 4);
    std::unique_ptr<cBayerFilter> filter(cBayerFilter::newFilter(pattern));
    ASSERT_TRUE(filter);
    std::vector<unsigned long long> px((size_t)cw * ch);
    sInterpolateInfo info;
    info.raw = raw.data();
    info.pixels = px.data();
    info.width = width;
    info.height = height;
    info.filter = filter.get();
    ASSERT_TRUE(interpolatePPG(info, &m));
    int bad = 0;
    for (int y = 4; y < ch - 4; y++)
        for (int x = 4; x < cw - 4; x++) {
            unsigned long long p = px[(size_t)y * cw + x];
            unsigned ours[3] = {(unsigned)(p >> 32) & 0xFFFF, (unsigned)(p >> 16) & 0xFFFF, (unsigned)p & 0xFFFF};
            for (int k = 0; k < 3; k++)
                if (ours[k] != peer.at(x, y, k) && bad++ < 5)
                    ADD_FAILURE() << "(" << x << "," << y << ") channel " << k << ": ours " << ours[k] << " peer "
                                  << peer.at(x, y, k);
        }
    EXPECT_EQ(bad, 0);
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
        // Precision 15 with 1, 2 or 4 components is a plain frame like any other.
        {false, 50, 30, 0, 0, 1, 15, 1, 0},   {true, 64, 40, 0, 0, 2, 15, 6, 0}, {false, 64, 32, 0, 0, 4, 15, 1, 8},
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
        expectPeersReadAs(dir, file, ".dng", c.width, c.height, s.frame);
    }
}

// Pixel grouping against the peer's own (dcraw -q 2) on kit DNG files, and on the frame and
// crop our DNG decoder reads from the real sample (its black level and white balance are
// applied elsewhere by each side: here neither scales).
TEST(RawKitOracle, PpgMatchesThePeersPixelGrouping) {
    if (!testutil::haveTool("dcraw")) GTEST_SKIP() << "dcraw not installed";
    struct Case {
        bool be;
        int width, height;
        unsigned char cfa[4];
        unsigned seed;
    };
    // The last is wider than the demosaic's column tiles (2048).
    const Case cases[] = {{false, 64, 48, {0, 1, 1, 2}, 1}, {true, 37, 29, {2, 1, 1, 0}, 2}, {false, 40, 30, {1, 0, 2, 1}, 3},
                          {false, 50, 33, {1, 2, 0, 1}, 4}, {false, 4140, 24, {0, 1, 1, 2}, 5}};
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " cfa " << (int)c.cfa[0] << (int)c.cfa[1]
                                        << (int)c.cfa[2] << (int)c.cfa[3]);
        DngSpec s;
        s.bigEndian = c.be;
        s.width = c.width;
        s.height = c.height;
        s.ljpeg = false;
        for (int i = 0; i < 4; i++) s.cfa[i] = c.cfa[i];
        s.frame = rampNoiseFrame(c.width, c.height, 14, c.seed);
        // Edges in both directions, so that the gradient choices matter.
        for (int y = 0; y < c.height; y++)
            for (int x = 0; x < c.width; x++)
                if ((x / 7 + y / 5) % 2) s.frame[(size_t)y * c.width + x] += (uint16_t)(3000 + 97 * (x % 3));
        std::string path = dir.file("ppg.dng");
        ASSERT_TRUE(testutil::writeFile(path, writeDng(s)));
        expectPpgAsThePeers(path, s.frame, c.width, c.height, c.cfa);
    }

    // Active area and default crop of a real camera's file: the crop and the pattern's anchor
    // must be the peer's.
    std::vector<unsigned char> file = sharedRawOrSkip("colorchart.dng");
    if (file.empty()) return;
    SeenFrame seen;
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictDNG dng;
    ASSERT_TRUE(decodeSeeingFrame(dng, &io, seen));
    unsigned char cfa[4];
    for (int i = 0; i < 4; i++) cfa[i] = (unsigned char)seen.cfa[i];
    std::string path = dir.file("colorchart.dng");
    ASSERT_TRUE(testutil::writeFile(path, file));
    expectPpgAsThePeers(path, seen.samples, (int)seen.width, (int)seen.height, cfa, seen.margins);
}

// Difference category 16: T.81 codes the difference 32768 without extra bits, and both peers
// read it so in DNG 1.1 and later; in DNG 1.0 files both read 16 more bits holding the
// difference, as early writers put them there. Frames alternating 7232 and 40000 need
// category 16 at every sample.
TEST(RawKitOracle, DifferenceCategory16FollowsTheDngVersion) {
    struct Case {
        unsigned char version[4];
        bool extraBits;
    };
    const Case cases[] = {{{1, 4, 0, 0}, false}, {{1, 1, 0, 0}, false}, {{1, 0, 0, 0}, true}};
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "DNG " << (int)c.version[0] << "." << (int)c.version[1]);
        DngSpec s;
        s.width = s.height = 32;
        s.components = 1;
        for (int i = 0; i < 4; i++) s.version[i] = c.version[i];
        s.diff16Bits = c.extraBits;
        for (int y = 0; y < 32; y++)
            for (int x = 0; x < 32; x++) s.frame.push_back((uint16_t)(((x + y) & 1) ? 40000 : 7232));
        DngBlocks blocks;
        std::vector<unsigned char> file = writeDng(s, &blocks);
        ASSERT_EQ(blocks.offset.size(), 1u);
        EXPECT_EQ(ourFrame(file, blocks.offset[0], blocks.length[0], 32, 32, c.extraBits), s.frame);
        // Read the other way, the same bytes are not this frame.
        EXPECT_NE(ourFrame(file, blocks.offset[0], blocks.length[0], 32, 32, !c.extraBits), s.frame);
        expectPeersReadAs(dir, file, ".dng", 32, 32, s.frame);
    }
}

// Small raw with 2x2 luma blocks: LibRaw (dcraw_emu with its small-raw colour conversion
// switched off) reads the luma plane in decode order, not with T.81's predictor 1; its output
// is the luma plane times one scale. Our CR2 reader must read the kit's file as the peer does,
// whichever prediction the kit coded with: the frame itself when coded in decode order (as the
// cameras do), the peer's same misreading when not. dcraw gives no values without the maker
// note's colour data, and unprocessed_raw takes Bayer frames only, so this is the one peer
// that reads the case.
TEST(RawKitOracle, SmallRawLumaIsReadInDecodeOrder) {
    if (!testutil::haveTool("dcraw_emu")) GTEST_SKIP() << "dcraw_emu not installed";
    const int W = 64, H = 32;
    testutil::TempDir dir;
    for (bool decodeOrder : {true, false}) {
        SCOPED_TRACE(decodeOrder ? "decode order" : "T.81");
        std::vector<LjComp> c(3);
        c[0].h = 2;
        c[0].v = 2;
        c[0].w = W;
        c[0].hgt = H;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) c[0].px.push_back((uint16_t)(1000 + x * 10 + y * 100));
        for (int k = 1; k < 3; k++) {
            c[k].w = W / 2;
            c[k].hgt = H / 2;
            c[k].px.assign((size_t)W / 2 * H / 2, 16384);
        }
        LjOptions o;
        o.precision = 15;
        o.decodeOrder = decodeOrder;
        CanonCr2Spec s;
        s.width = 2 * W;
        s.height = H / 2;
        s.sliceTag = {1, (uint32_t)(3 * W), (uint32_t)(3 * W)};
        s.jpeg = encodeLossless(c, W, H, o);
        // The sensor's right and bottom borders, which the peer crops to.
        std::vector<uint32_t> sensor(17, 0);
        sensor[0] = 34;
        sensor[1] = sensor[7] = (uint32_t)s.width;
        sensor[2] = sensor[8] = (uint32_t)s.height;
        sensor[7]--;
        sensor[8]--;
        s.extraNote.push_back({224, 3, 17, bytesOf(sensor, 2, false)});
        std::vector<unsigned char> file = writeCanonCr2(s);
        SeenFrame seen;
        ASSERT_TRUE(decodeKitFile<cPictCR2>(file, &seen));
        ASSERT_EQ(seen.channels, 3);
        ASSERT_EQ(seen.samples.size(), (size_t)W * H * 3);
        std::string path = dir.file("small.cr2");
        ASSERT_TRUE(testutil::writeFile(path, file));
        ASSERT_EQ(testutil::run({"dcraw_emu", "-dsrawrgb2", "-4", "-o", "0", "-W", path}), 0);
        jpegtest::Image peer = jpegtest::parsePnm(testutil::readFile(path + ".ppm"));
        ASSERT_EQ(peer.w, 2 * W);
        ASSERT_EQ(peer.h, H / 2);
        const double scale = (double)peer.at(0, 0, 0) / seen.samples[0];
        int offPeer = 0, offKit = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                // The JPEG's top half is the frame's left slice, its bottom half the right one.
                const int fx = y < H / 2 ? x : W + x, fy = y % (H / 2);
                const uint16_t ours = seen.samples[((size_t)fy * 2 * W + fx) * 3];
                if (std::abs(peer.at(fx, fy, 0) - scale * ours) > 2.0) offPeer++;
                if (ours != c[0].px[(size_t)y * W + x]) offKit++;
            }
        EXPECT_EQ(offPeer, 0);
        if (decodeOrder)
            EXPECT_EQ(offKit, 0);
        else
            EXPECT_GT(offKit, W * H / 2);
    }
}
