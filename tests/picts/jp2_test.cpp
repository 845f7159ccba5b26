// JP2 files built around committed codestreams: palettes, component mappings, channel
// definitions, ICC profiles and broken box structures; the picture classes and the factory.
#include <array>

#include "jpeg2000_testutil.h"
#include "picts/icns/picticns.h"
#include "picts/png/pictpng.h"
#include "picts/jpeg2000/pictjp2.h"
#include "pictfmt_testutil.h"

using namespace j2ktest;

namespace {

const std::string kData = std::string(QMX_TEST_DATA) + "/picts/jpeg2000/";
typedef std::vector<unsigned char> Bytes;

void put32(Bytes& b, unsigned v) {
    for (int i = 3; i >= 0; i--) b.push_back((unsigned char)(v >> (8 * i)));
}
void put16(Bytes& b, unsigned v) {
    b.push_back((unsigned char)(v >> 8));
    b.push_back((unsigned char)v);
}
Bytes box(const char* type, const Bytes& body) {
    Bytes b;
    put32(b, (unsigned)body.size() + 8);
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const Bytes& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}
Bytes ihdr(unsigned w, unsigned h, unsigned nc) {
    Bytes b;
    put32(b, h);
    put32(b, w);
    put16(b, nc);
    b.insert(b.end(), {7, 7, 0, 0});  // BPC, compression type, UnkC, IPR
    return box("ihdr", b);
}
Bytes colrEnum(unsigned cs) {
    Bytes b = {1, 0, 0};
    put32(b, cs);
    return box("colr", b);
}
// Palette of 8-bit channels.
Bytes pclr(const std::vector<std::vector<unsigned>>& entries) {
    Bytes b;
    put16(b, (unsigned)entries.size());
    b.push_back((unsigned char)entries[0].size());
    for (size_t i = 0; i < entries[0].size(); i++) b.push_back(7);
    for (const auto& e : entries)
        for (unsigned v : e) b.push_back((unsigned char)v);
    return box("pclr", b);
}
Bytes cmap(const std::vector<std::array<unsigned, 3>>& recs) {
    Bytes b;
    for (const auto& r : recs) {
        put16(b, r[0]);
        b.push_back((unsigned char)r[1]);
        b.push_back((unsigned char)r[2]);
    }
    return box("cmap", b);
}
Bytes cdef(const std::vector<std::array<unsigned, 3>>& recs) {
    Bytes b;
    put16(b, (unsigned)recs.size());
    for (const auto& r : recs)
        for (unsigned v : r) put16(b, v);
    return box("cdef", b);
}
const Bytes kSignature = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
Bytes ftyp() {
    Bytes b = {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '};
    return box("ftyp", b);
}
Bytes jp2(const Bytes& header, const Bytes& codestream, const Bytes& extraBoxes = {}) {
    return cat({kSignature, ftyp(), box("jp2h", header), extraBoxes, box("jp2c", codestream)});
}

const std::vector<std::vector<unsigned>> kPalette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
const std::vector<std::array<unsigned, 3>> kMap = {{0, 1, 0}, {0, 1, 1}, {0, 1, 2}};

Bytes indexCs() { return testutil::readFile(kData + "index.j2k"); }
// Indexes map through the palette, those beyond it to its last entry; a palette without a
// component mapping shows the indexes themselves.
TEST(Jp2Palette, IndexesMapThroughThePalette) {
    Samples idx = readPnm(kData + "index.pgm");
    ASSERT_TRUE(idx.ok);
    const std::vector<std::vector<unsigned>> two = {kPalette[0], kPalette[1]};
    struct Case {
        const char* name;
        Bytes header;
        const std::vector<std::vector<unsigned>>* palette;  // null: the index shows
    } cases[] = {
        {"mapped", cat({ihdr(32, 24, 1), colrEnum(16), pclr(kPalette), cmap(kMap)}), &kPalette},
        {"two entries", cat({ihdr(32, 24, 1), colrEnum(16), pclr(two), cmap(kMap)}), &two},
        {"no mapping", cat({ihdr(32, 24, 1), colrEnum(17), pclr(kPalette)}), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pictfmt::Rgba got = pictfmt::decodeWith<cPictJP2>(jp2(c.header, indexCs()));
        ASSERT_TRUE(got.ok);
        ASSERT_EQ(got.w, 32);
        long long bad = 0;
        for (size_t i = 0; i < idx.v.size(); i++) {
            if (!c.palette) {
                bad += got.px[i * 4] != idx.v[i];
                continue;
            }
            const auto& e = (*c.palette)[std::min((size_t)idx.v[i], c.palette->size() - 1)];
            for (size_t ch = 0; ch < 3; ch++) bad += got.px[i * 4 + ch] != e[ch];
            bad += got.px[i * 4 + 3] != 255;
        }
        EXPECT_EQ(bad, 0);
    }
}

TEST(Jp2Colour, IccProfileIsKeptAndChannelDefinitionsReorder) {
    Bytes icc = {2, 0, 0};  // METH 2 (ICC profile), PREC, APPROX
    for (int i = 0; i < 200; i++) icc.push_back((unsigned char)i);
    Bytes rgb = testutil::readFile(kData + "rgb_tiles.j2k");
    // Channel 0 is associated with colour 3 (blue) and channel 2 with colour 1 (red).
    Bytes f = jp2(cat({ihdr(32, 24, 3), box("colr", icc), cdef({{0, 0, 3}, {1, 0, 2}, {2, 0, 1}})}), rgb);
    cJP2Image keep;
    Samples got = decodeOurs(f, true, &keep);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(keep.icc.count, 200);
    EXPECT_EQ(keep.colorSpace, 5);
    Samples src = readPnm(kData + "rgb.ppm");
    for (size_t i = 0; i < src.v.size(); i += 3) {
        ASSERT_EQ(got.v[i], src.v[i + 2]);
        ASSERT_EQ(got.v[i + 1], src.v[i + 1]);
        ASSERT_EQ(got.v[i + 2], src.v[i]);
    }
}

// A JP2 file around grey.j2k whose codestream box says length.
Bytes codestreamLength(unsigned int length) {
    Bytes cs = testutil::readFile(kData + "grey.j2k");
    Bytes f = jp2(ihdr(32, 24, 1), cs);
    const size_t at = f.size() - cs.size() - 8;
    for (int i = 0; i < 4; i++) f[at + i] = (unsigned char)(length >> (24 - 8 * i));
    return f;
}

struct BadJp2 {
    const char* name;
    Bytes (*make)();
    bool decodes;
};

const BadJp2 kBad[] = {
    {"PaletteShorterThanItsEntries",
     [] {
         Bytes p = pclr(kPalette);
         p.resize(p.size() - 1);
         p[3] = (unsigned char)p.size();
         return jp2(cat({ihdr(32, 24, 1), p, cmap(kMap)}), indexCs());
     },
     false},
    {"PaletteWithoutEntries", [] { return jp2(cat({ihdr(32, 24, 1), box("pclr", {0, 0, 1, 7})}), indexCs()); }, false},
    {"MappingOfAMissingComponent",
     [] { return jp2(cat({ihdr(32, 24, 1), pclr(kPalette), cmap({{0, 1, 0}, {0, 1, 1}, {5, 1, 2}})}), indexCs()); },
     false},
    {"MappingToAMissingColumn",
     [] { return jp2(cat({ihdr(32, 24, 1), pclr(kPalette), cmap({{0, 1, 0}, {0, 1, 1}, {0, 1, 7}})}), indexCs()); },
     false},
    {"MappingOfWrongLength",
     [] { return jp2(cat({ihdr(32, 24, 1), pclr(kPalette), cmap({{0, 1, 0}, {0, 1, 1}})}), indexCs()); }, false},
    {"MappingBeforePalette", [] { return jp2(cat({ihdr(32, 24, 1), cmap(kMap), pclr(kPalette)}), indexCs()); },
     false},
    {"ChannelDefinitionBeyondComponents",
     [] { return jp2(cat({ihdr(32, 24, 1), cdef({{4, 0, 1}})}), testutil::readFile(kData + "grey.j2k")); }, false},
    {"ChannelAssociationBeyondComponents",
     [] { return jp2(cat({ihdr(32, 24, 1), cdef({{0, 0, 9}})}), testutil::readFile(kData + "grey.j2k")); }, false},
    {"ChannelDefinitionOfWrongLength",
     [] {
         Bytes c = cdef({{0, 0, 1}});
         c[3] += 2;
         c.insert(c.end(), {0, 0});
         c[11] = 2;  // N = 2 with one record
         return jp2(cat({ihdr(32, 24, 1), c}), testutil::readFile(kData + "grey.j2k"));
     },
     false},
    {"SecondChannelDefinition",
     [] {
         return jp2(cat({ihdr(32, 24, 1), cdef({{0, 0, 1}}), cdef({{0, 0, 1}})}), testutil::readFile(kData + "grey.j2k"));
     },
     false},
    {"SecondColourBoxIgnored",
     [] { return jp2(cat({ihdr(32, 24, 1), colrEnum(17), colrEnum(12)}), testutil::readFile(kData + "grey.j2k")); },
     true},
    {"FileTypeNotMultipleOfFour",
     [] {
         Bytes f = jp2(ihdr(32, 24, 1), testutil::readFile(kData + "grey.j2k"));
         Bytes bad = cat({kSignature, box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j'})});
         return cat({bad, Bytes(f.begin() + 12 + 20, f.end())});
     },
     false},
    {"SignatureWithOtherContent",
     [] {
         Bytes f = jp2(ihdr(32, 24, 1), testutil::readFile(kData + "grey.j2k"));
         f[11] = 0x0B;
         return f;
     },
     false},
    {"ExtendedLengthWithHighWord",
     [] {
         Bytes xl = {0, 0, 0, 1, 'x', 'x', 'x', 'x', 0, 0, 0, 1, 0, 0, 0, 16};
         return jp2(ihdr(32, 24, 1), testutil::readFile(kData + "grey.j2k"), xl);
     },
     false},
    {"CodestreamBeforeHeader",
     [] {
         return cat({kSignature, ftyp(), box("jp2c", testutil::readFile(kData + "grey.j2k")),
                     box("jp2h", ihdr(32, 24, 1))});
     },
     false},
    {"UnknownBoxesSkipped",
     [] {
         return jp2(cat({ihdr(32, 24, 1), box("res ", {1, 2, 3, 4})}), testutil::readFile(kData + "grey.j2k"),
                    box("xml ", {'<', 'a', '/', '>'}));
     },
     true},
    // The codestream box: to the end (length 0) or cut short it decodes what there is; a
    // length below its own header is refused.
    {"CodestreamToTheEnd", [] { return codestreamLength(0); }, true},
    {"CodestreamPastTheEnd", [] { return codestreamLength(0x7FFFFF); }, true},
    {"CodestreamLengthBelowItsHeader", [] { return codestreamLength(4); }, false},
    {"HeaderBoxPastTheEnd",
     [] {
         Bytes f = jp2(ihdr(32, 24, 1), testutil::readFile(kData + "grey.j2k"));
         f[12 + 20 + 2] = 0x7F;  // jp2h length
         return f;
     },
     false},
};

class BadJp2Test : public ::testing::TestWithParam<BadJp2> {};

TEST_P(BadJp2Test, RefusedOrDecoded) {
    const BadJp2& c = GetParam();
    Bytes f = c.make();
    cPictJP2 pict;
    cBufWrapperIO io(f.data(), (long long)f.size());
    EXPECT_EQ(pict.decode(&io), c.decodes);
}

INSTANTIATE_TEST_SUITE_P(Boxes, BadJp2Test, ::testing::ValuesIn(kBad),
                         [](const ::testing::TestParamInfo<BadJp2>& i) { return std::string(i.param.name); });

TEST(Jp2Pictures, FactoryFindsBothKindsWithTheirSizes) {
    Bytes j2k = testutil::readFile(kData + "rgb_tiles.j2k");
    Bytes f = jp2(cat({ihdr(32, 24, 3), colrEnum(16)}), j2k);
    for (int kind = 0; kind < 2; kind++) {
        const Bytes& b = kind ? j2k : f;
        cBufWrapperIO io(b.data(), (long long)b.size());
        cPictBase::sPictInfo info;
        cPtr<cPictBase> p(cPictBase::mkPicture(&io, &info));
        ASSERT_TRUE(p.ptr);
        EXPECT_EQ(p->typeOf(), kind ? cPictBase::pkJ2K : cPictBase::pkJP2);
        EXPECT_EQ(info.width, 32);
        EXPECT_EQ(info.height, 24);
        ASSERT_TRUE(p->decode(&io));
        Samples src = readPnm(kData + "rgb.ppm");
        unsigned int* px = p->raw8Bpp();
        ASSERT_TRUE(px);
        // Rows bottom-up.
        for (long long y = 0; y < 24; y++)
            for (long long x = 0; x < 32; x++) {
                unsigned int v = px[(23 - y) * 32 + x];
                size_t i = (size_t)((y * 32 + x) * 3);
                ASSERT_EQ(v, pictArgb(src.v[i], src.v[i + 1], src.v[i + 2]));
            }
    }
}

// Icon families carry JPEG 2000 elements as JP2 files or bare codestreams; the larger one wins.
TEST(Jp2Pictures, IconFamilyJpeg2000ElementsDecode) {
    Bytes j2k = testutil::readFile(kData + "rgb_tiles.j2k");
    Bytes grey = testutil::readFile(kData + "grey.j2k");
    Samples src = readPnm(kData + "rgb.ppm");
    for (int wrapped = 0; wrapped < 2; wrapped++) {
        Bytes icns = pictfmt::icnsFile({{"icp4", Bytes(grey.begin(), grey.begin() + 40)},  // broken: passed over
                                        {"ic07", wrapped ? jp2(cat({ihdr(32, 24, 3), colrEnum(16)}), j2k) : j2k}});
        cBufWrapperIO io(icns.data(), (long long)icns.size());
        cPictBase::sPictInfo info;
        ASSERT_TRUE(cPictICNS::validFor(&io, &info));
        EXPECT_EQ(info.width, 32);
        pictfmt::Rgba got = pictfmt::decodeWith<cPictICNS>(icns);
        ASSERT_TRUE(got.ok);
        ASSERT_EQ(got.w, 32);
        for (size_t i = 0; i < 32 * 24; i++)
            for (int c = 0; c < 3; c++) ASSERT_EQ(got.px[i * 4 + (size_t)c], src.v[i * 3 + (size_t)c]);
    }
}

TEST(Jp2Pictures, PrecisionBelowEightIsRefused) {
    Bytes b = testutil::readFile(kData + "grey.j2k");
    b[2 + 40] = 3;  // Ssiz: 4-bit samples
    cPictJ2K p;
    cBufWrapperIO io(b.data(), (long long)b.size());
    EXPECT_FALSE(p.decode(&io));
}

}  // namespace

namespace {

// Images made directly (no codestream) for the pixel stage: colour spaces, sub-sampled and
// signed components, and what it refuses.
cJP2Image* makeImage(unsigned w, unsigned h, std::vector<std::vector<int>> comps, int cs, unsigned prec = 8,
                     unsigned sub = 1) {
    cJP2Image* img = new cJP2Image;
    img->x1 = w, img->y1 = h, img->numcomps = (unsigned)comps.size(), img->colorSpace = cs;
    img->comps.set((long long)comps.size());
    for (size_t c = 0; c < comps.size(); c++) {
        sJP2ImageComp& ic = img->comps.ptr[c];
        unsigned s = c ? sub : 1;
        ic.dx = ic.dy = s, ic.w = (w + s - 1) / s, ic.h = (h + s - 1) / s, ic.prec = prec;
        ic.data.set((long long)ic.w * ic.h);
        for (long long i = 0; i < ic.data.count; i++) ic.data.ptr[i] = comps[c][(size_t)i % comps[c].size()];
    }
    return img;
}

struct PixelCase {
    const char* name;
    cJP2Image* (*make)();
    bool ok;
    unsigned int first;  // expected 0xAARRGGBB of the top-left pixel
};

const PixelCase kPixels[] = {
    {"Grey16ShowsHighByte", [] { return makeImage(2, 2, {{0xABCD}}, 0, 16); }, true, 0xFFABABAB},
    {"RgbWithAlpha", [] { return makeImage(2, 2, {{10}, {20}, {30}, {40}}, 1); }, true, 0x280A141E},
    // Y 100, Cb +20, Cr -30: R = 100 - 42.06, G = 100 - 6.88 + 21.42, B = 100 + 35.44, truncated.
    {"SyccToRgb", [] { return makeImage(2, 2, {{100}, {148}, {98}}, 3); }, true, 0xFF397287},
    {"SyccClampsAbove255", [] { return makeImage(2, 2, {{250}, {128}, {228}}, 3); }, true, 0xFFFFB2FA},
    {"CmykToRgb", [] { return makeImage(2, 2, {{0}, {255}, {0}, {0}}, 4); }, true, 0xFFFF00FF},
    {"SignedComponentsCentred", [] {
         cJP2Image* i = makeImage(2, 2, {{-128}}, 0);
         i->comps.ptr[0].sgnd = 1;
         return i;
     }, true, 0xFF000000},
    {"SubsampledChromaUsesNearestSample", [] { return makeImage(3, 3, {{1}, {2, 3}, {4, 5}}, 1, 8, 2); }, true,
     0xFF010204},
    {"TwoComponentsRefused", [] { return makeImage(2, 2, {{1}, {2}}, 0); }, false, 0},
    {"FiveComponentsRefused", [] { return makeImage(2, 2, {{1}, {2}, {3}, {4}, {5}}, 0); }, false, 0},
    {"PrecisionBelowEightRefused", [] { return makeImage(2, 2, {{1}}, 0, 4); }, false, 0},
    {"LabWithTwoComponentsRefused", [] { return makeImage(2, 2, {{1}, {2}}, 6); }, false, 0},
};

class PixelTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelTest, ConvertsOrRefuses) {
    const PixelCase& c = GetParam();
    cPtr<cJP2Image> img(c.make());
    cPictJ2K p;
    ASSERT_EQ(p.jp2ImageToThis(*img.ptr), c.ok);
    if (!c.ok) return;
    // Top-left pixel: the last stored row (bottom-up).
    EXPECT_EQ(p.raw8Bpp()[(p.height() - 1) * p.width()], c.first);
}

INSTANTIATE_TEST_SUITE_P(ImageToPixels, PixelTest, ::testing::ValuesIn(kPixels),
                         [](const ::testing::TestParamInfo<PixelCase>& i) { return std::string(i.param.name); });

// CIELab without explicit ranges: T.800 I.5.3.3 defaults (for 8 bits OA 128, OB 96), and
// mid L with neutral a and b gives a neutral grey.
TEST(ImageToPixelsLab, DefaultRangesAreFilledIn) {
    cPtr<cJP2Image> img(makeImage(1, 1, {{128}, {128}, {96}}, 6));
    img->cielab[0] = 0x44454600;
    cPictJ2K p;
    ASSERT_TRUE(p.jp2ImageToThis(*img.ptr));
    EXPECT_EQ(img->cielab[1], 100u);
    EXPECT_EQ(img->cielab[3], 170u);
    EXPECT_EQ(img->cielab[4], 128u);
    EXPECT_EQ(img->cielab[5], 200u);
    EXPECT_EQ(img->cielab[6], 96u);
    unsigned int px = p.raw8Bpp()[0];
    int r = (px >> 16) & 255, g = (px >> 8) & 255, b = px & 255;
    EXPECT_NEAR(r, g, 20);
    EXPECT_NEAR(b, g, 20);
    EXPECT_GT(g, 30);  // L 50 is about 19 % of white in linear terms (no transfer curve)
}

}  // namespace

// An icon family written by another program (png2icns), whose 256 x 256 element is a JP2 file
// with an alpha channel: it decodes to the PNG it was made from.
TEST(Jp2Pictures, IconFamilyFromAnotherWriterMatchesItsSource) {
    pictfmt::Rgba ours = pictfmt::decodeWith<cPictICNS>(testutil::readFile(kData + "icon256.icns"));
    pictfmt::Rgba ref = pictfmt::decodeWith<cPictPNG>(testutil::readFile(kData + "icon256.png"));
    ASSERT_TRUE(ours.ok);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(pictfmt::mismatches(ours, ref, false), 0);
}
