// cPictDNG on DNG files written with the raw test kit: the frame it hands to demosaicing is
// the kit's frame (and dcraw -D -4's), in its own sample units, for every storage; the
// picture is the raw pipeline's on that frame with the file's black level, crop and white
// balance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/tiff/pictdng.h"
#include "rawkit/ljpegenc.h"
#include "rawkit/peers.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

namespace {
typedef std::vector<unsigned char> Bytes;

std::vector<uint16_t> makeFrame(int w, int h, int bits, unsigned seed) {
    Bytes r = testutil::randomBytes((size_t)(w * h * 2), seed);
    std::vector<uint16_t> f((size_t)(w * h));
    const unsigned mask = (1u << bits) - 1;
    for (int i = 0; i < w * h; i++)
        f[(size_t)i] = (uint16_t)((((i % w) * 700 + (i / w) * 300) + (r[(size_t)(2 * i)] << 4 | r[(size_t)(2 * i + 1)])) & mask);
    return f;
}

struct sDecoded {
    bool ok = false;
    long long w = 0, h = 0;
    std::vector<unsigned long long> px;
    rawkit::SeenFrame seen;
};

sDecoded decodeDng(const Bytes& file) {
    sDecoded r;
    cBufWrapperIO s(file.data(), (long long)file.size());
    cPictDNG d;
    r.ok = rawkit::decodeSeeingFrame(d, &s, r.seen) && d.is16Bpp();
    if (!r.ok) return r;
    r.w = d.width(), r.h = d.height();
    r.px.assign(d.raw16Bpp(), d.raw16Bpp() + r.w * r.h);
    return r;
}


}  // namespace

TEST(DngDecoder, FrameAndPictureForEveryStorage) {
    struct sCase {
        const char* name;
        int bits;
        bool ljpeg, be;
        int tw, th, components;
        unsigned black;
        int width;
    };
    const sCase cases[] = {
        {"uncompressed 16-bit", 16, false, false, 0, 0, 2, 0, 64},
        {"uncompressed big-endian, black 600", 16, false, true, 0, 0, 2, 600, 64},
        {"lossless JPEG, one tile", 16, true, false, 0, 0, 2, 0, 64},
        {"lossless JPEG 12-bit tiles, black 256", 12, true, false, 32, 16, 2, 256, 64},
        {"lossless JPEG 14-bit, four components", 14, true, true, 64, 48, 4, 512, 64},
        {"lossless JPEG 15-bit, one component", 15, true, false, 0, 0, 1, 0, 64},
        // Rows that are not a multiple of 4 samples.
        {"lossless JPEG, width 62", 16, true, false, 0, 0, 2, 0, 62},
        {"uncompressed, width 61", 16, false, true, 0, 0, 1, 0, 61},
    };
    const int H = 48;
    testutil::TempDir dir;
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int W = c.width;
        rawkit::DngSpec s;
        s.width = W, s.height = H, s.bits = c.bits, s.ljpeg = c.ljpeg, s.bigEndian = c.be;
        s.tileWidth = c.tw, s.tileHeight = c.th, s.components = c.components, s.black = c.black;
        s.frame = makeFrame(W, H, c.bits, 7);
        Bytes file = rawkit::writeDng(s);
        sDecoded d = decodeDng(file);
        ASSERT_TRUE(d.ok);
        // The frame in the file's own sample units (the black level is in those units too).
        EXPECT_TRUE(d.seen.samples == s.frame);
        EXPECT_EQ(d.seen.black, c.black);
        rawkit::expectPeersReadAs(dir, file, ".dng", W, H, s.frame, {"dcraw"});
        ASSERT_EQ(d.w, W);
        ASSERT_EQ(d.h, H);
        EXPECT_TRUE(d.px == rawkit::pipelineReference(s.frame, W, H, c.black, nullptr, nullptr));
    }
}

namespace {
// A DNG made by hand: IFD0 preview (3 samples) and one raw sub-directory with extra tags.
enum eStore { sPlain16, sPacked12Bits, sLJpegStrips };

Bytes dngWith(const std::vector<uint16_t>& frame, int w, int h, const std::vector<unsigned char>& version,
              const std::vector<std::pair<int, std::vector<uint32_t>>>& rawLongs,
              const std::vector<std::pair<uint32_t, uint32_t>>& neutral, int versionType = 1,
              eStore store = sPlain16) {
    rawkit::TiffWriter t(false, false);
    int ifd0 = t.newIfd(), raw = t.newIfd();
    t.addLongs(ifd0, 256, {4});
    t.addLongs(ifd0, 257, {4});
    t.addShorts(ifd0, 258, {8, 8, 8});
    t.addShorts(ifd0, 259, {1});
    t.addShorts(ifd0, 262, {2});
    t.addShorts(ifd0, 277, {3});
    t.addBlocks(ifd0, 273, 279, {Bytes(48, 90)});
    if (versionType == 1)
        t.addBytes(ifd0, 50706, rawkit::TiffWriter::tByte, version);
    else
        t.addShorts(ifd0, 50706, {1, 4, 0, 0});
    if (!neutral.empty()) t.addRationals(ifd0, 50728, neutral);
    t.addIfdPointers(ifd0, 330, {raw});
    t.addLongs(raw, 256, {(uint32_t)w});
    t.addLongs(raw, 257, {(uint32_t)h});
    t.addShorts(raw, 258, {store == sPacked12Bits ? 12u : 16u});
    t.addShorts(raw, 259, {store == sLJpegStrips ? 7u : 1u});
    t.addShorts(raw, 262, {32803});
    t.addShorts(raw, 277, {1});
    t.addShorts(raw, 33421, {2, 2});
    t.addBytes(raw, 33422, rawkit::TiffWriter::tByte, {0, 1, 1, 2});
    for (const auto& e : rawLongs) t.addLongs(raw, e.first, e.second);
    Bytes strip;
    if (store == sLJpegStrips) {
        // Strips of 10 rows, each its own lossless JPEG.
        std::vector<Bytes> strips;
        for (int y = 0; y < h; y += 10) {
            rawkit::LjComp c;
            c.w = w, c.hgt = std::min(10, h - y);
            c.px.assign(frame.begin() + y * w, frame.begin() + (y + c.hgt) * w);
            rawkit::LjOptions o;
            o.precision = 16;
            strips.push_back(rawkit::encodeLossless({c}, w, c.hgt, o));
        }
        t.addLongs(raw, 278, {10});
        t.addBlocks(raw, 273, 279, strips);
        return t.write(ifd0);
    }
    if (store == sPacked12Bits) {
        // TIFF bit packing: 12-bit fields, most significant bit first, rows padded to bytes.
        for (int y = 0; y < h; y++) {
            unsigned acc = 0;
            int bits = 0;
            for (int x = 0; x < w; x++) {
                acc = acc << 12 | (frame[(size_t)(y * w + x)] & 0xFFF);
                for (bits += 12; bits >= 8; bits -= 8) strip.push_back((unsigned char)(acc >> (bits - 8)));
            }
            if (bits) strip.push_back((unsigned char)(acc << (8 - bits)));
        }
    } else {
        for (uint16_t v : frame) strip.push_back((unsigned char)v), strip.push_back((unsigned char)(v >> 8));
    }
    t.addBlocks(raw, 273, 279, {strip});
    return t.write(ifd0);
}
}  // namespace

TEST(DngDecoder, CropActiveAreaAndWhiteBalance) {
    const int W = 64, H = 48;
    const std::vector<uint16_t> frame = makeFrame(W, H, 16, 9);
    struct sCase {
        const char* name;
        std::vector<unsigned char> version;
        std::vector<std::pair<int, std::vector<uint32_t>>> tags;
        std::vector<std::pair<uint32_t, uint32_t>> neutral;
        bool crop;
        sMarginInfo m;
    };
    auto mk = [](unsigned l, unsigned r, unsigned t, unsigned b) {
        sMarginInfo m;
        m.left = l, m.right = r, m.top = t, m.bottom = b;
        return m;
    };
    const std::vector<sCase> cases = {
        // Origin (13, 7): left rounds up to 14; a 1.3 file moves an odd top to 8, 1.4 keeps 7.
        {"default crop, version 1.3", {1, 3, 0, 0}, {{50719, {13, 7}}, {50720, {40, 30}}}, {}, true, mk(14, 10, 8, 11)},
        {"default crop, version 1.4", {1, 4, 0, 0}, {{50719, {13, 7}}, {50720, {40, 30}}}, {}, true, mk(14, 10, 7, 11)},
        // A crop under a quarter of the frame: the frame cannot ride in the picture's buffer.
        {"small default crop", {1, 4, 0, 0}, {{50719, {2, 2}}, {50720, {20, 16}}}, {}, true, mk(2, 42, 2, 30)},
        // ActiveArea (top, left, bottom, right) replaces the default crop written before it.
        {"active area", {1, 4, 0, 0}, {{50719, {1, 1}}, {50720, {8, 8}}, {50829, {2, 4, 42, 60}}}, {}, true,
         mk(4, 4, 2, 6)},
        // An area past the frame's edge (right 70 > 64) is ignored: no crop at all.
        {"active area outside the frame", {1, 4, 0, 0}, {{50829, {2, 4, 42, 70}}}, {}, false, {}},
        {"active area left after right", {1, 4, 0, 0}, {{50829, {2, 40, 42, 20}}}, {}, false, {}},
        // AsShotNeutral 0.5, 1, 0.8 gives multipliers 2, 1, 1.25.
        {"white balance", {1, 4, 0, 0}, {}, {{1, 2}, {1, 1}, {4, 5}}, false, {}},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        sDecoded d = decodeDng(dngWith(frame, W, H, c.version, c.tags, c.neutral));
        ASSERT_TRUE(d.ok);
        const double mul[3] = {2, 1, 1.25};
        std::vector<unsigned long long> ref =
            rawkit::pipelineReference(frame, W, H, 0, c.crop ? &c.m : nullptr, c.neutral.empty() ? nullptr : mul);
        EXPECT_EQ(d.w, c.crop ? W - c.m.left - c.m.right : W);
        EXPECT_EQ(d.h, c.crop ? H - c.m.top - c.m.bottom : H);
        EXPECT_TRUE(d.px == ref);
    }
}

// Uncompressed 12-bit samples stay 12-bit (the black level is in those units); lossless-JPEG
// strips are all decoded.
TEST(DngDecoder, PackedSamplesAndJpegStrips) {
    const int W = 64, H = 48;
    testutil::TempDir dir;
    const std::vector<uint16_t> frame12 = makeFrame(W, H, 12, 5), frame16 = makeFrame(W, H, 16, 6);
    struct sCase {
        const char* name;
        eStore store;
        const std::vector<uint16_t>* frame;
        unsigned black;
    };
    const sCase cases[] = {{"12-bit packed, black 200", sPacked12Bits, &frame12, 200},
                           {"lossless JPEG in 5 strips", sLJpegStrips, &frame16, 0}};
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = dngWith(*c.frame, W, H, {1, 4, 0, 0}, {{50714, {c.black}}}, {}, 1, c.store);
        sDecoded d = decodeDng(file);
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(d.seen.samples == *c.frame);
        // dcraw reads only the first of several lossless-JPEG strips; the source frame is the oracle.
        if (c.store != sLJpegStrips) rawkit::expectPeersReadAs(dir, file, ".dng", W, H, *c.frame, {"dcraw"});
        EXPECT_TRUE(d.px == rawkit::pipelineReference(*c.frame, W, H, c.black, nullptr, nullptr));
    }
}

TEST(DngDecoder, VersionDecidesWhatIsADngAndPreviewsArePlainPictures) {
    const std::vector<uint16_t> frame = makeFrame(16, 8, 16, 3);
    Bytes good = dngWith(frame, 16, 8, {1, 4, 0, 0}, {}, {});
    cBufWrapperIO s(good.data(), (long long)good.size());
    cPictDNG d;
    cPictBase::sPictInfo info;
    ASSERT_TRUE(d.isPicture(&s, &info));
    EXPECT_TRUE(info.hasPreview);
    EXPECT_EQ(d.getNumPages(&s), 1);
    cPictDummy prev;
    ASSERT_TRUE(d.getPreview(&s, &prev, nullptr, nullptr));
    EXPECT_EQ(prev.width(), 4);
    EXPECT_EQ(prev.raw8Bpp()[0], 0xFF5A5A5Au);
    EXPECT_TRUE(cPictDNG::validFor(&s, &info));
    // DNGVersion as SHORT, or as 3 bytes, or below 1.0: no DNG.
    const Bytes bad[] = {dngWith(frame, 16, 8, {1, 4, 0, 0}, {}, {}, 3), dngWith(frame, 16, 8, {1, 4, 0}, {}, {}),
                         dngWith(frame, 16, 8, {0, 9, 0, 0}, {}, {})};
    for (const Bytes& b : bad) {
        cBufWrapperIO bs(b.data(), (long long)b.size());
        cPictDNG e;
        EXPECT_FALSE(e.isPicture(&bs, &info));
    }
}
