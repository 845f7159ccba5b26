// Nikon NEF: kit files of each sample code decode to their exact frame (through the frame
// hook) and read alike through dcraw and LibRaw; the linearization record is read only within
// its length; strips must cover the frame; model rules and balance records; the real sample's
// structure; hostile structures and truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/memio.h"
#include "picts/raw/nikon/pictnef.h"
#include "rawkit/nefenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> nefRamp(int w, int h, unsigned seed, unsigned top) {
    std::vector<uint16_t> f = noisyRamp(w, h, seed, 41, 13, 500, top);
    f[4] = (uint16_t)(top - 1);
    f[6] = 0;
    return f;
}

struct Case {
    const char* name;
    NefSpec::eCode code;
    bool be;
    int bits;
    int w, h;
    int rowsPerStrip, splitRow;
    const char* model;
    // A file both peers read alike. They read the chunked packing and the two big-endian
    // packings otherwise than the maker note's compression says (rows after the first of a
    // chunked strip, for one).
    bool peers;
};
const Case kCases[] = {
    {"lossless 12 BE", NefSpec::cHuffLossless, true, 12, 32, 24, 0, 0, "NIKON KIT", true},
    {"lossless 14 LE", NefSpec::cHuffLossless, false, 14, 30, 24, 0, 0, "NIKON KIT", true},
    {"lossy 12", NefSpec::cHuffLossy, true, 12, 32, 24, 0, 0, "NIKON KIT", true},
    {"lossy 14", NefSpec::cHuffLossy, true, 14, 32, 24, 0, 0, "NIKON KIT", true},
    {"lossy 12 split", NefSpec::cHuffLossy, true, 12, 32, 24, 0, 10, "NIKON KIT", true},
    {"packed 12 BE strips", NefSpec::cPacked, true, 12, 32, 24, 5, 0, "NIKON KIT", true},
    {"packed 12 LE", NefSpec::cPacked, false, 12, 32, 24, 0, 0, "NIKON KIT", true},
    {"chunked 12", NefSpec::cChunked, true, 12, 32, 24, 0, 0, "NIKON KIT", false},
    {"16-bit words D5", NefSpec::cWords16, true, 14, 32, 24, 0, 0, "NIKON D5", true},
    {"bpack", NefSpec::cBPack, true, 12, 32, 24, 0, 0, "NIKON KIT", false},
    {"bpack type 2", NefSpec::cBPackTp2, true, 12, 32, 24, 0, 0, "NIKON KIT", false},
};

NefSpec specFor(const Case& c) {
    NefSpec s;
    s.code = c.code;
    s.bigEndian = c.be;
    s.bits = c.bits;
    s.width = c.w;
    s.height = c.h;
    s.rowsPerStrip = c.rowsPerStrip;
    s.splitRow = c.splitRow;
    s.model = c.model;
    s.frame = nefRamp(c.w, c.h, (unsigned)c.w + c.code * 5 + c.bits, 1u << c.bits);
    return s;
}

bool decodes(const std::vector<unsigned char>& f, SeenFrame* seen = nullptr) { return decodeKitFile<cPictNEF>(f, seen); }

}  // namespace

TEST(RawNef, KitFramesDecodeExactlyAsThePeersReadThem) {
    testutil::TempDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        NefSpec s = specFor(c);
        std::vector<uint16_t> coded;
        std::vector<unsigned char> f = writeNef(s, &coded);
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes<cPictNEF>(f, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, coded);
        EXPECT_EQ(seen.cfa[0], 2);
        EXPECT_EQ(seen.cfa[3], 0);
        if (c.peers) expectPeersReadAs(dir, f, ".nef", c.w, c.h, coded);
    }
}

TEST(RawNef, LinearizationReadWithinItsLength) {
    NefSpec lossy = specFor(kCases[2]);
    const std::vector<unsigned char> full = nefLinearization(lossy);
    auto cut = [&](size_t n) { return std::vector<unsigned char>(full.begin(), full.begin() + n); };
    // A record with its own 300-value curve ("X" records are read as a value list).
    std::vector<unsigned char> list = {'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x2C};
    for (int i = 0; i < 300; i++) {
        list.push_back((unsigned char)((i * 3) >> 8));
        list.push_back((unsigned char)(i * 3));
    }
    struct LinCase {
        const char* what;
        NefSpec::eCode code;
        int split;
        std::vector<unsigned char> record;
        bool ok;
    };
    const LinCase cases[] = {
        {"whole record", NefSpec::cHuffLossy, 0, full, true},
        {"points cut", NefSpec::cHuffLossy, 0, cut(12 + 2 * 100), false},
        {"last point cut", NefSpec::cHuffLossy, 0, cut(12 + 2 * 256 + 1), false},
        {"all points, no split field", NefSpec::cHuffLossy, 0, cut(12 + 2 * 257), true},
        // Compression 4 reads the split row at byte 562.
        {"split row beyond the record", NefSpec::cHuffLossy, 10, cut(12 + 2 * 257), false},
        {"no predictors", NefSpec::cHuffLossless, 0, {'F', 0, 0, 0, 0}, false},
    };
    for (const LinCase& c : cases) {
        SCOPED_TRACE(c.what);
        NefSpec s = lossy;
        s.code = c.code;
        s.splitRow = c.split;
        s.linearizationOverride = c.record;
        std::vector<unsigned char> f = writeNef(s);
        EXPECT_EQ(decodes(f), c.ok);
    }
    _typebuf<unsigned char> rec;
    _typebuf<unsigned short> curve;
    ASSERT_TRUE(rec.set(list.data(), (long long)list.size()));
    ASSERT_TRUE(cPictNEF::getCurveTblFromLinearizationData(rec, true, curve, 12));
    ASSERT_EQ(curve.count, 300);
    EXPECT_EQ(curve.ptr[299], 897);
    ASSERT_TRUE(rec.set(list.data(), (long long)list.size() - 1));
    EXPECT_FALSE(cPictNEF::getCurveTblFromLinearizationData(rec, true, curve, 12));
    ASSERT_TRUE(rec.set(list.data(), 11));
    EXPECT_FALSE(cPictNEF::getCurveTblFromLinearizationData(rec, true, curve, 12));
}

TEST(RawNef, StripsMustCoverTheFrame) {
    NefSpec s = specFor(kCases[5]);  // packed, strips of 5 rows
    struct StripCase {
        const char* what;
        int rowsPerStrip, keep;
        bool ok;
    };
    const StripCase cases[] = {
        {"all strips", 5, 0, true},
        {"one strip of all rows", 24, 0, true},
        {"single strip of half the rows", 12, 1, false},
        {"last strip missing", 5, 4, false},
    };
    for (const StripCase& c : cases) {
        SCOPED_TRACE(c.what);
        NefSpec p = s;
        p.rowsPerStrip = c.rowsPerStrip;
        p.keepStrips = c.keep;
        SeenFrame seen;
        EXPECT_EQ(decodes(writeNef(p), &seen), c.ok);
        if (c.ok) {
            EXPECT_EQ(seen.samples, p.frame);
        }
    }
}

TEST(RawNef, ModelRulesAndBalance) {
    struct ModelCase {
        const char* model;
        unsigned int index, black;
        unsigned int right;
        const char* make = "NIKON CORPORATION";
        const char* note = "Nikon";
        bool claimed = true;
    };
    // The maker's words compare by ASCII, in any locale: a dotless i (0xFD in ISO-8859-9,
    // which a Turkish locale pairs with 'I') is no 'I'.
    const ModelCase models[] = {
        {"COOLPIX P7800", 68, 200, 0}, {"coolpix p7700", 68, 200, 0}, {"NIKON D70", 44, 0, 1},
        {"NIKON D850", 55, 450, 0},    {"NIKON D1", 0x7fffff, 0, 0},  {"NIKON D1 ", 11, 0, 0},
        {"Nikon D70", 44, 0, 1, "Nikon Corporation", "NIKON"},
        {"COOLP\xFDX P7700", 0x7fffff, 0, 0},
        {"NIKON D70", 44, 0, 1, "N\xFDKON CORPORATION", "Nikon", false},
        {"NIKON D70", 44, 0, 1, "NIKON", "N\xFDKON", false},
    };
    testutil::forEachCtype([&] {
        for (const ModelCase& m : models) {
            SCOPED_TRACE(std::string(m.make) + ", " + m.model + ", note " + m.note);
            EXPECT_EQ(cPictNEF::getModel(m.model), m.index);
            NefSpec s = specFor(kCases[5]);
            s.make = m.make;
            s.model = m.model;
            s.noteMagic = m.note;
            s.frame = nefRamp(32, 24, 3, 4096);
            for (uint16_t& v : s.frame) v = (uint16_t)(v < 500 ? v + 500 : v);  // above every black level
            const std::vector<unsigned char> f = writeNef(s);
            cBufWrapperIO io(f.data(), (long long)f.size());
            EXPECT_EQ(cPictNEF::validFor(&io, nullptr), m.claimed);
            SeenFrame seen;
            EXPECT_EQ(decodes(f, &seen), m.claimed);
            if (!m.claimed) continue;
            EXPECT_EQ(seen.black, m.black);
            EXPECT_EQ(seen.margins[1], m.right);
        }
    });
    // Balance records: slot orders by version, the minimum taken from entry 0 on.
    auto record = [](const char* version, size_t size, size_t at, std::vector<uint16_t> v) {
        std::vector<unsigned char> r(size, 0);
        for (int i = 0; i < 4; i++) r[i] = (unsigned char)version[i];
        for (size_t i = 0; i < v.size(); i++) {
            r[at + 2 * i] = (unsigned char)(v[i] >> 8);
            r[at + 2 * i + 1] = (unsigned char)v[i];
        }
        return r;
    };
    const double k = 65535.0 / 4095;
    struct BalCase {
        const char* what;
        std::vector<unsigned char> rec;
        double mul[4];
    };
    const BalCase bals[] = {
        {"0103", record("0103", 28, 20, {768, 256, 512, 256}), {3 * k, k, 2 * k, k}},
        {"0100 order 0 2 1 3", record("0100", 80, 72, {768, 512, 256, 256}), {3 * k, k, 2 * k, k}},
        {"0102 order 0 1 3 2", record("0102", 34, 10, {768, 256, 256, 512}), {3 * k, k, 2 * k, k}},
        {"0500 order 1 0 2 3", record("0500", 12, 4, {256, 768, 512, 256}), {3 * k, k, 2 * k, k}},
        {"0102 short: model default", record("0102", 33, 10, {768, 256, 256, 512}), {2 * k, k, 1.5 * k, k}},
        {"encrypted: model default", record("0204", 400, 0, {}), {2 * k, k, 1.5 * k, k}},
        {"entry 0 zero", record("0103", 28, 20, {0, 512, 256, 256}), {k, k, k, k}},
    };
    for (const BalCase& b : bals) {
        SCOPED_TRACE(b.what);
        NefSpec s = specFor(kCases[5]);
        s.balance = b.rec;
        SeenFrame seen;
        ASSERT_TRUE(decodes(writeNef(s), &seen));
        for (int i = 0; i < 4; i++) EXPECT_NEAR(seen.mul[i], b.mul[i], 1e-9) << i;
    }
    // Non-square pixels: the D1X picture is stretched after its crop.
    NefSpec s = specFor(kCases[5]);
    s.model = "NIKON D1X";
    std::vector<unsigned char> f = writeNef(s);
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictNEF d;
    ASSERT_TRUE(d.decode(&io));
    EXPECT_EQ(d.width(), (long long)(28 * 0.7475149105367793));
    EXPECT_EQ(d.height(), (long long)(24 * 1.48036253776435));
}

TEST(RawNef, HostileStructuresFailCleanly) {
    NefSpec s = specFor(kCases[0]);
    const std::vector<unsigned char> good = writeNef(s);
    decodeEachCut<cPictNEF>(good, 2, 0);
    NefSpec v = s;
    v.makerVersion = 3;
    std::vector<unsigned char> f = writeNef(v);
    cBufWrapperIO io(f.data(), (long long)f.size());
    EXPECT_FALSE(cPictNEF::validFor(&io, nullptr));
    EXPECT_FALSE(decodes(f));
    // The headerless maker note: read by decode, not by the probe.
    NefSpec bare = specFor(kCases[5]);
    bare.makerVersion = 0;
    std::vector<unsigned char> b = writeNef(bare);
    cBufWrapperIO bio(b.data(), (long long)b.size());
    EXPECT_FALSE(cPictNEF::validFor(&bio, nullptr));
    SeenFrame seen;
    ASSERT_TRUE(decodes(b, &seen));
    EXPECT_EQ(seen.samples, bare.frame);
    // The EXIF pointer aimed back at IFD0: the nested walk is cycle-checked and bounded.
    std::vector<unsigned char> loop = good;
    for (size_t i = 8; i + 12 <= loop.size(); i++)
        if (loop[i] == 0x87 && loop[i + 1] == 0x69 && loop[i + 2] == 0 && (loop[i + 3] == 4 || loop[i + 3] == 13)) {
            loop[i + 8] = 0;
            loop[i + 9] = 0;
            loop[i + 10] = 0;
            loop[i + 11] = 8;
            break;
        }
    cBufWrapperIO lio(loop.data(), (long long)loop.size());
    EXPECT_FALSE(cPictNEF::validFor(&lio, nullptr));
}

TEST(RawNef, Preview) {
    NefSpec s = specFor(kCases[0]);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    std::vector<uint16_t> coded;
    std::vector<unsigned char> f = writeNef(s, &coded);
    expectKitFilePreview<cPictNEF>(f);
    SeenFrame seen;
    ASSERT_TRUE(decodes(f, &seen));  // the raw is the second of two sub-directories
    EXPECT_EQ(seen.samples, coded);
}

// Probe, size and refusal are checked with the other real samples.
TEST(RawNef, RealSampleStructure) {
    std::vector<unsigned char> f = sharedRawOrSkip("Nikon.nef");
    if (f.empty()) return;
    // dcraw -i -v: "Camera: Nikon D70", "Full size: 3040 x 2014", "Image size: 3039 x 2014".
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictNEF d;
    EXPECT_FALSE(d.decode(&io));  // the sensor data is cut out of the sample
    EXPECT_EQ(d.modelIndex(), 44u);
    sMarginInfo m;
    ASSERT_TRUE(d.getCropInfo(m));
    EXPECT_EQ(3040 - (int)m.left - (int)m.right, 3039);
}


TEST(RawNef, OrdinaryTiffStripsDecodeAsTheirImage) {
    // 8-bit strips, uncompressed or PackBits: the picture is the grey image they hold, no
    // raw pipeline (no frame shown to the hook), whatever the strip layout.
    struct Plain {
        const char* name;
        NefSpec::eCode code;
        bool be;
        int rowsPerStrip;
        unsigned char makerVersion;  // 0: headerless (decoded, not claimed by the probe)
    };
    const Plain kPlain[] = {
        {"8-bit", NefSpec::cPlain8, true, 0, 2},
        {"8-bit, little-endian, strips of 5 rows", NefSpec::cPlain8, false, 5, 2},
        {"PackBits", NefSpec::cPackBits8, true, 7, 2},
        {"8-bit, headerless maker note", NefSpec::cPlain8, false, 0, 0},
    };
    for (const Plain& c : kPlain) {
        SCOPED_TRACE(c.name);
        NefSpec s;
        s.code = c.code;
        s.bigEndian = c.be;
        s.bits = 8;
        s.width = 150;  // PackBits: more than one run a row
        s.height = 20;
        s.rowsPerStrip = c.rowsPerStrip;
        s.makerVersion = c.makerVersion;
        s.frame = nefRamp(s.width, s.height, 11, 256);
        const std::vector<unsigned char> f = writeNef(s);
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_EQ(cPictNEF::validFor(&io, nullptr), c.makerVersion != 0);
        cPictNEF d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(seen.calls, 0);
        ASSERT_EQ(d.width(), s.width);
        ASSERT_EQ(d.height(), s.height);
        _typebuf<unsigned int> px;
        ASSERT_TRUE(d.getColorData(px));
        ASSERT_EQ(px.count, (long long)s.frame.size());
        int wrong = 0;
        for (int y = 0; y < s.height; y++)
            for (int x = 0; x < s.width; x++) {
                const unsigned v = s.frame[(size_t)y * s.width + x];
                // Rows bottom-up.
                wrong += px.ptr[(size_t)(s.height - 1 - y) * s.width + x] != (0xFF000000u | v * 0x10101u);
            }
        EXPECT_EQ(wrong, 0);
        // Strips that do not cover the image fail.
        NefSpec cut = s;
        cut.rowsPerStrip = 5;
        cut.keepStrips = 2;
        const std::vector<unsigned char> g = writeNef(cut);
        cBufWrapperIO gio(g.data(), (long long)g.size());
        cPictNEF e;
        EXPECT_FALSE(e.decode(&gio));
    }
}
