// The shell link writer against lnkinfo (liblnk-utils), field by field, and byte for byte
// against a link worked out by hand (tests/data/softmgr/shelllink/admin_file.lnk.hex).
#include "softmgr/winshortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

// Targets are named by drive letter: "C:" is a folder of a private working folder here.
struct sDriveC {
    testutil::TempDir t;
    std::string old;
    sDriveC() {
        char buf[4096];
        old = getcwd(buf, sizeof(buf)) ? buf : "/";
        EXPECT_EQ(chdir(t.path().c_str()), 0);
        for (const char* d : {"C:", "C:/T", "c:", "c:/T", "C:/Café ✓", "C:/Café ✓/Sub Dir"}) mkdir(d, 0755);
        put("C:/T/a.exe", "abc");
        put("C:/T/a.ico", "ico");
        put("C:/Café ✓/Sub Dir/tool.exe", std::string(70000, 'x'));
    }
    ~sDriveC() { EXPECT_EQ(chdir(old.c_str()), 0); }
    static void put(const std::string& path, const std::string& text) {
        ASSERT_TRUE(testutil::writeFile(path, text.data(), text.size()));
    }
    bool exists(const char* path) const {
        struct stat st;
        return stat(path, &st) == 0;
    }
};

std::vector<unsigned char> hexFile(const std::string& path) {
    std::vector<unsigned char> raw = testutil::readFile(path), out;
    std::istringstream in(std::string(raw.begin(), raw.end()));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string w;
        while (words >> w) out.push_back((unsigned char)std::stoul(w, nullptr, 16));
    }
    return out;
}

// lnkinfo's "name : value" lines in order, blanks around both trimmed.
std::vector<std::string> lnkinfoFields(const std::string& link) {
    std::string text;
    EXPECT_EQ(testutil::run({"lnkinfo", link}, &text), 0);
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    auto trim = [](std::string s) {
        size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    };
    while (std::getline(in, line)) {
        size_t colon = line.find(": ");
        out.push_back(colon == std::string::npos ? trim(line) : trim(line.substr(0, colon)) + ": " + trim(line.substr(colon + 2)));
    }
    return out;
}

}  // namespace

TEST(WinShortcut, MatchesTheLinkWorkedOutByHand) {
    sDriveC c;
    unsigned long long before = ((unsigned long long)time(nullptr) + 11644473600ULL) * 10000000ULL;
    ASSERT_TRUE(createWinShortcut("hand.lnk", "C:\\T\\a.exe", "C:/T", "C:/T/a.ico", 2, "Hi", true, "-v"));
    unsigned long long after = ((unsigned long long)time(nullptr) + 11644473601ULL) * 10000000ULL;
    std::vector<unsigned char> got = testutil::readFile("hand.lnk");
    ASSERT_GE(got.size(), 0x34u);
    // Creation, access and write times: the same FILETIME, now.
    unsigned long long t[3] = {0, 0, 0};
    for (int k = 0; k < 3; k++)
        for (int i = 7; i >= 0; i--) t[k] = t[k] << 8 | got[0x1C + 8 * k + i];
    EXPECT_TRUE(t[0] == t[1] && t[1] == t[2]);
    EXPECT_GE(t[0], before);
    EXPECT_LE(t[0], after);
    std::fill(got.begin() + 0x1C, got.begin() + 0x34, 0);
    std::vector<unsigned char> want = hexFile(std::string(QMX_TEST_DATA) + "/softmgr/shelllink/admin_file.lnk.hex");
    ASSERT_EQ(want.size(), 76u + 2 + 187 + 57 + 6 + 10 + 6 + 22);
    EXPECT_EQ(got, want);
}

TEST(WinShortcut, LnkinfoReadsEveryField) {
    if (!testutil::haveTool("lnkinfo")) GTEST_SKIP() << "lnkinfo (liblnk-utils) not installed";
    sDriveC c;
    struct {
        const char* name;
        const char *target, *workDir, *icon;
        int iconIndex;
        const char *description, *arguments;
        std::vector<std::string> fields;  // in lnkinfo's order
        std::vector<std::string> absent;
    } cases[] = {
        {"a file below non-ASCII folders, every string",
         "C:/Café ✓\\Sub Dir\\tool.exe",
         "C:/Café ✓",
         "C:/T/a.ico",
         -7,
         "Grüße, 世界 ✓",
         "--go \"x y\"",
         {"Contains a description string", "Contains a working directory string",
          "Contains a command line arguments string", "Contains an icon location string",
          "File size: 70000 bytes", "Icon index: -7", "File attribute flags: 0x00000020", "Drive type: Fixed (3)",
          "Drive serial number: 0x00000000", "Local path: C:\\Café ?\\Sub Dir\\tool.exe",
          "Description: Grüße, 世界 ✓", "Working directory: C:\\Café ✓", "Command line arguments: --go \"x y\"",
          "Icon location: C:\\T\\a.ico", "Number of items: 5", "Shell folder identifier: 20d04fe0-3aea-1069-a2d8-08002b30309d",
          "Volume name: C:\\", "Class type indicator: 0x31 (File entry: Directory)", "Name: Café ?",
          "File attribute flags: 0x00000010", "Long name: Café ✓", "Class type indicator: 0x31 (File entry: Directory)",
          "Name: Sub Dir", "Long name: Sub Dir", "Class type indicator: 0x32 (File entry: File)", "Name: tool.exe",
          "File attribute flags: 0x00000020", "Long name: tool.exe"},
         {}},
        {"a folder, nothing optional",
         "c:/T/",
         nullptr,
         "",
         0,
         nullptr,
         "",
         {"File size: 0 bytes", "Icon index: 0", "File attribute flags: 0x00000010", "Local path: c:\\T\\",
          "Number of items: 3", "Volume name: c:\\", "Class type indicator: 0x31 (File entry: Directory)", "Name: T",
          "Long name: T"},
         {"Contains a description string", "Contains a working directory string",
          "Contains a command line arguments string", "Contains an icon location string"}},
        {"the drive alone", "C:", nullptr, nullptr, 1, nullptr, nullptr,
         {"File attribute flags: 0x00000010", "Local path: C:", "Number of items: 2", "Volume name: C:\\"},
         {"Class type indicator: 0x31 (File entry: Directory)"}},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(createWinShortcut("x.lnk", k.target, k.workDir, k.icon, k.iconIndex, k.description, false,
                                      k.arguments));
        std::vector<std::string> got = lnkinfoFields(c.t.file("x.lnk"));
        size_t at = 0;
        for (const std::string& f : k.fields) {
            size_t i = at;
            while (i < got.size() && got[i] != f) i++;
            EXPECT_LT(i, got.size()) << "missing, or out of order: " << f;
            if (i < got.size()) at = i + 1;
        }
        for (const std::string& f : k.absent)
            for (const std::string& g : got) EXPECT_NE(g, f);
    }
}

TEST(WinShortcut, RefusesWhatItCannotLinkAndWritesNothing) {
    sDriveC c;
    std::string longest(65535, 'd'), tooLong(65536, 'd'), pairs;
    for (int i = 0; i < 32768; i++) pairs += "😀";  // 65536 UTF-16 units
    // Folders "a" 1024 deep: 64-byte items, so the ID list holds 20 + 25 + 64 n + 2 bytes.
    std::string deep = "C:";
    for (int i = 0; i < 1024; i++) ASSERT_EQ(mkdir((deep += "/a").c_str(), 0755), 0);
    std::string deep1023 = deep.substr(0, deep.size() - 2);  // 65,519 bytes
    struct {
        const char* name;
        const char *link, *target, *workDir, *icon, *description, *arguments;
        bool ok;
    } cases[] = {
        {"no link path", nullptr, "C:/T/a.exe", nullptr, nullptr, nullptr, nullptr, false},
        {"no target", "x.lnk", "", nullptr, nullptr, nullptr, nullptr, false},
        {"no drive letter", "x.lnk", "T/a.exe", nullptr, nullptr, nullptr, nullptr, false},
        {"a digit for a drive", "x.lnk", "1:/T/a.exe", nullptr, nullptr, nullptr, nullptr, false},
        {"no colon", "x.lnk", "C/T/a.exe", nullptr, nullptr, nullptr, nullptr, false},
        {"a missing target", "x.lnk", "C:/T/b.exe", nullptr, nullptr, nullptr, nullptr, false},
        {"a working folder that is a file", "x.lnk", "C:/T/a.exe", "C:/T/a.exe", nullptr, nullptr, nullptr, false},
        {"a missing working folder", "x.lnk", "C:/T/a.exe", "C:/U", nullptr, nullptr, nullptr, false},
        {"an icon that is a folder", "x.lnk", "C:/T/a.exe", nullptr, "C:/T", nullptr, nullptr, false},
        {"a missing icon", "x.lnk", "C:/T/a.exe", nullptr, "C:/T/b.ico", nullptr, nullptr, false},
        {"a description of 65,536 characters", "x.lnk", "C:/T/a.exe", nullptr, nullptr, tooLong.c_str(), nullptr,
         false},
        {"arguments of 65,536 UTF-16 units", "x.lnk", "C:/T/a.exe", nullptr, nullptr, nullptr, pairs.c_str(), false},
        {"an ID list of 65,583 bytes", "x.lnk", deep.c_str(), nullptr, nullptr, nullptr, nullptr, false},
        {"an ID list of 65,519 bytes", "x.lnk", deep1023.c_str(), nullptr, nullptr, nullptr, nullptr, true},
        {"a description of 65,535 characters", "x.lnk", "C:/T/a.exe", nullptr, nullptr, longest.c_str(), nullptr,
         true},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(createWinShortcut(k.link, k.target, k.workDir, k.icon, 0, k.description, false, k.arguments), k.ok);
        EXPECT_EQ(c.exists("x.lnk"), k.ok);
        unlink("x.lnk");
    }
}
