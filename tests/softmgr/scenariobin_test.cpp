// The scenario data file against the independent python reader and writer, and hostile input.
#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "base/fileio.h"
#include "base/memio.h"
#include "hash/sha256.h"
#include "sopkgtest.h"
#include "testutil.h"

using namespace sopkgtest;
using testutil::scenarioQuoted;

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
        // Every item of an accepted file streams its size with its digest, also one
        // deflated in flushed pieces without an end of stream (accept_flushitem).
        for (unsigned int i = 0; want && i < s.payload().count(); i++) {
            cFileIOTarget* item = s.file((int)i);
            ASSERT_NE(item, nullptr) << n;
            unsigned char buf[1000];
            unsigned long long total = 0;
            long long got;
            while ((got = item->read(buf, sizeof(buf))) > 0) total += (unsigned long long)got;
            EXPECT_EQ(total, s.payload().sizeOf((int)i)) << n << " item " << i;
            EXPECT_TRUE(item->valid()) << n << " item " << i;
            delete item;
        }
    }
}

// The committed files are what the python writer writes today, byte for byte (a change to
// either shows here), and each is accepted or refused as its name says.
TEST(ScenarioBin, LiveVariantsOfThePythonWriterMatchTheCommittedOnes) {
    if (!havePython()) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir t;
    ASSERT_EQ(testutil::run({"python3", oracle(), "gen", t.path()}), 0);
    std::vector<std::string> live = variantFiles(t.path());
    ASSERT_GT(live.size(), 30u);
    EXPECT_EQ(live, variantFiles(dataDir()));
    for (const std::string& n : live) {
        std::vector<unsigned char> bytes = readBytes(t.file(n));
        EXPECT_TRUE(bytes == readBytes(dataDir() + "/" + n)) << n << " differs from the committed file";
        cSoftPkgScenario s;
        EXPECT_EQ(loadBytes(bytes, s), n.rfind("accept_", 0) == 0) << n;
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
    testutil::TempDir t;
    int accepted = 0;
    for (size_t i = 0; i < body.size(); i++) {
        for (int k = 0; k < 4; k++) {
            std::vector<unsigned char> b = body;
            b[i] ^= (unsigned char)(noise[i * 4 + k] | 1);
            cSoftPkgScenario s;
            if (!loadBytes(wrapBody(b), s)) continue;
            accepted++;
            // Whatever is accepted is a model that our writer writes and our reader reads
            // back unchanged.
            cSoftPkgScenario back;
            ASSERT_TRUE(saveLoad(s, t.file("again.data"), back)) << "byte " << i << " flip " << k;
            ASSERT_EQ(dump(back), dump(s)) << "byte " << i << " flip " << k;
            cSoftPkgScenario::cCopiedFiles files;
            _List<cSoftPkgScenario::sMenuItemDef> menu;
            s.getCopiedFiles(files);
            s.getMenuItems(menu);
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
        f->target = {s.keepFileId("pgm"), s.keepFilePath("f")};
        want.push_back(f->item);
    }
    cMemIOTarget mem;
    ASSERT_TRUE(s.saveBinConfig(&mem));
    _typebuf<unsigned char> file;
    ASSERT_TRUE(mem.toBuffer(file));

    cSoftPkgScenario back;
    cBufWrapperIO in(file.ptr, file.count);
    ASSERT_TRUE(back.loadBinConfig(&in));
    ASSERT_TRUE(back.setStr(-1, "pgm", "/opt/many"));  // the installer's folder
    cSoftPkgScenario::cCopiedFiles copied;
    ASSERT_TRUE(back.getCopiedFiles(copied));
    ASSERT_EQ(copied.count(), (long long)n);
    size_t k = 0;
    for (auto* c = copied.head; c; c = c->next, k++) {
        uint32_t i = want[k];
        ASSERT_EQ(c->value.item, i);
        unsigned char b[4] = {(unsigned char)i, (unsigned char)(i >> 8), (unsigned char)(i >> 16), 0x5A};
        unsigned char sum[32], digest[32];
        SHA2Hash(b, sum, 4);
        ASSERT_TRUE(back.digest((int)i, digest));
        ASSERT_EQ(0, memcmp(digest, sum, 32)) << i;
    }
    EXPECT_EQ(back.requiresSize(65536), (unsigned long long)n * 65536);
    EXPECT_EQ(back.payload().sizeOf((int)n - 1), 4u);
    EXPECT_EQ(back.payload().sizeOf((int)n), 0u);
    EXPECT_FALSE(back.digest(-1, nullptr));
}

// --- caps on the number of records ---

namespace {

// Little-endian pieces of a body, written without the writer under test.
struct sBody {
    std::vector<unsigned char> b;
    sBody& u8(unsigned v) {
        b.push_back((unsigned char)v);
        return *this;
    }
    sBody& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
    sBody& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    sBody& str(const std::string& s) {
        u16((unsigned)s.size());
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    sBody& repeat(const std::vector<unsigned char>& rec, size_t n) {
        b.reserve(b.size() + rec.size() * n);
        for (size_t i = 0; i < n; i++) b.insert(b.end(), rec.begin(), rec.end());
        return *this;
    }
};

// A string table of n distinct keys ("k0000000", ...), values empty.
sBody& stringTable(sBody& o, size_t n, char prefix = 'k') {
    char key[32];
    for (size_t i = 0; i < n; i++) {
        snprintf(key, sizeof(key), "%c%07zu", prefix, i);
        o.u8(1).str(key).str("");
    }
    return o.u8(0);
}

// n file records of payload item 0, then a payload of `items` one-byte items.
std::vector<unsigned char> filesAndItems(size_t records, size_t items) {
    sBody o;
    if (records) {
        std::vector<unsigned char> rec = sBody().u8(1).u32(0).u32(0x00080808).str("pgm").str("f").u8(0xFF).b;
        o.u8(4).repeat(rec, records).u8(0);
    }
    if (items) {
        unsigned char one = 'x', sum[32];
        SHA2Hash(&one, sum, 1);
        std::vector<unsigned char> item = sBody().u32(0).u32(1).b;
        item.insert(item.end(), sum, sum + 32);
        item.push_back(one);
        o.u8(13).repeat(item, items).u32(0).u32(0);
    }
    return o.u8(0).b;
}

}  // namespace

// Each kind of record at its cap loads; one more is refused (string tables before their
// records are built; file records and payload items are read as the body streams by, so
// they are refused at the first one over the cap). The 4096-entry kinds are in
// the python variants (accept_entries4096, refuse_*4097).
TEST(ScenarioBin, RecordCapsLoadAtTheCapAndRefuseOneMore) {
    const size_t S = (size_t)cSoftPkgScenario::kMaxStrings, F = (size_t)cSoftPkgScenario::kMaxFileRecords;
    const size_t I = cSoftPkg::kMaxItems;
    ASSERT_EQ(F, I);  // one item per file record
    struct {
        const char* what;
        std::function<std::vector<unsigned char>(size_t)> body;
        size_t ok, over;
        bool counted;  // refused before the first record is built
    } cases[] = {
        {"default strings", [](size_t n) { sBody o; return stringTable(o.u8(6), n).u8(0).b; }, S, S + 1, false},
        {"language strings",
         [](size_t n) {
             sBody o;
             o.u8(7).u8(3);
             return stringTable(o, n).u8(0xFF).u8(0).b;
         },
         S, S + 1, false},
        // Two tables of one language are refused anyway; two default sections add up.
        {"split strings",
         [](size_t n) {
             sBody o;
             stringTable(o.u8(6), n / 2, 'a');
             return stringTable(o.u8(6), n - n / 2, 'b').u8(0).b;
         },
         S, S + 1, false},
        {"file records", [](size_t n) { return filesAndItems(n, 1); }, 20000, F + 1, false},
        {"payload items", [](size_t n) { return filesAndItems(0, n); }, 20000, I + 1, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        cSoftPkgScenario s;
        EXPECT_TRUE(loadBytes(wrapBody(c.body(c.ok)), s));
        cSoftPkgScenario t;
        EXPECT_FALSE(loadBytes(wrapBody(c.body(c.over)), t));
        if (c.counted) {
            EXPECT_EQ(t.files.count(), 0);
            EXPECT_EQ(t.payload().count(), 0u);
        }
    }
}

TEST(ScenarioBin, PayloadCountsItsItemsBeforeBuildingAny) {
    const size_t I = cSoftPkg::kMaxItems;
    // Zero digests: the payload's own reader does not judge them.
    std::vector<unsigned char> item = sBody().u32(0).u32(1).b;
    item.resize(item.size() + 33, 0);
    for (size_t n : {I, I + 1}) {
        std::vector<unsigned char> wire = sBody().repeat(item, n).u32(0).u32(0).b;
        cSoftPkg p;
        cBufWrapperIO in(wire.data(), (long long)wire.size());
        EXPECT_EQ(p.loadPackage(&in), n == I) << n;
        EXPECT_EQ(p.count(), n == I ? (unsigned)I : 0u);
    }
}

// "make" refuses a package the reader would refuse, on the line that goes over, with
// its own result and the section named; at the cap the package builds, saves and loads.
TEST(ScenarioBin, MakeStopsAtTheReadersCapsAndNamesTheSection) {
    testutil::TempDir t;
    std::string eula = makeDocSource(t.path(), "eula", {"ENG"});
    writeText(t.file("a.txt"), "a\n");
    const std::string prefix = "[General]\nlangs = ENG\n[Software]\ncodename = \"capped\"\neula = " +
                               scenarioQuoted(eula) + "\n[Strings]\nt = \"T\"\n";
    const int E = (int)cSoftPkgScenario::kMaxEntries, S = (int)cSoftPkgScenario::kMaxStrings;
    struct {
        const char* header;
        std::function<std::string(int)> line;
        int cap;
        const char* section;
    } cases[] = {
        {"[Menu]", [](int) { return std::string("$t = $pgm \"bin\", $pgm \"icon\""); }, E, "[Menu]"},
        {"[Run]", [](int) { return std::string("$t = $pgm \"bin\", yes"); }, E, "[Run]"},
        {"[Settings]", [](int i) { return "\"s" + std::to_string(i) + "\" = d, \"1\""; }, E, "[Settings]"},
        {"[Deprecates]", [](int i) { return "\"old" + std::to_string(i) + "\" = *"; }, E, "[Deprecates]"},
        // The default table already holds "codename" and "t".
        {"[Strings]", [](int i) { return "s" + std::to_string(i) + " = \"x\""; }, S - 2, "[Strings]"},
        {"[Strings]", [](int i) { return "ENG.s" + std::to_string(i) + " = \"x\""; }, S, "[Strings]"},
    };
    for (auto& c : cases) {
        for (int over = 0; over < 2; over++) {
            SCOPED_TRACE(std::string(c.header) + " " + c.line(0) + (over ? " over" : " at the cap"));
            std::string text = prefix + c.header + "\n";
            int failLine = (int)std::count(text.begin(), text.end(), '\n') + c.cap;
            for (int i = 0; i < c.cap + over; i++) text += c.line(i) + "\n";
            writeText(t.file("s.txt"), text);
            cSoftPkgScenario s;
            int line = 0;
            int rc = s.loadTextConfig(t.file("s.txt").c_str(), line);
            if (over) {
                EXPECT_EQ(rc, cSoftPkgScenario::eTxtTooMany);
                EXPECT_EQ(rc, 32);
                EXPECT_EQ(line, failLine);
                ASSERT_NE(s.errorPath(), nullptr);
                EXPECT_STREQ(s.errorPath(), c.section);
                continue;
            }
            ASSERT_EQ(rc, 0) << line;
            cSoftPkgScenario back;
            EXPECT_TRUE(saveLoad(s, t.file("s.data"), back));
        }
    }

    // A literal string of a menu line that would be one string too many.
    std::string text = prefix;
    for (int i = 0; i < S - 2; i++) text += "s" + std::to_string(i) + " = \"x\"\n";
    int failLine = (int)std::count(text.begin(), text.end(), '\n') + 1;
    text += "[Menu]\n\"Literal\" = $pgm \"bin\", $pgm \"icon\"\n";
    writeText(t.file("s.txt"), text);
    cSoftPkgScenario s;
    int line = 0;
    EXPECT_EQ(s.loadTextConfig(t.file("s.txt").c_str(), line), cSoftPkgScenario::eTxtTooMany);
    EXPECT_EQ(line, failLine);
    EXPECT_STREQ(s.errorPath(), "[Strings]");

    // A language named twice on an install line is kept once: the reader refuses repeats.
    writeText(t.file("s.txt"),
              prefix + "[Install]\n" + scenarioQuoted(t.file("a.txt")) + " = $pgm \"a.txt\", 644, ENG ENG\n");
    cSoftPkgScenario twice, back;
    ASSERT_EQ(twice.loadTextConfig(t.file("s.txt").c_str(), line), 0);
    ASSERT_EQ(twice.files.count(), 1);
    EXPECT_EQ(twice.files.head->value.langs.count(), 1);
    EXPECT_TRUE(saveLoad(twice, t.file("s.data"), back));
}

// The writer refuses what the reader would refuse and names the section.
TEST(ScenarioBin, SaveRefusesRecordsOverTheCaps) {
    struct {
        const char* section;
        std::function<void(cSoftPkgScenario&)> fill;
    } cases[] = {
        {"[Menu]",
         [](cSoftPkgScenario& s) {
             for (long long i = 0; i <= cSoftPkgScenario::kMaxEntries; i++) s.menu.add()->name.set("t");
         }},
        {"[Run]",
         [](cSoftPkgScenario& s) {
             for (long long i = 0; i <= cSoftPkgScenario::kMaxEntries; i++) s.onCompletion.add()->name.set("t");
         }},
        {"[Deprecates]",
         [](cSoftPkgScenario& s) {
             for (long long i = 0; i <= cSoftPkgScenario::kMaxEntries; i++) s.deprecates.add()->codename.set("o");
         }},
        {"[Strings]",
         [](cSoftPkgScenario& s) {
             char id[16];
             for (long long i = 0; i <= cSoftPkgScenario::kMaxStrings; i++) {
                 snprintf(id, sizeof(id), "s%lld", i);
                 s.setStr(-1, id, "x");
             }
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.section);
        cSoftPkgScenario s;
        ASSERT_TRUE(s.setStr(-1, "t", "T"));
        c.fill(s);
        cMemIOTarget mem;
        EXPECT_FALSE(s.saveBinConfig(&mem));
        ASSERT_NE(s.errorPath(), nullptr);
        EXPECT_STREQ(s.errorPath(), c.section);
        EXPECT_EQ(mem.size(), 0u);
    }
}

// Empty files travel as file records without an item, in format 2 (format 1 readers
// refuse the record rather than misread it): made from a text scenario, read by the
// python reader into the same model, loaded back and listed for the installer.
TEST(ScenarioBin, EmptyFilesTravelAsRecordsWithoutAnItem) {
    testutil::TempDir t;
    std::string eula = makeDocSource(t.path(), "eula", {"ENG"});
    writeText(t.file("a.txt"), "a\n");
    writeText(t.file("init.py"), "");
    const std::string prefix =
        "[General]\nlangs = ENG\n[Software]\ncodename = \"empties\"\neula = " + scenarioQuoted(eula) + "\n[Install]\n";
    struct {
        std::string install;
        int format;
        size_t items;
    } cases[] = {
        {scenarioQuoted(t.file("init.py")) + " = $pgm \"pkg/__init__.py\"\n" +
             scenarioQuoted(t.file("a.txt")) + " = $pgm \"a.txt\"\n",
         2, 1},
        {scenarioQuoted(t.file("a.txt")) + " = $pgm \"a.txt\"\n", 1, 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.install);
        writeText(t.file("s.txt"), prefix + c.install);
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(s.loadTextConfig(t.file("s.txt").c_str(), line), 0) << line;
        cSoftPkgScenario back;
        ASSERT_TRUE(saveLoad(s, t.file("e.data"), back));
        std::vector<unsigned char> file = readBytes(t.file("e.data"));
        EXPECT_EQ(file[8], c.format);
        EXPECT_EQ(back.payload().count(), c.items);
        if (havePython()) {
            std::string theirs;
            ASSERT_EQ(testutil::run({"python3", oracle(), "dump", t.file("e.data")}, &theirs), 0);
            EXPECT_EQ(dump(back), theirs);
        }
        ASSERT_TRUE(back.setStr(-1, "pgm", "/opt/e"));
        cSoftPkgScenario::cCopiedFiles files;
        ASSERT_TRUE(back.getCopiedFiles(files));
        for (auto* f = files.head; f; f = f->next) {
            cFileIOTarget* in = back.file((int)f->value.item);
            ASSERT_NE(in, nullptr);
            unsigned char buf[64], sum[32], digest[32];
            long long n = in->read(buf, sizeof(buf));
            EXPECT_TRUE(in->valid());
            delete in;
            SHA2Hash(buf, sum, (size_t)n);
            ASSERT_TRUE(back.digest((int)f->value.item, digest));
            EXPECT_EQ(0, memcmp(sum, digest, 32)) << f->value.target;
            bool empty = std::string(f->value.target) == "/opt/e/pkg/__init__.py";
            EXPECT_EQ(n, empty ? 0 : 2);
            EXPECT_EQ(f->value.item == cSoftPkg::kEmptyItem, empty);
        }
        EXPECT_EQ(files.count(), c.format == 2 ? 2 : 1);
        EXPECT_EQ(back.requiresSize(65536), 65536u);
    }
}

// The payload counts a file in 32 bits: a larger one fails "make" with result 26 and the
// file named, before a byte of it is read (the file here is sparse).
TEST(ScenarioBin, FileTooLargeForTheFormatFailsMakeByName) {
    testutil::TempDir t;
    std::string eula = makeDocSource(t.path(), "eula", {"ENG"});
    std::string big = t.file("big.bin");
    {
        cFileIO f;
        ASSERT_TRUE(f.create(big.c_str()));
        ASSERT_TRUE(f.set_fp(0x100000000ULL) && f.set_eof());
    }
    writeText(t.file("s.txt"), "[General]\nlangs = ENG\n[Software]\ncodename = \"big\"\neula = " +
                                   scenarioQuoted(eula) + "\n[Install]\n" + scenarioQuoted(big) +
                                   " = $pgm \"big.bin\"\n");
    cSoftPkgScenario s;
    int line = 0;
    EXPECT_EQ(s.loadTextConfig(t.file("s.txt").c_str(), line), cSoftPkgScenario::eTxtBadSource);
    ASSERT_NE(s.errorPath(), nullptr);
    EXPECT_EQ(std::string(s.errorPath()), big);
}
