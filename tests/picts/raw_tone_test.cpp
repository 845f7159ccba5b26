// Raw tone finishing on constructed pixels: histogram counts against a plain count, curve
// and saturation by their arithmetic, the stream guard, and the finishing sequence (dark and
// flat frames stay linear; a spread frame is stretched monotonically to the full range).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <vector>

#include "base/memio.h"
#include "picts/rawcore/rawtone.h"
#include "picts/tone.h"

namespace {

unsigned long long px(unsigned r, unsigned g, unsigned b, unsigned a = 65535) {
    return (unsigned long long)a << 48 | (unsigned long long)r << 32 | (unsigned long long)g << 16 | b;
}
unsigned chan(unsigned long long p, int shift) { return (unsigned)(p >> shift) & 0xFFFF; }

// A stream that can be closed from elsewhere.
class Closable : public cMemIOTarget {
public:
    bool open = true;
    bool valid() override { return open; }
};

// Pixels in a 64 KiB-aligned block, so the first pixel is a progress point.
struct Aligned {
    unsigned long long* p;
    explicit Aligned(size_t n) : p((unsigned long long*)std::aligned_alloc(65536, ((n * 8 + 65535) / 65536) * 65536)) {}
    ~Aligned() { std::free(p); }
};

}  // namespace

TEST(RawTone, HistogramCountsEveryChannel) {
    std::vector<unsigned long long> pixels;
    unsigned s = 3;
    for (int i = 0; i < 5000; i++) {
        s = s * 1103515245u + 12345u;
        pixels.push_back(px(s >> 16, (s >> 8) & 0xFFFF, s & 0xFFFF, i & 0xFFFF));
    }
    for (long long bins : {1LL, 16LL, 4096LL, 65536LL}) {
        sHystogram h;
        ASSERT_TRUE(buildHystogram(pixels.data(), (long long)pixels.size(), h, bins, nullptr));
        std::map<unsigned, unsigned> r, g, b, all;
        for (auto p : pixels) {
            unsigned step = (unsigned)(65536 / bins);
            r[chan(p, 32) / step]++;
            g[chan(p, 16) / step]++;
            b[chan(p, 0) / step]++;
            all[chan(p, 32) / step]++;
            all[chan(p, 16) / step]++;
            all[chan(p, 0) / step]++;
        }
        ASSERT_EQ(h.combined.count, bins);
        for (long long i = 0; i < bins; i++) {
            ASSERT_EQ(h.red.ptr[i], r[(unsigned)i]);
            ASSERT_EQ(h.green.ptr[i], g[(unsigned)i]);
            ASSERT_EQ(h.blue.ptr[i], b[(unsigned)i]);
            ASSERT_EQ(h.combined.ptr[i], all[(unsigned)i]);
        }
    }
    sHystogram h;
    for (long long bins : {0LL, 3LL, 131072LL, -4LL}) EXPECT_FALSE(buildHystogram(pixels.data(), 10LL, h, bins, nullptr));
    EXPECT_FALSE(buildHystogram<unsigned long long>(nullptr, 10, h, 16, nullptr));
    EXPECT_FALSE(buildHystogram(pixels.data(), 0, h, 16, nullptr));
}

TEST(RawTone, CurveAppliesToColourChannelsOnly) {
    std::vector<unsigned long long> pixels = {px(0, 1, 2, 7), px(65535, 300, 40000, 65535)};
    _typebuf<unsigned int> curve;
    ASSERT_TRUE(curve.set(65536));
    for (int i = 0; i < 65536; i++) curve.ptr[i] = i < 100 ? (unsigned)i * 1000 : 70000u;  // capped at 65535
    std::vector<unsigned long long> out(2);
    ASSERT_TRUE(adjustToCurve(pixels.data(), out.data(), 2, curve, nullptr));
    EXPECT_EQ(out[0], px(0, 1000, 2000, 7));
    EXPECT_EQ(out[1], px(65535, 65535, 65535, 65535));
    _typebuf<unsigned int> small;
    ASSERT_TRUE(small.set(256));
    small.zero();
    std::vector<unsigned long long> keep = pixels;
    EXPECT_FALSE(adjustToCurve(keep.data(), keep.data(), 2, small, nullptr));
    EXPECT_EQ(keep, pixels);
}

TEST(RawTone, SaturationArithmetic) {
    struct Case {
        unsigned r, g, b;
        double factor;
        unsigned er, eg, eb;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {60000, 0, 0, 1.5, 65535, 0, 0},         // Y 18000: 81000 clamps, -9000 clamps
        {1234, 1234, 1234, 1.5, 1234, 1234, 1234},  // grey stays grey
        {1234, 1234, 1234, -7.0, 1234, 1234, 1234},
        {10000, 20000, 30000, 1.0, 10000, 20000, 30000},
        {10000, 20000, 30000, 0.0, 18100, 18100, 18100},  // Y = 3000 + 11800 + 3300: all to luma
        {10000, 20000, 30000, nan, 10000, 20000, 30000},  // a NaN factor changes nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.factor);
        unsigned long long p = px(c.r, c.g, c.b, 42);
        ASSERT_TRUE(setSaturation(&p, &p, 1, c.factor, nullptr));
        EXPECT_EQ(p, px(c.er, c.eg, c.eb, 42));
    }
}

// The guard answers the stream's validity: without a stream every routine stops at its first
// progress point; a stream closed from elsewhere stops them too.
TEST(RawTone, StreamGuardStopsAtTheFirstProgressPoint) {
    const size_t n = 20000;
    Aligned a(n);
    ASSERT_TRUE(a.p);
    for (size_t i = 0; i < n; i++) a.p[i] = px((unsigned)i, (unsigned)i, (unsigned)i);
    _typebuf<unsigned int> curve;
    ASSERT_TRUE(curve.set(65536));
    for (int i = 0; i < 65536; i++) curve.ptr[i] = (unsigned)(65535 - i);
    sHystogram h;
    Closable io;
    cStreamGuardProgressTarget none(nullptr), live(&io);
    EXPECT_FALSE(buildHystogram(a.p, (long long)n, h, 4096, &none));
    EXPECT_FALSE(adjustToCurve(a.p, a.p, (long long)n, curve, &none));
    // Only the first pixel was written before the stop.
    EXPECT_EQ(chan(a.p[0], 32), 65535u);
    EXPECT_EQ(chan(a.p[1], 32), 1u);
    EXPECT_FALSE(setSaturation(a.p, a.p, (long long)n, 1.5, &none));
    EXPECT_TRUE(buildHystogram(a.p, (long long)n, h, 4096, &live));
    io.open = false;
    EXPECT_FALSE(setSaturation(a.p, a.p, (long long)n, 1.5, &live));
}

// A dark frame (everything in one histogram bin) or a flat one gives no usable levels: the
// picture stays linear and the finishing still succeeds. A spread frame is stretched to the
// full range, keeping the order of values.
TEST(RawTone, FinishingKeepsDarkFramesAndStretchesSpreadOnes) {
    for (unsigned level : {0u, 5u, 30000u}) {
        SCOPED_TRACE(level);
        std::vector<unsigned long long> pixels(1000, px(level, level, level));
        std::vector<unsigned long long> before = pixels;
        EXPECT_TRUE(finishRawTone(pixels.data(), (long long)pixels.size(), 0.999, 2.2, 1.5, nullptr, nullptr));
        EXPECT_EQ(pixels, before);
    }
    std::vector<unsigned long long> ramp;
    for (unsigned v = 1000; v < 41000; v += 8) ramp.push_back(px(v, v, v));
    ASSERT_TRUE(finishRawTone(ramp.data(), (long long)ramp.size(), 0.999, 2.2, 0.0, nullptr, nullptr));
    EXPECT_EQ(chan(ramp.front(), 16), 0u);
    EXPECT_EQ(chan(ramp.back(), 16), 65535u);
    for (size_t i = 1; i < ramp.size(); i++) ASSERT_GE(chan(ramp[i], 16), chan(ramp[i - 1], 16));
    // The gamma lifts the middle: the ramp's midpoint lands well above half.
    EXPECT_GT(chan(ramp[ramp.size() / 2], 16), 40000u);
}

// The finishing runs in bands side by side (the saturation four pixels at a time); a frame
// large enough for several bands, of an odd size, comes out as the single passes (histogram,
// levels, white cap, curve, saturation) one after the other make it, clamps on both sides
// included.
TEST(RawTone, FinishingInBandsEqualsTheSinglePasses) {
    const struct {
        double factor;
        unsigned cap;
    } cases[] = {{1.5, 0}, {-7.0, 0}, {3.0, 0}, {0.0, 30000}};
    for (const auto& c : cases) {
        const double factor = c.factor;
        SCOPED_TRACE(factor);
        std::vector<unsigned long long> a;
        for (unsigned i = 0; i < 300001; i++)
            a.push_back(px((i * 7919u) % 50000u, (i * 104729u) % 40000u + 2000u, (i / 7u) % 60000u, i & 0xFFFF));
        std::vector<unsigned long long> b = a;
        ASSERT_TRUE(finishRawTone(a.data(), (long long)a.size(), 0.999, 2.2, factor, nullptr, nullptr, c.cap));
        sHystogram h;
        unsigned low, middle, high;
        _typebuf<unsigned int> curve;
        ASSERT_TRUE(buildHystogram(b.data(), (long long)b.size(), h, 4096, nullptr));
        ASSERT_TRUE(getHystogramParams(h.combined, 16, low, middle, high, 0.999));
        if (c.cap) {
            ASSERT_GT(high, c.cap);
            high = c.cap;
        }
        ASSERT_TRUE(makeDeCurveFromGamma(curve, 16, 2.2, low, high));
        ASSERT_TRUE(adjustToCurve(b.data(), b.data(), (long long)b.size(), curve, nullptr));
        if (factor != 0.0) {
            ASSERT_TRUE(setSaturation(b.data(), b.data(), (long long)b.size(), factor, nullptr));
        }
        ASSERT_TRUE(a == b);
    }
}
