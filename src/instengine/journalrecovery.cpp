// Recovery across packages: a package's journal checked and resolved or set aside (the
// other packages' journals naming its files first), and every journal at the manager's start.
#include "instengine/journalrecovery.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installctx.h"
#include "instengine/journal.h"
#include "instengine/journalformat.h"
#include "instengine/journalscope.h"
#include "instengine/packagelocks.h"
#include "instengine/setaside.h"

namespace {

// The code names of the packages with a journal in `folder` (open as `fd`), in the
// order they are listed; set-aside journals are none. False when it could not be listed
// whole.
bool listJournals(int fd, _List<_guardchar<char> >& codes) {
    int listing = dup(fd);
    DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!d && listing >= 0) close(listing);
    if (!d) return false;
    size_t n = strlen(kJournalPrefix), aside = strlen(kSetAsideSuffix);
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) {
            int err = errno;
            closedir(d);
            return err == 0;
        }
        if (strncmp(e->d_name, kJournalPrefix, n) != 0) continue;
        // A save that never got in place goes with its package's recovery.
        _guardchar<char> code;
        size_t len = strlen(e->d_name), saving = strlen(kJournalSaving);
        bool unsaved = len > n + saving && strcmp(e->d_name + len - saving, kJournalSaving) == 0;
        if (len > n + aside && strcmp(e->d_name + len - aside, kSetAsideSuffix) == 0) continue;
        if (!code.set(e->d_name + n, (long long)(len - n - (unsaved ? saving : 0)))) {
            closedir(d);
            return false;
        }
        if (cSoftPkgScenario::isSafeCodeName(code.ptr) && !addUnique(codes, code.ptr)) {
            closedir(d);
            return false;
        }
    }
}

// Whether a journal names one of `targets` (any, without them).
bool namesTarget(const sJournal& j, const cFasterTreeList<cStringKey, int>* targets) {
    if (!targets) return true;
    for (long long i = 0; i < j.count(); i++)
        if (isFileLine(j.kind(i)) && targets->findEntry(pathKey(j.path(i)))) return true;
    for (const char* f : j.record.files)
        if (targets->findEntry(pathKey(f))) return true;
    return false;
}

// A journal as a sweep read it. A journal is replaced whole, never changed in place: while
// the file read still stands under its name (the same object, size and times), what was
// read holds, and a sweep reads each journal once however often it comes to it (a large
// one is neither read again nor held twice).
struct sJournalRead {
    _guardchar<char> path;
    struct stat stamp = {};
    bool stamped = false;
    eJournalRead read = eJournalUnreadable;
    int error = 0;
    cPtr<sJournal> journal;  // read whole
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The journals read during one sweep (the sweeps it starts on the way included).
class cJournalReads {
public:
    // The journal at `path`, read unless this sweep read the file that stands there now;
    // null without memory.
    sJournalRead* at(const char* path) {
        struct stat st;
        bool stamped = lstat(path, &st) == 0;
        sJournalRead* r = nullptr;
        for (auto* it = myReads.head; it && !r; it = it->next)
            if (it->value.path.ptr && strcmp(it->value.path.ptr, path) == 0) r = &it->value;
        if (r && r->stamped && stamped && sameFile(r->stamp, st)) return r;
        if (!r && (!(r = myReads.add()) || !r->path.set(path))) return nullptr;
        r->journal = nullptr;  // what was read before goes first
        r->journal = new (std::nothrow) sJournal;
        r->stamped = stamped;
        if (stamped) r->stamp = st;
        r->error = ENOMEM;
        r->read = r->journal ? readJournal(path, *r->journal, &r->error) : eJournalUnreadable;
        if (r->read != eJournalReadWhole) r->journal = nullptr;
        return r;
    }
    // What was read is spent (the journal resolved, or its record changed on the way): a
    // later visit reads the file again.
    void spend(sJournalRead* r) {
        r->journal = nullptr;
        r->stamped = false;
    }

private:
    _List<sJournalRead> myReads;
};

// Which of several packages' journals resolveJournals takes, and how.
enum eSweep {
    // Every one, going on past those that stay (the manager's start: the store folder is
    // held against runs, so none is a live run's).
    eSweepAll,
    // Those naming one of the targets, each under its package's run lock (a live run's
    // blocks); it stops at the first that stays (before a run writes its own journal).
    eSweepNaming,
    // Only the pending ones among those (before a committed run's backups go).
    eSweepPendingNaming,
};

// Where a sweep's findings go, each list when given: the packages whose journal stays
// (a run's sweep stops at the first), the journals set aside, those that could not be
// read.
struct sSweepFindings {
    _List<_guardchar<char> >* unfinished = nullptr;
    _List<sSetAsideJournal>* setAside = nullptr;
    _List<sUnreadJournal>* unreadable = nullptr;
};

bool resolveRead(const char* journalPath, cInstallFS* fs, _List<_guardchar<char> >* made, cApplicationConfig* store,
                 sRecoveryReport& rep, cJournalReads& reads);

// Resolves the journals in `folder` of the packages `codes`, as `sweep` says: the pending
// ones first, then the committed ones. One that cannot be read stays whatever it may name.
// False when one of them stays.
bool resolveJournals(const char* folder, const _List<_guardchar<char> >& codes, eSweep sweep,
                     const cFasterTreeList<cStringKey, int>* targets, cApplicationConfig* store, cInstallFS* fs,
                     const sSweepFindings& found, cJournalReads& reads) {
    const bool lockEach = sweep != eSweepAll, pendingOnly = sweep == eSweepPendingNaming;
    bool ok = true;
    _List<_guardchar<char> > unread;  // stays for the whole run, even if a later read would pass
    for (int pass = 0; pass < 2; pass++) {
        for (auto* it = codes.head; it; it = it->next) {
            const char* code = it->value.ptr;
            _guardchar<char> name, path, fresh;
            bool skip = false;
            for (auto* u = unread.head; u && !skip; u = u->next) skip = strcmp(u->value.ptr, code) == 0;
            if (skip || !concatText(kJournalPrefix, code, name) || !joinPath(folder, name.ptr, path) ||
                !concatText(path.ptr, kJournalSaving, fresh))
                continue;
            cPackageRunLock lock;
            bool live = lockEach && !lock.take(path.ptr, code);
            eObjKind kind = objKind(path.ptr);
            if (kind == eObjNone && objKind(fresh.ptr) == eObjNone) continue;  // resolved since
            sJournalRead* r = kind == eObjFile ? reads.at(path.ptr) : nullptr;
            eJournalRead read = kind != eObjFile ? eJournalDamaged : r ? r->read : eJournalUnreadable;
            const sJournal* j = read == eJournalReadWhole ? r->journal.ptr : nullptr;
            sRecoveryReport rep;
            if (read == eJournalUnreadable) {
                rep.outcome = sRecoveryReport::eUnreadable;
                rep.error = r ? r->error : ENOMEM;
            } else if (j ? !namesTarget(*j, targets) || j->committed != (pass == 1) || (j->committed && pendingOnly)
                         : pass == 1 || live) {  // a damaged one goes first; a live run's own save
                continue;
            } else if (!live && resolveRead(path.ptr, fs, nullptr, store, rep, reads)) {
                sSetAsideJournal* a =
                    rep.outcome == sRecoveryReport::eRefused && found.setAside ? found.setAside->add() : nullptr;
                if (a) a->code.set(code), a->path.set(rep.setAside.ptr);
                continue;
            }
            if (rep.outcome == sRecoveryReport::eUnreadable) {
                addUnique(unread, code);
                sUnreadJournal* u = found.unreadable ? found.unreadable->add() : nullptr;
                if (u) u->code.set(code), u->path.set(path.ptr), u->error = rep.error;
            }
            ok = false;
            if (found.unfinished) addUnique(*found.unfinished, code);
            if (sweep != eSweepAll) return false;
        }
    }
    return ok;
}

}  // namespace

bool recoverAllInterrupted(cApplicationConfig* store, cInstallFS* fs, _List<_guardchar<char> >* unfinished,
                           _List<sSetAsideJournal>* setAside, _List<sUnreadJournal>* unreadable) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> folder;
    if (!storeFolder(store, folder)) return false;
    // Held alone: a run holds it shared for its whole length, and its journal is its own.
    cStoreFolderLock alone;
    if (!alone.takeAlone(folder.ptr)) return alone.missing();
    _List<_guardchar<char> > codes;
    if (!listJournals(alone.fd(), codes)) return false;
    sSweepFindings found;
    found.unfinished = unfinished;
    found.setAside = setAside;
    found.unreadable = unreadable;
    cJournalReads reads;
    return resolveJournals(folder.ptr, codes, eSweepAll, nullptr, store, fs, found, reads);
}

bool recoverOthersNaming(const char* journalPath, const _List<_guardchar<char> >& codes,
                         const cFasterTreeList<cStringKey, int>& targets, cApplicationConfig* store, cInstallFS* fs,
                         _guardchar<char>* blocking) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> folder;
    _List<_guardchar<char> > stays;
    sSweepFindings found;
    found.unfinished = &stays;
    cJournalReads reads;
    if (!parentFolder(journalPath, folder)) return false;
    if (resolveJournals(folder.ptr, codes, eSweepNaming, &targets, store, fs, found, reads)) return true;
    if (blocking && blocking->empty() && !stays.empty()) blocking->set(stays.head->value.ptr);
    return false;
}

bool otherJournals(const char* journalPath, const char* code, _List<_guardchar<char> >& codes) {
    _guardchar<char> folder;
    if (!parentFolder(journalPath, folder)) return false;
    int fd = open(folder.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return objKind(folder.ptr) == eObjNone;
    _List<_guardchar<char> > all;
    bool listed = listJournals(fd, all);
    close(fd);
    if (!listed) return false;
    for (auto* it = all.head; it; it = it->next)
        if (!code || strcmp(it->value.ptr, code) != 0) addUnique(codes, it->value.ptr);
    return true;
}

namespace {

// recoverInterrupted, with what this sweep read.
bool resolveRead(const char* journalPath, cInstallFS* fs, _List<_guardchar<char> >* made, cApplicationConfig* store,
                 sRecoveryReport& rep, cJournalReads& reads) {
    rep.outcome = sRecoveryReport::eNoJournal;
    // Refused: set aside, and the run goes on as after a crash without a journal (nothing
    // it names is taken, nothing is made for it).
    auto refuse = [&](const char* path) {
        rep.outcome = sRecoveryReport::eRefused;
        rep.path.set(path ? path : "");
        // Without the store no record vouches for anything: left for a run with it.
        if (!store) return false;
        if (setAsideJournal(journalPath, fs, rep.setAside)) return true;
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    };
    // Read before anything is done: one that cannot be read stays, and so does the rest.
    eObjKind kind = objKind(journalPath);
    sJournalRead* r = kind == eObjFile ? reads.at(journalPath) : nullptr;
    eJournalRead read = kind != eObjFile ? eJournalDamaged : r ? r->read : eJournalUnreadable;
    if (kind != eObjNone && read == eJournalUnreadable) {
        rep.outcome = sRecoveryReport::eUnreadable;
        rep.error = r ? r->error : ENOMEM;
        rep.path.set(journalPath);
        return false;
    }
    // A journal that never got in place (the run ended while saving it) says nothing.
    _guardchar<char> fresh;
    if (!concatText(journalPath, kJournalSaving, fresh)) return refuse(journalPath);
    if (objKind(fresh.ptr) == eObjFile && !fs->unlink(fresh.ptr)) {
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    }
    if (kind == eObjNone) return true;
    if (read != eJournalReadWhole) return refuse(journalPath);
    sJournal& j = *r->journal;
    // A journal is its package's: named after it, and a registration is for it.
    const char* name = strrchr(journalPath, '/');
    size_t prefix = strlen(kJournalPrefix);
    const char* code = name && strncmp(name + 1, kJournalPrefix, prefix) == 0 ? name + 1 + prefix : nullptr;
    if (j.registration && !(code && strcmp(code, j.code.ptr) == 0)) return refuse(journalPath);
    _guardchar<char> outside;
    if (!journalConfined(j, code ? code : j.code.ptr ? j.code.ptr : "", store, outside)) return refuse(outside.ptr);
    // A committed run removes its backups: another package's pending run that named the
    // same files (and may have moved one aside under that name) is undone first.
    _List<_guardchar<char> > others;
    if (j.committed && !otherJournals(journalPath, code, others)) {
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    }
    if (!others.empty()) {
        cFasterTreeList<cStringKey, int> targets;
        for (long long i = 0; i < j.count(); i++)
            if (isFileLine(j.kind(i)) && !targets.find(pathKey(j.path(i)))) targets.insert_new(pathKey(j.path(i)));
        _guardchar<char> folder;
        if (!parentFolder(journalPath, folder) ||
            !resolveJournals(folder.ptr, others, eSweepPendingNaming, &targets, store, fs, sSweepFindings(), reads)) {
            rep.outcome = sRecoveryReport::eFailed;
            return false;
        }
    }
    // Resolving it settles a journal set aside: whether one was in force is asked first.
    const bool removal = j.committed && j.registration == eUnregister;
    if (removal) rep.asideWasInForce = setAsideInForce(journalPath, store, j.code.ptr);
    sJournalOutcome out;
    if (!resolveJournal(journalPath, j, fs, made, store, out)) {
        // Finishing a committed journal changes its record (the folders that still stand).
        if (j.committed) reads.spend(r);
        rep.outcome = sRecoveryReport::eFailed;
        rep.path.set(out.path.ptr ? out.path.ptr : "");
        return false;
    }
    rep.outcome = j.committed ? sRecoveryReport::eFinished : sRecoveryReport::eUndone;
    rep.registration = j.committed ? j.registration : eNoRegistration;
    rep.version = j.record.ver;
    if (removal) rep.removal = r->journal.dettach();
    reads.spend(r);
    return true;
}

}  // namespace

bool recoverInterrupted(const char* journalPath, cInstallFS* fs, _List<_guardchar<char> >* made,
                        cApplicationConfig* store, sRecoveryReport* report) {
    sRecoveryReport scratch;
    cJournalReads reads;
    return resolveRead(journalPath, fs ? fs : cInstallFS::plain(), made, store, report ? *report : scratch, reads);
}
