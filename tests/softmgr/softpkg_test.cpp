// Payload items and the parallel deflater, checked against zlib itself and SHA-256 vectors.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "hash/sha256.h"
#include "softmgr/pardeflate.h"
#include "softmgr/pkgbody.h"
#include "softmgr/softpkg.h"
#include "testutil.h"

namespace {

std::vector<unsigned char> readAll(cFileIOTarget* s) {
    std::vector<unsigned char> out;
    unsigned char buf[1000];
    long long n;
    while ((n = s->read(buf, sizeof(buf))) > 0) out.insert(out.end(), buf, buf + n);
    return out;
}

std::string hex(const unsigned char* d, int n) {
    static const char* k = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < n; i++) {
        s += k[d[i] >> 4];
        s += k[d[i] & 15];
    }
    return s;
}

// Compressible but not trivial: words with random gaps.
std::vector<unsigned char> mixedBytes(size_t n, unsigned seed) {
    std::vector<unsigned char> r = testutil::randomBytes(n, seed);
    const char* text = "the quick brown fox jumps over the lazy dog ";
    for (size_t i = 0; i < n; i++)
        if ((i / 700) % 3 != 0) r[i] = (unsigned char)text[(i * 7 + i / 50) % 44];
    return r;
}

// A source whose size() promises more (or fewer) bytes than it delivers.
class cLyingSource : public cFileIOTarget {
public:
    cLyingSource(std::vector<unsigned char> d, unsigned long long claimed) : myData(std::move(d)), myClaim(claimed) {}
    unsigned long long size() override { return myClaim; }
    long long read(void* b, long long n) override {
        long long left = (long long)myData.size() - myPos;
        if (n > left) n = left;
        memcpy(b, myData.data() + myPos, (size_t)n);
        myPos += n;
        return n;
    }
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long p) override {
        myPos = (long long)p;
        return true;
    }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long get_fp() override { return (unsigned long long)myPos; }

private:
    std::vector<unsigned char> myData;
    unsigned long long myClaim;
    long long myPos = 0;
};

}  // namespace

TEST(SoftPkg, ItemsStreamBackTheirBytesStoredAndCompressed) {
    const size_t sizes[] = {1, 100, 4095, 4096, 4097, 8192, 65536 + 3, 300000};
    for (size_t size : sizes) {
        for (int compress = 0; compress < 2; compress++) {
            SCOPED_TRACE(std::to_string(size) + (compress ? " compressed" : " stored"));
            std::vector<unsigned char> data = mixedBytes(size, (unsigned)size);
            cBufWrapperIO src(data.data(), (long long)data.size());
            cSoftPkg pkg;
            ASSERT_EQ(pkg.addPkgItem(&src, compress != 0), 0);
            EXPECT_EQ(pkg.sizeOf(0), size);
            cFileIOTarget* s = pkg.item(0);
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(readAll(s), data);
            delete s;
            unsigned char d[32], ref[32];
            ASSERT_TRUE(pkg.digest(0, d));
            cBufWrapperIO again(data.data(), (long long)data.size());
            ASSERT_TRUE(cSoftPkg::mkDigest(&again, ref));
            EXPECT_EQ(hex(d, 32), hex(ref, 32));
            if (compress) {
                // The stored zlib stream must end properly (zlib refuses a stream without its end).
                _typebuf<unsigned char> wire;
                cMemIOTarget mem;
                ASSERT_TRUE(pkg.savePackage(&mem));
                ASSERT_TRUE(mem.toBuffer(wire));
                unsigned int stored;
                memcpy(&stored, wire.ptr + 4, 4);
                std::vector<unsigned char> plain(size + 10);
                uLongf plainLen = (uLongf)plain.size();
                ASSERT_EQ(uncompress(plain.data(), &plainLen, wire.ptr + 40, stored), Z_OK);
                ASSERT_EQ(plainLen, size);
                EXPECT_EQ(0, memcmp(plain.data(), data.data(), size));
            }
        }
    }
}

TEST(SoftPkg, MkDigestMatchesPublishedVectors) {
    struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (auto& c : cases) {
        cBufWrapperIO s(c.text, (long long)strlen(c.text));
        unsigned char d[32];
        ASSERT_TRUE(cSoftPkg::mkDigest(&s, d));
        EXPECT_EQ(hex(d, 32), c.digest) << c.text;
    }
    unsigned char d[32];
    EXPECT_FALSE(cSoftPkg::mkDigest(nullptr, d));
}

TEST(SoftPkg, RefusesSourceThatShrinksOrGrowsWhileRead) {
    for (int compress = 0; compress < 2; compress++) {
        std::vector<unsigned char> data = testutil::randomBytes(10000, 3);
        cLyingSource shrinks(data, 12000), grows(data, 8000);
        cSoftPkg pkg;
        EXPECT_EQ(pkg.addPkgItem(&shrinks, compress != 0), -1);
        EXPECT_EQ(pkg.addPkgItem(&grows, compress != 0), -1);
        EXPECT_EQ(pkg.addPkgItem(nullptr, compress != 0), -1);
        EXPECT_EQ(pkg.count(), 0u);
    }
}

// Files read into the spool's piece in memory (one read each) and past it (larger than
// the piece), mixed with items added from streams, come back whole, one by one and
// through the wire form; a file that cannot be opened, a folder and a file longer than
// its size add nothing.
TEST(SoftPkg, FilesGatheredInTheSpoolComeBackWhole) {
    testutil::TempDir t;
    const size_t sizes[] = {1, 5000, (1 << 20) - 1, 0, 1 << 20, 7000, (3 << 20) + 7, 2};
    std::vector<std::vector<unsigned char>> data;
    cSoftPkg pkg;
    int index = 0;
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); i++) {
        SCOPED_TRACE(sizes[i]);
        data.push_back(mixedBytes(sizes[i], (unsigned)i));
        std::string path = t.path() + "/f" + std::to_string(i);
        ASSERT_TRUE(testutil::writeFile(path, data.back()));
        int openError = -1;
        if (sizes[i] == 0) {
            EXPECT_EQ(pkg.addPkgFile(path.c_str(), openError), (int)cSoftPkg::kEmptyItem);
            data.pop_back();
            continue;
        }
        ASSERT_EQ(pkg.addPkgFile(path.c_str(), openError), index++);
        if (i % 3 == 1) {  // a stream between two files writes the spool directly
            data.push_back(mixedBytes(3000 + i, (unsigned)i + 50));
            cBufWrapperIO src(data.back().data(), (long long)data.back().size());
            ASSERT_EQ(pkg.addPkgItem(&src, false), index++);
        }
    }
    int openError = 0;
    EXPECT_EQ(pkg.addPkgFile((t.path() + "/none").c_str(), openError), -1);
    EXPECT_EQ(openError, ENOENT);
    EXPECT_EQ(pkg.addPkgFile(t.path().c_str(), openError), -1);
    EXPECT_EQ(openError, EISDIR);
    EXPECT_EQ(pkg.addPkgFile("/proc/self/status", openError), -1);  // size 0, yet bytes come
    EXPECT_EQ(openError, 0);
    ASSERT_EQ(pkg.count(), data.size());
    // The wire form first: it hashes what the spool holds as it goes.
    cMemIOTarget mem;
    ASSERT_TRUE(pkg.savePackage(&mem));
    ASSERT_TRUE(mem.set_fp(0));
    cSoftPkg back;
    ASSERT_TRUE(back.loadPackage(&mem));
    for (cSoftPkg* p : {&back, &pkg}) {
        ASSERT_EQ(p->count(), data.size());
        for (size_t i = 0; i < data.size(); i++) {
            cFileIOTarget* s = p->item((int)i);
            ASSERT_NE(s, nullptr);
            EXPECT_TRUE(readAll(s) == data[i]) << i;
            EXPECT_TRUE(s->valid()) << i;
            delete s;
        }
    }
}

TEST(SoftPkg, WireFormRoundTripsAndRefusesDamage) {
    cSoftPkg pkg;
    std::vector<std::vector<unsigned char>> items = {testutil::randomBytes(5000, 1), mixedBytes(9000, 2),
                                                     testutil::randomBytes(1, 3)};
    for (size_t i = 0; i < items.size(); i++) {
        cBufWrapperIO s(items[i].data(), (long long)items[i].size());
        ASSERT_EQ(pkg.addPkgItem(&s, i == 1), (int)i);
    }
    cMemIOTarget mem;
    ASSERT_TRUE(pkg.savePackage(&mem));
    _typebuf<unsigned char> wire;
    ASSERT_TRUE(mem.toBuffer(wire));

    cSoftPkg back;
    cBufWrapperIO in(wire.ptr, wire.count);
    ASSERT_TRUE(back.loadPackage(&in));
    ASSERT_EQ(back.count(), 3u);
    for (int i = 0; i < 3; i++) {
        cFileIOTarget* s = back.item(i);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(readAll(s), items[(size_t)i]);
        delete s;
    }
    EXPECT_EQ(back.sizeOf(1), 9000u);
    EXPECT_EQ(back.sizeOf(3), 0u);
    EXPECT_EQ(back.item(3), nullptr);
    EXPECT_EQ(back.item(-1), nullptr);

    // Every cut of the wire form fails cleanly.
    for (long long cut = 0; cut < wire.count; cut++) {
        cBufWrapperIO part(wire.ptr, cut);
        cSoftPkg p;
        EXPECT_FALSE(p.loadPackage(&part)) << cut;
    }
    // A stored length larger than what follows fails before allocating.
    unsigned char huge[48] = {0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF};
    cBufWrapperIO h(huge, sizeof(huge));
    cSoftPkg p;
    EXPECT_FALSE(p.loadPackage(&h));
    // A non-zero unpacked size before the terminating length 0 is refused.
    unsigned char badEnd[8] = {5, 0, 0, 0, 0, 0, 0, 0};
    cBufWrapperIO be(badEnd, 8);
    EXPECT_FALSE(p.loadPackage(&be));
    // A stored length 0 ends the list even when more records follow.
    std::vector<unsigned char> early(wire.ptr, wire.ptr + wire.count);
    std::vector<unsigned char> zero(8, 0);
    early.insert(early.begin(), zero.begin(), zero.end());
    cBufWrapperIO e(early.data(), (long long)early.size());
    EXPECT_TRUE(p.loadPackage(&e));
    EXPECT_EQ(p.count(), 0u);
}

// Another writer deflates items in 4096-byte pieces, each ended with a flush, and finishes
// the stream only after a short piece: an item whose size is a multiple of 4096 has no
// final block and no checksum. Its length and digest are the check; cut short or with
// another digest it reads as failed.
TEST(SoftPkg, ItemsWithoutEndOfStreamReadByLengthAndDigest) {
    for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH}) {
        for (size_t size : {(size_t)4096, (size_t)3 * 4096}) {
            std::vector<unsigned char> data = mixedBytes(size, (unsigned)size), packed(2 * size + 1024);
            z_stream zs;
            memset(&zs, 0, sizeof(zs));
            ASSERT_EQ(deflateInit(&zs, 9), Z_OK);
            zs.next_out = packed.data();
            zs.avail_out = (uInt)packed.size();
            for (size_t at = 0; at < size; at += 4096) {
                zs.next_in = data.data() + at;
                zs.avail_in = 4096;
                ASSERT_EQ(deflate(&zs, flush), Z_OK);
            }
            packed.resize(packed.size() - zs.avail_out);
            deflateEnd(&zs);
            unsigned char sum[32];
            SHA2Hash(data.data(), sum, size);
            struct {
                const char* what;
                unsigned int unpacked;
                bool badDigest;
                size_t yields;
                bool valid;
            } cases[] = {
                {"intact", (unsigned)size, false, size, true},
                {"longer than its stream", (unsigned)size + 1, false, size, false},
                {"other digest", (unsigned)size, true, size, false},
            };
            for (auto& c : cases) {
                SCOPED_TRACE(std::string(c.what) + " flush " + std::to_string(flush) + " size " + std::to_string(size));
                std::vector<unsigned char> wire(40);
                uint32_t head[2] = {c.unpacked, (uint32_t)packed.size()};
                memcpy(wire.data(), head, 8);
                memcpy(wire.data() + 8, sum, 32);
                wire[8] ^= c.badDigest ? 1 : 0;
                wire.insert(wire.end(), packed.begin(), packed.end());
                wire.resize(wire.size() + 8, 0);
                cBufWrapperIO in(wire.data(), (long long)wire.size());
                cSoftPkg pkg;
                ASSERT_TRUE(pkg.loadPackage(&in));
                cFileIOTarget* s = pkg.item(0);
                ASSERT_NE(s, nullptr);
                std::vector<unsigned char> got = readAll(s);
                EXPECT_EQ(got.size(), c.yields);
                EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
                EXPECT_EQ(s->valid(), c.valid);
                delete s;
            }
        }
    }
}

TEST(SoftPkg, SaveRefusesWhatTheWireFormCannotCarry) {
    cSoftPkg pkg;
    cMemIOTarget mem;
    EXPECT_FALSE(pkg.savePackage(&mem));  // no items
    EXPECT_EQ(mem.size(), 0u);
}

TEST(ParDeflate, JoinedBlocksInflateWithZlibAndStayCloseToOneStream) {
    struct {
        size_t size;
        long long block;
        int threads;
    } cases[] = {{0, 1 << 20, 4}, {1, 1 << 20, 4}, {32768, 32768, 3}, {100000, 32768, 8}, {3000000, 1 << 18, 0}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<unsigned char> data = mixedBytes(c.size, 9);
        cParDeflate z;
        ASSERT_TRUE(z.compress(data.data(), data.size(), 9, c.threads, c.block));
        _typebuf<unsigned char> out;
        ASSERT_TRUE(z.toBuffer(out));
        ASSERT_EQ((unsigned long long)out.count, z.packedSize());
        std::vector<unsigned char> plain(c.size + 1);
        uLongf n = (uLongf)plain.size();
        ASSERT_EQ(uncompress(plain.data(), &n, out.ptr, (uLong)out.count), Z_OK);
        ASSERT_EQ(n, c.size);
        if (c.size) {
            EXPECT_EQ(0, memcmp(plain.data(), data.data(), c.size));
        }
        if (c.size >= 1000000) {
            std::vector<unsigned char> one(compressBound((uLong)c.size));
            uLongf oneLen = (uLongf)one.size();
            ASSERT_EQ(compress2(one.data(), &oneLen, data.data(), (uLong)c.size, 9), Z_OK);
            EXPECT_LT((double)out.count, oneLen * 1.01 + 64);
        }
    }
}

TEST(ParDeflate, EveryBlockEdgeInflatesBackWithZlib) {
    // Sizes around one, two and three blocks, for the smallest block, an odd one and a
    // request below the minimum; stored, fast and best levels; incompressible and flat data.
    for (long long block : {1LL, 32768LL, 40001LL}) {
        size_t b = block < 32768 ? 32768 : (size_t)block;
        for (size_t size : {(size_t)0, (size_t)1, b - 1, b, b + 1, 2 * b - 1, 2 * b, 2 * b + 1, 3 * b + 3})
            for (int level : {0, 1, 9})
                for (int flat = 0; flat < 2; flat++)
                    for (int threads : {1, 4}) {
                        SCOPED_TRACE(testing::Message() << "block " << block << " size " << size << " level " << level
                                                        << " flat " << flat << " threads " << threads);
                        std::vector<unsigned char> data =
                            flat ? std::vector<unsigned char>(size, 0x41) : testutil::randomBytes(size, (unsigned)size);
                        cParDeflate z;
                        ASSERT_TRUE(z.compress(size ? data.data() : nullptr, size, level, threads, block));
                        _typebuf<unsigned char> out;
                        ASSERT_TRUE(z.toBuffer(out));
                        std::vector<unsigned char> plain(size + 1);
                        uLongf n = (uLongf)plain.size();
                        ASSERT_EQ(uncompress(plain.data(), &n, out.ptr, (uLong)out.count), Z_OK);
                        ASSERT_EQ(n, size);
                        if (size) {
                            ASSERT_EQ(0, memcmp(plain.data(), data.data(), size));
                        }
                    }
    }
}

// Input handed over in pieces of any size, far more blocks than the ring holds, gives
// the very stream one call gives (the same blocks, each deflated on its own), and a
// target that refuses a byte fails the stream.
TEST(ParDeflate, StreamInPiecesMatchesOneCallAndFailsWithItsTarget) {
    std::vector<unsigned char> data = mixedBytes(40 * 32768 + 123, 5);
    cParDeflate whole;
    ASSERT_TRUE(whole.compress(data.data(), data.size(), 9, 3, 32768));
    _typebuf<unsigned char> expect;
    ASSERT_TRUE(whole.toBuffer(expect));
    for (size_t piece : {(size_t)1, (size_t)4095, (size_t)32768, (size_t)70001}) {
        SCOPED_TRACE(piece);
        cMemIOTarget out;
        cParDeflateStream z;
        ASSERT_TRUE(z.begin(&out, 9, 3, 32768));
        for (size_t at = 0; at < data.size(); at += piece)
            ASSERT_TRUE(z.write(data.data() + at, (long long)std::min(piece, data.size() - at)));
        ASSERT_TRUE(z.finish());
        _typebuf<unsigned char> got;
        ASSERT_TRUE(out.toBuffer(got));
        ASSERT_EQ(got.count, expect.count);
        EXPECT_EQ(0, memcmp(got.ptr, expect.ptr, (size_t)got.count));
        EXPECT_EQ(z.plainSize(), data.size());
    }
    std::vector<unsigned char> small(1000);
    cBufWrapperIO full(small.data(), (long long)small.size(), true);  // room for 1000 bytes only
    cParDeflateStream z;
    ASSERT_TRUE(z.begin(&full, 9, 2, 32768));
    bool ok = true;
    for (int i = 0; i < 8 && ok; i++) ok = z.write(testutil::randomBytes(32768, (unsigned)i).data(), 32768);
    EXPECT_FALSE(ok && z.finish());
}

namespace {

// A zlib stream of `data` from zlib itself: level, and a flush of `flush` kind every `every`
// bytes (from byte `later` on, of `laterFlush` kind).
std::vector<unsigned char> zlibStream(const std::vector<unsigned char>& data, int level, int flush, size_t every,
                                      size_t later = ~(size_t)0, int laterFlush = Z_NO_FLUSH) {
    z_stream z;
    memset(&z, 0, sizeof(z));
    deflateInit(&z, level);
    std::vector<unsigned char> out(deflateBound(&z, (uLong)data.size()) + data.size() / 1000 + 1024);
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    for (size_t at = 0; at < data.size(); at += every) {
        size_t n = std::min(every, data.size() - at);
        z.next_in = (Bytef*)data.data() + at;
        z.avail_in = (uInt)n;
        deflate(&z, at + n == data.size() ? Z_FINISH : at + n >= later ? laterFlush : flush);
    }
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

// The load reads a body in runs that end on a sync mark, each inflated whole by libdeflate
// when it stands alone, else by zlib from there on with the plain bytes before it as its
// window. Every way of making the stream gives back exactly the plain bytes and the
// trailer, and the access points left on the way start readers anywhere: runs of the
// maker's blocks, small and too large for the buffers, sync flushes whose blocks refer
// back across the mark, full flushes (also too short to be worth a call each, and going
// over into sync flushes after a point), stored blocks whose data holds sync marks, and
// one stream without any. Cut or damaged streams fail without reading out of bounds.
TEST(PkgBody, EveryStreamReadInRunsGivesThePlainBytesAndItsPoints) {
    std::vector<unsigned char> data = mixedBytes(6 << 20, 4);
    for (size_t at = 1000; at + 4 < data.size(); at += 99991) memcpy(data.data() + at, "\0\0\xff\xff", 4);
    std::vector<unsigned char> noise = testutil::randomBytes(300000, 8);
    std::copy(noise.begin(), noise.end(), data.begin() + 2000000);
    auto maker = [&](long long block) {
        cParDeflate z;
        _typebuf<unsigned char> out;
        EXPECT_TRUE(z.compress(data.data(), data.size(), 6, 2, block) && z.toBuffer(out));
        return std::vector<unsigned char>(out.ptr, out.ptr + out.count);
    };
    struct {
        const char* name;
        std::vector<unsigned char> stream;
    } cases[] = {
        {"maker's blocks", maker(1 << 20)},
        {"small blocks", maker(32768)},
        {"blocks larger than the buffers", maker(3 << 20)},
        {"sync flushes", zlibStream(data, 6, Z_SYNC_FLUSH, 40000)},
        {"full flushes", zlibStream(data, 6, Z_FULL_FLUSH, 40000)},
        {"tiny runs", zlibStream(data, 6, Z_FULL_FLUSH, 1000)},
        {"full flushes, then sync flushes", zlibStream(data, 6, Z_FULL_FLUSH, 40000, 4200000, Z_SYNC_FLUSH)},
        {"stored", zlibStream(data, 0, Z_FULL_FLUSH, 40000)},
        {"one stream", zlibStream(data, 9, Z_NO_FLUSH, data.size())},
    };
    auto readThrough = [&](const std::vector<unsigned char>& stream, std::vector<unsigned char>& out, cPkgBody*& body) {
        cBufWrapperIO src(stream.data(), (long long)stream.size(), false);
        body = cPkgBody::open(&src, stream.size(), data.size());
        if (!body) return false;
        cPkgBodyReader r(body);
        r.readInRuns();
        out.assign(data.size() + 1, 0);
        long long got = 0, n;
        while ((n = r.read(out.data() + got, std::min<long long>(100003, (long long)out.size() - got))) > 0) got += n;
        out.resize((size_t)got);
        // As loading judges it: the trailer must be the checksum of what was read.
        unsigned long trailer = 0;
        return r.ended() && r.trailer(trailer) && trailer == adler32(1, out.data(), (uInt)out.size());
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> out;
        cPkgBody* body = nullptr;
        EXPECT_TRUE(readThrough(c.stream, out, body));
        ASSERT_NE(body, nullptr);
        EXPECT_TRUE(out == data);
        EXPECT_EQ(body->accessPoints(), 1);
        for (size_t at : {(size_t)0, (size_t)4200000, (size_t)4240001, (size_t)5000017, data.size() - 5000}) {
            cPkgBodyReader* r = body->reader(at);
            ASSERT_NE(r, nullptr) << at;
            std::vector<unsigned char> piece(5000);
            EXPECT_EQ(r->read(piece.data(), 5000), 5000) << at;
            EXPECT_EQ(0, memcmp(piece.data(), data.data() + at, 5000)) << at;
            delete r;
        }
        body->release();
    }
    const std::vector<unsigned char>& good = cases[0].stream;
    for (size_t k = 1; k < 12; k++) {
        size_t at = good.size() * k / 12;
        std::vector<unsigned char> cut(good.begin(), good.begin() + (long)at), bad = good;
        bad[at] ^= 0x20;
        for (auto* s : {&cut, &bad}) {
            std::vector<unsigned char> out;
            cPkgBody* body = nullptr;
            bool ok = readThrough(*s, out, body);
            EXPECT_TRUE(!ok || out == data) << at;
            EXPECT_LE(out.size(), data.size());
            if (body) body->release();
        }
    }
}
