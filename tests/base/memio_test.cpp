// Memory streams against plain models: the paged file, the read cache and the
// write-behind buffer on random operations; windows and wrappers at their edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "base/memio.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// A growable file as a vector: the reference every stream is compared with.
struct FileModel {
    Bytes data;
    unsigned long long pos = 0;

    long long write(const unsigned char* p, long long n) {
        if (n <= 0) return 0;
        if (pos + n > data.size()) data.resize(pos + n, 0);
        std::copy(p, p + n, data.begin() + pos);
        pos += n;
        return n;
    }
    long long read(unsigned char* p, long long n) {
        if (pos >= data.size()) return 0;
        long long m = std::min<long long>(n, data.size() - pos);
        std::copy(data.begin() + pos, data.begin() + pos + m, p);
        pos += m;
        return m;
    }
    void setEof() { data.resize(pos, 0); }
};

Bytes contentOf(cFileIOTarget& s) {
    Bytes out(s.size());
    unsigned long long keep = s.get_fp();
    s.set_fp(0);
    long long got = out.empty() ? 0 : s.read(out.data(), (long long)out.size());
    out.resize(got < 0 ? 0 : got);
    s.set_fp(keep);
    return out;
}

}  // namespace

TEST(MemIOTarget, RandomOperationsAcrossPagesMatchVectorModel) {
    for (long long pageSize : {128LL, 200LL, 4096LL}) {
        std::mt19937 rng((unsigned)pageSize);
        cMemIOTarget mem(pageSize);
        ASSERT_EQ(pageSize, mem.pageSize());
        FileModel model;
        Bytes buf(3 * pageSize + 17), got(buf.size()), want(buf.size());
        for (int step = 0; step < 3000; step++) {
            int op = rng() % 10;
            long long n = rng() % buf.size();
            if (op < 4) {
                for (long long i = 0; i < n; i++) buf[i] = (unsigned char)rng();
                ASSERT_EQ(n, mem.write(buf.data(), n));
                model.write(buf.data(), n);
            } else if (op < 7) {
                long long a = mem.read(got.data(), n), b = model.read(want.data(), n);
                ASSERT_EQ(b, a) << "step " << step;
                ASSERT_TRUE(std::equal(want.begin(), want.begin() + b, got.begin())) << "step " << step;
            } else if (op < 9) {
                // Seeks land inside, at the end and past the end (a gap to zero-fill).
                unsigned long long to = rng() % (model.data.size() + 2 * pageSize + 1);
                ASSERT_TRUE(mem.set_fp(to));
                model.pos = to;
            } else {
                ASSERT_TRUE(mem.set_eof());
                model.setEof();
            }
            ASSERT_EQ(model.data.size(), mem.size());
            ASSERT_EQ(model.pos, mem.get_fp());
        }
        _typebuf<unsigned char> all;
        ASSERT_TRUE(mem.toBuffer(all));
        ASSERT_EQ((long long)model.data.size(), all.count);
        EXPECT_TRUE(std::equal(model.data.begin(), model.data.end(), all.ptr));
    }
}

TEST(MemIOTarget, TruncatedTailReadsAsZeroWhenRegrown) {
    cMemIOTarget mem(128);
    Bytes ff(300, 0xFF);
    ASSERT_EQ(300, mem.write(ff.data(), 300));
    ASSERT_TRUE(mem.set_fp(130));
    ASSERT_TRUE(mem.set_eof());  // cut inside the second page
    ASSERT_TRUE(mem.set_fp(290));
    unsigned char one = 7;
    ASSERT_EQ(1, mem.write(&one, 1));
    Bytes c = contentOf(mem);
    ASSERT_EQ(291u, c.size());
    for (size_t i = 0; i < 130; i++) ASSERT_EQ(0xFF, c[i]) << i;
    for (size_t i = 130; i < 290; i++) ASSERT_EQ(0, c[i]) << i;
    EXPECT_EQ(7, c[290]);
}

TEST(MemIOTarget, PageSizeOutsideRangeBecomesDefault) {
    const struct {
        long long asked, used;
    } cases[] = {{0, 65536},   {-5, 65536},      {127, 65536},           {128, 128},
                 {1000, 1000}, {0x7FFFFFFF, 0x7FFFFFFF}, {0x80000000LL, 65536}};
    for (const auto& c : cases) EXPECT_EQ(c.used, cMemIOTarget(c.asked).pageSize()) << c.asked;
}

TEST(MemIOTarget, AbsurdPositionFailsWithoutGrowing) {
    cMemIOTarget mem(128);
    unsigned char b[4] = {1, 2, 3, 4};
    ASSERT_EQ(4, mem.write(b, 4));
    for (unsigned long long at : {1ULL << 62, ~0ULL - 1, ~0ULL}) {
        ASSERT_TRUE(mem.set_fp(at));
        EXPECT_EQ(0, mem.write(b, 4)) << at;
        EXPECT_EQ(4u, mem.size());
        EXPECT_EQ(0, mem.read(b, 4));
    }
    mem.close();
    EXPECT_EQ(0u, mem.size());
    EXPECT_EQ(0u, mem.get_fp());
    _typebuf<unsigned char> all;
    EXPECT_TRUE(mem.toBuffer(all));
    EXPECT_EQ(0, all.count);
    EXPECT_EQ(2, mem.write(b, 2));  // usable again after close
}

TEST(MemBufferedIO, RandomReadsAndSeeksMatchTarget) {
    Bytes data(50000);
    std::mt19937 rng(3);
    for (auto& b : data) b = (unsigned char)rng();
    for (long long cache : {1LL, 7LL, 4096LL, 0LL /* default */}) {
        cBufWrapperIO under(data.data(), (long long)data.size());
        cMemBufferedIO io;
        ASSERT_TRUE(io.ref(&under, cache));
        ASSERT_EQ(data.size(), io.size());
        unsigned long long pos = 0;
        Bytes got(9000);
        for (int step = 0; step < 2000; step++) {
            if (rng() % 4 == 0) {
                unsigned long long to = rng() % (data.size() + 100);
                bool ok = io.set_fp(to);
                // The wrapper clamps past its end and says false; the cache says the same.
                EXPECT_EQ(to <= data.size(), ok);
                pos = std::min<unsigned long long>(to, data.size());
            }
            if (rng() % 5 == 0) under.set_fp(rng() % data.size());  // someone else moves the target
            long long n = rng() % (rng() % 3 ? 64 : got.size());
            long long want = std::min<long long>(n, data.size() - pos);
            ASSERT_EQ(want, io.read(got.data(), n)) << "step " << step;
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + want, data.begin() + pos)) << "step " << step;
            pos += want;
            ASSERT_EQ(pos, io.get_fp());
        }
    }
}

TEST(MemBufferedIO, WriteThroughInvalidatesCache) {
    cMemIOTarget mem(128);
    Bytes data(1000, 'a');
    mem.write(data.data(), 1000);
    cMemBufferedIO io(&mem, 256);
    ASSERT_TRUE(io.set_fp(0));
    unsigned char b[10];
    ASSERT_EQ(10, io.read(b, 10));  // the first 256 bytes are now cached
    ASSERT_TRUE(io.set_fp(5));
    ASSERT_EQ(3, io.write("xyz", 3));
    ASSERT_TRUE(io.set_fp(4));
    ASSERT_EQ(5, io.read(b, 5));
    EXPECT_EQ(0, memcmp(b, "axyza", 5));
}

TEST(MemBufferedLinearWriterIO, RandomWritesAndSeeksMatchModel) {
    for (long long bufSize : {1LL, 16LL, 333LL, 4096LL}) {
        std::mt19937 rng((unsigned)bufSize + 11);
        cMemIOTarget target(256);
        FileModel model;
        {
            cMemBufferedLinearWriterIO w;
            ASSERT_TRUE(w.ref(&target, bufSize));
            Bytes buf(1000), got(1000), want(1000);
            for (int step = 0; step < 1500; step++) {
                int op = rng() % 12;
                long long n = rng() % (rng() % 4 ? 40 : buf.size());
                if (op < 8) {
                    for (long long i = 0; i < n; i++) buf[i] = (unsigned char)rng();
                    ASSERT_EQ(n, w.write(buf.data(), n));
                    model.write(buf.data(), n);
                } else if (op < 10) {
                    unsigned long long to = rng() % (model.data.size() + 50);
                    ASSERT_TRUE(w.set_fp(to));
                    model.pos = to;
                } else if (op < 11) {
                    long long a = w.read(got.data(), n), b = model.read(want.data(), n);
                    ASSERT_EQ(b, a) << "step " << step;
                    ASSERT_TRUE(std::equal(want.begin(), want.begin() + b, got.begin()));
                } else {
                    ASSERT_TRUE(w.set_eof());
                    model.setEof();
                }
                ASSERT_EQ(model.data.size(), w.size()) << "step " << step << " op " << op << " n " << n << " buf " << bufSize;
                ASSERT_EQ(model.pos, w.get_fp());
            }
        }  // the destructor flushes
        EXPECT_EQ(model.data, contentOf(target)) << "buffer " << bufSize;
    }
}

TEST(MemBufferedLinearWriterIO, FailedFlushIsReportedNotSwallowed) {
    // The target is a fixed 10-byte block: the flush of bytes past it must fail.
    unsigned char block[10] = {};
    cBufWrapperIO target(block, sizeof(block), true);
    cMemBufferedLinearWriterIO w(&target, 4);
    const char* text = "0123456789ABCDEF";
    long long accepted = 0;
    int failedAt = -1;
    for (int i = 0; i < 8; i++) {
        long long r = w.write(text + 2 * i, 2);
        if (r != 2) {
            failedAt = i;
            break;
        }
        accepted += r;
    }
    EXPECT_NE(-1, failedAt) << "a write past the block must fail once a flush fails";
    EXPECT_FALSE(w.valid());
    EXPECT_EQ(0, w.write("zz", 2));  // stays failed
    w.close();
    EXPECT_FALSE(w.valid());

    // Failure found only at close time.
    unsigned char ro[4] = {};
    cBufWrapperIO readOnly(ro, sizeof(ro), false);
    cMemBufferedLinearWriterIO w2(&readOnly, 64);
    EXPECT_EQ(3, w2.write("abc", 3));
    EXPECT_TRUE(w2.valid());
    w2.close();
    EXPECT_FALSE(w2.valid());

    // And a clean close stays valid.
    cMemIOTarget mem;
    cMemBufferedLinearWriterIO w3(&mem, 64);
    EXPECT_EQ(3, w3.write("abc", 3));
    w3.close();
    EXPECT_TRUE(w3.valid());
    EXPECT_EQ(3u, mem.size());
}

TEST(MemBufferedLinearWriterIO, WriteThatWouldWrapPastTheLastOffsetIsRefused) {
    // The memory file takes any position, so only the buffer itself can refuse.
    const unsigned char b[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (unsigned long long at : {~0ULL - 3, ~0ULL - 16, ~0ULL}) {
        cMemIOTarget mem;
        cMemBufferedLinearWriterIO w(&mem, 64);
        ASSERT_TRUE(w.set_fp(at));
        long long room = (long long)(~0ULL - at);
        long long r = w.write(b, 16);
        if (room < 16) {
            EXPECT_EQ(0, r) << at;
            EXPECT_EQ(at, w.get_fp()) << at;  // not wrapped round to a small offset
            EXPECT_EQ(0u, w.size()) << at;
            EXPECT_TRUE(w.valid()) << at;     // refused, nothing pending that must fail later
        } else {
            EXPECT_EQ(16, r) << at;
            EXPECT_EQ(~0ULL - room + 16, w.get_fp()) << at;
        }
    }
}

TEST(BufWrapperIO, NeverPassesEndNorWritesReadOnly) {
    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char out[16] = {};
    cBufWrapperIO io(block, 8);
    ASSERT_TRUE(io.set_fp(5));
    EXPECT_EQ(3, io.read(out, 16));
    EXPECT_EQ(0, io.read(out, 16));
    EXPECT_FALSE(io.set_fp(9));
    EXPECT_EQ(8u, io.get_fp());
    ASSERT_TRUE(io.set_fp(0));
    EXPECT_EQ(0, io.write("xx", 2));
    EXPECT_EQ(1, block[0]);

    io.wrap(block, 8, true);
    ASSERT_TRUE(io.set_fp(6));
    EXPECT_EQ(2, io.write("abcd", 4));  // never grows
    EXPECT_EQ('a', block[6]);
    EXPECT_EQ('b', block[7]);
    EXPECT_EQ(8u, io.size());

    // Hostile sizes give an empty stream.
    cBufWrapperIO bad(nullptr, 100);
    EXPECT_EQ(0u, bad.size());
    EXPECT_EQ(0, bad.read(out, 4));
    cBufWrapperIO neg(block, -3);
    EXPECT_EQ(0u, neg.size());
}

TEST(FileIOSubRange, WindowsAreClampedAtTheEdges) {
    Bytes data(100);
    for (int i = 0; i < 100; i++) data[i] = (unsigned char)i;
    cBufWrapperIO base(data.data(), 100);
    const struct {
        unsigned long long start, length;
        unsigned long long wantStart, wantSize;
    } cases[] = {
        {0, ~0ULL, 0, 100},   {10, 20, 10, 20},  {90, 20, 90, 10}, {100, 5, 100, 0},
        {150, 5, 100, 0},     {40, ~0ULL, 40, 60}, {0, 0, 0, 0},   {99, 1, 99, 1},
        {~0ULL, ~0ULL, 100, 0},
    };
    for (const auto& c : cases) {
        cFileIOSubRange sub(&base, c.start, c.length);
        EXPECT_EQ(c.wantStart, sub.start()) << c.start << "+" << c.length;
        ASSERT_EQ(c.wantSize, sub.size()) << c.start << "+" << c.length;
        // Read everything in odd pieces, straddling the end.
        Bytes got;
        unsigned char piece[7];
        long long r;
        while ((r = sub.read(piece, 7)) > 0) got.insert(got.end(), piece, piece + r);
        ASSERT_EQ(c.wantSize, got.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + c.wantStart));
        EXPECT_FALSE(sub.set_fp(c.wantSize + 1));
        EXPECT_EQ(c.wantSize, sub.get_fp());
        EXPECT_TRUE(sub.set_fp(c.wantSize));
    }
}

TEST(FileIOSubRange, ReseeksTargetAndWritesStayInside) {
    cMemIOTarget mem(128);
    Bytes data(300);
    for (int i = 0; i < 300; i++) data[i] = (unsigned char)(i * 7);
    mem.write(data.data(), 300);
    cFileIOSubRange sub(&mem, 200, 50);
    unsigned char b[4];
    ASSERT_EQ(4, sub.read(b, 4));
    mem.set_fp(0);  // another user moves the shared target
    ASSERT_EQ(4, sub.read(b, 4));
    EXPECT_EQ(data[204], b[0]);
    ASSERT_TRUE(sub.set_fp(48));
    EXPECT_EQ(2, sub.write("WXYZ", 4));
    EXPECT_EQ(300u, mem.size());
    Bytes c = contentOf(mem);
    EXPECT_EQ('W', c[248]);
    EXPECT_EQ('X', c[249]);
    EXPECT_EQ(data[250], c[250]);

    // A window on a window.
    cFileIOSubRange inner(&sub, 10, 5);
    ASSERT_EQ(5u, inner.size());
    unsigned char five[8];
    ASSERT_EQ(5, inner.read(five, 8));
    EXPECT_EQ(data[210], five[0]);
    EXPECT_EQ(data[214], five[4]);
    EXPECT_FALSE(cFileIOSubRange().wrap(nullptr, 0, 1));
}
