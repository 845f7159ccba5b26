// Colour-filter patterns and demosaicing, by their properties: patterns repeat as stated, a
// flat field stays flat (borders included), a ramp stays a ramp, a photosite keeps its own
// colour, flipping mirrors, margins only crop, clamps hold, and hostile patterns, margins and
// multipliers are refused or made harmless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawhook.h"

namespace {

std::unique_ptr<cBayerFilter> filterOf(std::vector<unsigned char> codes, int rows, int cols) {
    sCFAData d;
    d.rows = (unsigned short)rows;
    d.cols = (unsigned short)cols;
    if (!codes.empty()) d.pattern.set(codes.data(), (long long)codes.size());
    return std::unique_ptr<cBayerFilter>(cBayerFilter::newFilter(d));
}

struct Channels {
    unsigned r, g, b, a;
};
Channels split(unsigned long long p) {
    return {(unsigned)(p >> 32) & 0xFFFF, (unsigned)(p >> 16) & 0xFFFF, (unsigned)p & 0xFFFF, (unsigned)(p >> 48)};
}

// A frame and the buffers around one demosaic call.
struct Frame {
    std::vector<uint16_t> raw;
    std::vector<unsigned long long> out;
    sInterpolateInfo info;
    Frame(int w, int h, cBayerFilter* f, const sMarginInfo* m = nullptr) : raw((size_t)w * h, 0) {
        long long cw = w - (m ? (long long)m->left + m->right : 0), ch = h - (m ? (long long)m->top + m->bottom : 0);
        out.assign((size_t)std::max(1LL, cw * ch), 0xDEADBEEFull);
        info.raw = raw.data();
        info.pixels = out.data();
        info.width = w;
        info.height = h;
        info.filter = f;
    }
};

class StopAfter : public cProgressNotifyTarget {
public:
    int calls = 0, stopAt;
    explicit StopAfter(int n) : stopAt(n) {}
    bool notifyProgress(double) override { return ++calls < stopAt; }
    bool notifyStage(int) override { return true; }
};

}  // namespace

// newFilter takes 2 columns by 2, 4 or 8 rows with codes 0-3 and nothing else; shorter
// patterns repeat, so row 2 of a 2-row pattern reads as row 0.
TEST(RawCfa, PatternsAreCheckedAndRepeat) {
    EXPECT_FALSE(filterOf({0, 1, 1, 2, 0, 1}, 3, 2));
    EXPECT_FALSE(filterOf({0, 1, 2, 1, 2, 0}, 2, 3));
    EXPECT_FALSE(filterOf({0, 1, 1, 4}, 2, 2));
    EXPECT_FALSE(filterOf({0, 1, 1}, 2, 2));
    EXPECT_FALSE(filterOf({}, 2, 2));
    struct Case {
        std::vector<unsigned char> codes;
        int rows;
    };
    for (const Case& c : {Case{{0, 1, 1, 2}, 2}, Case{{2, 1, 1, 0, 3, 1, 1, 0}, 4},
                          Case{{0, 1, 1, 2, 1, 0, 2, 1, 3, 3, 0, 0, 1, 2, 2, 1}, 8}}) {
        auto f = filterOf(c.codes, c.rows, 2);
        ASSERT_TRUE(f);
        for (int y = 0; y < 40; y++)
            for (int x = 0; x < 9; x++) {
                ASSERT_EQ(f->color(x, y), c.codes[(size_t)(y % c.rows) * 2 + x % 2]) << x << "," << y;
                ASSERT_EQ(f->index(x, y), (y % c.rows) * 2 + x % 2);
            }
        EXPECT_EQ(f->usesFourthColor(), c.rows != 2);
    }
    cStdCFAFilter rggb;
    cStdCFAFilterSH bggr;
    EXPECT_EQ(rggb.color(0, 0), 0);
    EXPECT_EQ(rggb.color(1, 1), 2);
    EXPECT_EQ(rggb.color(2, 4), 0);
    EXPECT_EQ(bggr.color(0, 0), 2);
    EXPECT_EQ(bggr.color(1, 3), 0);
    cFujiXTransFilter x;
    const int row3[6] = {1, 0, 1, 1, 2, 1};
    for (int c = 0; c < 12; c++) EXPECT_EQ(x.color(c, 9), row3[c % 6]);
    EXPECT_EQ(x.index(13, 8), 2 * 6 + 1);
}

// A flat field of light (every colour scaled to the same value) stays flat everywhere, with
// each routine, with and without margins and flip; alpha is 65535.
TEST(RawDemosaic, FlatFieldStaysFlat) {
    cStdCFAFilter rggb;
    cFujiXTransFilter xtrans;
    const double mix[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    enum { kPPG, kLinear, kNonRGB };
    for (int routine : {kPPG, kLinear, kNonRGB})
        for (bool flip : {false, true})
            for (int margin : {0, 3}) {
                SCOPED_TRACE(testing::Message() << "routine " << routine << " flip " << flip << " margin " << margin);
                sMarginInfo m;
                m.left = m.top = (unsigned)margin;
                m.right = m.bottom = (unsigned)margin * 2;
                cBayerFilter* f = routine == kLinear ? (cBayerFilter*)&xtrans : &rggb;
                const int w = 23, h = 17;
                Frame run(w, h, f, &m);
                run.info.black = 100;
                run.info.flip = flip;
                run.info.mul[0] = 2.0;
                run.info.mul[1] = 1.0;
                run.info.mul[2] = 4.0;
                run.info.mul[3] = 1.0;
                // Scaled value 4000 for every colour; margins hold bright junk.
                for (int y = 0; y < h; y++)
                    for (int x = 0; x < w; x++) {
                        bool inside = x >= margin && x < w - 2 * margin && y >= margin && y < h - 2 * margin;
                        int c = f->color(x - margin, y - margin);
                        run.raw[(size_t)y * w + x] = inside ? (uint16_t)(100 + 4000 / run.info.mul[c]) : 65000;
                    }
                bool ok = routine == kPPG      ? interpolatePPG(run.info, &m)
                          : routine == kLinear ? interpolateLinear(run.info, &m)
                                               : interpolateLinearNonRGB(run.info, mix, &m);
                ASSERT_TRUE(ok);
                for (size_t i = 0; i < run.out.size(); i++) {
                    Channels c = split(run.out[i]);
                    ASSERT_TRUE(c.r == 4000 && c.g == 4000 && c.b == 4000 && c.a == 65535)
                        << "pixel " << i << ": " << c.r << " " << c.g << " " << c.b;
                }
                EXPECT_EQ(run.info.minRaw, 100u + 1000);
                EXPECT_EQ(run.info.maxRaw, 100u + 4000);
            }
}

// A ramp along x or y (the same for every colour) is reproduced exactly inside the 4-pixel
// border by the PPG: each of its estimates is exact on linear light. The tall frames run in
// several row bands side by side (flipped too).
TEST(RawDemosaic, PpgKeepsRampsExact) {
    cStdCFAFilterSH bggr;
    for (int h : {16, 300})
    for (bool flip : {false, true})
    for (bool alongX : {true, false}) {
        SCOPED_TRACE(testing::Message() << h << " " << flip << " " << alongX);
        const int w = 20;
        Frame run(w, h, &bggr);
        run.info.flip = flip;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) run.raw[(size_t)y * w + x] = (uint16_t)(1000 + 37 * (alongX ? x : y));
        ASSERT_TRUE(interpolatePPG(run.info, nullptr));
        for (int y = 4; y < h - 4; y++)
            for (int x = 4; x < w - 4; x++) {
                Channels c = split(run.out[(size_t)(flip ? h - 1 - y : y) * w + x]);
                unsigned v = 1000 + 37 * (alongX ? x : y);
                ASSERT_TRUE(c.r == v && c.g == v && c.b == v) << x << "," << y << ": " << c.r << " " << c.g << " " << c.b;
            }
    }
}

// Every photosite keeps its own colour's scaled value; missing colours stay within the
// range of their neighbours; the output is the vertical mirror with flip; margins crop
// exactly like cutting the frame first (the pattern anchored at the crop).
TEST(RawDemosaic, PpgOwnColoursFlipAndMargins) {
    cStdCFAFilter rggb;
    const int w = 26, h = 22;  // an odd crop height: flipping keeps the middle row
    std::vector<uint16_t> noise((size_t)w * h);
    unsigned s = 7;
    for (auto& v : noise) v = (uint16_t)((s = s * 1103515245u + 12345u) >> 20);
    sMarginInfo m;
    m.left = 2;
    m.top = 4;
    m.right = 3;
    m.bottom = 1;
    const int cw = w - 5, ch = h - 5;
    // Multipliers of 1 take the load's integer path.
    for (double mr : {1.5, 1.0}) {
        SCOPED_TRACE(mr);
        const double mb = mr == 1.0 ? 1.0 : 1.25;
        Frame a(w, h, &rggb, &m), b(w, h, &rggb, &m), c(cw, ch, &rggb);
        a.raw = b.raw = noise;
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++) c.raw[(size_t)y * cw + x] = noise[(size_t)(y + 4) * w + x + 2];
        for (Frame* r : {&a, &b, &c}) {
            r->info.raw = r->raw.data();
            r->info.black = 50;
            r->info.mul[0] = mr;
            r->info.mul[2] = mb;
        }
        b.info.flip = true;
        ASSERT_TRUE(interpolatePPG(a.info, &m));
        ASSERT_TRUE(interpolatePPG(b.info, &m));
        ASSERT_TRUE(interpolatePPG(c.info, nullptr));
        EXPECT_EQ(a.out, c.out);
        // The sample range is the crop's, before the black level.
        EXPECT_EQ(a.info.minRaw, *std::min_element(c.raw.begin(), c.raw.end()));
        EXPECT_EQ(a.info.maxRaw, *std::max_element(c.raw.begin(), c.raw.end()));
        for (int y = 0; y < ch; y++)
            for (int x = 0; x < cw; x++) {
                ASSERT_EQ(a.out[(size_t)y * cw + x], b.out[(size_t)(ch - 1 - y) * cw + x]);
                Channels p = split(a.out[(size_t)y * cw + x]);
                int col = rggb.color(x, y);
                unsigned raw = c.raw[(size_t)y * cw + x];
                unsigned own = (unsigned)((raw > 50 ? raw - 50 : 0) * (col == 0 ? mr : col == 2 ? mb : 1.0));
                unsigned got = col == 0 ? p.r : col == 1 ? p.g : p.b;
                ASSERT_EQ(got, own) << x << "," << y;
            }
    }
}

// A decoder may read the frame into the output buffer itself (its tail saves a frame's worth
// of memory): the load then goes in planned runs, or the frame is copied out where no plan
// exists (at the buffer's start); either way the picture, border included, and the sample
// range are those of a separate frame. Tall enough for several bands.
TEST(RawDemosaic, PpgFrameInsideTheOutput) {
    cStdCFAFilter rggb;
    const int w = 40, h = 300;
    std::vector<uint16_t> noise((size_t)w * h);
    unsigned s = 11;
    for (auto& v : noise) v = (uint16_t)((s = s * 1103515245u + 12345u) >> 18);
    sMarginInfo none, some;
    some.left = 2, some.top = 3, some.right = 5, some.bottom = 4;
    for (const sMarginInfo* m : {&none, &some})
    for (int where : {0, 1, 2}) {  // tail, middle, start
        SCOPED_TRACE(testing::Message() << (m == &some) << " " << where);
        Frame ref(w, h, &rggb, m);
        ref.raw = noise;
        ref.info.raw = ref.raw.data();
        std::vector<unsigned long long> buf(ref.out.size());
        const long long room = 4 * (long long)buf.size() - (long long)noise.size();
        uint16_t* frame = (uint16_t*)buf.data() + (where == 0 ? room : where == 1 ? room / 2 : 0);
        std::copy(noise.begin(), noise.end(), frame);
        sInterpolateInfo in = ref.info;
        in.raw = frame;
        in.pixels = buf.data();
        for (sInterpolateInfo* i : {&ref.info, &in}) {
            i->flip = true, i->black = 50, i->mul[0] = 1.5, i->mul[2] = 1.25;
            ASSERT_TRUE(interpolatePPG(*i, m));
        }
        EXPECT_TRUE(buf == ref.out);
        EXPECT_EQ(in.minRaw, ref.info.minRaw);
        EXPECT_EQ(in.maxRaw, ref.info.maxRaw);
    }
}

// Ties: equal gradients in the green phase take the horizontal estimate; equal diagonal
// gradients average both guesses.
TEST(RawDemosaic, PpgTieBreaks) {
    cStdCFAFilter rggb;
    const int w = 12, h = 12;
    // Around the red site (6, 6): greens left/right 1000, up/down 3000, reds constant, so
    // both directions have the same gradient score but different guesses.
    Frame run(w, h, &rggb);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int c = rggb.color(x, y);
            run.raw[(size_t)y * w + x] = (uint16_t)(c == 1 ? (y % 2 == 0 ? 1000 : 3000) : 2000);
        }
    ASSERT_TRUE(interpolatePPG(run.info, nullptr));
    // Horizontal guess: ((1000 + 2000 + 1000) * 2 - 2000 - 2000) >> 2 = 1000.
    EXPECT_EQ(split(run.out[6 * w + 6]).g, 1000u);
    // Blue sites got green 3000 the same way (their horizontal greens); blue at the red site
    // follows the colour difference along both (equal) diagonals: 2000 + 2000 + 2 * 1000 -
    // 3000 - 3000 = 0, averaged.
    Channels p = split(run.out[6 * w + 6]);
    EXPECT_EQ(p.b, 0u);
    EXPECT_EQ(split(run.out[7 * w + 7]).g, 3000u);
}

// Results above 65535 store 65535; a sample at or below black gives 0; NaN, negative and
// infinite multipliers from a file are made harmless before any conversion to an integer.
TEST(RawDemosaic, ClampsAndHostileMultipliers) {
    cStdCFAFilter rggb;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        double mul;
        uint16_t sample;
        unsigned expect;
    };
    for (Case c : {Case{100.0, 1000, 65535}, Case{1.0, 64, 0}, Case{1.0, 10, 0}, Case{nan, 5000, 0}, Case{-3.0, 5000, 0},
                   Case{inf, 5000, 65535}, Case{1e300, 5000, 65535}}) {
        SCOPED_TRACE(testing::Message() << c.mul << " " << c.sample);
        const int w = 10, h = 10;
        Frame run(w, h, &rggb);
        for (auto& v : run.raw) v = c.sample;
        run.info.black = 64;
        for (double& m : run.info.mul) m = c.mul;
        ASSERT_TRUE(interpolatePPG(run.info, nullptr));
        for (auto p : run.out) ASSERT_EQ(split(p).g, c.expect);
        ASSERT_TRUE(interpolateLinear(run.info, nullptr));
        for (auto p : run.out) ASSERT_EQ(split(p).r, c.expect);
    }
    // A NaN in the colour matrix gives 0 for that output, not an undefined conversion.
    Frame run(10, 10, &rggb);
    for (auto& v : run.raw) v = 3000;
    const double matrix[3][3] = {{nan, 0, 0}, {0, 1, 0}, {0, 0, 1e9}};
    ASSERT_TRUE(interpolatePPG(run.info, nullptr, matrix));
    Channels p = split(run.out[5 * 10 + 5]);
    EXPECT_EQ(p.r, 0u);
    EXPECT_EQ(p.g, 3000u);
    EXPECT_EQ(p.b, 65535u);
}

// A pattern with code 3 would make the three-colour passes address channel -1 (2 - 3): PPG
// refuses it and writes nothing; the four-colour routine takes it.
TEST(RawDemosaic, PpgRefusesFourColourPatterns) {
    auto f = filterOf({0, 1, 3, 2}, 2, 2);
    ASSERT_TRUE(f);
    Frame run(12, 12, f.get());
    for (auto& v : run.raw) v = 1234;
    EXPECT_FALSE(interpolatePPG(run.info, nullptr));
    for (auto p : run.out) ASSERT_EQ(p, 0xDEADBEEFull);
    const double mix[3][4] = {{1, 0, 0, 0}, {0, 0.5, 0, 0.5}, {0, 0, 1, 0}};
    EXPECT_TRUE(interpolateLinearNonRGB(run.info, mix, nullptr));
    EXPECT_EQ(split(run.out[6 * 12 + 6]).g, 1234u);
}

// Missing buffers, sizes or filters: false and nothing written. Margins that leave no crop
// (even ones that would wrap a 32-bit difference): true, minRaw 65535, maxRaw 0, nothing written.
// A progress target that answers false stops the routine with false.
TEST(RawDemosaic, RefusesMissingInputsAndEmptyCrops) {
    cStdCFAFilter rggb;
    Frame run(8, 8, &rggb);
    sInterpolateInfo bad = run.info;
    bad.filter = nullptr;
    EXPECT_FALSE(interpolatePPG(bad, nullptr));
    bad = run.info;
    bad.raw = nullptr;
    EXPECT_FALSE(interpolateLinear(bad, nullptr));
    bad = run.info;
    bad.height = 0;
    EXPECT_FALSE(interpolateRawAsIs(bad, 1.0, nullptr));
    for (auto p : run.out) ASSERT_EQ(p, 0xDEADBEEFull);
    sMarginInfo huge;
    huge.left = 0xFFFFFFF0u;
    huge.right = 0x20u;
    sMarginInfo tall;
    tall.top = 5;
    tall.bottom = 3;
    for (const sMarginInfo* m : {&huge, &tall}) {
        run.info.minRaw = 0;
        run.info.maxRaw = 65535;
        EXPECT_TRUE(interpolatePPG(run.info, m));
        EXPECT_EQ(run.info.minRaw, 65535u);
        EXPECT_EQ(run.info.maxRaw, 0u);
        EXPECT_TRUE(interpolateLinear(run.info, m));
    }
    for (auto p : run.out) ASSERT_EQ(p, 0xDEADBEEFull);
    for (int stopAt : {1, 3}) {
        StopAfter stop(stopAt);
        run.info.progress = &stop;
        EXPECT_FALSE(interpolatePPG(run.info, nullptr));
        EXPECT_FALSE(interpolateLinear(run.info, nullptr));
        run.info.progress = nullptr;
    }
}

// Crops of 7 x 7 and smaller are all border: every pixel is the 3 x 3 block mean of its
// colours, and with flip the first crop row lands in the last output row.
TEST(RawDemosaic, SmallCropsAreAllBorder) {
    cStdCFAFilter rggb;
    for (int n : {1, 2, 5, 7}) {
        SCOPED_TRACE(n);
        Frame run(n, n, &rggb);
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) run.raw[(size_t)y * n + x] = (uint16_t)(100 * (y + 1) + 10 * rggb.color(x, y));
        run.info.flip = true;
        ASSERT_TRUE(interpolatePPG(run.info, nullptr));
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                double sum[3] = {0, 0, 0};
                int cnt[3] = {0, 0, 0};
                for (int yy = y - 1; yy <= y + 1; yy++)
                    for (int xx = x - 1; xx <= x + 1; xx++) {
                        if (xx < 0 || yy < 0 || xx >= n || yy >= n) continue;
                        int c = rggb.color(xx, yy);
                        sum[c] += run.raw[(size_t)yy * n + xx];
                        cnt[c]++;
                    }
                int own = rggb.color(x, y);
                unsigned ownV = run.raw[(size_t)y * n + x];
                unsigned e[3];
                for (int c = 0; c < 3; c++) e[c] = c == own || !cnt[c] ? ownV : (unsigned)(sum[c] / cnt[c]);
                Channels p = split(run.out[(size_t)(n - 1 - y) * n + x]);
                ASSERT_TRUE(p.r == e[0] && p.g == e[1] && p.b == e[2] && p.a == 65535) << x << "," << y;
            }
    }
}

// The linear routines average only photosites of the crop: masked margin columns (here
// bright) must not leak into the crop's last column or row.
TEST(RawDemosaic, LinearIgnoresMaskedMargins) {
    cStdCFAFilter rggb;
    const int w = 12, h = 10;
    sMarginInfo m;
    m.right = 2;
    m.bottom = 2;
    Frame run(w, h, &rggb, &m);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) run.raw[(size_t)y * w + x] = (x >= w - 2 || y >= h - 2) ? 60000 : 2000;
    ASSERT_TRUE(interpolateLinear(run.info, &m));
    for (auto p : run.out) {
        Channels c = split(p);
        ASSERT_TRUE(c.r == 2000 && c.g == 2000 && c.b == 2000);
    }
}

// The frame hook sees the untouched sensor frame before any routine works on it.
TEST(RawDemosaic, FrameHookSeesTheSensorFrame) {
    struct Seen {
        std::vector<uint16_t> frame;
        long long w = 0, h = 0;
    } seen;
    setRawFrameHook(
        [](void* ctx, const sRawFrameView& v) {
            Seen* s = (Seen*)ctx;
            s->frame.assign(v.samples, v.samples + v.width * v.height);
            s->w = v.width;
            s->h = v.height;
        },
        &seen);
    cStdCFAFilter rggb;
    Frame run(9, 6, &rggb);
    for (size_t i = 0; i < run.raw.size(); i++) run.raw[i] = (uint16_t)(i * 977);
    std::vector<uint16_t> before = run.raw;
    run.info.black = 30000;
    EXPECT_TRUE(interpolatePPG(run.info, nullptr));
    setRawFrameHook(nullptr, nullptr);
    EXPECT_EQ(seen.frame, before);
    EXPECT_EQ(seen.w, 9);
    EXPECT_EQ(seen.h, 6);
}
