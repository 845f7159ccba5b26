// The installation job: recovery from the journal, unpacking beside the targets, backups,
// moving into place with an immediate rollback on failure, shortcuts, the manager copy,
// registration and cleanup.
#include "softmgrapp/installjob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>

#include "base/folders.h"
#include "base/job.h"
#include "base/sync.h"
#include "base/strings.h"
#include "hash/sha256.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/installinit.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/softmgrcopy.h"
#include "softmgrapp/version.h"
#include "ui/lang.h"

namespace {

const long long kCopyChunk = 262144;
// Files from this size on are handed to the disk as soon as they are written.
const unsigned long long kEarlyWriteback = 1ULL << 20;
// Unpacking goes on several threads when each gets at least this many bytes.
const unsigned long long kMinShare = 16ULL << 20;
const int kMaxUnpackers = 8;
// A file from this size on is unpacked in pieces on all the workers at once.
const unsigned long long kLargeFile = 64ULL << 20;
const char kJournalMagic[] = "QMXINFLIGHT 2";
// Version 1 had no folder lines ("M", "D"); it is still read.
const char kJournalMagicV1[] = "QMXINFLIGHT 1";
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
    char kind = 0;  // 'R', 'N', 'O' (an obsolete file of the earlier version), 'M' or 'D'
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

}  // namespace

void cJournalWriter::append(const char* s, long long len) {
    if (!myOk) return;
    if (myLen + len + 1 > myBuf.count && !myBuf.reset((myLen + len + 1) * 2)) {
        myOk = false;
        return;
    }
    memcpy(myBuf.ptr + myLen, s, (size_t)len);
    myLen += len;
}

void cJournalWriter::add(char kind, const char* path) {
    char head[2] = {kind, ' '};
    append(head, 2);
    append(path ? path : "", path ? (long long)strlen(path) : 0);
    append("\n", 1);
    myCount++;
}

int cJournalWriter::save(const char* path, bool committed, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> tmp, folder;
    if (!path || !catStr(path, ".new", tmp) || !parentFolder(path, folder)) return 0;
    if (!makeFolderChain(folder.ptr, fs)) return 0;
    sText t;
    t.add(kJournalMagic);
    t.add(committed ? "\nstate committed\n" : "\nstate pending\n");
    if (myLen) t.add(myBuf.ptr, myLen);
    char tail[40];
    _sprintf_s(tail, sizeof tail, "end %lld\n", myCount);
    t.add(tail);
    if (!t.ok || !myOk) return 0;
    // The ".new" name lies in the program's own folder: a leftover is ours.
    if (objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr)) return 0;
    int fd = fs->createExclusive(tmp.ptr, 0600);
    if (fd < 0) return 0;
    bool ok = fs->write(fd, t.buf.ptr, t.n) && fs->sync(fd);
    ok = fs->close(fd) && ok;
    if (!ok || !fs->rename(tmp.ptr, path)) {
        fs->unlink(tmp.ptr);
        return 0;
    }
    // In place: what it says holds from here, durable once its folder is flushed.
    return fs->syncFolder(folder.ptr) ? 1 : 2;
}

namespace {

// Parses a journal's text (size bytes, a 0 after them): its state and entries. False
// for anything but the exact form.
bool parseJournal(char* text, long long size, bool& committed, _List<sJournalEntry>& out) {
    if (size <= 0 || (long long)strlen(text) != size || text[size - 1] != '\n') return false;
    long long line = 0, entries = 0;
    bool ended = false, v1 = false;
    for (char* p = text; *p;) {
        char* e = strchr(p, '\n');
        *e = 0;
        if (ended) return false;
        if (line == 0) {
            if (strcmp(p, kJournalMagicV1) == 0)
                v1 = true;
            else if (strcmp(p, kJournalMagic) != 0)
                return false;
        } else if (line == 1) {
            if (strcmp(p, "state committed") == 0)
                committed = true;
            else if (strcmp(p, "state pending") == 0)
                committed = false;
            else
                return false;
        } else if (strchr(v1 ? "RNO" : "RNOMD", p[0]) && p[0] && p[1] == ' ' && line >= 2) {
            // Files to install, obsolete files of the earlier version and their folders:
            // two packages' worth.
            if (!isPlainAbsPath(p + 2) || entries >= 4 * cSoftPkgScenario::kMaxFileRecords) return false;
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

// The permission bits a file record asks for, or -1 when it leaves them to the umask.
int recordMode(const cSoftPkgScenario::sCopiedFile& c) {
    if (c.owner == 8 && c.group == 8 && c.others == 8) return -1;
    return ((c.owner & 7) * 8 + (c.group & 7)) * 8 + (c.others & 7);
}

// Removes `folder` and then each parent while they are empty folders strictly below
// `stopAbove` (the folder itself only when it lies below it too).
void rmEmptyFolders(const char* folder, const char* stopAbove, cInstallFS* fs) {
    _guardchar<char> p;
    if (!stopAbove || !p.set(folder)) return;
    while (isBelow(p.ptr, stopAbove) && objKind(p.ptr) == 2 && fs->rmdir(p.ptr)) {
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return;
        *cut = 0;
    }
}

// The deepest of `roots` that `path` lies below, or null.
const char* rootOf(const _List<_guardchar<char> >& roots, const char* path) {
    const char* best = nullptr;
    for (auto* it = roots.head; it; it = it->next)
        if (isBelow(path, it->value.ptr) && (!best || strlen(it->value.ptr) > strlen(best))) best = it->value.ptr;
    return best;
}

bool addUnique(_List<_guardchar<char> >& list, const char* text) {
    for (auto* it = list.head; it; it = it->next)
        if (strcmp(it->value.ptr, text) == 0) return true;
    _guardchar<char>* e = list.add();
    return e && e->set(text);
}

class cInstallRun {
public:
    cInstallRun(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker, cInstallFS* fs)
        : ctx(ctx), progress(progress), asker(asker), fs(fs) {}
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
    bool unpackAll();
    void unpackRun(_List<sFlight>::sItem* from, long long count, bool report);
    unsigned int unpack(sFlight& f, bool report, bool note);
    bool unpackLarge(sFlight& f, int workers);
    void writePiece(sFlight& f, int fd, unsigned long long from, unsigned long long to,
                    std::atomic<unsigned long long>& done, cEvent& wake);
    bool noteFileSystem(int fd, const char* path);
    bool flushFileSystems();
    void closeFileSystems();
    bool backup();
    bool apply();
    void removeTemps();
    bool restoreBackups();
    void rollBack();
    bool shortcuts();
    bool managerCopy();
    bool removeObsolete();
    bool registration();
    bool cleanup();
    bool journal(bool committed);

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
        const char* path = nullptr;
    };
    cCriticalSection shareLock;  // guards the first failure and the file systems
    _List<sFileSystem> fileSystems;
    std::atomic<bool> stopUnpack{false};
    std::atomic<long long> filesUnpacked{0};
    std::atomic<unsigned long long> bytesUnpacked{0};
    _guardchar<char> manager, managerShortcut;
};

bool cInstallRun::journal(bool committed) {
    cJournalWriter w;
    for (auto* it = roots.head; it; it = it->next) w.add('D', it->value.ptr);
    for (auto* it = toMake.head; it; it = it->next) w.add('M', it->value.ptr);
    for (auto* it = flights.head; it; it = it->next) w.add(it->value.existed ? 'R' : 'N', it->value.file->target.ptr);
    if (committed)
        for (auto* e = ctx.existingFiles.first(); e; e = ctx.existingFiles.next(e))
            if (!e->value().kept) w.add('O', e->value().path.ptr);
    return w.save(ctx.journalPath.ptr, committed, fs) == 1;
}

bool cInstallRun::prepare() {
    if (ctx.journalPath.empty() && !defaultJournalPath(ctx.codeName.ptr, ctx.journalPath))
        return fail(eIJCannotRecover, ""), false;
    if (!recoverInterrupted(ctx.journalPath.ptr, fs, &ctx.madeFolders))
        return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    const char* pgm = ctx.getStr("pgm");
    if (pgm && isPlainAbsPath(pgm) && !addUnique(roots, pgm)) return fail(eIJCannotRecover, pgm), false;
    // Absolute bases other than the installation folder.
    for (auto* it = ctx.files.head; it; it = it->next) {
        const char* base = it->value.target.id.empty() ? nullptr : ctx.getStr(it->value.target.id.ptr);
        if (base && isPlainAbsPath(base) && !(pgm && (strcmp(base, pgm) == 0 || isBelow(base, pgm))) &&
            !addUnique(roots, base))
            return fail(eIJCannotRecover, base), false;
    }
    cFolderNames names;  // a target's folder, listed once, says which of its names are free
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        cSoftPkgScenario::sCopiedFile& c = it->value;
        if (!isPlainAbsPath(c.target.ptr)) return fail(eIJBadObject, c.target.ptr), false;
        // Below its base (where the package makes its folders) no part of a target's path
        // may be a link; each folder is looked at once.
        const char* root = rootOf(roots, c.target.ptr);
        _guardchar<char> folder;
        if (!parentFolder(c.target.ptr, folder)) return fail(eIJCannotRecover, c.target.ptr), false;
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
            int kind = objKind(folder.ptr);
            _guardchar<char>* made = kind == 0 ? toMake.add() : nullptr;
            if (kind == 0 && !(made && made->set(folder.ptr))) return fail(eIJCannotRecover, folder.ptr), false;
            if (kind == 1 || (kind == 3 && root && isBelow(folder.ptr, root))) return fail(eIJBadObject, folder.ptr), false;
            *p = keep;
            if (!keep) break;
        }
        if (c.others == kUnchangedFile) continue;
        sFlight* f = flights.add();
        if (!f || !catStr(c.target.ptr, ".tmp", f->tmp) || !catStr(c.target.ptr, ".bkp", f->bkp))
            return fail(eIJCannotRecover, c.target.ptr), false;
        f->file = &c;
        // Names the journal did not give us belong to someone else: never taken.
        if (names.kind(f->tmp.ptr) != 0) return fail(eIJBadObject, f->tmp.ptr), false;
        if (names.kind(f->bkp.ptr) != 0) return fail(eIJBadObject, f->bkp.ptr), false;
        int kind = names.kind(c.target.ptr);
        if (kind != 0 && kind != 1) return fail(eIJBadObject, c.target.ptr), false;
        f->existed = kind == 1;
        fileCount++;
    }
    if (!journal(false)) {
        fs->unlink(ctx.journalPath.ptr);
        return fail(eIJCannotRecover, ctx.journalPath.ptr), false;
    }
    // The folders are made once the journal names them.
    for (auto* it = toMake.head; it; it = it->next)
        if (objKind(it->value.ptr) == 0 && !fs->mkdir(it->value.ptr)) {
            fail(eIJCannotMakeFolder, it->value.ptr);
            rollBack();
            return false;
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
    int fd = fs->createExclusive(f.tmp.ptr, mode < 0 ? 0666 : 0600);
    if (fd < 0) return eIJCannotCreate;
    f.tmpMade = true;
    if (note && !noteFileSystem(fd, f.tmp.ptr)) {
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
    f->path = path;
    f->fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return f->fd >= 0;
}

bool cInstallRun::flushFileSystems() {
    for (auto* it = fileSystems.head; it; it = it->next)
        if (!fs->syncFileSystem(it->value.fd)) return fail(eIJCannotWrite, it->value.path), false;
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
    if (!item || !buf.set(kCopyChunk) || !item->set_fp(from)) return failUnpack(eIJNoItem, f.tmp.ptr);
    for (unsigned long long at = from, handed = from; at < to && !stopUnpack;) {
        long long n = to - at > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(to - at);
        if (item->read(buf.ptr, n) != n) return failUnpack(eIJCannotRead, f.tmp.ptr);
        if (!fs->writeAt(fd, buf.ptr, n, at)) return failUnpack(eIJCannotWrite, f.tmp.ptr);
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
    if (!ctx.digest((int)c.item, want)) return failUnpack(eIJNoItem, f.tmp.ptr), false;
    int mode = recordMode(c);
    int fd = fs->createExclusive(f.tmp.ptr, mode < 0 ? 0666 : 0600);
    if (fd < 0) return failUnpack(eIJCannotCreate, f.tmp.ptr), false;
    f.tmpMade = true;
    _typebuf<unsigned char> buf;
    _classbuf<cPtr<cPieceWriter> > pieces;
    if (!noteFileSystem(fd, f.tmp.ptr) || !buf.set(kCopyChunk) || !pieces.set(workers)) {
        fs->close(fd);
        return failUnpack(eIJCannotWrite, f.tmp.ptr), false;
    }
    cEvent wake(false, false);
    unsigned long long step = (size + (unsigned long long)workers - 1) / (unsigned long long)workers;
    for (int w = 0; w < workers; w++) {
        unsigned long long from = step * (unsigned long long)w, to = from + step < size ? from + step : size;
        pieces[w] = new (std::nothrow) cPieceWriter(this, &f, fd, from, to, &wake);
        if (!pieces[w].ptr || !pieces[w]->start()) {
            pieces[w] = nullptr;
            failUnpack(eIJCannotWrite, f.tmp.ptr);
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
                        failUnpack(eIJStopped, f.tmp.ptr);
                }
                continue;
            }
            long long n = ready - hashed > (unsigned long long)kCopyChunk ? kCopyChunk : (long long)(ready - hashed);
            if (pread(fd, buf.ptr, (size_t)n, (off_t)(from + hashed)) != n) {
                failUnpack(eIJCannotRead, f.tmp.ptr);
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
    if (r != eIJOk) return failUnpack(r, f.tmp.ptr), false;
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
        const char* target = it->value.file->target.ptr;
        long long len = (long long)(strrchr(target, '/') - target);
        bool note = len != notedLen || memcmp(target, noted, (size_t)len) != 0;
        unsigned int r = unpack(it->value, report, note);
        if (note && r == eIJOk) noted = target, notedLen = len;
        if (r != eIJOk) return failUnpack(r, it->value.tmp.ptr);
        filesUnpacked++;
    }
}

// Every file written beside its target: on this thread for a small package, else on
// several threads: a large file kept as it is in pieces on all of them, the others in
// runs of neighbouring files (each run's reader goes on from one item to the next, and
// the body's access points let each piece and run start near its first byte).
bool cInstallRun::unpackAll() {
    auto sizeOf = [&](sFlight& f) { return f.tmpMade ? 0 : ctx.payload().sizeOf((int)f.file->item); };
    auto threads = [&](unsigned long long bytes) {
        long long n = (long long)(bytes / kMinShare);
        if (n > usableCores()) n = usableCores();
        return n > kMaxUnpackers ? kMaxUnpackers : (int)n;
    };
    unsigned long long total = 0;
    for (auto* it = flights.head; it; it = it->next) total += sizeOf(it->value);
    if (threads(total) > 1)
        for (auto* it = flights.head; it; it = it->next) {
            unsigned long long size = sizeOf(it->value);
            cPtr<cFileIOTarget> stored(size >= kLargeFile ? ctx.payload().storedItem((int)it->value.file->item) : nullptr);
            if (!stored) continue;
            stored = nullptr;
            if (!unpackLarge(it->value, threads(total))) return false;
        }
    long long count = 0;
    total = 0;
    for (auto* it = flights.head; it; it = it->next) total += sizeOf(it->value), count += it->value.tmpMade ? 0 : 1;
    long long workers = threads(total) < count ? threads(total) : count;
    if (workers <= 1) {
        unpackRun(flights.head, fileCount, true);
        return ctx.result == eIJOk;
    }
    _classbuf<cPtr<cUnpacker> > pool;
    if (!pool.set(workers)) return fail(eIJCannotWrite, ""), false;
    // Runs of about equal bytes, in the flights' order.
    auto* it = flights.head;
    unsigned long long share = total / (unsigned long long)workers, sum = 0;
    long long started = 0;
    for (long long w = 0; w < workers && it; w++) {
        auto* from = it;
        long long n = 0;
        for (; it && (w == workers - 1 || sum < share * (unsigned long long)(w + 1) || n == 0); it = it->next, n++)
            sum += sizeOf(it->value);
        pool[w] = new (std::nothrow) cUnpacker(this, from, n);
        if (!pool[w].ptr || !pool[w]->start()) {
            pool[w] = nullptr;
            failUnpack(eIJCannotWrite, from->value.tmp.ptr);
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

// Everything back as before the run; the journal goes only when that succeeded (else
// the next run finishes the job from it).
void cInstallRun::rollBack() {
    if (!restoreBackups()) return;
    _typebuf<const char*> made;
    long long n = 0;
    if (made.set(toMake.count()))
        for (auto* it = toMake.head; it; it = it->next) made.ptr[n++] = it->value.ptr;
    // Bottom up: a folder this run made goes when it is empty.
    for (long long i = n - 1; i >= 0; i--)
        if (objKind(made.ptr[i]) == 2) fs->rmdir(made.ptr[i]);
    fs->unlink(ctx.journalPath.ptr);
}

bool cInstallRun::backup() {
    // Every target's kind first, so that nothing moves when one of them is wrong; each
    // folder is listed once, after the unpacking.
    cFolderNames names;
    for (auto* it = flights.head; it; it = it->next) {
        int kind = names.kind(it->value.file->target.ptr);
        if (kind != 0 && kind != 1) {
            fail(eIJBadObject, it->value.file->target.ptr);
            rollBack();
            return false;
        }
    }
    for (auto* it = flights.head; it; it = it->next) {
        sFlight& f = it->value;
        for (int kind = names.kind(f.file->target.ptr); kind == 1; kind = objKind(f.file->target.ptr)) {
            if (moveFileClean(f.file->target.ptr, f.bkp.ptr, fs)) {
                f.backedUp = true;
                break;
            }
            if (!asker || !asker->askRetry(f.file->target.ptr, false)) {
                fail(eIJGaveUp, f.bkp.ptr);
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
        if (!fs->rename(f.tmp.ptr, f.file->target.ptr)) {
            fail(eIJCannotApply, f.file->target.ptr);
            rollBack();
            return false;
        }
        f.tmpMade = false;
        f.applied = true;
    }
    return true;
}

bool cInstallRun::shortcuts() {
    _List<cSoftPkgScenario::sMenuItemDef> items;
    if (!ctx.getMenuItems(items)) return fail(eIJBadObject, ""), false;
    const char* group = ctx.getStr("group");
    for (auto* it = items.head; it; it = it->next) {
        const cSoftPkgScenario::sMenuItemDef& m = it->value;
        _guardchar<char> path;
        if (!createSysShortcut(path, m.name.ptr, group && *group ? group : "Utility;", m.target.ptr, m.icon.ptr,
                               m.comment.ptr, m.elevated, m.args.ptr, ctx.codeName.ptr))
            return fail(eIJCannotCreate, path.empty() ? m.name.ptr : path.ptr), false;
        _guardchar<char>* old = ctx.existingShortcuts.find(pathKey(path.ptr));
        if (old) old->clear();
        _guardchar<char>* added = ctx.newShortcuts.add();
        if (!added) return fail(eIJCannotCreate, path.ptr), false;
        added->attach(path.dettach());
    }
    // Entries of the earlier version that this one no longer has.
    for (auto* e = ctx.existingShortcuts.first(); e; e = ctx.existingShortcuts.next(e))
        if (!e->value().empty() && !rmFileClean(e->value().ptr, nullptr, fs))
            return fail(eIJCannotWrite, e->value().ptr), false;
    return true;
}

bool cInstallRun::managerCopy() {
    // Without a program to copy (a run inside another program) and no copy in place
    // there is no manager to register.
    if (!getAppManagerPath(manager)) return true;
    if (ctx.executablePath.empty() && objKind(manager.ptr) == 0) {
        manager.clear();
        return true;
    }
    unsigned long long v = objKind(manager.ptr) == 1 ? getVerID(manager.ptr) : kUnknownVerID;
    bool refresh = v == kUnknownVerID || v < getCurrVerID();
    _guardchar<char> tmp, folder;
    if (refresh && !ctx.executablePath.empty()) {
        if (!catStr(manager.ptr, ".tmp", tmp) || !parentFolder(manager.ptr, folder))
            return fail(eIJCannotCreate, manager.ptr), false;
        if (!makeFolderChain(folder.ptr, fs)) return fail(eIJCannotMakeFolder, folder.ptr), false;
        // The manager's folder is the program's own: a leftover temporary file is ours.
        if (objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr)) return fail(eIJCannotCreate, tmp.ptr), false;
        int fd = fs->createExclusive(tmp.ptr, 0700);
        if (fd < 0) return fail(eIJCannotCreate, tmp.ptr), false;
        cFdSink sink(fs, fd);
        bool ok = saveSoftMgr(ctx.executablePath.ptr, &sink, folder.ptr) && !sink.failed && fs->chmod(fd, 0755) &&
                  fs->sync(fd);
        ok = fs->close(fd) && ok;
        // Moved over the earlier copy in one step: there is always a manager at its place.
        if (!ok || !fs->rename(tmp.ptr, manager.ptr) || !fs->syncFolder(folder.ptr)) {
            fs->unlink(tmp.ptr);
            return fail(eIJCannotWrite, manager.ptr), false;
        }
    }
    if (objKind(manager.ptr) != 1) return fail(eIJCannotWrite, manager.ptr), false;
    // The entry shows the icon of the manager's own bundle (".../Contents/Resources").
    _guardchar<char> icon, contents;
    if (contents.set(manager.ptr)) {
        for (int i = 0; i < 2; i++)  // ".../Contents/MacOS/SoftManager" to ".../Contents"
            if (char* slash = strrchr(contents.ptr, '/')) *slash = 0;
        if (!catStr(contents.ptr, "/Resources/icon.icns", icon) || objKind(icon.ptr) != 1) icon.clear();
    }
    if (!createSysShortcut(managerShortcut, instpString(5, "Software Packages management"),
                           "PackageManager;System;Settings;", manager.ptr, icon.ptr, nullptr, true, nullptr,
                           "qmx-softmgr"))
        return fail(eIJCannotCreate, instpString(5, "Software Packages management")), false;
    // An entry of an earlier copy under another name goes.
    _guardchar<char> old;
    if (ctx.store && ctx.store->getParamStr(kRegInstallerShortcut, old) && !old.empty() &&
        strcmp(old.ptr, managerShortcut.ptr) != 0 && !rmFileClean(old.ptr, nullptr, fs))
        return fail(eIJCannotWrite, old.ptr), false;
    return true;
}

bool cInstallRun::registration() {
    cApplicationConfig* store = ctx.store;
    _guardchar<char> section;
    if (!store || !regSectionName(ctx.registryName.ptr, section)) return fail(eIJNotSaved, ""), false;
    // The manager and the language first, the package's record last (alone in its hive):
    // a record never names a manager that is not registered.
    bool ok = store->setParamInt16(kRegLangCurrent, (unsigned short)ctx.currLangID());
    if (ok && !managerShortcut.empty()) ok = store->setParamStr(kRegInstallerShortcut, managerShortcut.ptr);
    if (ok && !manager.empty()) ok = store->setParamStr(kRegInstallerApp, manager.ptr);
    if (!ok || !store->saveConfig()) {
        store->discardChanges();
        return fail(eIJNotSaved, ""), false;
    }
    sPkgRegistryRecord record, earlier;
    ok = fillRegistryRecord(ctx, record);
    for (auto* it = ctx.copiedFiles.head; ok && it; it = it->next) {
        _guardchar<char>* f = record.files.add();
        ok = f && f->set(it->value.target.ptr);
    }
    for (auto* it = ctx.newShortcuts.head; ok && it; it = it->next) {
        _guardchar<char>* s = record.shortcuts.add();
        ok = s && s->set(it->value.ptr);
    }
    const char* pgm = ctx.getStr("pgm");
    for (auto* it = roots.head; ok && it; it = it->next)
        if (!pgm || strcmp(it->value.ptr, pgm) != 0) ok = addUnique(record.bases, it->value.ptr);
    // The folders made: by the earlier installations, by an interrupted run, by this one.
    if (readRegistryRecord(store, ctx.registryName.ptr, earlier))
        for (auto* it = earlier.dirs.head; ok && it; it = it->next)
            if (objKind(it->value.ptr) == 2) ok = addUnique(record.dirs, it->value.ptr);
    for (auto* it = ctx.madeFolders.head; ok && it; it = it->next)
        if (objKind(it->value.ptr) == 2) ok = addUnique(record.dirs, it->value.ptr);
    for (auto* it = toMake.head; ok && it; it = it->next)
        if (objKind(it->value.ptr) == 2) ok = addUnique(record.dirs, it->value.ptr);
    store->removeSection(section.ptr);
    ok = ok && ctxToConfig(record, store, section.ptr);
    if (!ok || !store->saveConfig()) {
        store->discardChanges();
        return fail(eIJNotSaved, ""), false;
    }
    if (objKind(manager.ptr) == 1) OSRegisterPackage(manager.ptr, ctx, false);
    return true;
}

// Files of the earlier version that this one no longer has; folders they leave empty go
// too, but never the installation folder or anything outside it. Before the registration,
// so that the record lists only the folders that stay.
bool cInstallRun::removeObsolete() {
    const char* folder = ctx.getStr("pgm");
    for (auto* e = ctx.existingFiles.first(); e; e = ctx.existingFiles.next(e))
        if (!e->value().kept && !rmFileClean(e->value().path.ptr, folder, fs))
            return fail(eIJCannotWrite, e->value().path.ptr), false;
    return true;
}

// The backups go once the package is registered, then the journal.
bool cInstallRun::cleanup() {
    for (auto* it = flights.head; it; it = it->next)
        if (it->value.backedUp && objKind(it->value.bkp.ptr) == 1 && !fs->unlink(it->value.bkp.ptr))
            return fail(eIJCannotWrite, it->value.bkp.ptr), false;
    // A backup that could not be removed stays named in the journal (committed), so the
    // next run removes it instead of taking a backup for the user's.
    if (!fs->unlink(ctx.journalPath.ptr)) return fail(eIJCannotWrite, ctx.journalPath.ptr), false;
    return true;
}

unsigned int cInstallRun::run() {
    ctx.result = eIJOk;
    ctx.messagePath.clear();
    stage(0);
    if (!prepare()) return 1;
    // The data and the mode of every file are on the disk before any is moved.
    if (!unpackAll() || !flushFileSystems()) {
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
    if (!journal(true)) {
        // Still pending on the disk unless the committed text got in place: read back.
        bool committed = false;
        _List<sJournalEntry> entries;
        if (!readJournal(ctx.journalPath.ptr, committed, entries) || !committed) {
            fail(eIJCannotRecover, ctx.journalPath.ptr);
            rollBack();
            return 1;
        }
        fail(eIJCannotRecover, ctx.journalPath.ptr);
    }
    // From here a failure is reported and the committed journal stays: the next run
    // finishes the job from it (the folders made included). The package is registered
    // only when everything else is done.
    bool ok = ctx.result == eIJOk && shortcuts() && managerCopy() && removeObsolete() && registration();
    stage(fileCount + 3);
    return ok && cleanup() ? 0 : 1;
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

bool recoverInterrupted(const char* journalPath, cInstallFS* fs, _List<_guardchar<char> >* made) {
    if (!fs) fs = cInstallFS::plain();
    int kind = objKind(journalPath);
    if (kind == 0) return true;
    bool committed = false;
    _List<sJournalEntry> entries;
    if (kind != 1 || !readJournal(journalPath, committed, entries)) return false;
    bool ok = true;
    _List<_guardchar<char> > roots, folders;
    for (auto* it = entries.head; it; it = it->next) {
        const char* target = it->value.path.ptr;
        if (it->value.kind == 'D') {
            ok = addUnique(roots, target) && ok;
            continue;
        }
        if (it->value.kind == 'M') {
            // Made by the run: kept (and reported) once committed, else removed when empty.
            if (objKind(target) == 2) ok = addUnique(committed && made ? *made : folders, target) && ok;
            continue;
        }
        if (it->value.kind == 'O') {
            // Removed once the new files are in place, with the folders they leave empty;
            // kept while they are not.
            if (!committed) continue;
            if (objKind(target) == 1 && !fs->unlink(target)) {
                ok = false;
            } else {
                _guardchar<char> folder;
                if (parentFolder(target, folder)) rmEmptyFolders(folder.ptr, rootOf(roots, target), fs);
            }
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
    // Folders the undone run made, bottom up, when they are empty.
    _typebuf<const char*> list;
    long long n = 0;
    if (list.set(folders.count()))
        for (auto* it = folders.head; it; it = it->next) list.ptr[n++] = it->value.ptr;
    for (long long i = n - 1; ok && i >= 0; i--) fs->rmdir(list.ptr[i]);
    // Flushed before the journal goes: what it undid must not come back after a power cut.
    cFasterTreeList<cStringKey, int> flushed;
    for (auto* it = entries.head; ok && it; it = it->next) {
        _guardchar<char> folder;
        if (it->value.kind == 'D' || !parentFolder(it->value.path.ptr, folder) || flushed.find(pathKey(folder.ptr)))
            continue;
        flushed.insert_new(pathKey(folder.ptr));
        if (objKind(folder.ptr) == 2) fs->syncFolder(folder.ptr);
    }
    return ok && fs->unlink(journalPath);
}

unsigned int runInstallJob(sPkgInstallContext& ctx, cProgressNotifyTarget* progress, cJobAsker* asker,
                           cInstallFS* fs) {
    cInstallRun run(ctx, progress, asker, fs ? fs : cInstallFS::plain());
    return run.run();
}
