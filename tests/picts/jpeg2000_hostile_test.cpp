// JPEG 2000 codestreams with damaged or hostile headers, made from a committed fixture by
// patching single fields: each must be refused cleanly, or decoded like the original when
// the damage is one the decoder tolerates.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "jpeg2000_testutil.h"
#include "picts/jpeg2000/pictjp2.h"
#include "picts/pictparallel.h"
#include "picts/sizecheck.h"
#include "pictfmt_testutil.h"

using namespace j2ktest;

namespace {

const std::string kData = std::string(QMX_TEST_DATA) + "/picts/jpeg2000/";

typedef std::vector<unsigned char> Bytes;
const unsigned char kSot[4] = {0xFF, 0x90, 0x00, 0x0A};  // SOT and its length

unsigned be16(const Bytes& b, size_t p) { return (b[p] << 8) | b[p + 1]; }
void put16(Bytes& b, size_t p, unsigned v) {
    b[p] = (unsigned char)(v >> 8);
    b[p + 1] = (unsigned char)v;
}
void put32(Bytes& b, size_t p, unsigned v) {
    put16(b, p, v >> 16);
    put16(b, p + 2, v & 0xFFFF);
}

// SIZ fields from the marker: Xsiz +6, X0siz +14, XTsiz +22, YTsiz +26, XT0siz +30, Csiz +38,
// then Ssiz +40, XRsiz +41, YRsiz +42. COD: Scod +4, SPcod from +9 (levels, xcb, ycb, ...).
// Offset of the first marker m at or after the main header's start (segments walked by
// their lengths up to SOD), or npos.
size_t findMarker(const Bytes& b, unsigned m) {
    size_t p = 2;
    while (p + 4 <= b.size()) {
        unsigned mk = be16(b, p);
        if (mk == m) return p;
        if (mk == 0xFF93) return std::string::npos;
        p += 2 + be16(b, p + 2);
    }
    return std::string::npos;
}

Bytes insertAt(Bytes b, size_t p, const Bytes& seg) {
    b.insert(b.begin() + (long)p, seg.begin(), seg.end());
    return b;
}

struct Hostile {
    const char* name;
    bool decodes;  // tolerated: decodes like the original
    Bytes (*make)(Bytes);
};

const Hostile kHostile[] = {
    {"MarkerLengthBelowTwo", false, [](Bytes b) { put16(b, findMarker(b, 0xFF52) + 2, 1); return b; }},
    {"ZeroTileWidth", false, [](Bytes b) { put32(b, findMarker(b, 0xFF51) + 22, 0); return b; }},
    {"ZeroTileHeight", false, [](Bytes b) { put32(b, findMarker(b, 0xFF51) + 26, 0); return b; }},
    {"ZeroSubSampling", false, [](Bytes b) { b[findMarker(b, 0xFF51) + 41] = 0; return b; }},
    {"ImageOriginPastEnd", false, [](Bytes b) { put32(b, findMarker(b, 0xFF51) + 14, 40); return b; }},
    {"TileGridMissesImage", false, [](Bytes b) { put32(b, findMarker(b, 0xFF51) + 30, 5); return b; }},
    {"PrecisionAbove38", false, [](Bytes b) { b[findMarker(b, 0xFF51) + 40] = 38; return b; }},
    {"Csiz16385", false, [](Bytes b) { put16(b, findMarker(b, 0xFF51) + 38, 16385); return b; }},
    {"TileIndexBeyondGrid", false, [](Bytes b) { put16(b, findMarker(b, 0xFF90) + 4, 1); return b; }},
    {"PsotThirteen", false, [](Bytes b) { put32(b, findMarker(b, 0xFF90) + 6, 13); return b; }},
    {"CodeBlockWidthAbove10", false, [](Bytes b) { b[findMarker(b, 0xFF52) + 4 + 5 + 1] = 9; return b; }},
    {"CodeBlockAreaAbove4096", false,
     [](Bytes b) {
         size_t p = findMarker(b, 0xFF52) + 4 + 5;
         b[p + 1] = 5, b[p + 2] = 6;  // 128 x 256
         return b;
     }},
    {"PrecinctBytesMissing", false, [](Bytes b) { b[findMarker(b, 0xFF52) + 4] |= 1; return b; }},
    {"ResolutionsAbove33", false, [](Bytes b) { b[findMarker(b, 0xFF52) + 4 + 5] = 33; return b; }},
    {"RoiShiftOverflow", false,
     [](Bytes b) { return insertAt(b, findMarker(b, 0xFF5C), {0xFF, 0x5E, 0x00, 0x05, 0x00, 0x00, 40}); }},
    {"RoiComponentBeyondCsiz", false,
     [](Bytes b) { return insertAt(b, findMarker(b, 0xFF5C), {0xFF, 0x5E, 0x00, 0x05, 0x03, 0x00, 2}); }},
    {"Poc32Records", false,
     [](Bytes b) {
         Bytes seg = {0xFF, 0x5F, 0x00, (unsigned char)(2 + 32 * 7)};
         for (int i = 0; i < 32; i++) seg.insert(seg.end(), {0, 0, 0, 1, 3, 1, 0});
         return insertAt(b, findMarker(b, 0xFF5C), seg);
     }},
    {"SiblingSegmentPastEnd", false, [](Bytes b) { put16(b, findMarker(b, 0xFF64) + 2, 0xFFF0); return b; }},
    {"UnknownMarkerInTilePart", false,
     [](Bytes b) { return insertAt(b, findMarker(b, 0xFF93), {0xFF, 0x7F, 0x00, 0x04, 1, 2}); }},
    // An MCO stage naming a collection whose arrays have the wrong size.
    {"McoMatrixOfWrongSize", false,
     [](Bytes b) {
         // MCT 1: two float32 for a 1 x 1 matrix.
         Bytes seg = {0xFF, 0x74, 0x00, 0x10, 0, 0, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
         seg.insert(seg.end(), {0xFF, 0x75, 0x00, 0x13, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1});  // MCC
         seg.insert(seg.end(), {0xFF, 0x77, 0x00, 0x04, 0x01, 0x01});  // MCO
         return insertAt(b, findMarker(b, 0xFF5C), seg);
     }},
    // Tolerated damage.
    {"UnknownMarkerInMainHeader", true,
     [](Bytes b) { return insertAt(b, findMarker(b, 0xFF5C), {0xFF, 0x7F, 0x00, 0x04, 1, 2}); }},
    {"ZeroBytesInsteadOfEoc", true,
     [](Bytes b) {
         b[b.size() - 2] = 0, b[b.size() - 1] = 0;
         return b;
     }},
    {"NoEoc", true,
     [](Bytes b) {
         b.resize(b.size() - 2);
         return b;
     }},
    // T.800 A.4.2: Psot 0 marks the last tile-part, running to the end of the codestream.
    {"LastTilePartPsotZero", true, [](Bytes b) { put32(b, findMarker(b, 0xFF90) + 6, 0); return b; }},
    {"LastTilePartPsotZeroNoEoc", true,
     [](Bytes b) {
         put32(b, findMarker(b, 0xFF90) + 6, 0);
         b.resize(b.size() - 2);
         return b;
     }},
};

class HostileTest : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileTest, RefusedOrDecodedLikeTheOriginal) {
    Bytes orig = testutil::readFile(kData + "grey.j2k");
    ASSERT_FALSE(orig.empty());
    Samples ref = decodeOurs(orig, false);
    ASSERT_TRUE(ref.ok);
    const Hostile& h = GetParam();
    Samples got = decodeOurs(h.make(orig), false);
    EXPECT_EQ(got.ok, h.decodes);
    if (h.decodes) {
        EXPECT_EQ(maxDiff(got, ref), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, HostileTest, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& i) { return std::string(i.param.name); });

// Tile-parts: a wrong part count (one too few, as some encoders write) or none at all still
// decodes every part; a tile-part announced past the tile's data is refused.
TEST(Jpeg2000TileParts, PartCountsThatAreWrongOrAbsentStillDecodeEverything) {
    Bytes orig = testutil::readFile(kData + "grey_tp.j2k");
    Samples src = readPnm(kData + "grey.pgm");
    ASSERT_EQ(maxDiff(decodeOurs(orig, false), src), 0);
    for (unsigned tnsot : {0u, 2u, 1u}) {
        Bytes b = orig;
        for (size_t p = 0; (p = (size_t)(std::search(b.begin() + (long)p, b.end(), kSot, kSot + 4) - b.begin())) < b.size(); p += 2)
            b[p + 11] = (unsigned char)tnsot;
        EXPECT_EQ(maxDiff(decodeOurs(b, false), src), 0) << tnsot;
    }
}

// Packed packet headers (T.800 A.7.4): the headers of a codestream with SOP and EPH markers
// moved into a PPM marker segment decode to the same picture; PPM and PPT together are refused.
TEST(Jpeg2000PackedHeaders, PpmDecodesLikeInlineHeaders) {
    Bytes orig = testutil::readFile(kData + "grey_sop.j2k");
    size_t sot = findMarker(orig, 0xFF90), sod = findMarker(orig, 0xFF93);
    ASSERT_NE(sod, std::string::npos);
    Bytes data(orig.begin() + (long)sod + 2, orig.end() - 2), body, headers;
    const unsigned char sop[2] = {0xFF, 0x91}, eph[2] = {0xFF, 0x92};
    auto find = [&](const unsigned char* m, size_t from) {
        return (size_t)(std::search(data.begin() + (long)from, data.end(), m, m + 2) - data.begin());
    };
    for (size_t p = find(sop, 0); p < data.size();) {
        size_t e = find(eph, p + 6), next = find(sop, e);
        ASSERT_LT(e, data.size());
        body.insert(body.end(), data.begin() + (long)p, data.begin() + (long)p + 6);  // SOP stays
        headers.insert(headers.end(), data.begin() + (long)p + 6, data.begin() + (long)e + 2);
        body.insert(body.end(), data.begin() + (long)e + 2, data.begin() + (long)next);
        p = next;
    }
    Bytes ppm = {0xFF, 0x60, 0, 0, 0};
    put16(ppm, 2, (unsigned)(7 + headers.size()));
    ppm.insert(ppm.end(), {0, 0, 0, 0});
    put32(ppm, 5, (unsigned)headers.size());
    ppm.insert(ppm.end(), headers.begin(), headers.end());
    Bytes cs(orig.begin(), orig.begin() + (long)sot);
    cs.insert(cs.end(), ppm.begin(), ppm.end());
    size_t sotAt = cs.size();
    cs.insert(cs.end(), orig.begin() + (long)sot, orig.begin() + (long)sod + 2);
    put32(cs, sotAt + 6, (unsigned)(14 + body.size()));
    cs.insert(cs.end(), body.begin(), body.end());
    cs.insert(cs.end(), {0xFF, 0xD9});
    Samples ref = decodeOurs(orig, false);
    ASSERT_TRUE(ref.ok);
    EXPECT_EQ(maxDiff(decodeOurs(cs, false), ref), 0);
    // The same with a PPT in the tile-part header as well.
    Bytes both = insertAt(cs, findMarker(cs, 0xFF93), {0xFF, 0x61, 0x00, 0x04, 0x00, 0x80});
    EXPECT_FALSE(decodeOurs(both, false).ok);
}

// ISO/IEC 15444-2 array-based transform: a codestream coded without a component transform
// gets MCT, MCC and MCO segments that swap red and blue and put the offsets back; the result
// is the source with red and blue swapped.
TEST(Jpeg2000Part2, ArrayTransformFromMcoIsApplied) {
    Bytes b = testutil::readFile(kData + "rgb_nomct.j2k");
    ASSERT_FALSE(b.empty());
    b[findMarker(b, 0xFF52) + 8] = 2;  // COD: array-based transform
    Bytes seg = {0xFF, 0x74, 0x00, 0x2C, 0, 0, 0x09, 0x01, 0, 0};  // MCT 1: 3 x 3 float32 decorrelation
    const float swap[9] = {0, 0, 1, 0, 1, 0, 1, 0, 0};
    for (float f : swap) {
        uint32_t u;
        memcpy(&u, &f, 4);
        for (int i = 3; i >= 0; i--) seg.push_back((unsigned char)(u >> (8 * i)));
    }
    seg.insert(seg.end(), {0xFF, 0x74, 0x00, 0x14, 0, 0, 0x06, 0x02, 0, 0});  // MCT 2: int32 offsets
    for (int c = 0; c < 3; c++) seg.insert(seg.end(), {0, 0, 0, 128});
    // MCC 1: components 0..2 in and out, reversible, decorrelation 1, offsets 2.
    seg.insert(seg.end(), {0xFF, 0x75, 0x00, 0x17, 0, 0, 1, 0, 0, 0, 1, 1, 0, 3, 0, 1, 2, 0, 3, 0, 1, 2, 1, 2, 1});
    seg.insert(seg.end(), {0xFF, 0x77, 0x00, 0x04, 0x01, 0x01});  // MCO: one stage, MCC 1
    b = insertAt(b, findMarker(b, 0xFF5C), seg);
    Samples got = decodeOurs(b, false), src = readPnm(kData + "rgb.ppm");
    ASSERT_TRUE(got.ok);
    ASSERT_EQ(got.v.size(), src.v.size());
    for (size_t i = 0; i < src.v.size(); i += 3) {
        ASSERT_EQ(got.v[i], src.v[i + 2]) << i;
        ASSERT_EQ(got.v[i + 1], src.v[i + 1]) << i;
        ASSERT_EQ(got.v[i + 2], src.v[i]) << i;
    }
}

// Inputs the fuzzer found, each named after its finding: refused without undefined behaviour.
TEST(Jpeg2000Fuzz, RegressionInputsAreRefusedCleanly) {
    for (const char* name : {"precision33-dc-shift-overflow.j2k"}) {
        Bytes b = testutil::readFile(kData + "fuzz/" + name);
        ASSERT_FALSE(b.empty()) << name;
        EXPECT_FALSE(decodeOurs(b, false).ok) << name;
    }
}

// A progression order above 4 names no packets: the tile decodes from none (mid-grey), not
// a failure.
TEST(Jpeg2000Fixtures, UnknownProgressionOrderGivesEmptyCodeBlocks) {
    Bytes b = testutil::readFile(kData + "grey.j2k");
    b[findMarker(b, 0xFF52) + 5] = 5;
    Samples got = decodeOurs(b, false);
    ASSERT_TRUE(got.ok);
    for (int v : got.v) ASSERT_EQ(v, 128);
}

// 16384 components in 1 x 1 tiles: tile parameters are taken per tile that comes, and a
// file cannot make the reader hold more than a bounded number of them.
TEST(Jpeg2000Fixtures, ManyTilesTimesManyComponentsRefused) {
    Bytes b = {0xFF, 0x4F, 0xFF, 0x51};
    auto p16 = [&](unsigned v) { b.push_back((unsigned char)(v >> 8)), b.push_back((unsigned char)v); };
    auto p32 = [&](unsigned v) { p16(v >> 16), p16(v & 0xFFFF); };
    const unsigned comps = 16384;
    p16(38 + 3 * comps);
    p16(0);
    p32(32), p32(24), p32(0), p32(0), p32(1), p32(1), p32(0), p32(0);
    p16(comps);
    for (unsigned c = 0; c < comps; c++) b.insert(b.end(), {7, 1, 1});
    b.insert(b.end(), {0xFF, 0x52, 0x00, 0x0C, 0, 0, 0, 1, 0, 0, 4, 4, 0, 1});  // COD: no levels
    b.insert(b.end(), {0xFF, 0x5C, 0x00, 0x04, 0x40, 0x40});                   // QCD
    for (unsigned t = 0; t < 40; t++) {
        b.insert(b.end(), {0xFF, 0x90, 0x00, 0x0A});
        p16(t);
        p32(14);
        b.insert(b.end(), {0, 1, 0xFF, 0x93});
    }
    b.insert(b.end(), {0xFF, 0xD9});
    EXPECT_FALSE(decodeOurs(b, false).ok);
}

// Whole tiles in parallel, code-blocks and wavelet lines in parallel, or one thread: the same
// samples.
TEST(Jpeg2000Fixtures, SameSamplesOnAnyThreadCount) {
    for (const char* name : {"rgb_tiles.j2k", "grey.j2k"}) {
        Bytes b = testutil::readFile(kData + name);
        cJ2KDecode::setThreads(1);
        Samples one = decodeOurs(b, false);
        ASSERT_TRUE(one.ok);
        for (int n : {2, 3, 4, 16}) {
            cJ2KDecode::setThreads(n);
            EXPECT_EQ(maxDiff(decodeOurs(b, false), one), 0) << name << " " << n;
        }
        cJ2KDecode::setThreads(0);
    }
}

// A size refused for the decode budget on a worker thread reaches the calling thread's record,
// which is where the decode's caller reads it.
TEST(Jpeg2000Fixtures, BudgetRefusalOnAWorkerReachesTheCaller) {
    struct Restore {
        ~Restore() { setPictDecodeBudget(0, 0), cJ2KDecode::setThreads(0); }
    } restore;
    // Only the other threads refuse: the calling one (worker 0) waits until one of them has.
    clearPictBudgetRefusal();
    std::atomic<int> refusals{0};
    EXPECT_FALSE(pictParallelFor(64, 4, [&](long long, int w) {
        for (int spin = 0; !w && !refusals && spin < 20000; spin++)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (!w) return true;
        refusals++;
        return refuseOverBudget(0, 0, 12345);
    }));
    EXPECT_EQ(pictBudgetRefusal().bytes, 12345);
    // The same through a decode: four tiles on four threads, each over a budget lowered after
    // the header was read.
    Bytes b = testutil::readFile(kData + "rgb_tiles.j2k");
    cBufWrapperIO io(b.data(), (long long)b.size());
    cMemBufferedIO in(&io, 4096);
    cJ2KDecode d;
    cPtr<cJP2Image> img;
    ASSERT_TRUE(d.readHeader(&in, img));
    cJ2KDecode::setThreads(4);
    setPictDecodeBudget(100, 0);
    clearPictBudgetRefusal();
    EXPECT_FALSE(d.decode(&in, img.ptr));
    EXPECT_EQ(pictBudgetRefusal().width, 16);
}

// An exception thrown by an item on a worker thread or on the calling one fails the loop
// (the picture it decodes), not the process; the other items still end before it returns.
TEST(Jpeg2000Fixtures, ExceptionInTheParallelLoopFailsThePictureOnly) {
    for (int thrower : {0, 1, 2}) {
        std::atomic<int> done{0};
        EXPECT_FALSE(pictParallelFor(64, 3, [&](long long, int w) {
            // The others are slow, so the throwing thread surely takes an item.
            if (w == thrower) throw std::runtime_error("item");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            done++;
            return true;
        })) << thrower;
        EXPECT_LT(done.load(), 64) << thrower;
    }
    EXPECT_TRUE(pictParallelFor(64, 3, [](long long, int) { return true; }));
}

// The fixture decodes to its source exactly (the reversible path), through the picture class too.
TEST(Jpeg2000Fixtures, DecodeToTheirSources) {
    Samples grey = decodeOurs(testutil::readFile(kData + "grey.j2k"), false);
    Samples rgb = decodeOurs(testutil::readFile(kData + "rgb_tiles.j2k"), false);
    EXPECT_EQ(maxDiff(grey, readPnm(kData + "grey.pgm")), 0);
    EXPECT_EQ(maxDiff(rgb, readPnm(kData + "rgb.ppm")), 0);
}

// Every prefix and every single-byte change of the fixtures is decoded or refused, never a
// crash or a hang (the sanitizer build checks the memory accesses). One picture decodes them
// all: a refusal leaves it empty, a success whole, and nothing of one decode reaches the next
// (the original decodes the same after them).
TEST(Jpeg2000Fixtures, SurvivesTruncationAndByteFlips) {
    cJ2KDecode::setThreads(1);  // thousands of small decodes: no threads to wake
    for (const char* name : {"grey.j2k", "rgb_tiles.j2k"}) {
        const Bytes orig = testutil::readFile(kData + name);
        const pictfmt::Rgba want = pictfmt::decodeWith<cPictJ2K>(orig);
        ASSERT_TRUE(want.ok);
        cPictJ2K pict;
        int refused = 0;
        auto check = [&](const Bytes& b, size_t at) {
            cBufWrapperIO s(b.data(), (long long)b.size());
            if (pict.decode(&s)) {
                ASSERT_TRUE(pict.width() > 0 && pict.height() > 0 && (pict.raw8Bpp() || pict.raw16Bpp())) << at;
            } else {
                refused++;
                ASSERT_TRUE(pict.width() == 0 && pict.height() == 0 && !pict.raw8Bpp() && !pict.raw16Bpp()) << at;
            }
        };
        for (size_t n = 0; n < orig.size(); n++) check(Bytes(orig.begin(), orig.begin() + (long)n), n);
        for (size_t i = 0; i < orig.size(); i += 3) {
            Bytes b = orig;
            b[i] ^= (unsigned char)(0x5A + i);
            check(b, i);
        }
        EXPECT_GT(refused, 100) << name;
        const pictfmt::Rgba again = pictfmt::decodeWith<cPictJ2K>(orig, &pict);
        ASSERT_TRUE(again.ok);
        EXPECT_TRUE(again.w == want.w && again.h == want.h && again.px == want.px) << name;
    }
    cJ2KDecode::setThreads(0);
}

}  // namespace
