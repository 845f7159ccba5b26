// Canon CRW: kit files (every code table, both byte orders, with and without low bits, frames
// no multiple of 64) decode to their exact frame through the frame hook, and read as that
// frame through dcraw and LibRaw; the colour balance is read only where its 8 bytes lie inside
// the record; heap walks refuse what does not fit; truncations and damage fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/raw/canon/pictcrw.h"
#include "rawkit/canonenc.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

CrwSpec kitSpec(int sw, int sh, int bits, unsigned seed) {
    CrwSpec s;
    s.sensorWidth = sw;
    s.sensorHeight = sh;
    s.leftBorder = 4;
    s.topBorder = 2;
    s.width = sw - 8;
    s.height = sh - 4;
    // Noise over the whole range: the peers tell files with low bits from those without by
    // the bytes they see (0xFF followed by 0x00 only in the stuffed code).
    unsigned x = seed * 2654435761u + 1;
    for (int i = 0; i < sw * sh; i++) {
        x = x * 1103515245u + 12345u;
        s.frame.push_back((uint16_t)((x >> 8) % (1u << bits)));
    }
    return s;
}

bool decodeSeen(const std::vector<unsigned char>& file, SeenFrame& seen) {
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictCRW d;
    return decodeSeeingFrame(d, &io, seen);
}

}  // namespace

TEST(CanonCrw, KitFramesDecodeExactlyAsThePeersReadThem) {
    struct Case {
        bool be;
        int table;
        bool lowBits;
        int w, h;
        bool peers;
    };
    const Case cases[] = {
        {false, 0, false, 64, 48, true}, {false, 1, false, 96, 40, true}, {false, 2, false, 64, 32, true},
        {true, 1, false, 64, 32, false}, {false, 1, true, 128, 64, true}, {false, 0, false, 30, 7, false},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " table " << c.table << (c.lowBits ? " low bits" : "")
                                        << (c.be ? " MM" : " II"));
        CrwSpec s = kitSpec(c.w, c.h, c.lowBits ? 12 : 10, (unsigned)(c.w + c.table));
        s.bigEndian = c.be;
        s.table = c.table;
        s.lowBits = c.lowBits;
        // The peers look at the bytes from where the code starts without low bits: 0xFF then
        // 0x00 is stuffed code (no low bits), 0xFF then anything else low bits. Keep every
        // low-bit byte non-zero and make one of them (file byte 626) 0xFF.
        if (c.lowBits) {
            for (size_t i = 0; i < s.frame.size(); i += 4) s.frame[i] |= 1;
            for (size_t i = 2400; i < 2404; i++) s.frame[i] |= 3;
        }
        s.modelId = c.lowBits ? 0x80000170 : 0x80000999;
        std::vector<unsigned char> file = writeCrw(s);
        SeenFrame seen;
        ASSERT_TRUE(decodeSeen(file, seen));
        EXPECT_EQ(seen.width, c.w);
        EXPECT_EQ(seen.height, c.h);
        EXPECT_EQ(seen.samples, s.frame);
        EXPECT_EQ(seen.margins[0], 4u);
        EXPECT_EQ(seen.margins[1], 4u);
        EXPECT_EQ(seen.margins[2], 2u);
        EXPECT_EQ(seen.margins[3], 2u);
        EXPECT_EQ(seen.black, c.lowBits ? 128u : 0u);
        if (!c.peers) continue;
        for (const char* tool : installedPeers()) {
            int w = 0, h = 0;
            std::vector<uint16_t> got = peerFrameOf(tool, dir, file, ".crw", w, h);
            // LibRaw gives the whole sensor frame, dcraw the picture's size from the frame's corner.
            std::vector<uint16_t> want = s.frame;
            if (w == s.width && h == s.height) {
                want.clear();
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++) want.push_back(s.frame[(size_t)y * c.w + x]);
            } else {
                ASSERT_EQ(w, c.w) << tool;
                ASSERT_EQ(h, c.h) << tool;
            }
            EXPECT_EQ(got, want) << tool;
        }
    }
}

TEST(CanonCrw, ColourBalanceOnlyWhereItsBytesFit) {
    struct Case {
        int wbIndexStored;  // shot info
        int balanceLength;
        int writtenAt;      // the index whose slot holds the levels (-1: written at byte 2)
    };
    const Case cases[] = {
        {0, 82, 0},
        {14, 82, 1},   // 14 reads as 1
        {12, 82, 6},   // 12 reads as 6
        {9, 82, 9},    // 9 stays
        {6, 10, -1},   // 8 * 6 + 2 passes 10 bytes: the first set is read
        {2, 20, -1},   // byte 18 starts inside the record, but its 8 bytes do not fit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.wbIndexStored << " length " << c.balanceLength);
        CrwSpec s = kitSpec(32, 16, 10, 1);
        // The writer puts the levels at the slot of the index it is given; pick that slot.
        s.wbIndex = c.writtenAt < 0 ? 0 : c.writtenAt;
        s.balanceLength = c.balanceLength;
        s.levels[0] = 2000;
        s.levels[1] = 1000;
        s.levels[2] = 1000;
        s.levels[3] = 1600;
        std::vector<unsigned char> file = writeCrw(s);
        // Then store the index under test at byte 12 of the shot info (record 0x102A of 14
        // bytes). The camera heap starts with the make and model record, at its offset 0.
        size_t heap = 0, entry = 0;
        for (size_t k = 0; k + 15 <= file.size() && !heap; k++)
            if (!memcmp(&file[k], "Canon\0Canon EOS", 15)) heap = k;
        for (size_t k = heap; k + 10 <= file.size() && !entry; k++)
            if (file[k] == 0x2A && file[k + 1] == 0x10 && file[k + 2] == 14 && !file[k + 3]) entry = k;
        ASSERT_TRUE(heap && entry);
        file[heap + (file[entry + 6] | file[entry + 7] << 8) + 12] = (unsigned char)c.wbIndexStored;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeen(file, seen));
        // Red 2000 over green 1000; blue 1600.
        EXPECT_NEAR(seen.mul[0] / seen.mul[1], 2.0, 1e-9);
        EXPECT_NEAR(seen.mul[2] / seen.mul[1], 1.6, 1e-9);
    }
}

TEST(CanonCrw, FourColourSensorsMixTheirDyes) {
    CrwSpec s = kitSpec(32, 16, 10, 2);
    s.modelId = 0x3010000;
    std::vector<unsigned char> file = writeCrw(s);
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictCRW d;
    SeenFrame seen;
    ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
    EXPECT_EQ(seen.samples, s.frame);
    EXPECT_EQ(seen.cfa[0], 1);
    EXPECT_EQ(seen.cfa[1], 2);
    EXPECT_EQ(seen.cfa[2], 3);
    EXPECT_EQ(seen.cfa[3], 0);
    EXPECT_EQ(d.width(), 24);
    EXPECT_EQ(d.height(), 12);
}

TEST(CanonCrw, HostileHeapsAndTruncations) {
    CrwSpec s = kitSpec(64, 32, 10, 3);
    const std::vector<unsigned char> good = writeCrw(s);
    auto accepts = [](const std::vector<unsigned char>& f) {
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictCRW d;
        return d.decode(&io);
    };
    ASSERT_TRUE(accepts(good));
    const size_t rootDir = 26 + (good[good.size() - 4] | good[good.size() - 3] << 8);
    struct Case {
        const char* name;
        size_t at;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        {"empty root directory", rootDir, {0, 0}},
        {"location bits 0x8000", rootDir + 2, {0x05, 0xA0}},
        {"ending tag bits", rootDir + 2, {0x05, 0x38}},
        {"directory offset past the heap", good.size() - 4, {0xFF, 0xFF, 0, 0}},
        {"sensor data past the heap", rootDir + 4, {0xFF, 0xFF, 0xFF, 0x0F}},
        {"no signature", 6, {'H', 'E', 'A', 'P', 'J', 'P', 'G', 'M'}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bad = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + (long)c.at);
        EXPECT_FALSE(accepts(bad)) << c.name;
    }
    for (size_t n = 0; n < good.size(); n += n < 600 ? 7 : 251) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + (long)n);
        EXPECT_FALSE(accepts(cut)) << n;
    }
    for (size_t i = 0; i < good.size(); i += i < 600 ? 3 : 97) {
        std::vector<unsigned char> bad = good;
        bad[i] ^= 0xA5;
        accepts(bad);
    }
}

// Probe, size and refusal are checked with the other real samples.
TEST(CanonCrw, RealFileRecords) {
    std::vector<unsigned char> f = sharedRawOrSkip("CanonRaw.crw");
    if (f.empty()) return;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictCRW d;
    EXPECT_FALSE(d.decode(&io));  // 22 bytes of sensor data are left in the sample
    EXPECT_EQ(d.info().modelId, 0x80000170u);
    EXPECT_EQ(d.info().sensor[1], 3152);  // `dcraw -i`: full size 3152 x 2068
    EXPECT_EQ(d.info().sensor[2], 2068);
    EXPECT_EQ(d.info().levels[0], 1740);  // `dcraw -i -v`: camera multipliers 1740 832 931 831
    EXPECT_EQ(d.info().levels[1], 832);
    EXPECT_EQ(d.info().levels[2], 931);
    EXPECT_EQ(d.info().levels[3], 831);
}
