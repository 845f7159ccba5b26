// Recovery across packages: a package's interrupted run resolved from its journal, other
// packages' journals naming the same files first; every journal at the manager's start.
//
// A journal is obeyed once it is found whole, its package's own and within its package's
// folders (journalscope.h); one that fails a check is set aside (setaside.h). Pending
// journals are resolved before committed ones. A run resolves its own and those naming
// its files when it claims its package (packageclaim.h).
// Only paths the journal names are ever taken; a "<path>.tmp" or "<path>.bkp" that it
// does not name belongs to the user and makes the run fail before any write. A journal
// that cannot be opened or read stays where it is and the run stops before any change
// (the next one tries again); one read whole that fails a check is set aside and nothing
// it names is taken. A journal is read once for all a sweep does with it (the manager's
// start, a run's own, those naming a run's files).
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "instengine/installfs.h"
#include "instengine/journaldata.h"

// What recoverInterrupted found and did.
struct sRecoveryReport {
    enum eOutcome {
        eNoJournal = 0,
        eUndone = 1,    // a pending run was undone
        eFinished = 2,  // a committed run was finished
        // Refused whole and set aside (`setAside` names it): damaged, another package's,
        // or naming a path outside the package's folders (journalConfined; `path` names it).
        eRefused = 3,
        eFailed = 4,  // could not be resolved (an operation failed); the next run tries again
        // Could not be opened or read (`path` names it, `error` says why): left as it is,
        // nothing done; the next run tries again.
        eUnreadable = 5,
    };
    eOutcome outcome = eNoJournal;
    eJournalRegistration registration = eNoRegistration;  // of a finished run
    unsigned long long version = ~0ULL;  // the version a finished registration recorded
    int error = 0;                       // eUnreadable: the system's errno
    _guardchar<char> path, setAside;
    // A finished uninstallation: its journal (the record it removed, what the package
    // was), and whether a journal of the package set aside was in force before it settled
    // it (the interrupted run then left what it found beside the package's files).
    cPtr<sJournal> removal;
    bool asideWasInForce = false;
};

// Undoes (pending) or finishes (committed) what an interrupted run left, as its journal
// says; true when there was no journal or everything was resolved (the journal is then
// gone). A journal that cannot be read is left where it is: false, nothing done. One
// read whole that is damaged or names a path outside its package's folders
// (journalConfined, against the package's record in `store`) is refused whole before
// anything is done: set aside, true (setAsideInForce then holds for the package's next
// runs); false when it cannot be set aside, or without a `store` (no record vouches for
// anything then: it is left for a run with the store). The folders a committed run made
// and that still exist are added to `made` when given; what was found and done goes to
// `report` when given.
bool recoverInterrupted(const char* journalPath, cInstallFS* fs = nullptr, _List<_guardchar<char> >* made = nullptr,
                        cApplicationConfig* store = nullptr, sRecoveryReport* report = nullptr);

// A refused journal set aside: its package and the name it now has.
struct sSetAsideJournal {
    _guardchar<char> code, path;
};

// A journal that could not be read and stays: its package, its path and the system's errno.
struct sUnreadJournal {
    _guardchar<char> code, path;
    int error = 0;
};

// Resolves every journal in the store folder (the Software Manager's start, before it
// lists the packages). Journals of runs still going on are left to them. Pending runs are
// undone before committed ones are finished: a committed run's backups go once it is
// registered, and an undone run may still have to put back one that lies under the same
// name (a file both packages install). True when every journal was resolved; the code
// names of the packages whose journals could not be resolved go to `unfinished`, the
// journals refused and set aside to `setAside`, those that could not be read (among the
// unfinished) to `unreadable`, when given.
bool recoverAllInterrupted(cApplicationConfig* store, cInstallFS* fs = nullptr,
                           _List<_guardchar<char> >* unfinished = nullptr,
                           _List<sSetAsideJournal>* setAside = nullptr,
                           _List<sUnreadJournal>* unreadable = nullptr);

// The code names of the packages other than `code` with a journal beside `journalPath`;
// false when the folder cannot be listed.
bool otherJournals(const char* journalPath, const char* code, _List<_guardchar<char> >& codes);

// Before a run changes any of `targets` (pathKey): every journal of the packages `codes`
// (otherJournals) that names one of them is resolved under its package's run lock,
// pending ones first as above; a damaged one is set aside (its package's next run then
// goes on as after a crash). False while one of them cannot be: its run is still going
// on, it could not be read (it may name them), or an operation failed (`blocking` then
// names its package). A run makes its own journal only once no other one names its files
// (packageclaim.h).
bool recoverOthersNaming(const char* journalPath, const _List<_guardchar<char> >& codes,
                         const cFasterTreeList<cStringKey, int>& targets, cApplicationConfig* store,
                         cInstallFS* fs = nullptr, _guardchar<char>* blocking = nullptr);
