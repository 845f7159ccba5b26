// A journal resolved: a pending run undone, a committed one finished (menu entries, the
// manager copy, obsolete files, the record, backups) or its package unregistered.
#include "instengine/journal.h"

#include <errno.h>

#include <cstring>

#include "base/fileiotarget.h"
#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installctx.h"
#include "instengine/packagefolders.h"
#include "instengine/setaside.h"
#include "instengine/softmgrcopy.h"
#include "instengine/version.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/ossupport.h"

namespace {

// The manager's menu-entry name in the applied language, as the application gives it.
const char* managerEntryName() {
    cInstallLangs* langs = installLangs();
    const char* s = langs ? langs->managerEntryName() : nullptr;
    return s && *s ? s : "Software Packages management";
}

// A sink that writes to a descriptor through the file operations.
class cFdSink : public cFileIOTarget {
public:
    cFdSink(cInstallFS* fs, int fd) : myFs(fs), myFd(fd) {}
    unsigned long long size() override { return myPos; }
    long long read(void*, long long) override { return -1; }
    long long write(const void* b, long long n) override {
        if (n < 0 || !myFs->write(myFd, b, n)) {
            failed = true;
            return -1;
        }
        myPos += (unsigned long long)n;
        return n;
    }
    bool set_fp(unsigned long long p) override { return p == myPos; }
    void close() override {}
    bool valid() override { return myFd >= 0; }
    unsigned long long get_fp() override { return myPos; }
    bool failed = false;

private:
    cInstallFS* myFs;
    int myFd;
    unsigned long long myPos = 0;
};

// Removes `folder` and then each parent while they are empty folders strictly below
// `stopAbove` (the folder itself only when it lies below it too), never the home folder
// or one above it. False when one could not be removed for another reason than what it
// still holds.
bool rmEmptyFolders(const char* folder, const char* stopAbove, const cPackageFolders& rule, cInstallFS* fs) {
    _guardchar<char> p;
    if (!stopAbove || !p.set(folder)) return true;
    while (isBelow(p.ptr, stopAbove) && !rule.homeOrAbove(p.ptr) && objKind(p.ptr) == eObjFolder) {
        errno = 0;
        if (!fs->rmdir(p.ptr)) return errno == ENOTEMPTY || errno == EEXIST || objKind(p.ptr) != eObjFolder;
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return true;
        *cut = 0;
    }
    return true;
}

unsigned int failAt(sJournalOutcome& out, unsigned int result, const char* path) {
    if (out.result == eIJOk) {
        out.result = result;
        out.path.set(path ? path : "");
    }
    return out.result;
}

// Names an interrupted refresh of the manager copy leaves beside its files.
void removeManagerLeftovers(const char* manager, cInstallFS* fs) {
    _guardchar<char> root, p;
    if (!bundleRootOf(manager, root)) return;
    for (eBundlePart part : {eBundleIcon, eBundlePkgInfo, eBundleInfoPlist})
        if (bundlePath(root.ptr, part, p) && concatText(p.ptr, ".tmp", p) && objKind(p.ptr) == eObjFile) fs->unlink(p.ptr);
    if (concatText(manager, ".tmp", p) && objKind(p.ptr) == eObjFile) fs->unlink(p.ptr);
}

// The Software Manager copy, refreshed from `source` when it is missing or older, and
// its menu entry; the manager and the entry go to `out` when there is a manager.
unsigned int managerCopy(const char* source, cApplicationConfig* store, cInstallFS* fs, sJournalOutcome& out) {
    _guardchar<char> manager;
    // Without a program to copy (a run inside another program, or one whose installer is
    // gone) and no copy in place there is no manager to register.
    if (!getAppManagerPath(manager)) return eIJOk;
    bool haveSource = source && *source && objKind(source) == eObjFile;
    removeManagerLeftovers(manager.ptr, fs);
    if (!haveSource && objKind(manager.ptr) == eObjNone) return eIJOk;
    unsigned long long v = objKind(manager.ptr) == eObjFile ? getVerID(manager.ptr) : kUnknownVerID;
    _guardchar<char> tmp, folder;
    if (haveSource && (v == kUnknownVerID || v < getCurrVerID())) {
        if (!concatText(manager.ptr, ".tmp", tmp) || !parentFolder(manager.ptr, folder))
            return failAt(out, eIJCannotCreate, manager.ptr);
        if (!makeFolderChain(folder.ptr, fs)) return failAt(out, eIJCannotMakeFolder, folder.ptr);
        // Moved over the earlier copy in one step: there is always a manager at its place.
        int r = replaceFile(manager.ptr, tmp, 0755, [&](int fd) {
            cFdSink sink(fs, fd);
            return saveSoftMgr(source, &sink, folder.ptr) && !sink.failed;
        }, fs);
        if (r == eReplaceCannotCreate) return failAt(out, eIJCannotCreate, tmp.ptr);
        if (r != eReplaceDone) return failAt(out, eIJCannotWrite, manager.ptr);
    }
    if (objKind(manager.ptr) != eObjFile) return failAt(out, eIJCannotWrite, manager.ptr);
    // The entry shows the icon of the manager's own bundle.
    _guardchar<char> icon, root, entry;
    if (!bundleRootOf(manager.ptr, root) || !bundlePath(root.ptr, eBundleIcon, icon) || objKind(icon.ptr) != eObjFile)
        icon.clear();
    const char* name = managerEntryName();
    if (!createSysShortcut(entry, name, "PackageManager;System;Settings;", manager.ptr, icon.ptr, nullptr, true,
                           nullptr, "qmx-softmgr"))
        return failAt(out, eIJCannotCreate, name);
    // An entry of an earlier copy under another name goes.
    _guardchar<char> old;
    if (store && store->getParamStr(kRegInstallerShortcut, old) && !old.empty() && strcmp(old.ptr, entry.ptr) != 0 &&
        !rmFileClean(old.ptr, nullptr, fs))
        return failAt(out, eIJCannotWrite, old.ptr);
    out.manager.attach(manager.dettach());
    out.managerEntry.attach(entry.dettach());
    return eIJOk;
}

unsigned int registerRecord(sJournal& j, cApplicationConfig* store, sJournalOutcome& out) {
    _guardchar<char> section;
    if (!store || !regSectionName(j.code.ptr, section)) return failAt(out, eIJNotSaved, "");
    // The manager and the language first, the package's record last (alone in its hive):
    // a record never names a manager that is not registered.
    bool ok = store->setParamInt16(kRegLangCurrent, j.record.lang);
    if (ok && !out.managerEntry.empty()) ok = store->setParamStr(kRegInstallerShortcut, out.managerEntry.ptr);
    if (ok && !out.manager.empty()) ok = store->setParamStr(kRegInstallerApp, out.manager.ptr);
    if (!ok || !store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    // The folders made that still stand (obsolete files may have emptied some).
    _List<_guardchar<char> > standing;
    cFasterTreeList<cStringKey, int> seen;
    for (auto* it = j.record.dirs.head; ok && it; it = it->next)
        if (objKind(it->value.ptr) == eObjFolder) ok = addUnique(standing, seen, it->value.ptr);
    j.record.dirs.destroy();
    for (auto* it = standing.head; ok && it; it = it->next) {
        _guardchar<char>* d = j.record.dirs.add();
        ok = d && d->set(it->value.ptr);
    }
    store->removeSection(section.ptr);
    if (!ok || !ctxToConfig(j.record, store, section.ptr) || !store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    return eIJOk;
}

// Removes `folder` and each parent while they are empty folders that the package may
// remove: below its installation folder, or made by the installation. False when one of
// them could not be removed for another reason than what it still holds.
bool rmPackageFolders(const char* folder, const cRecordScope& scope, cInstallFS* fs) {
    _guardchar<char> p;
    if (!p.set(folder)) return false;
    for (;;) {
        if (!scope.mayRemoveFolder(p.ptr) || objKind(p.ptr) != eObjFolder) return true;
        errno = 0;
        if (!fs->rmdir(p.ptr)) return errno == ENOTEMPTY || errno == EEXIST || objKind(p.ptr) != eObjFolder;
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return true;
        *cut = 0;
    }
}

// The package's folders, menu entries and record go (its files are gone already).
unsigned int unregisterRecord(const sJournal& j, cApplicationConfig* store, cInstallFS* fs, sJournalOutcome& out) {
    _guardchar<char> section, folder;
    if (!store || !regSectionName(j.code.ptr, section)) return failAt(out, eIJNotSaved, "");
    // Folders the package leaves empty: up to its installation folder, and those it made.
    cRecordScope scope(j.record, store);
    for (const char* f : j.record.files)
        if (isPlainAbsPath(f) && parentFolder(f, folder) && !rmPackageFolders(folder.ptr, scope, fs))
            failAt(out, eIJCannotWrite, folder.ptr);
    for (auto* it = j.record.dirs.head; it; it = it->next)
        if (isPlainAbsPath(it->value.ptr) && !rmPackageFolders(it->value.ptr, scope, fs))
            failAt(out, eIJCannotWrite, it->value.ptr);
    for (long long i = 0; i < j.count(); i++)
        if (j.kind(i) == eLineGoneEntry && !rmFileClean(j.path(i), nullptr, fs)) failAt(out, eIJCannotWrite, j.path(i));
    if (out.result != eIJOk) return out.result;
    if (!OSDeregisterPackage(j.code.ptr, false)) OSDeregisterPackage(j.code.ptr, true);
    store->removeSection(section.ptr);
    if (!store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    return eIJOk;
}

// The files a journal names ("R", "N", "O"): a name beside one of them that is one of
// them is no temporary file or backup of the run's. False without memory.
bool fileLines(const sJournal& j, cFasterTreeList<cStringKey, int>& files) {
    for (long long i = 0; i < j.count(); i++)
        if (isFileLine(j.kind(i)) && !files.insert(pathKey(j.path(i)))) return false;
    return true;
}

// Undoes a pending journal; true when everything is as before the run.
bool undoJournal(const sJournal& j, cInstallFS* fs) {
    bool ok = true;
    _List<_guardchar<char> > folders;
    cFasterTreeList<cStringKey, int> files;
    if (!fileLines(j, files)) return false;
    for (long long i = 0; i < j.count(); i++) {
        const char* target = j.path(i);
        eJournalLine kind = j.kind(i);
        _guardchar<char> tmp, bkp;
        if (!concatText(target, ".tmp", tmp) || !concatText(target, ".bkp", bkp)) return false;
        if (kind == eLineMadeFolder || kind == eLineEntryFolder) {
            // Made by the run: removed when empty.
            if (objKind(target) == eObjFolder) ok = addUnique(folders, target) && ok;
            continue;
        }
        if (kind == eLineEntry && objKind(tmp.ptr) == eObjFile && !fs->unlink(tmp.ptr)) ok = false;
        if (kind != eLineReplaced && kind != eLineNew) continue;
        // An uninstallation makes no temporary files: one there is the user's.
        if (j.registration != eUnregister && !files.find(pathKey(tmp.ptr)) && objKind(tmp.ptr) == eObjFile &&
            !fs->unlink(tmp.ptr))
            ok = false;
        eObjKind t = objKind(target);
        if (!files.find(pathKey(bkp.ptr)) && objKind(bkp.ptr) == eObjFile) {
            // The target is the new file (or gone): the backup is the earlier one.
            if (t == eObjFile && !fs->unlink(target))
                ok = false;
            else if (t != eObjNone && t != eObjFile)
                ok = false;
            else if (!fs->rename(bkp.ptr, target))
                ok = false;
        } else if (kind == eLineNew && t == eObjFile && !fs->unlink(target)) {
            ok = false;
        }
    }
    // Folders the undone run made, when they are empty.
    if (ok) rmMadeFolders({&folders}, fs);
    return ok;
}

// Finishes a committed journal in the run's own order: temporary files, menu entries,
// the manager copy, obsolete files, the record, backups; an uninstallation's files, then
// its folders, entries and record. Stops at the first step that fails.
unsigned int finishJournal(sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                           cApplicationConfig* store, sJournalOutcome& out) {
    _List<_guardchar<char> > roots;
    cFasterTreeList<cStringKey, int> files;
    if (!fileLines(j, files)) return failAt(out, eIJCannotRecover, "");
    for (long long i = 0; i < j.count(); i++) {
        const char* target = j.path(i);
        eJournalLine kind = j.kind(i);
        _guardchar<char> tmp;
        if (kind == eLineRoot && !addUnique(roots, target)) failAt(out, eIJCannotRecover, target);
        // Kept (and reported) once committed.
        if (kind == eLineMadeFolder && made && objKind(target) == eObjFolder && !addUnique(*made, target))
            failAt(out, eIJCannotRecover, target);
        if ((kind == eLineReplaced || kind == eLineNew) && j.registration != eUnregister && concatText(target, ".tmp", tmp) &&
            !files.find(pathKey(tmp.ptr)) && objKind(tmp.ptr) == eObjFile && !fs->unlink(tmp.ptr))
            failAt(out, eIJCannotWrite, tmp.ptr);
    }
    if (j.registration == eRegister) {
        // Written whole before the commit: moved in unless that happened already (an
        // entry the user removed since stays removed).
        for (long long i = 0; out.result == eIJOk && i < j.count(); i++) {
            _guardchar<char> tmp;
            if (j.kind(i) == eLineEntry && concatText(j.path(i), ".tmp", tmp) && objKind(tmp.ptr) == eObjFile &&
                !fs->rename(tmp.ptr, j.path(i)))
                failAt(out, eIJCannotCreate, j.path(i));
        }
        for (long long i = 0; out.result == eIJOk && i < j.count(); i++)
            if (j.kind(i) == eLineGoneEntry && !rmFileClean(j.path(i), nullptr, fs)) failAt(out, eIJCannotWrite, j.path(i));
        if (out.result == eIJOk) managerCopy(j.manager.ptr, store, fs, out);
    }
    // Files of the earlier version that this one no longer has (an uninstallation's files
    // that stayed in place), with the folders below a "D" folder they leave empty; before
    // the registration, so that the record lists only the folders that stay. Each one is
    // tried, so that one run names every file that stays.
    cPackageFolders rule(store);
    const bool removing = out.result == eIJOk;
    for (long long i = 0; removing && i < j.count(); i++) {
        const char* target = j.path(i);
        if (j.kind(i) != eLineObsolete) continue;
        _guardchar<char> folder;
        if (objKind(target) == eObjFile && !fs->unlink(target)) {
            failAt(out, eIJCannotWrite, target);
            _guardchar<char>* named = out.notRemoved.add();
            if (named) named->set(target);
        } else if (parentFolder(target, folder) && !rmEmptyFolders(folder.ptr, rootOf(roots, target), rule, fs)) {
            failAt(out, eIJCannotWrite, target);
        }
    }
    if (out.result == eIJOk && j.registration == eRegister) registerRecord(j, store, out);
    // The backups go once the package is registered (an uninstallation's files).
    for (long long i = 0; out.result == eIJOk && i < j.count(); i++) {
        _guardchar<char> bkp;
        if ((j.kind(i) == eLineReplaced || j.kind(i) == eLineNew) && concatText(j.path(i), ".bkp", bkp) &&
            !files.find(pathKey(bkp.ptr)) && objKind(bkp.ptr) == eObjFile && !fs->unlink(bkp.ptr))
            failAt(out, eIJCannotWrite, bkp.ptr);
    }
    if (out.result == eIJOk && j.registration == eUnregister) unregisterRecord(j, store, fs, out);
    return out.result;
}

}  // namespace

bool resolveJournal(const char* path, sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                    cApplicationConfig* store, sJournalOutcome& out) {
    if (j.committed) {
        // The files are in place; the record cannot be written without a store.
        if (j.registration && !store) return failAt(out, eIJNotSaved, ""), false;
        if (finishJournal(j, fs, made, store, out) != eIJOk) return false;
    } else if (!undoJournal(j, fs)) {
        return failAt(out, eIJCannotRecover, path), false;
    }
    // Flushed before the journal goes: what it undid must not come back after a power cut
    // (a backup removed, say, with no journal left to name it). A folder that cannot be
    // flushed keeps the journal: the next run resolves it again.
    cFasterTreeList<cStringKey, int> flushed;
    for (long long i = 0; i < j.count(); i++) {
        _guardchar<char> folder;
        if (j.kind(i) == eLineRoot || !parentFolder(j.path(i), folder) || flushed.find(pathKey(folder.ptr)))
            continue;
        flushed.insert_new(pathKey(folder.ptr));
        if (objKind(folder.ptr) == eObjFolder && !fs->syncFolder(folder.ptr))
            return failAt(out, eIJCannotWrite, folder.ptr), false;
    }
    if (!fs->unlink(path)) return failAt(out, eIJCannotWrite, path), false;
    // A registration resolved is the package's run completed: what a journal set aside
    // before it left is settled.
    if (j.committed && j.registration) settleSetAside(path);
    return true;
}
