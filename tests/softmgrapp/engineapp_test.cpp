// The installation engine with what only the application has: the real configuration
// store and the program. Every file operation of the C library failed or killed in turn
// under the windowless driver (which keeps its store in $HOME/.qmx and answers from the
// application's language tables), the install verb without a display, and the version a
// real copy of the program reports.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "apptest.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"
#include "instengine/version.h"
#include "softmgrapp/sopkglang.h"
#include "ui/ciappconfig.h"

using namespace installtest;

namespace {

// ---- every file operation of the C library failed or killed in turn ----

// Everything below a folder: type, mode, size and content (a link's target).
typedef std::map<std::string, std::string> FullTree;

void walkFull(const std::string& root, const std::string& rel, FullTree& out) {
    DIR* d = opendir((root + rel).c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name, r = rel + "/" + n, p = root + r;
        if (n == "." || n == "..") continue;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        char head[32];
        snprintf(head, sizeof head, "%c%04o ", S_ISDIR(st.st_mode) ? 'd' : S_ISREG(st.st_mode) ? 'f' : 'o',
                 (unsigned)(st.st_mode & 07777));
        std::string v = head;
        if (S_ISREG(st.st_mode)) {
            v += readTextFile(p);
        } else if (S_ISLNK(st.st_mode)) {
            char t[4096];
            ssize_t k = readlink(p.c_str(), t, sizeof t);
            if (k > 0) v.append(t, (size_t)k);
        }
        out[r] = v;
        if (S_ISDIR(st.st_mode)) walkFull(root, r, out);
    }
    closedir(d);
}

void removeTree(const std::string& p) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(p.c_str())) {
            while (struct dirent* e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) removeTree(p + "/" + e->d_name);
            closedir(d);
        }
        rmdir(p.c_str());
    } else {
        unlink(p.c_str());
    }
}

// Puts a tree taken by walkFull back below `root` (which must not exist).
bool restoreTree(const std::string& root, const FullTree& t) {
    if (mkdir(root.c_str(), 0755) != 0) return false;
    for (auto& e : t) {  // parents sort before their children
        std::string p = root + e.first, body = e.second.substr(6);
        unsigned mode = (unsigned)strtoul(e.second.substr(1, 4).c_str(), nullptr, 8);
        bool ok = e.second[0] == 'd' ? mkdir(p.c_str(), mode) == 0
                                     : e.second[0] == 'f' && writeTextFile(p, body) && chmod(p.c_str(), mode) == 0;
        if (!ok) return false;
    }
    for (auto& e : t)
        if (e.second[0] == 'd') chmod((root + e.first).c_str(), (mode_t)strtoul(e.second.substr(1, 4).c_str(), 0, 8));
    return true;
}

// The sanitizer runtime this test runs with (preloaded before the fault layer), if any.
std::string sanitizerRuntime() {
    std::string maps = readTextFile("/proc/self/maps");
    size_t at = maps.find("/libasan.so");
    if (at == std::string::npos) return "";
    size_t from = maps.rfind(' ', at) + 1, to = maps.find('\n', at);
    return maps.substr(from, to - from);
}

// The package record and what lies in the store's folder, as the driver left them; the
// record's time is left out.
std::string storeState(const std::string& home) {
    std::string st;
    FullTree names;
    walkFull(home + "/.qmx", "", names);
    for (auto& n : names) st += n.first + " ";
    cCIAppConfig store;
    sPkgRegistryRecord r;
    if (store.openFolder((home + "/.qmx").c_str()) && readRegistryRecord(&store, "org.qmx.test.pkg", r)) {
        st += "\nver " + std::to_string(r.ver) + " path " + r.path.ptr;
        for (const char* f : r.files) st += std::string("\n ") + f;
        for (auto* l : {&r.shortcuts, &r.bases, &r.dirs})
            for (auto* it = l->head; it; it = it->next) st += std::string("\n ") + it->value.ptr;
    }
    _guardchar<char> app;
    if (store.getParamStr(kRegInstallerApp, app)) st += std::string("\napp ") + app.ptr;
    return st;
}

struct FaultStep {
    const char* name;
    std::vector<std::string> args;  // of the driver
};

// A fresh installation, an update and an uninstallation, each with every file operation
// failed (EIO; ENOSPC that stays) or the process killed at it in turn, then run again
// without faults: the result must be exactly the unfaulted run's (tree, modes, record,
// no leftovers), and a faulted run reports success only when it got there itself. A killed
// run is also followed by each other kind of next run (an uninstallation, the manager's
// start, the installer after an uninstallation), which must end in a clean state too.
void sweep(const std::string& work, const char* mode, int& faults, int& nexts, std::string& ops) {
    const std::string driver = QMX_BINARY_DIR "/installdriver", shim = QMX_BINARY_DIR "/libqmxfaultshim.so";
    ASSERT_TRUE(apptest::exists(driver) && apptest::exists(shim));
    const std::string home = work + "/home", opt = home + "/opt/qmxtest", src = work + "/src";
    // Version 1 and 2: a file changed, one removed with its folder, one added, one made
    // executable; files below an absolute base; two menu entries.
    struct File {
        std::string source, target, mode;
    };
    auto package = [&](const std::string& ver, const std::vector<File>& files, const std::string& out) {
        std::string s = "[General]\nlangs = ENG\n[Strings]\nopt = \"" + opt + "\"\nm1 = \"Test Tool\"\n"
                        "m2 = \"Test Docs\"\n[Software]\ncodename = \"org.qmx.test.pkg\"\nname = \"Test Pkg\"\n"
                        "version = \"" + ver + "\"\neula = \"" + src + "/eula.idx\"\n[Install]\n";
        for (auto& f : files) s += "\"" + src + "/" + f.source + "\" = " + f.target + ", " + f.mode + "\n";
        s += "[Menu]\n$m1 = $pgm \"bin/tool\", $pgm \"share/icon.png\"\n$m2 = $pgm \"doc/README\", $pgm \"\"\n";
        cSoftPkgScenario scen;
        int line = 0;
        cFileIO o;
        return writeTextFile(src + "/scenario.txt", s) &&
               scen.loadTextConfig((src + "/scenario.txt").c_str(), line) == 0 && o.create(out.c_str()) &&
               scen.saveBinConfig(&o);
    };
    ASSERT_TRUE(apptest::makeDirs(src));
    for (auto& f : std::vector<std::pair<std::string, std::string>>{
             {"eula_en.txt", "<text>Use it.</text>\n"}, {"eula.idx", "ENG = \"./eula_en.txt\"\n"},
             {"tool1", "#!/bin/sh\necho 1\n"}, {"tool2", "#!/bin/sh\necho 2\n"}, {"readme", "same in both"},
             {"data1", std::string(70000, 'a')}, {"data2", std::string(5000, 'b')}, {"old", "only in 1"},
             {"new", "only in 2"}, {"conf1", "x=1\n"}, {"conf2", "x=2\n"}, {"helper", "run me"}})
        ASSERT_TRUE(writeTextFile(src + "/" + f.first, f.second));
    const std::string p1 = work + "/v1.data", p2 = work + "/v2.data";
    ASSERT_TRUE(package("1.0", {{"tool1", "$pgm \"bin/tool\"", "755"}, {"readme", "$pgm \"doc/README\"", "644"},
                                {"data1", "$pgm \"share/data/big.dat\"", "644"}, {"old", "$pgm \"share/old/x.txt\"", "600"},
                                {"helper", "$pgm \"bin/helper\"", "644"}, {"conf1", "$opt \"etc/tool.conf\"", "644"}},
                        p1));
    ASSERT_TRUE(package("2.0", {{"tool2", "$pgm \"bin/tool\"", "755"}, {"readme", "$pgm \"doc/README\"", "644"},
                                {"data2", "$pgm \"share/data/big.dat\"", "644"}, {"new", "$pgm \"share/new/y.txt\"", "640"},
                                {"helper", "$pgm \"bin/helper\"", "755"}, {"conf2", "$opt \"etc/tool.conf\"", "644"}},
                        p2));
    // The driver's HOME, with a stand-in for the running program inside a bundle.
    const std::string exe = home + "/src.app/Contents/MacOS/Installer", folder = home + "/Applications/Test";
    ASSERT_TRUE(apptest::makeDirs(home + "/src.app/Contents/MacOS") && apptest::makeDirs(home + "/src.app/Contents/Resources"));
    ASSERT_TRUE(writeTextFile(exe, "#!/bin/sh\nexit 3\n") && chmod(exe.c_str(), 0755) == 0);
    ASSERT_TRUE(writeTextFile(home + "/src.app/Contents/Resources/icon.icns", "icns"));
    const FaultStep install1 = {"install 1", {"install", p1, folder, exe}},
                    update = {"update 1 to 2", {"install", p2, folder, exe}},
                    uninstall = {"uninstall", {"uninstall", "org.qmx.test.pkg"}},
                    install2 = {"install 2", {"install", p2, folder, exe}}, manager = {"manager start", {"recover"}};

    // One driver serves the sweep, each run in a child of its own, through the layer
    // (which leaves the flushes out); a run without a mode is not faulted.
    const std::string asan = sanitizerRuntime();
    std::vector<std::string> env;
    for (char** e = environ; *e; e++)
        if (strncmp(*e, "HOME=", 5) && strncmp(*e, "XDG_DATA_HOME=", 14) && strncmp(*e, "LD_PRELOAD=", 11))
            env.push_back(*e);
    env.push_back("HOME=" + home);
    env.push_back("LD_PRELOAD=" + (asan.empty() ? "" : asan + " ") + shim);
    env.push_back("QMXFAULT_NOSYNC=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(driver.c_str()), const_cast<char*>("serve"), nullptr};
    int toDriver[2], fromDriver[2];
    ASSERT_EQ(pipe2(toDriver, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(fromDriver, O_CLOEXEC), 0);
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        dup2(toDriver[0], 0);
        dup2(fromDriver[1], 1);
        execve(driver.c_str(), argv, envp.data());
        _exit(127);
    }
    close(toDriver[0]);
    close(fromDriver[1]);
    FILE* replies = fdopen(fromDriver[0], "r");
    struct Closer {
        int fd;
        FILE* f;
        pid_t pid;
        ~Closer() {
            close(fd);
            fclose(f);
            waitpid(pid, nullptr, 0);
        }
    } closer{toDriver[1], replies, server};
    auto run = [&](const FaultStep& step, const char* m, long long at) {
        std::string line = std::string(m ? m : "eio") + "\t" + std::to_string(m ? at : 0);
        for (auto& a : step.args) line += "\t" + a;
        line += "\n";
        apptest::Result r;
        if (write(toDriver[1], line.data(), line.size()) != (ssize_t)line.size()) return r;
        char buf[16384];
        while (fgets(buf, sizeof buf, replies)) {
            if (strncmp(buf, "end ", 4) == 0) {
                r.exitCode = atoi(buf + 4);
                break;
            }
            r.out += buf;
        }
        return r;
    };
    // Everything in HOME but the store's folder, which storeState compares.
    auto outside = [&](FullTree t) {
        for (auto it = t.begin(); it != t.end();) it = it->first.rfind("/.qmx", 0) == 0 ? t.erase(it) : std::next(it);
        return t;
    };
    auto full = [&] {
        FullTree t;
        walkFull(home, "", t);
        return t;
    };
    // The clean states, from unfaulted runs: the tree outside the store's folder and the store.
    typedef std::pair<FullTree, std::string> State;
    auto state = [&] { return State(outside(full()), storeState(home)); };
    auto cleanRun = [&](const FaultStep& step, FullTree& tree, State& st) {
        apptest::Result r = run(step, nullptr, 0);
        EXPECT_EQ(r.exitCode, 0) << step.name << r.out;
        tree = full();
        st = state();
        return atoll(r.out.c_str() + r.out.find("ops ") + 4);
    };
    auto restore = [&](const FullTree& t) {
        removeTree(home);
        return restoreTree(home, t);
    };
    const FullTree initial = full();
    const State s0 = state();
    FullTree a1, a2, u2, scratch;
    State sa1, sa2, su1, su2, sf2;
    long long ops1 = cleanRun(install1, a1, sa1);
    cleanRun(uninstall, scratch, su1);
    ASSERT_TRUE(restore(a1));
    long long ops2 = cleanRun(update, a2, sa2);
    long long ops3 = cleanRun(uninstall, u2, su2);
    cleanRun(install2, scratch, sf2);
    ASSERT_FALSE(::testing::Test::HasFailure());
    // After a killed run, every next run ends in one of the clean states: the installer
    // again in the new installation; an uninstallation with nothing of the package left
    // (or, before it was ever installed, as at the start); the manager's start in the old
    // installation or the new one. After a killed uninstallation, the uninstallation
    // again with nothing left, the installer in the new installation.
    struct Next {
        const FaultStep* step;
        std::vector<const State*> clean;
    };
    struct Sweep {
        const FaultStep* step;
        const FullTree* before;
        long long ops;
        std::vector<Next> next;  // the first is the only one unless the run is killed
    } sweeps[] = {
        {&install1, &initial, ops1, {{&install1, {&sa1}}, {&uninstall, {&s0, &su1}}, {&manager, {&s0, &sa1}}}},
        {&update, &a1, ops2, {{&update, {&sa2}}, {&uninstall, {&su1, &su2}}, {&manager, {&sa1, &sa2}}}},
        {&uninstall, &a2, ops3, {{&uninstall, {&su2}}, {&install2, {&sa2, &sf2}}}},
    };
    bool killed = strcmp(mode, "kill") == 0;
    for (const Sweep& sw : sweeps) {
        ASSERT_GT(sw.ops, 20) << sw.step->name;
        const State& want = *sw.next[0].clean[0];
        ops += std::string(ops.empty() ? "" : ", ") + sw.step->name + " " + std::to_string(sw.ops);
        for (long long n = 1; n <= sw.ops; n++, faults++) {
            std::string what = std::string(sw.step->name) + ", " + mode + " at operation " + std::to_string(n) + " of " +
                               std::to_string(sw.ops);
            ASSERT_TRUE(restore(*sw.before)) << what;
            apptest::Result faulted = run(*sw.step, mode, n);
            // Success is reported only for a complete run.
            if (faulted.exitCode == 0) {
                EXPECT_EQ(state(), want) << what << " reported success";
            }
            EXPECT_NE(faulted.exitCode, 3) << what << faulted.out;
            FullTree left = full();
            for (size_t k = 0; k < (killed ? sw.next.size() : 1); k++) {
                const Next& next = sw.next[k];
                if (k > 0) {
                    ASSERT_TRUE(restore(left)) << what;
                }
                apptest::Result again = run(*next.step, nullptr, 0);
                nexts++;
                std::string then = what + ", then " + next.step->name + "\n" + faulted.out + again.out;
                EXPECT_TRUE(again.exitCode == 0 || again.exitCode == 3) << then;
                State now = state();
                bool clean = false;
                for (const State* c : next.clean) clean = clean || now == *c;
                if (!clean) {
                    const State& c = *next.clean.back();
                    std::string d;
                    for (auto& e : now.first)
                        if (!c.first.count(e.first) || c.first.at(e.first) != e.second) d += " " + e.first;
                    for (auto& e : c.first)
                        if (!now.first.count(e.first)) d += " -" + e.first;
                    const std::string journal = "/.qmx/inflight-org.qmx.test.pkg";
                    ADD_FAILURE() << then << "journal left: " << (left.count(journal) ? left.at(journal) : "none")
                                  << "\ntree differs:" << d << "\nstore: " << now.second << "\nwanted: " << c.second;
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
    // Uninstalled: nothing of the package is left, only the manager's copy and entry.
    for (auto& e : su2.first) {
        bool managers = e.first.find("QMX Software Manager") != std::string::npos ||
                        e.first.find("qmx-softmgr") != std::string::npos || e.first == "/Applications" ||
                        e.first == "/.local" || e.first == "/.local/share" || e.first == "/.local/share/applications";
        EXPECT_TRUE(initial.count(e.first) || managers) << e.first;
    }
}

TEST(FaultLayer, EveryFailedOrKilledFileOperationEndsInTheOldOrTheNewInstallation) {
    cSOPKGLang::init();
    testutil::TempDir work;
    const char* modes[] = {"eio", "enospc", "kill"};
    int faults[3] = {}, nexts[3] = {};
    std::string ops[3];
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; i++)
        workers.emplace_back([&, i] { sweep(work.path() + "/" + modes[i], modes[i], faults[i], nexts[i], ops[i]); });
    for (auto& w : workers) w.join();
    RecordProperty("faults", faults[0] + faults[1] + faults[2]);
    RecordProperty("next runs", nexts[0] + nexts[1] + nexts[2]);
    RecordProperty("operations", ops[2]);
    EXPECT_GT(faults[0] + faults[1] + faults[2], 900);
}

// The program itself in a private HOME without a display: installing shows windows, so it
// is refused with a message, and nothing is installed or registered.
// Two installers of one package at once, each with its own view of the store as two
// processes have: the second refuses while the first runs (it took the first one's files
// over and wrote a record that listed none of the folders the first made, which an
// uninstallation then left behind), another process finds the package held too, and once
// the first has ended the next one starts.
TEST(TwoInstallers, SecondRefusesWhileTheFirstRuns) {
    useAppLanguages();
    testutil::TempDir work;
    PrivateHome home;
    std::string pkg = work.file("p.data"), qmx = home.path() + "/.qmx";
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", "x"}, {"doc/README", "r"}}, pkg));
    ASSERT_TRUE(makeDirs(qmx));
    cCIAppConfig stores[4];
    for (cCIAppConfig& s : stores) ASSERT_TRUE(s.openFolder(qmx.c_str()));
    auto start = [&](sPkgInstallContext& ctx, cApplicationConfig* store) {
        prepareContext(ctx, pkg, home, store);
        ctx.executablePath.set(home.fakeExe().c_str());
        unsigned int r = installChecks(ctx, nullptr);
        if (r == 0 && (!setInstallFolder(ctx, home.installFolder().c_str()) || checkInstallTargets(ctx) != 0)) r = 99;
        return r;
    };
    {
        sPkgInstallContext first, second;
        ASSERT_EQ(start(first, &stores[0]), 0u);
        unsigned int r = start(second, &stores[1]);
        EXPECT_EQ(r, (unsigned)eIIBusy);
        pid_t child = fork();
        if (child == 0) _exit(cPackageRunLock().take(home.journal().c_str(), "org.qmx.test.pkg") ? 0 : 1);
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        ASSERT_EQ(runInstallJob(first, nullptr, nullptr), 0u) << first.result;
        if (r == 0) {
            EXPECT_EQ(runInstallJob(second, nullptr, nullptr), 0u);
        }
    }
    sPkgRegistryRecord rec;
    ASSERT_TRUE(readRegistryRecord(&stores[2], "org.qmx.test.pkg", rec));
    std::vector<std::string> dirs;
    for (auto* it = rec.dirs.head; it; it = it->next) dirs.push_back(it->value.ptr);
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), home.installFolder()), dirs.end()) << "the record lists what was made";
    sPkgInstallContext later;
    EXPECT_EQ(start(later, &stores[2]), (unsigned)eIINoUpdate) << "the first one's end lets the next one start";
    sPkgUninstallContext u;
    u.codeName.set("org.qmx.test.pkg");
    u.key.set("org.qmx.test.pkg");
    ScriptedAsker yes;
    EXPECT_EQ(uninstallJob(u, &stores[3], &yes), (unsigned)eUNRemoved);
    EXPECT_FALSE(installtest::exists(home.installFolder())) << "an emptied folder stayed";
}

TEST(ProgramInstall, WithoutADisplayNothingIsInstalled) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    testutil::TempDir home;
    std::string bundle = home.file("Hello.app");
    ASSERT_EQ(apptest::runProgram(prog, {"make", "scenario.txt", bundle}, home.path(), apptest::exampleDir()).exitCode,
              0);
    std::string data = bundle + "/Contents/Resources/scenario.data";
    apptest::Result r = apptest::runProgram(prog, {"install", data}, home.path());
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find("DISPLAY is not set"), std::string::npos) << r.err;
    EXPECT_FALSE(apptest::exists(home.file("Applications")));
    EXPECT_FALSE(apptest::exists(home.file(".local/share/applications")));
}

TEST(GetVerID, RealProgramReportsItsOwnVersion) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    testutil::TempDir home;
    apptest::Result r = apptest::runProgram(prog, {"version"}, home.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0001000200010000\n");
    // getVerID starts the copy with the caller's HOME; point it at a private one.
    testutil::EnvScope homeVar("HOME", home.path());
    EXPECT_EQ(getVerID(prog.c_str()), getCurrVerID());
}

}  // namespace
