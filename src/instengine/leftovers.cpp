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
#include "softmgr/softpkg.h"

namespace {

const long long kChunk = 65536;

// Whether the regular file at `path` holds the first bytes of item `item`, or all of it.
bool holdsItemPrefix(sPkgInstallContext& ctx, int item, const char* path) {
    int fd;
    do fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    unsigned long long size = ctx.payload().sizeOf(item);
    bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (unsigned long long)st.st_size <= size;
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
    if (!setAsideInForce(ctx.journalPath.ptr, ctx.store, ctx.codeName.ptr)) return eLeftoversNone;
    // The backups the run made are told by the recorded version's items, which are this
    // package's only when it is that version.
    bool recordedVersion = ctx.installedVersion != ~0ULL && ctx.installedVersion == ctx.packageVersion;
    auto stays = [&](const char* path) {
        left.set(path);
        return eLeftoversStay;
    };
    auto failed = [&](const char* path) {
        left.set(path);
        return eLeftoversFailed;
    };
    cFasterTreeList<cStringKey, int> seen;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        const cSoftPkgScenario::sCopiedFile& c = it->value;
        _guardchar<char> tmp, bkp;
        if (!isPlainAbsPath(c.target) || !concatText(c.target, ".tmp", tmp) || !concatText(c.target, ".bkp", bkp))
            continue;
        if (!seen.find(pathKey(c.target))) seen.insert_new(pathKey(c.target));
        eObjKind t = objKind(tmp.ptr), b = objKind(bkp.ptr);
        if (t == eObjFile && holdsItemPrefix(ctx, (int)c.item, tmp.ptr)) {
            if (!fs->unlink(tmp.ptr)) return failed(tmp.ptr);
            t = eObjNone;
        }
        if (t != eObjNone) return stays(tmp.ptr);
        if (b == eObjFile && recordedVersion && objKind(c.target) == eObjNone && holdsItem(ctx, (int)c.item, bkp.ptr)) {
            if (!fs->rename(bkp.ptr, c.target)) return failed(bkp.ptr);
            b = eObjNone;
        }
        if (b != eObjNone) return stays(bkp.ptr);
    }
    // The record's other files: nothing there tells a name the run's.
    sPkgRegistryRecord record;
    if (ctx.store && readRegistryRecord(ctx.store, ctx.registryName.ptr, record))
        for (const char* f : record.files) {
            _guardchar<char> side;
            if (!isPlainAbsPath(f) || seen.find(pathKey(f))) continue;
            for (const char* suffix : {".tmp", ".bkp"})
                if (concatText(f, suffix, side) && objKind(side.ptr) != eObjNone) return stays(side.ptr);
        }
    return eLeftoversNone;
}

bool findRunLeftovers(const char* journalPath, cApplicationConfig* store, const char* code,
                      const sPkgRegistryRecord& record, _List<_guardchar<char> >& out) {
    if (!setAsideInForce(journalPath, store, code)) return true;
    for (const char* f : record.files) {
        _guardchar<char> side;
        for (const char* suffix : {".tmp", ".bkp"})
            if (isPlainAbsPath(f) && concatText(f, suffix, side) && objKind(side.ptr) != eObjNone && !addUnique(out, side.ptr))
                return false;
    }
    return true;
}
