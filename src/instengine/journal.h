// A journal's resolution: a pending run undone, a committed one finished (its Software
// Manager copy and its registration included); a run finishes by resolving its own.
//
// Pending: recovery removes "<path>.tmp", puts "<path>.bkp" back (a missing target counts
// as removed), removes a new file that has no backup and the made folders left empty;
// menu entries, the manager and the store are untouched until the commit.
// Committed (the new files are all in place): recovery does everything the run still had
// to do, in the run's own order and with the run's own code: menu entries moved into
// place, obsolete ones removed, the manager copy, obsolete files with the folders below a
// "D" folder they leave empty, the record, then backups and temporary files. The whole
// registration travels in the journal because the store cannot be undone by it: the
// store's hives are shared by every package, so only a record written after the commit,
// from text fixed before it, keeps every next run (another installer, an uninstallation,
// the manager's list) in step.
// Only paths the journal names are ever taken. A "<path>.tmp" or "<path>.bkp" that the
// journal names as a file of its own (an update's earlier version shipped it) is that
// file, never the other line's temporary file or backup: it goes only as its own line says.
// Which journals are obeyed at all, and in which order across packages, is the recovery's
// (journalrecovery.h).
// Uninstallation writes the same journal: "R" for every file it moves aside ("O" for one
// whose backup name is taken: it stays in place until the commit), "Q" for its menu
// entries, "unregister" with the record, committed once all files are aside.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/lists.h"
#include "instengine/installfs.h"
#include "instengine/journaldata.h"

// What resolving a journal did: an eInstallJobResult with the file concerned, and the
// manager and its menu entry when a registration set them. Files of the earlier version
// that could not be removed are all named (the result is then eIJCannotWrite).
struct sJournalOutcome {
    unsigned int result = 0;
    _guardchar<char> path, manager, managerEntry;
    _List<_guardchar<char> > notRemoved;
};

// Resolves a journal read from `path` or made by the run itself (a run finishes by
// resolving its own committed journal); the journal goes when everything was resolved.
// A committed registration resolved is the package's run completed: the package's
// set-aside journals are settled (setaside.h).
bool resolveJournal(const char* path, sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                    cApplicationConfig* store, sJournalOutcome& out);
