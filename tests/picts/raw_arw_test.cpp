// Sony ARW: kit files of every strip layout decode to their exact sensor frame (through the
// frame hook); the same files read alike through dcraw and LibRaw (the ARW2 tone curve of
// tag 0x7010 included); balance, model table and levels reach the demosaic, models missing
// from the table taking the black level the peers subtract; the ARW2 row cutter stays
// inside its row for every width; hostile structures fail cleanly.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/pictbase.h"
#include "picts/raw/sony/pictarw.h"
#include "rawkit/arwenc.h"
#include "rawkit/peers.h"
#include "rawkit/tiffwriter.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> ramp(int w, int h, unsigned maxv, unsigned seed) {
    return noisyRamp(w, h, seed, 41, 23, 61, maxv + 1);
}

// What the decoder must give for a kit file: ARW2 values through the curve (halved when
// there is none), other layouts as written.
std::vector<uint16_t> expected(const ArwSpec& s, const std::vector<uint16_t>& coded) {
    if (s.layout != ArwSpec::lArw2) return coded;
    std::vector<uint32_t> c = sonyCurve(s.curve);
    std::vector<uint16_t> e(coded.size());
    for (size_t i = 0; i < e.size(); i++) e[i] = (uint16_t)(c[coded[i] << 1] >> 2);
    // Columns no block reaches stay 0.
    for (int r = 0; r < s.height; r++) {
        std::vector<bool> covered(s.width, false);
        for (int col = 0; col < s.width - 30; col += (col & 1) ? 31 : 1)
            for (int i = 0; i < 16; i++) covered[col + 2 * i] = true;
        for (int x = 0; x < s.width; x++)
            if (!covered[x]) e[(size_t)r * s.width + x] = 0;
    }
    return e;
}

struct Layout {
    const char* name;
    ArwSpec::eLayout layout;
    bool be;
    int w, h;
    std::vector<uint16_t> curve;
};
const std::vector<Layout>& layouts() {
    static const std::vector<Layout> l = {
        // The peers take no frame below 22 x 22.
        {"ARW2", ArwSpec::lArw2, false, 64, 22, {}},
        {"ARW2 curve", ArwSpec::lArw2, false, 96, 24, {8000, 10400, 12900, 14100}},
        {"ARW2 width 40", ArwSpec::lArw2, false, 40, 22, {5000, 9000, 12000, 15000}},
        {"packed II", ArwSpec::lPacked12, false, 32, 22, {}},
        {"packed MM", ArwSpec::lPacked12, true, 32, 22, {}},
        {"ARW1", ArwSpec::lArw1, false, 30, 24, {}},
        {"plain II", ArwSpec::lPlain16, false, 24, 22, {}},
        {"plain MM", ArwSpec::lPlain16, true, 24, 22, {}},
    };
    return l;
}

ArwSpec specFor(const Layout& l) {
    ArwSpec s;
    s.layout = l.layout;
    s.bigEndian = l.be;
    s.width = l.w;
    s.height = l.h;
    s.curve = l.curve;
    s.frame = ramp(l.w, l.h, l.layout == ArwSpec::lArw2 ? 2047 : 4095, (unsigned)l.w);
    return s;
}

}  // namespace

TEST(RawArw, KitFramesDecodeExactlyAsThePeersReadThem) {
    testutil::TempDir dir;
    for (const Layout& l : layouts()) {
        SCOPED_TRACE(l.name);
        ArwSpec s = specFor(l);
        std::vector<uint16_t> coded;
        std::vector<unsigned char> f = writeArw(s, &coded);
        cPictARW d;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(d, f, l.w, l.h, seen));
        EXPECT_EQ(seen.samples, expected(s, coded));
        EXPECT_EQ(d.width(), l.w);
        EXPECT_EQ(d.height(), l.h);
        if (l.be) continue;  // Sony writes little-endian files; the peers read those
        for (const char* tool : installedPeers()) {
            SCOPED_TRACE(tool);
            int w, h;
            std::vector<uint16_t> peer = peerFrameOf(tool, dir, f, ".arw", w, h);
            ASSERT_EQ(w, s.width);
            // dcraw also shows the 8 extra rows an ARW1 strip codes; the picture is above them.
            if (l.layout == ArwSpec::lArw1 && h == s.height + 8) {
                h = s.height;
                peer.resize((size_t)w * h);
            }
            ASSERT_EQ(h, s.height);
            // LibRaw keeps ARW2 samples at the curve's own 14-bit scale; dcraw and we quarter them.
            if (l.layout == ArwSpec::lArw2 && std::string(tool) == "unprocessed_raw")
                for (uint16_t& v : peer) v >>= 2;
            EXPECT_EQ(peer, expected(s, coded));
        }
    }
}

// Every width from 0 to 70 through a row buffer of exactly that many bytes and an output of
// exactly that many samples: AddressSanitizer catches any read or write past the row.
TEST(RawArw, Arw2RowCutterStaysInsideTheRow) {
    for (long long w = 0; w <= 70; w++) {
        std::vector<unsigned char> row((size_t)w + (w ? 0 : 1));
        for (size_t i = 0; i < row.size(); i++) row[i] = (unsigned char)(i * 37 + 11);
        unsigned char* in = new unsigned char[(size_t)(w ? w : 1)];
        std::copy(row.begin(), row.begin() + (w ? w : 1), in);
        unsigned short* out = new unsigned short[(size_t)(w ? w : 1)]();
        cPictARW::decodeArw2Row(in, w, false, nullptr, out);
        if (w < 31) {
            for (long long x = 0; x < w; x++) EXPECT_EQ(out[x], 0) << w;
        }
        // Every block with its max and min at one index: 15 coded samples, the last running
        // past its block (found by fuzzing: a read past the row at the last block).
        for (long long b = 0; b + 16 <= w; b += 16) {
            in[b + 3] = 0x15;  // both indexes 5
            in[b + 2] = (unsigned char)(in[b + 2] & 0x3F) | 0x40;
        }
        cPictARW::decodeArw2Row(in, w, false, nullptr, out);
        delete[] in;
        delete[] out;
    }
}

TEST(RawArw, BalanceModelsAndLevelsReachTheDemosaic) {
    const uint16_t wb[4] = {600, 300, 310, 450};  // R G G B
    struct Case {
        const char* what;
        std::string model;
        ArwSpec::eLayout layout;
        bool mrwBlock, cfaInExif, be;
        double mul[3];  // before range scaling: balance x factors
        unsigned black, white;
        int width = 16, bits = 0;  // bits declared (0: the layout's)
    };
    const Case cases[] = {
        {"default balance", "ILCE-KIT", ArwSpec::lPlain16, false, false, false, {1.4, 1.0, 1.1}, 0, 65535},
        {"MRW block", "ILCE-KIT", ArwSpec::lPlain16, true, false, false, {600, 310, 450}, 0, 65535},
        {"MRW block big-endian", "ILCE-KIT", ArwSpec::lPacked12, true, false, true, {600, 310, 450}, 0, 4095},
        // The EXIF directory is walked in the middle of IFD0: the private block after it is
        // still found, so the walker came back to where it was.
        {"EXIF pattern, then block", "ILCE-KIT", ArwSpec::lPlain16, true, true, false, {600, 310, 450}, 0, 65535},
        {"model factors", "DSC-RX100", ArwSpec::lPlain16, false, false, false, {1.4 * 0.9, 1.0, 1.1 * 1.3}, 220, 65535},
        {"14-bit levels at 12 bits", "ILCE-7M3 longer", ArwSpec::lPacked12, false, false, false, {1.4, 1.0, 1.1}, 128, 4224},
        {"ILCE-7M3 prefix only", "ILCE-7M", ArwSpec::lPacked12, false, false, false, {1.4, 1.0, 1.1}, 0, 4095},
        // A model missing from the table: frames wider than 3888 lose a black level that
        // follows the layout and the declared bits: the level dcraw and LibRaw subtract from
        // the same files, unless a row says otherwise.
        // Plain samples declared below 15 bits saturate at 14 bits, as both peers scale them.
        {"unlisted, plain 12 bits", "ILCE-KIT", ArwSpec::lPlain16, false, false, false, {1.4, 1.0, 1.1}, 512, 16383,
         3890, 12},
        {"unlisted, plain 14 bits", "ILCE-KIT", ArwSpec::lPlain16, false, false, false, {1.4, 1.0, 1.1}, 512, 16383,
         3890, 14},
        // The peers differ here (2048 and 512): none.
        {"unlisted, plain 16 bits", "ILCE-KIT", ArwSpec::lPlain16, false, false, false, {1.4, 1.0, 1.1}, 0, 65535,
         3890, 16},
        {"unlisted, plain 3888 wide", "ILCE-KIT", ArwSpec::lPlain16, false, false, false, {1.4, 1.0, 1.1}, 0, 16383,
         3888, 14},
        {"unlisted, ARW1 12 bits", "ILCE-KIT", ArwSpec::lArw1, false, false, false, {1.4, 1.0, 1.1}, 128, 4095,
         3890, 12},
        {"unlisted, ARW1 14 bits", "ILCE-KIT", ArwSpec::lArw1, false, false, false, {1.4, 1.0, 1.1}, 512, 16383,
         3890, 14},
        {"unlisted, ARW1 16 bits", "ILCE-KIT", ArwSpec::lArw1, false, false, false, {1.4, 1.0, 1.1}, 2048, 65535,
         3890, 16},
        {"unlisted, packed 12 bits", "ILCE-KIT", ArwSpec::lPacked12, false, false, false, {1.4, 1.0, 1.1}, 128, 4095,
         3890, 12},
        // The peers read these bytes as ARW1 (512); the packed layout keeps its 12-bit level.
        {"unlisted, packed 14 bits", "ILCE-KIT", ArwSpec::lPacked12, false, false, false, {1.4, 1.0, 1.1}, 128, 16383,
         3890, 14},
        // dcraw's level; LibRaw keeps ARW2 samples 4 times ours and says 512.
        {"unlisted, ARW2", "ILCE-KIT", ArwSpec::lArw2, false, false, false, {1.4, 1.0, 1.1}, 128, 4095, 3890, 0},
        // The table's level, not the one the peers subtract (512).
        {"listed model keeps its own", "DSC-RX100", ArwSpec::lPlain16, false, false, false, {1.4 * 0.9, 1.0, 1.1 * 1.3},
         220, 16383, 3890, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArwSpec s;
        s.layout = c.layout;
        s.bigEndian = c.be;
        s.width = c.width;
        s.height = 22;  // the size the levels were taken from the peers at
        s.bits = c.bits;
        s.frame = ramp(c.width, 22, c.layout == ArwSpec::lArw2 ? 2047 : 4095, 5);
        s.model = c.model;
        s.cfaInExif = c.cfaInExif;
        if (c.mrwBlock) s.wbBlock = mrwBalanceBlock(c.be, wb);
        std::vector<unsigned char> f = writeArw(s);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cPictARW d;
        SeenFrame seen;
        ASSERT_TRUE(decodeSeeingFrame(d, &io, seen));
        EXPECT_EQ(seen.black, c.black);
        EXPECT_EQ(d.blackLevel(), c.black);
        const double m = std::min(c.mul[0], std::min(c.mul[1], c.mul[2]));
        const double scale = 65536.0 / c.white / m;
        for (int k = 0; k < 3; k++) EXPECT_NEAR(seen.mul[k], c.mul[k] * scale, 1e-9 * seen.mul[k]) << k;
        EXPECT_NEAR(seen.mul[3], seen.mul[1], 1e-12);
    }
}

TEST(RawArw, HostileStructuresFailCleanly) {
    ArwSpec base;
    base.layout = ArwSpec::lArw1;
    base.width = 20;
    base.height = 6;
    base.frame = ramp(20, 6, 4095, 9);
    const std::vector<unsigned char> good = writeArw(base);
    // Truncations anywhere: never a crash; any cut before the strip's end fails.
    uint64_t stripAt = 0;
    writeArw(base, nullptr, &stripAt);
    decodeEachCut<cPictARW>(good, 1, stripAt + 1);
    auto build = [](const std::function<void(TiffWriter&, int, int)>& extra, const char* make = "SONY") {
        TiffWriter t(false, false);
        int ifd0 = t.newIfd(), raw = t.newIfd();
        t.addAscii(ifd0, 271, make);
        t.addAscii(ifd0, 272, "ILCE-KIT");
        t.addIfdPointers(ifd0, 330, {raw});
        t.addShorts(raw, 256, {16});
        t.addShorts(raw, 257, {4});
        t.addShorts(raw, 258, {16});
        t.addShorts(raw, 259, {1});
        t.addShorts(raw, 33421, {2, 2});
        t.addBytes(raw, 33422, TiffWriter::tByte, {0, 1, 1, 2});
        t.addBlocks(raw, 273, 279, {std::vector<unsigned char>(16 * 4 * 2, 7)});
        extra(t, ifd0, raw);
        return t.write(ifd0);
    };
    struct Case {
        const char* what;
        std::vector<unsigned char> file;
        bool ok;
    };
    std::vector<Case> cases;
    cases.push_back({"plain", build([](TiffWriter&, int, int) {}), true});
    cases.push_back({"DNGVersion", build([](TiffWriter& t, int i, int) { t.addBytes(i, 50706, 1, {1, 4, 0, 0}); }), false});
    cases.push_back({"make in other case", build([](TiffWriter&, int, int) {}, "Sony"), false});
    cases.push_back({"EXIF pointing at itself", build([](TiffWriter& t, int i, int) {
                         int e = t.newIfd();
                         t.addShorts(e, 1, {0});
                         t.addIfdPointers(e, 34665, {e});
                         t.addIfdPointers(i, 34665, {e});
                     }),
                     false});
    cases.push_back({"EXIF nested 20 deep", build([](TiffWriter& t, int i, int) {
                         int prev = t.newIfd();
                         t.addIfdPointers(i, 34665, {prev});
                         for (int k = 0; k < 20; k++) {
                             int e = t.newIfd();
                             t.addIfdPointers(prev, 34665, {e});
                             prev = e;
                         }
                         t.addShorts(prev, 1, {0});
                     }),
                     false});
    // The directory walk of a private block is allowed to fail; walking IFD0 again from
    // inside itself must neither recurse nor lose the rest of IFD0.
    cases.push_back({"private block at IFD0", build([](TiffWriter& t, int i, int) { t.addBytes(i, 50740, 1, {8, 0, 0, 0}); }),
                     true});
    cases.push_back({"wrong strip size", build([](TiffWriter& t, int, int r) { t.addShorts(r, 278, {3}); }), false});
    // A pattern size whose product overflowed an int.
    cases.push_back({"CFA repeat 65533 x 65534", build([](TiffWriter& t, int, int r) { t.addShorts(r, 33421, {65533, 65534}); }),
                     false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cBufWrapperIO io(c.file.data(), (long long)c.file.size());
        cPictARW d;
        EXPECT_EQ(d.decode(&io), c.ok);
    }
    // ARW1 differences running a sample out of 12 bits: the strip's bytes made all ones.
    std::vector<unsigned char> bad = good;
    uint64_t strip = 0;
    writeArw(base, nullptr, &strip);
    for (size_t i = strip; i < strip + 8; i++) bad[i] = 0xFF;
    cBufWrapperIO io(bad.data(), (long long)bad.size());
    cPictARW d;
    EXPECT_FALSE(d.decode(&io));
}

TEST(RawArw, EmbeddedPreviewWholeAndScaled) {
    ArwSpec s = specFor(layouts()[0]);
    s.jpeg = testJpeg();
    ASSERT_FALSE(s.jpeg.empty());
    expectKitFilePreview<cPictARW>(writeArw(s));
}
