// Journals set aside: their names, whether one is in force for its package, settling them.
#include "instengine/setaside.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/pkgregistry.h"

bool setAsideJournal(const char* journalPath, cInstallFS* fs, _guardchar<char>& out) {
    for (unsigned long long n = 1;; n++) {
        char tail[40];
        if (n == 1)
            _sprintf_s(tail, sizeof tail, "%s", kSetAsideSuffix);
        else
            _sprintf_s(tail, sizeof tail, "%s~%llu", kSetAsideSuffix, n);
        struct stat st;
        if (!concatText(journalPath, tail, out)) return false;
        if (lstat(out.ptr, &st) == 0) continue;
        // A name that cannot be looked at is never taken for a free one.
        if (errno != ENOENT) return false;
        return fs->rename(journalPath, out.ptr);
    }
}

namespace {

// Calls `each` with the path and state of every journal of the package set aside beside
// `journalPath`; false when the folder could not be listed (none is known then).
template <class F>
bool eachSetAside(const char* journalPath, F each) {
    _guardchar<char> folder;
    const char* name = journalPath ? strrchr(journalPath, '/') : nullptr;
    if (!name || !parentFolder(journalPath, folder)) return false;
    DIR* d = opendir(folder.ptr);
    if (!d) return objKind(folder.ptr) == eObjNone;
    size_t n = strlen(name + 1), aside = strlen(kSetAsideSuffix);
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) break;
        const char* tail = e->d_name + n;
        struct stat st;
        _guardchar<char> path;
        if (strncmp(e->d_name, name + 1, n) != 0 || strncmp(tail, kSetAsideSuffix, aside) != 0 ||
            (tail[aside] && tail[aside] != '~') || !joinPath(folder.ptr, e->d_name, path) ||
            lstat(path.ptr, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        each(path.ptr, st);
    }
    bool listed = errno == 0;
    closedir(d);
    return listed;
}

}  // namespace

bool setAsideInForce(const char* journalPath, cApplicationConfig* store, const char* code) {
    // Set aside (the rename stamps its change time) no earlier than the registration: a
    // run completed since then. A registration time that cannot be read is none.
    _guardchar<char> section, key;
    unsigned long long registered = 0;
    bool haveRecord = store && regSectionName(code, section) && regKey(section.ptr, kRegUTime, key) &&
                      store->getParamInt(key.ptr, registered);
    bool inForce = false;
    // A folder that cannot be listed may hold one.
    bool listed = eachSetAside(journalPath, [&](const char*, const struct stat& st) {
        // Settled ones are made read-only.
        if ((st.st_mode & S_IWUSR) && (!haveRecord || (unsigned long long)st.st_ctime >= registered)) inForce = true;
    });
    return inForce || !listed;
}

void settleSetAside(const char* journalPath) {
    eachSetAside(journalPath, [](const char* path, const struct stat& st) {
        if (st.st_mode & S_IWUSR) chmod(path, S_IRUSR);
    });
}

