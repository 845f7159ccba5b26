// Start-up: the verbs, the installer bundle test and the process exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apptest.h"
#include "instengine/version.h"
#include "softmgrapp/startup.h"
#include "testutil.h"

namespace {

// What "version" prints: the program's own version as 16 hex digits.
std::string versionLine() {
    char line[24];
    snprintf(line, sizeof line, "%016llX\n", getCurrVerID());
    return line;
}

struct ModeCase {
    std::vector<const char*> args;  // after argv[0]
    bool accepted;
    unsigned mode;
    const char* first;
    const char* second;
    unsigned offset;
    bool quiet;
};

TEST(ChooseMode, VerbsAndArgumentCounts) {
    const ModeCase cases[] = {
        {{}, true, eModeSoftMgr, nullptr, nullptr, 0, false},
        {{"install", "pkg.data"}, true, eModeInstall, "pkg.data", nullptr, 0, false},
        {{"install", "p", "4294967294"}, true, eModeInstall, "p", nullptr, 4294967294u, false},
        {{"install", "p", "4294967295"}, true, eModeInstall, "p", nullptr, 0, false},
        {{"install", "p", "0x10"}, true, eModeInstall, "p", nullptr, 16, false},
        {{"install", "p", "twelve"}, true, eModeInstall, "p", nullptr, 0, false},
        {{"install", "p", ""}, true, eModeInstall, "p", nullptr, 0, false},
        {{"install", "p", "99999999999999999999"}, true, eModeInstall, "p", nullptr, 0, false},
        {{"install"}, false, 0, nullptr, nullptr, 0, false},
        {{"uninstall", "org.x"}, true, eModeUninstall, "org.x", nullptr, 0, false},
        {{"uninstall"}, false, 0, nullptr, nullptr, 0, false},
        {{"update", "org.x"}, true, eModeUpdate, "org.x", nullptr, 0, false},
        {{"update", "org.x", "quite"}, true, eModeUpdate, "org.x", nullptr, 0, true},
        {{"update", "org.x", "Quite"}, true, eModeUpdate, "org.x", nullptr, 0, false},
        {{"update", "org.x", "quiet"}, true, eModeUpdate, "org.x", nullptr, 0, false},
        {{"update"}, false, 0, nullptr, nullptr, 0, false},
        {{"make", "s.txt", "T.app"}, true, eModeMake, "s.txt", "T.app", 0, false},
        {{"make", "s.txt"}, false, 0, nullptr, nullptr, 0, false},
        {{"make", "s.txt", "T.app", "extra"}, false, 0, nullptr, nullptr, 0, false},
        {{"make"}, false, 0, nullptr, nullptr, 0, false},
        {{"remove"}, true, eModeRemove, nullptr, nullptr, 0, false},
        {{"remove", "extra", "more"}, true, eModeRemove, nullptr, nullptr, 0, false},
        {{"version"}, true, eModeVersion, nullptr, nullptr, 0, false},
        {{"version", "extra"}, true, eModeVersion, nullptr, nullptr, 0, false},
        {{"Version"}, false, 0, nullptr, nullptr, 0, false},
        {{""}, false, 0, nullptr, nullptr, 0, false},
        {{"bogus"}, false, 0, nullptr, nullptr, 0, false},
        {{"versionx"}, false, 0, nullptr, nullptr, 0, false},
    };
    for (const ModeCase& c : cases) {
        std::vector<const char*> argv = {"/nowhere/bin/softmgr"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string label;
        for (const char* a : c.args) label += std::string("[") + a + "]";
        sStartupChoice out;
        bool ok = chooseMode((int)argv.size(), argv.data(), "/nowhere/bin/softmgr", out);
        ASSERT_EQ(ok, c.accepted) << label;
        if (!ok) continue;
        EXPECT_EQ(out.mode, c.mode) << label;
        EXPECT_STREQ(out.first.ptr, c.first) << label;
        EXPECT_STREQ(out.second.ptr, c.second) << label;
        EXPECT_EQ(out.offset, c.offset) << label;
        EXPECT_EQ(out.quiet, c.quiet) << label;
    }
}

TEST(InstallSource, BundleLayouts) {
    testutil::TempDir dir;
    std::string b = dir.file("A.app/Contents");
    ASSERT_TRUE(apptest::makeDirs(b + "/MacOS"));
    ASSERT_TRUE(apptest::makeDirs(b + "/Resources"));
    std::string exe = b + "/MacOS/Installer";
    _guardchar<char> path;
    unsigned int offset = 77;
    // No scenario data yet, then a folder of that name: not an installer.
    EXPECT_FALSE(getSTInstallSrc(exe.c_str(), path, offset));
    ASSERT_EQ(mkdir((b + "/Resources/scenario.data").c_str(), 0755), 0);
    EXPECT_FALSE(getSTInstallSrc(exe.c_str(), path, offset));
    rmdir((b + "/Resources/scenario.data").c_str());
    // A regular file, also through a link.
    ASSERT_TRUE(testutil::writeFile(dir.file("data"), "x", 1));
    ASSERT_EQ(symlink(dir.file("data").c_str(), (b + "/Resources/scenario.data").c_str()), 0);
    EXPECT_TRUE(getSTInstallSrc(exe.c_str(), path, offset));
    EXPECT_EQ(std::string(path.ptr), b + "/Resources/scenario.data");
    EXPECT_EQ(offset, 0u);
    // The folder names are not checked; paths with too few "/" are refused.
    EXPECT_TRUE(getSTInstallSrc((b + "/Other/prog").c_str(), path, offset));
    EXPECT_FALSE(getSTInstallSrc("prog", path, offset));
    EXPECT_FALSE(getSTInstallSrc("dir/prog", path, offset));
    EXPECT_FALSE(getSTInstallSrc(nullptr, path, offset));

    // The verbs are not looked at inside an installer bundle.
    const char* argv[] = {"x", "version"};
    sStartupChoice out;
    ASSERT_TRUE(chooseMode(2, argv, exe.c_str(), out));
    EXPECT_EQ(out.mode, (unsigned)eModeInstall);
    EXPECT_EQ(std::string(out.first.ptr), b + "/Resources/scenario.data");
}

TEST(SelfPath, ComesFromTheKernelNotArgv) {
    _guardchar<char> p;
    ASSERT_TRUE(selfExePath(p));
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(p.ptr), std::string(buf, (size_t)n));
}

typedef apptest::ProgramTest ProgramStartup;

TEST_F(ProgramStartup, ExitCodesOfEveryVerb) {
    // A real package: installing it without a display installs and registers nothing.
    const std::string bundle = home.file("Hello.app"), data = bundle + "/Contents/Resources/scenario.data";
    ASSERT_EQ(apptest::runProgram(prog, {"make", "scenario.txt", bundle}, home.path(), apptest::exampleDir()).exitCode,
              0);
    struct {
        std::vector<std::string> args;
        bool windows;  // a mode that shows windows, run without DISPLAY: 1 with its line
        int code;
    } cases[] = {
        {{"version"}, false, 0},
        {{"version", "extra"}, false, 0},
        {{}, true, 1},
        {{"install", "p"}, true, 1},
        {{"install", data}, true, 1},
        {{"uninstall", "org.x"}, true, 1},
        {{"update", "org.x", "quite"}, true, 1},
        {{"remove"}, true, 1},
        {{"install"}, false, 1},
        {{"uninstall"}, false, 1},
        {{"update"}, false, 1},
        {{"make", "one"}, false, 1},
        {{"make", "a", "b", "c"}, false, 1},
        {{""}, false, 1},
        {{"bogus"}, false, 1},
        {{"VERSION"}, false, 1},
    };
    for (auto& c : cases) {
        std::string label;
        for (auto& a : c.args) label += "[" + a + "]";
        apptest::Result r = apptest::runProgram(prog, c.args, home.path());
        EXPECT_EQ(r.exitCode, c.code) << label << " " << r.err;
        if (c.windows) {
            EXPECT_NE(r.err.find(" shows windows, but DISPLAY is not set.\n"), std::string::npos) << label;
        } else if (c.code == 1) {
            // Nothing is printed.
            EXPECT_EQ(r.out, "") << label;
            EXPECT_EQ(r.err, "") << label;
        }
    }
    EXPECT_FALSE(apptest::exists(home.file("Applications")));
    EXPECT_FALSE(apptest::exists(home.file(".local/share/applications")));
    // The version query prints the program's own version, as the engine asks a copy for
    // it (with the caller's HOME), and loads no display or font library: they are opened
    // for windows only.
    testutil::EnvScope homeVar("HOME", home.path());
    EXPECT_EQ(getVerID(prog.c_str()), getCurrVerID());
    testutil::EnvScope debug("LD_DEBUG", "files");
    apptest::Result loaded = apptest::runProgram(prog, {"version"}, home.path());
    EXPECT_EQ(loaded.exitCode, 0);
    EXPECT_EQ(loaded.out, versionLine());
    EXPECT_NE(loaded.err.find("file=libc.so"), std::string::npos) << "the loader reported nothing";
    for (const char* lib : {"libX11", "libXext", "libXss", "libfreetype", "libfontconfig"})
        EXPECT_EQ(loaded.err.find(lib), std::string::npos) << lib;
}

TEST_F(ProgramStartup, StoreThatCannotBeOpenedIsReportedWithWhereAndWhy) {
    testutil::TempDir dir;
    ASSERT_TRUE(testutil::writeFile(dir.file("file"), "x", 1));
    ASSERT_TRUE(apptest::makeDirs(dir.file("storefile")));
    ASSERT_TRUE(testutil::writeFile(dir.file("storefile/.qmx"), "x", 1));
    ASSERT_TRUE(apptest::makeDirs(dir.file("readonly")));
    ASSERT_EQ(0, chmod(dir.file("readonly").c_str(), 0555));
    // The ordinary user may not reach the build folder (a checkout in a private folder):
    // it runs a copy of the program from the test's own folder. Opening the store comes
    // before anything the bundle holds.
    const std::string ownProg = dir.file("softmgr");
    std::vector<unsigned char> image = testutil::readFile(prog);
    ASSERT_FALSE(image.empty()) << prog;
    ASSERT_TRUE(testutil::writeFile(ownProg, image));
    ASSERT_EQ(0, chmod(ownProg.c_str(), 0755));
    struct {
        std::string home;
        int error;
    } cases[] = {
        {dir.file("missing"), ENOENT},
        {dir.file("file"), ENOTDIR},       // HOME is a file
        {dir.file("storefile"), ENOTDIR},  // the store's folder is a file
        {dir.file("readonly"), EACCES},
    };
    for (auto& c : cases) {
        std::string folder = c.home + "/.qmx";
        // Every mode opens the store first, those without windows too.
        for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
                 {"version"}, {"make", "scenario.txt", "out.app"}, {}, {"install", "p"}, {"remove"}}) {
            const std::string want =
                "(e) The configuration store could not be opened: " + folder + ": " + strerror(c.error) + "\n";
            if (c.error == EACCES) {
                // Rights bind only an ordinary user, so the superuser runs this one as one.
                int reported = testutil::asOrdinaryUser(
                    [&] {
                        apptest::Result r = apptest::runProgram(ownProg, args, c.home);
                        if (r.exitCode == 1 && r.out.empty() && r.err == want) return true;
                        fprintf(stderr, "exit code %d, out \"%s\", err \"%s\"\n", r.exitCode, r.out.c_str(), r.err.c_str());
                        return false;
                    },
                    {dir.path()});
                if (reported < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
                EXPECT_EQ(reported, 1) << c.home;
                continue;
            }
            apptest::Result r = apptest::runProgram(prog, args, c.home);
            EXPECT_EQ(r.exitCode, 1) << c.home;
            EXPECT_EQ(r.out, "") << c.home;
            EXPECT_EQ(r.err, want) << c.home;
        }
    }
    chmod(dir.file("readonly").c_str(), 0755);
}

TEST_F(ProgramStartup, InstallerBundleFoundFromTheRealPath) {
    testutil::TempDir dir;
    std::string contents = dir.file("Pkg.app/Contents");
    ASSERT_TRUE(apptest::makeDirs(contents + "/MacOS"));
    ASSERT_TRUE(apptest::makeDirs(contents + "/Resources"));
    std::string exe = contents + "/MacOS/Installer";
    ASSERT_TRUE(apptest::copyFileMode(prog, exe));

    // No scenario data: an ordinary program that prints its version.
    EXPECT_EQ(apptest::runProgram(exe, {"version"}, home.path()).exitCode, 0);

    ASSERT_TRUE(testutil::writeFile(contents + "/Resources/scenario.data", "data", 4));
    struct {
        std::string program, cwd, argv0;
    } starts[] = {
        {exe, "", ""},
        // Through a link to the bundle: the kernel's path is the real one.
        {dir.file("link.app") + "/Contents/MacOS/Installer", "", ""},
        // A link to the executable from outside the bundle.
        {dir.file("bin/run-installer"), "", ""},
        // Started by a relative path from inside the bundle.
        {"./Installer", contents + "/MacOS", ""},
        // A misleading argv[0] changes nothing.
        {exe, "", "/usr/bin/somewhere-else"},
    };
    ASSERT_EQ(symlink(dir.file("Pkg.app").c_str(), dir.file("link.app").c_str()), 0);
    ASSERT_TRUE(apptest::makeDirs(dir.file("bin")));
    ASSERT_EQ(symlink(exe.c_str(), dir.file("bin/run-installer").c_str()), 0);
    for (auto& s : starts) {
        apptest::Result r = apptest::runProgram(s.program, {"version"}, home.path(), s.cwd, s.argv0);
        // The verb is ignored: the bundle runs as an installer (which needs a display).
        EXPECT_EQ(r.exitCode, 1) << s.program << " " << r.err;
        EXPECT_NE(r.err.find("Installing"), std::string::npos) << s.program;
        EXPECT_EQ(r.out, "") << s.program;
    }

    // A copy elsewhere whose argv[0] names the bundle is not an installer.
    std::string plain = dir.file("plain");
    ASSERT_TRUE(apptest::copyFileMode(prog, plain));
    apptest::Result r = apptest::runProgram(plain, {"version"}, home.path(), "", exe);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, versionLine());
}

}  // namespace
