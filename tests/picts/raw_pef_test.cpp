// Pentax PEF: kit files of each sample code decode to their exact frame (through the frame
// hook) and read alike through dcraw and LibRaw; the maker note's Huffman table is checked
// against its length and code lengths; crop, balance and Ricoh tables follow the maker note;
// hostile structures and truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictdummy.h"
#include "picts/raw/pentax/pictpef.h"
#include "rawkit/pefenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> pefRamp(int w, int h, unsigned seed, int bits) {
    std::vector<uint16_t> f = noisyRamp(w, h, seed, 37, 11, 300, 1u << bits);
    // Full-range jumps exercise the longest categories.
    f[3] = (uint16_t)((1u << bits) - 1);
    f[5] = 0;
    return f;
}

struct Code {
    const char* name;
    PefSpec::eCode code;
    bool be;
    int bits;
    int w, h;
};
const Code kCodes[] = {
    {"huffman BE", PefSpec::cHuffman, true, 12, 30, 24},
    {"huffman LE", PefSpec::cHuffman, false, 12, 31, 23},
    {"packed BE", PefSpec::cPacked12, true, 12, 32, 24},
    {"packed LE", PefSpec::cPacked12, false, 12, 32, 24},
    {"plain BE", PefSpec::cPlain16, true, 16, 24, 22},
    {"plain LE", PefSpec::cPlain16, false, 16, 24, 22},
};

PefSpec specFor(const Code& c) {
    PefSpec s;
    s.code = c.code;
    s.bigEndian = c.be;
    s.bits = c.bits;
    s.width = c.w;
    s.height = c.h;
    s.frame = pefRamp(c.w, c.h, (unsigned)c.w * 7 + c.code, c.bits);
    return s;
}

bool decodes(const std::vector<unsigned char>& f, SeenFrame* seen = nullptr) { return decodeKitFile<cPictPEF>(f, seen); }

}  // namespace

TEST(RawPef, KitFramesDecodeExactlyAsThePeersReadThem) {
    testutil::TempDir dir;
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        PefSpec s = specFor(c);
        std::vector<unsigned char> f = writePef(s);
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes<cPictPEF>(f, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, s.frame);
        // Without a balance tag every multiplier is 65535 / (2^bits - 1).
        for (int i = 0; i < 4; i++) EXPECT_NEAR(seen.mul[i], 65535.0 / ((1 << c.bits) - 1), 1e-9);
        EXPECT_EQ(seen.cfa[0], 0);
        EXPECT_EQ(seen.cfa[3], 2);
        // Little-endian packed files: the peers read their bits in another order than the
        // one the format gives; no real file of this kind is known.
        if (c.code != PefSpec::cPacked12 || c.be) expectPeersReadAs(dir, f, ".pef", c.w, c.h, s.frame);
    }
}

TEST(RawPef, MakerNoteRules) {
    PefSpec base = specFor(kCodes[0]);
    struct Case {
        const char* what;
        std::vector<uint32_t> origin, size, balance;
        unsigned int m[4];
        double mul0, mul2;
    };
    const double s = 65535.0 / 4095;
    const Case cases[] = {
        {"no crop", {}, {}, {}, {0, 0, 0, 0}, s, s},
        // The origin rounds up to even columns and down to even rows.
        {"origin 5,7", {5, 7}, {}, {}, {6, 0, 6, 0}, s, s},
        {"origin and size", {2, 2}, {24, 16}, {}, {2, 4, 2, 6}, s, s},
        {"size larger than the rest", {2, 2}, {30, 24}, {}, {2, 0, 2, 0}, s, s},
        {"balance", {}, {}, {400, 200, 256, 300}, {0, 0, 0, 0}, s * 2.0, s * 1.5},
        {"balance first 0 ignored", {}, {}, {0, 200, 256, 300}, {0, 0, 0, 0}, s, s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PefSpec p = base;
        p.cropOrigin = c.origin;
        p.cropSize = c.size;
        p.balance = c.balance;
        SeenFrame seen;
        ASSERT_TRUE(decodes(writePef(p), &seen));
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.margins[i], c.m[i]) << i;
        EXPECT_NEAR(seen.mul[0], c.mul0, 1e-9);
        EXPECT_NEAR(seen.mul[2], c.mul2, 1e-9);
        EXPECT_NEAR(seen.mul[1], s, 1e-9);
    }
}

TEST(RawPef, HuffmanTableGuards) {
    PefSpec base = specFor(kCodes[0]);
    const std::vector<unsigned char> good = pefTable(true);  // depth 13: 14 + 39 = 53 bytes
    struct Case {
        const char* what;
        std::vector<unsigned char> table;
        bool ok;
    };
    std::vector<Case> cases;
    cases.push_back({"as written", good, true});
    // 14 + 2 x depth bytes reach the starts but not the lengths after them.
    cases.push_back({"lengths cut", std::vector<unsigned char>(good.begin(), good.begin() + 14 + 2 * 13 + 12), false});
    cases.push_back({"one length byte short", std::vector<unsigned char>(good.begin(), good.end() - 1), false});
    std::vector<unsigned char> shift = good;
    shift.back() = 32;
    cases.push_back({"code length 32", shift, false});
    shift.back() = 200;
    cases.push_back({"code length 200", shift, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PefSpec p = base;
        p.tableOverride = c.table;
        std::vector<unsigned char> f = writePef(p);
        cBufWrapperIO io(f.data(), (long long)f.size());
        EXPECT_EQ(cPictPEF::validFor(&io, nullptr), c.ok);
        EXPECT_EQ(decodes(f), c.ok);
    }
    // A Ricoh-made file ignores 0x220 and codes with the 0x22A table.
    PefSpec r = base;
    r.make = "RICOH IMAGING COMPANY, LTD.";
    r.tableTag = 0x22A;
    r.extraTable220 = true;
    SeenFrame seen;
    ASSERT_TRUE(decodes(writePef(r), &seen));
    EXPECT_EQ(seen.samples, r.frame);
    r.tableTag = 0x220;
    EXPECT_FALSE(decodes(writePef(r)));  // no table it reads
}

TEST(RawPef, HostileStructuresFailCleanly) {
    PefSpec s = specFor(kCodes[0]);
    decodeEachCut<cPictPEF>(writePef(s), 3, 0);
    struct Case {
        const char* what;
        PefSpec spec;
    };
    std::vector<Case> cases;
    PefSpec p = s;
    p.cfaTag = false;
    cases.push_back({"no CFA pattern", p});
    p = s;
    p.make = "Pentagon";
    cases.push_back({"other make", p});
    p = s;
    p.bits = 10;  // samples above 2^10 - 1 are out of range
    cases.push_back({"sample above the bit depth", p});
    p = s;
    p.code = PefSpec::cPacked12;
    p.bits = 14;
    cases.push_back({"packed 14-bit", p});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(decodes(writePef(c.spec)));
    }
    // A strip shorter than a bit a sample is refused before the frame is allocated.
    p = s;
    p.width = 4000;
    p.height = 3000;
    p.frame.assign(4, 0);
    p.code = PefSpec::cPacked12;
    EXPECT_FALSE(decodes(writePef(p)));
}

TEST(RawPef, Preview) {
    PefSpec s = specFor(kCodes[0]);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    expectKitFilePreview<cPictPEF>(writePef(s));
    std::vector<unsigned char> g = writePef(specFor(kCodes[0]));
    cBufWrapperIO io(g.data(), (long long)g.size());
    cPictPEF d;
    cPictDummy t;
    EXPECT_FALSE(d.getPreview(&io, &t, nullptr, nullptr));
}
