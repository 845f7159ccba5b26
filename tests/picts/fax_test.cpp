// cFaxDecoder on rows coded by a plain two-dimensional encoder written here from T.4 4.2 and
// T.6: pass and vertical modes, with spans in uncompressed mode where horizontal mode would
// go (fax2tiff never writes that mode). The source rows are the oracle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "picts/fax/faxdecoder.h"

namespace {

using Row = std::vector<int>;  // 0 white, 1 black

struct Bits {
    std::vector<unsigned char> b;
    long long n = 0;
    void put(const std::string& s) {
        for (char c : s) {
            if ((n & 7) == 0) b.push_back(0);
            if (c == '1') b.back() |= (unsigned char)(0x80 >> (n & 7));
            n++;
        }
    }
    void zeros(int k) { put(std::string((size_t)k, '0')); }
};

struct Encoder {
    long long W;
    bool t4;
    unsigned seed;
    int uncompressedEvery;  // 1: every step in uncompressed mode; k: one step in k at random
    Bits out;

    int at(const Row& r, long long x) const { return x < 0 ? 0 : r[(size_t)x]; }
    // The first changing element right of x (W when there is none).
    long long change(const Row& r, long long x) const {
        for (long long i = x + 1; i < W; i++)
            if (at(r, i) != at(r, i - 1)) return i;
        return W;
    }
    // T.4 table 5 (T.6 table 3): uncompressed mode from a0 up to q, then the exit code.
    void uncompressed(const Row& cur, long long from, long long q, int resume) {
        out.put("0000001111");
        int whites = 0;
        for (long long x = from; x < q; x++) {
            if (!cur[(size_t)x]) {
                if (++whites == 5) out.put("000001"), whites = 0;
                continue;
            }
            out.zeros(whites);
            out.put("1");
            whites = 0;
        }
        out.zeros(6 + whites);
        out.put(resume ? "11" : "10");
    }
    void row(const Row& cur, const Row& ref) {
        if (t4) out.put("0000000000010");  // EOL, then the tag of a 2D row
        long long a0 = -1;
        int colour = 0;
        while (a0 < W) {
            long long a1 = change(cur, a0), b1 = change(ref, a0);
            while (b1 < W && at(ref, b1) == colour) b1 = change(ref, b1);
            long long b2 = b1 < W ? change(ref, b1) : W;
            bool plain = uncompressedEvery > 1 && (seed = seed * 1103515245u + 12345u) % (unsigned)uncompressedEvery;
            if (plain && b2 < a1) {
                out.put("0001");  // pass
                a0 = b2;
            } else if (plain && a1 - b1 >= -3 && a1 - b1 <= 3) {
                static const char* kVertical[] = {"0000010", "000010", "010", "1", "011", "000011", "0000011"};
                out.put(kVertical[a1 - b1 + 3]);
                a0 = a1;
                colour ^= 1;
            } else {
                seed = seed * 1103515245u + 12345u;
                long long q = a1 + 1 + (long long)(seed >> 16) % 9;
                if (q > W) q = W;
                int resume = at(cur, q < W ? q : W - 1);
                uncompressed(cur, a0 < 0 ? 0 : a0, q, resume);
                a0 = q;
                colour = resume;
            }
        }
    }
};

std::vector<Row> picture(long long W, long long H, unsigned seed) {
    // Runs of random lengths, short and long, so that every code of the mode turns up.
    std::vector<Row> rows((size_t)H, Row((size_t)W));
    int c = 0;
    for (auto& r : rows)
        for (long long x = 0; x < W;) {
            seed = seed * 1664525u + 1013904223u;
            long long run = 1 + (seed >> 24) % ((seed >> 8) & 1 ? 3 : 14);
            for (long long i = 0; i < run && x < W; i++) r[(size_t)x++] = c;
            c ^= 1;
        }
    return rows;
}

std::vector<Row> decoded(const _typebuf<unsigned char>& out, long long W, long long H, bool whiteIsOne) {
    std::vector<Row> rows((size_t)H, Row((size_t)W));
    long long bytes = (W + 7) / 8;
    for (long long y = 0; y < H; y++)
        for (long long x = 0; x < W; x++) {
            int bit = (out.ptr[y * bytes + x / 8] >> (7 - x % 8)) & 1;
            rows[(size_t)y][(size_t)x] = whiteIsOne ? !bit : bit;
        }
    return rows;
}

}  // namespace

TEST(FaxDecoder, UncompressedModeSpansDecodeToTheirRows) {
    struct {
        const char* name;
        long long W, H;
        bool t4, whiteIsOne;
        int every;
    } cases[] = {
        {"T.6, every step uncompressed", 61, 9, false, false, 1},
        {"T.6, uncompressed among pass and vertical", 203, 40, false, false, 3},
        {"T.6, white is one", 77, 12, false, true, 2},
        {"T.4 2D", 130, 25, true, false, 3},
        {"one pixel wide", 1, 6, false, false, 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Row> src = picture(c.W, c.H, (unsigned)c.W * 7 + 1);
        Encoder e{c.W, c.t4, 99, c.every, {}};
        Row white((size_t)c.W, 0);
        for (long long y = 0; y < c.H; y++) e.row(src[(size_t)y], y ? src[(size_t)y - 1] : white);
        e.out.zeros(16);
        cFaxDecoder d(c.W, c.H, c.t4 ? cFaxDecoder::fcT4 : cFaxDecoder::fcT6, c.t4, false, c.whiteIsOne);
        _typebuf<unsigned char> out;
        ASSERT_TRUE(d.decode(e.out.b.data(), (long long)e.out.b.size(), out)) << "row " << d.rowsDone();
        EXPECT_EQ(decoded(out, c.W, c.H, c.whiteIsOne), src);
    }
}

// Hand-coded rows of 8 pixels (T.6 unless the name says T.4): each is decoded, or refused
// when malformed, and never written past its row.
TEST(FaxDecoder, UncompressedModeCodesAndMalformedOnes) {
    const std::string enter = "0000001111";
    struct {
        const char* name;
        std::string bits;
        bool t4, ok;
        const char* row;  // the decoded row, "." white, "#" black
    } cases[] = {
        {"patterns, exit with two whites", enter + "1" + "01" + "001" + "000000001" + "0", false, true, "#.#..#.."},
        {"five whites, exit with three, resume black at the end", enter + "000001" + "0000000001" + "1", false,
         true, "........"},
        {"exit at the start resuming black, then VL3 and V0", enter + "0000001" + "1" + "0000010" + "1", false, true,
         "#####..."},
        {"T.4 row cut by an EOL inside the mode", "000000000001" "0" + enter + "0001" + "000000000001", true, true,
         "...#...."},
        {"T.4 1D row cut by an EOL after a white run", "000000000001" "1" "1000" "000000000001", true, true,
         "........"},
        {"extension other than uncompressed", "0000001110" "1", false, false, nullptr},
        {"black pixel past the row", enter + "1" + "1" + "1" + "1" + "1" + "1" + "1" + "1" + "1", false, false,
         nullptr},
        {"exit whites past the row", enter + "00001" + "000001" + "00000000001" + "0", false, false, nullptr},
        {"data ends inside the mode", enter + "001", false, false, nullptr},
        {"data ends before the resume bit", enter + "001" + "0001" + "0000001", false, false, nullptr},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bits b;
        b.put(c.bits);
        if (c.ok) b.zeros(24);  // room for the end of the page
        cFaxDecoder d(8, 1, c.t4 ? cFaxDecoder::fcT4 : cFaxDecoder::fcT6, c.t4, false, false);
        _typebuf<unsigned char> out;
        ASSERT_EQ(d.decode(b.b.data(), (long long)b.b.size(), out), c.ok);
        if (!c.ok) continue;
        std::string got;
        for (int x = 0; x < 8; x++) got += (out.ptr[0] >> (7 - x)) & 1 ? '#' : '.';
        EXPECT_EQ(got, c.row);
    }
}
