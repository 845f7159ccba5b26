// Removal of the Software Manager. Only the running program's real path (/proc/self/exe)
// is ever deleted in place of a missing manager, and a deletion that fails is reported.
#include "softmgrapp/remover.h"

#include <cstring>

#include "base/folders.h"
#include "instengine/installfs.h"
#include "instengine/packagelocks.h"
#include "instengine/pkgregistry.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/sopkglang.h"
#include "ui/application.h"
#include "ui/lang.h"

int cRemoverJob::gPauseMs = 500;

namespace {

// A file of the bundle at `root` removed with its emptied folders up to the applications
// folder.
bool removeBundleFile(const char* root, eBundlePart part, const char* stop, cInstallFS* fs) {
    _guardchar<char> p;
    return bundlePath(root, part, p) && rmFileClean(p.ptr, stop, fs);
}

// Whether a package is registered, read from the store as it is on disk (this process
// may have read it before another installed a package) while `lock` keeps every
// installation and uninstallation out: one that holds it counts, as it registers or
// removes a package. A lock that cannot be taken counts too: nothing is removed then.
bool packagesRegistered(cApplicationConfig* store, cStoreFolderLock& lock) {
    _guardchar<char> folder;
    if (!storeFolder(store, folder) || (!lock.takeAlone(folder.ptr) && !lock.missing())) return true;
    store->discardChanges();
    bool any = false;
    store->enumSubsections(kRegInstallRoot, enHasSect, &any);
    return any;
}

}  // namespace

bool enHasSect(const char* name, void* flag) {
    if (!name || !*name) return true;
    *(bool*)flag = true;
    return false;
}

bool removeRunningAppManager(const char* path) {
    switch (objKind(path)) {
        case 0: return true;
        case 1: return cFileIO::remove(path);
        default: return false;
    }
}

unsigned int removeManager(const char* ownPath, cApplicationConfig* store, cJobAsker* asker, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    if (store) {
        unsigned long long stored = 0;
        int lang = cSOPKGLang::_defaultLang();
        if (store->getParamInt(kRegLangCurrent, stored) && stored <= 10 && cSOPKGLang::_defines((int)stored))
            lang = (int)stored;
        if (asker && !asker->applyLang(lang)) asker->applyLang(cSOPKGLang::_defaultLang());
        cStoreFolderLock before;
        if (packagesRegistered(store, before)) return eRMPackages;
    }
    if (!asker || !asker->confirm(eAskRemoveManager)) return eRMDeclined;
    // Asked again once answered, and held to the end: no package is registered while the
    // manager goes.
    cStoreFolderLock held;
    if (store && packagesRegistered(store, held)) return eRMPackages;

    _guardchar<char> shortcut;
    if (store && store->getParamStr(kRegInstallerShortcut, shortcut) && shortcut.ptr && *shortcut.ptr)
        rmFileClean(shortcut.ptr, nullptr, fs);

    _guardchar<char> manager;
    const char* inHand = ownPath;
    if (getAppManagerPath(manager)) {
        int kind = objKind(manager.ptr);
        if (kind != 0 && kind != 1) return eRMBadObject;
        if (kind == 1) {
            // "<apps>/<name>.app/Contents/MacOS/SoftManager": the applications folder is
            // the one the bundle lies in.
            _guardchar<char> root, stop;
            if (!bundleRootOf(manager.ptr, root) || !folderAbove(root.ptr, 1, stop) ||
                !removeBundleFile(root.ptr, eBundleIcon, stop.ptr, fs) ||
                !removeBundleFile(root.ptr, eBundlePkgInfo, stop.ptr, fs) ||
                !removeBundleFile(root.ptr, eBundleInfoPlist, stop.ptr, fs))
                return eRMBadObject;
            if (rmFileClean(manager.ptr, stop.ptr, fs)) return eRMRemoved;
            inHand = manager.ptr;
        }
    }
    // The running program's own file, found through /proc/self/exe by the caller.
    if (inHand && objKind(inHand) == 1 && !fs->unlink(inHand)) return eRMBadObject;
    return eRMOwnFile;
}

unsigned int cRemoverJob::job() {
    sleep(gPauseMs);
    // Its confirmation and the language it applies go to the form.
    cSentAsker asker(myForm);
    asker.confirmType = eJobConfirmRemoval;
    return removeManager(myPath.ptr, store, &asker);
}

void cRemoverJob::onJobEnd(unsigned int result) {
    if (myForm) myForm->notifyEnd(result);
}

cRemoverUI::~cRemoverUI() { delete job; }

void cRemoverUI::notifyEnd(unsigned int code) { notifyAction(new cProgressAction(code)); }

bool cRemoverUI::runRemoval(const char* path, cChildElement* parent, cWindowMaker* maker,
                            cApplicationConfig* store) {
    const char* title = cCiomLangData::string("pkgm::rem", eRemTitle);
    if (!title) return false;
    cRemoverUI* f = new cRemoverUI;
    f->job = new cRemoverJob(f, path);
    f->job->store = store;
    int r = parent && parent->host()
                ? parent->modal(title, 350, 110, f)
                : cChildElement::modalWindow(maker ? maker : appWindowMaker(), title, 350, 110, f, nullptr, 0);
    return r == 1;
}

void cRemoverUI::onConstruct() {
    cCarrierForm::onConstruct();
    startCarried(job);
}

bool cRemoverUI::onAction(cChildElement* sender, cChildAction* action) {
    if (applyAskedLang(action)) return true;
    if (cJobConfirmAction* q = dynamic_cast<cJobConfirmAction*>(action)) {
        if (q->yes) {
            // The form stays aside: its job ends quickly and the result follows.
            const sMessageRef* question = resultMessage(eAtQuestion, (unsigned)q->question);
            *q->yes = boxAside(question ? question->kind : eBoxQuestion, messageOf(question), false) == 1;
        }
        return true;
    }
    if (sender == this && action->type == eJobEnded && !action->sent()) {
        unsigned int r = static_cast<cProgressAction*>(action)->result;
        if (r >= eRMCount) r = eRMBadObject;
        const sMessageRef* message = resultMessage(eAtManagerRemoval, r);
        if (message && message->kind != eBoxNone) boxAside(message->kind, messageOf(message), false);
        // The form ends with 1 once the manager is gone, 2 while it stays.
        end_modal(r == eRMRemoved || r == eRMOwnFile ? 1 : 2);
        return true;
    }
    return cCarrierForm::onAction(sender, action);
}

int remove_softmgr(const char* path, cApplicationConfig* store) {
    return cRemoverUI::runRemoval(path, nullptr, nullptr, store) ? 0 : 1;
}
