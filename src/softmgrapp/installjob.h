// The installation job: every file written beside its target and moved into place, the
// replaced files kept as backups until the package is registered, a journal of the files
// in flight so that an interrupted run is undone by the next one, the Software Manager
// copy, shortcuts and the package's record in the store.
//
// Journal ("<store folder>/inflight-<code>", replaced by rename): the line
// "QMXINFLIGHT 1", the line "state pending" or "state committed", one line per file to
// install ("R <path>" when the target existed and is backed up, "N <path>" when it is
// new), once committed one line "O <path>" per file of the earlier version that the new
// one no longer has, then "end <count>" (the number of file lines).
// Pending: recovery removes "<path>.tmp", puts "<path>.bkp" back (a missing target counts
// as removed) and removes a new file that has no backup. Committed (the new files are all
// in place): recovery removes temporary files, backups and the obsolete files. Only paths
// the journal names are ever taken; a "<path>.tmp" or "<path>.bkp" that it does not name
// belongs to the user and makes the run fail before any write.
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

// Parses a journal's text without touching any file: its state and number of entries.
// False for anything but the exact form.
bool parseJournalText(const char* data, long long size, bool& committed, long long& entries);

// Undoes what an interrupted run left, as its journal says; true when there was no
// journal or everything was put back (the journal is then gone). A damaged journal is
// left alone and gives false.
bool recoverInterrupted(const char* journalPath, cInstallFS* fs = nullptr);

// Runs the installation on the calling thread: stages and progress to `progress` (a stop
// is honoured while a file is unpacked), questions to `asker`. Stores the detailed
// result in ctx.result (and the path concerned in ctx.messagePath); returns 0 when the
// files are in place (results 0 and 11), 1 otherwise.
unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs = nullptr);
