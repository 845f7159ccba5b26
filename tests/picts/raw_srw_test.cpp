// Samsung SRW: kit files of every sample code decode to their exact frame (through the frame
// hook); the same files read alike through dcraw and LibRaw; the codes' guards (first rows,
// rows not a multiple of 16 wide, code lengths within 0-16) hold on crafted strips; hostile
// structures and truncations fail cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/raw/samsung/pictsrw.h"
#include "rawkit/peers.h"
#include "rawkit/bitwriter.h"
#include "rawkit/srwenc.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> ramp(int w, int h, unsigned seed) { return noisyRamp(w, h, seed, 31, 17, 200, 4096); }

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

TEST(RawSrw, KitFramesDecodeExactlyAsThePeersReadThem) {
    testutil::TempDir dir;
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        SrwSpec s = specFor(c);
        std::vector<uint16_t> coded;
        std::vector<unsigned char> f = writeSrw(s, &coded);
        cPictSRW d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, f, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, coded);
        EXPECT_NEAR(seen.mul[0], 2.0, 1e-12);
        EXPECT_NEAR(seen.mul[2], 1.5, 1e-12);
        if (c.peers) expectPeersReadAs(dir, f, ".srw", c.w, c.h, coded);
    }
}

namespace {

// A raw directory over a hand-made strip (and row-offset table) of the row-indexed code.
std::vector<unsigned char> rowIndexedFile(int w, int h, const std::vector<std::vector<unsigned char>>& rows,
                                          int subIfds = 2, const char* model = "NX KIT") {
    std::vector<unsigned char> strip, table;
    for (auto& r : rows) {
        uint32_t off = (uint32_t)strip.size();
        for (int i = 0; i < 4; i++) table.push_back((unsigned char)(off >> (8 * i)));
        strip.insert(strip.end(), r.begin(), r.end());
    }
    TiffWriter t(false, false);
    int ifd0 = t.newIfd(), prev = t.newIfd(), raw = t.newIfd();
    std::vector<int> subs = {prev, raw};
    if (subIfds == 3) subs.push_back(t.newIfd());
    for (int s : subs) t.addLongs(s, 254, {1});
    t.addAscii(ifd0, 271, "SAMSUNG");
    t.addAscii(ifd0, 272, model);
    t.addIfdPointers(ifd0, 330, subs);
    t.addShorts(raw, 256, {(uint32_t)w});
    t.addShorts(raw, 257, {(uint32_t)h});
    t.addShorts(raw, 258, {12});
    t.addShorts(raw, 259, {32770});
    t.addShorts(raw, 33421, {2, 2});
    t.addBytes(raw, 33422, TiffWriter::tByte, {0, 1, 1, 2});
    t.addBlocks(raw, 273, 279, {strip});
    if (!table.empty()) t.addBlocks(raw, 40976, 40977, {table});
    return t.write(ifd0);
}

// 16-sample groups: direction, four length operations (3 = explicit length), lengths, then
// 16 zero differences of the running lengths (which start at 7 in rows 0 and 1, else 4).
std::vector<unsigned char> group(int dir, const int op[4], const int len[4], int groups = 1, int start = 7) {
    BitWriter32 bw(false);
    int cur[4] = {start, start, start, start};
    for (int g = 0; g < groups; g++) {
        bw.put((uint32_t)dir, 1);
        for (int c = 0; c < 4; c++) bw.put((uint32_t)op[c], 2);
        for (int c = 0; c < 4; c++) {
            if (op[c] == 3) {
                bw.put((uint32_t)len[c], 4);
                cur[c] = len[c];
            } else if (op[c] == 2) {
                cur[c]--;
            } else if (op[c] == 1) {
                cur[c]++;
            }
        }
        for (int c = 0; c < 16; c++) {
            int n = cur[(c >> 3) | ((c & 1) << 1)];
            if (n > 0 && n <= 32) bw.put(0, n);
        }
    }
    bw.align();
    std::vector<unsigned char> o = bw.out;
    o.resize(o.size() + 64, 0);
    return o;
}

}  // namespace

TEST(RawSrw, RowIndexedGuards) {
    const int explicit4[4] = {3, 3, 3, 3}, len4[4] = {4, 4, 4, 4};
    const int plus[4] = {1, 1, 1, 1}, minus[4] = {2, 2, 2, 2};
    const int len15[4] = {15, 15, 15, 15}, len0[4] = {0, 0, 0, 0};
    struct Case {
        const char* what;
        std::vector<std::vector<unsigned char>> rows;
        int w;
        bool ok;
    };
    const std::vector<unsigned char> plain = group(0, explicit4, len4, 2);
    const Case cases[] = {
        {"plain", {plain, plain, plain}, 32, true},
        // Vertical prediction on the first row has no row above: refused, never read before the frame.
        {"vertical on row 0", {group(1, explicit4, len4, 2), plain, plain}, 32, false},
        // Row 1: even samples may use row 0, odd ones would need row -1.
        {"vertical on row 1", {plain, group(1, explicit4, len4, 2), plain}, 32, false},
        {"vertical on row 2", {plain, plain, group(1, explicit4, len4, 2, 4)}, 32, true},
        // Running lengths leaving 0-16 (7 + 1 per group, 7 - 1 per group) are corrupt data;
        // 16 and 0 themselves are taken.
        {"length 16", {group(0, plus, len0, 9), plain, plain}, 144, true},
        {"length above 16", {group(0, plus, len0, 10), plain, plain}, 160, false},
        {"length 0", {group(0, minus, len0, 7), plain, plain}, 112, true},
        {"length below 0", {group(0, minus, len0, 8), plain, plain}, 128, false},
        {"explicit length 15", {group(0, explicit4, len15, 2), plain, plain}, 32, true},
        {"explicit length 0", {group(0, explicit4, len0, 2), plain, plain}, 32, true},
        // Width 20: the second group's last 12 samples lie past the row and are dropped.
        {"width 20", {plain, plain, plain}, 20, true},
        {"width 1", {plain, plain, plain}, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> f = rowIndexedFile(c.w, (int)c.rows.size(), c.rows);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictSRW d;
        EXPECT_EQ(d.decode(&io), c.ok);
    }
}

TEST(RawSrw, HostileStructuresFailCleanly) {
    SrwSpec s = specFor(kCodes[5]);
    uint64_t strip = 0;
    decodeEachCut<cPictSRW>(writeSrw(s, nullptr, &strip), 1, strip + 1);
    const int e[4] = {3, 3, 3, 3}, l[4] = {4, 4, 4, 4};
    const std::vector<unsigned char> row = group(0, e, l, 2);
    struct Case {
        const char* what;
        std::vector<unsigned char> file;
        bool ok;
    };
    std::vector<Case> cases;
    cases.push_back({"two sub-directories", rowIndexedFile(32, 2, {row, row}), true});
    cases.push_back({"three sub-directories", rowIndexedFile(32, 2, {row, row}, 3), false});
    cases.push_back({"no row table", rowIndexedFile(32, 2, {}), false});
    std::vector<unsigned char> f = rowIndexedFile(32, 2, {row, row});
    cases.push_back({"row offset beyond the strip", f, false});
    // The second row's offset (the table's second entry) pointed past the strip.
    {
        std::vector<unsigned char>& g = cases.back().file;
        cBufWrapperIO io(g.data(), (long long)g.size());
        cPictSRW probe;
        ASSERT_TRUE(probe.isPicture(&io, nullptr));
        // The table is the last block written: its second entry is 4 bytes from the end.
        g[g.size() - 4] = 0xFF;
        g[g.size() - 3] = 0xFF;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cBufWrapperIO io(c.file.data(), (long long)c.file.size());
        cPictSRW d;
        EXPECT_EQ(d.decode(&io), c.ok);
    }
    // 32772 samples must stay inside the bits per sample.
    SrwSpec h = specFor(kCodes[8]);
    h.bits = 8;
    f = writeSrw(h);
    cBufWrapperIO io(f.data(), (long long)f.size());
    cPictSRW d;
    EXPECT_FALSE(d.decode(&io));
}

TEST(RawSrw, ModelTableMarginsAndPreview) {
    struct Case {
        const char* model;
        unsigned m[4];  // left, right, top, bottom
        bool be;
    };
    const Case cases[] = {
        {"NX10 ", {8, 8, 8, 0}, true}, {"NX10", {0, 0, 0, 0}, false}, {"NX100 X", {8, 8, 8, 0}, true},
        {"NX300", {1, 9, 0, 20}, false}, {"NX3000 Z", {97, 32, 37, 26}, false}, {"EX1    ", {0, 6, 0, 20}, false},
        {"NX mini", {96, 25, 17, 0}, false}, {"NX min", {0, 0, 0, 0}, false},
    };
    std::vector<unsigned char> jpeg = testutil::readFile(std::string(QMX_TEST_DATA) + "/picts/jpeg/base420.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        SrwSpec s = specFor(kCodes[0]);
        s.width = 160;
        s.height = 80;
        s.frame = ramp(160, 80, 1);
        s.model = c.model;
        s.cfaInPreview = true;
        s.jpeg = jpeg;
        std::vector<unsigned char> f = writeSrw(s);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictSRW d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(seen.samples, s.frame);
        for (int i = 0; i < 4; i++) EXPECT_EQ(seen.margins[i], c.m[i]) << i;
        EXPECT_EQ(d.bigEndianPacking(), c.be);
        EXPECT_EQ(d.width(), 160 - c.m[0] - c.m[1]);
        EXPECT_EQ(d.height(), 80 - c.m[2] - c.m[3]);
        cPictDummy t;
        long long mw = 20, mh = 20;
        io.set_fp(0);
        ASSERT_TRUE(d.getPreview(&io, &t, &mw, &mh));
        EXPECT_EQ(t.width(), 20);
    }
}
