// The installation context shared by the installation start, the wizard and the
// installation job, and the questions a job puts to the user through its hosting form.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/fileio.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "instengine/packagelocks.h"
#include "softmgr/softpkgscenario.h"

// Detailed results of the installation job and of a journal's resolution (ctx.result).
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
    // A target's temporary or backup name is a file of the earlier version that the run
    // could not tell from its own once interrupted (it stays, or the target is there to
    // be replaced): refused before any change (the message path names that file, then the
    // target, one a line).
    eIJSideNameTaken = 12,
    eIJCount  // the number of results
};

// A file recorded by the earlier installation.
struct sExistingFileItem {
    _guardchar<char> path;
    unsigned char digest[32] = {};  // of the file as found on disk
    bool kept = false;              // the new package writes the same path
};

// An installed package that this one deprecates.
struct sPackageForRemoval {
    _guardchar<char> name;     // display name
    _guardchar<char> command;  // removal command line
    bool selected = true;
    int result = 0;  // the command's exit status, -1 when it did not start
};

// Marks a copied file that is already installed with identical content.
const unsigned char kUnchangedFile = 0xFF;

// Who touches the context when. It has no lock: each phase hands it to the next, a job's
// start and its end (posted to the UI thread, which then ends the job's thread) ordering
// the writes of one thread before the reads of the other.
// 1. UI thread, before the start's job: executablePath, packagePath, offset (and store and
//    journalPath where a caller chooses them).
// 2. The start's job (installChecks): everything else. It opens packageFile, loads the
//    scenario and sets codeName, registryName, the versions, journalPath, runLock,
//    madeFolders, languages and the current language, existingFiles, existingShortcuts,
//    copiedFiles, requiredSize, packagesForRemoval, messagePath and leftovers. While it
//    waits on a sent question the UI thread reads languages and codeName, nothing else.
// 3. UI thread, between the jobs (the wizard): reads the scenario; the location page sets
//    "pgm" and rebuilds copiedFiles and messagePath; the selection of packagesForRemoval.
//    The removal job then owns packagesForRemoval (each one's result; the removed ones
//    leave the list) until its end.
// 4. The installation job (runInstallJob): writes result, messagePath, leftovers, the
//    lists of what it leaves (keptFiles ... notRemoved), madeFolders, newShortcuts,
//    journalPath and the store's record; reads the rest.
//    copiedFiles stays as it was: the UI thread reads its targets meanwhile as the job's
//    stage lines. Its questions are sent actions, answered while it waits.
// 5. UI thread, after the job's end: reads result, messagePath, leftovers and what the
//    run left (the Finish page), sets result itself only where no job ran, and closes
//    packageFile.
struct sPkgInstallContext : public cSoftPkgScenario {
    _guardchar<char> executablePath;
    _guardchar<char> packagePath;
    _guardchar<char> codeName;
    _guardchar<char> registryName;
    _guardchar<char> messagePath;  // what the last failure is about
    int messageError = 0;          // the system's reason (errno) for it, where one is told
    unsigned int result = 0;       // the installation job's detailed result
    unsigned int offset = 0;       // of the scenario data in the package file
    unsigned long long installedVersion = ~0ULL;
    unsigned long long packageVersion = ~0ULL;
    unsigned long long requiredSize = 0;
    _List<int> languages;
    _List<sPackageForRemoval> packagesForRemoval;
    cSoftPkgScenario::cCopiedFiles copiedFiles;
    cFasterTreeList<cStringKey, sExistingFileItem> existingFiles;
    cFasterTreeList<cStringKey, _guardchar<char> > existingShortcuts;
    _List<_guardchar<char> > newShortcuts;
    // Folders an interrupted run made before it committed (its journal tells).
    _List<_guardchar<char> > madeFolders;
    // The "<target>.tmp" and "<target>.bkp" names in the run's way that it may not take (an
    // interrupted run's whose journal was set aside, or the user's): the start's
    // eIILeftover, the job's eIJBadObject. The message path is the first.
    _List<_guardchar<char> > leftovers;
    // What a committed run leaves of the earlier installation's files and menu entries
    // that the new version no longer has, named in its result: those another package's
    // record lists (keptFiles; those packages' names in keptFor), those the earlier record
    // may not take (refusedFiles: outside its folders, reached through a link, the
    // program's own, not a plain path), and those whose removal failed (notRemoved: the
    // run ends with eIJCannotWrite, and its next run removes them).
    _List<_guardchar<char> > keptFiles, keptFor, refusedFiles, notRemoved;

    // The package file, open for the whole run (the payload is read from it).
    cFileIO packageFile;
    // The store the run reads and writes, given by the caller (none: no records).
    cApplicationConfig* store = nullptr;
    // The journal of the files in flight ("<store folder>/inflight-<code>").
    _guardchar<char> journalPath;
    // Taken by the start's checks, kept until the run ends.
    cPackageRunLock runLock;
};

// The yes/no questions the jobs put (cJobAsker::confirm); the application words them.
enum eJobQuestion {
    eAskDeregister = 1,     // a package without a proper installation: remove its registration?
    eAskRemovePackage = 2,  // remove the package?
    eAskRemoveManager = 3,  // remove the Software Manager?
    eAskCount  // one more than the last question
};

// The questions of the installation and uninstallation jobs. The windowed implementation
// sends them as actions to the form that hosts the job and waits (cRespondLangAction,
// cAskReleaseAction, ...).
class cJobAsker {
public:
    virtual ~cJobAsker() {}
    // A language of the list (0-10), or a number above 10 when the question was cancelled.
    virtual int askLang(const _List<int>& langs, int current, const char* code) = 0;
    // Applies a UI language on the UI thread; false when it could not be applied.
    virtual bool applyLang(int lang) = 0;
    // A file could not be moved: true to try again, false to give up.
    virtual bool askRetry(const char* path, bool removing) = 0;
    // A yes/no question (an eJobQuestion).
    virtual bool confirm(int question) = 0;
};

// Asks no one, for runs without windows: keeps the current language, gives a busy file
// up, answers every confirmation with `confirmAnswer`.
class cNoQuestionsAsker : public cJobAsker {
public:
    explicit cNoQuestionsAsker(bool confirmAnswer) : myConfirm(confirmAnswer) {}
    int askLang(const _List<int>&, int current, const char*) override { return current; }
    bool applyLang(int) override { return true; }
    bool askRetry(const char*, bool) override { return false; }
    bool confirm(int) override { return myConfirm; }

private:
    bool myConfirm;
};

// What the engine asks the application about its UI languages: the engine has no language
// tables of its own, so the application installs its answers with its tables.
class cInstallLangs {
public:
    virtual ~cInstallLangs() {}
    // Whether the application has texts in the language.
    virtual bool defines(int lang) = 0;
    // The language of a package whose record names none.
    virtual int defaultLang() = 0;
    // The Software Manager's menu-entry name in the applied language (null or empty: the
    // English name).
    virtual const char* managerEntryName() = 0;
};

// Installs the answers for the process. Until then no language is defined, English is the
// default and the manager's entry has its English name.
void setInstallLangs(cInstallLangs* langs);
cInstallLangs* installLangs();

// Key of a path in the context's maps: the path itself where names are case-sensitive
// (every file system here), else its lower-cased form.
cStringKey pathKey(const char* path);
