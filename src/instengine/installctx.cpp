// What the installation context's users share: path keys, the journal's place and the
// application's answers about languages.
#include "instengine/installctx.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installfs.h"

namespace {
std::atomic<cInstallLangs*> gLangs{nullptr};
}  // namespace

void setInstallLangs(cInstallLangs* langs) { gLangs.store(langs); }

cInstallLangs* installLangs() { return gLangs.load(); }

cStringKey pathKey(const char* path) {
    if (!path) path = "";
    _guardchar<char> lower;
    if (cFolderContents::pathCaseSensetive(path) || !__acp_lower(path, lower)) return cStringKey(path);
    return cStringKey(lower.ptr ? lower.ptr : "");
}

bool journalFolder(cApplicationConfig* store, _guardchar<char>& out) {
    if (store && store->folder()) return out.set(store->folder());
    _guardchar<char> home;
    return cFolderContents::getHome(home) && concatText(home.ptr, "/.qmx", out);
}

bool defaultJournalPath(cApplicationConfig* store, const char* code, _guardchar<char>& out) {
    _guardchar<char> folder, name;
    return cSoftPkgScenario::isSafeCodeName(code) && journalFolder(store, folder) &&
           concatText("/inflight-", code, name) && concatText(folder.ptr, name.ptr, out);
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
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; tries++) {
        do fd = open(myPath.ptr, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        while (fd < 0 && errno == EINTR);
        // A store folder not made yet (the journal would make it): made private, as the
        // store makes it.
        if (fd < 0 && (errno != ENOENT || (mkdir(folder.ptr, 0700) != 0 && errno != EEXIST))) return false;
    }
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

void cPackageRunLock::release() {
    if (myFd < 0) return;
    close(myFd);  // the flock goes with the last descriptor of the open file
    myFd = -1;
}
