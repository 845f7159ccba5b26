// Text functions: UTF-8/UTF-16 conversion against python3 and hand-made tables, capacity
// edges with guard units, number parsers, case-insensitive comparison, bounded formatting.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/strings.h"
#include "testutil.h"

namespace {

typedef std::vector<unsigned short> U16;

std::string hexOf(const void* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        unsigned char b = ((const unsigned char*)p)[i];
        s += d[b >> 4];
        s += d[b & 15];
    }
    return s;
}

U16 toU16(const std::string& bytes) {
    _guardchar<unsigned short> out;
    long long n = _pc2w(bytes.data(), (long long)bytes.size(), out);
    EXPECT_GE(n, 0);
    return U16(out.ptr, out.ptr + n);
}

std::string toU8(const U16& units) {
    _guardchar<char> out;
    long long n = _w2pc(units.data(), (long long)units.size(), out);
    EXPECT_GE(n, 0);
    return std::string(out.ptr, (size_t)n);
}

// Runs a python3 snippet over hex arguments and returns one output line per argument.
bool pythonLines(const std::string& code, const std::vector<std::string>& args, std::vector<std::string>& lines) {
    std::vector<std::string> argv = {"python3", "-c", code};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (testutil::run(argv, &out) != 0) return false;
    std::istringstream in(out);
    std::string l;
    lines.clear();
    while (std::getline(in, l)) lines.push_back(l);
    return lines.size() == args.size();
}

}  // namespace

TEST(Utf8ToUtf16, MalformedSequencesBecomeOneReplacementPerMaximalSubpart) {
    const unsigned short R = 0xFFFD;
    struct {
        const char* bytes;
        U16 want;
    } cases[] = {
        {"A\xC3\xA9", {'A', 0xE9}},
        {"\xE2\x82\xAC", {0x20AC}},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},           // four bytes -> pair
        {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},           // U+10FFFF
        {"\xEF\xBF\xBF", {0xFFFF}},
        {"\x80", {R}},                                    // lone continuation
        {"\xC3" "A", {R, 'A'}},                           // bad continuation, A kept
        {"\xC0\x80", {R, R}},                             // overlong NUL
        {"\xC1\xBF", {R, R}},
        {"\xE0\x80\x80", {R, R, R}},                      // overlong three-byte
        {"\xE0\xA0", {R}},                                // truncated at end
        {"\xF0\x80\x80\x80", {R, R, R, R}},               // overlong four-byte
        {"\xED\xA0\x80", {R, R, R}},                      // encoded high surrogate
        {"\xED\xBF\xBF", {R, R, R}},                      // encoded low surrogate
        {"\xF4\x90\x80\x80", {R, R, R, R}},               // above U+10FFFF
        {"\xF5\x80", {R, R}},
        {"\xFF\xFE" "a", {R, R, 'a'}},
        {"\xF0\x9F\x98", {R}},                            // truncated four-byte
        {"\xF0\x9F\x98" "x", {R, 'x'}},
        {"\xE2\x82" "\xE2\x82\xAC", {R, 0x20AC}},
    };
    for (auto& c : cases) EXPECT_EQ(c.want, toU16(c.bytes)) << hexOf(c.bytes, strlen(c.bytes));
}

TEST(Utf16ToUtf8, PairsJoinAndLoneSurrogatesBecomeReplacement) {
    struct {
        U16 units;
        std::string want;
    } cases[] = {
        {{'a', 0xE9, 0x20AC}, "a\xC3\xA9\xE2\x82\xAC"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0xD83D}, "\xEF\xBF\xBD"},
        {{0xDE00, 'x'}, "\xEF\xBF\xBD" "x"},
        {{0xD83D, 'x'}, "\xEF\xBF\xBD" "x"},
        {{0xD800, 0xD800, 0xDC00}, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {{0x7F, 0x80, 0x7FF, 0x800}, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
    };
    for (auto& c : cases) EXPECT_EQ(c.want, toU8(c.units));
}

TEST(Utf8ToUtf16, RandomBytesMatchPython) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    std::mt19937 rng(7);
    // Bytes drawn mostly from lead and continuation ranges so sequences nearly form.
    const unsigned char pool[] = {'a', 0x00 + 'z', 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                                  0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::vector<std::string> inputs, args;
    for (int k = 0; k < 400; k++) {
        std::string s;
        int len = rng() % 12;
        for (int i = 0; i < len; i++) s += (char)pool[rng() % sizeof(pool)];
        inputs.push_back(s);
        args.push_back("x" + hexOf(s.data(), s.size()));
    }
    std::vector<std::string> lines;
    ASSERT_TRUE(pythonLines("import sys\nfor a in sys.argv[1:]:\n"
                            " print(bytes.fromhex(a[1:]).decode('utf-8','replace').encode('utf-16-le').hex())",
                            args, lines));
    for (size_t k = 0; k < inputs.size(); k++) {
        U16 u = toU16(inputs[k]);
        EXPECT_EQ(lines[k], hexOf(u.data(), u.size() * 2)) << args[k];
    }
}

TEST(Utf16ToUtf8, RandomUnitsMatchPython) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    std::mt19937 rng(11);
    const unsigned short pool[] = {'a', 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF,
                                   0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    std::vector<U16> inputs;
    std::vector<std::string> args;
    for (int k = 0; k < 400; k++) {
        U16 u;
        int len = rng() % 8;
        for (int i = 0; i < len; i++) u.push_back(pool[rng() % (sizeof(pool) / 2)]);
        inputs.push_back(u);
        args.push_back("x" + hexOf(u.data(), u.size() * 2));
    }
    std::vector<std::string> lines;
    ASSERT_TRUE(pythonLines("import sys\nfor a in sys.argv[1:]:\n"
                            " print(bytes.fromhex(a[1:]).decode('utf-16-le','replace').encode('utf-8').hex())",
                            args, lines));
    for (size_t k = 0; k < inputs.size(); k++) {
        std::string s = toU8(inputs[k]);
        EXPECT_EQ(lines[k], hexOf(s.data(), s.size())) << args[k];
    }
}

TEST(Utf8ToUtf16, ValidTextRoundTripsThroughBothDirections) {
    std::mt19937 rng(3);
    for (int k = 0; k < 2000; k++) {
        // A plain encoder here is the reference for well-formed input.
        std::string s;
        U16 want;
        int len = rng() % 10;
        for (int i = 0; i < len; i++) {
            unsigned cp;
            do cp = rng() % 4 == 0 ? rng() % 0x80 : rng() % 0x110000;
            while (cp >= 0xD800 && cp <= 0xDFFF);
            if (cp < 0x80) {
                s += (char)cp;
            } else if (cp < 0x800) {
                s += (char)(0xC0 | cp >> 6);
                s += (char)(0x80 | (cp & 63));
            } else if (cp < 0x10000) {
                s += (char)(0xE0 | cp >> 12);
                s += (char)(0x80 | ((cp >> 6) & 63));
                s += (char)(0x80 | (cp & 63));
            } else {
                s += (char)(0xF0 | cp >> 18);
                s += (char)(0x80 | ((cp >> 12) & 63));
                s += (char)(0x80 | ((cp >> 6) & 63));
                s += (char)(0x80 | (cp & 63));
            }
            if (cp < 0x10000) {
                want.push_back((unsigned short)cp);
            } else {
                want.push_back((unsigned short)(0xD800 + ((cp - 0x10000) >> 10)));
                want.push_back((unsigned short)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            }
        }
        U16 u = toU16(s);
        ASSERT_EQ(want, u);
        ASSERT_EQ(s, toU8(u));
    }
}

TEST(Utf8ToUtf16, BufferFormNeverPassesCapacityNorSplitsPairs) {
    const char* text = "a\xF0\x9F\x98\x80" "b";  // a, pair, b
    const unsigned short G = 0xBEEF;
    struct {
        long long cap, units;
        U16 want;  // the whole buffer plus one guard unit
    } cases[] = {
        {1, 1, {'a', G}},
        {2, 1, {'a', 0, G}},           // the pair does not fit, terminator does
        {3, 3, {'a', 0xD83D, 0xDE00, G}},
        {4, 4, {'a', 0xD83D, 0xDE00, 'b', G}},
        {5, 4, {'a', 0xD83D, 0xDE00, 'b', 0, G}},
    };
    for (auto& c : cases) {
        U16 buf((size_t)c.cap + 1, G);
        EXPECT_EQ(c.units, _pc2w(text, -1, buf.data(), c.cap)) << c.cap;
        EXPECT_EQ(c.want, buf) << c.cap;
    }
    unsigned short g = G;
    EXPECT_EQ(0, _pc2w(text, -1, &g, 0));
    EXPECT_EQ(G, g);
}

TEST(Utf16ToUtf8, BufferFormNeverPassesSizeNorSplitsSequences) {
    const unsigned short text[] = {'a', 0x20AC, 0xD83D, 0xDE00, 0};
    struct {
        long long size, bytes;
        std::string want;  // the written prefix; the next byte must be 0 or the guard
    } cases[] = {
        {1, 1, "a"},
        {3, 1, "a"},
        {4, 4, "a\xE2\x82\xAC"},
        {7, 4, "a\xE2\x82\xAC"},
        {8, 8, "a\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {9, 8, "a\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (auto& c : cases) {
        std::string buf((size_t)c.size + 1, '#');
        EXPECT_EQ(c.bytes, _w2pc(text, -1, &buf[0], c.size)) << c.size;
        EXPECT_EQ(c.want, buf.substr(0, (size_t)c.bytes)) << c.size;
        for (long long i = c.bytes; i < c.size; i++) EXPECT_EQ(i == c.bytes ? '\0' : '#', buf[(size_t)i]) << c.size;
        EXPECT_EQ('#', buf[(size_t)c.size]) << c.size;
    }
}

TEST(Strings, StrToU64ReadsLikeTheDocumentedRules) {
    const unsigned long long ALL = ~0ULL;
    struct {
        const char* text;
        unsigned long long want;
    } cases[] = {
        {"", 0},
        {"   \t\n", 0},
        {"0", 0},
        {"42", 42},
        {"  42", 42},
        {"+7", 7},
        {"-1", ALL},
        {"-2", 0xFFFFFFFFFFFFFFFEULL},
        {"12,345", 12},
        {"12abc", 12},
        {"0x1F", 0x1F},
        {"0XfF", 0xFF},
        {"0xffffffffffffffff", ALL},
        {"0x10000000000000000", ALL},  // too large
        {"0x", 0},
        {"0xg", 0},
        {"9223372036854775807", 0x7FFFFFFFFFFFFFFFULL},
        {"9223372036854775808", ALL},
        {"-9223372036854775808", 0x8000000000000000ULL},
        {"abc", ALL},
        {"-", ALL},
        {"+", ALL},
        {"- 5", ALL},
        {"x12", ALL},
    };
    for (auto& c : cases) EXPECT_EQ(c.want, strToU64(c.text)) << '"' << c.text << '"';
    EXPECT_EQ(0ULL, strToU64(nullptr));
}

TEST(Strings, GetHexbReadsTwoDigitsAndRejectsOthers) {
    struct {
        const char* text;
        int want;
    } cases[] = {{"00", 0}, {"ff", 255}, {"FF", 255}, {"aB", 0xAB}, {"7fz", 0x7F}, {"g0", -1},
                 {"0g", -1}, {"", -1},   {"f", -1},    {" 1", -1},  {"-1", -1}};
    for (auto& c : cases) EXPECT_EQ(c.want, getHexb(c.text)) << c.text;
    EXPECT_EQ(-1, getHexb(nullptr));
}

TEST(Strings, StricmpOrdersCaseInsensitivelyAndHonoursLimits) {
    auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    struct {
        const char* a;
        const char* b;
        long long n;  // -1: unlimited form
        int want;
    } cases[] = {
        {"abc", "ABC", -1, 0},   {"abc", "abd", -1, -1}, {"ABD", "abc", -1, 1},
        {"ab", "abc", -1, -1},   {"abc", "ab", -1, 1},   {"", "", -1, 0},
        {"a", "", -1, 1},        {"Z", "a", -1, 1},      // 'z' > 'a' once folded
        {"[", "a", -1, -1},      // '[' (0x5B) < 'a'; it would be > 'A' without folding
        {"\xC3\xA9", "\xC3\x89", -1, 1},                 // bytes above 0x7F are not folded
        {"abcX", "ABCy", 3, 0},  {"abcX", "ABCy", 4, -1}, {"ab", "abc", 2, 0},
        {"ab", "abc", 3, -1},    {"x", "y", 0, 0},       {"a\0b", "a\0c", 5, 0},
    };
    for (auto& c : cases) {
        int r = c.n < 0 ? __stricmp(c.a, c.b) : __stricmp(c.a, c.b, c.n);
        EXPECT_EQ(c.want, sign(r)) << c.a << " / " << c.b << " n=" << c.n;
    }
    EXPECT_EQ(0, __stricmp(nullptr, nullptr));
    EXPECT_LT(__stricmp(nullptr, "a"), 0);
    EXPECT_GT(__stricmp("a", nullptr), 0);
    // memicmp does not stop at a 0 byte.
    EXPECT_EQ(0, __memicmp("A\0B", "a\0b", 3));
    EXPECT_LT(__memicmp("a\0b", "a\0c", 3), 0);
    EXPECT_EQ(0, __memicmp("a\0b", "a\0c", 2));
}

TEST(Strings, CaseOfOneUnitMatchesPython) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not found";
    // Ranges we claim to map; python's one-character results are the oracle,
    // multi-character results must leave the unit unchanged.
    std::string out;
    ASSERT_EQ(0, testutil::run({"python3", "-c",
                                "r=list(range(0,0x180))+list(range(0x386,0x3cf))+list(range(0x400,0x4c0))"
                                "+list(range(0x4d0,0x530))+list(range(0xff00,0xff60))\n"
                                "for c in r:\n"
                                " l=chr(c).lower(); u=chr(c).upper()\n"
                                " print(c, ord(l) if len(l)==1 else c, ord(u) if len(u)==1 else c)"},
                               &out));
    std::istringstream in(out);
    unsigned c, l, u;
    int checked = 0;
    while (in >> c >> l >> u) {
        EXPECT_EQ(l, __acp_lower((unsigned short)c)) << std::hex << c;
        EXPECT_EQ(u, __acp_upper((unsigned short)c)) << std::hex << c;
        if (c < 0x80) {
            EXPECT_EQ((char)l, __acp_lower((char)c));
            EXPECT_EQ((char)u, __acp_upper((char)c));
        }
        checked++;
    }
    EXPECT_GT(checked, 800);
    for (int b = 0x80; b < 0x100; b++) EXPECT_EQ((char)b, __acp_lower((char)b));
}

TEST(Strings, LowerCopyMapsLettersAndKeepsIllFormedBytes) {
    struct {
        const char* in;
        const char* want;
    } cases[] = {
        {"ABC xyz 09", "abc xyz 09"},
        {"\xC3\x80\xC3\x89\xC3\x9E", "\xC3\xA0\xC3\xA9\xC3\xBE"},   // ÀÉÞ
        {"\xCE\xA9\xD0\x96", "\xCF\x89\xD0\xB6"},                    // ΩЖ
        {"\xC5\xB8", "\xC3\xBF"},                                    // Ÿ -> ÿ
        {"\xEF\xBC\xA1", "\xEF\xBD\x81"},                            // full-width A
        {"A\xFF" "B\xC3", "a\xFF" "b\xC3"},                          // bad bytes kept
        {"\xF0\x9F\x98\x80Z", "\xF0\x9F\x98\x80z"},
        {"", ""},
    };
    for (auto& c : cases) {
        _guardchar<char> out;
        ASSERT_TRUE(__acp_lower(c.in, out));
        ASSERT_NE(nullptr, out.ptr);
        EXPECT_STREQ(c.want, out.ptr) << c.in;
    }
}

TEST(Strings, IsspaceIsExactlyTabLfCrSpace) {
    for (int c = 0; c < 0x10000; c++) {
        bool want = c == 9 || c == 10 || c == 13 || c == 32;
        ASSERT_EQ(want, __acp_isspace((unsigned short)c)) << c;
        if (c < 256) {
            ASSERT_EQ(want, __acp_isspace((char)c)) << c;
        }
    }
}

TEST(Strings, SprintfNeverWritesPastItsBufferAndCutsWholeCharacters) {
    struct {
        long long size;
        const char* arg;
        const char* want;
        int ret;
    } cases[] = {
        {16, "hello", "<hello>", 7},
        {8, "hello", "<hello>", 7},
        {7, "hello", "<hello", -1},
        {1, "hello", "", -1},
        {4, "\xC3\xA9\xC3\xA9", "<\xC3\xA9", -1},  // room for "<é" and the terminator
        {3, "\xC3\xA9", "<", -1},                  // half an é is dropped
        {5, "\xE2\x82\xAC\xE2\x82\xAC", "<\xE2\x82\xAC", -1},
        {4, "\xE2\x82\xAC", "<", -1},
    };
    for (auto& c : cases) {
        std::vector<char> buf((size_t)c.size + 1, '#');
        EXPECT_EQ(c.ret, _sprintf_s(buf.data(), c.size, "<%s>", c.arg)) << c.size;
        EXPECT_STREQ(c.want, buf.data()) << c.size;
        EXPECT_EQ('#', buf[(size_t)c.size]) << "guard byte overwritten at size " << c.size;
    }
    char g = '#';
    EXPECT_EQ(-1, _sprintf_s(&g, 0, "%d", 5));
    EXPECT_EQ('#', g);
}

TEST(Strings, WcscpyCutsWithinCapacityAndKeepsPairsWhole) {
    const unsigned short src[] = {'a', 'b', 0xD83D, 0xDE00, 'c', 0};
    const unsigned short G = 0xBEEF;
    struct {
        long long cap;
        bool whole;
        U16 want;  // buffer contents up to and including the terminator
    } cases[] = {
        {1, false, {0}},
        {3, false, {'a', 'b', 0}},
        {4, false, {'a', 'b', 0}},  // only the high half would fit
        {5, false, {'a', 'b', 0xD83D, 0xDE00, 0}},
        {6, true, {'a', 'b', 0xD83D, 0xDE00, 'c', 0}},
    };
    for (auto& c : cases) {
        U16 buf((size_t)c.cap + 1, G);
        EXPECT_EQ(c.whole, _wcscpy_s(buf.data(), c.cap, src)) << c.cap;
        EXPECT_EQ(c.want, U16(buf.begin(), buf.begin() + c.want.size())) << c.cap;
        EXPECT_EQ(G, buf[(size_t)c.cap]) << c.cap;
    }
    EXPECT_EQ(5, _wcslen(src));
    EXPECT_EQ(0, _wcslen(nullptr));
}

TEST(Strings, ByteCopiesTerminateAndNullSourcesAreRefused) {
    _typebuf<char> t;
    ASSERT_TRUE(_a2pc("hello", 3, t));
    ASSERT_EQ(4, t.count);
    EXPECT_STREQ("hel", t.ptr);
    EXPECT_FALSE(_a2pc(nullptr, 3, t));
    EXPECT_STREQ("hel", t.ptr);
    ASSERT_TRUE(_pc2a("", -1, t));
    EXPECT_EQ(1, t.count);
    _guardchar<char> g;
    ASSERT_TRUE(_pc2a("world", -1, g));
    EXPECT_STREQ("world", g.ptr);
    EXPECT_FALSE(_pc2a(nullptr, -1, g));
    EXPECT_STREQ("world", g.ptr);
    int a = 0;
    EXPECT_EQ(-1, _sscanf_s(nullptr, "%d", &a));  // the library's would crash
}

TEST(Strings, ConcatTextJoinsIntoEitherHolder) {
    _guardchar<char> t("name");
    ASSERT_TRUE(concatText(t.ptr, ".old", t));
    EXPECT_STREQ("name.old", t.ptr);
    ASSERT_TRUE(concatText(nullptr, t.ptr, t));
    EXPECT_STREQ("name.old", t.ptr);
}

TEST(TextList, CopiedAndSharedTextsKeepTheirOrderAndNeverMove) {
    cTextList l;
    std::string shared = "/shared";
    std::vector<std::string> want;
    std::vector<const char*> at;
    for (int i = 0; i < 3000; i++) {
        // Now and then a text longer than a quarter block (a block of its own).
        std::string t = i % 500 == 7 ? std::string(30000, (char)('a' + i % 26)) : "/t/" + std::to_string(i);
        if (i % 3 == 0) {
            ASSERT_TRUE(l.addShared(shared.c_str()));
            t = shared;
        } else {
            ASSERT_TRUE(l.add(t.c_str()));
        }
        want.push_back(t);
        at.push_back(l[i]);
    }
    ASSERT_EQ(3000, l.count());
    for (int i = 0; i < 3000; i++) {
        EXPECT_EQ(want[i], l[i]) << i;
        EXPECT_EQ(at[i], l[i]) << i;
    }
    EXPECT_EQ(shared.c_str(), l[0]);
    EXPECT_FALSE(l.addShared(nullptr));
    l.clear();
    EXPECT_TRUE(l.empty());
    ASSERT_TRUE(l.add(nullptr));
    EXPECT_STREQ("", l[0]);
}
