// Histogram levels and gamma curves against plain reference computations.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "picts/tone.h"

namespace {

TEST(Tone, HistogramParamsMatchReference) {
    struct {
        std::vector<unsigned> bins;
        int bits;
        double fraction;
    } cases[] = {
        {{10, 10, 10, 10}, 8, 0.9},
        {std::vector<unsigned>(256, 3), 8, 0.99},
        {{0, 0, 100, 0, 0, 0, 0, 50}, 8, 0.8},
        {{5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000}, 16, 0.95},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 8, 1.0},
    };
    for (auto& c : cases) {
        // Reference: one independent pass per threshold.
        long long total = 0;
        for (unsigned b : c.bins) total += b;
        long long tail = (long long)((1.0 - c.fraction) * total);
        long long step = (1LL << c.bits) / (long long)c.bins.size();
        auto find = [&](long long thr, long long& out) {
            long long run = 0;
            for (size_t i = 0; i < c.bins.size(); i++) {
                run += c.bins[i];
                if (run >= thr) {
                    out = (long long)i * step + (c.bins[i] ? (run - thr) * step / c.bins[i] : 0);
                    return true;
                }
            }
            return false;
        };
        long long lo = -1, mid = -1, hi = -1;
        bool fl = find(tail, lo), fm = find(total / 2 - tail, mid);
        if (!find(total - tail, hi)) hi = (1LL << c.bits) - 1;
        _typebuf<unsigned int> bins;
        ASSERT_TRUE(bins.set(c.bins.data(), (long long)c.bins.size()));
        unsigned l, m, h;
        EXPECT_EQ(getHystogramParams(bins, c.bits, l, m, h, c.fraction), fl && fm);
        EXPECT_EQ(l, (unsigned)lo);
        EXPECT_EQ(m, (unsigned)mid);
        EXPECT_EQ(h, (unsigned)hi);
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
