// The installer maker: scenario, property list, package info, scenario data, icon and
// executable, assembled beside the target and renamed into place.
#include "softmgrapp/makeinstaller.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fileio.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installfs.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/softpkgscenario.h"

namespace {

// A path inside the bundle under construction and the name it will have when done
// (the one the user is told about).
struct sBundlePath {
    _guardchar<char> work, shown;
    bool make(const char* workRoot, const char* shownRoot, const char* rel) {
        return joinPath(workRoot, rel, work) && joinPath(shownRoot, rel, shown);
    }
};

// Writes a whole text to a new file: written, flushed to the disk and closed (errno
// tells why not).
bool writeWholeFile(const char* path, const char* data, long long n) {
    cFileIO f;
    if (!f.create(path, cFileIO::eWrite)) return false;
    bool ok = f.writef(data, n) && f.sync();
    int err = errno;
    f.close();
    errno = err;
    return ok;
}

// What is at the target now: 0 nothing, 1 a bundle of ours or an empty folder (may be
// replaced), 2 something else (refused).
int targetState(const char* target) {
    struct stat st;
    if (lstat(target, &st) != 0) return errno == ENOENT ? 0 : 2;
    if (!S_ISDIR(st.st_mode)) return 2;
    _guardchar<char> marker;
    if (!bundlePath(target, eBundleScenarioData, marker)) return 2;
    struct stat ms;
    if (lstat(marker.ptr, &ms) == 0 && S_ISREG(ms.st_mode)) return 1;
    DIR* d = opendir(target);
    if (!d) return 2;
    bool empty = true;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty ? 1 : 2;
}

// Puts the finished bundle at the target, exchanging it with an earlier one in one
// step where the system allows; the earlier bundle ends up at `work` for removal.
bool moveIntoPlace(const char* work, const char* target, bool replacing) {
    if (!replacing) return rename(work, target) == 0;
    if (renameat2(AT_FDCWD, work, AT_FDCWD, target, RENAME_EXCHANGE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // No exchange on this file system: move the old bundle aside first.
    _guardchar<char> aside;
    if (!concatText(work, ".old", aside) || rename(target, aside.ptr) != 0) return false;
    if (rename(work, target) != 0) {
        rename(aside.ptr, target);
        return false;
    }
    return rename(aside.ptr, work) == 0;
}

// --- the private work folder: marker, stale leftovers, removal on SIGINT and SIGTERM ---

// Beside the target "<target>.make-XXXXXX" holds the bundle while it is built. The
// marker inside names the process that made it ("qmx-make <pid> <start time>"), so a
// later make removes a leftover only when that process is gone.
const char kWorkSuffix[] = ".make-";
const char kMarkerName[] = "/.qmx-make";

// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat),
// 0 when it cannot be read; with the pid it tells a process from a later one.
unsigned long long processStart(long pid) {
    char path[64];
    _sprintf_s(path, sizeof(path), "/proc/%ld/stat", pid);
    cFileIO f;
    if (!f.open(path, cFileIO::eRead)) return 0;
    char buf[1024];
    long long n = f.read(buf, (long long)sizeof(buf) - 1);
    if (n <= 0) return 0;
    buf[n] = 0;
    // The name in parentheses may hold blanks: the fields follow its last ")".
    const char* p = strrchr(buf, ')');
    if (!p) return 0;
    p++;
    for (int field = 3; field < 22 && *p; field++) {
        while (*p == ' ') p++;
        while (*p && *p != ' ') p++;
    }
    return strtoull(p, nullptr, 10);
}

bool writeMarker(const char* work) {
    _guardchar<char> path;
    char text[96];
    long pid = (long)getpid();
    int n = _sprintf_s(text, sizeof(text), "qmx-make %ld %llu\n", pid, processStart(pid));
    return n > 0 && joinPath(work, kMarkerName, path) && writeWholeFile(path.ptr, text, n);
}

// Whether a folder beside the target is a work folder of a make that is gone: a real
// folder of ours holding a marker, regular and not a link, whose process has ended.
bool isStaleWorkFolder(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    _guardchar<char> marker;
    if (!joinPath(path, kMarkerName, marker)) return false;
    int fd = open(marker.ptr, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[96];
    ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, buf, sizeof(buf) - 1) : -1;
    close(fd);
    if (n <= 0) return false;
    buf[n] = 0;
    long pid;
    unsigned long long started;
    char end;
    if (sscanf(buf, "qmx-make %ld %llu%c", &pid, &started, &end) != 3 || end != '\n' || pid <= 0) return false;
    return processStart(pid) != started || (kill((pid_t)pid, 0) != 0 && errno == ESRCH);
}

// Removes the work folders that earlier makes of this target left behind, nothing else.
void removeStaleWorkFolders(const char* target) {
    const char* slash = strrchr(target, '/');
    _guardchar<char> parent;
    bool ok = !slash ? parent.set(".") : slash == target ? parent.set("/") : parent.set(target, slash - target);
    if (!ok) return;
    const char* base = slash ? slash + 1 : target;
    size_t baseLength = strlen(base);
    DIR* d = opendir(parent.ptr);
    if (!d) return;
    _guardchar<char> folder, path;
    if (!joinPath(parent.ptr, "/", folder)) {
        closedir(d);
        return;
    }
    while (struct dirent* e = readdir(d)) {
        const char* name = e->d_name;
        // "<base>.make-" and the six characters mkdtemp chose.
        if (strncmp(name, base, baseLength) != 0 || strncmp(name + baseLength, kWorkSuffix, 6) != 0 ||
            strlen(name + baseLength + 6) != 6)
            continue;
        if (!joinPath(folder.ptr, name, path)) continue;
        if (isStaleWorkFolder(path.ptr)) removeTree(path.ptr);
    }
    closedir(d);
}

// The signal handler's copy of the work folder's path; removal there uses only calls
// that are safe in a handler (no allocation, no stdio).
char gWorkPath[PATH_MAX + 1];
volatile sig_atomic_t gWorkArmed = 0;
bool gHandlersSet = false;
struct sigaction gOldInt, gOldTerm;

// Removes everything below the folder open at fd, to a small depth (the bundle's own).
void removeBelowSignalSafe(int fd, int depth) {
    alignas(8) char buf[2048];  // getdents64 records are 8-byte aligned
    for (int pass = 0; pass < 64; pass++) {
        if (lseek(fd, 0, SEEK_SET) != 0) return;
        long n = syscall(SYS_getdents64, fd, buf, sizeof(buf));
        if (n <= 0) return;
        bool any = false;
        for (long at = 0; at < n;) {
            struct linux_dirent64 {
                unsigned long long ino;
                long long off;
                unsigned short reclen;
                unsigned char type;
                char name[1];
            };
            const linux_dirent64* e = (const linux_dirent64*)(buf + at);
            at += e->reclen;
            if (e->name[0] == '.' && (!e->name[1] || (e->name[1] == '.' && !e->name[2]))) continue;
            any = true;
            if (unlinkat(fd, e->name, 0) == 0 || errno != EISDIR || depth >= 8) continue;
            int sub = openat(fd, e->name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) continue;
            removeBelowSignalSafe(sub, depth + 1);
            close(sub);
            unlinkat(fd, e->name, AT_REMOVEDIR);
        }
        if (!any) return;
    }
}

void onInterrupt(int sig) {
    int saved = errno;
    if (gWorkArmed) {
        gWorkArmed = 0;
        // A file the maker creates meanwhile makes the folder's removal fail: go again.
        for (int attempt = 0; attempt < 4; attempt++) {
            int fd = open(gWorkPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) break;
            removeBelowSignalSafe(fd, 0);
            close(fd);
            if (rmdir(gWorkPath) == 0 || errno == ENOENT) break;
        }
    }
    // End as the signal would have ended the process.
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
    errno = saved;
    raise(sig);
}

// Makes the work folder from a mkdtemp template in place; from before it exists until
// disarmed, SIGINT and SIGTERM remove it first. False (errno set) when it cannot be made.
bool makeArmedWorkFolder(_guardchar<char>& work) {
    size_t n = strlen(work.ptr);
    if (n >= sizeof(gWorkPath)) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(gWorkPath, work.ptr, n + 1);
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaction(SIGINT, &sa, &gOldInt);
    sigaction(SIGTERM, &sa, &gOldTerm);
    gHandlersSet = true;
    gWorkArmed = 1;
    // mkdtemp fills in the name before it makes the folder: a signal finds it either way.
    if (!mkdtemp(gWorkPath)) return false;
    memcpy(work.ptr, gWorkPath, n + 1);
    return true;
}

void disarmWorkRemoval() {
    gWorkArmed = 0;
    if (!gHandlersSet) return;
    gHandlersSet = false;
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
}

// --- the steps of "make" ---
// In the order makeInstaller takes them; the numbers head each step's function below:
//  1. the text scenario (loadScenario)        2. the running bundle (findRunningContents)
//  3. the target (checkTarget)                4. the private work folder (makeWorkFolder)
//  5. Contents  6. Info.plist and PkgInfo (writeBundleInfo)
//  7. Resources  8. the scenario data and its payload (writeScenarioData)
//  9. the icon (copyIcon)                     10. MacOS  11. the program (copyExecutable)
//  12. the bundle into place (moveBundleIntoPlace)

// What the steps share: the scenario, where the running bundle is, the target and the
// private folder the new bundle is assembled in.
struct sMake {
    const char* exePath = nullptr;
    cSoftPkgScenario scenario;
    _guardchar<char> contents;  // the running bundle's Contents folder
    _guardchar<char> target;    // without trailing slashes
    _guardchar<char> work;      // "<target>.make-XXXXXX"
    int targetState = 0;        // see targetState()
    sBundlePath p;              // the path the current step works on
};

// " (e) Unable to create %s!" and, on a line of its own, the system's reason.
void unableToCreate(const char* path, int err) {
    printf(" (e) Unable to create %s!\n", path);
    printf("   %s\n", strerror(err ? err : EIO));
}

// The second line of a failure: what it was about, and why when known.
void whatFailed(const cSoftPkgScenario& s) {
    if (!s.errorPath()) return;
    if (s.errorReason())
        printf("   %s: %s\n", s.errorPath(), s.errorReason());
    else
        printf("   %s\n", s.errorPath());
}

// 1. The text scenario, with the reader's line and code on failure.
bool loadScenario(sMake& m, const char* scenarioPath) {
    printf("(i) Loading scenario... ");
    fflush(stdout);
    int line = 0;
    int rc = scenarioPath ? m.scenario.loadTextConfig(scenarioPath, line) : 1;
    if (rc == 0) {
        puts("OK!");
        return true;
    }
    if (rc == 1) {
        puts("FAIL (No source file)");
    } else if (rc == 2) {
        printf("ERROR:\n - at line %d: Unknown section!\n", line);
    } else {
        printf("ERROR:\n - at line %d: error code %d!\n", line, rc);
        whatFailed(m.scenario);
    }
    return false;
}

// 2. The running bundle's Contents folder.
bool findRunningContents(sMake& m) { return bundleContentsOf(m.exePath, m.contents); }

// 3. The target: nothing, one of our bundles (or an empty folder), else refused.
bool checkTarget(sMake& m, const char* targetPath) {
    if (!targetPath || !*targetPath) {
        unableToCreate(targetPath ? targetPath : "", ENOENT);
        return false;
    }
    if (!m.target.set(targetPath)) return false;
    for (long long n = m.target.length(); n > 1 && m.target.ptr[n - 1] == '/'; n--) m.target.ptr[n - 1] = 0;
    m.targetState = targetState(m.target.ptr);
    if (m.targetState == 2) {
        printf(" (e) Object will not be repleaced: %s!\n", m.target.ptr);
        return false;
    }
    return true;
}

// 4. A private folder beside the target, marked as ours and removed on interruption;
// leftovers of earlier interrupted makes of this target go first.
bool makeWorkFolder(sMake& m) {
    removeStaleWorkFolders(m.target.ptr);
    if (!concatText(m.target.ptr, ".make-XXXXXX", m.work)) return false;
    if (!makeArmedWorkFolder(m.work)) {
        unableToCreate(m.target.ptr, errno);
        m.work.clear();
        return false;
    }
    if (!writeMarker(m.work.ptr)) {
        unableToCreate(m.target.ptr, errno);
        return false;
    }
    return true;
}

// A folder of the bundle.
bool makeFolder(sMake& m, eBundlePart part) {
    if (m.p.make(m.work.ptr, m.target.ptr, bundlePart(part)) && cFolderContents::mkdir(m.p.work.ptr)) return true;
    unableToCreate(m.p.shown.ptr ? m.p.shown.ptr : m.target.ptr, errno);
    return false;
}

// A small text file of the bundle.
bool makeTextFile(sMake& m, eBundlePart part, const char* text, long long n) {
    if (m.p.make(m.work.ptr, m.target.ptr, bundlePart(part)) && writeWholeFile(m.p.work.ptr, text, n)) return true;
    unableToCreate(m.p.shown.ptr ? m.p.shown.ptr : m.target.ptr, errno);
    return false;
}

// 5, 6. Contents, Info.plist (name, first two version numbers, copyright) and PkgInfo.
bool writeBundleInfo(sMake& m) {
    if (!makeFolder(m, eBundleContents)) return false;
    int major = 0, minor = 0, third = 0, fourth = 0;
    m.scenario.getVer(major, minor, third, fourth);
    _guardchar<char> plist;
    if (!buildInfoPlist(m.scenario.getStr("name"), major, minor, m.scenario.getStr("copyright"), plist)) {
        unableToCreate(m.target.ptr, ENOMEM);
        return false;
    }
    return makeTextFile(m, eBundleInfoPlist, plist.ptr, plist.length()) &&
           makeTextFile(m, eBundlePkgInfo, kBundlePkgInfo, (long long)strlen(kBundlePkgInfo));
}

// 7, 8. Resources and the scenario data file with its payload.
bool writeScenarioData(sMake& m) {
    if (!makeFolder(m, eBundleResources)) return false;
    if (!m.p.make(m.work.ptr, m.target.ptr, bundlePart(eBundleScenarioData))) return false;
    cFileIO data;
    if (!data.create(m.p.work.ptr, cFileIO::eWrite)) {
        printf("(e) Creating target failed: %s\n", m.p.shown.ptr);
        return false;
    }
    bool ok = m.scenario.saveBinConfig(&data) && data.sync();
    data.close();
    if (!ok) {
        printf("(e) Saving scenario failed: %s\n", m.p.shown.ptr);
        // The writer names what it could not write (a key, a section).
        if (m.scenario.errorPath()) printf("   %s\n", m.scenario.errorPath());
    }
    return ok;
}

// Reports a failed copy of the icon or the executable.
bool copied(int result, const char* what, const char* from, const char* to) {
    switch (result) {
    case eCopyDone: return true;
    case eCopyNoSource: printf("(e) Failed opening %s: %s\n", what, from); break;
    case eCopyNoTarget: printf("(e) Creating %s failed: %s\n", what, to); break;
    case eCopyReadFailed: printf("(e) Reading %s failed: %s\n", what, from); break;
    default: printf("(e) Writing %s failed: %s\n", what, to); break;
    }
    return false;
}

// 9. The running bundle's icon.
bool copyIcon(sMake& m) {
    _guardchar<char> iconSource;
    if (!contentsPath(m.contents.ptr, eBundleIcon, iconSource) ||
        !m.p.make(m.work.ptr, m.target.ptr, bundlePart(eBundleIcon)))
        return false;
    return copied(copyIntoBundle(iconSource.ptr, m.p.work.ptr), "icon", iconSource.ptr, m.p.shown.ptr);
}

// 10, 11. MacOS and the running executable as "Installer", mode 0755.
bool copyExecutable(sMake& m) {
    if (!makeFolder(m, eBundleMacOS) || !m.p.make(m.work.ptr, m.target.ptr, bundlePart(eBundleInstaller)))
        return false;
    if (!copied(copyIntoBundle(m.exePath, m.p.work.ptr), "exe", m.exePath, m.p.shown.ptr)) return false;
    if (cFolderContents::setPermissions(m.p.work.ptr, 7, 5, 5)) return true;
    printf("(e) Writing exe failed: %s\n", m.p.shown.ptr);
    return false;
}

// 12. The finished bundle goes into place without its marker (its name made durable by a
// flush of the folder that holds it); an earlier bundle, exchanged into the work folder,
// is removed.
bool moveBundleIntoPlace(sMake& m) {
    _guardchar<char> marker;
    if (!joinPath(m.work.ptr, kMarkerName, marker) || unlink(marker.ptr) != 0 || chmod(m.work.ptr, 0755) != 0 ||
        !moveIntoPlace(m.work.ptr, m.target.ptr, m.targetState == 1) || !syncFolderOf(m.target.ptr)) {
        unableToCreate(m.target.ptr, errno);
        return false;
    }
    if (m.targetState == 1 && !removeTree(m.work.ptr)) {
        printf(" (e) Unable to remove %s!\n", m.work.ptr);
        m.work.clear();  // the earlier bundle: not ours to retry
        return false;
    }
    m.work.clear();
    return true;
}

}  // namespace

int makeInstaller(const char* exePath, const char* scenarioPath, const char* targetPath, const char* fourth) {
    (void)fourth;
    sMake m;
    m.exePath = exePath;
    int result = 1;
    if (!loadScenario(m, scenarioPath)) {
        result = 1;
    } else if (!findRunningContents(m)) {
        result = 2;
    } else if (checkTarget(m, targetPath) && makeWorkFolder(m) && writeBundleInfo(m) && writeScenarioData(m) &&
               copyIcon(m) && copyExecutable(m) && moveBundleIntoPlace(m)) {
        result = 0;
    }
    // A failure leaves the target as it was: the half-built bundle goes.
    if (!m.work.empty()) removeTree(m.work.ptr);
    disarmWorkRemoval();
    fflush(stdout);
    return result;
}
