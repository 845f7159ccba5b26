// Language container, tables and the merged table: round trips through the generator
// and the loader, hostile containers, provider merging and fallback, and the toolkit's
// own translations against English.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ciplatform/fontobject.h"
#include "testutil.h"
#include "ui/lang.h"
#include "ui/langcontainer.h"

namespace {

typedef std::map<std::string, std::map<int, std::string>> Table;

const std::string kLangDir = std::string(QMX_TESTS_DIR) + "/../src/ui/lang/";
const std::string kGenerator = std::string(QMX_TESTS_DIR) + "/../tools/langgen.py";
const char* const kToolkitLangs[] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "CHN", "TWN", "TUR"};

// A plain reader of the text sources, written apart from the generator.
Table readSource(const std::string& path, std::string* lang = nullptr) {
    Table t;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("@lang ", 0) == 0) {
            if (lang) *lang = line.substr(6);
            continue;
        }
        if (line[0] == '[') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        std::string raw = line.substr(eq + 3), value;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                char e = raw[++i];
                value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 's' ? ' ' : e;
            } else {
                value += raw[i];
            }
        }
        t[section][std::stoi(line.substr(0, eq))] = value;
    }
    return t;
}

Table toTable(const cCiomLang& lang) {
    Table t;
    for (const cCiomLangData* s = lang.nextSection(nullptr); s; s = lang.nextSection(s))
        for (int i = 0; i < s->count(); i++)
            if (s->string(i)) t[s->name()][i] = s->string(i);
    return t;
}

void fromTable(const Table& t, cCiomLang& out) {
    out.clear();
    for (auto& s : t) {
        cCiomLangData* d = out.addSection(s.first.c_str());
        ASSERT_NE(d, nullptr);
        for (auto& e : s.second) ASSERT_TRUE(d->setString(e.first, e.second.c_str()));
    }
}

std::vector<unsigned char> container(const Table& t, int langId) {
    cCiomLang lang;
    fromTable(t, lang);
    _typebuf<unsigned char> out;
    EXPECT_TRUE(writeCiomLangData(lang, langId, out));
    return std::vector<unsigned char>(out.ptr, out.ptr + out.count);
}

// printf conversions of a text in order (the literal %% left out).
std::vector<std::string> conversionsOf(const std::string& s) { return testutil::printfConversions(s); }

// Wraps raw table bytes into a container with a correct checksum (zlib as the oracle),
// so that damage inside the table itself is what the loader meets.
std::vector<unsigned char> wrapRaw(const std::vector<unsigned char>& table, long long claimUnpacked = -1,
                                   int level = 5) {
    uLongf cap = compressBound(table.size());
    std::vector<unsigned char> packed(cap);
    EXPECT_EQ(compress2(packed.data(), &cap, table.data(), table.size(), level), Z_OK);
    packed.resize(cap);
    unsigned int ulen = claimUnpacked < 0 ? (unsigned int)table.size() : (unsigned int)claimUnpacked;
    std::vector<unsigned char> out = {'C', 'I', 'O', 'M', 'L', 'A', 'F', 'I', 1, 0, 0, 0};
    auto put32 = [&](unsigned int v) {
        for (int i = 0; i < 4; i++) out.push_back((unsigned char)(v >> (8 * i)));
    };
    put32((unsigned int)packed.size());
    put32(ulen);
    uLong crc = crc32(0, out.data() + 8, 12);
    crc = crc32(crc, packed.data(), packed.size());
    put32((unsigned int)crc);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

// Builds raw "CIOMLANG" bytes piece by piece.
struct RawTable {
    std::vector<unsigned char> b = {'C', 'I', 'O', 'M', 'L', 'A', 'N', 'G'};
    RawTable& u8(unsigned v) { b.push_back((unsigned char)v); return *this; }
    RawTable& u16(unsigned v) { u8(v & 0xFF); return u8(v >> 8); }
    RawTable& u32(unsigned v) { u16(v & 0xFFFF); return u16(v >> 16); }
    RawTable& str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
    RawTable& section(const std::string& name, unsigned entries) { u8((unsigned)name.size()); str(name); return u32(entries); }
    RawTable& entry(unsigned index, const std::string& s) { u16(index); u32((unsigned)s.size()); return str(s); }
};

bool loads(const std::vector<unsigned char>& bytes) {
    cCiomLang out;
    bool ok = loadCiomLangData(bytes.data(), (long long)bytes.size(), out);
    if (!ok) {
        EXPECT_EQ(out.sections(), 0) << "a failed load must leave the table empty";
    }
    return ok;
}

}  // namespace

TEST(LangContainer, GeneratorContainersLoadToTheSourceText) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    testutil::TempDir dir;
    for (const char* code : kToolkitLangs) {
        SCOPED_TRACE(code);
        std::string out = dir.file(std::string(code) + ".laci");
        ASSERT_EQ(testutil::run({"python3", kGenerator, "laci", kLangDir + code + ".txt", out}), 0);
        cCiomLang lang;
        ASSERT_TRUE(loadCiomLangFile(out.c_str(), lang));
        std::string id;
        Table expected = readSource(kLangDir + code + ".txt", &id);
        EXPECT_EQ(toTable(lang), expected);
        EXPECT_STREQ(ciLangID(lang.langId()), id.c_str());
    }
}

TEST(LangContainer, LoaderContainersDumpThroughTheGenerator) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    testutil::TempDir dir;
    Table t = {{"z::last", {{0, "zero"}, {7, "seven\nlines"}, {65535, "top"}}},
               {"a::first", {{3, "\xE6\x97\xA5\xE6\x9C\xAC %s %.01f%%"}, {4, " spaced "}}},
               {"m", {{1, "back\\slash\ttab"}}}};
    std::vector<unsigned char> bytes = container(t, eLangKOR);
    std::string path = dir.file("t.laci"), src = dir.file("t.txt"), text;
    ASSERT_TRUE(testutil::writeFile(path, bytes));
    ASSERT_EQ(testutil::run({"python3", kGenerator, "dump", path}, &text), 0);
    ASSERT_TRUE(testutil::writeFile(src, text.data(), text.size()));
    std::string id;
    EXPECT_EQ(readSource(src, &id), t);
    EXPECT_EQ(id, "KOR");
    // And back again through the generator: the same bytes (same packing level).
    std::string again = dir.file("again.laci");
    ASSERT_EQ(testutil::run({"python3", kGenerator, "laci", src, again}), 0);
    EXPECT_EQ(testutil::readFile(again), bytes);
}

TEST(LangContainer, BuiltInTablesMatchTheirSources) {
    int count = 0;
    const sLangTableEntry* table = cCiomToolkitLang::table(count);
    ASSERT_EQ(count, 10);
    for (int i = 0; i < count; i++) {
        SCOPED_TRACE(ciLangID(table[i].id));
        cCiomLang lang;
        ASSERT_TRUE(loadCiomLangData(table[i].data, table[i].size, lang));
        EXPECT_EQ(lang.langId(), table[i].id);
        EXPECT_EQ(toTable(lang), readSource(kLangDir + ciLangID(table[i].id) + ".txt"));
    }
}

TEST(LangContainer, EveryLanguageKeepsEnglishSectionsIndexesAndConversions) {
    int count = 0;
    const sLangTableEntry* table = cCiomToolkitLang::table(count);
    cCiomLang english;
    ASSERT_TRUE(loadCiomLangData(cLibLang::langData(eLangENG, table, count), cLibLang::sizeOf(eLangENG, table, count),
                                 english));
    Table eng = toTable(english);
    const char* sections[] = {"ciom::messages", "ciom::filechoose", "ciom::folderchoose", "ciom::progress",
                              "ciom::propsheet"};
    const int sizes[] = {7, 25, 8, 5, 3};
    for (int s = 0; s < 5; s++) EXPECT_EQ(eng[sections[s]].size(), (size_t)sizes[s]) << sections[s];
    EXPECT_EQ(eng["ciom::progress"][2],
              "%s progress: %.01f%%. Time consumed: %02d:%02d:%02d. Estimated time left: %02d:%02d:%02d.");
    EXPECT_EQ(eng["ciom::folderchoose"][2], "Folder already exists.\nIf you can not see this folder, this means it is hidden.");
    for (int i = 0; i < count; i++) {
        SCOPED_TRACE(ciLangID(table[i].id));
        cCiomLang lang;
        ASSERT_TRUE(loadCiomLangData(table[i].data, table[i].size, lang));
        Table t = toTable(lang);
        EXPECT_EQ(t.size(), eng.size());
        for (auto& sec : eng)
            for (auto& e : sec.second) {
                ASSERT_TRUE(t[sec.first].count(e.first)) << sec.first << " " << e.first;
                const std::string& tr = t[sec.first][e.first];
                EXPECT_EQ(conversionsOf(tr), conversionsOf(e.second)) << sec.first << " " << e.first << ": " << tr;
                EXPECT_EQ(std::count(tr.begin(), tr.end(), '\n'), std::count(e.second.begin(), e.second.end(), '\n'))
                    << "the first line of a message is kept apart: " << tr;
            }
    }
}

TEST(LangContainer, RejectsEveryTruncationAndEveryFlippedByte) {
    std::vector<unsigned char> good = container({{"s", {{0, "alpha"}, {2, "gamma"}}}, {"t", {{1, "x"}}}}, eLangDEU);
    ASSERT_TRUE(loads(good));
    for (size_t n = 0; n < good.size(); n++) EXPECT_FALSE(loads(std::vector<unsigned char>(good.begin(), good.begin() + n))) << n;
    std::vector<unsigned char> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(loads(longer)) << "bytes after the packed table";
    for (size_t i = 0; i < good.size(); i++)
        for (int bit = 0; bit < 8; bit++) {
            std::vector<unsigned char> bad = good;
            bad[i] ^= (unsigned char)(1 << bit);
            EXPECT_FALSE(loads(bad)) << "byte " << i << " bit " << bit;
        }
}

TEST(LangContainer, RejectsHostileHeadersAndTables) {
    RawTable ok;
    ok.u32(1).section("s", 1).entry(0, "fine");
    ASSERT_TRUE(loads(wrapRaw(ok.b)));

    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    std::vector<unsigned char> badVersion = wrapRaw(ok.b);
    badVersion[8] = 2;  // checksum covers it, so fix the checksum too
    {
        uLong crc = crc32(crc32(0, badVersion.data() + 8, 12), badVersion.data() + 24, badVersion.size() - 24);
        for (int i = 0; i < 4; i++) badVersion[20 + i] = (unsigned char)(crc >> (8 * i));
    }
    std::vector<unsigned char> zeros(4 << 20, 0);
    RawTable bombTable;
    bombTable.u32(1).section("s", 1).entry(0, std::string(100000, 'a'));
    std::vector<Case> cases = {
        {"version 2", badVersion},
        {"unpacked size claimed smaller than the stream", wrapRaw(ok.b, (long long)ok.b.size() - 1)},
        {"unpacked size claimed larger than the stream", wrapRaw(ok.b, (long long)ok.b.size() + 1)},
        {"zlib bomb past the cap", wrapRaw(zeros, 64)},
        {"unpacked size past the cap", wrapRaw(zeros, 9LL << 20)},
        {"stream inflating past its claim", wrapRaw(bombTable.b, 1000)},
        {"section count beyond the data", wrapRaw(RawTable().u32(0xFFFFFFFF).section("s", 0).b)},
        {"entry count beyond the data", wrapRaw(RawTable().u32(1).section("s", 0x10000000).entry(0, "x").b)},
        {"string length past the end", wrapRaw(RawTable().u32(1).section("s", 1).u16(0).u32(1000).str("short").b)},
        {"empty section name", wrapRaw(RawTable().u32(1).section("", 0).b)},
        {"names not ascending", wrapRaw(RawTable().u32(2).section("b", 0).section("a", 0).b)},
        {"name repeated", wrapRaw(RawTable().u32(2).section("a", 0).section("a", 0).b)},
        {"index repeated", wrapRaw(RawTable().u32(1).section("s", 2).entry(3, "x").entry(3, "y").b)},
        {"indexes descending", wrapRaw(RawTable().u32(1).section("s", 2).entry(3, "x").entry(1, "y").b)},
        {"zero byte inside a string", wrapRaw(RawTable().u32(1).section("s", 1).entry(0, std::string("a\0b", 3)).b)},
        {"overlong UTF-8", wrapRaw(RawTable().u32(1).section("s", 1).entry(0, "\xC0\xAF").b)},
        {"UTF-8 surrogate", wrapRaw(RawTable().u32(1).section("s", 1).entry(0, "\xED\xA0\x80").b)},
        {"cut UTF-8 sequence", wrapRaw(RawTable().u32(1).section("s", 1).entry(0, "ok\xE6\x97").b)},
        {"bad UTF-8 in a name", wrapRaw(RawTable().u32(1).section("\xFF", 0).b)},
        {"trailing table bytes", wrapRaw(RawTable().u32(1).section("s", 0).u8(0).b)},
        {"wrong inner magic", wrapRaw(std::vector<unsigned char>{'C', 'I', 'O', 'M', 'L', 'A', 'N', 'X', 0, 0, 0, 0})},
    };
    // Many sections each reaching the top index would make the loader allocate far more
    // than the data: refused by the slot budget.
    RawTable spread;
    spread.u32(8);
    for (int i = 0; i < 8; i++) spread.section(std::string(1, (char)('a' + i)), 1).entry(65535, "x");
    cases.push_back({"slots far beyond the data", wrapRaw(spread.b)});
    for (auto& c : cases) EXPECT_FALSE(loads(c.bytes)) << c.name;
    cCiomLang none;
    EXPECT_FALSE(loadCiomLangData(nullptr, 100, none)) << "null data";
}

TEST(LangContainer, FileReaderRefusesMissingAndOversizedFiles) {
    testutil::TempDir dir;
    cCiomLang out;
    EXPECT_FALSE(loadCiomLangFile(dir.file("missing.laci").c_str(), out));
    EXPECT_FALSE(loadCiomLangFile(nullptr, out));
    std::vector<unsigned char> big = container({{"s", {{0, "x"}}}}, 0);
    big.resize(9 << 20);
    ASSERT_TRUE(testutil::writeFile(dir.file("big.laci"), big));
    EXPECT_FALSE(loadCiomLangFile(dir.file("big.laci").c_str(), out));
}

TEST(LangTable, MissingIndexesAndSectionsGiveNull) {
    cCiomLang t;
    cCiomLangData* s = t.addSection("sec");
    ASSERT_TRUE(s->setString(5, "five"));
    EXPECT_STREQ(t.string("sec", 5), "five");
    for (int i : {-1, 0, 4, 6, 65535, 1 << 30}) EXPECT_EQ(t.string("sec", i), nullptr) << i;
    EXPECT_EQ(t.string("nope", 5), nullptr);
    EXPECT_EQ(t.string(nullptr, 5), nullptr);
    EXPECT_FALSE(s->setString(65536, "x"));
    EXPECT_FALSE(s->setString(-1, "x"));
    EXPECT_EQ(t.addSection(""), nullptr);
    EXPECT_EQ(t.addSection(std::string(256, 'n').c_str()), nullptr);
    EXPECT_EQ(t.addSection("sec"), s) << "finding an existing section keeps it";
    EXPECT_EQ(s->count(), 6);
    EXPECT_EQ(s->present(), 1);
}

namespace {

// A provider over containers built in the test.
class TestLang : public cLibLang {
public:
    TestLang(int def, std::map<int, std::vector<unsigned char>> tables) : myTables(std::move(tables)), myDef(def) {}
    bool defines(int id) override { return myTables.count(id) != 0; }
    unsigned int sizeOf(int id) override { return defines(id) ? (unsigned int)myTables[id].size() : 0; }
    const unsigned char* langData(int id) override { return defines(id) ? myTables[id].data() : nullptr; }
    int defaltLang() override { return myDef; }
    std::map<int, std::vector<unsigned char>> myTables;

private:
    int myDef;
};

}  // namespace

TEST(LangApply, MergesProvidersWithPerStringFallback) {
    TestLang a(eLangENG, {{eLangENG, container({{"a", {{0, "a0"}, {1, "a1"}}}, {"both", {{0, "from a"}, {1, "only a"}}}}, 0)},
                          {eLangRUS, container({{"a", {{0, "ra0"}}}, {"both", {{0, "from a ru"}}}}, 1)}});
    TestLang b(eLangDEU, {{eLangDEU, container({{"b", {{0, "b0 de"}, {3, "b3 de"}}}, {"both", {{0, "from b"}}}}, 2)},
                          {eLangJPN, container({{"b", {{3, "b3 ja"}}}}, 3)}});
    ASSERT_TRUE(cLibLang::applyLang(eLangRUS));
    EXPECT_EQ(cLibLang::appliedLang(), eLangRUS);
    struct Want {
        const char* section;
        int index;
        const char* text;
    };
    const Want russian[] = {
        {"a", 0, "ra0"},           // translated
        {"a", 1, "a1"},            // missing in the translation: the provider's default
        {"b", 0, "b0 de"},         // b lacks Russian: its default language
        {"both", 0, "from b"},     // the later provider wins the same index
        {"both", 1, "only a"},     // ...but not an index only the earlier one has
        {"a", 2, nullptr},
        {"nothing", 0, nullptr},
    };
    for (auto& w : russian) {
        const char* got = cCiomLangData::string(w.section, w.index);
        if (w.text)
            EXPECT_STREQ(got, w.text) << w.section << " " << w.index;
        else
            EXPECT_EQ(got, nullptr) << w.section << " " << w.index;
    }
    ASSERT_TRUE(cLibLang::applyLang(eLangJPN));
    EXPECT_STREQ(cCiomLangData::string("b", 3), "b3 ja");
    EXPECT_STREQ(cCiomLangData::string("b", 0), "b0 de");
    EXPECT_STREQ(cCiomLangData::string("a", 0), "a0");
    EXPECT_DOUBLE_EQ(textWrapYFactor(), 1.07);

    // A language nobody defines, a non-standard id and a damaged table change nothing.
    const char* before = cCiomLangData::string("b", 3);
    EXPECT_FALSE(cLibLang::applyLang(eLangESP));
    EXPECT_FALSE(cLibLang::applyLang(11));
    EXPECT_FALSE(cLibLang::applyLang(-1));
    a.myTables[eLangTUR] = container({{"a", {{0, "tr"}}}}, eLangTUR);
    a.myTables[eLangTUR][30] ^= 0x55;
    EXPECT_FALSE(cLibLang::applyLang(eLangTUR));
    EXPECT_EQ(cLibLang::appliedLang(), eLangJPN);
    EXPECT_STREQ(cCiomLangData::string("b", 3), "b3 ja");
    EXPECT_STREQ(before, "b3 ja") << "a string taken before failed applies stays readable";

    // Strings taken before a successful swap stay readable for a while.
    ASSERT_TRUE(cLibLang::applyLang(eLangDEU));
    EXPECT_STREQ(before, "b3 ja");
    EXPECT_DOUBLE_EQ(textWrapYFactor(), 1.2);
}

TEST(LangApply, ProviderLeavesTheRegistryWhenDestroyed) {
    {
        TestLang only(eLangENG, {{eLangTUR, container({{"gone", {{0, "x"}}}}, eLangTUR)}});
        EXPECT_TRUE(cLibLang::anyDefines(eLangTUR));
    }
    TestLang other(eLangENG, {{eLangENG, container({{"kept", {{0, "k"}}}}, 0)}});
    ASSERT_TRUE(cLibLang::applyLang(eLangENG));
    EXPECT_EQ(cCiomLangData::string("gone", 0), nullptr);
    EXPECT_STREQ(cCiomLangData::string("kept", 0), "k");
}

TEST(LangApply, ToolkitProviderGivesItsSectionsInEveryLanguage) {
    cCiomToolkitLang::init();
    cCiomToolkitLang::init();  // a second call does nothing
    struct Want {
        int lang;
        const char* section;
        int index;
        const char* text;
    };
    const Want wants[] = {
        {eLangENG, "ciom::messages", 0, "Ok"},
        {eLangENG, "ciom::propsheet", 2, "Change value"},
        {eLangDEU, "ciom::messages", 2, "Nein"},
        {eLangRUS, "ciom::progress", 0, "\xD0\xA1\xD1\x82\xD0\xBE\xD0\xBF"},
        {eLangFRA, "ciom::filechoose", 14, "Ouvrir"},
        {eLangJPN, "ciom::messages", 1, "\xE3\x81\xAF\xE3\x81\x84"},
    };
    for (auto& w : wants) {
        ASSERT_TRUE(cLibLang::applyLang(w.lang)) << ciLangID(w.lang);
        EXPECT_STREQ(cCiomLangData::string(w.section, w.index), w.text) << ciLangID(w.lang);
        EXPECT_EQ(cCiomLangData::string(w.section, 999), nullptr);
    }
    EXPECT_FALSE(cLibLang::applyLang(eLangESP)) << "nobody carries Spanish";
    ASSERT_TRUE(cLibLang::applyLang(eLangENG));
}

TEST(LangNames, CodesNamesAndFonts) {
    const char* codes[] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"};
    for (int i = 0; i < 11; i++) {
        EXPECT_STREQ(ciLangID(i), codes[i]);
        EXPECT_EQ(ciLangFromID(codes[i]), i);
        ASSERT_NE(ciLangName(i), nullptr);
    }
    for (int bad : {-1, 11, 1000}) {
        EXPECT_STREQ(ciLangID(bad), "INV");
        EXPECT_EQ(ciLangName(bad), nullptr);
    }
    EXPECT_EQ(ciLangFromID("eng"), 0);
    EXPECT_EQ(ciLangFromID("XYZ"), -1);
    EXPECT_STREQ(ciLangName(eLangDEU), "Deutsch");
    EXPECT_STREQ(ciLangName(eLangTUR), "T\xC3\xBCrk\xC3\xA7" "e");

    cCiomToolkitLang::init();
    struct Face {
        int lang;
        const char* face;
    };
    const Face faces[] = {{eLangKOR, "Malgun Gothic"}, {eLangCHN, "Microsoft YaHei"}, {eLangTWN, "Microsoft JhengHei"},
                          {eLangJPN, "Tahoma"},        {eLangRUS, "Tahoma"},          {eLangENG, "Tahoma"}};
    for (auto& f : faces) {
        ASSERT_TRUE(cLibLang::applyLang(f.lang));
        int align = -5;
        setDefaultPlatformFont(align);
        EXPECT_STREQ(_glbalStdFont(), f.face);
        bool cjk = f.lang != eLangRUS && f.lang != eLangENG;
        EXPECT_EQ(align, cjk && cFontObject::faceExists(f.face) ? 0 : 3) << f.face;
    }
}
