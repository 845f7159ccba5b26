// cPictTIFF on hand-built files: the format's edge cases and hostile input (directory
// loops, huge dimensions, strips outside the stream, truncations, bad fax codes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/variablelengthaccess.h"
#include "pictfmt_testutil.h"
#include "testutil.h"

namespace {
typedef std::vector<unsigned char> Bytes;

struct Ent {
    unsigned tag, type;
    std::vector<unsigned long long> vals;  // RATIONAL: numerator, denominator pairs
};

struct Page {
    std::vector<Bytes> strips;
    std::vector<Ent> ents;  // StripOffsets and StripByteCounts are added unless given
    bool noByteCounts = false;
};

struct Built {
    Bytes b;
    std::vector<size_t> ifd, nextAt;  // each directory's offset and where its next offset lies
};

int typeBytes(unsigned type) { return type == 3 ? 2 : type == 4 ? 4 : type == 5 || type == 16 ? 8 : 1; }

// Classic little-endian TIFF: data first, then the directories chained in order.
Built build(const std::vector<Page>& pages) {
    Built r;
    Bytes& b = r.b;
    auto put = [&](size_t at, unsigned long long v, int n) {
        for (int i = 0; i < n; i++) b[at + i] = (unsigned char)(v >> (8 * i));
    };
    auto push = [&](unsigned long long v, int n) {
        for (int i = 0; i < n; i++) b.push_back((unsigned char)(v >> (8 * i)));
    };
    b = {'I', 'I', 42, 0, 0, 0, 0, 0};
    for (const Page& p : pages) {
        std::vector<Ent> ents = p.ents;
        Ent offs = {273, 4, {}}, counts = {279, 4, {}};
        for (const Bytes& s : p.strips) {
            offs.vals.push_back(b.size());
            counts.vals.push_back(s.size());
            b.insert(b.end(), s.begin(), s.end());
        }
        bool haveOffs = false;
        for (const Ent& e : ents) haveOffs = haveOffs || e.tag == 273;
        if (!haveOffs && !p.strips.empty()) {
            ents.push_back(offs);
            if (!p.noByteCounts) ents.push_back(counts);
        }
        std::sort(ents.begin(), ents.end(), [](const Ent& a, const Ent& c) { return a.tag < c.tag; });
        if (b.size() & 1) b.push_back(0);
        size_t ifd = b.size();
        r.ifd.push_back(ifd);
        if (r.nextAt.empty())
            put(4, ifd, 4);
        else
            put(r.nextAt.back(), ifd, 4);
        push(ents.size(), 2);
        std::vector<size_t> valueAt;
        for (const Ent& e : ents) {
            push(e.tag, 2);
            push(e.type, 2);
            push(e.type == 5 ? e.vals.size() / 2 : e.vals.size(), 4);
            valueAt.push_back(b.size());
            push(0, 4);
        }
        r.nextAt.push_back(b.size());
        push(0, 4);
        for (size_t i = 0; i < ents.size(); i++) {
            const Ent& e = ents[i];
            int es = e.type == 5 ? 4 : typeBytes(e.type);
            size_t len = e.vals.size() * es;
            size_t at = valueAt[i];
            if (len > 4) {
                put(at, b.size(), 4);
                at = b.size();
                b.resize(b.size() + len);
            }
            for (size_t k = 0; k < e.vals.size(); k++) put(at + k * es, e.vals[k], es);
        }
    }
    return r;
}

// The tags of a w x h page of spp samples of `bits` each, with its photometric interpretation.
std::vector<Ent> tags(unsigned w, unsigned h, unsigned bits, unsigned spp, unsigned photometric,
                      unsigned compression = 1) {
    return {{256, 4, {w}},           {257, 4, {h}},           {258, 3, std::vector<unsigned long long>(spp, bits)},
            {259, 3, {compression}}, {262, 3, {photometric}}, {277, 3, {spp}}};
}

std::vector<Ent> grey8(unsigned w, unsigned h, unsigned compression = 1, unsigned rps = 0) {
    std::vector<Ent> e = tags(w, h, 8, 1, 1, compression);
    if (rps) e.push_back({278, 4, {rps}});
    return e;
}

Bytes ramp(size_t n, unsigned start = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = (unsigned char)(start + i);
    return b;
}

// Offset of the entry of `tag` in the first directory.
size_t entryOf(const Built& f, unsigned tag) {
    const size_t at = f.ifd[0], n = f.b[at] | f.b[at + 1] << 8;
    for (size_t i = 0; i < n; i++)
        if ((unsigned)(f.b[at + 2 + 12 * i] | f.b[at + 3 + 12 * i] << 8) == tag) return at + 2 + 12 * i;
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

bool decodeBytes(const Bytes& b, cPictTIFF& d, int page = 0) {
    cBufWrapperIO s(b.data(), (long long)b.size());
    return d.decodePage(&s, page);
}

// Grey value of image pixel (x, y) counted from the top.
unsigned greyAt(cPictTIFF& d, long long x, long long y) {
    return d.raw8Bpp()[(d.height() - 1 - y) * d.width() + x] & 255;
}
}  // namespace

TEST(TiffHostile, RefusesDirectoryLoops) {
    Page p{{ramp(16)}, grey8(4, 4)};
    // A page whose next directory is itself.
    Built self = build({p});
    self.b[self.nextAt[0]] = (unsigned char)self.ifd[0];
    // Two pages, the second pointing back to the first.
    Built back = build({p, p});
    back.b[back.nextAt[1]] = (unsigned char)back.ifd[0];
    for (auto* c : {&self, &back}) {
        cBufWrapperIO s(c->b.data(), (long long)c->b.size());
        cPictTIFF d;
        EXPECT_EQ(d.getNumPages(&s), (int)c->ifd.size());
        EXPECT_TRUE(d.decodePage(&s, (int)c->ifd.size() - 1));
        EXPECT_FALSE(d.decodePage(&s, (int)c->ifd.size()));
        EXPECT_FALSE(d.decodePage(&s, 100));
    }
}

TEST(TiffHostile, RefusesHugeDimensionsAndStripsOutsideTheStream) {
    struct sCase {
        const char* name;
        Built file;
    };
    auto withStrip = [](std::vector<Ent> ents, Bytes strip) { return build({Page{{strip}, ents}}); };
    Built far = withStrip(grey8(4, 4), ramp(16));
    far.b[entryOf(far, 273) + 8] = 0xF0;  // StripOffsets far past the end
    far.b[entryOf(far, 273) + 11] = 0xFF;
    Built wrap = withStrip(grey8(4, 4), ramp(16));
    wrap.b[entryOf(wrap, 279) + 8] = 0xF0;  // StripByteCounts near 4 GiB: offset + count wraps in 32 bits
    wrap.b[entryOf(wrap, 279) + 11] = 0xFF;
    Page huge{{ramp(10)}, grey8(60000, 60000)};
    Page hugeDeflate{{ramp(10)}, grey8(60000, 60000, 8)};
    Page hugeFax{{ramp(10)}, grey8(60000, 60000, 4)};
    hugeFax.ents[2].vals = {1};
    Page hugeTiles{{}, grey8(60000, 60000)};
    hugeTiles.ents.push_back({322, 3, {16}});
    hugeTiles.ents.push_back({323, 3, {16}});
    hugeTiles.ents.push_back({324, 4, {8}});
    hugeTiles.ents.push_back({325, 4, {8}});
    Page manyStrips{{ramp(8), ramp(8), ramp(8), ramp(8)}, grey8(4, 6, 1, 2)};  // rows fit in 3 strips
    Page fewStrips{{ramp(8)}, grey8(4, 6, 1, 2)};                              // 3 strips needed
    Page twoNoCounts{{ramp(8), ramp(8)}, grey8(4, 4, 1, 2)};
    twoNoCounts.noByteCounts = true;
    Page shortStrip{{ramp(15)}, grey8(4, 4)};
    Page hugeCount{{ramp(16)}, grey8(4, 4)};
    hugeCount.ents.push_back({273, 4, std::vector<unsigned long long>(5000, 8)});
    Built hugeTagCount = withStrip(grey8(4, 4), ramp(16));
    // StripOffsets: 0x40000001 LONGs, whose byte length wraps to 4 in 32 bits (counts are
    // multiplied in 64 bits and checked against the stream before anything grows).
    hugeTagCount.b[entryOf(hugeTagCount, 273) + 4] = 1, hugeTagCount.b[entryOf(hugeTagCount, 273) + 7] = 0x40;
    Page zeroTile{{}, grey8(4, 4)};
    zeroTile.ents.push_back({322, 3, {0}});
    std::vector<sCase> cases = {
        {"strip offset past the end", far},
        {"offset plus count wraps", wrap},
        {"huge, uncompressed", build({huge})},
        {"huge, deflate", build({hugeDeflate})},
        {"huge, fax", build({hugeFax})},
        {"huge, one tile", build({hugeTiles})},
        {"more strips than rows", build({manyStrips})},
        {"fewer strips than rows", build({fewStrips})},
        {"two strips without byte counts", build({twoNoCounts})},
        {"uncompressed strip too short", build({shortStrip})},
        {"offsets without matching counts", build({hugeCount})},
        {"tile width 0", build({zeroTile})},
        {"tag count wraps in 32 bits", hugeTagCount},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        cPictTIFF d;
        EXPECT_FALSE(decodeBytes(c.file.b, d));
        EXPECT_EQ(d.raw8Bpp(), nullptr) << "refused before the picture was allocated";
    }
}

TEST(TiffHostile, StripLayoutRulesOfTheFormat) {
    // No RowsPerStrip and 3 strips over 10 rows: 4, 4 and 2 rows.
    Page threeStrips{{ramp(16, 0), ramp(16, 100), ramp(8, 200)}, grey8(4, 10)};
    cPictTIFF d;
    ASSERT_TRUE(decodeBytes(build({threeStrips}).b, d));
    EXPECT_EQ(greyAt(d, 0, 3), 12u);
    EXPECT_EQ(greyAt(d, 0, 4), 100u);
    EXPECT_EQ(greyAt(d, 3, 9), 207u);
    // One uncompressed strip without StripByteCounts.
    Page noCounts{{ramp(16)}, grey8(4, 4)};
    noCounts.noByteCounts = true;
    cPictTIFF e;
    ASSERT_TRUE(decodeBytes(build({noCounts}).b, e));
    EXPECT_EQ(greyAt(e, 3, 3), 15u);
}

TEST(TiffHostile, RowsOfAFailedStripStayZero) {
    // Two PackBits strips of 2 rows; the second promises a literal run it does not hold.
    Bytes good = {7, 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes bad = {0x7F, 9, 9};
    cPictTIFF d;
    EXPECT_FALSE(decodeBytes(build({Page{{good, bad}, grey8(4, 4, 32773, 2)}}).b, d));
    ASSERT_NE(d.raw8Bpp(), nullptr);
    EXPECT_EQ(greyAt(d, 0, 0), 1u);
    EXPECT_EQ(greyAt(d, 3, 1), 8u);
    for (int y = 2; y < 4; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(d.raw8Bpp()[(3 - y) * 4 + x], 0u);
}

TEST(TiffHostile, PackBitsRunsAndCaps) {
    struct sCase {
        Bytes in;
        long long expected;
        bool ok;
        Bytes out;
    };
    const std::vector<sCase> cases = {
        {{0x02, 0x41, 0x42, 0x43, 0xFE, 0x44}, 6, true, {0x41, 0x42, 0x43, 0x44, 0x44, 0x44}},
        {{0x80, 0x02, 0x41, 0x42, 0x43, 0x80, 0xFE, 0x44, 0x80}, 6, true, {0x41, 0x42, 0x43, 0x44, 0x44, 0x44}},
        {{0x02, 0x41, 0x42, 0x43, 0xFE, 0x44}, 4, false, {}},   // the run would pass the strip's bytes
        {{0x81, 0x00}, 100, false, {}},                          // a 128-byte run into 100 bytes
        {{0x05, 0x41}, 6, false, {}},                            // literal past the input
        {{0x80, 0x80}, 4, false, {}},                            // nothing made
    };
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(i);
        _typebuf<unsigned char> out;
        bool ok = cPictTIFF::makePackBitsDecompressing(cases[i].in.data(), (long long)cases[i].in.size(),
                                                       cases[i].expected, out);
        EXPECT_EQ(ok, cases[i].ok);
        if (ok) {
            EXPECT_EQ(Bytes(out.ptr, out.ptr + out.count), cases[i].out);
        }
    }
}

TEST(TiffHostile, FloatSamplesAreClampedBeforeBecomingIntegers) {
    float v[5] = {-1.0f, 2.0f, NAN, 0.5f, 1e30f};
    Bytes data((unsigned char*)v, (unsigned char*)v + sizeof v);
    std::vector<Ent> e = tags(5, 1, 32, 1, 1);
    e.push_back({339, 3, {3}});  // IEEE floating point
    cPictTIFF d;
    ASSERT_TRUE(decodeBytes(build({Page{{data}, e}}).b, d));
    ASSERT_TRUE(d.is16Bpp());
    const unsigned expect[5] = {0, 65535, 0, 32768, 65535};
    for (int x = 0; x < 5; x++) EXPECT_EQ(d.raw16Bpp()[x] & 0xFFFF, expect[x]) << x;
}

TEST(TiffHostile, ColourStageVectors) {
    struct sCase {
        const char* name;
        std::vector<Ent> ents;
        Bytes data;
        unsigned first;  // first pixel, 0xAARRGGBB
    };
    auto base = [](unsigned w, unsigned bits, unsigned spp, unsigned ph) { return tags(w, 1, bits, spp, ph); };
    std::vector<Ent> pal = base(1, 8, 1, 3);
    std::vector<unsigned long long> map(768);
    map[255] = 0x1200, map[511] = 0x3400, map[767] = 0x5600;
    pal.push_back({320, 3, map});
    const std::vector<sCase> cases = {
        {"1-bit min-is-white", base(8, 1, 1, 0), {0x80}, 0xFF000000},
        {"1-bit min-is-black", base(8, 1, 1, 1), {0x80}, 0xFFFFFFFF},
        {"4-bit 15", base(2, 4, 1, 1), {0xF0}, 0xFFFFFFFF},
        {"4-bit min-is-white 0", base(2, 4, 1, 0), {0x00}, 0xFFFFFFFF},
        {"2-bit 3", base(4, 2, 1, 1), {0xC0}, 0xFFFFFFFF},
        {"Lab white", base(1, 8, 3, 8), {255, 0, 0}, 0xFFF0FFF2},
        {"Lab white, alpha", base(1, 8, 4, 8), {255, 0, 0, 255}, 0xFFFFFFFF},
        {"palette 255", pal, {255}, 0xFF123456},
        {"grey alpha", base(1, 8, 2, 1), {200, 100}, 0x64C8C8C8},
        {"cmyk", base(1, 8, 4, 5), {0, 255, 0, 0}, 0xFFFF00FF},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        cPictTIFF d;
        ASSERT_TRUE(decodeBytes(build({Page{{c.data}, c.ents}}).b, d));
        EXPECT_EQ(d.raw8Bpp()[0], c.first);
    }
    // A palette index beyond the map fails.
    std::vector<Ent> small = base(1, 8, 1, 3);
    small.push_back({320, 3, std::vector<unsigned long long>(6, 0)});
    cPictTIFF d;
    EXPECT_FALSE(decodeBytes(build({Page{{{2}}, small}}).b, d));
}

// Every width at every bit offset against a plain bit-by-bit read: the whole-byte path
// must drop exactly the bits before and after the field, 64-bit fields included. Predictor 2
// over packed widths reads its samples the same way: each becomes itself plus its left
// neighbour modulo 2^bits.
TEST(TiffHostile, SampleFieldsOfEveryWidthAndOffsetReadAsBitByBit) {
    auto plain = [](const unsigned char* row, long long bit, int bits) {
        unsigned long long v = 0;
        for (long long b = bit; b < bit + bits; b++) v = v << 1 | ((row[b >> 3] >> (7 - (b & 7))) & 1);
        return v;
    };
    unsigned char row[17];
    for (int i = 0; i < 17; i++) row[i] = (unsigned char)(0x9D * (i + 1) ^ (i << 4));
    for (int bits = 1; bits <= 64; bits++)
        for (long long bit = 0; bit < 8; bit++)
            ASSERT_EQ(cVariableLengthAccess::getValue(row, bit, bits), plain(row, bit, bits))
                << bits << " bits at " << bit;
    for (int bits : {2, 4, 12, 20}) {
        const long long width = 5, samples = 2, rowBytes = (width * samples * bits + 7) / 8;
        Bytes data(2 * rowBytes);
        for (size_t i = 0; i < data.size(); i++) data[i] = (unsigned char)(0x5B * i + 7);
        Bytes want = data;
        ASSERT_TRUE(cPictTIFF::makeHorzUndifferencing(data.data(), (long long)data.size(), width, (int)samples, bits,
                                                      true));
        for (long long r = 0; r < 2; r++) {
            unsigned long long sum[2] = {};
            for (long long j = 0; j < width * samples; j++) {
                sum[j % 2] = (sum[j % 2] + plain(want.data() + r * rowBytes, j * bits, bits)) & ((1ULL << bits) - 1);
                EXPECT_EQ(plain(data.data() + r * rowBytes, j * bits, bits), sum[j % 2]) << bits << " bits, " << j;
            }
        }
    }
}

TEST(TiffHostile, UncompressedYCbCrBecomesRGB) {
    // 4 x 2 pixels in 2 x 2 units: four Y samples, then Cb and Cr; neutral chroma gives grey.
    std::vector<Ent> e = tags(4, 2, 8, 3, 6);
    e.push_back({530, 3, {2, 2}});
    Bytes data = {10, 20, 30, 40, 128, 128, 50, 60, 70, 80, 128, 128};
    cPictTIFF d;
    ASSERT_TRUE(decodeBytes(build({Page{{data}, e}}).b, d));
    EXPECT_EQ(d.raw8Bpp()[4], 0xFF0A0A0Au);  // (0, 0): top row is stored last
    EXPECT_EQ(d.raw8Bpp()[7], 0xFF3C3C3Cu);  // (3, 0)
    EXPECT_EQ(d.raw8Bpp()[1], 0xFF282828u);  // (1, 1): the unit's fourth Y
}

TEST(TiffHostile, FaxCodesNeverWriteOutsideTheRow) {
    auto fax = [](unsigned w, unsigned h, unsigned compression, Bytes data, unsigned t4 = 0) {
        std::vector<Ent> e = tags(w, h, 1, 1, 0, compression);
        if (t4) e.push_back({292, 4, {t4}});
        return build({Page{{data}, e}}).b;
    };
    struct sCase {
        const char* name;
        Bytes file;
        bool ok;
    };
    const std::vector<sCase> cases = {
        {"VR3 past the end of a 2-pixel row", fax(2, 1, 4, {0x06, 0x00}), false},
        {"VL3 before the start of the row", fax(2, 1, 4, {0x04, 0x00}), false},
        {"V0 rows", fax(8, 2, 4, {0xC0}), true},
        {"pass to the end of the row", fax(3, 1, 4, {0x10, 0x00}), true},
        {"horizontal runs longer than the row", fax(4, 1, 4, {0x23, 0x0B, 0xA0, 0x00}), true},
        {"data ends before the last row", fax(8, 9, 4, {0xC0}), false},
        // EOL, white 0, black 5, white 3 (T.4 1D): five black pixels, then white.
        {"1D row with EOL", fax(8, 1, 3, {0x00, 0x13, 0x53, 0x80}), true},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.name);
        cPictTIFF d;
        EXPECT_EQ(decodeBytes(c.file, d), c.ok);
    }
    cPictTIFF d;
    ASSERT_TRUE(decodeBytes(cases.back().file, d));
    for (int x = 0; x < 8; x++) EXPECT_EQ(greyAt(d, x, 0), x < 5 ? 0u : 255u) << x;
}

TEST(TiffHostile, SurvivesTruncationAndByteFlips) {
    if (!testutil::haveTool("convert") || !testutil::haveTool("tiffcp")) GTEST_SKIP() << "convert or tiffcp missing";
    testutil::TempDir t;
    ASSERT_TRUE(testutil::run({"convert", "-seed", "3", "-size", "23x17", "plasma:fractal", "-depth", "8",
                               t.file("a.tif")}) == 0);
    ASSERT_TRUE(testutil::run({"convert", t.file("a.tif"), "-colorspace", "gray", "-threshold", "50%", "-depth", "1",
                               "-compress", "none", t.file("bw.tif")}) == 0);
    const std::vector<std::vector<std::string>> makes = {
        {"tiffcp", "-c", "lzw:2", "-r", "5", t.file("a.tif"), t.file("o.tif")},
        {"tiffcp", "-c", "jpeg", "-t", "-w", "16", "-l", "16", t.file("a.tif"), t.file("o.tif")},
        {"tiffcp", "-c", "zip", "-p", "separate", t.file("a.tif"), t.file("o.tif")},
        {"tiffcp", "-c", "g4", t.file("bw.tif"), t.file("o.tif")},
        {"tiffcp", "-c", "g3:2d", t.file("bw.tif"), t.file("o.tif")},
        {"tiffcp", "-8", "-B", "-t", "-w", "16", "-l", "16", "-c", "packbits", t.file("a.tif"), t.file("o.tif")},
        {"convert", t.file("a.tif"), "-define", "quantum:format=floating-point", "-depth", "32", "-compress", "zip",
         "-define", "tiff:predictor=3", t.file("o.tif")},
    };
    for (size_t i = 0; i < makes.size(); i++) {
        SCOPED_TRACE(i);
        ASSERT_EQ(testutil::run(makes[i]), 0);
        pictfmt::survivesHostileCopies<cPictTIFF>(testutil::readFile(t.file("o.tif")), (unsigned)(17 + i), 600);
    }
}

// Inputs the fuzzer found, each named after its finding (also in fuzz/corpus/fuzz_tiff): every
// page is refused, and leaves no picture (a size without pixels was left before); page 1 does
// not exist.
TEST(TiffHostile, FuzzFindingsFailCleanly) {
    // A T.4 2D row with more changes than pixels (zero-length runs) left no room for the
    // reference row's sentinels.
    const Bytes faxSentinelsPastReferenceRow = {
        0x49, 0x49, 0x2a, 0x00, 0x24, 0x00, 0x00, 0x00, 0x00, 0x19, 0xae, 0xe3, 0x00, 0x15, 0x9a, 0x20,
        0x00, 0x9a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x88, 0x00, 0xa0, 0x03, 0x20, 0x00,
        0x50, 0x01, 0x90, 0x00, 0x0e, 0x00, 0x00, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0c, 0x00,
        0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x02, 0x01,
        0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x03, 0x00, 0x06, 0x00, 0x00, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x4a, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01,
        0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x15, 0x01, 0x03, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x16, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00,
        0x00, 0x00, 0x17, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x17, 0x01,
        0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x5b, 0x00, 0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x24, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x29, 0x01, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
        0x00, 0x00,
    };
    for (const Bytes* b : {&faxSentinelsPastReferenceRow}) {
        cPictTIFF d;
        cBufWrapperIO s(b->data(), (long long)b->size());
        for (int p = 0; p < 2; p++) {
            SCOPED_TRACE(p);
            EXPECT_FALSE(d.decodePage(&s, p));
            EXPECT_TRUE(d.width() == 0 && d.height() == 0 && !d.raw8Bpp() && !d.raw16Bpp());
        }
    }
}

// A Photoshop thumbnail (tag 34377, resource 0x040C) is the page's preview; the big-endian
// resource block of a little-endian file is read as Photoshop writes it.
TEST(TiffHostile, PhotoshopThumbnailIsThePreview) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert not installed";
    testutil::TempDir t;
    ASSERT_EQ(testutil::run({"convert", "-size", "16x12", "xc:red", "-quality", "95", t.file("thumb.jpg")}), 0);
    Bytes jpg = testutil::readFile(t.file("thumb.jpg"));
    Bytes res = {'8', 'B', 'I', 'M', 0x04, 0x0C, 0, 0};
    auto be32 = [&](unsigned v) {
        for (int i = 3; i >= 0; i--) res.push_back((unsigned char)(v >> (8 * i)));
    };
    be32((unsigned)jpg.size() + 28);
    be32(1), be32(16), be32(12), be32(48), be32(576), be32((unsigned)jpg.size());
    res.insert(res.end(), {0, 24, 0, 1});
    res.insert(res.end(), jpg.begin(), jpg.end());
    if (res.size() & 1) res.push_back(0);
    std::vector<Ent> e = grey8(64, 48);
    e.push_back({34377, 7, std::vector<unsigned long long>(res.begin(), res.end())});
    Bytes file = build({Page{{Bytes(64 * 48, 30)}, e}}).b;
    cBufWrapperIO s(file.data(), (long long)file.size());
    cPictTIFF d;
    cPictBase::sPictInfo info;
    ASSERT_TRUE(d.isPicture(&s, &info));
    EXPECT_TRUE(info.hasPreview);
    cPictDummy prev;
    long long mw = 100, mh = 100;
    ASSERT_TRUE(d.getPreview(&s, &prev, &mw, &mh));
    EXPECT_EQ(prev.width(), 16);
    EXPECT_EQ(prev.height(), 12);
    EXPECT_GT((prev.raw8Bpp()[0] >> 16) & 255, 240u);  // red, not the page's dark grey
    cPictDummy scaled;
    ASSERT_TRUE(d.decodePagePreview(&s, &scaled, 8, 8, 0, false, 0));
    EXPECT_EQ(scaled.width(), 8);
    EXPECT_EQ(scaled.height(), 6);
}

// A registered external target receives the decoded page (here at its own size, so the
// pixels must arrive unchanged) and the decoder keeps no copy.
TEST(TiffHostile, ExternalTargetGetsThePage) {
    Bytes px = ramp(12 * 5, 7);
    cPictTIFF d;
    Bytes file = build({Page{{px}, grey8(12, 5)}}).b;
    cPictDummy target;
    ASSERT_TRUE(target.create(12, 5, 0));
    cPictBase::sExtPictDef def(&target);
    ASSERT_TRUE(d.setExtTarget(&def));
    ASSERT_TRUE(decodeBytes(file, d));
    EXPECT_EQ(d.raw8Bpp(), nullptr);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 12; x++) {
            unsigned g = px[(size_t)(y * 12 + x)];
            EXPECT_EQ(target.raw8Bpp()[(4 - y) * 12 + x], 0xFF000000u | g * 0x10101u) << x << "," << y;
        }
}
