// Where a journal's package may act, and the check of a journal against it. A journal
// is the program's own text in the user's store folder: whoever can write it can write
// every file of the user's already. Its digest says it is whole; it acts only below its
// own roots, reached without a link, and registers only what its run wrote. One without
// a digest (an earlier build's) has no roots but the folders of its package's record.
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
#include "instengine/journaldata.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "softmgr/ossupport.h"

namespace {

bool atOrBelow(const char* path, const char* base) { return strcmp(path, base) == 0 || isBelow(path, base); }

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
    // any folder a package may have; no link.
    bool root(const char* folder);
    bool addRoot(const char* folder);
    // Whether a path lies below a root (or at one, `atRoot`), reached without a link, and
    // outside the program's own files.
    bool inRoots(const char* path, bool atRoot);
    bool reachedWithoutLink(const char* path, const char* root);
    // Whether a folder lies on the way to a root and may go once empty.
    bool onTheWay(const char* folder) const;
    // A menu entry of the package's own: one its record lists, or one under its prefix
    // and no longer code name's.
    bool entry(const char* path);
    bool recordField(const char* value, const char* earlier, const _List<_guardchar<char> >* earlierList);
    // Each recorded package whose code name begins with this one's and "-".
    static bool longerCode(const char* name, void* check) {
        auto* c = static_cast<cScopeCheck*>(check);
        _guardchar<char> prefix;
        size_t n = strlen(c->myCode.ptr);
        if (name && strncmp(name, c->myCode.ptr, n) == 0 && name[n] == '-' && sysShortcutPrefix(prefix, name))
            addUnique(c->myLonger, prefix.ptr);
        return true;
    }

    struct sRoot {
        _guardchar<char> folder, real;
    };
    const sJournal& myJournal;
    cApplicationConfig* myStore;
    cPackageFolders myRule;
    _List<_guardchar<char> > myLonger;  // entry prefixes of longer code names (read once asked)
    bool myLongerRead = false;
    sPkgRegistryRecord myRecord;
    bool myHaveRecord = false;
    _List<sRoot> myRoots;
    _guardchar<char> myEntries, myPrefix, myCode;
    cFasterTreeList<cStringKey, int> myRecordFiles, myRecordDirs, myRecordEntries;
    cFasterTreeList<cStringKey, int> myWritten, myMade, myWrittenEntries;
    cFasterTreeList<cStringKey, int> myClear;  // folders known to be reached without a link
    const char* myOutside = nullptr;
};

cScopeCheck::cScopeCheck(const sJournal& j, const char* code, cApplicationConfig* store)
    : myJournal(j), myStore(store), myRule(store) {
    myCode.set(code ? code : "");
    myHaveRecord = store && readRegistryRecord(store, code, myRecord);
    if (myHaveRecord) {
        // The record's own folders, as the uninstallation takes them (cRecordScope).
        struct stat st;
        auto vouch = [&](const char* f) {
            if (myRule.mayHold(f) && !(lstat(f, &st) == 0 && S_ISLNK(st.st_mode))) addRoot(f);
        };
        vouch(myRecord.path.ptr);
        for (auto* it = myRecord.bases.head; it; it = it->next) vouch(it->value.ptr);
        for (auto* it = myRecord.shortcuts.head; it; it = it->next) myRecordEntries.insert(cStringKey(it->value.ptr));
    }
    // The package's entries: "<entries folder>/<code word>-<name>.desktop".
    if (desktopEntryFolder(myEntries)) sysShortcutPrefix(myPrefix, code);
    // Only a committed registration's record is checked against what was written and
    // what the old record held; a pending journal (every installation's own) needs none.
    if (!j.committed || !j.registration) return;
    if (myHaveRecord) {
        for (const char* f : myRecord.files) myRecordFiles.insert(cStringKey(f));
        for (auto* it = myRecord.dirs.head; it; it = it->next) myRecordDirs.insert(cStringKey(it->value.ptr));
    }
    for (long long i = 0; i < j.count(); i++) {
        eJournalLine kind = j.kind(i);
        if (kind == eLineReplaced || kind == eLineNew) myWritten.insert(cStringKey(j.path(i)));
        if (kind == eLineMadeFolder) myMade.insert(cStringKey(j.path(i)));
        if (kind == eLineEntry) myWrittenEntries.insert(cStringKey(j.path(i)));
    }
}

bool cScopeCheck::addRoot(const char* folder) {
    for (auto* it = myRoots.head; it; it = it->next)
        if (strcmp(it->value.folder.ptr, folder) == 0) return true;
    sRoot* r = myRoots.add();
    if (!r || !r->folder.set(folder)) return false;
    if (!realFolder(folder, r->real, true)) r->real.clear();
    return true;
}

bool cScopeCheck::root(const char* folder) {
    for (auto* it = myRoots.head; it; it = it->next)
        if (strcmp(it->value.folder.ptr, folder) == 0) return true;
    // Without a digest (an earlier build's journal) nothing but the record vouches.
    struct stat st;
    if (myJournal.version < 4 || !myRule.mayHold(folder) || (lstat(folder, &st) == 0 && S_ISLNK(st.st_mode)))
        return fail(folder);
    return addRoot(folder) || fail(folder);
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
        const char* root = it->value.folder.ptr;
        if (atRoot && strcmp(path, root) == 0) return true;
        if (isBelow(path, root) && reachedWithoutLink(path, root) && !myRule.isOwnBelow(path, root, it->value.real.ptr))
            return true;
    }
    return false;
}

bool cScopeCheck::onTheWay(const char* folder) const {
    if (myJournal.version < 4 || !isPlainAbsPath(folder) || myRule.homeOrAbove(folder)) return false;
    for (auto* it = myRoots.head; it; it = it->next)
        if (isBelow(it->value.folder.ptr, folder)) return true;
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
        if (j.kind(i) == eLineRoot) ok = root(j.path(i));
    if (ok && j.registration) {
        ok = recordField(r.path.ptr, myRecord.path.ptr, nullptr);
        for (auto* it = r.bases.head; ok && it; it = it->next)
            ok = recordField(it->value.ptr, nullptr, &myRecord.bases);
    }
    for (long long i = 0; ok && i < j.count(); i++) {
        const char* p = j.path(i);
        switch (j.kind(i)) {
            case eLineReplaced:
            case eLineNew:
            case eLineObsolete: ok = inRoots(p, false) || fail(p); break;
            case eLineMadeFolder: ok = (!myRule.homeOrAbove(p) && (inRoots(p, true) || onTheWay(p))) || fail(p); break;
            case eLineEntryFolder:
                ok = (!myEntries.empty() && atOrBelow(myEntries.ptr, p) && !myRule.homeOrAbove(p)) || fail(p);
                break;
            case eLineEntry: ok = entry(p) || fail(p); break;
            case eLineGoneEntry: ok = entry(p) || fail(p); break;
            default: break;
        }
    }
    // What the record lists is what an uninstallation will remove later (a pending
    // journal's record is never obeyed).
    bool removing = j.registration == eUnregister;
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
            ok = myRecordDirs.findEntry(key) || myMade.findEntry(key) || objKind(d) == eObjNone ||
                 (removing && !myRule.homeOrAbove(d) && (inRoots(d, true) || onTheWay(d))) || fail(d);
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

bool journalConfined(const sJournal& j, const char* code, cApplicationConfig* store, _guardchar<char>& outside) {
    cScopeCheck check(j, code, store);
    return check.run(outside);
}
