// Rendering into caller buffers, resampling and previews, against a plain reference model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "testutil.h"

namespace {

// Reference: the picture is placed at a rectangle of pw x ph target pixels; on an axis that
// shrinks each source pixel goes to the target pixel holding its centre and targets
// average what they got; on an axis that grows each target takes the source pixel
// holding its centre. Untouched target pixels keep the background.
std::vector<unsigned> referenceRender(const std::vector<unsigned>& src, long long sw, long long sh, long long tw,
                                      long long th, int mode, double scale, long long offX, long long offY,
                                      unsigned bg) {
    double pwf, phf;
    if (mode == 1) {
        pwf = (double)tw, phf = (double)th;
    } else if (mode == 2) {
        pwf = sw * scale, phf = sh * scale;
    } else {
        double f = std::min((double)tw / sw, (double)th / sh);
        pwf = sw * f * scale, phf = sh * f * scale;
    }
    long long pw = std::max(1LL, (long long)(pwf + 0.5)), ph = std::max(1LL, (long long)(phf + 0.5));
    long long ox = mode == 2 ? offX : (tw - pw) / 2 + offX, oy = mode == 2 ? offY : (th - ph) / 2 + offY;
    std::vector<double> sum(tw * th * 4, 0.0);
    std::vector<long long> cnt(tw * th, 0);
    auto add = [&](long long tx, long long ty, unsigned p) {
        if (tx < 0 || ty < 0 || tx >= tw || ty >= th) return;
        for (int c = 0; c < 4; c++) sum[(ty * tw + tx) * 4 + c] += (p >> (8 * c)) & 0xFF;
        cnt[ty * tw + tx]++;
    };
    // Which source coordinate a target coordinate takes (growing axis), computed with doubles.
    auto srcOf = [](long long t, long long n, long long p) { return (long long)std::floor((t + 0.5) * n / p); };
    auto tgtOf = [](long long s, long long n, long long p) { return (long long)std::floor((s + 0.5) * p / n); };
    bool shrinkX = pw < sw, shrinkY = ph < sh;
    // Collect per source pixel the target cells it reaches.
    for (long long sy = 0; sy < sh; sy++)
        for (long long sx = 0; sx < sw; sx++) {
            std::vector<long long> xs, ys;
            if (shrinkX)
                xs.push_back(tgtOf(sx, sw, pw));
            else
                for (long long t = 0; t < pw; t++)
                    if (srcOf(t, sw, pw) == sx) xs.push_back(t);
            if (shrinkY)
                ys.push_back(tgtOf(sy, sh, ph));
            else
                for (long long t = 0; t < ph; t++)
                    if (srcOf(t, sh, ph) == sy) ys.push_back(t);
            for (long long y : ys)
                for (long long x : xs) add(x + ox, y + oy, src[sy * sw + sx]);
        }
    std::vector<unsigned> out(tw * th, bg);
    for (long long i = 0; i < tw * th; i++) {
        if (!cnt[i]) continue;
        unsigned v = 0;
        for (int c = 0; c < 4; c++) v |= (unsigned)std::floor(sum[i * 4 + c] / cnt[i] + 0.5) << (8 * c);
        out[i] = v;
    }
    return out;
}

// A render target over t (sized to w x h) with its background and placement.
cPictBase::sExtPictDef extTarget(std::vector<unsigned>& t, long long w, long long h, unsigned background, int mode = 0,
                                 double scale = 1.0, long long offX = 0, long long offY = 0) {
    t.resize((size_t)(w * h));
    cPictBase::sExtPictDef def;
    def.pixels = t.data();
    def.width = w, def.height = h, def.background = background;
    def.mode = mode, def.scale = scale, def.offsetX = offX, def.offsetY = offY;
    return def;
}

unsigned channelDiff(unsigned a, unsigned b) {
    unsigned m = 0;
    for (int c = 0; c < 4; c++) {
        int d = (int)((a >> (8 * c)) & 0xFF) - (int)((b >> (8 * c)) & 0xFF);
        m = std::max(m, (unsigned)std::abs(d));
    }
    return m;
}

TEST(ExtRender, MatchesReferenceForFitStretchAndOffsets) {
    struct {
        long long sw, sh, tw, th;
        int mode;
        double scale;
        long long ox, oy;
    } cases[] = {
        {4, 4, 2, 2, 0, 1.0, 0, 0},   {6, 3, 4, 4, 0, 1.0, 0, 0},  {3, 6, 5, 3, 0, 1.0, 0, 0},
        {2, 2, 6, 6, 0, 1.0, 0, 0},   {3, 2, 7, 5, 0, 1.0, 0, 0},  {7, 5, 3, 3, 0, 1.0, 0, 0},
        {5, 5, 5, 5, 0, 1.0, 0, 0},   {8, 3, 3, 8, 1, 1.0, 0, 0},  {3, 8, 8, 3, 1, 1.0, 0, 0},
        {4, 4, 6, 6, 2, 0.5, 1, 2},   {4, 4, 6, 6, 2, 2.0, -1, 0}, {9, 7, 4, 4, 0, 0.5, 1, -1},
        {1, 1, 3, 2, 0, 1.0, 0, 0},   {13, 1, 4, 4, 0, 1.0, 0, 0}, {1, 13, 4, 4, 0, 1.0, 0, 0},
    };
    unsigned seed = 12345;
    for (auto& c : cases) {
        cPictDummy pic;
        ASSERT_TRUE(pic.create(c.sw, c.sh, 0));
        std::vector<unsigned> src(c.sw * c.sh);
        for (auto& v : src) {
            seed = seed * 1103515245u + 12345u;
            v = seed;
        }
        for (size_t i = 0; i < src.size(); i++) pic.raw8Bpp()[i] = src[i];
        std::vector<unsigned> target(c.tw * c.th, 0xDEADBEEF);
        cPictBase::sExtPictDef def = extTarget(target, c.tw, c.th, 0x11223344, c.mode, c.scale, c.ox, c.oy);
        ASSERT_TRUE(pic.toExtTarget(&def));
        auto ref = referenceRender(src, c.sw, c.sh, c.tw, c.th, c.mode, c.scale, c.ox, c.oy, 0x11223344);
        for (size_t i = 0; i < ref.size(); i++)
            EXPECT_LE(channelDiff(target[i], ref[i]), 1u)
                << c.sw << "x" << c.sh << "->" << c.tw << "x" << c.th << " mode " << c.mode << " at " << i;
    }
}

TEST(ExtRender, FitCentresAndAveragesKnownPicture) {
    // 4 x 2 into 2 x 2: placed 2 x 1 in the middle row? fit = 0.5 -> 2 x 1, oy = 0.
    cPictDummy pic;
    ASSERT_TRUE(pic.create(4, 2, 0));
    unsigned px[8] = {0xFF000000, 0xFF000004, 0xFF000010, 0xFF000020,   // row 0
                      0xFF000008, 0xFF00000C, 0xFF000030, 0xFF000040};  // row 1
    for (int i = 0; i < 8; i++) pic.raw8Bpp()[i] = px[i];
    cPictDummy tgt;
    ASSERT_TRUE(tgt.create(2, 2, 0));
    cPictBase::sExtPictDef def(&tgt);
    def.background = 0x00FFFFFF;
    ASSERT_TRUE(pic.toExtTarget(&def));
    // Placed at rows [0, 1): average of 2x2 blocks: (0+4+8+12)/4 = 6, (16+32+48+64)/4 = 40.
    EXPECT_EQ(tgt.raw8Bpp()[0], 0xFF000006u);
    EXPECT_EQ(tgt.raw8Bpp()[1], 0xFF000028u);
    EXPECT_EQ(tgt.raw8Bpp()[2], 0x00FFFFFFu);
    EXPECT_EQ(tgt.raw8Bpp()[3], 0x00FFFFFFu);
}

// A decoder that delivers its pixels through the external-rendering calls.
class cFakeDecoder : public cPictBase {
public:
    bool sixteen = false, byComponent = false;
    std::vector<unsigned long long> pixels;  // 16-bit words
    long long w = 0, h = 0;
    bool decode(cFileIOTarget*) override {
        myWidth = w;
        myHeight = h;
        if (!startExtRender()) return false;
        for (long long y = 0; y < h; y++)
            for (long long x = 0; x < w; x++) {
                unsigned long long p = pixels[y * w + x];
                if (byComponent) {
                    for (int c = 0; c < 3; c++)
                        if (sixteen)
                            setExtComp16(x, y, (unsigned short)(p >> (16 * c)), c);
                        else
                            setExtComp(x, y, (unsigned char)(to8Bpp(p) >> (8 * c)), c);
                } else if (sixteen) {
                    setExtPix16(x, y, p);
                } else {
                    setExtPix(x, y, to8Bpp(p));
                }
            }
        endExtRender();
        return true;
    }
};

TEST(ExtRender, SixteenBitAndComponentDeliveryMatchWholePixels) {
    for (int variant = 0; variant < 4; variant++) {
        for (long long tw : {3LL, 8LL}) {
            cFakeDecoder dec;
            dec.w = 5;
            dec.h = 4;
            dec.sixteen = variant & 1;
            dec.byComponent = variant & 2;
            unsigned long long s = 99;
            for (int i = 0; i < 20; i++) {
                s = s * 6364136223846793005ULL + 1442695040888963407ULL;
                dec.pixels.push_back(s | 0xFFFF000000000000ULL);  // opaque
            }
            std::vector<unsigned> src;
            for (auto p : dec.pixels) src.push_back(cPictBase::to8Bpp(p));
            std::vector<unsigned> target;
            cPictBase::sExtPictDef def = extTarget(target, tw, tw, 0x0000FF00);
            ASSERT_TRUE(dec.setExtTarget(&def));
            ASSERT_TRUE(dec.decode(nullptr));
            EXPECT_FALSE(dec.hasExtTarget());
            auto ref = referenceRender(src, 5, 4, tw, tw, 0, 1.0, 0, 0, 0x0000FF00);
            for (size_t i = 0; i < ref.size(); i++)
                EXPECT_LE(channelDiff(target[i], ref[i]), 1u) << "variant " << variant << " tw " << tw << " at " << i;
        }
    }
}

// Decoding straight into an external target of the picture's size gives the pixels a normal
// decode gives (8-bit, 16-bit, lossless, grey, palette, translucent and interlaced pictures) and
// leaves no own buffer.
TEST(ExtRender, DecodersFillATargetOfTheirSizeLikeTheirOwnBuffer) {
    const std::string data = std::string(QMX_TEST_DATA) + "/picts/";
    for (const char* name : {"jpeg/base420.jpg", "jpeg/ext12.jpg", "jpeg/ll8rgb.jpg", "jpeg/grey.jpg", "png/rgb8_adam7.png",
                             "png/gray1_adam7.png", "png/graya8.png", "png/pal4_trns.png", "png/rgba16.png"}) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> file = testutil::readFile(data + name);
        cBufWrapperIO s(file.data(), (long long)file.size());
        std::unique_ptr<cPictBase> own(cPictBase::mkPicture(&s, nullptr)), ext(cPictBase::mkPicture(&s, nullptr));
        ASSERT_TRUE(own && ext);
        s.set_fp(0);
        ASSERT_TRUE(own->decode(&s));
        _typebuf<unsigned int> want;
        ASSERT_TRUE(own->getColorData(want));
        std::vector<unsigned> target;
        cPictBase::sExtPictDef def = extTarget(target, own->width(), own->height(), 0x12345678);
        ASSERT_TRUE(ext->setExtTarget(&def));
        s.set_fp(0);
        ASSERT_TRUE(ext->decode(&s));
        EXPECT_EQ(ext->raw8Bpp(), nullptr);
        EXPECT_EQ(ext->width(), own->width());
        ASSERT_EQ((long long)target.size(), want.count);
        long long bad = 0;
        for (size_t i = 0; i < target.size(); i++) bad += target[i] != want.ptr[i];
        EXPECT_EQ(bad, 0);
    }
}

// Opens a render by hand so the block query can be asked mid-decode.
class cOpenRender : public cPictBase {
public:
    bool start(long long w, long long h) {
        myWidth = w;
        myHeight = h;
        return startExtRender();
    }
};

TEST(ExtRender, RefusesEmptyTargetsAndReportsReachableBlocks) {
    cOpenRender r;
    cPictBase::sExtPictDef none(nullptr);
    EXPECT_FALSE(r.setExtTarget(&none));
    EXPECT_FALSE(r.start(10, 10));  // nothing registered
    std::vector<unsigned> t;
    cPictBase::sExtPictDef def = extTarget(t, 2, 2, 7, 2, 1.0, 1, 1);  // 1:1 at (1, 1): only pixel (0, 0) lands inside
    ASSERT_TRUE(r.setExtTarget(&def));
    ASSERT_TRUE(r.start(10, 10));
    EXPECT_TRUE(r.canExtRender(0, 1, 0, 1));
    EXPECT_TRUE(r.canExtRender(0, 10, 0, 10));
    EXPECT_FALSE(r.canExtRender(1, 10, 0, 10));
    EXPECT_FALSE(r.canExtRender(0, 10, 1, 10));
    EXPECT_FALSE(r.canExtRender(-5, 0, 0, 1));
    // Pixels outside the target and out of range are dropped without harm.
    r.setExtPix(9, 9, 1);
    r.setExtPix(-1, 0, 1);
    r.setExtPix(0, 100, 1);
    r.setExtComp(0, 0, 0x55, 7);
    r.setExtPix(0, 0, 0xFF010203);
    r.endExtRender();
    EXPECT_FALSE(r.hasExtTarget());
    EXPECT_EQ(t[0], 7u);
    EXPECT_EQ(t[1], 7u);
    EXPECT_EQ(t[2], 7u);
    EXPECT_EQ(t[3], 0xFF010203u);
}

TEST(Resample, StretchToHandComputed) {
    struct {
        std::vector<unsigned> src;
        long long sw, sh, dw, dh;
        std::vector<unsigned> want;
    } cases[] = {
        // Area averaging: pairs.
        {{10, 20, 30, 50}, 4, 1, 2, 1, {15, 40}},
        // 3 -> 2: target 0 covers source [0, 1.5): (a + b/2) / 1.5.
        {{0, 90, 30}, 3, 1, 2, 1, {30, 50}},
        // Bilinear growth with centres aligned: 2 -> 4.
        {{0, 100}, 2, 1, 4, 1, {0, 25, 75, 100}},
        // Identity.
        {{1, 2, 3, 4}, 2, 2, 2, 2, {1, 2, 3, 4}},
        // Vertical area average.
        {{10, 30, 50, 70}, 1, 4, 1, 1, {40}},
        // 2 x 2 -> 1 x 1 box.
        {{0, 100, 200, 100}, 2, 2, 1, 1, {100}},
    };
    for (auto& c : cases) {
        cPictDummy pic, out;
        ASSERT_TRUE(pic.create(c.sw, c.sh, 0));
        // Blue carries the value; alpha constant 0xFF.
        for (size_t i = 0; i < c.src.size(); i++) pic.raw8Bpp()[i] = 0xFF000000u | c.src[i];
        ASSERT_TRUE(pic.stretchTo(c.dw, c.dh, out));
        ASSERT_EQ(out.width(), c.dw);
        ASSERT_EQ(out.height(), c.dh);
        for (size_t i = 0; i < c.want.size(); i++) EXPECT_EQ(out.raw8Bpp()[i], 0xFF000000u | c.want[i]) << i;
        // Same in 16 bits, values scaled by 257.
        cPictBase p16, o16;
        ASSERT_TRUE(p16.allocPixels(c.sw, c.sh, true));
        for (size_t i = 0; i < c.src.size(); i++) p16.raw16Bpp()[i] = (0xFFFFULL << 48) | (c.src[i] * 257ULL);
        ASSERT_TRUE(p16.stretchTo(c.dw, c.dh, o16));
        ASSERT_TRUE(o16.is16Bpp());
        for (size_t i = 0; i < c.want.size(); i++) EXPECT_EQ(o16.raw16Bpp()[i] & 0xFFFF, c.want[i] * 257ULL) << i;
    }
}

TEST(Resample, AutoScaleStretchesToFullRange) {
    cPictDummy pic, out;
    ASSERT_TRUE(pic.create(2, 1, 0));
    pic.raw8Bpp()[0] = 0x80403020;  // min over RGB 0x20, max 0x60 (second pixel)
    pic.raw8Bpp()[1] = 0x7F605040;
    ASSERT_TRUE(out.autoScaleFrom(pic));
    // v' = (v - 32) * 255 / 64, rounded; alpha kept.
    auto f = [](unsigned v) { return ((v - 32) * 255 + 32) / 64; };
    EXPECT_EQ(out.raw8Bpp()[0], 0x80000000u | f(0x40) << 16 | f(0x30) << 8 | f(0x20));
    EXPECT_EQ(out.raw8Bpp()[1], 0x7F000000u | f(0x60) << 16 | f(0x50) << 8 | f(0x40));
    cPictBase p16, o16;
    ASSERT_TRUE(p16.allocPixels(1, 2, true));
    p16.raw16Bpp()[0] = 0x1234'1000'1000'1000ULL;
    p16.raw16Bpp()[1] = 0x0001'3000'2000'1000ULL;
    ASSERT_TRUE(o16.autoScaleFrom(p16));
    EXPECT_EQ(o16.raw16Bpp()[0], 0x1234'0000'0000'0000ULL);
    EXPECT_EQ(o16.raw16Bpp()[1], 0x0001'FFFF'8000'0000ULL);
}

TEST(Preview, FitsWithinBoundsAndKeepsSmallPictures) {
    struct {
        long long w, h, mw, mh, ew, eh;
    } cases[] = {{100, 50, 16, 16, 16, 8}, {50, 100, 16, 16, 8, 16}, {10, 10, 16, 16, 10, 10},
                 {1000, 1, 10, 10, 10, 1}, {3, 3, 1, 1, 1, 1}};
    for (auto& c : cases) {
        cPictDummy pic, prev;
        ASSERT_TRUE(pic.create(c.w, c.h, 0xFF336699));
        ASSERT_TRUE(cPictBase::imgToPreview(&pic, &prev, c.mw, c.mh, 0xFFFFFF));
        EXPECT_EQ(prev.width(), c.ew);
        EXPECT_EQ(prev.height(), c.eh);
        for (long long i = 0; i < prev.width() * prev.height(); i++) ASSERT_EQ(prev.raw8Bpp()[i], 0xFF336699u);
    }
    cPictDummy pic, prev;
    EXPECT_FALSE(cPictBase::imgToPreview(&pic, &prev, 10, 10, 0));  // empty picture
    EXPECT_FALSE(cPictBase::imgToPreview(nullptr, &prev, 10, 10, 0));
}

// Every consumer reads a compact page (1-bit either way round, grey 16-bit) exactly as the
// same pixels held wide: colour data, rows, flip, move, rendering, resampling, stretching,
// previews, and raw8Bpp/raw16Bpp, which widen the page in place.
TEST(CompactPages, ReadAsTheSamePixelsHeldWide) {
    const long long w = 11, h = 5;  // rows of 11 bits: a partial last byte
    unsigned long long seed = 5;
    auto next = [&] { return (unsigned)((seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33); };
    for (int kind = 0; kind < 3; kind++) {
        SCOPED_TRACE(kind);
        cPictBase page, wide;
        const bool grey = kind == 2;
        ASSERT_TRUE(grey ? page.allocGrey16(w, h) : page.allocBits(w, h, kind == 1));
        ASSERT_TRUE(wide.allocPixels(w, h, grey));
        EXPECT_EQ(page.pageKind(), grey ? cPictBase::pgGrey16 : cPictBase::pgBits1);
        EXPECT_EQ(page.is16Bpp(), grey);
        for (long long y = 0; y < h; y++)
            for (long long x = 0; x < w; x++) {
                const unsigned v = next() & 0xFFFF, i = (unsigned)(y * w + x);
                if (grey) {
                    page.rawGrey16()[i] = (unsigned short)v;
                    wide.raw16Bpp()[i] = 0xFFFFULL << 48 | v * 0x100010001ULL;
                    continue;
                }
                unsigned char& b = page.rawBits()[y * page.bitsStride() + x / 8];
                b = (unsigned char)((b & ~(0x80 >> (x & 7))) | (v & 1) << (7 - (x & 7)));
                wide.raw8Bpp()[i] = (v & 1) == (kind == 1 ? 0u : 1u) ? 0xFF000000u : 0xFFFFFFFFu;
            }
        auto same = [&](cPictBase& a, cPictBase& b) {
            _typebuf<unsigned int> pa, pb;
            ASSERT_TRUE(a.getColorData(pa) && b.getColorData(pb));
            ASSERT_EQ(pa.count, pb.count);
            EXPECT_EQ(memcmp(pa.ptr, pb.ptr, (size_t)pa.count * 4), 0);
            std::vector<unsigned long long> ra(a.width()), rb(a.width());
            for (long long y = 0; y < a.height(); y++) {
                ASSERT_TRUE(a.pixelRow64(y, ra.data()) && b.pixelRow64(y, rb.data()));
                EXPECT_EQ(ra, rb) << y;
            }
        };
        same(page, wide);
        page.flip();
        wide.flip();
        same(page, wide);
        for (auto size : {std::make_pair(4LL, 3LL), std::make_pair(23LL, 9LL)}) {
            cPictBase a, b;
            ASSERT_TRUE(page.stretchTo(size.first, size.second, a) && wide.stretchTo(size.first, size.second, b));
            same(a, b);
            std::vector<unsigned> ta, tb;
            cPictBase::sExtPictDef da = extTarget(ta, size.first, size.second, 0x123456),
                                   db = extTarget(tb, size.first, size.second, 0x123456);
            ASSERT_TRUE(page.toExtTarget(&da));
            ASSERT_TRUE(wide.toExtTarget(&db));
            EXPECT_EQ(ta, tb);
            ASSERT_TRUE(cPictBase::imgToPreview(&page, &a, size.first, size.second, 7) &&
                        cPictBase::imgToPreview(&wide, &b, size.first, size.second, 7));
            same(a, b);
        }
        cPictBase sa, sb, moved;
        ASSERT_TRUE(sa.autoScaleFrom(page) && sb.autoScaleFrom(wide));
        same(sa, sb);
        page.moveTo(moved);
        EXPECT_EQ(page.pageKind(), cPictBase::pgNone);
        same(moved, wide);
        // Widened in place: the same values, now in the full buffer.
        ASSERT_NE(grey ? (void*)moved.raw16Bpp() : (void*)moved.raw8Bpp(), nullptr);
        EXPECT_EQ(moved.pageKind(), grey ? cPictBase::pgArgb64 : cPictBase::pgArgb32);
        same(moved, wide);
        ASSERT_TRUE(grey ? moved.allocGrey16(w, h) : moved.allocBits(w, h, false));
        _typebuf<unsigned int> px;
        EXPECT_TRUE(moved.moveToColorData(px));
        EXPECT_EQ(px.count, w * h);
        EXPECT_EQ(moved.pageKind(), cPictBase::pgNone);
    }
}

}  // namespace
