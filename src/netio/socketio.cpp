// cSocketIO: non-blocking TCP sockets driven by poll, so every wait has a time-out.
#include "netio/socketio.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
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

// Waits no longer than this between two looks at an abort check.
const int abortSliceMs = 100;

int systemResolver(const char* host, const char* service, const void* hints, void** list) {
    return getaddrinfo(host, service, (const addrinfo*)hints, (addrinfo**)list);
}

cSocketIO::tResolver gResolver = systemResolver;

// One name resolution shared by the caller and its worker; the last of the two to let
// go frees it, so a caller that gave up never waits for a hung resolver.
struct sResolveCall {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t doneCond = PTHREAD_COND_INITIALIZER;
    int refs = 2;
    bool done = false;
    int status = -1;
    addrinfo* list = nullptr;
    char host[1025];
    char service[8];
    addrinfo hints;
    cSocketIO::tResolver resolver = systemResolver;
};

void releaseCall(sResolveCall* c) {
    pthread_mutex_lock(&c->lock);
    bool last = --c->refs == 0;
    pthread_mutex_unlock(&c->lock);
    if (!last) return;
    if (c->list) freeaddrinfo(c->list);
    pthread_cond_destroy(&c->doneCond);
    pthread_mutex_destroy(&c->lock);
    delete c;
}

void* resolveWorker(void* arg) {
    sResolveCall* c = (sResolveCall*)arg;
    void* list = nullptr;
    int status = c->resolver(c->host, c->service, &c->hints, &list);
    pthread_mutex_lock(&c->lock);
    c->status = status;
    c->list = (addrinfo*)list;
    c->done = true;
    pthread_cond_signal(&c->doneCond);
    pthread_mutex_unlock(&c->lock);
    releaseCall(c);
    return nullptr;
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

void cSocketIO::setResolverForTests(tResolver resolver) { gResolver = resolver ? resolver : systemResolver; }

int cSocketIO::waitReady(int fd, short events, long long deadlineUs) {
    if (!myAbort) return waitFor(fd, events, deadlineUs);
    for (;;) {
        if (myAbort(myAbortContext)) return -2;
        long long slice = deadlineAfter(abortSliceMs);
        bool last = deadlineUs >= 0 && deadlineUs <= slice;
        int w = waitFor(fd, events, last ? deadlineUs : slice);
        if (w != 0 || last) return w;
    }
}

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
        int w = waitReady(fd, POLLOUT, deadlineUs);
        if (w <= 0) {
            err = w == 0 ? eSockTimeout : w == -2 ? eSockAborted : eSockIO;
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
    if (strlen(host) >= 1025) {
        myError = eSockResolve;
        return false;
    }
    // One deadline covers the resolution and every address, so a dead resolver or a host
    // with many addresses still fails in time.
    long long deadline = deadlineAfter(myConnectMs);
    sResolveCall* call = new sResolveCall;
    strcpy(call->host, host);
    memcpy(call->service, service, sizeof(service));
    memset(&call->hints, 0, sizeof(call->hints));
    call->hints.ai_family = AF_UNSPEC;
    call->hints.ai_socktype = SOCK_STREAM;
    call->hints.ai_protocol = IPPROTO_TCP;
    call->hints.ai_flags = AI_NUMERICSERV;
    call->resolver = gResolver;
    pthread_attr_t attr;
    pthread_t worker;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    bool started = pthread_create(&worker, &attr, resolveWorker, call) == 0;
    pthread_attr_destroy(&attr);
    if (!started) {
        call->refs = 1;
        releaseCall(call);
        myError = eSockResolve;
        return false;
    }
    int waitErr = eSockNone;
    pthread_mutex_lock(&call->lock);
    while (!call->done) {
        if (myAbort && myAbort(myAbortContext)) {
            waitErr = eSockAborted;
            break;
        }
        long long until = deadlineAfter(abortSliceMs);
        if (deadline >= 0 && deadline <= nowUs()) {
            waitErr = eSockTimeout;
            break;
        }
        if (deadline >= 0 && deadline < until) until = deadline;
        // The condition's clock is the real-time one: wait in short slices and measure
        // the deadline on the monotonic clock above.
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        long long left = until - nowUs();
        if (left < 1000) left = 1000;
        ts.tv_sec += (time_t)(left / 1000000);
        ts.tv_nsec += (long)((left % 1000000) * 1000);
        if (ts.tv_nsec >= 1000000000L) {
            ts.tv_sec++;
            ts.tv_nsec -= 1000000000L;
        }
        pthread_cond_timedwait(&call->doneCond, &call->lock, &ts);
    }
    addrinfo* list = nullptr;
    if (call->done && call->status == 0) {
        list = call->list;
        call->list = nullptr;  // ours now
    }
    pthread_mutex_unlock(&call->lock);
    releaseCall(call);
    if (!list) {
        myError = waitErr == eSockAborted ? eSockAborted : eSockResolve;
        return false;
    }
    int err = eSockRefused;
    int tried = 0;
    for (addrinfo* a = list; a && tried < 64; a = a->ai_next, tried++) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
        if (connectAddress(a->ai_addr, (unsigned)a->ai_addrlen, a->ai_family, deadline, err)) break;
        if (err == eSockTimeout || err == eSockAborted) break;
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
        int w = waitReady(myFd, POLLIN, deadline);
        if (w == 0 || w == -2) {
            myError = w == 0 ? eSockTimeout : eSockAborted;
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
        int w = waitReady(myFd, POLLOUT, deadline);
        if (w <= 0) {
            myError = w == 0 ? eSockTimeout : w == -2 ? eSockAborted : eSockIO;
            return done;
        }
    }
    return done;
}

bool cSocketIO::shutdownWrite() { return myFd >= 0 && shutdown(myFd, SHUT_WR) == 0; }
