// zlib streams: round trips with python's zlib both ways, damaged and truncated streams,
// the output cap, incremental inflate and deflate, and cZStream's reads and seeks.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compression/zlibstreams.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A memory-backed stream for the tests; counts its destruction for the ownership test.
class MemStream : public cFileIOTarget {
public:
    explicit MemStream(Bytes d = Bytes(), int* destroyed = nullptr) : data(std::move(d)), myDestroyed(destroyed) {}
    ~MemStream() override {
        if (myDestroyed) ++*myDestroyed;
    }
    unsigned long long size() override { return data.size(); }
    long long read(void* buffer, long long n) override {
        if (failAt >= 0 && (long long)pos >= failAt) return -1;
        long long left = (long long)data.size() - (long long)pos;
        if (n > left) n = left;
        if (n <= 0) return 0;
        memcpy(buffer, data.data() + pos, (size_t)n);
        pos += (size_t)n;
        return n;
    }
    long long write(const void* buffer, long long n) override {
        if (failWrites) return 0;
        if (pos + (size_t)n > data.size()) data.resize(pos + (size_t)n);
        memcpy(data.data() + pos, buffer, (size_t)n);
        pos += (size_t)n;
        return n;
    }
    bool set_fp(unsigned long long p) override {
        if (p > data.size()) return false;
        pos = (size_t)p;
        return true;
    }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long get_fp() override { return pos; }

    Bytes data;
    size_t pos = 0;
    bool failWrites = false;
    long long failAt = -1;  // reads from this position on fail

private:
    int* myDestroyed;
};

Bytes toBytes(const _typebuf<unsigned char>& b) { return Bytes(b.ptr, b.ptr + b.count); }

_typebuf<unsigned char> toBuf(const Bytes& v) {
    _typebuf<unsigned char> b;
    b.set(v.data(), (long long)v.size());
    return b;
}

// Sample inputs: empty, tiny, text-like, random, long runs.
std::vector<Bytes> samples() {
    std::vector<Bytes> s;
    s.push_back(Bytes());
    s.push_back(Bytes{'x'});
    std::string text;
    for (int i = 0; i < 3000; i++) text += "line " + std::to_string(i * 7919 % 1000) + " of the sample text\n";
    s.push_back(Bytes(text.begin(), text.end()));
    s.push_back(testutil::randomBytes(100000, 3));
    s.push_back(Bytes(300000, 0));
    Bytes mix = testutil::randomBytes(70000, 4);
    for (size_t i = 0; i < mix.size(); i++)
        if ((i / 1000) % 2) mix[i] = 'A';
    s.push_back(mix);
    return s;
}

// testutil::writeFile hands a null pointer to fwrite for an empty vector; avoid that.
bool writeBytes(const std::string& path, const Bytes& d) {
    static const unsigned char none = 0;
    return testutil::writeFile(path, d.empty() ? &none : d.data(), d.size());
}

bool havePython() { return testutil::haveTool("python3"); }

TEST(ZlibStreams, PythonInflatesWhatWeDeflate) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    int n = 0;
    for (const Bytes& in : samples()) {
        for (int level : {0, 1, 5, 9}) {
            _typebuf<unsigned char> z;
            ASSERT_TRUE(cZDeflate::compress(in.data(), (long long)in.size(), z, level));
            std::string zf = dir.file("z" + std::to_string(n)), pf = dir.file("p" + std::to_string(n));
            n++;
            ASSERT_TRUE(testutil::writeFile(zf, z.ptr, (size_t)z.count));
            ASSERT_EQ(0, testutil::run({"python3", "-c",
                                        "import sys,zlib; open(sys.argv[2],'wb').write(zlib.decompress(open(sys.argv[1],'rb').read()))",
                                        zf, pf}));
            EXPECT_EQ(in, testutil::readFile(pf)) << "size " << in.size() << " level " << level;
        }
    }
}

TEST(ZlibStreams, WeInflateWhatPythonDeflates) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    int n = 0;
    for (const Bytes& in : samples()) {
        std::string pf = dir.file("p" + std::to_string(n)), zf = dir.file("z" + std::to_string(n));
        n++;
        ASSERT_TRUE(writeBytes(pf, in));
        ASSERT_EQ(0, testutil::run({"python3", "-c",
                                    "import sys,zlib; open(sys.argv[2],'wb').write(zlib.compress(open(sys.argv[1],'rb').read(),9))",
                                    pf, zf}));
        Bytes z = testutil::readFile(zf);
        _typebuf<unsigned char> out;
        ASSERT_TRUE(cZDecompress::decompress(toBuf(z), out)) << in.size();
        EXPECT_EQ(in, toBytes(out));
        ASSERT_TRUE(cZDecompress::decompressPart(z.data(), (long long)z.size(), out));
        EXPECT_EQ(in, toBytes(out));

        // The same stream through cZStream in odd chunks.
        MemStream* src = new MemStream(z);
        cZStream zs;
        ASSERT_TRUE(zs.create(src, in.size(), 777, true));
        Bytes got;
        unsigned char chunk[5003];
        for (long long k = 1;; k = k * 3 % 5003 + 1) {
            long long r = zs.read(chunk, k);
            if (r <= 0) break;
            got.insert(got.end(), chunk, chunk + r);
        }
        EXPECT_EQ(in, got);
        EXPECT_TRUE(zs.valid());
    }
}

TEST(ZlibStreams, DamagedOrTruncatedStreamsFailWithEmptyOutput) {
    Bytes in = samples()[2];
    _typebuf<unsigned char> z;
    ASSERT_TRUE(cZDeflate::compress(in.data(), (long long)in.size(), z, 9));
    Bytes good = toBytes(z);
    _typebuf<unsigned char> out;
    // Every cut short of the full stream lacks the end (or its checksum).
    for (size_t cut = 0; cut < good.size(); cut += (cut < 64 || good.size() - cut < 64) ? 1 : 97) {
        ASSERT_TRUE(out.set(10));  // stale contents must go
        EXPECT_FALSE(cZDecompress::decompressPart(good.data(), (long long)cut, out)) << "cut " << cut;
        EXPECT_EQ(0, out.count);
        EXPECT_EQ(nullptr, out.ptr);
    }
    // Each inverted byte breaks the header, the data or the checksum.
    for (size_t i = 0; i < good.size(); i += (i < 16 || good.size() - i < 16) ? 1 : 41) {
        Bytes bad = good;
        bad[i] ^= 0xFF;
        EXPECT_FALSE(cZDecompress::decompress(toBuf(bad), out)) << "byte " << i;
        EXPECT_EQ(0, out.count);
    }
    // Hostile noise and empty input.
    for (unsigned seed = 1; seed < 50; seed++) {
        Bytes noise = testutil::randomBytes(seed * 13, seed);
        EXPECT_FALSE(cZDecompress::decompress(toBuf(noise), out));
    }
    EXPECT_FALSE(cZDecompress::decompress(_typebuf<unsigned char>(), out));
}

TEST(ZlibStreams, OutputCapHolds) {
    Bytes zeros(1 << 20, 0);
    _typebuf<unsigned char> z, out;
    ASSERT_TRUE(cZDeflate::compress(zeros.data(), (long long)zeros.size(), z, 9));
    ASSERT_LT(z.count, 4096);
    struct {
        long long cap;
        bool ok;
    } cases[] = {{64 * 1024, false}, {0, false}, {(1 << 20) - 1, false}, {1 << 20, true}, {(1 << 20) + 1, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.ok, cZDecompress::decompress(z, out, c.cap)) << c.cap;
        EXPECT_EQ(c.ok ? 1 << 20 : 0, out.count) << c.cap;
    }
    // An empty payload fits any cap.
    ASSERT_TRUE(cZDeflate::compress(nullptr, 0, z, 6));
    EXPECT_TRUE(cZDecompress::decompress(z, out, 0));
    EXPECT_EQ(0, out.count);
}

TEST(ZlibStreams, IncrementalInflateInTinyChunks) {
    Bytes in = samples()[5];
    _typebuf<unsigned char> z;
    ASSERT_TRUE(cZDeflate::compress(in.data(), (long long)in.size(), z, 6));
    for (long long inStep : {1LL, 7LL, 1000LL}) {
        cZInflate inf;
        ASSERT_TRUE(inf.init());
        Bytes got;
        unsigned char chunk[331];
        long long at = 0;
        cZInflate::eResult r = cZInflate::eNeedMore;
        int guard = 0;
        while (r == cZInflate::eNeedMore && guard++ < 10000000) {
            long long n = std::min(inStep, z.count - at), used, made;
            r = inf.inflate(z.ptr + at, n, used, chunk, (long long)sizeof(chunk), made);
            at += used;
            got.insert(got.end(), chunk, chunk + made);
        }
        EXPECT_EQ(cZInflate::eStreamEnd, r);
        EXPECT_EQ(z.count, at);
        EXPECT_EQ(in, got);
    }
    // A damaged stream reports an error and stays failed.
    cZInflate inf;
    ASSERT_TRUE(inf.init());
    Bytes bad(z.ptr, z.ptr + z.count);
    bad[0] = 0x12;
    unsigned char chunk[64];
    long long used, made;
    EXPECT_EQ(cZInflate::eError, inf.inflate(bad.data(), (long long)bad.size(), used, chunk, 64, made));
    EXPECT_EQ(cZInflate::eError, inf.inflate(z.ptr, z.count, used, chunk, 64, made));
}

TEST(ZlibStreams, StreamingDeflateIntoTarget) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    Bytes in = samples()[3];
    in.insert(in.end(), 200000, 'q');
    MemStream target;
    cZDeflate d;
    ASSERT_TRUE(d.begin(&target, 9));
    for (size_t at = 0, k = 1; at < in.size(); k = k * 5 % 9001 + 1) {
        size_t n = std::min(k, in.size() - at);
        ASSERT_TRUE(d.add(in.data() + at, (long long)n));
        at += n;
    }
    ASSERT_TRUE(d.finish());
    EXPECT_EQ(target.data.size(), d.written());
    std::string zf = dir.file("s.z"), pf = dir.file("s.p");
    ASSERT_TRUE(writeBytes(zf, target.data));
    ASSERT_EQ(0, testutil::run({"python3", "-c",
                                "import sys,zlib; open(sys.argv[2],'wb').write(zlib.decompress(open(sys.argv[1],'rb').read()))",
                                zf, pf}));
    EXPECT_EQ(in, testutil::readFile(pf));

    // A target that refuses writes makes the deflate fail instead of losing data silently.
    MemStream broken;
    broken.failWrites = true;
    ASSERT_TRUE(d.begin(&broken, 1));
    bool ok = d.add(in.data(), (long long)in.size());
    ok = d.finish() && ok;
    EXPECT_FALSE(ok);
}

TEST(ZStream, SeeksForwardAndBackFromAnOffsetSource) {
    Bytes in = samples()[2];
    _typebuf<unsigned char> z;
    ASSERT_TRUE(cZDeflate::compress(in.data(), (long long)in.size(), z, 9));
    // The zlib data sits after a prefix; the stream starts at the source's position.
    Bytes src(100, 0xEE);
    src.insert(src.end(), z.ptr, z.ptr + z.count);
    int destroyed = 0;
    {
        MemStream* s = new MemStream(src, &destroyed);
        ASSERT_TRUE(s->set_fp(100));
        cZStream zs;
        ASSERT_TRUE(zs.create(s, in.size(), 600, true));
        EXPECT_EQ(in.size(), zs.size());
        const unsigned long long spots[] = {5000, 5000, 17, in.size() - 3, 0, 40000, 39999, in.size()};
        for (unsigned long long p : spots) {
            ASSERT_TRUE(zs.set_fp(p)) << p;
            EXPECT_EQ(p, zs.get_fp());
            unsigned char buf[100];
            long long r = zs.read(buf, 100);
            long long expect = std::min<long long>(100, (long long)(in.size() - p));
            ASSERT_EQ(expect, r) << p;
            EXPECT_EQ(0, memcmp(buf, in.data() + p, (size_t)r)) << p;
        }
        EXPECT_FALSE(zs.set_fp(in.size() + 1));
        EXPECT_EQ(0, destroyed);
    }
    EXPECT_EQ(1, destroyed);  // owned source went with the stream

    // A plain size below the real one stops reads there.
    MemStream s2(Bytes(z.ptr, z.ptr + z.count));
    cZStream zs2;
    ASSERT_TRUE(zs2.create(&s2, 1000, 4096, false));
    Bytes buf(5000);
    EXPECT_EQ(1000, zs2.read(buf.data(), 5000));
    EXPECT_EQ(0, zs2.read(buf.data(), 5000));
    EXPECT_EQ(0, memcmp(buf.data(), in.data(), 1000));
    EXPECT_TRUE(zs2.valid());  // a prefix is not damage
}

// Random data is stored, text is coded: a damaged stored block inflates to the full size,
// and only the checksum at the end tells. A cut stream, a damaged one and a source whose
// reads fail from its middle on end alike: the last read answers -1, never the end.
TEST(ZStream, TruncatedOrDamagedSourceInvalidatesStream) {
    for (int damage = 0; damage < 5; damage++) {
        Bytes in = samples()[damage == 0 || damage == 1 ? 3 : 2];
        _typebuf<unsigned char> z;
        ASSERT_TRUE(cZDeflate::compress(in.data(), (long long)in.size(), z, 9));
        Bytes src(z.ptr, z.ptr + z.count);
        if (damage == 1 || damage == 3)
            src[src.size() / 2] ^= 0x55;
        else if (damage != 4)
            src.resize(src.size() / 2);
        MemStream s(src);
        if (damage == 4) s.failAt = (long long)src.size() / 2;
        cZStream zs;
        ASSERT_TRUE(zs.create(&s, in.size(), 1024, false));
        Bytes buf(in.size());
        long long got = 0, r;
        while ((r = zs.read(buf.data() + got, 4096)) > 0) got += r;
        EXPECT_EQ(r, -1) << damage;
        EXPECT_FALSE(zs.valid()) << damage;
    }
}

// A stream as the package's writer leaves it: 4096-byte pieces, each ended with a partial
// flush, and no end. zlib holds the last bytes back while the source is used up; reads of
// any size still get every byte up to the plain size.
TEST(ZStream, StreamWithoutItsEndReadsToThePlainSizeInReadsOfAnySize) {
    Bytes in(65536), packed(2 * 65536);
    for (size_t i = 0; i < in.size(); i++) in[i] = (unsigned char)(i % 7);
    z_stream zs = {};
    ASSERT_EQ(deflateInit(&zs, 9), Z_OK);
    zs.next_out = packed.data();
    zs.avail_out = (uInt)packed.size();
    for (size_t at = 0; at < in.size(); at += 4096) {
        zs.next_in = in.data() + at;
        zs.avail_in = 4096;
        ASSERT_EQ(deflate(&zs, Z_PARTIAL_FLUSH), Z_OK);
    }
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    for (long long chunk : {1, 7, 100, 257, 4096}) {
        MemStream src(packed);
        cZStream z;
        ASSERT_TRUE(z.create(&src, in.size(), 4096, false));
        Bytes got(in.size());
        long long at = 0, r = 0;
        while (at < (long long)in.size() && (r = z.read(got.data() + at, chunk)) > 0) at += r;
        EXPECT_EQ(at, (long long)in.size()) << "reads of " << chunk;
        EXPECT_EQ(got, in) << "reads of " << chunk;
    }
}

TEST(ZlibStreams, ExactSizeInflateReadsAsTheStreamingOneDoes) {
    Bytes plain = testutil::randomBytes(100000, 8);
    for (size_t i = 0; i < plain.size(); i += 2) plain[i] = 'a';
    _typebuf<unsigned char> packed;
    ASSERT_TRUE(cZDeflate::compress(plain.data(), (long long)plain.size(), packed, 6));
    Bytes withTail(packed.ptr, packed.ptr + packed.count);
    withTail.insert(withTail.end(), {1, 2, 3});
    const long long n = (long long)plain.size(), whole = packed.count;
    struct {
        const char* what;
        const unsigned char* data;
        long long inSize, size;
        bool ok;
    } cases[] = {
        {"whole stream", packed.ptr, whole, n, true},
        {"bytes after the stream", withTail.data(), (long long)withTail.size(), n, true},
        {"longer than the size: cut", packed.ptr, whole, n - 777, true},
        {"shorter than the size", packed.ptr, whole, n + 1, false},
        {"checksum missing, data whole", packed.ptr, whole - 2, n, true},
        {"data cut", packed.ptr, whole / 2, n, false},
    };
    for (const auto& c : cases) {
        Bytes out((size_t)c.size + 1, 0xEE);
        EXPECT_EQ(c.ok, cZDecompress::decompressExact(c.data, c.inSize, out.data(), c.size)) << c.what;
        if (c.ok) {
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.size, plain.begin())) << c.what;
            EXPECT_EQ(0xEE, out[(size_t)c.size]) << c.what;  // nothing past the size
        }
    }
    Bytes out(plain.size());
    packed.ptr[whole - 1] ^= 1;
    EXPECT_FALSE(cZDecompress::decompressExact(packed.ptr, whole, out.data(), n)) << "damaged checksum";
}

}  // namespace

TEST(ZlibStreams, OneCallInflateNeedsTheWholeStream) {
    Bytes plain = testutil::randomBytes(100000, 7);
    for (size_t i = 0; i < plain.size(); i += 3) plain[i] = 'a';  // compressible
    _typebuf<unsigned char> packed;
    ASSERT_TRUE(cZDeflate::compress(plain.data(), (long long)plain.size(), packed, 5));
    Bytes out(plain.size());
    cZInflate inf;
    // Reusable: the same object inflates twice.
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ((long long)plain.size(), inf.inflate(packed.ptr, packed.count, out.data(), (long long)out.size()));
        EXPECT_EQ(plain, out);
    }
    // Too little room, a cut stream and a damaged checksum all fail.
    EXPECT_EQ(-1, inf.inflate(packed.ptr, packed.count, out.data(), (long long)out.size() - 1));
    EXPECT_EQ(-1, inf.inflate(packed.ptr, packed.count - 1, out.data(), (long long)out.size()));
    packed.ptr[packed.count - 1] ^= 1;
    EXPECT_EQ(-1, inf.inflate(packed.ptr, packed.count, out.data(), (long long)out.size()));
}
