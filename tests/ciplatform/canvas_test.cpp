// Software canvas: shapes, region, pictures and copies against a plain per-pixel model.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"

namespace {

const unsigned int kWhite = 0xFFFFFFFFu;

// 0x00BBGGRR -> 0xFFRRGGBB.
unsigned int argbOf(unsigned int c) {
    return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

struct Model {
    int w, h;
    std::vector<bool> drawable;
    std::vector<unsigned int> px;
    Model(int w_, int h_) : w(w_), h(h_), drawable(w_ * h_, true), px(w_ * h_, kWhite) {}
    void mark(sRect r, bool value) {
        for (int y = r.y; y < r.y + r.h; y++)
            for (int x = r.x; x < r.x + r.w; x++)
                if (x >= 0 && y >= 0 && x < w && y < h) drawable[y * w + x] = value;
    }
    void set(long long x, long long y, unsigned int v) {
        if (x >= 0 && y >= 0 && x < w && y < h && drawable[y * w + x]) px[y * w + x] = v;
    }
    void fill(sRect r, unsigned int v) {
        for (long long y = r.y; y < (long long)r.y + r.h; y++)
            for (long long x = r.x; x < (long long)r.x + r.w; x++) set(x, y, v);
    }
};

void expectSame(const cCanvas& c, const Model& m, const char* what) {
    ASSERT_EQ(c.width(), m.w);
    int bad = 0;
    for (int y = 0; y < m.h; y++)
        for (int x = 0; x < m.w; x++)
            if (c.pixel(x, y) != m.px[y * m.w + x] && bad++ < 5)
                ADD_FAILURE() << what << " pixel " << x << "," << y << " got " << std::hex << c.pixel(x, y)
                              << " want " << m.px[y * m.w + x];
    EXPECT_EQ(bad, 0) << what;
}

}  // namespace

TEST(Canvas, RectFillAndFrameMatchModel) {
    struct Case {
        sRect r;
        unsigned int fill, frame;
    } cases[] = {
        {{2, 3, 10, 6}, 0x0000FF, 0xFF0000},  // both
        {{-5, -5, 12, 9}, 0x00FF00, 0xFFFFFFFF},  // off the top-left, no frame
        {{30, 20, 50, 50}, 0xFFFFFFFF, 0x123456},  // frame only, off the bottom-right
        {{5, 5, 1, 1}, 0x111111, 0x222222},  // 1x1: frame covers it
        {{7, 7, 0, 5}, 0x333333, 0x333333},  // empty
        {{10, 2, 3, -4}, 0x333333, 0x333333},  // negative size
        {{0, 0, 40, 30}, 0xFF000000, 0xFF000000},  // unresolved theme default: nothing
    };
    for (auto& k : cases) {
        cCanvas c(40, 30);
        Model m(40, 30);
        c.drawRect(&k.r, k.fill, k.frame);
        if (k.r.w > 0 && k.r.h > 0) {
            if ((k.fill >> 24) != 0xFF) m.fill(k.r, argbOf(k.fill));
            if ((k.frame >> 24) != 0xFF) {
                unsigned int f = argbOf(k.frame);
                m.fill({k.r.x, k.r.y, k.r.w, 1}, f);
                m.fill({k.r.x, k.r.y + k.r.h - 1, k.r.w, 1}, f);
                m.fill({k.r.x, k.r.y, 1, k.r.h}, f);
                m.fill({k.r.x + k.r.w - 1, k.r.y, 1, k.r.h}, f);
            }
        }
        expectSame(c, m, "rect");
    }
}

TEST(Canvas, ClipRegionSubtractsAndRestoresLikeMask) {
    // Random clip/unclip sequences against a per-pixel drawable mask; each step fills the
    // whole canvas with a new colour, so any pixel the region gets wrong shows.
    std::mt19937 rng(7);
    for (int round = 0; round < 40; round++) {
        cCanvas c(37, 23);
        Model m(37, 23);
        for (int step = 0; step < 12; step++) {
            sRect r = {(int)(rng() % 50) - 8, (int)(rng() % 36) - 8, (int)(rng() % 30), (int)(rng() % 20)};
            bool add = rng() % 3 == 0;
            if (add) {
                c.unclip(&r);
                m.mark(r, true);
            } else {
                c.clip(&r);
                m.mark(r, false);
            }
            c.select();
            sRect all = {0, 0, 37, 23};
            unsigned int colour = 0x010203u * (unsigned)(step + 1) + round;
            c.drawRect(&all, colour, 0xFFFFFFFF);
            m.fill(all, argbOf(colour));
            // The region's rectangles never overlap (a pixel counted twice would be a fault
            // for blending operations).
            std::vector<int> cover(37 * 23, 0);
            for (int i = 0; i < c.regionCount(); i++) {
                const sRect& q = c.regionRects()[i];
                for (int y = q.y; y < q.y + q.h; y++)
                    for (int x = q.x; x < q.x + q.w; x++) cover[y * 37 + x]++;
            }
            for (int i = 0; i < 37 * 23; i++) ASSERT_EQ(cover[i], m.drawable[i] ? 1 : 0) << "round " << round;
        }
        expectSame(c, m, "clip");
    }
}

TEST(Canvas, OverlappingClipsRestoreExactly) {
    cCanvas c(20, 20);
    sRect a = {2, 2, 10, 10}, b = {6, 6, 10, 10}, all = {0, 0, 20, 20};
    c.clip(&a);
    c.clip(&b);
    c.unclip(&a);  // gives back a, including the part b also covered
    c.drawRect(&all, 0x000000, 0xFFFFFFFF);
    EXPECT_EQ(c.pixel(7, 7), 0xFF000000u);   // in a and b: a is back
    EXPECT_EQ(c.pixel(14, 14), kWhite);      // only in b: still clipped
    c.unclip(&b);
    c.drawRect(&all, 0x0000FF, 0xFFFFFFFF);
    EXPECT_EQ(c.pixel(14, 14), 0xFFFF0000u);
    // Back to the whole canvas: every pixel is in exactly one of the region's rectangles.
    std::vector<int> cover(20 * 20, 0);
    for (int i = 0; i < c.regionCount(); i++) {
        const sRect& q = c.regionRects()[i];
        for (int y = q.y; y < q.y + q.h; y++)
            for (int x = q.x; x < q.x + q.w; x++) {
                ASSERT_TRUE(x >= 0 && y >= 0 && x < 20 && y < 20) << x << "," << y;
                cover[y * 20 + x]++;
            }
    }
    for (int i = 0; i < 20 * 20; i++) ASSERT_EQ(cover[i], 1) << i % 20 << "," << i / 20;
}

TEST(Canvas, LinesWithWidthMatchModel) {
    struct Case {
        sPoint a, b;
        int width;
    } cases[] = {
        {{1, 1}, {20, 1}, 1},   {{3, 2}, {3, 15}, 1},   {{0, 0}, {15, 15}, 1},  {{2, 10}, {25, 4}, 1},
        {{5, 5}, {25, 5}, 3},   {{10, 2}, {10, 18}, 2}, {{-10, 8}, {40, 8}, 1}, {{20, 1}, {2, 17}, 1},
    };
    for (auto& k : cases) {
        cCanvas c(30, 20);
        Model m(30, 20);
        c.setLineMode(0x00FF00, k.width);
        c.drawLine(&k.a, &k.b);
        // Reference: step along the major axis, round the minor one, paint a width square.
        long long dx = k.b.x - k.a.x, dy = k.b.y - k.a.y;
        bool xm = std::llabs(dx) >= std::llabs(dy);
        long long a0 = xm ? k.a.x : k.a.y, a1 = xm ? k.b.x : k.b.y;
        for (long long i = std::min(a0, a1); i <= std::max(a0, a1); i++) {
            long long da = xm ? dx : dy, db = xm ? dy : dx, b0 = xm ? k.a.y : k.a.x;
            long long j = da == 0 ? b0 : b0 + (long long)std::floor((double)(i - a0) * db / da + 0.5);
            long long px = xm ? i : j, py = xm ? j : i;
            for (int oy = -(k.width - 1) / 2; oy <= k.width / 2; oy++)
                for (int ox = -(k.width - 1) / 2; ox <= k.width / 2; ox++)
                    m.set(px + ox, py + oy, argbOf(0x00FF00));
        }
        expectSame(c, m, "line");
    }
}

TEST(Canvas, HostileCoordinatesNeverWriteOutside) {
    // Under ASan any write outside the buffer aborts. Calls whose area lies wholly off
    // the canvas (or is empty) must also leave every pixel as it was.
    cCanvas c(16, 16);
    Model m(16, 16);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            sRect one = {x, y, 1, 1};
            unsigned int colour = (unsigned)(x * 16 + y) * 0x010307u;
            c.drawRect(&one, colour, 0xFFFFFFFF);
            m.fill(one, argbOf(colour));
        }
    cPicture p;
    ASSERT_TRUE(p.create(0x80FF0000u, 3, 3));
    const int big = 0x7FFFFFFF, small = -0x7FFFFFFF - 1;
    sRect rects[] = {{big, big, big, big}, {small, small, big, big}, {small, 5, -1, big}, {big - 3, 0, 10, 10}};
    for (auto& r : rects) c.drawRect(&r, 0x00FF00, 0x0000FF);
    c.drawBitmap(small, small, &p, big, big);
    c.drawBitmap(big, big, &p, -1, -1);
    c.drawText(small, small, false, "overflow", -1);
    c.drawText(big - 5, 0, false, "overflow", -1);
    c.drawTextLimited(small, small, big, big, 2, false, big, big, "x", -1, nullptr, false);
    sSize used;
    c.drawTextWrapped(big - 1, big - 1, big, big, cCanvas::taJustify, "a b c d", used, false, 0);
    c.draw(small, small, &c, small, small, big, big);
    sRect r = {small, small, big, big};
    c.clip(&r);
    c.unclip(&r);
    expectSame(c, m, "off-canvas calls");

    // These cross the canvas; only the sanitizer judges them.
    sPoint pts[] = {{small, small}, {big, big}, {small, big}, {big, 3}};
    c.setLineMode(0xFF, 50);
    for (auto& a : pts)
        for (auto& b : pts) c.drawLine(&a, &b);
    sPoint at = {-100000, 5};
    sSize sz = {big, 3};
    c.drawTransparent(&at, &p, &sz);
    c.draw(3, 3, &c, -5, -5, 40, 40);
}

TEST(Canvas, StretchedAndBlendedBitmapsMatchModel) {
    // A 3x2 picture with distinct pixels and alphas.
    unsigned int src[6] = {0xFF102030u, 0x80405060u, 0x00708090u, 0xFFA0B0C0u, 0x40D0E0F0u, 0xC0010203u};
    cPicture p;
    ASSERT_TRUE(p.create(src, 3, 2, false));
    struct Case {
        int w, h;
        bool blend;
    } cases[] = {{-1, -1, false}, {-1, -1, true}, {7, 5, false}, {7, 5, true}, {2, 1, false}, {12, 2, true}};
    for (auto& k : cases) {
        cCanvas c(20, 12, 0xFF336699u);
        sPoint at = {4, 3};
        sSize sz = {k.w, k.h};
        if (k.blend)
            c.drawTransparent(&at, &p, &sz);
        else
            c.drawBitmap(&at, &p, &sz);
        int tw = k.w < 0 ? 3 : k.w, th = k.h < 0 ? 2 : k.h;
        for (int y = 0; y < 12; y++)
            for (int x = 0; x < 20; x++) {
                unsigned int want = 0xFF336699u;
                if (x >= 4 && y >= 3 && x < 4 + tw && y < 3 + th) {
                    // The source pixel under the target pixel's centre.
                    int sx = (int)(((x - 4) + 0.5) * 3 / tw), sy = (int)(((y - 3) + 0.5) * 2 / th);
                    unsigned int s = src[sy * 3 + sx];
                    if (!k.blend) {
                        want = s | 0xFF000000u;
                    } else {
                        unsigned int a = s >> 24, d = 0xFF336699u;
                        want = 0xFF000000u;
                        for (int sh = 0; sh < 24; sh += 8)
                            want |= ((((s >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (255 - a) + 127) / 255) << sh;
                    }
                }
                ASSERT_EQ(c.pixel(x, y), want) << x << "," << y << " case " << k.w << "x" << k.h << " " << k.blend;
            }
    }
}

TEST(Canvas, OffscreenDrawCopiesRectangleRespectingRegion) {
    cCanvas main(30, 30, 0xFF000000u);
    cCanvas* off = main.offscreen(10, 8, -1, -1);
    ASSERT_NE(off, nullptr);
    EXPECT_EQ(off->width(), 10);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 10; x++) off->pixels()[y * 10 + x] = 0xFF000000u | (unsigned)(y * 10 + x);
    sRect hole = {8, 8, 2, 2};
    main.clip(&hole);
    main.draw(5, 6, off, 2, 1, 6, -1);  // 6 wide, the rest of the rows (7)
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 30; x++) {
            unsigned int want = 0xFF000000u;
            bool inHole = x >= 8 && x < 10 && y >= 8 && y < 10;
            if (x >= 5 && x < 11 && y >= 6 && y < 13 && !inHole)
                want = 0xFF000000u | (unsigned)((y - 6 + 1) * 10 + (x - 5 + 2));
            ASSERT_EQ(main.pixel(x, y), want) << x << "," << y;
        }
    delete off;
    EXPECT_EQ(main.offscreen(0, 5), nullptr);
    EXPECT_EQ(main.offscreen(100000, 100000), nullptr);
}

TEST(Canvas, OverlappingSelfCopyUsesSourceBeforeCopy) {
    cCanvas c(8, 1);
    for (int x = 0; x < 8; x++) c.pixels()[x] = (unsigned)x;
    c.draw(2, 0, &c, 0, 0, 6, 1);
    unsigned int want[8] = {0, 1, 0, 1, 2, 3, 4, 5};
    for (int x = 0; x < 8; x++) EXPECT_EQ(c.pixel(x, 0), want[x]);
}
