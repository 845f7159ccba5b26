// BMP, DIB, ICO, GIF, ICNS, PCX, PPM, TGA and XPM decoders against ImageMagick, a plain model
// of the icon RLE, and hostile copies of valid files.
#include <memory>

#include "base/memio.h"
#include "picts/bmp/pictdib.h"
#include "picts/gif/pictgif.h"
#include "picts/icns/picticns.h"
#include "picts/pcx/pictpcx.h"
#include "picts/png/pictpng.h"
#include "picts/ppm/pictppm.h"
#include "picts/tga/picttga.h"
#include "picts/xpm/pictxpm.h"
#include "picts/xpm/xpmreader.h"
#include "pictfmt_testutil.h"

using namespace pictfmt;

// Each variant written by ImageMagick from a picture of its own: the factory takes it as its
// format at its size, and its decoder gives ImageMagick's pixels (TGA with its origin applied).
TEST(CommonFormats, MatchImageMagick) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    using P = cPictBase;
    struct Variant {
        int kind;
        const char* target;  // convert's output format and file name ("bmp3:x.bmp")
        int colors;
        bool alpha;
        std::vector<std::string> opts;
        bool wide;
    } variants[] = {
        {P::pkBMP, "bmp3:b1.bmp", 2, false, {"-type", "palette", "-colors", "2"}, false},
        {P::pkBMP, "bmp3:b4.bmp", 16, false, {"-type", "palette", "-colors", "16"}, false},
        {P::pkBMP, "bmp3:b8.bmp", 200, false, {"-type", "palette"}, false},
        {P::pkBMP, "bmp3:b8rle.bmp", 40, false, {"-type", "palette", "-compress", "RLE"}, false},
        {P::pkBMP, "bmp3:b24.bmp", 0, false, {"-type", "truecolor"}, false},
        {P::pkBMP, "bmp:b32.bmp", 0, true, {"-type", "truecolormatte"}, false},
        {P::pkBMP, "bmp:b32top.bmp", 0, true, {"-type", "truecolormatte", "-define", "bmp:top-down=true"}, false},
        {P::pkBMP, "bmp:b16.bmp", 0, false, {"-define", "bmp:subtype=RGB565"}, false},
        {P::pkICO, "ico:i32.ico", 0, true, {}, false},
        {P::pkICO, "ico:i8.ico", 100, true, {"-type", "palettematte"}, false},
        {P::pkGIF, "gif:g.gif", 200, false, {}, false},
        {P::pkGIF, "gif:gi.gif", 60, true, {"-interlace", "GIF"}, false},
        {P::pkGIF, "gif:g2.gif", 2, false, {}, false},
        {P::pkPCX, "pcx:p24.pcx", 0, false, {"-type", "truecolor"}, false},
        {P::pkPCX, "pcx:p8.pcx", 150, false, {"-type", "palette"}, false},
        {P::pkPCX, "pcx:p1.pcx", 2, false, {"-type", "bilevel"}, false},
        {P::pkPPM, "ppm:a.ppm", 0, false, {"-depth", "8"}, false},
        {P::pkPPM, "ppm:a16.ppm", 0, false, {"-depth", "16"}, true},
        {P::pkPPM, "pgm:a.pgm", 0, false, {"-depth", "8"}, false},
        {P::pkPPM, "pgm:a16.pgm", 0, false, {"-depth", "16"}, true},
        {P::pkPPM, "pbm:a.pbm", 2, false, {}, false},
        {P::pkPPM, "ppm:plain.ppm", 0, false, {"-depth", "8", "-compress", "none"}, false},
        {P::pkPPM, "pgm:plain16.pgm", 0, false, {"-depth", "16", "-compress", "none"}, true},
        {P::pkPPM, "pbm:plain.pbm", 2, false, {"-compress", "none"}, false},
        {P::pkTGA, "tga:t24.tga", 0, false, {"-type", "truecolor", "-compress", "none"}, false},
        {P::pkTGA, "tga:t24r.tga", 10, false, {"-type", "truecolor", "-compress", "RLE"}, false},
        {P::pkTGA, "tga:t32.tga", 0, true, {"-type", "truecolormatte", "-compress", "none"}, false},
        {P::pkTGA, "tga:t32r.tga", 12, true, {"-type", "truecolormatte", "-compress", "RLE"}, false},
        {P::pkTGA, "tga:t8.tga", 100, false, {"-type", "palette", "-compress", "none"}, false},
        {P::pkTGA, "tga:t8r.tga", 30, false, {"-type", "palette", "-compress", "RLE"}, false},
        {P::pkTGA, "tga:tg.tga", 0, false, {"-type", "grayscale", "-compress", "none"}, false},
        {P::pkTGA, "tga:tgr.tga", 9, false, {"-type", "grayscale", "-compress", "RLE"}, false},
        {P::pkXPM, "xpm:x.xpm", 40, true, {}, false},
        {P::pkXPM, "xpm:x2.xpm", 200, false, {}, false},
    };
    testutil::TempDir dir;
    unsigned seed = 1;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.target);
        const int w = 29, h = 17;
        std::string path = convertFrom(dir, v.target, w, h, v.colors, v.alpha, seed++, v.opts);
        ASSERT_FALSE(path.empty());
        std::vector<unsigned char> bytes = testutil::readFile(path);
        cBufWrapperIO s(bytes.data(), (long long)bytes.size());
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> dec(cPictBase::mkPicture(&s, &info));
        ASSERT_TRUE(dec);
        EXPECT_EQ(dec->typeOf(), v.kind);
        EXPECT_EQ(info.width, w);
        EXPECT_EQ(info.height, h);
        Rgba ours = decodeWith<cPictBase>(bytes, dec.get());
        ASSERT_TRUE(ours.ok);
        Rgba ref = oracle(path, v.wide, w, h, v.kind == P::pkTGA);
        ASSERT_TRUE(ref.ok);
        std::string first;
        EXPECT_EQ(mismatches(ours, ref, true, &first), 0) << first;
    }
}

// A GIF cut inside its LZW data (or whose data ends before the frame is full) is a failure,
// not a picture with transparent rows in place of the lost ones.
TEST(GifDecoder, LzwDataCutShortIsAFailure) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    testutil::TempDir dir;
    for (const char* il : {"None", "GIF"}) {
        SCOPED_TRACE(il);
        ASSERT_FALSE(convertFrom(dir, "gif:c.gif", 29, 17, 200, false, 5, {"-interlace", il}).empty());
        std::vector<unsigned char> good = testutil::readFile(dir.file("c.gif"));
        ASSERT_GT(good.size(), 200u);
        EXPECT_TRUE(decodeWith<cPictGIF>(good).ok);
        // The last five bytes are at most the end of the data, a block terminator and the trailer.
        for (size_t keep : {good.size() * 2 / 3, good.size() - 40, good.size() - 5}) {
            std::vector<unsigned char> cut(good.begin(), good.begin() + (long)keep);
            EXPECT_FALSE(decodeWith<cPictGIF>(cut).ok) << "cut to " << keep << " of " << good.size();
        }
    }
}

// A comment ends a token as white space does, right after the magic number, a size or the
// maximum value (netpbm reads these files; some writers put their name there).
TEST(PpmDecoder, CommentsAttachedToTokens) {
    struct Case {
        const char* name;
        std::string bytes;
        unsigned int first, second;  // the two pixels of a 2 x 1 picture
    } cases[] = {
        {"raw colour", std::string("P6#made by x\n2#w\n1#h\n255#max\n") + std::string("\xFF\0\0\0\x80\xFF", 6), 0xFFFF0000u,
         0xFF0080FFu},
        {"raw grey, CR LF", std::string("P5#c\r\n2 1\r\n255#c\n") + "\x10\xF0", 0xFF101010u, 0xFFF0F0F0u},
        {"raw bitmap", std::string("P4#c\n2 1#c\n") + "\x80", 0xFF000000u, 0xFFFFFFFFu},
        {"plain colour", "P3#c\n2 1\n15#c\n15 0 0#c\n0 0 15\n", 0xFFFF0000u, 0xFF0000FFu},
        {"plain bitmap", "P1#c\n2 1#c\n01\n", 0xFFFFFFFFu, 0xFF000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rgba r = decodeWith<cPictPPM>(std::vector<unsigned char>(c.bytes.begin(), c.bytes.end()));
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.w, 2);
        ASSERT_EQ(r.h, 1);
        EXPECT_EQ(argbAt(r, 0), c.first);
        EXPECT_EQ(argbAt(r, 1), c.second);
    }
}

TEST(XpmDecoder, ParsesColourForms) {
    struct Case {
        const char* text;
        bool ok;
        unsigned int argb;
    } cases[] = {
        {"#F0A", true, 0xFFFF00AA}, {"#12AB34", true, 0xFF12AB34}, {"#1234ABCD5678", true, 0xFF12AB56},
        {"None", true, 0},          {"none", true, 0},            {"Red", true, 0xFFFF0000},
        {"light gray", true, 0xFFD3D3D3}, {"#12", false, 0},     {"#GG0000", false, 0},
        {"nosuchcolour", false, 0},
    };
    for (const Case& c : cases) {
        unsigned int v = 1;
        EXPECT_EQ(cXpmReader::parseColor(c.text, (long long)strlen(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.argb) << c.text;
        }
    }
}

namespace {

// The icon RLE written plainly: runs of 3..130 equal bytes, literals of 1..128.
std::vector<unsigned char> icnsRle(const std::vector<unsigned char>& in) {
    std::vector<unsigned char> out;
    size_t i = 0;
    while (i < in.size()) {
        size_t run = 1;
        while (i + run < in.size() && run < 130 && in[i + run] == in[i]) run++;
        if (run >= 3) {
            out.push_back((unsigned char)(run + 125));
            out.push_back(in[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < in.size() && lit < 128) {
            if (i + lit + 2 < in.size() && in[i + lit] == in[i + lit + 1] && in[i + lit] == in[i + lit + 2]) break;
            lit++;
        }
        out.push_back((unsigned char)(lit - 1));
        out.insert(out.end(), in.begin() + (long)i, in.begin() + (long)(i + lit));
        i += lit;
    }
    return out;
}

}  // namespace

TEST(IcnsDecoder, RleElementsWithMaskAndArgbMatchTheirPlanes) {
    for (int side : {16, 32, 128}) {
        SCOPED_TRACE(side);
        size_t n = (size_t)side * side;
        std::vector<unsigned char> planes = testutil::randomBytes(4 * n, (unsigned)side);
        for (size_t i = 0; i < n; i += 5) planes[n + i] = planes[n + i + 1 < 2 * n ? n + i + 1 : n];  // some runs
        for (size_t i = 0; i < n / 2; i++) planes[2 * n + i] = 7;
        auto rle = [&](std::vector<unsigned char> out, int from) {  // planes from..3 coded one after the other
            for (int c = from; c < 4; c++) {
                auto p = icnsRle(std::vector<unsigned char>(planes.begin() + (long)(c * n), planes.begin() + (long)((c + 1) * n)));
                out.insert(out.end(), p.begin(), p.end());
            }
            return out;
        };
        std::vector<unsigned char> rgb = rle({}, 1);
        const char* type = side == 16 ? "is32" : side == 32 ? "il32" : "it32";
        const char* mask = side == 16 ? "s8mk" : side == 32 ? "l8mk" : "t8mk";
        if (side == 128) rgb.insert(rgb.begin(), 4, 0);
        std::vector<unsigned char> alpha(planes.begin(), planes.begin() + (long)n);
        // A smaller decoy element first: the largest must win.
        std::vector<unsigned char> decoy(3 * 16 * 16 / 128 * 2 + 12, 0);
        std::vector<unsigned char> file = icnsFile({{"ics#", decoy}, {type, rgb}, {mask, alpha}});
        Rgba ours = decodeWith<cPictICNS>(file);
        ASSERT_TRUE(ours.ok);
        ASSERT_EQ(ours.w, side);
        for (size_t i = 0; i < n; i++) {
            ASSERT_EQ(ours.px[4 * i], planes[n + i]) << i;
            ASSERT_EQ(ours.px[4 * i + 1], planes[2 * n + i]) << i;
            ASSERT_EQ(ours.px[4 * i + 2], planes[3 * n + i]) << i;
            ASSERT_EQ(ours.px[4 * i + 3], planes[i]) << i;
        }
        // The same planes as an ARGB element.
        if (side <= 32) {
            Rgba a = decodeWith<cPictICNS>(icnsFile({{side == 16 ? "ic04" : "ic05", rle({'A', 'R', 'G', 'B'}, 0)}}));
            ASSERT_TRUE(a.ok);
            EXPECT_EQ(a.px, ours.px);
        }
    }
}

TEST(IcnsDecoder, PngElementIsDecodedAndJpeg2000Skipped) {
    std::vector<unsigned char> png = testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/png/rgb8_adam7.png");
    ASSERT_FALSE(png.empty());
    std::vector<unsigned char> j2k = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A, 1, 2, 3};
    std::vector<unsigned char> file = icnsFile({{"ic07", png}, {"ic10", j2k}});
    Rgba ours = decodeWith<cPictICNS>(file);
    Rgba ref = decodeWith<cPictPNG>(png);
    ASSERT_TRUE(ours.ok);
    EXPECT_EQ(ours.px, ref.px);
    EXPECT_FALSE(decodeWith<cPictICNS>(icnsFile({{"ic10", j2k}})).ok);
}

TEST(DibDecoder, IconDibUsesAndMaskAndOptionalAlpha) {
    // A 2x2 32-bit icon DIB: height 4 (image and mask), rows bottom-up, then the AND mask.
    std::vector<unsigned char> dib(40, 0);
    dib[0] = 40, dib[4] = 2, dib[8] = 4, dib[12] = 1, dib[14] = 32;
    unsigned int px[4] = {0x80112233, 0x00445566, 0xFF778899, 0x00AABBCC};  // bottom row first
    for (unsigned int p : px)
        for (int i = 0; i < 4; i++) dib.push_back((unsigned char)(p >> (8 * i)));
    // Mask rows (bottom first), 4 bytes each: the bottom-right and top-right pixels are masked.
    for (int r = 0; r < 2; r++) dib.insert(dib.end(), {0x40, 0, 0, 0});
    cPictBase::sPictInfo info;
    cBufWrapperIO s(dib.data(), (long long)dib.size());
    ASSERT_TRUE(cPictDIB::validFor(&s, &info, false));
    EXPECT_EQ(info.height, 4);
    ASSERT_TRUE(cPictDIB::validFor(&s, &info, true));
    EXPECT_EQ(info.height, 2);

    cPictDIB withAlpha;
    withAlpha.setUseAlphaBp(true);
    Rgba a = decodeWith<cPictDIB>(dib, &withAlpha);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.h, 2);
    // Top-down: top row = second stored row.
    EXPECT_EQ(a.px[3], 255);   // 0xFF778899
    EXPECT_EQ(a.px[7], 0);     // 0x00AABBCC
    EXPECT_EQ(a.px[11], 0x80); // 0x80112233

    cPictDIB maskOnly;
    Rgba m = decodeWith<cPictDIB>(dib, &maskOnly);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.px[3], 255);  // top-left
    EXPECT_EQ(m.px[7], 0);    // top-right masked
    EXPECT_EQ(m.px[11], 255); // bottom-left
    EXPECT_EQ(m.px[15], 0);   // bottom-right masked
    EXPECT_EQ(m.px[8], 0x11);
}

TEST(CommonFormats, SurviveTruncationAndByteFlips) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    testutil::TempDir dir;
    using Check = void (*)(const std::vector<unsigned char>&, unsigned, int);
    struct Src {
        const char* target;
        std::vector<std::string> opts;
        Check check;
    } srcs[] = {
        {"bmp3:h.bmp", {"-type", "palette", "-compress", "RLE"}, survivesHostileCopies<cPictBMP>},
        {"bmp:h32.bmp", {"-type", "truecolormatte"}, survivesHostileCopies<cPictBMP>},
        {"ico:h.ico", {}, survivesHostileCopies<cPictICO>},
        {"gif:h.gif", {"-interlace", "GIF"}, survivesHostileCopies<cPictGIF>},
        {"pcx:h.pcx", {"-type", "palette"}, survivesHostileCopies<cPictPCX>},
        {"ppm:h.ppm", {"-compress", "none"}, survivesHostileCopies<cPictPPM>},
        {"tga:h.tga", {"-compress", "RLE"}, survivesHostileCopies<cPictTGA>},
        {"xpm:h.xpm", {}, survivesHostileCopies<cPictXPM>},
    };
    unsigned seed = 40;
    for (const Src& s : srcs) {
        SCOPED_TRACE(s.target);
        std::vector<unsigned char> good = testutil::readFile(convertFrom(dir, s.target, 9, 7, 6, true, seed, s.opts));
        ASSERT_FALSE(good.empty());
        s.check(good, seed++, 1500);
        if (good[0] == 'B')  // the bitmap without its file header, as icons and resources hold it
            survivesHostileCopies<cPictDIB>(std::vector<unsigned char>(good.begin() + 14, good.end()), seed++, 300);
    }
    std::vector<unsigned char> png = testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/png/pal4_trns.png");
    survivesHostileCopies<cPictICNS>(icnsFile({{"ic07", png}, {"is32", std::vector<unsigned char>(40, 0x81)}}), 77, 1500);
}
