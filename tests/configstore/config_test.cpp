// The configuration store: typed round trips through real hive files (checked against a
// plain model, zlib's CRC-32 and an independent python reader), durability under a
// crash and concurrent saves, damaged and hostile hive files.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/fileops.h"
#include "configstore/appconfig_store.h"
#include "configstore/ciappconfig.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

// The independent reader of hive files.
const std::string kHiveReader = std::string(QMX_TESTS_DIR) + "/configstore/hive_reader.py";

// What the store should hold, written plainly: key -> (kind, little-endian bytes).
struct ModelValue {
    int kind;
    std::vector<unsigned char> data;
};
typedef std::map<std::string, ModelValue> Model;

std::vector<unsigned char> le(unsigned long long v, int n) {
    std::vector<unsigned char> b;
    for (int i = 0; i < n; i++) b.push_back((unsigned char)(v >> (8 * i)));
    return b;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    std::string out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool collect(const char* name, void* p) {
    ((std::vector<std::string>*)p)->push_back(name);
    return true;
}

std::vector<std::string> subsections(cCIAppConfig& c, const char* section) {
    std::vector<std::string> v;
    if (!c.enumSubsections(section, collect, &v)) v.push_back("<false>");
    return v;
}

// Hive bytes built by hand, independently of the encoder: records as given.
struct RawRecord {
    int kind;
    std::string path;
    std::vector<unsigned char> data;
};
std::vector<unsigned char> rawHive(const std::vector<RawRecord>& recs, int version = 1, long long countDelta = 0) {
    std::vector<unsigned char> body;
    for (const RawRecord& r : recs) {
        body.push_back((unsigned char)r.kind);
        body.push_back((unsigned char)r.path.size());
        body.push_back((unsigned char)(r.path.size() >> 8));
        body.insert(body.end(), r.path.begin(), r.path.end());
        if (r.kind != 1) {
            std::vector<unsigned char> n = le(r.data.size(), 4);
            body.insert(body.end(), n.begin(), n.end());
            body.insert(body.end(), r.data.begin(), r.data.end());
        }
    }
    std::vector<unsigned char> h = {'Q', 'M', 'X', 'C'};
    auto put = [&](unsigned long long v, int n) {
        std::vector<unsigned char> b = le(v, n);
        h.insert(h.end(), b.begin(), b.end());
    };
    put(version, 2);
    put(24, 2);
    put(recs.size() + countDelta, 4);
    put(body.size(), 4);
    put(crc32(0, body.data(), body.size()), 4);
    put(crc32(0, h.data(), 20), 4);
    h.insert(h.end(), body.begin(), body.end());
    return h;
}

// Makes the body and header checksums of a hive right again after an edit.
void fixChecksums(std::vector<unsigned char>& b) {
    unsigned int bc = (unsigned int)crc32(0, b.data() + 24, (uInt)(b.size() - 24));
    for (int i = 0; i < 4; i++) b[16 + i] = (unsigned char)(bc >> (8 * i));
    unsigned int hc = (unsigned int)crc32(0, b.data(), 20);
    for (int i = 0; i < 4; i++) b[20 + i] = (unsigned char)(hc >> (8 * i));
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { folder = home.path() + "/.qmxt"; }
    bool openStore(cCIAppConfig& c) {
        if (c.open("qmxt")) return true;
        return c.create("qmxt") && c.open("qmxt");
    }
    TempDir home;
    testutil::EnvScope homeVar{"HOME", home.path()};
    std::string folder;
};

// Writes every kind of value, with edge values, and checks what a fresh store reads
// back against the model; also the widths of zero-extended integers.
TEST_F(StoreTest, RoundTripsEveryValueKind) {
    cCIAppConfig c;
    ASSERT_FALSE(c.open("qmxt"));  // not there yet
    ASSERT_TRUE(c.create("qmxt"));
    ASSERT_TRUE(c.open("qmxt"));
    struct stat st;
    ASSERT_EQ(0, stat(folder.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    Model m;
    std::vector<unsigned char> big = testutil::randomBytes(200000, 7);
    const std::string text = "Grüße, 世界";
    struct Case {
        const char* key;
        int kind;
        unsigned long long v;
    } ints[] = {
        {"lang/current", 0x12, 0xFFFF},            {"install/pkg/ver", 0x18, 0xFFFFFFFFFFFFFFFFull},
        {"install/pkg/utime", 0x14, 0x80000001u},  {"install/pkg/files", 0x14, 0},
        {"install/pkg/lang", 0x12, 3},             {"install/other/ver", 0x18, 0x0001000200010000ull},
        {"a/b/c/d/e/f/g", 0x11, 0xFE},
    };
    for (const Case& k : ints) {
        bool ok = k.kind == 0x11   ? c.setParamInt8(k.key, (unsigned char)k.v)
                  : k.kind == 0x12 ? c.setParamInt16(k.key, (unsigned short)k.v)
                  : k.kind == 0x14 ? c.setParamInt32(k.key, (unsigned int)k.v)
                                   : c.setParamInt64(k.key, k.v);
        ASSERT_TRUE(ok) << k.key;
        m[k.key] = {k.kind, le(k.v, k.kind & 0x0F)};
    }
    struct TextCase {
        const char* key;
        const char* text;
        long long length;
        std::string stored;
    } texts[] = {
        {"install/pkg/path", "/home/u/Applications/Pkg", -1, "/home/u/Applications/Pkg"},
        {"install/pkg/name", text.c_str(), -1, text},
        {"install/pkg/empty", "", -1, ""},
        {"install/pkg/cut", "abcdef", 3, "abc"},
        {"install/pkg/past", "ab", 100, "ab"},  // never past the terminator
        {"installer/app", "x", 0, ""},
    };
    for (const TextCase& t : texts) {
        ASSERT_TRUE(c.setParamStr(t.key, t.text, t.length)) << t.key;
        m[t.key] = {0x20, std::vector<unsigned char>(t.stored.begin(), t.stored.end())};
    }
    ASSERT_TRUE(c.setParamBin("blob/big", big.data(), (long long)big.size()));
    m["blob/big"] = {0x30, big};
    ASSERT_TRUE(c.setParamBin("blob/none", nullptr, 0));
    m["blob/none"] = {0x30, {}};
    // A later write replaces kind and value.
    ASSERT_TRUE(c.setParamStr("install/pkg/files", "now text"));
    m["install/pkg/files"] = {0x20, {'n', 'o', 'w', ' ', 't', 'e', 'x', 't'}};
    ASSERT_TRUE(c.saveConfig());

    // One hive per top-level section, and nothing else but the lock.
    EXPECT_EQ((std::vector<std::string>{".lock", "a.hive", "blob.hive", "install.hive", "installer.hive",
                                        "lang.hive"}),
              listDir(folder));

    cCIAppConfig d;
    ASSERT_TRUE(d.open("qmxt"));
    for (auto& kv : m) {
        const char* key = kv.first.c_str();
        const ModelValue& v = kv.second;
        unsigned long long iv = 12345;
        _guardchar<char> sv;
        _typebuf<unsigned char> bv;
        bool isInt = v.kind >= 0x11 && v.kind <= 0x18;
        EXPECT_EQ(isInt, d.getParamInt(key, iv)) << key;
        EXPECT_EQ(v.kind == 0x20, d.getParamStr(key, sv)) << key;
        EXPECT_EQ(v.kind == 0x30, d.getParamBin(key, bv)) << key;
        if (isInt) {
            unsigned long long want = 0;
            for (size_t i = v.data.size(); i-- > 0;) want = (want << 8) | v.data[i];
            EXPECT_EQ(want, iv) << key;
        } else {
            EXPECT_EQ(12345u, iv) << key << ": left untouched";
        }
        if (v.kind == 0x20) {
            ASSERT_NE(nullptr, sv.ptr) << key;
            EXPECT_EQ(std::string(v.data.begin(), v.data.end()), std::string(sv.ptr)) << key;
        }
        if (v.kind == 0x30) {
            EXPECT_EQ(v.data, std::vector<unsigned char>(bv.ptr, bv.ptr + bv.count)) << key;
        }
    }
    EXPECT_EQ(0x00010000, d.getParamInt32("install/other/ver"));
    EXPECT_EQ(0xFFFF, d.getParamInt32("lang/current"));  // zero-extended, not -1
    EXPECT_EQ(-7, d.getParamInt32("install/pkg/name", -7));  // a text is no integer
    unsigned long long absent = 99;
    EXPECT_FALSE(d.getParamInt("install/pkg/nope", absent));
    EXPECT_FALSE(d.getParamInt("nosuch/key", absent));
    EXPECT_EQ(99u, absent);

    // The python reader, written from the format description alone, reads the same.
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    std::map<std::string, std::vector<std::string>> byHive;
    for (auto& kv : m) {
        std::string top = kv.first.substr(0, kv.first.find('/'));
        std::string rel = kv.first.substr(top.size() + 1);
        static const char* hex = "0123456789abcdef";
        std::string h;
        for (unsigned char b : kv.second.data) h += hex[b >> 4], h += hex[b & 15];
        char kind[3];
        snprintf(kind, sizeof(kind), "%02x", kv.second.kind);
        byHive[top].push_back(std::string(kind) + "\t" + rel + "\t" + h);
        for (size_t p = rel.find('/'); p != std::string::npos; p = rel.find('/', p + 1))
            byHive[top].push_back("01\t" + rel.substr(0, p) + "\t");
    }
    for (auto& kv : byHive) {
        std::vector<std::string>& want = kv.second;
        std::sort(want.begin(), want.end());
        want.erase(std::unique(want.begin(), want.end()), want.end());
        std::string out;
        ASSERT_EQ(0, testutil::run({"python3", kHiveReader, folder + "/" + kv.first + ".hive"}, &out)) << out;
        std::string joined;
        for (auto& l : want) joined += l + "\n";
        EXPECT_EQ(joined, out) << kv.first;
    }
}

// Hand-built files: the decoder agrees with the independent writer on good ones and
// refuses each malformed one.
TEST(HiveFormat, ParsesHandBuiltFilesAndRefusesMalformedOnes) {
    std::vector<unsigned char> one = {1}, two = {1, 0}, four = {1, 0, 0, 0}, eight(8, 0);
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        int result;
    } cases[] = {
        {"empty hive", rawHive({}), kHiveOk},
        {"values", rawHive({{0x12, "current", two}, {1, "s/t", {}}, {0x20, "s/t/x", {'h', 'i'}}}), kHiveOk},
        {"value before its section record", rawHive({{0x14, "a/b", four}, {1, "a", {}}}), kHiveOk},
        {"newer version", rawHive({{0x12, "k", two}}, 2), kHiveNewer},
        {"version 0", rawHive({}, 0), kHiveDamaged},
        {"duplicate key", rawHive({{0x12, "k", two}, {0x12, "k", two}}), kHiveDamaged},
        {"int width wrong", rawHive({{0x14, "k", two}}), kHiveDamaged},
        {"int8 width wrong", rawHive({{0x11, "k", two}}), kHiveDamaged},
        {"int64 width wrong", rawHive({{0x18, "k", four}}), kHiveDamaged},
        {"unknown kind", rawHive({{0x13, "k", one}}), kHiveDamaged},
        {"empty path", rawHive({{0x11, "", one}}), kHiveDamaged},
        {"leading slash", rawHive({{0x11, "/k", one}}), kHiveDamaged},
        {"trailing slash", rawHive({{1, "k/", {}}}), kHiveDamaged},
        {"double slash", rawHive({{0x11, "a//k", one}}), kHiveDamaged},
        {"zero byte in path", rawHive({{0x11, std::string("a\0b", 3), one}}), kHiveDamaged},
        {"too deep", rawHive({{0x11, [] {
                                   std::string p;
                                   for (int i = 0; i < 66; i++) p += "d/";
                                   return p + "k";
                               }(), one}}),
         kHiveDamaged},
        {"too long a path", rawHive({{0x11, std::string(1025, 'x'), one}}), kHiveDamaged},
        {"count too high", rawHive({{0x11, "k", one}}, 1, 1), kHiveDamaged},
        {"count too low", rawHive({{0x11, "k", one}, {0x11, "j", one}}, 1, -1), kHiveDamaged},
        {"count far too high", rawHive({{0x11, "k", one}}, 1, 0x7FFFFFFF), kHiveDamaged},
    };
    for (const Case& k : cases) {
        cConfigSection s;
        EXPECT_EQ(k.result, cfgParseHive(k.bytes.data(), (long long)k.bytes.size(), s)) << k.what;
    }
    // A value length that runs past the body, with both checksums made right.
    std::vector<unsigned char> b = rawHive({{0x20, "k", {'a', 'b'}}});
    b[24 + 4] = 0xFF;  // data length low byte
    fixChecksums(b);
    cConfigSection s;
    EXPECT_EQ(kHiveDamaged, cfgParseHive(b.data(), (long long)b.size(), s));
    EXPECT_EQ(kHiveDamaged, cfgParseHive(nullptr, 0, s));
}

// Keys the store must refuse (no section, empty components, too long or too deep) and
// the same shapes that are fine.
TEST_F(StoreTest, RefusesMalformedKeys) {
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    std::string deep = "top";
    for (int i = 0; i < 64; i++) deep += "/s";
    struct Case {
        std::string key;
        bool ok;
    } cases[] = {
        {"", false}, {"a", false}, {"/a", false}, {"a/", false}, {"a//b", false}, {"a/b/", false},
        {std::string(65, 't') + "/k", false}, {"t/" + std::string(1025, 'k'), false}, {deep + "/s/k", false},
        {"a/b", true}, {deep + "/k", true}, {std::string(64, 't') + "/k", true}, {"..//k", false},
        {"../k", true}, {"with space/and%percent", true}, {"t/" + std::string(1024, 'k'), true},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(k.ok, c.setParamInt32(k.key.c_str(), 5)) << k.key;
    }
    ASSERT_TRUE(c.saveConfig());
    cCIAppConfig d;
    ASSERT_TRUE(openStore(d));
    for (const Case& k : cases) {
        unsigned long long v = 0;
        EXPECT_EQ(k.ok, d.getParamInt(k.key.c_str(), v) && v == 5) << k.key;
    }
    // Odd top-level names are escaped into safe file names and found again.
    std::vector<std::string> files = listDir(folder);
    for (const std::string& f : files) EXPECT_EQ(std::string::npos, f.find('/')) << f;
    EXPECT_NE(files.end(), std::find(files.begin(), files.end(), "%2E%2E.hive"));
    EXPECT_NE(files.end(), std::find(files.begin(), files.end(), "with%20space.hive"));
    std::vector<std::string> tops = subsections(d, "");
    EXPECT_NE(tops.end(), std::find(tops.begin(), tops.end(), ".."));
    EXPECT_NE(tops.end(), std::find(tops.begin(), tops.end(), "with space"));
}

// Sections: existence, enumeration order and early stop, removal of a subsection and
// of a whole hive, and that a callback may change the store.
TEST_F(StoreTest, SectionsEnumerateAndRemove) {
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    for (const char* k : {"install/zeta/ver", "install/alpha/ver", "install/mid/ver", "install/mid/sub/x", "lang/current"})
        ASSERT_TRUE(c.setParamInt16(k, 1));
    EXPECT_TRUE(c.hasSection(""));
    EXPECT_TRUE(c.hasSection("install"));
    EXPECT_TRUE(c.hasSection("install/mid/sub"));
    EXPECT_FALSE(c.hasSection("install/nope"));
    EXPECT_FALSE(c.hasSection("nope"));
    EXPECT_FALSE(c.hasSection("install/mid/ver"));  // a value, not a section
    EXPECT_EQ((std::vector<std::string>{"alpha", "mid", "zeta"}), subsections(c, "install"));
    EXPECT_EQ((std::vector<std::string>{"<false>"}), subsections(c, "install/nope"));
    EXPECT_EQ((std::vector<std::string>{"install", "lang"}), subsections(c, ""));

    struct Stopper {
        int calls = 0;
        static bool cb(const char*, void* p) { return ++((Stopper*)p)->calls < 2; }
    } stop;
    EXPECT_TRUE(c.enumSubsections("install", Stopper::cb, &stop));
    EXPECT_EQ(2, stop.calls);

    // Removing each package from inside the enumeration.
    struct Remover {
        cCIAppConfig* c;
        static bool cb(const char* name, void* p) {
            std::string s = std::string("install/") + name;
            return ((Remover*)p)->c->removeSection(s.c_str());
        }
    } rem{&c};
    EXPECT_TRUE(c.enumSubsections("install", Remover::cb, &rem));
    EXPECT_EQ((std::vector<std::string>{}), subsections(c, "install"));
    EXPECT_TRUE(c.hasSection("install"));
    ASSERT_TRUE(c.setParamInt16("install/again/ver", 2));
    ASSERT_TRUE(c.removeParam("install/again/ver"));
    EXPECT_TRUE(c.hasSection("install/again"));
    ASSERT_TRUE(c.saveConfig());

    cCIAppConfig d;
    ASSERT_TRUE(openStore(d));
    EXPECT_EQ((std::vector<std::string>{"again"}), subsections(d, "install"));  // empty sections persist

    // Removing a whole top-level section removes its file.
    cCIAppFullConfig f;
    ASSERT_TRUE(f.open("qmxt"));
    ASSERT_TRUE(f.removeSectionG("install"));
    EXPECT_FALSE(f.global()->hasSection("install"));
    ASSERT_TRUE(f.saveConfig());
    EXPECT_EQ((std::vector<std::string>{".lock", "lang.hive"}), listDir(folder));
    cCIAppConfig g;
    ASSERT_TRUE(openStore(g));
    EXPECT_EQ((std::vector<std::string>{"lang"}), subsections(g, ""));
}

// saveConfig rewrites only hives with changes; discardChanges forgets unsaved ones.
TEST_F(StoreTest, SavesOnlyChangedHivesAndDiscards) {
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    ASSERT_TRUE(c.setParamInt16("lang/current", 1));
    ASSERT_TRUE(c.setParamStr("installer/app", "/x"));
    ASSERT_TRUE(c.saveConfig());
    struct stat a1, b1, a2, b2;
    ASSERT_EQ(0, stat((folder + "/lang.hive").c_str(), &a1));
    ASSERT_EQ(0, stat((folder + "/installer.hive").c_str(), &b1));
    ASSERT_TRUE(c.setParamInt16("lang/current", 2));
    unsigned long long v = 0;
    ASSERT_TRUE(c.saveConfig());
    ASSERT_EQ(0, stat((folder + "/lang.hive").c_str(), &a2));
    ASSERT_EQ(0, stat((folder + "/installer.hive").c_str(), &b2));
    EXPECT_NE(a1.st_ino, a2.st_ino);  // replaced
    EXPECT_EQ(b1.st_ino, b2.st_ino);  // untouched
    EXPECT_EQ(b1.st_mtim.tv_nsec, b2.st_mtim.tv_nsec);

    ASSERT_TRUE(c.setParamInt16("lang/current", 3));
    ASSERT_TRUE(c.removeSection("installer"));
    c.discardChanges();
    EXPECT_TRUE(c.getParamInt("lang/current", v));
    EXPECT_EQ(2u, v);
    _guardchar<char> s;
    EXPECT_TRUE(c.getParamStr("installer/app", s));
    ASSERT_TRUE(c.saveConfig());  // nothing to write
    struct stat a3;
    ASSERT_EQ(0, stat((folder + "/lang.hive").c_str(), &a3));
    EXPECT_EQ(a2.st_ino, a3.st_ino);
}

// A store that read a hive before another one saved it merges on save: both changes
// survive, and a removal made here is not undone by the other's copy.
TEST_F(StoreTest, MergesWithAHiveSavedMeanwhile) {
    cCIAppConfig a, b;
    ASSERT_TRUE(openStore(a));
    ASSERT_TRUE(a.setParamStr("install/p/keep", "k"));
    ASSERT_TRUE(a.setParamStr("install/p/drop", "d"));
    ASSERT_TRUE(a.setParamStr("install/q/ver", "q"));
    ASSERT_TRUE(a.saveConfig());
    ASSERT_TRUE(b.open("qmxt"));
    _guardchar<char> s;
    ASSERT_TRUE(b.getParamStr("install/p/keep", s));  // b has read the hive

    ASSERT_TRUE(a.setParamStr("install/p/fromA", "a"));
    ASSERT_TRUE(a.removeSection("install/q"));
    ASSERT_TRUE(a.saveConfig());
    ASSERT_TRUE(b.setParamStr("install/p/fromB", "b"));
    ASSERT_TRUE(b.removeParam("install/p/drop"));
    // Replayed over a's file: a key's last change decides it, also when the changes between
    // a set and a removal fill several blocks of the change log.
    for (const char* v : {"1", "2"}) ASSERT_TRUE(b.setParamStr("install/p/twice", v));
    ASSERT_TRUE(b.setParamStr("install/r/gone", "g"));
    char key[64];
    for (int i = 0; i < 400; i++) {
        snprintf(key, sizeof key, "install/many/key%d", i);
        ASSERT_TRUE(b.setParamStr(key, "m"));
    }
    ASSERT_TRUE(b.removeSection("install/r"));
    ASSERT_TRUE(b.saveConfig());

    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    for (const char* k : {"install/p/keep", "install/p/fromA", "install/p/fromB"})
        EXPECT_TRUE(c.getParamStr(k, s)) << k;
    EXPECT_FALSE(c.getParamStr("install/p/drop", s));
    EXPECT_FALSE(c.hasSection("install/q"));
    EXPECT_FALSE(c.hasSection("install/r"));
    ASSERT_TRUE(c.getParamStr("install/p/twice", s));
    EXPECT_STREQ(s.ptr, "2");
    for (int i = 0; i < 400; i++) {
        snprintf(key, sizeof key, "install/many/key%d", i);
        ASSERT_TRUE(c.getParamStr(key, s)) << key;
    }
    // b now sees a's change too.
    EXPECT_TRUE(b.getParamStr("install/p/fromA", s));
    // Read anew, a sees what b saved; what it had not saved is saved, not dropped.
    ASSERT_TRUE(a.setParamStr("install/p/unsaved", "u"));
    EXPECT_TRUE(a.readAnew());
    EXPECT_TRUE(a.getParamStr("install/p/fromB", s));
    cCIAppConfig d;
    ASSERT_TRUE(openStore(d));
    EXPECT_TRUE(d.getParamStr("install/p/unsaved", s));
}

bool gKillBeforeRename = false;
void killHook(const char* tempPath) {
    if (gKillBeforeRename) raise(SIGKILL);
}

// A process killed after writing its temporary file but before the rename leaves the
// old hive as it was; the next save clears the leftover.
TEST_F(StoreTest, CrashBeforeRenameKeepsTheOldHive) {
    {
        cCIAppConfig c;
        ASSERT_TRUE(openStore(c));
        ASSERT_TRUE(c.setParamStr("lang/name", "old"));
        ASSERT_TRUE(c.saveConfig());
    }
    std::vector<unsigned char> before = testutil::readFile(folder + "/lang.hive");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        cCIAppConfig c;
        if (!c.open("qmxt")) _exit(3);
        c.setParamStr("lang/name", "new");
        gKillBeforeRename = true;
        cConfigHive::setSaveHook(killHook);
        c.saveConfig();
        _exit(4);  // not reached
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(before, testutil::readFile(folder + "/lang.hive"));
    std::vector<std::string> files = listDir(folder);
    ASSERT_EQ(3u, files.size());  // its leftover temporary, the lock, the hive
    EXPECT_EQ(0u, files[0].rfind(".lang.hive.tmp-", 0)) << files[0];

    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    _guardchar<char> s;
    ASSERT_TRUE(c.getParamStr("lang/name", s));
    EXPECT_STREQ("old", s.ptr);
    EXPECT_EQ(0, c.damagedCount());
    ASSERT_TRUE(c.setParamStr("lang/name", "newer"));
    ASSERT_TRUE(c.saveConfig());
    EXPECT_EQ((std::vector<std::string>{".lock", "lang.hive"}), listDir(folder));
}

// The flush of the store's folder after a hive is renamed into place (or removed) is the
// save's as much as the rename: when it fails, the save is reported failed.
TEST_F(StoreTest, FailedFolderFlushFailsTheSave) {
    struct FailingFlush : cFileOps {
        bool fail = false;
        bool syncFolder(const char* path) override { return !fail && cFileOps::syncFolder(path); }
    } ops;
    cConfigHive::setFileOps(&ops);
    struct Restore {
        ~Restore() { cConfigHive::setFileOps(nullptr); }
    } restore;
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    ASSERT_TRUE(c.setParamStr("lang/name", "first"));
    ASSERT_TRUE(c.saveConfig());
    ASSERT_TRUE(c.setParamStr("lang/name", "second"));
    ops.fail = true;
    EXPECT_FALSE(c.saveConfig()) << "renamed in place";
    EXPECT_FALSE(c.readAnew()) << "read anew over an unsaved change";
    _guardchar<char> kept;
    EXPECT_TRUE(c.getParamStr("lang/name", kept) && strcmp(kept.ptr, "second") == 0);
    ops.fail = false;
    ASSERT_TRUE(c.saveConfig());
    ASSERT_TRUE(c.removeSection("lang"));
    ops.fail = true;
    EXPECT_FALSE(c.saveConfig()) << "removed";
    ops.fail = false;
    EXPECT_TRUE(c.saveConfig());
    cCIAppConfig fresh;
    ASSERT_TRUE(openStore(fresh));
    _guardchar<char> s;
    EXPECT_FALSE(fresh.getParamStr("lang/name", s));
}

// Several processes save different keys of one hive at the same time, many rounds each:
// every key of every process is there at the end.
TEST_F(StoreTest, ConcurrentProcessesKeepEachOthersKeys) {
    const int kProcs = 4, kRounds = 15;
    int go[2];
    ASSERT_EQ(0, pipe(go));
    {
        cCIAppConfig c;
        ASSERT_TRUE(openStore(c));
    }
    std::vector<pid_t> kids;
    for (int p = 0; p < kProcs; p++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char x;
            if (read(go[0], &x, 1) < 0) _exit(5);  // everybody starts at once (pipe closed)
            cCIAppConfig c;
            if (!c.open("qmxt")) _exit(3);
            for (int r = 0; r < kRounds; r++) {
                char key[64];
                snprintf(key, sizeof(key), "shared/p%d/k%d", p, r);
                c.setParamInt32(key, (unsigned)(p * 1000 + r));
                snprintf(key, sizeof(key), "own%d/k%d", p, r);
                c.setParamInt32(key, (unsigned)r);
                if (!c.saveConfig()) _exit(6);
            }
            _exit(0);
        }
        kids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    for (int p = 0; p < kProcs; p++)
        for (int r = 0; r < kRounds; r++) {
            char key[64];
            unsigned long long v = 0;
            snprintf(key, sizeof(key), "shared/p%d/k%d", p, r);
            EXPECT_TRUE(c.getParamInt(key, v) && v == (unsigned)(p * 1000 + r)) << key;
            snprintf(key, sizeof(key), "own%d/k%d", p, r);
            EXPECT_TRUE(c.getParamInt(key, v) && v == (unsigned)r) << key;
        }
    EXPECT_EQ(0, c.damagedCount());
}

// Threads of one process share one store object, and two store objects of one process
// (which fcntl locks alone would not keep apart) save the same hive: nothing is lost.
TEST_F(StoreTest, ThreadsAndStoreObjectsOfOneProcessKeepEachOthersKeys) {
    cCIAppConfig shared, other;
    ASSERT_TRUE(openStore(shared));
    ASSERT_TRUE(other.open("qmxt"));
    const int kThreads = 4, kRounds = 25;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            cCIAppConfig& c = t % 2 ? other : shared;
            for (int r = 0; r < kRounds; r++) {
                char key[64];
                snprintf(key, sizeof(key), "h/t%d/k%d", t, r);
                if (!c.setParamInt64(key, (unsigned long long)t << 32 | (unsigned)r) || !c.saveConfig()) failures++;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(0, failures.load());
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    for (int t = 0; t < kThreads; t++)
        for (int r = 0; r < kRounds; r++) {
            char key[64];
            unsigned long long v = 0;
            snprintf(key, sizeof(key), "h/t%d/k%d", t, r);
            EXPECT_TRUE(c.getParamInt(key, v) && v == ((unsigned long long)t << 32 | (unsigned)r)) << key;
        }
}

// Every single-bit flip and every truncation of a good hive: the store sets the file
// aside with its bytes intact, reports it, reads the section as absent, and carries on.
TEST_F(StoreTest, DamagedHiveIsSetAsideAndReported) {
    std::vector<unsigned char> good;
    {
        cCIAppConfig c;
        ASSERT_TRUE(openStore(c));
        ASSERT_TRUE(c.setParamInt16("h/lang", 2));
        ASSERT_TRUE(c.setParamStr("h/pkg/name", "Name"));
        ASSERT_TRUE(c.setParamBin("h/pkg/raw", "\x00\x01", 2));
        ASSERT_TRUE(c.saveConfig());
        good = testutil::readFile(folder + "/h.hive");
    }
    ASSERT_GT(good.size(), 24u);
    std::vector<std::vector<unsigned char>> bad;
    for (size_t i = 0; i < good.size(); i++)
        for (int bit : {0, 7}) {
            bad.push_back(good);
            bad.back()[i] ^= (unsigned char)(1 << bit);
        }
    for (size_t n = 0; n < good.size(); n++) bad.push_back(std::vector<unsigned char>(good.begin(), good.begin() + n));
    std::vector<unsigned char> longer = good;
    longer.push_back(0);
    bad.push_back(longer);

    bool python = testutil::haveTool("python3");
    for (size_t k = 0; k < bad.size(); k++) {
        TempDir dir;
        std::string hive = dir.file("h.hive");
        ASSERT_TRUE(testutil::writeFile(hive, bad[k]));
        if (python && k % 16 == 0) {  // the independent reader refuses it too
            std::string out;
            EXPECT_EQ(2, testutil::run({"python3", kHiveReader, hive}, &out))
                << k << out;
        }
        cCIAppConfig c;
        ASSERT_TRUE(c.openFolder(dir.path().c_str()));
        unsigned long long v = 77;
        EXPECT_FALSE(c.getParamInt("h/lang", v)) << k;
        EXPECT_EQ(77u, v);
        ASSERT_EQ(1, c.damagedCount()) << k;
        _guardchar<char> aside;
        ASSERT_TRUE(c.damagedPath(0, aside));
        EXPECT_EQ(0u, std::string(aside.ptr).rfind(hive + ".damaged-", 0)) << aside.ptr;
        EXPECT_EQ(bad[k], testutil::readFile(aside.ptr)) << k;
        EXPECT_EQ(-1, access(hive.c_str(), F_OK));
        // The store still works and writes a good hive in its place.
        ASSERT_TRUE(c.setParamInt16("h/lang", 5));
        ASSERT_TRUE(c.saveConfig());
        cCIAppConfig d;
        ASSERT_TRUE(d.openFolder(dir.path().c_str()));
        EXPECT_TRUE(d.getParamInt("h/lang", v) && v == 5) << k;
        EXPECT_EQ(0, d.damagedCount());
    }
}

// A hive damaged on disk after we read it is set aside at save time, not written over
// blindly; a hive from a later version is never touched.
TEST_F(StoreTest, DamageFoundAtSaveAndNewerVersionsAreKept) {
    cCIAppConfig c;
    ASSERT_TRUE(openStore(c));
    ASSERT_TRUE(c.setParamStr("h/a", "1"));
    ASSERT_TRUE(c.saveConfig());
    ASSERT_TRUE(c.setParamStr("h/b", "2"));
    std::vector<unsigned char> junk = testutil::randomBytes(100, 1);
    ASSERT_TRUE(testutil::writeFile(folder + "/h.hive", junk));
    ASSERT_TRUE(c.saveConfig());
    ASSERT_EQ(1, c.damagedCount());
    _guardchar<char> aside;
    ASSERT_TRUE(c.damagedPath(0, aside));
    EXPECT_EQ(junk, testutil::readFile(aside.ptr));
    cCIAppConfig d;
    ASSERT_TRUE(openStore(d));
    _guardchar<char> s;
    EXPECT_TRUE(d.getParamStr("h/a", s));
    EXPECT_TRUE(d.getParamStr("h/b", s));

    std::vector<unsigned char> newer = rawHive({{0x12, "k", {1, 0}}}, 2);
    ASSERT_TRUE(testutil::writeFile(folder + "/n.hive", newer));
    cCIAppConfig e;
    ASSERT_TRUE(openStore(e));
    unsigned long long v = 0;
    EXPECT_FALSE(e.getParamInt("n/k", v));
    EXPECT_EQ(0, e.damagedCount());
    EXPECT_EQ(1, e.unreadableCount());
    ASSERT_TRUE(e.setParamInt16("n/k", 9));
    EXPECT_FALSE(e.saveConfig());
    EXPECT_EQ(newer, testutil::readFile(folder + "/n.hive"));
}

// Anything but a regular file in a hive's place is refused and left as it is; a FIFO
// there used to block the open, and with it every start-up, until a writer came.
TEST_F(StoreTest, NonRegularFilesInPlaceOfAHiveAreRefusedWithoutBlocking) {
    struct Case {
        const char* what;
        mode_t type;
    } cases[] = {{"fifo", S_IFIFO}, {"folder", S_IFDIR}, {"link to a good hive", S_IFLNK}};
    for (const Case& k : cases) {
        TempDir dir;
        std::string hive = dir.file("h.hive");
        {
            cCIAppConfig c;
            ASSERT_TRUE(c.openFolder(dir.path().c_str()));
            ASSERT_TRUE(c.setParamStr("h/a", "1"));
            ASSERT_TRUE(c.saveConfig());
        }
        if (k.type != S_IFLNK) {
            ASSERT_EQ(0, unlink(hive.c_str()));
        }
        if (k.type == S_IFIFO) {
            ASSERT_EQ(0, mkfifo(hive.c_str(), 0600));
        }
        if (k.type == S_IFDIR) {
            ASSERT_EQ(0, mkdir(hive.c_str(), 0700));
        }
        if (k.type == S_IFLNK) {
            ASSERT_EQ(0, rename(hive.c_str(), dir.file("real").c_str()));
            ASSERT_EQ(0, symlink("real", hive.c_str()));
        }
        std::atomic<bool> done{false};
        bool read = true, saved = true;
        int unreadable = -1, damaged = -1;
        std::thread user([&] {
            cCIAppConfig c;
            if (c.openFolder(dir.path().c_str())) {
                _guardchar<char> v;
                read = c.getParamStr("h/a", v);
                c.setParamStr("h/b", "2");
                saved = c.saveConfig();
                unreadable = c.unreadableCount();
                damaged = c.damagedCount();
            }
            done = true;
        });
        for (int i = 0; i < 3000 && !done; i++) usleep(10000);
        EXPECT_TRUE(done.load()) << k.what << ": the store blocked";
        while (!done && k.type == S_IFIFO) {  // let the blocked reader go, each time
            int w = open(hive.c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0) close(w);
            usleep(10000);
        }
        user.join();
        EXPECT_FALSE(read) << k.what;
        EXPECT_FALSE(saved) << k.what;
        EXPECT_EQ(1, unreadable) << k.what;
        EXPECT_EQ(0, damaged) << k.what;
        struct stat st;
        ASSERT_EQ(0, lstat(hive.c_str(), &st)) << k.what;
        EXPECT_EQ(k.type, st.st_mode & S_IFMT) << k.what;
    }
}

// Random bytes and random mutations of a good hive never crash the parser, and a
// parse that succeeds re-encodes to a hive that parses to the same bytes again.
TEST(HiveFormat, HostileBytesNeverCrash) {
    cConfigSection top;
    for (int i = 0; i < 20; i++) {
        char key[32];
        snprintf(key, sizeof(key), "s%d/k%d", i % 3, i);
        cConfigSection* s = top.walk(key, 2, true);
        sConfigValue* v = s->value(key + 3, (long long)strlen(key + 3), true);
        v->kind = kCfgText;
        v->data.set((const unsigned char*)key, 5);
    }
    _typebuf<unsigned char> enc;
    ASSERT_TRUE(cfgEncodeHive(top, enc));
    std::vector<unsigned char> good(enc.ptr, enc.ptr + enc.count);
    for (unsigned seed = 0; seed < 3000; seed++) {
        std::vector<unsigned char> b = seed % 3 == 0 ? testutil::randomBytes(seed % 300, seed) : good;
        std::vector<unsigned char> r = testutil::randomBytes(8, seed + 99);
        if (seed % 3) {
            for (int m = 0; m < 1 + (int)(r[0] % 4); m++) b[(r[m + 1] * 7919u + seed) % b.size()] = r[m + 4];
            if (seed % 3 == 2) b.resize(b.size() - r[7] % 20);
            if (seed % 7 == 0) fixChecksums(b);  // so the records themselves are tried
        }
        cConfigSection s;
        if (cfgParseHive(b.data(), (long long)b.size(), s) == kHiveOk) {
            _typebuf<unsigned char> again;
            ASSERT_TRUE(cfgEncodeHive(s, again));
            cConfigSection s2;
            ASSERT_EQ(kHiveOk, cfgParseHive(again.ptr, again.count, s2));
            _typebuf<unsigned char> third;
            ASSERT_TRUE(cfgEncodeHive(s2, third));
            ASSERT_EQ(again.count, third.count);
            EXPECT_EQ(0, memcmp(again.ptr, third.ptr, (size_t)again.count));
        }
    }
}

}  // namespace
