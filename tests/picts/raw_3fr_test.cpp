// Hasselblad 3FR: kit files (strips, tiles, odd widths, uncompressed) decode to their exact
// frame (through the frame hook) and read alike through dcraw and LibRaw; make, camera-model
// and DNG-version rules; difference lengths above 16 refused; a break inside the last row
// keeps the decoded part; hostile structures and truncations fail cleanly. Directories of
// the DNG decoder's share (other depths, linear raw) decode as that file with a DNG version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "picts/raw/hasselblad/pict3fr.h"
#include "picts/tiff/pictdng.h"
#include "rawkit/h3frenc.h"
#include "rawkit/peers.h"
#include "testutil.h"

using namespace rawkit;

namespace {

std::vector<uint16_t> h3frRamp(int w, int h, unsigned seed) {
    std::vector<uint16_t> f = noisyRamp(w, h, seed, 97, 61, 4000, 65536);
    f[3] = 65535;  // difference lengths up to 16 (a jump of -32768 among them)
    f[5] = 0;
    f[7] = 32768;
    return f;
}

struct Case {
    const char* name;
    int w, h, tw, th;
    // peers: both read it alike (the peers take a tiled 3FR as one strip-like scan).
    bool be, uncompressed, peers;
};
const Case kCases[] = {
    {"strip", 32, 24, 0, 0, false, false, true},
    {"strip BE", 32, 24, 0, 0, true, false, true},
    {"odd width", 31, 23, 0, 0, false, false, true},
    {"tiles", 48, 32, 16, 16, false, false, false},
    {"tiles past the edge", 40, 30, 16, 16, false, false, false},
    {"uncompressed", 32, 24, 0, 0, false, true, true},
};

H3frSpec specFor(const Case& c) {
    H3frSpec s;
    s.width = c.w;
    s.height = c.h;
    s.tileWidth = c.tw;
    s.tileHeight = c.th;
    s.bigEndian = c.be;
    s.uncompressed = c.uncompressed;
    s.frame = h3frRamp(c.w, c.h, (unsigned)(c.w * 5 + c.tw));
    return s;
}

bool decodes(const std::vector<unsigned char>& f, SeenFrame* seen = nullptr) { return decodeKitFile<cPict3FR>(f, seen); }

}  // namespace

TEST(Raw3fr, KitFramesDecodeExactlyAsThePeersReadThem) {
    testutil::TempDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        H3frSpec s = specFor(c);
        std::vector<unsigned char> f = write3fr(s);
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes<cPict3FR>(f, c.w, c.h, seen));
        EXPECT_EQ(seen.samples, s.frame);
        // Without CFA tags: red green / green blue.
        EXPECT_EQ(seen.cfa[0], 0);
        EXPECT_EQ(seen.cfa[1], 1);
        EXPECT_EQ(seen.cfa[3], 2);
        if (c.peers) expectPeersReadAs(dir, f, ".3fr", c.w, c.h, s.frame);
    }
}

TEST(Raw3fr, FileRules) {
    const H3frSpec base = specFor(kCases[0]);
    struct Rule {
        const char* what;
        H3frSpec spec;
        bool ok;
    };
    std::vector<Rule> rules;
    H3frSpec s = base;
    s.make = "HASSELBLAD";
    rules.push_back({"make in capitals", s, true});
    s.make = "Hasselbla";
    rules.push_back({"first nine letters", s, false});
    s = base;
    s.uniqueModel = false;
    rules.push_back({"no UniqueCameraModel", s, false});
    s = base;
    s.dngVersion = true;
    rules.push_back({"DNG version: the DNG decoder's", s, false});
    s = base;
    s.cfaTags = true;
    rules.push_back({"own CFA pattern", s, true});
    s = base;
    s.extraSofByte = false;
    rules.push_back({"frame header without the extra byte", s, true});
    s = base;
    s.length17 = true;
    rules.push_back({"difference length 17", s, false});
    for (const Rule& r : rules) {
        SCOPED_TRACE(r.what);
        std::vector<unsigned char> f = write3fr(r.spec);
        cBufWrapperIO io(f.data(), (long long)f.size());
        const bool probe = cPict3FR::validFor(&io, nullptr);
        SeenFrame seen;
        const bool ok = decodes(f, &seen);
        EXPECT_EQ(ok, r.ok);
        if (r.ok) {
            EXPECT_TRUE(probe);
            EXPECT_EQ(seen.samples, r.spec.frame);
            if (r.spec.cfaTags) {
                EXPECT_EQ(seen.cfa[0], 1);
                EXPECT_EQ(seen.cfa[1], 0);
            }
        }
    }
}

TEST(Raw3fr, BreaksAndTruncations) {
    // Data that ends inside the last row keeps the decoded part; earlier it fails.
    H3frSpec s = specFor(kCases[2]);  // odd width
    struct Cut {
        int bits;
        bool ok;
    };
    for (const Cut& c : {Cut{40, true}, Cut{2000, false}}) {
        SCOPED_TRACE(c.bits);
        H3frSpec p = s;
        p.cutLastRowBits = c.bits;
        SeenFrame seen;
        EXPECT_EQ(decodes(write3fr(p), &seen), c.ok);
        if (c.ok) {
            // Every row before the last is whole.
            std::vector<uint16_t> head(seen.samples.begin(), seen.samples.end() - s.width);
            EXPECT_EQ(head, std::vector<uint16_t>(s.frame.begin(), s.frame.end() - s.width));
        }
    }
    decodeEachCut<cPict3FR>(write3fr(specFor(kCases[3])), 3, 0);
    // The scan decoder alone: frames of another size, several components, no table.
    cPict3FR_LJPEG scan;
    _typebuf<unsigned short> out;
    std::vector<unsigned char> j = h3frScan(std::vector<uint16_t>(8 * 4, 100), 8, 4, true);
    EXPECT_TRUE(scan.decode(j.data(), (long long)j.size(), 8, 4, out));
    EXPECT_FALSE(scan.decode(j.data(), (long long)j.size(), 8, 5, out));
    std::vector<unsigned char> two = j;
    for (size_t i = 0; i + 10 < two.size(); i++)
        if (two[i] == 0xFF && two[i + 1] == 0xC3) {
            two[i + 9] = 2;
            break;
        }
    EXPECT_FALSE(scan.decode(two.data(), (long long)two.size(), 8, 4, out));
}

namespace {

std::vector<unsigned long long> pixelsOf(cPictBase& p) {
    std::vector<unsigned long long> v;
    if (p.is16Bpp()) {
        const unsigned long long* px = p.raw16Bpp();
        if (px) v.assign(px, px + p.width() * p.height());
    } else {
        _typebuf<unsigned int> c;
        if (p.getColorData(c)) v.assign(c.ptr, c.ptr + c.count);
    }
    return v;
}

}  // namespace

TEST(Raw3fr, DngShareDecodesAsTheDngDecoderReadsIt) {
    struct Share {
        const char* name;
        int bits, samples;
        bool be;
        int width;
    };
    const Share kShares[] = {
        {"12-bit packed CFA", 12, 1, false, 32},
        {"12-bit packed CFA, big-endian", 12, 1, true, 32},
        {"8-bit CFA", 8, 1, false, 32},
        {"linear raw, three samples", 16, 3, false, 32},
        // Widths that are not a multiple of 4.
        {"12-bit packed CFA, width 30", 12, 1, false, 30},
        {"8-bit CFA, width 27", 8, 1, true, 27},
    };
    testutil::TempDir dir;
    for (const Share& c : kShares) {
        SCOPED_TRACE(c.name);
        H3frSpec s;
        s.width = c.width;
        s.height = 24;
        s.bits = c.bits;
        s.samples = c.samples;
        s.bigEndian = c.be;
        s.frame = h3frRamp(s.width * c.samples, s.height, 7);
        for (uint16_t& v : s.frame) v = (uint16_t)(v & ((1u << c.bits) - 1));
        const std::vector<unsigned char> f = write3fr(s);
        cPict3FR h;
        SeenFrame seen;
        ASSERT_TRUE(probesAndDecodes(h, f, s.width, s.height, seen));
        if (c.samples == 1) {
            // The sensor frame as stored, with the cameras' default pattern.
            EXPECT_EQ(seen.samples, s.frame);
            EXPECT_EQ(seen.cfa[0], 0);
            EXPECT_EQ(seen.cfa[3], 2);
        }
        // The same file with a DNG version and the default pattern written out, read by the
        // DNG decoder, gives the same picture.
        H3frSpec v = s;
        v.dngVersion = true;
        v.cfaTags = c.samples == 1;
        const unsigned char rggb[4] = {0, 1, 1, 2};
        memcpy(v.cfa, rggb, 4);
        const std::vector<unsigned char> g = write3fr(v);
        cBufWrapperIO gio(g.data(), (long long)g.size());
        EXPECT_FALSE(cPict3FR::validFor(&gio, nullptr));
        cPictDNG dng;
        ASSERT_TRUE(dng.decode(&gio));
        EXPECT_EQ(h.width(), dng.width());
        EXPECT_EQ(h.height(), dng.height());
        EXPECT_EQ(pixelsOf(h), pixelsOf(dng));
        if (c.samples == 3) {
            // A linear frame without AsShotNeutral stays as stored: the top row's first pixel.
            ASSERT_TRUE(h.is16Bpp());
            const unsigned long long p = h.raw16Bpp()[(size_t)(s.height - 1) * s.width];
            EXPECT_EQ(p >> 32 & 0xFFFF, s.frame[0]);
            EXPECT_EQ(p >> 16 & 0xFFFF, s.frame[1]);
            EXPECT_EQ(p & 0xFFFF, s.frame[2]);
        }
        decodeEachCut<cPict3FR>(f, 7, 0);  // every cut fails cleanly or decodes
        if (c.samples != 1) continue;
        for (const char* tool : installedPeers()) {
            int w = 0, hh = 0;
            std::vector<uint16_t> peer = peerFrameOf(tool, dir, f, ".3fr", w, hh);
            if (peer.empty()) {
                printf("%s does not read the %s kit file\n", tool, c.name);
                continue;
            }
            SCOPED_TRACE(tool);
            EXPECT_EQ(peer, s.frame);
        }
    }
}
