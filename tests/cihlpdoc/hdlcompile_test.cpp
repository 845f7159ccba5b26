// Compiling markup: every construct read back by the loader and by the independent
// python reader, every error text with its position, index files and text encodings.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include "base/memio.h"
#include "hdoctest.h"

using namespace hdoctest;

namespace {

std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
}

const std::string kPlain = "bg=none br=0 m=0,0,0,0 w=auto h=auto";

// Loads the compiled bytes, compares the loader's view with the python reader's, and
// returns the loader's dump.
std::string loadAndCompare(const testutil::TempDir& dir, const Compiled& c) {
    cSiDocLoader loader;
    EXPECT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    std::string mine = dump(loader);
    if (havePython()) {
        std::string file = dir.file("out.hdoc");
        testutil::writeFile(file, c.bytes);
        EXPECT_EQ(pythonDump(file), mine);
    }
    return mine;
}

struct BuildCase {
    const char* name;
    std::string source;
    std::string expected;  // the dump of the whole document
};

TEST(HdlCompile, EveryConstructReadsBack) {
    const BuildCase cases[] = {
        {"words_lose_spacing", "Hello   \t world\r\n",
         "lang 0\n text " + kPlain + " color=0 font=none \"Hello\"\n text " + kPlain + " color=0 font=none \"world\"\n"},
        {"lt_then_word", "<lt>b>",
         "lang 0\n text " + kPlain + " color=none font=none \"<\"\n text " + kPlain + " color=0 font=none \"b>\"\n"},
        {"word_then_tag", "word<br>a>b",
         "lang 0\n text " + kPlain + " color=0 font=none \"word\"\n text bg=none br=1 m=0,0,0,0 w=auto h=auto "
         "color=none font=none \"\"\n text " + kPlain + " color=0 font=none \"a>b\"\n"},
        {"br_in_link_is_text", "<link ref='http://x.org/a b'>go<br></link>",
         "lang 0\n link " + kPlain + " color=ff0000 font=none ref=\"http://x.org/a b\" \"go\"\n text bg=none br=1 "
         "m=0,0,0,0 w=auto h=auto color=none font=none \"\"\nstring 0 \"http://x.org/a b\"\n"},
        {"container_attributes",
         "<text ml=0x10 mr=2 mt=3 MB=4 w=50 h = \"60\" br=0 fg=0xFF bg=255 a=Center>x</text>",
         "lang 0\n box bg=ff br=0 m=16,2,3,4 w=50 h=60 color=ff font=none align=2\n  text " + kPlain +
             " color=ff font=none \"x\"\n"},
        {"container_defaults", "<text>x</text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=none align=0\n  text " + kPlain +
             " color=0 font=none \"x\"\n"},
        {"alignments", "<text a=right></text><text a=j></text><text a=L></text><text w=0 h=65535></text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=none align=1\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=none align=3\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=none align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=none align=0\n"},
        {"face_with_height", "<text f=Verd,14>x</text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=0 align=0\n  text " + kPlain +
             " color=0 font=none \"x\"\nfont 0 face=3 w=5 h=14 b=0 i=0 u=0\n"},
        {"styled_face_gives_words_fonts", "<text f=std,13,6,bu>x</text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=0 align=0\n  text " + kPlain +
             " color=0 font=1 \"x\"\nfont 0 face=0 w=6 h=13 b=1 i=0 u=1\nfont 1 face=0 w=7 h=13 b=1 i=0 u=1\n"},
        {"bold_inside_face", "<text f=luci,20><b>w</b></text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=0 align=0\n  text " + kPlain +
             " color=0 font=1 \"w\"\nfont 0 face=4 w=8 h=20 b=0 i=0 u=0\nfont 1 face=4 w=9 h=20 b=1 i=0 u=0\n"},
        {"italic_and_bold_italic", "<i>a</i> <b><i>c</i> d</b> e",
         "lang 0\n text " + kPlain + " color=0 font=0 \"a\"\n text " + kPlain + " color=0 font=1 \"c\"\n text " +
             kPlain + " color=0 font=2 \"d\"\n text " + kPlain +
             " color=0 font=none \"e\"\nfont 0 face=0 w=5 h=13 b=0 i=1 u=0\nfont 1 face=0 w=6 h=13 b=1 i=1 u=0\n"
             "font 2 face=0 w=6 h=13 b=1 i=0 u=0\n"},
        {"every_face_kind",
         "<text f=STD></text><text f=fixed></text><text f=Kor></text><text f=verd></text><text f=luci></text>"
         "<text f=chi></text><text f=twn></text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=0 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=1 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=2 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=3 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=4 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=5 align=0\n"
         " box bg=none br=1 m=0,0,0,0 w=auto h=auto color=0 font=6 align=0\n"
         "font 0 face=0 w=5 h=13 b=0 i=0 u=0\nfont 1 face=1 w=5 h=13 b=0 i=0 u=0\n"
         "font 2 face=2 w=5 h=13 b=0 i=0 u=0\nfont 3 face=3 w=5 h=13 b=0 i=0 u=0\n"
         "font 4 face=4 w=5 h=13 b=0 i=0 u=0\nfont 5 face=5 w=5 h=13 b=0 i=0 u=0\n"
         "font 6 face=6 w=5 h=13 b=0 i=0 u=0\n"},
        {"colour_flows_into_links_and_containers",
         "<text fg=0x00ff00>a<b>b</b><link ref=r><text>c</text></link></text>",
         "lang 0\n box bg=none br=1 m=0,0,0,0 w=auto h=auto color=ff00 font=none align=0\n  text " + kPlain +
             " color=ff00 font=none \"a\"\n  text " + kPlain + " color=ff00 font=0 \"b\"\n  box bg=none br=1 m=0,0,0,0 w=auto h=auto color=ff0000 font=none align=0\n"
             "   link " + kPlain + " color=ff0000 font=none ref=\"r\" \"c\"\n"
             "font 0 face=0 w=6 h=13 b=1 i=0 u=0\nstring 0 \"r\"\n"},
        {"same_ref_one_string", "<link ref=a>x</link><link ref=\"b\">y</link><link ref=a>z</link><link>e</link>",
         "lang 0\n link " + kPlain + " color=ff0000 font=none ref=\"a\" \"x\"\n link " + kPlain +
             " color=ff0000 font=none ref=\"b\" \"y\"\n link " + kPlain + " color=ff0000 font=none ref=\"a\" \"z\"\n link " +
             kPlain + " color=ff0000 font=none ref=\"\" \"e\"\nstring 0 \"a\"\nstring 1 \"b\"\nstring 2 \"\"\n"},
        {"later_attribute_wins", "<text ml=1 ML=7 unknown=zz>q</text>",
         "lang 0\n box bg=none br=1 m=7,0,0,0 w=auto h=auto color=0 font=none align=0\n  text " + kPlain +
             " color=0 font=none \"q\"\n"},
        {"pictures_shared_and_linked",
         "<img src=./p.png ml=1 br=0><link ref=u><img src='./p.png' bg=0x10></link><img src=./q.png>",
         "lang 0\n image bg=none br=0 m=1,0,0,0 w=auto h=auto img=0\n imagelink bg=10 br=1 m=0,0,0,0 w=auto h=auto "
         "img=0 ref=\"u\"\n image bg=none br=1 m=0,0,0,0 w=auto h=auto img=1\nstring 0 \"u\"\nimage 0 3x2\n"
         "image 1 1x4\n"},
        {"empty_source", "   \n", "lang 0\n"},
    };
    testutil::TempDir dir;
    auto p = makePng(3, 2), q = makePng(1, 4, 9);
    testutil::writeFile(dir.file("p.png"), p);
    testutil::writeFile(dir.file("q.png"), q);
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.name);
        Compiled out = compileSource(dir, c.source);
        ASSERT_TRUE(out.ok) << out.err.message.ptr << " at " << out.err.line << ":" << out.err.column;
        EXPECT_EQ(loadAndCompare(dir, out), c.expected);
    }
}

// The break byte holds the line start alone (0 or 1): words joined by a tag, blanks beside
// an inline container and words after a block container all write 0.
TEST(HdlCompile, BreakByteHoldsOnlyTheLineStart) {
    testutil::TempDir dir;
    Compiled c = compileSource(dir, kFlowMarkup);
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    auto w = [](const char* word, unsigned font = 65535) { return wordRecord(word, 0, 0xFF0000, font, 0); };
    EXPECT_EQ(firstStream(c.bytes), w("Export") + w("-Dialog", 0) + w("from") + w("our") +
                                        boxRecord(0, 0xFF0000, 65535, 0) + w("support") + kEnd + w("docs") +
                                        boxRecord(1, 0xFF0000, 65535, 0) + w("Thank") + w("you!") + kEnd + w("for") +
                                        w("reading") + kEnd);
}

struct ErrorCase {
    std::string source;
    unsigned line, column;
    const char* message;
};

TEST(HdlCompile, EveryErrorWithItsPosition) {
    const ErrorCase cases[] = {
        {"</b>", 0, 4, "close tag mismatch"},
        {"<b></i>", 0, 7, "close tag mismatch"},
        {"<text><b></text>", 0, 16, "close tag mismatch"},
        {"<link></img>", 0, 12, "close tag mismatch"},
        {"<text>abc  ", 0, 11, "termination on opened tag"},
        {"ab\n  <text", 1, 2, "unexpected termination"},
        {"<text\nml=5\n>", 2, 1, "termination on opened tag"},
        {"a\nb\n<b>\n</i>", 3, 4, "close tag mismatch"},
        {"\xc3\xa9 </b>", 0, 6, "close tag mismatch"},
        {"<br >", 0, 5, "invalid tag opened"},
        {"<b x>", 0, 5, "invalid tag opened"},
        {"<textx>", 0, 7, "invalid tag opened"},
        {"<Text>", 0, 6, "invalid tag opened"},
        {"<> ", 0, 2, "invalid tag opened"},
        {"<text></textx>", 0, 14, "invalid tag closed"},
        {"<b></b x>", 0, 9, "invalid tag closed"},
        {"<text></text x>", 0, 15, "tag is not properly closed"},
        {"<link></link >", 0, 14, "tag is not properly closed"},
        {"<text ml>", 0, 9, "bad tag props"},
        {"<text ml='5>", 0, 12, "bad tag props"},
        {"<img src>", 0, 9, "bad tag props"},
        {"<link ref=\"x>", 0, 13, "bad tag props"},
        {"<text ml=65536>", 0, 15, "bad left margin"},
        {"<text mr=-1>", 0, 12, "bad right margin"},
        {"<text mt=x>", 0, 11, "bad top margin"},
        {"<text mb=0x>", 0, 12, "bad bottom margin"},
        {"<text w=65536>", 0, 14, "bad width"},
        {"<text h=99999999999999999999>", 0, 29, "bad height"},
        {"<text br=2>", 0, 11, "bad break"},
        {"<text fg=0x100000000>", 0, 21, "bad FG color"},
        {"<text bg=>", 0, 10, "bad BG color"},
        {"<text a=''>", 0, 11, "empty align"},
        {"<text a=x>", 0, 10, "bad align"},
        {"<img ml=1>", 0, 10, "no src prop"},
        {"<img src=missing.png>", 0, 21, "unable to open IMG"},
        {"<img src=./note.txt>", 0, 20, "unable to recognize IMG"},
        {"<img src=./huge.png>", 0, 20, "unable to load IMG"},
        {"<img src=./p.png mb=70000>", 0, 26, "bad bottom margin"},
        {"<text f=arial>", 0, 14, "bad font face name"},
        {"<text f=verdana,14>", 0, 19, "bad font face definition"},
        {"<text f=std,>", 0, 13, "bad font height def"},
        {"<text f=std,4096>", 0, 17, "bad font height"},
        {"<text f=std,13x>", 0, 16, "bad font definition"},
        {"<text f=std,13,,b>", 0, 18, "bad font width def"},
        {"<text f=std,13,4096>", 0, 20, "bad font width"},
        {"<text f=std,13,5x>", 0, 18, "bad font width definition"},
        {"<text f=std,0>", 0, 14, "bad font"},
        {repeat("<b>", 257),
         0, 771, "tags nested too deep"},
        {std::string(65536, 'w'), 0, 65536, "word too long"},
        {"<link ref=" + std::string(65536, 'r') + ">", 0, 65547, "link reference too long"},
    };
    testutil::TempDir dir;
    testutil::writeFile(dir.file("p.png"), makePng(2, 2));
    testutil::writeFile(dir.file("note.txt"), "just some words", 15);
    // A PNG header that claims 20000 x 20000 pixels, more than a toolkit picture holds.
    auto huge = makePng(1, 1);
    const unsigned char dims[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20};
    std::copy(dims, dims + 8, huge.begin() + 16);
    unsigned crc = (unsigned)crc32(0, huge.data() + 12, 17);
    for (int i = 0; i < 4; i++) huge[29 + i] = (unsigned char)(crc >> (24 - 8 * i));
    testutil::writeFile(dir.file("huge.png"), huge);
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.source.substr(0, 40));
        Compiled out = compileSource(dir, c.source);
        ASSERT_FALSE(out.ok);
        EXPECT_STREQ(out.err.message.ptr, c.message);
        EXPECT_EQ(out.err.line, c.line);
        EXPECT_EQ(out.err.column, c.column);
        EXPECT_EQ(std::string(out.err.file.ptr ? out.err.file.ptr : ""), dir.file("en.txt"));
    }
}

TEST(HdlCompile, NestingUpToTheLimitCompilesAndLoads) {
    std::string s;
    for (int i = 0; i < 128; i++) s += "<text><b>";
    s += "deep";
    for (int i = 0; i < 128; i++) s += "</b></text>";
    testutil::TempDir dir;
    Compiled out = compileSource(dir, s);
    ASSERT_TRUE(out.ok) << out.err.message.ptr;
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(out.bytes.data(), (long long)out.bytes.size()));
    cSiDocContainer* c = loader.forLang(0);
    int depth = 0;
    while (c && c->children().head) {
        cSiDocContainer* inner = dynamic_cast<cSiDocContainer*>(c->children().head->value.ptr);
        if (!inner) break;
        c = inner;
        depth++;
    }
    EXPECT_EQ(depth, 128);
}

TEST(HdlCompile, HundredThousandNestedTagsFailCleanly) {
    std::string s;
    for (int i = 0; i < 100000; i++) s += "<text>";
    testutil::TempDir dir;
    Compiled out = compileSource(dir, s);
    ASSERT_FALSE(out.ok);
    EXPECT_STREQ(out.err.message.ptr, "tags nested too deep");
}

struct IndexCase {
    const char* text;
    bool ok;
    unsigned line;
    const char* message;
    std::vector<std::pair<int, std::string> > langs;
};

TEST(HdlIndex, ParsesDefinitionsAndReportsLines) {
    const IndexCase cases[] = {
        {"ENG = \"./en.txt\"", true, 0, nullptr, {{0, "./en.txt"}}},
        {"eng = \"./en.txt\"\n", true, 0, nullptr, {{0, "./en.txt"}}},
        {"\n\n  RUS=\"r u.txt\"\r\n\tTuR =\t\"/abs/t.txt\"  \r\nENG=\"\"", true, 0, nullptr,
         {{0, ""}, {1, "r u.txt"}, {10, "/abs/t.txt"}}},
        {"DEU=\"d\"\nJPN=\"j\"\nKOR=\"k\"\nFRA=\"f\"\nUKR=\"u\"\nESP=\"e\"\nCHN=\"c\"\nTWN=\"t\"", true, 0, nullptr,
         {{2, "d"}, {3, "j"}, {4, "k"}, {5, "f"}, {6, "u"}, {7, "e"}, {8, "c"}, {9, "t"}}},
        {"", true, 0, nullptr, {}},
        {"ENG = ./en.txt", false, 0, "expected openning QUOTE sign after EQ", {}},
        // Line feeds around "=" are white space too, and counted.
        {"ENG\n=\n\"a\"\nENG = \"b\"", false, 3, "lang already defined", {}},
        {"\nXXX = \"a\"", false, 1, "invalid lang code", {}},
        {"= \"a\"", false, 0, "invalid lang code", {}},
        {"ENGL = \"a\"", false, 0, "invalid lang code", {}},
        {"ENG \"a\"", false, 0, "expected EQ sign after lang code", {}},
        {"ENG = \"a", false, 0, "expected openning QUOTE sign after end of path", {}},
        {"ENG = \"a\nb\"", false, 0, "expected openning QUOTE sign after end of path", {}},
        {"ENG = \"a\" x", false, 0, "not expected anything after file path", {}},
        {"ENG = \"a\"\nDEU=\"b\"\n\nENG = \"c\"", false, 3, "lang already defined", {}},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(c.text);
        cHDLParser parser;
        cHDLParser::sErrInfo err;
        cFasterTreeList<int, _guardchar<char> > out;
        ASSERT_EQ(parser.parseIndexFile(c.text, out, err), c.ok);
        if (!c.ok) {
            EXPECT_STREQ(err.message.ptr, c.message);
            EXPECT_EQ(err.line, c.line);
            EXPECT_EQ(err.column, 0u);
            continue;
        }
        std::vector<std::pair<int, std::string> > got;
        for (auto* e = out.first(); e; e = out.next(e)) got.push_back({e->key(), e->value().ptr ? e->value().ptr : ""});
        EXPECT_EQ(got, c.langs);
    }
}

TEST(HdlText, ReadsEncodingsAndRefusesBadSizes) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        bool ok;
        std::string text;
    } cases[] = {
        {"plain", {'a', 'b', 'c', 'd'}, true, "abcd"},
        {"three_bytes", {'a', 'b', 'c'}, true, "abc"},
        {"two_bytes", {'a', 'b'}, false, ""},
        {"utf8_bom", {0xEF, 0xBB, 0xBF, 0xD0, 0x96, '!'}, true, "\xD0\x96!"},
        {"utf8_bom_only", {0xEF, 0xBB, 0xBF}, true, ""},
        // "Жx" then U+1F600 as a surrogate pair.
        {"utf16le_bom", {0xFF, 0xFE, 0x16, 0x04, 'x', 0, 0x3D, 0xD8, 0x00, 0xDE}, true, "\xD0\x96x\xF0\x9F\x98\x80"},
        {"utf16le_odd_size", {0xFF, 0xFE, 'h', 0, 'i', 0, 'z'}, true, "hi"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        cBufWrapperIO io(c.bytes.data(), (long long)c.bytes.size());
        _guardchar<char> out;
        ASSERT_EQ(cHDLParser::getFileContents(&io, out), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::string(out.ptr ? out.ptr : ""), c.text);
        }
    }
    std::vector<unsigned char> big(0x400000, 'a');
    cBufWrapperIO limit(big.data(), (long long)big.size());
    _guardchar<char> out;
    EXPECT_TRUE(cHDLParser::getFileContents(&limit, out));
    big.push_back('a');
    cBufWrapperIO over(big.data(), (long long)big.size());
    EXPECT_FALSE(cHDLParser::getFileContents(&over, out));
}

TEST(HdlDriver, Utf16SourceCompilesLikeItsUtf8Form) {
    std::string utf8 = "<text f=chi,16>\xe4\xbd\xa0\xe5\xa5\xbd <b>\xd0\x96</b></text>";
    // The same text as UTF-16LE with its byte-order mark.
    const unsigned short units[] = {'<', 't', 'e', 'x', 't', ' ', 'f', '=', 'c', 'h', 'i', ',', '1', '6', '>', 0x4F60,
                                    0x597D, ' ', '<', 'b', '>', 0x0416, '<', '/', 'b', '>', '<', '/', 't', 'e', 'x', 't', '>'};
    std::string utf16 = "\xFF\xFE";
    for (unsigned short u : units) utf16 += std::string{(char)(u & 0xFF), (char)(u >> 8)};
    testutil::TempDir a, b;
    Compiled x = compileSource(a, utf8), y = compileSource(b, utf16);
    ASSERT_TRUE(x.ok);
    ASSERT_TRUE(y.ok) << y.err.message.ptr;
    EXPECT_EQ(x.bytes, y.bytes);
}

TEST(HdlDriver, LanguagesShareOneNumbering) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("logo.png"), makePng(4, 3));
    Compiled c = compileFiles(dir, "DEU = \"./de.txt\"\nENG=\"./en.txt\"\nRUS=\"\"\n",
                              {{"en.txt", "<link ref=home>Home <img src=./logo.png></link> <b>bold</b>"},
                               {"de.txt", "<b>fett</b> <link ref=home><img src=./logo.png>Heim</link>"}});
    ASSERT_TRUE(c.ok) << c.err.message.ptr;
    std::string l = "bg=none br=0 m=0,0,0,0 w=auto h=auto";
    EXPECT_EQ(loadAndCompare(dir, c),
              "lang 0\n link " + l + " color=ff0000 font=none ref=\"home\" \"Home\"\n imagelink bg=none br=1 m=0,0,0,0 "
              "w=auto h=auto img=0 ref=\"home\"\n text " + l + " color=0 font=0 \"bold\"\n"
              "lang 2\n text " + l + " color=0 font=0 \"fett\"\n imagelink bg=none br=1 m=0,0,0,0 w=auto h=auto img=0 "
              "ref=\"home\"\n link " + l + " color=ff0000 font=none ref=\"home\" \"Heim\"\n"
              "font 0 face=0 w=6 h=13 b=1 i=0 u=0\nstring 0 \"home\"\nimage 0 4x3\n");
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
    EXPECT_NE(loader.forLang(0), nullptr);
    EXPECT_NE(loader.forLang(2), nullptr);
    EXPECT_NE(loader.forLang(0), loader.forLang(2));
    EXPECT_EQ(loader.forLang(1), nullptr);
    // The file form loads the same document.
    testutil::writeFile(dir.file("doc.hdoc"), c.bytes);
    cSiDocLoader fromFile;
    ASSERT_TRUE(fromFile.load(dir.file("doc.hdoc").c_str()));
    EXPECT_EQ(dump(fromFile), dump(loader));
}

TEST(HdlDriver, DocumentWithoutLanguagesIsTwentyOneBytes) {
    testutil::TempDir dir;
    Compiled c = compileFiles(dir, "ENG=\"\"\nDEU = \"\"", {});
    ASSERT_TRUE(c.ok);
    std::vector<unsigned char> want = {'Q', 'M', 'X', 'H', 'D', 'O', 'C', 'F', 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(c.bytes, want);
    cSiDocLoader loader;
    EXPECT_FALSE(loader.load(c.bytes.data(), (long long)c.bytes.size()));
}

TEST(HdlDriver, TablesAreLeftOutWhenUnused) {
    testutil::TempDir dir;
    Compiled c = compileSource(dir, "plain words");
    ASSERT_TRUE(c.ok);
    // magic, one language record, 0xFF, then Sf = Ss = Si = 0 end the file.
    ASSERT_GE(c.bytes.size(), 26u);
    std::vector<unsigned char> tail(c.bytes.end() - 13, c.bytes.end());
    EXPECT_EQ(tail, std::vector<unsigned char>({0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.bytes[8], 0);
    unsigned n = c.bytes[9] | c.bytes[10] << 8 | c.bytes[11] << 16 | (unsigned)c.bytes[12] << 24;
    EXPECT_EQ(n + 13 + 13, c.bytes.size());
    // The stream is a zlib stream: two words and the end record.
    EXPECT_EQ(firstStream(c.bytes), wordRecord("plain", 0, 0, 65535) + wordRecord("words", 0, 0, 65535) + kEnd);
}

TEST(HdlDriver, DriverErrorsNameTheirFile) {
    testutil::TempDir dir;
    cHDLParser parser;
    cHDLParser::sErrInfo err;
    cMemIOTarget target;
    EXPECT_FALSE(parser.parse(dir.file("index.txt").c_str(), nullptr, err));
    EXPECT_STREQ(err.message.ptr, "bad target");
    EXPECT_EQ(err.file.ptr, nullptr);

    EXPECT_FALSE(parser.parse(dir.file("none.txt").c_str(), &target, err));
    EXPECT_STREQ(err.message.ptr, "Unable to open index");
    EXPECT_EQ(std::string(err.file.ptr), dir.file("none.txt"));

    testutil::writeFile(dir.file("short.txt"), "E\n", 2);
    EXPECT_FALSE(parser.parse(dir.file("short.txt").c_str(), &target, err));
    EXPECT_STREQ(err.message.ptr, "Unable to read idex");

    testutil::writeFile(dir.file("bad.txt"), "\nENG = x", 8);
    EXPECT_FALSE(parser.parse(dir.file("bad.txt").c_str(), &target, err));
    EXPECT_STREQ(err.message.ptr, "expected openning QUOTE sign after EQ");
    EXPECT_EQ(err.line, 1u);
    EXPECT_EQ(std::string(err.file.ptr), dir.file("bad.txt"));

    Compiled c = compileFiles(dir, "ENG=\"./absent.txt\"", {});
    EXPECT_STREQ(c.err.message.ptr, "Unable to open source file");
    EXPECT_EQ(std::string(c.err.file.ptr), dir.file("absent.txt"));

    c = compileFiles(dir, "ENG=\"./tiny.txt\"", {{"tiny.txt", "x"}});
    EXPECT_STREQ(c.err.message.ptr, "Unable to read source as text file");
    EXPECT_EQ(std::string(c.err.file.ptr), dir.file("tiny.txt"));

    // A target that accepts nothing.
    testutil::writeFile(dir.file("ok.txt"), "ENG=\"\"", 6);
    unsigned char none[4];
    cBufWrapperIO readOnly(none, sizeof none);
    EXPECT_FALSE(parser.parse(dir.file("ok.txt").c_str(), &readOnly, err));
    EXPECT_STREQ(err.message.ptr, "Unable to write target");

    // A relative source needs the index's folder.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    testutil::writeFile(dir.file("rel.txt"), "ENG=\"./en.txt\"", 14);
    bool ok = parser.parse("rel.txt", &target, err);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(err.message.ptr, "Path is specified as relative with no current folder");
    EXPECT_STREQ(err.file.ptr, "rel.txt");
}

}  // namespace
