// The installation engine end to end in a private HOME: first installation, reinstall,
// an update with fewer files, leftovers of interrupted runs, every file operation made to
// fail in turn, the process killed at every file operation, and the busy-file question.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "apptest.h"
#include "installtest.h"
#include "base/memio.h"
#include "softmgrapp/installinit.h"
#include "softmgrapp/makeinstaller.h"
#include "softmgrapp/installjob.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/uninstall.h"

using namespace installtest;

namespace {

const Tree kV1 = {{"bin/tool", "#!/bin/sh\necho v1\n"},
                  {"share/data.txt", std::string(200000, 'd')},
                  {"share/old/only-v1.txt", "obsolete in v2"},
                  {"doc/README", "same in both"}};
const Tree kV2 = {{"bin/tool", "#!/bin/sh\necho v2\n"},
                  {"share/data.txt", std::string(150000, 'e')},
                  {"doc/README", "same in both"},
                  {"share/new/added.txt", "new in v2"}};

// Files of the installation folder.
Tree installed(const PrivateHome& h) { return snapshot(h.installFolder()); }

// The names that differ between two trees ("" when equal), without their contents.
std::string diff(const Tree& got, const Tree& want) {
    std::string d;
    for (auto& f : got)
        if (!want.count(f.first))
            d += " extra:" + f.first;
        else if (want.at(f.first) != f.second)
            d += " changed:" + f.first;
    for (auto& f : want)
        if (!got.count(f.first)) d += " missing:" + f.first;
    return d;
}

std::vector<std::string> registeredFiles(cApplicationConfig& store) {
    sPkgRegistryRecord r;
    std::vector<std::string> v;
    if (!readRegistryRecord(&store, "org.qmx.test.pkg", r)) return {"(no record)"};
    for (auto* it = r.files.head; it; it = it->next) v.push_back(it->value.ptr);
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> expectedFiles(const PrivateHome& h, const Tree& t) {
    std::vector<std::string> v;
    for (auto& f : t) v.push_back(h.installFolder() + "/" + f.first);
    std::sort(v.begin(), v.end());
    return v;
}

class InstallJob : public ::testing::Test {
protected:
    void SetUp() override {
        cSOPKGLang::init();
        ASSERT_TRUE(makePackage(work.path(), "1.0", kV1, v1)) << "package v1";
        ASSERT_TRUE(makePackage(work.path(), "2.0", kV2, v2)) << "package v2";
    }
    testutil::TempDir work;
    std::string v1 = work.path() + "/v1.data", v2 = work.path() + "/v2.data";
};

std::string entryText(const char* path) {
    auto v = testutil::readFile(path);
    return std::string(v.begin(), v.end());
}

TEST_F(InstallJob, RoundTripInstallReinstallUpdateUninstall) {
    PrivateHome home;
    cMemConfig store;
    RunResult r = install(v1, home, &store);
    ASSERT_EQ(r.init, 0u) << r.message;
    ASSERT_EQ(r.job, 0u) << r.result << " " << r.message;
    EXPECT_EQ(diff(installed(home), kV1), "");
    EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV1));
    EXPECT_FALSE(apptest::exists(home.journal()));
    struct stat st;
    ASSERT_EQ(stat((home.installFolder() + "/bin/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // The same package again: nothing to do.
    EXPECT_EQ(install(v1, home, &store).init, (unsigned)eIINoUpdate);

    // The manager's menu entry shows the icon of the manager's bundle, which exists.
    _guardchar<char> entry;
    ASSERT_TRUE(store.getParamStr(kRegInstallerShortcut, entry));
    std::string icon = home.path() + "/Applications/QMX Software Manager.app/Contents/Resources/icon.icns";
    EXPECT_NE(entryText(entry.ptr).find("\nIcon=" + icon + "\n"), std::string::npos) << entryText(entry.ptr);
    EXPECT_TRUE(apptest::exists(icon));

    // The newer version: obsolete files and the folders they leave empty go.
    r = install(v2, home, &store);
    ASSERT_EQ(r.init, 0u) << r.message;
    ASSERT_EQ(r.job, 0u) << r.result << " " << r.message;
    EXPECT_EQ(diff(installed(home), kV2), "");
    EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV2));
    std::vector<std::string> dirs = folders(home.installFolder());
    EXPECT_EQ(std::find(dirs.begin(), dirs.end(), "share/old"), dirs.end());
    unsigned long long ver = 0;
    EXPECT_TRUE(store.getParamInt("install/org.qmx.test.pkg/ver", ver));
    EXPECT_EQ(ver, 0x0002000000000000ULL);
    // The manager copy and the desktop entries.
    _guardchar<char> app;
    ASSERT_TRUE(store.getParamStr("installer/app", app));
    EXPECT_EQ(objKind(app.ptr), 1);
    EXPECT_EQ(std::string(app.ptr), home.path() + "/Applications/QMX Software Manager.app/Contents/MacOS/SoftManager");
    // An older package is refused now.
    EXPECT_EQ(install(v1, home, &store).init, (unsigned)eIINewerInstalled);

    sPkgUninstallContext u;
    u.codeName.set("org.qmx.test.pkg");
    u.key.set("org.qmx.test.pkg");
    ScriptedAsker yes;
    EXPECT_EQ(uninstallJob(u, &store, &yes), (unsigned)eUNRemoved);
    EXPECT_FALSE(apptest::exists(home.installFolder())) << "emptied folders stay";
    EXPECT_TRUE(apptest::exists(home.apps())) << "the folder above the installation went";
    EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
    EXPECT_EQ(uninstallJob(u, &store, &yes), (unsigned)eUNNotInstalled);
}

TEST_F(InstallJob, MenuEntriesWhoseNamesWriteAlikeAllExistAndAllGo) {
    // Two Japanese names of one byte length and two names apart only in punctuation.
    std::string pkg = work.path() + "/menu.data";
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", "x"}}, pkg,
                            "[Strings]\nENG.m1 = \"\xE8\xA8\xAD\xE5\xAE\x9A\"\nENG.m2 = \"\xE8\xA1\xA8\xE7\xA4\xBA\"\n"
                            "ENG.m3 = \"Hello, Tool\"\nENG.m4 = \"Hello; Tool\"\n[Menu]\n"
                            "$m1 = $pgm \"bin/tool\", $pgm \"bin/tool\"\n$m2 = $pgm \"bin/tool\", $pgm \"bin/tool\"\n"
                            "$m3 = $pgm \"bin/tool\", $pgm \"bin/tool\"\n$m4 = $pgm \"bin/tool\", $pgm \"bin/tool\"\n"));
    PrivateHome home;
    cMemConfig store;
    RunResult r = install(pkg, home, &store);
    ASSERT_EQ(r.job, 0u) << r.result << " " << r.message;
    unsigned long long count = 0;
    ASSERT_TRUE(store.getParamInt("install/org.qmx.test.pkg/shortc", count));
    ASSERT_EQ(count, 4u);
    std::vector<std::string> entries;
    for (unsigned long long i = 0; i < count; i++) {
        _guardchar<char> p;
        ASSERT_TRUE(store.getParamStr(("install/org.qmx.test.pkg/shortc" + std::to_string(i)).c_str(), p));
        entries.push_back(p.ptr);
        EXPECT_TRUE(apptest::exists(p.ptr)) << p.ptr;
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(std::unique(entries.begin(), entries.end()), entries.end()) << "one file for two entries";
    sPkgUninstallContext u;
    u.codeName.set("org.qmx.test.pkg");
    u.key.set("org.qmx.test.pkg");
    ScriptedAsker yes;
    EXPECT_EQ(uninstallJob(u, &store, &yes), (unsigned)eUNRemoved);
    for (const std::string& e : entries) EXPECT_FALSE(apptest::exists(e)) << e;
}

TEST_F(InstallJob, NewerVersionWithIdenticalFilesIsRecorded) {
    std::string v11 = work.path() + "/v11.data";
    ASSERT_TRUE(makePackage(work.path(), "1.1", kV1, v11));
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    RunResult r = install(v11, home, &store);
    ASSERT_EQ(r.init, 0u) << "a newer version must not be refused as needing no update";
    EXPECT_EQ(r.job, 0u);
    unsigned long long ver = 0;
    EXPECT_TRUE(store.getParamInt("install/org.qmx.test.pkg/ver", ver));
    EXPECT_EQ(ver, 0x0001000100000000ULL);
    EXPECT_EQ(install(v11, home, &store).init, (unsigned)eIINoUpdate);
}

TEST_F(InstallJob, UsersOwnTmpAndBkpNamesAreNeverTaken) {
    struct Case {
        const char* name;
        bool folder;
    } cases[] = {{"bin/tool.tmp", false}, {"bin/tool.bkp", false}, {"share/data.txt.tmp", true},
                 {"share/data.txt.bkp", false}};
    for (const Case& c : cases) {
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(v1, home, &store).job, 0u);
        std::string p = home.installFolder() + "/" + c.name;
        if (c.folder) {
            ASSERT_TRUE(apptest::makeDirs(p));
        } else if (std::string(c.name).find("data.txt.bkp") != std::string::npos) {
            // A link where a backup would go: never followed, never replaced.
            ASSERT_EQ(symlink(home.path().c_str(), p.c_str()), 0);
        } else {
            ASSERT_TRUE(testutil::writeFile(p, "mine", 4));
        }
        RunResult r = install(v2, home, &store);
        EXPECT_EQ(r.result, (unsigned)eIJBadObject) << c.name;
        EXPECT_EQ(r.message, p);
        Tree t = installed(home);
        if (objKind(p.c_str()) == 3) {
            char target[4096] = {};
            EXPECT_GT(readlink(p.c_str(), target, sizeof target - 1), 0);
            EXPECT_EQ(std::string(target), home.path());
            t.erase(c.name);
        } else if (!c.folder) {
            EXPECT_EQ(t[c.name], "mine") << c.name;
        }
        t.erase(c.name);
        EXPECT_EQ(diff(t, kV1), "") << c.name << ": nothing may be written";
    }
}

TEST_F(InstallJob, BusyFileAskedThenRetriedOrGivenUp) {
    // The first file that would be backed up cannot be opened for writing.
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    std::string tool = home.installFolder() + "/bin/tool";
    std::string data = home.installFolder() + "/share/data.txt";
    class BusyFS : public cInstallFS {
    public:
        std::string busy;
        int busyFor = 0;
        bool canOpenForWrite(const char* p) override {
            if (p == busy && busyFor > 0) return busyFor--, false;
            return cInstallFS::canOpenForWrite(p);
        }
    };
    {
        BusyFS fs;
        fs.busy = data;
        fs.busyFor = 1000;
        ScriptedAsker ask;
        ask.retries = {true, true, false};
        RunResult r = install(v2, home, &store, &fs, &ask);
        EXPECT_EQ(r.result, (unsigned)eIJGaveUp);
        EXPECT_EQ(r.message, data + ".bkp");
        EXPECT_EQ(std::count(ask.asked.begin(), ask.asked.end(), "retry " + data), 3);
        EXPECT_EQ(diff(installed(home), kV1), "") << "backups made before the busy file go back";
        EXPECT_FALSE(apptest::exists(home.journal()));
    }
    {
        BusyFS fs;
        fs.busy = data;
        fs.busyFor = 2;
        ScriptedAsker ask;
        ask.retries = {true, true};
        RunResult r = install(v2, home, &store, &fs, &ask);
        EXPECT_EQ(r.job, 0u) << r.result;
        EXPECT_EQ(diff(installed(home), kV2), "");
    }
}

TEST_F(InstallJob, RelativeOrEmptyBasedTargetsAreRefusedBeforeWriting) {
    PrivateHome home;
    cMemConfig store;
    sPkgInstallContext ctx;
    ctx.packagePath.set(v1.c_str());
    ctx.store = &store;
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    for (const char* folder : {"", "relative/folder", "/a/../b", "/a/./b", "/a//b"}) {
        EXPECT_FALSE(setInstallFolder(ctx, folder)) << folder;
    }
    EXPECT_EQ(diff(installed(home), Tree()), "");
}

TEST_F(InstallJob, EmptyFileRecordIsWrittenEmpty) {
    // An empty file travels as a record without a payload item; one is added to the
    // loaded package to check what the job does with it.
    PrivateHome home;
    cMemConfig store;
    sPkgInstallContext ctx;
    ctx.packagePath.set(v1.c_str());
    ctx.store = &store;
    ctx.journalPath.set(home.journal().c_str());
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    char none = 0;
    cBufWrapperIO empty(&none, 0, false);
    int item = ctx.payload().addPkgItem(&empty, false);
    ASSERT_EQ((unsigned)item, cSoftPkg::kEmptyItem);
    cSoftPkgScenario::sIntFileDef* f = ctx.files.add();
    f->item = (unsigned)item;
    f->target.id.set("pgm");
    f->target.path.set("empty.dat");
    ASSERT_TRUE(setInstallFolder(ctx, home.installFolder().c_str()));
    EXPECT_EQ(runInstallJob(ctx, nullptr, nullptr), 0u) << ctx.result;
    std::string p = home.installFolder() + "/empty.dat";
    EXPECT_EQ(objKind(p.c_str()), 1);
    EXPECT_TRUE(testutil::readFile(p).empty());
    EXPECT_EQ(objKind((p + ".tmp").c_str()), 0);
}

// Every file operation of an update fails in turn: afterwards the earlier installation
// is there, or the next run's recovery brings it back; then the update succeeds.
TEST_F(InstallJob, FailingEveryFileOperationKeepsOrRecoversTheEarlierInstallation) {
    int faults = 0;
    for (long long n = 1; n < 2000; n++) {
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(v1, home, &store).job, 0u);
        FaultFS fs;
        fs.failAt = n;
        RunResult r = install(v2, home, &store, &fs);
        if (fs.ops < n) {
            EXPECT_EQ(r.job, 0u);
            EXPECT_EQ(diff(installed(home), kV2), "");
            break;
        }
        faults++;
        std::string what = "fault at op " + std::to_string(n) + ": " + fs.failedOp[0];
        Tree now = installed(home);
        if (r.job == 0) {
            // The files were in place; a backup or obsolete file the cleanup could not
            // remove goes with the next recovery.
            ASSERT_TRUE(recoverInterrupted(home.journal().c_str())) << what;
            EXPECT_EQ(diff(installed(home), kV2), "") << what;
            EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV2)) << what;
        } else {
            // A temporary file that cannot be moved into place is rolled back at once.
            if (fs.failedOp[0].rfind("rename", 0) == 0 && fs.failedOp[0].find(".tmp") != std::string::npos &&
                fs.failedOp[0].find("SoftManager") == std::string::npos) {
                EXPECT_EQ(diff(now, kV1), "") << what;
                EXPECT_FALSE(apptest::exists(home.journal())) << what;
            }
            if (now != kV1) {
                ASSERT_TRUE(apptest::exists(home.journal())) << what << diff(now, kV1);
                ASSERT_TRUE(recoverInterrupted(home.journal().c_str())) << what;
                EXPECT_EQ(diff(installed(home), kV1), "") << what;
            }
            EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV1)) << what;
        }
        RunResult again = install(v2, home, &store);
        if (again.init == 0) {
            EXPECT_EQ(again.job, 0u) << what << ": next run " << again.result << " " << again.message;
        }
        EXPECT_EQ(diff(installed(home), kV2), "") << what;
        EXPECT_FALSE(apptest::exists(home.journal())) << what;
        if (HasFailure()) break;
    }
    RecordProperty("faults", faults);
    EXPECT_GT(faults, 30);
}

// The process killed at each file operation of an update: the next run recovers.
TEST_F(InstallJob, KilledAtEveryFileOperationRecoversOnTheNextRun) {
    int kills = 0;
    for (long long n = 1; n < 2000; n++) {
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(v1, home, &store).job, 0u);
        fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FaultFS fs;
            fs.failAt = n;
            fs.kill = true;
            install(v2, home, &store, &fs);
            _exit(fs.ops < n ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(status));
        kills++;
        std::string what = "killed at op " + std::to_string(n);
        // The store of this process never saw the child's registration: like a kill
        // before the save. The journal alone puts the files right.
        Tree now = installed(home);
        if (now != kV1 && now != kV2) {
            ASSERT_TRUE(recoverInterrupted(home.journal().c_str())) << what;
            now = installed(home);
            bool earlier = now == kV1;
            bool newer = true;
            for (auto& f : kV2) newer = newer && now[f.first] == f.second;
            EXPECT_TRUE(earlier || newer) << what;
        }
        RunResult again = install(v2, home, &store);
        EXPECT_EQ(again.init, 0u) << what << " " << again.message;
        EXPECT_EQ(again.job, 0u) << what << " " << again.result << " " << again.message;
        EXPECT_EQ(diff(installed(home), kV2), "") << what;
        EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV2)) << what;
        if (HasFailure()) break;
    }
    RecordProperty("kills", kills);
    EXPECT_GT(kills, 30);
}

TEST_F(InstallJob, TemporaryFileThatCannotBeRemovedStaysInTheJournal) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    FaultFS fs;
    fs.unlinksFailAfter = true;
    // The first write of the second file fails, and so does every removal after it.
    for (fs.failAt = 1; fs.failAt < 100; fs.failAt++) {
        fs.ops = 0;
        fs.failedOp.clear();
        RunResult r = install(v2, home, &store, &fs);
        if (r.result == eIJCannotWrite && r.message.find("data.txt.tmp") != std::string::npos) break;
        ASSERT_TRUE(recoverInterrupted(home.journal().c_str()));
        ASSERT_EQ(diff(installed(home), kV1), "");
    }
    ASSERT_LT(fs.failAt, 100);
    EXPECT_TRUE(apptest::exists(home.journal()));
    EXPECT_TRUE(apptest::exists(home.installFolder() + "/bin/tool.tmp"));
    RunResult again = install(v2, home, &store);
    EXPECT_EQ(again.job, 0u) << again.result << " " << again.message;
    EXPECT_EQ(diff(installed(home), kV2), "");
}

TEST_F(InstallJob, DamagedJournalIsRefusedAndLeftAlone) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    const char* bad[] = {"", "QMXINFLIGHT 1\nstate pending\nR relative/path\nend 1\n",
                         "QMXINFLIGHT 1\nstate pending\nR /a\nend 2\n", "QMXINFLIGHT 2\nstate pending\nend 0\n",
                         "QMXINFLIGHT 1\nstate maybe\nend 0\n", "QMXINFLIGHT 1\nstate pending\nend 0\nR /a\n"};
    for (const char* j : bad) {
        ASSERT_TRUE(testutil::writeFile(home.journal(), j, strlen(j)));
        RunResult r = install(v2, home, &store);
        EXPECT_EQ(r.result, (unsigned)eIJCannotRecover) << j;
        EXPECT_EQ(diff(installed(home), kV1), "") << j;
        EXPECT_TRUE(apptest::exists(home.journal())) << j;
    }
}

TEST_F(InstallJob, StopDuringUnpackingLeavesNoTemporaryFile) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    class StopAtFirstProgress : public cProgressNotifyTarget {
    public:
        std::vector<int> stages;
        bool notifyProgress(double) override { return false; }
        bool notifyStage(int s) override {
            stages.push_back(s);
            return true;
        }
    } stop;
    sPkgInstallContext ctx;
    ctx.packagePath.set(v2.c_str());
    ctx.store = &store;
    ctx.journalPath.set(home.journal().c_str());
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    EXPECT_EQ(installStageCount(ctx), 4 + 3) << "README is unchanged";
    EXPECT_EQ(runInstallJob(ctx, &stop, nullptr), 1u);
    EXPECT_EQ(ctx.result, (unsigned)eIJStopped);
    EXPECT_EQ(diff(installed(home), kV1), "");
    EXPECT_EQ(stop.stages, (std::vector<int>{0, 1, 6}));
}

}  // namespace

namespace {

// The program itself in a private HOME without a display: installing shows windows, so it
// is refused with a message, and nothing is installed or registered.
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

}  // namespace
