// The TIFF directory walker on crafted classic and BigTIFF streams and
// hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "base/memio.h"
#include "picts/raw/olympus/pictorf.h"
#include "picts/raw/panasonic/pictrwl.h"
#include "picts/tiffwalk/tiffgeneric.h"
#include "tiffbytes.h"

namespace {

struct Seen {
    int tag, type, size;
    std::vector<unsigned char> data;
};

class cRecorder : public cTiffGeneric {
public:
    std::vector<Seen> seen;
    std::vector<unsigned> rawOffsets;
    int stopAt = -1;
    bool onRawTag(int tag, int type, const void* data, int size, unsigned int offset) override {
        rawOffsets.push_back(offset);
        return cTiffGeneric::onRawTag(tag, type, data, size, offset);
    }
    bool onTag(int tag, int type, const void* data, int size) override {
        const unsigned char* p = (const unsigned char*)data;
        seen.push_back({tag, type, size, std::vector<unsigned char>(p, p + size)});
        return tag != stopAt;
    }
    const Seen* find(int tag) const {
        for (auto& s : seen)
            if (s.tag == tag) return &s;
        return nullptr;
    }
    // The seen tag's value as the value readers take it (an empty one when it was not seen).
    cTiffGeneric::sTagProcessParam param(int tag) const {
        const Seen* s = find(tag);
        return s ? cTiffGeneric::sTagProcessParam{s->tag, s->type, s->data.data(), s->size}
                 : cTiffGeneric::sTagProcessParam{tag, 0, nullptr, 0};
    }
};

// One IFD with: a SHORT of count 2 (inline in both layouts), a SHORT of count 3 (inline
// only in BigTIFF), 4 SHORTs, a RATIONAL with denominator 0, an ASCII text, and a next-IFD
// offset pointing at an IFD with zero entries. Values that do not fit their entry follow the IFD.
TiffBytes sample(bool be, bool big) {
    TiffBytes t(be, big);
    const struct {
        unsigned tag, type, n;
        std::vector<unsigned char> v;
    } ents[] = {
        {256, 3, 1, t.vals(2, {640})},       {258, 3, 2, t.vals(2, {8, 16})},  {259, 3, 3, t.vals(2, {5, 6, 7})},
        {260, 3, 4, t.vals(2, {1, 2, 3, 4})}, {282, 5, 1, t.vals(4, {7, 0})}, {305, 2, 6, {'h', 'e', 'l', 'l', 'o', 0}},
    };
    const unsigned long long ifd = big ? 16 : 8, data = ifd + (big ? 8 + 6 * 20 + 8 : 2 + 6 * 12 + 4);
    t.header(ifd);
    t.count(6);
    std::vector<unsigned char> outOfLine;
    for (auto& e : ents) {
        if (e.v.size() <= (big ? 8u : 4u)) {
            t.entry(e.tag, e.type, e.n, e.v);
            continue;
        }
        t.entryOff(e.tag, e.type, e.n, data + outOfLine.size());
        outOfLine.insert(outOfLine.end(), e.v.begin(), e.v.end());
    }
    t.off(data + outOfLine.size());  // the next IFD, after the values
    t.b.insert(t.b.end(), outOfLine.begin(), outOfLine.end());
    t.count(0);
    t.off(0);
    return t;
}

TEST(TiffGeneric, WalksClassicAndBigTiffInBothByteOrders) {
    for (int v = 0; v < 4; v++) {
        bool be = v & 1, big = v & 2;
        TiffBytes t = sample(be, big);
        cBufWrapperIO io(t.b.data(), (long long)t.size());
        cRecorder r;
        ASSERT_TRUE(r.processStream(&io, ~0ULL)) << v << " error " << r.error();
        EXPECT_EQ(r.bigEndian(), be);
        EXPECT_EQ(r.bigTiff(), big);
        ASSERT_EQ(r.seen.size(), 7u) << v;  // 6 entries and the next-IFD pseudo tag
        cTiffGeneric::sTagProcessParam p;
        unsigned short u16;
        unsigned u32;
        p = r.param(256);
        ASSERT_TRUE(r.getValU16(p, u16));
        EXPECT_EQ(u16, 640);
        ASSERT_TRUE(r.getValU32(p, u32));  // a SHORT widened
        EXPECT_EQ(u32, 640u);
        // Inline SHORT delivered as stored: big-endian bytes stay big-endian.
        EXPECT_EQ(r.find(256)->data[0], be ? 0x02 : 0x80);
        _typebuf<unsigned short> arr;
        for (auto tc : std::vector<std::pair<int, std::vector<unsigned>>>{{258, {8, 16}}, {259, {5, 6, 7}}, {260, {1, 2, 3, 4}}}) {
            ASSERT_TRUE(r.getValsU16(r.param(tc.first), arr));
            ASSERT_EQ(arr.count, (long long)tc.second.size());
            for (size_t k = 0; k < tc.second.size(); k++) EXPECT_EQ(arr.ptr[k], tc.second[k]);
        }
        // Inline vs out of line: count 3 SHORTs is inline only in BigTIFF, 4 SHORTs too.
        EXPECT_EQ(r.rawOffsets[1] == 0, true);
        EXPECT_EQ(r.rawOffsets[2] == 0, big);
        EXPECT_EQ(r.rawOffsets[3] == 0, big);
        p = r.param(282);
        double d = -1;
        ASSERT_TRUE(r.getValDouble(p, d));
        EXPECT_EQ(d, 0.0);
        cTiffGeneric::sRational rr;
        ASSERT_TRUE(r.getValRational(p, rr));
        EXPECT_EQ(rr.num, 7u);
        EXPECT_FALSE(r.getValU16(p, u16));  // wrong type: refused, untouched
        EXPECT_EQ(u16, 640);
        p = r.param(305);
        _typebuf<char> a;
        ASSERT_TRUE(r.getValsASCII(p, a));
        EXPECT_EQ(a.count, 6);
        _guardchar<char> g;
        ASSERT_TRUE(r.getValsPCHAR(p, g));
        EXPECT_STREQ(g.ptr, "hello");
        // The next IFD reaches onTag as a LONG; walking it finds zero entries and no next.
        p = r.param(cTiffGeneric::kNextIfdTag);
        EXPECT_EQ(p.type, 4);
        ASSERT_TRUE(r.getValU32(p, u32));
        EXPECT_EQ(u32, r.nextOffset());
        EXPECT_TRUE(r.markVisited(u32));
        r.seen.clear();
        ASSERT_TRUE(r.processStream(&io, be, big, u32, ~0ULL));
        EXPECT_TRUE(r.seen.empty());
        EXPECT_EQ(r.nextOffset(), 0u);
    }
}

std::vector<unsigned char> bytes(std::initializer_list<int> l) {
    std::vector<unsigned char> v;
    for (int x : l) v.push_back((unsigned char)x);
    return v;
}

TEST(TiffGeneric, RefusesBadHeadersAndHostileDirectories) {
    struct {
        const char* name;
        std::vector<unsigned char> data;
        int error;
    } cases[] = {
        {"seven bytes", bytes({'I', 'I', 42, 0, 8, 0, 0}), 2},
        {"first offset 4", bytes({'I', 'I', 42, 0, 4, 0, 0, 0, 0, 0}), 4},
        {"mark MI", bytes({'M', 'I', 0, 42, 0, 0, 0, 8, 0, 0}), 4},
        {"version 41", bytes({'I', 'I', 41, 0, 8, 0, 0, 0, 0, 0}), 4},
        {"IFD past end", bytes({'I', 'I', 42, 0, 0xF0, 0, 0, 0, 0, 0}), 2},
        {"IFD at 4 GiB - 1 (no 32-bit wrap)", bytes({'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}), 2},
        // Entry count 0xFFFF in a 10-byte IFD: refused before any entry is read.
        {"huge entry count", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 1, 1, 3, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 3},
        // Type 14 is refused.
        {"type 14", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 1, 1, 14, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 5},
        // Type 0 with a non-zero tag.
        {"type 0 tag 1", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 5},
        // 8 LONGs at offset 0x1000: past the end.
        {"value past end", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 1, 1, 4, 0, 8, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0}), 6},
        // 8 LONGs at offset 20: starts inside, runs past the end.
        {"value runs past end", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 1, 1, 4, 0, 8, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0}), 6},
        // Count larger than the stream.
        {"count beyond size", bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0}), 2},
        // LONG8 count 0x10000000: byte length beyond 31 bits (a big stream would be needed; count check first).
        {"BigTIFF offset above 4 GiB", bytes({'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}), 3},
    };
    for (auto& c : cases) {
        cBufWrapperIO io(c.data.data(), (long long)c.data.size());
        cRecorder r;
        EXPECT_FALSE(r.processStream(&io, ~0ULL)) << c.name;
        EXPECT_EQ(r.error(), c.error) << c.name;
    }
    cRecorder r;
    EXPECT_FALSE(r.processStream(nullptr, ~0ULL));
    EXPECT_EQ(r.error(), 1);
}

// Formats with TIFF's structure under their own magic take theirs and nothing else: the
// Olympus walker no plain TIFF, the Panasonic one no big-endian file.
TEST(TiffGeneric, FormatsWithOwnMagicsTakeOnlyThem) {
    struct Case {
        unsigned char head[4];
        bool tiff, orf, rwl;
    };
    const Case cases[] = {
        {{'I', 'I', 42, 0}, true, false, false},   {{'M', 'M', 0, 42}, true, false, false},
        {{'I', 'I', 'R', 'O'}, false, true, false}, {{'M', 'M', 'O', 'R'}, false, true, false},
        {{'I', 'I', 'R', 'S'}, false, true, false}, {{'M', 'M', 'S', 'R'}, false, true, false},
        {{'I', 'I', 'O', 'R'}, false, false, false}, {{'I', 'I', 'U', 0}, false, false, true},
        {{'M', 'M', 0, 'U'}, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string((const char*)c.head, 4));
        // The header, then an empty first directory at 8.
        std::vector<unsigned char> f(c.head, c.head + 4);
        const bool be = c.head[0] == 'M';
        for (unsigned char b : {0, 0, 0, 8}) f.push_back(b);
        if (!be) std::reverse(f.begin() + 4, f.end());
        f.resize(f.size() + 6, 0);
        cBufWrapperIO io(f.data(), (long long)f.size());
        cRecorder tiff;
        cPictORF orf;
        cPictRWL rwl;
        EXPECT_EQ(tiff.processStream(&io, ~0ULL), c.tiff);
        EXPECT_EQ(orf.processStream(&io, ~0ULL), c.orf);
        EXPECT_EQ(rwl.processStream(&io, ~0ULL), c.rwl);
        EXPECT_EQ(rwl.error(), c.rwl ? 0 : cTiffGeneric::teBadHeader);
    }
}

TEST(TiffGeneric, TypeZeroTagZeroIsDeliveredEmptyAndCallbacksCanStop) {
    auto d = bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0,
                    0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0,       // tag 0 type 0 count 5
                    1, 1, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0,       // tag 257 SHORT 9
                    0, 0, 0, 0});
    cBufWrapperIO io(d.data(), (long long)d.size());
    cRecorder r;
    ASSERT_TRUE(r.processStream(&io, ~0ULL));
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_EQ(r.seen[0].size, 0);
    cRecorder s;
    s.stopAt = 0;
    EXPECT_FALSE(s.processStream(&io, ~0ULL));
    EXPECT_EQ(s.error(), 7);
    EXPECT_EQ(s.seen.size(), 1u);
}

TEST(TiffGeneric, RejectsIfdCycle) {
    // IFD0 at 8 with no entries whose next offset is itself.
    auto d = bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0, 0});
    cBufWrapperIO io(d.data(), (long long)d.size());
    cRecorder r;
    ASSERT_TRUE(r.processStream(&io, ~0ULL));
    int pages = 1;
    while (r.nextOffset() && pages < 100) {
        if (!r.markVisited(r.nextOffset())) break;
        ASSERT_TRUE(r.processStream(&io, false, false, r.nextOffset(), ~0ULL));
        pages++;
    }
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(r.error(), cTiffGeneric::teCycle);
}

TEST(TiffGeneric, SurvivesTruncationAtEveryPrefix) {
    for (int v = 0; v < 4; v++) {
        TiffBytes t = sample(v & 1, v & 2);
        for (size_t n = 0; n < t.size(); n++) {
            cBufWrapperIO io(t.b.data(), (long long)n);
            cRecorder r;
            bool ok = r.processStream(&io, ~0ULL);
            // Values live after the IFD, so every proper prefix loses something.
            EXPECT_FALSE(ok && r.seen.size() == 7 && n < 40) << n;
            if (!ok) {
                EXPECT_NE(r.error(), 0);
            }
        }
    }
}

TEST(TiffGeneric, ParsesExifDates) {
    struct {
        const char* text;
        int len;
        bool ok;
        int y, mo, d, h, mi, s;
    } cases[] = {
        {"2023:07:14 13:45:59", 19, true, 2023, 7, 14, 13, 45, 59},
        {"2023:07:14", 10, true, 2023, 7, 14, 0, 0, 0},
        {"2023:07:14 13:45:59\0", 20, false},
        {"1899:07:14 13:45:59", 19, false},
        {"2023:13:14 13:45:59", 19, false},
        {"2023:07:14 24:00:00", 19, false},
        {"    :  :     :  :  ", 19, false},
    };
    for (auto& c : cases) {
        sTimestamp ts = {0, 0, 0, 0, 0, 0};
        EXPECT_EQ(cTiffGeneric::getDate(c.text, c.len, ts), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(ts.year, c.y);
        EXPECT_EQ(ts.month, c.mo);
        EXPECT_EQ(ts.day, c.d);
        EXPECT_EQ(ts.hour, c.h);
        EXPECT_EQ(ts.minute, c.mi);
        EXPECT_EQ(ts.second, c.s);
    }
}

}  // namespace
