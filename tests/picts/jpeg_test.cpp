// JPEG decoder against the peer decoder (djpeg) on pictures made by cjpeg at run time,
// against committed fixtures, and on hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/jpeg/jpegidct.h"
#include "picts/jpeg/pictjpeg.h"
#include "testutil.h"
#include "tiffbytes.h"

using namespace jpegtest;

namespace {

struct PeerCase {
    const char* name;
    int w, h, channels;
    std::vector<std::string> cjpegArgs;
    int noise = 16;  // of synthetic()
};

// Encodes a synthetic picture with cjpeg; empty when the tool failed.
std::vector<unsigned char> encode(const testutil::TempDir& dir, const PeerCase& c, unsigned seed) {
    Image src = synthetic(c.w, c.h, c.channels, 255, seed, c.noise);
    std::string in = dir.file(std::string(c.name) + ".pnm"), out = dir.file(std::string(c.name) + ".jpg");
    testutil::writeFile(in, makePnm(src));
    std::vector<std::string> argv = {"cjpeg"};
    argv.insert(argv.end(), c.cjpegArgs.begin(), c.cjpegArgs.end());
    argv.insert(argv.end(), {"-outfile", out, in});
    if (testutil::run(argv) != 0) return {};
    return testutil::readFile(out);
}

Image peerDecode(const testutil::TempDir& dir, const std::string& jpg) {
    std::string pnm;
    if (testutil::run({"djpeg", "-dct", "int", "-pnm", jpg}, &pnm) != 0) return Image();
    return parsePnm(std::vector<unsigned char>(pnm.begin(), pnm.end()));
}

}  // namespace

// Every variant cjpeg can write decodes exactly as djpeg -dct int does (same IDCT, same
// upsampling and colour conversion).
TEST(JpegPeer, MatchesDjpegAcrossEncodings) {
    if (!testutil::haveTool("cjpeg") || !testutil::haveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    testutil::TempDir dir;
    // Scan scripts: one sequential scan per component, and a progressive sequence with
    // two-bit successive approximation and a split spectral range.
    const std::string seqScans = "0;\n1;\n2;\n";
    const std::string progScans =
        "0 1 2: 0 0 0 1;\n0: 1 5 0 2;\n2: 1 63 0 1;\n1: 1 63 0 1;\n0: 6 63 0 2;\n"
        "0: 1 63 2 1;\n0 1 2: 0 0 1 0;\n2: 1 63 1 0;\n1: 1 63 1 0;\n0: 1 63 1 0;\n";
    testutil::writeFile(dir.file("seq.txt"), seqScans.data(), seqScans.size());
    testutil::writeFile(dir.file("prog.txt"), progScans.data(), progScans.size());
    const std::vector<PeerCase> cases = {
        {"seqPerComponent", 67, 45, 3, {"-scans", dir.file("seq.txt")}},
        {"seqPerComponent444", 35, 20, 3, {"-scans", dir.file("seq.txt"), "-sample", "1x1", "-restart", "1B"}},
        {"progScript", 67, 45, 3, {"-scans", dir.file("prog.txt")}},
        {"progScriptRestart", 51, 33, 3, {"-scans", dir.file("prog.txt"), "-restart", "3B", "-sample", "2x1"}},
        {"444", 67, 45, 3, {"-quality", "90", "-sample", "1x1"}},
        {"422", 67, 45, 3, {"-quality", "75", "-sample", "2x1"}},
        {"420", 67, 45, 3, {"-quality", "75", "-sample", "2x2"}},
        {"440", 33, 50, 3, {"-quality", "80", "-sample", "1x2"}},
        {"411", 70, 21, 3, {"-quality", "80", "-sample", "4x1"}},
        {"grey", 61, 39, 1, {"-quality", "85", "-grayscale"}},
        {"q5", 64, 64, 3, {"-quality", "5"}},
        {"q100", 40, 24, 3, {"-quality", "100", "-sample", "1x1"}},
        // Noise: many blocks whose last coefficient (63) is coded, so that no end of block follows.
        {"noisy", 256, 192, 3, {"-quality", "90", "-sample", "1x1"}, 128},
        {"optimized", 50, 50, 3, {"-quality", "60", "-optimize"}},
        {"progressive", 67, 45, 3, {"-quality", "85", "-progressive"}},
        {"progGrey", 45, 67, 1, {"-grayscale", "-progressive"}},
        {"prog444", 31, 17, 3, {"-progressive", "-sample", "1x1", "-quality", "95"}},
        {"restartRows", 67, 45, 3, {"-restart", "1"}},
        {"restartBlocks", 67, 45, 3, {"-restart", "3B", "-sample", "2x1"}},
        {"progRestart", 67, 45, 3, {"-progressive", "-restart", "2B"}},
        {"tiny", 1, 1, 3, {}},
        {"thin", 2, 19, 3, {"-sample", "2x2"}},
        {"baselineProg", 16, 16, 3, {"-baseline", "-quality", "20"}},
        // Taller than the row ring of the strips.
        {"tall420", 37, 150, 3, {"-sample", "2x2"}},
        {"tall440", 21, 131, 3, {"-sample", "1x2", "-restart", "2B"}},
        {"tallProg", 29, 140, 3, {"-progressive", "-sample", "2x1"}},
    };
    unsigned seed = 1;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> jpg = encode(dir, c, seed++);
        ASSERT_FALSE(jpg.empty());
        Image peer = peerDecode(dir, dir.file(std::string(c.name) + ".jpg"));
        ASSERT_GT(peer.w, 0);
        Decoded ours = decodeJpeg(jpg);
        ASSERT_TRUE(ours.ok);
        ASSERT_FALSE(ours.sixteen);
        double mean;
        int maxd;
        ASSERT_TRUE(compare(ours.rgb, peer, mean, maxd));
        EXPECT_EQ(maxd, 0);
    }
}

namespace {

// The decoder without strips: every plane whole, converted once the stream is read.
class cWholePlanesJPEG : public cPictJPEG {
public:
    bool acceptsStrips() override { return false; }
};

}  // namespace

// Strips (a ring of at least three MCU rows per component, rows converted as soon as their
// upsampling has its neighbours) give exactly the pixels of the whole-plane decode: on complete
// pictures, cut ones (the rest mid-grey) and damaged ones, sequential and progressive.
TEST(JpegStrips, SamePixelsAsWholePlanesWhenCutOrDamaged) {
    if (!testutil::haveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    testutil::TempDir dir;
    const std::vector<PeerCase> cases = {
        {"s420", 37, 150, 3, {"-sample", "2x2"}},
        {"s422", 40, 70, 3, {"-sample", "2x1", "-restart", "1"}},
        {"s440", 21, 131, 3, {"-sample", "1x2"}},
        {"s411", 70, 60, 3, {"-sample", "4x1"}},
        {"s444", 30, 90, 3, {"-sample", "1x1"}},
        {"sGrey", 33, 77, 1, {"-grayscale"}},
        {"sProg", 29, 140, 3, {"-progressive"}},
        {"sSeqScans", 40, 100, 3, {"-scans", dir.file("seq.txt")}},
    };
    const std::string seqScans = "0;\n1 2;\n";
    testutil::writeFile(dir.file("seq.txt"), seqScans.data(), seqScans.size());
    unsigned seed = 50;
    for (const PeerCase& c : cases) {
        std::vector<unsigned char> jpg = encode(dir, c, seed++);
        ASSERT_FALSE(jpg.empty()) << c.name;
        for (int variant = 0; variant < 4; variant++) {
            SCOPED_TRACE(std::string(c.name) + " variant " + std::to_string(variant));
            std::vector<unsigned char> bytes = jpg;
            if (variant == 1) bytes.resize(bytes.size() * 2 / 5);
            if (variant == 2) bytes.resize(bytes.size() * 3 / 4);
            if (variant == 3) bytes[bytes.size() * 3 / 5] ^= 0x5A;
            cPictJPEG strips;
            cWholePlanesJPEG whole;
            cBufWrapperIO s1(bytes.data(), (long long)bytes.size()), s2(bytes.data(), (long long)bytes.size());
            bool ok1 = strips.decode(&s1), ok2 = whole.decode(&s2);
            EXPECT_EQ(ok1, ok2);
            if (variant < 3) {
                EXPECT_EQ(ok1, variant == 0);  // a flipped byte may still decode
            }
            ASSERT_EQ(strips.width(), whole.width());
            ASSERT_EQ(strips.height(), whole.height());
            ASSERT_EQ(strips.raw8Bpp() != nullptr, whole.raw8Bpp() != nullptr);
            if (!whole.raw8Bpp()) continue;
            long long n = whole.width() * whole.height(), bad = 0;
            for (long long i = 0; i < n; i++) bad += strips.raw8Bpp()[i] != whole.raw8Bpp()[i];
            EXPECT_EQ(bad, 0);
        }
    }
}

// Four-component pictures as ImageMagick writes them (Adobe YCCK), and the same streams with
// the Adobe transform flag set to 0 (plain inverted CMYK); djpeg turns CMYK into RGB as
// c·k/255, the rule we use too.
TEST(JpegPeer, MatchesDjpegOnYcckAndCmyk) {
    if (!testutil::haveTool("convert") || !testutil::haveTool("djpeg")) GTEST_SKIP() << "convert/djpeg not installed";
    struct Case {
        const char* name;
        std::vector<std::string> extra;
    };
    const std::vector<Case> cases = {
        {"ycck", {}},
        {"ycck420", {"-sampling-factor", "2x2"}},
        {"ycckProg", {"-interlace", "JPEG"}},
    };
    testutil::TempDir dir;
    std::string src = dir.file("src.ppm");
    testutil::writeFile(src, makePnm(synthetic(53, 37, 3, 255, 9)));
    for (const Case& c : cases) {
        std::string out = dir.file(std::string(c.name) + ".jpg");
        std::vector<std::string> argv = {"convert", src, "-colorspace", "CMYK", "-quality", "88"};
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        argv.push_back(out);
        ASSERT_EQ(testutil::run(argv), 0);
        std::vector<unsigned char> jpg = testutil::readFile(out);
        // The same stream read as CMYK: Adobe segment "Adobe", version, two flag words, transform.
        std::vector<unsigned char> cmyk = jpg;
        size_t adobe = 0;
        while (adobe + 12 < cmyk.size() && memcmp(&cmyk[adobe], "Adobe", 5) != 0) adobe++;
        ASSERT_LT(adobe + 12, cmyk.size());
        ASSERT_EQ(cmyk[adobe + 11], 2);  // YCCK as written
        cmyk[adobe + 11] = 0;
        std::string cmykPath = dir.file(std::string(c.name) + "-cmyk.jpg");
        testutil::writeFile(cmykPath, cmyk);
        for (int variant = 0; variant < 2; variant++) {
            SCOPED_TRACE(std::string(c.name) + (variant ? " as CMYK" : ""));
            Image peer = peerDecode(dir, variant ? cmykPath : out);
            ASSERT_GT(peer.w, 0);
            Decoded ours = decodeJpeg(variant ? cmyk : jpg);
            ASSERT_TRUE(ours.ok);
            double mean;
            int maxd;
            ASSERT_TRUE(compare(ours.rgb, peer, mean, maxd));
            EXPECT_LE(mean, 0.05);
            EXPECT_LE(maxd, 1);
        }
    }
}

namespace {

std::string fixture(const std::string& name) { return std::string(QMX_TEST_DATA) + "/picts/jpeg/" + name; }

// Our 16-bit output brought back to the source's depth.
Image toDepth(const Image& im16, int maxval) {
    Image out = im16;
    out.maxval = maxval;
    for (auto& v : out.px) v = (uint16_t)((v * (long long)maxval + 32767) / 65535);
    return out;
}

}  // namespace

// Committed streams decode to the committed pixels: djpeg's for the 8-bit DCT files, the
// source's for 12-bit (within quantisation error) and lossless (exactly) files.
TEST(JpegFixtures, DecodeToExpectedPixels) {
    struct Case {
        const char* jpg;
        const char* expected;
        int frameMax;        // the frame's largest sample (its precision)
        int pointTransform;  // lossless: low bits the encoder dropped
        double meanBound;
        int maxBound;
    };
    const std::vector<Case> cases = {
        {"base420.jpg", "base420.ppm", 255, 0, 0.05, 1},
        {"base444rst.jpg", "base444rst.ppm", 255, 0, 0.05, 1},
        {"prog422.jpg", "prog422.ppm", 255, 0, 0.05, 1},
        {"grey.jpg", "grey.ppm", 255, 0, 0.05, 1},
        {"ycck.jpg", "ycck.ppm", 255, 0, 0.05, 1},
        {"ext12.jpg", "ext12.pgm", 4095, 0, 0.05, 1},
        {"prog12.jpg", "prog12.pgm", 4095, 0, 0.05, 1},
        {"ll16sv1.jpg", "ll16sv1.pgm", 65535, 0, 0, 0},
        {"ll12sv2.jpg", "ll12sv2.pgm", 65535, 0, 0, 0},
        {"ll12sv3.jpg", "ll12sv3.pgm", 65535, 0, 0, 0},
        {"ll12sv4.jpg", "ll12sv4.pgm", 65535, 0, 0, 0},
        {"ll12sv5.jpg", "ll12sv5.pgm", 65535, 0, 0, 0},
        {"ll12sv6.jpg", "ll12sv6.pgm", 65535, 0, 0, 0},
        {"ll12sv7.jpg", "ll12sv7.pgm", 65535, 0, 0, 0},
        {"ll16pt3.jpg", "ll16pt3.pgm", 65535, 3, 0, 0},
        {"ll8rgb.jpg", "ll8rgb.ppm", 255, 0, 0, 0},
        {"ll10.jpg", "ll10.pgm", 65535, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.jpg);
        std::vector<unsigned char> jpg = testutil::readFile(fixture(c.jpg));
        Image expected = parsePnm(testutil::readFile(fixture(c.expected)));
        ASSERT_FALSE(jpg.empty());
        ASSERT_GT(expected.w, 0);
        for (auto& v : expected.px) v = (uint16_t)(v >> c.pointTransform << c.pointTransform);
        Decoded ours = decodeJpeg(jpg);
        ASSERT_TRUE(ours.ok);
        EXPECT_EQ(ours.sixteen, c.frameMax > 255);
        Image got = ours.sixteen ? toDepth(ours.rgb, c.frameMax) : ours.rgb;
        double mean;
        int maxd;
        ASSERT_TRUE(compare(got, expected, mean, maxd));
        EXPECT_LE(mean, c.meanBound);
        EXPECT_LE(maxd, c.maxBound);
    }
}

namespace {

std::vector<unsigned char> fixtureData(const std::string& name) { return testutil::readFile(fixture(name)); }

// base420.jpg with an APP1 EXIF block whose IFD1 points at `thumb` (a JPEG).
std::vector<unsigned char> withExifThumbnail(const std::vector<unsigned char>& jpg, const std::vector<unsigned char>& thumb,
                                             bool bigEndian) {
    TiffBytes t(bigEndian, false);
    t.header(8);
    t.count(1);                       // IFD0: orientation 1
    t.entry(0x112, 3, 1, t.s16(1));
    t.u32(26);                        // next: IFD1
    t.count(2);
    t.entry(513, 4, 1, t.s32(56));    // thumbnail offset
    t.entry(514, 4, 1, t.s32((unsigned)thumb.size()));
    t.u32(0);
    t.b.insert(t.b.end(), thumb.begin(), thumb.end());
    std::vector<unsigned char> app = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app.insert(app.end(), t.b.begin(), t.b.end());
    size_t len = app.size() - 2;
    app[2] = (unsigned char)(len >> 8);
    app[3] = (unsigned char)len;
    std::vector<unsigned char> out(jpg.begin(), jpg.begin() + 2);
    out.insert(out.end(), app.begin(), app.end());
    out.insert(out.end(), jpg.begin() + 2, jpg.end());
    return out;
}

}  // namespace

// The probe reads only the headers, gives the size, and leaves the stream where it was,
// also when the JPEG starts inside a larger stream.
TEST(JpegApi, ProbeGivesSizeAndRewinds) {
    std::vector<unsigned char> jpg = fixtureData("prog422.jpg");
    std::vector<unsigned char> inner = {'j', 'u', 'n', 'k', '!'};
    inner.insert(inner.end(), jpg.begin(), jpg.end());
    struct Case {
        const std::vector<unsigned char>* data;
        unsigned long long start;
        bool ok;
    };
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    std::vector<unsigned char> empty;
    for (Case c : {Case{&jpg, 0, true}, Case{&inner, 5, true}, Case{&inner, 0, false}, Case{&png, 0, false},
                   Case{&empty, 0, false}}) {
        cBufWrapperIO s(c.data->data(), (long long)c.data->size());
        s.set_fp(c.start);
        cPictBase::sPictInfo info;
        EXPECT_EQ(cPictJPEG::validFor(&s, &info), c.ok);
        EXPECT_EQ(s.get_fp(), c.start);
        if (c.ok) {
            EXPECT_EQ(info.width, 41);
            EXPECT_EQ(info.height, 27);
            EXPECT_FALSE(info.hasPreview);
        }
    }
}

// The EXIF thumbnail (IFD1, either byte order) comes out as the preview, scaled down to the
// bounds when asked; a file without EXIF has none.
TEST(JpegApi, PreviewIsTheExifThumbnail) {
    std::vector<unsigned char> thumb = fixtureData("grey.jpg");
    Decoded expected = decodeJpeg(thumb);
    ASSERT_TRUE(expected.ok);
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        std::vector<unsigned char> jpg = withExifThumbnail(fixtureData("base420.jpg"), thumb, big);
        cBufWrapperIO s(jpg.data(), (long long)jpg.size());
        cPictBase::sPictInfo info;
        ASSERT_TRUE(cPictJPEG::validFor(&s, &info));
        EXPECT_TRUE(info.hasPreview);
        EXPECT_EQ(info.width, 41);
        // The main picture still decodes.
        EXPECT_TRUE(decodeJpeg(jpg).ok);

        cPictJPEG p;
        cPictDummy target;
        ASSERT_TRUE(p.getPreview(&s, &target, nullptr, nullptr));
        ASSERT_EQ(target.width(), expected.rgb.w);
        ASSERT_EQ(target.height(), expected.rgb.h);
        int bad = 0;
        for (int y = 0; y < expected.rgb.h; y++)
            for (int x = 0; x < expected.rgb.w; x++) {
                unsigned px = target.raw8Bpp()[(size_t)(expected.rgb.h - 1 - y) * expected.rgb.w + x];
                bad += (int)(px & 0xFF) != expected.rgb.at(x, y, 2);
            }
        EXPECT_EQ(bad, 0);

        cPictJPEG q;
        cPictDummy small;
        long long mw = 10, mh = 10;
        cBufWrapperIO s2(jpg.data(), (long long)jpg.size());
        ASSERT_TRUE(q.getPreview(&s2, &small, &mw, &mh));
        EXPECT_LE(small.width(), 10);
        EXPECT_LE(small.height(), 10);
        EXPECT_EQ(mw, small.width());
        EXPECT_EQ(mh, small.height());
    }
    std::vector<unsigned char> plain = fixtureData("base420.jpg");
    cBufWrapperIO s(plain.data(), (long long)plain.size());
    cPictJPEG p;
    cPictDummy target;
    EXPECT_FALSE(p.getPreview(&s, &target, nullptr, nullptr));
}

// The vector transform of 8-bit samples (its AVX2 build when the processor has one, and its
// portable build) gives exactly the samples of the plain scalar transform, on random blocks
// from sparse to dense whose dequantised coefficients stay in the range valid data has.
TEST(JpegIdct, VectorBuildsMatchScalarTransform) {
    std::mt19937 rng(28);
    short prevCoef[64] = {};
    unsigned short prevQuant[64] = {}, prevRef[8 * 10] = {};
    for (int t = 0; t < 20000; t++) {
        short coef[64] = {};
        unsigned short quant[64];
        const int density = 1 + t % 64;
        for (int i = 0; i < 64; i++) {
            quant[i] = (unsigned short)(1 + rng() % 32);
            if ((int)(rng() % 64) < density) {
                int lim = 1023 / quant[i];
                coef[i] = (short)((int)(rng() % (2 * lim + 1)) - lim);
            }
        }
        unsigned short ref[8 * 10], fast[8 * 10], base[8 * 10];
        jIdct8x8Portable(coef, quant, ref, 10, 8);
        jIdct8x8(coef, quant, fast, 10, 8);
        jIdctForcePortable(true);
        jIdct8x8(coef, quant, base, 10, 8);
        jIdctForcePortable(false);
        // Two blocks at once (this one and the one before), leaving both sets of coefficients zero.
        short pairA[64], pairB[64];
        memcpy(pairA, coef, sizeof(pairA));
        memcpy(pairB, prevCoef, sizeof(pairB));
        unsigned short outA[8 * 10], outB[8 * 10];
        jIdct8x8PairClear(pairA, quant, outA, 10, pairB, prevQuant, outB, 10, 8);
        for (int r = 0; r < 8; r++) {
            for (int x = 0; x < 8; x++) {
                ASSERT_EQ(fast[r * 10 + x], ref[r * 10 + x]) << "block " << t << " avx2 " << jIdctHasAvx2();
                ASSERT_EQ(base[r * 10 + x], ref[r * 10 + x]) << "block " << t;
                ASSERT_EQ(outA[r * 10 + x], ref[r * 10 + x]) << "pair, block " << t;
                if (t) {
                    ASSERT_EQ(outB[r * 10 + x], prevRef[r * 10 + x]) << "pair, block " << t - 1;
                }
            }
        }
        for (int i = 0; i < 64; i++) ASSERT_TRUE(pairA[i] == 0 && pairB[i] == 0) << "block " << t;
        memcpy(prevCoef, coef, sizeof(prevCoef));
        memcpy(prevQuant, quant, sizeof(prevQuant));
        memcpy(prevRef, ref, sizeof(prevRef));
    }
}
