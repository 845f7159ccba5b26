// The journal of the files in flight ("<store folder>/inflight-<code>", saved as
// "inflight-<code>~new" and renamed into place, its data and folder flushed): the line
// "QMXINFLIGHT 4" (versions 1 and 2, without folder, menu entry and registration lines,
// and 3, without the digest, are still read), the line "state pending" or "state committed",
// then lines "<kind> <path>": "R" a file that existed and is (to be) moved to
// "<path>.bkp", "N" a new file, "M" a folder that did not exist and is (to be) made,
// "D" a folder below which emptied folders go, "E" a menu entry written as "<path>.tmp"
// before the commit and moved into place after it, "O" a file of the earlier version that
// the new one no longer has, "Q" a menu entry that goes, "S" a folder made for the menu
// entries (like "M", but the desktop's once committed); then the registration: "code
// <code>", "register" (the record below replaces the package's) or "unregister" (the
// package's files, folders, entries and record go), "manager <program>" (the Software
// Manager copy is refreshed from it), "rec <field> <value>" the record's fields (values
// escaped: a backslash and two hex digits stand for a control character or a backslash);
// then "end <count>" (the number of lines between), and last "sha256 <64 hex digits>", the
// SHA-256 of every byte before that line: a journal whose digest does not match is
// refused like a cut one, before anything is done.
// Pending: recovery removes "<path>.tmp", puts "<path>.bkp" back (a missing target counts
// as removed), removes a new file that has no backup and the made folders left empty;
// menu entries, the manager and the store are untouched until the commit.
// Committed (the new files are all in place): recovery does everything the run still had
// to do, in the run's own order and with the run's own code (the run itself finishes by
// resolving its committed journal): menu entries moved into place, obsolete ones removed,
// the manager copy, obsolete files with the folders below a "D" folder they leave empty,
// the record, then backups and temporary files. The whole registration travels in the
// journal because the store cannot be undone by it: the store's hives are shared by every
// package, so only a record written after the commit, from text fixed before it, keeps
// every next run (another installer, an uninstallation, the manager's list) in step.
// Only paths the journal names are ever taken; a "<path>.tmp" or "<path>.bkp" that it
// does not name belongs to the user and makes the run fail before any write. And only
// paths below its own roots are obeyed (journalscope.h). A journal that cannot be opened
// or read stays where it is and the run stops before any change (the next one tries
// again); one read whole that fails a check is set aside as "inflight-<code>.refused"
// (or "inflight-<code>.refused~<n>" beside earlier ones) and nothing it names is taken.
// While such a journal is in force (setAsideInForce) the package's runs take only the
// names beside its files that they can tell are the interrupted run's, and stop at or
// report any other (leftovers.h); its next completed run settles it.
// Uninstallation writes the same journal: "R" for every file it moves aside ("O" for one
// whose backup name is taken: it stays in place until the commit), "Q" for its menu
// entries, "unregister" with the record, committed once all files are aside.
#pragma once

#include "base/strings.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "instengine/pkgregistry.h"

// What a journal says.
struct sJournal {
    bool committed = false;
    // 4 with a digest (every journal this build writes); 1 to 3 as read.
    int version = 4;
    // The file, folder and menu entry lines in order: kind(i) is 'R', 'N', 'O', 'M',
    // 'D', 'E', 'Q' or 'S'.
    long long count() const { return paths.count(); }
    char kind(long long i) const { return kinds[i]; }
    const char* path(long long i) const { return paths[i]; }
    // Version 3: the registration to finish. 0 none (versions 1 and 2), 'r' the record
    // replaces the package's, 'u' the package goes.
    char registration = 0;
    _guardchar<char> code;
    _guardchar<char> manager;  // the program the manager copy is made from ('r'; may be empty)
    sPkgRegistryRecord record;

    // A line at the end; `shared`: the path outlives the journal and is held without a
    // copy (a run's own journal names each of its files once more than its list does).
    bool add(char kind, const char* path, bool shared = false);

private:
    _typebuf<char> kinds;
    cTextList paths;
};

// Saves a journal beside its place and renames it there: 0 when it could not be put in
// place (an earlier journal stands), 1 when it is in place and flushed, 2 when it is in
// place but its folder could not be flushed.
int saveJournal(const char* path, const sJournal& journal, bool committed, cInstallFS* fs = nullptr);

// What reading a journal found.
enum eJournalRead {
    eJournalReadWhole = 0,   // read whole and of the exact form: `out` holds it
    eJournalUnreadable = 1,  // could not be opened or read (`error`: the system's errno)
    eJournalDamaged = 2,     // read whole, and its form or its digest is wrong
};

// Reads and parses the journal at `path`.
eJournalRead readJournal(const char* path, sJournal& out, int* error = nullptr);

// Parses a journal's text without touching any file: its state and number of file,
// folder and menu entry lines. False for anything but the exact form.
bool parseJournalText(const char* data, long long size, bool& committed, long long& entries);

// What resolving a journal did: an eInstallJobResult with the file concerned, and the
// manager and its menu entry when a registration set them.
struct sJournalOutcome {
    unsigned int result = 0;
    _guardchar<char> path, manager, managerEntry;
};

// Resolves a journal read from `path` or made by the run itself (a run finishes by
// resolving its own committed journal); the journal goes when everything was resolved.
bool resolveJournal(const char* path, sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                    cApplicationConfig* store, sJournalOutcome& out);

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
    int outcome = eNoJournal;
    char registration = 0;               // of a finished run: 'r' registered, 'u' removed
    unsigned long long version = ~0ULL;  // the version a finished registration recorded
    int error = 0;                       // eUnreadable: the system's errno
    _guardchar<char> path, setAside;
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

// Resolves every journal in the journal folder (the Software Manager's start, before it
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

// Whether a journal of the package set aside beside `journalPath` is in force: not yet
// settled by a completed run of the package, and set aside no earlier than the package's
// registration in `store` (any, when it has none).
bool setAsideInForce(const char* journalPath, cApplicationConfig* store, const char* code);
// Settles the package's set-aside journals (they stay, read-only, under their names): its
// run completed. Done by resolveJournal once a committed registration is resolved.
void settleSetAside(const char* journalPath);

// The code names of the packages other than `code` with a journal beside `journalPath`;
// false when the folder cannot be listed.
bool otherJournals(const char* journalPath, const char* code, _List<_guardchar<char> >& codes);

// Before a run changes any of `targets` (pathKey): every journal of the packages `codes`
// (otherJournals) that names one of them is resolved under its package's run lock,
// pending ones first as above; a damaged one is set aside (its package's next run then
// goes on as after a crash). False while one of them cannot be: its run is still going
// on, it could not be read (it may name them), or an operation failed (`blocking` then
// names its package). A run makes its own journal only once no other one names its files.
bool recoverOthersNaming(const char* journalPath, const _List<_guardchar<char> >& codes,
                         const cFasterTreeList<cStringKey, int>& targets, cApplicationConfig* store,
                         cInstallFS* fs = nullptr, _guardchar<char>* blocking = nullptr);

// Held by an installation or uninstallation for its whole run (a shared lock on the
// journal folder), so that recoverAllInterrupted leaves a live run's journal alone. A run
// whose lock is not held goes no further: path() names the folder.
class cJournalFolderLock {
public:
    explicit cJournalFolderLock(const char* journalPath);
    ~cJournalFolderLock();
    bool held() const { return myFd >= 0; }
    const char* path() const { return myPath.ptr ? myPath.ptr : ""; }
    cJournalFolderLock(const cJournalFolderLock&) = delete;
    cJournalFolderLock& operator=(const cJournalFolderLock&) = delete;

private:
    int myFd = -1;
    _guardchar<char> myPath;
};
