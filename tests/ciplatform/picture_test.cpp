// Toolkit pictures: every create form, resource decoding, stretching and the picture list.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ciplatform/headless.h"
#include "ciplatform/picture.h"
#include "picts/pictbase.h"

TEST(Picture, CreateFormsKeepRowsInTheRightOrder) {
    unsigned int px[6] = {1, 2, 3, 4, 5, 6};  // 3 x 2
    cPicture a, b;
    ASSERT_TRUE(a.create(px, 3, 2, false));
    ASSERT_TRUE(b.create(px, 3, 2, true));
    EXPECT_EQ(a.raw()[0], 1u);
    EXPECT_EQ(a.raw()[5], 6u);
    EXPECT_EQ(b.raw()[0], 4u);  // rows reversed
    EXPECT_EQ(b.raw()[3], 1u);
    cPicture c;
    ASSERT_TRUE(c.create(0x11223344u, 4, 5));
    for (int i = 0; i < 20; i++) EXPECT_EQ(c.raw()[i], 0x11223344u);
    struct Bad {
        int w, h;
    } bad[] = {{0, 5}, {5, 0}, {-1, 3}, {40000, 1}, {20000, 20000}};
    for (auto& k : bad) {
        cPicture p;
        EXPECT_FALSE(p.create(0u, k.w, k.h)) << k.w << "x" << k.h;
        EXPECT_EQ(p.raw(), nullptr);
    }
    EXPECT_FALSE(c.create((const unsigned int*)nullptr, 2, 2, false));
}

TEST(Picture, CreateOnTakesBufferOnlyWhenItIsLargeEnough) {
    _typebuf<unsigned int> buf;
    ASSERT_TRUE(buf.set(6));
    cPicture p;
    EXPECT_FALSE(p.create_on(buf, 3, 3));  // 9 > 6: refusing is the sound answer
    EXPECT_NE(buf.ptr, nullptr);           // left with the caller
    EXPECT_FALSE(p.create_on(buf, 0, 2));
    unsigned int* raw = buf.ptr;
    EXPECT_TRUE(p.create_on(buf, 3, 2));
    EXPECT_EQ(p.raw(), raw);
    EXPECT_EQ(buf.ptr, nullptr);
    _typebuf<unsigned int> empty;
    EXPECT_FALSE(p.create_on(empty, 1, 1));
}

TEST(Picture, ResourceRoundTripThroughPngEncoder) {
    // Encode pixels with our PNG writer, decode them through the picture factory.
    std::mt19937 rng(3);
    const int w = 13, h = 7;
    std::vector<unsigned int> px(w * h);
    for (auto& v : px) v = rng();
    _typebuf<unsigned char> png;
    ASSERT_TRUE(cHeadlessWindowMaker::encodePNG(px.data(), w, h, true, png));
    cPicture p;
    bool saved = __bmp_res_inversed;
    __bmp_res_inversed = false;
    ASSERT_TRUE(p.create(png.ptr, (unsigned int)png.count));
    ASSERT_EQ(p.width(), w);
    ASSERT_EQ(p.height(), h);
    for (int i = 0; i < w * h; i++) ASSERT_EQ(p.raw()[i], px[i]) << i;
    __bmp_res_inversed = true;
    cPicture q;
    ASSERT_TRUE(q.create(png.ptr, (unsigned int)png.count));
    for (int y = 0; y < h; y++) ASSERT_EQ(q.raw()[y * w], px[(h - 1 - y) * w]);
    __bmp_res_inversed = saved;
}

TEST(Picture, HostileResourcesFailCleanly) {
    std::vector<std::vector<unsigned char>> inputs = {
        {},
        {0x89, 'P', 'N', 'G'},
        {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0x7F, 0xFF, 0xFF, 0xFF,
         0x7F, 0xFF, 0xFF, 0xFF, 8, 6, 0, 0, 0, 0, 0, 0, 0},
    };
    std::mt19937 rng(11);
    for (int i = 0; i < 20; i++) {
        std::vector<unsigned char> r(rng() % 200);
        for (auto& b : r) b = (unsigned char)rng();
        inputs.push_back(r);
    }
    // A valid picture, then every truncation of it.
    unsigned int px[4] = {1, 2, 3, 4};
    _typebuf<unsigned char> png;
    ASSERT_TRUE(cHeadlessWindowMaker::encodePNG(px, 2, 2, false, png));
    for (long long n = 1; n < png.count - 12; n += 7) inputs.emplace_back(png.ptr, png.ptr + n);
    for (auto& in : inputs) {
        cPicture p;
        EXPECT_FALSE(p.create(in.empty() ? nullptr : in.data(), (unsigned int)in.size()));
        EXPECT_EQ(p.raw(), nullptr);
    }
}

TEST(Picture, StretchAveragesCoveredPixels) {
    // Reference: each target pixel is the coverage-weighted mean of the source pixels.
    struct Case {
        int sw, tw;
    } cases[] = {{4, 2}, {3, 2}, {2, 5}, {7, 3}, {1, 4}, {5, 5}};
    std::mt19937 rng(5);
    for (auto& k : cases) {
        const int rows = 3;
        std::vector<unsigned int> src(k.sw * rows), out(k.tw * rows);
        for (auto& v : src) v = rng();
        ASSERT_TRUE(cPicture::hStretch(src.data(), k.sw, rows, k.tw, out.data()));
        for (int r = 0; r < rows; r++)
            for (int t = 0; t < k.tw; t++)
                for (int ch = 0; ch < 4; ch++) {
                    double a = (double)t * k.sw / k.tw, b = (double)(t + 1) * k.sw / k.tw, sum = 0;
                    for (int i = 0; i < k.sw; i++) {
                        double lo = std::max(a, (double)i), hi = std::min(b, (double)i + 1);
                        if (hi > lo) sum += ((src[r * k.sw + i] >> (8 * ch)) & 0xFF) * (hi - lo);
                    }
                    double want = sum / (b - a);
                    int got = (out[r * k.tw + t] >> (8 * ch)) & 0xFF;
                    EXPECT_NEAR(got, want, 0.51) << k.sw << "->" << k.tw;
                }
    }
    EXPECT_FALSE(cPicture::hStretch(nullptr, 2, 1, 2, nullptr));
    cPicture p, q;
    ASSERT_TRUE(p.create(0xFF808080u, 5, 3));
    ASSERT_TRUE(p.stretchTo(9, 2, q));
    EXPECT_EQ(q.width(), 9);
    for (int i = 0; i < 18; i++) EXPECT_EQ(q.raw()[i], 0xFF808080u);
}

TEST(Picture, ListOwnsStoredAndReferencesOthers) {
    cPicture* kept = new cPicture();
    ASSERT_TRUE(kept->create(1u, 1, 1));
    {
        cPicturesList list;
        list.refImage(1, kept);
        EXPECT_EQ(list.image(1), kept);
        cPicture* owned = new cPicture();
        owned->create(2u, 1, 1);
        list.storeImage(2, owned);
        cPicture* owned2 = new cPicture();
        owned2->create(3u, 1, 1);
        list.storeImage(2, owned2);  // frees the first (ASan would report a leak otherwise)
        EXPECT_EQ(list.image(2), owned2);
        unsigned int px[2] = {7, 8};
        EXPECT_TRUE(list.storeImage(3, px, 1, 2, true));
        EXPECT_EQ(list.image(3)->raw()[0], 8u);
        EXPECT_FALSE(list.storeImage(4, px, 0, 2, false));
        EXPECT_EQ(list.image(4), nullptr);
        list.storeImage(2, nullptr);  // removes (and frees) it
        EXPECT_EQ(list.image(2), nullptr);
        list.refImage(1, nullptr);
        EXPECT_EQ(list.image(1), nullptr);
        list.refImage(5, kept);
        EXPECT_EQ(list.count(), 2);
    }  // the list frees what it owns, never what it references
    EXPECT_EQ(kept->raw()[0], 1u);
    delete kept;
}
