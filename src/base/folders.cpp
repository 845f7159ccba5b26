// cFolderContents: directory listings and path services on POSIX calls.
#include "base/folders.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "base/textfileio.h"

namespace {

// A listing stops growing here rather than exhausting memory on a hostile folder.
const int kMaxEntries = 1 << 24;

int typeOfMode(mode_t m) {
    if (S_ISREG(m)) return cFolderContents::eFile;
    if (S_ISDIR(m)) return cFolderContents::eFolder;
    if (S_ISBLK(m)) return cFolderContents::eBlockDevice;
    if (S_ISCHR(m)) return cFolderContents::eCharDevice;
    if (S_ISSOCK(m)) return cFolderContents::eSocket;
    return cFolderContents::eOther;
}

void toTimestamp(time_t t, sTimestamp& out) {
    struct tm tmv;
    if (!localtime_r(&t, &tmv) || tmv.tm_year + 1900 < 1 || tmv.tm_year + 1900 > 65535) {
        out = sTimestamp();
        return;
    }
    out.year = (unsigned short)(tmv.tm_year + 1900);
    out.month = (unsigned char)(tmv.tm_mon + 1);
    out.day = (unsigned char)tmv.tm_mday;
    out.hour = (unsigned char)tmv.tm_hour;
    out.minute = (unsigned char)tmv.tm_min;
    out.second = (unsigned char)tmv.tm_sec;
}

// One mask (not zero-terminated) against a whole name. Iterative: on a mismatch only
// the last "*" is retried one byte further on, so the work is at most
// name length x mask length.
bool matchMask(const char* s, const char* p, size_t plen) {
    size_t pi = 0;
    size_t starP = 0;
    const char* starS = nullptr;
    while (*s) {
        if (pi < plen && p[pi] == '*') {
            starP = ++pi;
            starS = s;
        } else if (pi < plen && (p[pi] == '?' || p[pi] == *s)) {
            pi++;
            s++;
        } else if (starS) {
            pi = starP;
            s = ++starS;
        } else {
            return false;
        }
    }
    while (pi < plen && p[pi] == '*') pi++;
    return pi == plen;
}

// Pseudo and virtual file systems that are not places for the user's files.
bool isPseudoFs(const char* type) {
    static const char* const kPseudo[] = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2", "securityfs",
        "pstore", "debugfs", "tracefs", "mqueue", "hugetlbfs", "configfs", "fusectl", "binfmt_misc",
        "autofs", "bpf", "efivarfs", "nsfs", "rpc_pipefs", "selinuxfs", "squashfs", "overlay",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs", "nfsd", "sockfs", "pipefs", "cpuset",
    };
    for (const char* t : kPseudo)
        if (strcmp(type, t) == 0) return true;
    return false;
}

bool isNetworkFs(const char* type) {
    static const char* const kNet[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "afs"};
    for (const char* t : kNet)
        if (strcmp(type, t) == 0) return true;
    return false;
}

// Mount points under the system's own trees are not volumes for the user.
bool isSystemMountPoint(const char* mp) {
    static const char* const kSystem[] = {"/proc", "/sys", "/dev", "/run", "/snap", "/boot", "/var/lib"};
    if (strcmp(mp, "/") == 0) return true;
    if (strncmp(mp, "/run/media/", 11) == 0) return false;
    for (const char* s : kSystem) {
        size_t n = strlen(s);
        if (strncmp(mp, s, n) == 0 && (mp[n] == 0 || mp[n] == '/')) return true;
    }
    return false;
}

// Splits off the next blank-separated field of a mount-table line, in place.
char* nextField(char*& cursor) {
    while (*cursor == ' ' || *cursor == '\t') cursor++;
    if (!*cursor) return nullptr;
    char* start = cursor;
    while (*cursor && *cursor != ' ' && *cursor != '\t') cursor++;
    if (*cursor) *cursor++ = 0;
    return start;
}

// The mount table writes blanks, tabs, newlines and backslashes as \ooo.
void unescapeOctal(char* s) {
    char* out = s;
    while (*s) {
        if (s[0] == '\\' && s[1] >= '0' && s[1] <= '3' && s[2] >= '0' && s[2] <= '7' && s[3] >= '0' && s[3] <= '7') {
            int v = (s[1] - '0') * 64 + (s[2] - '0') * 8 + (s[3] - '0');
            if (v == 0) break;
            *out++ = (char)v;
            s += 4;
        } else {
            *out++ = *s++;
        }
    }
    *out = 0;
}

}  // namespace

bool parentFolder(const char* path, _guardchar<char>& out) {
    if (!path || path[0] != '/' || !out.set(path)) return false;
    char* cut = strrchr(out.ptr, '/');
    cut[cut == out.ptr ? 1 : 0] = 0;
    return true;
}

bool joinPath(const char* folder, const char* name, _guardchar<char>& out) {
    const size_t fl = folder ? strlen(folder) : 0;
    if (!name) name = "";
    const bool folderSlash = fl && folder[fl - 1] == '/';
    if (folderSlash && name[0] == '/') name++;
    const size_t nl = strlen(name);
    const size_t sep = fl && !folderSlash && name[0] != '/' ? 1 : 0;
    // Built aside: out may hold the folder.
    _guardchar<char> r;
    if (!r.set((long long)(fl + sep + nl))) return false;
    if (fl) memcpy(r.ptr, folder, fl);
    if (sep) r.ptr[fl] = '/';
    memcpy(r.ptr + fl + sep, name, nl);
    out.attach(r.dettach());
    return true;
}

bool isPlainAbsPath(const char* path) {
    if (!path || path[0] != '/') return false;
    const char* seg = path + 1;
    for (const char* c = path + 1;; c++) {
        if (*c && (unsigned char)*c < 0x20) return false;
        if (*c && *c != '/') continue;
        long long len = c - seg;
        if (len == 0 && (*c || c != path + 1)) return false;  // "//" or a trailing "/"
        if ((len == 1 && seg[0] == '.') || (len == 2 && seg[0] == '.' && seg[1] == '.')) return false;
        if (!*c) return true;
        seg = c + 1;
    }
}

void resolveDotParts(char* path) {
    if (!path || !*path) return;
    char* start = path + (path[0] == '/' ? 1 : 0);
    char* out = start;   // the parts kept so far end here (no "/" after the last)
    char* floor = start; // a relative path's unresolved ".." parts end here
    const char* in = start;
    for (;;) {
        while (*in == '/') in++;
        if (!*in) break;
        const char* end = in;
        while (*end && *end != '/') end++;
        size_t n = (size_t)(end - in);
        if (n == 2 && in[0] == '.' && in[1] == '.') {
            if (out > floor) {
                while (out > floor && out[-1] != '/') out--;
                if (out > floor) out--;  // the "/" before the part taken away
            } else if (start == path) {  // relative: kept
                if (out > start) *out++ = '/';
                memmove(out, in, n);
                out += n;
                floor = out;
            }
        } else if (!(n == 1 && in[0] == '.')) {
            if (out > start) *out++ = '/';
            memmove(out, in, n);  // out never passes in
            out += n;
        }
        in = end;
    }
    if (out == start && start == path) *out++ = '.';
    *out = 0;
}

bool nearestExistingFolder(const char* path, _guardchar<char>& out) {
    _guardchar<char> at;
    if (!path || !at.set(path)) return false;
    while (cFolderContents::objtype(at.ptr) != cFolderContents::eFolder) {
        char* slash = strrchr(at.ptr, '/');
        if (!slash || (slash == at.ptr && !slash[1])) return false;
        // "/name" goes up to "/" itself.
        slash[slash == at.ptr ? 1 : 0] = 0;
    }
    out.attach(at.dettach());
    return true;
}

int cFolderContents::objtype(const char* path) {
    if (!path || !path[0]) return eNothing;
    struct stat st;
    if (stat(path, &st) == 0) return typeOfMode(st.st_mode);
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) return eLink;
    return eNothing;
}

void cFolderContents::clear() {
    for (int i = 0; i < myCount; i++) delete myItems[i];
    free(myItems);
    myItems = nullptr;
    myCount = myCapacity = 0;
    myFolder.clear();
}

sFolderItemInfo* cFolderContents::addItem() {
    if (myCount >= kMaxEntries) return nullptr;
    if (myCount == myCapacity) {
        int cap = myCapacity ? myCapacity * 2 : 64;
        sFolderItemInfo** p = (sFolderItemInfo**)realloc(myItems, (size_t)cap * sizeof(sFolderItemInfo*));
        if (!p) return nullptr;
        myItems = p;
        myCapacity = cap;
    }
    sFolderItemInfo* item = new (std::nothrow) sFolderItemInfo();
    if (item) myItems[myCount++] = item;
    return item;
}

sFolderItemInfo* cFolderContents::info(int i) const {
    return i >= 0 && i < myCount ? myItems[i] : nullptr;
}

bool cFolderContents::path(int i, _guardchar<char>& out) const {
    const sFolderItemInfo* item = info(i);
    if (!item || !item->name.ptr) return false;
    if (!myFolder.ptr) return out.set(item->name.ptr);
    return joinPath(myFolder.ptr, item->name.ptr, out);
}

bool cFolderContents::init(const char* folder, bool filesAndFoldersOnly) {
    clear();
    if (!folder || !folder[0]) return false;
    DIR* dir = opendir(folder);
    if (!dir) return false;
    if (!myFolder.set(folder)) {
        closedir(dir);
        return false;
    }
    _guardchar<char> full;
    bool ok = true;
    for (;;) {
        errno = 0;
        struct dirent* de = readdir(dir);
        if (!de) {
            ok = errno == 0;
            break;
        }
        const char* name = de->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        if (!joinPath(folder, name, full)) {
            ok = false;
            break;
        }
        struct stat st;
        int type;
        bool haveStat = stat(full.ptr, &st) == 0;
        if (haveStat)
            type = typeOfMode(st.st_mode);
        else {
            struct stat lst;
            type = lstat(full.ptr, &lst) == 0 && S_ISLNK(lst.st_mode) ? (int)eLink : (int)eNothing;
        }
        if (filesAndFoldersOnly && type != eFile && type != eFolder) continue;
        sFolderItemInfo* item = addItem();
        if (!item || !item->name.set(name)) {
            ok = false;
            break;
        }
        item->type = (unsigned int)type;
        item->hidden = name[0] == '.';
        if (haveStat) {
            if (type == eFile && st.st_size > 0) item->size = (unsigned long long)st.st_size;
            toTimestamp(st.st_mtime, item->date);
        }
    }
    closedir(dir);
    if (!ok) {
        clear();
        return false;
    }
    return true;
}

bool cFolderContents::enumSpecialLocations() {
    return enumSpecialLocations("/proc/self/mounts");
}

bool cFolderContents::enumSpecialLocations(const char* mountTable) {
    clear();
    _guardchar<char> home;
    if (getHome(home) && objtype(home.ptr) == eFolder) {
        sFolderItemInfo* item = addItem();
        if (!item || !item->name.set(home.ptr)) return false;
        item->type = eSpecialFolder;
    }
    sFolderItemInfo* root = addItem();
    if (!root || !root->name.set("/")) return false;
    root->type = eFileSystem;

    cTextFileIO table;
    if (!mountTable || !table.open(mountTable)) return true;  // the places above still stand
    _typebuf<char> line;
    while (table.gets(line)) {
        char* cursor = line.ptr;
        char* device = nextField(cursor);
        char* mountPoint = nextField(cursor);
        char* type = nextField(cursor);
        if (!device || !mountPoint || !type) continue;
        unescapeOctal(mountPoint);
        if (mountPoint[0] != '/' || isPseudoFs(type) || isSystemMountPoint(mountPoint)) continue;
        if (device[0] != '/' && !isNetworkFs(type)) continue;
        if (objtype(mountPoint) != eFolder) continue;  // bind-mounted files and unreachable places
        bool seen = false;
        for (int i = 0; i < myCount && !seen; i++) seen = strcmp(myItems[i]->name.ptr, mountPoint) == 0;
        if (seen) continue;
        sFolderItemInfo* item = addItem();
        if (!item || !item->name.set(mountPoint)) return false;
        item->type = eVolume;
        const char* base = strrchr(mountPoint, '/');
        item->displayName.set(base && base[1] ? base + 1 : mountPoint);
    }
    return true;
}

bool cFolderContents::getHome(_guardchar<char>& out) {
    const char* env = getenv("HOME");
    if (env && env[0]) return out.set(env);
    long sz = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (sz <= 0 || sz > (1 << 20)) sz = 16384;
    _typebuf<char> buf;
    if (!buf.set(sz)) return false;
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.ptr, (size_t)buf.count, &found) != 0 || !found || !found->pw_dir ||
        !found->pw_dir[0])
        return false;
    return out.set(found->pw_dir);
}

bool cFolderContents::mkdir(const char* path) {
    if (!path || !path[0]) return false;
    if (::mkdir(path, 0775) == 0) return true;
    return errno == EEXIST && objtype(path) == eFolder;
}

bool cFolderContents::removeDir(const char* path) {
    return path && path[0] && rmdir(path) == 0;
}

bool cFolderContents::canWrite(const char* path) {
    struct stat st;
    if (!path || !path[0] || stat(path, &st) != 0) return false;
    if (geteuid() == 0) return true;
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

bool cFolderContents::getVolInfo(const char* path, unsigned long long& total, unsigned long long& avail) {
    struct statvfs sv;
    if (!path || !path[0] || statvfs(path, &sv) != 0) return false;
    unsigned long long unit = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    total = unit * (unsigned long long)sv.f_blocks;
    avail = unit * (unsigned long long)sv.f_bavail;
    return true;
}

bool cFolderContents::setPermissions(const char* path, int user, int group, int others) {
    if (!path || !path[0] || user < 0 || user > 7 || group < 0 || group > 7 || others < 0 || others > 7) return false;
    return chmod(path, (mode_t)((user * 8 + group) * 8 + others)) == 0;
}

bool cFolderContents::wcmmatch(const char* name, const char* masks) {
    if (!masks || !masks[0]) return true;
    if (!name) name = "";
    bool anyMask = false;
    const char* p = masks;
    for (;;) {
        const char* end = strchr(p, ';');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len > 0) {
            anyMask = true;
            if (matchMask(name, p, len)) return true;
        }
        if (!end) break;
        p = end + 1;
    }
    return !anyMask;  // only separators: no real mask
}
