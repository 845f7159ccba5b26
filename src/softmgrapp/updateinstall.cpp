// After the download: the archive is judged from its central directory before unzip sees
// it, unpacked into a folder only this user can reach, and only a bundle that looks like
// a generated installer is started. Nothing passes through a shell.
#include "softmgrapp/updateinstall.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/fileio.h"
#include "base/process.h"
#include "base/strings.h"

namespace {

// APPNOTE 4.3.16: the end of central directory record; its comment is at most 65535 bytes.
const long long kEocdSize = 22;
const long long kMaxComment = 65535;
// An update archive's central directory is small; more is refused rather than read.
const long long kMaxDirectory = 16LL << 20;
const long long kCdHeaderSize = 46;

unsigned int le16(const unsigned char* p) { return (unsigned)p[0] | (unsigned)p[1] << 8; }
unsigned int le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }

bool readAt(cFileIO& f, unsigned long long at, void* buf, long long n) { return f.set_fp(at) && f.readf(buf, n); }

int checkName(const unsigned char* name, long long n) {
    if (n <= 0) return eArchiveBadName;
    if (memchr(name, 0, (size_t)n)) return eArchiveBadName;
    if (name[0] == '/' || name[0] == '\\') return eArchiveAbsolute;
    // A drive letter ("C:") is absolute on the systems that write them.
    if (n >= 2 && name[1] == ':') return eArchiveAbsolute;
    // unzip may turn backslashes into separators: they are refused outright.
    if (memchr(name, '\\', (size_t)n)) return eArchiveDotDot;
    long long start = 0;
    for (long long i = 0; i <= n; i++) {
        if (i == n || name[i] == '/') {
            if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return eArchiveDotDot;
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

// The end record, searched backwards from the end of the file.
bool findEnd(cFileIO& f, unsigned long long size, unsigned long long& at, _typebuf<unsigned char>& tail) {
    if (size < (unsigned long long)kEocdSize) return false;
    long long n = (long long)(size < (unsigned long long)(kEocdSize + kMaxComment) ? size : kEocdSize + kMaxComment);
    if (!tail.set(n) || !readAt(f, size - (unsigned long long)n, tail.ptr, n)) return false;
    for (long long i = n - kEocdSize; i >= 0; i--) {
        const unsigned char* p = tail.ptr + i;
        if (p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6 && i + kEocdSize + le16(p + 20) <= n) {
            at = size - (unsigned long long)n + (unsigned long long)i;
            return true;
        }
    }
    return false;
}

bool endsWithApp(const char* name) {
    const char* dot = strrchr(name, '.');
    return dot && dot != name && __stricmp(dot, ".app") == 0;
}

bool joinPath(const char* a, const char* b, _guardchar<char>& out) {
    long long n = (long long)strlen(a) + 1 + (long long)strlen(b);
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s/%s", a, b);
    return true;
}

bool isRegularNoLink(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolderNoLink(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

_guardchar<char> gOpener;

}  // namespace

int checkUpdateArchive(const char* path) {
    cFileIO f;
    if (!path || !f.open(path, cFileIO::eRead)) return eArchiveUnreadable;
    unsigned long long size = f.size();
    unsigned long long endAt = 0;
    _typebuf<unsigned char> tail;
    if (!findEnd(f, size, endAt, tail)) return eArchiveNotZip;
    const unsigned char* e = tail.ptr + (endAt - (size - (unsigned long long)tail.count));
    unsigned int disk = le16(e + 4), cdDisk = le16(e + 6), onDisk = le16(e + 8), total = le16(e + 10);
    unsigned long long cdSize = le32(e + 12), cdOffset = le32(e + 16);
    if (total == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) return eArchiveTooLarge;
    if (disk != 0 || cdDisk != 0 || onDisk != total) return eArchiveNotZip;
    if (cdOffset + cdSize > endAt) return eArchiveNotZip;
    if ((long long)cdSize > kMaxDirectory) return eArchiveTooLarge;
    if ((unsigned long long)total * kCdHeaderSize > cdSize) return eArchiveNotZip;
    _typebuf<unsigned char> dir;
    if (!dir.set(cdSize ? (long long)cdSize : 1) || (cdSize && !readAt(f, cdOffset, dir.ptr, (long long)cdSize)))
        return eArchiveUnreadable;
    long long pos = 0;
    for (unsigned int i = 0; i < total; i++) {
        if ((long long)cdSize - pos < kCdHeaderSize) return eArchiveNotZip;
        const unsigned char* h = dir.ptr + pos;
        if (le32(h) != 0x02014b50u) return eArchiveNotZip;
        long long nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
        long long entry = kCdHeaderSize + nameLen + extraLen + commentLen;
        if (entry > (long long)cdSize - pos) return eArchiveNotZip;
        if (le32(h + 20) == 0xFFFFFFFFu || le32(h + 24) == 0xFFFFFFFFu || le32(h + 42) == 0xFFFFFFFFu)
            return eArchiveTooLarge;
        int r = checkName(h + kCdHeaderSize, nameLen);
        if (r == eArchiveOk) r = checkType(le16(h + 4), le32(h + 38));
        if (r != eArchiveOk) return r;
        pos += entry;
    }
    return eArchiveOk;
}

bool unpackUpdateArchive(const char* archive, _guardchar<char>& folder) {
    folder.clear();
    if (!archive || !*archive || checkUpdateArchive(archive) != eArchiveOk) return false;
    const char* tmp = getenv("TMPDIR");
    if (!tmp || tmp[0] != '/') tmp = "/tmp";
    _guardchar<char> pattern;
    if (!joinPath(tmp, "qmxsopkg-XXXXXX", pattern) || !mkdtemp(pattern.ptr)) return false;
    folder.attach(pattern.dettach());
    // A name starting with "-" would be read as an option.
    _guardchar<char> arg;
    if (archive[0] == '-') {
        if (!joinPath(".", archive, arg)) return false;
    } else if (!arg.set(archive)) {
        return false;
    }
    const char* argv[] = {"unzip", "-oq", arg.ptr, "-d", folder.ptr, nullptr};
    return execCmd(argv) == 0;
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
        if (!strcmp(de->d_name, ".") || !strcmp(de->d_name, "..") || !endsWithApp(de->d_name)) continue;
        _guardchar<char> path, data;
        if (!joinPath(folder, de->d_name, path) || !isFolderNoLink(path.ptr)) continue;
        if (!joinPath(path.ptr, "Contents/Resources/scenario.data", data)) continue;
        // Each level checked without following links, so the data lies inside the bundle.
        _guardchar<char> contents, resources;
        if (!joinPath(path.ptr, "Contents", contents) || !isFolderNoLink(contents.ptr)) continue;
        if (!joinPath(contents.ptr, "Resources", resources) || !isFolderNoLink(resources.ptr)) continue;
        if (!isRegularNoLink(data.ptr)) continue;
        bundle.attach(path.dettach());
        found = true;
    }
    closedir(d);
    return found;
}

bool startUpdateInstaller(const char* bundle) {
    _guardchar<char> macos, exe;
    if (!bundle || !joinPath(bundle, "Contents/MacOS", macos) || !isFolderNoLink(macos.ptr)) return false;
    if (!joinPath(macos.ptr, "Installer", exe) || !isRegularNoLink(exe.ptr) || access(exe.ptr, X_OK) != 0)
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
