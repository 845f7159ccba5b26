// The application object: start-up (language, mode) and the dispatch of modes.
#include "softmgrapp/softmgrapp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ciplatform/headless.h"
#include "configstore/ciappconfig.h"
#include "instengine/pkgregistry.h"
#include "instengine/version.h"
#include "softmgrapp/instwizard.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/makeinstaller.h"
#include "softmgrapp/remover.h"
#include "softmgrapp/softmgrform.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/startup.h"
#include "softmgrapp/updatecheck.h"

cSoftMgrApp::~cSoftMgrApp() {}

namespace {

// Every mode needs the store; without it the run ends, and says where and why.
void reportStoreFailure(cCIAppConfig* store) {
    const char* folder = store ? store->failedFolder() : nullptr;
    int error = store ? store->failedError() : 0;
    if (!folder) {
        fprintf(stderr, "(e) The configuration store could not be opened: there is no home folder (HOME).\n");
        return;
    }
    fprintf(stderr, "(e) The configuration store could not be opened: %s: %s\n", folder,
            error ? strerror(error) : "unknown error");
}

}  // namespace

bool openProgramStore(cCIAppConfig& store, const char* name) {
    return store.open(name) || (store.create(name), store.open(name));
}

int applyStoredLanguage(cApplicationConfig* store) {
    unsigned long long stored = 0;
    if (store && store->getParamInt(kRegLangCurrent, stored) && stored < (unsigned long long)eLangStdCount) {
        int id = (int)stored;
        if (cSOPKGLang::_defines(id) && cSOPKGLang::applyLang(id)) return id;
    }
    cSOPKGLang::applyLang(eLangENG);
    return eLangENG;
}

bool cSoftMgrApp::onInit(int argc, char** argv, int& exitCode) {
    if (!cCIApplication::onInit(argc, argv, exitCode)) return false;
    if (!appRef()) return false;
    if (!config()) {
        reportStoreFailure(myStoreObject);
        return false;
    }
    mode = eModeSoftMgr;
    installOffset = 0;
    quiet = false;
    // The program's own path from /proc/self/exe, never argv[0].
    if (exePath())
        executablePath.set(exePath());
    else if (!selfExePath(executablePath))
        executablePath.clear();

    sStartupChoice choice;
    if (!chooseMode(argc, argv, executablePath.ptr, choice)) return false;
    mode = choice.mode;
    firstArg.attach(choice.first.dettach());
    secondArg.attach(choice.second.dettach());
    installOffset = choice.offset;
    quiet = choice.quiet;
    // The version query needs neither texts nor the update server.
    if (mode == eModeVersion) return true;
    applyStoredLanguage(config());
    if (!initUpdateServer()) fprintf(stderr, "(w) QMX_UPDATE_SERVER is not \"host:port\" or an http:// address; using %s.\n", kUpdateServerBase);
    return true;
}

bool cSoftMgrApp::showsWindows() { return mode != eModeMake && mode != eModeVersion; }

namespace {

int unavailable(const char* what) {
    fprintf(stderr, "(e) %s is not available in this build yet.\n", what);
    return kExitModeUnavailable;
}

// Windows can be shown on a display, or answered by the headless maker's test script.
bool windowsAvailable(cWindowMaker* maker) {
    if (!maker) return false;
    if (!maker->headless()) return true;
    cHeadlessWindowMaker* h = dynamic_cast<cHeadlessWindowMaker*>(maker);
    return h && h->scripted();
}

}  // namespace

int cSoftMgrApp::run() {
    const char* what = nullptr;
    switch (mode) {
        case eModeSoftMgr: what = "The Software Manager"; break;
        case eModeInstall: what = "Installing a package"; break;
        case eModeUninstall: what = "Uninstalling a package (\"uninstall\")"; break;
        case eModeUpdate: what = "The update check (\"update\")"; break;
        case eModeRemove: what = "Removing the Software Manager (\"remove\")"; break;
        default: break;
    }
    // Every mode but "make" and "version" shows windows.
    if (what && !windowsAvailable(windowMaker())) {
        const char* display = getenv("DISPLAY");
        fprintf(stderr, "(e) %s shows windows, but %s.\n", what,
                display && *display ? "the X display named by DISPLAY cannot be opened" : "DISPLAY is not set");
        return kExitNoDisplay;
    }
    // Under a headless test script the forms' messages go to the console too.
    gConsoleMessages = !windowMaker() || windowMaker()->headless();
    switch (mode) {
        case eModeInstall:
            return install(executablePath.ptr, firstArg.ptr, installOffset,
                           [](sPkgInstallContext& ctx) { return cInstWizard::runWizard(ctx); }, config());
        case eModeUninstall: return uninstall(firstArg.ptr, nullptr, nullptr, config());
        case eModeSoftMgr: return cSoftMgrForm::runManager(nullptr, config());
        case eModeUpdate: return check_updates(firstArg.ptr, quiet, config());
        // Only the real executable path (/proc/self/exe) may be deleted, never argv[0].
        case eModeRemove: return remove_softmgr(executablePath.ptr, config());
        case eModeMake: return makeInstaller(executablePath.ptr, firstArg.ptr, secondArg.ptr, nullptr);
        case eModeVersion: return printverinfo();
        default: return what ? unavailable(what) : 0;
    }
}

const unsigned int* cSoftMgrApp::appIconData() { return iconColorData(); }

