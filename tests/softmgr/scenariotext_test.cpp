// The text scenario: every result code with its line, the values each key stores, and
// a realistic package built, saved, loaded back and streamed out against sha256sum.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>

#include <cstring>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "sopkgtest.h"
#include "testutil.h"

using namespace sopkgtest;
using testutil::scenarioQuoted;

namespace {

// A 2 x 2 RGB picture written by hand: signature, IHDR, IDAT, IEND.
std::vector<unsigned char> tinyPng() {
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const std::vector<unsigned char>& data) {
        uint32_t n = (uint32_t)data.size();
        unsigned char len[4] = {(unsigned char)(n >> 24), (unsigned char)(n >> 16), (unsigned char)(n >> 8),
                                (unsigned char)n};
        png.insert(png.end(), len, len + 4);
        std::vector<unsigned char> td(type, type + 4);
        td.insert(td.end(), data.begin(), data.end());
        png.insert(png.end(), td.begin(), td.end());
        uLong crc = crc32(0, td.data(), (uInt)td.size());
        unsigned char c[4] = {(unsigned char)(crc >> 24), (unsigned char)(crc >> 16), (unsigned char)(crc >> 8),
                              (unsigned char)crc};
        png.insert(png.end(), c, c + 4);
    };
    chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0, 0});
    std::vector<unsigned char> raw = {0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 255, 255, 255, 255};
    std::vector<unsigned char> z(64);
    uLongf zn = (uLongf)z.size();
    compress2(z.data(), &zn, raw.data(), (uLong)raw.size(), 9);
    z.resize(zn);
    chunk("IDAT", z);
    chunk("IEND", {});
    return png;
}

struct sFixture {
    testutil::TempDir dir;
    std::string eula, eulaEng, welcome, readme;
    sFixture() {
        eula = makeDocSource(dir.path(), "eula", {"ENG", "DEU"});
        eulaEng = makeDocSource(dir.path(), "eulaeng", {"ENG"});
        welcome = makeDocSource(dir.path(), "welcome", {"ENG", "DEU"});
        readme = makeDocSource(dir.path(), "readme", {"ENG", "DEU"});
        writeText(dir.file("a.txt"), "alpha\n");
        writeText(dir.file("empty.txt"), "");
        mkdir(dir.file("cyc").c_str(), 0700);
        mkdir(dir.file("cyc/loop").c_str(), 0700);
        writeText(dir.file("cyc/loop/f.txt"), "f\n");
        symlink("..", dir.file("cyc/loop/up").c_str());
        mkdir(dir.file("tree").c_str(), 0700);
        mkdir(dir.file("tree/sub").c_str(), 0700);
        writeText(dir.file("tree/b.txt"), "b\n");
        writeText(dir.file("tree/a.txt"), "a\n");
        writeText(dir.file("tree/sub/c.txt"), "c\n");
    }
    // Replaces @EULA@, @EULAENG@, @WELCOME@, @README@ and @DIR@, each written within a quoted string.
    std::string expand(std::string t) const {
        const std::pair<const char*, std::string> subs[] = {
            {"@EULAENG@", eulaEng}, {"@EULA@", eula}, {"@WELCOME@", welcome}, {"@README@", readme}, {"@DIR@", dir.path()}};
        for (auto& s : subs) {
            std::string q = scenarioQuoted(s.second);
            q = q.substr(1, q.size() - 2);
            for (size_t at; (at = t.find(s.first)) != std::string::npos;) t.replace(at, strlen(s.first), q);
        }
        return t;
    }
    int load(cSoftPkgScenario& s, const std::string& text, int& line) const {
        writeText(dir.file("scenario.txt"), expand(text));
        line = 0;
        return s.loadTextConfig(dir.file("scenario.txt").c_str(), line);
    }
};

// Eight lines before every case's own lines.
const char* kPrefix =
    "[General]\n"
    "langs = ENG DEU\n"
    "[Software]\n"
    "codename = \"demo-app\"\n"
    "eula = \"@EULA@\"\n"
    "[Strings]\n"
    "ENG.hello = \"Hello\"\n"
    "DEU.hello = \"Hallo\"\n";

}  // namespace

TEST(ScenarioText, EveryResultCodeWithItsLine) {
    sFixture fx;
    struct {
        const char* suffix;
        int code;
        int line;  // -1: the checks after the last line
        const char* detail = nullptr;  // the failure's second line ("path: reason")
    } cases[] = {
        {"", 0, -1},
        {"# comment\n\n   \t\n", 0, -1},
        {"[Strings]x\n", 3, 8},
        {"[Run] # note\n", 0, -1},
        {"[run]\n", 2, 8},
        {"[General]\nlangs = ENG, DEU\n", 16, 9},
        {"[General]\nlangs = ENGDEU\n", 0, -1},
        {"[General]\nlangs =\n", 9, 9},
        {"[General]\nlang = ENG\n", 5, 9},
        {"[General]\nlangs ENG\n", 6, 9},
        {"[Strings]\nRUS.x = \"a\"\n", 16, 9},
        {"[Strings]\nENG. = \"a\"\n", 17, 9},
        {"[Strings]\nEN.title = \"a\"\n", 16, 9},
        {"[Strings]\nENG.a.b = \"a\"\n", 16, 9},
        {"[Strings]\ntitle \"a\"\n", 7, 9},
        {"[Strings]\ntitle = \"a\n", 7, 9},
        {"[Strings]\ntitle = \"a\" b\n", 7, 9},
        {"[Strings]\ntitle = \"a\" # ok\n", 0, -1},
        {"[Strings]\nENG.extra = \"x\"\n", 15, -1},
        // The install folder is chosen at install time; a language value would override it.
        {"[Strings]\npgm = \"/etc\"\n", 7, 9},
        {"[Strings]\nDEU.pgm = \"/etc\"\n", 7, 9},
        {"[Software]\nnames = \"x\"\n", 6, 9},
        {"[Software]\nfoo = \"x\"\n", 5, 9},
        {"[Software]\nversion = \"7\"\n", 18, 9},
        {"[Software]\nversion = \"1.70000\"\n", 31, 9},
        {"[Software]\nversion = \"1.-2\"\n", 31, 9},
        {"[Software]\nname = \"x\" y\n", 7, 9},
        {"[Software]\nname = x\n", 7, 9},
        {"[Software]\nwelcome = \"/nonexistent/idx\"\n", 19, 9},
        {"[Software]\nreadme = \"/nonexistent/idx\"\n", 20, 9},
        {"[Software]\neula = \"/nonexistent/idx\"\n", 21, 9},
        {"[Software]\nreadme = \"@README@\", maybe\n", 7, 9},
        {"[Software]\nicon = $pgm \"i.png\" x\n", 6, 9},
        {"[Software]\nicon = $pgm\n", 23, 9},
        {"[Software]\nicon = $nosuch \"i.png\"\n", 23, 9},
        {"[Software]\ncodename = \"bad name\"\n", 30, 9},
        {"[Software]\ncodename = \"\"\n", 30, 9},
        {"[Install]\nfoo\n", 25, 9},
        {"[Install]\nxx64.\"@DIR@/a.txt\" = $pgm \"a\"\n", 24, 9},
        {"[Install]\nx64 \"@DIR@/a.txt\" = $pgm \"a\"\n", 24, 9},
        {"[Install]\n\"@DIR@/missing\" = $pgm \"a\"\n", 26, 9},
        {"[Install]\n\"@DIR@/a.txt\" $pgm \"a\"\n", 6, 9},
        {"[Install]\n\"@DIR@/a.txt = $pgm \"a\"\n", 26, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $nosuch \"a\"\n", 23, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\" x\n", 6, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\", 75 \n", 27, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\", ENG\n", 27, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\",, ENG\n", 0, -1},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\", 755, * x\n", 16, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\", 755, RUS\n", 16, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a\", 755 x\n", 27, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"../a\"\n", 23, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"a//b\"\n", 23, 9},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"/etc/passwd\"\n", 23, 9},
        {"[Install]\n\"@DIR@/a.txt\" = \"/opt/tool\" \"a.txt\"\n", 0, -1},
        {"[Install]\n\"@DIR@/empty.txt\" = $pgm \"e\"\n", 0, -1},
        {"[Install]\n\"@DIR@/cyc/loop\" = $pgm \"l\"\n", 29, 9},
        // A target beside another of its base: the installer's temporary or backup name.
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"b/x\"\n\"@DIR@/a.txt\" = $pgm \"b/x.bkp\"\n", 33, 10,
         "b/x.bkp: the installer's backup name of b/x, line 9"},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"x.tmp\"\n\"@DIR@/a.txt\" = $pgm \"x\"\n", 33, 10,
         "x: its temporary file would take the name of x.tmp, line 9"},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"x.bkp\"\n\"@DIR@/a.txt\" = $pgm \"x.bkp.tmp.bkp\"\n", 0, -1},
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"x\"\n\"@DIR@/a.txt\" = \"/opt/tool\" \"x.bkp\"\n", 0, -1},
        // Fixed bases meet where their targets land: two bases naming one folder (one with a
        // final "/"), a base that reads so in one language only.
        {"[Install]\n\"@DIR@/a.txt\" = \"/opt/tool\" \"data/x\"\n\"@DIR@/a.txt\" = \"/opt/tool/data/\" \"x.tmp\"\n",
         33, 10, "/opt/tool/data/x.tmp: the installer's temporary name of /opt/tool/data/x, line 9"},
        // A "." part or a run of "/" where a target lands, which no installer takes: in its
        // path, in its base, in one language's base.
        {"[Install]\n\"@DIR@/a.txt\" = $pgm \"./x\"\n", 23, 9},
        {"[Install]\n\"@DIR@/a.txt\" = \"/opt/tool\" \"x\"\n\"@DIR@/a.txt\" = \"/opt//tool\" \"y\"\n", 23, 10,
         "/opt//tool/y: a target with a \".\" part or an empty one (\"//\") where it lands, which no installer takes"},
        {"[Strings]\nENG.d = \"/opt/a\"\nDEU.d = \"/opt//b\"\n[Install]\n\"@DIR@/a.txt\" = $d \"x\"\n", 23, 12},
        {"[Strings]\nENG.d = \"/opt/a\"\nDEU.d = \"/opt/b\"\n[Install]\n\"@DIR@/a.txt\" = $d \"x.bkp\"\n"
         "\"@DIR@/a.txt\" = \"/opt/b\" \"x\"\n",
         33, 13, "/opt/b/x: its backup would take the name of /opt/b/x.bkp, line 12"},
        {"[Strings]\nENG.d = \"/opt/a\"\nDEU.d = \"/opt/b\"\n[Install]\n\"@DIR@/a.txt\" = $d \"x.bkp\"\n"
         "\"@DIR@/a.txt\" = \"/opt/c\" \"x\"\n",
         0, -1},
        {"[Menu]\n$hello = $pgm \"a\", $pgm \"i\", 9\n", 6, 9},
        {"[Menu]\n$nosuch = $pgm \"a\", $pgm \"i\"\n", 7, 9},
        {"[Menu]\n$.0000 = $pgm \"a\", $pgm \"i\"\n", 7, 9},
        {"[Menu]\n$hello $pgm \"a\", $pgm \"i\"\n", 6, 9},
        {"[Menu]\n$hello = $pgm \"a\" $pgm \"i\"\n", 6, 9},
        {"[Menu]\n$hello = $pgm \"a\", $pgm\n", 23, 9},
        {"[Menu]\n$hello = $pgm \"a\", $pgm \"i\", 3, \"c\", \"args\" x\n", 6, 9},
        {"[Menu]\n$hello = $pgm \"a\", $pgm \"i\", 3, $nosuch\n", 7, 9},
        {"[Menu]\n$hello = $pgm \"a\", $pgm \"i\", 3, \"c\", \"args\" # ok\n", 0, -1},
        {"[Settings]\n\"p\" = w, \"0x12345\"\n", 0, -1},
        {"[Settings]\n\"p\" = z, \"1\"\n", 6, 9},
        {"[Settings]\np = w, \"1\"\n", 6, 9},
        {"[Settings]\n\"p\" = d, \"abc\"\n", 8, 9},
        {"[Settings]\n\"p\" = d, \"-1\"\n", 8, 9},
        {"[Settings]\n\"p\" = d \"1\"\n", 6, 9},
        {"[Settings]\n\"p\" = d, 1\n", 7, 9},
        {"[Settings]\n\"p\" = t, \"\" junk\n", 6, 9},
        {"[Run]\n\"Go\" = $pgm \"a\", nope\n", 6, 9},
        {"[Run]\n\"Go\" = $pgm \"a\", yes, $nosuch\n", 7, 9},
        {"[Run]\n\"Go\" = $pgm \"a\", yes, \"-v\" x\n", 6, 9},
        {"[Run]\n\"Go\" $pgm \"a\"\n", 6, 9},
        {"[Run]\n\"Go\" = $pgm\n", 23, 9},
        // Targets need an absolute base: any other would leave them relative; icons may have none.
        {"[Install]\n\"@DIR@/a.txt\" = \"\" \"bin/x\"\n", 23, 9},
        {"[Strings]\ne = \"\"\n[Install]\n\"@DIR@/a.txt\" = $e \"x\"\n", 23, 11},
        {"[Strings]\nDEU.hello = \"\"\n[Install]\n\"@DIR@/a.txt\" = $hello \"x\"\n", 23, 11},
        {"[Menu]\n$hello = \"\" \"a\", $pgm \"i\"\n", 23, 9},
        {"[Menu]\n$hello = $pgm \"a\", \"\" \"i\"\n", 0, -1},
        {"[Run]\n\"Go\" = \"\" \"a\"\n", 23, 9},
        {"[Menu]\n$hello = \"opt\" \"a\", $pgm \"i\"\n", 23, 9},
        {"[Run]\n\"Go\" = \"/opt/../etc\" \"a\"\n", 23, 9},
        {"[Strings]\nb = \"/opt\"\n[Run]\n\"Go\" = $b \"a\"\n[Strings]\nb = \"\"\n", 23, -1},
        {"[Deprecates]\n\"old\" = \"70000\"\n", 8, 9},
        {"[Deprecates]\n\"old\" = \"x\"\n", 8, 9},
        {"[Deprecates]\n\"old\" = * x\n", 6, 9},
        {"[Deprecates]\n\"old\" = 5\n", 7, 9},
        {"[Deprecates]\n\"\" = *\n", 6, 9},
        {"[Deprecates]\n\"old\" *\n", 6, 9},
        {"[Deprecates]\n\"a b\" = *\n", 30, 9},
        {"[Software]\nwelcome = \"@EULAENG@\"\n", 13, -1},
        {"[Software]\nreadme = \"@EULAENG@\"\n", 14, -1},
        {"[Software]\neula = \"@EULAENG@\"\n", 12, -1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.suffix);
        cSoftPkgScenario s;
        int line;
        EXPECT_EQ(fx.load(s, std::string(kPrefix) + c.suffix, line), c.code);
        EXPECT_EQ(line, c.line);
        if (c.detail) {
            EXPECT_EQ(std::string(s.errorPath()) + ": " + s.errorReason(), c.detail);
        }
    }
}

TEST(ScenarioText, FileLevelFailures) {
    sFixture fx;
    struct {
        const char* text;
        int code;
        int line;
    } cases[] = {
        {"key = \"x\"\n", 4, 0},
        {"\n[Software]\ncodename = \"a\"\neula = \"@EULA@\"\n", 9, -1},
        {"[General]\nlangs = ENG\n", 10, -1},
        {"[General]\nlangs = ENG\n[Software]\ncodename = \"a\"\n", 11, -1},
        {"[Strings]x\n", 3, 0},
        {"[General]\n[Strings]\nDEU.t = \"x\"\n", 16, 2},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        cSoftPkgScenario s;
        int line;
        EXPECT_EQ(fx.load(s, c.text, line), c.code);
        EXPECT_EQ(line, c.line);
    }
    cSoftPkgScenario s;
    int line = 0;
    EXPECT_EQ(s.loadTextConfig(fx.dir.file("none.txt").c_str(), line), 1);
}

TEST(ScenarioText, ValuesLandInTheModel) {
    sFixture fx;
    cSoftPkgScenario s;
    int line;
    std::string text = std::string(kPrefix) +
                       "[Strings]\n"
                       "quote = \"A \\\"B\\\" \\\\ \\n\"\n"
                       "dir = \"/Applications/\"\n"
                       "[Software]\n"
                       "version = \"2.5\"\n"
                       "readme = \"@README@\", yes # must accept\n"
                       "welcome = \"@WELCOME@\"\n"
                       "updates_URL = \"https://u\"\n"
                       "[Install]\n"
                       "x64.\"@DIR@/a.txt\" = $pgm \"bin/a\", 755, ENG\n"
                       "x32.\"@DIR@/a.txt\" = $dir \"Tool.app\"\n"
                       "\"@DIR@/tree\" = $pgm \"app\"\n"
                       "[Menu]\n"
                       "$hello = $pgm \"bin/a\", $pgm \"i.png\", 3, \"Comment\", \"--go\"\n"
                       "\"Two\" = $pgm \"bin/a\", $pgm \"i.png\", 2\n"
                       "[Settings]\n"
                       "\"w\" = w, \"0x12345\"\n"
                       "\"q\" = q , \"-2\"\n"
                       "\"t\" = t, \"\"\n"
                       "[Run]\n"
                       "\"Launch\" = $pgm \"bin/a\", yes, \"--first\"\n"
                       "\"Launch\" = $pgm \"bin/a\"\n"
                       "[Deprecates]\n"
                       "\"old-a\" = \"65535\"\n"
                       "\"old-b\" = *\n"
                       "\"old-c\" = \"\"\n";
    ASSERT_EQ(fx.load(s, text, line), 0);
    EXPECT_EQ(s.currLangID(), 0);
    EXPECT_STREQ(s.getStr("quote"), "A \"B\" \\ n");
    EXPECT_STREQ(s.getStr("hello"), "Hello");
    ASSERT_TRUE(s.setCurrLangID(2));
    EXPECT_STREQ(s.getStr("hello"), "Hallo");
    EXPECT_FALSE(s.setCurrLangID(1));
    ASSERT_TRUE(s.setCurrLangID(0));
    int v[4];
    s.getVer(v[0], v[1], v[2], v[3]);
    EXPECT_EQ(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], 2500);
    EXPECT_EQ(s.readme_needs_accept(), 1);
    EXPECT_STREQ(s.updatesURL(), "https://u");
    EXPECT_NE(s.eula(), nullptr);
    EXPECT_NE(s.welcome(), nullptr);

    // Files: flags, permissions and languages; the folder's files come in the order it is
    // read, so they are compared by name.
    std::vector<std::string> got;
    for (auto* f = s.files.head; f; f = f->next)
        got.push_back(std::string(f->value.target.path) + " " + std::to_string(f->value.owner) +
                      std::to_string(f->value.group) + std::to_string(f->value.others) + " " +
                      std::to_string(f->value.x32) + std::to_string(f->value.x64) + " " +
                      std::to_string(f->value.langs.count()));
    std::vector<std::string> want = {"bin/a 755 01 1", "Tool.app 888 10 0", "app/a.txt 888 11 0",
                                     "app/b.txt 888 11 0", "app/sub/c.txt 888 11 0"};
    ASSERT_EQ(got.size(), want.size());
    std::sort(got.begin() + 2, got.end());
    EXPECT_EQ(got, want);

    // Copied files on a 64-bit system in English, then in German.
    s.setSystemBits(64);
    cSoftPkgScenario::cCopiedFiles copied;
    EXPECT_FALSE(s.getCopiedFiles(copied));  // "pgm" is the installer's to set
    s.setStr(-1, "pgm", "/home/u/Demo");
    ASSERT_TRUE(s.getCopiedFiles(copied));
    ASSERT_EQ(copied.count(), 4);
    EXPECT_STREQ(copied.head->value.target, "/home/u/Demo/bin/a");
    ASSERT_TRUE(s.setCurrLangID(2));
    ASSERT_TRUE(s.getCopiedFiles(copied));
    EXPECT_EQ(copied.count(), 3);
    s.setSystemBits(32);
    ASSERT_TRUE(s.getCopiedFiles(copied));
    ASSERT_EQ(copied.count(), 4);
    EXPECT_STREQ(copied.head->value.target, "/Applications/Tool.app");
    EXPECT_EQ(s.requiresSize(0), 6u + 2 + 2 + 2);
    EXPECT_EQ(s.requiresSize(65536), 4u * 65536);
    s.setSystemBits(64);
    ASSERT_TRUE(s.setCurrLangID(0));

    // Menu: elevated from bit 0 of the digit; literals become generated ids.
    _List<cSoftPkgScenario::sMenuItemDef> menu;
    ASSERT_TRUE(s.getMenuItems(menu));
    ASSERT_EQ(menu.count(), 2);
    EXPECT_TRUE(menu.head->value.elevated);
    EXPECT_FALSE(menu.head->next->value.elevated);
    EXPECT_STREQ(menu.head->value.comment.ptr, "Comment");
    EXPECT_STREQ(menu.head->value.args.ptr, "--go");
    EXPECT_STREQ(menu.head->value.target.ptr, "/home/u/Demo/bin/a");
    EXPECT_STREQ(s.menu.head->value.comment.ptr, ".0000");

    // Settings: low bytes little-endian; an empty text is empty data.
    _List<cSoftPkgScenario::sDefineParam> params;
    ASSERT_TRUE(s.getParams(params));
    ASSERT_EQ(params.count(), 3);
    auto* p = params.head;
    ASSERT_EQ(p->value.data.count, 2);
    EXPECT_EQ(p->value.data.ptr[0], 0x45);
    EXPECT_EQ(p->value.data.ptr[1], 0x23);
    p = p->next;
    ASSERT_EQ(p->value.data.count, 8);
    for (int i = 0; i < 8; i++) EXPECT_EQ(p->value.data.ptr[i], i == 0 ? 0xFE : 0xFF);
    EXPECT_EQ(p->next->value.data.count, 0);

    // Run: equal literal labels share one id; checked and arguments.
    ASSERT_EQ(s.onCompletion.count(), 2);
    EXPECT_STREQ(s.onCompletion.head->value.name.ptr, s.onCompletion.tail->value.name.ptr);
    _List<cSoftPkgScenario::sOnCompletionRun> runs;
    ASSERT_TRUE(s.getOnCompletionRun(runs));
    EXPECT_EQ(runs.head->value.checked, 1);
    EXPECT_EQ(runs.tail->value.checked, 0);
    EXPECT_STREQ(runs.head->value.args.ptr, "--first");

    // Deprecates: "65535" and "*" both mean any version; an empty number is 0.
    _List<cSoftPkgScenario::sDeprecateItem> deps;
    ASSERT_TRUE(s.getDepractesList(deps));
    ASSERT_EQ(deps.count(), 3);
    EXPECT_EQ(deps.head->value.version, 65535);
    EXPECT_EQ(deps.head->next->value.version, 65535);
    EXPECT_EQ(deps.tail->value.version, 0);

    // The whole model survives the data file, and an empty text parameter loads back.
    s.clearStr("pgm");
    cSoftPkgScenario back;
    ASSERT_TRUE(saveLoad(s, fx.dir.file("s.data"), back));
    EXPECT_EQ(dump(back), dump(s));
}

TEST(ScenarioText, ScenarioWithoutIconLoadsBack) {
    sFixture fx;
    cSoftPkgScenario s, back;
    int line;
    ASSERT_EQ(fx.load(s, std::string(kPrefix) + "[Install]\n\"@DIR@/a.txt\" = $pgm \"a\"\n", line), 0);
    ASSERT_TRUE(saveLoad(s, fx.dir.file("s.data"), back));
    _guardchar<char> icon;
    EXPECT_TRUE(back.getIconPath(icon));
    EXPECT_TRUE(icon.empty());
}

TEST(ScenarioText, TwoBuildsOfOneTreeGiveOneFile) {
    sFixture fx;
    std::string text = std::string(kPrefix) + "[Install]\n\"@DIR@/tree\" = $pgm \"app\"\n";
    std::vector<unsigned char> files[2];
    for (int i = 0; i < 2; i++) {
        cSoftPkgScenario s;
        int line;
        ASSERT_EQ(fx.load(s, text, line), 0);
        cFileIO f;
        ASSERT_TRUE(f.create(fx.dir.file("b" + std::to_string(i)).c_str()));
        ASSERT_TRUE(s.saveBinConfig(&f));
        f.close();
        files[i] = readBytes(fx.dir.file("b" + std::to_string(i)));
    }
    EXPECT_EQ(files[0], files[1]);
}

// A package of a few hundred files in three languages, with pictures in its documents,
// built, saved, loaded back, and every file streamed out and checked by sha256sum.
TEST(ScenarioText, RealisticPackageStreamsOutWhatWentIn) {
    testutil::TempDir t;
    std::string src = t.file("src");
    mkdir(src.c_str(), 0700);
    std::string sums;
    int n = 0;
    for (int d = 0; d < 6; d++) {
        std::string dd = src + "/dir" + std::to_string(d);
        mkdir(dd.c_str(), 0700);
        mkdir((dd + "/deep").c_str(), 0700);
        for (int f = 0; f < 50; f++, n++) {
            std::string rel = "dir" + std::to_string(d) + (f % 5 == 0 ? "/deep" : "") + "/f" + std::to_string(f) +
                              (f % 2 ? ".bin" : ".txt");
            std::vector<unsigned char> data = testutil::randomBytes(1 + (size_t)(n * 997) % 20000, (unsigned)n);
            if (f % 2 == 0)
                for (auto& c : data) c = (unsigned char)('a' + c % 26);
            writeBytes(src + "/" + rel, data);
        }
    }
    std::vector<unsigned char> png = tinyPng();
    writeBytes(t.file("pic.png"), png);
    std::string pic = " <img src=\"./pic.png\">";  // beside the documents' sources
    std::vector<std::string> langs = {"ENG", "DEU", "RUS"};
    std::string eula = makeDocSource(t.path(), "eula", langs, pic);
    std::string welcome = makeDocSource(t.path(), "welcome", langs, pic);
    std::string readme = makeDocSource(t.path(), "readme", langs);
    std::string text = "[General]\nlangs = ENG DEU RUS\n"
                       "[Software]\ncodename = \"big.demo\"\nname = \"Big Demo\"\nversion = \"3.1.4.1\"\n"
                       "eula = " + scenarioQuoted(eula) + "\nwelcome = " + scenarioQuoted(welcome) +
                       "\nreadme = " + scenarioQuoted(readme) + ", no\n"
                       "icon = $pgm \"dir0/f1.bin\"\n"
                       "[Strings]\nENG.title = \"Title\"\nDEU.title = \"Titel\"\nRUS.title = \"Заголовок\"\n"
                       "[Install]\n" + scenarioQuoted(src) + " = $pgm \"\", 644\n"
                       "[Menu]\n$title = $pgm \"dir0/f1.bin\", $pgm \"dir0/f3.bin\", 0, \"Run it\"\n"
                       "[Settings]\n\"mode\" = d, \"42\"\n"
                       "[Run]\n\"Start\" = $pgm \"dir0/f1.bin\", yes\n"
                       "[Deprecates]\n\"old.demo\" = \"2\"\n";
    writeText(t.file("s.txt"), text);
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(s.loadTextConfig(t.file("s.txt").c_str(), line), 0) << line;
    ASSERT_EQ(s.files.count(), 300);
    cSoftPkgScenario back;
    ASSERT_TRUE(saveLoad(s, t.file("s.data"), back));
    EXPECT_EQ(dump(back), dump(s));
    if (havePython()) {
        std::string theirs;
        EXPECT_EQ(testutil::run({"python3", oracle(), "dump", t.file("s.data")}, &theirs), 0);
        EXPECT_EQ(theirs, dump(back));
    }
    ASSERT_TRUE(back.setCurrLangID(1));
    EXPECT_NE(back.welcome(), nullptr);
    EXPECT_NE(back.readme(), nullptr);
    EXPECT_EQ(back.readme_needs_accept(), 0);
    EXPECT_STREQ(back.getStr("title"), "Заголовок");

    // Stream every file out beside its digest and let sha256sum judge.
    back.setStr(-1, "pgm", (t.path() + "/out").c_str());
    cSoftPkgScenario::cCopiedFiles files;
    ASSERT_TRUE(back.getCopiedFiles(files));
    ASSERT_EQ(files.count(), 300);
    std::ofstream list(t.file("sums"));
    for (auto* f = files.head; f; f = f->next) {
        std::string rel = std::string(f->value.target).substr(t.path().size() + 5);
        cFileIOTarget* in = back.file((int)f->value.item);
        ASSERT_NE(in, nullptr);
        std::vector<unsigned char> data((size_t)in->size());
        ASSERT_TRUE(in->readf(data.data(), (long long)data.size()));
        delete in;
        std::string outPath = t.file("out/" + rel);
        for (size_t at = outPath.find('/', t.path().size() + 1); at != std::string::npos; at = outPath.find('/', at + 1))
            mkdir(outPath.substr(0, at).c_str(), 0700);
        writeBytes(outPath, data);
        static const char* k = "0123456789abcdef";
        unsigned char digest[32];
        ASSERT_TRUE(back.digest((int)f->value.item, digest));
        std::string h;
        for (int i = 0; i < 32; i++) h += std::string(1, k[digest[i] >> 4]) + k[digest[i] & 15];
        list << h << "  " << t.file("src/" + rel) << "\n" << h << "  " << outPath << "\n";
        EXPECT_EQ(f->value.owner * 100 + f->value.group * 10 + f->value.others, 644);
    }
    list.close();
    if (!testutil::haveTool("sha256sum")) GTEST_SKIP() << "sha256sum not installed";
    std::string out;
    EXPECT_EQ(testutil::run({"sha256sum", "--quiet", "-c", t.file("sums")}, &out), 0) << out;
}

// An empty value in a language table is a defined, empty string, also after the data
// file: names, labels and comments of that language resolve to "".
TEST(ScenarioText, EmptyLanguageStringIsDefinedAfterLoading) {
    sFixture fx;
    cSoftPkgScenario s;
    int line;
    ASSERT_EQ(fx.load(s, std::string(kPrefix) +
                             "[Strings]\nENG.lbl = \"Go\"\nDEU.lbl = \"\"\n"
                             "[Menu]\n$lbl = $pgm \"a\", $pgm \"i\", 0, $lbl\n"
                             "[Run]\n$lbl = $pgm \"a\", yes, $lbl\n",
                         line),
              0);
    cSoftPkgScenario back;
    ASSERT_TRUE(saveLoad(s, fx.dir.file("s.data"), back));
    back.setStr(-1, "pgm", "/opt/demo");
    ASSERT_TRUE(back.setCurrLangID(2));
    EXPECT_STREQ(back.getStr("lbl"), "");
    _List<cSoftPkgScenario::sMenuItemDef> menu;
    ASSERT_TRUE(back.getMenuItems(menu));
    EXPECT_STREQ(menu.head->value.name.ptr ? menu.head->value.name.ptr : "?", "");
    _List<cSoftPkgScenario::sOnCompletionRun> runs;
    ASSERT_TRUE(back.getOnCompletionRun(runs));
    EXPECT_STREQ(runs.head->value.target.ptr, "/opt/demo/a");
}

// A string the data file cannot carry (over 65535 bytes) fails at its line, named by
// its start, rather than when the bundle is written.
TEST(ScenarioText, OverLongStringIsRefusedAtItsLine) {
    sFixture fx;
    cSoftPkgScenario s;
    int line;
    std::string big(65536, 'a');
    EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Software]\nname = \"" + big.substr(1) + "\"\n", line), 0);
    EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Software]\nname = \"" + big + "\"\n", line), 7);
    EXPECT_EQ(line, 9);
    ASSERT_NE(s.errorPath(), nullptr);
    EXPECT_EQ(std::string(s.errorPath()), "\"" + big.substr(0, 39) + "...");
    EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Settings]\n\"p\" = t, \"" + big + "\"\n", line), 7);
    EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Install]\n\"@DIR@/a.txt\" = $pgm \"" + big + "\"\n", line), 7);
}

namespace {

// A chain of folders whose full path passes PATH_MAX, made and removed through
// descriptors (the path itself cannot be used); a file at the bottom.
struct sDeepTree {
    std::string top;
    std::vector<std::string> names;
    explicit sDeepTree(const std::string& at) : top(at) {
        mkdir(top.c_str(), 0700);
        int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
        std::string name(200, 'd');
        for (size_t len = top.size(); len <= PATH_MAX + 200; len += name.size() + 1) {
            mkdirat(fd, name.c_str(), 0700);
            int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
            names.push_back(name);
        }
        int f = openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0600);
        if (f >= 0) {
            (void)!write(f, "x", 1);
            close(f);
        }
        close(fd);
    }
    ~sDeepTree() {
        std::vector<int> fds = {open(top.c_str(), O_RDONLY | O_DIRECTORY)};
        for (size_t i = 0; i + 1 < names.size(); i++)
            fds.push_back(openat(fds.back(), names[i].c_str(), O_RDONLY | O_DIRECTORY));
        int last = openat(fds.back(), names.back().c_str(), O_RDONLY | O_DIRECTORY);
        unlinkat(last, "deep.txt", 0);
        close(last);
        for (size_t i = names.size(); i-- > 0;) {
            unlinkat(fds[i], names[i].c_str(), AT_REMOVEDIR);
            close(fds[i]);
        }
    }
    // The first folder of the chain whose path is longer than PATH_MAX.
    std::string firstTooLong() const {
        std::string p = top;
        for (auto& n : names) {
            p += "/" + n;
            if (p.size() >= PATH_MAX) return p;
        }
        return p + "/deep.txt";
    }
};

}  // namespace

// Whatever lies below an [Install] source is packed or the make fails with 26 and the
// path: links to nothing or to themselves, FIFOs, sockets, devices, too long paths.
TEST(ScenarioText, EverythingBelowASourceIsPackedOrRefused) {
    sFixture fx;
    struct {
        const char* name;
        std::function<bool(const std::string&)> make;  // makes the odd entry at the path
    } cases[] = {
        {"dangling", [](const std::string& p) { return symlink("/nonexistent/qmx", p.c_str()) == 0; }},
        {"self", [](const std::string& p) { return symlink(p.c_str(), p.c_str()) == 0; }},
        {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
        {"socket", testutil::makeSocketFile},
        {"device", [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string src = fx.dir.file(std::string("src-") + c.name);
        mkdir(src.c_str(), 0700);
        writeText(src + "/a.txt", "a\n");
        std::string odd = src + "/odd";
        if (!c.make(odd)) {
            // Only a device needs a right (CAP_MKNOD) that a runner may lack.
            EXPECT_STREQ(c.name, "device") << "cannot make a " << c.name << " here: " << strerror(errno);
            std::printf("note: cannot make a %s here; case skipped\n", c.name);
            continue;
        }
        cSoftPkgScenario s;
        int line;
        EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Install]\n" + scenarioQuoted(src) + " = $pgm \"x\"\n", line), 26);
        EXPECT_EQ(line, 9);
        EXPECT_STREQ(s.errorPath(), odd.c_str());
        EXPECT_NE(s.errorReason(), nullptr);
        // Named directly as the source, the same.
        EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Install]\n" + scenarioQuoted(odd) + " = $pgm \"x\"\n", line), 26);
    }
    sDeepTree deep(fx.dir.file("deep"));
    cSoftPkgScenario s;
    int line;
    EXPECT_EQ(fx.load(s, std::string(kPrefix) + "[Install]\n" + scenarioQuoted(deep.top) + " = $pgm \"x\"\n", line),
              26);
    EXPECT_STREQ(s.errorPath(), deep.firstTooLong().c_str());
    EXPECT_STREQ(s.errorReason(), strerror(ENAMETOOLONG));
}

// A folder that can be listed but not entered (read without search permission): its
// files cannot be read, so the make fails rather than leave them out. Run as an ordinary
// user (the superuser enters any folder).
TEST(ScenarioText, FolderListedButNotEnteredIsRefused) {
    testutil::TempDir t;
    const std::string d = t.path(), shut = d + "/src/shut";
    ASSERT_EQ(mkdir((d + "/src").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(shut.c_str(), 0700), 0);
    ASSERT_TRUE(testutil::writeFile(shut + "/f.txt", "x\n", 2));
    const std::string text = "[General]\nlangs = ENG\n[Install]\n" + scenarioQuoted(d + "/src") + " = $pgm \"x\"\n";
    ASSERT_TRUE(testutil::writeFile(d + "/s.txt", text.data(), text.size()));
    // Whatever the umask: the ordinary user reads the scenario and lists src, and may list
    // shut but not enter it.
    ASSERT_EQ(chmod((d + "/src").c_str(), 0755), 0);
    ASSERT_EQ(chmod((d + "/s.txt").c_str(), 0644), 0);
    ASSERT_EQ(chmod(shut.c_str(), 0600), 0);
    int ran = testutil::asOrdinaryUser(
        [&] {
            cSoftPkgScenario s;
            int line = 0, rc = s.loadTextConfig((d + "/s.txt").c_str(), line);
            std::string errorPath = s.errorPath() ? s.errorPath() : "";
            if (rc == 26 && line == 3 && errorPath == shut + "/f.txt") return true;
            fprintf(stderr, "result %d, line %d, path \"%s\"\n", rc, line, errorPath.c_str());
            return false;
        },
        {d, shut});
    chmod(shut.c_str(), 0700);
    if (ran < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
    EXPECT_EQ(ran, 1);
}
