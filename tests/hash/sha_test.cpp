// SHA family against the published FIPS 180-4 example vectors, split updates, the peer
// sum tools, and the portable code against the CPU extension code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hash/chash.h"
#include "hash/sha256.h"
#include "hash/shablocks.h"
#include "testutil.h"

namespace {

std::string hex(const unsigned char* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

std::string digestHex(cHash::eKind kind, const std::string& m) {
    unsigned char out[cHash::kMaxDigest];
    cHash::digest(kind, m.data(), m.size(), out);
    return hex(out, (size_t)cHash::digestSize(kind));
}

const char* const k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char* const k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

struct Vector {
    cHash::eKind kind;
    const char* empty;
    const char* abc;
    const char* m448;
    const char* m896;
    const char* millionA;
};

const Vector kVectors[] = {
    {cHash::eSHA1, "da39a3ee5e6b4b0d3255bfef95601890afd80709", "a9993e364706816aba3e25717850c26c9cd0d89d",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "a49b2446a02c645bf419f995b67091253a04a259",
     "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {cHash::eSHA224, "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f",
     "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7",
     "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525",
     "c97ca9a559850ce97a04a96def6d99a9e0e0e2ab14e6b8df265fc0b3",
     "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {cHash::eSHA256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {cHash::eSHA384,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b",
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039",
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {cHash::eSHA512,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909",
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

// Why the CPU extension code cannot run here, or "" (tests/ci_skips.txt names the reason).
std::string noCpuPath() {
    if (shaHaveCpuExtensions()) return "";
    const char* off = getenv("QMX_NO_CPU_SHA");
    return off && *off ? "CPU has no SHA extensions (QMX_NO_CPU_SHA is set)" : "CPU has no SHA extensions";
}

// Runs every test twice: on the portable block code and on the CPU extension code.
class ShaPaths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam() && !noCpuPath().empty()) GTEST_SKIP() << noCpuPath();
        shaForcePortable(GetParam());
        ASSERT_EQ(!GetParam(), shaUsingCpuExtensions());
    }
    void TearDown() override { shaForcePortable(false); }
};

TEST_P(ShaPaths, MatchesPublishedVectors) {
    const std::string million(1000000, 'a');
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(cHash::digestSize(v.kind));
        EXPECT_EQ(v.empty, digestHex(v.kind, ""));
        EXPECT_EQ(v.abc, digestHex(v.kind, "abc"));
        EXPECT_EQ(v.m448, digestHex(v.kind, k448));
        EXPECT_EQ(v.m896, digestHex(v.kind, k896));
        EXPECT_EQ(v.millionA, digestHex(v.kind, million));
    }
}

TEST_P(ShaPaths, CStyleSha256AndOneShotAgree) {
    unsigned char out[32];
    SHA2Hash((const unsigned char*)"abc", out, 3);
    EXPECT_EQ(kVectors[2].abc, hex(out, 32));
    // The million 'a' in chunks that straddle block edges.
    sha256_context ctx;
    sha256_starts(&ctx);
    const std::string chunk(997, 'a');
    size_t done = 0;
    while (done < 1000000) {
        size_t n = std::min(chunk.size(), 1000000 - done);
        sha256_update(&ctx, (const unsigned char*)chunk.data(), n);
        done += n;
    }
    sha256_finish(&ctx, out);
    EXPECT_EQ(kVectors[2].millionA, hex(out, 32));
}

TEST_P(ShaPaths, SplitAtEveryOffsetGivesSameDigest) {
    const std::string m = std::string(k896) + k448;  // 168 bytes: several block edges
    for (const Vector& v : kVectors) {
        const std::string whole = digestHex(v.kind, m);
        for (size_t i = 0; i <= m.size(); i++) {
            for (size_t j = i; j <= m.size(); j += 13) {
                cHash h(v.kind);
                h.update(m.data(), i);
                h.update(m.data() + i, j - i);
                h.update(m.data() + j, m.size() - j);
                unsigned char out[cHash::kMaxDigest];
                h.finish(out);
                ASSERT_EQ(whole, hex(out, (size_t)h.digestSize())) << "split " << i << "," << j;
            }
        }
    }
    // And the split 896-bit message still gives the published value.
    cHash h(cHash::eSHA256);
    for (const char* p = k896; *p; p++) h.update(p, 1);
    unsigned char out[32];
    h.finish(out);
    EXPECT_EQ(kVectors[2].m896, hex(out, 32));
}

TEST_P(ShaPaths, MatchesSumToolsOnRandomFiles) {
    struct Tool {
        const char* name;
        cHash::eKind kind;
    };
    const Tool tools[] = {{"sha1sum", cHash::eSHA1}, {"sha224sum", cHash::eSHA224}, {"sha256sum", cHash::eSHA256},
                          {"sha384sum", cHash::eSHA384}, {"sha512sum", cHash::eSHA512}};
    testutil::TempDir dir;
    const size_t sizes[] = {1, 55, 56, 63, 64, 111, 112, 127, 128, 4097, 300001};
    for (const Tool& t : tools) {
        if (!testutil::haveTool(t.name)) {
            GTEST_SKIP() << t.name << " not installed";
        }
        for (size_t s : sizes) {
            std::vector<unsigned char> data = testutil::randomBytes(s, (unsigned)s * 7 + 1);
            std::string path = dir.file("r.bin");
            ASSERT_TRUE(testutil::writeFile(path, data));
            std::string out;
            ASSERT_EQ(0, testutil::run({t.name, path}, &out));
            unsigned char d[cHash::kMaxDigest];
            cHash::digest(t.kind, data.data(), data.size(), d);
            // A line whose name holds a backslash (TMPDIR may) starts with one: the name is escaped.
            size_t at = out.rfind('\\', 0) == 0 ? 1 : 0;
            EXPECT_EQ(out.substr(at, out.find(' ') - at), hex(d, (size_t)cHash::digestSize(t.kind)))
                << t.name << " " << s;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Both, ShaPaths, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Portable" : "CpuExtensions"; });

// The two block implementations are independent; any disagreement is a fault in one.
TEST(ShaCpuExtensions, AgreeWithPortableOnRandomLengths) {
    if (!noCpuPath().empty()) GTEST_SKIP() << noCpuPath();
    std::vector<unsigned char> data = testutil::randomBytes(5000, 42);
    for (cHash::eKind kind : {cHash::eSHA1, cHash::eSHA256}) {
        for (size_t len = 0; len < data.size(); len += 37) {
            unsigned char a[32], b[32];
            shaForcePortable(true);
            cHash::digest(kind, data.data(), len, a);
            shaForcePortable(false);
            cHash::digest(kind, data.data(), len, b);
            size_t n = (size_t)cHash::digestSize(kind);
            ASSERT_EQ(hex(a, n), hex(b, n)) << len;
        }
    }
}

}  // namespace
