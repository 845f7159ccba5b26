// JPEG 2000: many encodings of one picture by opj_compress, each decoded by us and by
// opj_decompress (exact for the reversible path, within 1 and nearly always equal for the 9/7
// path).
#include "jpeg2000_testutil.h"
#include "picts/jpeg2000/pictjp2.h"
#include "pictfmt_testutil.h"

using namespace j2ktest;

namespace {

struct PeerCase {
    const char* name;
    long long w, h;
    int comps, bits;
    const char* args;  // opj_compress options
    bool lossy;
    bool jp2;
    bool noise = false;  // pure noise: incompressible, so code-blocks carry the most data
    bool dark = false;   // every sample in the lower half
};

const PeerCase kCases[] = {
    {"lossless8Grey", 97, 61, 1, 8, "", false, false},
    {"lossless8Rgb", 120, 90, 3, 8, "", false, false},
    {"lossless16Grey", 80, 50, 1, 16, "", false, false},
    {"lossless12Rgb", 64, 48, 3, 12, "", false, false},
    // 64 x 64 code-blocks of 16-bit noise carry more than 8 KiB each.
    {"lossless16NoiseBigBlocks", 128, 128, 1, 16, "-n 2", false, false, true},
    {"irreversible97", 130, 77, 3, 8, "-I -r 8", true, false},
    {"irreversible97Grey", 100, 100, 1, 8, "-I -q 40", true, false},
    {"irreversible97DarkTiles", 150, 101, 3, 8, "-I -t 64,48", true, false, false, true},
    {"irreversible97DarkGrey", 150, 101, 1, 8, "-I -q 50", true, false, false, true},
    {"lrcpLayers", 96, 64, 3, 8, "-p LRCP -r 40,10,1", false, false},
    {"rlcp", 96, 64, 3, 8, "-p RLCP -r 20,1", false, false},
    {"rpcl", 96, 64, 3, 8, "-p RPCL -c [32,32],[16,16] -r 10,1", false, false},
    {"pcrl", 96, 64, 3, 8, "-p PCRL -c [32,32],[16,16]", false, false},
    {"cprl", 96, 64, 3, 8, "-p CPRL -c [32,32],[16,16]", false, false},
    {"tiles", 150, 101, 3, 8, "-t 64,48", false, false},
    {"tilesOffset", 150, 101, 1, 8, "-t 40,40 -d 7,5 -T 3,2", false, false},
    {"precincts", 200, 120, 1, 8, "-c [64,64],[32,32],[16,16] -b 16,16", false, false},
    {"smallBlocks", 70, 70, 1, 8, "-b 4,8 -n 3", false, false},
    {"oneResolution", 50, 30, 1, 8, "-n 1", false, false},
    {"manyResolutions", 300, 140, 1, 8, "-n 7", false, false},
    {"bypass", 90, 70, 3, 8, "-M 1", false, false},
    {"resetCtx", 90, 70, 1, 8, "-M 2", false, false},
    {"termAll", 90, 70, 1, 8, "-M 4", false, false},
    {"vsc", 90, 70, 1, 8, "-M 8", false, false},
    {"pterm", 90, 70, 1, 8, "-M 16", false, false},
    {"segsym", 90, 70, 1, 8, "-M 32", false, false},
    {"allStyles", 90, 70, 3, 8, "-M 63", false, false},
    {"allStyles97", 90, 70, 3, 8, "-M 63 -I -r 5", true, false},
    {"sopEph", 90, 70, 3, 8, "-SOP -EPH -r 10,1", false, false},
    {"tilePartsR", 120, 80, 3, 8, "-t 64,64 -TP R", false, false},
    {"tilePartsL", 120, 80, 3, 8, "-t 64,64 -TP L -r 20,1", false, false},
    {"tilePartsC", 120, 80, 3, 8, "-TP C", false, false},
    {"pltTlm", 120, 80, 3, 8, "-PLT -TLM -t 64,64", false, false},
    {"roi", 90, 70, 3, 8, "-ROI c=0,U=10", false, false},
    {"roi97", 90, 70, 1, 8, "-ROI c=0,U=12 -I -r 4", true, false},
    // The bands' most planes with the shift pass 31 bits; the blocks coded stay within them.
    {"roi16", 64, 48, 1, 16, "-ROI c=0,U=12", false, false},
    {"poc", 96, 64, 3, 8, "-POC T1=0,0,1,4,3,LRCP/T1=0,0,1,6,3,RPCL -r 4,1", false, false},
    {"noMct", 64, 64, 3, 8, "-mct 0", false, false},
    {"subsampled", 64, 64, 1, 8, "-s 2,2", false, false},
    {"jp2Rgb", 80, 60, 3, 8, "", false, true},
    {"jp2Grey16", 80, 60, 1, 16, "", false, true},
};

class PeerTest : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerTest, MatchesOpjDecompress) {
    if (!testutil::haveTool("opj_compress") || !testutil::haveTool("opj_decompress"))
        GTEST_SKIP() << "opj_compress/opj_decompress not installed";
    const PeerCase& c = GetParam();
    testutil::TempDir dir;
    Samples src = makePicture(c.w, c.h, c.comps, c.bits, 7);
    if (c.noise) {
        std::vector<unsigned char> r = testutil::randomBytes(src.v.size() * 2, 11);
        for (size_t i = 0; i < src.v.size(); i++) src.v[i] = (r[2 * i] << 8 | r[2 * i + 1]) & ((1 << c.bits) - 1);
    }
    if (c.dark)
        for (int& v : src.v) v /= 2;
    std::string in = dir.file(c.comps == 1 ? "src.pgm" : "src.ppm");
    ASSERT_TRUE(writePnm(in, src, c.bits));
    std::string cs = dir.file(c.jp2 ? "a.jp2" : "a.j2k");
    std::vector<std::string> argv = {"opj_compress", "-i", in, "-o", cs};
    std::string extra = c.args;
    for (size_t p = 0; p < extra.size();) {
        size_t q = extra.find(' ', p);
        if (q == std::string::npos) q = extra.size();
        if (q > p) argv.push_back(extra.substr(p, q - p));
        p = q + 1;
    }
    ASSERT_EQ(testutil::run(argv), 0) << c.args;
    std::string ref = dir.file(c.comps == 1 ? "ref.pgm" : "ref.ppm");
    ASSERT_EQ(testutil::run({"opj_decompress", "-i", cs, "-o", ref}), 0);
    Samples peer = readPnm(ref);
    ASSERT_TRUE(peer.ok);
    Samples ours = decodeOurs(testutil::readFile(cs), c.jp2);
    ASSERT_TRUE(ours.ok) << c.name;
    int d = maxDiff(ours, peer);
    EXPECT_GE(d, 0) << ours.w << "x" << ours.h << "x" << ours.comps << " vs " << peer.w << "x" << peer.h << "x"
                    << peer.comps;
    EXPECT_LE(d, c.lossy ? 1 : 0) << c.name;
    // Pictures show the high 8 bits of each sample.
    if (c.comps == 1 && !c.jp2 && !strstr(c.args, "-s")) {
        pictfmt::Rgba px = pictfmt::decodeWith<cPictJ2K>(testutil::readFile(cs));
        ASSERT_TRUE(px.ok);
        for (size_t i = 0; i < ours.v.size(); i++) ASSERT_EQ(px.px[i * 4], ours.v[i] >> (c.bits - 8)) << i;
    }
    // The 9/7 path rounds to the nearest sample, as the peer does: hardly a sample differs and
    // the mean error against the source is the peer's, centred where the coding keeps the mean
    // (truncation made half the samples one higher and lifted the dark pictures by 0.5).
    if (c.lossy) {
        double ourBias = 0, peerBias = 0;
        size_t differ = 0;
        for (size_t i = 0; i < src.v.size(); i++) {
            ourBias += ours.v[i] - src.v[i], peerBias += peer.v[i] - src.v[i];
            differ += ours.v[i] != peer.v[i];
        }
        ourBias /= (double)src.v.size(), peerBias /= (double)src.v.size();
        EXPECT_LE(differ, src.v.size() / 100);
        EXPECT_NEAR(ourBias, peerBias, 0.01);
        if (!strstr(c.args, "-r")) {
            EXPECT_NEAR(ourBias, 0, 0.05);
        }
    }
    // The reversible path gives back the source itself.
    if (!c.lossy && !strstr(c.args, "-r") && !strstr(c.args, "-s")) {
        EXPECT_EQ(maxDiff(ours, src), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, PeerTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PeerCase>& i) { return std::string(i.param.name); });

}  // namespace
