// cSocketIO: non-blocking TCP sockets driven by poll, so every wait has a time-out.
#include "netio/socketio.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

long long nowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// Milliseconds left until the deadline for poll: -1 waits forever, 0 means it has passed.
int msLeft(long long deadlineUs) {
    if (deadlineUs < 0) return -1;
    long long left = deadlineUs - nowUs();
    if (left <= 0) return 0;
    long long ms = (left + 999) / 1000;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
}

long long deadlineAfter(int ms) { return ms > 0 ? nowUs() + (long long)ms * 1000LL : -1; }

// Waits for the events on fd; 1 ready, 0 timed out, -1 failed.
int waitFor(int fd, short events, long long deadlineUs) {
    for (int guard = 0; guard < 1000000; guard++) {
        pollfd p;
        p.fd = fd;
        p.events = events;
        p.revents = 0;
        int left = msLeft(deadlineUs);
        if (deadlineUs >= 0 && left == 0) return 0;
        int r = poll(&p, 1, left);
        if (r > 0) return 1;
        if (r == 0) {
            if (deadlineUs < 0) continue;
            return 0;
        }
        if (errno != EINTR) return -1;
    }
    return -1;
}

bool setNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

}  // namespace

bool initSockLib() {
    // Nothing to start on POSIX; SIGPIPE is avoided per call with MSG_NOSIGNAL.
    return true;
}

cSocketIO::cSocketIO() {}

cSocketIO::~cSocketIO() { close(); }

void cSocketIO::setTimeouts(int connectMs, int readMs, int writeMs) {
    myConnectMs = connectMs;
    myReadMs = readMs;
    myWriteMs = writeMs;
}

void cSocketIO::close() {
    if (myFd >= 0) ::close(myFd);
    myFd = -1;
    myPeerClosed = false;
    myReadCount = 0;
}

bool cSocketIO::attach(int fd) {
    close();
    myError = eSockNone;
    if (fd < 0 || !setNonBlocking(fd)) {
        myError = eSockBadArgument;
        return false;
    }
    myFd = fd;
    return true;
}

bool cSocketIO::connectAddress(const void* addr, unsigned addrLen, int family, long long deadlineUs, int& err) {
    int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        err = eSockIO;
        return false;
    }
    int r;
    do {
        r = ::connect(fd, (const sockaddr*)addr, (socklen_t)addrLen);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        if (errno != EINPROGRESS) {
            err = eSockRefused;
            ::close(fd);
            return false;
        }
        int w = waitFor(fd, POLLOUT, deadlineUs);
        if (w <= 0) {
            err = w == 0 ? eSockTimeout : eSockIO;
            ::close(fd);
            return false;
        }
        int soerr = 0;
        socklen_t len = sizeof(soerr);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0 || soerr != 0) {
            err = soerr == ETIMEDOUT ? eSockTimeout : eSockRefused;
            ::close(fd);
            return false;
        }
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    myFd = fd;
    return true;
}

bool cSocketIO::connect(const char* host, int port) {
    close();
    myError = eSockNone;
    if (!host || !*host || port < 1 || port > 65535) {
        myError = eSockBadArgument;
        return false;
    }
    char service[8];
    snprintf(service, sizeof(service), "%d", port);
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, service, &hints, &list) != 0 || !list) {
        if (list) freeaddrinfo(list);
        myError = eSockResolve;
        return false;
    }
    // One deadline covers every address, so a host with many addresses still fails in time.
    long long deadline = deadlineAfter(myConnectMs);
    int err = eSockRefused;
    int tried = 0;
    for (addrinfo* a = list; a && tried < 64; a = a->ai_next, tried++) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
        if (connectAddress(a->ai_addr, (unsigned)a->ai_addrlen, a->ai_family, deadline, err)) break;
        if (err == eSockTimeout) break;
    }
    freeaddrinfo(list);
    if (myFd < 0) {
        myError = err;
        return false;
    }
    return true;
}

long long cSocketIO::read(void* buffer, long long n) {
    if (myFd < 0) {
        myError = eSockNotConnected;
        return 0;
    }
    if (n <= 0 || !buffer || myError != eSockNone || myPeerClosed) return 0;
    size_t want = n > 0x40000000LL ? 0x40000000 : (size_t)n;
    long long deadline = deadlineAfter(myReadMs);
    // Bounded: each pass either returns or waits for readiness under the deadline.
    for (int guard = 0; guard < 100000; guard++) {
        ssize_t r = recv(myFd, buffer, want, 0);
        if (r > 0) {
            myReadCount += (unsigned long long)r;
            return r;
        }
        if (r == 0) {
            myPeerClosed = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            myError = eSockIO;
            return 0;
        }
        int w = waitFor(myFd, POLLIN, deadline);
        if (w == 0) {
            myError = eSockTimeout;
            return 0;
        }
        if (w < 0) {
            myError = eSockIO;
            return 0;
        }
    }
    myError = eSockIO;
    return 0;
}

long long cSocketIO::write(const void* buffer, long long n) {
    if (myFd < 0) {
        myError = eSockNotConnected;
        return 0;
    }
    if (n <= 0 || !buffer || myError != eSockNone) return 0;
    const char* p = (const char*)buffer;
    long long done = 0;
    // The time-out applies to each stall, not the whole transfer: a slow but moving peer is fine.
    long long deadline = deadlineAfter(myWriteMs);
    while (done < n) {
        size_t chunk = (size_t)((n - done) > 0x40000000LL ? 0x40000000LL : (n - done));
        ssize_t r = send(myFd, p + done, chunk, MSG_NOSIGNAL);
        if (r > 0) {
            done += r;
            deadline = deadlineAfter(myWriteMs);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            myError = eSockIO;
            return done;
        }
        int w = waitFor(myFd, POLLOUT, deadline);
        if (w <= 0) {
            myError = w == 0 ? eSockTimeout : eSockIO;
            return done;
        }
    }
    return done;
}

bool cSocketIO::shutdownWrite() { return myFd >= 0 && shutdown(myFd, SHUT_WR) == 0; }
