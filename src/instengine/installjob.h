// The installation job: every file written beside its target and moved into place, the
// replaced files kept as backups until the package is registered, a journal of the files
// in flight so that an interrupted run is undone by the next one, the Software Manager
// copy, shortcuts and the package's record in the store.
//
// Journal ("<store folder>/inflight-<code>", saved as "inflight-<code>~new" and renamed
// into place, its data and folder flushed): the line "QMXINFLIGHT 3" (versions 1 and 2, without folder, menu entry and
// registration lines, are still read), the line "state pending" or "state committed",
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
// then "end <count>" (the number of lines between).
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
// does not name belongs to the user and makes the run fail before any write.
// Uninstallation writes the same journal: "R" for every file it moves aside, "Q" for its
// menu entries, "unregister" with the record, committed once all files are aside.
#pragma once

#include "base/progress.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "instengine/pkgregistry.h"

// Detailed results (the Finish page's message is result + 1 of "pkgm::fin").
enum eInstallJobResult {
    eIJOk = 0,
    eIJBadObject = 1,
    eIJCannotRecover = 2,
    eIJNoItem = 3,
    eIJCannotCreate = 4,
    eIJCannotRead = 5,
    eIJCannotWrite = 6,
    eIJGaveUp = 7,
    eIJCannotApply = 8,
    eIJCannotMakeFolder = 9,
    eIJStopped = 10,
    eIJNotSaved = 11,
};

// How many stages a run reports (4 + the files to install) and the index of the file
// stages' first.
int installStageCount(sPkgInstallContext& ctx);

struct sJournalEntry {
    char kind = 0;  // 'R', 'N', 'O', 'M', 'D', 'E', 'Q' or 'S'
    _guardchar<char> path;
};

// What a journal says.
struct sJournal {
    bool committed = false;
    _List<sJournalEntry> entries;
    // Version 3: the registration to finish. 0 none (versions 1 and 2), 'r' the record
    // replaces the package's, 'u' the package goes.
    char registration = 0;
    _guardchar<char> code;
    _guardchar<char> manager;  // the program the manager copy is made from ('r'; may be empty)
    sPkgRegistryRecord record;

    bool add(char kind, const char* path);
};

// Saves a journal beside its place and renames it there: 0 when it could not be put in
// place (an earlier journal stands), 1 when it is in place and flushed, 2 when it is in
// place but its folder could not be flushed.
int saveJournal(const char* path, const sJournal& journal, bool committed, cInstallFS* fs = nullptr);

// Parses a journal's text without touching any file: its state and number of file,
// folder and menu entry lines. False for anything but the exact form.
bool parseJournalText(const char* data, long long size, bool& committed, long long& entries);

// Undoes (pending) or finishes (committed) what an interrupted run left, as its journal
// says; true when there was no journal or everything was resolved (the journal is then
// gone). A damaged journal, or one whose registration needs a store that is not given,
// is left alone and gives false. The folders a committed run made and that still exist
// are added to `made` when given.
bool recoverInterrupted(const char* journalPath, cInstallFS* fs = nullptr, _List<_guardchar<char> >* made = nullptr,
                        cApplicationConfig* store = nullptr);

// Resolves every journal in the journal folder (the Software Manager's start, before it
// lists the packages). Journals of runs still going on are left to them. True when every
// journal was resolved.
bool recoverAllInterrupted(cApplicationConfig* store, cInstallFS* fs = nullptr);

// Held by an installation or uninstallation for its whole run (a shared lock on the
// journal folder), so that recoverAllInterrupted leaves a live run's journal alone.
class cJournalFolderLock {
public:
    explicit cJournalFolderLock(const char* journalPath);
    ~cJournalFolderLock();
    cJournalFolderLock(const cJournalFolderLock&) = delete;
    cJournalFolderLock& operator=(const cJournalFolderLock&) = delete;

private:
    int myFd = -1;
};

// Runs the installation on the calling thread: stages and progress to `progress` (a stop
// is honoured while a file is unpacked), questions to `asker`. Stores the detailed
// result in ctx.result (and the path concerned in ctx.messagePath); returns 0 when the
// installation is complete and registered, 1 otherwise.
unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs = nullptr);
