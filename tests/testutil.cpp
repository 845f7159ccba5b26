// Shared test helpers: temporary folders, whole-file I/O, running peer tools, a private X
// server, an ordinary user's rights, a Turkish LC_CTYPE; and the listeners that fail a skip
// under CI=true and a test program that exits part-way.
#include "testutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include <gtest/gtest.h>

namespace testutil {

namespace {

// A developer's session sets XDG base folders (settings, data, cache, state and their
// search lists) that would otherwise reach every test and every program a test starts,
// and decide what they read: each test program starts without them, so that each follows
// HOME, which the tests point at private folders. The runtime folder holds no settings.
const bool kXdgFoldersCleared = [] {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        unsetenv(name);
    return true;
}();

// fontconfig takes its default language from FC_LANG, else from the locale (LC_ALL, LC_CTYPE,
// LANG), once per process, and prefers another face for Latin text in some (a CJK face in
// Japanese, Chinese or Korean): the committed pictures of text were drawn for English, so
// each test program, and every program a test starts, asks for that whatever the runner's
// locale. The locale itself stays the runner's.
const bool kFontLanguageFixed = [] { return setenv("FC_LANG", "en", 1) == 0; }();

// Each test program, and so every program a test starts (a window manager, a peer tool, the
// program under test), has a scratch HOME of its own, removed at the program's end: nothing is
// read from the runner's home or left in it, and a runner whose HOME cannot be written runs
// the tests all the same. Tests that look at a home folder point HOME at one of their own.
// Peer tools start in it too (execPeer).
void removeTree(const std::string& path);
std::string gScratchHome;
const bool kScratchHome = [] {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qmxhome.XXXXXX";
    std::vector<char> home(tmpl.c_str(), tmpl.c_str() + tmpl.size() + 1);
    if (!mkdtemp(home.data())) {
        fprintf(stderr, "testutil: cannot make a scratch HOME (%s): %s\n", home.data(), strerror(errno));
        return false;
    }
    gScratchHome = home.data();
    setenv("HOME", home.data(), 1);
    static const pid_t owner = getpid();
    // Not in a forked child that exits: the folder is its parent's.
    atexit([] {
        if (getpid() == owner) removeTree(gScratchHome);
    });
    return true;
}();

bool underCi() {
    const char* ci = getenv("CI");
    return ci && (strcmp(ci, "true") == 0 || strcmp(ci, "1") == 0);
}

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        // The names are read first and the folder closed before going down: a tree deeper
        // than the open-files limit (1024 for an ordinary user) is removed all the same.
        std::vector<std::string> names;
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d))
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
        }
        for (const std::string& name : names) removeTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

long long monotonicMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Waits for `fd` to become readable until the deadline; false on timeout.
bool waitReadable(int fd, long long deadline) {
    for (;;) {
        long long left = deadline - monotonicMs();
        if (left <= 0) return false;
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, (int)left);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

// True when the X server of display `number` accepts a connection: the connection
// set-up (no authorisation) is answered with success.
bool displayAnswers(const std::string& number, long long deadline) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof(a.sun_path), "/tmp/.X11-unix/X%s", number.c_str());
    // Little-endian request for protocol 11.0 with empty authorisation.
    const unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char status = 0;
    bool ok = connect(fd, (struct sockaddr*)&a, sizeof(a)) == 0 &&
              send(fd, setup, sizeof(setup), MSG_NOSIGNAL) == (ssize_t)sizeof(setup) && waitReadable(fd, deadline) &&
              read(fd, &status, 1) == 1 && status == 1;
    close(fd);
    return ok;
}

}  // namespace

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qmxtest.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) myPath = buf.data();
}

TempDir::~TempDir() {
    if (!myPath.empty()) removeTree(myPath);
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::vector<unsigned char> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

bool makeSocketFile(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    // The folder's descriptor stands for its path (however long) in the name bound.
    std::string shortPath = "/proc/self/fd/" + std::to_string(dir) + "/" + path.substr(slash + 1);
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && shortPath.size() < sizeof(a.sun_path);
    if (ok) {
        memcpy(a.sun_path, shortPath.c_str(), shortPath.size());
        ok = bind(fd, (struct sockaddr*)&a, sizeof(a)) == 0;
    }
    if (fd >= 0) close(fd);
    close(dir);
    return ok;
}

bool haveTool(const std::string& tool) {
    const char* path = getenv("PATH");
    if (!path) return false;
    std::string p(path);
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string cand = p.substr(start, end - start) + "/" + tool;
        if (access(cand.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    // CI installs every peer: a missing one fails the test rather than quietly checking less
    // (said once a test and tool).
    if (underCi()) {
        static std::mutex lock;
        static std::set<std::string> told;
        const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
        std::lock_guard<std::mutex> hold(lock);
        if (told.insert((t ? std::string(t->test_suite_name()) + "." + t->name() : "") + " " + tool).second)
            ADD_FAILURE() << "ci: peer tool " << tool << " is not on PATH (scripts/setup.sh test installs it)";
    }
    return false;
}

void execPeer(const std::vector<std::string>& argv) {
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");  // gettext's list of languages, read besides the locale
    // A user that cannot reach the scratch folder (uid 65534) starts in "/", where it writes nothing.
    if (gScratchHome.empty() || chdir(gScratchHome.c_str()) != 0) (void)!chdir("/");
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string scenarioQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string pathEntry(const std::string& folder) {
    if (folder.find(':') == std::string::npos) return folder;
    static std::mutex lock;
    static std::map<std::string, std::string> opened;
    std::lock_guard<std::mutex> hold(lock);
    std::string& entry = opened[folder];
    if (entry.empty()) {
        int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(fd, 0) << folder << ": " << strerror(errno);
        entry = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
    }
    return entry;
}

std::string pathBefore(const std::string& folder) {
    const char* now = getenv("PATH");
    return pathEntry(folder) + ":" + (now ? now : "/usr/bin:/bin");
}

int run(const std::vector<std::string>& argv, std::string* out) {
    int fds[2];
    if (out && pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (out) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
        }
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            if (!out) dup2(devnull, 1);
            dup2(devnull, 2);
        }
        execPeer(argv);
    }
    if (out) {
        close(fds[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof(buf))) > 0) out->append(buf, (size_t)n);
        close(fds[0]);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Xvfb::Xvfb() {
    if (!haveTool("Xvfb")) {
        myWhy = "Xvfb is not installed";
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        myWhy = "no pipe";
        return;
    }
    pid_t parent = getpid();
    myPid = fork();
    if (myPid == 0) {
        // A server left behind by a test process that was killed ends with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string fd = std::to_string(fds[1]);
        // -displayfd: the server takes a free display number and writes it to us;
        // -noreset: it does not reset (and refuse clients meanwhile) when its last client leaves.
        execPeer({"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    }
    close(fds[1]);
    if (myPid < 0) {
        close(fds[0]);
        myWhy = "fork failed";
        return;
    }
    // Generous: a loaded machine may take many seconds to start a server.
    const long long deadline = monotonicMs() + 60000;
    std::string got;
    while (got.find('\n') == std::string::npos && waitReadable(fds[0], deadline)) {
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.append(buf, (size_t)n);
    }
    close(fds[0]);
    std::string number = got.substr(0, got.find('\n'));
    bool answered = false;
    if (!number.empty() && got.find('\n') != std::string::npos) {
        while (!(answered = displayAnswers(number, deadline)) && monotonicMs() < deadline) {
            int st = 0;
            if (waitpid(myPid, &st, WNOHANG) == myPid) {
                myPid = -1;
                break;
            }
            usleep(50000);
        }
    }
    if (!answered) {
        myWhy = number.empty() ? "Xvfb did not start" : "Xvfb's display :" + number + " did not answer";
        return;
    }
    myDisplay = ":" + number;
}

Xvfb::~Xvfb() {
    if (myPid <= 0) return;
    kill(myPid, SIGTERM);
    waitpid(myPid, nullptr, 0);
}

EnvScope::EnvScope(const char* name, const char* value) : myName(name) {
    const char* old = getenv(name);
    myHad = old != nullptr;
    if (old) myOld = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
    if (myName == "TZ") tzset();  // the local-time calls read TZ only in tzset
}

EnvScope::~EnvScope() {
    if (myHad)
        setenv(myName.c_str(), myOld.c_str(), 1);
    else
        unsetenv(myName.c_str());
    if (myName == "TZ") tzset();
}

namespace {

// The compiled locales' folder (made on first use in the program's scratch HOME, which goes
// at its end), the name LOCPATH gives it (a list split at colons, as PATH: pathEntry), and
// what compiling each gave: "" when it is there, else why not.
std::mutex gLocaleLock;
std::string gLocaleFolder, gLocPath;
std::map<std::string, std::string> gCompiled;

// With gLocaleLock held.
std::string compileLocale(const std::string& name) {
    auto known = gCompiled.find(name);
    if (known != gCompiled.end()) return known->second;
    std::string& why = gCompiled[name];
    if (gLocaleFolder.empty()) {
        const std::string folder = gScratchHome + "/locales";
        if (gScratchHome.empty() || (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST))
            return why = "no folder for compiled locales (" + folder + "): " + strerror(errno);
        gLocaleFolder = folder;
        gLocPath = pathEntry(folder);
    }
    const size_t dot = name.find('.');
    const std::string out = gLocaleFolder + "/" + name;
    struct stat st;
    if (!haveTool("localedef")) {
        why = "localedef, which compiles " + name + ", is not on PATH";
    } else {
        int status = run({"localedef", "-i", name.substr(0, dot), "-f", name.substr(dot + 1), out});
        if (stat((out + "/LC_CTYPE").c_str(), &st) != 0)
            why = name + " could not be compiled by localedef (exit status " + std::to_string(status) +
                  "; its sources come with the locales package, which scripts/setup.sh test installs)";
    }
    return why;
}

// Sets LC_CTYPE (and LOCPATH for a compiled locale); "" or why not.
std::string setCtype(const char* name) {
    const bool turkish = strcmp(name, "C") != 0;
    if (turkish) {
        std::lock_guard<std::mutex> hold(gLocaleLock);
        std::string why = compileLocale(name);
        if (!why.empty()) return why;
        // glibc reads LOCPATH when setlocale loads a locale.
        setenv("LOCPATH", gLocPath.c_str(), 1);
    }
    if (!setlocale(LC_CTYPE, name))
        return std::string("setlocale(LC_CTYPE, \"") + name + "\") failed (LOCPATH=" + gLocPath + ", which is " +
               gLocaleFolder + ")";
    // A locale that took but keeps ASCII's pairs would leave the test proving nothing.
    if (turkish && tolower('I') == 'i') return std::string(name) + " lowers 'I' to 'i' here: not the Turkish rules";
    return "";
}

}  // namespace

void forEachCtype(const std::function<void()>& body) {
    const char* now = setlocale(LC_CTYPE, nullptr);
    const std::string old = now ? now : "C";
    EnvScope locpath("LOCPATH", getenv("LOCPATH"));  // setCtype points it at the compiled ones
    std::string skipped;
    for (const char* ctype : {"C", "tr_TR.UTF-8", "tr_TR.ISO-8859-9"}) {
        std::string why = setCtype(ctype);
        if (why.empty()) {
            SCOPED_TRACE(ctype);
            body();
        } else {
            skipped += (skipped.empty() ? "" : "; ") + why;
        }
    }
    setlocale(LC_CTYPE, old.c_str());
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

std::vector<std::string> printfConversions(const std::string& s) {
    auto in = [&](size_t j, const char* set) { return j < s.size() && s[j] && strchr(set, s[j]); };
    std::vector<std::string> out;
    size_t i = 0;
    while ((i = s.find('%', i)) != std::string::npos) {
        if (in(i + 1, "%")) {
            i += 2;
            continue;
        }
        size_t j = i + 1;
        while (in(j, "-+ #0")) j++;
        while (in(j, "0123456789*")) j++;
        if (in(j, ".") && in(j + 1, "0123456789*"))
            for (j++; in(j, "0123456789*");) j++;
        for (const char* length : {"hh", "ll", "h", "l", "L", "z", "j", "t"})
            if (s.compare(j, strlen(length), length) == 0) {
                j += strlen(length);
                break;
            }
        if (in(j, "diouxXeEfFgGaAcspn")) {
            out.push_back(s.substr(i, j + 1 - i));
            i = j + 1;
        } else {
            i++;
        }
    }
    return out;
}

const char* const kNoOrdinaryUser = "the superuser cannot become uid 65534 here";

std::string sharedDataFolder() {
    const char* env = getenv("QMX_SHARED_DATA");
    return env && *env ? env : QMX_SHARED_DATA;
}

int asOrdinaryUser(const std::function<bool()>& body, const std::vector<std::string>& paths) {
    if (geteuid() != 0) return body() ? 1 : 0;
    const uid_t nobody = 65534;
    for (const std::string& p : paths)
        if (chown(p.c_str(), nobody, nobody) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0 || geteuid() == 0) _exit(2);
        _exit(body() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    if (!WIFEXITED(status)) return -2;  // the body crashed
    return WEXITSTATUS(status) == 2 ? -1 : WEXITSTATUS(status);
}

std::vector<unsigned char> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = (unsigned char)rng();
    return v;
}

namespace {

// One allowed skip of tests/ci_skips.txt: the tests its pattern names may skip under CI=true,
// and only for the reason it gives, and (a "shared" line) only where that is so.
struct AllowedSkip {
    std::string where, pattern, reason;
};

// Under CI=true a skipped test fails, naming itself and its reason, unless its full name
// matches a pattern of tests/ci_skips.txt and its skip message contains that line's reason:
// a missing peer tool, font or server must not pass as a green run, nor may a listed test
// skip for some other cause, nor for the lack of the shared test data while it is there
// (scripts/test.sh checks the other lines' conditions, which it knows). Runs before the
// result printer, so the test is reported as failed.
class CiSkipGuard : public ::testing::EmptyTestEventListener {
public:
    explicit CiSkipGuard(std::vector<AllowedSkip> allowed) : myAllowed(std::move(allowed)) {}

    void OnTestEnd(const ::testing::TestInfo& info) override {
        const ::testing::TestResult& r = *info.result();
        if (!r.Skipped()) return;
        std::string name = std::string(info.test_suite_name()) + "." + info.name();
        for (int i = 0; i < r.total_part_count(); i++) {
            const ::testing::TestPartResult& part = r.GetTestPartResult(i);
            if (!part.skipped()) continue;
            const std::string message = part.message();
            std::string reasons, unfounded;
            struct stat st;
            const std::string shared = sharedDataFolder();
            for (const AllowedSkip& a : myAllowed) {
                if (fnmatch(a.pattern.c_str(), name.c_str(), 0) != 0) continue;
                if (message.find(a.reason) == std::string::npos)
                    reasons += (reasons.empty() ? "\"" : " or \"") + a.reason + "\"";
                else if (a.where != "shared" || stat(shared.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                    return;
                else
                    unfounded = a.reason;
            }
            ::testing::Message m;
            if (!unfounded.empty())
                m << "ci: skip not allowed under CI=true: " << name << " skipped for \"" << unfounded
                  << "\", but the shared test data is there (" << shared << "): " << message;
            else if (reasons.empty())
                m << "ci: skip not allowed under CI=true (not in tests/ci_skips.txt): " << name << ": " << message;
            else
                m << "ci: skip not allowed under CI=true: " << name << " may skip only for " << reasons
                  << " (tests/ci_skips.txt), but skipped: " << message;
            ADD_FAILURE_AT(part.file_name() ? part.file_name() : "?", part.line_number()) << m;
            return;
        }
    }

private:
    std::vector<AllowedSkip> myAllowed;
};

// A line is "<where> <pattern> <reason>" ('#' starts a comment); see tests/ci_skips.txt.
// A line without a reason allows nothing, so a mistyped line cannot allow every skip.
std::vector<AllowedSkip> ciSkipPatterns() {
    std::vector<AllowedSkip> out;
    std::ifstream in(QMX_TESTS_DIR "/ci_skips.txt");
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::vector<std::string> words;
        for (size_t b = 0; (b = line.find_first_not_of(" \t\r", b)) != std::string::npos;) {
            size_t e = line.find_first_of(" \t\r", b);
            if (e == std::string::npos) e = line.size();
            words.push_back(line.substr(b, e - b));
            b = e;
        }
        if (words.size() < 3) continue;
        AllowedSkip a{words[0], words[1], words[2]};
        for (size_t i = 3; i < words.size(); i++) a.reason += " " + words[i];
        out.push_back(a);
    }
    return out;
}

[[maybe_unused]] const bool ciSkipGuardInstalled = [] {
    if (!underCi()) return false;
    ::testing::UnitTest::GetInstance()->listeners().Append(new CiSkipGuard(ciSkipPatterns()));
    return true;
}();

// A test that calls exit() ends its program with the status it gives, 0 passing as success
// although the test and every one after it never finished. The program's own exit handler
// sees whether the tests reached their end, and otherwise turns the exit into a failure
// naming the test that was running. Forked children (another process id) are left alone.
pid_t gTestProgram = 0;
std::string gRunningTest;  // the test running or, between tests, the last one to end
bool gRunEnded = false;

class ProgramEndGuard : public ::testing::EmptyTestEventListener {
    void OnTestProgramStart(const ::testing::UnitTest&) override {
        gTestProgram = getpid();
        atexit([] {
            if (gRunEnded || getpid() != gTestProgram) return;
            fprintf(stderr, "testutil: the test program exited part-way, in %s: exit() before its tests finished\n",
                    gRunningTest.empty() ? "(no test yet)" : gRunningTest.c_str());
            fflush(stderr);
            _exit(1);
        });
    }
    void OnTestStart(const ::testing::TestInfo& info) override {
        gRunningTest = std::string(info.test_suite_name()) + "." + info.name();
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override { gRunEnded = true; }
};

[[maybe_unused]] const bool programEndGuardInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ProgramEndGuard);
    return true;
}();

}  // namespace

}  // namespace testutil
