// What the installation context's users share: path keys, the journal's place and the
// application's answers about languages.
#include "instengine/installctx.h"

#include <atomic>

#include "base/folders.h"
#include "instengine/installfs.h"

namespace {
std::atomic<cInstallLangs*> gLangs{nullptr};
}  // namespace

void setInstallLangs(cInstallLangs* langs) { gLangs.store(langs); }

cInstallLangs* installLangs() { return gLangs.load(); }

cStringKey pathKey(const char* path) { return cStringKey(path ? path : ""); }

bool defaultJournalPath(const char* code, _guardchar<char>& out) {
    if (!cSoftPkgScenario::isSafeCodeName(code)) return false;
    _guardchar<char> folder;
    cApplicationConfig* store = cApplicationConfig::appStore();
    if (store && store->folder()) {
        folder.set(store->folder());
    } else {
        _guardchar<char> home;
        if (!cFolderContents::getHome(home) || !concatText(home.ptr, "/.qmx", folder)) return false;
    }
    _guardchar<char> name;
    return concatText("/inflight-", code, name) && concatText(folder.ptr, name.ptr, out);
}
