// The installation engine end to end in a private HOME: first installation, reinstall,
// an update with fewer files, leftovers of interrupted runs, every file operation made to
// fail in turn, the process killed at every file operation, and the busy-file question.
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
#include "base/memio.h"
#include "softmgrapp/installinit.h"
#include "softmgrapp/installjob.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/uninstall.h"
#include "ui/ciappconfig.h"

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
    prepareContext(ctx, v1, home, &store);
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
        EXPECT_FALSE(apptest::exists(home.journal())) << at;
        b ^= 0x5A;
        EXPECT_EQ(pwrite(fd, &b, 1, where), 1);
        close(fd);
    }
}

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
        for (auto* l : {&r.files, &r.shortcuts, &r.bases, &r.dirs})
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

TEST_F(InstallJob, ManagersStartLeavesALiveRunsJournalAlone) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    // A run between its journal and its commit: a new file in place.
    std::string added = home.installFolder() + "/share/new/added.txt";
    ASSERT_TRUE(apptest::makeDirs(home.installFolder() + "/share/new") && writeTextFile(added, "x"));
    std::string j = "QMXINFLIGHT 3\nstate pending\nN " + added + "\nend 1\n";
    ASSERT_TRUE(writeTextFile(home.journal(), j));
    {
        cJournalFolderLock live(home.journal().c_str());
        EXPECT_FALSE(recoverAllInterrupted(&store));
        EXPECT_TRUE(apptest::exists(added));
        EXPECT_TRUE(apptest::exists(home.journal()));
    }
    EXPECT_TRUE(recoverAllInterrupted(&store));
    EXPECT_FALSE(apptest::exists(added));
    EXPECT_FALSE(apptest::exists(home.journal()));
    EXPECT_EQ(diff(installed(home), kV1), "");
}

TEST(Journal, RecordWithAnyTextIsRegisteredFromItsCommittedJournal) {
    PrivateHome home;
    cMemConfig store;
    sJournal j;
    j.committed = true;
    j.registration = 'r';
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
    *r.files.add() = _guardchar<char>("/a/b c");
    *r.dirs.add() = _guardchar<char>(home.path().c_str());
    *r.dirs.add() = _guardchar<char>((home.path() + "/gone").c_str());
    sPkgRunCommand* c = r.commands.add();
    c->label.set("Run \\");
    c->command.set("\"/a b\" --x");
    c = r.commands.add();  // empty in an earlier record: carried, not registered
    c->label.set("L");
    c->command.set("");
    ASSERT_EQ(saveJournal(home.journal().c_str(), j, true), 1);
    ASSERT_TRUE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store));
    EXPECT_FALSE(apptest::exists(home.journal()));
    sPkgRegistryRecord got;
    ASSERT_TRUE(readRegistryRecord(&store, "org.qmx.test.pkg", got));
    EXPECT_EQ(got.ver, r.ver);
    EXPECT_EQ(got.lang, 7);
    EXPECT_EQ(got.utime, 0xFFFFFFFFu);
    for (auto p : {std::make_pair(&got.name, &r.name), std::make_pair(&got.support, &r.support),
                   std::make_pair(&got.publisher, &r.publisher), std::make_pair(&got.path, &r.path)})
        EXPECT_STREQ(p.first->ptr, p.second->ptr);
    ASSERT_EQ(got.files.count(), 1);
    EXPECT_STREQ(got.files.head->value.ptr, "/a/b c");
    ASSERT_EQ(got.dirs.count(), 1) << "a folder gone since is not recorded";
    EXPECT_EQ(got.dirs.head->value.ptr, home.path());
    ASSERT_EQ(got.commands.count(), 1);
    EXPECT_STREQ(got.commands.head->value.label.ptr, "Run \\");
    EXPECT_STREQ(got.commands.head->value.command.ptr, "\"/a b\" --x");
}

TEST_F(InstallJob, DamagedJournalIsRefusedAndLeftAlone) {
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(v1, home, &store).job, 0u);
    const char* bad[] = {"", "QMXINFLIGHT 1\nstate pending\nR relative/path\nend 1\n",
                         "QMXINFLIGHT 1\nstate pending\nR /a\nend 2\n", "QMXINFLIGHT 4\nstate pending\nend 0\n",
                         // A record without its registration, a registration without a version, an
                         // escape of a 0, another package's registration.
                         "QMXINFLIGHT 3\nstate committed\nrec ver 1\nend 1\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.test.pkg\nregister\nend 2\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.test.pkg\nregister\nrec ver 1\nrec name a\\00\nend 4\n",
                         "QMXINFLIGHT 3\nstate committed\ncode org.qmx.other\nunregister\nrec ver 1\nend 3\n",
                         "QMXINFLIGHT 1\nstate pending\nM /a\nend 1\n",
                         "QMXINFLIGHT 1\nstate maybe\nend 0\n", "QMXINFLIGHT 1\nstate pending\nend 0\nR /a\n"};
    for (const char* j : bad) {
        ASSERT_TRUE(testutil::writeFile(home.journal(), j, strlen(j)));
        RunResult r = install(v2, home, &store);
        EXPECT_EQ(r.init, (unsigned)eIICannotRead) << j;
        EXPECT_EQ(r.message, home.journal()) << j;
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
    prepareContext(ctx, v2, home, &store);
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
