// The application's language tables: complete in every language, format conversions
// kept, and the stored UI language applied at start-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "memconfig.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/softmgrapp.h"
#include "softmgrapp/sopkglang.h"
#include "testutil.h"
#include "ui/ciappconfig.h"
#include "ui/lang.h"

extern const int gSOPKGLangTable_count;

namespace {

typedef std::map<std::string, std::map<int, std::string>> Table;

Table load(const sLangTableEntry& e) {
    cCiomLang lang;
    EXPECT_TRUE(loadCiomLangData(e.data, e.size, lang)) << "language " << e.id;
    Table t;
    for (cCiomLangData* s = lang.nextSection(nullptr); s; s = lang.nextSection(s))
        for (int i = 0; i < s->count(); i++)
            if (s->string(i)) t[s->name()][i] = s->string(i);
    return t;
}

// The printf conversions of a text, in order (%% is text, not a conversion).
std::vector<std::string> conversions(const std::string& s) { return testutil::printfConversions(s); }

TEST(AppLangTables, NineLanguagesInTheirOrder) {
    ASSERT_EQ(gSOPKGLangTable_count, 9);
    const int ids[] = {eLangENG, eLangDEU, eLangRUS, eLangUKR, eLangKOR, eLangJPN, eLangCHN, eLangTWN, eLangTUR};
    for (int i = 0; i < 9; i++) EXPECT_EQ(cSOPKGLang::gLangs[i].id, ids[i]) << i;
    EXPECT_EQ(cSOPKGLang::_defaultLang(), eLangENG);
}

TEST(AppLangTables, EnglishHoldsEverySectionWithItsCount) {
    Table eng = load(cSOPKGLang::gLangs[0]);
    const std::map<std::string, size_t> counts = {
        {"pkgm::fin", 14},  {"pkgm::fsel", 14}, {"pkgm::iini", 13},  {"pkgm::instp", 7},
        {"pkgm::instw", 26}, {"pkgm::langs", 5}, {"pkgm::rem", 7},   {"pkgm::resp", 2},
        {"pkgm::softm", 18}, {"pkgm::unin", 12}, {"pkgm::updi", 16}, {"pkgm::updr", 3},
    };
    EXPECT_EQ(eng.size(), counts.size());
    for (auto& c : counts) {
        ASSERT_TRUE(eng.count(c.first)) << c.first;
        EXPECT_EQ(eng[c.first].size(), c.second) << c.first;
        // Indexes run from 0 without gaps.
        EXPECT_EQ(eng[c.first].rbegin()->first + 1, (int)c.second) << c.first;
    }
    // Texts the program shows as they are written, slips included.
    EXPECT_EQ(eng["pkgm::updi"][14], "Server of Updates returned an error.\nPlease, try downloading this utdate later.");
    EXPECT_EQ(eng["pkgm::fsel"][5], "approximately %lldMB");
    EXPECT_EQ(eng["pkgm::instw"][0], "%s software installer");
    EXPECT_EQ(eng["pkgm::fin"][13],
              "Application can now be started using an application launcher from the installation folder or via menu "
              "shortcuts.\nPress \"Close\" to exit this installer.");
}

TEST(AppLangTables, EveryTranslationMatchesEnglishIndexesAndConversions) {
    Table eng = load(cSOPKGLang::gLangs[0]);
    for (int l = 1; l < gSOPKGLangTable_count; l++) {
        const sLangTableEntry& e = cSOPKGLang::gLangs[l];
        Table t = load(e);
        EXPECT_EQ(t.size(), eng.size()) << ciLangID(e.id);
        for (auto& sec : eng) {
            for (auto& str : sec.second) {
                bool koreanGap = e.id == eLangKOR && sec.first == "pkgm::langs" && str.first == 4;
                auto sit = t.find(sec.first);
                bool present = sit != t.end() && sit->second.count(str.first);
                if (koreanGap) {
                    EXPECT_FALSE(present) << "Korean pkgm::langs 4 is left to the default table";
                    continue;
                }
                ASSERT_TRUE(present) << ciLangID(e.id) << " " << sec.first << " " << str.first;
                const std::string& tr = sit->second[str.first];
                EXPECT_EQ(conversions(tr), conversions(str.second))
                    << ciLangID(e.id) << " " << sec.first << " " << str.first << ": " << tr;
                EXPECT_NE(tr, "") << ciLangID(e.id) << " " << sec.first << " " << str.first;
            }
        }
        // Nothing beyond English.
        for (auto& sec : t)
            for (auto& str : sec.second)
                EXPECT_TRUE(eng.count(sec.first) && eng[sec.first].count(str.first))
                    << ciLangID(e.id) << " " << sec.first << " " << str.first;
    }
}

TEST(AppLangTables, ConversionOracleSeesWhatPrintfSees) {
    EXPECT_EQ(conversions("%s is %lldMB, 100%% done"), (std::vector<std::string>{"%s", "%lld"}));
    EXPECT_EQ(conversions("%-08.3f%c"), (std::vector<std::string>{"%-08.3f", "%c"}));
}

class StoredLanguage : public ::testing::Test {
protected:
    void SetUp() override { cSOPKGLang::init(); }
    void TearDown() override { cSOPKGLang::applyLang(eLangENG); }
};

TEST_F(StoredLanguage, AppliedWhenDefinedElseEnglish) {
    EXPECT_FALSE(cSOPKGLang::_defines(eLangFRA));
    EXPECT_FALSE(cSOPKGLang::_defines(eLangESP));
    EXPECT_TRUE(cSOPKGLang::_defines(eLangTUR));
    struct {
        bool stored;
        unsigned long long value;
        int expect;
    } cases[] = {
        {false, 0, eLangENG},
        {true, eLangJPN, eLangJPN},
        {true, eLangFRA, eLangENG},  // no application table
        {true, eLangKOR, eLangKOR},
        {true, 11, eLangENG},
        {true, 0x100000000ULL + eLangDEU, eLangENG},  // not a language, whatever its low bits
        {true, ~0ULL, eLangENG},
    };
    for (auto& c : cases) {
        cSOPKGLang::applyLang(eLangRUS);  // something else first
        cMemConfig store;
        if (c.stored) store.setParamInt64(kRegLangCurrent, c.value);
        EXPECT_EQ(applyStoredLanguage(&store), c.expect) << c.value;
        EXPECT_EQ(cLibLang::appliedLang(), c.expect) << c.value;
    }
    EXPECT_EQ(applyStoredLanguage(nullptr), eLangENG);
}

TEST_F(StoredLanguage, KoreanTextsAndItsMissingIndex) {
    ASSERT_TRUE(cSOPKGLang::applyLang(eLangKOR));
    EXPECT_STREQ(cCiomLangData::string("pkgm::softm", 2), "이름");
    EXPECT_STREQ(cCiomLangData::string("pkgm::langs", 0), "설치 언어 선택");
    // The missing index behaves as the language layer's fallback to the default table.
    EXPECT_STREQ(cCiomLangData::string("pkgm::langs", 4), "Other languages");
    EXPECT_EQ(cCiomLangData::string("pkgm::langs", 5), nullptr);
    ASSERT_TRUE(cSOPKGLang::applyLang(eLangDEU));
    EXPECT_STREQ(cCiomLangData::string("pkgm::langs", 4), "Weitere Sprachen");
}

TEST_F(StoredLanguage, ReadFromTheRealStore) {
    testutil::TempDir home;
    std::string saved = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    {
        cCIAppFullConfig store;
        ASSERT_TRUE(store.create("qmx"));
        ASSERT_TRUE(store.open("qmx"));
        ASSERT_TRUE(store.setParamInt16(kRegLangCurrent, eLangTWN));
        ASSERT_TRUE(store.saveConfig());
    }
    {
        cCIAppFullConfig store;
        ASSERT_TRUE(store.open("qmx"));
        EXPECT_EQ(applyStoredLanguage(&store), eLangTWN);
        EXPECT_STREQ(cCiomLangData::string("pkgm::softm", 12), "重新整理");
    }
    setenv("HOME", saved.c_str(), 1);
}

}  // namespace
