// Claiming a package for a run: its locks, its own journal, then the other packages'
// journals that name its files.
#include "instengine/packageclaim.h"

#include "base/fastertreelist.h"
#include "base/folders.h"
#include "base/stringkey.h"

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
    if (!myFolderLock.share(myJournal.ptr)) return fail(eClaimNoFolderLock, myFolderLock.path());
    // Everything the run decides (what is installed, which files are the package's) is
    // read from here on; a registry that cannot be read (a failed read, a later version's
    // file) would look like one without the package.
    if (!myStoreRead && myStore) {
        bool read = myStore->readAnew();
        myStore->hasSection(kRegInstallRoot);  // reads the registry's file, where unreadableCount looks
        _guardchar<char> folder;
        if (!read || myStore->unreadableCount() > 0)
            return fail(eClaimStoreNotRead, storeFolder(myStore, folder) ? folder.ptr : myJournal.ptr);
        myStoreRead = true;
    }
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
