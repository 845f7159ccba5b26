/* A fault layer preloaded into a test driver (LD_PRELOAD): it counts the file operations
   made at the C library while armed, and at operation N (QMXFAULT_AT) acts as
   QMXFAULT_MODE says:
     "eio"       fails it with EIO;
     "enospc"    fails it and every later operation that needs space with ENOSPC;
     "kill"      kills the process with SIGKILL before it;
     "killafter" lets it happen, then kills the process;
     "short"     lets it and every later write move at most half of its bytes (a short
                 write, which is no failure: the caller has to write the rest);
     "erofs"     fails it and every later operation that changes anything with EROFS (a
                 file system that turned read-only; opening for reading still works);
     "eacces"    fails it with EACCES;
     "read"      counts the reads alone, of files whose path contains QMXFAULT_READPATH,
                 and fails read N with EIO (the other modes never count reads);
     "open"      counts the openings for reading alone, of paths that end in
                 QMXFAULT_READPATH, and fails opening N with EIO.
   The driver arms and disarms it through qmx_fault_arm and qmx_fault_disarm, found with
   dlsym; without the layer those are absent and the driver runs unfaulted. Under
   AddressSanitizer the sanitizer's runtime is preloaded first: its interceptors then reach
   these functions as the next definitions and these reach the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum { mEio, mEnospc, mKill, mKillAfter, mShort, mErofs, mEacces, mRead, mOpen };
/* What an operation is: one that needs space, an open that changes nothing, a read. */
enum { kSpace = 1, kReadOnly = 2, kRead = 4 };
/* What the operation does: go on, fail (errno set), go on and then end, go on short. */
enum { GO, FAIL, KILL_AFTER, SHORT };

static int armed;
static long long ops, failAt = -1;
static int mode;
static const char* readPath;
static int nosync = -1; /* QMXFAULT_NOSYNC: flushes are counted but not made (the sweep is
                           about failures, not power cuts, and flushing costs it minutes) */

static int skipSync(void) {
    if (nosync < 0) nosync = getenv("QMXFAULT_NOSYNC") != NULL;
    return nosync;
}

void qmx_fault_arm(void) {
    static const char* const names[] = {"eio", "enospc", "kill", "killafter", "short", "erofs", "eacces", "read", "open"};
    const char* at = getenv("QMXFAULT_AT");
    const char* m = getenv("QMXFAULT_MODE");
    failAt = at ? atoll(at) : -1;
    mode = mEio;
    for (int i = 0; m && i < (int)(sizeof names / sizeof names[0]); i++)
        if (strcmp(m, names[i]) == 0) mode = i;
    readPath = getenv("QMXFAULT_READPATH");
    __atomic_store_n(&ops, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&armed, 1, __ATOMIC_SEQ_CST);
}

long long qmx_fault_disarm(void) {
    __atomic_store_n(&armed, 0, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&ops, __ATOMIC_SEQ_CST);
}

static int fault(int what) {
    if (!__atomic_load_n(&armed, __ATOMIC_SEQ_CST) || (mode == mRead || mode == mOpen) != ((what & kRead) != 0))
        return GO;
    long long n = __atomic_add_fetch(&ops, 1, __ATOMIC_SEQ_CST);
    if (failAt <= 0 || n < failAt) return GO;
    int at = n == failAt;
    switch (mode) {
        case mKill:
            if (at) kill(getpid(), SIGKILL);
            return GO;
        case mKillAfter: return at ? KILL_AFTER : GO;
        case mShort: return SHORT;
        case mEnospc:
            if (!(what & kSpace)) return GO;
            errno = ENOSPC;
            return FAIL;
        case mErofs:
            if (what & kReadOnly) return GO;
            errno = EROFS;
            return FAIL;
        default:
            if (!at) return GO;
            errno = mode == mEacces ? EACCES : EIO;
            return FAIL;
    }
}

static void after(int f) {
    if (f == KILL_AFTER) kill(getpid(), SIGKILL);
}

/* A read counts when its file's path contains QMXFAULT_READPATH. */
static int readFault(int fd) {
    if (mode != mRead || !__atomic_load_n(&armed, __ATOMIC_SEQ_CST) || !readPath) return GO;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return GO;
    path[n] = 0;
    return strstr(path, readPath) ? fault(kRead) : GO;
}

#define REAL(name)                     \
    static __typeof__(&name) real;     \
    if (!real) real = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

static mode_t modeArg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

static int openKind(int flags) {
    int changes = (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC));
    return (flags & O_CREAT ? kSpace : 0) | (changes ? 0 : kReadOnly);
}

/* An opening for reading counts when its path ends in QMXFAULT_READPATH. */
static int openFault(const char* path, int flags) {
    if (mode != mOpen || !__atomic_load_n(&armed, __ATOMIC_SEQ_CST) || !readPath || !path ||
        (openKind(flags) & kReadOnly) == 0)
        return GO;
    size_t n = strlen(path), k = strlen(readPath);
    return n >= k && strcmp(path + n - k, readPath) == 0 ? fault(kRead) : GO;
}

/* The call of each wrapped operation: fault first, the real call, then what follows it. */
#define CALL(what, call)             \
    int f = fault(what);             \
    if (f == FAIL) return -1;        \
    __typeof__(call) r = call;       \
    after(f);                        \
    return r

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(open);
    if (openFault(path, flags) == FAIL) return -1;
    CALL(openKind(flags), real(path, flags, m));
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(open64);
    if (openFault(path, flags) == FAIL) return -1;
    CALL(openKind(flags), real(path, flags, m));
}

int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(openat);
    if (openFault(path, flags) == FAIL) return -1;
    CALL(openKind(flags), real(dir, path, flags, m));
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(openat64);
    if (openFault(path, flags) == FAIL) return -1;
    CALL(openKind(flags), real(dir, path, flags, m));
}

int creat(const char* path, mode_t m) {
    REAL(creat);
    CALL(kSpace, real(path, m));
}

/* A short write moves half of what was asked (at least one byte). */
static size_t shortened(int f, size_t n) { return f == SHORT && n > 1 ? n / 2 : n; }

ssize_t write(int fd, const void* b, size_t n) {
    REAL(write);
    int f = fault(kSpace);
    if (f == FAIL) return -1;
    ssize_t r = real(fd, b, shortened(f, n));
    after(f);
    return r;
}

ssize_t pwrite(int fd, const void* b, size_t n, off_t at) {
    REAL(pwrite);
    int f = fault(kSpace);
    if (f == FAIL) return -1;
    ssize_t r = real(fd, b, shortened(f, n), at);
    after(f);
    return r;
}

ssize_t pwrite64(int fd, const void* b, size_t n, off_t at) {
    REAL(pwrite64);
    int f = fault(kSpace);
    if (f == FAIL) return -1;
    ssize_t r = real(fd, b, shortened(f, n), at);
    after(f);
    return r;
}

static ssize_t realWrite(int fd, const void* b, size_t n) {
    REAL(write);
    return real(fd, b, n);
}

ssize_t writev(int fd, const struct iovec* v, int n) {
    REAL(writev);
    int f = fault(kSpace);
    if (f == FAIL) return -1;
    /* Short: half of the first buffer at most. */
    ssize_t r = f == SHORT && n > 0 ? realWrite(fd, v[0].iov_base, shortened(f, v[0].iov_len)) : real(fd, v, n);
    after(f);
    return r;
}

ssize_t read(int fd, void* b, size_t n) {
    REAL(read);
    int f = readFault(fd);
    if (f == FAIL) return -1;
    return real(fd, b, n);
}

ssize_t pread(int fd, void* b, size_t n, off_t at) {
    REAL(pread);
    int f = readFault(fd);
    if (f == FAIL) return -1;
    return real(fd, b, n, at);
}

ssize_t pread64(int fd, void* b, size_t n, off_t at) {
    REAL(pread64);
    int f = readFault(fd);
    if (f == FAIL) return -1;
    return real(fd, b, n, at);
}

int ftruncate(int fd, off_t len) {
    REAL(ftruncate);
    CALL(kSpace, real(fd, len));
}

int fsync(int fd) {
    REAL(fsync);
    CALL(kSpace, skipSync() ? 0 : real(fd));
}

int fdatasync(int fd) {
    REAL(fdatasync);
    CALL(kSpace, skipSync() ? 0 : real(fd));
}

int syncfs(int fd) {
    REAL(syncfs);
    CALL(kSpace, skipSync() ? 0 : real(fd));
}

int rename(const char* a, const char* b) {
    REAL(rename);
    CALL(0, real(a, b));
}

int renameat(int da, const char* a, int db, const char* b) {
    REAL(renameat);
    CALL(0, real(da, a, db, b));
}

int renameat2(int da, const char* a, int db, const char* b, unsigned int flags) {
    REAL(renameat2);
    CALL(0, real(da, a, db, b, flags));
}

int unlink(const char* p) {
    REAL(unlink);
    CALL(0, real(p));
}

int unlinkat(int d, const char* p, int flags) {
    REAL(unlinkat);
    CALL(0, real(d, p, flags));
}

int mkdir(const char* p, mode_t m) {
    REAL(mkdir);
    CALL(kSpace, real(p, m));
}

int mkdirat(int d, const char* p, mode_t m) {
    REAL(mkdirat);
    CALL(kSpace, real(d, p, m));
}

int rmdir(const char* p) {
    REAL(rmdir);
    CALL(0, real(p));
}

int chmod(const char* p, mode_t m) {
    REAL(chmod);
    CALL(0, real(p, m));
}

int fchmod(int fd, mode_t m) {
    REAL(fchmod);
    CALL(0, real(fd, m));
}

int fchmodat(int d, const char* p, mode_t m, int flags) {
    REAL(fchmodat);
    CALL(0, real(d, p, m, flags));
}

int link(const char* a, const char* b) {
    REAL(link);
    CALL(kSpace, real(a, b));
}

int linkat(int da, const char* a, int db, const char* b, int flags) {
    REAL(linkat);
    CALL(kSpace, real(da, a, db, b, flags));
}

int symlink(const char* a, const char* b) {
    REAL(symlink);
    CALL(kSpace, real(a, b));
}

int mkstemp(char* t) {
    REAL(mkstemp);
    CALL(kSpace, real(t));
}

int mkstemp64(char* t) {
    REAL(mkstemp64);
    CALL(kSpace, real(t));
}

int mkostemp(char* t, int flags) {
    REAL(mkostemp);
    CALL(kSpace, real(t, flags));
}

int mkostemp64(char* t, int flags) {
    REAL(mkostemp64);
    CALL(kSpace, real(t, flags));
}
