// Uninstallation: the "uninstall" verb's job (one package removed as its record in the
// store says, its questions put through the hosting form) and the removal of deprecated
// packages through their removal commands.
#pragma once

#include "base/progress.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"

struct sPkgUninstallContext {
    _guardchar<char> codeName;
    _guardchar<char> key;  // the code name as used in the store's keys
    _List<int> languages;  // offered when the job has to ask
    _List<_guardchar<char> > files;
    _List<_guardchar<char> > shortcuts;
    // The journal of the files in flight (the default place when empty).
    _guardchar<char> journalPath;
    // Display names of the installed packages whose records list files of this one too:
    // those files stayed.
    _List<_guardchar<char> > keptFor;
    // Set by a caller that holds this package's run lock itself (an installer removing an
    // earlier package of its own code name); otherwise the job takes it.
    bool runLockHeld = false;
    // The file a result's message names, and the system's reason (errno) where one is told.
    _guardchar<char> messagePath;
    int messageError = 0;
    // eUNUnfinished: the package whose journal could not be resolved.
    _guardchar<char> blocking;
    // eUNDeregistered: what the removal left as it was and names. Files and menu entries
    // the record lists that a check refuses (outside the package's folders, reached
    // through a link, the program's own, not a regular file), and, after a journal set
    // aside, the names beside the package's files that may be what the interrupted run
    // left (or the user's).
    _List<_guardchar<char> > leftovers;
};

// Results of uninstallJob.
enum eUninstallResult {
    eUNRemoved = 0,
    eUNNoLanguage = 1,
    eUNNotInstalled = 2,
    eUNNoStart = 3,
    eUNFailed = 4,
    eUNDeregistered = 5,
    eUNCancelled = 6,
    // The removal could not be completed (the next run finishes it) or not begun.
    eUNIncomplete = 7,
    // An interrupted run's journal, or another package's that names its files, could not
    // be resolved: nothing done.
    eUNUnfinished = 8,
    // An installer of the package is running: nothing done.
    eUNBusy = 9,
    // The package's run lock or the store folder's could not be taken, or the store not
    // read anew (messagePath names the file or folder): nothing done.
    eUNNoRunLock = 10,
    // An interrupted run's journal could not be read (messagePath, messageError): kept,
    // nothing done.
    eUNUnreadable = 11,
    eUNCount  // the number of results
};

// Whether uninstallJob has anything to act on for `code`: a record in `store` (or a store
// that could not be read), an interrupted run's journal (or one it was saving), or the
// system's registration with a removal command or a version. False for a code name that
// is not a safe key. Without any, the job claims nothing: it answers eUNNotInstalled once
// the language is chosen.
bool uninstallKnows(const char* code, cApplicationConfig* store);

// The job's work on its thread (everything but the 500 ms pause). Questions (language,
// confirmation, busy file) go to `asker`, which also applies languages on the UI thread.
// The language comes first, also for a package that turns out not to be installed.
// eUNRemoved only when every file and menu entry the record owned is gone (files another
// package's record lists stay and keptFor names that package); eUNDeregistered when the
// record went but names stayed (leftovers). eUNCancelled after a busy file was given up
// and eUNIncomplete after a failure once committed name the file in messagePath.
unsigned int uninstallJob(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker,
                          cInstallFS* fs = nullptr);

// Runs a command line as a child process without a shell and waits: its exit status, -1
// (started false) when it did not start.
int runRemovalCommand(const char* command, bool& started);
// The code name in this manager's own removal command, "\"<manager>\" uninstall \"<code>\""
// (as getPackageRemovalCommandLine writes it); false for any other command.
bool ownRemovalCode(const char* command, _guardchar<char>& code);

// Runs the removal command of every selected package, one stage each, through `run`
// (runRemovalCommand when null; `data` is handed to it); packages whose command ended
// with status 0 leave the list, the others keep the status (-1 when it did not start).
// Returns 0.
typedef int (*tRemovalRunner)(const char* command, bool& started, void* data);
unsigned int runRemovalCommands(_List<sPackageForRemoval>& list, cProgressNotifyTarget* progress,
                                tRemovalRunner run = nullptr, void* data = nullptr);
