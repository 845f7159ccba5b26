// Whole writes, the plain file operations and the safe replacement of a file.
#include "base/fileops.h"

#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "base/folders.h"

namespace {

// One system call moves at most this much (Linux stops near 2 GiB anyway).
const long long kMaxChunk = 1LL << 30;

size_t chunkOf(long long n) { return (size_t)(n > kMaxChunk ? kMaxChunk : n); }

// The folder of a path: up to its last "/" ("/" for "/name", "." without one).
bool folderOf(const char* path, _guardchar<char>& out) {
    if (path[0] == '/') return parentFolder(path, out);
    const char* slash = strrchr(path, '/');
    return slash ? out.set(path, slash - path) : out.set(".");
}

// Six letters for a unique name: a clash is simply tried again, so they need only differ
// between tries and between processes, not be unpredictable.
void uniqueLetters(char* at) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned long long> tries{0};
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    unsigned long long v = (unsigned long long)ts.tv_nsec ^ ((unsigned long long)ts.tv_sec << 30) ^
                           ((unsigned long long)getpid() << 16) ^ (++tries * 0x9E3779B97F4A7C15ULL);
    v ^= v >> 31;
    v *= 0xBF58476D1CE4E5B9ULL;
    v ^= v >> 29;
    for (int i = 0; i < 6; i++, v /= 62) at[i] = kLetters[v % 62];
}

int createBeside(_guardchar<char>& tmp, cFileOps* ops) {
    size_t n = strlen(tmp.ptr);
    if (n < 6 || memcmp(tmp.ptr + n - 6, "XXXXXX", 6) != 0) {
        struct stat st;
        if (lstat(tmp.ptr, &st) == 0 && !S_ISDIR(st.st_mode) && !ops->unlink(tmp.ptr)) return -1;
        return ops->createExclusive(tmp.ptr, 0600);
    }
    for (int attempt = 0; attempt < 100; attempt++) {
        uniqueLetters(tmp.ptr + n - 6);
        errno = 0;
        int fd = ops->createExclusive(tmp.ptr, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool writeAll(int fd, const void* data, long long n) {
    const char* p = (const char*)data;
    while (n > 0) {
        ssize_t w = ::write(fd, p, chunkOf(n));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= w;
    }
    return true;
}

long long pwriteSome(int fd, const void* data, long long n, unsigned long long at) {
    long long done = 0;
    while (done < n) {
        ssize_t w = ::pwrite(fd, (const char*)data + done, chunkOf(n - done), (off_t)(at + (unsigned long long)done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;  // failed, or no room and no error to wait for
        done += w;
    }
    return done;
}

bool pwriteAll(int fd, const void* data, long long n, unsigned long long at) {
    return pwriteSome(fd, data, n, at) == (n > 0 ? n : 0);
}

long long preadAll(int fd, void* data, long long n, unsigned long long at) {
    long long done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, (char*)data + done, chunkOf(n - done), (off_t)(at + (unsigned long long)done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;  // a failed read is not the end of the file
        if (r == 0) break;
        done += r;
    }
    return done;
}

cFileOps* cFileOps::plain() {
    static cFileOps ops;
    return &ops;
}

int cFileOps::createExclusive(const char* path, int mode) {
    if (!path || !*path) return -1;
    int fd;
    do fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, (mode_t)mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool cFileOps::write(int fd, const void* data, long long n) { return writeAll(fd, data, n); }

bool cFileOps::writeAt(int fd, const void* data, long long n, unsigned long long at) {
    return pwriteAll(fd, data, n, at);
}

bool cFileOps::close(int fd) { return fd >= 0 && ::close(fd) == 0; }

bool cFileOps::sync(int fd) {
    int r;
    do r = ::fsync(fd);
    while (r != 0 && errno == EINTR);
    return r == 0;
}

bool cFileOps::chmod(int fd, int mode) { return ::fchmod(fd, (mode_t)mode) == 0; }

bool cFileOps::rename(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

bool cFileOps::unlink(const char* path) { return path && ::unlink(path) == 0; }

bool cFileOps::syncFolder(const char* path) {
    if (!path || !*path) return false;
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = sync(fd);
    return ::close(fd) == 0 && ok;
}

bool syncFolderOf(const char* path, cFileOps* ops) {
    if (!ops) ops = cFileOps::plain();
    _guardchar<char> folder;
    return path && *path && folderOf(path, folder) && ops->syncFolder(folder.ptr);
}

int replaceFileWith(const char* target, _guardchar<char>& tmp, int mode, cFileFill& content, cFileOps* ops) {
    if (!ops) ops = cFileOps::plain();
    if (!target || !*target || !tmp.ptr || !*tmp.ptr) return eReplaceCannotCreate;
    int fd = createBeside(tmp, ops);
    if (fd < 0) return eReplaceCannotCreate;
    bool ok = content.fill(fd) && ops->chmod(fd, mode) && ops->sync(fd);
    ok = ops->close(fd) && ok;
    if (!ok || !ops->rename(tmp.ptr, target)) {
        ops->unlink(tmp.ptr);
        return eReplaceFailed;
    }
    return syncFolderOf(target, ops) ? eReplaceDone : eReplaceNotFlushed;
}
