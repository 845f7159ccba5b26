// Raw bit readers against the kit's bit writers: random widths 1-32 round-trip in every
// variant, stuffing and markers behave as T.81 says, and reading past the end is reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "compression/haffmantable.h"
#include "picts/rawcore/rawbits.h"
#include "rawkit/bitwriter.h"

using namespace rawkit;

namespace {

struct Field {
    uint32_t value;
    int bits;
};

std::vector<Field> randomFields(unsigned seed, int n) {
    std::vector<Field> f;
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    for (int i = 0; i < n; i++) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        int bits = 1 + (int)((s >> 33) % 32);
        // Runs of ones make 0xFF bytes, which the stuffing cases need.
        uint32_t v = (i % 5 == 0) ? 0xFFFFFFFFu : (uint32_t)(s >> 7);
        if (bits < 32) v &= (1u << bits) - 1;
        f.push_back({v, bits});
    }
    return f;
}

}  // namespace

TEST(RawBits, EveryVariantRoundTripsRandomWidths) {
    enum { kMSB, kMSBStuffed, kLSB, k32LE, k32BE };
    for (int variant : {kMSB, kMSBStuffed, kLSB, k32LE, k32BE}) {
        SCOPED_TRACE(variant);
        std::vector<Field> fields = randomFields((unsigned)variant + 1, 500);
        std::vector<unsigned char> bytes;
        if (variant == kMSB || variant == kMSBStuffed) {
            BitWriterMSB w(variant == kMSBStuffed);
            for (auto& f : fields) w.put(f.value, f.bits);
            w.align(false);
            bytes = w.out;
        } else if (variant == kLSB) {
            BitWriterLSB w;
            for (auto& f : fields) w.put(f.value, f.bits);
            w.align();
            bytes = w.out;
        } else {
            BitWriter32 w(variant == k32BE);
            for (auto& f : fields) w.put(f.value, f.bits);
            w.align();
            bytes = w.out;
        }
        cRawBitsMSB msb(bytes.data(), (long long)bytes.size(), variant == kMSBStuffed);
        cRawBitsLSB lsb(bytes.data(), (long long)bytes.size());
        cRawBits32 w32(bytes.data(), (long long)bytes.size(), variant == k32BE);
        for (size_t i = 0; i < fields.size(); i++) {
            uint32_t got = variant <= kMSBStuffed ? msb.get(fields[i].bits)
                           : variant == kLSB      ? lsb.get(fields[i].bits)
                                                  : w32.get(fields[i].bits);
            ASSERT_EQ(got, fields[i].value) << "field " << i;
        }
        EXPECT_FALSE(msb.overrun() || lsb.overrun() || w32.overrun());
        // One word more than was written is past the end.
        if (variant <= kMSBStuffed) {
            msb.get(32);
            EXPECT_TRUE(msb.overrun());
        } else if (variant == kLSB) {
            lsb.get(32);
            EXPECT_TRUE(lsb.overrun());
        } else {
            w32.get(32);
            w32.get(1);
            EXPECT_TRUE(w32.overrun());
        }
    }
}

// T.81 F.1.2.3: 0xFF00 is one data byte 0xFF; 0xFF followed by a marker code ends the data.
TEST(RawBits, StuffingAndMarkers) {
    const unsigned char data[] = {0xFF, 0x00, 0x12, 0xFF, 0xD9, 0x34};
    cRawBitsMSB r(data, sizeof(data), true);
    EXPECT_EQ(r.get(8), 0xFFu);
    EXPECT_EQ(r.get(8), 0x12u);
    EXPECT_FALSE(r.overrun());
    EXPECT_EQ(r.get(8), 0u);  // the marker: no data byte 0x34 is read after it
    EXPECT_TRUE(r.markerSeen());
    EXPECT_TRUE(r.overrun());
    cRawBitsMSB plain(data, sizeof(data), false);
    EXPECT_EQ(plain.get(16), 0xFF00u);
    EXPECT_EQ(plain.get(24), 0x12FFD9u);
}

// Huffman symbols through a cHaffmanTable index table; bits that start no code give -1.
TEST(RawBits, HuffmanSymbolsThroughIndexTables) {
    // Codes: 0 -> "0", 1 -> "10", 2 -> "110" (one 1-bit, one 2-bit, one 3-bit code).
    const unsigned char desc[16 + 3] = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    const unsigned char* p = desc;
    _typebuf<unsigned int> table;
    ASSERT_TRUE(cHaffmanTable::createIndexTable(p, table, sizeof(desc)));
    BitWriterMSB w;
    const int symbols[] = {2, 0, 1, 1, 0, 2};
    const uint32_t code[] = {0, 2, 6};
    const int len[] = {1, 2, 3};
    for (int s : symbols) w.put(code[s], len[s]);
    w.put(7, 3);  // "111" starts no code
    w.align(false);
    cRawBitsMSB r(w.out.data(), (long long)w.out.size());
    for (int s : symbols) EXPECT_EQ(r.huff(table), s);
    EXPECT_EQ(r.huff(table), -1);
    _typebuf<unsigned int> broken;
    EXPECT_EQ(r.huff(broken), -1);
}
