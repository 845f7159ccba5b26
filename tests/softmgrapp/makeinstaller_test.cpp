// The installer maker: the example end to end, the bundle checked file by file against
// the running program and python3's property-list reader, failures that leave the
// target as it was, and hostile names in the property list.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <string>
#include <vector>

#include "apptest.h"
#include "base/fileio.h"
#include "instengine/installfs.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/softpkgscenario.h"
#include "softmgrapp/makeinstaller.h"
#include "testutil.h"

namespace {

using installtest::readTextFile;
using testutil::scenarioQuoted;

void writeText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(installtest::writeTextFile(path, text)) << path;
}

// Names in a folder (for leftovers beside a target).
std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

// A small valid scenario in `dir`: one file, an English licence.
std::string smallScenario(const testutil::TempDir& dir, const std::string& softwareLines) {
    writeText(dir.file("payload.txt"), "payload\n");
    writeText(dir.file("eula_en.txt"), "<text>Use it freely.</text>\n");
    writeText(dir.file("eula.idx"), "ENG = \"./eula_en.txt\"\n");
    std::string s = "[General]\nlangs = ENG\n[Software]\ncodename = \"org.qmx.test\"\n" + softwareLines +
                    "eula = " + scenarioQuoted(dir.file("eula.idx")) + "\n[Install]\n" +
                    scenarioQuoted(dir.file("payload.txt")) + " = $pgm \"payload.txt\"\n";
    writeText(dir.file("scenario.txt"), s);
    return dir.file("scenario.txt");
}

// The property list through python3's reader: "key=value" lines in document order.
bool plistLines(const std::string& path, std::string& out) {
    const char* script =
        "import plistlib, sys\n"
        "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "for k, v in d.items(): print('%s=%s' % (k, v))\n";
    return testutil::run({"python3", "-c", script, path}, &out) == 0;
}

class MakeInstaller : public apptest::ProgramTest {
protected:
    apptest::Result make(const std::string& scenario, const std::string& target, const std::string& cwd = "",
                         const std::string& program = "") {
        return apptest::runProgram(program.empty() ? prog : program, {"make", scenario, target}, home.path(), cwd);
    }
    testutil::TempDir out;
};

TEST_F(MakeInstaller, ExampleBundleFileByFile) {
    std::string target = out.file("HelloTool.app");
    apptest::Result r = make("scenario.txt", target, apptest::exampleDir());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "(i) Loading scenario... OK!\n");

    EXPECT_EQ(testutil::readFile(target + "/Contents/MacOS/Installer"), testutil::readFile(prog));
    struct stat st;
    ASSERT_EQ(stat((target + "/Contents/MacOS/Installer").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(readTextFile(target + "/Contents/PkgInfo"), "APPL????");
    EXPECT_EQ(testutil::readFile(target + "/Contents/Resources/icon.icns"), testutil::readFile(apptest::stagedIcon()));
    EXPECT_EQ(listDir(target + "/Contents"), (std::vector<std::string>{"Info.plist", "MacOS", "PkgInfo", "Resources"}));
    EXPECT_EQ(listDir(out.path()), (std::vector<std::string>{"HelloTool.app"}));  // nothing left beside it

    // The scenario data file loads back.
    cSoftPkgScenario back;
    cFileIO f;
    ASSERT_TRUE(f.open((target + "/Contents/Resources/scenario.data").c_str(), cFileIO::eRead));
    ASSERT_TRUE(back.loadBinConfig(&f));
    EXPECT_STREQ(back.getStr("codename"), "org.qmx.example.hello");
    EXPECT_EQ(back.getVerID(), 0x0001000400020007ULL);

    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 missing: property list not checked";
    std::string lines;
    ASSERT_TRUE(plistLines(target + "/Contents/Info.plist", lines));
    EXPECT_EQ(lines,
              "BuildMachineOSBuild=13F34\n"
              "CFBundleDevelopmentRegion=en\n"
              "CFBundleExecutable=Installer\n"
              "CFBundleIconFile=icon.icns\n"
              "CFBundleIdentifier=org.qmx.softmgr.installer\n"
              "CFBundleInfoDictionaryVersion=6.0\n"
              "CFBundleName=Hello Tool Installer\n"
              "CFBundlePackageType=APPL\n"
              "CFBundleShortVersionString=1.4\n"
              "CFBundleSignature=????\n"
              "CFBundleVersion=1.4\n"
              "DTCompiler=org.qmx.compilers.cxx17\n"
              "DTPlatformBuild=6A1052d\n"
              "DTPlatformVersion=GM\n"
              "DTSDKBuild=13F26\n"
              "DTSDKName=macosx10.9\n"
              "DTXcode=0610\n"
              "DTXcodeBuild=6A1052d\n"
              "LSApplicationCategoryType=public.app-category.utilities\n"
              "LSMinimumSystemVersion=10.9\n"
              "NSHumanReadableCopyright=Copyright 2026 QMX Examples <examples@example.org>\n"
              "NSMainNibFile=MainMenu\n"
              "NSPrincipalClass=NSApplication\n");
}

TEST_F(MakeInstaller, ReplacesAnEarlierBundleCompletely) {
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "name = \"First\"\nversion = \"1.0\"\n");
    std::string target = out.file("T.app");
    ASSERT_EQ(make(scenario, target).exitCode, 0);
    writeText(target + "/Contents/Resources/stale.txt", "old");
    smallScenario(src, "name = \"Second\"\nversion = \"2.0\"\n");
    apptest::Result r = make(scenario, target + "/");  // a trailing "/" names the same bundle
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_FALSE(apptest::exists(target + "/Contents/Resources/stale.txt"));
    EXPECT_NE(readTextFile(target + "/Contents/Info.plist").find("Second Installer"), std::string::npos);
    EXPECT_EQ(listDir(out.path()), (std::vector<std::string>{"T.app"}));
}

TEST_F(MakeInstaller, FailuresLeaveTheTargetAsItWas) {
    testutil::TempDir src;
    std::string good = smallScenario(src, "name = \"N\"\nversion = \"1.0\"\n");
    writeText(src.file("badsection.txt"), "[General]\nlangs = ENG\n[Bogus]\n");
    writeText(src.file("trailing.txt"), "[Strings]x\n");
    writeText(out.file("plain-file"), "keep me");
    ASSERT_TRUE(apptest::makeDirs(out.file("folder/inside")));
    writeText(out.file("folder/inside/data"), "keep me too");
    ASSERT_TRUE(apptest::makeDirs(out.file("real.app/Contents/Resources")));
    writeText(out.file("real.app/Contents/Resources/scenario.data"), "old bundle");
    ASSERT_EQ(symlink(out.file("real.app").c_str(), out.file("link.app").c_str()), 0);

    struct {
        std::string scenario, target, output;
    } cases[] = {
        {src.file("missing.txt"), out.file("A.app"), "(i) Loading scenario... FAIL (No source file)\n"},
        {src.file("badsection.txt"), out.file("A.app"), "(i) Loading scenario... ERROR:\n - at line 2: Unknown section!\n"},
        {src.file("trailing.txt"), out.file("A.app"), "(i) Loading scenario... ERROR:\n - at line 0: error code 3!\n"},
        {good, out.file("plain-file"),
         "(i) Loading scenario... OK!\n (e) Object will not be repleaced: " + out.file("plain-file") + "!\n"},
        {good, out.file("folder"),
         "(i) Loading scenario... OK!\n (e) Object will not be repleaced: " + out.file("folder") + "!\n"},
        {good, out.file("link.app"),
         "(i) Loading scenario... OK!\n (e) Object will not be repleaced: " + out.file("link.app") + "!\n"},
        {good, out.file("no/such/parent.app"),
         "(i) Loading scenario... OK!\n (e) Unable to create " + out.file("no/such/parent.app") + "!\n"},
        {good, "/proc/qmx-unwritable.app", "(i) Loading scenario... OK!\n (e) Unable to create /proc/qmx-unwritable.app!\n"},
    };
    // The system's reason follows "Unable to create" on a line of its own.
    for (auto& c : cases) {
        if (c.output.find("Unable to create") == std::string::npos) continue;
        std::string probe = c.target + ".make-XXXXXX";
        errno = 0;
        EXPECT_EQ(mkdtemp(&probe[0]), nullptr);
        c.output += "   " + std::string(strerror(errno)) + "\n";
    }
    std::vector<std::string> before = listDir(out.path());
    for (auto& c : cases) {
        apptest::Result r = make(c.scenario, c.target);
        EXPECT_EQ(r.exitCode, 1) << c.target;
        EXPECT_EQ(r.out, c.output) << c.target;
    }
    EXPECT_EQ(listDir(out.path()), before);
    EXPECT_EQ(readTextFile(out.file("plain-file")), "keep me");
    EXPECT_EQ(readTextFile(out.file("folder/inside/data")), "keep me too");
    EXPECT_EQ(readTextFile(out.file("real.app/Contents/Resources/scenario.data")), "old bundle");
}

TEST_F(MakeInstaller, LateFailureKeepsTheEarlierBundle) {
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "name = \"N\"\nversion = \"1.0\"\n");
    std::string target = out.file("T.app");
    ASSERT_EQ(make(scenario, target).exitCode, 0);
    std::vector<unsigned char> oldData = testutil::readFile(target + "/Contents/Resources/scenario.data");

    // A copy of the program in a bundle without an icon fails at the icon step.
    testutil::TempDir dev;
    std::string noIcon = dev.file("Dev.app/Contents/MacOS/softmgr");
    ASSERT_TRUE(apptest::makeDirs(dev.file("Dev.app/Contents/MacOS")));
    ASSERT_TRUE(apptest::copyFileMode(prog, noIcon));
    smallScenario(src, "name = \"Other\"\nversion = \"3.0\"\n");
    apptest::Result r = make(scenario, target, "", noIcon);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "(i) Loading scenario... OK!\n(e) Failed opening icon: " + dev.file("Dev.app/Contents") +
                         "/Resources/icon.icns\n");
    EXPECT_EQ(testutil::readFile(target + "/Contents/Resources/scenario.data"), oldData);
    EXPECT_EQ(listDir(out.path()), (std::vector<std::string>{"T.app"}));
}

TEST_F(MakeInstaller, NamesAreEscapedAndVersionsCut) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 missing";
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "name = \"R&D <Tools> \\\"q\\\" 'a'\"\nversion = \"2.5.3.4\"\n");
    std::string target = out.file("R.app");
    ASSERT_EQ(make(scenario, target).exitCode, 0);
    std::string lines;
    ASSERT_TRUE(plistLines(target + "/Contents/Info.plist", lines));
    EXPECT_NE(lines.find("\nCFBundleName=R&D <Tools> \"q\" 'a' Installer\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("\nCFBundleShortVersionString=2.5\n"), std::string::npos);
    EXPECT_NE(lines.find("\nCFBundleVersion=2.5\n"), std::string::npos);
    EXPECT_NE(lines.find("\nNSHumanReadableCopyright=\n"), std::string::npos);  // no copyright given
}

// What cannot be packed or installed fails the make with its code, and the path and the
// reason on the line after it; nothing is written.
TEST_F(MakeInstaller, SourceThatCannotBePackedIsNamed) {
    testutil::TempDir src;
    smallScenario(src, "");
    ASSERT_TRUE(apptest::makeDirs(src.file("tree")));
    writeText(src.file("tree/ok.txt"), "ok");
    ASSERT_EQ(mkfifo(src.file("tree/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(apptest::makeDirs(src.file("ctl")));
    writeText(src.file("ctl/bad\x01name"), "x");
    ASSERT_TRUE(apptest::makeDirs(src.file("pair")));
    writeText(src.file("pair/f"), "f");
    writeText(src.file("pair/f.bkp"), "the package's own");
    auto line = [&](const char* source, const char* target) {
        return scenarioQuoted(src.file(source)) + " = " + target + "\n";
    };
    struct {
        std::string install, output;
    } cases[] = {
        {line("tree", "$pgm \"x\""), " - at line 6: error code 26!\n   " + src.file("tree/pipe") + ": a FIFO\n"},
        {line("ctl", "$pgm \"x\""),
         " - at line 6: error code 23!\n   " + src.file("ctl/bad\x01name") + ": a name with a control character\n"},
        {line("pair", "$pgm \"x\""),
         " - at line 6: error code 33!\n   x/f.bkp: the installer's backup name of x/f, line 6\n"},
        // Two bases that name one folder: the pair lands side by side all the same.
        {line("pair/f", "\"/opt/tool\" \"data/big.bin\"") + line("pair/f", "\"/opt/tool/data\" \"big.bin.bkp\""),
         " - at line 7: error code 33!\n   /opt/tool/data/big.bin.bkp: the installer's backup name of "
         "/opt/tool/data/big.bin, line 6\n"},
    };
    for (auto& c : cases) {
        std::string text = "[General]\nlangs = ENG\n[Software]\ncodename = \"org.qmx.test\"\neula = " +
                           scenarioQuoted(src.file("eula.idx")) + "\n[Install]\n" + c.install;
        writeText(src.file("odd.txt"), text);
        apptest::Result r = make(src.file("odd.txt"), out.file("T.app"));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "(i) Loading scenario... ERROR:\n" + c.output);
    }
    EXPECT_EQ(listDir(out.path()), std::vector<std::string>());
}

// The program a new user finds first, build/softmgr, is a link to the staged bundle's
// copy, so it finds the icon beside itself and makes.
TEST_F(MakeInstaller, BuildTreeProgramMakes) {
    std::string link = std::string(QMX_BINARY_DIR) + "/softmgr";
    char resolved[PATH_MAX], staged[PATH_MAX];
    ASSERT_NE(realpath(link.c_str(), resolved), nullptr);
    ASSERT_NE(realpath(prog.c_str(), staged), nullptr);
    EXPECT_STREQ(resolved, staged);
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "name = \"N\"\nversion = \"1.0\"\n");
    apptest::Result r = make(scenario, out.file("T.app"), "", link);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(apptest::exists(out.file("T.app/Contents/Resources/icon.icns")));
}

namespace {

// Starts "make" without waiting; its output goes nowhere.
pid_t startMake(const std::string& prog, const std::string& scenario, const std::string& target,
                const std::string& home) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        setenv("HOME", home.c_str(), 1);
        execl(prog.c_str(), prog.c_str(), "make", scenario.c_str(), target.c_str(), (char*)nullptr);
        _exit(127);
    }
    return pid;
}

// A work folder beside the target ("T.app.make-XXXXXX" holding the marker), or "".
std::string workFolder(const std::string& dir) {
    for (auto& n : listDir(dir))
        if (n.rfind("T.app.make-", 0) == 0 && apptest::exists(dir + "/" + n + "/.qmx-make")) return n;
    return "";
}

}  // namespace

// SIGINT or SIGTERM in the middle of a make removes its work folder and ends the make
// as the signal would.
TEST_F(MakeInstaller, InterruptedMakeLeavesNothingBeside) {
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "");
    // Enough payload that compressing it takes a while.
    testutil::writeFile(src.file("payload.txt"), testutil::randomBytes(48u << 20, 7));
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        pid_t pid = startMake(prog, scenario, out.file("T.app"), home.path());
        ASSERT_GT(pid, 0);
        bool seen = false, ended = false;
        int status = 0;
        for (int i = 0; i < 60000 && !seen && !ended; i++) {
            seen = !workFolder(out.path()).empty();
            ended = !seen && waitpid(pid, &status, WNOHANG) == pid;
            if (!seen && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(seen);
        if (!ended) {
            kill(pid, sig);
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
        }
        if (seen) {
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), sig);
        }
        EXPECT_EQ(listDir(out.path()), std::vector<std::string>());
    }
}

// Leftovers of makes that were killed outright go with the next make of the same
// target, when they carry a marker of a process that has ended; nothing else does.
TEST_F(MakeInstaller, StaleWorkFoldersOfThisTargetAreRemoved) {
    testutil::TempDir src;
    std::string scenario = smallScenario(src, "");
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    // This test's own process: alive, with its start time.
    std::string stat = readTextFile("/proc/self/stat");
    std::string fields = stat.substr(stat.rfind(')') + 2);
    std::string start;
    for (int field = 3, at = 0; field <= 22; field++) {
        size_t sp = fields.find(' ', (size_t)at);
        if (field == 22) start = fields.substr((size_t)at, sp - (size_t)at);
        at = (int)sp + 1;
    }
    auto leftover = [&](const std::string& name, const std::string& marker) {
        ASSERT_TRUE(apptest::makeDirs(out.file(name + "/Contents")));
        writeText(out.file(name + "/Contents/PkgInfo"), "APPL????");
        if (!marker.empty()) writeText(out.file(name + "/.qmx-make"), marker);
    };
    leftover("T.app.make-dead01", "qmx-make " + std::to_string(dead) + " 12345\n");
    leftover("T.app.make-live01", "qmx-make " + std::to_string(getpid()) + " " + start + "\n");
    leftover("T.app.make-nomark", "");
    leftover("T.app.make-junk01", "something else\n");
    leftover("U.app.make-dead02", "qmx-make " + std::to_string(dead) + " 12345\n");
    leftover("T.app.make-dead0", "qmx-make " + std::to_string(dead) + " 12345\n");
    ASSERT_TRUE(apptest::makeDirs(src.file("elsewhere")));
    writeText(src.file("elsewhere/.qmx-make"), "qmx-make " + std::to_string(dead) + " 12345\n");
    ASSERT_EQ(symlink(src.file("elsewhere").c_str(), out.file("T.app.make-link01").c_str()), 0);

    apptest::Result r = make(scenario, out.file("T.app"));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(listDir(out.path()), (std::vector<std::string>{"T.app", "T.app.make-dead0", "T.app.make-junk01",
                                                             "T.app.make-link01", "T.app.make-live01",
                                                             "T.app.make-nomark", "U.app.make-dead02"}));
    EXPECT_TRUE(apptest::exists(src.file("elsewhere/.qmx-make")));
    EXPECT_FALSE(apptest::exists(out.file("T.app/.qmx-make")));  // the bundle carries no marker
}

TEST(MakeInstallerInProcess, NoBundleFolderGivesTwoSilently) {
    testutil::TempDir src, out;
    std::string scenario = smallScenario(src, "name = \"N\"\nversion = \"1.0\"\n");
    const char* exes[] = {"softmgr", "/softmgr"};
    for (const char* exe : exes) {
        EXPECT_EQ(makeInstaller(exe, scenario.c_str(), out.file("T.app").c_str(), nullptr), 2) << exe;
        EXPECT_FALSE(apptest::exists(out.file("T.app")));
    }
}

TEST(XmlEscape, Table) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"R&D <Tools>", "R&amp;D &lt;Tools&gt;"},
        {"\"q\" 'a'", "&quot;q&quot; &apos;a&apos;"},
        {"tab\there\nline\rcr", "tab\there\nline\rcr"},
        {"bell\x07" "esc\x1b", "bellesc"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
        {"bad\xFFseq", "bad\xEF\xBF\xBDseq"},
        {"cut\xE6\x97", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"over\xC0\xAFlong", "over\xEF\xBF\xBD\xEF\xBF\xBDlong"},
        {"surrogate\xED\xA0\x80", "surrogate\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"", ""},
    };
    for (auto& c : cases) {
        _guardchar<char> o;
        ASSERT_TRUE(xmlEscape(c.in, o));
        EXPECT_STREQ(o.ptr ? o.ptr : "", c.out) << c.in;
    }
}

// Random names, hostile bytes included, always give a property list python3 reads;
// clean names come back exactly.
TEST(InfoPlist, HostileNamesStayWellFormed) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 missing";
    testutil::TempDir dir;
    const int kCount = 120;
    std::vector<std::string> names;
    std::vector<bool> clean;
    for (int i = 0; i < kCount; i++) {
        std::vector<unsigned char> raw = testutil::randomBytes(1 + i % 40, 1000 + i);
        std::string name;
        bool isClean = i % 2 == 0;
        for (unsigned char b : raw) {
            if (isClean) {
                const char alphabet[] = "abcXYZ019 &<>\"'-_.\xC3\xA9";
                name += alphabet[b % (sizeof(alphabet) - 1)];
            } else {
                name += (char)(b ? b : 1);
            }
        }
        // The two-byte letter may have been cut in half at the end of a clean name.
        if (isClean && !name.empty() && (unsigned char)name.back() == 0xC3) name.pop_back();
        if (isClean) {
            std::string fixed;
            for (size_t k = 0; k < name.size(); k++) {
                unsigned char c = (unsigned char)name[k];
                if (c == 0xC3 && k + 1 < name.size() && (unsigned char)name[k + 1] == 0xA9) {
                    fixed += "\xC3\xA9";
                    k++;
                } else if (c < 0x80) {
                    fixed += (char)c;
                }
            }
            name = fixed;
        }
        names.push_back(name);
        clean.push_back(isClean);
        _guardchar<char> plist;
        ASSERT_TRUE(buildInfoPlist(name.c_str(), 1, 2, name.c_str(), plist));
        writeText(dir.file(std::to_string(i) + ".plist"), plist.ptr);
    }
    const char* script =
        "import plistlib, sys\n"
        "for i in range(int(sys.argv[2])):\n"
        "    d = plistlib.load(open('%s/%d.plist' % (sys.argv[1], i), 'rb'))\n"
        "    print(d['NSHumanReadableCopyright'].encode('utf-8').hex())\n";
    std::string result;
    ASSERT_EQ(testutil::run({"python3", "-c", script, dir.path(), std::to_string(kCount)}, &result), 0);
    std::vector<std::string> hex;
    size_t pos = 0;
    while (pos < result.size()) {
        size_t nl = result.find('\n', pos);
        hex.push_back(result.substr(pos, nl - pos));
        pos = nl + 1;
    }
    ASSERT_EQ(hex.size(), (size_t)kCount);
    for (int i = 0; i < kCount; i++) {
        if (!clean[i]) continue;
        std::string h;
        char b[3];
        for (unsigned char c : names[i]) {
            snprintf(b, sizeof(b), "%02x", c);
            h += b;
        }
        EXPECT_EQ(hex[i], h) << i;
    }
}

TEST(RemoveTree, NeverFollowsLinks) {
    testutil::TempDir dir;
    ASSERT_TRUE(apptest::makeDirs(dir.file("outside")));
    writeText(dir.file("outside/precious"), "x");
    ASSERT_TRUE(apptest::makeDirs(dir.file("tree/a/b/c")));
    writeText(dir.file("tree/a/b/c/f"), "y");
    ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("tree/a/dirlink").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("outside/precious").c_str(), dir.file("tree/filelink").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", dir.file("tree/dangling").c_str()), 0);
    ASSERT_TRUE(removeTree(dir.file("tree").c_str()));
    EXPECT_FALSE(apptest::exists(dir.file("tree")));
    EXPECT_EQ(readTextFile(dir.file("outside/precious")), "x");
    // A link given as the path is removed itself.
    ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("top").c_str()), 0);
    ASSERT_TRUE(removeTree(dir.file("top").c_str()));
    EXPECT_TRUE(apptest::exists(dir.file("outside/precious")));
    EXPECT_TRUE(removeTree(dir.file("not-there").c_str()));
    EXPECT_FALSE(removeTree(""));
    EXPECT_FALSE(removeTree(nullptr));
}

}  // namespace
