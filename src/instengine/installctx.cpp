// What the installation context's users share: path keys and the application's answers
// about languages.
#include "instengine/installctx.h"

#include <atomic>

#include "base/folders.h"
#include "base/strings.h"

namespace {
std::atomic<cInstallLangs*> gLangs{nullptr};
}  // namespace

void setInstallLangs(cInstallLangs* langs) { gLangs.store(langs); }

cInstallLangs* installLangs() { return gLangs.load(); }

cStringKey pathKey(const char* path) {
    if (!path) path = "";
    _guardchar<char> lower;
    if (cFolderContents::pathCaseSensetive(path) || !__acp_lower(path, lower)) return cStringKey(path);
    return cStringKey(lower.ptr ? lower.ptr : "");
}
