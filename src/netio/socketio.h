// TCP connections: the socket library start-up and cSocketIO, a byte stream over a
// connected socket with connect, read and write time-outs (IPv4 and IPv6).
#pragma once

#include "base/fileiotarget.h"

// True when the socket library is ready (always on POSIX; kept for the callers' sake).
bool initSockLib();

class cSocketIO : public cFileIOTarget {
public:
    // What went wrong last; eSockNone while all is well.
    enum eSockError {
        eSockNone = 0,
        eSockBadArgument = 1,   // no host, or a port outside 1-65535
        eSockResolve = 2,       // the host name did not resolve
        eSockRefused = 3,       // every address refused or was unreachable
        eSockTimeout = 4,       // connect, read or write took longer than its time-out
        eSockIO = 5,            // the connection broke (reset, closed for writing, ...)
        eSockNotConnected = 6,
        eSockAborted = 7,       // the abort check asked to stop
    };

    cSocketIO();
    ~cSocketIO() override;

    // Resolves the host on a worker thread and tries every address it resolves to until
    // one accepts, all within the connect time-out (a resolver that hangs cannot hold
    // the caller longer). A previous connection is closed first.
    bool connect(const char* host, int port);
    // Takes over an already connected socket (it is switched to non-blocking mode).
    bool attach(int fd);

    // Time-outs in milliseconds; a value of 0 or less means no limit.
    void setTimeouts(int connectMs, int readMs, int writeMs);
    // Asked at least every 100 ms while waiting (resolving, connecting, reading,
    // writing): true ends the wait at once with eSockAborted. Null: never asked.
    typedef bool (*tAbortCheck)(void* context);
    void setAbortCheck(tAbortCheck check, void* context) {
        myAbort = check;
        myAbortContext = context;
    }

    // The resolver call, replaceable for tests (a resolver that never answers). It runs
    // on a worker thread; connect waits for it at most the connect time-out.
    typedef int (*tResolver)(const char* host, const char* service, const void* hints, void** list);
    static void setResolverForTests(tResolver resolver);
    int connectTimeout() const { return myConnectMs; }
    int readTimeout() const { return myReadMs; }
    int writeTimeout() const { return myWriteMs; }

    int lastError() const { return myError; }
    int handle() const { return myFd; }
    // True once the peer has closed its side (read returned 0 without an error).
    bool peerClosed() const { return myPeerClosed; }

    // The stream: reads wait up to the read time-out for at least one byte; 0 at the
    // peer's close and on failure (then lastError() says which). Writes send every byte
    // or fail. Not seekable; the position counts the bytes read.
    unsigned long long size() override { return myReadCount; }
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    bool set_fp(unsigned long long position) override { return position == myReadCount; }
    void close() override;
    bool valid() override { return myFd >= 0 && myError == eSockNone; }
    int typeOf() override { return eIOSocket; }
    unsigned long long get_fp() override { return myReadCount; }

    // Stops further sending (the peer sees the end of the request).
    bool shutdownWrite();

private:
    bool connectAddress(const void* addr, unsigned addrLen, int family, long long deadlineUs, int& err);
    // Waits for the events on the socket under the deadline, asking the abort check
    // between slices: 1 ready, 0 timed out, -1 failed, -2 aborted.
    int waitReady(int fd, short events, long long deadlineUs);

    tAbortCheck myAbort = nullptr;
    void* myAbortContext = nullptr;

    int myFd = -1;
    int myError = eSockNone;
    bool myPeerClosed = false;
    int myConnectMs = 20000;
    int myReadMs = 30000;
    int myWriteMs = 30000;
    unsigned long long myReadCount = 0;
};
