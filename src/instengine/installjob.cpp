// The installation job: the package claimed (packageclaim.h), unpacking beside the
// targets, backups, moving into place with an immediate rollback on failure, shortcuts,
// then the commit, after which the journal's resolution finishes the run (journal.h).
#include "instengine/installjob.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/folders.h"
#include "base/job.h"
#include "base/strings.h"
#include "base/sync.h"
#include "hash/sha256.h"
#include "instengine/journal.h"
#include "instengine/journalformat.h"
#include "instengine/journalscope.h"
#include "instengine/leftovers.h"
#include "instengine/packageclaim.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "softmgr/ossupport.h"

namespace {

const long long kCopyChunk = 262144;
// Files from this size on are handed to the disk as soon as they are written.
const unsigned long long kEarlyWriteback = 1ULL << 20;
// Unpacking goes on several threads when each gets at least this many bytes.
const unsigned long long kMinShare = 16ULL << 20;
const int kMaxUnpackers = 8;
// A file from this size on is unpacked in pieces on all the workers at once.
const unsigned long long kLargeFile = 64ULL << 20;

// A name beside a target, on the stack: the unpacking workers never touch the heap for it
// (each would take an arena of its own). Empty for a name longer than any path.
struct sSideName {
    char ptr[4104];
};

// One file to install and how far it got. Its temporary and backup names are made when
// needed: kept for every file, they cost more than the rest.
struct sFlight {
    cSoftPkgScenario::sCopiedFile* file = nullptr;
    sSideName tmp() const { return side(".tmp"); }
    sSideName bkp() const { return side(".bkp"); }
    sSideName side(const char* suffix) const {
        sSideName s;
        size_t n = strlen(file->target), k = strlen(suffix);
        if (n + k >= sizeof s.ptr) n = k = 0;
        memcpy(s.ptr, file->target, n);
        memcpy(s.ptr + n, suffix, k);
        s.ptr[n + k] = 0;
        return s;
    }
    bool existed = false;   // the target was there when the journal was written
    bool tmpMade = false;   // our temporary file exists
    bool backedUp = false;  // the target is at the backup name
    bool applied = false;   // the new file is at the target
};


void copyTexts(const _List<_guardchar<char> >& from, _List<_guardchar<char> >& to) {
    for (auto* it = from.head; it; it = it->next) {
        _guardchar<char>* t = to.add();
        if (t) t->set(it->value.ptr);
    }
}

// The permission bits a file record asks for, or -1 when it leaves them to the umask.
int recordMode(const cSoftPkgScenario::sCopiedFile& c) {
    if (c.owner == 8 && c.group == 8 && c.others == 8) return -1;
    return ((c.owner & 7) * 8 + (c.group & 7)) * 8 + (c.others & 7);
}

class cInstallRun {
public:
    cInstallRun(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker, cInstallFS* fs)
        : ctx(ctx), progress(progress), asker(asker), fs(fs),
          claim(ctx.journalPath.ptr, ctx.codeName.ptr, ctx.store, fs, &ctx.runLock) {}
    ~cInstallRun() { closeFileSystems(); }

    unsigned int run();

private:
    unsigned int fail(unsigned int result, const char* path) {
        ctx.result = result;
        ctx.messagePath.set(path ? path : "");
        return 1;
    }
    // The first failure of the unpacking workers; the others stop at their next piece.
    void failUnpack(unsigned int result, const char* path) {
        cSafeCriticalSectionAccess a(&shareLock);
        if (ctx.result == eIJOk) fail(result, path);
        stopUnpack = true;
    }
    friend class cUnpacker;
    friend class cPieceWriter;
    bool stage(int n) { return progress ? progress->notifyStage(n) : true; }
    bool prepare();
    bool claimPackage();
    bool crashLeftovers();
    bool sortEarlierFiles();
    bool sideNamesFree(cFolderNames& names);
    bool sideNameTaken(const char* target, const char* side);
    bool unpackAll();
    void unpackRun(_List<sFlight>::sItem* from, long long count, bool report);
    unsigned int unpack(sFlight& f, bool report, bool note);
    bool unpackLarge(sFlight& f, int workers);
    // The bytes a file still has to unpack (none once a large file's pieces made it).
    unsigned long long unpackSize(const sFlight& f) { return f.tmpMade ? 0 : ctx.payload().sizeOf((int)f.file->item); }
    long long splitRuns(long long workers, unsigned long long total, _List<sFlight>::sItem** starts);
    void writePiece(sFlight& f, int fd, unsigned long long from, unsigned long long to,
                    std::atomic<unsigned long long>& done, cEvent& wake);
    bool noteFileSystem(int fd, const char* path);
    bool flushFileSystems();
    void closeFileSystems();
    bool menuEntries();
    bool writeEntries();
    bool makeJournal();
    bool moveAside();
    bool backup();
    bool apply();
    void removeTemps();
    bool restoreBackups();
    void rollBack();
    bool finish();

    sPkgInstallContext& ctx;
    cProgressNotifyTarget* progress;
    cJobAsker* asker;
    cInstallFS* fs;
    _List<sFlight> flights;
    _List<_guardchar<char> > roots;  // the installation folder and the absolute bases
    _List<_guardchar<char> > toMake;  // folders missing before the run, top first
    cFasterTreeList<cStringKey, int> seen;  // folders of the targets already checked
    int fileCount = 0;
    // Shared by the unpacking workers.
    struct sFileSystem {
        dev_t dev = 0;
        int fd = -1;  // opened before any file of ours on it was written
        _guardchar<char> path;
    };
    cCriticalSection shareLock;  // guards the first failure and the file systems
    _List<sFileSystem> fileSystems;
    std::atomic<bool> stopUnpack{false};
    std::atomic<long long> filesUnpacked{0};
    std::atomic<unsigned long long> bytesUnpacked{0};
    // The menu entries, written beside their places before the commit.
    struct sEntry {
        _guardchar<char> path, tmp, text;
        bool tmpMade = false;
    };
    _List<sEntry> entries;
    _List<_guardchar<char> > entryFolders;  // missing before the run, top first
    // The earlier installation's record, and what becomes of its files that the new
    // version no longer has: obsolete (they go once committed), or they stay (the
    // context's lists of the same names, once committed).
    sPkgRegistryRecord earlier;
    bool haveEarlier = false;
    _List<_guardchar<char> > obsolete, keptFiles, keptFor, refusedFiles;
    cFasterTreeList<cStringKey, int> obsoleteKeys, refusedKeys;
    // Obsolete files at a target's temporary name: moved to their own backup names once
    // the journal names them ("R"), before anything is unpacked there.
    struct sAside {
        _guardchar<char> path;
        bool moved = false;
    };
    _List<sAside> aside;
    bool isAside(const char* path) const {
        for (auto* it = aside.head; it; it = it->next)
            if (strcmp(it->value.path.ptr, path) == 0) return true;
        return false;
    }
    sJournal journal;
    // The package, the store folder's lock held for the whole run.
    cPackageClaim claim;
};

// The menu entries' places and texts; a leftover "<entry>.tmp" lies in the desktop's
// entries folder under the package's own prefix and is ours.
bool cInstallRun::menuEntries() {
    _List<cSoftPkgScenario::sMenuItemDef> items;
    if (!ctx.getMenuItems(items)) return fail(eIJBadObject, ""), false;
    const char* group = ctx.getStr("group");
    // The entries' folder chain may be missing: the folders made for it are named in the
    // journal, removed when the run is undone and left to the desktop once committed.
    _guardchar<char> folder;
    if (!items.empty() && desktopEntryFolder(folder) && isPlainAbsPath(folder.ptr))
        for (char* p = folder.ptr + 1;; p++) {
            if (*p && *p != '/') continue;
            char keep = *p;
            *p = 0;
            if (objKind(folder.ptr) == eObjNone && !addUnique(entryFolders, folder.ptr)) return fail(eIJCannotRecover, ""), false;
            *p = keep;
            if (!keep) break;
        }
    for (auto* it = items.head; it; it = it->next) {
        const cSoftPkgScenario::sMenuItemDef& m = it->value;
        _guardchar<char> path, text;
        if (!sysShortcutPath(path, m.name.ptr, ctx.codeName.ptr) || !isPlainAbsPath(path.ptr) ||
            !sysShortcutText(text, m.name.ptr, group && *group ? group : "Utility;", m.target.ptr, m.icon.ptr,
                             m.comment.ptr, m.elevated, m.args.ptr))
            return fail(eIJCannotCreate, path.empty() ? m.name.ptr : path.ptr), false;
        // Names that write alike give one entry: the last one's.
        sEntry* e = nullptr;
        for (auto* x = entries.head; x && !e; x = x->next)
            if (strcmp(x->value.path.ptr, path.ptr) == 0) e = &x->value;
        if (!e) {
            if (!(e = entries.add()) || !concatText(path.ptr, ".tmp", e->tmp)) return fail(eIJCannotCreate, path.ptr), false;
            eObjKind kind = objKind(path.ptr), tmpKind = objKind(e->tmp.ptr);
            if ((kind != eObjNone && kind != eObjFile) || (tmpKind != eObjNone && tmpKind != eObjFile)) return fail(eIJBadObject, path.ptr), false;
            if (tmpKind == eObjFile && !fs->unlink(e->tmp.ptr)) return fail(eIJCannotRecover, e->tmp.ptr), false;
            e->path.attach(path.dettach());
        }
        e->text.attach(text.dettach());
    }
    return true;
}

// Everything the run does, in the journal before the first write: the files, folders and
// menu entries in flight, and what the commit leaves to do (obsolete files and entries,
// the manager copy, the new record).
bool cInstallRun::makeJournal() {
    sJournal& j = journal;
    bool ok = j.code.set(ctx.codeName.ptr) && fillRegistryRecord(ctx, j.record) &&
              (!isPlainAbsPath(ctx.executablePath.ptr) || j.manager.set(ctx.executablePath.ptr));
    j.registration = eRegister;
    for (auto* it = roots.head; ok && it; it = it->next) ok = j.add(eLineRoot, it->value.ptr);
    // The earlier version's folders too: its obsolete files lie below them (and the
    // folders they leave empty go), also once the new record no longer names them.
    _List<_guardchar<char> > earlierRoots;
    cRecordScope scope(earlier, ctx.store);
    if (haveEarlier) {
        if (scope.isConfining(earlier.path.ptr)) ok = ok && addUnique(earlierRoots, earlier.path.ptr);
        for (auto* it = earlier.bases.head; ok && it; it = it->next)
            if (scope.isConfining(it->value.ptr)) ok = addUnique(earlierRoots, it->value.ptr);
    }
    for (auto* it = earlierRoots.head; ok && it; it = it->next) {
        bool named = false;
        for (auto* r = roots.head; r && !named; r = r->next) named = strcmp(r->value.ptr, it->value.ptr) == 0;
        if (!named) ok = j.add(eLineRoot, it->value.ptr);
    }
    for (auto* it = toMake.head; ok && it; it = it->next) ok = j.add(eLineMadeFolder, it->value.ptr);
    for (auto* it = flights.head; ok && it; it = it->next)
        ok = j.add(it->value.existed ? eLineReplaced : eLineNew, it->value.file->target, true);
    for (auto* it = entryFolders.head; ok && it; it = it->next) ok = j.add(eLineEntryFolder, it->value.ptr);
    for (auto* it = entries.head; ok && it; it = it->next) ok = j.add(eLineEntry, it->value.path.ptr);
    // The earlier version's files that go (sortEarlierFiles); a menu entry the new version
    // no longer has goes too, unless the earlier record may not take it.
    for (auto* it = obsolete.head; ok && it; it = it->next)
        ok = j.add(isAside(it->value.ptr) ? eLineReplaced : eLineObsolete, it->value.ptr);
    for (auto* e = ctx.existingShortcuts.first(); ok && e; e = ctx.existingShortcuts.next(e)) {
        bool stays = false;
        for (auto* x = entries.head; x && !stays; x = x->next) stays = strcmp(x->value.path.ptr, e->value().ptr) == 0;
        if (!stays)
            ok = scope.ownsEntry(e->value().ptr) ? j.add(eLineGoneEntry, e->value().ptr)
                                                 : addUnique(refusedFiles, refusedKeys, e->value().ptr);
    }
    // The record: every copied file, every entry, the bases, and the folders made by the
    // earlier installations, by an interrupted run and by this one (those still standing
    // once committed).
    sPkgRegistryRecord& r = j.record;
    for (auto* it = ctx.copiedFiles.head; ok && it; it = it->next) ok = r.files.addShared(it->value.target);
    for (auto* it = entries.head; ok && it; it = it->next) ok = addUnique(r.shortcuts, it->value.path.ptr);
    const char* pgm = ctx.getStr("pgm");
    for (auto* it = roots.head; ok && it; it = it->next)
        if (!pgm || strcmp(it->value.ptr, pgm) != 0) ok = addUnique(r.bases, it->value.ptr);
    cFasterTreeList<cStringKey, int> dirs;
    if (haveEarlier)
        for (auto* it = earlier.dirs.head; ok && it; it = it->next)
            if (isPlainAbsPath(it->value.ptr)) ok = addUnique(r.dirs, dirs, it->value.ptr);
    for (auto* it = ctx.madeFolders.head; ok && it; it = it->next) ok = addUnique(r.dirs, dirs, it->value.ptr);
    for (auto* it = toMake.head; ok && it; it = it->next) ok = addUnique(r.dirs, dirs, it->value.ptr);
    return ok;
}

// The package is this run's (the start took its run lock), what an interrupted run left is
// resolved, and so is another package's interrupted run that names a file this one writes
// or replaces: no two journals hold the same name in flight.
bool cInstallRun::claimPackage() {
    sClaimFiles files;
    files.copied = &ctx.copiedFiles;
    files.existing = &ctx.existingFiles;
    if (claim.claim(&files, &ctx.madeFolders) == eClaimed) return true;
    return fail(eIJCannotRecover, claim.path()), false;
}

// What an interrupted run whose journal was set aside left beside the package's files:
// taken where the package shows it is that run's, else the run stops naming it.
bool cInstallRun::crashLeftovers() {
    _guardchar<char> left;
    eLeftovers r = takeRunLeftovers(ctx, fs, left);
    if (r == eLeftoversNone) return true;
    return fail(r == eLeftoversStay ? eIJBadObject : eIJCannotRecover, left.ptr), false;
}

// What becomes of the earlier version's files that the new one no longer has: each goes
// (obsolete), but when another package's record lists it (kept for that package) or the
// earlier record may not take it (as an uninstallation would refuse it); the result
// names both.
bool cInstallRun::sortEarlierFiles() {
    haveEarlier = ctx.store && readRegistryRecord(ctx.store, ctx.registryName.ptr, earlier);
    cRecordScope scope(earlier, ctx.store);
    cOtherRecords others(ctx.existingFiles.count() ? ctx.store : nullptr, ctx.registryName.ptr);
    cFasterTreeList<cStringKey, int> kept;
    bool ok = true;
    for (auto* e = ctx.existingFiles.first(); ok && e; e = ctx.existingFiles.next(e)) {
        if (e->value().kept) continue;
        const char *path = e->value().path.ptr, *owner = others.fileOwner(path);
        if (owner)
            ok = addUnique(keptFiles, kept, path) && addUnique(keptFor, owner);
        else if (scope.ownsFile(path))
            ok = obsoleteKeys.insert(pathKey(path)) && addUnique(obsolete, path);
        else
            ok = addUnique(refusedFiles, refusedKeys, path);
    }
    return ok || (fail(eIJCannotRecover, ""), false);
}

// The run is refused: a file of the earlier version (`side`) lies where the run needs a
// name of its own beside `target`, and once interrupted the two could not be told apart.
bool cInstallRun::sideNameTaken(const char* target, const char* side) {
    _guardchar<char> head, both;
    ctx.leftovers.destroy();
    if (!concatText(side, "\n", head) || !concatText(head.ptr, target, both)) return fail(eIJCannotRecover, side), false;
    return fail(eIJSideNameTaken, both.ptr), false;
}

// Names beside the files to write that the journal did not give us belong to someone
// else: never taken, and every one named, so that one run tells all of them. A file of
// the earlier version there (a version that shipped "x.bkp" alone, the next one "x") is
// the update's own when it goes with it: at a new file's backup name it stays until the
// commit removes it, at its temporary name it is moved aside first (to its own backup
// name). The journal names it as a file of its own, so that no recovery takes it for the
// run's. One that stays (kept for another package, one the record may not take), or
// beside a file the run replaces (which needs both names), could not be told from the
// run's: the run is refused.
bool cInstallRun::sideNamesFree(cFolderNames& names) {
    cFasterTreeList<cStringKey, int> named, targets;
    auto leftover = [&](const char* path) {
        return addUnique(ctx.leftovers, named, path) || (fail(eIJCannotRecover, path), false);
    };
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        const cSoftPkgScenario::sCopiedFile& c = it->value;
        if (c.others == kUnchangedFile || !isPlainAbsPath(c.target)) continue;
        for (const char* suffix : {".tmp", ".bkp"}) {
            _guardchar<char> side;
            if (!concatText(c.target, suffix, side)) return fail(eIJCannotRecover, c.target), false;
            if (names.kind(side.ptr) == eObjNone) continue;
            const sExistingFileItem* earlierFile = ctx.existingFiles.find(pathKey(side.ptr));
            if (!earlierFile) {
                if (!leftover(side.ptr)) return false;
                continue;
            }
            if (names.kind(c.target) != eObjNone || !obsoleteKeys.find(pathKey(side.ptr)))
                return sideNameTaken(c.target, side.ptr);
            if (strcmp(suffix, ".tmp") != 0) continue;
            // Moved to its own backup name: that name and its temporary one become the
            // run's, so neither may be another file of either version.
            if (targets.empty())
                for (auto* t = ctx.copiedFiles.head; t; t = t->next)
                    if (!targets.insert(pathKey(t->value.target))) return fail(eIJCannotRecover, t->value.target), false;
            for (const char* own : {".tmp", ".bkp"}) {
                _guardchar<char> next;
                if (!concatText(side.ptr, own, next)) return fail(eIJCannotRecover, side.ptr), false;
                if (targets.find(pathKey(next.ptr)) || ctx.existingFiles.find(pathKey(next.ptr)))
                    return sideNameTaken(next.ptr, side.ptr);
                if (names.kind(next.ptr) != eObjNone && !leftover(next.ptr)) return false;
            }
            sAside* a = aside.add();
            if (!a || !a->path.set(earlierFile->path.ptr)) return fail(eIJCannotRecover, side.ptr), false;
        }
    }
    if (ctx.leftovers.empty()) return true;
    return fail(eIJBadObject, ctx.leftovers.head->value.ptr), false;
}

bool cInstallRun::prepare() {
    if (ctx.journalPath.empty()) return fail(eIJCannotRecover, ""), false;
    if (!claimPackage() || !crashLeftovers() || !sortEarlierFiles()) return false;
    const char* pgm = ctx.getStr("pgm");
    if (pgm && isPlainAbsPath(pgm) && !addUnique(roots, pgm)) return fail(eIJCannotRecover, pgm), false;
    // Absolute bases other than the installation folder.
    for (auto* it = ctx.files.head; it; it = it->next) {
        const char* id = it->value.target.id;
        const char* base = !id || !*id ? nullptr : ctx.getStr(id);
        if (base && isPlainAbsPath(base) && !(pgm && (strcmp(base, pgm) == 0 || isBelow(base, pgm))) &&
            !addUnique(roots, base))
            return fail(eIJCannotRecover, base), false;
    }
    cFolderNames names;  // a target's folder, listed once, says which of its names are free
    if (!sideNamesFree(names)) return false;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        cSoftPkgScenario::sCopiedFile& c = it->value;
        if (!isPlainAbsPath(c.target)) return fail(eIJBadObject, c.target), false;
        // Below its base (where the package makes its folders) no part of a target's path
        // may be a link; each folder is looked at once.
        const char* root = rootOf(roots, c.target);
        _guardchar<char> folder;
        if (!parentFolder(c.target, folder)) return fail(eIJCannotRecover, c.target), false;
        for (char* p = folder.ptr + 1;; p++) {
            if (*p && *p != '/') continue;
            char keep = *p;
            *p = 0;
            if (seen.find(pathKey(folder.ptr))) {
                *p = keep;
                if (!keep) break;
                continue;
            }
            seen.insert_new(pathKey(folder.ptr));
            eObjKind kind = objKind(folder.ptr);
            _guardchar<char>* made = kind == eObjNone ? toMake.add() : nullptr;
            if (kind == eObjNone && !(made && made->set(folder.ptr))) return fail(eIJCannotRecover, folder.ptr), false;
            if (kind == eObjFile || (kind == eObjOther && root && isBelow(folder.ptr, root))) return fail(eIJBadObject, folder.ptr), false;
            *p = keep;
            if (!keep) break;
        }
        if (c.others == kUnchangedFile) continue;
        sFlight* f = flights.add();
        if (!f) return fail(eIJCannotRecover, c.target), false;
        f->file = &c;
        eObjKind kind = names.kind(c.target);
        if (kind != eObjNone && kind != eObjFile) return fail(eIJBadObject, c.target), false;
        f->existed = kind == eObjFile;
        fileCount++;
    }
    if (!menuEntries()) return false;
    if (!makeJournal()) return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    // Its own recovery obeys only a journal that stays in the package's folders: a run
    // never writes one that an interruption would leave unresolved.
    _guardchar<char> outside;
    if (!journalConfined(journal, ctx.codeName.ptr, ctx.store, outside))
        return fail(eIJCannotMakeFolder, outside.ptr), false;
    if (saveJournal(ctx.journalPath.ptr, journal, false, fs) != eJournalSaved) {
        fs->unlink(ctx.journalPath.ptr);
        return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    }
    // The folders are made once the journal names them.
    for (auto* it = toMake.head; it; it = it->next)
        if (objKind(it->value.ptr) == eObjNone && !fs->mkdir(it->value.ptr)) {
            fail(eIJCannotMakeFolder, it->value.ptr);
            rollBack();
            return false;
        }
    return moveAside();
}

// The earlier version's files at a temporary name go to their backup names once the
// journal names them (as a busy target does in the backup stage); one gone meanwhile
// needs no room.
bool cInstallRun::moveAside() {
    for (auto* it = aside.head; it; it = it->next) {
        _guardchar<char> bkp;
        const char* path = it->value.path.ptr;
        if (!concatText(path, ".bkp", bkp)) {
            fail(eIJCannotRecover, path);
            rollBack();
            return false;
        }
        for (eObjKind kind = objKind(path); kind == eObjFile; kind = objKind(path)) {
            if (moveFileClean(path, bkp.ptr, fs)) {
                it->value.moved = true;
                break;
            }
            if (!asker || !asker->askRetry(path, false)) {
                fail(eIJGaveUp, bkp.ptr);
                rollBack();
                return false;
            }
        }
    }
    return true;
}

// Milliseconds of a steady clock since `start` (0: since the clock's own start).
long long msSince(long long start) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000 - start;
}

// A worker that unpacks a run of neighbouring files in order.
class cUnpacker : public cJob {
public:
    cUnpacker(cInstallRun* run, _List<sFlight>::sItem* from, long long count)
        : myRun(run), myFrom(from), myCount(count) {}
    ~cUnpacker() override { terminate(60000); }
    cEvent done{true, false};

protected:
    unsigned int job() override {
        myRun->unpackRun(myFrom, myCount, false);
        return 0;
    }
    void onJobEnd(unsigned int) override { done.set(); }

private:
    cInstallRun* myRun;
    _List<sFlight>::sItem* myFrom;
    long long myCount;
};

// A piece of a large file, inflated from the body's nearest access point and written in place.
class cPieceWriter : public cJob {
public:
    cPieceWriter(cInstallRun* run, sFlight* f, int fd, unsigned long long from, unsigned long long to, cEvent* wake)
        : myRun(run), myFlight(f), myFd(fd), myFrom(from), myTo(to), myWake(wake) {}
    ~cPieceWriter() override { terminate(60000); }
    std::atomic<unsigned long long> written{0};
    cEvent done{true, false};

protected:
    unsigned int job() override {
        myRun->writePiece(*myFlight, myFd, myFrom, myTo, written, *myWake);
        return 0;
    }
    void onJobEnd(unsigned int) override {
        done.set();
        myWake->set();
    }

private:
    cInstallRun* myRun;
    sFlight* myFlight;
    int myFd;
    unsigned long long myFrom, myTo;
    cEvent* myWake;
};

// Unpacks one file beside its target, digest checked on the way (the item stream's),
// mode set. Left closed and not flushed: flushFileSystems flushes them all at once.
// `note`: its file system is to be noted (not yet done for a file of the same folder).
unsigned int cInstallRun::unpack(sFlight& f, bool report, bool note) {
    cSoftPkgScenario::sCopiedFile& c = *f.file;
    unsigned long long size = ctx.payload().sizeOf((int)c.item);
    unsigned char want[32];
    if (!ctx.digest((int)c.item, want)) return eIJNoItem;
    // An empty file needs no item stream: its digest is still checked below.
    cPtr<cFileIOTarget> item(size ? ctx.file((int)c.item) : nullptr);
    if (size && !item) return eIJNoItem;
    if (!size) {
        unsigned char none[32];
        SHA2Hash((const unsigned char*)"", none, 0);
        if (memcmp(none, want, 32) != 0) return eIJCannotRead;
    }
    int mode = recordMode(c);
    sSideName tmp = f.tmp();
    int fd = fs->createExclusive(tmp.ptr, mode < 0 ? 0666 : 0600);
    if (fd < 0) return eIJCannotCreate;
    f.tmpMade = true;
    if (note && !noteFileSystem(fd, tmp.ptr)) {
        fs->close(fd);
        return eIJCannotWrite;
    }
    _typebuf<unsigned char> buf;
    if (!buf.set(size < (unsigned long long)kCopyChunk ? (long long)size + 1 : kCopyChunk)) {
        fs->close(fd);
        return eIJCannotWrite;
    }
    unsigned int r = eIJOk;
    for (unsigned long long done = 0; done < size && r == eIJOk;) {
        long long n = size - done > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(size - done);
        if (stopUnpack) {
            r = eIJStopped;
        } else if (item->read(buf.ptr, n) != n) {
            r = eIJCannotRead;
        } else if (!fs->write(fd, buf.ptr, n)) {
            r = eIJCannotWrite;
        } else {
            done += (unsigned long long)n;
            bytesUnpacked += (unsigned long long)n;
            if (report && progress && !progress->notifyProgress(done * 100.0 / size)) r = eIJStopped;
        }
    }
    // All of the item read: the stream has compared its digest.
    if (r == eIJOk && size && !item->valid()) r = eIJCannotRead;
    if (r == eIJOk && mode >= 0 && !fs->chmod(fd, mode)) r = eIJCannotWrite;
    if (r == eIJOk && size >= kEarlyWriteback) fs->startWriteback(fd);
    if (!fs->close(fd) && r == eIJOk) r = eIJCannotWrite;
    return r;
}

// Keeps a descriptor of each file system the unpacked files lie on, taken from the first
// file there before anything was written to it: its flush reports every failed write.
bool cInstallRun::noteFileSystem(int fd, const char* path) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    cSafeCriticalSectionAccess a(&shareLock);
    for (auto* it = fileSystems.head; it; it = it->next)
        if (it->value.dev == st.st_dev) return true;
    sFileSystem* f = fileSystems.add();
    if (!f) return false;
    f->dev = st.st_dev;
    if (!f->path.set(path)) return false;
    f->fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return f->fd >= 0;
}

bool cInstallRun::flushFileSystems() {
    for (auto* it = fileSystems.head; it; it = it->next)
        if (!fs->syncFileSystem(it->value.fd)) return fail(eIJCannotWrite, it->value.path.ptr), false;
    return true;
}

void cInstallRun::closeFileSystems() {
    for (auto* it = fileSystems.head; it; it = it->next)
        if (it->value.fd >= 0) ::close(it->value.fd);
    fileSystems.destroy();
}

void cInstallRun::writePiece(sFlight& f, int fd, unsigned long long from, unsigned long long to,
                             std::atomic<unsigned long long>& done, cEvent& wake) {
    cPtr<cFileIOTarget> item(ctx.payload().storedItem((int)f.file->item));
    _typebuf<unsigned char> buf;
    if (!item || !buf.set(kCopyChunk) || !item->set_fp(from)) return failUnpack(eIJNoItem, f.tmp().ptr);
    for (unsigned long long at = from, handed = from; at < to && !stopUnpack;) {
        long long n = to - at > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(to - at);
        if (item->read(buf.ptr, n) != n) return failUnpack(eIJCannotRead, f.tmp().ptr);
        if (!fs->writeAt(fd, buf.ptr, n, at)) return failUnpack(eIJCannotWrite, f.tmp().ptr);
        at += (unsigned long long)n;
        // The disk gets each stretch as it is done, so that the flush finds little left.
        if (at - handed >= kEarlyWriteback * 8 || at == to) {
            fs->startWriteback(fd, handed, at - handed);
            handed = at;
        }
        done += (unsigned long long)n;
        bytesUnpacked += (unsigned long long)n;
        wake.set();
    }
}

// A large file kept as it is in the package: its pieces inflated and written on all the
// workers at once, its digest taken here from what they wrote, in order, as it arrives.
bool cInstallRun::unpackLarge(sFlight& f, int workers) {
    cSoftPkgScenario::sCopiedFile& c = *f.file;
    unsigned long long size = ctx.payload().sizeOf((int)c.item);
    unsigned char want[32], got[32];
    sSideName tmp = f.tmp();
    if (!ctx.digest((int)c.item, want)) return failUnpack(eIJNoItem, tmp.ptr), false;
    int mode = recordMode(c);
    int fd = fs->createExclusive(tmp.ptr, mode < 0 ? 0666 : 0600);
    if (fd < 0) return failUnpack(eIJCannotCreate, tmp.ptr), false;
    f.tmpMade = true;
    _typebuf<unsigned char> buf;
    _classbuf<cPtr<cPieceWriter> > pieces;
    if (!noteFileSystem(fd, tmp.ptr) || !buf.set(kCopyChunk) || !pieces.set(workers)) {
        fs->close(fd);
        return failUnpack(eIJCannotWrite, tmp.ptr), false;
    }
    cEvent wake(false, false);
    unsigned long long step = (size + (unsigned long long)workers - 1) / (unsigned long long)workers;
    for (int w = 0; w < workers; w++) {
        unsigned long long from = step * (unsigned long long)w, to = from + step < size ? from + step : size;
        pieces[w] = new (std::nothrow) cPieceWriter(this, &f, fd, from, to, &wake);
        if (!pieces[w].ptr || !pieces[w]->start()) {
            pieces[w] = nullptr;
            failUnpack(eIJCannotWrite, tmp.ptr);
            break;
        }
    }
    sha256_context sha;
    sha256_starts(&sha);
    unsigned long long hashed = 0;
    long long reported = msSince(0);
    for (int w = 0; w < workers && !stopUnpack; w++) {
        unsigned long long from = step * (unsigned long long)w, to = from + step < size ? from + step : size;
        while (from + hashed < to && !stopUnpack) {
            unsigned long long ready = pieces[w]->written;
            if (hashed == ready) {
                // Progress about ten times a second, however often a piece wakes us.
                if (!wake.wait(100) || msSince(reported) >= 100) {
                    reported = msSince(0);
                    stage(1 + (int)filesUnpacked);
                    if (progress && !progress->notifyProgress(bytesUnpacked * 100.0 / size))
                        failUnpack(eIJStopped, tmp.ptr);
                }
                continue;
            }
            long long n = ready - hashed > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(ready - hashed);
            if (pread(fd, buf.ptr, (size_t)n, (off_t)(from + hashed)) != n) {
                failUnpack(eIJCannotRead, tmp.ptr);
                break;
            }
            sha256_update(&sha, buf.ptr, (size_t)n);
            hashed += (unsigned long long)n;
        }
        hashed = 0;
    }
    for (int w = 0; w < workers; w++)
        if (pieces[w].ptr) pieces[w]->done.wait(-1);
    sha256_finish(&sha, got);
    unsigned int r = ctx.result;
    if (r == eIJOk && memcmp(got, want, 32) != 0) r = eIJCannotRead;
    if (r == eIJOk && mode >= 0 && !fs->chmod(fd, mode)) r = eIJCannotWrite;
    if (!fs->close(fd) && r == eIJOk) r = eIJCannotWrite;
    if (r != eIJOk) return failUnpack(r, tmp.ptr), false;
    filesUnpacked++;
    return true;
}

void cInstallRun::unpackRun(_List<sFlight>::sItem* it, long long count, bool report) {
    // A new file lies on the file system of its folder: noted once for a folder's run of files.
    const char* noted = nullptr;
    long long notedLen = -1;
    for (; it && count > 0 && !stopUnpack; it = it->next, count--) {
        if (it->value.tmpMade) continue;  // unpacked already (a large file)
        if (report) stage(1 + (int)filesUnpacked);
        const char* target = it->value.file->target;
        long long len = (long long)(strrchr(target, '/') - target);
        bool note = len != notedLen || memcmp(target, noted, (size_t)len) != 0;
        unsigned int r = unpack(it->value, report, note);
        if (note && r == eIJOk) noted = target, notedLen = len;
        if (r != eIJOk) return failUnpack(r, it->value.tmp().ptr);
        filesUnpacked++;
    }
}

// Where each worker's run of neighbouring files begins, in the flights' order: runs of
// about equal bytes. A run's reader starts at the body's access point before its first
// file and inflates up to it for nothing (the run before has inflated those bytes), so a
// run may begin off its equal share where that way is shorter: a start costs its lead-in
// plus its distance from the equal share. The number of runs (fewer than `workers` when a
// file spans a share).
long long cInstallRun::splitRuns(long long workers, unsigned long long total, _List<sFlight>::sItem** starts) {
    const unsigned long long share = total / (unsigned long long)workers;
    long long runs = 1, w = 1;  // w: the start looked for, near w shares
    starts[0] = flights.head;
    _List<sFlight>::sItem* pick = nullptr;
    unsigned long long best = 0, sum = 0;
    for (auto* it = flights.head; it && w < workers; it = it->next) {
        // Past start w's window (half a share either side): its pick begins a run.
        while (w < workers && sum >= share * (unsigned long long)w + share / 2) {
            if (pick) starts[runs++] = pick;
            pick = nullptr;
            w++;
        }
        // A run is judged by its first file that is read (an empty one reads nothing).
        unsigned long long target = share * (unsigned long long)w, size = unpackSize(it->value);
        if (w < workers && size && sum + share / 2 >= target) {
            unsigned long long off = sum > target ? sum - target : target - sum;
            if (!pick || off < best) {
                unsigned long long cost = off + ctx.payload().leadIn((int)it->value.file->item);
                if (!pick || cost < best) pick = it, best = cost;
            }
        }
        sum += size;
    }
    if (pick && w < workers) starts[runs++] = pick;
    return runs;
}

// Every file written beside its target: on this thread for a small package, else on
// several threads: a large file kept as it is in pieces on all of them, the others in
// runs of neighbouring files (each run's reader goes on from one item to the next, and
// the body's access points let each piece and run start near its first byte).
bool cInstallRun::unpackAll() {
    auto threads = [&](unsigned long long bytes) {
        long long n = (long long)(bytes / kMinShare);
        if (n > usableCores()) n = usableCores();
        return n > kMaxUnpackers ? kMaxUnpackers : (int)n;
    };
    unsigned long long total = 0;
    for (auto* it = flights.head; it; it = it->next) total += unpackSize(it->value);
    if (threads(total) > 1)
        for (auto* it = flights.head; it; it = it->next) {
            unsigned long long size = unpackSize(it->value);
            cPtr<cFileIOTarget> stored(size >= kLargeFile ? ctx.payload().storedItem((int)it->value.file->item) : nullptr);
            if (!stored) continue;
            stored = nullptr;
            if (!unpackLarge(it->value, threads(total))) return false;
        }
    long long count = 0;
    total = 0;
    for (auto* it = flights.head; it; it = it->next) total += unpackSize(it->value), count += it->value.tmpMade ? 0 : 1;
    long long workers = threads(total) < count ? threads(total) : count;
    if (workers <= 1) {
        unpackRun(flights.head, fileCount, true);
        return ctx.result == eIJOk;
    }
    _List<sFlight>::sItem* starts[kMaxUnpackers];
    long long runs = splitRuns(workers, total, starts);
    _classbuf<cPtr<cUnpacker> > pool;
    if (!pool.set(runs)) return fail(eIJCannotWrite, ""), false;
    long long started = 0;
    for (long long w = 0; w < runs; w++) {
        long long n = 0;
        for (auto* it = starts[w]; it && (w == runs - 1 || it != starts[w + 1]); it = it->next) n++;
        pool[w] = new (std::nothrow) cUnpacker(this, starts[w], n);
        if (!pool[w].ptr || !pool[w]->start()) {
            pool[w] = nullptr;
            failUnpack(eIJCannotWrite, starts[w]->value.tmp().ptr);
            break;
        }
        started++;
    }
    // Progress from here: the files done and the share of the bytes.
    unsigned long long before = bytesUnpacked;
    for (long long w = 0; w < started; w++)
        while (!pool[w]->done.wait(100)) {
            stage(1 + (int)filesUnpacked);
            if (progress && !progress->notifyProgress((bytesUnpacked - before) * 100.0 / total))
                failUnpack(eIJStopped, "");
        }
    return ctx.result == eIJOk;
}

void cInstallRun::removeTemps() {
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.tmpMade && objKind(it->value.tmp().ptr) == eObjFile && fs->unlink(it->value.tmp().ptr))
            it->value.tmpMade = false;
    for (auto* it = entries.head; it; it = it->next)
        if (it->value.tmpMade && objKind(it->value.tmp.ptr) == eObjFile && fs->unlink(it->value.tmp.ptr))
            it->value.tmpMade = false;
}

// Puts every backup made so far back and removes new files that had none; true when
// everything is as before the run.
bool cInstallRun::restoreBackups() {
    bool ok = true;
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        if (f.backedUp) {
            if (fs->rename(f.bkp().ptr, f.file->target)) {
                f.backedUp = f.applied = false;
            } else {
                ok = false;
            }
        } else if (f.applied) {
            if (fs->unlink(f.file->target))
                f.applied = false;
            else
                ok = false;
        }
    }
    removeTemps();
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.tmpMade) ok = false;
    for (auto* it = entries.head; it; it = it->next)
        if (it->value.tmpMade) ok = false;
    // The earlier version's files moved aside go back once the run's own temporary files
    // are gone from their names.
    for (auto* it = aside.head; ok && it; it = it->next) {
        _guardchar<char> bkp;
        if (!it->value.moved) continue;
        if (concatText(it->value.path.ptr, ".bkp", bkp) && fs->rename(bkp.ptr, it->value.path.ptr))
            it->value.moved = false;
        else
            ok = false;
    }
    return ok;
}

// Everything back as before the run; the journal goes only when that succeeded (else
// the next run finishes the job from it).
void cInstallRun::rollBack() {
    if (!restoreBackups()) return;
    rmMadeFolders({&toMake, &entryFolders}, fs);
    fs->unlink(ctx.journalPath.ptr);
}

bool cInstallRun::backup() {
    // Every target's kind first, so that nothing moves when one of them is wrong; each
    // folder is listed once, after the unpacking.
    cFolderNames names;
    for (auto* it = flights.head; it; it = it->next) {
        const char* target = it->value.file->target;
        eObjKind kind = names.kind(target);
        sSideName bkp = it->value.bkp();
        // Nor is a name that is there taken for a backup (the earlier version's file, or
        // one that appeared since the run began): the backups go once committed.
        const char* bad = kind != eObjNone && kind != eObjFile                 ? target
                          : kind == eObjFile && names.kind(bkp.ptr) != eObjNone ? bkp.ptr
                                                                                : nullptr;
        if (bad) {
            fail(eIJBadObject, bad);
            rollBack();
            return false;
        }
    }
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        for (eObjKind kind = names.kind(f.file->target); kind == eObjFile; kind = objKind(f.file->target)) {
            if (moveFileClean(f.file->target, f.bkp().ptr, fs)) {
                f.backedUp = true;
                break;
            }
            if (!asker || !asker->askRetry(f.file->target, false)) {
                fail(eIJGaveUp, f.bkp().ptr);
                rollBack();
                return false;
            }
        }
    }
    return true;
}

bool cInstallRun::apply() {
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        if (!fs->rename(f.tmp().ptr, f.file->target)) {
            fail(eIJCannotApply, f.file->target);
            rollBack();
            return false;
        }
        f.tmpMade = false;
        f.applied = true;
    }
    return true;
}

// Each menu entry written whole beside its place ("<entry>.tmp", named in the journal);
// moved into place once committed.
bool cInstallRun::writeEntries() {
    _guardchar<char> folder;
    for (auto* it = entries.head; it; it = it->next) {
        sEntry& e = it->value;
        if (!parentFolder(e.path.ptr, folder) || !makeFolderChain(folder.ptr, fs))
            return fail(eIJCannotMakeFolder, folder.ptr), false;
        int fd = fs->createExclusive(e.tmp.ptr, 0600);
        if (fd < 0) return fail(eIJCannotCreate, e.tmp.ptr), false;
        e.tmpMade = true;
        bool ok = fs->write(fd, e.text.ptr, e.text.length()) && fs->chmod(fd, 0644) && fs->sync(fd);
        if (!fs->close(fd) || !ok) return fail(eIJCannotWrite, e.tmp.ptr), false;
    }
    return true;
}

// Everything after the commit, done by resolving the committed journal: what an
// interrupted run leaves to the next one is exactly what this run does here.
bool cInstallRun::finish() {
    sJournalOutcome out;
    journal.committed = true;
    // Committed, what stays of the earlier version stays: the result names it.
    copyTexts(keptFiles, ctx.keptFiles);
    copyTexts(keptFor, ctx.keptFor);
    copyTexts(refusedFiles, ctx.refusedFiles);
    bool ok = resolveJournal(ctx.journalPath.ptr, journal, fs, nullptr, ctx.store, out);
    for (auto* it = entries.head; it; it = it->next) {
        _guardchar<char>* added = ctx.newShortcuts.add();
        if (added) added->set(it->value.path.ptr);
    }
    copyTexts(out.notRemoved, ctx.notRemoved);
    if (!ok) return fail(out.result == eIJOk ? (unsigned int)eIJCannotRecover : out.result, out.path.ptr), false;
    if (objKind(out.manager.ptr) == eObjFile) OSRegisterPackage(out.manager.ptr, ctx, false);
    return true;
}

unsigned int cInstallRun::run() {
    ctx.result = eIJOk;
    ctx.messagePath.clear();
    for (auto* list : {&ctx.keptFiles, &ctx.keptFor, &ctx.refusedFiles, &ctx.notRemoved}) list->destroy();
    stage(0);
    if (!prepare()) return 1;
    // The data and the mode of every file are on the disk before any is moved.
    if (!unpackAll() || !writeEntries() || !flushFileSystems()) {
        stage(fileCount + 3);
        // The journal goes only when every temporary file did: one left behind is
        // still named in it, so the next run removes it instead of refusing it.
        rollBack();
        return 1;
    }
    stage(fileCount + 1);
    if (!backup()) return 1;
    stage(fileCount + 2);
    if (!apply()) return 1;
    // The names moved in and out and the folders made, on the disk before the journal
    // says committed: it never survives a power cut that the names it relies on do not.
    if (!flushFileSystems()) {
        rollBack();
        return 1;
    }
    // Every new file is in place: once the journal says so, an interruption keeps them.
    eJournalSave saved = saveJournal(ctx.journalPath.ptr, journal, true, fs);
    if (saved != eJournalSaved) {
        // Not in place is read back: a move into place reported as failed may still have
        // been made (a network file system retrying it). In place but not flushed is
        // committed.
        sJournal onDisk;
        if (saved == eJournalNotSaved && (readJournal(ctx.journalPath.ptr, onDisk) != eJournalReadWhole || !onDisk.committed)) {
            fail(eIJCannotRecover, ctx.journalPath.ptr);
            rollBack();
            return 1;
        }
        // Committed but not durable: the next run finishes the job from it.
        fail(eIJCannotRecover, ctx.journalPath.ptr);
        stage(fileCount + 3);
        return 1;
    }
    // From here a failure is reported and the committed journal stays: the next run
    // finishes the job from it. Nothing rolls back any more: the flights' names make
    // room for the record.
    closeFileSystems();
    flights.destroy();
    bool ok = finish();
    stage(fileCount + 3);
    return ok ? 0 : 1;
}

}  // namespace

int installStageCount(sPkgInstallContext& ctx) {
    int n = 0;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next)
        if (it->value.others != kUnchangedFile) n++;
    return 4 + n;
}

unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs) {
    if (ctx.journalPath.empty()) defaultJournalPath(ctx.store, ctx.codeName.ptr, ctx.journalPath);
    cInstallRun run(ctx, progress, asker, fs ? fs : cInstallFS::plain());
    return run.run();
}
