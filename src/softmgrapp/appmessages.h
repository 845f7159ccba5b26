// The messages the user sees, by name: the kinds of message box, one enum per section of
// the language tables (lang/*.txt; each name is its text's index there), and the one table
// that says which message answers each result of the engine's jobs and of the manager's
// removal. No other code turns a result into a message index.
#pragma once

#include <initializer_list>

#include "base/buffers.h"

// What a message box shows and what it asks (appMessageBox). The numbers are the boxes'
// own: callers and tests pass them as plain ints.
enum eBoxKind {
    eBoxNone = 0,  // in the result table: the result shows no box
    eBoxInfo = 1,
    eBoxError = 2,
    eBoxWarning = 3,
    eBoxWarnQuestion = 4,  // a warning asking yes or no: 1 for yes, 0 for no
    eBoxQuestion = 5,      // a plain question (the question icon): 1 for yes, 0 for no
};

// Whether a box of that kind asks yes or no (its answer is the result).
inline bool asksYesNo(int kind) { return kind == eBoxWarnQuestion || kind == eBoxQuestion; }

// "pkgm::fin": the Finish page and the installation's failures.
enum eFinMsg {
    eFinDone = 0,
    eFinFailedTitle = 1,
    eFinBadObject = 2,
    eFinCannotRecover = 3,
    eFinNoItem = 4,
    eFinCannotCreate = 5,
    eFinCannotRead = 6,
    eFinCannotWrite = 7,
    eFinBackupFailed = 8,
    eFinCannotApply = 9,
    eFinIncorrectPath = 10,
    eFinAborted = 11,
    eFinNotSaved = 12,
    eFinStartHint = 13,
    eFinKeptFor = 14,         // files of the earlier version kept for the packages that list them
    eFinLeftAsTheyWere = 15,  // files of the earlier version a check refused to take
    eFinNotRemoved = 16,      // files of the earlier version whose removal failed (in its "%s")
    eFinSideNameTaken = 17,   // a file of the earlier version at a name the update needs (both in its "%s")
};

// "pkgm::fsel": the location page.
enum eFselMsg {
    eFselBrowse = 0,
    eFselChooseTitle = 1,
    eFselTarget = 2,
    eFselSpace = 3,
    eFselBelow1MB = 4,
    eFselMegabytes = 5,
    eFselHelp = 6,
    eFselBadPath = 7,
    eFselForeignFile = 8,
    eFselSpecialObject = 9,
    eFselNoRights = 10,
    eFselCannotRead = 11,
    eFselNoSpaceInfo = 12,
    eFselNoRoom = 13,
    eFselOwnFolder = 14,  // the program's own files: the store's folder, the manager's bundle
    eFselSideName = 15,
};

// "pkgm::iini": the loading form of the installation start.
enum eIiniMsg {
    eIiniTitle = 0,
    eIiniLoading = 1,
    eIiniBadPath = 2,
    eIiniBadScenario = 3,
    eIiniNewerInstalled = 4,
    eIiniDamagedInstall = 5,
    eIiniDamagedConfig = 6,
    eIiniCannotRead = 7,
    eIiniNoRights = 8,
    eIiniSpecialObject = 9,
    eIiniForeignFile = 10,
    eIiniBadInstallPath = 11,
    eIiniNoUpdate = 12,
    eIiniBusy = 13,
    eIiniLeftover = 14,
    eIiniSideName = 15,
    eIiniMore = 16,  // "and %s more", the count of names a list leaves out
};

// "pkgm::instp": the installation job's stages.
enum eInstpMsg {
    eInstpPreparing = 0,
    eInstpUnpacking = 1,
    eInstpBackup = 2,
    eInstpApplying = 3,
    eInstpCleaning = 4,
    eInstpManagerEntry = 5,
    eInstpTitle = 6,
};

// "pkgm::instw": the wizard.
enum eInstwMsg {
    eInstwTitle = 0,
    eInstwNext = 1,
    eInstwIntroName = 2,
    eInstwNotesName = 3,
    eInstwLicenceName = 4,
    eInstwLocationName = 5,
    eInstwInstallName = 6,
    eInstwFinishName = 7,
    eInstwIntroTitle = 8,
    eInstwNotesTitle = 9,
    eInstwLicenceTitle = 10,
    eInstwLocationTitle = 11,
    eInstwInstallTitle = 12,
    eInstwFinishTitle = 13,
    eInstwClose = 14,
    eInstwAskClose = 15,
    eInstwNotesRead = 16,
    eInstwLicenceAccepted = 17,
    eInstwDeprecatedName = 18,
    eInstwDeprecatedTitle = 19,
    eInstwAskKeepAll = 20,
    eInstwAskKeepSome = 21,
    eInstwAskPartialRemoval = 22,
    eInstwNoneDeprecated = 23,
    eInstwAskAbort = 24,
    eInstwAskRetryUpdate = 25,
};

// "pkgm::langs": the language question.
enum eLangsMsg {
    eLangsTitle = 0,
    eLangsPrompt = 1,
    eLangsStart = 2,
    eLangsAskCancel = 3,
    eLangsOtherLink = 4,  // "-" where a language offers no link
};

// "pkgm::rem": the removal of the Software Manager.
enum eRemMsg {
    eRemTitle = 0,
    eRemRemoving = 1,
    eRemAskRemove = 2,
    eRemRemoved = 3,
    eRemPackagesLeft = 4,
    eRemBadObject = 5,
    eRemOwnFileRemoved = 6,
};

// "pkgm::resp": the carrier form of a message box.
enum eRespMsg {
    eRespTitle = 0,
    eRespWaiting = 1,
};

// "pkgm::softm": the Software Manager's form.
enum eSoftmMsg {
    eSoftmTitle = 0,
    eSoftmTab = 1,
    eSoftmName = 2,
    eSoftmInstalled = 3,
    eSoftmVersion = 4,
    eSoftmUpdate = 5,
    eSoftmUninstall = 6,
    eSoftmVersionOf = 7,
    eSoftmInstalledOn = 8,
    eSoftmPublisherSite = 9,
    eSoftmSupport = 10,
    eSoftmInformation = 11,
    eSoftmRefresh = 12,
    eSoftmNoPackages = 13,
    eSoftmCheckingUpdates = 14,
    eSoftmCheckingPackages = 15,
    eSoftmUpdateAvailable = 16,
    eSoftmRemoveManager = 17,
    eSoftmUnfinished = 18,
    eSoftmSetAside = 19,
    eSoftmUnreadable = 20,
};

// "pkgm::unin": the uninstallation.
enum eUninMsg {
    eUninTitle = 0,
    eUninProcessing = 1,
    eUninAskDeregister = 2,
    eUninAskRemove = 3,
    eUninAskRetry = 4,
    eUninRemoved = 5,
    eUninInternalError = 6,
    eUninNotInstalled = 7,
    eUninNoStart = 8,
    eUninFailed = 9,
    eUninDeregistered = 10,
    eUninCancelled = 11,
    eUninKeptFor = 12,
    eUninBusy = 13,
    eUninLeftAsTheyWere = 14,
    eUninDeregisteredNamed = 15,  // de-registered, over names left as they were
};

// "pkgm::updi": the update form.
enum eUpdiMsg {
    eUpdiTitle = 0,
    eUpdiAvailable = 1,
    eUpdiWhatsNew = 2,
    eUpdiInstall = 3,
    eUpdiNotNow = 4,
    eUpdiSaveAs = 5,
    eUpdiAllFiles = 6,
    eUpdiCannotCreate = 7,
    eUpdiAskRetry = 8,
    eUpdiCannotStart = 9,
    eUpdiSiteLink = 10,
    eUpdiBrowserLink = 11,
    eUpdiAskOverwrite = 12,
    eUpdiDownloading = 13,
    eUpdiServerError = 14,
    eUpdiCannotWrite = 15,
};

// "pkgm::updr": the "update" verb's answers.
enum eUpdrMsg {
    eUpdrBadId = 0,
    eUpdrNoInformation = 1,
    eUpdrNotRequired = 2,
};

// Where a result is shown: one result reads differently on another page.
enum eResultPlace {
    eAtInstallStart,    // eInstallInitResult: the loading form, a first installation without the wizard
    eAtLocationPage,    // eInstallInitResult of the target checks: the wizard's location page
    eAtInstallEnd,      // eInstallJobResult: the Finish page, the installation form without the wizard
    eAtUninstall,       // eUninstallResult: the uninstallation form
    eAtUninstallNamed,  // eUninstallResult over names left as they were (the others as eAtUninstall)
    eAtManagerRemoval,  // eRemoverResult: the manager's removal form
    eAtQuestion,        // eJobQuestion: the yes/no questions the jobs put
};

// A message: its section and index in the language tables and the box that shows it.
struct sMessageRef {
    const char* section;  // null: the result shows no message
    int index;
    int kind;  // eBoxKind
};

// The message that answers `result` at `place`; null for a result the table does not know.
const sMessageRef* resultMessage(eResultPlace place, unsigned int result);
// The text of a message in the applied language ("" when absent or null).
const char* messageOf(const sMessageRef* message);
// A language text with its "%s" replaced by `args` in turn, a null one by nothing (what
// they hold is not looked at: a name may hold "%s" too); a text without one as it is.
void fillText(const char* pattern, std::initializer_list<const char*> args, _guardchar<char>& out);
