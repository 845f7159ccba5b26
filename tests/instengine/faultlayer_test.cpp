// The installation engine over the real configuration store. Every file operation of the
// C library failed or killed in turn under the windowless driver (which keeps its store in
// $HOME/.qmx and answers the engine's language questions as the application does), the
// journals such runs leave damaged byte by byte, and two installers of one package at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/journalformat.h"
#include "instengine/journalrecovery.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"

using namespace installtest;
using testutil::scenarioQuoted;

namespace {

// What the driver wrote for one run, and its exit code (-1: killed, or never started).
struct DriverReply {
    int exitCode = -1;
    std::string out;
};

// ---- the fault rig: two packages sharing a base, the user's own files inside and beside
// the installation folder, and the windowless driver through the fault layer ----

const char kCode[] = "org.qmx.test.pkg", kOther[] = "org.qmx.test.other", kShared[] = "org.qmx.test.shared";

// Puts a tree taken by walkFull back below `root` (which must not exist, unless `into`).
bool restoreTree(const std::string& root, const FullTree& t, bool into = false) {
    if (!into && mkdir(root.c_str(), 0755) != 0) return false;
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

// Both packages' records and what lies in the store's folder, as the driver left them;
// the records' times are left out.
std::string storeState(const std::string& home) {
    std::string st;
    FullTree names;
    walkFull(home + "/.qmx", names);
    // Run locks stay by design (empty files; the lock is the open file's, not the name's).
    for (auto& n : names)
        if (n.first.rfind("/running-", 0) != 0) st += n.first + " ";
    cCIAppConfig store;
    bool open = store.openFolder((home + "/.qmx").c_str());
    for (const char* code : {kCode, kOther}) {
        sPkgRegistryRecord r;
        if (!open || !readRegistryRecord(&store, code, r)) continue;
        st += std::string("\n") + code + " ver " + std::to_string(r.ver) + " path " + r.path.ptr;
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

// The trees outside the store's folder, and the store.
typedef std::pair<FullTree, std::string> State;

// Where the package goes: its installation folder, the base both packages share and a
// second base of its own ("" none), each "~/..." below the home folder, "^/..." below the
// folder above it (the home folder then lies below a scratch root of its own, which the
// sweep compares whole), "@/..." below the work folder outside it, or a system path; the
// system folders the sweep then compares (each made beforehand with a file of the user's
// in it). Those need a mount namespace of the sweep's own (privateSystemFolders); "/"
// among them runs the driver in a private root of its own (privateRoot).
struct FaultPlace {
    const char* name;
    std::string folder, opt, share;
    std::vector<std::string> system;
};
const FaultPlace kAppsPlace = {"an applications folder", "~/Applications/Test", "@/opt/qmxtest", "", {}};

class FaultRig {
public:
    // `sideNames`: version 1 also ships "bin/run.bkp" and "share/data/conf.tmp" alone,
    // version 2 "bin/run" and "share/data/conf" in their place.
    explicit FaultRig(const std::string& work, const FaultPlace& place = kAppsPlace, bool sideNames = false)
        : work(work), top(place.folder[0] == '^' ? work + "/root" : work + "/home"),
          home(place.folder[0] == '^' ? top + "/home" : top), elsewhere(work + "/elsewhere"), src(work + "/src"),
          place(place), sideNames(sideNames), root(privateRootOf(work, place)) {
        outside.push_back(elsewhere);
        for (const std::string& f : place.system) outside.push_back(host(f));
    }
    // The private root a place asks for ("" none), and where the work folder is seen in it.
    static std::string privateRootOf(const std::string& work, const FaultPlace& place) {
        return std::find(place.system.begin(), place.system.end(), "/") != place.system.end() ? work + "-root" : "";
    }
    // A path as the driver sees it, where the test finds it (the work folder is the same
    // in the private root).
    std::string host(const std::string& p) const {
        return root.empty() || p.rfind(work + "/", 0) == 0 ? p : p == "/" ? root : root + p;
    }
    ~FaultRig() {
        if (toDriver >= 0) close(toDriver);
        if (replies) fclose(replies);
        if (server > 0) waitpid(server, nullptr, 0);
    }
    // Packages, home folder, driver; then the other package installed (fatal failures).
    void setUp();
    // A step through the driver, faulted at operation `at` as `mode` says (none: no fault,
    // operations counted as "eio" counts them).
    DriverReply run(const FaultStep& step, const char* mode = nullptr, long long at = 0);
    static long long ops(const DriverReply& r) {
        size_t at = r.out.find("ops ");
        return at == std::string::npos ? 0 : atoll(r.out.c_str() + at + 4);
    }
    // The home folder (or the scratch root above it) and the folders outside it (their
    // names begin with "@<n>").
    FullTree full() const {
        FullTree t;
        walkFull(top, t);
        for (size_t i = 0; i < outside.size(); i++)
            walkFull(outside[i], t, "@" + std::to_string(i), outside[i] == root ? mounts() : std::vector<std::string>{});
        return t;
    }
    // The private root's name that the work folder is mounted below: never compared, never restored.
    std::vector<std::string> mounts() const { return {work.substr(1, work.find('/', 1) - 1)}; }
    // Everything but the store's folder, and the store.
    State state() const {
        FullTree t = full();
        const std::string store = inTop("/.qmx");
        for (auto it = t.begin(); it != t.end();) it = it->first.rfind(store, 0) == 0 ? t.erase(it) : std::next(it);
        return State(t, storeState(home));
    }
    bool restore(const FullTree& t) const {
        std::vector<FullTree> trees(outside.size() + 1);
        for (auto& e : t) {
            size_t slash = e.first.find('/');
            size_t i = e.first[0] == '@' ? (size_t)atoi(e.first.c_str() + 1) + 1 : 0;
            if (i < trees.size()) trees[i][e.first.substr(slash)] = e.second;
        }
        bool ok = (removeTree(top.c_str()), restoreTree(top, trees[0]));
        for (size_t i = 0; ok && i < outside.size(); i++) {
            if (outside[i] != root) {
                ok = (removeTree(outside[i].c_str()), restoreTree(outside[i], trees[i + 1]));
                continue;
            }
            FullTree now;
            walkFull(root, now, "", mounts());
            for (auto& e : now)
                if (e.first.find('/', 1) == std::string::npos) removeTree((root + e.first).c_str());
            ok = restoreTree(root, trees[i + 1], true);
        }
        return ok;
    }
    // A place's path as it stands.
    std::string at(const std::string& p) const {
        const char c = p[0];
        return c == '~' ? home + p.substr(1) : c == '^' ? top + p.substr(1) : c == '@' ? elsewhere + p.substr(1) : p;
    }
    // A name of full()'s for a path below the home folder ("/..." from it).
    std::string inTop(const std::string& below) const { return home.substr(top.size()) + below; }
    std::string journal() const { return home + "/.qmx/inflight-" + kCode; }

    const std::string work, top, home, elsewhere, src;
    const FaultPlace place;
    const bool sideNames;
    const std::string root;  // the private root as the test sees it ("" none)
    std::vector<std::string> outside;  // the folder outside the home folder, the place's system folders
    FaultStep install1, update, uninstall, install2, manager, shared;

private:
    int toDriver = -1;
    FILE* replies = nullptr;
    pid_t server = -1;
};

void FaultRig::setUp() {
    const std::string driver = QMX_BINARY_DIR "/installdriver", shim = QMX_BINARY_DIR "/libqmxfaultshim.so";
    ASSERT_TRUE(exists(driver) && exists(shim));
    // Package 1 and 2: a file changed, one removed with its folder, one added, one made
    // executable; files below a base that the other package shares, and below one of its
    // own when the place has one; two menu entries.
    const std::string opt = at(place.opt), share = place.share.empty() ? "" : at(place.share);
    struct File {
        std::string source, target, mode;
    };
    auto package = [&](const char* code, const std::string& ver, std::vector<File> files, const std::string& out) {
        if (sideNames && strcmp(code, kCode) == 0) {
            bool first = ver[0] == '1';
            files.push_back({first ? "sidebkp" : "helper", first ? "$pgm \"bin/run.bkp\"" : "$pgm \"bin/run\"", "644"});
            files.push_back({first ? "sidetmp" : "helper",
                             first ? "$pgm \"share/data/conf.tmp\"" : "$pgm \"share/data/conf\"", "644"});
        }
        std::string s = "[General]\nlangs = ENG\n[Strings]\nopt = " + scenarioQuoted(opt) +
                        "\nshare = " + scenarioQuoted(share) +
                        "\nm1 = \"Test Tool\"\nm2 = \"Test Docs\"\n[Software]\ncodename = \"" + code +
                        "\"\nname = \"Test Pkg\"\n"
                        "version = \"" + ver + "\"\neula = " + scenarioQuoted(src + "/eula.idx") + "\n[Install]\n";
        for (auto& f : files)
            if (!share.empty() || f.target.find("$share") == std::string::npos)
                s += scenarioQuoted(src + "/" + f.source) + " = " + f.target + ", " + f.mode + "\n";
        if (strcmp(code, kCode) == 0)
            s += "[Menu]\n$m1 = $pgm \"bin/tool\", $pgm \"share/icon.png\"\n$m2 = $pgm \"doc/README\", $pgm \"\"\n";
        cSoftPkgScenario scen;
        int line = 0;
        cFileIO o;
        return writeTextFile(src + "/scenario.txt", s) &&
               scen.loadTextConfig((src + "/scenario.txt").c_str(), line) == 0 && o.create(out.c_str()) &&
               scen.saveBinConfig(&o);
    };
    ASSERT_TRUE(makeDirs(src));
    for (auto& f : std::vector<std::pair<std::string, std::string>>{
             {"eula_en.txt", "<text>Use it.</text>\n"}, {"eula.idx", "ENG = \"./eula_en.txt\"\n"},
             {"tool1", "#!/bin/sh\necho 1\n"}, {"tool2", "#!/bin/sh\necho 2\n"}, {"readme", "same in both"},
             {"data1", std::string(70000, 'a')}, {"data2", std::string(5000, 'b')}, {"old", "only in 1"},
             {"new", "only in 2"}, {"conf1", "x=1\n"}, {"conf2", "x=2\n"}, {"helper", "run me"},
             {"other", "the other package's"}, {"sidebkp", "version 1's, at version 2's backup name"},
             {"sidetmp", "version 1's, at version 2's temporary name"}})
        ASSERT_TRUE(writeTextFile(src + "/" + f.first, f.second));
    const std::string p1 = work + "/v1.data", p2 = work + "/v2.data", pOther = work + "/other.data";
    ASSERT_TRUE(package(kCode, "1.0", {{"tool1", "$pgm \"bin/tool\"", "755"}, {"readme", "$pgm \"doc/README\"", "644"},
                                       {"data1", "$pgm \"share/data/big.dat\"", "644"},
                                       {"old", "$pgm \"share/old/x.txt\"", "600"}, {"helper", "$pgm \"bin/helper\"", "644"},
                                       {"conf1", "$opt \"etc/tool.conf\"", "644"},
                                       {"old", "$share \"old.txt\"", "644"}},
                        p1));
    ASSERT_TRUE(package(kCode, "2.0", {{"tool2", "$pgm \"bin/tool\"", "755"}, {"readme", "$pgm \"doc/README\"", "644"},
                                       {"data2", "$pgm \"share/data/big.dat\"", "644"},
                                       {"new", "$pgm \"share/new/y.txt\"", "640"}, {"helper", "$pgm \"bin/helper\"", "755"},
                                       {"conf2", "$opt \"etc/tool.conf\"", "644"},
                                       {"new", "$share \"new.txt\"", "644"}},
                        p2));
    ASSERT_TRUE(package(kOther, "1.0", {{"other", "$pgm \"bin/other\"", "755"}, {"other", "$opt \"etc/other.conf\"", "644"}},
                        pOther));
    // A package that installs three of version 1's files as they are.
    ASSERT_TRUE(package(kShared, "1.0", {{"tool1", "$pgm \"bin/tool\"", "755"}, {"readme", "$pgm \"doc/README\"", "644"},
                                         {"conf1", "$opt \"etc/tool.conf\"", "644"}},
                        work + "/shared.data"));
    // The driver's HOME, with a stand-in for the running program inside a bundle, and the
    // user's own files inside the installation folder (there before it) and beside it.
    const std::string exe = makeStandInBundle(home), folder = at(place.folder);
    ASSERT_TRUE(exists(exe));
    ASSERT_TRUE(makeDirs(host(folder)) && writeTextFile(host(folder) + "/notes.txt", "the user's, inside") &&
                makeDirs(home + "/Applications") &&
                writeTextFile(home + "/Applications/beside.txt", "the user's, beside") &&
                makeDirs(home + "/Documents") && writeTextFile(home + "/Documents/thesis.txt", "the user's"));
    ASSERT_TRUE(makeDirs(elsewhere));
    for (auto& f : place.system)
        ASSERT_TRUE(makeDirs(host(f)) && writeTextFile(host(f) + "/mine.txt", "the user's, in " + f));
    install1 = {"install 1", {"install", p1, folder, exe}};
    update = {"update 1 to 2", {"install", p2, folder, exe}};
    uninstall = {"uninstall", {"uninstall", kCode}};
    install2 = {"install 2", {"install", p2, folder, exe}};
    manager = {"manager start", {"recover"}};
    shared = {"install shared", {"install", work + "/shared.data", folder, exe}};

    // One driver serves all runs, each in a child of its own, through the layer (which
    // leaves the flushes out); a run without a mode is not faulted.
    // LD_PRELOAD is split at blanks and colons, which the build folder's path and TMPDIR may
    // hold: the layer goes by a descriptor that the driver inherits (/proc/self/fd/N), needed
    // only while it starts (its runs are forked, never executed anew). The sanitizer's runtime
    // keeps its name, by which it checks that it was loaded first.
    const std::string asan = sanitizerRuntime();
    ASSERT_EQ(asan.find_first_of(" :"), std::string::npos)
        << "LD_PRELOAD would split " << asan << " at a blank or colon";
    const int layer = open(shim.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(layer, 0) << shim;
    std::vector<std::string> env;
    for (char** e = environ; *e; e++)
        if (strncmp(*e, "HOME=", 5) && strncmp(*e, "XDG_DATA_HOME=", 14) && strncmp(*e, "LD_PRELOAD=", 11))
            env.push_back(*e);
    env.push_back("HOME=" + home);
    env.push_back("LD_PRELOAD=" + (asan.empty() ? "" : asan + " ") + "/proc/self/fd/" + std::to_string(layer));
    env.push_back("QMXFAULT_NOSYNC=1");
    env.push_back("QMXFAULT_READPATH=.data");  // the packages
    if (!root.empty()) env.push_back("QMXDRIVER_ROOT=" + root);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(driver.c_str()), const_cast<char*>("serve"), nullptr};
    int to[2], from[2];
    const bool piped = pipe2(to, O_CLOEXEC) == 0 && pipe2(from, O_CLOEXEC) == 0;
    server = piped ? fork() : -1;
    if (server == 0) {
        dup2(to[0], 0);
        dup2(from[1], 1);
        fcntl(layer, F_SETFD, 0);  // the one descriptor kept across execve
        execve(driver.c_str(), argv, envp.data());
        _exit(127);
    }
    close(layer);
    ASSERT_TRUE(piped);
    ASSERT_GE(server, 0);
    close(to[0]);
    close(from[1]);
    toDriver = to[1];
    replies = fdopen(from[0], "r");
    // The other package, beside this one from the start.
    DriverReply r = run({"install other", {"install", pOther, home + "/Applications/Other", exe}});
    ASSERT_EQ(r.exitCode, 0) << r.out;
}

DriverReply FaultRig::run(const FaultStep& step, const char* mode, long long at) {
    std::string line = std::string(mode ? mode : "eio") + "\t" + std::to_string(mode ? at : 0);
    for (auto& a : step.args) line += "\t" + a;
    line += "\n";
    DriverReply r;
    if (write(toDriver, line.data(), line.size()) != (ssize_t)line.size()) return r;
    char buf[16384];
    while (fgets(buf, sizeof buf, replies)) {
        if (strncmp(buf, "end ", 4) == 0) {
            r.exitCode = atoi(buf + 4);
            break;
        }
        r.out += buf;
    }
    return r;
}

// How one fault mode of the layer is swept.
struct FaultMode {
    const char* name;
    long long first, stride;  // the operations faulted: first, first + stride, ...
    bool killed;              // the run ends at the fault: every kind of next run follows it
    bool completes;           // the faulted run itself must succeed (short writes)
    bool reads;               // the operations are the package's reads (counted apart)
    long long recoverEvery;   // every n-th killed run's next manager start is killed too
    bool oneNext = false;     // a killed run is followed by one kind of next run, in turn
    // Each next run first meets each failed opening and each failed read of the journal.
    bool unreadableNext = false;
};

struct Tally {
    int faults = 0, nexts = 0;
    int unreadable[2] = {0, 0};  // journals met unreadable: pending, committed
    std::string ops;
    bool noMounts = false;  // a place whose mount namespace could not be made: nothing swept
};

// A run that meets the journal it has to resolve unreadable (each opening, then each read
// of it failed in turn) stops before any change, with the journal kept and named and a
// failure's exit code. Every run, the manager's start too, opens and reads it once. The
// runs made; the tree is left as `left` has it.
int unreadableJournal(FaultRig& rig, const FaultStep& next, const FullTree& left, const std::string& what) {
    const std::string text = readTextFile(rig.journal());
    const State before = rig.state();
    int runs = 0;
    for (const char* kind : {"open", "read"}) {
        const std::string mode = std::string(kind) + ":inflight-" + kCode;
        long long n = FaultRig::ops(rig.run(next, mode.c_str(), 0));
        EXPECT_EQ(n, 1) << what << ", " << next.name << " " << kind << "s the journal " << n << " times";
        for (long long k = 1; k <= n; k++, runs++) {
            std::string then = what + ", then " + next.name + " with " + kind + " " + std::to_string(k) + " of " +
                               std::to_string(n) + " of the journal failed";
            EXPECT_TRUE(rig.restore(left)) << then;
            DriverReply r = rig.run(next, mode.c_str(), k);
            EXPECT_EQ(r.exitCode, 1) << then << "\n" << r.out;
            EXPECT_NE(r.out.find(rig.journal()), std::string::npos) << then << ": the journal is not named\n" << r.out;
            EXPECT_EQ(readTextFile(rig.journal()), text) << then;
            State now = rig.state();
            EXPECT_TRUE(now == before) << then << "\ntree differs:" << treeDiff(now.first, before.first)
                                       << "\nstore: " << now.second << "\nwanted: " << before.second;
            if (::testing::Test::HasFailure()) return runs;
        }
    }
    EXPECT_TRUE(rig.restore(left)) << what;
    return runs;
}

// The system folders of a place, in a mount namespace of the calling thread's own (and of
// the driver it starts): /etc and /usr/local/share overlaid with a scratch tmpfs, a tmpfs
// on /mnt; the real ones are never written. 0 done, 1 no namespace may be made (not
// root, or not allowed), 2 a mount failed.
int privateSystemFolders(const std::string& scratch) {
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) return 1;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !makeDirs(scratch) ||
        mount("qmxtest", scratch.c_str(), "tmpfs", 0, "mode=0755") != 0)
        return 2;
    // A path in overlay's options: a backslash before each '\', ',' and ':' (TMPDIR may hold them).
    auto option = [](std::string path) {
        for (size_t at = 0; (at = path.find_first_of("\\,:", at)) != std::string::npos; at += 2)
            path.insert(at, 1, '\\');
        return path;
    };
    int n = 0;
    for (const char* f : {"/etc", "/usr/local/share"}) {
        std::string up = scratch + "/u" + std::to_string(n), wk = scratch + "/w" + std::to_string(n);
        std::string opts = "lowerdir=" + std::string(f) + ",upperdir=" + option(up) + ",workdir=" + option(wk);
        n++;
        if (!makeDirs(up) || !makeDirs(wk) || mount("overlay", f, "overlay", 0, opts.c_str()) != 0) return 2;
    }
    return mount("qmxtest", "/mnt", "tmpfs", 0, "mode=0755") == 0 ? 0 : 2;
}

// A private root for the driver, in a mount namespace of the calling thread's own: a
// scratch tmpfs at `root` with the work folder mounted at its own path in it, so that
// every path but the system's reads the same inside and out. 0 done, 1 no namespace may be
// made, 2 a mount failed.
int privateRoot(const std::string& root, const std::string& work) {
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) return 1;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !makeDirs(root) || !makeDirs(work) ||
        mount("qmxroot", root.c_str(), "tmpfs", 0, "mode=0755") != 0 || !makeDirs(root + work))
        return 2;
    return mount(work.c_str(), (root + work).c_str(), nullptr, MS_BIND, nullptr) == 0 ? 0 : 2;
}

// A fresh installation, an update and an uninstallation, each with the file operations
// failed or the process killed in turn as the mode says, then run again without faults:
// the result must be exactly the unfaulted run's (tree, modes, records, no leftovers;
// the user's files and the other package untouched), and a faulted run reports success
// only when it got there itself. A killed run is also followed by each other kind of next
// run (an uninstallation, the manager's start, the installer after an uninstallation),
// which must end in a clean state too.
// `sideNames`: the rig's packages with files at each other's temporary and backup names;
// `only`: the one step swept (the others run clean all the same, for the states).
void sweep(const std::string& work, const FaultMode& mode, const FaultPlace& place, bool sideNames,
           FaultStep FaultRig::*only, Tally& tally) {
    if (!place.system.empty()) {
        const std::string root = FaultRig::privateRootOf(work, place);
        int made = root.empty() ? privateSystemFolders(work + "-mounts") : privateRoot(root, work);
        ASSERT_NE(made, 2) << "mounts for " << place.name;
        if (made == 1) {
            tally.noMounts = true;
            return;
        }
    }
    FaultRig rig(work, place, sideNames);
    rig.setUp();
    if (::testing::Test::HasFatalFailure()) return;
    auto cleanRun = [&](const FaultStep& step, FullTree& tree, State& st) {
        DriverReply r = rig.run(step);
        EXPECT_EQ(r.exitCode, 0) << step.name << r.out;
        tree = rig.full();
        st = rig.state();
        return FaultRig::ops(r);
    };
    const FullTree initial = rig.full();
    const State s0 = rig.state();
    FullTree a1, a2, u2, scratch;
    State sa1, sa2, su1, su2, sf2;
    long long ops1 = cleanRun(rig.install1, a1, sa1);
    cleanRun(rig.uninstall, scratch, su1);
    ASSERT_TRUE(rig.restore(a1));
    long long ops2 = cleanRun(rig.update, a2, sa2);
    long long ops3 = cleanRun(rig.uninstall, u2, su2);
    cleanRun(rig.install2, scratch, sf2);
    ASSERT_FALSE(::testing::Test::HasFailure());
    // After a killed run, every next run ends in one of the clean states, with the exit
    // code that state asks for (0 when the run did the work, or finished it; 3 when there
    // was none): the installer again in the new installation; an uninstallation with
    // nothing of the package left (or, before it was ever installed, as at the start,
    // with "not installed"); the manager's start in the old installation or the new one.
    // After a killed uninstallation, the uninstallation again with nothing left, the
    // installer in the new installation (with "no update" when the removal was undone).
    struct Next {
        const FaultStep* step;
        std::vector<std::pair<const State*, int> > clean;
    };
    struct Sweep {
        const FaultStep* step;
        const FullTree* before;
        long long ops;
        std::vector<Next> next;  // the first is the only one unless the run is killed
    } sweeps[] = {
        {&rig.install1, &initial, ops1,
         {{&rig.install1, {{&sa1, 0}}},
          {&rig.uninstall, {{&s0, 3}, {&su1, 0}}},
          {&rig.manager, {{&s0, 0}, {&sa1, 0}}}}},
        {&rig.update, &a1, ops2,
         {{&rig.update, {{&sa2, 0}}},
          {&rig.uninstall, {{&su1, 0}, {&su2, 0}}},
          {&rig.manager, {{&sa1, 0}, {&sa2, 0}}}}},
        {&rig.uninstall, &a2, ops3, {{&rig.uninstall, {{&su2, 0}}}, {&rig.install2, {{&sa2, 3}, {&sf2, 0}}}}},
    };
    for (Sweep& sw : sweeps) {
        if (only && sw.step != &(rig.*only)) continue;
        if (mode.reads) {
            // The package's reads, counted in a clean run of their own (an uninstallation has none).
            ASSERT_TRUE(rig.restore(*sw.before));
            sw.ops = FaultRig::ops(rig.run(*sw.step, "read", 0));
            if (sw.step == &rig.uninstall) continue;
        }
        ASSERT_GT(sw.ops, mode.reads ? 2 : 20) << sw.step->name;
        const State& want = *sw.next[0].clean[0].first;
        tally.ops += std::string(tally.ops.empty() ? "" : ", ") + sw.step->name + " " + std::to_string(sw.ops);
        for (long long n = mode.first; n <= sw.ops; n += mode.stride, tally.faults++) {
            std::string what = std::string(sw.step->name) + ", " + mode.name + " at operation " + std::to_string(n) +
                               " of " + std::to_string(sw.ops);
            ASSERT_TRUE(rig.restore(*sw.before)) << what;
            DriverReply faulted = rig.run(*sw.step, mode.name, n);
            // Success is reported only for a complete run; a short write is no failure.
            if (faulted.exitCode == 0 || mode.completes) {
                EXPECT_EQ(rig.state(), want) << what << " reported success";
                EXPECT_EQ(faulted.exitCode, 0) << what << faulted.out;
                if (mode.completes) continue;
            }
            EXPECT_NE(faulted.exitCode, 3) << what << faulted.out;
            FullTree left = rig.full();
            // The same run again has nothing to do only when this one got everything done.
            bool complete = rig.state() == want && !exists(rig.journal());
            // The manager's start resolving the journal, itself killed (before or after an
            // operation) at points of its own run; the same run again then ends clean.
            if (mode.recoverEvery && n % mode.recoverEvery == 0 && exists(rig.journal())) {
                DriverReply resolve = rig.run(rig.manager);
                long long rops = FaultRig::ops(resolve), last = 0;
                for (int p = 1; p <= 4; p++) {
                    long long k = std::max(1LL, rops * p / 4);
                    if (k == last) continue;
                    last = k;
                    const char* kill = p % 2 ? "kill" : "killafter";
                    ASSERT_TRUE(rig.restore(left)) << what;
                    DriverReply cut = rig.run(rig.manager, kill, k);
                    bool done = rig.state() == want && !exists(rig.journal());
                    DriverReply again = rig.run(*sw.step);
                    tally.nexts += 2;
                    std::string then = what + ", then the manager's start, " + kill + " at operation " +
                                       std::to_string(k) + " of " + std::to_string(rops) + ", then " + sw.step->name;
                    EXPECT_EQ(again.exitCode, done ? 3 : 0) << then << "\n" << cut.out << again.out;
                    State now = rig.state();
                    EXPECT_TRUE(now == want) << then << "\ntree differs:" << treeDiff(now.first, want.first)
                                             << "\nstore: " << now.second << "\nwanted: " << want.second;
                    if (::testing::Test::HasFailure()) return;
                }
                ASSERT_TRUE(rig.restore(left)) << what;
            }
            size_t from = mode.oneNext ? (size_t)n % sw.next.size() : 0;
            for (size_t k = from; k < (mode.killed && !mode.oneNext ? sw.next.size() : from + 1); k++) {
                const Next& next = sw.next[k];
                if (k > from) {
                    ASSERT_TRUE(rig.restore(left)) << what;
                }
                if (mode.unreadableNext && exists(rig.journal())) {
                    tally.unreadable[readTextFile(rig.journal()).find("\nstate committed\n") != std::string::npos]++;
                    tally.nexts += unreadableJournal(rig, *next.step, left, what);
                    if (::testing::Test::HasFailure()) return;
                }
                DriverReply again = rig.run(*next.step);
                tally.nexts++;
                std::string then = what + ", then " + next.step->name + "\n" + faulted.out + again.out;
                State now = rig.state();
                // (Two clean states may be alike: the other package's manager copy stays.)
                std::vector<int> codes;
                for (auto& c : next.clean)
                    if (now == *c.first) codes.push_back(k == 0 && complete ? 3 : c.second);
                if (!codes.empty()) {
                    EXPECT_TRUE(std::find(codes.begin(), codes.end(), again.exitCode) != codes.end())
                        << then << "exit code " << again.exitCode << ", wanted " << codes[0];
                } else {
                    const State& c = *next.clean.back().first;
                    const std::string journal = "/.qmx/inflight-" + std::string(kCode);
                    ADD_FAILURE() << then << "journal left: " << (left.count(journal) ? left.at(journal) : "none")
                                  << "\ntree differs:" << treeDiff(now.first, c.first) << "\nstore: " << now.second
                                  << "\nwanted: " << c.second;
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
    // Uninstalled: nothing of the package is left, only the manager's copy and entry.
    for (auto& e : su2.first) {
        bool managers = e.first.find("QMX Software Manager") != std::string::npos ||
                        e.first.find("qmx-softmgr") != std::string::npos || e.first == rig.inTop("/.local") ||
                        e.first == rig.inTop("/.local/share") || e.first == rig.inTop("/.local/share/applications");
        EXPECT_TRUE(initial.count(e.first) || managers) << e.first;
    }
}

// Every operation failed (EIO; ENOSPC that stays) or killed before it; for the rest,
// strides keep the sweep's time: killed after every third operation (from the second),
// short writes from every fifth, EROFS that stays and a single EACCES at every fourth
// (apart by two), every read of the package failed, and the killed run's next
// manager start killed at four points of its own at every ninth operation.
const FaultMode kFaultModes[] = {
    {"eio", 1, 1, false, false, false, 0},      {"enospc", 1, 1, false, false, false, 0},
    {"kill", 1, 1, true, false, false, 9},      {"killafter", 2, 3, true, false, false, 0},
    {"short", 3, 5, false, true, false, 0},     {"erofs", 1, 4, false, false, false, 0},
    {"eacces", 3, 4, false, false, false, 0},   {"read", 1, 1, false, false, true, 0},
    // Killed at every seventh, each next run meeting the journal unreadable first.
    {"kill", 1, 7, true, false, false, 0, false, true},
};

// Every other kind of folder a package may have, each killed before every operation:
// the user's folders and below, the applications folder itself, a hidden folder of home,
// bases in /etc and /usr/local/share, a second disk, the home folder itself and the
// folder above it (the store below the package's folder: it stays, as do the home folder
// and the user's files there), the root folder and a base there (in a private root).
const FaultPlace kOtherPlaces[] = {
    {"Documents/Apps/x, a base in ~/.local/opt", "~/Documents/Apps/x", "~/.local/opt/x", "", {}},
    {"Documents itself, bases in /etc and /usr/local/share", "~/Documents", "/etc/qmxtest", "/usr/local/share/qmxtest",
     {"/etc/qmxtest", "/usr/local/share/qmxtest"}},
    {"the applications folder itself", "~/Applications", "@/opt/qmxtest", "", {}},
    {"a second disk below /mnt", "/mnt/disk/Tools/x", "@/opt/qmxtest", "", {"/mnt/disk"}},
    {"the home folder itself", "~", "@/opt/qmxtest", "", {}},
    {"the folder above the home folder", "^", "@/opt/qmxtest", "", {}},
    {"the root folder itself", "/", "@/opt/qmxtest", "", {"/"}},
    {"a base that is the root folder", "~/Applications/Test", "/", "", {"/"}},
};
const FaultMode kPlaceMode = {"kill", 1, 1, true, false, false, 0, true};

// Each test in a work folder of its own with the application's languages; the rig, where
// the test has one, set up with both packages (the sweep sets one up for each mode).
class FaultLayer : public ::testing::Test {
protected:
    void SetUp() override { useAppLanguages(); }
    FaultRig& setUpRig() {
        myRig.reset(new FaultRig(work.path()));
        myRig->setUp();
        return *myRig;
    }
    testutil::TempDir work;

private:
    std::unique_ptr<FaultRig> myRig;
};

// One piece of the sweep, a test of its own (so that each fits its time on one core, and
// CTest spreads them over the cores): a fault mode on a place, with its rig's packages,
// every step or one.
struct SweepPiece {
    std::string name;
    const FaultMode* mode;
    const FaultPlace* place;
    bool sideNames;
    FaultStep FaultRig::*only;
};

void PrintTo(const SweepPiece& p, std::ostream* os) { *os << p.name; }

// A test name's part from a description: its letters and digits, "_" between words.
std::string nameOf(const std::string& text) {
    std::string n;
    for (char c : text)
        if ((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))
            n += c;
        else if (!n.empty() && n.back() != '_')
            n += '_';
    while (!n.empty() && n.back() == '_') n.pop_back();
    return n;
}

const std::pair<const char*, FaultStep FaultRig::*> kSteps[] = {
    {"install", &FaultRig::install1}, {"update", &FaultRig::update}, {"uninstall", &FaultRig::uninstall}};

// Every mode on the applications folder, killed before every operation in every other
// place, and every mode on the update over the earlier version's files at its side names.
// A mode that follows each killed run with every kind of next run sweeps a step a piece.
std::vector<SweepPiece> sweepPieces() {
    std::vector<SweepPiece> pieces;
    for (const FaultMode& m : kFaultModes) {
        std::string name = nameOf(std::string(m.name) + (m.unreadableNext ? " the journal unreadable next" : ""));
        if (!m.killed || m.oneNext)
            pieces.push_back({name, &m, &kAppsPlace, false, nullptr});
        else
            for (auto& step : kSteps) pieces.push_back({name + "_" + step.first, &m, &kAppsPlace, false, step.second});
        pieces.push_back({"side_names_" + name, &m, &kAppsPlace, true, &FaultRig::update});
    }
    for (const FaultPlace& p : kOtherPlaces)
        pieces.push_back({nameOf(std::string("kill ") + p.name), &kPlaceMode, &p, false, nullptr});
    return pieces;
}

class FaultSweep : public FaultLayer, public ::testing::WithParamInterface<SweepPiece> {};

TEST_P(FaultSweep, EveryFailedOrKilledFileOperationEndsInTheOldOrTheNewInstallation) {
    const SweepPiece& piece = GetParam();
    const FaultMode& mode = *piece.mode;
    Tally tally;
    // On a thread of its own: a place's mount namespace goes with it.
    std::thread([&] { sweep(work.path() + "/sweep", mode, *piece.place, piece.sideNames, piece.only, tally); }).join();
    RecordProperty("operations", tally.ops);
    RecordProperty("faults", tally.faults);
    RecordProperty("next runs", tally.nexts);
    if (HasFailure()) return;
    // (tests/ci_skips.txt's root lines)
    if (tally.noMounts) GTEST_SKIP() << "a mount namespace of its own takes the superuser";
    if (mode.unreadableNext) {
        EXPECT_TRUE(tally.unreadable[0] > 0 && tally.unreadable[1] > 0)
            << "an unreadable journal met pending " << tally.unreadable[0] << " and committed " << tally.unreadable[1]
            << " times";
    }
    // Each step swept has a hundred operations at least (an uninstallation fifty; an
    // installation four reads of the package, an uninstallation none), every stride-th of
    // them faulted.
    int least = 0;
    for (auto& step : kSteps)
        if (!piece.only || piece.only == step.second)
            least += step.second == &FaultRig::uninstall ? (mode.reads ? 0 : 50) : mode.reads ? 4 : 100;
    EXPECT_GE(tally.faults, least / mode.stride) << tally.ops;
}

INSTANTIATE_TEST_SUITE_P(FaultLayer, FaultSweep, ::testing::ValuesIn(sweepPieces()),
                         [](const ::testing::TestParamInfo<SweepPiece>& p) { return p.param.name; });

// Every record's files that are missing ("" when none), and with `journals` the journals
// left in the store's folder.
std::string lostFiles(const std::string& home, bool journals = true) {
    std::string lost;
    cCIAppConfig store;
    bool open = store.openFolder((home + "/.qmx").c_str());
    for (const char* code : {kCode, kOther, kShared}) {
        sPkgRegistryRecord r;
        if (open && readRegistryRecord(&store, code, r))
            for (const char* f : r.files)
                if (!exists(f)) lost += std::string(" ") + code + ":" + f;
    }
    FullTree names;
    walkFull(home + "/.qmx", names);
    for (auto& n : names)
        if (journals && n.first.find("/inflight-") != std::string::npos) lost += " journal " + n.first;
    return lost;
}

// Two packages that share three files, each installation killed at points of its own, the
// second after the first (which it finds interrupted, pending or committed), in either
// order; the next run (the manager's start, the first installation, the second package's
// uninstallation) resolves what is left, and each installation again ends clean. No
// record ever lists a file that is not there, and no journal is left.
TEST_F(FaultLayer, TwoInterruptedPackagesSharingFilesLoseNone) {
    FaultRig& rig = setUpRig();
    ASSERT_FALSE(HasFatalFailure());
    const FullTree initial = rig.full();
    const int kPoints = 7;
    int runs = 0, states[2][2] = {};  // the first run's journal: pending, committed
    for (int order = 0; order < 2; order++) {
        const FaultStep& first = order ? rig.shared : rig.install1;
        const FaultStep& second = order ? rig.install1 : rig.shared;
        const FaultStep removeSecond = {"its uninstallation", {"uninstall", order ? kCode : kShared}};
        ASSERT_TRUE(rig.restore(initial));
        DriverReply clean = rig.run(first);
        long long ops1 = FaultRig::ops(clean);
        ASSERT_GT(ops1, 10) << clean.out;
        for (int i = 0; i < kPoints; i++) {
            long long a = 1 + ops1 * i / kPoints;
            ASSERT_TRUE(rig.restore(initial));
            rig.run(first, "kill", a);
            const std::string j = readTextFile(rig.home + "/.qmx/inflight-" + (order ? kShared : kCode));
            if (!j.empty()) states[order][j.find("\nstate committed\n") != std::string::npos]++;
            const FullTree left = rig.full();
            long long ops2 = FaultRig::ops(rig.run(second));
            for (int k = 0; k < kPoints; k++) {
                long long b = 1 + ops2 * k / kPoints;
                std::string what = std::string(first.name) + " killed at " + std::to_string(a) + " of " +
                                   std::to_string(ops1) + ", " + second.name + " at " + std::to_string(b) + " of " +
                                   std::to_string(ops2);
                ASSERT_TRUE(rig.restore(left)) << what;
                rig.run(second, "kill", b);
                // The next run in turn: the manager's start, the first installation again,
                // the second package's uninstallation.
                const FaultStep* next = k % 3 == 0 ? &rig.manager : k % 3 == 1 ? &first : &removeSecond;
                DriverReply r = rig.run(*next);
                EXPECT_TRUE(r.exitCode == 0 || (r.exitCode == 3 && next != &rig.manager)) << what << ", " << r.out;
                EXPECT_EQ(lostFiles(rig.home, next == &rig.manager), "") << what << ", after " << next->name;
                for (const FaultStep* next : {&first, &second}) {
                    DriverReply r = rig.run(*next);
                    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << what << ", then " << next->name << r.out;
                }
                EXPECT_EQ(lostFiles(rig.home), "") << what << ", after both again";
                std::string st = storeState(rig.home);
                EXPECT_NE(st.find(kCode), std::string::npos) << what;
                runs++;
                if (HasFailure()) return;
            }
        }
    }
    RecordProperty("runs", runs);
    for (auto& s : states) EXPECT_TRUE(s[0] > 0 && s[1] > 0) << "the first left a pending and a committed journal";
}

// The rig's trees before the package, once installed and once updated (each run clean),
// with the operations the installation and the update made.
struct Stages {
    FullTree initial, a1, a2;
    long long ops1 = 0, ops2 = 0;
};
Stages installAndUpdate(FaultRig& rig) {
    Stages st;
    st.initial = rig.full();
    st.ops1 = FaultRig::ops(rig.run(rig.install1));
    st.a1 = rig.full();
    st.ops2 = FaultRig::ops(rig.run(rig.update));
    st.a2 = rig.full();
    return st;
}

// ---- journals of real runs, damaged ----

// File operations that count what they change (and change it).
class CountingFS : public cInstallFS {
public:
    long long changes = 0;
    int createExclusive(const char* p, int m) override { return changes++, cInstallFS::createExclusive(p, m); }
    bool write(int fd, const void* d, long long n) override { return changes++, cInstallFS::write(fd, d, n); }
    bool writeAt(int fd, const void* d, long long n, unsigned long long at) override {
        return changes++, cInstallFS::writeAt(fd, d, n, at);
    }
    bool chmod(int fd, int mode) override { return changes++, cInstallFS::chmod(fd, mode); }
    bool rename(const char* a, const char* b) override { return changes++, cInstallFS::rename(a, b); }
    bool unlink(const char* p) override { return changes++, cInstallFS::unlink(p); }
    bool mkdir(const char* p) override { return changes++, cInstallFS::mkdir(p); }
    bool rmdir(const char* p) override { return changes++, cInstallFS::rmdir(p); }
};

// Journals left by real runs killed on the way (pending and committed, of a first
// installation, an update and an uninstallation), each truncated at every length, with
// every bit flipped and with other values at every byte (every value at every 64th),
// recovered as the manager's start does: each is refused with nothing touched but the
// journal, set aside, or ends exactly as the intact journal does. Hand-written journals naming the user's files, the other
// package's or a folder beside the package's are refused and change nothing.
TEST_F(FaultLayer, DamagedJournalsAreRefusedOrEndAsTheIntactOnes) {
    FaultRig& rig = setUpRig();
    ASSERT_FALSE(HasFatalFailure());
    struct Harvest {
        std::string name, journal;
        FullTree left;
    };
    std::vector<Harvest> journals;
    const Stages st = installAndUpdate(rig);
    const FullTree &initial = st.initial, &a1 = st.a1, &a2 = st.a2;
    long long ops1 = st.ops1, ops2 = st.ops2, ops3 = FaultRig::ops(rig.run(rig.uninstall));
    struct {
        const FaultStep* step;
        const FullTree* before;
        long long ops;
    } steps[] = {{&rig.install1, &initial, ops1}, {&rig.update, &a1, ops2}, {&rig.uninstall, &a2, ops3}};
    for (auto& s : steps) {
        bool have[2] = {false, false};
        for (long long n = 1; n <= s.ops && !(have[0] && have[1]); n += std::max(1LL, s.ops / 24)) {
            ASSERT_TRUE(rig.restore(*s.before));
            rig.run(*s.step, "kill", n);
            std::string j = exists(rig.journal()) ? readTextFile(rig.journal()) : "";
            bool committed = j.find("\nstate committed\n") != std::string::npos;
            if (j.empty() || have[committed]) continue;
            have[committed] = true;
            journals.push_back({std::string(s.step->name) + (committed ? ", committed" : ", pending"), j, rig.full()});
        }
    }
    ASSERT_EQ(journals.size(), 6u);

    testutil::EnvScope homeVar("HOME", rig.home), dataVar("XDG_DATA_HOME", nullptr);
    struct Outcome {
        bool ok = false;
        int outcome = 0;
        long long changes = 0;
    };
    auto recover = [&](Outcome& o) {
        CountingFS fs;
        cCIAppConfig store;
        sRecoveryReport report;
        o.ok = store.openFolder((rig.home + "/.qmx").c_str()) &&
               recoverInterrupted(rig.journal().c_str(), &fs, nullptr, &store, &report);
        o.outcome = report.outcome;
        o.changes = fs.changes;
    };
    const std::string journalKey = "/.qmx/inflight-" + std::string(kCode);
    long long refused = 0, accepted = 0;
    for (const Harvest& h : journals) {
        SCOPED_TRACE(h.name);
        ASSERT_TRUE(rig.restore(h.left));
        Outcome intact;
        recover(intact);
        ASSERT_TRUE(intact.ok);
        const State intactEnd = rig.state();
        const bool intactLeft = exists(rig.journal());
        const std::string& j = h.journal;
        // Each damage is made in the journal's file in place (a changed byte, or the file
        // cut short) and taken back after a refusal; after anything else the whole tree
        // is put back.
        bool dirty = true;
        long long spot = 0;
        int fd = -1;
        auto check = [&](long long cut, size_t at, unsigned char value, const std::string& what) {
            if (dirty) {
                if (fd >= 0) close(fd);
                ASSERT_TRUE(rig.restore(h.left));
                fd = open(rig.journal().c_str(), O_RDWR | O_CLOEXEC);
                ASSERT_GE(fd, 0);
                dirty = false;
            }
            ASSERT_TRUE(cut >= 0 ? ftruncate(fd, cut) == 0 : pwrite(fd, &value, 1, (off_t)at) == 1) << what;
            Outcome o;
            recover(o);
            // Everything a recovery changes goes through its file operations (the journal
            // itself goes only by them) or comes after them: a refusal only sets it aside.
            if (o.ok && o.outcome == sRecoveryReport::eRefused && o.changes == 1 && !exists(rig.journal())) {
                refused++;
                // Now and then the whole tree says so too.
                if (++spot % 97 == 0) {
                    std::string text = cut >= 0 ? j.substr(0, (size_t)cut) : j;
                    if (cut < 0) text[at] = (char)value;
                    FullTree want = h.left, now = rig.full();
                    want[journalKey + ".refused"] = want[journalKey].substr(0, 6) + text;
                    want.erase(journalKey);
                    EXPECT_EQ(treeDiff(now, want), "") << what;
                }
                // Taken back: the open file is the one set aside.
                ASSERT_EQ(rename((rig.journal() + ".refused").c_str(), rig.journal().c_str()), 0);
                ASSERT_TRUE(cut >= 0 ? pwrite(fd, j.data(), j.size(), 0) == (ssize_t)j.size()
                                     : pwrite(fd, j.data() + at, 1, (off_t)at) == 1);
                return;
            }
            accepted++;
            dirty = true;
            EXPECT_EQ(o.ok, intact.ok) << what;
            EXPECT_EQ(exists(rig.journal()), intactLeft) << what;
            State now = rig.state();
            EXPECT_TRUE(now == intactEnd) << what << "\ntree differs:" << treeDiff(now.first, intactEnd.first)
                                          << "\nstore: " << now.second << "\nwanted: " << intactEnd.second;
        };
        for (size_t len = 0; len < j.size() && !HasFailure(); len++)
            check((long long)len, 0, 0, "cut at " + std::to_string(len));
        for (size_t i = 0; i < j.size() && !HasFailure(); i++) {
            unsigned char b = (unsigned char)j[i];
            std::vector<unsigned char> values;
            for (int bit = 0; bit < 8; bit++) values.push_back((unsigned char)(b ^ (1 << bit)));
            // And other values: the neighbours and two characters of the format's in turn;
            // at every 64th byte every value.
            static const char kFormat[] = "\n /0123456789abcdefRNOMDEQS";
            const size_t n = sizeof kFormat - 1;
            std::vector<unsigned char> more = {(unsigned char)(b + 1), (unsigned char)(b - 1),
                                               (unsigned char)kFormat[i % n], (unsigned char)kFormat[(i * 7 + 3) % n]};
            for (int v = 0; i % 64 == 0 && v < 256; v++) more.push_back((unsigned char)v);
            for (unsigned char v : more)
                if (v != b && std::find(values.begin(), values.end(), v) == values.end()) values.push_back(v);
            for (unsigned char v : values) check(-1, i, v, "byte " + std::to_string(i) + " set to " + std::to_string(v));
        }
        if (fd >= 0) close(fd);
    }
    RecordProperty("refused", (int)refused);
    RecordProperty("accepted", (int)accepted);

    // Hand-written journals (the older form, without a digest) that name the other
    // package's file, against the updated installation beside it.
    ASSERT_TRUE(rig.restore(a2));
    const std::string h = rig.home;
    const std::string cases[] = {
        "state committed\nO " + h + "/Applications/Other/bin/other\nend 1\n",
    };
    for (const std::string& c : cases) {
        const std::string text = "QMXINFLIGHT 3\n" + c;
        ASSERT_TRUE(writeTextFile(rig.journal(), text));
        Outcome o;
        recover(o);
        EXPECT_EQ(o.outcome, (int)sRecoveryReport::eRefused) << c;
        EXPECT_EQ(readTextFile(rig.journal() + ".refused"), text) << c;
        ASSERT_EQ(unlink((rig.journal() + ".refused").c_str()), 0);
        FullTree want = a2, now = rig.full();
        EXPECT_EQ(treeDiff(now, want), "") << c;
    }
}

// ---- a journal set aside: what its run left beside the package's files ----

// Whether a path is a name beside a file: "<file>.tmp" or "<file>.bkp".
bool sideName(const std::string& p) {
    size_t n = p.size();
    return n > 4 && (p.compare(n - 4, 4, ".tmp") == 0 || p.compare(n - 4, 4, ".bkp") == 0);
}

// What of `initial` (the user's files, the other package, all outside the store's folder)
// is gone or changed, and every name beside a file below the trees (but those of the
// manager's copy and entry, unless `manager`): "" when none.
std::string lostOrLeft(const FullTree& now, const FullTree& initial, bool manager = true) {
    std::string d;
    for (auto& e : initial) {
        auto it = now.find(e.first);
        if (e.first.rfind("/.qmx", 0) != 0 && (it == now.end() || it->second != e.second)) d += " lost:" + e.first;
    }
    for (auto& e : now)
        if (sideName(e.first) && (manager || (e.first.find("/QMX Software Manager.app/") == std::string::npos &&
                                              e.first.find("/qmx-softmgr-") == std::string::npos)))
            d += " left:" + e.first;
    return d;
}

// The names a refused run says stay: its "left" lines, else the installer's message path.
std::vector<std::string> namedLeftovers(const std::string& out) {
    std::vector<std::string> names;
    std::string checked;
    size_t at = 0;
    for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = out.substr(at, end - at);
        size_t space = line.rfind(' ');
        if (line.rfind("left ", 0) == 0) names.push_back(line.substr(5));
        if (line.rfind("checks ", 0) == 0 && space != std::string::npos) checked = line.substr(space + 1);
    }
    if (names.empty() && !checked.empty()) names.push_back(checked);
    return names;
}

// With a journal of the package set aside since its registration, with none, and after an
// uninstallation that followed one: the user's own "<target>.bkp" and "<target>.tmp"
// beside a changed file, an unchanged one and one in the package's base (and an empty
// "<target>.tmp") keep their content whatever runs next, and the first run they stop names
// all of them (but, without a set-aside journal, those beside files it leaves as they are).
// And what a killed run left, its journal then damaged, is taken
// where the package shows it is the run's (a temporary file holding the start of its item,
// an uninstallation's backup of the version installed) and named otherwise (an update's
// backup of the earlier version, a temporary file of a file only the new version has, in a
// folder it made): all of it by the first run that stops, so that once the named ones are
// moved away as the message asks, the next run ends with nothing of the user's lost and no
// such name left. An update is killed at every operation before an uninstallation.
TEST_F(FaultLayer, JournalSetAsideTakesNoFileOfTheUsers) {
    FaultRig& rig = setUpRig();
    ASSERT_FALSE(HasFatalFailure());
    const Stages st = installAndUpdate(rig);
    const FullTree &initial = st.initial, &a1 = st.a1, &a2 = st.a2;
    const std::string folder = rig.at(rig.place.folder), opt = rig.at(rig.place.opt);
    auto setAside = [&] {
        // Its digest does not match: refused at the manager's start.
        ASSERT_TRUE(writeTextFile(rig.journal(), "QMXINFLIGHT 4\nstate pending\nend 0\nsha256 " + std::string(64, '0') + "\n"));
        DriverReply r = rig.run(rig.manager);
        ASSERT_NE(r.out.find("set aside " + rig.journal() + ".refused"), std::string::npos) << r.out;
    };
    std::map<std::string, std::string> planted;
    for (const std::string& t : {folder + "/bin/tool", folder + "/doc/README", opt + "/etc/tool.conf"})
        for (const char* suffix : {".bkp", ".tmp"}) planted[t + suffix] = "the user's own " + t + suffix;
    planted[folder + "/share/data/big.dat.tmp"] = "";
    struct {
        const char* name;
        std::function<void()> arrange;
        std::vector<const FaultStep*> next;
        bool allNamed;  // by the first run that stops (else only those beside files it writes)
    } situations[] = {
        {"a journal set aside since the registration", [&] { rig.restore(a1), setAside(); }, {&rig.update, &rig.uninstall},
         true},
        {"no journal set aside", [&] { rig.restore(a1); }, {&rig.update, &rig.uninstall}, false},
        {"after an uninstallation", [&] { rig.restore(a1), setAside(), rig.run(rig.uninstall); },
         {&rig.install1, &rig.update}, true},
    };
    for (auto& sit : situations)
        for (const FaultStep* next : sit.next) {
            std::string what = std::string(sit.name) + ", then " + next->name;
            sit.arrange();
            ASSERT_FALSE(HasFatalFailure()) << what;
            for (auto& p : planted)
                ASSERT_TRUE(makeDirs(p.first.substr(0, p.first.rfind('/'))) && writeTextFile(p.first, p.second)) << what;
            DriverReply r = rig.run(*next);
            for (auto& p : planted)
                EXPECT_TRUE(exists(p.first) && readTextFile(p.first) == p.second) << what << ": " << p.first << "\n" << r.out;
            // What stays in the way is named; once the user moved it, the run ends clean.
            if (r.exitCode == 1) {
                std::vector<std::string> names = namedLeftovers(r.out);
                std::map<std::string, std::string> named;
                for (auto& n : names) named[n] = planted.count(n) ? planted[n] : "(not planted)";
                if (sit.allNamed)
                    EXPECT_EQ(named, planted) << what << "\n" << r.out;
                else
                    EXPECT_EQ(planted.count(names.at(0)), 1u) << what << "\n" << r.out;
            }
            for (auto& p : planted) unlink(p.first.c_str());
            r = rig.run(*next);
            EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << what << "\n" << r.out;
            EXPECT_EQ(lostOrLeft(rig.full(), initial), "") << what;
        }

    struct {
        const FaultStep* step;
        const FullTree* before;
        const FaultStep* next;
        bool everyOperation;
    } crashes[] = {{&rig.install1, &initial, &rig.install1, false},
                   {&rig.update, &a1, &rig.update, false},
                   {&rig.update, &a1, &rig.uninstall, true},
                   {&rig.uninstall, &a2, &rig.install2, false},
                   {&rig.uninstall, &a2, &rig.uninstall, false}};
    int taken = 0, named = 0;
    for (auto& c : crashes) {
        ASSERT_TRUE(rig.restore(*c.before));
        long long ops = FaultRig::ops(rig.run(*c.step));
        for (long long n = 1; n <= ops; n += c.everyOperation ? 1 : std::max(1LL, ops / 16)) {
            std::string what = std::string(c.step->name) + " killed at " + std::to_string(n) + " of " +
                               std::to_string(ops) + ", its journal damaged, then " + c.next->name;
            ASSERT_TRUE(rig.restore(*c.before)) << what;
            rig.run(*c.step, "kill", n);
            std::string j = exists(rig.journal()) ? readTextFile(rig.journal()) : "";
            if (j.size() < 2) continue;
            j[j.size() - 2] = j[j.size() - 2] == '0' ? '1' : '0';  // the digest's last digit
            ASSERT_TRUE(writeTextFile(rig.journal(), j)) << what;
            int left = 0;
            for (auto& e : rig.full()) left += sideName(e.first);
            DriverReply r;
            for (int tries = 0; (r = rig.run(*c.next)).exitCode == 1; tries++) {
                std::vector<std::string> names = namedLeftovers(r.out);
                ASSERT_TRUE(!names.empty() && tries == 0) << what << "\n" << r.out;
                for (const std::string& name : names) {
                    ASSERT_TRUE(sideName(name)) << what << "\n" << r.out;
                    EXPECT_EQ(unlink(name.c_str()), 0) << what << ": " << name;
                    named++, left--;
                }
            }
            EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << what << "\n" << r.out;
            // The manager's copy is the program's: the next installation replaces what a
            // killed one left of it.
            EXPECT_EQ(lostOrLeft(rig.full(), initial, c.next != &rig.uninstall), "") << what;
            taken += left;
            if (HasFailure()) return;
        }
    }
    RecordProperty("taken", taken);
    RecordProperty("named", named);
    EXPECT_GT(taken, 0);
    EXPECT_GT(named, 0);
}

// What an uninstallation said: its result, the names it says stay and the packages it
// kept files for.
struct Uninstalled {
    int result = -1;
    std::set<std::string> left, keptFor;
};
Uninstalled uninstalled(const DriverReply& r) {
    Uninstalled u;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("uninstall ", 0) == 0)
            u.result = atoi(line.c_str() + 10);
        else if (line.rfind("left ", 0) == 0)
            u.left.insert(line.substr(5));
        else if (line.rfind("kept for ", 0) == 0)
            u.keptFor.insert(line.substr(9));
    return u;
}

// An uninstallation from the state `before` killed after its commit: `commit` comes as a
// guess of the first operation past it (the search goes down or up from there) and goes
// back as that operation. The kill is made `later` operations after it where the journal
// still stands then, else right after it; the operation it was made after is returned
// and the tree is left as the kill left it.
long long killUninstallPastCommit(FaultRig& rig, const FullTree& before, long long& commit, long long later = 0) {
    auto killedAfter = [&](long long k) {
        rig.restore(before);
        bool killed = rig.run(rig.uninstall, "killafter", k).exitCode == -1;
        std::string j = exists(rig.journal()) ? readTextFile(rig.journal()) : "";
        if (!j.empty())
            return j.find("\nunregister\n") != std::string::npos && j.find("\nstate committed\n") != std::string::npos;
        return !killed || storeState(rig.home).find(std::string("\n") + kCode + " ver") == std::string::npos;
    };
    long long& c = commit;
    long long last;
    c = std::max(1LL, c);
    if (killedAfter(last = c))
        while (c > 1 && killedAfter(last = c - 1)) c--;
    else
        while (!killedAfter(last = ++c)) {
        }
    if (later > 0 && killedAfter(last = c + later) && exists(rig.journal())) return c + later;
    if (last != c) killedAfter(c);
    return c;
}

// A removal killed past its commit is finished by the next uninstallation, which answers as
// the killed one would have. Behind a journal set aside (an update killed at every
// operation, its journal damaged, then an uninstallation killed at points of its finish):
// every name that stays beside the package's files is named, and the package is called
// removed only when none stays. Beside a package that installs three of its files (the
// uninstallation killed after each operation past its commit): the files kept for that
// package are said to be, as an uninstallation that was never killed says.
TEST_F(FaultLayer, FinishedUninstallationNamesWhatStays) {
    FaultRig& rig = setUpRig();
    ASSERT_FALSE(HasFatalFailure());
    const Stages st = installAndUpdate(rig);
    // Every side name in the tree but those of the manager's copy and entry, as a path.
    auto sideNames = [&] {
        std::set<std::string> names;
        for (auto& e : rig.full()) {
            if (!sideName(e.first) || e.first.find("/QMX Software Manager.app/") != std::string::npos ||
                e.first.find("/qmx-softmgr-") != std::string::npos)
                continue;
            size_t slash = e.first.find('/');
            names.insert(e.first[0] == '@' ? rig.outside[(size_t)atoi(e.first.c_str() + 1)] + e.first.substr(slash)
                                           : rig.top + e.first);
        }
        return names;
    };
    long long commit = 1, chains = 0, named = 0, kept = 0;
    for (long long n = 1; n <= st.ops2; n++) {
        std::string what = "update killed at " + std::to_string(n) + " of " + std::to_string(st.ops2);
        ASSERT_TRUE(rig.restore(st.a1)) << what;
        rig.run(rig.update, "kill", n);
        std::string j = exists(rig.journal()) ? readTextFile(rig.journal()) : "";
        if (j.size() < 2) continue;
        j[j.size() - 2] = j[j.size() - 2] == '0' ? '1' : '0';  // the digest's last digit
        ASSERT_TRUE(writeTextFile(rig.journal(), j)) << what;
        const FullTree damaged = rig.full();
        long long k = killUninstallPastCommit(rig, damaged, commit, n % 5 * 4);
        what += ", its journal damaged, an uninstallation killed after operation " + std::to_string(k);
        Uninstalled u = uninstalled(rig.run(rig.uninstall));
        const std::set<std::string> stays = sideNames();
        EXPECT_EQ(u.left, stays) << what;
        EXPECT_EQ(u.result, stays.empty() ? (int)eUNRemoved : (int)eUNDeregistered) << what;
        for (const std::string& name : u.left) unlink(name.c_str());
        EXPECT_EQ(lostOrLeft(rig.full(), st.initial, false), "") << what;
        chains++, named += (long long)u.left.size();
        if (HasFailure()) return;
    }
    EXPECT_GT(named, 0);

    // The package beside one that installs three of its files as they are.
    ASSERT_TRUE(rig.restore(st.a1));
    ASSERT_EQ(rig.run(rig.shared).exitCode, 0);
    const FullTree both = rig.full();
    DriverReply clean = rig.run(rig.uninstall);
    const Uninstalled never = uninstalled(clean);
    const State removed = rig.state();
    ASSERT_EQ(never.result, (int)eUNRemoved) << clean.out;
    ASSERT_EQ(never.keptFor, std::set<std::string>{"Test Pkg"}) << clean.out;
    long long first = FaultRig::ops(clean) / 2;
    killUninstallPastCommit(rig, both, first);
    for (long long k = first;; k++) {
        std::string what = "beside a package sharing files, the uninstallation killed after operation " + std::to_string(k);
        ASSERT_TRUE(rig.restore(both)) << what;
        rig.run(rig.uninstall, "killafter", k);
        if (!exists(rig.journal())) break;
        DriverReply r = rig.run(rig.uninstall);
        Uninstalled u = uninstalled(r);
        EXPECT_EQ(u.result, never.result) << what << "\n" << r.out;
        EXPECT_EQ(u.keptFor, never.keptFor) << what << "\n" << r.out;
        EXPECT_EQ(u.left, never.left) << what << "\n" << r.out;
        EXPECT_TRUE(rig.state() == removed) << what;
        chains++, kept++;
        if (HasFailure()) return;
    }
    RecordProperty("chains", (int)chains);
    RecordProperty("named", (int)named);
    EXPECT_GT(kept, 0);
}

// The store folder's lock that cannot be taken (its opening failed, at the start's checks
// or at the job's start): the run stops before any change, naming the folder, and a
// manager's start then finds nothing of it to undo.
TEST_F(FaultLayer, StoreLockThatCannotBeTakenStopsTheRun) {
    FaultRig& rig = setUpRig();
    ASSERT_FALSE(HasFatalFailure());
    const Stages st = installAndUpdate(rig);
    struct {
        const FaultStep* step;
        const FullTree* before;
        int locks;
    } runs[] = {{&rig.install1, &st.initial, 2}, {&rig.update, &st.a1, 2}, {&rig.uninstall, &st.a2, 1}};
    for (auto& run : runs)
        for (int k = 1; k <= run.locks; k++) {
            std::string what = std::string(run.step->name) + ", the store folder's opening " + std::to_string(k) + " failed";
            ASSERT_TRUE(rig.restore(*run.before)) << what;
            const State before = rig.state();
            DriverReply r = rig.run(*run.step, "open:/.qmx", k);
            EXPECT_EQ(r.exitCode, 1) << what << "\n" << r.out;
            EXPECT_NE(r.out.find(rig.home + "/.qmx\n"), std::string::npos) << what << "\n" << r.out;
            EXPECT_TRUE(rig.state() == before) << what;
            DriverReply m = rig.run(rig.manager);
            EXPECT_EQ(m.exitCode, 0) << what << "\n" << m.out;
            State now = rig.state();
            EXPECT_TRUE(now == before) << what << ", then the manager's start\ntree differs:"
                                       << treeDiff(now.first, before.first);
        }
}

// A journal that the manager's start has no memory to hold is kept and said to be
// unreadable, as one whose reading failed: it is not taken for damaged and set aside.
// Each allocation of the driver is capped through the sanitizer's allocator; the lines are
// so short that holding them takes more than the text, so the cap falls on the parsing.
TEST(ManagersStart, JournalWithoutMemoryToHoldItStays) {
    if (sanitizerRuntime().empty()) GTEST_SKIP() << "allocations are capped through the sanitizer's allocator";
    testutil::TempDir home;
    const std::string journal = home.path() + "/.qmx/inflight-" + kCode;
    sJournal j;
    for (int i = 0; i < (1 << 19) + 1000; i++) ASSERT_TRUE(j.add(eLineNew, "/a/b", true));  // 4 MiB of text
    ASSERT_EQ(saveJournal(journal.c_str(), j, false), eJournalSaved);
    const std::string text = readTextFile(journal);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    if (child == 0) {
        // The runtime reads the three in turn, and these options are common to them.
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* was = getenv(name);
            std::string cap = std::string(was ? was : "") + ":allocator_may_return_null=1:max_allocation_size_mb=6";
            setenv(name, cap.c_str(), 1);
        }
        setenv("HOME", home.path().c_str(), 1);
        dup2(out[1], 1);
        execl(QMX_BINARY_DIR "/installdriver", "installdriver", "recover", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string said;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) said.append(buf, (size_t)n);
    close(out[0]);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << said;
    EXPECT_NE(said.find("unreadable " + journal + "\n"), std::string::npos) << said;
    EXPECT_EQ(readTextFile(journal), text);
    EXPECT_FALSE(exists(journal + ".refused"));
}

// Two installers of one package at once, each with its own view of the store as two
// processes have: the second refuses while the first runs (it took the first one's files
// over and wrote a record that listed none of the folders the first made, which an
// uninstallation then left behind), another process finds the package held too, and once
// the first has ended the next one starts.
TEST(TwoInstallers, SecondAndAnUninstallationRefuseWhileTheFirstRuns) {
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
        // An uninstallation while the installer runs would take its journal for an
        // interrupted run's: it waits for the installer's end instead.
        EXPECT_EQ(uninstallPackage(&stores[3]), (unsigned)eUNBusy);
        EXPECT_TRUE(installtest::exists(home.installFolder() + "/bin/tool"));
    }
    sPkgRegistryRecord rec;
    ASSERT_TRUE(readRegistryRecord(&stores[2], "org.qmx.test.pkg", rec));
    const std::vector<std::string> dirs = installtest::listed(rec.dirs);
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), home.installFolder()), dirs.end()) << "the record lists what was made";
    {
        sPkgInstallContext later;
        EXPECT_EQ(start(later, &stores[2]), (unsigned)eIINoUpdate) << "the first one's end lets the next one start";
    }
    EXPECT_EQ(uninstallPackage(&stores[3]), (unsigned)eUNRemoved);
    EXPECT_FALSE(installtest::exists(home.installFolder())) << "an emptied folder stayed";
}

}  // namespace
