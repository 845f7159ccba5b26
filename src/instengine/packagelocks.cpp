// The store folder and its locks: a package's run lock, the folder's shared and exclusive lock.
#include "instengine/packagelocks.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installfs.h"
#include "softmgr/softpkgscenario.h"

namespace {

// Opens `path` as `flags` say; a store folder not made yet is made private, as the store
// makes it, and the opening tried once more. -1 when it cannot be opened.
int openInStoreFolder(const char* path, const char* folder, int flags) {
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; tries++) {
        do fd = open(path, flags, 0600);
        while (fd < 0 && errno == EINTR);
        if (fd < 0 && (errno != ENOENT || (mkdir(folder, 0700) != 0 && errno != EEXIST))) return -1;
    }
    return fd;
}

}  // namespace

bool storeFolder(cApplicationConfig* store, _guardchar<char>& out) {
    if (store && store->folder()) return out.set(store->folder());
    _guardchar<char> home;
    return cFolderContents::getHome(home) && concatText(home.ptr, "/.qmx", out);
}

bool defaultJournalPath(cApplicationConfig* store, const char* code, _guardchar<char>& out) {
    _guardchar<char> folder, name;
    return cSoftPkgScenario::isSafeCodeName(code) && storeFolder(store, folder) &&
           concatText("/inflight-", code, name) && concatText(folder.ptr, name.ptr, out);
}

void cHeldLock::release() {
    if (myFd < 0) return;
    close(myFd);
    myFd = -1;
}

bool cPackageRunLock::take(const char* journalPath, const char* code) {
    release();
    myBusy = false;
    myPath.clear();
    _guardchar<char> folder, name, file;
    if (!cSoftPkgScenario::isSafeCodeName(code) || !journalPath || !parentFolder(journalPath, folder) ||
        !concatText("/running-", code, name) || !concatText(name.ptr, ".lock", file) ||
        !concatText(folder.ptr, file.ptr, myPath))
        return false;
    int fd = openInStoreFolder(myPath.ptr, folder.ptr, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    int r;
    do r = flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0) {
        myFd = fd;
        return true;
    }
    myBusy = errno == EWOULDBLOCK;
    close(fd);
    return false;
}

bool cStoreFolderLock::share(const char* journalPath) {
    if (myFd >= 0) return true;
    if (!journalPath || !parentFolder(journalPath, myPath)) return false;
    int fd = openInStoreFolder(myPath.ptr, myPath.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r;
    do r = flock(fd, LOCK_SH);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        close(fd);
        return false;
    }
    myFd = fd;
    return true;
}

bool cStoreFolderLock::takeAlone(const char* folder) {
    release();
    myMissing = false;
    if (!folder || !myPath.set(folder)) return false;
    int fd;
    do fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        myMissing = objKind(folder) == eObjNone;
        return false;
    }
    // A run holds it shared for its whole length: its journal is its own.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    myFd = fd;
    return true;
}
