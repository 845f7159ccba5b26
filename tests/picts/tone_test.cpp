// Histogram levels against worked values, gamma curves against the published transfer curve.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "picts/tone.h"

namespace {

// Inside a bin a level is the bin's start + (running count - threshold) * step / bin count,
// so levels in one bin can come out in reverse order (the fourth case).
TEST(Tone, HistogramParamsMatchReference) {
    struct {
        std::vector<unsigned> bins;
        int bits;
        double fraction;
        unsigned low, middle, high;
    } cases[] = {
        {{10, 10, 10, 10}, 8, 0.9, 44, 83, 211},
        {std::vector<unsigned>(256, 3), 8, 0.99, 2, 125, 253},
        {{0, 0, 100, 0, 0, 0, 0, 50}, 8, 0.8, 86, 81, 242},
        {{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000}, 16, 0.95, 65351, 63705, 61644},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 8, 1.0, 32, 176, 224},
    };
    for (auto& c : cases) {
        _typebuf<unsigned int> bins;
        ASSERT_TRUE(bins.set(c.bins.data(), (long long)c.bins.size()));
        unsigned l, m, h;
        EXPECT_TRUE(getHystogramParams(bins, c.bits, l, m, h, c.fraction));
        EXPECT_EQ(l, c.low);
        EXPECT_EQ(m, c.middle);
        EXPECT_EQ(h, c.high);
    }
}

TEST(Tone, HistogramParamsRefuseBadInput) {
    _typebuf<unsigned int> three, zero, four, big;
    three.set(3);
    three.zero();
    zero.set(4);
    zero.zero();
    four.set(4);
    for (int i = 0; i < 4; i++) four.ptr[i] = 1;
    big.set(512);
    for (int i = 0; i < 512; i++) big.ptr[i] = 1;
    _typebuf<unsigned int> empty;
    unsigned l = 1, m = 1, h = 1;
    EXPECT_FALSE(getHystogramParams(three, 8, l, m, h, 0.5));
    EXPECT_EQ(l, 0xFFFFFFFFu);
    EXPECT_FALSE(getHystogramParams(zero, 8, l, m, h, 0.5));
    EXPECT_FALSE(getHystogramParams(empty, 8, l, m, h, 0.5));
    EXPECT_FALSE(getHystogramParams(four, 8, l, m, h, 0.0));
    EXPECT_FALSE(getHystogramParams(four, 8, l, m, h, 1.5));
    EXPECT_FALSE(getHystogramParams(four, 12, l, m, h, 0.5));
    EXPECT_FALSE(getHystogramParams(big, 8, l, m, h, 0.5));  // more bins than levels
    EXPECT_TRUE(getHystogramParams(big, 16, l, m, h, 0.5));
}

// The transfer curve with exponent 0.45 and toe slope 4.5 is the published BT.709 one:
// 4.5 x below 0.018, 1.099 x^0.45 - 0.099 above.
TEST(Tone, GammaCurveMatchesBt709) {
    _typebuf<unsigned int> c;
    ASSERT_TRUE(makeDeCurveFromGamma(c, 16, 1.0 / 0.45, 0, 65535));
    ASSERT_EQ(c.count, 65536);
    for (unsigned v = 0; v < 65535; v += 97) {
        double x = v / 65535.0;
        double y = x < 0.018 ? 4.5 * x : 1.099 * std::pow(x, 0.45) - 0.099;
        EXPECT_NEAR((double)c.ptr[v], y * 65535.0, 65535.0 * 0.0015) << v;
    }
    EXPECT_EQ(c.ptr[65535], 65535u);
    for (long long i = 1; i < c.count; i++) ASSERT_GE(c.ptr[i], c.ptr[i - 1]) << i;
}

TEST(Tone, GammaCurveBlackWhiteAndRefusals) {
    _typebuf<unsigned int> c;
    ASSERT_TRUE(makeDeCurveFromGamma(c, 8, 2.2, 16, 235));
    ASSERT_EQ(c.count, 256);
    for (int v = 0; v < 16; v++) EXPECT_EQ(c.ptr[v], 0u);
    for (int v = 235; v < 256; v++) EXPECT_EQ(c.ptr[v], 255u);
    EXPECT_EQ(c.ptr[16], 0u);
    for (int v = 17; v < 235; v++) EXPECT_GE(c.ptr[v], c.ptr[v - 1]);
    // Gamma 1: no toe, a straight line.
    ASSERT_TRUE(makeDeCurveFromGamma(c, 8, 1.0, 0, 255));
    for (int v = 0; v < 256; v++) EXPECT_EQ(c.ptr[v], (unsigned)v);
    EXPECT_FALSE(makeDeCurveFromGamma(c, 8, 0.0, 0, 255));
    EXPECT_FALSE(makeDeCurveFromGamma(c, 8, 2.2, 100, 100));
    EXPECT_FALSE(makeDeCurveFromGamma(c, 8, 2.2, 0, 256));
    EXPECT_FALSE(makeDeCurveFromGamma(c, 12, 2.2, 0, 255));
}

}  // namespace
