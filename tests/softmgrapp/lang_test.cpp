// The application's language tables: complete in every language, format conversions
// kept, and the stored UI language applied at start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "apptest.h"
#include "ciplatform/headless.h"
#include "instengine/installinit.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"
#include "memconfig.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
#include "softmgrapp/finishpanel.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/instwizard.h"
#include "softmgrapp/processhooks.h"
#include "softmgrapp/remover.h"
#include "softmgrapp/removerresult.h"
#include "softmgrapp/softmgrapp.h"
#include "softmgrapp/sopkglang.h"
#include "testutil.h"
#include "ui/controls/messageform.h"
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

using testutil::printfConversions;

TEST(AppLangTables, NineLanguagesInTheirOrder) {
    ASSERT_EQ(gSOPKGLangTable_count, 9);
    const int ids[] = {eLangENG, eLangDEU, eLangRUS, eLangUKR, eLangKOR, eLangJPN, eLangCHN, eLangTWN, eLangTUR};
    for (int i = 0; i < 9; i++) EXPECT_EQ(cSOPKGLang::gLangs[i].id, ids[i]) << i;
    EXPECT_EQ(cSOPKGLang::_defaultLang(), eLangENG);
}

TEST(AppLangTables, EnglishHoldsEverySectionWithItsCount) {
    Table eng = load(cSOPKGLang::gLangs[0]);
    const std::map<std::string, size_t> counts = {
        {"pkgm::fin", 18},  {"pkgm::fsel", 16}, {"pkgm::iini", 17},  {"pkgm::instp", 7},
        {"pkgm::instw", 26}, {"pkgm::langs", 5}, {"pkgm::rem", 7},   {"pkgm::resp", 2},
        {"pkgm::softm", 21}, {"pkgm::unin", 16}, {"pkgm::updi", 16}, {"pkgm::updr", 3},
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
    // An uninstallation refused while the package's installer runs has its own answer.
    const sMessageRef* busy = resultMessage(eAtUninstall, eUNBusy);
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(eng[busy->section][busy->index],
              "This package is being installed or uninstalled in another window.\nWait until that has finished, then "
              "uninstall it again.");
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
                EXPECT_EQ(printfConversions(tr), printfConversions(str.second))
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

// Every result and question of the jobs has its row in the message table (a new result
// left out would show nothing), and each row's text is there in every language.
TEST(AppLangTables, EveryResultHasAMessageInEveryLanguage) {
    std::vector<Table> langs;
    for (int l = 0; l < gSOPKGLangTable_count; l++) langs.push_back(load(cSOPKGLang::gLangs[l]));
    const struct {
        eResultPlace place;
        unsigned int first, end;
    } places[] = {
        {eAtInstallStart, 0, eIICount}, {eAtLocationPage, 0, eIICount},    {eAtInstallEnd, 0, eIJCount},
        {eAtUninstall, 0, eUNCount},    {eAtManagerRemoval, 0, eRMCount}, {eAtQuestion, eAskDeregister, eAskCount},
    };
    for (const auto& p : places) {
        EXPECT_EQ(resultMessage(p.place, p.end), nullptr) << p.place;
        for (unsigned int r = p.first; r < p.end; r++) {
            const sMessageRef* m = resultMessage(p.place, r);
            ASSERT_NE(m, nullptr) << "place " << p.place << " result " << r;
            EXPECT_EQ(m->section == nullptr, m->kind == eBoxNone) << "place " << p.place << " result " << r;
            EXPECT_EQ(p.place == eAtQuestion, m->kind == eBoxQuestion) << "place " << p.place << " result " << r;
            if (!m->section) continue;
            for (int l = 0; l < gSOPKGLangTable_count; l++)
                EXPECT_TRUE(langs[l].count(m->section) && langs[l][m->section].count(m->index))
                    << ciLangID(cSOPKGLang::gLangs[l].id) << " " << m->section << " " << m->index;
        }
    }
}

TEST(AppLangTables, ConversionOracleSeesWhatPrintfSees) {
    EXPECT_EQ(printfConversions("%s is %lldMB, 100%% done"), (std::vector<std::string>{"%s", "%lld"}));
    EXPECT_EQ(printfConversions("%-08.3f%c"), (std::vector<std::string>{"%-08.3f", "%c"}));
}

// Every text of every language against the control it lands in, measured in the
// control's font, the controls at the layout's sizes: a line must fit its room; a wrapped
// text must show its last line whole inside its box (a line that would pass the box's
// bottom is not drawn); a button's word must keep 3 pixels on either side. A failure
// names the language, the section and the index.
TEST(AppLangTables, EveryTextFitsItsControlInEveryLanguage) {
    installProcessHooks(nullptr, false);
    typedef cFontObject* (*tFont)();
    const tFont title = mkWizTitleFont, big = mkTitleFont, std13 = mkStdFont, pass = mkBtnPassFont;
    const tFont bold = [] { return mkBtnFont(false); }, link = [] { return mkBtnFont(true); };
    enum eFit { kLine, kWrap, kButton };
    struct sPlace {
        const char* section;
        std::vector<int> indexes;
        eFit fit;
        tFont font;
        int width;   // the room on the line (kLine), the wrapping width (kWrap), the button's
        int height;  // kWrap: the box's height
        const char* arg;  // fills a "%s" (or "%lld")
    };
    const int wizTitleW = 636 - cInstWizard::kTitleMargin, page = 410, finW = page - 20, langW = 380 - 30;
    const std::vector<sPlace> places = {
        // The wizard: title and step names on one line of their box (a step name in both
        // weights: the current step is bold), Next and Close, acceptance boxes.
        {"pkgm::instw", {8, 9, 10, 11, 12, 13, 19}, kLine, title, wizTitleW, 0, nullptr},
        {"pkgm::instw", {2, 3, 4, 5, 6, 7, 18}, kLine, pass, cInstWizard::kStepNameWidth, 0, nullptr},
        {"pkgm::instw", {2, 3, 4, 5, 6, 7, 18}, kLine, bold, cInstWizard::kStepNameWidth, 0, nullptr},
        {"pkgm::instw", {1, 14}, kButton, bold, cInstWizard::kNextWidth, 0, nullptr},
        {"pkgm::instw", {16, 17}, kLine, std13, 636 - 193 - 10 - 24, 0, nullptr},
        {"pkgm::instw", {23}, kLine, std13, 390 - 10, 0, nullptr},
        // The location page: Browse, the name line, the size line, the help.
        {"pkgm::fsel", {0}, kButton, bold, 80, 0, nullptr},
        {"pkgm::fsel", {2}, kWrap, pass, page - 80, 44, "Hello Tool Professional"},
        {"pkgm::fsel", {4}, kLine, std13, page - 40 - 160, 0, nullptr},
        {"pkgm::fsel", {5}, kLine, std13, page - 40 - 160, 0, "1024"},
        {"pkgm::fsel", {3}, kLine, std13, page - 40, 0, "%s"},
        {"pkgm::fsel", {6}, kWrap, std13, page - 40, 290 - 140, nullptr},
        // The finish page: the title on its line, every message in its box.
        {"pkgm::fin", {0, 1}, kLine, bold, finW, 0, nullptr},
        {"pkgm::fin", {13}, kWrap, std13, finW, 60, nullptr},
        {"pkgm::fin", {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, kWrap, std13, finW, 290 - 60, nullptr},
        // In place of its error: the names in the run's way, or the earlier version's that
        // could not be removed, and how many more (as many names as fit: none at least).
        {"pkgm::iini", {14}, kWrap, std13, finW, 290 - 60, "and 17 more"},
        {"pkgm::fin", {16}, kWrap, std13, finW, 290 - 60, "and 17 more"},
        // An update refused: the earlier version's file and the new one's beside it.
        {"pkgm::fin", {17}, kWrap, std13, finW, 290 - 60,
         "/home/someone/Applications/Test/bin/run.bkp\n/home/someone/Applications/Test/bin/run"},
        // The installation page's stage line.
        {"pkgm::instp", {0, 2, 3, 4}, kLine, std13, page - 40 - 20, 0, nullptr},
        // The language form (as a sheet, its narrower size): title and subtitle on one line
        // above the list, Start, the link left of Start.
        {"pkgm::langs", {0}, kLine, big, langW, 0, nullptr},
        {"pkgm::langs", {1}, kLine, std13, langW, 0, nullptr},
        {"pkgm::langs", {2}, kButton, bold, 100, 0, nullptr},
        {"pkgm::langs", {4}, kLine, std13, 380 - 115 - 15 - 10, 0, nullptr},
        // The manager: column captions (a header button keeps 5 on either side), buttons,
        // details, links, status lines; "Update available" in the last column's cells
        // (the list's width less 530, less the padding of 3 and the 2 before a text).
        {"pkgm::softm", {2}, kLine, std13, 310 - 10, 0, nullptr},
        {"pkgm::softm", {3, 4}, kLine, std13, 100 - 10, 0, nullptr},
        {"pkgm::softm", {5, 6}, kButton, bold, 115, 0, nullptr},
        {"pkgm::softm", {12}, kButton, bold, 114, 0, nullptr},
        {"pkgm::softm", {16}, kLine, std13, 670 - 530 - 3 - 2, 0, nullptr},
        // Version and date in their boxes; the links from x 390 to the panel's edge.
        {"pkgm::softm", {7}, kLine, std13, 200, 0, "10.20.300.4000"},
        {"pkgm::softm", {8}, kLine, std13, 200, 0, "31.12.2026 23:59:59"},
        {"pkgm::softm", {9, 10, 11}, kLine, link, 680 - 390, 0, nullptr},
        {"pkgm::softm", {13, 15}, kLine, std13, 680, 0, nullptr},
        // The remove link, from x 45 up to 10 pixels left of Refresh.
        {"pkgm::softm", {17}, kLine, link, 770 - 160 - 45 - 10, 0, nullptr},
        // The one-line status of the small progress forms.
        {"pkgm::unin", {1}, kLine, std13, 340, 0, nullptr},
        {"pkgm::iini", {1}, kLine, std13, 340, 0, nullptr},
        {"pkgm::resp", {1}, kLine, std13, 340, 0, nullptr},
    };
    // The default table's words stand as they are written, even where their box has to cut
    // them; every translation fits whole.
    const std::set<std::pair<std::string, int> > englishCut = {
        {"pkgm::instw", 18}, {"pkgm::instw", 19}, {"pkgm::langs", 1}};
    std::vector<std::string> failures;
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        for (const sPlace& p : places) {
            for (int i : p.indexes) {
                const char* raw = cCiomLangData::string(p.section, i);
                ASSERT_NE(raw, nullptr) << ciLangID(id) << " " << p.section << " " << i;
                if (id == eLangENG && englishCut.count({p.section, i})) continue;
                std::string t = raw, arg = p.arg ? p.arg : "";
                if (arg == "%s") {  // the size line holds the language's "approximately %lldMB"
                    arg = cCiomLangData::string("pkgm::fsel", 5);
                    arg.replace(arg.find("%lld"), 4, "1024");
                }
                for (const char* conv : {"%s", "%lld"}) {
                    size_t at = t.find(conv);
                    if (at != std::string::npos && p.arg) t.replace(at, strlen(conv), arg);
                }
                int need = 0, room = p.width;
                if (p.fit == kLine) need = textExtent(t.c_str(), p.font()).cx;
                if (p.fit == kButton) need = textExtent(t.c_str(), p.font()).cx + 2 * 3;
                if (p.fit == kWrap) {
                    need = wrappedFitHeight(t.c_str(), p.font(), p.width);
                    room = p.height;
                }
                if (need > room)
                    failures.push_back(std::string(ciLangID(id)) + " " + p.section + " " + std::to_string(i) + ": " +
                                       std::to_string(need) + " > " + std::to_string(room) + " \"" + t + "\"");
            }
        }
        // The tab and the update-check text share a row.
        int tab = textExtent(cCiomLangData::string("pkgm::softm", 1), mkSelectHdrFont()).cx + 38;
        int checking = textExtent(cCiomLangData::string("pkgm::softm", 14), std13()).cx;
        if (45 + tab + 20 + checking > 770 - 82)
            failures.push_back(std::string(ciLangID(id)) + " pkgm::softm 1+14: tab and check text");
    }
    cSOPKGLang::applyLang(eLangENG);
    std::string all;
    for (auto& f : failures) all += f + "\n";
    EXPECT_TRUE(failures.empty()) << failures.size() << " texts do not fit:\n" << all;
}

// The boxes that name a long path, the manager removal's refusal (long in German with its
// fixed text alone) and the refusals while another run holds the package fit a 1,024-pixel
// screen in every language, the OK button inside.
TEST(AppLangTables, LongBoxesFitTheScreenInEveryLanguage) {
    apptest::useLanguage(eLangENG);
    cHeadlessWindowMaker maker;
    maker.setDesktopSize(1024, 768);
    apptest::cAnswerScript script;
    maker.setModalScript(&script);
    std::string path = "/home/someone/Applications/Example Drawing Tools";
    while (path.size() < 300) path += "/share/brushes";
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        _List<_guardchar<char> > leftovers;
        leftovers.add()->set(path.c_str());
        _guardchar<char> deregistered;
        uninstalledMessage(eUNDeregistered, leftovers, {}, deregistered);
        const std::pair<const char*, const char*> texts[] = {
            {"refusal", messageOf(resultMessage(eAtManagerRemoval, eRMPackages))},
            {"path", deregistered.ptr},
            {"busy_install", messageOf(resultMessage(eAtInstallStart, eIIBusy))},
            {"busy_uninstall", messageOf(resultMessage(eAtUninstall, eUNBusy))}};
        for (auto& t : texts) {
            int width = 0, left = -1, right = 0;
            script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int) {
                cMessageForm* box = dynamic_cast<cMessageForm*>(root);
                if (!box) return -2;
                width = w->width();
                left = box->buttonRow()->x();
                right = left + box->buttonRow()->wantsWidth();
                if (id == eLangENG || id == eLangDEU || id == eLangJPN)
                    m->snapshotPNG(w, (apptest::snapshotDir() + "/longbox_" + t.first + "_" + ciLangID(id) + ".png").c_str());
                return 1;
            };
            appMessageBox(nullptr, &maker, eBoxError, t.second);
            EXPECT_GT(width, 0) << ciLangID(id) << " " << t.first;
            EXPECT_LE(width, 1024) << ciLangID(id) << " " << t.first;
            EXPECT_GE(left, 0) << ciLangID(id) << " " << t.first;
            EXPECT_LE(right, width) << ciLangID(id) << " " << t.first;
        }
    }
    cSOPKGLang::applyLang(eLangENG);
}

class StoredLanguage : public ::testing::Test {
protected:
    void SetUp() override { installProcessHooks(nullptr, false); }
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

}  // namespace
