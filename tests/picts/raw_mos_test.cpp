// Leaf MOS: kit files (16-bit strips and tiles, lossless-JPEG strips in order or from both
// ends, ZIP-wrapped) decode to their exact frame (through the frame hook); the packet tree's
// rules (rotation, mosaic pattern, capture profile); packet lengths and nesting bounded;
// truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/leaf/pictmos.h"
#include "rawkit/mosenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> mosRamp(int w, int h, unsigned seed) { return noisyRamp(w, h, seed, 211, 97, 3000, 65536); }

// No peer reads the kit's files: dcraw refuses them (it recognises the backs by packets the
// kit does not write) and LibRaw reads their samples shifted right by two.
struct Case {
    const char* name;
    MosSpec::eCode code;
    bool be, interleaved;
    int rowsPerStrip;
    MosSpec::eZip zip;
    int w, h;
};
const Case kCases[] = {
    {"plain BE", MosSpec::cPlain16, true, false, 0, MosSpec::zNone, 32, 24},
    {"plain LE strips", MosSpec::cPlain16, false, false, 7, MosSpec::zNone, 32, 24},
    {"tiles", MosSpec::cTiles16, true, false, 0, MosSpec::zNone, 40, 24},
    {"ljpeg", MosSpec::cLjpeg, true, false, 0, MosSpec::zNone, 32, 24},
    {"ljpeg rows from both ends", MosSpec::cLjpeg, true, true, 0, MosSpec::zNone, 32, 24},
    {"zip stored", MosSpec::cPlain16, true, false, 0, MosSpec::zStored, 32, 24},
};

MosSpec specFor(const Case& c) {
    MosSpec s;
    s.code = c.code;
    s.bigEndian = c.be;
    s.interleavedRows = c.interleaved;
    s.rowsPerStrip = c.rowsPerStrip;
    s.zip = c.zip;
    s.width = c.w;
    s.height = c.h;
    s.frame = mosRamp(c.w, c.h, (unsigned)c.w * 3 + c.code);
    return s;
}

bool decodes(const std::vector<unsigned char>& f, SeenFrame* seen = nullptr) { return decodeKitFile<cPictMOS>(f, seen); }

}  // namespace

TEST(RawMos, KitFramesDecodeExactly) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        MosSpec s = specFor(c);
        std::vector<unsigned char> f = writeMos(s);
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes<cPictMOS>(f, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, s.frame);
        EXPECT_NEAR(seen.mul[0], 1.1, 1e-12);
        EXPECT_NEAR(seen.mul[2], 1.33, 1e-12);
    }
}

TEST(RawMos, PacketRules) {
    struct Rule {
        const char* rotation;
        const char* mosaic;
        int cfa[4];  // colours of (0,0), (1,0), (0,1), (1,1)
    };
    const Rule rules[] = {
        {"0", "00000000", {0, 1, 1, 2}},  {"0", "00100000", {1, 0, 2, 1}}, {"0", "00001000", {1, 2, 0, 1}},
        {"0", "00000010", {2, 1, 1, 0}},  {"90", "00000000", {1, 0, 2, 1}},
        {"45", "00000000", {0, 1, 1, 2}},  // not a multiple of 90: 0
        {"270", "00001000", {2, 1, 1, 0}},  // (3 + 3) mod 4 = 2
    };
    for (const Rule& r : rules) {
        SCOPED_TRACE(testing::Message() << r.rotation << " " << r.mosaic);
        MosSpec s = specFor(kCases[0]);
        s.rotation = r.rotation;
        s.mosaic = r.mosaic;
        SeenFrame seen;
        ASSERT_TRUE(decodes(writeMos(s), &seen));
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.cfa[i], r.cfa[i]) << i;
    }
    // Without the capture profile the file is not a MOS; a deflated ZIP member is not read.
    MosSpec s = specFor(kCases[0]);
    s.captureProfile = false;
    std::vector<unsigned char> f = writeMos(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    EXPECT_FALSE(cPictMOS::validFor(&io, nullptr));
    s = specFor(kCases[0]);
    s.zip = MosSpec::zDeflated;
    f = writeMos(s);
    cBufWrapperIO io2(f.data(), (long long)f.size());
    EXPECT_FALSE(cPictMOS::validFor(&io2, nullptr));
}

TEST(RawMos, PacketWalkBounded) {
    cPictMOS m;
    auto text = [](const char* t) { return std::vector<unsigned char>(t, t + strlen(t)); };
    // Capture profiles nested n deep inside one another.
    bool be = false;  // a fresh decoder reads little-endian
    auto nested = [&](int n) {
        std::vector<unsigned char> p = mosPacket("CaptProf_mosaic_pattern", text("00000000"), be);
        for (int i = 0; i < n; i++) p = mosPacket("CamProf_capture_profile", p, be);
        return p;
    };
    struct Walk {
        const char* what;
        std::vector<unsigned char> data;
        bool ok;
    };
    std::vector<Walk> walks = {
        {"one level", nested(1), true},
        {"at the bound", nested(cPictMOS::kMaxPacketDepth), true},
        {"past the bound", nested(cPictMOS::kMaxPacketDepth + 1), false},
        {"very deep", nested(300), false},
        {"short tail ignored", text("PKTS"), true},
    };
    std::vector<unsigned char> longer = mosPacket("Rows_data", {0, 0, 0, 1}, false);
    longer[48] = 5;  // one byte more than remains
    walks.push_back({"length beyond the data", longer, false});
    std::vector<unsigned char> magic = mosPacket("Rows_data", {0, 0, 0, 1}, false);
    magic[0] = 'Q';
    walks.push_back({"bad magic", magic, false});
    walks.push_back({"rows data short", mosPacket("Rows_data", {0, 0, 1}, false), false});
    walks.push_back({"mosaic of 7", mosPacket("CaptProf_mosaic_pattern", text("0000000"), false), false});
    for (const Walk& w : walks) {
        SCOPED_TRACE(w.what);
        EXPECT_EQ(m.processLeafData(w.data.data(), (long long)w.data.size()), w.ok);
    }
    // The same through a file: a packet tree too deep refuses the file.
    MosSpec s = specFor(kCases[0]);
    be = s.bigEndian;
    s.packetsOverride = nested(50);
    std::vector<unsigned char> f = writeMos(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    EXPECT_FALSE(cPictMOS::validFor(&io, nullptr));
}

TEST(RawMos, TruncationsAndPreview) {
    decodeEachCut<cPictMOS>(writeMos(specFor(kCases[3])), 3, 0);
    MosSpec s = specFor(kCases[5]);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    std::vector<unsigned char> f = writeMos(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictBase::sPictInfo info;
    ASSERT_TRUE(cPictMOS::validFor(&io, &info));
    EXPECT_TRUE(info.hasPreview);
    cPictMOS d;
    cPictDummy small;
    long long mw = 20, mh = 20;
    ASSERT_TRUE(d.getPreview(&io, &small, &mw, &mh));
    EXPECT_LE(small.width(), 20);
}
