// cFileIO over a POSIX descriptor: positioned transfers (pread/pwrite) from our own
// position, so a seek never fails and short transfers are simply continued.
#include "base/fileio.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "base/fileops.h"
#include "base/timestamp.h"

cFileIO::~cFileIO() {
    close();
}

bool cFileIO::openWith(const char* path, int flags) {
    close();
    if (!path || !path[0]) return false;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    myFd = fd;
    myPos = 0;
    return true;
}

bool cFileIO::open(const char* path, int mode) {
    int access = mode & eReadWrite;
    int flags;
    if (access == eRead)
        flags = O_RDONLY;
    else if (access == eWrite)
        flags = O_WRONLY;
    else if (access == eReadWrite)
        flags = O_RDWR;
    else
        return false;
    if (access != eRead && !(mode & eExisting)) flags |= O_CREAT;
    return openWith(path, flags);
}

bool cFileIO::create(const char* path, int mode) {
    int flags = (mode & eReadWrite) == eWrite ? O_WRONLY : O_RDWR;
    return openWith(path, flags | O_CREAT | O_TRUNC);
}

bool cFileIO::remove(const char* path) {
    return path && path[0] && unlink(path) == 0;
}

bool cFileIO::move(const char* from, const char* to) {
    return from && to && from[0] && to[0] && rename(from, to) == 0;
}

bool cFileIO::sync() {
    return myFd >= 0 && cFileOps::plain()->sync(myFd);
}

bool cFileIO::lock(bool exclusive, bool wait) {
    if (myFd < 0) return false;
    struct flock fl = {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end, however far it grows
    int r;
    do {
        r = fcntl(myFd, wait ? F_SETLKW : F_SETLK, &fl);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool cFileIO::unlock() {
    if (myFd < 0) return false;
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    return fcntl(myFd, F_SETLK, &fl) == 0;
}

unsigned long long cFileIO::size() {
    struct stat st;
    if (myFd < 0 || fstat(myFd, &st) != 0 || st.st_size < 0) return 0;
    return (unsigned long long)st.st_size;
}

long long cFileIO::read(void* buffer, long long n) {
    if (myFd < 0 || !buffer || n <= 0 || myPos > (unsigned long long)INT64_MAX) return 0;
    long long done = preadAll(myFd, buffer, n, myPos);
    if (done < 0) return -1;
    myPos += done;
    return done;
}

long long cFileIO::write(const void* buffer, long long n) {
    if (myFd < 0 || !buffer || n <= 0) return 0;
    if (myPos > (unsigned long long)INT64_MAX || (unsigned long long)n > (unsigned long long)INT64_MAX - myPos)
        return 0;
    long long done = pwriteSome(myFd, buffer, n, myPos);
    myPos += done;
    return done;
}

bool cFileIO::set_fp(unsigned long long position) {
    if (myFd < 0 || position > (unsigned long long)INT64_MAX) return false;
    myPos = position;
    return true;
}

bool cFileIO::set_eof() {
    if (myFd < 0 || myPos > (unsigned long long)INT64_MAX) return false;
    int r;
    do {
        r = ftruncate(myFd, (off_t)myPos);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

void cFileIO::close() {
    if (myFd >= 0) ::close(myFd);  // no retry on EINTR: the descriptor is gone either way on Linux
    myFd = -1;
    myPos = 0;
}

bool cFileIO::set_time(const sTimestamp* modified) {
    if (myFd < 0 || !modified || modified->year == 0) return false;
    const sTimestamp& t = *modified;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 60)
        return false;
    struct tm tmv = {};
    tmv.tm_year = t.year - 1900;
    tmv.tm_mon = t.month - 1;
    tmv.tm_mday = t.day;
    tmv.tm_hour = t.hour;
    tmv.tm_min = t.minute;
    tmv.tm_sec = t.second;
    tmv.tm_isdst = -1;  // let the zone rules decide
    time_t when = mktime(&tmv);
    if (when == (time_t)-1 && !(tmv.tm_year == 69 && tmv.tm_mon == 11 && tmv.tm_mday == 31)) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time is not ours to change
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return futimens(myFd, times) == 0;
}
