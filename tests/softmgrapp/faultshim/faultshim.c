/* A fault layer preloaded into a test driver (LD_PRELOAD): it counts the file operations
   made at the C library while armed, and at operation N (QMXFAULT_AT) fails it with EIO,
   fails it and every later operation that needs space with ENOSPC, or kills the process
   with SIGKILL (QMXFAULT_MODE "eio", "enospc" or "kill"). The driver arms and disarms it
   through qmx_fault_arm and qmx_fault_disarm, found with dlsym; without the layer those
   are absent and the driver runs unfaulted. Under AddressSanitizer the sanitizer's
   runtime is preloaded first: its interceptors then reach these functions as the next
   definitions and these reach the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static int armed;
static long long ops, failAt = -1;
static int mode; /* 0 eio, 1 enospc, 2 kill */
static int nosync = -1; /* QMXFAULT_NOSYNC: flushes are counted but not made (the sweep is
                           about failures, not power cuts, and flushing costs it minutes) */

static int skipSync(void) {
    if (nosync < 0) nosync = getenv("QMXFAULT_NOSYNC") != NULL;
    return nosync;
}

void qmx_fault_arm(void) {
    const char* at = getenv("QMXFAULT_AT");
    const char* m = getenv("QMXFAULT_MODE");
    failAt = at ? atoll(at) : -1;
    mode = !m ? 0 : strcmp(m, "enospc") == 0 ? 1 : strcmp(m, "kill") == 0 ? 2 : 0;
    __atomic_store_n(&ops, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&armed, 1, __ATOMIC_SEQ_CST);
}

long long qmx_fault_disarm(void) {
    __atomic_store_n(&armed, 0, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&ops, __ATOMIC_SEQ_CST);
}

/* Whether this operation fails (errno set); `space` marks operations a full disk refuses. */
static int fault(int space) {
    if (!__atomic_load_n(&armed, __ATOMIC_SEQ_CST)) return 0;
    long long n = __atomic_add_fetch(&ops, 1, __ATOMIC_SEQ_CST);
    if (failAt <= 0 || n < failAt) return 0;
    if (n == failAt && mode == 2) kill(getpid(), SIGKILL);
    if (n == failAt && mode == 0) {
        errno = EIO;
        return 1;
    }
    if (mode == 1 && space) {
        errno = ENOSPC;
        return 1;
    }
    return 0;
}

#define REAL(name)                     \
    static __typeof__(&name) real;     \
    if (!real) real = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

static mode_t modeArg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(open);
    if (fault((flags & O_CREAT) != 0)) return -1;
    return real(path, flags, m);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(open64);
    if (fault((flags & O_CREAT) != 0)) return -1;
    return real(path, flags, m);
}

int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(openat);
    if (fault((flags & O_CREAT) != 0)) return -1;
    return real(dir, path, flags, m);
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t m = modeArg(flags, ap);
    va_end(ap);
    REAL(openat64);
    if (fault((flags & O_CREAT) != 0)) return -1;
    return real(dir, path, flags, m);
}

int creat(const char* path, mode_t m) {
    REAL(creat);
    return fault(1) ? -1 : real(path, m);
}

ssize_t write(int fd, const void* b, size_t n) {
    REAL(write);
    return fault(1) ? -1 : real(fd, b, n);
}

ssize_t pwrite(int fd, const void* b, size_t n, off_t at) {
    REAL(pwrite);
    return fault(1) ? -1 : real(fd, b, n, at);
}

ssize_t pwrite64(int fd, const void* b, size_t n, off_t at) {
    REAL(pwrite64);
    return fault(1) ? -1 : real(fd, b, n, at);
}

ssize_t writev(int fd, const struct iovec* v, int n) {
    REAL(writev);
    return fault(1) ? -1 : real(fd, v, n);
}

int ftruncate(int fd, off_t len) {
    REAL(ftruncate);
    return fault(1) ? -1 : real(fd, len);
}

int fsync(int fd) {
    REAL(fsync);
    return fault(1) ? -1 : skipSync() ? 0 : real(fd);
}

int fdatasync(int fd) {
    REAL(fdatasync);
    return fault(1) ? -1 : skipSync() ? 0 : real(fd);
}

int syncfs(int fd) {
    REAL(syncfs);
    return fault(1) ? -1 : skipSync() ? 0 : real(fd);
}

int rename(const char* a, const char* b) {
    REAL(rename);
    return fault(0) ? -1 : real(a, b);
}

int renameat(int da, const char* a, int db, const char* b) {
    REAL(renameat);
    return fault(0) ? -1 : real(da, a, db, b);
}

int renameat2(int da, const char* a, int db, const char* b, unsigned int flags) {
    REAL(renameat2);
    return fault(0) ? -1 : real(da, a, db, b, flags);
}

int unlink(const char* p) {
    REAL(unlink);
    return fault(0) ? -1 : real(p);
}

int unlinkat(int d, const char* p, int flags) {
    REAL(unlinkat);
    return fault(0) ? -1 : real(d, p, flags);
}

int mkdir(const char* p, mode_t m) {
    REAL(mkdir);
    return fault(1) ? -1 : real(p, m);
}

int mkdirat(int d, const char* p, mode_t m) {
    REAL(mkdirat);
    return fault(1) ? -1 : real(d, p, m);
}

int rmdir(const char* p) {
    REAL(rmdir);
    return fault(0) ? -1 : real(p);
}

int chmod(const char* p, mode_t m) {
    REAL(chmod);
    return fault(0) ? -1 : real(p, m);
}

int fchmod(int fd, mode_t m) {
    REAL(fchmod);
    return fault(0) ? -1 : real(fd, m);
}

int fchmodat(int d, const char* p, mode_t m, int flags) {
    REAL(fchmodat);
    return fault(0) ? -1 : real(d, p, m, flags);
}

int link(const char* a, const char* b) {
    REAL(link);
    return fault(1) ? -1 : real(a, b);
}

int linkat(int da, const char* a, int db, const char* b, int flags) {
    REAL(linkat);
    return fault(1) ? -1 : real(da, a, db, b, flags);
}

int symlink(const char* a, const char* b) {
    REAL(symlink);
    return fault(1) ? -1 : real(a, b);
}

int mkstemp(char* t) {
    REAL(mkstemp);
    return fault(1) ? -1 : real(t);
}

int mkstemp64(char* t) {
    REAL(mkstemp64);
    return fault(1) ? -1 : real(t);
}

int mkostemp(char* t, int flags) {
    REAL(mkostemp);
    return fault(1) ? -1 : real(t, flags);
}

int mkostemp64(char* t, int flags) {
    REAL(mkostemp64);
    return fault(1) ? -1 : real(t, flags);
}
