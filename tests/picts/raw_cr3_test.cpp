// Canon CR3: kit files (ISO base-media boxes around a full-size JPEG made by cjpeg) decode to
// exactly that JPEG's pixels, nested "uuid" boxes up to the bound are walked, the "PRVW"
// preview scales while decoding, and boxes that make no progress, run past their parent or
// nest too deep are refused; the real sample probes at the size the peer reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/pictdummy.h"
#include "picts/raw/canon/pictcr3.h"
#include "rawkit/canonenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<unsigned int> pixelsOf(cPictBase& p) {
    _typebuf<unsigned int> px;
    if (!p.getColorData(px)) return {};
    return std::vector<unsigned int>(px.ptr, px.ptr + px.count);
}

}  // namespace

TEST(CanonCr3, DecodesTheFullSizeJpegThroughNestedBoxes) {
    std::vector<unsigned char> jpeg = cjpegPicture(96, 64, 1);
    if (jpeg.empty()) GTEST_SKIP() << "no cjpeg picture";
    cBufWrapperIO jio(jpeg.data(), (long long)jpeg.size());
    cPictJPEG ref;
    ASSERT_TRUE(ref.decode(&jio));
    const std::vector<unsigned int> want = pixelsOf(ref);
    struct Case {
        bool longMdat;
        int nesting;
        bool ok;
    };
    const Case cases[] = {{false, 0, true}, {true, 0, true}, {false, 3, true}, {false, 4, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "64-bit mdat " << c.longMdat << " uuid nesting " << c.nesting);
        Cr3Spec s;
        s.width = 96;
        s.height = 64;
        s.jpeg = jpeg;
        s.longMdatSize = c.longMdat;
        s.uuidNesting = c.nesting;
        std::vector<unsigned char> file = writeCr3(s);
        cBufWrapperIO io(file.data(), (long long)file.size());
        cPictCR3 d;
        cPictBase::sPictInfo info;
        ASSERT_EQ(d.isPicture(&io, &info), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(info.width, 96);
        EXPECT_EQ(info.height, 64);
        EXPECT_FALSE(info.hasPreview);
        io.set_fp(0);
        ASSERT_TRUE(d.decode(&io));
        EXPECT_EQ(pixelsOf(d), want);
        io.set_fp(0);
        cPictBase* made = cPictBase::mkPicture(&io, nullptr);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->typeOf(), cPictBase::pkCR3);
        delete made;
    }
}

TEST(CanonCr3, PreviewScalesWhileDecoding) {
    std::vector<unsigned char> preview = cjpegPicture(600, 400, 2), full = cjpegPicture(32, 16, 3);
    if (preview.empty() || full.empty()) GTEST_SKIP() << "no cjpeg picture";
    Cr3Spec s;
    s.width = 32;
    s.height = 16;
    s.jpeg = full;
    s.preview = preview;
    std::vector<unsigned char> file = writeCr3(s);
    struct Case {
        long long mw, mh, w, h;
    };
    const Case cases[] = {{100, 100, 100, 67}, {0, 0, 600, 400}, {600, 400, 600, 400}, {1000, 50, 75, 50}};
    for (const Case& c : cases) {
        cBufWrapperIO io(file.data(), (long long)file.size());
        cPictCR3 d;
        cPictDummy t;
        long long mw = c.mw, mh = c.mh;
        ASSERT_TRUE(d.getPreview(&io, &t, c.mw ? &mw : nullptr, c.mh ? &mh : nullptr)) << c.mw;
        EXPECT_EQ(t.width(), c.w);
        EXPECT_EQ(t.height(), c.h);
    }
    // A length that runs past its box is no preview; the file stays a picture.
    std::vector<unsigned char> bad = file;
    const size_t at = std::search(bad.begin(), bad.end(), (const unsigned char*)"PRVW", (const unsigned char*)"PRVW" + 4) -
                      bad.begin();
    ASSERT_LT(at, bad.size());
    bad[at + 16] = 0x7F;  // the length's high byte
    cBufWrapperIO io(bad.data(), (long long)bad.size());
    cPictCR3 d;
    cPictBase::sPictInfo info;
    ASSERT_TRUE(d.isPicture(&io, &info));
    EXPECT_FALSE(info.hasPreview);
}

TEST(CanonCr3, BoxesMustMakeProgress) {
    Cr3Spec s;
    s.width = 8;
    s.height = 8;
    s.jpeg = std::vector<unsigned char>(64, 0xAB);  // not decoded here
    s.longMdatSize = true;
    const std::vector<unsigned char> good = writeCr3(s);
    auto loads = [](const std::vector<unsigned char>& f) {
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictCR3 d;
        return d.isPicture(&io, nullptr);
    };
    ASSERT_TRUE(loads(good));
    const size_t mdat = good.size() - 64 - 16;
    const size_t moov = 24;
    struct Case {
        const char* name;
        size_t at;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        {"minor version 0", 15, {0}},
        {"mdat of size 0", mdat, {0, 0, 0, 0}},
        {"64-bit size below its header", mdat + 8, {0, 0, 0, 0, 0, 0, 0, 8}},
        {"64-bit size 0", mdat + 8, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"64-bit size past the file", mdat + 8, {0, 0, 0, 1, 0, 0, 0, 0}},
        {"a free box before mdat", mdat + 4, {'f', 'r', 'e', 'e'}},
        {"moov child of size 4", moov + 8, {0, 0, 0, 4}},
        {"moov child of size 0", moov + 8, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bad = good;
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + (long)c.at);
        EXPECT_FALSE(loads(bad)) << c.name;
    }
    decodeEachCut<cPictCR3>(good, 5, 0);
    for (size_t i = 0; i < good.size(); i++) {
        std::vector<unsigned char> bad = good;
        bad[i] ^= 0xFF;
        cBufWrapperIO io(bad.data(), (long long)bad.size());
        cPictCR3 d;
        cPictDummy t;
        d.decode(&io);
        io.set_fp(0);
        d.getPreview(&io, &t, nullptr, nullptr);
    }
}

// Probe, size and refusal are checked with the other real samples.
TEST(CanonCr3, RealFileMediaAndCutPreview) {
    std::vector<unsigned char> f = sharedRawOrSkip("CanonRaw.cr3");
    if (f.empty()) return;
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictCR3 d;
    ASSERT_TRUE(d.isPicture(&io, nullptr));
    EXPECT_EQ(d.mediaOffset(), 11437u);  // after a 64-bit size
    cPictDummy t;
    io.set_fp(0);
    EXPECT_FALSE(d.getPreview(&io, &t, nullptr, nullptr));  // the preview is cut short (26 bytes)
}
