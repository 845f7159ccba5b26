// The folders a package may use and what its removal may take: everything but the
// program's own files; the home folder and the folders above it hold packages too, but are
// never made or removed for one.
#include "instengine/packagefolders.h"

#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installfs.h"
#include "instengine/packagelocks.h"
#include "instengine/pkgregistry.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/ossupport.h"

namespace {

bool atOrBelow(const char* path, const char* base) { return strcmp(path, base) == 0 || isBelow(path, base); }

bool listed(const _List<_guardchar<char> >& list, const char* path) {
    for (auto* it = list.head; it; it = it->next)
        if (strcmp(it->value.ptr, path) == 0) return true;
    return false;
}

// A folder and its real path to a list, neither the root nor one of `except`.
void addFolder(_List<_guardchar<char> >& list, const char* folder, const _List<_guardchar<char> >* except = nullptr) {
    if (!isPlainAbsPath(folder)) return;
    _guardchar<char> real;
    const char* both[2] = {folder, realFolder(folder, real, true) ? real.ptr : nullptr};
    for (const char* p : both)
        if (p && strcmp(p, "/") != 0 && !(except && listed(*except, p))) addUnique(list, p);
}

}  // namespace

cPackageFolders::cPackageFolders(cApplicationConfig* store) {
    _guardchar<char> home;
    if (cFolderContents::getHome(home) && home.ptr) {
        long long n = (long long)strlen(home.ptr);
        while (n > 1 && home.ptr[n - 1] == '/') home.ptr[--n] = 0;
    }
    addFolder(myHomes, home.ptr);
    // The store's folder holds every package's record and journal (one kept in the home
    // folder itself does not make the home folder the program's); the manager's bundle is
    // the manager's.
    _guardchar<char> folder, manager, bundle;
    if (storeFolder(store, folder)) addFolder(myOwn, folder.ptr, &myHomes);
    if (getAppManagerPath(manager) && bundleRootOf(manager.ptr, bundle)) addFolder(myOwn, bundle.ptr, &myHomes);
}

bool cPackageFolders::isOwnByName(const char* path) const {
    for (auto* it = myOwn.head; it; it = it->next)
        if (atOrBelow(path, it->value.ptr)) return true;
    return false;
}

bool cPackageFolders::mayHold(const char* folder) const {
    _guardchar<char> real;
    return isPlainAbsPath(folder) && !isOwnByName(folder) && realFolder(folder, real, true) &&
           isPlainAbsPath(real.ptr) && !isOwnByName(real.ptr);
}

bool cPackageFolders::isOwn(const char* path) const {
    if (!isPlainAbsPath(path)) return false;
    _guardchar<char> real;
    return isOwnByName(path) || (realFolder(path, real, true) && isOwnByName(real.ptr));
}

bool cPackageFolders::isOwnBelow(const char* path, const char* base, const char* realBase) const {
    if (isOwnByName(path)) return true;
    if (!realBase || !*realBase || !isBelow(path, base)) return false;
    // Reached without a link from the base, the path's real form is the base's with the
    // rest as it stands.
    const char* rest = strcmp(base, "/") == 0 ? path : path + strlen(base);
    _guardchar<char> real;
    return concatText(strcmp(realBase, "/") == 0 ? "" : realBase, rest, real) && isOwnByName(real.ptr);
}

bool cPackageFolders::homeOrAbove(const char* folder) const {
    if (!folder || strcmp(folder, "/") == 0) return true;
    for (auto* h = myHomes.head; h; h = h->next)
        if (atOrBelow(h->value.ptr, folder)) return true;
    return false;
}

bool mayBePackageFolder(const char* folder, cApplicationConfig* store) {
    return folder && cPackageFolders(store).mayHold(folder);
}

bool isProgramFolder(const char* path, cApplicationConfig* store) {
    return path && cPackageFolders(store).isOwn(path);
}

cRecordScope::cRecordScope(const sPkgRegistryRecord& record, cApplicationConfig* store)
    : myRule(store) {
    auto addBase = [&](const char* folder) {
        sBase* b = isConfining(folder) ? myBases.add() : nullptr;
        if (!b) return false;
        b->folder = folder;
        if (!realFolder(folder, b->real, true)) b->real.clear();
        return true;
    };
    myPathConfines = addBase(record.path.ptr);
    for (auto* it = record.bases.head; it; it = it->next) addBase(it->value.ptr);
    for (auto* it = record.dirs.head; it; it = it->next)
        if (isConfining(it->value.ptr) && !myRule.homeOrAbove(it->value.ptr)) myMade.insert(cStringKey(it->value.ptr));
    if (!desktopEntryFolder(myEntries)) myEntries.clear();
}

bool cRecordScope::isConfining(const char* folder) const { return myRule.mayHold(folder); }

bool cRecordScope::ownsFile(const char* path) const {
    if (!isPlainAbsPath(path) || objKind(path) != eObjFile) return false;
    for (auto* it = myBases.head; it; it = it->next)
        if (noLinkBelow(path, it->value.folder) && !myRule.isOwnBelow(path, it->value.folder, it->value.real.ptr))
            return true;
    return false;
}

bool cRecordScope::ownsEntry(const char* path) const {
    return isPlainAbsPath(path) && !myEntries.empty() && noLinkBelow(path, myEntries.ptr) && objKind(path) == eObjFile;
}

bool cRecordScope::mayRemoveFolder(const char* folder) const {
    if (!isPlainAbsPath(folder) || myRule.homeOrAbove(folder)) return false;
    if (myMade.findEntry(cStringKey(folder))) return true;
    const sBase* path = myPathConfines ? &myBases.head->value : nullptr;
    return path && isBelow(folder, path->folder) && !myRule.isOwnBelow(folder, path->folder, path->real.ptr);
}
