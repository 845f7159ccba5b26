// Claiming a package: the one way a run (the installer's start and its job, an
// uninstallation) takes hold of a package before it changes anything of it.
//
// In order: the package's run lock (one run of a package at a time), the store folder's
// lock, shared (the manager's start then leaves the run's journal alone), the store read
// anew (a long-lived store object, the manager's, may hold what another process has
// changed since), the package's own journal (what an interrupted run left, undone or
// finished), then the journals of other packages that name the run's files (resolved
// first, so that no two journals hold one name in flight).
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/lists.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "instengine/journalrecovery.h"
#include "instengine/packagelocks.h"
#include "instengine/pkgregistry.h"

// The files a run is going to change, each list when given: other packages' journals
// that name one of them are resolved before the run writes its own.
struct sClaimFiles {
    const cSoftPkgScenario::cCopiedFiles* copied = nullptr;  // what an installation writes
    // The earlier installation's files an installation replaces or removes.
    const cFasterTreeList<cStringKey, sExistingFileItem>* existing = nullptr;
    const sPkgRegistryRecord* record = nullptr;  // what an uninstallation removes
};

// What claiming a package came to; path() names what a failure is about.
enum eClaim {
    eClaimed = 0,
    eClaimBusy = 1,          // another run holds the package's run lock
    eClaimNoRunLock = 2,     // the run lock could not be taken at all (its file)
    eClaimNoFolderLock = 3,  // the store folder's lock could not be taken (the folder)
    // The package's journal could not be read (the journal; recovery() says why): it stays.
    eClaimUnreadable = 4,
    // The package's journal could not be resolved, nor set aside (the journal).
    eClaimUnfinished = 5,
    // The store folder could not be listed: another package's journal may name one of
    // the run's files (the package's journal).
    eClaimOthersUnlisted = 6,
    // Another package's journal that names one of the run's files stays (that journal;
    // blocking() names its package).
    eClaimOthersUnfinished = 7,
    // The store could not be read anew (the store's folder): the object's own changes
    // could not be saved first (they are kept), or the package registry could not be read.
    eClaimStoreNotRead = 8,
};

// A package claimed for a run. The store folder's lock is held as long as the claim, the
// run lock where the caller keeps it.
class cPackageClaim {
public:
    // The package `code` whose journal lies at `journalPath`, with its record in `store`.
    // `runLock` is where the caller keeps the package's run lock (the installer's context,
    // for its whole run), taken unless it is held; null when the caller holds it elsewhere
    // (an installer removing an earlier package of its own code name).
    cPackageClaim(const char* journalPath, const char* code, cApplicationConfig* store, cInstallFS* fs,
                  cPackageRunLock* runLock);

    // Claims the package as far as it is not claimed yet: the locks, the store read anew
    // (readAnew: what the run reads of it from here is what is on disk, which no other run
    // of the package changes while it holds the run lock), its own journal (the folders an
    // interrupted committed run made and that still stand go to `made`, when given), then,
    // with `files`, the other packages' journals that name one of them.
    // A run that learns its files later (an uninstallation reads its record once its own
    // journal is resolved) claims again with them. Stops at the first step that fails.
    eClaim claim(const sClaimFiles* files = nullptr, _List<_guardchar<char> >* made = nullptr);

    // What resolving the package's own journal found and did.
    const sRecoveryReport& recovery() const { return myRecovery; }
    const char* path() const { return myPath.ptr ? myPath.ptr : ""; }
    // eClaimOthersUnfinished: the package whose journal stays ("" when none is known).
    const char* blocking() const { return myBlocking.ptr ? myBlocking.ptr : ""; }

    cPackageClaim(const cPackageClaim&) = delete;
    cPackageClaim& operator=(const cPackageClaim&) = delete;

private:
    eClaim fail(eClaim result, const char* path);

    _guardchar<char> myJournal, myCode, myPath, myBlocking;
    cApplicationConfig* myStore;
    cInstallFS* myFs;
    cPackageRunLock* myRunLock;
    cStoreFolderLock myFolderLock;
    bool myStoreRead = false, myOwnResolved = false;
    sRecoveryReport myRecovery;
};
