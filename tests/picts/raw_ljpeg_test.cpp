// Lossless-JPEG raw frames: kit-encoded frames (ramps plus noise, odd sizes, every predictor,
// 1, 2 and 4 components, slices, interleaved rows, small-raw layouts) must come back exactly,
// and hostile geometry or data must fail cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/memio.h"
#include "picts/rawcore/rawljpeg.h"
#include "rawkit/ljpegenc.h"

using namespace rawkit;

namespace {

struct Geometry {
    unsigned width = 0, height = 0;
    int slices = 0;
    unsigned sliceWidth = 0, lastWidth = 0;
    bool interleaved = false;
};

bool decode(const std::vector<unsigned char>& jpeg, const Geometry& g, std::vector<uint16_t>& out,
            int* kind = nullptr, bool decodeOrder = false) {
    cRAWLosslessJpeg d;
    d.setDecodeOrderPrediction(decodeOrder);
    if (g.slices || g.sliceWidth)
        d.init(g.width, g.height, g.slices, g.sliceWidth, g.lastWidth);
    else
        d.init(g.width, g.height, g.interleaved ? cRAWLosslessJpeg::stInterleaved : cRAWLosslessJpeg::stInOrder);
    cBufWrapperIO io(jpeg.data(), (long long)jpeg.size());
    bool ok = d.decodeFrame(&io);
    _typebuf<unsigned short>& f = d.getBitmap();
    out.assign(f.ptr, f.ptr + f.count);
    if (kind) {
        cRAWLosslessJpeg::eRawType k;
        int p;
        d.getInfo(k, p);
        *kind = (int)k;
    }
    return ok;
}

}  // namespace

// Plain frames in row order: every predictor, several precisions, 1/2/4 components, odd
// widths and heights, restarts. Then four components whose JPEG line spans two frame rows, and
// a line that wraps mid-row (three components' worth of width per line): positions run on
// row-major from line * samples.
TEST(RawLosslessJpeg, PlainFramesComeBackExactly) {
    struct Case {
        int width, height, nc, precision, psv, restart;
        int jpegWidth = 0, jpegHeight = 0;  // 0: width / nc, height
    };
    std::vector<Case> cases;
    int k = 0;
    for (int psv = 1; psv <= 7; psv++)
        for (int precision : {2, 10, 12, 14, 16}) {
            int nc = (k % 3 == 0) ? 1 : (k % 3 == 1) ? 2 : 4;
            cases.push_back({nc * (7 + k % 5), 5 + k % 4, nc, precision, psv, k % 4 == 0 ? 3 : 0});
            k++;
        }
    cases.push_back({10, 6, 4, 14, 1, 0, 5, 3});
    cases.push_back({12, 4, 4, 14, 1, 0, 6, 2});
    cases.push_back({9, 4, 2, 14, 1, 0, 6, 3});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " nc" << c.nc << " P" << c.precision << " psv"
                                        << c.psv << " jpeg " << c.jpegWidth << "x" << c.jpegHeight);
        std::vector<uint16_t> frame = rampNoiseFrame(c.width, c.height, c.precision, (unsigned)(c.psv * 31 + c.nc));
        LjOptions o;
        o.precision = c.precision;
        o.psv = c.psv;
        o.restart = c.restart;
        std::vector<unsigned char> jpeg = encodeRawSequence(frame, c.jpegWidth ? c.jpegWidth : c.width / c.nc,
                                                            c.jpegHeight ? c.jpegHeight : c.height, c.nc, o);
        std::vector<uint16_t> got;
        Geometry g{(unsigned)c.width, (unsigned)c.height};
        ASSERT_TRUE(decode(jpeg, g, got));
        EXPECT_EQ(got, frame);
    }
}

// Slices: each runs over every row before the next one; the last may be wider or narrower.
TEST(RawLosslessJpeg, SlicedFramesComeBackExactly) {
    struct Case {
        int width, height, slices, sliceWidth, nc;
    };
    for (Case c : {Case{5360, 4, 2, 1728, 2}, Case{30, 7, 2, 8, 2}, Case{31, 5, 1, 16, 1}, Case{24, 6, 3, 6, 4},
                   Case{20, 3, 1, 10, 2}}) {
        SCOPED_TRACE(testing::Message() << c.width << " slices " << c.slices << "x" << c.sliceWidth);
        std::vector<uint16_t> frame = rampNoiseFrame(c.width, c.height, 12, 9);
        LjOptions o;
        o.precision = 12;
        std::vector<uint16_t> order = sliceOrder(frame, c.width, c.height, c.slices, c.sliceWidth);
        std::vector<unsigned char> jpeg = encodeRawSequence(order, c.width / c.nc, c.height, c.nc, o);
        std::vector<uint16_t> got;
        Geometry g{(unsigned)c.width, (unsigned)c.height, c.slices, (unsigned)c.sliceWidth,
                   (unsigned)(c.width - c.slices * c.sliceWidth)};
        ASSERT_TRUE(decode(jpeg, g, got));
        EXPECT_EQ(got, frame);
        if (c.width == 5360) {
            // The first 1728 x height samples of the stream are columns 0-1727, row by row.
            for (int y = 0; y < c.height; y++)
                for (int x = 0; x < 1728; x++) ASSERT_EQ(got[(size_t)y * c.width + x], order[(size_t)y * 1728 + x]);
        }
    }
}

// Interleaved rows: line s fills row s / 2 from the top when even, from the bottom when odd.
TEST(RawLosslessJpeg, InterleavedRowsFillFromBothEnds) {
    for (int height : {4, 7}) {
        const int width = 9;
        std::vector<uint16_t> frame = rampNoiseFrame(width, height, 16, (unsigned)height);
        LjOptions o;
        std::vector<unsigned char> jpeg =
            encodeRawSequence(interleavedOrder(frame, width, height), width, height, 1, o);
        std::vector<uint16_t> got;
        Geometry g{(unsigned)width, (unsigned)height};
        g.interleaved = true;
        ASSERT_TRUE(decode(jpeg, g, got));
        EXPECT_EQ(got, frame);
        if (height == 4) {
            // Lines 0, 1, 2, 3 land in rows 0, 3, 1, 2.
            std::vector<uint16_t> inOrder;
            g.interleaved = false;
            ASSERT_TRUE(decode(jpeg, g, inOrder));
            const int rowOfLine[4] = {0, 3, 1, 2};
            for (int s = 0; s < 4; s++)
                for (int x = 0; x < width; x++)
                    EXPECT_EQ(got[(size_t)rowOfLine[s] * width + x], inOrder[(size_t)s * width + x]);
        }
    }
}

namespace {

// A small-raw frame: per pixel luma, and chroma per 2x1 or 2x2 block, in pixel space.
struct SmallRaw {
    int width, height;
    bool twoRows;  // 2x2 blocks (else 2x1)
    std::vector<uint16_t> y, cb, cr;  // cb, cr per block
};

SmallRaw makeSmallRaw(int width, int height, bool twoRows, unsigned seed) {
    SmallRaw s{width, height, twoRows, {}, {}, {}};
    s.y = rampNoiseFrame(width, height, 15, seed);
    int blocks = (width / 2) * (twoRows ? height / 2 : height);
    std::vector<uint16_t> c = rampNoiseFrame(blocks, 2, 14, seed + 1);
    s.cb.assign(c.begin(), c.begin() + blocks);
    s.cr.assign(c.begin() + blocks, c.end());
    for (auto& v : s.cb) v = (uint16_t)(v + 8192);  // around the chroma offset 16384 after scaling
    for (auto& v : s.cr) v = (uint16_t)(v + 8192);
    return s;
}

// The stream a small-raw camera writes: slice by slice, then row (pair) by row (pair), then
// block by block, each block its luma samples and one Cb, one Cr; cut into JPEG lines.
std::vector<unsigned char> encodeSmallRaw(const SmallRaw& s, int slices, int sliceWidthPx, int blocksPerLine,
                                          bool decodeOrder = false) {
    const int bh = s.twoRows ? 2 : 1;
    std::vector<LjComp> comps(3);
    std::vector<std::vector<uint16_t>> Y, Cb, Cr;  // per block
    std::vector<int> blockOrder;
    for (int sl = 0; sl <= slices; sl++) {
        int x0 = sl * sliceWidthPx, x1 = sl < slices ? x0 + sliceWidthPx : s.width;
        for (int y = 0; y < s.height; y += bh)
            for (int x = x0; x < x1; x += 2) blockOrder.push_back((y / bh) * (s.width / 2) + x / 2);
    }
    const int lines = (int)blockOrder.size() / blocksPerLine;
    comps[0].h = 2;
    comps[0].v = bh;
    comps[0].w = blocksPerLine * 2;
    comps[0].hgt = lines * bh;
    comps[0].px.assign((size_t)comps[0].w * comps[0].hgt, 0);
    for (int k = 1; k < 3; k++) {
        comps[k].w = blocksPerLine;
        comps[k].hgt = lines;
        comps[k].px.assign((size_t)blocksPerLine * lines, 0);
    }
    for (size_t n = 0; n < blockOrder.size(); n++) {
        int b = blockOrder[n], line = (int)n / blocksPerLine, m = (int)n % blocksPerLine;
        int bx = (b % (s.width / 2)) * 2, by = (b / (s.width / 2)) * bh;
        for (int a = 0; a < bh; a++)
            for (int c = 0; c < 2; c++)
                comps[0].px[(size_t)(line * bh + a) * comps[0].w + m * 2 + c] = s.y[(size_t)(by + a) * s.width + bx + c];
        comps[1].px[(size_t)line * blocksPerLine + m] = (uint16_t)(s.cb[b] + 16384);
        comps[2].px[(size_t)line * blocksPerLine + m] = (uint16_t)(s.cr[b] + 16384);
    }
    LjOptions o;
    o.precision = 15;
    o.decodeOrder = decodeOrder;
    return encodeLossless(comps, comps[0].w, comps[0].hgt, o);
}

}  // namespace

// Small raw: luma per pixel, chroma per block minus 16384, three samples a pixel, through
// slices whose widths the container gives in JPEG samples (2 per pixel for 2x1 blocks,
// 3 per pixel for 2x2 blocks).
TEST(RawLosslessJpeg, SmallRawFramesPlaceLumaAndChroma) {
    struct Case {
        bool twoRows;
        int width, height, slices, sliceWidthPx;
    };
    for (Case c : {Case{false, 12, 5, 1, 8}, Case{false, 16, 3, 2, 4}, Case{true, 16, 6, 1, 8}, Case{true, 32, 4, 3, 8}}) {
        SCOPED_TRACE(testing::Message() << (c.twoRows ? "2x2 " : "2x1 ") << c.width << "x" << c.height);
        SmallRaw s = makeSmallRaw(c.width, c.height, c.twoRows, 3);
        // One JPEG line covers `width` frame positions, whole row (pair) runs of the slices.
        int blocksPerLine = c.width / (c.twoRows ? 4 : 2);
        std::vector<unsigned char> jpeg = encodeSmallRaw(s, c.slices, c.sliceWidthPx, blocksPerLine);
        int unit = c.twoRows ? 3 : 2;
        Geometry g{(unsigned)c.width, (unsigned)c.height, c.slices, (unsigned)(c.sliceWidthPx * unit),
                   (unsigned)((c.width - c.slices * c.sliceWidthPx) * unit)};
        std::vector<uint16_t> got;
        int kind = -1;
        ASSERT_TRUE(decode(jpeg, g, got, &kind));
        EXPECT_EQ(kind, c.twoRows ? cRAWLosslessJpeg::rtSmall2x2 : cRAWLosslessJpeg::rtSmall2x1);
        ASSERT_EQ(got.size(), (size_t)c.width * c.height * 3);
        int bad = 0;
        for (int y = 0; y < c.height; y++)
            for (int x = 0; x < c.width; x++) {
                int b = (c.twoRows ? y / 2 : y) * (c.width / 2) + x / 2;
                const uint16_t* p = &got[((size_t)y * c.width + x) * 3];
                if (p[0] != s.y[(size_t)y * c.width + x] || p[1] != s.cb[b] || p[2] != s.cr[b]) bad++;
            }
        EXPECT_EQ(bad, 0);
    }
}

// getData hands the frame over once.
TEST(RawLosslessJpeg, GetDataMovesTheFrameOnce) {
    std::vector<uint16_t> frame = rampNoiseFrame(8, 3, 12, 1);
    LjOptions o;
    o.precision = 12;
    std::vector<unsigned char> jpeg = encodeRawSequence(frame, 8, 3, 1, o);
    cRAWLosslessJpeg d;
    d.init(8, 3, cRAWLosslessJpeg::stInOrder);
    cBufWrapperIO io(jpeg.data(), (long long)jpeg.size());
    ASSERT_TRUE(d.decodeFrame(&io));
    _typebuf<unsigned short> out;
    ASSERT_TRUE(d.getData(out));
    EXPECT_EQ(std::vector<uint16_t>(out.ptr, out.ptr + out.count), frame);
    EXPECT_FALSE(d.getData(out));
    EXPECT_EQ(out.ptr, nullptr);
    cRAWLosslessJpeg::eRawType kind;
    int precision;
    d.getInfo(kind, precision);
    EXPECT_EQ(precision, 12);
}

// Geometry a file can state that must be refused before anything is placed: no frame size,
// zero slice widths (a division by zero), small-raw widths that become 0 when divided,
// component counts and sampling the layouts do not have, frames far larger than the data.
TEST(RawLosslessJpeg, RefusesImpossibleGeometry) {
    std::vector<uint16_t> frame = rampNoiseFrame(8, 4, 12, 2);
    LjOptions o12;
    o12.precision = 12;
    std::vector<unsigned char> plain = encodeRawSequence(frame, 4, 4, 2, o12);
    std::vector<unsigned char> three = encodeRawSequence(rampNoiseFrame(12, 4, 14, 2), 4, 4, 3, LjOptions{14});
    std::vector<unsigned char> four = encodeRawSequence(rampNoiseFrame(16, 4, 14, 2), 4, 4, 4, LjOptions{14});
    std::vector<unsigned char> small15 = encodeRawSequence(rampNoiseFrame(12, 4, 15, 2), 4, 4, 3, LjOptions{15});
    std::vector<unsigned char> four15 = encodeRawSequence(rampNoiseFrame(16, 4, 15, 2), 4, 4, 4, LjOptions{15});
    SmallRaw s = makeSmallRaw(8, 4, false, 1);
    std::vector<unsigned char> small21 = encodeSmallRaw(s, 1, 4, 4);
    struct Case {
        const char* what;
        const std::vector<unsigned char>* jpeg;
        Geometry g;
        bool ok;
    };
    const Case cases[] = {
        {"no frame size", &plain, Geometry{0, 4}, false},
        {"zero slice width", &plain, Geometry{8, 4, 1, 0, 0}, false},
        {"zero last slice width after a zero slice", &plain, Geometry{8, 4, 2, 0, 8}, false},
        {"precision 14, three components", &three, Geometry{12, 4}, false},
        {"four components", &four, Geometry{16, 4}, true},
        {"precision 15, three components, no slices", &small15, Geometry{12, 4}, false},
        {"precision 15, four components, sliced: a plain frame", &four15, Geometry{16, 4, 1, 8, 8}, true},
        {"small raw slice width 1 halves to 0", &small21, Geometry{8, 4, 1, 1, 1}, false},
        {"frame far larger than the JPEG", &plain, Geometry{60000, 60000}, false},
        {"frame size beyond the cap", &plain, Geometry{0xFFFFFFFFu, 0xFFFFFFFFu}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint16_t> got;
        EXPECT_EQ(decode(*c.jpeg, c.g, got), c.ok);
    }
}

// Sliced small-raw runs that would reach past the frame's last row pair are refused, and
// slice widths beyond the frame drop samples instead of writing outside it.
TEST(RawLosslessJpeg, SmallRawPlacementStaysInsideTheFrame) {
    SmallRaw s = makeSmallRaw(16, 6, true, 4);
    std::vector<unsigned char> jpeg = encodeSmallRaw(s, 1, 8, 4);
    std::vector<uint16_t> got;
    // A frame 3 rows high cannot take the second row pair.
    EXPECT_FALSE(decode(jpeg, Geometry{16, 3, 1, 24, 24}, got));
    // Slices wider than the frame: samples past column 15 are dropped, nothing else happens.
    EXPECT_TRUE(decode(jpeg, Geometry{16, 6, 1, 300, 300}, got));
    SmallRaw s21 = makeSmallRaw(16, 3, false, 5);
    std::vector<unsigned char> j21 = encodeSmallRaw(s21, 1, 8, 8);
    EXPECT_TRUE(decode(j21, Geometry{4, 3, 1, 600, 600}, got));
    EXPECT_EQ(got.size(), 4u * 3 * 3);
}

// A stream cut anywhere fails (or, cut inside the trailing EOI, still decodes) without
// touching memory outside the frame.
TEST(RawLosslessJpeg, TruncatedStreamsFailCleanly) {
    std::vector<uint16_t> frame = rampNoiseFrame(24, 6, 14, 8);
    LjOptions o;
    o.precision = 14;
    std::vector<unsigned char> jpeg = encodeRawSequence(frame, 12, 6, 2, o);
    int decoded = 0;
    for (size_t cut = 0; cut + 2 < jpeg.size(); cut += 3) {
        std::vector<unsigned char> part(jpeg.begin(), jpeg.begin() + (long)cut);
        std::vector<uint16_t> got;
        if (decode(part, Geometry{24, 6}, got)) decoded++;
    }
    EXPECT_EQ(decoded, 0);
}

// Small raw coded in decode order (each luma sample predicted from the one coded before it):
// read back exactly with that prediction switched on; T.81's own prediction misreads the
// 2x2 blocks but agrees on 2x1 blocks, where both take the left neighbour.
TEST(RawLosslessJpeg, DecodeOrderPredictionForSmallRaw) {
    for (bool twoRows : {true, false}) {
        SCOPED_TRACE(twoRows ? "2x2" : "2x1");
        SmallRaw s = makeSmallRaw(16, 6, twoRows, 11);
        int unit = twoRows ? 3 : 2, blocksPerLine = twoRows ? 4 : 8;
        std::vector<unsigned char> jpeg = encodeSmallRaw(s, 1, 8, blocksPerLine, true);
        Geometry g{16, 6, 1, (unsigned)(8 * unit), (unsigned)(8 * unit)};
        std::vector<uint16_t> chain, t81;
        ASSERT_TRUE(decode(jpeg, g, chain, nullptr, true));
        ASSERT_TRUE(decode(jpeg, g, t81, nullptr, false));
        std::vector<uint16_t> luma;
        for (size_t i = 0; i < chain.size(); i += 3) luma.push_back(chain[i]);
        EXPECT_EQ(luma, s.y);
        if (twoRows)
            EXPECT_NE(t81, chain);
        else
            EXPECT_EQ(t81, chain);
    }
}
