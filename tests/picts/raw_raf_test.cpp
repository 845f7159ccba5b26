// Fujifilm RAF: kit-written files (bare and directory raw blocks, 16-bit, 12-bit and 12-bit
// groups, Bayer and X-Trans, turned sensors) decode to the exact sensor frame through the
// frame hook, with the model's margins, black level and pattern; the turned sensor's plane
// holds each raw sample where the layout puts it; crafted and short files fail cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/raw/fuji/pictraf.h"
#include "rawkit/peers.h"
#include "rawkit/rafenc.h"
#include "testutil.h"

using namespace rawkit;

namespace {


RafSpec spec(int w, int h, int bits, unsigned seed) {
    RafSpec s;
    s.width = w;
    s.height = h;
    s.bits = bits;
    s.frame.resize((size_t)w * h);
    unsigned x = seed * 2654435761u + 9;
    for (size_t i = 0; i < s.frame.size(); i++) {
        x = x * 1103515245u + 12345u;
        s.frame[i] = (uint16_t)((i % (size_t)w) * 41 + (i / (size_t)w) * 23 + (x >> 16) % 300 + 250) % 4000 + 60;
    }
    return s;
}

}  // namespace

TEST(RawRaf, KitFramesDecodeExactly) {
    struct Case {
        const char* what;
        const char* camera;
        int w, h, bits;
        bool groups, directory;
        unsigned margins[3];  // left, right, top
        unsigned black;
        bool xtrans;
        int cfa[4];
    };
    const Case cases[] = {
        {"bare 16-bit", "FinePix KIT", 20, 12, 16, false, false, {0, 0, 0}, 240, false, {0, 1, 1, 2}},
        {"directory 16-bit", "FinePix S5000 ", 48, 12, 16, false, true, {36, 0, 4}, 240, false, {0, 1, 1, 2}},
        {"12-bit", "FinePix KIT", 21, 9, 12, false, true, {0, 0, 0}, 240, false, {0, 1, 1, 2}},
        // 20 samples a row in 12-byte groups of eight: the last group gives only four.
        {"12-bit groups", "X-A10", 20, 9, 12, true, true, {0, 0, 0}, 240, false, {0, 1, 1, 2}},
        {"X-Trans", "X-Pro1", 180, 12, 16, false, true, {1, 167, 1}, 240, true, {1, 1, 0, 1}},
        {"pattern 2 1 1 0", "X10", 100, 8, 16, false, true, {48, 47, 0}, 240, false, {2, 1, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RafSpec s = spec(c.w, c.h, c.bits, (unsigned)c.w);
        s.camera = c.camera;
        s.groups12 = c.groups;
        s.directory = c.directory;
        std::vector<unsigned char> file = writeRaf(s);
        const long long width = c.w - (long long)c.margins[0] - c.margins[1], height = c.h - (long long)c.margins[2];
        cPictRAF d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, file, width, height, seen));
        EXPECT_EQ(seen.width, c.w);
        EXPECT_EQ(seen.samples, s.frame);
        EXPECT_EQ(seen.black, c.black);
        EXPECT_EQ(d.xTrans(), c.xtrans);
        if (!c.xtrans) {
            for (int i = 0; i < 4; i++) EXPECT_EQ(seen.cfa[i], c.cfa[i]) << i;
        }
        // G R G B levels 302 256 302 400: (1, G / R, B / R, G / R).
        EXPECT_DOUBLE_EQ(seen.mul[1], 302.0 / 256.0);
        EXPECT_DOUBLE_EQ(seen.mul[2], 400.0 / 256.0);
        EXPECT_EQ(d.width(), width);
        EXPECT_EQ(d.height(), height);
    }
}

// The turned sensor: raw row r, column c lands at plane row h2 - 1 + r - c / 2, column
// (c + 1) / 2 + r (or, with the layout flag, row r / 2 + h2 - 1 - c, column (r + 1) / 2 + c
// for the first h2 columns); the plane is W = image height + h2 wide and W - 1 high.
TEST(RawRaf, TurnedSensorPlane) {
    for (bool layout : {false, true}) {
        SCOPED_TRACE(layout ? "layout flag" : "no layout flag");
        RafSpec s = spec(16, 10, 16, 5);
        s.rotated = true;
        s.layoutFlag = layout;
        std::vector<unsigned char> f = writeRaf(s);
        const long long width = (long long)(8 * std::sqrt(2.0)), height = (long long)(10 * std::sqrt(2.0));
        cPictRAF d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, f, width, height, seen));
        const long long h2 = 8, W = 10 + h2;
        ASSERT_EQ(seen.width, W);
        ASSERT_EQ(seen.height, W - 1);
        // Every raw sample (the later ones overwrite where two share a place) is found in
        // the plane at its own place or was overwritten by a later one.
        std::vector<int> last((size_t)(W * (W - 1)), -1);
        for (long long r = 0; r < 10; r++)
            for (long long c = 0; c < (layout ? h2 : 2 * h2); c++) {
                const long long pr = layout ? r / 2 + h2 - 1 - c : h2 - 1 + r - c / 2;
                const long long pc = layout ? (r + 1) / 2 + c : (c + 1) / 2 + r;
                if (pr < 0 || pr >= W - 1 || pc < 0 || pc >= W) continue;
                last[(size_t)(pr * W + pc)] = s.frame[(size_t)(r * 16 + c)];
            }
        for (size_t i = 0; i < last.size(); i++) EXPECT_EQ(seen.samples[i], last[i] < 0 ? 0 : last[i]) << i;
        EXPECT_EQ(d.width(), width);
        EXPECT_EQ(d.height(), height);
    }
}

TEST(RawRaf, CraftedAndShortFilesFailCleanly) {
    RafSpec s = spec(24, 8, 16, 2);
    const std::vector<unsigned char> good = writeRaf(s);
    // Property block with a record count of 0.
    {
        std::vector<unsigned char> f = good;
        const size_t props = (size_t)f[92] << 24 | f[93] << 16 | f[94] << 8 | f[95];
        f[props] = f[props + 1] = f[props + 2] = f[props + 3] = 0;
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_FALSE(cPictRAF::validFor(&io, nullptr));
    }
    // Packed 14-bit data (length width x height x 14 / 8) is refused.
    {
        RafSpec p = s;
        p.bits = 16;
        std::vector<unsigned char> f = writeRaf(p);
        // Bits 14 and a sample length of 24 x 8 x 14 / 8 = 336 bytes.
        for (size_t i = 0; i + 12 <= f.size(); i++)
            if (f[i] == 0xF0 && f[i + 1] == 0x03 && f[i + 3] == 4) f[i + 11] = 14;
        // The raw block ends 48 bytes early: 384 - 48 = 336 bytes of samples.
        const uint32_t len = (uint32_t)f[104] << 24 | f[105] << 16 | f[106] << 8 | f[107];
        for (int i = 0; i < 4; i++) f[104 + i] = (unsigned char)((len - 48) >> (24 - 8 * i));
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictRAF d;
        EXPECT_FALSE(d.decode(&io));
    }
    // A raw block directory pointing at itself: the nested walk refuses the cycle.
    {
        std::vector<unsigned char> f = good;
        const size_t raw = (size_t)f[100] << 24 | f[101] << 16 | f[102] << 8 | f[103];
        for (size_t i = raw + 8; i + 12 <= f.size(); i++)
            if (f[i] == 0xF0 && f[i + 1] == 0x00) {
                f[i + 8] = f[i + 9] = f[i + 10] = 0;
                f[i + 11] = 8;
                break;
            }
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_FALSE(cPictRAF::validFor(&io, nullptr));
    }
    decodeEachCut<cPictRAF>(good, 5, SIZE_MAX);
}
