// Version IDs: packing, the printed line, and asking another copy of the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "installtest.h"
#include "instengine/version.h"
#include "testutil.h"

namespace {

// Reference model: the packing written out plainly.
unsigned long long pack(unsigned a, unsigned b, unsigned c, unsigned d) {
    return ((unsigned long long)a << 48) | ((unsigned long long)b << 32) | ((unsigned long long)c << 16) | d;
}

TEST(VersionID, PacksPartsFromTheTop) {
    struct {
        const char* text;
        unsigned long long id;
    } cases[] = {
        {"1.2.1", 0x0001000200010000ULL},
        {"2.5", pack(2, 5, 0, 0)},
        {"7", pack(7, 0, 0, 0)},
        {"65535.65535.65535.65534", pack(65535, 65535, 65535, 65534)},
        {"1.2.3.4.5", pack(1, 2, 3, 4)},  // a fifth part is not read
        {"0.0.0.0", 0},
        {"65536.1", kUnknownVerID},  // would spill into the next part
        {"", kUnknownVerID},
        {"x.1", kUnknownVerID},
    };
    for (auto& c : cases) EXPECT_EQ(makeVerID(c.text), c.id) << c.text;
    EXPECT_EQ(makeVerID(nullptr), kUnknownVerID);
    EXPECT_EQ(getCurrVerID(), 0x0001000200010000ULL);
}

TEST(VersionID, ParsesPrintedLineAndRejectsDamagedOnes) {
    struct {
        const char* line;
        unsigned long long id;
    } cases[] = {
        {"0001000200010000", 0x0001000200010000ULL},
        {"0001000200010000\n", 0x0001000200010000ULL},
        {"ffffFFFF00000001 trailing text", 0xFFFFFFFF00000001ULL},
        {"000100020001000", kUnknownVerID},   // 15 characters
        {"00010002000100G0", kUnknownVerID},  // a non-hexadecimal pair
        {"0x01000200010000", kUnknownVerID},
        {" 001000200010000", kUnknownVerID},
        {"", kUnknownVerID},
    };
    for (auto& c : cases) EXPECT_EQ(parseVerIDLine(c.line, (long long)strlen(c.line)), c.id) << c.line;
    EXPECT_EQ(parseVerIDLine(nullptr, 16), kUnknownVerID);
}

// A fake copy of the program: a script that prints `answer` for "version".
std::string fakeCopy(const testutil::TempDir& dir, const std::string& name, const std::string& body) {
    std::string path = dir.file(name);
    std::string text = "#!/bin/sh\n" + body + "\n";
    EXPECT_TRUE(testutil::writeFile(path, text.data(), text.size()));
    chmod(path.c_str(), 0755);
    return path;
}

TEST(GetVerID, AsksTheCopyThroughAnArgumentVector) {
    testutil::TempDir dir;
    installtest::makeDirs(dir.file("with blanks; and $(quotes)"));
    struct {
        const char* body;
        unsigned long long id;
    } cases[] = {
        // Answers only when its one argument is exactly "version".
        {"[ \"$#\" = 1 ] && [ \"$1\" = version ] && echo 00020003000400FF", 0x00020003000400FFULL},
        {"echo 0002", kUnknownVerID},                        // too short
        {"echo 00020003ZZ0400FF", kUnknownVerID},            // not hexadecimal
        {"exit 0", kUnknownVerID},                           // no line
        {"printf 0123456789ABCDEF", 0x0123456789ABCDEFULL},  // no line end
        {"cat; echo 0000000100000002", 0x0000000100000002ULL},  // its input is closed
    };
    int i = 0;
    for (auto& c : cases) {
        std::string path = fakeCopy(dir, "with blanks; and $(quotes)/copy " + std::to_string(i++), c.body);
        EXPECT_EQ(getVerID(path.c_str()), c.id) << c.body;
    }
    EXPECT_EQ(getVerID(dir.file("missing").c_str()), kUnknownVerID);
    EXPECT_EQ(getVerID(dir.path().c_str()), kUnknownVerID);  // a folder
    EXPECT_EQ(getVerID(nullptr), kUnknownVerID);
}

TEST(GetVerID, CopiesThatHangAreKilledAndReapedInTime) {
    testutil::TempDir dir;
    struct {
        const char* body;
        unsigned long long id;
    } cases[] = {
        {"exec sleep 30", kUnknownVerID},                              // never answers
        {"printf 00020003; exec sleep 30", kUnknownVerID},             // half a line, then nothing
        {"echo 0000000100000002; exec sleep 30", 0x0000000100000002ULL},  // answers, never ends
    };
    int i = 0;
    for (auto& c : cases) {
        std::string pidFile = dir.file("pid" + std::to_string(i));
        std::string path =
            fakeCopy(dir, "hang" + std::to_string(i++), "echo $$ > " + testutil::shellQuoted(pidFile) + "; " + c.body);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(getVerID(path.c_str(), 300), c.id) << c.body;
        // A generous bound: the copy itself would take 30 s.
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        EXPECT_LT(ms.count(), 15000) << c.body;
        std::vector<unsigned char> pid = testutil::readFile(pidFile);
        ASSERT_FALSE(pid.empty()) << c.body;
        // Reaped: not even a zombie answers a signal.
        pid_t child = (pid_t)atoi(std::string(pid.begin(), pid.end()).c_str());
        ASSERT_GT(child, 0);
        EXPECT_EQ(kill(child, 0), -1) << c.body;
        EXPECT_EQ(errno, ESRCH) << c.body;
    }
}

}  // namespace
