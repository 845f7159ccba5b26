// JBIG2 generic regions: streams from the plain encoder of jbig2_testenc.h, decoded by
// cPictJBIG2 and by jbig2dec, against the source bitmap; header variants, hostile headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/jbig2/jbig2arith.h"
#include "picts/jbig2/pictjbig2.h"
#include "picts/pictdummy.h"
#include "jbig2_testenc.h"
#include "testutil.h"

using namespace jbig2test;

namespace {

// Our decode as one byte per pixel (1 = black); w = -1 when it fails.
Bitmap decodeOurs(const std::vector<unsigned char>& file) {
    Bitmap r;
    r.w = -1;
    cBufWrapperIO s(file.data(), (long long)file.size());
    cPictJBIG2 d;
    if (!d.decode(&s)) return r;
    EXPECT_EQ(d.pageKind(), cPictBase::pgBits1);  // the page is held at one bit a pixel
    r.w = (int)d.width(), r.h = (int)d.height();
    for (int y = 0; y < r.h; y++)
        for (int x = 0; x < r.w; x++) r.px.push_back(d.raw8Bpp()[(size_t)(r.h - 1 - y) * r.w + x] == 0xFF000000u);
    return r;
}

// jbig2dec's decode (PBM: 1 = black); w = -1 when it fails.
Bitmap decodePeer(const std::vector<unsigned char>& file, bool embedded) {
    Bitmap r;
    r.w = -1;
    testutil::TempDir dir;
    testutil::writeFile(dir.file("in.jb2"), file);
    std::vector<std::string> argv = {"jbig2dec", "-q", "-t", "pbm", "-o", dir.file("out.pbm")};
    if (embedded) argv.push_back("-e");
    argv.push_back(dir.file("in.jb2"));
    if (testutil::run(argv) != 0) return r;
    std::vector<unsigned char> pbm = testutil::readFile(dir.file("out.pbm"));
    int w, h, n = 0;
    if (sscanf((const char*)pbm.data(), "P4 %d %d%n", &w, &h, &n) != 2 || n <= 0) return r;
    size_t start = (size_t)n + 1, stride = (size_t)(w + 7) / 8;
    if (pbm.size() < start + stride * h) return r;
    r.w = w, r.h = h;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) r.px.push_back((pbm[start + y * stride + x / 8] >> (7 - x % 8)) & 1);
    return r;
}

int differences(const Bitmap& a, const Bitmap& b) {
    if (a.w != b.w || a.h != b.h) return -1;
    int n = 0;
    for (size_t i = 0; i < a.px.size(); i++) n += a.px[i] != b.px[i];
    return n;
}

}  // namespace

// Every template, with and without typical prediction, nominal and moved AT pixels (templates
// 1 and 2 included: their header's pixel is the one used), with and without the file header,
// and the header forms real files use: the source bitmap comes back from us and from jbig2dec.
TEST(Jbig2Decoder, EncodedRegionsMatchSourceAndJbig2dec) {
    const bool peer = testutil::haveTool("jbig2dec");
    struct Case {
        const char* name;
        Options o;
        bool sparse = false;  // a printed page: long white runs between strokes
    };
    std::vector<Case> cases;
    for (int tpl = 0; tpl < 4; tpl++)
        for (bool tpgdon : {false, true}) {
            Options o;
            o.tpl = tpl;
            o.tpgdon = tpgdon;
            cases.push_back({"nominal AT", o});
            if (!tpgdon) cases.push_back({"sparse page", o, true});
            o.at = tpl == 0 ? std::vector<int>{-1, -3, 4, -1, -5, -2, 0, -4} : std::vector<int>{-2, -2};
            o.fileHeader = tpgdon;
            cases.push_back({"moved AT", o});
        }
    auto with = [&](const char* name, void (*set)(Options&)) {
        Options o;
        set(o);
        cases.push_back({name, o});
    };
    with("AT in the current row", [](Options& o) { o.at = {-7, 0, 3, -1, 2, -2, -2, -2}; });  // A1 there
    with("page count not given", [](Options& o) { o.unknownPageCount = true; });
    with("4-byte page association", [](Options& o) { o.page4 = true, o.tpl = 1; });
    with("page height from its stripe", [](Options& o) { o.stripedPage = true, o.tpl = 2; });
    with("region length left open", [](Options& o) { o.openLength = true, o.tpgdon = true; });
    unsigned seed = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " template " + std::to_string(c.o.tpl) + (c.o.tpgdon ? " TPGDON" : "") +
                     (c.o.fileHeader ? " file" : " bare"));
        Bitmap src = c.sparse ? textPage(256 + (int)seed % 7, 360, seed) : sample(61 + (int)seed % 7, 45, seed);
        seed++;
        std::vector<unsigned char> file = jbig2File(src, c.o);
        Bitmap ours = decodeOurs(file);
        ASSERT_EQ(ours.w, src.w);
        EXPECT_EQ(differences(ours, src), 0);
        if (!peer) continue;
        Bitmap theirs = decodePeer(file, !c.o.fileHeader);
        ASSERT_EQ(theirs.w, src.w) << "jbig2dec refused the stream";
        ASSERT_EQ(theirs.h, src.h);
        EXPECT_EQ(differences(theirs, src), 0);
    }
    if (!peer) GTEST_SKIP() << "jbig2dec not installed: checked against the source bitmaps only";
}

// The page starts in its default colour and each region is combined with it by its own
// operator (OR, AND, XOR, XNOR, REPLACE; reserved ones leave the page as it is), whatever the
// page's default operator and override flag say: as jbig2dec does. Regions overlap, start on
// and off byte boundaries, are wide enough to be combined by whole words and run past the
// page's right edge.
TEST(Jbig2Decoder, PageDefaultColourAndCombinationOperators) {
    const bool peer = testutil::haveTool("jbig2dec");
    const Bitmap a = sample(40, 30, 5), b = sample(37, 33, 7), wide = sample(150, 12, 9), aligned = sample(100, 8, 4);
    const int pw = 160, ph = 48;
    struct Case {
        int pageFlags, opA, opB;
    };
    std::vector<Case> cases;
    for (int flags : {0x40, 0x44})
        for (int op = 0; op <= 4; op++) cases.push_back({flags, 4 - op, op});
    cases.push_back({0x04 | 2 << 3, 0, 3});  // default operator XOR, not overridden: the regions' own apply
    cases.push_back({0x04, 5, 2});           // reserved operator
    for (const Case& c : cases) {
        SCOPED_TRACE("page flags " + std::to_string(c.pageFlags) + " operators " + std::to_string(c.opA) + ", " +
                     std::to_string(c.opB));
        const std::vector<Placed> regions = {{a, 3, 2, c.opA}, {b, 35, 13, c.opB}, {wide, 17, 30, c.opB},
                                             {aligned, 8, 40, c.opA}};
        Bitmap want;
        want.w = pw, want.h = ph;
        want.px.assign(pw * ph, (c.pageFlags & 4) ? 1 : 0);
        for (const Placed& r : regions)
            for (int y = 0; y < r.b.h && r.y + y < want.h; y++)
                for (int x = 0; x < r.b.w && r.x + x < want.w; x++) {
                    unsigned char& d = want.px[(size_t)(r.y + y) * pw + r.x + x];
                    const int s = r.b.at(x, y);
                    const int v[8] = {d | s, d & s, d ^ s, !(d ^ s), s, d, d, d};
                    d = (unsigned char)v[r.op];
                }
        const std::vector<unsigned char> file = jbig2Page(pw, ph, c.pageFlags, regions);
        EXPECT_EQ(differences(decodeOurs(file), want), 0);
        if (peer) {
            EXPECT_EQ(differences(decodePeer(file, false), want), 0);
        }
    }
    if (!peer) GTEST_SKIP() << "jbig2dec not installed: checked against the composed bitmaps only";
}

// Headers that must be refused, or whose region must fail the page, without a large allocation
// or a read outside the stream.
TEST(Jbig2Decoder, RefusesHostileHeaders) {
    Bitmap src = sample(40, 30, 9);
    const std::vector<unsigned char> good = jbig2File(src, Options());
    ASSERT_EQ(decodeOurs(good).w, 40);
    // Offsets in the standard file: header 13, page information segment 11 + 19.
    const size_t pageInfo = 13 + 11, region = pageInfo + 19 + 11;
    struct Case {
        const char* name;
        size_t at;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"page count 0", 9, {0, 0, 0, 0}},
        {"page count 2, one page", 9, {0, 0, 0, 2}},
        {"random-access organisation", 8, {0x00}},
        {"huge page", pageInfo, {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}},
        {"zero page width", pageInfo, {0, 0, 0, 0}},
        {"page info too long", pageInfo - 4, {0, 0, 0, 20}},
        {"region far wider than its page", region, {0x00, 0x10, 0x00, 0x00}},
        {"region below the page", region + 12, {0, 0, 0, 30}},
        {"region data past the end", region - 4, {0x00, 0x10, 0x00, 0x00}},
        {"page information with its length left open", pageInfo - 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"MMR region", region + 17, {0x01}},
        {"AT pixel not yet decoded", region + 18, {0x01, 0x00}},
        {"AT pixel below", region + 18, {0xFD, 0x01}},
        {"long referred-to count", region - 11 + 5, {0xE0, 0, 0, 0x20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> bad = good;
        ASSERT_LE(c.at + c.bytes.size(), bad.size());
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + (long)c.at);
        EXPECT_EQ(decodeOurs(bad).w, -1);
    }
    // Every prefix: a clean answer; those that lose region data are failures.
    for (size_t n = 0; n < good.size(); n++) {
        std::vector<unsigned char> part(good.begin(), good.begin() + (long)n);
        Bitmap r = decodeOurs(part);
        if (n < good.size() - 11 * 2) {
            EXPECT_EQ(r.w, -1) << "prefix " << n;
        }
    }
}

// Regions repeated over one page: decoding stops being paid for beyond four page areas (and a
// little), so a small file cannot make the decoder work on far more pixels than it shows.
TEST(Jbig2Decoder, PageWorkIsBoundedAcrossItsRegions) {
    Bitmap white;
    white.w = white.h = 1024;
    white.px.assign((size_t)1024 * 1024, 0);
    Options o;
    o.fileHeader = false;
    o.tpgdon = true;
    const std::vector<unsigned char> bare = jbig2File(white, o);
    // Bare stream: page information (11 + 19 bytes), then the region segment.
    const size_t at = 30 + 11, length = (size_t)bare[37] << 24 | bare[38] << 16 | bare[39] << 8 | bare[40];
    const std::vector<unsigned char> info(bare.begin() + 11, bare.begin() + 30), region(bare.begin() + (long)at,
                                                                                             bare.begin() + (long)(at + length));
    for (int copies : {5, 6}) {
        SCOPED_TRACE(copies);
        std::vector<unsigned char> file;
        segment(file, 0, 48, 1, false, info);
        for (int i = 1; i <= copies; i++) segment(file, (uint32_t)i, 38, 1, false, region);
        Bitmap r = decodeOurs(file);
        EXPECT_EQ(r.w, copies == 5 ? 1024 : -1);
    }
}

// The factory finds the decoder (last but one); a page preview is the page scaled into the
// target; a region that extends below its page paints only the rows on the page; segments
// after a gap in the numbering are not read.
TEST(Jbig2Decoder, FactoryPreviewClippingAndNumberGap) {
    Bitmap page = sample(64, 48, 6);
    page.px.assign(page.px.size(), 1);  // all black: every preview pixel is black
    std::vector<unsigned char> black = jbig2File(page, Options());
    cBufWrapperIO s(black.data(), (long long)black.size());
    cPictBase::sPictInfo info;
    std::unique_ptr<cPictBase> found(cPictBase::mkPicture(&s, &info));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->typeOf(), cPictBase::pkJBIG2);
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    EXPECT_EQ(found->getNumPages(&s), 1);
    cPictDummy preview;
    ASSERT_TRUE(found->decodePagePreview(&s, &preview, 16, 16, 0, true, 0xFF00FF00u));
    ASSERT_EQ(preview.width(), 16);
    ASSERT_EQ(preview.height(), 12);
    for (long long i = 0; i < 16 * 12; i++) ASSERT_EQ(preview.raw8Bpp()[i], 0xFF000000u) << i;
    EXPECT_FALSE(found->decodePage(&s, 1));

    Bitmap src = sample(32, 20, 4);
    std::vector<unsigned char> file = jbig2File(src, Options());
    // Page height 20 -> 12: the region keeps its 20 rows.
    file[13 + 11 + 7] = 12;
    Bitmap ours = decodeOurs(file);
    ASSERT_EQ(ours.w, 32);
    ASSERT_EQ(ours.h, 12);
    Bitmap top = src;
    top.h = 12;
    top.px.resize(32 * 12);
    EXPECT_EQ(differences(ours, top), 0);
    // Region segment numbered 2 instead of 1: the page has no region and is refused.
    std::vector<unsigned char> gap = jbig2File(src, Options());
    gap[13 + 11 + 19 + 3] = 2;
    EXPECT_EQ(decodeOurs(gap).w, -1);
}
