// The embedded-JPEG preview helper on kit raw files carrying a cjpeg-made JPEG (expected
// pixels from djpeg, committed beside it), whole and scaled while decoding; hostile windows;
// and, when present, the real raw files in the shared test data. Also the lossless-JPEG raw
// decoder on dcmtk-made lossless streams (a foreign encoder).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg_testutil.h"
#include "picts/pictbase.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/raw/rawpreview.h"
#include "picts/tiffwalk/tiffgeneric.h"
#include "rawkit/peers.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<unsigned char> fixture(const std::string& name) {
    return testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/" + name);
}

// A raw-like TIFF whose IFD0 carries the JPEG under tags 513/514.
std::vector<unsigned char> rawWithPreview(const std::vector<unsigned char>& jpeg, bool be, uint64_t& off) {
    TiffWriter t(be, false);
    int ifd0 = t.newIfd();
    t.addAscii(ifd0, 271, "Kit");
    t.addBlocks(ifd0, 513, 514, {jpeg});
    std::vector<unsigned char> f = t.write(ifd0);
    off = t.blockOffset(ifd0, 513, 0);
    return f;
}

// Mean absolute difference of a 32-bit picture (bottom-up) against an RGB image box-scaled
// to the picture's size.
double meanDiff(cPictBase& p, const jpegtest::Image& ref) {
    _typebuf<unsigned int> px;
    if (!p.getColorData(px)) return 1e9;
    const long long w = p.width(), h = p.height();
    double total = 0;
    for (long long y = 0; y < h; y++)
        for (long long x = 0; x < w; x++) {
            unsigned argb = px.ptr[(h - 1 - y) * w + x];
            int x0 = (int)(x * ref.w / w), x1 = (int)((x + 1) * ref.w / w), y0 = (int)(y * ref.h / h),
                y1 = (int)((y + 1) * ref.h / h);
            for (int c = 0; c < 3; c++) {
                double s = 0;
                int n = 0;
                for (int yy = y0; yy < y1; yy++)
                    for (int xx = x0; xx < x1; xx++, n++) s += ref.at(xx, yy, c);
                total += std::abs((double)((argb >> (16 - 8 * c)) & 0xFF) - s / n);
            }
        }
    return total / (double)(w * h * 3);
}

}  // namespace

TEST(RawPreview, WholeAndScaledEmbeddedJpeg) {
    std::vector<unsigned char> jpeg = fixture("base420.jpg");
    jpegtest::Image ref = jpegtest::parsePnm(fixture("base420.ppm"));
    ASSERT_FALSE(jpeg.empty());
    ASSERT_EQ(ref.w, 41);
    struct Case {
        long long maxW, maxH;  // 0: no bound (null)
        long long expectW, expectH;
        double tolerance;
    };
    const Case cases[] = {
        {0, 0, 41, 27, 1.0}, {41, 27, 41, 27, 1.0}, {100, 0, 41, 27, 1.0},
        // Scaled: a coarse check against integer boxes of djpeg's pixels (rows upside down or
        // channels swapped would be far off), then against decode-then-scale below.
        {20, 20, 20, 13, 12.0},  // fit 20/41: 41 * fit + 0.5 = 20, 27 * fit + 0.5 = 13
        {0, 9, 14, 9, 12.0},     // fit 9/27
    };
    for (bool be : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.maxW << "x" << c.maxH << (be ? " MM" : " II"));
            uint64_t off = 0;
            std::vector<unsigned char> file = rawWithPreview(jpeg, be, off);
            cBufWrapperIO io(file.data(), (long long)file.size());
            cPictDummy target;
            long long mw = c.maxW, mh = c.maxH;
            ASSERT_TRUE(rawJpegPreview(&io, off, jpeg.size(), &target, c.maxW ? &mw : nullptr, c.maxH ? &mh : nullptr));
            EXPECT_EQ(target.width(), c.expectW);
            EXPECT_EQ(target.height(), c.expectH);
            if (c.maxW) {
                EXPECT_EQ(mw, c.expectW);
            }
            if (c.maxH) {
                EXPECT_EQ(mh, c.expectH);
            }
            EXPECT_LT(meanDiff(target, ref), c.tolerance);
            if (c.expectW < 41) {
                // Rendering while decoding matches decoding whole and scaling afterwards.
                cPictDummy whole, scaled;
                ASSERT_TRUE(rawJpegPreview(&io, off, jpeg.size(), &whole, nullptr, nullptr));
                ASSERT_TRUE(cPictBase::imgToPreview(&whole, &scaled, c.expectW, c.expectH, 0));
                _typebuf<unsigned int> a, b;
                ASSERT_TRUE(target.getColorData(a) && scaled.getColorData(b));
                ASSERT_EQ(a.count, b.count);
                double diff = 0;
                for (long long i = 0; i < a.count; i++)
                    for (int k = 0; k < 24; k += 8) diff += std::abs((int)((a.ptr[i] >> k) & 0xFF) - (int)((b.ptr[i] >> k) & 0xFF));
                EXPECT_LT(diff / (double)(a.count * 3), 3.0);
            }
        }
}

TEST(RawPreview, HostileWindowsFail) {
    std::vector<unsigned char> jpeg = fixture("base420.jpg");
    uint64_t off = 0;
    std::vector<unsigned char> file = rawWithPreview(jpeg, false, off);
    cBufWrapperIO io(file.data(), (long long)file.size());
    struct Case {
        const char* what;
        uint64_t offset, length;
    };
    const Case cases[] = {
        {"no offset", 0, jpeg.size()},
        {"no length", off, 0},
        {"offset past the file", file.size() + 10, jpeg.size()},
        {"not a JPEG", 8, jpeg.size()},
        {"cut in half", off, jpeg.size() / 2},
        {"huge length", off + 2, ~0ULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cPictDummy target;
        long long mw = 10, mh = 10;
        EXPECT_FALSE(rawJpegPreview(&io, c.offset, c.length, &target, &mw, &mh));
        EXPECT_FALSE(rawJpegPreview(&io, c.offset, c.length, &target, nullptr, nullptr));
    }
    cPictDummy target;
    EXPECT_FALSE(rawJpegPreview(nullptr, off, jpeg.size(), &target, nullptr, nullptr));
    EXPECT_FALSE(rawJpegPreview(&io, off, jpeg.size(), nullptr, nullptr, nullptr));
}

namespace {
// Collects the preview candidates of a TIFF-structured raw file: JPEG offset and length pairs
// (513/514, or a strip 273/279 of a directory with JPEG compression 6).
class PreviewFinder : public cTiffGeneric {
public:
    std::vector<std::pair<unsigned, unsigned>> found;
    unsigned jpegOff = 0, stripOff = 0, stripLen = 0, compression = 0;
    bool onTag(int tag, int type, const void* data, int size) override {
        sTagProcessParam p{tag, type, data, size};
        unsigned v = 0;
        if (tag == 513 && getValU32(p, v)) jpegOff = v;
        if (tag == 514 && getValU32(p, v) && jpegOff) found.push_back({jpegOff, v});
        if (tag == 259 && getValU32(p, v)) compression = v;
        if (tag == 273 && getValU32(p, v)) stripOff = v;
        if (tag == 279 && getValU32(p, v)) stripLen = v;
        return true;
    }
    void endDirectory() {
        if (compression == 6 && stripOff && stripLen) found.push_back({stripOff, stripLen});
        jpegOff = stripOff = stripLen = compression = 0;
    }
};
}  // namespace

// The real files of the shared test data: every preview candidate either decodes to a
// non-empty picture or fails cleanly (their sensor data, and some previews, are cut out).
TEST(RawPreview, RealRawFilesDecodeOrFailCleanly) {
    const char* names[] = {"CanonRaw.cr2", "Nikon.nef", "Panasonic.rw2", "DNG.dng", "PhaseOne.iiq", "colorchart.dng"};
    int tried = 0;
    std::string missing;
    for (const char* name : names) {
        std::vector<unsigned char> file = sharedRawFile(name, missing);
        if (file.empty()) continue;
        cBufWrapperIO io(file.data(), (long long)file.size());
        PreviewFinder f;
        if (f.processStream(&io, ~0ULL)) {
            f.endDirectory();
            for (int k = 0; k < 4 && f.nextOffset(); k++) {
                if (!f.processStream(&io, f.bigEndian(), false, f.nextOffset(), ~0ULL)) break;
                f.endDirectory();
            }
        }
        for (auto& c : f.found) {
            cPictDummy target;
            long long mw = 64, mh = 64;
            bool ok = rawJpegPreview(&io, c.first, c.second, &target, &mw, &mh);
            std::printf("%s: preview at %u (%u bytes): %s %lldx%lld\n", name, c.first, c.second, ok ? "decoded" : "refused",
                        target.width(), target.height());
            if (ok) {
                EXPECT_TRUE(target.width() >= 1 && target.width() <= 64 && target.height() <= 64);
            }
            tried++;
        }
    }
    std::printf("%d preview candidates tried\n", tried);
    skipForMissing(missing);
}

// Lossless streams from another encoder (dcmtk's dcmcjpeg, see the fixtures' README) placed
// as plain raw frames give the source samples exactly.
TEST(RawLosslessJpeg, ForeignEncoderStreamsComeBackExactly) {
    struct Case {
        const char* jpeg;
        const char* pgm;
        int shift;
    };
    const Case cases[] = {{"ll16sv1.jpg", "ll16sv1.pgm", 0}, {"ll12sv2.jpg", "ll12sv2.pgm", 0},
                          {"ll12sv5.jpg", "ll12sv5.pgm", 0}, {"ll12sv7.jpg", "ll12sv7.pgm", 0},
                          {"ll10.jpg", "ll10.pgm", 0},       {"ll16pt3.jpg", "ll16pt3.pgm", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.jpeg);
        std::vector<unsigned char> jpeg = fixture(c.jpeg);
        jpegtest::Image src = jpegtest::parsePnm(fixture(c.pgm));
        ASSERT_FALSE(jpeg.empty());
        ASSERT_EQ(src.channels, 1);
        cRAWLosslessJpeg d;
        d.init((unsigned)src.w, (unsigned)src.h, cRAWLosslessJpeg::stInOrder);
        cBufWrapperIO io(jpeg.data(), (long long)jpeg.size());
        ASSERT_TRUE(d.decodeFrame(&io));
        _typebuf<unsigned short>& f = d.getBitmap();
        ASSERT_EQ(f.count, (long long)src.w * src.h);
        for (long long i = 0; i < f.count; i++) {
            ASSERT_EQ(f.ptr[i], src.px[(size_t)i] >> c.shift << c.shift) << i;
        }
    }
}
