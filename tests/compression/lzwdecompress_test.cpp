// LZW: strips written by tiffcp, round trips through a plain reference encoder in every
// variant, and hostile streams (noise, truncation, codes beyond the table, the cap).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "compression/lzwdecompress.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Reference LZW encoder, written from the TIFF 6.0 description: codes grow from
// `initialBits`; with earlyChange the writer widens one code early; the table is cleared
// before it fills (or, with clearWhenFull off, simply stops growing).
struct RefEncoder {
    bool msbFirst = true;
    int initialBits = 9;
    bool earlyChange = true;
    bool clearWhenFull = true;
    bool writeEnd = true;

    Bytes encode(const Bytes& in) const {
        BitWriter w{msbFirst};
        const int clear = 1 << (initialBits - 1), end = clear + 1;
        std::map<std::pair<int, int>, int> dict;
        int next = end + 1, width = initialBits;
        w.put(clear, width);
        int cur = -1;
        for (unsigned char c : in) {
            if (cur < 0) {
                cur = c;
                continue;
            }
            auto it = dict.find({cur, c});
            if (it != dict.end()) {
                cur = it->second;
                continue;
            }
            w.put(cur, width);
            if (next < 4096) {
                dict[{cur, c}] = next++;
                if (next + (earlyChange ? 1 : 0) > (1 << width) && width < 12) width++;
            }
            cur = c;
            if (clearWhenFull && next >= 4093) {
                w.put(clear, width);
                dict.clear();
                next = end + 1;
                width = initialBits;
            }
        }
        if (cur >= 0) {
            w.put(cur, width);
            // The reader adds an entry for this code too, and may widen before the end code.
            if (next < 4096) {
                next++;
                if (next + (earlyChange ? 1 : 0) > (1 << width) && width < 12) width++;
            }
        }
        if (writeEnd) w.put(end, width);
        w.flush();
        return w.out;
    }

    struct BitWriter {
        bool msb;
        Bytes out;
        unsigned long long acc = 0;
        int bits = 0;
        void put(int code, int width) {
            if (msb) {
                acc = (acc << width) | (unsigned)code;
                bits += width;
                while (bits >= 8) {
                    out.push_back((unsigned char)(acc >> (bits - 8)));
                    bits -= 8;
                }
            } else {
                acc |= (unsigned long long)code << bits;
                bits += width;
                while (bits >= 8) {
                    out.push_back((unsigned char)acc);
                    acc >>= 8;
                    bits -= 8;
                }
            }
        }
        void flush() {
            if (bits) out.push_back(msb ? (unsigned char)(acc << (8 - bits)) : (unsigned char)acc);
            bits = 0;
        }
    };
};

Bytes toBytes(const _typebuf<unsigned char>& b) { return Bytes(b.ptr, b.ptr + b.count); }

std::string fixture(const std::string& name) { return std::string(QMX_TEST_DATA) + "/lzw/" + name; }

struct Strip {
    std::string name;
    Bytes lzw, plain;
};

std::vector<Strip> loadStrips() {
    std::vector<Strip> strips;
    std::ifstream index(fixture("index.txt"));
    std::string line;
    while (std::getline(index, line)) {
        std::istringstream f(line);
        std::string name;
        size_t w, h, spp, rows, n;
        if (!(f >> name >> w >> h >> spp >> rows >> n)) continue;
        Bytes raw = testutil::readFile(fixture(name + ".raw"));
        size_t rowBytes = w * spp;
        for (size_t i = 0; i < n; i++) {
            size_t from = i * rows * rowBytes, to = std::min(raw.size(), from + rows * rowBytes);
            strips.push_back({name + "." + std::to_string(i), testutil::readFile(fixture(name + "." + std::to_string(i) + ".lzw")),
                              Bytes(raw.begin() + (long)from, raw.begin() + (long)to)});
        }
    }
    return strips;
}

bool decode(const Bytes& in, Bytes& out, long long cap = kLZWDefaultCap, long long expected = -1,
            cLZWDecompress dec = cLZWDecompress(true, 9, true)) {
    _typebuf<unsigned char> a, b;
    a.set(in.data(), (long long)in.size());
    b.set(7);  // stale contents must go on failure
    bool ok = dec.decompress(a, b, cap, expected);
    out = toBytes(b);
    if (!ok) {
        EXPECT_EQ(0, b.count);
    }
    return ok;
}

TEST(LZW, DecodesStripsWrittenByTiffcp) {
    std::vector<Strip> strips = loadStrips();
    ASSERT_EQ(7u, strips.size()) << "fixtures missing under " << fixture("");
    for (const Strip& s : strips) {
        Bytes out;
        ASSERT_TRUE(decode(s.lzw, out)) << s.name;
        EXPECT_EQ(s.plain, out) << s.name;
        ASSERT_TRUE(decode(s.lzw, out, kLZWDefaultCap, (long long)s.plain.size())) << s.name;
        EXPECT_EQ(s.plain, out) << s.name;
        // Our own encoder's stream for the same pixels decodes the same.
        ASSERT_TRUE(decode(RefEncoder().encode(s.plain), out)) << s.name;
        EXPECT_EQ(s.plain, out) << s.name;
    }
}

TEST(LZW, RoundTripsEveryVariant) {
    struct Variant {
        const char* what;
        bool msb;
        int bits;
        bool early;
        bool clearWhenFull;
    } variants[] = {
        {"tiff", true, 9, true, true},
        {"tiff, table left full", true, 9, true, false},
        {"old tiff, low bit first", false, 9, false, true},
        {"gif-style 2-bit", false, 3, false, true},
        {"gif-style 8-bit, no clear", false, 9, false, false},
    };
    std::vector<Bytes> inputs = {Bytes{7}, Bytes{1, 1, 1, 1, 1, 1, 1}, testutil::randomBytes(20000, 9), Bytes(100000, 'z')};
    Bytes few = testutil::randomBytes(60000, 10);
    for (auto& c : few) c &= 3;
    inputs.push_back(few);
    for (const Variant& v : variants) {
        RefEncoder enc;
        enc.msbFirst = v.msb;
        enc.initialBits = v.bits;
        enc.earlyChange = v.early;
        enc.clearWhenFull = v.clearWhenFull;
        // The old TIFF variant is recognised by the TIFF decoder itself.
        cLZWDecompress dec = v.bits == 9 && !v.msb ? cLZWDecompress(true, 9, true) : cLZWDecompress(v.msb, v.bits, v.early);
        for (const Bytes& raw : inputs) {
            Bytes in = raw;
            if (v.bits < 9)
                for (auto& c : in) c &= (1 << (v.bits - 1)) - 1;
            Bytes out;
            ASSERT_TRUE(decode(enc.encode(in), out, kLZWDefaultCap, -1, dec)) << v.what << " " << in.size();
            EXPECT_EQ(in, out) << v.what << " " << in.size();
        }
    }
}

TEST(LZW, ExpectedSizeStopsEarlyAndRefusesShortStreams) {
    Bytes in = testutil::randomBytes(5000, 11);
    Bytes z = RefEncoder().encode(in), out;
    ASSERT_TRUE(decode(z, out, kLZWDefaultCap, 1234));
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 1234), out);
    EXPECT_FALSE(decode(z, out, kLZWDefaultCap, 5001));
    EXPECT_FALSE(decode(z, out, 100, 200));  // expected above the cap
    // Without an end code the expected size is what tells the end.
    RefEncoder noEnd;
    noEnd.writeEnd = false;
    Bytes z2 = noEnd.encode(in);
    EXPECT_FALSE(decode(z2, out));
    ASSERT_TRUE(decode(z2, out, kLZWDefaultCap, (long long)in.size()));
    EXPECT_EQ(in, out);
}

TEST(LZW, OutputCapHolds) {
    Bytes zeros(1 << 20, 0), out;
    Bytes z = RefEncoder().encode(zeros);
    ASSERT_LT(z.size(), 20000u);
    EXPECT_FALSE(decode(z, out, 64 * 1024));
    EXPECT_FALSE(decode(z, out, (1 << 20) - 1));
    ASSERT_TRUE(decode(z, out, 1 << 20));
    EXPECT_EQ(zeros, out);
}

TEST(LZW, HostileStreamsFailCleanly) {
    Bytes out;
    // Hand-made MSB-first 9-bit streams: clear, then codes.
    auto stream = [](std::vector<int> codes) {
        RefEncoder::BitWriter w{true};
        for (int c : codes) w.put(c, 9);
        w.flush();
        return w.out;
    };
    struct {
        const char* what;
        std::vector<int> codes;
        bool ok;
    } cases[] = {
        {"well formed", {256, 'A', 'B', 258, 257}, true},
        {"KwKwK code", {256, 'A', 258, 257}, true},
        {"code beyond the table", {256, 'A', 300, 257}, false},
        {"next code right after a clear", {256, 258, 257}, false},
        {"end code as first code", {256, 257}, true},
        {"no end code", {256, 'A', 'B'}, false},
        {"clear then end", {256, 'A', 256, 'B', 257}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(c.ok, decode(stream(c.codes), out)) << c.what;
    ASSERT_TRUE(decode(stream({256, 'A', 258, 257}), out));
    EXPECT_EQ(Bytes({'A', 'A', 'A'}), out);

    // Every cut of a real strip loses its end code.
    std::vector<Strip> strips = loadStrips();
    ASSERT_FALSE(strips.empty());
    const Bytes& good = strips[0].lzw;
    for (size_t cut = 0; cut + 1 < good.size(); cut++) EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + (long)cut), out)) << cut;

    // Noise: any answer is fine, as long as nothing overflows and the cap holds, also with
    // other starting widths (past 9 bits, codes below the clear code exceed a byte).
    const cLZWDecompress decoders[] = {cLZWDecompress(true, 9, true), cLZWDecompress(false, 12, false),
                                       cLZWDecompress(true, 10, true), cLZWDecompress(false, 3, false)};
    for (unsigned seed = 0; seed < 300; seed++) {
        Bytes noise = testutil::randomBytes(1 + seed * 7, seed);
        if (seed % 2 && !noise.empty()) noise[0] = 0x80;  // starts with a clear code
        if (decode(noise, out, 4096, seed % 5 ? -1 : 1000, decoders[seed % 4])) {
            EXPECT_LE(out.size(), 4096u);
        }
    }
    EXPECT_FALSE(decode(Bytes(), out));
}

}  // namespace
