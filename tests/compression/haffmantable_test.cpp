// Huffman tables: the JPEG standard DC tables decode bit strings coded with their published
// code words, random descriptions agree with a bit-by-bit model, impossible ones are refused.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "compression/haffmantable.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct BitWriter {
    Bytes out;
    int used = 0;
    void put(const std::string& bits) {
        for (char b : bits) {
            if (used % 8 == 0) out.push_back(0);
            if (b == '1') out.back() |= (unsigned char)(0x80 >> (used % 8));
            used++;
        }
    }
    void put(unsigned value, int n) {
        for (int i = n - 1; i >= 0; i--) put((value >> i) & 1 ? "1" : "0");
    }
};

struct StandardTable {
    const char* what;
    unsigned char counts[16];
    const char* codes[12];  // code word of categories 0 to 11, as T.81 Annex K prints them
};

const StandardTable kDcTables[] = {
    {"luminance DC (K.3)",
     {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
     {"00", "010", "011", "100", "101", "110", "1110", "11110", "111110", "1111110", "11111110", "111111110"}},
    {"chrominance DC (K.4)",
     {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
     {"00", "01", "10", "110", "1110", "11110", "111110", "1111110", "11111110", "111111110", "1111111110",
      "11111111110"}},
};

TEST(HaffmanTable, DecodesJpegDcTablesWithExtraBits) {
    for (const StandardTable& t : kDcTables) {
        unsigned char desc[32] = {};
        memcpy(desc, t.counts, 16);
        for (int i = 0; i < 12; i++) desc[16 + i] = (unsigned char)i;
        const unsigned char* p = desc;
        _typebuf<unsigned int> table;
        ASSERT_TRUE(cHaffmanTable::createIndexTable(p, table)) << t.what;
        EXPECT_EQ(desc + 16, p);
        size_t longest = 0;
        for (const char* c : t.codes) longest = std::max(longest, strlen(c));
        ASSERT_EQ(longest, table[0]);
        ASSERT_EQ(1 + (1LL << longest), table.count);

        // DC differences as JPEG codes them: a category's code word, then that many bits.
        std::vector<std::pair<int, unsigned>> seq;
        Bytes rnd = testutil::randomBytes(3000, 5);
        BitWriter w;
        for (size_t i = 0; i + 1 < rnd.size(); i += 2) {
            int cat = rnd[i] % 12;
            unsigned extra = cat ? ((unsigned)rnd[i + 1] * 2654435761u) & ((1u << cat) - 1) : 0;
            w.put(t.codes[cat]);
            w.put(extra, cat);
            seq.push_back({cat, extra});
        }
        sHaffBitState st = {};
        long long pos = 0;
        _typebuf<unsigned char> data;
        data.set(w.out.data(), (long long)w.out.size());
        for (size_t i = 0; i < seq.size(); i++) {
            ASSERT_EQ(seq[i].first, cHaffmanTable::getBitHuff(st, (int)longest, &table, data, pos)) << t.what << " " << i;
            ASSERT_EQ((int)seq[i].second, cHaffmanTable::getBitHuff(st, seq[i].first, nullptr, data, pos)) << i;
        }
        // The last code may peek into padding, never further than one lookup's worth.
        EXPECT_LE(pos, data.count + 2);
    }
}

// A plain model: codes assigned by counting up within each length (T.81 C.2), decoded bit by bit.
std::map<std::pair<int, unsigned>, int> modelCodes(const unsigned char* counts, const unsigned char* symbols) {
    std::map<std::pair<int, unsigned>, int> m;
    unsigned code = 0;
    int k = 0;
    for (int len = 1; len <= 16; len++) {
        for (int i = 0; i < counts[len - 1]; i++) m[{len, code++}] = symbols[k++];
        code <<= 1;
    }
    return m;
}

TEST(HaffmanTable, RandomCompleteTablesAgreeWithModel) {
    for (unsigned seed = 1; seed <= 40; seed++) {
        Bytes r = testutil::randomBytes(4000, seed);
        // Split the code space at random: a count vector that fills it exactly, up to length 12.
        unsigned char desc[16 + 256] = {};
        int maxLen = 2 + (int)(seed % 11);
        unsigned long long room = 2;  // free codes at the current length
        int total = 0;
        for (int len = 1; len <= maxLen && total < 250; len++) {
            unsigned long long n = len == maxLen ? room : r[len] % (room + 1);
            if ((unsigned long long)total + n > 250) n = 250 - total;
            desc[len - 1] = (unsigned char)n;
            total += (int)n;
            room = (room - n) * 2;
        }
        for (int i = 0; i < total; i++) desc[16 + i] = r[100 + i];
        const unsigned char* p = desc;
        _typebuf<unsigned int> table;
        ASSERT_TRUE(cHaffmanTable::createIndexTable(p, table, 16 + total)) << seed;
        auto model = modelCodes(desc, desc + 16);
        std::vector<std::pair<int, unsigned>> codes;
        for (auto& kv : model) codes.push_back(kv.first);
        BitWriter w;
        std::vector<int> want;
        for (int i = 0; i < 500; i++) {
            auto c = codes[r[1000 + i] % codes.size()];
            w.put(c.second, c.first);
            want.push_back(model[c]);
        }
        sHaffBitState st = {};
        long long pos = 0;
        for (size_t i = 0; i < want.size(); i++)
            ASSERT_EQ(want[i], cHaffmanTable::getBitHuff(st, (int)table[0], &table, w.out.data(), (long long)w.out.size(), pos))
                << "seed " << seed << " symbol " << i;
        EXPECT_EQ(0, st.overrun > 2);
    }
}

TEST(HaffmanTable, RefusesImpossibleDescriptions) {
    struct {
        const char* what;
        std::vector<int> counts;
        long long size;
    } bad[] = {
        {"three codes of length 1", {3}, 32},
        {"two of length 1, one of length 2", {2, 1}, 32},
        {"one of length 1, three of length 2", {1, 3}, 32},
        {"255 of length 8, then 3 of length 9", {0, 0, 0, 0, 0, 0, 0, 255, 3}, 2000},
        {"no codes", {}, 32},
        {"more symbols than the description holds", {0, 4, 8}, 16 + 11},
        {"description shorter than its counts", {0, 1}, 15},
    };
    for (const auto& b : bad) {
        unsigned char desc[2048] = {};
        for (size_t i = 0; i < b.counts.size() && i < 16; i++) desc[i] = (unsigned char)b.counts[i];
        const unsigned char* p = desc;
        _typebuf<unsigned int> table;
        table.set(5);
        EXPECT_FALSE(cHaffmanTable::createIndexTable(p, table, b.size)) << b.what;
        EXPECT_EQ(desc, p) << b.what;
        EXPECT_EQ(0, table.count) << b.what;
    }
    // The edge: 255 of length 8 leave room for exactly 2 of length 9.
    unsigned char full[16 + 257] = {};
    full[7] = 255;
    full[8] = 2;
    const unsigned char* p = full;
    _typebuf<unsigned int> table;
    EXPECT_TRUE(cHaffmanTable::createIndexTable(p, table, sizeof(full)));
}

TEST(HaffmanTable, ReaderSurvivesEndOfDataAndUnknownCodes) {
    // An incomplete table: one code "0" of length 1; values starting with 1 start no code.
    unsigned char desc[32] = {1};
    desc[16] = 42;
    const unsigned char* p = desc;
    _typebuf<unsigned int> table;
    ASSERT_TRUE(cHaffmanTable::createIndexTable(p, table));
    const unsigned char data[] = {0x5F};  // 0 1 0 1 1111
    sHaffBitState st = {};
    long long pos = 0;
    EXPECT_EQ(42, cHaffmanTable::getBitHuff(st, 1, &table, data, 1, pos));
    EXPECT_EQ(-1, cHaffmanTable::getBitHuff(st, 1, &table, data, 1, pos));
    EXPECT_EQ(42, cHaffmanTable::getBitHuff(st, 1, &table, data, 1, pos));
    EXPECT_EQ(0x3E, cHaffmanTable::getBitHuff(st, 6, nullptr, data, 1, pos));  // 11111 then a zero past the end
    EXPECT_EQ(1, st.overrun);
    // Reading far past the end yields zeros and counts the bytes; nothing is touched out there.
    for (int i = 0; i < 100; i++) EXPECT_EQ(0, cHaffmanTable::getBitHuff(st, 24, nullptr, data, 1, pos));
    EXPECT_GT(st.overrun, 290);
    EXPECT_EQ(0, cHaffmanTable::getBitHuff(st, 0, nullptr, data, 1, pos));
    EXPECT_EQ(-1, cHaffmanTable::getBitHuff(st, 26, nullptr, data, 1, pos));
    // The reset flag drops held bits.
    const unsigned char two[] = {0xA5, 0x3C};
    sHaffBitState s2 = {};
    long long at = 0;
    EXPECT_EQ(0xA, cHaffmanTable::getBitHuff(s2, 4, nullptr, two, 2, at));
    s2.reset = true;
    EXPECT_EQ(0x3C, cHaffmanTable::getBitHuff(s2, 8, nullptr, two, 2, at));
    // A table whose header lies about its size is refused, not indexed.
    _typebuf<unsigned int> liar;
    liar.set(3);
    liar[0] = 16;
    liar[1] = liar[2] = 0x101;
    EXPECT_EQ(-1, cHaffmanTable::getBitHuff(s2, 16, &liar, two, 2, at));
}

}  // namespace
