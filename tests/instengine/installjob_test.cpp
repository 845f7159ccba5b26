// The installation engine end to end in a private HOME: first installation, reinstall,
// an update with fewer files, leftovers of interrupted runs, file operations made to fail
// in turn, the journal, and the busy-file question.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "base/memio.h"
#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/journalformat.h"
#include "instengine/journalrecovery.h"
#include "instengine/packageclaim.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"
#include "softmgr/ossupport.h"

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
    for (const char* f : r.files) v.push_back(f);
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
        useAppLanguages();
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
    EXPECT_FALSE(installtest::exists(home.journal()));
    struct stat st;
    ASSERT_EQ(stat((home.installFolder() + "/bin/tool").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // The same package again: nothing to do.
    EXPECT_EQ(install(v1, home, &store).init, (unsigned)eIINoUpdate);

    // The manager's menu entry shows the icon of the manager's bundle, which exists.
    _guardchar<char> entry;
    ASSERT_TRUE(store.getParamStr(kRegInstallerShortcut, entry));
    std::string icon = home.path() + "/Applications/QMX Software Manager.app/Contents/Resources/icon.icns";
    EXPECT_EQ(desktopUnescaped(desktopKey(entryText(entry.ptr), "Icon")), icon) << entryText(entry.ptr);
    EXPECT_TRUE(installtest::exists(icon));

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

    EXPECT_EQ(uninstallPackage(&store), (unsigned)eUNRemoved);
    EXPECT_FALSE(installtest::exists(home.installFolder())) << "emptied folders stay";
    EXPECT_TRUE(installtest::exists(home.apps())) << "the folder above the installation went";
    EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
    // Gone, or never known: the language is asked first (no record names one), then the
    // answer; nothing of an unknown code name is claimed.
    for (const char* code : {"org.qmx.test.pkg", "org.qmx.none"}) {
        ScriptedAsker ask;
        ask.lang = eLangJPN;
        EXPECT_EQ(uninstallPackage(&store, code, &ask), (unsigned)eUNNotInstalled) << code;
        EXPECT_EQ(ask.asked, std::vector<std::string>{"lang " + std::to_string(eLangENG)}) << code;
        EXPECT_EQ(ask.applied, (std::vector<int>{eLangENG, eLangJPN})) << code;
    }
    EXPECT_FALSE(installtest::exists(home.path() + "/.qmx/running-org.qmx.none.lock"));
}

// A long-lived store object (the manager's) read the package's record; another process
// then updated it to a version with one more file, removed it, or removed it and installed
// it again into another folder. A run through the first object decides from the store on
// disk: an uninstallation removes every file the store records now with its record (never
// the record without its files) or answers "not installed" without a question, an
// installation updates what is installed now. What the object had not saved is saved.
TEST_F(InstallJob, RunsThroughAStoreObjectReadEarlierDecideFromTheStoreOnDisk) {
    Tree more = kV1;
    more["share/extra.txt"] = "one more file";
    const std::string v15 = work.path() + "/v15.data";
    ASSERT_TRUE(makePackage(work.path(), "1.5", more, v15));
    struct Case {
        const char* name;
        const Tree* now;     // what the store records now (none: not installed)
        bool elsewhere;      // installed again into another folder
    } cases[] = {{"updated to a version with one more file", &more, false},
                 {"removed", nullptr, false},
                 {"installed again into another folder", &kV1, true}};
    // Each case alone: a fatal failure ends that one.
    auto check = [&](const Case& c, bool uninstalling) {
        PrivateHome home;
        const std::string qmx = home.path() + "/.qmx", other = home.apps() + "/Elsewhere";
        ASSERT_TRUE(makeDirs(qmx));
        cCIAppConfig manager, meanwhile;
        ASSERT_TRUE(manager.openFolder(qmx.c_str()) && meanwhile.openFolder(qmx.c_str()));
        RunResult first = install(v1, home, &manager);
        ASSERT_TRUE(first.init == 0 && first.job == 0) << first.init << " " << first.result;
        ASSERT_TRUE(manager.hasSection("install/org.qmx.test.pkg"));
        if (c.now == &more) {
            RunResult r = install(v15, home, &meanwhile);
            ASSERT_TRUE(r.init == 0 && r.job == 0) << r.init << " " << r.result << " " << r.message;
        } else {
            ASSERT_EQ(uninstallPackage(&meanwhile), (unsigned)eUNRemoved);
            RunResult r = c.elsewhere ? install(v1, home, &meanwhile, nullptr, nullptr, other) : RunResult();
            ASSERT_TRUE(r.init == 0 && r.job == 0) << r.init << " " << r.result << " " << r.message;
        }
        ASSERT_TRUE(manager.setParamStr(kRegInstallerTemp, "/unsaved"));
        const std::string folder = c.elsewhere ? other : home.installFolder();
        ScriptedAsker ask;
        Tree want;  // what stays of the package
        if (uninstalling) {
            EXPECT_EQ(uninstallPackage(&manager, "org.qmx.test.pkg", &ask),
                      c.now ? (unsigned)eUNRemoved : (unsigned)eUNNotInstalled);
            EXPECT_EQ(std::count(ask.asked.begin(), ask.asked.end(), "confirm " + std::to_string(eAskRemovePackage)),
                      c.now ? 1 : 0);
        } else {
            RunResult r = install(v2, home, &manager);
            ASSERT_EQ(r.init, 0u) << r.message;
            EXPECT_EQ(r.job, 0u) << r.result << " " << r.message;
            for (auto& f : kV2) want[(c.now ? folder : home.installFolder()) + "/" + f.first] = f.second;
        }
        Tree left;
        for (auto& f : snapshot(home.apps(), {"QMX Software Manager.app"})) left[home.apps() + "/" + f.first] = f.second;
        EXPECT_EQ(diff(left, want), "");
        cCIAppConfig fresh;
        ASSERT_TRUE(fresh.openFolder(qmx.c_str()));
        std::vector<std::string> recorded;
        for (auto& f : want) recorded.push_back(f.first);
        EXPECT_EQ(registeredFiles(fresh), want.empty() ? std::vector<std::string>{"(no record)"} : recorded);
        _guardchar<char> unsaved;
        EXPECT_TRUE(fresh.getParamStr(kRegInstallerTemp, unsaved) && strcmp(unsaved.ptr, "/unsaved") == 0);
    };
    for (const Case& c : cases)
        for (bool uninstalling : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (uninstalling ? ", then uninstalled" : ", then updated"));
            check(c, uninstalling);
        }
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
        EXPECT_TRUE(installtest::exists(p.ptr)) << p.ptr;
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(std::unique(entries.begin(), entries.end()), entries.end()) << "one file for two entries";
    EXPECT_EQ(uninstallPackage(&store), (unsigned)eUNRemoved);
    for (const std::string& e : entries) EXPECT_FALSE(installtest::exists(e)) << e;
}

// Runs `body` in a child process whose root is a fresh tmpfs of its own (a user and
// mount namespace over `scratch`), the files `carry` copied to its top by their names,
// TMPDIR its "/tmp". 0 when the body passed, 1 when it failed (its failures are printed
// by the child), 2 when no private root could be made here.
int inPrivateRoot(const std::string& scratch, const std::vector<std::string>& carry, const std::function<void()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        auto put = [](const char* file, const std::string& text) { return writeTextFile(file, text); };
        const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/uid_map", "0 " + uid + " 1") || !put("/proc/self/gid_map", "0 " + gid + " 1") ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("qmxroot", scratch.c_str(), "tmpfs", 0, "mode=0755") != 0)
            _exit(2);
        for (const std::string& f : carry)
            if (!copyFileMode(f, scratch + f.substr(f.rfind('/')))) _exit(2);
        if (!makeDirs(scratch + "/tmp") || chroot(scratch.c_str()) != 0 || chdir("/") != 0) _exit(2);
        setenv("TMPDIR", "/tmp", 1);
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

// A package in the root folder and one with a base there, "/" a folder like any other:
// installed, updated and removed whole in a private root, every file, emptied folder and
// the record gone, the user's files there untouched. The ownership check alone with "/"
// as the folder, over the test's own files, runs everywhere (also where no private root
// can be made).
TEST_F(InstallJob, PackageInTheRootOrWithABaseThereIsRemovedWhole) {
    cMemConfig store;
    const std::string link = work.file("link");
    ASSERT_EQ(symlink(work.path().c_str(), link.c_str()), 0);
    for (const char* base : {"", "/"}) {
        sPkgRegistryRecord rec;
        rec.path.set(*base ? work.file("elsewhere").c_str() : "/");
        if (*base) rec.bases.add()->set(base);
        cRecordScope scope(rec, &store);
        EXPECT_TRUE(scope.ownsFile(v1.c_str())) << base;
        EXPECT_FALSE(scope.ownsFile((link + "/v1.data").c_str())) << "through a link, " << base;
    }

    // The second pair: one file in the installation folder, one below the base "/" (another
    // in the update), whose folders the installation makes.
    const std::string b1 = work.file("b1.data"), b2 = work.file("b2.data"), conf = work.file("conf");
    ASSERT_TRUE(writeTextFile(conf, "x=1\n"));
    for (const char* v : {"1.0", "2.0"}) {
        std::string extra = "[Strings]\nopt = \"/\"\n[Install]\n" + testutil::scenarioQuoted(conf) +
                            " = $opt \"etc/tool/" + (v[0] == '1' ? "one" : "two") + ".conf\", 644\n";
        ASSERT_TRUE(makePackage(work.path(), v, {{"bin/tool", v}}, v[0] == '1' ? b1 : b2, extra));
    }
    const std::string scratch = work.file("root");
    ASSERT_TRUE(makeDirs(scratch));
    int r = inPrivateRoot(scratch, {v1, v2, b1, b2}, [] {
        struct {
            const char* folder;
            const char *first, *second;
            std::vector<std::string> v1Only, v2Only;  // besides the files both have
        } cases[] = {{"/", "/v1.data", "/v2.data", {"/share/old/only-v1.txt"}, {"/share/new/added.txt"}},
                     {"/opt/tool", "/b1.data", "/b2.data", {"/etc/tool/one.conf"}, {"/etc/tool/two.conf"}}};
        for (auto& c : cases) {
            SCOPED_TRACE(c.folder);
            PrivateHome home;
            cMemConfig store;
            // The user's: a file in the root, and a folder the package writes into.
            ASSERT_TRUE(writeTextFile("/notes.txt", "mine") && makeDirs("/doc") && writeTextFile("/doc/mine.txt", "mine"));
            FullTree before, after;
            walkFull("/", before);
            ASSERT_EQ(install(c.first, home, &store, nullptr, nullptr, c.folder).job, 0u);
            const std::string pgm = strcmp(c.folder, "/") == 0 ? "" : c.folder;
            EXPECT_TRUE(installtest::exists(pgm + "/bin/tool"));
            for (auto& f : c.v1Only) EXPECT_TRUE(installtest::exists(f)) << f;
            RunResult r = install(c.second, home, &store);
            ASSERT_EQ(r.job, 0u) << r.result << " " << r.message;
            for (auto& f : c.v1Only) EXPECT_FALSE(installtest::exists(f)) << f;
            for (auto& f : c.v2Only) EXPECT_TRUE(installtest::exists(f)) << f;
            sPkgUninstallContext u;
            EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", nullptr, nullptr, &u), (unsigned)eUNRemoved);
            EXPECT_EQ(listed(u.leftovers), std::vector<std::string>{});
            EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
            // Nothing else changed but the home folder (the store, the manager's copy).
            walkFull("/", after);
            for (FullTree* t : {&before, &after})
                for (auto it = t->begin(); it != t->end();)
                    it = it->first.rfind(home.path(), 0) == 0 ? t->erase(it) : std::next(it);
            EXPECT_EQ(treeDiff(after, before), "");
        }
    });
    EXPECT_NE(r, 1) << "in the private root";
    if (r == 2) RecordProperty("private root", "none here: the ownership check alone");
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
            ASSERT_TRUE(installtest::makeDirs(p));
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

// A package an older maker built with a file and its temporary or backup name beside it
// (the run would overwrite or remove its own file) is refused before any change, both
// files named, as a first installation and as an update; such a name alone installs.
TEST_F(InstallJob, FileAndItsSideNameInOnePackageAreRefusedBeforeAnyChange) {
    struct Case {
        const char* name;  // what version 2's "share/new/added.txt" becomes
        bool update;
        unsigned int init;
    } cases[] = {{"bin/tool.bkp", false, eIISideName}, {"bin/tool.tmp", true, eIISideName},
                 {"doc/notes.bkp", false, eIIOk}, {"share/added.tmp", true, eIIOk}};
    for (const Case& c : cases) {
        // Through the real writer: the maker itself refuses the pair.
        const std::string pkg = work.path() + "/paired.data";
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(s.loadTextConfig((work.path() + "/src-org.qmx.test.pkg-2.0/scenario.txt").c_str(), line), 0);
        for (auto* it = s.files.head; it; it = it->next)
            if (strcmp(it->value.target.path, "share/new/added.txt") == 0) it->value.target.path = s.keepFilePath(c.name);
        cFileIO out;
        ASSERT_TRUE(out.create(pkg.c_str()) && s.saveBinConfig(&out)) << c.name;
        out.close();
        PrivateHome home;
        cMemConfig store;
        if (c.update) {
            ASSERT_EQ(install(v1, home, &store).job, 0u);
        }
        const Tree before = installed(home);
        const std::vector<std::string> recorded = registeredFiles(store);
        RunResult r = install(pkg, home, &store);
        EXPECT_EQ(r.init, c.init) << c.name;
        if (c.init == eIIOk) {
            EXPECT_EQ(r.job, 0u) << c.name << " " << r.message;
            EXPECT_EQ(installed(home)[c.name], "new in v2") << c.name;
            continue;
        }
        const std::string plain = home.installFolder() + "/bin/tool";
        EXPECT_EQ(r.message, plain + "\n" + home.installFolder() + "/" + c.name);
        EXPECT_EQ(diff(installed(home), before), "") << c.name;
        EXPECT_EQ(registeredFiles(store), recorded) << c.name;
    }
}

// A version that shipped "bin/run.bkp" or "bin/run.tmp" alone updated to one that ships
// "bin/run": the earlier file is the update's to remove, and the update goes through (the
// fault sweep interrupts it everywhere). Where that file stays (another package lists it
// too), where the update replaces a file at "bin/run" (it needs both names), or where it
// ships the moved-aside file's own backup name, the two could not be told apart once
// interrupted: refused before any change, both named.
TEST_F(InstallJob, UpdateOverTheEarlierVersionsFileAtASideName) {
    struct Case {
        const char* side;  // version 1's file beside version 2's "bin/run"
        const char* also;  // "other": another package lists it too; "user": the user's copy of
                           // version 2's "bin/run" there; else a file version 2 ships besides
        const char* refusedFor;  // the file named after it, or null: installed
    } cases[] = {{"bin/run.bkp", "", nullptr},           {"bin/run.tmp", "", nullptr},
                 {"bin/run.bkp", "other", "bin/run"},    {"bin/run.tmp", "user", "bin/run"},
                 {"bin/run.tmp", "bin/run.tmp.bkp", "bin/run.tmp.bkp"}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.side) + " " + c.also);
        const std::string ver = std::to_string(++n), p1 = work.file("s1-" + ver), p2 = work.file("s2-" + ver);
        Tree t1 = kV1, t2 = kV2;
        t1[c.side] = "the earlier version's";
        t2["bin/run"] = "run me";
        if (strchr(c.also, '/')) t2[c.also] = "shipped too";
        ASSERT_TRUE(makePackage(work.path(), "1." + ver, t1, p1) && makePackage(work.path(), "2." + ver, t2, p2));
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(p1, home, &store).job, 0u);
        const std::string folder = home.installFolder() + "/";
        if (strcmp(c.also, "other") == 0) {
            const std::string other = work.file("other-" + ver);
            ASSERT_TRUE(
                makePackage(work.path(), "1.0", {{c.side, "the earlier version's"}}, other, "", "org.qmx.test.other"));
            ASSERT_EQ(install(other, home, &store, nullptr, nullptr, home.installFolder()).job, 0u);
        }
        if (strcmp(c.also, "user") == 0) {
            ASSERT_TRUE(writeTextFile(folder + "bin/run", "run me"));
        }
        const Tree before = installed(home);
        const std::vector<std::string> recorded = registeredFiles(store);
        RunResult r = install(p2, home, &store);
        ASSERT_EQ(r.init, 0u) << r.message;
        EXPECT_FALSE(installtest::exists(home.journal()));
        if (!c.refusedFor) {
            EXPECT_EQ(r.job, 0u) << r.result << " " << r.message;
            EXPECT_EQ(diff(installed(home), t2), "");
            EXPECT_EQ(registeredFiles(store), expectedFiles(home, t2));
            continue;
        }
        EXPECT_EQ(r.result, (unsigned)eIJSideNameTaken);
        EXPECT_EQ(r.message, folder + c.side + "\n" + folder + c.refusedFor);
        EXPECT_EQ(diff(installed(home), before), "");
        EXPECT_EQ(registeredFiles(store), recorded);
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
        EXPECT_FALSE(installtest::exists(home.journal()));
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
    prepareContext(ctx, v1, home, &store);
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    char none = 0;
    cBufWrapperIO empty(&none, 0, false);
    int item = ctx.payload().addPkgItem(&empty, false);
    ASSERT_EQ((unsigned)item, cSoftPkg::kEmptyItem);
    cSoftPkgScenario::sIntFileDef* f = ctx.files.add();
    f->item = (unsigned)item;
    f->target = {ctx.keepFileId("pgm"), ctx.keepFilePath("empty.dat")};
    ASSERT_TRUE(setInstallFolder(ctx, home.installFolder().c_str()));
    EXPECT_EQ(runInstallJob(ctx, nullptr, nullptr), 0u) << ctx.result;
    std::string p = home.installFolder() + "/empty.dat";
    EXPECT_EQ(objKind(p.c_str()), 1);
    EXPECT_TRUE(testutil::readFile(p).empty());
    EXPECT_EQ(objKind((p + ".tmp").c_str()), 0);
}

// A package large enough to be unpacked on several threads: a large file in pieces from
// the body's access points, the other files in runs. What lands is the source, and a
// package changed on the disk after the checks is refused by the digest of what was
// unpacked, in either path, with nothing left behind.
TEST_F(InstallJob, LargePackageUnpackedInParallelIsExactAndChangedOneIsRefused) {
    // Random bytes: deflate keeps them as they are, so a changed packed byte inflates
    // to a changed file instead of a damaged stream.
    Tree files;
    auto random = [](size_t n, unsigned seed) {
        std::vector<unsigned char> v = testutil::randomBytes(n, seed);
        return std::string(v.begin(), v.end());
    };
    files["big/large.bin"] = random(72u << 20, 1);
    for (int k = 0; k < 40; k++) files["many/f" + std::to_string(k)] = random(1u << 20, 2 + k);
    const std::string pkg = work.path() + "/large.data";
    ASSERT_TRUE(makePackage(work.path(), "1.0", files, pkg));
    {
        PrivateHome home;
        cMemConfig store;
        RunResult r = install(pkg, home, &store);
        ASSERT_EQ(r.job, 0u) << r.result << " " << r.message;
        EXPECT_TRUE(snapshot(home.installFolder()) == files);
    }
    const long long size = (long long)testutil::readFile(pkg).size();
    for (double at : {0.3, 0.97}) {  // inside the large file; among the small ones
        PrivateHome home;
        cMemConfig store;
        sPkgInstallContext ctx;
        prepareContext(ctx, pkg, home, &store);
        ASSERT_EQ(installChecks(ctx, nullptr), 0u);
        ASSERT_TRUE(setInstallFolder(ctx, home.installFolder().c_str()));
        int fd = open(pkg.c_str(), O_RDWR);
        unsigned char b = 0;
        off_t where = (off_t)(size * at);
        ASSERT_TRUE(fd >= 0 && pread(fd, &b, 1, where) == 1);
        b ^= 0x5A;
        ASSERT_EQ(pwrite(fd, &b, 1, where), 1);
        EXPECT_EQ(runInstallJob(ctx, nullptr, nullptr), 1u) << at;
        EXPECT_EQ(ctx.result, (unsigned)eIJCannotRead) << at;
        EXPECT_TRUE(snapshot(home.apps()).empty()) << at;
        EXPECT_FALSE(installtest::exists(home.journal())) << at;
        b ^= 0x5A;
        EXPECT_EQ(pwrite(fd, &b, 1, where), 1);
        close(fd);
    }
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
    EXPECT_TRUE(installtest::exists(home.journal()));
    EXPECT_TRUE(installtest::exists(home.installFolder() + "/bin/tool.tmp"));
    RunResult again = install(v2, home, &store);
    EXPECT_EQ(again.job, 0u) << again.result << " " << again.message;
    EXPECT_EQ(diff(installed(home), kV2), "");
}

// An update names every file and menu entry of the earlier record it leaves: those a
// check refuses (outside the record's folders, climbing out of them, the program's own, an
// entry outside the entries folder) stay as they are and the update succeeds; an obsolete
// file whose removal fails fails the committed run, named, and the next run removes it.
TEST_F(InstallJob, UpdateNamesEveryEarlierFileItLeaves) {
    PrivateHome home;
    testutil::TempDir other;
    cMemConfig store;
    const std::string section = "install/org.qmx.test.pkg/", obsolete = home.installFolder() + "/share/old/only-v1.txt";
    const std::vector<std::string> refused = {other.file("victim.txt"), home.installFolder() + "/../../victim.txt",
                                              home.path() + "/.qmx/own.txt", other.file("tool.desktop")};
    class FailOn : public cInstallFS {
    public:
        std::string path;
        bool unlink(const char* p) override { return path != p && cInstallFS::unlink(p); }
    } fs;
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "an obsolete file that cannot be removed" : "files refused");
        ASSERT_EQ(install(v1, home, &store).job, 0u);
        for (const std::string& f : {refused[0], home.path() + "/victim.txt", refused[2], refused[3]})
            ASSERT_TRUE(writeTextFile(f, "keep"));
        // A forged record: three more files, an entry, the home folder as a base.
        store.setParamInt32((section + "files").c_str(), 7);
        for (int i = 0; i < 3; i++)
            store.setParamStr((section + "file" + std::to_string(4 + i)).c_str(), refused[i].c_str(), -1);
        store.setParamInt32((section + "shortc").c_str(), 1);
        store.setParamStr((section + "shortc0").c_str(), refused[3].c_str(), -1);
        store.setParamInt32((section + "bases").c_str(), 1);
        store.setParamStr((section + "base0").c_str(), home.path().c_str(), -1);
        fs.path = failing ? obsolete : "";
        RunResult r = install(v2, home, &store, &fs);
        EXPECT_EQ(r.result, failing ? (unsigned)eIJCannotWrite : (unsigned)eIJOk) << r.message;
        std::set<std::string> want;
        for (const std::string& f : refused) want.insert("refused " + f);
        if (failing) want.insert("not removed " + obsolete);
        EXPECT_EQ(std::set<std::string>(r.left.begin(), r.left.end()), want);
        for (const std::string& f : {refused[0], home.path() + "/victim.txt", refused[2], refused[3]})
            EXPECT_EQ(readTextFile(f), "keep") << f;
        EXPECT_EQ(installtest::exists(obsolete), failing);
        if (failing) {
            ASSERT_TRUE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store));
        }
        EXPECT_EQ(diff(installed(home), kV2), "");
        EXPECT_EQ(registeredFiles(store), expectedFiles(home, kV2));
        ASSERT_EQ(uninstallPackage(&store), (unsigned)eUNRemoved);
    }
}

// A folder that cannot be flushed keeps the journal, which the next run resolves again:
// an installation whose files are all in place fails and the next one finishes it; an
// uninstallation whose committed journal could not be flushed into place stops there,
// and the next one finishes the removal.
TEST_F(InstallJob, FailedFolderFlushKeepsTheJournal) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    class FlushFails : public cInstallFS {
    public:
        std::string folder;  // flushes of it and of the folders below it fail...
        int skip = 0;        // ...once this many have been made
        bool syncFolder(const char* p) override {
            if (std::string(p).rfind(folder, 0) == 0 && skip-- <= 0) return false;
            return cInstallFS::syncFolder(p);
        }
    } fs;
    fs.folder = home.installFolder();
    RunResult r = install(v2, home, &store, &fs);
    EXPECT_EQ(r.result, (unsigned)eIJCannotWrite) << r.message;
    EXPECT_TRUE(installtest::exists(home.journal()));
    EXPECT_EQ(install(v2, home, &store).init, (unsigned)eIIFinished);
    EXPECT_FALSE(installtest::exists(home.journal()));
    EXPECT_EQ(diff(installed(home), kV2), "");

    fs.folder = home.path() + "/.qmx";
    fs.skip = 1;  // the pending journal's flush; the committed one's fails
    sPkgUninstallContext u;
    EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", nullptr, &fs, &u), (unsigned)eUNIncomplete);
    sJournal j;
    ASSERT_EQ(readJournal(home.journal().c_str(), j), eJournalReadWhole);
    EXPECT_TRUE(j.committed);
    EXPECT_EQ(uninstallPackage(&store, "org.qmx.test.pkg", nullptr, nullptr, &u), (unsigned)eUNRemoved);
    EXPECT_EQ(installed(home), Tree{});
    EXPECT_FALSE(store.hasSection("install/org.qmx.test.pkg"));
}

TEST_F(InstallJob, ManagersStartLeavesALiveRunsJournalAlone) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    // A run between its journal and its commit: a new file in place.
    std::string added = home.installFolder() + "/share/new/added.txt";
    ASSERT_TRUE(installtest::makeDirs(home.installFolder() + "/share/new") && writeTextFile(added, "x"));
    std::string j = "QMXINFLIGHT 3\nstate pending\nN " + added + "\nend 1\n";
    ASSERT_TRUE(writeTextFile(home.journal(), j));
    {
        cStoreFolderLock live(home.journal().c_str());
        EXPECT_FALSE(recoverAllInterrupted(&store));
        EXPECT_TRUE(installtest::exists(added));
        EXPECT_TRUE(installtest::exists(home.journal()));
    }
    EXPECT_TRUE(recoverAllInterrupted(&store));
    EXPECT_FALSE(installtest::exists(added));
    EXPECT_FALSE(installtest::exists(home.journal()));
    EXPECT_EQ(diff(installed(home), kV1), "");
}

// Journals written by earlier builds (versions 1 to 3, no digest) are read by the letters
// they were written with: each line kind a version knows is obeyed (a pending run undone
// whole), and one it did not know yet is refused.
TEST_F(InstallJob, JournalsOfEarlierBuildsResolveByTheirLetters) {
    const std::string letters = "RNODMESQ";
    const std::string known[] = {"RNO", "RNODM", "RNODMESQ"};
    for (int version = 1; version <= 3; version++)
        for (char c : letters) {
            std::string text = "QMXINFLIGHT " + std::to_string(version) + "\nstate pending\n" + c + " /a\nend 1\n";
            bool committed = true;
            long long entries = -1;
            EXPECT_EQ(parseJournalText(text.data(), (long long)text.size(), committed, entries),
                      known[version - 1].find(c) != std::string::npos)
                << "version " << version << ", " << c;
        }
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    const std::string p = home.installFolder(), tool = p + "/bin/tool", made = p + "/share/made";
    _guardchar<char> entry, gone, entries;
    ASSERT_TRUE(sysShortcutPath(entry, "Tool", "org.qmx.test.pkg") && sysShortcutPath(gone, "Gone", "org.qmx.test.pkg") &&
                desktopEntryFolder(entries));
    const std::string entryTmp = std::string(entry.ptr) + ".tmp";
    for (int version = 1; version <= 3; version++) {
        // A run interrupted once it had moved the tool aside, put a new one in its place,
        // made a folder with a new file in it and written its menu entry beside its place.
        ASSERT_EQ(rename(tool.c_str(), (tool + ".bkp").c_str()), 0);
        ASSERT_TRUE(writeTextFile(tool, "new") && writeTextFile(p + "/new.txt", "new"));
        std::vector<std::string> lines = {"R " + tool, "N " + p + "/new.txt", "O " + p + "/doc/README"};
        if (version >= 2) {
            ASSERT_TRUE(installtest::makeDirs(made) && writeTextFile(made + "/x", "new"));
            lines.insert(lines.begin(), {"D " + p, "M " + made});
            lines.push_back("N " + made + "/x");
        }
        if (version >= 3) {
            ASSERT_TRUE(writeTextFile(entryTmp, "entry"));
            lines.insert(lines.end(), {"S " + std::string(entries.ptr), "E " + std::string(entry.ptr),
                                       "Q " + std::string(gone.ptr)});
        }
        std::string text = "QMXINFLIGHT " + std::to_string(version) + "\nstate pending\n";
        for (auto& l : lines) text += l + "\n";
        ASSERT_TRUE(writeTextFile(home.journal(), text + "end " + std::to_string(lines.size()) + "\n"));
        sRecoveryReport report;
        EXPECT_TRUE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store, &report)) << version;
        EXPECT_EQ(report.outcome, sRecoveryReport::eUndone) << version;
        EXPECT_EQ(diff(installed(home), kV1), "") << version;
        EXPECT_FALSE(installtest::exists(made)) << version;
        EXPECT_FALSE(installtest::exists(entryTmp)) << version;
        EXPECT_FALSE(installtest::exists(home.journal())) << version;
    }
}

// Two packages of one name (their code names apart), both in the folder proposed to them
// or the second in one the user chose: each uninstalls leaving the other whole (its files, record and
// menu entry), a file both records list goes with the last of them (not with an update
// of one that no longer has it), and the last leaves nothing behind. Behind a journal set
// aside, the removal that names what it left says the shared files stayed too.
TEST_F(InstallJob, PackagesOfOneNameLiveSideBySide) {
    const std::string menu = "[Strings]\nENG.m = \"Tool\"\n[Menu]\n$m = $pgm \"bin/tool\", $pgm \"bin/tool\"\n";
    const char* codes[2] = {"org.qmx.hello", "org.qmx.hello.copy"};
    struct Case {
        bool oneFolder;  // the second one installed where the first is
        int firstGone;
        bool setAside = false;  // its journal damaged, a name left beside a shared file
    } cases[] = {{false, 0}, {false, 1}, {true, 0}, {true, 1}, {true, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oneFolder ? "one folder" : "folders apart") + ", first gone: " + codes[c.firstGone]);
        PrivateHome home;
        cMemConfig store;
        std::string folder[2];
        Tree files[2];
        std::vector<std::string> keptFiles, keptFor;  // what the last run says it kept
        auto install = [&](int i, const char* version) {
            std::string pkg = work.file(std::string(codes[i]) + version + ".data");
            ASSERT_TRUE(makePackage(work.path(), version, files[i], pkg, menu, codes[i]));
            sPkgInstallContext ctx;
            prepareContext(ctx, pkg, home, &store);
            ctx.executablePath.set(home.fakeExe().c_str());
            ctx.journalPath.set((home.path() + "/.qmx/inflight-" + codes[i]).c_str());
            ASSERT_EQ(installChecks(ctx, nullptr), 0u);
            if (ctx.installedVersion == ~0ULL) {
                _guardchar<char> proposed;
                ASSERT_TRUE(proposeInstallFolder(ctx, proposed));
                folder[i] = proposed.ptr;
                // The second is proposed the first one's folder; the user may choose another.
                if (i == 1) {
                    EXPECT_EQ(folder[1], folder[0]);
                }
                if (i == 1 && !c.oneFolder) folder[1] += " elsewhere";
                ASSERT_TRUE(setInstallFolder(ctx, folder[i].c_str()));
                ASSERT_EQ(checkInstallTargets(ctx), 0u) << ctx.messagePath.ptr;
            }
            ASSERT_EQ(runInstallJob(ctx, nullptr, nullptr), 0u) << ctx.result << " " << ctx.messagePath.ptr;
            keptFiles = listed(ctx.keptFiles);
            keptFor = listed(ctx.keptFor);
        };
        for (int i = 0; i < 2; i++) {
            files[i] = {{"bin/tool", "#!/bin/sh\n"}, {"doc/README", "same"}, {std::string(codes[i]) + ".txt", codes[i]}};
            install(i, "1.0");
        }
        // The first one's next version no longer has the README: where the other lists it
        // too, it stays, and the update says so.
        files[0].erase("doc/README");
        install(0, "2.0");
        typedef std::vector<std::string> Names;
        EXPECT_EQ(keptFiles, c.oneFolder ? Names{folder[0] + "/doc/README"} : Names{});
        EXPECT_EQ(keptFor, c.oneFolder ? Names{"Test Pkg"} : Names{});
        // A package's record (but the folders it made, which the other may hand over) and
        // its menu entry with the program it starts.
        auto record = [&](int i) {
            std::string all, prefix = std::string("install/") + codes[i] + "/";
            for (auto& v : store.values)
                if (v.first.rfind(prefix, 0) == 0 && v.first.rfind(prefix + "dir", 0) != 0)
                    all += v.first + "=" + v.second.text + std::to_string(v.second.number) + "\n";
            return all;
        };
        auto entry = [&](int i) {
            _guardchar<char> p;
            if (!store.getParamStr((std::string("install/") + codes[i] + "/shortc0").c_str(), p)) return std::string();
            return readTextFile(p.ptr);
        };
        auto mine = [&](int i) {
            Tree t;
            for (auto& f : files[i]) t[folder[i] + "/" + f.first] = f.second;
            return t;
        };
        auto onDisk = [&](const Tree& t) {
            Tree d;
            for (auto& f : t)
                if (installtest::exists(f.first)) d[f.first] = readTextFile(f.first);
            return d;
        };
        int gone = c.firstGone, stays = 1 - gone;
        std::string recordBefore = record(stays), entryBefore = entry(stays);
        _guardchar<char> exec;  // the program's path as a desktop entry writes it ("$" as "\\$", ...)
        ASSERT_TRUE(desktopExecValue(nullptr, (folder[stays] + "/bin/tool").c_str(), nullptr, exec));
        ASSERT_NE(entryBefore.find("\nExec=" + std::string(exec.ptr) + "\n"), std::string::npos) << entryBefore;
        sPkgUninstallContext u;
        u.journalPath.set((home.path() + "/.qmx/inflight-" + codes[gone]).c_str());
        const std::string left = folder[gone] + "/bin/tool.tmp";
        if (c.setAside) {
            ASSERT_TRUE(writeTextFile(u.journalPath.ptr, "QMXINFLIGHT 4\nstate pending\nend 0\nsha256 0\n") &&
                        writeTextFile(left, "#!"));
        }
        ASSERT_EQ(uninstallPackage(&store, codes[gone], nullptr, nullptr, &u),
                  c.setAside ? (unsigned)eUNDeregistered : (unsigned)eUNRemoved);
        EXPECT_EQ(listed(u.keptFor), c.oneFolder ? std::vector<std::string>{"Test Pkg"} : std::vector<std::string>{})
            << "the shared files are said to stay";
        EXPECT_EQ(listed(u.leftovers), c.setAside ? std::vector<std::string>{left} : std::vector<std::string>{});
        unlink(left.c_str());
        EXPECT_EQ(onDisk(mine(stays)), mine(stays));
        EXPECT_EQ(snapshot(folder[stays]).size(), files[stays].size()) << "the other's own file stayed";
        EXPECT_EQ(record(stays), recordBefore);
        EXPECT_EQ(entry(stays), entryBefore);
        EXPECT_FALSE(store.hasSection((std::string("install/") + codes[gone]).c_str()));

        u.journalPath.set((home.path() + "/.qmx/inflight-" + codes[stays]).c_str());
        ASSERT_EQ(uninstallPackage(&store, codes[stays], nullptr, nullptr, &u), (unsigned)eUNRemoved);
        EXPECT_TRUE(snapshot(home.apps(), {"QMX Software Manager.app"}).empty());
        for (const std::string& f : folders(home.apps()))
            EXPECT_EQ(f.rfind("QMX Software Manager.app", 0), 0u) << f << " stays";
    }
}

TEST(Journal, RecordWithAnyTextIsRegisteredFromItsCommittedJournal) {
    PrivateHome home;
    cMemConfig store;
    sJournal j;
    j.committed = true;
    j.registration = eRegister;
    j.code.set("org.qmx.test.pkg");
    sPkgRegistryRecord& r = j.record;
    r.ver = 0x0001000200030004ULL;
    r.lang = 7;
    r.utime = 0xFFFFFFFFu;
    r.path.set(home.installFolder().c_str());
    r.name.set("A \\ b\nc\td\x01 \xE6\x97\xA5");  // backslash, controls, UTF-8
    r.updates.set("");
    r.support.set("http://x/?a=b c");
    r.publisher.set("\\00");
    // What it lists, its run wrote and made.
    const std::string file = home.installFolder() + "/b c", gone = home.installFolder() + "/gone";
    ASSERT_TRUE(installtest::makeDirs(home.installFolder()));
    for (auto line : {std::make_pair(eLineRoot, home.installFolder()), std::make_pair(eLineMadeFolder, home.installFolder()),
                      std::make_pair(eLineMadeFolder, gone), std::make_pair(eLineNew, file)})
        ASSERT_TRUE(j.add(line.first, line.second.c_str()));
    r.files.add(file.c_str());
    *r.dirs.add() = _guardchar<char>(home.installFolder().c_str());
    *r.dirs.add() = _guardchar<char>(gone.c_str());
    sPkgRunCommand* c = r.commands.add();
    c->label.set("Run \\");
    c->command.set("\"/a b\" --x");
    c = r.commands.add();  // empty in an earlier record: carried, not registered
    c->label.set("L");
    c->command.set("");
    ASSERT_EQ(saveJournal(home.journal().c_str(), j, true), 1);
    ASSERT_TRUE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store));
    EXPECT_FALSE(installtest::exists(home.journal()));
    sPkgRegistryRecord got;
    ASSERT_TRUE(readRegistryRecord(&store, "org.qmx.test.pkg", got));
    EXPECT_EQ(got.ver, r.ver);
    EXPECT_EQ(got.lang, 7);
    EXPECT_EQ(got.utime, 0xFFFFFFFFu);
    for (auto p : {std::make_pair(&got.name, &r.name), std::make_pair(&got.support, &r.support),
                   std::make_pair(&got.publisher, &r.publisher), std::make_pair(&got.path, &r.path)})
        EXPECT_STREQ(p.first->ptr, p.second->ptr);
    ASSERT_EQ(got.files.count(), 1);
    EXPECT_EQ(got.files[0], file);
    ASSERT_EQ(got.dirs.count(), 1) << "a folder gone since is not recorded";
    EXPECT_EQ(got.dirs.head->value.ptr, home.installFolder());
    ASSERT_EQ(got.commands.count(), 1);
    EXPECT_STREQ(got.commands.head->value.label.ptr, "Run \\");
    EXPECT_STREQ(got.commands.head->value.command.ptr, "\"/a b\" --x");
}

TEST_F(InstallJob, DamagedJournalIsSetAsideUnderAFreeNameAndTheInstallationGoesOn) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    const char* bad[] = {"", "QMXINFLIGHT 1\nstate pending\nR relative/path\nend 1\n",
                         "QMXINFLIGHT 1\nstate pending\nR /a\nend 2\n", "QMXINFLIGHT 5\nstate pending\nend 0\n",
                         // Version 4 without its digest, with another text's, with one cut.
                         "QMXINFLIGHT 4\nstate pending\nend 0\n",
                         "QMXINFLIGHT 4\nstate pending\nend 0\nsha256 "
                         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n",
                         "QMXINFLIGHT 4\nstate pending\nend 0\nsha256 e3b0c442\n",
                         // A record without its registration, a registration without a version, an
                         // escape of a 0, another package's registration.
                         "QMXINFLIGHT 3\nstate committed\nrec ver 1\nend 1\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.test.pkg\nregister\nend 2\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.test.pkg\nregister\nrec ver 1\nrec name a\\00\nend 4\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.other\nunregister\nrec ver 1\nend 3\n",
                         "QMXINFLIGHT 1\nstate pending\nM /a\nend 1\n",
                         "QMXINFLIGHT 1\nstate maybe\nend 0\n", "QMXINFLIGHT 1\nstate pending\nend 0\nR /a\n"};
    // Each set aside beside the earlier ones; the first run installs, the others have
    // nothing to do.
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
        const char* j = bad[i];
        ASSERT_TRUE(testutil::writeFile(home.journal(), j, strlen(j)));
        RunResult r = install(v2, home, &store);
        EXPECT_EQ(r.init, i ? (unsigned)eIINoUpdate : 0u) << j;
        EXPECT_EQ(r.job, 0u) << j;
        EXPECT_EQ(diff(installed(home), kV2), "") << j;
        EXPECT_FALSE(installtest::exists(home.journal())) << j;
        std::string aside = home.journal() + ".refused" + (i ? "~" + std::to_string(i + 1) : "");
        EXPECT_EQ(readTextFile(aside), j);
    }
    // A name is always found: beside a thousand set aside, the next one follows them.
    const size_t n = sizeof bad / sizeof bad[0];
    for (size_t i = n + 1; i <= 1000; i++)
        ASSERT_TRUE(testutil::writeFile(home.journal() + ".refused~" + std::to_string(i), "", 0));
    ASSERT_TRUE(writeTextFile(home.journal(), bad[1]));
    EXPECT_EQ(install(v2, home, &store).init, (unsigned)eIINoUpdate);
    EXPECT_EQ(readTextFile(home.journal() + ".refused~1001"), bad[1]);
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
    prepareContext(ctx, v2, home, &store);
    ASSERT_EQ(installChecks(ctx, nullptr), 0u);
    EXPECT_EQ(installStageCount(ctx), 4 + 3) << "README is unchanged";
    EXPECT_EQ(runInstallJob(ctx, &stop, nullptr), 1u);
    EXPECT_EQ(ctx.result, (unsigned)eIJStopped);
    EXPECT_EQ(diff(installed(home), kV1), "");
    EXPECT_EQ(stop.stages, (std::vector<int>{0, 1, 6}));
}

}  // namespace
