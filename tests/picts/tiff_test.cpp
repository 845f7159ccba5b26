// cPictTIFF against tiff2rgba and ImageMagick on files made by tiffcp, ImageMagick and
// fax2tiff at test time, plus hand-built hostile files.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/pictfactory.h"
#include "picts/tiff/picttiff.h"
#include "pictfmt_testutil.h"
#include "testutil.h"
#include "tiffbytes.h"

using pictfmt::Rgba;
using testutil::TempDir;

namespace {

bool haveOracles() {
    return testutil::haveTool("convert") && testutil::haveTool("tiffcp") && testutil::haveTool("tiff2rgba");
}

bool sh(const std::vector<std::string>& argv) { return testutil::run(argv) == 0; }

// The picture as tiff2rgba renders it (8-bit RGBA), read back through ImageMagick.
Rgba viaTiff2rgba(const TempDir& t, const std::string& file, long long w, long long h) {
    std::string out = t.file("rgba-out.tif");
    if (!sh({"tiff2rgba", "-c", "none", file, out})) return Rgba();
    return pictfmt::oracle(out, false, w, h);
}

Rgba decodeFile(const std::string& path, int page = 0) {
    return pictfmt::decodeWith<cPictTIFF>(testutil::readFile(path), nullptr, page);
}

long long worstDiff(const Rgba& a, const Rgba& b) {
    if (a.px.size() != b.px.size()) return 1 << 30;
    long long worst = 0;
    for (size_t i = 0; i < a.px.size(); i++) {
        long long d = (long long)a.px[i] - b.px[i];
        if (d < 0) d = -d;
        if (d > worst) worst = d;
    }
    return worst;
}

struct sCase {
    const char* name;
    std::string make;  // a command line; {src}, {bw}, {mid} and {out} name the files
    std::string then;  // optional second step from {mid} to {out}
    int oracle;        // 0 tiff2rgba, 1 ImageMagick 8-bit, 2 ImageMagick 16-bit
    int tolerance;
};

// The command's words, with the file names put in.
std::vector<std::string> subst(const std::string& command, const TempDir& t) {
    std::istringstream in(command);
    std::vector<std::string> v;
    for (std::string s; in >> s;) {
        if (s == "{src}") s = t.file("src.png");
        if (s == "{bw}") s = t.file("bw.png");
        if (s == "{mid}") s = t.file("mid.tif");
        if (s == "{out}") s = t.file("out.tif");
        v.push_back(s);
    }
    return v;
}
}  // namespace

TEST(TiffDecoder, MatchesPeersForEveryLayoutCompressionAndDepth) {
    if (!haveOracles()) GTEST_SKIP() << "tiffcp, tiff2rgba or ImageMagick convert not installed";
    TempDir t;
    const long long W = 67, H = 45;
    ASSERT_TRUE(sh({"convert", "-seed", "3", "-size", "67x45", "plasma:fractal", t.file("src.png")}));
    ASSERT_TRUE(sh({"convert", t.file("src.png"), "-colorspace", "gray", "-threshold", "50%", "-type", "bilevel",
                    t.file("bw.png")}));
    const std::string rgb8 = "convert {src} -depth 8 -compress none {mid}";
    const std::string bw1 = "convert {bw} -depth 1 -compress none {mid}", grey = "convert {src} -colorspace gray ";
    const std::string floats = "convert {src} -define quantum:format=floating-point ";
    const std::string rgba = "convert {src} ( +clone -colorspace gray ) -alpha off -compose copy_opacity -composite ";
    const std::vector<sCase> cases = {
        {"none", rgb8, "", 0, 0},
        {"lzw", rgb8, "tiffcp -c lzw {mid} {out}", 0, 0},
        {"lzw predictor", rgb8, "tiffcp -c lzw:2 {mid} {out}", 0, 0},
        {"deflate predictor", rgb8, "tiffcp -c zip:2 {mid} {out}", 0, 0},
        {"packbits", rgb8, "tiffcp -c packbits {mid} {out}", 0, 0},
        {"rows per strip 7", rgb8, "tiffcp -r 7 {mid} {out}", 0, 0},
        {"tiles lzw", rgb8, "tiffcp -t -w 16 -l 32 -c lzw {mid} {out}", 0, 0},
        {"planar", rgb8, "tiffcp -p separate -c zip {mid} {out}", 0, 0},
        {"planar tiles", rgb8, "tiffcp -p separate -t -w 32 -l 16 {mid} {out}", 0, 0},
        {"big-endian", rgb8, "tiffcp -B -c lzw:2 {mid} {out}", 0, 0},
        {"BigTIFF", rgb8, "tiffcp -8 -c zip {mid} {out}", 0, 0},
        {"BigTIFF big-endian tiles", rgb8, "tiffcp -8 -B -t -w 32 -l 16 -c lzw:2 {mid} {out}", 0, 0},
        {"jpeg imagemagick", "convert {src} -depth 8 -compress JPEG -quality 92 {out}", "", 0, 3},
        {"jpeg tables", rgb8, "tiffcp -c jpeg:90 -r 16 {mid} {out}", 0, 3},
        {"jpeg tiles", rgb8, "tiffcp -c jpeg:90 -t -w 16 -l 16 {mid} {out}", 0, 3},
        {"grey 8", grey + "-depth 8 {out}", "", 0, 0},
        {"grey 4", grey + "-depth 4 {out}", "", 0, 0},
        {"grey 2", grey + "-depth 2 {out}", "", 0, 0},
        {"bilevel", "convert {bw} -depth 1 -compress none {out}", "", 0, 0},
        {"min-is-white 8", grey + "-depth 8 -define tiff:photometric=min-is-white {out}", "", 0, 0},
        {"min-is-white 16", grey + "-depth 16 -define tiff:photometric=min-is-white {out}", "", 2, 0},
        {"palette", "convert {src} -colors 16 -type Palette {out}", "", 0, 0},
        {"palette lzw", "convert {src} -colors 200 -type Palette {mid}", "tiffcp -c lzw {mid} {out}", 0, 0},
        {"palette 4-bit", "convert {src} -colors 9 -type Palette -depth 4 {out}", "", 0, 0},
        {"cmyk 16", "convert {src} -colorspace CMYK -depth 16 {out}", "", 2, 0},
        {"cmyk planar", "convert {src} -colorspace CMYK -depth 8 -interlace plane {out}", "", 0, 0},
        {"cmyk", "convert {src} -colorspace CMYK -depth 8 {out}", "", 0, 0},
        {"g3 1d", bw1, "tiffcp -c g3:1d {mid} {out}", 0, 0},
        {"g3 2d", bw1, "tiffcp -c g3:2d:fill {mid} {out}", 0, 0},
        {"g4", bw1, "tiffcp -c g4 {mid} {out}", 0, 0},
        {"g4 fill order 2", bw1, "tiffcp -c g4 -f lsb2msb {mid} {out}", 0, 0},
        {"g4 imagemagick", "convert {bw} -depth 1 -compress Group4 {out}", "", 0, 0},
        {"g3 imagemagick", "convert {bw} -depth 1 -compress Fax {out}", "", 0, 0},
        {"rgb 16", "convert {src} -depth 16 {mid}", "tiffcp -c lzw:2 {mid} {out}", 2, 0},
        {"rgb 16 big-endian planar", "convert {src} -depth 16 -interlace plane -endian MSB {out}", "", 2, 0},
        {"grey 12", grey + "-depth 12 {out}", "", 2, 0},
        {"rgb 32", "convert {src} -depth 32 {out}", "", 2, 0},
        {"float 32", floats + "-depth 32 {mid}", "tiffcp -c zip:3 {mid} {out}", 2, 1},
        {"float 32 predictor 3", floats + "-depth 32 -compress zip -define tiff:predictor=3 {out}", "", 2, 1},
        {"float 16", floats + "-depth 16 {out}", "", 2, 2},
        {"rgba", rgba + "-depth 8 {out}", "", 1, 0},
        {"rgba planar 16", rgba + "-depth 16 -interlace plane {out}", "", 2, 0},
        {"rgba lzw predictor", rgba + "-depth 8 {mid}", "tiffcp -c lzw:2 {mid} {out}", 1, 0},
        {"grey alpha", grey + "( +clone -negate ) -alpha off -compose copy_opacity -composite -depth 8 {out}", "", 1, 0},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sh(subst(c.make, t)));
        if (!c.then.empty()) {
            ASSERT_TRUE(sh(subst(c.then, t)));
        }
        std::string file = subst(c.then.empty() ? c.make : c.then, t).back();  // the last step's output
        Rgba ours = decodeFile(file);
        ASSERT_TRUE(ours.ok);
        ASSERT_EQ(ours.w, W);
        ASSERT_EQ(ours.h, H);
        Rgba peer = c.oracle == 0 ? viaTiff2rgba(t, file, W, H) : pictfmt::oracle(file, c.oracle == 2, W, H);
        ASSERT_TRUE(peer.ok);
        ASSERT_EQ(ours.wide, c.oracle == 2) << "samples above 8 bits kept as such";
        EXPECT_LE(worstDiff(ours, peer), c.tolerance);
        std::string first;
        if (c.tolerance == 0) {
            EXPECT_EQ(pictfmt::mismatches(ours, peer, false, &first), 0) << first;
        }
    }
}

// Fax pages written by fax2tiff from raw T.4 data: 1D, 2D, T.6, both fill orders, strips.
TEST(TiffDecoder, FaxFilesFromFax2tiffMatchTiff2rgba) {
    if (!haveOracles() || !testutil::haveTool("fax2tiff")) GTEST_SKIP() << "fax2tiff, tiff2rgba or convert missing";
    TempDir t;
    ASSERT_TRUE(sh({"convert", "-seed", "5", "-size", "203x61", "plasma:fractal", "-colorspace", "gray", "-threshold",
                    "50%", "-depth", "1", "g3:" + t.file("raw.g3")}));
    const std::vector<std::vector<std::string>> options = {
        {"-5"}, {"-6"}, {"-8"}, {"-6", "-m"}, {"-5", "-p"}, {"-8", "-r", "4"}, {"-6", "-r", "5", "-m"}};
    for (const auto& o : options) {
        std::vector<std::string> argv = {"fax2tiff", "-M", "-X", "203"};
        argv.insert(argv.end(), o.begin(), o.end());
        argv.insert(argv.end(), {"-o", t.file("fax.tif"), t.file("raw.g3")});
        SCOPED_TRACE(argv[4] + (o.size() > 1 ? " " + o[1] : std::string()));
        ASSERT_TRUE(sh(argv));
        Rgba ours = decodeFile(t.file("fax.tif"));
        ASSERT_TRUE(ours.ok);
        ASSERT_EQ(ours.w, 203);
        Rgba peer = viaTiff2rgba(t, t.file("fax.tif"), ours.w, ours.h);
        ASSERT_TRUE(peer.ok);
        std::string first;
        EXPECT_EQ(pictfmt::mismatches(ours, peer, false, &first), 0) << first;
    }
}

// Pages: each page from its own directory (a tiled page after a striped one), counted and
// sized without walking past the chain's end.
TEST(TiffDecoder, MultiPageFilesDecodeEveryPageFromItsOwnDirectory) {
    if (!haveOracles()) GTEST_SKIP() << "tiffcp, tiff2rgba or ImageMagick convert not installed";
    TempDir t;
    ASSERT_TRUE(sh({"convert", "-seed", "3", "-size", "67x45", "plasma:fractal", "-depth", "8", t.file("a.tif")}));
    ASSERT_TRUE(sh({"convert", "-seed", "4", "-size", "40x30", "plasma:fractal", "-colorspace", "gray", "-depth", "8",
                    t.file("b0.tif")}));
    ASSERT_TRUE(sh({"tiffcp", "-t", "-w", "16", "-l", "16", "-c", "lzw", t.file("b0.tif"), t.file("b.tif")}));
    ASSERT_TRUE(sh({"convert", "-size", "20x10", "xc:red", "-depth", "8", t.file("c.tif")}));
    ASSERT_TRUE(sh({"tiffcp", t.file("a.tif"), t.file("b.tif"), t.file("c.tif"), t.file("multi.tif")}));
    std::vector<unsigned char> bytes = testutil::readFile(t.file("multi.tif"));
    cBufWrapperIO s(bytes.data(), (long long)bytes.size());
    cPictTIFF d;
    EXPECT_EQ(d.getNumPages(&s), 3);
    const long long sizes[3][2] = {{67, 45}, {40, 30}, {20, 10}};
    for (int p = 0; p < 3; p++) {
        SCOPED_TRACE(p);
        long long w = 0, h = 0;
        EXPECT_TRUE(d.getPageSize(&s, p, w, h));
        EXPECT_EQ(w, sizes[p][0]);
        EXPECT_EQ(h, sizes[p][1]);
        Rgba ours = decodeFile(t.file("multi.tif"), p);
        ASSERT_TRUE(ours.ok);
        Rgba peer = pictfmt::oracle(t.file("multi.tif") + "[" + std::to_string(p) + "]", false, w, h);
        ASSERT_TRUE(peer.ok);
        EXPECT_EQ(pictfmt::mismatches(ours, peer, false), 0);
    }
    long long w, h;
    EXPECT_FALSE(d.getPageSize(&s, 3, w, h));
    EXPECT_FALSE(d.decodePage(&s, 3));
    EXPECT_FALSE(d.decodePage(&s, -1));
}

TEST(TiffDecoder, FactoryFindsTiffAndPreviewScalesTheFullPage) {
    if (!haveOracles()) GTEST_SKIP() << "ImageMagick convert not installed";
    TempDir t;
    ASSERT_TRUE(sh({"convert", "-size", "64x32", "gradient:red-blue", "-depth", "8", t.file("a.tif")}));
    ASSERT_TRUE(sh({"tiffcp", "-t", "-w", "16", "-l", "16", t.file("a.tif"), t.file("b.tif")}));
    std::vector<unsigned char> bytes = testutil::readFile(t.file("b.tif"));
    cBufWrapperIO s(bytes.data(), (long long)bytes.size());
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&s, &info);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->typeOf(), cPictBase::pkTIFF);
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 32);
    EXPECT_FALSE(info.hasPreview);
    cPictDummy target, none;
    EXPECT_FALSE(p->getPreview(&s, &none, nullptr, nullptr)) << "no Photoshop thumbnail in this file";
    ASSERT_TRUE(p->decodePagePreview(&s, &target, 16, 16, 0, true, 0));
    EXPECT_EQ(target.width(), 16);
    EXPECT_EQ(target.height(), 8);
    // Red at the top, blue at the bottom survive the scaling (rows are stored bottom-up).
    unsigned top = target.raw8Bpp()[7 * 16 + 8], bottom = target.raw8Bpp()[8];
    EXPECT_GT((top >> 16) & 255, 200u);
    EXPECT_GT(bottom & 255, 200u);
    EXPECT_FALSE(p->decodePagePreview(&s, &target, 16, 16, 0, false, 0));
    delete p;
}

