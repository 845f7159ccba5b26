// The file operations of installing and removing packages, and the removal helpers.
#include "instengine/installfs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

cInstallFS* cInstallFS::plain() {
    static cInstallFS fs;
    return &fs;
}

void cInstallFS::startWriteback(int fd, unsigned long long at, unsigned long long n) {
    sync_file_range(fd, (off_t)at, (off_t)n, SYNC_FILE_RANGE_WRITE);
}

bool cInstallFS::syncFileSystem(int fd) {
    int r;
    do r = ::syncfs(fd);
    while (r != 0 && errno == EINTR);
    return r == 0;
}

bool cInstallFS::canOpenForWrite(const char* path) {
    if (!path) return false;
    int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return ok;
}

bool cInstallFS::mkdir(const char* path) {
    if (!path) return false;
    if (::mkdir(path, 0755) == 0) return true;
    return errno == EEXIST && objKind(path) == eObjFolder;
}

bool cInstallFS::rmdir(const char* path) { return path && ::rmdir(path) == 0; }

eObjKind objKind(const char* path) {
    struct stat st;
    if (!path || !*path || lstat(path, &st) != 0) return eObjNone;
    if (S_ISREG(st.st_mode)) return eObjFile;
    if (S_ISDIR(st.st_mode)) return eObjFolder;
    return eObjOther;
}

cFolderNames::sFolder* cFolderNames::folder(const char* path, long long len) {
    if (myLast && myLastLen == len && memcmp(myLastPath.ptr, path, (size_t)len) == 0) return myLast;
    bool isNew = false;
    sFolder* f = myFolders.insert(cStringKey(path, len), isNew);
    if (!f || !myLastPath.set(path, len)) return myLast = nullptr;
    myLast = f;
    myLastLen = len;
    if (!isNew) return f;
    struct stat st, dst;
    if (lstat(myLastPath.ptr, &st) != 0) {
        if (errno == ENOENT) f->state = 0;
        return f;
    }
    if (!S_ISDIR(st.st_mode)) return f;
    DIR* d = opendir(myLastPath.ptr);
    if (!d) return f;
    // The folder listed must be the one looked at, not a link put in its place since.
    bool ok = fstat(dirfd(d), &dst) == 0 && dst.st_dev == st.st_dev && dst.st_ino == st.st_ino;
    for (errno = 0; ok;) {
        struct dirent* e = readdir(d);
        if (!e) {
            ok = errno == 0;
            break;
        }
        ok = f->names.insert(cStringKey(e->d_name)) != nullptr;
    }
    closedir(d);
    if (ok)
        f->state = 1;
    else
        f->names.destroy();
    return f;
}

eObjKind cFolderNames::kind(const char* path) {
    const char* cut = path && path[0] == '/' ? strrchr(path, '/') : nullptr;
    sFolder* f = cut ? folder(cut == path ? "/" : path, cut == path ? 1 : cut - path) : nullptr;
    if (f && (f->state == 0 || (f->state == 1 && !f->names.find(cStringKey(cut + 1))))) return eObjNone;
    return objKind(path);
}

bool isBelow(const char* path, const char* base) {
    if (!path || !base || !*base) return false;
    size_t n = strlen(base);
    while (n > 1 && base[n - 1] == '/') n--;
    if (n == 1 && base[0] == '/') return path[0] == '/' && path[1] != 0;
    return strncmp(path, base, n) == 0 && path[n] == '/' && path[n + 1] != 0;
}

bool realFolder(const char* folder, _guardchar<char>& out, bool pastFiles) {
    _guardchar<char> head;
    if (!head.set(folder)) return false;
    for (long long cut = (long long)strlen(head.ptr);;) {
        char keep = head.ptr[cut];
        head.ptr[cut] = 0;
        char real[PATH_MAX];
        bool found = realpath(cut ? head.ptr : "/", real) != nullptr;
        int error = errno;
        head.ptr[cut] = keep;
        if (found) {
            const char* rest = head.ptr + cut;  // "" or from a "/"
            return strcmp(real, "/") == 0 && *rest ? out.set(rest) : concatText(real, rest, out);
        }
        if ((error != ENOENT && (error != ENOTDIR || !pastFiles)) || cut == 0) return false;
        while (cut > 0 && head.ptr[cut - 1] != '/') cut--;
        if (cut > 0) cut--;
    }
}

bool makeFolderChain(const char* folder, cInstallFS* fs, const char* base, _List<_guardchar<char> >* created) {
    if (!fs) fs = cInstallFS::plain();
    if (!folder || folder[0] != '/') return false;
    _guardchar<char> p;
    if (!p.set(folder)) return false;
    long long n = (long long)strlen(p.ptr);
    // From the top down: each prefix ending before a "/" (and the whole path).
    for (long long i = 1; i <= n; i++) {
        if (i < n && p.ptr[i] != '/') continue;
        char keep = p.ptr[i];
        p.ptr[i] = 0;
        eObjKind kind = objKind(p.ptr);
        bool ok = true;
        if (kind == eObjNone) {
            ok = fs->mkdir(p.ptr);
            if (ok && created) {
                _guardchar<char>* c = created->add();
                ok = c && c->set(p.ptr);
            }
        } else if (kind != eObjFolder) {
            // A link to a folder is an acceptable part of a chain the user set up, never
            // where the package makes its own folders.
            struct stat st;
            ok = kind == eObjOther && !(base && isBelow(p.ptr, base)) && stat(p.ptr, &st) == 0 && S_ISDIR(st.st_mode);
        }
        p.ptr[i] = keep;
        if (!ok) return false;
    }
    return true;
}

bool noLinkBelow(const char* path, const char* base) {
    if (!isBelow(path, base)) return false;
    _guardchar<char> p;
    if (!p.set(path)) return false;
    for (;;) {
        char* cut = strrchr(p.ptr, '/');
        if (!cut) return false;
        // The root is a folder like any other: a walk from below it ends there.
        cut[cut == p.ptr ? 1 : 0] = 0;
        if (!isBelow(p.ptr, base)) return objKind(p.ptr) == eObjFolder;
        if (objKind(p.ptr) != eObjFolder) return false;
    }
}

bool rmFileClean(const char* path, const char* stopAbove, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    eObjKind kind = objKind(path);
    if (kind == eObjNone) return true;
    if (kind != eObjFile || !fs->unlink(path)) return false;
    if (!stopAbove || !isBelow(path, stopAbove)) return true;
    _guardchar<char> p;
    if (!p.set(path)) return true;
    for (;;) {
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return true;
        while (cut > p.ptr && cut[-1] == '/') cut--;
        *cut = 0;
        // Only folders strictly below the stop folder go; rmdir refuses a folder that
        // still holds something, which ends the walk (any other refusal is a failure).
        if (!isBelow(p.ptr, stopAbove) || objKind(p.ptr) != eObjFolder) return true;
        errno = 0;
        if (!fs->rmdir(p.ptr)) return errno == ENOTEMPTY || errno == EEXIST || objKind(p.ptr) != eObjFolder;
    }
}

bool moveFileClean(const char* from, const char* to, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    if (objKind(from) != eObjFile || !fs->canOpenForWrite(from)) return false;
    return fs->rename(from, to);
}

namespace {

const int kMaxTreeDepth = 256;

bool removeTreeAt(int parentFd, const char* name, int depth) {
    struct stat st;
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parentFd, name, 0) == 0 || errno == ENOENT;
    if (depth >= kMaxTreeDepth) return false;
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (!removeTreeAt(dirfd(dir), e->d_name, depth + 1)) ok = false;
    }
    closedir(dir);
    if (!ok) return false;
    return unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

bool removeTree(const char* path) { return path && *path && removeTreeAt(AT_FDCWD, path, 0); }

const char* rootOf(const _List<_guardchar<char> >& roots, const char* path) {
    const char* best = nullptr;
    for (auto* it = roots.head; it; it = it->next)
        if (isBelow(path, it->value.ptr) && (!best || strlen(it->value.ptr) > strlen(best))) best = it->value.ptr;
    return best;
}

void rmMadeFolders(std::initializer_list<const _List<_guardchar<char> >*> lists, cInstallFS* fs) {
    long long n = 0;
    for (auto* l : lists) n += l->count();
    _typebuf<const char*> made;
    if (!made.set(n)) return;
    n = 0;
    for (auto* l : lists)
        for (auto* it = l->head; it; it = it->next) made.ptr[n++] = it->value.ptr;
    for (long long i = n - 1; i >= 0; i--)
        if (objKind(made.ptr[i]) == eObjFolder) fs->rmdir(made.ptr[i]);
}

bool addUnique(_List<_guardchar<char> >& list, const char* text) {
    for (auto* it = list.head; it; it = it->next)
        if (strcmp(it->value.ptr, text) == 0) return true;
    _guardchar<char>* e = list.add();
    return e && e->set(text);
}

bool addUnique(_List<_guardchar<char> >& list, cFasterTreeList<cStringKey, int>& seen, const char* text) {
    bool isNew = false;
    if (!seen.insert(cStringKey(text), isNew)) return false;
    if (!isNew) return true;
    _guardchar<char>* e = list.add();
    return e && e->set(text);
}
