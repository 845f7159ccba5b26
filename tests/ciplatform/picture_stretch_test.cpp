// Two-way stretching against a plain area-average model, including shapes whose
// intermediate row buffer would be far larger than source and target together.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <random>
#include <vector>

#include "ciplatform/picture.h"

namespace {

// Channel `ch` of the area-weighted mean of the source under target pixel (tx, ty).
double modelAt(const std::vector<unsigned int>& src, int sw, int sh, int tw, int th, int tx, int ty, int ch) {
    double x0 = (double)tx * sw / tw, x1 = (double)(tx + 1) * sw / tw;
    double y0 = (double)ty * sh / th, y1 = (double)(ty + 1) * sh / th;
    double sum = 0;
    for (int y = (int)y0; y < sh && y < y1; y++) {
        double wy = std::min(y1, (double)y + 1) - std::max(y0, (double)y);
        if (wy <= 0) continue;
        for (int x = (int)x0; x < sw && x < x1; x++) {
            double wx = std::min(x1, (double)x + 1) - std::max(x0, (double)x);
            if (wx > 0) sum += ((src[(size_t)y * sw + x] >> (8 * ch)) & 0xFF) * wx * wy;
        }
    }
    return sum / ((x1 - x0) * (y1 - y0));
}

long peakRssKb() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

TEST(PictureStretch, BothPassOrdersMatchTheAreaModel) {
    struct Case {
        int sw, sh, tw, th;
    } cases[] = {
        {5, 3, 9, 2},   // wider and shorter
        {2, 9, 7, 3},   // tall and narrow made short and wide
        {9, 2, 3, 7},   // the other way round
        {4, 4, 4, 4},   // unchanged
        {1, 13, 6, 1},  // one column to one row
        {13, 1, 1, 6},
    };
    std::mt19937 rng(11);
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.sw << "x" << k.sh << " -> " << k.tw << "x" << k.th);
        std::vector<unsigned int> src((size_t)k.sw * k.sh);
        for (auto& v : src) v = rng();
        cPicture p, q;
        ASSERT_TRUE(p.create(src.data(), k.sw, k.sh, false));
        ASSERT_TRUE(p.stretchTo(k.tw, k.th, q));
        ASSERT_EQ(q.width(), k.tw);
        ASSERT_EQ(q.height(), k.th);
        for (int y = 0; y < k.th; y++)
            for (int x = 0; x < k.tw; x++)
                for (int ch = 0; ch < 4; ch++) {
                    int got = (q.raw()[(size_t)y * k.tw + x] >> (8 * ch)) & 0xFF;
                    // Two rounded passes: within one step of the exact mean.
                    EXPECT_NEAR(got, modelAt(src, k.sw, k.sh, k.tw, k.th, x, y, ch), 1.01) << x << "," << y;
                }
    }
}

TEST(PictureStretch, TallColumnToWideRowNeedsNoHugeIntermediate) {
    // 1 x 16384 to 16384 x 1: source and target are 64 KB each; a horizontal pass first
    // would fill 16384 x 16384 pixels (1 GB) on the way.
    const int n = 16384;
    std::vector<unsigned int> column(n);
    for (int i = 0; i < n; i++) column[i] = (i & 1) ? 0xFF204060u : 0xFF406080u;
    cPicture p, q;
    ASSERT_TRUE(p.create(column.data(), 1, n, false));
    long before = peakRssKb();
    ASSERT_TRUE(p.stretchTo(n, 1, q));
    long grown = peakRssKb() - before;
    EXPECT_LT(grown, 256L * 1024) << "peak memory grew by " << grown << " KB";
    ASSERT_EQ(q.width(), n);
    for (int x = 0; x < n; x += 97) EXPECT_EQ(q.raw()[x], 0xFF305070u) << x;
}
