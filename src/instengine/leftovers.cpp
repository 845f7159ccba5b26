// The names an interrupted run may have left beside a package's files once its journal
// was set aside: taken only where the package's own items show they are the run's.
#include "instengine/leftovers.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/fileio.h"
#include "base/strings.h"
#include "instengine/setaside.h"
#include "softmgr/ossupport.h"
#include "softmgr/softpkg.h"

namespace {

const long long kChunk = 65536;

// Whether the regular file at `path` holds the first bytes of item `item`, or all of it,
// and at least one: an empty file is a prefix of every item.
bool holdsItemPrefix(sPkgInstallContext& ctx, int item, const char* path) {
    int fd;
    do fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    unsigned long long size = ctx.payload().sizeOf(item);
    bool same =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && (unsigned long long)st.st_size <= size;
    unsigned long long left = same ? (unsigned long long)st.st_size : 0;
    cPtr<cFileIOTarget> stream(same && left ? ctx.file(item) : nullptr);
    _typebuf<unsigned char> a, b;
    if (left && (!stream || !a.set(kChunk) || !b.set(kChunk))) same = false;
    while (same && left) {
        long long n = left > (unsigned long long)kChunk ? kChunk : (long long)left;
        long long got = 0;
        while (got < n) {
            ssize_t r = read(fd, a.ptr + got, (size_t)(n - got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        same = got == n && stream->read(b.ptr, n) == n && memcmp(a.ptr, b.ptr, (size_t)n) == 0;
        left -= (unsigned long long)n;
    }
    close(fd);
    return same;
}

// Whether the regular file at `path` holds exactly item `item`.
bool holdsItem(sPkgInstallContext& ctx, int item, const char* path) {
    struct stat st;
    unsigned char want[32], got[32];
    cFileIO f;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) &&
           (unsigned long long)st.st_size == ctx.payload().sizeOf(item) && ctx.digest(item, want) &&
           f.open(path, cFileIO::eRead) && cSoftPkg::mkDigest(&f, got) && memcmp(want, got, 32) == 0;
}

}  // namespace

eLeftovers takeRunLeftovers(sPkgInstallContext& ctx, cInstallFS* fs, _guardchar<char>& left) {
    left.clear();
    ctx.leftovers.destroy();
    if (!setAsideInForce(ctx.journalPath.ptr, ctx.store, ctx.codeName.ptr)) return eLeftoversNone;
    // The backups the run made are told by the recorded version's items, which are this
    // package's only when it is that version.
    bool recordedVersion = ctx.installedVersion != ~0ULL && ctx.installedVersion == ctx.packageVersion;
    cFasterTreeList<cStringKey, int> seen, named;
    auto failed = [&](const char* path) {
        ctx.leftovers.destroy();
        left.set(path);
        return eLeftoversFailed;
    };
    // Every name that stays is listed: one run tells the user all there is to look at.
    auto stays = [&](const char* path) { return addUnique(ctx.leftovers, named, path); };
    // What the record lists is the earlier version's, whatever its name.
    sPkgRegistryRecord record;
    cFasterTreeList<cStringKey, int> listed;
    if (ctx.store && readRegistryRecord(ctx.store, ctx.registryName.ptr, record))
        for (const char* f : record.files)
            if (!listed.insert(pathKey(f))) return failed(f);
    auto kindOf = [&](const char* path) { return listed.find(pathKey(path)) ? eObjNone : objKind(path); };
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        const cSoftPkgScenario::sCopiedFile& c = it->value;
        _guardchar<char> tmp, bkp;
        if (!isPlainAbsPath(c.target) || !concatText(c.target, ".tmp", tmp) || !concatText(c.target, ".bkp", bkp))
            continue;
        if (!seen.find(pathKey(c.target))) seen.insert_new(pathKey(c.target));
        eObjKind t = kindOf(tmp.ptr), b = kindOf(bkp.ptr);
        if (t == eObjFile && holdsItemPrefix(ctx, (int)c.item, tmp.ptr)) {
            if (!fs->unlink(tmp.ptr)) return failed(tmp.ptr);
            t = eObjNone;
        }
        if (t != eObjNone && !stays(tmp.ptr)) return failed(tmp.ptr);
        if (b == eObjFile && recordedVersion && objKind(c.target) == eObjNone && holdsItem(ctx, (int)c.item, bkp.ptr)) {
            if (!fs->rename(bkp.ptr, c.target)) return failed(bkp.ptr);
            b = eObjNone;
        }
        if (b != eObjNone && !stays(bkp.ptr)) return failed(bkp.ptr);
    }
    // The record's other files: nothing there tells a name the run's.
    for (const char* f : record.files) {
        _guardchar<char> side;
        if (!isPlainAbsPath(f) || seen.find(pathKey(f))) continue;
        for (const char* suffix : {".tmp", ".bkp"})
            if (concatText(f, suffix, side) && kindOf(side.ptr) != eObjNone && !stays(side.ptr)) return failed(side.ptr);
    }
    if (ctx.leftovers.empty()) return eLeftoversNone;
    left.set(ctx.leftovers.head->value.ptr);
    return eLeftoversStay;
}

namespace {

const int kMaxLeftoverDepth = 64;

// Lists what an interrupted run may have left in the record's folders.
class cLeftoverSearch {
public:
    cLeftoverSearch(const sPkgRegistryRecord& record, cApplicationConfig* store, const char* code,
                    _List<_guardchar<char> >& out)
        : myRecord(record), myOthers(store, code), myOut(out) {
        for (const char* f : record.files) myOwn.insert_new(pathKey(f));
    }
    // A name that may be a run's, unless a record lists it; false without memory.
    bool name(const char* path) {
        return myOwn.find(pathKey(path)) || myOthers.fileOwner(path) || addUnique(myOut, myNamed, path);
    }
    // The "*.tmp" and "*.bkp" entries of a folder (listed once), only those whose path begins
    // with `prefix` when one is given, and with `down` those of the folders below it, reached
    // without links.
    bool search(const char* folder, bool down, const char* prefix = nullptr, int depth = 0) {
        bool isNew = false;
        int* listed = myFolders.insert(pathKey(folder), isNew);
        if (!listed) return false;
        if (!isNew && (*listed || !down)) return true;
        *listed = down;
        cFolderContents dir;
        if (!dir.init(folder, false)) return true;  // nothing to name where nothing can be seen
        for (int i = 0; i < dir.count(); i++) {
            const char* n = dir.info(i)->name.ptr;
            long long len = n ? (long long)strlen(n) : 0;
            _guardchar<char> path;
            if (!dir.path(i, path)) return false;
            bool side = len > 4 && (strcmp(n + len - 4, ".tmp") == 0 || strcmp(n + len - 4, ".bkp") == 0);
            if (side && (!prefix || strncmp(path.ptr, prefix, strlen(prefix)) == 0) && !name(path.ptr)) return false;
            if (down && depth < kMaxLeftoverDepth && objKind(path.ptr) == eObjFolder &&
                !search(path.ptr, true, nullptr, depth + 1))
                return false;
        }
        return true;
    }
    // Whether a folder the package made lies within its own folder or a base.
    bool withinRoots(const char* folder) const {
        auto within = [&](const char* root) {
            return root && isPlainAbsPath(root) && (strcmp(folder, root) == 0 || isBelow(folder, root));
        };
        if (within(myRecord.path.ptr)) return true;
        for (auto* it = myRecord.bases.head; it; it = it->next)
            if (within(it->value.ptr)) return true;
        return false;
    }

private:
    const sPkgRegistryRecord& myRecord;
    cOtherRecords myOthers;
    _List<_guardchar<char> >& myOut;
    cFasterTreeList<cStringKey, int> myOwn, myNamed, myFolders;  // folders: 1 when searched all the way down
};

}  // namespace

bool findRunLeftovers(const char* journalPath, cApplicationConfig* store, const char* code,
                      const sPkgRegistryRecord& record, _List<_guardchar<char> >& out) {
    return !setAsideInForce(journalPath, store, code) || listRunLeftovers(store, code, record, out);
}

bool listRunLeftovers(cApplicationConfig* store, const char* code, const sPkgRegistryRecord& record,
                      _List<_guardchar<char> >& out) {
    cLeftoverSearch search(record, store, code, out);
    for (const char* f : record.files) {
        _guardchar<char> side;
        for (const char* suffix : {".tmp", ".bkp"})
            if (isPlainAbsPath(f) && concatText(f, suffix, side) && objKind(side.ptr) != eObjNone &&
                !search.name(side.ptr))
                return false;
    }
    // A run that added a file may have made its folder: the folders the package made are
    // searched all the way down, the others' own entries only.
    for (auto* it = record.dirs.head; it; it = it->next)
        if (isPlainAbsPath(it->value.ptr) && search.withinRoots(it->value.ptr) && !search.search(it->value.ptr, true))
            return false;
    for (const char* f : record.files) {
        _guardchar<char> folder;
        if (isPlainAbsPath(f) && parentFolder(f, folder) && !search.search(folder.ptr, false)) return false;
    }
    // The package's menu entries are written beside themselves too.
    _guardchar<char> entries, folder;
    return !sysShortcutPrefix(entries, code) || !parentFolder(entries.ptr, folder) ||
           search.search(folder.ptr, false, entries.ptr);
}
