// After the download: the archive is judged from its central directory and local headers,
// unpacked in-process (only names that were checked, only regular files and folders, no
// entry past its declared size) into a folder only this user can reach, and only a bundle
// that looks like a generated installer is started. Nothing passes through a shell.
#include "instengine/updateinstall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/job.h"
#include "base/lists.h"
#include "base/process.h"
#include "base/progress.h"
#include "base/strings.h"
#include "compression/zlibstreams.h"
#include "softmgr/bundlelayout.h"
#include "instengine/installfs.h"

namespace {

// APPNOTE 4.3.16: the end of central directory record; its comment is at most 65535 bytes.
const long long kEocdSize = 22;
const long long kMaxComment = 65535;
// An update archive's central directory is small; more is refused rather than read.
const long long kMaxDirectory = 16LL << 20;
const long long kCdHeaderSize = 46;
const long long kLocalHeaderSize = 30;
// The declared sizes may add up to 64 times the archive plus this much, and must leave
// this much of the temporary folder's volume free.
const unsigned long long kRatio = 64;
const unsigned long long kSlack = 1ULL << 20;
const unsigned long long kMargin = 16ULL << 20;
// Deeper names are refused, which also bounds the walks over the unpacked tree.
const int kMaxDepth = 64;
const long long kChunk = 1 << 16;

int checkName(const unsigned char* name, long long n) {
    if (n <= 0) return eArchiveBadName;
    if (memchr(name, 0, (size_t)n)) return eArchiveBadName;
    if (name[0] == '/' || name[0] == '\\') return eArchiveAbsolute;
    // A drive letter ("C:") is absolute on the systems that write them.
    if (n >= 2 && name[1] == ':') return eArchiveAbsolute;
    // Backslashes are separators elsewhere: refused outright.
    if (memchr(name, '\\', (size_t)n)) return eArchiveDotDot;
    long long start = 0;
    int depth = 0;
    for (long long i = 0; i <= n; i++) {
        if (i == n || name[i] == '/') {
            if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return eArchiveDotDot;
            if (++depth > kMaxDepth) return eArchiveBadName;
            start = i + 1;
        }
    }
    return eArchiveOk;
}

// APPNOTE 4.4.2 / 4.4.15: with a Unix "version made by", the high 16 bits of the external
// attributes are the st_mode; only regular files and folders may be unpacked.
int checkType(unsigned int madeBy, unsigned int external) {
    if ((madeBy >> 8) != 3) return eArchiveOk;
    unsigned int mode = external >> 16;
    unsigned int type = mode & 0170000;
    if (type == 0 || type == 0100000 || type == 0040000) return eArchiveOk;
    return eArchiveLink;
}

// Extra fields (APPNOTE 4.5): a Unicode path field (0x7075, 4.6.9) that names anything
// but the entry's own name is refused, so no unpacker can be led to another name.
int checkExtra(const unsigned char* x, long long n, const unsigned char* name, long long nameLen) {
    long long pos = 0;
    while (n - pos >= 4) {
        unsigned int id = le16(x + pos), len = le16(x + pos + 2);
        if ((long long)len > n - pos - 4) return eArchiveDamaged;
        const unsigned char* d = x + pos + 4;
        if (id == 0x7075 && (len < 5 || (long long)len - 5 != nameLen || memcmp(d + 5, name, (size_t)nameLen) != 0))
            return eArchiveBadName;
        pos += 4 + len;
    }
    return eArchiveOk;
}

struct sZipEntry {
    _guardchar<char> name;
    unsigned int method = 0, crc = 0, mode = 0;
    unsigned long long packed = 0, size = 0, dataAt = 0;
    bool folder = false;
};

// The end record, searched backwards from the end of the file.
bool findEnd(cFileIO& f, unsigned long long size, unsigned long long& at, _typebuf<unsigned char>& tail) {
    if (size < (unsigned long long)kEocdSize) return false;
    long long n = (long long)(size < (unsigned long long)(kEocdSize + kMaxComment) ? size : kEocdSize + kMaxComment);
    if (!tail.set(n) || !readAt(&f, size - (unsigned long long)n, tail.ptr, n)) return false;
    for (long long i = n - kEocdSize; i >= 0; i--) {
        const unsigned char* p = tail.ptr + i;
        if (p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6 && i + kEocdSize + le16(p + 20) <= n) {
            at = size - (unsigned long long)n + (unsigned long long)i;
            return true;
        }
    }
    return false;
}

// The local header of an entry must repeat its flags, method and name; its data must lie
// before the central directory.
int checkLocal(cFileIO& f, unsigned long long cdOffset, unsigned long long at, const unsigned char* cdName,
               long long nameLen, unsigned int method, unsigned long long packed, unsigned long long& dataAt) {
    unsigned char h[kLocalHeaderSize];
    if (at + kLocalHeaderSize > cdOffset || !readAt(&f, at, h, kLocalHeaderSize)) return eArchiveDamaged;
    if (le32(h) != 0x04034b50u) return eArchiveDamaged;
    if (le16(h + 6) & 0x41) return eArchiveEncrypted;
    long long n = le16(h + 26), m = le16(h + 28);
    if (le16(h + 8) != method || n != nameLen) return eArchiveDamaged;
    dataAt = at + kLocalHeaderSize + (unsigned long long)(n + m);
    if (dataAt + packed > cdOffset) return eArchiveDamaged;
    _typebuf<unsigned char> rest;
    if (!rest.set(n + m + 1) || !readAt(&f, at + kLocalHeaderSize, rest.ptr, n + m)) return eArchiveUnreadable;
    if (memcmp(rest.ptr, cdName, (size_t)n) != 0) return eArchiveDamaged;
    return checkExtra(rest.ptr + n, m, cdName, nameLen);
}

// Checks the whole archive; with `entries` it also lists what is to be unpacked.
int readArchive(cFileIO& f, unsigned long long room, _List<sZipEntry>* entries, unsigned long long& total) {
    total = 0;
    unsigned long long size = f.size();
    unsigned long long endAt = 0;
    _typebuf<unsigned char> tail;
    if (!findEnd(f, size, endAt, tail)) return eArchiveNotZip;
    const unsigned char* e = tail.ptr + (endAt - (size - (unsigned long long)tail.count));
    unsigned int disk = le16(e + 4), cdDisk = le16(e + 6), onDisk = le16(e + 8), count = le16(e + 10);
    unsigned long long cdSize = le32(e + 12), cdOffset = le32(e + 16);
    if (count == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) return eArchiveTooLarge;
    if (disk != 0 || cdDisk != 0 || onDisk != count) return eArchiveNotZip;
    if (cdOffset + cdSize > endAt) return eArchiveNotZip;
    if ((long long)cdSize > kMaxDirectory) return eArchiveTooLarge;
    if ((unsigned long long)count * kCdHeaderSize > cdSize) return eArchiveNotZip;
    _typebuf<unsigned char> dir;
    if (!dir.set(cdSize ? (long long)cdSize : 1) || (cdSize && !readAt(&f, cdOffset, dir.ptr, (long long)cdSize)))
        return eArchiveUnreadable;
    long long pos = 0;
    for (unsigned int i = 0; i < count; i++) {
        if ((long long)cdSize - pos < kCdHeaderSize) return eArchiveNotZip;
        const unsigned char* h = dir.ptr + pos;
        if (le32(h) != 0x02014b50u) return eArchiveNotZip;
        long long nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
        long long entry = kCdHeaderSize + nameLen + extraLen + commentLen;
        if (entry > (long long)cdSize - pos) return eArchiveNotZip;
        if (le32(h + 20) == 0xFFFFFFFFu || le32(h + 24) == 0xFFFFFFFFu || le32(h + 42) == 0xFFFFFFFFu)
            return eArchiveTooLarge;
        const unsigned char* name = h + kCdHeaderSize;
        int r = checkName(name, nameLen);
        if (r == eArchiveOk) r = checkType(le16(h + 4), le32(h + 38));
        if (r != eArchiveOk) return r;
        // Bit 0: traditional encryption; bit 6: strong encryption.
        if (le16(h + 8) & 0x41) return eArchiveEncrypted;
        unsigned int method = le16(h + 10);
        if (method != 0 && method != 8) return eArchiveMethod;
        r = checkExtra(name + nameLen, extraLen, name, nameLen);
        if (r != eArchiveOk) return r;
        unsigned long long packed = le32(h + 20), plain = le32(h + 24), dataAt = 0;
        r = checkLocal(f, cdOffset, le32(h + 42), name, nameLen, method, packed, dataAt);
        if (r != eArchiveOk) return r;
        unsigned int mode = (le16(h + 4) >> 8) == 3 ? le32(h + 38) >> 16 : 0;
        bool folder = name[nameLen - 1] == '/' || (mode & 0170000) == 0040000;
        if ((method == 0 && packed != plain) || (folder && plain != 0)) return eArchiveDamaged;
        if (entries) {
            sZipEntry* z = entries->add();
            if (!z || !z->name.set((const char*)name, nameLen)) return eArchiveUnreadable;
            z->dataAt = dataAt;
            z->method = method;
            z->crc = le32(h + 16);
            z->mode = mode;
            z->packed = packed;
            z->size = plain;
            z->folder = folder;
        }
        total += plain;
        pos += entry;
    }
    unsigned long long cap = size * kRatio + kSlack;
    if (total > cap || total > room) return eArchiveBomb;
    return eArchiveOk;
}

bool isRegularNoLink(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolderNoLink(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

void closeFd(int fd) {
    if (fd >= 0) close(fd);
}

// Opens (making it when missing) the folder `name` in `parent`; never follows a link.
int openFolderAt(int parent, const char* name) {
    if (mkdirat(parent, name, 0755) != 0 && errno != EEXIST) return -1;
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Walks the folders of a checked name from the root, making them as needed. With
// `whole` the last component is a folder too; otherwise `leaf` receives it. The folder
// that holds the leaf, or -1.
int walkFolders(int root, char* name, bool whole, const char*& leaf) {
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    char* part = name;
    leaf = nullptr;
    while (fd >= 0) {
        char* slash = strchr(part, '/');
        if (!slash && !whole) {
            leaf = part;
            return *part ? fd : (closeFd(fd), -1);
        }
        if (slash) *slash = 0;
        if (*part && strcmp(part, ".") != 0) {
            int next = openFolderAt(fd, part);
            closeFd(fd);
            fd = next;
        }
        if (!slash) return fd;
        *slash = '/';
        part = slash + 1;
    }
    return -1;
}

// Copies or inflates one entry's data into `out`, never writing more than it declared.
class cEntryWriter {
public:
    cEntryWriter(cFileIO& f, cProgressNotifyTarget* progress, const cJob* owner, unsigned long long total)
        : myFile(f), myProgress(progress), myOwner(owner), myTotal(total) {}

    int write(const sZipEntry& e, int out) {
        if (!myIn.ptr && (!myIn.set(kChunk) || !myOut.set(kChunk))) return eArchiveUnreadable;
        if (!myFile.set_fp(e.dataAt)) return eArchiveUnreadable;
        if (e.method == 8 && !myInflate.init(true)) return eArchiveUnreadable;
        unsigned long long left = e.packed, made = 0;
        unsigned int crc = (unsigned int)crc32(0L, Z_NULL, 0);
        bool ended = e.method == 0;
        long long have = 0, used = 0;
        for (;;) {
            if (stopped()) return eArchiveStopped;
            if (have == used && left > 0) {
                have = left < (unsigned long long)kChunk ? (long long)left : kChunk;
                if (!myFile.readf(myIn.ptr, have)) return eArchiveUnreadable;
                left -= (unsigned long long)have;
                used = 0;
            }
            const unsigned char* piece = myIn.ptr + used;
            long long pieceLen = have - used;
            if (e.method == 8) {
                long long in = 0, outMade = 0;
                int r = myInflate.inflate(myIn.ptr + used, have - used, in, myOut.ptr, kChunk, outMade);
                if (r == cZInflate::eError) return eArchiveDamaged;
                used += in;
                piece = myOut.ptr;
                pieceLen = outMade;
                if (r == cZInflate::eStreamEnd) ended = true;
                // No progress and no input left: the stream is cut.
                if (!ended && in == 0 && outMade == 0 && left == 0 && used == have) return eArchiveDamaged;
            } else {
                used = have;
            }
            if (made + (unsigned long long)pieceLen > e.size) return eArchiveDamaged;
            if (pieceLen > 0) {
                if (!writeAll(out, piece, pieceLen)) return eArchiveWrite;
                crc = (unsigned int)crc32(crc, piece, (uInt)pieceLen);
                made += (unsigned long long)pieceLen;
                myDone += (unsigned long long)pieceLen;
                if (myProgress && myTotal && !myProgress->notifyProgress((double)myDone * 100.0 / (double)myTotal))
                    return eArchiveStopped;
            }
            if (e.method == 8 ? ended : (left == 0 && used == have)) break;
        }
        if (made != e.size || crc != e.crc) return eArchiveDamaged;
        return eArchiveOk;
    }

private:
    bool stopped() const { return myOwner && myOwner->haveToStop(); }
    cFileIO& myFile;
    cProgressNotifyTarget* myProgress;
    const cJob* myOwner;
    unsigned long long myTotal;
    unsigned long long myDone = 0;
    _typebuf<unsigned char> myIn, myOut;
    cZInflate myInflate;
};

// Makes the entries under the open folder `root`.
int unpackEntries(cFileIO& f, const _List<sZipEntry>& entries, unsigned long long total, int root,
                  cProgressNotifyTarget* progress, const cJob* owner) {
    cEntryWriter writer(f, progress, owner, total);
    for (auto* it = entries.head; it; it = it->next) {
        const sZipEntry& e = it->value;
        if (owner && owner->haveToStop()) return eArchiveStopped;
        _guardchar<char> name(e.name.ptr);
        if (!name.ptr) return eArchiveUnreadable;
        const char* leaf = nullptr;
        int folder = walkFolders(root, name.ptr, e.folder, leaf);
        if (folder < 0) return eArchiveDamaged;
        if (e.folder) {
            closeFd(folder);
            continue;
        }
        // O_EXCL: a name given twice (or a file where a folder was) is refused.
        int out = openat(folder, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        int openError = errno;
        closeFd(folder);
        if (out < 0) return openError == EEXIST ? eArchiveDamaged : eArchiveWrite;
        int r = writer.write(e, out);
        // Permission bits only: the executable bits matter, set-id bits never come along.
        unsigned int perm = (e.mode & 0777) ? ((e.mode & 0755) | 0600) : 0644;
        if (r == eArchiveOk && fchmod(out, perm) != 0) r = eArchiveWrite;
        if (close(out) != 0 && r == eArchiveOk) r = eArchiveWrite;
        if (r != eArchiveOk) return r;
    }
    return eArchiveOk;
}

_guardchar<char> gOpener;

}  // namespace

int checkUpdateArchive(const char* path, unsigned long long room) {
    cFileIO f;
    if (!path || !f.open(path, cFileIO::eRead)) return eArchiveUnreadable;
    unsigned long long total = 0;
    return readArchive(f, room, nullptr, total);
}

bool removeUpdateFolder(const char* folder) {
    return folder && *folder && isFolderNoLink(folder) && removeTree(folder);
}

namespace {

// The temporary folder updates are unpacked in.
const char* updateTempFolder() {
    const char* tmp = getenv("TMPDIR");
    return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

}  // namespace

bool removeStartFolder(const char* exePath) {
    char real[PATH_MAX], tmp[PATH_MAX];
    if (!exePath || !realpath(exePath, real) || !realpath(updateTempFolder(), tmp)) return false;
    // "<temp>/qmxsopkg-XXXXXX/<bundle>.app/Contents/MacOS/<program>".
    _guardchar<char> bundle, folder;
    if (!laidOutBundleRootOf(real, bundle) || !folderAbove(bundle.ptr, 1, folder)) return false;
    const char* slash = strrchr(folder.ptr, '/');
    const char* name = slash ? slash + 1 : folder.ptr;
    static const char kPrefix[] = "qmxsopkg-";
    const size_t k = sizeof(kPrefix) - 1;
    if (strncmp(name, kPrefix, k) != 0 || strlen(name) != k + 6) return false;
    for (const char* c = name + k; *c; c++)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9'))) return false;
    // Directly in the temporary folder, and ours as mkdtemp made it: a folder, not a link,
    // owned by us and closed to everybody else.
    if (name - 1 != folder.ptr + strlen(tmp) || strncmp(folder.ptr, tmp, strlen(tmp)) != 0) return false;
    struct stat st;
    if (lstat(folder.ptr, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)
        return false;
    return removeUpdateFolder(folder.ptr);
}

bool unpackUpdateArchive(const char* archive, _guardchar<char>& folder, cProgressNotifyTarget* progress,
                         const cJob* owner, int* reason) {
    int dummy = 0;
    int& why = reason ? *reason : dummy;
    folder.clear();
    why = eArchiveUnreadable;
    cFileIO f;
    if (!archive || !*archive || !f.open(archive, cFileIO::eRead)) return false;
    const char* tmp = updateTempFolder();
    unsigned long long volume = 0, avail = 0, room = ~0ULL;
    if (cFolderContents::getVolInfo(tmp, volume, avail)) room = avail > kMargin ? avail - kMargin : 0;
    _List<sZipEntry> entries;
    unsigned long long total = 0;
    why = readArchive(f, room, &entries, total);
    if (why != eArchiveOk) return false;
    _guardchar<char> pattern;
    why = eArchiveWrite;
    if (!joinPath(tmp, "qmxsopkg-XXXXXX", pattern) || !mkdtemp(pattern.ptr)) return false;
    int root = open(pattern.ptr, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    why = root < 0 ? eArchiveWrite : unpackEntries(f, entries, total, root, progress, owner);
    closeFd(root);
    if (why != eArchiveOk) {
        removeUpdateFolder(pattern.ptr);
        return false;
    }
    folder.attach(pattern.dettach());
    return true;
}

bool findUpdateBundle(const char* folder, _guardchar<char>& bundle) {
    if (!folder) return false;
    DIR* d = opendir(folder);
    if (!d) return false;
    bool found = false;
    // Bounded: a folder of an archive's top level, at most its entry count.
    for (int guard = 0; guard < 1000000 && !found; guard++) {
        dirent* de = readdir(d);
        if (!de) break;
        if (!strcmp(de->d_name, ".") || !strcmp(de->d_name, "..") || !isBundleName(de->d_name)) continue;
        _guardchar<char> path, data;
        if (!joinPath(folder, de->d_name, path) || !isFolderNoLink(path.ptr)) continue;
        if (!bundlePath(path.ptr, eBundleScenarioData, data)) continue;
        // Each level checked without following links, so the data lies inside the bundle.
        _guardchar<char> contents, resources;
        if (!bundlePath(path.ptr, eBundleContents, contents) || !isFolderNoLink(contents.ptr)) continue;
        if (!bundlePath(path.ptr, eBundleResources, resources) || !isFolderNoLink(resources.ptr)) continue;
        if (!isRegularNoLink(data.ptr)) continue;
        bundle.attach(path.dettach());
        found = true;
    }
    closedir(d);
    return found;
}

bool startUpdateInstaller(const char* bundle) {
    _guardchar<char> macos, exe;
    if (!bundle || !bundlePath(bundle, eBundleMacOS, macos) || !isFolderNoLink(macos.ptr)) return false;
    if (!bundlePath(bundle, eBundleInstaller, exe) || !isRegularNoLink(exe.ptr) || access(exe.ptr, X_OK) != 0)
        return false;
    const char* argv[] = {exe.ptr, nullptr};
    return startDetached(argv);
}

bool isOpenableWebAddress(const char* a) {
    if (!a) return false;
    long long skip = __stricmp(a, "http://", 7) == 0 ? 7 : __stricmp(a, "https://", 8) == 0 ? 8 : 0;
    if (!skip || !a[skip] || a[skip] == '/') return false;
    for (const unsigned char* p = (const unsigned char*)a; *p; p++)
        if (*p <= 0x20 || *p == 0x7F) return false;
    return true;
}

void setWebOpener(const char* program) { gOpener.set(program); }

bool openWebAddress(const char* address) {
    if (!isOpenableWebAddress(address)) return false;
    const char* opener = gOpener.ptr && *gOpener.ptr ? gOpener.ptr : "xdg-open";
    const char* argv[] = {opener, address, nullptr};
    return startDetached(argv);
}
