// What the installation context's users share: path keys, the journal's place and the
// application's answers about languages.
#include "instengine/installctx.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "base/folders.h"
#include "instengine/installfs.h"

namespace {
std::atomic<cInstallLangs*> gLangs{nullptr};
}  // namespace

void setInstallLangs(cInstallLangs* langs) { gLangs.store(langs); }

cInstallLangs* installLangs() { return gLangs.load(); }

cStringKey pathKey(const char* path) { return cStringKey(path ? path : ""); }

bool defaultJournalPath(cApplicationConfig* store, const char* code, _guardchar<char>& out) {
    if (!cSoftPkgScenario::isSafeCodeName(code)) return false;
    _guardchar<char> folder;
    if (store && store->folder()) {
        folder.set(store->folder());
    } else {
        _guardchar<char> home;
        if (!cFolderContents::getHome(home) || !concatText(home.ptr, "/.qmx", folder)) return false;
    }
    _guardchar<char> name;
    return concatText("/inflight-", code, name) && concatText(folder.ptr, name.ptr, out);
}

bool cPackageRunLock::take(const char* journalPath, const char* code) {
    release();
    _guardchar<char> folder;
    if (!cSoftPkgScenario::isSafeCodeName(code) || !parentFolder(journalPath, folder)) return true;
    // One name per store folder (however its path is spelt) and package.
    char real[PATH_MAX];
    const char* where = realpath(folder.ptr, real) ? real : folder.ptr;
    unsigned long long h = 14695981039346656037ULL;  // FNV-1a
    for (const char* part : {where, "/", code})
        for (const char* c = part; *c; c++) h = (h ^ (unsigned char)*c) * 1099511628211ULL;
    sockaddr_un a;
    memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    // An abstract name: bound while the socket is open, gone with the process however it ends.
    int n = snprintf(a.sun_path + 1, sizeof a.sun_path - 1, "qmx-running-%u-%016llx", (unsigned)getuid(), h);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    if (bind(fd, (sockaddr*)&a, (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + n)) == 0) {
        myFd = fd;
        return true;
    }
    bool busy = errno == EADDRINUSE;
    close(fd);
    return !busy;
}

void cPackageRunLock::release() {
    if (myFd < 0) return;
    close(myFd);
    myFd = -1;
}
