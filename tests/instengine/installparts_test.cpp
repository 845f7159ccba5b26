// The installation's smaller parts: removal helpers, the install-path probe, the start's
// checks against damaged records and foreign files, uninstallation's questions and
// failures, removal commands as child processes, the command block and the manager copy,
// desktop entries (checked with desktop-file-validate and parsed back), the daily
// update check.
#include <gtest/gtest.h>

#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "base/memio.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/softmgrcopy.h"
#include "instengine/uninstall.h"
#include "softmgr/ossupport.h"

using namespace installtest;

namespace {

std::string sopkgRead(const std::string& path) {
    auto v = testutil::readFile(path);
    return std::string(v.begin(), v.end());
}

void removeTreeForParts(const std::string& path) { removeTree(path.c_str()); }

void put(const std::string& path, const std::string& text) {
    ASSERT_TRUE(installtest::makeDirs(path.substr(0, path.rfind('/'))));
    ASSERT_TRUE(testutil::writeFile(path, text.data(), text.size())) << path;
}

TEST(RmFileClean, RemovesEmptiedFoldersOnlyBelowTheStopFolder) {
    struct Case {
        const char* stop;  // relative to the temporary folder ("" for none)
        const char* left;  // folders that must remain, ";"-separated
    } cases[] = {
        {"pkg", "pkg;pkg/keep"},  // a/b go, pkg itself stays
        {"", "pkg;pkg/a;pkg/a/b;pkg/keep"},  // no stop folder: no folder goes
        {"pkg/a", "pkg;pkg/a;pkg/keep"},
        {"elsewhere", "pkg;pkg/a;pkg/a/b;pkg/keep"},  // the file is not below it
    };
    for (const Case& c : cases) {
        testutil::TempDir t;
        put(t.file("pkg/a/b/file"), "x");
        put(t.file("pkg/keep/other"), "y");
        std::string stop = *c.stop ? t.file(c.stop) : "";
        EXPECT_TRUE(rmFileClean(t.file("pkg/a/b/file").c_str(), *c.stop ? stop.c_str() : nullptr)) << c.stop;
        std::string got;
        for (auto& f : folders(t.path())) got += (got.empty() ? "" : ";") + f;
        EXPECT_EQ(got, c.left) << c.stop;
    }
    testutil::TempDir t;
    EXPECT_TRUE(rmFileClean(t.file("missing").c_str()));
    EXPECT_FALSE(rmFileClean(t.path().c_str())) << "a folder is not removed";
}

TEST(MoveFileClean, RefusesWhatCannotBeWritten) {
    testutil::TempDir t;
    put(t.file("f"), "x");
    EXPECT_TRUE(moveFileClean(t.file("f").c_str(), t.file("g").c_str()));
    EXPECT_FALSE(moveFileClean(t.file("f").c_str(), t.file("h").c_str())) << "missing source";
    // A read-only file in a folder the user may write: its rights alone refuse it (for an
    // ordinary user; they do not bind the superuser).
    ASSERT_EQ(chmod(t.file("g").c_str(), 0444), 0);
    int refused = testutil::asOrdinaryUser([&] { return !moveFileClean(t.file("g").c_str(), t.file("h").c_str()); },
                                           {t.path(), t.file("g")});
    if (refused < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
    EXPECT_EQ(refused, 1) << "read-only file";
}

TEST(IsPossibleInstallPath, Table) {
    testutil::TempDir t;
    put(t.file("file"), "x");
    installtest::makeDirs(t.file("dir"));
    struct Case {
        std::string path;
        int want;
    } cases[] = {
        {"", 1},
        {t.file("file"), 1},               // exists
        {t.file("dir/new/deeper/x"), 0},   // nearest existing folder is writable
        {t.file("file/x"), 2},             // a file on the way
        {"relative/x", 1},
    };
    for (auto& c : cases) EXPECT_EQ(isPossibleInstallPath(c.path.c_str()), c.want) << c.path;
    // The nearest existing folder is read-only (for an ordinary user: rights do not bind
    // the superuser).
    ASSERT_EQ(chmod(t.file("dir").c_str(), 0555), 0);
    int code3 = testutil::asOrdinaryUser([&] { return isPossibleInstallPath(t.file("dir/x").c_str()) == 3; },
                                         {t.path(), t.file("dir")});
    chmod(t.file("dir").c_str(), 0755);
    if (code3 < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
    EXPECT_EQ(code3, 1) << "a read-only folder on the way";
}

// The kinds found through folder listings are objKind's, whatever lies on the way.
TEST(FolderNames, TableAgreesWithObjKind) {
    testutil::TempDir t;
    put(t.file("dir/file"), "x");
    put(t.file("real/inner"), "y");
    installtest::makeDirs(t.file("dir/sub"));
    ASSERT_EQ(symlink("file", t.file("dir/link").c_str()), 0);
    ASSERT_EQ(symlink(t.file("real").c_str(), t.file("dir/via").c_str()), 0);
    struct Case {
        const char* path;
        int want;
    } cases[] = {
        {"dir/file", 1},   {"dir/sub", 2},       {"dir/link", 3},     {"dir/none", 0}, {"none/deeper/x", 0},
        {"dir/file/x", 0}, {"dir/via/inner", 1}, {"dir/via/none", 0}, {"dir", 2},
    };
    cFolderNames names;
    for (auto& c : cases) {
        std::string p = t.file(c.path);
        EXPECT_EQ(names.kind(p.c_str()), c.want) << c.path;
        EXPECT_EQ(names.kind(p.c_str()), objKind(p.c_str())) << c.path << " asked again";
    }
    EXPECT_EQ(names.kind("relative"), 0);
}

class InstallParts : public ::testing::Test {
protected:
    void SetUp() override {
        useAppLanguages();
        ASSERT_TRUE(makePackage(work.path(), "1.0", files, pkg));
    }
    const Tree files = {{"a.txt", "alpha"}, {"sub/b.txt", "beta"}};
    testutil::TempDir work;
    std::string pkg = work.path() + "/p.data";
};

// The start's answers for damaged records and for what lies at the targets.
TEST_F(InstallParts, StartChecksTable) {
    struct Case {
        const char* name;
        void (*arrange)(const PrivateHome&, cMemConfig&);
        unsigned int want;
    } cases[] = {
        {"files count 0",
         [](const PrivateHome&, cMemConfig& s) { s.setParamInt32("install/org.qmx.test.pkg/files", 0); },
         eIIDamagedConfig},
        {"recorded path is a folder",
         [](const PrivateHome& h, cMemConfig& s) {
             unlink((h.installFolder() + "/a.txt").c_str());
             installtest::makeDirs(h.installFolder() + "/a.txt/x");
         },
         eIIDamagedConfig},
        {"install folder gone",
         [](const PrivateHome& h, cMemConfig& s) {
             s.setParamStr("install/org.qmx.test.pkg/path", "/nonexistent/x", -1);
         },
         eIIDamagedInstall},
        {"newer installed",
         [](const PrivateHome&, cMemConfig& s) {
             s.setParamInt64("install/org.qmx.test.pkg/ver", 0x0009000000000000ULL);
         },
         eIINewerInstalled},
        {"same version, same files", [](const PrivateHome&, cMemConfig&) {}, eIINoUpdate},
        {"unrecorded foreign file",
         [](const PrivateHome& h, cMemConfig& s) {
             s.setParamInt32("install/org.qmx.test.pkg/files", 1);
             put(h.installFolder() + "/sub/b.txt", "not ours");
         },
         eIIForeignFile},
        {"unrecorded identical file",
         [](const PrivateHome& h, cMemConfig& s) {
             s.setParamInt32("install/org.qmx.test.pkg/files", 1);
             put(h.installFolder() + "/a.txt", "changed");
         },
         eIIOk},
        {"ancestor is a file",
         [](const PrivateHome& h, cMemConfig& s) {
             s.setParamInt32("install/org.qmx.test.pkg/files", 1);
             removeTreeForParts(h.installFolder() + "/sub");
             put(h.installFolder() + "/sub", "a file");
         },
         eIISpecialObject},
    };
    for (const Case& c : cases) {
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(pkg, home, &store).job, 0u) << c.name;
        c.arrange(home, store);
        RunResult r = install(pkg, home, &store);
        EXPECT_EQ(r.init, c.want) << c.name << " " << r.message;
    }
}

// A package in the folder above the home folder with a file in the home folder, its only
// entry (the store kept elsewhere): the uninstallation takes the file and the folders the
// package made, never the home folder or the folder above it.
TEST_F(InstallParts, RemovalLeavesTheHomeFolderAndTheFoldersAboveIt) {
    testutil::TempDir root;
    const std::string home = root.file("home"), above = work.path() + "/above.data";
    ASSERT_TRUE(installtest::makeDirs(home));
    testutil::EnvScope homeVar("HOME", home), dataVar("XDG_DATA_HOME", nullptr);
    cMemConfig store;
    store.folderPath = root.file("store");
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"home/note.txt", "n"}, {"bin/tool", "t"}}, above));
    sPkgInstallContext ctx;
    ctx.packagePath.set(above.c_str());
    ctx.store = &store;
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    ASSERT_TRUE(setInstallFolder(ctx, root.path().c_str()));
    ASSERT_EQ(checkInstallTargets(ctx), 0u);
    ASSERT_EQ(runInstallJob(ctx, nullptr, nullptr), 0u) << ctx.result << " " << ctx.messagePath.ptr;
    ASSERT_EQ(sopkgRead(home + "/note.txt"), "n");
    ctx.runLock.release();
    EXPECT_EQ(uninstallPackage(&store), (unsigned)eUNRemoved);
    EXPECT_EQ(objKind(home.c_str()), 2);
    EXPECT_EQ(objKind((home + "/note.txt").c_str()), 0);
    EXPECT_EQ(objKind(root.file("bin").c_str()), 0) << "made by the package";
    EXPECT_EQ(objKind(root.path().c_str()), 2);
}

TEST_F(InstallParts, FirstInstallationNeverReplacesAForeignFile) {
    PrivateHome home;
    cMemConfig store;
    put(home.installFolder() + "/sub/b.txt", "the user's");
    RunResult r = install(pkg, home, &store);
    EXPECT_EQ(r.init, (unsigned)eIIForeignFile);
    EXPECT_EQ(r.message, home.installFolder() + "/sub/b.txt");
    EXPECT_EQ(snapshot(home.installFolder()), (Tree{{"sub/b.txt", "the user's"}}));
}

// Each package is proposed the folder its scenario gives (else its name); one of a name
// another package has meets that one's different file in the per-file check; those
// installed leave nothing behind when uninstalled.
TEST_F(InstallParts, ProposedFoldersKeepPackagesApart) {
    PrivateHome home;
    cMemConfig store;
    std::string locked = work.path() + "/locked";
    ASSERT_TRUE(installtest::makeDirs(locked + "/inside") && chmod(locked.c_str(), 0555) == 0);
    bool asRoot = geteuid() == 0;
    struct Case {
        const char* code;
        std::string folder;  // the scenario's; "-" for none
        std::string want;
        int check;  // checkInstallTargets' result, then installed when 0; -1 not tried
    } cases[] = {
        {"org.qmx.a", "/Applications/Example Suite", home.apps() + "/Example Suite", 0},
        {"org.qmx.b", "/Applications/Tools/B/", home.apps() + "/Tools/B", 0},
        {"org.qmx.c", "-", home.apps() + "/Test Pkg", 0},
        // Another package of that name has that folder: proposed all the same, its
        // different file there answers the per-file check.
        {"org.qmx.d", "/Applications", home.apps() + "/Test Pkg", eIIForeignFile},
        {"org.qmx.e", work.path() + "/mine", work.path() + "/mine", -1},
        // The user's own writable folder whatever its parent; a new one there only when
        // the parent may be written.
        {"org.qmx.f", locked + "/inside", locked + "/inside", -1},
        {"org.qmx.g", locked + "/new", asRoot ? locked + "/new" : home.apps() + "/new", -1},
        {"org.qmx.h", "/../..", home.apps() + "/Test Pkg", -1},
        // A folder that holds another package's folder.
        {"org.qmx.j", "/Applications/Tools", home.apps() + "/Tools", -1},
    };
    std::vector<std::string> installed;
    for (const Case& c : cases) {
        std::string p = work.file(std::string(c.code) + ".data");
        std::string keys = c.folder == "-" ? "" : "folder = " + testutil::scenarioQuoted(c.folder) + "\n";
        ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", c.code}}, p, "", c.code, keys)) << c.code;
        sPkgInstallContext ctx;
        prepareContext(ctx, p, home, &store);
        ctx.executablePath.set(home.fakeExe().c_str());
        ctx.journalPath.set((home.path() + "/.qmx/inflight-" + c.code).c_str());
        ASSERT_EQ(installChecks(ctx, nullptr), 0u) << c.code;
        _guardchar<char> folder;
        ASSERT_TRUE(proposeInstallFolder(ctx, folder)) << c.code;
        EXPECT_EQ(std::string(folder.ptr), c.want) << c.code;
        if (c.check < 0) continue;
        ASSERT_TRUE(setInstallFolder(ctx, folder.ptr));
        ASSERT_EQ(checkInstallTargets(ctx), (unsigned)c.check) << c.code << " " << ctx.messagePath.ptr;
        if (c.check) continue;
        ASSERT_EQ(runInstallJob(ctx, nullptr, nullptr, nullptr), 0u) << c.code;
        EXPECT_EQ(readTextFile(c.want + "/bin/tool"), c.code);
        installed.push_back(c.code);
    }
    chmod(locked.c_str(), 0755);
    ASSERT_EQ(installed.size(), 3u);
    for (const std::string& code : installed) {
        sPkgUninstallContext u;
        u.journalPath.set((home.path() + "/.qmx/inflight-" + code).c_str());
        EXPECT_TRUE(uninstallKnows(code.c_str(), &store)) << code;
        EXPECT_EQ(uninstallPackage(&store, code, nullptr, nullptr, &u), (unsigned)eUNRemoved) << code;
        EXPECT_FALSE(uninstallKnows(code.c_str(), &store)) << code;
    }
    // A store that could not be read may hold the record: not answered as unknown.
    struct cUnreadable : cMemConfig {
        int unreadableCount() override { return 1; }
    } unreadable;
    EXPECT_TRUE(uninstallKnows("org.qmx.a", &unreadable));
    EXPECT_FALSE(uninstallKnows("../x", &unreadable));
    // Nor decided from: the run stops before any change.
    EXPECT_EQ(uninstallPackage(&unreadable, "org.qmx.a"), (unsigned)eUNNoRunLock);
    EXPECT_TRUE(snapshot(home.apps(), {"QMX Software Manager.app"}).empty());
    for (const std::string& f : folders(home.apps()))
        EXPECT_EQ(f.rfind("QMX Software Manager.app", 0), 0u) << f << " stays";
}

// A folder the installation made stays, emptied, while another package's record names it
// as its folder; it goes with that package.
TEST_F(InstallParts, EmptiedFolderAnotherRecordNamesGoesWithTheLastOfThem) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    store.setParamInt64("install/org.qmx.other/ver", 1);
    store.setParamStr("install/org.qmx.other/path", home.installFolder().c_str(), -1);
    for (const char* code : {"org.qmx.test.pkg", "org.qmx.other"}) {
        ASSERT_EQ(uninstallPackage(&store, code), (unsigned)eUNRemoved) << code;
        EXPECT_EQ(installtest::exists(home.installFolder()), strcmp(code, "org.qmx.other") != 0) << code;
    }
}

TEST_F(InstallParts, PackagePathBesideTheExecutable) {
    PrivateHome home;
    cMemConfig store;
    std::string exeDir = home.path() + "/src.app/Contents/MacOS";
    ASSERT_TRUE(installtest::copyFileMode(pkg, exeDir + "/beside.data"));
    sPkgInstallContext ctx;
    ctx.packagePath.set("./beside.data");
    ctx.executablePath.set(home.fakeExe().c_str());
    ctx.store = &store;
    EXPECT_EQ(installChecks(ctx, nullptr), 0u);
    EXPECT_EQ(std::string(ctx.packagePath.ptr), exeDir + "/beside.data");
    sPkgInstallContext none;
    none.packagePath.set("./missing.data");
    none.executablePath.set(home.fakeExe().c_str());
    EXPECT_EQ(installChecks(none, nullptr), (unsigned)eIIBadPath);
}

TEST_F(InstallParts, UninstallGivingUpOnABusyFileRestoresEverything) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    class BusyFS : public cInstallFS {
    public:
        std::string busy;
        bool canOpenForWrite(const char* p) override { return p != busy && cInstallFS::canOpenForWrite(p); }
    } fs;
    fs.busy = home.installFolder() + "/sub/b.txt";
    sPkgUninstallContext u;
    ScriptedAsker ask;
    ask.retries = {true};
    EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", &ask, &fs, &u), (unsigned)eUNCancelled);
    EXPECT_EQ(snapshot(home.installFolder()), files);
    EXPECT_TRUE(store.hasSection("install/org.qmx.test.pkg"));
    EXPECT_EQ(ask.asked, (std::vector<std::string>{"confirm " + std::to_string(eAskRemovePackage), "retry " + fs.busy,
                                                   "retry " + fs.busy}));

    ScriptedAsker no;
    no.confirmAnswer = false;
    EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", &no, nullptr, &u), (unsigned)eUNCancelled);
    EXPECT_EQ(snapshot(home.installFolder()), files);

    // A file of the user's with the backup name beside a package file is not overwritten.
    put(home.installFolder() + "/a.txt.bkp", "mine");
    // Its removed record cannot be saved (nothing to write saves, as in the real store).
    class FailingSave : public cMemConfig {
    public:
        bool changed = false;
        bool removeSection(const char* path) override { return changed = true, cMemConfig::removeSection(path); }
        bool saveConfig() override { return !changed; }
    } broken;
    broken.values = store.values;
    // With a change of its own that cannot be saved, it is not read anew: nothing is done.
    broken.changed = true;
    EXPECT_EQ(uninstallPackage(&broken, "org.qmx.test.pkg", nullptr, nullptr, &u), (unsigned)eUNNoRunLock);
    EXPECT_EQ(std::string(u.messagePath.ptr), home.path() + "/.qmx");
    Tree mine = files;
    mine["a.txt.bkp"] = "mine";
    EXPECT_EQ(snapshot(home.installFolder()), mine);
    broken.changed = false;
    EXPECT_EQ(uninstallPackage(&broken, "org.qmx.test.pkg", nullptr, nullptr, &u), (unsigned)eUNIncomplete)
        << "a store that cannot be saved is a failure";
    EXPECT_EQ(snapshot(home.installFolder()), (Tree{{"a.txt.bkp", "mine"}}));
}

// Links where the package makes folders are refused; the chosen folder is resolved once;
// uninstallation removes only the recorded files below the record's folders (no "..",
// no link), counts a missing file as removed, and removes a folder the user chose only
// when the installation made it.
TEST_F(InstallParts, LinksAndTheFoldersOfAnInstallation) {
    {
        PrivateHome home;
        cMemConfig store;
        std::string elsewhere = home.path() + "/elsewhere";
        ASSERT_TRUE(installtest::makeDirs(elsewhere) && installtest::makeDirs(home.installFolder()));
        ASSERT_EQ(symlink(elsewhere.c_str(), (home.installFolder() + "/sub").c_str()), 0);
        RunResult r = install(pkg, home, &store);
        EXPECT_EQ(r.result, (unsigned)eIJBadObject) << r.message;
        EXPECT_EQ(r.message, home.installFolder() + "/sub");
        EXPECT_EQ(snapshot(elsewhere), Tree{});
        EXPECT_EQ(snapshot(home.installFolder()), (Tree{{"sub", ""}})) << "nothing but the link";
        EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
    }
    {
        PrivateHome home;
        cMemConfig store;
        std::string real = home.path() + "/real", link = home.path() + "/link";
        ASSERT_TRUE(installtest::makeDirs(real));
        ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
        sPkgInstallContext ctx;
        ctx.packagePath.set(pkg.c_str());
        ctx.store = &store;
        ASSERT_EQ(installChecks(ctx, nullptr), 0u);
        ASSERT_TRUE(setInstallFolder(ctx, (link + "/Test").c_str()));
        EXPECT_EQ(std::string(ctx.getStr("pgm")), real + "/Test");
        ASSERT_EQ(runInstallJob(ctx, nullptr, nullptr), 0u) << ctx.result << " " << ctx.messagePath.ptr;
        EXPECT_EQ(snapshot(real + "/Test"), files);
    }
    {
        // A folder the user chose that was there before; recorded files outside the
        // record's folders or climbing out of them, or in the store's folder below a base
        // that is the home folder (a package's folder like any other); a file already gone.
        PrivateHome home;
        testutil::TempDir other;
        cMemConfig store;
        ASSERT_TRUE(installtest::makeDirs(home.installFolder()));
        ASSERT_EQ(install(pkg, home, &store).job, 0u);
        const std::string victim = other.file("victim.txt"), own = home.path() + "/.qmx/own.txt";
        put(victim, "keep");
        put(own, "keep");
        store.setParamInt32("install/org.qmx.test.pkg/files", 5);
        store.setParamStr("install/org.qmx.test.pkg/file2", victim.c_str(), -1);
        store.setParamStr("install/org.qmx.test.pkg/file3", (home.installFolder() + "/../../victim.txt").c_str(), -1);
        store.setParamStr("install/org.qmx.test.pkg/file4", own.c_str(), -1);
        store.setParamInt32("install/org.qmx.test.pkg/bases", 1);
        store.setParamStr("install/org.qmx.test.pkg/base0", home.path().c_str(), -1);
        ASSERT_EQ(unlink((home.installFolder() + "/a.txt").c_str()), 0);
        ScriptedAsker yes;
        sPkgUninstallContext u;
        EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", &yes, nullptr, &u), (unsigned)eUNDeregistered);
        EXPECT_EQ(yes.asked, std::vector<std::string>{"confirm " + std::to_string(eAskRemovePackage)});
        // Each refused file is named, none as removed.
        EXPECT_EQ(listed(u.leftovers), (std::vector<std::string>{victim, home.installFolder() + "/../../victim.txt", own}));
        EXPECT_EQ(sopkgRead(victim), "keep");
        EXPECT_EQ(sopkgRead(own), "keep");
        EXPECT_EQ(objKind(home.installFolder().c_str()), 2) << "the user's own folder stays";
        EXPECT_EQ(folders(home.installFolder()), std::vector<std::string>{});
        EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
    }
    {
        // A folder of the package replaced by a link after the installation.
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(pkg, home, &store).job, 0u);
        std::string outside = home.path() + "/outside";
        ASSERT_EQ(rename((home.installFolder() + "/sub").c_str(), outside.c_str()), 0);
        ASSERT_EQ(symlink(outside.c_str(), (home.installFolder() + "/sub").c_str()), 0);
        sPkgUninstallContext u;
        EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", nullptr, nullptr, &u), (unsigned)eUNDeregistered);
        EXPECT_EQ(listed(u.leftovers), std::vector<std::string>{home.installFolder() + "/sub/b.txt"});
        EXPECT_EQ(snapshot(outside), (Tree{{"b.txt", "beta"}}));
        EXPECT_EQ(objKind((home.installFolder() + "/a.txt").c_str()), 0);
        EXPECT_EQ(objKind((home.installFolder() + "/sub").c_str()), 3);
    }
    {
        // Folders the installation made go when emptied, up to the folder it made first.
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(pkg, home, &store).job, 0u);
        ASSERT_EQ(unlink(home.path().append("/Applications/QMX Software Manager.app/Contents/MacOS/SoftManager").c_str()), 0);
        removeTreeForParts(home.apps() + "/QMX Software Manager.app");
        EXPECT_EQ(uninstallPackage(&store), (unsigned)eUNRemoved);
        EXPECT_EQ(objKind(home.apps().c_str()), 0);
        EXPECT_EQ(objKind(home.path().c_str()), 2);
    }
}

TEST_F(InstallParts, DeprecatedPackageIsListedWithTheManagersCommand) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    _guardchar<char> manager;
    ASSERT_TRUE(store.getParamStr("installer/app", manager));
    struct Case {
        const char* rule;
        size_t listed;
    } cases[] = {{"\"org.qmx.test.pkg\" = *\n", 1}, {"\"org.qmx.test.pkg\" = \"1\"\n", 1},
                 {"\"org.qmx.test.pkg\" = \"2\"\n", 0}, {"\"org.qmx.other\" = *\n", 0}};
    int i = 0;
    for (const Case& c : cases) {
        std::string next = work.file("next" + std::to_string(i) + ".data");
        ASSERT_TRUE(makePackage(work.path(), "5." + std::to_string(i++), files, next,
                                std::string("[Deprecates]\n") + c.rule, "org.qmx.next"));
        sPkgInstallContext ctx;
        ctx.packagePath.set(next.c_str());
        ctx.store = &store;
        ASSERT_EQ(installChecks(ctx, nullptr), 0u) << c.rule;
        ASSERT_EQ((size_t)ctx.packagesForRemoval.count(), c.listed) << c.rule;
        if (!c.listed) continue;
        const sPackageForRemoval& r = ctx.packagesForRemoval.head->value;
        EXPECT_STREQ(r.name.ptr, "Test Pkg");
        EXPECT_EQ(std::string(r.command.ptr), "\"" + std::string(manager.ptr) + "\" uninstall \"org.qmx.test.pkg\"");
        EXPECT_TRUE(r.selected);
        // Read back whole as this manager's own (whatever its path holds, a quote too): never
        // as a package whose name it starts with.
        _guardchar<char> own;
        ASSERT_TRUE(ownRemovalCode(r.command.ptr, own));
        EXPECT_STREQ(own.ptr, "org.qmx.test.pkg");
        std::string cut(r.command.ptr);
        EXPECT_FALSE(ownRemovalCode((cut.substr(0, cut.size() - 1)).c_str(), own)) << "no closing quote";
        EXPECT_FALSE(ownRemovalCode((cut + " --quiet").c_str(), own)) << "trailing text";
        EXPECT_TRUE(ownRemovalCode("\"/home/a\"b/softmgr\" uninstall \"org.qmx.test.pkg\"", own));
        EXPECT_STREQ(own.ptr, "org.qmx.test.pkg");
        EXPECT_FALSE(ownRemovalCode("\"/bin/tool\" uninstall \"org.qmx.test.pkg\" \"x\"", own));
    }
}

TEST(RemovalCommands, RunAsChildProcessesWithoutAShell) {
    testutil::TempDir t;
    // Named from t, the working folder meanwhile: a command line holds no path with a
    // double quote, which TMPDIR's may have.
    std::string marker = "ran";
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    _List<sPackageForRemoval> list;
    struct Item {
        const char* name;
        std::string command;
        bool selected;
    } items[] = {{"ok", "/bin/true", true},
                 {"fails", "/bin/false", true},
                 {"absent", "./no-such-program", true},
                 {"not selected", "/bin/true", false},
                 {"no shell", "/usr/bin/touch \"" + marker + "\";false", true}};
    for (auto& i : items) {
        sPackageForRemoval* p = list.add();
        p->name.set(i.name);
        p->command.set(i.command.c_str());
        p->selected = i.selected;
    }
    runRemovalCommands(list, nullptr);
    ASSERT_EQ(chdir(cwd), 0);
    std::vector<std::string> left;
    for (auto* it = list.head; it; it = it->next)
        left.push_back(std::string(it->value.name.ptr) + "=" + std::to_string(it->value.result != 0));
    EXPECT_EQ(left, (std::vector<std::string>{"fails=1", "absent=1", "not selected=0"}));
    // The semicolon reached touch as part of its argument: the file has it in its name.
    EXPECT_FALSE(installtest::exists(t.file(marker)));
    EXPECT_TRUE(installtest::exists(t.file(marker + ";false")));
}

TEST(CommandBlock, PristineCopyAndPatchRecords) {
    EXPECT_TRUE(isPureICmd());
    // A made-up executable: 20000 bytes with the pristine block at 5000.
    std::vector<unsigned char> exe = testutil::randomBytes(20000, 7);
    unsigned char pure[kCmdBlockSize] = {};
    memcpy(pure, "<ICMDBLOCK>", 11);
    memcpy(exe.data() + 5000, pure, kCmdBlockSize);
    cBufWrapperIO in(exe.data(), (long long)exe.size(), false);
    EXPECT_EQ(findICmd(&in), 5000);
    cMemIOTarget out;
    ASSERT_TRUE(writePristine(&in, pure, &out));
    ASSERT_EQ(out.size(), exe.size());

    // A filled block: three patched bytes at 100, the block itself at 5000, pristine size
    // 19000 (the source has 1000 bytes of appendix).
    auto filled = [](unsigned pristine, std::vector<std::vector<unsigned>> records) {
        std::vector<unsigned char> b(kCmdBlockSize, 0);
        b[0] = 1;
        auto u32 = [&](int at, unsigned v) {
            for (int i = 0; i < 4; i++) b[at + i] = (unsigned char)(v >> (8 * i));
        };
        u32(260, 5000);
        u32(264, pristine);
        int at = 268;
        for (auto& r : records) {
            u32(at, r[0]);
            b[at + 4] = (unsigned char)r[1];
            b[at + 5] = (unsigned char)(r[1] >> 8);
            for (unsigned i = 0; i < r[1]; i++) b[at + 6 + i] = (unsigned char)r[2 + i];
            at += 6 + (int)r[1];
        }
        return b;
    };
    std::vector<unsigned char> patched = exe;
    patched[100] ^= 0xFF, patched[101] ^= 0xFF, patched[102] ^= 0xFF;
    for (int i = 0; i < kCmdBlockSize; i++) patched[5000 + i] = (unsigned char)(i * 31 + 1);
    cBufWrapperIO pin(patched.data(), (long long)patched.size(), false);
    auto good = filled(19000, {{100, 3, exe[100], exe[101], exe[102]}, {5000, 0}, {0xFFFFFFFF, 0}});
    cMemIOTarget back;
    ASSERT_TRUE(writePristine(&pin, good.data(), &back));
    ASSERT_EQ(back.size(), 19000u);
    std::vector<unsigned char> got(19000);
    back.set_fp(0);
    ASSERT_TRUE(back.readf(got.data(), 19000));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), exe.begin()));

    struct Bad {
        const char* name;
        std::vector<unsigned char> block;
    } bad[] = {
        {"pristine size beyond the source", filled(30000, {{0xFFFFFFFF, 0}})},
        {"record behind the position", filled(19000, {{200, 1, 0}, {100, 1, 0}, {0xFFFFFFFF, 0}})},
        {"block record with bytes", filled(19000, {{5000, 1, 0}, {0xFFFFFFFF, 0}})},
        {"no end record", filled(19000, {{100, 1, 0}})},
    };
    for (auto& b : bad) {
        cMemIOTarget o;
        EXPECT_FALSE(writePristine(&pin, b.block.data(), &o)) << b.name;
    }
    std::vector<unsigned char> runaway = filled(19000, {});
    for (int at = 268; at + 6 <= kCmdBlockSize; at += 6) runaway[at] = 1, runaway[at + 1] = 0;  // records never end
    for (int at = 268, off = 1; at + 6 <= kCmdBlockSize; at += 6, off++) {
        runaway[at] = (unsigned char)off, runaway[at + 1] = (unsigned char)(off >> 8);
        runaway[at + 2] = runaway[at + 3] = runaway[at + 4] = runaway[at + 5] = 0;
    }
    cMemIOTarget o;
    EXPECT_FALSE(writePristine(&pin, runaway.data(), &o)) << "records past the area";
}

TEST(SoftMgrCopy, BundleFilesBesideTheExecutable) {
    testutil::TempDir t;
    put(t.file("src.app/Contents/MacOS/Installer"), "program bytes");
    put(t.file("src.app/Contents/Resources/icon.icns"), "icon bytes");
    installtest::makeDirs(t.file("mgr.app/Contents/MacOS"));
    cMemIOTarget out;
    ASSERT_TRUE(saveSoftMgr(t.file("src.app/Contents/MacOS/Installer").c_str(), &out,
                            t.file("mgr.app/Contents/MacOS").c_str()));
    EXPECT_EQ(out.size(), 13u);
    EXPECT_EQ(sopkgRead(t.file("mgr.app/Contents/PkgInfo")), "APPL????");
    EXPECT_EQ(sopkgRead(t.file("mgr.app/Contents/Resources/icon.icns")), "icon bytes");
    std::string plist = sopkgRead(t.file("mgr.app/Contents/Info.plist"));
    EXPECT_NE(plist.find("<string>SoftManager</string>"), std::string::npos);
    if (testutil::haveTool("python3")) {
        std::string keys;
        EXPECT_EQ(testutil::run({"python3", "-c",
                                 "import plistlib,sys;d=plistlib.load(open(sys.argv[1],'rb'));"
                                 "print(d['CFBundleSignature'],d['CFBundleExecutable'],len(d))",
                                 t.file("mgr.app/Contents/Info.plist")},
                                &keys),
                  0);
        EXPECT_EQ(keys, "???? SoftManager 23\n");
    }
    cMemIOTarget onlyExe;
    EXPECT_TRUE(saveSoftMgr(t.file("src.app/Contents/MacOS/Installer").c_str(), &onlyExe, "nofolder"));
    EXPECT_FALSE(saveSoftMgr(t.file("missing").c_str(), &onlyExe, nullptr));
    // An icon whose reads fail (EIO: this process's memory at address 0) fails the copy.
    ASSERT_EQ(unlink(t.file("src.app/Contents/Resources/icon.icns").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/mem", t.file("src.app/Contents/Resources/icon.icns").c_str()), 0);
    EXPECT_FALSE(saveSoftMgr(t.file("src.app/Contents/MacOS/Installer").c_str(), &onlyExe,
                             t.file("mgr.app/Contents/MacOS").c_str()));
    EXPECT_EQ(sopkgRead(t.file("mgr.app/Contents/Resources/icon.icns")), "icon bytes") << "the earlier icon stays";
}

// The run lock: busy while another process holds it, free again once that process is
// killed (-9), and an error, never skipped, where its file cannot be opened in the store.
TEST(RunLock, BusyWhileHeldFreeAfterKillAndAnErrorWhenTheStoreRefuses) {
    testutil::TempDir t;
    const char* code = "org.qmx.lock";
    const std::string journal = t.file("store/inflight-org.qmx.lock");
    ASSERT_TRUE(installtest::makeDirs(t.file("store")));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        cPackageRunLock held;
        char ok = held.take(journal.c_str(), code) ? 1 : 0;
        if (write(ready[1], &ok, 1) == 1) pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]), close(ready[1]);
    ASSERT_EQ(ok, 1);
    cPackageRunLock lock;
    EXPECT_FALSE(lock.take(journal.c_str(), code));
    EXPECT_TRUE(lock.busy());
    kill(holder, SIGKILL);
    ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
    EXPECT_TRUE(lock.take(journal.c_str(), code)) << "released with its killed holder";
    lock.release();
    // Stores that refuse the lock file (also to root): a file, below a file, the name a link.
    put(t.file("file"), "not a folder");
    const std::string file = t.file("store/running-org.qmx.lock.lock");
    ASSERT_TRUE(installtest::exists(file) && unlink(file.c_str()) == 0 && symlink(t.file("elsewhere").c_str(), file.c_str()) == 0);
    for (const std::string& j :
         {t.file("file/inflight-org.qmx.lock"), t.file("file/sub/inflight-org.qmx.lock"), journal}) {
        EXPECT_FALSE(lock.take(j.c_str(), code)) << j;
        EXPECT_FALSE(lock.busy()) << j;
    }
    EXPECT_FALSE(installtest::exists(t.file("elsewhere")));
    // A store folder its user cannot write (rights bind an ordinary user only).
    ASSERT_TRUE(installtest::makeDirs(t.file("readonly")) && chmod(t.file("readonly").c_str(), 0555) == 0);
    int refused = testutil::asOrdinaryUser(
        [&] {
            cPackageRunLock l;
            return !l.take(t.file("readonly/inflight-org.qmx.lock").c_str(), code) && !l.busy();
        },
        {t.path()});
    if (refused < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
    EXPECT_EQ(refused, 1) << "an unwritable store";
}

// Unescapes a desktop-entry string value, then splits Exec into words by its quoting
// rules: a plain reference model of the freedesktop desktop-entry format.
std::vector<std::string> parseExec(const std::string& value) {
    std::string s = desktopUnescaped(value);
    std::vector<std::string> words;
    std::string w;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (quoted) {
            if (c == '\\' && i + 1 < s.size() && strchr("\"`$\\", s[i + 1]))
                w += s[++i];
            else if (c == '"')
                quoted = false;
            else
                w += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ') {
            if (inWord) words.push_back(w), w.clear(), inWord = false;
        } else if (c == '%' && i + 1 < s.size() && s[i + 1] == '%') {
            w += '%', i++, inWord = true;
        } else {
            w += c, inWord = true;
        }
    }
    if (inWord) words.push_back(w);
    return words;
}

TEST(DesktopEntry, ValidAndExecParsesBackToTheArguments) {
    PrivateHome home;
    struct Case {
        const char* name;
        const char* exe;
        const char* args;
        std::vector<std::string> argv;
    } cases[] = {
        {"Hello Tool", "/opt/Hello Tool/bin/hello", "--first-run", {"/opt/Hello Tool/bin/hello", "--first-run"}},
        {"Quotes \"and\" $HOME `x` \\ 100%", "/opt/a\"b$c`d\\e/run", "\"two words\" 50% $PATH",
         {"/opt/a\"b$c`d\\e/run", "two words", "50%", "$PATH"}},
        {"Line\nbreak; rm -rf ~", "/bin/x;y", "a|b&c", {"/bin/x;y", "a|b&c"}},
    };
    bool validator = testutil::haveTool("desktop-file-validate");
    for (const Case& c : cases) {
        _guardchar<char> path;
        ASSERT_TRUE(createSysShortcut(path, c.name, "Utility;", c.exe, "/usr/share/pixmaps/x.png", "A comment", false,
                                      c.args, "org.qmx.test.pkg"))
            << c.name;
        std::string p = path.ptr;
        EXPECT_EQ(p.rfind(home.path() + "/.local/share/applications/org.qmx.test.pkg-", 0), 0u) << p;
        EXPECT_EQ(p.find('\n'), std::string::npos);
        EXPECT_EQ(p.substr(p.rfind('/') + 1).find_first_not_of(
                      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-"),
                  std::string::npos)
            << p;
        std::string text = sopkgRead(p);
        EXPECT_EQ(parseExec(desktopKey(text, "Exec")), c.argv) << c.name;
        if (validator) {
            std::string out;
            EXPECT_EQ(testutil::run({"desktop-file-validate", p}, &out), 0) << c.name << "\n" << out << text;
        }
    }
    if (!validator) GTEST_SKIP() << "desktop-file-validate missing: entries not validated";
}

TEST(DesktopEntry, NamesThatWriteAlikeKeepTheirOwnFilesAndTheSameNameItsFile) {
    PrivateHome home;
    // Japanese names of one byte length, names apart only in punctuation, a plain name.
    const char* names[] = {"\xE8\xA8\xAD\xE5\xAE\x9A", "\xE8\xA1\xA8\xE7\xA4\xBA", "Hello, Tool", "Hello; Tool",
                           "Hello Tool", "Hello_Tool"};
    std::set<std::string> paths;
    for (const char* n : names) {
        _guardchar<char> first, again;
        ASSERT_TRUE(createSysShortcut(first, n, "Utility;", "/bin/x", nullptr, nullptr, false, nullptr, "org.q.p"));
        ASSERT_TRUE(createSysShortcut(again, n, "Utility;", "/bin/x", nullptr, nullptr, false, nullptr, "org.q.p"));
        EXPECT_STREQ(first.ptr, again.ptr) << "a reinstallation rewrites its own entry";
        EXPECT_TRUE(paths.insert(first.ptr).second) << n << " shares " << first.ptr;
    }
    EXPECT_EQ(paths.count(home.path() + "/.local/share/applications/org.q.p-Hello_Tool.desktop"), 1u)
        << "a name that needs no replacement keeps its plain file name";
}

TEST(DesktopEntry, ElevationThroughALauncherWord) {
    _guardchar<char> exec;
    ASSERT_TRUE(desktopExecValue("pkexec", "/opt/QMX Software Manager.app/SoftManager", nullptr, exec));
    EXPECT_EQ(parseExec(exec.ptr), (std::vector<std::string>{"pkexec", "/opt/QMX Software Manager.app/SoftManager"}));
    EXPECT_EQ(std::string(exec.ptr).find("sudo"), std::string::npos);
}

TEST(DesktopEntry, RefusesMissingPartsAndUnsafePrefix) {
    PrivateHome home;
    _guardchar<char> path;
    EXPECT_FALSE(createSysShortcut(path, "", "Utility;", "/bin/x", nullptr, nullptr, false, nullptr, "p"));
    EXPECT_FALSE(createSysShortcut(path, "n", "", "/bin/x", nullptr, nullptr, false, nullptr, "p"));
    EXPECT_FALSE(createSysShortcut(path, "n", "Utility;", "", nullptr, nullptr, false, nullptr, "p"));
    EXPECT_FALSE(createSysShortcut(path, "n", "Utility;", "/bin/x", nullptr, nullptr, false, nullptr, "../../x"));
    EXPECT_TRUE(path.empty());
}

TEST(ManagerPath, OnePlaceUnderHome) {
    PrivateHome home;
    _guardchar<char> p;
    ASSERT_TRUE(getAppManagerPath(p));
    EXPECT_EQ(std::string(p.ptr), home.path() + "/Applications/QMX Software Manager.app/Contents/MacOS/SoftManager");
    int v[4] = {1, 2, 3, 4};
    _guardchar<char> cmd("x");
    EXPECT_TRUE(OSGetRegistedVersion("a", v, &cmd, nullptr, false));
    EXPECT_EQ(v[0] + v[1] + v[2] + v[3], 0);
    EXPECT_TRUE(cmd.empty());
}

TEST(UpdateCheck, DayNumberAndArgumentVector) {
    EXPECT_EQ(updateDayNumber(2026, 1, 31), 753734u);
    cStartCheckUpdatesJob job;
    EXPECT_FALSE(job.setCommand("/x", "bad code; rm", true));
    ASSERT_TRUE(job.setCommand("/path with blank/SoftManager", "org.qmx.a", true));
    EXPECT_STREQ(job.arg(0), "/path with blank/SoftManager");
    EXPECT_STREQ(job.arg(3), "quite");
    PrivateHome home;
    cMemConfig store;
    EXPECT_FALSE(autoCheckUpdates("org.qmx.a", false, &store)) << "no manager installed";
    EXPECT_TRUE(store.values.empty());

    // A manager that records its arguments: started once a day.
    _guardchar<char> manager;
    ASSERT_TRUE(getAppManagerPath(manager));
    std::string log = home.path() + "/calls";
    put(manager.ptr, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + testutil::shellQuoted(log) + "\n");
    chmod(manager.ptr, 0755);
    EXPECT_TRUE(autoCheckUpdates("org.qmx.a", true, &store));
    updateCheckJob().terminate(4000);
    EXPECT_TRUE(autoCheckUpdates("org.qmx.a", false, &store)) << "already checked today";
    updateCheckJob().terminate(4000);
    EXPECT_EQ(sopkgRead(log), "update org.qmx.a quite\n");
    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    unsigned long long day = 0;
    EXPECT_TRUE(store.getParamInt("updates/org.qmx.a", day));
    EXPECT_EQ(day, updateDayNumber(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday));
}

}  // namespace
