// The installation start: loading the package and checking it against the earlier
// installation and the file system before the wizard starts.
#pragma once

#include "instengine/installctx.h"

// Results of installChecks and checkInstallTargets.
enum eInstallInitResult {
    eIIOk = 0,
    eIIBadPath = 1,
    eIIBadScenario = 2,
    eIILangCancelled = 3,
    eIINewerInstalled = 4,
    eIIDamagedInstall = 5,
    eIIDamagedConfig = 6,
    eIICannotRead = 7,
    eIINoRights = 8,
    eIISpecialObject = 9,
    eIIForeignFile = 10,
    eIIBadInstallPath = 11,
    eIINoUpdate = 12,
    eIIBusy = 13,  // another installer of the package is running
    // An interrupted run's journal could not be resolved, nor set aside (the message path
    // names the journal).
    eIIUnfinished = 14,
    // The journal of an interrupted installation of this very version was finished: the
    // package is installed, nothing is left to do.
    eIIFinished = 15,
    // An interrupted run's journal could not be read: kept, nothing done (the message path
    // names it, the message error says why).
    eIIUnreadable = 16,
    // Nothing to install, but a name beside the package's files may be what an
    // interrupted run whose journal was set aside left, or the user's (the message path
    // names it): it stays (leftovers.h).
    eIILeftover = 17,
    // A target of the package is another's with ".tmp" or ".bkp" appended: the run would
    // overwrite or remove the package's own file (the message path names both, one a line).
    eIISideName = 18,
    eIICount  // the number of results
};

// Whether a file could be created at a path that does not exist yet: 0 yes, 1 a bad
// path (empty, existing, or no existing folder above it), 2 the nearest existing object
// above it is not a folder, 3 that folder is not writable.
int isPossibleInstallPath(const char* path);

// The checks of the installation start, on the job's thread (everything but the 500 ms
// pause): the package opened and loaded, the language chosen, the earlier installation
// read and compared, every target checked, the size and the deprecated packages.
unsigned int installChecks(sPkgInstallContext& ctx, cJobAsker* asker);

// Sets the installation folder ("pgm") and builds the list of copied files from it. The
// folder must be one a package may have (mayBePackageFolder: any but the program's own,
// the home folder, the folders above it and the root included) and the targets absolute,
// plain (no "." or ".." part) and outside the program's own folders: false otherwise,
// with the message path set to the offending folder or target (isProgramFolder tells
// the program's own).
bool setInstallFolder(sPkgInstallContext& ctx, const char* folder);

// The folder a first installation proposes, each package in a folder of its own: the
// scenario's "folder" with a leading "/Applications" taken to "$HOME/Applications"; a
// folder elsewhere that the user may not make or write, or that may not be a package's
// (mayBePackageFolder), becomes "$HOME/Applications/<its last name>"; without one,
// "$HOME/Applications/<the package's name>". A package of the same name as an installed
// one is proposed the same folder: the location page's per-file check answers when it
// holds a different file of the other package.
bool proposeInstallFolder(sPkgInstallContext& ctx, _guardchar<char>& out);

// Builds the copied files and checks each target against the earlier installation's
// files and what lies on disk (a result of the table above; the message path names the
// file). The start runs it for an update; a first installation runs it once the folder
// is chosen.
unsigned int checkInstallTargets(sPkgInstallContext& ctx);

// Builds the context's copied files from the scenario (the folder already set); false
// for a scenario whose files cannot be listed or a target that is not absolute and
// plain or lies among the program's own files (the message path names it).
bool fillCopiedFiles(sPkgInstallContext& ctx);

// The removal command of an installed package ("\"<manager>\" uninstall \"<code>\"")
// and its major version, from the store, else from the system registration.
bool getPackageRemovalCommandLine(cApplicationConfig* store, const char* code, int& major, _guardchar<char>& command);
// The display name of an installed package.
bool getInstalledPackageName(cApplicationConfig* store, const char* code, _guardchar<char>& name);
