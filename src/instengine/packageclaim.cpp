// Claiming a package for a run: its locks, its own journal, then the other packages'
// journals that name its files.
#include "instengine/packageclaim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/fastertreelist.h"
#include "base/folders.h"
#include "base/stringkey.h"

bool cJournalFolderLock::take(const char* journalPath, bool alone) {
    if (myFd >= 0) return true;
    if (!journalPath || !parentFolder(journalPath, myPath)) return false;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; tries++) {
        do fd = open(myPath.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        // A store folder not made yet: made private, as the store makes it.
        if (fd < 0 && (errno != ENOENT || (mkdir(myPath.ptr, 0700) != 0 && errno != EEXIST))) return false;
    }
    if (fd < 0) return false;
    int r;
    do r = flock(fd, alone ? LOCK_EX | LOCK_NB : LOCK_SH);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        close(fd);
        return false;
    }
    myFd = fd;
    return true;
}

cJournalFolderLock::~cJournalFolderLock() {
    if (myFd >= 0) close(myFd);
}

cPackageClaim::cPackageClaim(const char* journalPath, const char* code, cApplicationConfig* store, cInstallFS* fs,
                             cPackageRunLock* runLock)
    : myStore(store), myFs(fs ? fs : cInstallFS::plain()), myRunLock(runLock) {
    myJournal.set(journalPath ? journalPath : "");
    myCode.set(code ? code : "");
}

eClaim cPackageClaim::fail(eClaim result, const char* path) {
    myPath.set(path ? path : "");
    return result;
}

eClaim cPackageClaim::claim(const sClaimFiles* files, _List<_guardchar<char> >* made) {
    // One run of a package at a time: a second one would take the first one's journal in
    // flight for an interrupted run's. Never unguarded: a lock that cannot be taken is
    // the store's failure.
    if (myRunLock && !myRunLock->held() && !myRunLock->take(myJournal.ptr, myCode.ptr))
        return fail(myRunLock->busy() ? eClaimBusy : eClaimNoRunLock, myRunLock->path());
    // Held from here to the run's end: a manager starting meanwhile leaves its journal to it.
    if (!myStoreLock.take(myJournal.ptr)) return fail(eClaimNoStoreLock, myStoreLock.path());
    if (!myOwnResolved) {
        if (!recoverInterrupted(myJournal.ptr, myFs, made, myStore, &myRecovery))
            return fail(myRecovery.outcome == sRecoveryReport::eUnreadable ? eClaimUnreadable : eClaimUnfinished,
                        myJournal.ptr);
        myOwnResolved = true;
    }
    if (!files) return eClaimed;
    // A folder that cannot be listed may hold another package's journal.
    _List<_guardchar<char> > others;
    if (!otherJournals(myJournal.ptr, myCode.ptr, others)) return fail(eClaimOthersUnlisted, myJournal.ptr);
    if (others.empty()) return eClaimed;
    cFasterTreeList<cStringKey, int> targets;
    auto target = [&](const char* path) {
        if (path && !targets.find(pathKey(path))) targets.insert_new(pathKey(path));
    };
    for (auto* it = files->copied ? files->copied->head : nullptr; it; it = it->next) target(it->value.target);
    if (files->existing)
        for (auto* e = files->existing->first(); e; e = files->existing->next(e)) target(e->value().path.ptr);
    if (files->record)
        for (const char* f : files->record->files) target(f);
    myBlocking.clear();
    if (recoverOthersNaming(myJournal.ptr, others, targets, myStore, myFs, &myBlocking)) return eClaimed;
    _guardchar<char> blocked;
    if (!defaultJournalPath(myStore, blocking(), blocked)) blocked.set(myJournal.ptr);
    return fail(eClaimOthersUnfinished, blocked.ptr);
}
