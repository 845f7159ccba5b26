// The installation job: every file written beside its target and moved into place, the
// replaced files kept as backups until the package is registered, a journal of the files
// in flight so that an interrupted run is undone by the next one, the Software Manager
// copy, shortcuts and the package's record in the store.
//
// Journal ("<store folder>/inflight-<code>", replaced by rename, its data and folder
// flushed): the line "QMXINFLIGHT 2" (version 1, without folder lines, is still read), the line "state pending" or "state committed", then
// lines "<kind> <path>": "R" a file that existed and is (to be) moved to "<path>.bkp",
// "N" a new file, "M" a folder that did not exist and is (to be) made, "D" a folder
// below which emptied folders go, once committed "O" a file of the earlier version that
// the new one no longer has; then "end <count>" (the number of those lines).
// Pending: recovery removes "<path>.tmp", puts "<path>.bkp" back (a missing target counts
// as removed), removes a new file that has no backup and the made folders left empty.
// Committed (the new files are all in place): recovery removes temporary files, backups
// and the obsolete files with the folders below a "D" folder they leave empty. Only paths
// the journal names are ever taken; a "<path>.tmp" or "<path>.bkp" that it does not name
// belongs to the user and makes the run fail before any write. Uninstallation writes the
// same journal: "R" for every file it moves aside, committed once all are aside.
#pragma once

#include "base/progress.h"
#include "softmgrapp/installctx.h"
#include "softmgrapp/installfs.h"

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

// The journal's lines gathered, then saved beside its place and renamed there.
class cJournalWriter {
public:
    // One line "<kind> <path>".
    void add(char kind, const char* path);
    // 0 when it could not be put in place (an earlier journal stands), 1 when it is in
    // place and flushed, 2 when it is in place but its folder could not be flushed.
    int save(const char* path, bool committed, cInstallFS* fs = nullptr);

private:
    void append(const char* s, long long n);
    _typebuf<char> myBuf;
    long long myLen = 0, myCount = 0;
    bool myOk = true;
};

// Parses a journal's text without touching any file: its state and number of entries.
// False for anything but the exact form.
bool parseJournalText(const char* data, long long size, bool& committed, long long& entries);

// Undoes (pending) or finishes (committed) what an interrupted run left, as its journal
// says; true when there was no journal or everything was resolved (the journal is then
// gone). A damaged journal is left alone and gives false. The folders a committed run
// made and that still exist are added to `made` when given.
bool recoverInterrupted(const char* journalPath, cInstallFS* fs = nullptr, _List<_guardchar<char> >* made = nullptr);

// Runs the installation on the calling thread: stages and progress to `progress` (a stop
// is honoured while a file is unpacked), questions to `asker`. Stores the detailed
// result in ctx.result (and the path concerned in ctx.messagePath); returns 0 when the
// installation is complete and registered, 1 otherwise.
unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs = nullptr);
