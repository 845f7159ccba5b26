// Where a journal's package may act, and the check of a journal against it. A journal
// is the program's own text in the user's store folder: whoever can write it can write
// every file of the user's already. Its digest says it is whole; it acts only below its
// own roots, reached without a link, and registers only what its run wrote. One without
// a digest (an earlier build's) acts only within the folders of its package's record.
#include "instengine/journalscope.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "base/fastertreelist.h"
#include "base/folders.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "base/strings.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "instengine/journal.h"
#include "instengine/pkgregistry.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/ossupport.h"

namespace {

bool atOrBelow(const char* path, const char* base) { return strcmp(path, base) == 0 || isBelow(path, base); }

// A path and its real path to a list; `except` (the home folders) are left out.
void addPath(_List<_guardchar<char> >& list, const char* path, const _List<_guardchar<char> >* except = nullptr) {
    if (!isPlainAbsPath(path) || strcmp(path, "/") == 0) return;
    _guardchar<char> real;
    const char* both[2] = {path, realFolder(path, real, true) ? real.ptr : nullptr};
    for (const char* p : both) {
        bool home = false;
        for (auto* h = except ? except->head : nullptr; h && p; h = h->next)
            home = home || strcmp(h->value.ptr, p) == 0;
        if (p && !home) addUnique(list, p);
    }
}

// The program's own folders (the store's folder and the Software Manager's bundle) and
// the home folder, looked up once for a check. Any other folder may hold a package.
class cOwnFolders {
public:
    explicit cOwnFolders(cApplicationConfig* store);
    // mayBePackageFolder.
    bool allows(const char* folder) const {
        _guardchar<char> real;
        return allowsAsNamed(folder) && realFolder(folder, real, true) && allowsAsNamed(real.ptr);
    }
    // Whether a folder is the home folder or lies above it (or is the root).
    bool homeOrAbove(const char* folder) const {
        if (strcmp(folder, "/") == 0) return true;
        for (auto* h = myHomes.head; h; h = h->next)
            if (atOrBelow(h->value.ptr, folder)) return true;
        return false;
    }

private:
    bool allowsAsNamed(const char* folder) const;
    _List<_guardchar<char> > myHomes;  // as named and real
    _List<_guardchar<char> > myOwn;    // the store's folder, the manager's bundle
};

cOwnFolders::cOwnFolders(cApplicationConfig* store) {
    _guardchar<char> home;
    if (cFolderContents::getHome(home) && home.ptr) {
        long long n = (long long)strlen(home.ptr);
        while (n > 1 && home.ptr[n - 1] == '/') home.ptr[--n] = 0;
    }
    addPath(myHomes, home.ptr);
    // The store's folder holds every package's record and journal; the manager's bundle is
    // the manager's.
    _guardchar<char> journal, folder, manager, bundle;
    if (defaultJournalPath(store, "x", journal) && parentFolder(journal.ptr, folder))
        addPath(myOwn, folder.ptr, &myHomes);
    if (getAppManagerPath(manager) && bundleRootOf(manager.ptr, bundle)) addPath(myOwn, bundle.ptr, &myHomes);
}

bool cOwnFolders::allowsAsNamed(const char* folder) const {
    // The root and the home folder are refused as well: a record there could not confine
    // what its uninstallation removes.
    if (!isPlainAbsPath(folder) || homeOrAbove(folder)) return false;
    for (auto* d = myOwn.head; d; d = d->next)
        if (atOrBelow(folder, d->value.ptr)) return false;
    return true;
}

// The check of one journal: the package's record in the store, the roots it may act
// below, and what the journal's own run writes and makes.
class cScopeCheck {
public:
    cScopeCheck(const sJournal& j, const char* code, cApplicationConfig* store);
    bool run(_guardchar<char>& outside);

private:
    bool fail(const char* path) {
        myOutside = path ? path : "";
        return false;
    }
    // A root the journal names: vouched for by the record or, in a journal with a digest,
    // any folder but the program's own; no link.
    bool root(const char* folder);
    // Whether a path lies below a root (or at one, `atRoot`), reached without a link.
    bool inRoots(const char* path, bool atRoot);
    bool reachedWithoutLink(const char* path, const char* root);
    // Whether a folder lies on the way to a root and may go once empty.
    bool onTheWay(const char* folder) const;
    // A menu entry of the package's own: one its record lists, or one under its prefix
    // and no longer code name's.
    bool entry(const char* path);
    bool homeOrAbove(const char* folder) const {
        if (strcmp(folder, "/") == 0) return true;
        for (auto* h = myHomes.head; h; h = h->next)
            if (atOrBelow(h->value.ptr, folder)) return true;
        return false;
    }
    bool recordField(const char* value, const char* earlier, const _List<_guardchar<char> >* earlierList);
    // Each recorded package whose code name begins with this one's and "-".
    static bool longerCode(const char* name, void* check) {
        auto* c = static_cast<cScopeCheck*>(check);
        _guardchar<char> sample;
        size_t n = strlen(c->myCode.ptr);
        static const char kSample[] = "x.desktop";
        if (name && strncmp(name, c->myCode.ptr, n) == 0 && name[n] == '-' && sysShortcutPath(sample, "x", name) &&
            strlen(sample.ptr) > sizeof(kSample) - 1)
            if (_guardchar<char>* p = c->myLonger.add())
                p->set(sample.ptr, (long long)(strlen(sample.ptr) - (sizeof(kSample) - 1)));
        return true;
    }

    const sJournal& myJournal;
    cApplicationConfig* myStore;
    _List<_guardchar<char> > myHomes;  // as named and real
    _List<_guardchar<char> > myLonger;  // entry prefixes of longer code names (read once asked)
    bool myLongerRead = false;
    sPkgRegistryRecord myRecord;
    bool myHaveRecord = false;
    _List<_guardchar<char> > myRoots;
    _guardchar<char> myEntries, myPrefix, myCode;
    cFasterTreeList<cStringKey, int> myRecordFiles, myRecordDirs, myRecordEntries;
    cFasterTreeList<cStringKey, int> myWritten, myMade, myWrittenEntries;
    cFasterTreeList<cStringKey, int> myClear;  // folders known to be reached without a link
    const char* myOutside = nullptr;
};

cScopeCheck::cScopeCheck(const sJournal& j, const char* code, cApplicationConfig* store)
    : myJournal(j), myStore(store) {
    myCode.set(code ? code : "");
    _guardchar<char> home;
    if (cFolderContents::getHome(home) && home.ptr) {
        long long n = (long long)strlen(home.ptr);
        while (n > 1 && home.ptr[n - 1] == '/') home.ptr[--n] = 0;
    }
    addPath(myHomes, home.ptr);
    myHaveRecord = store && readRegistryRecord(store, code, myRecord);
    if (myHaveRecord) {
        // The record's own folders, as the uninstallation takes them.
        cRecordScope scope(myRecord);
        struct stat st;
        auto vouch = [&](const char* f) {
            if (scope.isConfining(f) && !(lstat(f, &st) == 0 && S_ISLNK(st.st_mode))) addUnique(myRoots, f);
        };
        vouch(myRecord.path.ptr);
        for (auto* it = myRecord.bases.head; it; it = it->next) vouch(it->value.ptr);
        for (auto* it = myRecord.shortcuts.head; it; it = it->next) myRecordEntries.insert(cStringKey(it->value.ptr));
    }
    // The package's entries: "<entries folder>/<code word>-<name>.desktop".
    _guardchar<char> sample;
    static const char kSample[] = "x.desktop";
    if (desktopEntryFolder(myEntries) && sysShortcutPath(sample, "x", code) &&
        strlen(sample.ptr) > sizeof(kSample) - 1)
        myPrefix.set(sample.ptr, (long long)(strlen(sample.ptr) - (sizeof(kSample) - 1)));
    // Only a committed registration's record is checked against what was written and
    // what the old record held; a pending journal (every installation's own) needs none.
    if (!j.committed || !j.registration) return;
    if (myHaveRecord) {
        for (const char* f : myRecord.files) myRecordFiles.insert(cStringKey(f));
        for (auto* it = myRecord.dirs.head; it; it = it->next) myRecordDirs.insert(cStringKey(it->value.ptr));
    }
    for (long long i = 0; i < j.count(); i++) {
        char kind = j.kind(i);
        if (kind == 'R' || kind == 'N') myWritten.insert(cStringKey(j.path(i)));
        if (kind == 'M') myMade.insert(cStringKey(j.path(i)));
        if (kind == 'E') myWrittenEntries.insert(cStringKey(j.path(i)));
    }
}

bool cScopeCheck::root(const char* folder) {
    for (auto* it = myRoots.head; it; it = it->next)
        if (strcmp(it->value.ptr, folder) == 0) return true;
    // Without a digest (an earlier build's journal) nothing but the record vouches.
    struct stat st;
    if (myJournal.version < 4 || !isPlainAbsPath(folder) || homeOrAbove(folder) ||
        !mayBePackageFolder(folder, myStore) || (lstat(folder, &st) == 0 && S_ISLNK(st.st_mode)))
        return fail(folder);
    return addUnique(myRoots, folder) || fail(folder);
}

bool cScopeCheck::reachedWithoutLink(const char* path, const char* root) {
    // Most files share their folder with one looked at before.
    const char* slash = strrchr(path, '/');
    size_t rootLen = strlen(root);
    if (!slash || (size_t)(slash - path) <= rootLen) return true;
    if (myClear.findEntry(cStringKey(path, slash - path))) return true;
    _guardchar<char> walk;
    if (!parentFolder(path, walk)) return false;
    // Each folder from below the root down to the path's own; one looked at before is known.
    for (char* c = walk.ptr + rootLen + 1;; c++) {
        if (*c && *c != '/') continue;
        char keep = *c;
        *c = 0;
        bool clear = myClear.findEntry(cStringKey(walk.ptr)) != nullptr;
        if (!clear) {
            struct stat st;
            if (lstat(walk.ptr, &st) != 0) {
                // What does not exist holds nothing to reach.
                return errno == ENOENT || errno == ENOTDIR;
            }
            if (S_ISLNK(st.st_mode)) return false;
            myClear.insert(cStringKey(walk.ptr));
        }
        *c = keep;
        if (!keep) return true;
    }
}

bool cScopeCheck::inRoots(const char* path, bool atRoot) {
    for (auto* it = myRoots.head; it; it = it->next) {
        if (atRoot && strcmp(path, it->value.ptr) == 0) return true;
        if (isBelow(path, it->value.ptr) && reachedWithoutLink(path, it->value.ptr)) return true;
    }
    return false;
}

bool cScopeCheck::onTheWay(const char* folder) const {
    if (myJournal.version < 4 || !isPlainAbsPath(folder) || homeOrAbove(folder)) return false;
    for (auto* it = myRoots.head; it; it = it->next)
        if (isBelow(it->value.ptr, folder)) return true;
    return false;
}

bool cScopeCheck::entry(const char* path) {
    static const char kExt[] = ".desktop";
    _guardchar<char> folder;
    size_t n = strlen(path), k = sizeof(kExt) - 1;
    if (myEntries.empty() || !parentFolder(path, folder) || strcmp(folder.ptr, myEntries.ptr) != 0 || n <= k ||
        strcmp(path + n - k, kExt) != 0)
        return false;
    if (myRecordEntries.findEntry(cStringKey(path))) return true;
    // Else one under the package's prefix and under no longer code name's ("<code>-" is
    // also the start of "<code>-<more>-").
    if (myPrefix.empty() || strncmp(path, myPrefix.ptr, strlen(myPrefix.ptr)) != 0) return false;
    if (!myLongerRead && myStore) {
        myLongerRead = true;
        myStore->enumSubsections(kRegInstallRoot, longerCode, this);
    }
    for (auto* it = myLonger.head; it; it = it->next)
        if (strncmp(path, it->value.ptr, strlen(it->value.ptr)) == 0) return false;
    return true;
}

// The record's folder or a base: what the package's record says already, or a root.
bool cScopeCheck::recordField(const char* value, const char* earlier, const _List<_guardchar<char> >* earlierList) {
    if (myHaveRecord && earlier && value && strcmp(value, earlier) == 0) return true;
    for (auto* it = earlierList && myHaveRecord ? earlierList->head : nullptr; it; it = it->next)
        if (value && strcmp(value, it->value.ptr) == 0) return true;
    return value && root(value);
}

bool cScopeCheck::run(_guardchar<char>& outside) {
    bool ok = true;
    const sJournal& j = myJournal;
    const sPkgRegistryRecord& r = j.record;
    for (long long i = 0; ok && i < j.count(); i++)
        if (j.kind(i) == 'D') ok = root(j.path(i));
    if (ok && j.registration) {
        ok = recordField(r.path.ptr, myRecord.path.ptr, nullptr);
        for (auto* it = r.bases.head; ok && it; it = it->next)
            ok = recordField(it->value.ptr, nullptr, &myRecord.bases);
    }
    for (long long i = 0; ok && i < j.count(); i++) {
        const char* p = j.path(i);
        switch (j.kind(i)) {
            case 'R':
            case 'N':
            case 'O': ok = inRoots(p, false) || fail(p); break;
            case 'M': ok = inRoots(p, true) || onTheWay(p) || fail(p); break;
            case 'S':
                ok = (!myEntries.empty() && atOrBelow(myEntries.ptr, p) && !homeOrAbove(p)) || fail(p);
                break;
            case 'E': ok = entry(p) || fail(p); break;
            case 'Q': ok = entry(p) || fail(p); break;
            default: break;
        }
    }
    // What the record lists is what an uninstallation will remove later (a pending
    // journal's record is never obeyed).
    bool removing = j.registration == 'u';
    if (ok && j.registration && j.committed) {
        for (const char* f : r.files) {
            cStringKey key(f);
            if (myRecordFiles.findEntry(key) || (removing ? inRoots(f, false) : myWritten.findEntry(key) != nullptr))
                continue;
            ok = fail(f);
            break;
        }
        for (auto* it = r.dirs.head; ok && it; it = it->next) {
            const char* d = it->value.ptr;
            cStringKey key(d);
            // One gone since is never registered (nor removed): the registration keeps
            // only the folders that stand.
            ok = myRecordDirs.findEntry(key) || myMade.findEntry(key) || objKind(d) == 0 ||
                 (removing && (inRoots(d, true) || onTheWay(d))) || fail(d);
        }
        for (auto* it = r.shortcuts.head; ok && it; it = it->next) {
            const char* e = it->value.ptr;
            cStringKey key(e);
            ok = myRecordEntries.findEntry(key) || myWrittenEntries.findEntry(key) || (removing && entry(e)) ||
                 fail(e);
        }
    }
    if (!ok) outside.set(myOutside ? myOutside : "");
    return ok;
}

}  // namespace

bool mayBePackageFolder(const char* folder, cApplicationConfig* store) {
    cOwnFolders user(store);
    return folder && user.allows(folder);
}

bool journalConfined(const sJournal& j, const char* code, cApplicationConfig* store, _guardchar<char>& outside) {
    cScopeCheck check(j, code, store);
    return check.run(outside);
}
