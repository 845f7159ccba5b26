// Icon scaling against a plain model of the alpha-weighted area average: the transparent
// (black) pixels around an icon must not darken its soft edges, as a per-channel average
// of the toolkit's stretching would.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "softmgrapp/mgrwidgets.h"

namespace {

// Target pixel (x, y) of sw x sh scaled to w x h: source pixels [x * sw / w, (x + 1) * sw / w)
// on each axis (at least one), alpha averaged, colour weighted by alpha.
unsigned int modelAt(const std::vector<unsigned int>& src, int sw, int sh, int w, int h, int x, int y) {
    int x0 = x * sw / w, x1 = std::max((x + 1) * sw / w, x0 + 1);
    int y0 = y * sh / h, y1 = std::max((y + 1) * sh / h, y0 + 1);
    double n = 0, a = 0, c[3] = {0, 0, 0};
    for (int yy = y0; yy < y1; yy++)
        for (int xx = x0; xx < x1; xx++) {
            unsigned int p = src[(size_t)yy * sw + xx];
            double pa = p >> 24;
            n++;
            a += pa;
            for (int k = 0; k < 3; k++) c[k] += ((p >> (8 * k)) & 0xFF) * pa;
        }
    if (a == 0) return 0;
    unsigned int out = (unsigned int)std::floor(a / n + 0.5) << 24;
    for (int k = 0; k < 3; k++) out |= (unsigned int)std::floor(c[k] / a + 0.5) << (8 * k);
    return out;
}

}  // namespace

TEST(PackageIcons, ScalingWeightsColourByAlpha) {
    // An opaque blue pixel beside a transparent black one keeps its colour at half alpha.
    cPicture edge, half;
    unsigned int pair[2] = {0xFF2070D8u, 0x00000000u};
    ASSERT_TRUE(edge.create(pair, 2, 1, false));
    ASSERT_TRUE(scalePicture(edge, 1, 1, half));
    EXPECT_EQ(half.raw()[0], 0x802070D8u);

    struct {
        int sw, sh, w, h;
    } cases[] = {{128, 128, 48, 48}, {128, 128, 16, 16}, {7, 5, 3, 2}, {3, 2, 8, 5}, {1, 9, 4, 4}};
    std::mt19937 rng(7);
    const unsigned int alphas[] = {0, 0x80, 0xFF};
    for (auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.sw << "x" << k.sh << " -> " << k.w << "x" << k.h);
        std::vector<unsigned int> src((size_t)k.sw * k.sh);
        for (auto& v : src) v = (rng() & 0xFFFFFF) | (rng() % 2 ? alphas[rng() % 3] : rng() & 0xFF) << 24;
        cPicture from, out;
        ASSERT_TRUE(from.create(src.data(), k.sw, k.sh, false));
        ASSERT_TRUE(scalePicture(from, k.w, k.h, out));
        ASSERT_EQ(out.width(), k.w);
        ASSERT_EQ(out.height(), k.h);
        int bad = 0;
        for (int y = 0; y < k.h; y++)
            for (int x = 0; x < k.w; x++)
                if (out.raw()[y * k.w + x] != modelAt(src, k.sw, k.sh, k.w, k.h, x, y)) bad++;
        EXPECT_EQ(bad, 0);
    }

    // Sizes it refuses.
    cPicture empty, out;
    EXPECT_FALSE(scalePicture(empty, 16, 16, out));
    EXPECT_FALSE(scalePicture(edge, 0, 16, out));
    EXPECT_FALSE(scalePicture(edge, 16, 5000, out));
}
