// The scenario's queries against values worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "softmgr/softpkgscenario.h"
#include "testutil.h"

namespace {

void addFile(cSoftPkgScenario& s, size_t bytes, unsigned char x32, unsigned char x64) {
    std::vector<unsigned char> d = testutil::randomBytes(bytes, (unsigned)bytes);
    cBufWrapperIO in(d.data(), (long long)d.size());
    int i = s.payload().addPkgItem(&in, false);
    ASSERT_GE(i, 0);
    cSoftPkgScenario::sIntFileDef* f = s.files.add();
    f->item = (unsigned)i;
    f->target = {s.keepFileId("pgm"), s.keepFilePath("f")};
    f->x32 = x32;
    f->x64 = x64;
}

}  // namespace

TEST(SoftPkgScenario, StringsResolvePerLanguageThenDefault) {
    cSoftPkgScenario s;
    int missing = -1;
    EXPECT_TRUE(s.isValidDef("anything", missing));  // no language declared
    s.langStrings.insert(0);
    s.langStrings.insert(2);
    ASSERT_TRUE(s.setStr(-1, "empty", ""));
    ASSERT_TRUE(s.setStr(-1, "both", "default"));
    ASSERT_TRUE(s.setStr(2, "both", "deutsch"));
    ASSERT_TRUE(s.setStr(2, "only2", "x"));
    EXPECT_FALSE(s.setStr(1, "x", "y"));
    EXPECT_STREQ(s.getStr("empty"), "");
    EXPECT_STREQ(s.getStr("both"), "default");
    EXPECT_EQ(s.getStr("only2"), nullptr);
    ASSERT_TRUE(s.setCurrLangID(2));
    EXPECT_STREQ(s.getStr("both"), "deutsch");
    EXPECT_STREQ(s.getStr("only2"), "x");
    EXPECT_FALSE(s.isValidDef("only2", missing));
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(s.isValidDef("pgm", missing));
    s.clearStr("both");
    EXPECT_EQ(s.getStr("both"), nullptr);
    _List<int> langs;
    s.getSupportedLangs(langs);
    ASSERT_EQ(langs.count(), 2);
    EXPECT_EQ(langs.head->value * 10 + langs.tail->value, 2);
}

TEST(SoftPkgScenario, PathsVersionsAndSizes) {
    cSoftPkgScenario s;
    s.setStr(-1, "apps", "/Applications/");
    s.setStr(-1, "opt", "/opt");
    s.setStr(-1, "none", "");
    struct {
        const char* id;
        const char* path;
        const char* want;  // null: fails
    } paths[] = {{"apps", "Tool.app", "/Applications/Tool.app"}, {"opt", "Tool.app", "/opt/Tool.app"},
                 {"opt", "", "/opt"}, {"none", "x", "x"}, {"", "rel/x", "rel/x"}, {"nosuch", "x", nullptr}};
    for (auto& p : paths) {
        cSoftPkgScenario::sPathDef d;
        d.id.set(p.id);
        d.path.set(p.path);
        _guardchar<char> out;
        EXPECT_EQ(s.defToPath(d, out), p.want != nullptr) << p.id;
        if (p.want) {
            EXPECT_STREQ(out.ptr, p.want);
        }
    }
    struct {
        int v[4];
        bool full;
        const char* text;
    } vers[] = {{{1, 2, 0, 0}, true, "1.2"}, {{1, 2, 0, 4}, true, "1.2.0.4"}, {{1, 2, 3, 0}, true, "1.2.3"},
                {{1, 2, 3, 4}, false, "1.2.3"}};
    for (auto& v : vers) {
        memcpy(s.version, v.v, sizeof(v.v));
        _guardchar<char> t;
        s.getStrVer(t, v.full);
        EXPECT_STREQ(t.ptr, v.text);
    }
    int v1234[4] = {1, 2, 3, 4};
    memcpy(s.version, v1234, sizeof(v1234));
    EXPECT_EQ(s.getVerID(), 0x0001000200030004ULL);

    addFile(s, 1, 1, 1);
    EXPECT_EQ(s.requiresSize(65536), 65536u);
    addFile(s, 65537, 1, 1);
    EXPECT_EQ(s.requiresSize(65536), 65536u + 131072u);
    EXPECT_EQ(s.requiresSize(0), 65538u);
    addFile(s, 10, 1, 0);  // 32-bit only
    s.setSystemBits(64);
    EXPECT_EQ(s.requiresSize(0), 65538u);
    s.setSystemBits(32);
    EXPECT_EQ(s.requiresSize(0), 65548u);
}

TEST(SoftPkgScenario, CopiedFilesFailForMissingPayloadItems) {
    cSoftPkgScenario s;
    s.setStr(-1, "pgm", "/tmp/x");
    addFile(s, 5, 1, 1);
    cSoftPkgScenario::cCopiedFiles out;
    ASSERT_TRUE(s.getCopiedFiles(out));
    s.files.tail->value.item = 7;
    EXPECT_FALSE(s.getCopiedFiles(out));
}

// A file record's languages, packed in one word: all twelve fit, in the order given; a
// repeat or a number outside 0-11 is refused (the data file's reader refuses them too).
TEST(SoftPkgScenario, FileLanguagesKeepTheirOrderAndRefuseRepeats) {
    cSoftPkgScenario::cFileLangs langs;
    std::vector<int> want = {7, 10, 0, 3, 9, 1, 11, 8, 2, 6, 4, 5};
    for (int l : want) ASSERT_TRUE(langs.add(l));
    for (int bad : {7, 5, 11, 12, 15, -1}) EXPECT_FALSE(langs.add(bad)) << bad;
    std::vector<int> got;
    for (int i = 0; i < langs.count(); i++) got.push_back(langs[i]);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(langs.has(10));
    cSoftPkgScenario::cFileLangs none;
    EXPECT_TRUE(none.empty() && !none.has(0));
}

TEST(SoftPkgScenario, SafeNamesAndPaths) {
    struct {
        const char* text;
        bool code, path;
    } cases[] = {{"demo-app_1.2", true, true}, {"", false, true},       {"a b", false, true},
                 {"a/b", false, true},         {"../x", false, false},  {"a/../b", false, false},
                 {"a//b", false, false},       {"/abs", false, false},  {"a/", false, false},
                 {"a\tb", false, false},       {"..a/b..", false, true}, {"\xd0\x96", false, true}};
    for (auto& c : cases) {
        EXPECT_EQ(cSoftPkgScenario::isSafeCodeName(c.text), c.code) << c.text;
        EXPECT_EQ(cSoftPkgScenario::isSafeRelPath(c.text), c.path) << c.text;
    }
    EXPECT_TRUE(cSoftPkgScenario::isSafeCodeName(std::string(128, 'a').c_str()));
    EXPECT_FALSE(cSoftPkgScenario::isSafeCodeName(std::string(129, 'a').c_str()));
}
