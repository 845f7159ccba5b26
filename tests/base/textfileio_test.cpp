// Text lines: every kind of line end, line ends split across read-ahead refills,
// a byte order mark, over-long lines, and writing lines back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/textfileio.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

// The reference splitter: LF, CR LF and lone CR end a line; a trailing part
// without an end is a last line.
std::vector<std::string> splitModel(const std::string& s) {
    std::vector<std::string> lines;
    std::string cur;
    bool open = false;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (c == '\n' || c == '\r') {
            lines.push_back(cur);
            cur.clear();
            open = false;
            if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') i++;
        } else {
            cur += c;
            open = true;
        }
    }
    if (open) lines.push_back(cur);
    return lines;
}

std::vector<std::string> readLines(const std::string& path, bool* failedEarly = nullptr) {
    std::vector<std::string> out;
    cTextFileIO t;
    if (!t.open(path.c_str())) return out;
    _typebuf<char> line;
    while (t.gets(line)) {
        EXPECT_EQ(0, line.ptr[line.count]) << "the text is followed by a terminator";
        out.push_back(std::string(line.ptr, (size_t)line.count));
    }
    if (failedEarly) *failedEarly = !t.valid();
    return out;
}

std::vector<std::string> linesOf(const std::string& content) {
    TempDir dir;
    std::string path = dir.file("t.txt");
    EXPECT_TRUE(testutil::writeFile(path, content.data(), content.size()));
    return readLines(path);
}

typedef std::vector<std::string> L;

}  // namespace

TEST(TextFileIO, LineEndsOfEveryKind) {
    const struct {
        std::string in;
        L want;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\n\n", {"", ""}},
        {"\r", {""}},
        {"\r\r\n", {"", ""}},
        {"\n\r", {"", ""}},
        {"x\n\ry\r\n\nz", {"x", "", "y", "", "z"}},
        {"a\rb\rc\nd\re\n", {"a", "b", "c", "d", "e"}},
        {"\xEF\xBB\xBFhead\nnext", {"head", "next"}},
        {"\xEF\xBB\xBF", {}},
        {"\xEF\xBB\xBF\n", {""}},
        {"a\xEF\xBB\xBF", {"a\xEF\xBB\xBF"}},  // only a leading mark is skipped
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.want, linesOf(c.in)) << "input of " << c.in.size() << " bytes";
}

TEST(TextFileIO, LineEndsAcrossRefillsMatchModel) {
    // Place CR, LF and CR LF right at the 64 KiB read-ahead boundary.
    for (int shift = -2; shift <= 2; shift++) {
        for (const char* end : {"\r\n", "\r", "\n", "\r\r"}) {
            std::string s(65536 + shift - 1, 'a');
            s += end;
            s += "tail";
            ASSERT_EQ(splitModel(s), linesOf(s)) << shift << " " << strlen(end);
        }
    }
    // Random text dense with line ends.
    std::mt19937 rng(5);
    std::string s;
    const char alphabet[] = "ab\r\n";
    for (int i = 0; i < 300000; i++) s += alphabet[rng() % (rng() % 8 ? 2 : 4)];
    EXPECT_EQ(splitModel(s), linesOf(s));
}

TEST(TextFileIO, OverlongLineFailsAndStaysFailed) {
    TempDir dir;
    std::string path = dir.file("big.txt");
    std::string s = "short\n" + std::string(cTextFileIO::kMaxLine + 10, 'x') + "\nafter\n";
    ASSERT_TRUE(testutil::writeFile(path, s.data(), s.size()));
    bool failed = false;
    EXPECT_EQ(L{"short"}, readLines(path, &failed));
    EXPECT_TRUE(failed);
    // A line of exactly the limit is still read.
    s = std::string(cTextFileIO::kMaxLine, 'y') + "\nz";
    ASSERT_TRUE(testutil::writeFile(path, s.data(), s.size()));
    auto lines = readLines(path, &failed);
    EXPECT_FALSE(failed);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ((size_t)cTextFileIO::kMaxLine, lines[0].size());
}

TEST(TextFileIO, WrittenLinesReadBack) {
    TempDir dir;
    std::string path = dir.file("w.txt");
    const L want = {"first", "", "[Section]", "key = \"value\"", std::string(70000, 'q')};
    {
        cTextFileIO t;
        ASSERT_TRUE(t.create(path.c_str()));
        for (const auto& l : want) ASSERT_TRUE(t.puts(l.c_str()));
    }
    EXPECT_EQ(want, readLines(path));
    cTextFileIO none;
    EXPECT_FALSE(none.open(dir.file("missing").c_str()));
    _typebuf<char> line;
    EXPECT_FALSE(none.gets(line));
}

TEST(TextFileIO, RawReadsAndPositionFollowLines) {
    TempDir dir;
    std::string path = dir.file("m.txt");
    ASSERT_TRUE(testutil::writeFile(path, "one\r\ntwo\nthree", 14));
    cTextFileIO t;
    ASSERT_TRUE(t.open(path.c_str()));
    _typebuf<char> line;
    ASSERT_TRUE(t.gets(line));
    EXPECT_EQ(5u, t.get_fp());
    char b[3];
    ASSERT_EQ(3, t.read(b, 3));
    EXPECT_EQ(0, memcmp(b, "two", 3));
    ASSERT_TRUE(t.gets(line));  // the rest of "two": nothing before its LF
    EXPECT_EQ(0, line.count);
    ASSERT_TRUE(t.gets(line));
    EXPECT_STREQ("three", line.ptr);
    EXPECT_FALSE(t.gets(line));
    ASSERT_TRUE(t.set_fp(0));
    ASSERT_TRUE(t.gets(line));
    EXPECT_STREQ("one", line.ptr);
}
