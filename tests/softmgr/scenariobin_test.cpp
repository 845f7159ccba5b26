// The scenario data file against the independent python reader and writer, and hostile input.
#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/fileio.h"
#include "base/memio.h"
#include "hash/sha256.h"
#include "sopkgtest.h"
#include "testutil.h"

using namespace sopkgtest;

namespace {

std::string dataDir() { return std::string(QMX_TEST_DATA) + "/softmgr/datafile"; }

std::vector<std::string> variantFiles(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 5 && n.substr(n.size() - 5) == ".data") out.push_back(n);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool loadBytes(const std::vector<unsigned char>& b, cSoftPkgScenario& s) {
    cBufWrapperIO in(b.data(), (long long)b.size());
    return s.loadBinConfig(&in);
}

// Rewraps a body in a valid header: its lengths, its digest, a level-9 stream.
std::vector<unsigned char> wrapBody(const std::vector<unsigned char>& body) {
    std::vector<unsigned char> z(compressBound((uLong)body.size()));
    uLongf zn = (uLongf)z.size();
    compress2(z.data(), &zn, body.data(), (uLong)body.size(), 9);
    std::vector<unsigned char> f = {'Q', 'M', 'X', 'S', 'O', 'P', 'K', 'G', 1};
    for (uint32_t v : {(uint32_t)body.size(), (uint32_t)zn})
        for (int k = 0; k < 4; k++) f.push_back((unsigned char)(v >> (8 * k)));
    unsigned char sum[32];
    SHA2Hash(body.data(), sum, body.size());
    f.insert(f.end(), sum, sum + 32);
    f.insert(f.end(), z.begin(), z.begin() + zn);
    return f;
}

std::vector<unsigned char> bodyOf(const std::vector<unsigned char>& file) {
    uint32_t U;
    memcpy(&U, file.data() + 9, 4);
    std::vector<unsigned char> body(U);
    uLongf n = U;
    uncompress(body.data(), &n, file.data() + 49, (uLong)file.size() - 49);
    return body;
}

}  // namespace

TEST(ScenarioBin, AcceptsOrRefusesEveryVariantOfTheIndependentWriter) {
    std::vector<std::string> files = variantFiles(dataDir());
    ASSERT_GT(files.size(), 30u);
    for (const std::string& n : files) {
        cSoftPkgScenario s;
        bool want = n.rfind("accept_", 0) == 0;
        EXPECT_EQ(loadBytes(readBytes(dataDir() + "/" + n), s), want) << n;
    }
}

TEST(ScenarioBin, LiveVariantsOfThePythonWriterMatchTheCommittedOnes) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir t;
    ASSERT_EQ(testutil::run({"python3", oracle(), "gen", t.path()}), 0);
    for (const std::string& n : variantFiles(t.path())) {
        cSoftPkgScenario s;
        EXPECT_EQ(loadBytes(readBytes(t.file(n)), s), n.rfind("accept_", 0) == 0) << n;
    }
}

// Both directions: what python wrote we read into the same model it read; what we
// write from that model python reads into the same model again.
TEST(ScenarioBin, RoundTripsWithThePythonReaderBothWays) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir t;
    for (const std::string& n : variantFiles(dataDir())) {
        if (n.rfind("accept_", 0) != 0) continue;
        SCOPED_TRACE(n);
        std::string theirs;
        ASSERT_EQ(testutil::run({"python3", oracle(), "dump", dataDir() + "/" + n}, &theirs), 0);
        cSoftPkgScenario s;
        ASSERT_TRUE(loadBytes(readBytes(dataDir() + "/" + n), s));
        EXPECT_EQ(dump(s), theirs);
        cSoftPkgScenario back;
        ASSERT_TRUE(saveLoad(s, t.file("ours.data"), back));
        std::string again;
        ASSERT_EQ(testutil::run({"python3", oracle(), "dump", t.file("ours.data")}, &again), 0);
        EXPECT_EQ(again, theirs);
        EXPECT_EQ(dump(back), theirs);
    }
}

TEST(ScenarioBin, EveryTruncationFailsCleanly) {
    std::vector<unsigned char> good = readBytes(dataDir() + "/accept_base.data");
    ASSERT_GT(good.size(), 49u);
    for (size_t cut = 0; cut < good.size(); cut++) {
        std::vector<unsigned char> part(good.begin(), good.begin() + cut);
        cSoftPkgScenario s;
        EXPECT_FALSE(loadBytes(part, s)) << cut;
    }
    // Every truncation of the body behind a valid header reaches the parser and fails.
    std::vector<unsigned char> body = bodyOf(good);
    for (size_t cut = 1; cut < body.size(); cut++) {
        std::vector<unsigned char> part(body.begin(), body.begin() + cut);
        cSoftPkgScenario s;
        EXPECT_FALSE(loadBytes(wrapBody(part), s)) << cut;
    }
}

TEST(ScenarioBin, ByteFlipsWithRecomputedDigestNeverCrash) {
    std::vector<unsigned char> body = bodyOf(readBytes(dataDir() + "/accept_base.data"));
    std::vector<unsigned char> noise = testutil::randomBytes(body.size() * 4, 77);
    int accepted = 0;
    for (size_t i = 0; i < body.size(); i++) {
        for (int k = 0; k < 4; k++) {
            std::vector<unsigned char> b = body;
            b[i] ^= (unsigned char)(noise[i * 4 + k] | 1);
            cSoftPkgScenario s;
            if (loadBytes(wrapBody(b), s)) {
                accepted++;
                _List<cSoftPkgScenario::sCopiedFile> files;
                _List<cSoftPkgScenario::sMenuItemDef> menu;
                s.getCopiedFiles(files);
                s.getMenuItems(menu);
            }
        }
    }
    EXPECT_LT(accepted, (int)body.size() * 4);
    // A changed packed byte without a new digest fails (inflate or digest).
    std::vector<unsigned char> good = readBytes(dataDir() + "/accept_base.data");
    for (size_t i = 49; i < good.size(); i += 7) {
        std::vector<unsigned char> b = good;
        b[i] ^= 0x20;
        cSoftPkgScenario s;
        EXPECT_FALSE(loadBytes(b, s)) << i;
    }
}

TEST(ScenarioBin, HugeLengthsFailBeforeAllocating) {
    struct {
        uint32_t U, P;
        size_t extra;
    } cases[] = {{0xFFFFFFFF, 0xFFFFFFFF, 0}, {0xFFFFFFFF, 10, 10}, {10 * 1032 + 1, 10, 10}, {100, 11, 10}};
    for (auto& c : cases) {
        std::vector<unsigned char> f = {'Q', 'M', 'X', 'S', 'O', 'P', 'K', 'G', 1};
        for (uint32_t v : {c.U, c.P})
            for (int k = 0; k < 4; k++) f.push_back((unsigned char)(v >> (8 * k)));
        f.resize(49 + c.extra, 0);
        cSoftPkgScenario s;
        EXPECT_FALSE(loadBytes(f, s)) << c.U << " " << c.P;
    }
}

TEST(ScenarioBin, SaveRefusesStringsLongerThanTheirLengthFieldAndNamesThem) {
    cSoftPkgScenario s;
    std::string big(70000, 'x');
    ASSERT_TRUE(s.setStr(-1, "codename", "demo"));
    ASSERT_TRUE(s.setStr(-1, "licence_text", big.c_str()));
    cMemIOTarget mem;
    EXPECT_FALSE(s.saveBinConfig(&mem));
    ASSERT_NE(s.errorPath(), nullptr);
    EXPECT_STREQ(s.errorPath(), "licence_text");
    s.clearStr("licence_text");
    cMemIOTarget mem2;
    EXPECT_TRUE(s.saveBinConfig(&mem2));
    EXPECT_FALSE(s.saveBinConfig(nullptr));
}

// A package whose file records name payload items far down the list. Each record's
// lookup must not walk the whole list: with one item repeated, a file of a few kilobytes
// kept the installer busy for many minutes. Distinct items here, so each must be its own.
TEST(ScenarioBin, ManyRecordsOfFarItemsResolveEachToItsOwnItem) {
    const uint32_t n = 200000;
    cSoftPkgScenario s;
    ASSERT_TRUE(s.setStr(-1, "codename", "many-items"));
    for (uint32_t i = 0; i < n; i++) {
        unsigned char b[4] = {(unsigned char)i, (unsigned char)(i >> 8), (unsigned char)(i >> 16), 0x5A};
        cBufWrapperIO src(b, 4, false);
        ASSERT_EQ(s.payload().addPkgItem(&src, false), (int)i);
    }
    std::vector<uint32_t> want;
    for (uint32_t i = 0; i < n; i++) {
        cSoftPkgScenario::sIntFileDef* f = s.files.add();
        ASSERT_NE(f, nullptr);
        f->item = n - 1 - (uint32_t)((i * 7919ULL) % n);
        f->target.path.set("f");
        want.push_back(f->item);
    }
    cMemIOTarget mem;
    ASSERT_TRUE(s.saveBinConfig(&mem));
    _typebuf<unsigned char> file;
    ASSERT_TRUE(mem.toBuffer(file));

    cSoftPkgScenario back;
    cBufWrapperIO in(file.ptr, file.count);
    ASSERT_TRUE(back.loadBinConfig(&in));
    _List<cSoftPkgScenario::sCopiedFile> copied;
    ASSERT_TRUE(back.getCopiedFiles(copied));
    ASSERT_EQ(copied.count(), (long long)n);
    size_t k = 0;
    for (auto* c = copied.head; c; c = c->next, k++) {
        uint32_t i = want[k];
        ASSERT_EQ(c->value.item, i);
        unsigned char b[4] = {(unsigned char)i, (unsigned char)(i >> 8), (unsigned char)(i >> 16), 0x5A};
        unsigned char sum[32];
        SHA2Hash(b, sum, 4);
        ASSERT_EQ(0, memcmp(c->value.digest, sum, 32)) << i;
    }
    EXPECT_EQ(back.requiresSize(65536), (unsigned long long)n * 65536);
    EXPECT_EQ(back.payload().sizeOf((int)n - 1), 4u);
    EXPECT_EQ(back.payload().sizeOf((int)n), 0u);
    EXPECT_FALSE(back.digest(-1, nullptr));
}
