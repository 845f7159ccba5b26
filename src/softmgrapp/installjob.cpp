// The installation job: recovery from the journal, unpacking beside the targets, backups,
// moving into place with an immediate rollback on failure, shortcuts, the manager copy,
// registration and cleanup.
#include "softmgrapp/installjob.h"

#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "hash/sha256.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/installinit.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/softmgrcopy.h"
#include "softmgrapp/version.h"
#include "ui/lang.h"

namespace {

const long long kCopyChunk = 65536;
const char kJournalMagic[] = "QMXINFLIGHT 1";
// A journal lists at most one line per file record of a package.
const long long kMaxJournalBytes = 1LL << 30;

// One file to install and how far it got.
struct sFlight {
    cSoftPkgScenario::sCopiedFile* file = nullptr;
    _guardchar<char> tmp, bkp;
    bool existed = false;   // the target was there when the journal was written
    bool tmpMade = false;   // our temporary file exists
    bool backedUp = false;  // the target is at the backup name
    bool applied = false;   // the new file is at the target
};

struct sJournalEntry {
    char kind = 0;  // 'R', 'N' or 'O' (an obsolete file of the earlier version)
    bool existed = false;
    _guardchar<char> path;
};

// A growing text.
struct sText {
    _typebuf<char> buf;
    long long n = 0;
    bool ok = true;
    void add(const char* s, long long len = -1) {
        if (!ok || !s) return;
        if (len < 0) len = (long long)strlen(s);
        if (n + len + 1 > buf.count && !buf.reset((n + len + 1) * 2)) {
            ok = false;
            return;
        }
        memcpy(buf.ptr + n, s, (size_t)len);
        n += len;
        buf.ptr[n] = 0;
    }
};

// Writes the journal beside its place and renames it there.
bool writeJournal(const char* path, bool committed, _List<sFlight>& flights,
                  cFasterTreeList<cStringKey, sExistingFileItem>* obsolete, cInstallFS* fs) {
    _guardchar<char> tmp, folder;
    if (!path || !catStr(path, ".new", tmp) || !folder.set(path)) return false;
    char* slash = strrchr(folder.ptr, '/');
    if (!slash || slash == folder.ptr) return false;
    *slash = 0;
    if (!makeFolderChain(folder.ptr, fs)) return false;
    sText t;
    t.add(kJournalMagic);
    t.add(committed ? "\nstate committed\n" : "\nstate pending\n");
    long long count = 0;
    for (auto* it = flights.head; it; it = it->next, count++) {
        t.add(it->value.existed ? "R " : "N ");
        t.add(it->value.file->target.ptr);
        t.add("\n");
    }
    for (auto* e = obsolete ? obsolete->first() : nullptr; e; e = obsolete->next(e)) {
        if (e->value().kept) continue;
        t.add("O ");
        t.add(e->value().path.ptr);
        t.add("\n");
        count++;
    }
    char tail[40];
    _sprintf_s(tail, sizeof tail, "end %lld\n", count);
    t.add(tail);
    if (!t.ok) return false;
    // The ".new" name lies in the program's own folder: a leftover is ours.
    if (objKind(tmp.ptr) == 1) fs->unlink(tmp.ptr);
    int fd = fs->createExclusive(tmp.ptr, 0600);
    if (fd < 0) return false;
    bool ok = fs->write(fd, t.buf.ptr, t.n);
    ok = fs->close(fd) && ok;
    if (ok && fs->rename(tmp.ptr, path)) return true;
    fs->unlink(tmp.ptr);
    return false;
}

// Parses a journal's text (size bytes, a 0 after them): its state and entries. False
// for anything but the exact form.
bool parseJournal(char* text, long long size, bool& committed, _List<sJournalEntry>& out) {
    if (size <= 0 || (long long)strlen(text) != size || text[size - 1] != '\n') return false;
    long long line = 0, entries = 0;
    bool ended = false;
    for (char* p = text; *p;) {
        char* e = strchr(p, '\n');
        *e = 0;
        if (ended) return false;
        if (line == 0) {
            if (strcmp(p, kJournalMagic) != 0) return false;
        } else if (line == 1) {
            if (strcmp(p, "state committed") == 0)
                committed = true;
            else if (strcmp(p, "state pending") == 0)
                committed = false;
            else
                return false;
        } else if ((p[0] == 'R' || p[0] == 'N' || p[0] == 'O') && p[1] == ' ' && line >= 2) {
            // Files to install and obsolete files of the earlier version: two packages' worth.
            if (!isPlainAbsPath(p + 2) || entries >= 2 * cSoftPkgScenario::kMaxFileRecords) return false;
            sJournalEntry* j = out.add();
            if (!j || !j->path.set(p + 2)) return false;
            j->kind = p[0];
            j->existed = p[0] == 'R';
            entries++;
        } else if (strncmp(p, "end ", 4) == 0 && line >= 2) {
            char tail[32];
            _sprintf_s(tail, sizeof tail, "end %lld", entries);
            if (strcmp(p, tail) != 0) return false;
            ended = true;
        } else {
            return false;
        }
        line++;
        p = e + 1;
    }
    return ended;
}

bool readJournal(const char* path, bool& committed, _List<sJournalEntry>& out) {
    cFileIO f;
    if (!f.open(path, cFileIO::eRead)) return false;
    unsigned long long size = f.size();
    if (size == 0 || size > (unsigned long long)kMaxJournalBytes) return false;
    _typebuf<char> buf;
    if (!buf.set((long long)size + 1) || !f.readf(buf.ptr, (long long)size)) return false;
    buf.ptr[size] = 0;
    return parseJournal(buf.ptr, (long long)size, committed, out);
}

bool suffixed(const char* path, const char* suffix, _guardchar<char>& out) { return catStr(path, suffix, out); }

const char* instpString(int index, const char* fallback) {
    const char* s = cCiomLangData::string("pkgm::instp", index);
    return s && *s ? s : fallback;
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

class cInstallRun {
public:
    cInstallRun(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker, cInstallFS* fs)
        : ctx(ctx), progress(progress), asker(asker), fs(fs) {}

    unsigned int run();

private:
    unsigned int fail(unsigned int result, const char* path) {
        ctx.result = result;
        ctx.messagePath.set(path ? path : "");
        return 1;
    }
    bool stage(int n) { return progress ? progress->notifyStage(n) : true; }
    bool prepare();
    unsigned int unpack(sFlight& f);
    bool backup();
    bool apply();
    void removeTemps();
    bool restoreBackups();
    void shortcuts();
    void managerCopy();
    void registration();
    void cleanup();

    sPkgInstallContext& ctx;
    cProgressNotifyTarget* progress;
    cJobAsker* asker;
    cInstallFS* fs;
    _List<sFlight> flights;
    int fileCount = 0;
    _guardchar<char> manager, managerShortcut;
};

bool cInstallRun::prepare() {
    if (ctx.journalPath.empty() && !defaultJournalPath(ctx.codeName.ptr, ctx.journalPath))
        return fail(eIJCannotRecover, ""), false;
    if (!recoverInterrupted(ctx.journalPath.ptr, fs)) return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        cSoftPkgScenario::sCopiedFile& c = it->value;
        if (!isPlainAbsPath(c.target.ptr)) return fail(eIJBadObject, c.target.ptr), false;
        if (c.others == kUnchangedFile) continue;
        sFlight* f = flights.add();
        if (!f || !suffixed(c.target.ptr, ".tmp", f->tmp) || !suffixed(c.target.ptr, ".bkp", f->bkp))
            return fail(eIJCannotRecover, c.target.ptr), false;
        f->file = &c;
        // Names the journal did not give us belong to someone else: never taken.
        if (objKind(f->tmp.ptr) != 0) return fail(eIJBadObject, f->tmp.ptr), false;
        if (objKind(f->bkp.ptr) != 0) return fail(eIJBadObject, f->bkp.ptr), false;
        int kind = objKind(c.target.ptr);
        if (kind != 0 && kind != 1) return fail(eIJBadObject, c.target.ptr), false;
        f->existed = kind == 1;
        fileCount++;
    }
    if (!writeJournal(ctx.journalPath.ptr, false, flights, nullptr, fs))
        return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    return true;
}

unsigned int cInstallRun::unpack(sFlight& f) {
    cSoftPkgScenario::sCopiedFile& c = *f.file;
    _guardchar<char> folder;
    if (!folder.set(f.tmp.ptr)) return eIJCannotMakeFolder;
    char* slash = strrchr(folder.ptr, '/');
    if (!slash) return eIJCannotMakeFolder;
    *(slash == folder.ptr ? slash + 1 : slash) = 0;
    if (!makeFolderChain(folder.ptr, fs)) return eIJCannotMakeFolder;

    unsigned long long size = ctx.payload().sizeOf((int)c.item);
    unsigned char want[32];
    if (!ctx.digest((int)c.item, want)) return eIJNoItem;
    // An empty file needs no item stream: its digest is still checked below.
    cPtr<cFileIOTarget> item(size ? ctx.file((int)c.item) : nullptr);
    if (size && !item) return eIJNoItem;
    int fd = fs->createExclusive(f.tmp.ptr, 0666);
    if (fd < 0) return eIJCannotCreate;
    f.tmpMade = true;
    _typebuf<unsigned char> buf;
    if (!buf.set(kCopyChunk)) {
        fs->close(fd);
        return eIJCannotWrite;
    }
    sha256_context sha;
    sha256_starts(&sha);
    unsigned int r = eIJOk;
    for (unsigned long long done = 0; done < size && r == eIJOk;) {
        long long n = size - done > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(size - done);
        if (!item->readf(buf.ptr, n)) {
            r = eIJCannotRead;
        } else {
            sha256_update(&sha, buf.ptr, (size_t)n);
            if (!fs->write(fd, buf.ptr, n))
                r = eIJCannotWrite;
            else if (done += (unsigned long long)n, progress && !progress->notifyProgress(done * 100.0 / size))
                r = eIJStopped;
        }
    }
    unsigned char got[32];
    sha256_finish(&sha, got);
    if (r == eIJOk && memcmp(got, want, 32) != 0) r = eIJCannotRead;
    if (!fs->close(fd) && r == eIJOk) r = eIJCannotWrite;
    return r;
}

void cInstallRun::removeTemps() {
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.tmpMade && objKind(it->value.tmp.ptr) == 1 && fs->unlink(it->value.tmp.ptr))
            it->value.tmpMade = false;
}

// Puts every backup made so far back and removes new files that had none; true when
// everything is as before the run.
bool cInstallRun::restoreBackups() {
    bool ok = true;
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        if (f.backedUp) {
            if (fs->rename(f.bkp.ptr, f.file->target.ptr)) {
                f.backedUp = f.applied = false;
            } else {
                ok = false;
            }
        } else if (f.applied) {
            if (fs->unlink(f.file->target.ptr))
                f.applied = false;
            else
                ok = false;
        }
    }
    removeTemps();
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.tmpMade) ok = false;
    return ok;
}

bool cInstallRun::backup() {
    // Every target's kind first, so that nothing moves when one of them is wrong.
    for (auto* it = flights.head; it; it = it->next) {
        int kind = objKind(it->value.file->target.ptr);
        if (kind != 0 && kind != 1) {
            fail(eIJBadObject, it->value.file->target.ptr);
            if (restoreBackups()) fs->unlink(ctx.journalPath.ptr);
            return false;
        }
    }
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        while (objKind(f.file->target.ptr) == 1) {
            if (moveFileClean(f.file->target.ptr, f.bkp.ptr, fs)) {
                f.backedUp = true;
                break;
            }
            if (!asker || !asker->askRetry(f.file->target.ptr, false)) {
                fail(eIJGaveUp, f.bkp.ptr);
                // Backups made so far go back; the journal stays when that fails.
                if (restoreBackups()) fs->unlink(ctx.journalPath.ptr);
                return false;
            }
        }
    }
    return true;
}

bool cInstallRun::apply() {
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        if (!fs->rename(f.tmp.ptr, f.file->target.ptr)) {
            fail(eIJCannotApply, f.file->target.ptr);
            // Rolled back at once; the journal stays as a safety net when that fails.
            if (restoreBackups()) fs->unlink(ctx.journalPath.ptr);
            return false;
        }
        f.tmpMade = false;
        f.applied = true;
        const cSoftPkgScenario::sCopiedFile& c = *f.file;
        if (!(c.owner == 8 && c.group == 8 && c.others == 8))
            cFolderContents::setPermissions(c.target.ptr, c.owner & 7, c.group & 7, c.others & 7);
    }
    return true;
}

void cInstallRun::shortcuts() {
    _List<cSoftPkgScenario::sMenuItemDef> items;
    ctx.getMenuItems(items);
    const char* group = ctx.getStr("group");
    for (auto* it = items.head; it; it = it->next) {
        const cSoftPkgScenario::sMenuItemDef& m = it->value;
        _guardchar<char> path;
        if (!createSysShortcut(path, m.name.ptr, group && *group ? group : "Utility;", m.target.ptr, m.icon.ptr,
                               m.comment.ptr, m.elevated, m.args.ptr, ctx.codeName.ptr)) {
            if (!path.empty()) rmFileClean(path.ptr, nullptr, fs);
            continue;
        }
        _guardchar<char>* old = ctx.existingShortcuts.find(pathKey(path.ptr));
        if (old) old->clear();
        _guardchar<char>* added = ctx.newShortcuts.add();
        if (added) added->attach(path.dettach());
    }
    for (auto* e = ctx.existingShortcuts.first(); e; e = ctx.existingShortcuts.next(e))
        if (!e->value().empty()) rmFileClean(e->value().ptr, nullptr, fs);
}

void cInstallRun::managerCopy() {
    if (!getAppManagerPath(manager)) return;
    unsigned long long v = objKind(manager.ptr) == 1 ? getVerID(manager.ptr) : kUnknownVerID;
    bool refresh = v == kUnknownVerID || v < getCurrVerID();
    _guardchar<char> tmp, folder;
    if (refresh && !ctx.executablePath.empty() && catStr(manager.ptr, ".tmp", tmp) && folder.set(manager.ptr)) {
        *strrchr(folder.ptr, '/') = 0;
        int fd = -1;
        if (makeFolderChain(folder.ptr, fs)) {
            // The manager's folder is the program's own: a leftover temporary file is ours.
            if (objKind(tmp.ptr) == 1) fs->unlink(tmp.ptr);
            fd = fs->createExclusive(tmp.ptr, 0755);
        }
        if (fd >= 0) {
            cFdSink sink(fs, fd);
            bool ok = saveSoftMgr(ctx.executablePath.ptr, &sink, folder.ptr) && !sink.failed;
            ok = fs->close(fd) && ok;
            if (!ok) {
                fs->unlink(tmp.ptr);
            } else {
                while (objKind(manager.ptr) != 0 && !fs->unlink(manager.ptr))
                    if (!asker || !asker->askRetry(manager.ptr, false)) break;
                if (objKind(manager.ptr) == 0 && fs->rename(tmp.ptr, manager.ptr))
                    cFolderContents::setPermissions(manager.ptr, 7, 5, 5);
            }
        }
    }
    if (objKind(manager.ptr) != 1) return;
    _guardchar<char> old;
    if (ctx.store && ctx.store->getParamStr(kRegInstallerShortcut, old) && !old.empty())
        rmFileClean(old.ptr, nullptr, fs);
    // The entry shows the icon of the manager's own bundle (".../Contents/Resources").
    _guardchar<char> icon, contents;
    if (contents.set(manager.ptr)) {
        for (int i = 0; i < 2; i++)  // ".../Contents/MacOS/SoftManager" to ".../Contents"
            if (char* slash = strrchr(contents.ptr, '/')) *slash = 0;
        if (!catStr(contents.ptr, "/Resources/icon.icns", icon) || objKind(icon.ptr) != 1) icon.clear();
    }
    createSysShortcut(managerShortcut, instpString(5, "Software Packages management"),
                      "PackageManager;System;Settings;", manager.ptr, icon.ptr, nullptr, true, nullptr,
                      "qmx-softmgr");
}

void cInstallRun::registration() {
    cApplicationConfig* store = ctx.store;
    _guardchar<char> section;
    if (!store || !regSectionName(ctx.registryName.ptr, section)) return;
    sPkgRegistryRecord record;
    bool ok = fillRegistryRecord(ctx, record);
    for (auto* it = ctx.copiedFiles.head; ok && it; it = it->next) {
        _guardchar<char>* f = record.files.add();
        ok = f && f->set(it->value.target.ptr);
    }
    for (auto* it = ctx.newShortcuts.head; ok && it; it = it->next) {
        _guardchar<char>* s = record.shortcuts.add();
        ok = s && s->set(it->value.ptr);
    }
    store->removeSection(section.ptr);
    ok = ok && ctxToConfig(record, store, section.ptr);
    if (ok && !managerShortcut.empty()) ok = store->setParamStr(kRegInstallerShortcut, managerShortcut.ptr);
    if (ok && !manager.empty()) ok = store->setParamStr(kRegInstallerApp, manager.ptr);
    if (!ok || !store->saveConfig()) {
        store->discardChanges();
        ctx.result = eIJNotSaved;
        return;
    }
    if (objKind(manager.ptr) == 1) OSRegisterPackage(manager.ptr, ctx, false);
}

void cInstallRun::cleanup() {
    bool clean = true;
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.backedUp && !fs->unlink(it->value.bkp.ptr)) clean = false;
    // Files of the earlier version that this one no longer has; folders they leave empty
    // go too, but never the installation folder or anything outside it.
    const char* folder = ctx.getStr("pgm");
    for (auto* e = ctx.existingFiles.first(); e; e = ctx.existingFiles.next(e))
        if (!e->value().kept && !rmFileClean(e->value().path.ptr, folder, fs)) clean = false;
    // A backup or obsolete file that could not be removed stays named in the journal
    // (committed), so the next run removes it instead of taking a backup for the user's.
    if (clean) fs->unlink(ctx.journalPath.ptr);
}

unsigned int cInstallRun::run() {
    ctx.result = eIJOk;
    ctx.messagePath.clear();
    stage(0);
    if (!prepare()) return 1;
    int n = 0;
    for (auto* it = flights.head; it; it = it->next) {
        stage(1 + n++);
        unsigned int r = unpack(it->value);
        if (r != eIJOk) {
            fail(r, it->value.tmp.ptr);
            stage(fileCount + 3);
            // The journal goes only when every temporary file did: one left behind is
            // still named in it, so the next run removes it instead of refusing it.
            if (restoreBackups()) fs->unlink(ctx.journalPath.ptr);
            return 1;
        }
    }
    stage(fileCount + 1);
    if (!backup()) return 1;
    stage(fileCount + 2);
    if (!apply()) return 1;
    // Every new file is in place: from here an interruption keeps them.
    writeJournal(ctx.journalPath.ptr, true, flights, &ctx.existingFiles, fs);
    ctx.result = eIJOk;
    shortcuts();
    managerCopy();
    registration();
    stage(fileCount + 3);
    cleanup();
    return 0;
}

}  // namespace

bool parseJournalText(const char* data, long long size, bool& committed, long long& entries) {
    entries = 0;
    if (!data || size <= 0 || size > kMaxJournalBytes) return false;
    _typebuf<char> buf;
    if (!buf.set(size + 1)) return false;
    memcpy(buf.ptr, data, (size_t)size);
    buf.ptr[size] = 0;
    _List<sJournalEntry> list;
    if (!parseJournal(buf.ptr, size, committed, list)) return false;
    entries = list.count();
    return true;
}

int installStageCount(sPkgInstallContext& ctx) {
    int n = 0;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next)
        if (it->value.others != kUnchangedFile) n++;
    return 4 + n;
}

bool recoverInterrupted(const char* journalPath, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    int kind = objKind(journalPath);
    if (kind == 0) return true;
    bool committed = false;
    _List<sJournalEntry> entries;
    if (kind != 1 || !readJournal(journalPath, committed, entries)) return false;
    bool ok = true;
    for (auto* it = entries.head; it; it = it->next) {
        const char* target = it->value.path.ptr;
        if (it->value.kind == 'O') {
            // Removed once the new files are in place; kept while they are not.
            if (committed && objKind(target) == 1 && !fs->unlink(target)) ok = false;
            continue;
        }
        _guardchar<char> tmp, bkp;
        if (!catStr(target, ".tmp", tmp) || !catStr(target, ".bkp", bkp)) return false;
        if (objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr)) ok = false;
        if (committed) {
            if (objKind(bkp.ptr) == 1 && !fs->unlink(bkp.ptr)) ok = false;
            continue;
        }
        int t = objKind(target);
        if (objKind(bkp.ptr) == 1) {
            // The target is the new file (or gone): the backup is the earlier one.
            if (t == 1 && !fs->unlink(target))
                ok = false;
            else if (t != 0 && t != 1)
                ok = false;
            else if (!fs->rename(bkp.ptr, target))
                ok = false;
        } else if (!it->value.existed && t == 1 && !fs->unlink(target)) {
            ok = false;
        }
    }
    return ok && fs->unlink(journalPath);
}

unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs) {
    cInstallRun run(ctx, progress, asker, fs ? fs : cInstallFS::plain());
    return run.run();
}
