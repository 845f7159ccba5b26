// Child processes: command-line splitting, desktop open without shell injection,
// sessions without a terminal, execCmd, and cConProcess pipes, statuses and reaping.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/job.h"
#include "base/process.h"
#include "testutil.h"

namespace {

bool exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

std::string readAll(cConProcess& p, bool err = false) {
    std::string s;
    char buf[4096];
    long long n;
    while ((n = err ? p.readErr(buf, sizeof(buf)) : p.read(buf, sizeof(buf))) > 0) s.append(buf, (size_t)n);
    return s;
}

// True when `pid` is no child of ours any more (reaped, so not a zombie).
bool reaped(pid_t pid) {
    int st;
    return waitpid(pid, &st, WNOHANG) < 0 && errno == ECHILD;
}

}  // namespace

TEST(Process, SplitsCommandLinesHonouringQuotes) {
    struct Case {
        const char* line;
        std::vector<std::string> words;  // empty: no word
    };
    const Case cases[] = {
        {"a b  c", {"a", "b", "c"}},
        {"  \tprog\targ \r\n", {"prog", "arg"}},
        {"\"/Applications/My App/run\" --go \"x y\"", {"/Applications/My App/run", "--go", "x y"}},
        {"x\"y z\"w", {"xy zw"}},
        {"\"\" b", {"", "b"}},
        {"a;b|c$(d)", {"a;b|c$(d)"}},
        {"\"unterminated rest", {"unterminated rest"}},
        {"", {}},
        {"   \t ", {}},
    };
    for (const Case& c : cases) {
        _typebuf<char> storage;
        _typebuf<char*> argv;
        bool ok = splitCommandLine(c.line, storage, argv);
        EXPECT_EQ(!c.words.empty(), ok) << c.line;
        if (!ok) continue;
        ASSERT_EQ((long long)c.words.size() + 1, argv.count) << c.line;
        for (size_t i = 0; i < c.words.size(); i++) EXPECT_EQ(c.words[i], argv.ptr[i]) << c.line;
        EXPECT_EQ(nullptr, argv.ptr[c.words.size()]);
    }
    _typebuf<char> s;
    _typebuf<char*> a;
    EXPECT_FALSE(splitCommandLine(nullptr, s, a));
}

class ShellOpen : public ::testing::Test {
protected:
    testutil::TempDir dir;
    std::string bin, record;

    void SetUp() override {
        if (!exists("/bin/sh")) GTEST_SKIP() << "no /bin/sh";
        bin = dir.file("bin");
        ASSERT_EQ(0, mkdir(bin.c_str(), 0700));
        record = dir.file("record");
        // A stand-in for the desktop opener that records its arguments, one a line.
        std::string script =
            "#!/bin/sh\n"
            "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$QMX_OPEN_RECORD.tmp\"\n"
            "mv \"$QMX_OPEN_RECORD.tmp\" \"$QMX_OPEN_RECORD\"\n";
        std::string opener = bin + "/xdg-open";
        ASSERT_TRUE(testutil::writeFile(opener, script.data(), script.size()));
        ASSERT_EQ(0, chmod(opener.c_str(), 0700));
    }

    // The opener's recorded arguments, waiting a bounded time for it to finish.
    std::vector<std::string> recorded() {
        for (int i = 0; i < 3000 && !exists(record); i++) cJob::sleep(10);
        std::vector<unsigned char> raw = testutil::readFile(record);
        std::vector<std::string> lines;
        std::string cur;
        for (unsigned char c : raw) {
            if (c == '\n') {
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += (char)c;
            }
        }
        unlink(record.c_str());
        return lines;
    }
};

TEST_F(ShellOpen, HandsPathsAndAddressesToTheOpenerAndStartsOtherLinesWithoutAShell) {
    // Existing paths (even with blanks and shell syntax, a dangling link, a leading "-")
    // and addresses reach the opener as one argument; anything else is split into words
    // and started without a shell, so shell syntax never runs anything.
    ASSERT_TRUE(testutil::writeFile(dir.file("a;touch pwned1"), "x", 1));
    ASSERT_TRUE(testutil::writeFile(dir.file("b $(touch pwned2) `touch pwned3`"), "x", 1));
    ASSERT_EQ(0, mkdir(dir.file("folder with \"quotes\" & more").c_str(), 0700));
    ASSERT_EQ(0, symlink("/nonexistent/x", dir.file("dangling; touch pwned9").c_str()));
    ASSERT_TRUE(testutil::writeFile(dir.file("-n file"), "x", 1));
    std::string made = "made here";  // in dir, the working folder meanwhile: quotes group its blank
    struct Case {
        std::string text;
        bool started;
        std::string opened;  // the opener's one argument, empty when it must not run
    } cases[] = {
        {dir.file("a;touch pwned1"), true, dir.file("a;touch pwned1")},
        {dir.file("b $(touch pwned2) `touch pwned3`"), true, dir.file("b $(touch pwned2) `touch pwned3`")},
        {dir.file("folder with \"quotes\" & more"), true, dir.file("folder with \"quotes\" & more")},
        {dir.file("dangling; touch pwned9"), true, dir.file("dangling; touch pwned9")},
        {"-n file", true, "./-n file"},
        {"http://example.com/x?q=1;touch${IFS}pwned4&r=`touch pwned5`", true,
         "http://example.com/x?q=1;touch${IFS}pwned4&r=`touch pwned5`"},
        {"https://example.com/a b;touch pwned6", true, "https://example.com/a b;touch pwned6"},
        {"HTTPS://example.com/", true, "HTTPS://example.com/"},
        // Other addresses are refused: a server could name a share, a file or a handler.
        {"mailto:someone@example.com?subject=a b;touch pwned7", false, ""},
        {"smb://host/share", false, ""},
        {"file:///etc/passwd", false, ""},
        {"x-handler:run?touch pwned13", false, ""},
        {"single;touch${IFS}pwned8", false, ""},
        {"true $(touch pwned10) `touch pwned11`; touch pwned12", true, ""},
        {"touch \"" + made + "\"", true, ""},
        {"sh -c \"exit 3\"", true, ""},
        {"", false, ""},
    };
    testutil::EnvScope path("PATH", testutil::pathBefore(bin));
    testutil::EnvScope rec("QMX_OPEN_RECORD", record);
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.started, shellOpen(c.text.c_str()));
        if (c.opened.empty()) continue;
        std::vector<std::string> args = recorded();
        ASSERT_EQ(2u, args.size());
        EXPECT_EQ("1", args[0]);
        EXPECT_EQ(c.opened, args[1]);
    }
    EXPECT_FALSE(shellOpen(nullptr));
    for (int i = 0; i < 1000 && !exists(made); i++) cJob::sleep(10);
    EXPECT_TRUE(exists(dir.file(made)));
    ASSERT_EQ(0, chdir(cwd));
    for (int i = 1; i <= 13; i++) EXPECT_FALSE(exists(dir.file("pwned" + std::to_string(i)))) << i;
    EXPECT_FALSE(exists(record)) << "the opener ran for a command line";
}

TEST_F(ShellOpen, FailsWhenTheOpenerIsMissing) {
    testutil::EnvScope path("PATH", dir.file("empty"));
    EXPECT_FALSE(shellOpen("http://example.com/"));
    EXPECT_FALSE(shellOpen(dir.path().c_str()));
}

TEST(Process, ChildrenHaveNoTerminalAndReadNothing) {
    if (!exists("/proc/self/stat")) GTEST_SKIP() << "no /proc";
    testutil::TempDir dir;
    // Fields 6 and 7 of /proc/<pid>/stat: the session and the controlling terminal.
    std::string out = dir.file("out");
    // The file's name comes as $0, which quotes no shell has to read.
    const char* script = "set -- $(cat /proc/$$/stat); echo \"$(readlink /proc/self/fd/0) $6 $7\" $$ > \"$0.tmp\"; "
                         "mv \"$0.tmp\" \"$0\"";
    const char* argv[] = {"sh", "-c", script, out.c_str(), nullptr};
    for (bool detached : {false, true}) {
        SCOPED_TRACE(detached);
        unlink(out.c_str());
        if (detached)
            ASSERT_TRUE(startDetached(argv));
        else
            ASSERT_EQ(0, execCmd(argv));
        for (int i = 0; i < 1000 && !exists(out); i++) cJob::sleep(10);
        std::vector<unsigned char> raw = testutil::readFile(out);
        std::string line(raw.begin(), raw.end());
        std::string pid = line.substr(line.rfind(' ') + 1);
        pid.erase(pid.find_last_not_of('\n') + 1);
        EXPECT_EQ("/dev/null " + pid + " 0 " + pid + "\n", line);
    }
}

TEST(Process, ExecCmdWaitsAndNeverUsesAShell) {
    testutil::TempDir dir;
    struct Case {
        std::vector<std::string> argv;
        int code;
    };
    const Case cases[] = {
        {{"sh", "-c", "exit 3"}, 3},
        {{"true"}, 0},
        {{"false"}, 1},
        {{"/nonexistent/program"}, 127},
        {{"qmx-no-such-program-on-path"}, 127},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv;
        for (const std::string& s : c.argv) argv.push_back(s.c_str());
        argv.push_back(nullptr);
        int st = execCmd(argv.data());
        ASSERT_TRUE(WIFEXITED(st)) << c.argv[0];
        EXPECT_EQ(c.code, WEXITSTATUS(st)) << c.argv[0];
    }
    // The command-line form splits words itself: ";" stays part of a file name. The names are
    // relative to the folder, whose path could hold a blank or a double quote, which the form
    // does not escape.
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    EXPECT_EQ(0, execCmd("touch \"x;touch y\" plain"));
    ASSERT_EQ(0, chdir(cwd));
    EXPECT_TRUE(exists(dir.file("x;touch y")));
    EXPECT_TRUE(exists(dir.file("plain")));
    EXPECT_FALSE(exists(dir.file("y")));
    EXPECT_EQ(-1, execCmd((const char*)nullptr));
    EXPECT_EQ(-1, execCmd("   "));
    const char* const none[] = {nullptr};
    EXPECT_EQ(-1, execCmd(none));
}

TEST(ConProcess, EchoesInputThroughCat) {
    if (!testutil::haveTool("cat")) GTEST_SKIP() << "no cat";
    std::vector<unsigned char> data = testutil::randomBytes(300000, 7);  // several pipe buffers
    cConProcess p;
    ASSERT_TRUE(p.startProcess("cat", false));
    EXPECT_TRUE(p.isValid());
    std::thread writer([&] {
        size_t off = 0;
        while (off < data.size()) {
            long long n = p.write(data.data() + off, (long long)std::min<size_t>(10000, data.size() - off));
            if (n <= 0) break;
            off += (size_t)n;
        }
        p.closeInput();
    });
    std::string out = readAll(p);
    writer.join();
    EXPECT_EQ(std::string(data.begin(), data.end()), out);
    EXPECT_EQ(0, p.wait());
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(0, p.status());
}

TEST(ConProcess, ReportsStatusesOfFailingAndMissingPrograms) {
    struct Case {
        const char* line;
        int code;
    };
    const Case cases[] = {
        {"false", 1},
        {"sh -c \"exit 42\"", 42},
        {"qmx-no-such-program-on-path", 127},
        {"/nonexistent/dir/prog --arg", 127},
        {"true", 0},
    };
    for (const Case& c : cases) {
        cConProcess p;
        ASSERT_TRUE(p.startProcess(c.line, false)) << c.line;
        pid_t pid = p.pid();
        for (int i = 0; i < 3000 && p.isValid(); i++) cJob::sleep(10);
        ASSERT_FALSE(p.isValid()) << c.line;
        ASSERT_TRUE(WIFEXITED(p.status())) << c.line;
        EXPECT_EQ(c.code, WEXITSTATUS(p.status())) << c.line;
        EXPECT_TRUE(reaped(pid)) << c.line;
    }
    cConProcess p;
    EXPECT_FALSE(p.startProcess((const char*)nullptr, false));
    EXPECT_FALSE(p.startProcess("  ", false));
    EXPECT_FALSE(p.isValid());
}

TEST(ConProcess, KeepsOutputAndErrorsApartUnlessJoined) {
    const char* const argv[] = {"sh", "-c", "printf out; printf err 1>&2", nullptr};
    {
        cConProcess p;
        ASSERT_TRUE(p.startProcess(argv, false));
        EXPECT_EQ("out", readAll(p));
        EXPECT_EQ("err", readAll(p, true));
        EXPECT_EQ(0, p.wait());
    }
    {
        cConProcess p;
        ASSERT_TRUE(p.startProcess(argv, true));
        EXPECT_EQ("outerr", readAll(p));
        char small[4];
        EXPECT_EQ(-1, p.readErr(small, sizeof(small)));
        EXPECT_EQ(0, p.wait());
    }
    // Arguments of the vector form arrive verbatim.
    const char* const args[] = {"printf", "%s|", "a b", ";x", "$(y)", "", nullptr};
    cConProcess p;
    ASSERT_TRUE(p.startProcess(args));
    EXPECT_EQ("a b|;x|$(y)||", readAll(p));
}

TEST(ConProcess, WriteToAnEndedChildFailsWithoutSigpipe) {
    // SIGPIPE keeps its default action here: a write that raised it would end the test.
    struct sigaction old;
    struct sigaction dfl;
    memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);
    cConProcess p;
    ASSERT_TRUE(p.startProcess("true", false));
    p.wait();
    char buf[1024] = {};
    EXPECT_EQ(-1, p.write(buf, sizeof(buf)));
    sigaction(SIGPIPE, &old, nullptr);
}

TEST(ConProcess, ChildStartsWithDefaultSigpipe) {
    // The program ignores SIGPIPE; its children must not inherit that.
    std::vector<unsigned char> status = testutil::readFile("/proc/self/status");
    if (status.empty()) GTEST_SKIP() << "no /proc";
    struct sigaction old;
    struct sigaction ign;
    memset(&ign, 0, sizeof(ign));
    ign.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ign, &old);
    cConProcess p;
    bool started = p.startProcess("grep SigIgn /proc/self/status", false);
    sigaction(SIGPIPE, &old, nullptr);
    ASSERT_TRUE(started);
    std::string out = readAll(p);
    ASSERT_EQ(0, p.wait()) << out;
    unsigned long long mask = strtoull(out.c_str() + out.find(':') + 1, nullptr, 16);
    EXPECT_EQ(0u, mask & (1ull << (SIGPIPE - 1))) << out;
}

TEST(ConProcess, DestructionReapsTheChild) {
    struct Case {
        const char* line;
        bool reads;  // cat ends when its input closes; sleep has to be killed
    };
    const Case cases[] = {{"true", false}, {"cat", true}, {"sleep 30", false}};
    for (const Case& c : cases) {
        pid_t pid;
        {
            cConProcess p;
            ASSERT_TRUE(p.startProcess(c.line, false)) << c.line;
            pid = p.pid();
            ASSERT_GT(pid, 0);
        }
        EXPECT_TRUE(reaped(pid)) << c.line;
        EXPECT_NE(0, ::kill(pid, 0)) << c.line;
    }
}

TEST(ConProcess, DiscardedOutputCannotBlockTheChild) {
    // 1 MB of output would fill a pipe that nobody reads and hang the child.
    cConProcess p;
    p.setDiscardOutput(true);
    ASSERT_TRUE(p.startProcess("head -c 1000000 /dev/zero", false));
    for (int i = 0; i < 3000 && p.isValid(); i++) cJob::sleep(10);
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(0, p.status());
    EXPECT_EQ(-1, p.write("x", 1));
}

TEST(ConProcess, RestartReplacesThePreviousChild) {
    cConProcess p;
    ASSERT_TRUE(p.startProcess("cat", false));
    pid_t first = p.pid();
    ASSERT_TRUE(p.startProcess("sh -c \"exit 9\"", false));
    EXPECT_TRUE(reaped(first));
    EXPECT_EQ(9 << 8, p.wait());
}
