// Canon CR2: kit files (sliced lossless-JPEG frames, small raw, the early models' frame at a
// maker-note offset) decode to their exact frame through the frame hook, and read as the
// same frame through dcraw and LibRaw; the model tables, black mask, margins and metadata
// walkers hold their values and their guards; hostile structures and truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/canon/pictcr2.h"
#include "rawkit/canonenc.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

CanonCr2Spec plainSpec(int w, int h, int slices, int sliceWidth, unsigned seed) {
    CanonCr2Spec s;
    s.width = w;
    s.height = h;
    s.sliceCount = slices;
    s.sliceWidth = sliceWidth;
    s.frame = rampNoiseFrame(w, h, 12, seed);
    return s;
}

bool decodeSeen(const std::vector<unsigned char>& file, SeenFrame& seen, cPictCR2* keep = nullptr) {
    cBufWrapperIO io(file.data(), (long long)file.size());
    cPictCR2 local;
    cPictCR2& d = keep ? *keep : local;
    return decodeSeeingFrame(d, &io, seen);
}

}  // namespace

TEST(CanonCr2, SlicedFramesDecodeToTheirFrameAsThePeersReadThem) {
    struct Case {
        bool be;
        int w, h, slices, sliceWidth, components;
        bool peers;  // both peers re-shape a one-component frame by their own rules
    };
    const Case cases[] = {{false, 96, 24, 2, 32, 2, true}, {false, 100, 40, 1, 48, 2, true},
                          {true, 64, 32, 3, 16, 4, true},   {false, 64, 32, 0, 0, 2, true},
                          {false, 48, 30, 0, 0, 1, false}};
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " slices " << c.slices << "x" << c.sliceWidth);
        CanonCr2Spec s = plainSpec(c.w, c.h, c.slices, c.sliceWidth, (unsigned)c.w);
        s.bigEndian = c.be;
        s.components = c.components;
        std::vector<unsigned char> file = writeCanonCr2(s);
        cPictCR2 d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeen(file, seen, &d));
        EXPECT_EQ(seen.width, c.w);
        EXPECT_EQ(seen.height, c.h);
        EXPECT_EQ(seen.samples, s.frame);
        EXPECT_EQ(d.width(), c.w);  // an unlisted model: nothing cropped
        EXPECT_EQ(seen.cfa[0], 0);
        EXPECT_EQ(seen.cfa[3], 2);
        // Levels 2000, 1000, 1500 (red, green, blue); an unlisted id's white is 3616.
        EXPECT_NEAR(seen.mul[0], 2.0 * 65535.0 / 3616.0, 1e-9);
        EXPECT_NEAR(seen.mul[1], 65535.0 / 3616.0, 1e-9);
        EXPECT_NEAR(seen.mul[2], 1.5 * 65535.0 / 3616.0, 1e-9);
        if (c.peers) expectPeersReadAs(dir, file, ".cr2", c.w, c.h, s.frame);
    }
}

TEST(CanonCr2, ModelMarginsCropAndClampToTheFrame) {
    struct Case {
        uint32_t id;
        int w, h;
        unsigned margins[4];  // left, right, top, bottom as decoded
    };
    const Case cases[] = {
        {0x80000281, 256, 64, {142, 62, 45, 0}},   // the table's margins
        {0x80000405, 200, 64, {0, 0, 0, 0}},       // 264 columns would leave nothing: uncropped
        {0x80000999, 64, 32, {0, 0, 0, 0}},        // unlisted
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        CanonCr2Spec s = plainSpec(c.w, c.h, 0, 0, 7);
        s.modelId = c.id;
        std::vector<unsigned char> file = writeCanonCr2(s);
        cBufWrapperIO io(file.data(), (long long)file.size());
        cPictCR2 d;
        cPictBase::sPictInfo info;
        ASSERT_TRUE(d.isPicture(&io, &info));
        EXPECT_EQ(info.width, c.w - (int)c.margins[0] - (int)c.margins[1]);
        EXPECT_EQ(info.height, c.h - (int)c.margins[2] - (int)c.margins[3]);
        SeenFrame seen;
        ASSERT_TRUE(decodeSeen(file, seen, &d));
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.margins[i], c.margins[i]) << i;
        EXPECT_EQ(d.width(), info.width);
        EXPECT_EQ(d.height(), info.height);
    }
}

TEST(CanonCr2, BlackComesFromTheMaskClampedToTheFrame) {
    // Bucket means (even/odd column, even/odd row) as the mask would give them.
    struct Case {
        unsigned short v[4];
        bool derived;
        unsigned int black;
    };
    const Case cases[] = {
        {{2040, 2048, 2052, 2070}, true, 2052},  // every bucket within 20 of the average
        {{2040, 2048, 2052, 2080}, true, 0},     // average 2055, one bucket 25 away
        {{2040, 2048, 2052, 2080}, false, 2055}, // a stored mask is taken as it is
    };
    const int W = 16, H = 8;
    for (const Case& c : cases) {
        std::vector<unsigned short> f((size_t)W * H, 0);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) f[(size_t)y * W + x] = c.v[(x & 1) + 2 * (y & 1)];
        unsigned short si[siCount] = {};
        si[siMaskLeft] = 2;
        si[siMaskTop] = 2;
        si[siMaskRight] = 6;
        si[siMaskBottom] = 6;
        EXPECT_EQ(cPictCR2::blackLevel(f.data(), W, H, si, c.derived), c.black);
        // A rectangle reaching far past the frame reads only the frame's part of it.
        si[siMaskRight] = 60000;
        si[siMaskBottom] = 60000;
        EXPECT_EQ(cPictCR2::blackLevel(f.data(), W, H, si, c.derived), c.black);
        si[siMaskLeft] = 40;  // starts past the frame: no mask
        EXPECT_EQ(cPictCR2::blackLevel(f.data(), W, H, si, c.derived), 0u);
    }
    // Through a file: a stored mask over the left columns, beyond the frame's bottom.
    CanonCr2Spec s = plainSpec(64, 32, 0, 0, 3);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 8; x++) s.frame[(size_t)y * 64 + x] = 256;
    s.mask[0] = 0;
    s.mask[1] = 0;
    s.mask[2] = 8;
    s.mask[3] = 5000;
    SeenFrame seen;
    ASSERT_TRUE(decodeSeen(writeCanonCr2(s), seen));
    EXPECT_EQ(seen.black, 256u);
    // No mask stored: one is derived from the left border 40 (columns 18-21, rows 8-23).
    s.mask[2] = s.mask[3] = 0;
    s.leftBorder = 40;
    for (int odd : {262, 300}) {
        for (int y = 0; y < 32; y++)
            for (int x = 18; x < 22; x++) s.frame[(size_t)y * 64 + x] = (uint16_t)(x & 1 ? odd : 250);
        ASSERT_TRUE(decodeSeen(writeCanonCr2(s), seen));
        EXPECT_EQ(seen.black, odd == 262 ? 256u : 0u);  // 300 is 25 from the average: not black
    }
}

TEST(CanonCr2, SliceTagOnlyAsThreeShorts) {
    struct Case {
        std::vector<uint32_t> values;
        int type;
        bool ok;
    };
    const Case cases[] = {
        {{2, 32, 32}, 3, true},
        {{2, 32}, 3, false},      // 4 bytes: the last width would be read past the value
        {{2, 32, 32}, 4, false},  // LONGs of 12 bytes: not the slice triple
    };
    for (const Case& c : cases) {
        CanonCr2Spec s = plainSpec(96, 24, 2, 32, 5);
        s.sliceTag = c.values;
        s.sliceTagType = c.type;
        std::vector<unsigned char> file = writeCanonCr2(s);
        SeenFrame seen;
        EXPECT_EQ(decodeSeen(file, seen), c.ok) << c.values.size() << " type " << c.type;
        if (c.ok) {
            EXPECT_EQ(seen.samples, s.frame);
        }
    }
}

TEST(CanonCr2, SmallRawIsConvertedFromItsLumaAndChroma) {
    // 2 x 2 luma blocks in decode order; the JPEG (W x H) fills a 2W x H/2 frame as one
    // slice of W pixels (3W samples), its top half on the left, its bottom half on the right.
    const int W = 32, H = 16;
    std::vector<LjComp> c(3);
    c[0].h = c[0].v = 2;
    c[0].w = W;
    c[0].hgt = H;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) c[0].px.push_back((uint16_t)(3000 + x * 50 + y * 30));
    for (int k = 1; k < 3; k++) {
        c[k].w = W / 2;
        c[k].hgt = H / 2;
        for (int i = 0; i < W / 2 * H / 2; i++) c[k].px.push_back((uint16_t)(16384 + (k == 1 ? 100 : -60)));
    }
    LjOptions o;
    o.precision = 15;
    o.decodeOrder = true;
    CanonCr2Spec s;
    s.width = 2 * W;
    s.height = H / 2;
    s.jpeg = encodeLossless(c, W, H, o);
    s.sliceTag = {1, (uint32_t)(3 * W), (uint32_t)(3 * W)};
    s.modelId = 0x80000250;
    cPictCR2 d;
    SeenFrame seen;
    ASSERT_TRUE(decodeSeen(writeCanonCr2(s), seen, &d));
    ASSERT_EQ(seen.channels, 3);
    ASSERT_EQ(seen.width, 2 * W);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            const size_t at = y < H / 2 ? (size_t)y * 2 * W + x : (size_t)(y - H / 2) * 2 * W + W + x;
            ASSERT_EQ(seen.samples[at * 3], c[0].px[(size_t)y * W + x]) << x << "," << y;
            ASSERT_EQ((short)seen.samples[at * 3 + 1], 100);
            ASSERT_EQ((short)seen.samples[at * 3 + 2], -60);
        }
    EXPECT_EQ(d.width(), 2 * W);
    EXPECT_EQ(d.height(), H / 2);

    // 2 x 1 luma blocks (one chroma pair per two pixels of a row), two slices of 16 pixels
    // (slice tag widths count 2 samples a pixel): the JPEG's lines run through the frame in
    // slice order, as a plain frame's samples do.
    {
        const int FW = 32, FH = 8, S = 16;
        std::vector<uint16_t> Y, cb, cr;
        for (int y = 0; y < FH; y++)
            for (int x = 0; x < FW; x++) {
                Y.push_back((uint16_t)(2000 + 37 * x + 101 * y));
                cb.push_back((uint16_t)(16384 + (x / 2) * 3 - y));
                cr.push_back((uint16_t)(16384 - (x / 2) + 2 * y));
            }
        std::vector<uint16_t> yo = sliceOrder(Y, FW, FH, 1, S), bo = sliceOrder(cb, FW, FH, 1, S),
                              ro = sliceOrder(cr, FW, FH, 1, S);
        std::vector<LjComp> m(3);
        m[0].h = 2;
        m[0].w = FW;
        m[0].hgt = FH;
        m[0].px = yo;
        for (int k = 1; k < 3; k++) {
            m[k].w = FW / 2;
            m[k].hgt = FH;
            for (size_t i = 0; i < yo.size(); i += 2) m[k].px.push_back(k == 1 ? bo[i] : ro[i]);
        }
        LjOptions mo;
        mo.precision = 15;
        CanonCr2Spec ms;
        ms.width = FW;
        ms.height = FH;
        ms.jpeg = encodeLossless(m, FW, FH, mo);
        ms.sliceTag = {1, (uint32_t)(2 * S), (uint32_t)(2 * (FW - S))};
        SeenFrame mseen;
        ASSERT_TRUE(decodeSeen(writeCanonCr2(ms), mseen));
        ASSERT_EQ(mseen.channels, 3);
        for (int i = 0; i < FW * FH; i++) {
            ASSERT_EQ(mseen.samples[(size_t)i * 3], Y[(size_t)i]) << i;
            ASSERT_EQ((short)mseen.samples[(size_t)i * 3 + 1], (short)(cb[(size_t)i] - 16384)) << i;
            ASSERT_EQ((short)mseen.samples[(size_t)i * 3 + 2], (short)(cr[(size_t)i] - 16384)) << i;
        }
    }

    // The conversion by model family, before the 15-bit scale.
    struct Conv {
        unsigned int id;
        short y, cb, cr;
        int r, g, b;
    };
    const Conv conv[] = {
        {0x80000001, 1000, 0, 0, 488, 488, 488},  // an old model lowers luma by 512
        {0x80000189, 1000, 10, 20, 508, 476, 498},
        {0x80000236, 1000, 10, 20, 1020, 988, 1010},  // from 0x80000218 on, luma stays
        {0x80000250, 1000, 10, 20, 1112, 928, 1070},
    };
    for (const Conv& v : conv) {
        unsigned short yuv[3] = {(unsigned short)v.y, (unsigned short)v.cb, (unsigned short)v.cr};
        unsigned long long px = 0;
        cPictCR2::srawToRgb(yuv, &px, 1, 1, 16, v.id, false);
        EXPECT_EQ((int)(px >> 32 & 0xFFFF), v.r) << std::hex << v.id;
        EXPECT_EQ((int)(px >> 16 & 0xFFFF), v.g) << std::hex << v.id;
        EXPECT_EQ((int)(px & 0xFFFF), v.b) << std::hex << v.id;
    }
}

TEST(CanonCr2, EarlyModelsReadTheFrameAtTheMakerNoteOffset) {
    // Each JPEG line (two components of 32) holds two sensor rows of 32.
    const int JW = 32, JH = 12;
    std::vector<uint16_t> frame = rampNoiseFrame(JW, 2 * JH, 12, 9);
    LjOptions o;
    o.precision = 12;
    CanonCr2Spec s;
    s.modelId = 0x80000001;
    s.width = JW;
    s.height = 2 * JH;
    s.jpeg = encodeRawSequence(frame, JW, JH, 2, o);
    s.oldFrameOffsetTag = 1;
    SeenFrame seen;
    cPictCR2 d;
    ASSERT_TRUE(decodeSeen(writeCanonCr2(s), seen, &d));
    EXPECT_EQ(seen.width, JW);
    EXPECT_EQ(seen.height, 2 * JH);
    EXPECT_EQ(seen.samples, frame);
    EXPECT_EQ(seen.cfa[0], 1);  // green red / blue green
    EXPECT_EQ(seen.cfa[1], 0);
    // Without tag 129 the model has no frame.
    s.oldFrameOffsetTag = 0;
    EXPECT_FALSE(decodeSeen(writeCanonCr2(s), seen));
}

TEST(CanonCr2, ModelTables) {
    struct Case {
        unsigned int id;
        bool listed;
        unsigned short white;
        double m00;
    };
    const Case cases[] = {
        {0x80000218, true, 15600, 2.06819},  {0x80000349, true, 0, 1.9644},    {0x80000285, true, 15488, 1.9644},
        {0x80000777, false, 3616, 1.917578}, {0x1570000, false, 0, -2.268888}, {0x1234567, false, 0, 1.0},
        {0x3070000, true, 0, 1.0},
    };
    for (const Case& c : cases) {
        cPictCR2::sCamColor col;
        EXPECT_EQ(cPictCR2::colorsFor(c.id, col), c.listed) << std::hex << c.id;
        EXPECT_EQ(col.white, c.white) << std::hex << c.id;
        EXPECT_DOUBLE_EQ(col.m[0][0], c.m00) << std::hex << c.id;
        EXPECT_EQ(col.black, 0);
    }
    sMarginInfo m;
    EXPECT_TRUE(cPictCR2::marginsFor(0x4180000, m));
    EXPECT_EQ(m.left, 264u);
    EXPECT_EQ(m.top, 36u);
    EXPECT_FALSE(cPictCR2::marginsFor(0x80000001, m));
    EXPECT_EQ(m.left + m.right + m.top + m.bottom, 0u);
}

// Decoders made on several threads at once each see whole tables (run alone, as ctest does,
// this is the process's first fill).
TEST(CanonCr2, ModelTablesFilledOnceAcrossThreads) {
    std::vector<std::thread> threads;
    std::vector<int> good(8, 0);
    for (int t = 0; t < 8; t++)
        threads.emplace_back([t, &good] {
            cPictCR2 d;
            cPictCR2::sCamColor c;
            sMarginInfo m;
            good[t] = cPictCR2::colorsFor(0x3070000, c) && cPictCR2::colorsFor(0x1140000, c) &&
                      cPictCR2::marginsFor(0x2460000, m) && m.left == 192 && cPictCR2::marginsFor(0x80000174, m);
        });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 8; t++) EXPECT_TRUE(good[t]) << t;
}

TEST(CanonCr2, PreviewStaysReachableWithoutTheFrame) {
    CanonCr2Spec s = plainSpec(64, 32, 2, 16, 12);
    s.preview = cjpegPicture(120, 80, 4);
    if (s.preview.empty()) GTEST_SKIP() << "no cjpeg picture";
    uint64_t off = 0, len = 0;
    std::vector<unsigned char> file = writeCanonCr2(s, &off, &len);
    // The frame's JPEG overwritten: no picture, but the preview is still there.
    for (uint64_t i = off; i < off + len; i++) file[i] = 0;
    struct Case {
        long long mw, mh, w, h;
    };
    for (const Case& c : {Case{0, 0, 120, 80}, Case{60, 60, 60, 40}}) {
        cBufWrapperIO io(file.data(), (long long)file.size());
        cPictCR2 d;
        EXPECT_FALSE(d.isPicture(&io, nullptr));
        cPictDummy t;
        long long mw = c.mw, mh = c.mh;
        io.set_fp(0);
        ASSERT_TRUE(d.getPreview(&io, &t, c.mw ? &mw : nullptr, c.mh ? &mh : nullptr));
        EXPECT_EQ(t.width(), c.w);
        EXPECT_EQ(t.height(), c.h);
    }
}

TEST(CanonCr2, MakerNoteWalkerChecksEveryShape) {
    auto le16 = [](std::vector<uint32_t> v) { return bytesOf(v, 2, false); };
    struct Case {
        const char* name;
        int tag, type;
        std::vector<unsigned char> data;
        bool ok;
        double levels[4];  // -1: not checked
    };
    std::vector<uint32_t> s582(582, 0), s500(500, 0);
    s582[25] = 11, s582[26] = 22, s582[27] = 33, s582[28] = 44;
    std::vector<uint32_t> si26(13, 0);
    si26[0] = 34;
    std::vector<unsigned char> old(200, 0);
    old[136] = 5, old[140] = 6, old[144] = 7, old[148] = 8;  // shot index 4 -> byte 136
    const Case cases[] = {
        {"colour 582", 16385, 3, le16(s582), true, {11, 22, 44, 33}},
        {"colour 500", 16385, 3, le16(s500), false, {-1}},
        {"colour as LONG", 16385, 4, le16(s582), false, {-1}},
        {"sensor info length mismatch", 224, 3, le16(si26), false, {-1}},
        {"sensor info short", 224, 3, le16({20, 1, 2, 3, 4, 5, 6, 7, 8, 9}), false, {-1}},
        {"model id as SHORT", 16, 3, le16({1, 0}), false, {-1}},
        {"old colour, index 4", 41, 1, old, true, {6, 5, 7, 8}},
        {"old colour too short", 41, 1, std::vector<unsigned char>(140, 0), true, {0, 0, 0, 0}},
        {"old colour as SHORT", 41, 3, old, false, {-1}},
    };
    for (const Case& c : cases) {
        cCR2MakerNoteProps n;
        n.reset();
        if (c.tag == 41) {
            std::vector<uint32_t> shot(21, 0);
            shot[7] = 4;
            std::vector<unsigned char> b = le16(shot);
            ASSERT_TRUE(n.onTag(4, 3, b.data(), (int)b.size()));
        }
        EXPECT_EQ(n.onTag(c.tag, c.type, c.data.data(), (int)c.data.size()), c.ok) << c.name;
        if (c.levels[0] >= 0) {
            for (int i = 0; i < 4; i++) EXPECT_EQ(n.levels[i], c.levels[i]) << c.name << " " << i;
        }
    }
    // A derived mask: left border 126, height 3516.
    cCR2MakerNoteProps n;
    std::vector<uint32_t> si(13, 0);
    si[0] = 26, si[2] = 3516, si[5] = 126;
    std::vector<unsigned char> b = le16(si);
    ASSERT_TRUE(n.onTag(224, 3, b.data(), (int)b.size()));
    EXPECT_TRUE(n.maskDerived);
    EXPECT_EQ(n.sensor[siMaskLeft], 61);
    EXPECT_EQ(n.sensor[siMaskRight], 65);
    EXPECT_EQ(n.sensor[siMaskTop], 879);
    EXPECT_EQ(n.sensor[siMaskBottom], 2637);
}

TEST(CanonCr2, MakeAndStructureRefusals) {
    CanonCr2Spec s = plainSpec(64, 32, 2, 16, 11);
    struct Case {
        const char* make;
        bool ok;
    };
    for (const Case& c : {Case{"Canon", true}, Case{"canon", true}, Case{"Nikon", false}}) {
        s.make = c.make;
        std::vector<unsigned char> file = writeCanonCr2(s);
        cBufWrapperIO io(file.data(), (long long)file.size());
        EXPECT_EQ(cPictCR2::validFor(&io, nullptr), c.ok) << c.make;
    }
    s.make = "Canon";
    {
        // A sensor of 40000 x 40000 behind a frame of a few hundred bytes: refused from the
        // sizes alone, before the frame's 3 GB would be asked for.
        CanonCr2Spec big = s;
        NoteEntry e;
        e.tag = 224;
        e.type = 3;
        e.count = 17;
        std::vector<uint32_t> si(17, 0);
        si[0] = 34, si[1] = 40000, si[2] = 40000;
        e.data = bytesOf(si, 2, false);
        big.extraNote = {e};
        std::vector<unsigned char> f = writeCanonCr2(big);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictCR2 d;
        EXPECT_FALSE(d.isPicture(&io, nullptr));
        io.set_fp(0);
        EXPECT_FALSE(d.decode(&io));
    }
    std::vector<unsigned char> file = writeCanonCr2(s);
    // Every truncation fails or decodes cleanly; none past the frame's start can be a picture.
    uint64_t off = 0, len = 0;
    writeCanonCr2(s, &off, &len);
    for (size_t n = 0; n < file.size(); n += (n < 400 ? 1 : 37)) {
        cBufWrapperIO io(file.data(), (long long)n);
        cPictCR2 d;
        if (n < off + len) {
            EXPECT_FALSE(d.decode(&io)) << n;
        }
    }
    // Bytes flipped through the whole file.
    for (size_t i = 0; i < file.size(); i += 3) {
        std::vector<unsigned char> bad = file;
        bad[i] ^= 0x5A;
        cBufWrapperIO io(bad.data(), (long long)bad.size());
        cPictCR2 d;
        d.decode(&io);
    }
}

// Probe and refusal are checked with the other real samples.
TEST(CanonCr2, RealFileWalkedWhole) {
    std::vector<unsigned char> f = sharedRawOrSkip("CanonRaw.cr2");
    if (f.empty()) return;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictCR2 d;
    EXPECT_FALSE(d.decode(&io));
    EXPECT_EQ(d.getModelId(), 0x80000189u);  // the maker note was read before the frame was missed
    // Every directory was walked: the frame directory's strip is the 16 bytes left of the frame.
    EXPECT_EQ(d.frameDirectory().frameOffset, 8648u);
    EXPECT_EQ(d.frameDirectory().frameLength, 16u);
    EXPECT_NE(d.makerNote().levels[0], 0.0);
    EXPECT_NE(d.makerNote().sensor[siWidth], 0);
}
