// The table of the messages that answer the engine's results, the manager's removal and the
// jobs' questions.
#include "softmgrapp/appmessages.h"

#include <cstring>

#include "base/strings.h"
#include "instengine/installinit.h"
#include "instengine/uninstall.h"
#include "softmgrapp/removerresult.h"
#include "ui/lang.h"

namespace {

struct sResultRow {
    eResultPlace place;
    unsigned int result;
    sMessageRef message;
};

const char kFin[] = "pkgm::fin";
const char kFsel[] = "pkgm::fsel";
const char kIini[] = "pkgm::iini";
const char kRem[] = "pkgm::rem";
const char kSoftm[] = "pkgm::softm";
const char kUnin[] = "pkgm::unin";

// Results that show nothing are rows too: a result missing from the table is a mistake.
const sResultRow kRows[] = {
    {eAtInstallStart, eIIOk, {nullptr, 0, eBoxNone}},
    {eAtInstallStart, eIIBadPath, {kIini, eIiniBadPath, eBoxError}},
    {eAtInstallStart, eIIBadScenario, {kIini, eIiniBadScenario, eBoxError}},
    {eAtInstallStart, eIILangCancelled, {nullptr, 0, eBoxNone}},
    {eAtInstallStart, eIINewerInstalled, {kIini, eIiniNewerInstalled, eBoxInfo}},
    {eAtInstallStart, eIIDamagedInstall, {kIini, eIiniDamagedInstall, eBoxError}},
    {eAtInstallStart, eIIDamagedConfig, {kIini, eIiniDamagedConfig, eBoxError}},
    {eAtInstallStart, eIICannotRead, {kIini, eIiniCannotRead, eBoxError}},
    {eAtInstallStart, eIINoRights, {kIini, eIiniNoRights, eBoxError}},
    {eAtInstallStart, eIISpecialObject, {kIini, eIiniSpecialObject, eBoxError}},
    {eAtInstallStart, eIIForeignFile, {kIini, eIiniForeignFile, eBoxError}},
    {eAtInstallStart, eIIBadInstallPath, {kIini, eIiniBadInstallPath, eBoxError}},
    {eAtInstallStart, eIINoUpdate, {kIini, eIiniNoUpdate, eBoxInfo}},
    {eAtInstallStart, eIIBusy, {kIini, eIiniBusy, eBoxError}},
    // Names the packages in its "%s".
    {eAtInstallStart, eIIUnfinished, {kSoftm, eSoftmUnfinished, eBoxError}},
    // What the interrupted run left is done: said as the installation's end.
    {eAtInstallStart, eIIFinished, {kFin, eFinDone, eBoxInfo}},
    // Names the package, the journal and the system's reason in its "%s".
    {eAtInstallStart, eIIUnreadable, {kSoftm, eSoftmUnreadable, eBoxError}},
    // Lists the names in its "%s".
    {eAtInstallStart, eIILeftover, {kIini, eIiniLeftover, eBoxError}},
    // Names both files in its "%s".
    {eAtInstallStart, eIISideName, {kIini, eIiniSideName, eBoxError}},

    // The location page names the file in question; what it cannot tell apart is a bad path.
    {eAtLocationPage, eIIOk, {nullptr, 0, eBoxNone}},
    {eAtLocationPage, eIIBadPath, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIBadScenario, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIILangCancelled, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIINewerInstalled, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIDamagedInstall, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIDamagedConfig, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIICannotRead, {kFsel, eFselCannotRead, eBoxError}},
    {eAtLocationPage, eIINoRights, {kFsel, eFselNoRights, eBoxError}},
    {eAtLocationPage, eIISpecialObject, {kFsel, eFselSpecialObject, eBoxError}},
    {eAtLocationPage, eIIForeignFile, {kFsel, eFselForeignFile, eBoxError}},
    {eAtLocationPage, eIIBadInstallPath, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIINoUpdate, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIBusy, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIUnfinished, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIFinished, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIIUnreadable, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIILeftover, {kFsel, eFselBadPath, eBoxError}},
    {eAtLocationPage, eIISideName, {kFsel, eFselSideName, eBoxError}},

    // The Finish page shows the text under eFinFailedTitle, the form without the wizard in
    // a box.
    {eAtInstallEnd, eIJOk, {nullptr, 0, eBoxNone}},
    {eAtInstallEnd, eIJBadObject, {kFin, eFinBadObject, eBoxError}},
    {eAtInstallEnd, eIJCannotRecover, {kFin, eFinCannotRecover, eBoxError}},
    {eAtInstallEnd, eIJNoItem, {kFin, eFinNoItem, eBoxError}},
    {eAtInstallEnd, eIJCannotCreate, {kFin, eFinCannotCreate, eBoxError}},
    {eAtInstallEnd, eIJCannotRead, {kFin, eFinCannotRead, eBoxError}},
    {eAtInstallEnd, eIJCannotWrite, {kFin, eFinCannotWrite, eBoxError}},
    {eAtInstallEnd, eIJGaveUp, {kFin, eFinBackupFailed, eBoxError}},
    {eAtInstallEnd, eIJCannotApply, {kFin, eFinCannotApply, eBoxError}},
    {eAtInstallEnd, eIJCannotMakeFolder, {kFin, eFinIncorrectPath, eBoxError}},
    {eAtInstallEnd, eIJStopped, {kFin, eFinAborted, eBoxError}},
    // Installed, only its record is missing.
    {eAtInstallEnd, eIJNotSaved, {kFin, eFinNotSaved, eBoxWarning}},
    // Names both files in its "%s".
    {eAtInstallEnd, eIJSideNameTaken, {kFin, eFinSideNameTaken, eBoxError}},

    {eAtUninstall, eUNRemoved, {kUnin, eUninRemoved, eBoxInfo}},
    {eAtUninstall, eUNNoLanguage, {kUnin, eUninInternalError, eBoxError}},
    {eAtUninstall, eUNNotInstalled, {kUnin, eUninNotInstalled, eBoxError}},
    {eAtUninstall, eUNNoStart, {kUnin, eUninNoStart, eBoxError}},
    {eAtUninstall, eUNFailed, {kUnin, eUninFailed, eBoxError}},
    {eAtUninstall, eUNDeregistered, {kUnin, eUninDeregistered, eBoxInfo}},
    {eAtUninstall, eUNCancelled, {kUnin, eUninCancelled, eBoxInfo}},
    {eAtUninstall, eUNIncomplete, {kUnin, eUninInternalError, eBoxError}},
    // Names the package in its "%s".
    {eAtUninstall, eUNUnfinished, {kSoftm, eSoftmUnfinished, eBoxError}},
    {eAtUninstall, eUNBusy, {kUnin, eUninBusy, eBoxError}},
    // Names the lock file in its "%s".
    {eAtUninstall, eUNNoRunLock, {kIini, eIiniNoRights, eBoxError}},
    // Names the package, the journal and the system's reason in its "%s".
    {eAtUninstall, eUNUnreadable, {kSoftm, eSoftmUnreadable, eBoxError}},
    // Names left as they may be the user's: what remains is not called safe to delete.
    {eAtUninstallNamed, eUNDeregistered, {kUnin, eUninDeregisteredNamed, eBoxInfo}},

    {eAtManagerRemoval, eRMRemoved, {kRem, eRemRemoved, eBoxInfo}},
    {eAtManagerRemoval, eRMPackages, {kRem, eRemPackagesLeft, eBoxError}},
    {eAtManagerRemoval, eRMBadObject, {kRem, eRemBadObject, eBoxError}},
    {eAtManagerRemoval, eRMOwnFile, {kRem, eRemOwnFileRemoved, eBoxInfo}},
    {eAtManagerRemoval, eRMDeclined, {nullptr, 0, eBoxNone}},

    {eAtQuestion, eAskDeregister, {kUnin, eUninAskDeregister, eBoxQuestion}},
    {eAtQuestion, eAskRemovePackage, {kUnin, eUninAskRemove, eBoxQuestion}},
    {eAtQuestion, eAskRemoveManager, {kRem, eRemAskRemove, eBoxQuestion}},
};

}  // namespace

const sMessageRef* resultMessage(eResultPlace place, unsigned int result) {
    for (const sResultRow& row : kRows)
        if (row.place == place && row.result == result) return &row.message;
    return nullptr;
}

const char* messageOf(const sMessageRef* message) {
    const char* s = message && message->section ? cCiomLangData::string(message->section, message->index) : nullptr;
    return s ? s : "";
}

void fillText(const char* pattern, std::initializer_list<const char*> args, _guardchar<char>& out) {
    out.set("");
    const char* p = pattern ? pattern : "";
    for (const char* arg : args) {
        const char* at = strstr(p, "%s");
        if (!at) break;
        _guardchar<char> head, joined;
        head.set(p, at - p);
        concatText(out.ptr, head.ptr, joined);
        concatText(joined.ptr, arg ? arg : "", out);
        p = at + 2;
    }
    _guardchar<char> joined;
    concatText(out.ptr, p, joined);
    out.attach(joined.dettach());
}
