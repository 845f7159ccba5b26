// Reading payload items where they lie: cPkgBody keeps the packed body of a loaded
// scenario data file open, cPkgBodyReader inflates it from the start in bounded memory,
// and cPkgItemStream turns an item's stored bytes into its plain bytes, checking its
// length and digest.
#pragma once

#include <atomic>

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "base/sync.h"
#include "compression/zlibstreams.h"

class cPkgBodyReader;

// The packed body, shared (reference-counted) by the payload and the item streams it
// hands out, so a stream may outlive the scenario it came from.
class cPkgBody {
public:
    // Over the P packed bytes at the source's position, inflating to U bytes. A disk
    // file is read later through its own duplicate descriptor (the caller may close the
    // source); any other source is copied into memory. Null when neither can be had.
    static cPkgBody* open(cFileIOTarget* source, unsigned long long packed, unsigned long long plain);

    void addRef() { myRefs++; }
    void release() {
        if (--myRefs == 0) delete this;
    }
    unsigned long long plainSize() const { return myPlain; }
    // Reads packed bytes from `offset` of the body; the count read.
    long long readPacked(unsigned long long offset, void* buffer, long long n);
    // A reader standing at plain offset `at`: the one kept from the last item when it is
    // at or before `at`, else a new one from the start. Null on failure.
    cPkgBodyReader* reader(unsigned long long at);
    // Keeps a reader for the next item (the one kept before is dropped).
    void keep(cPkgBodyReader* r);

private:
    cPkgBody() {}
    ~cPkgBody();

    std::atomic<int> myRefs{1};
    int myFd = -1;
    unsigned long long myStart = 0;  // of the packed body in the file
    _typebuf<unsigned char> myMem;   // the packed body, when not a file
    unsigned long long myPacked = 0, myPlain = 0;
    cCriticalSection myLock;
    cPkgBodyReader* myKept = nullptr;
};

// Inflates a body from its start, in order.
class cPkgBodyReader {
public:
    explicit cPkgBodyReader(cPkgBody* body);
    ~cPkgBodyReader();
    cPkgBodyReader(const cPkgBodyReader&) = delete;
    cPkgBodyReader& operator=(const cPkgBodyReader&) = delete;

    // Plain bytes from the position; fewer only at the end of the stream or on damage.
    long long read(void* buffer, long long n);
    bool skip(unsigned long long n);
    unsigned long long pos() const { return myPos; }
    bool failed() const { return myFailed; }
    // True once the zlib stream has ended with a good checksum.
    bool ended() const { return myEnded; }
    cPkgBody* body() const { return myBody; }

private:
    cPkgBody* myBody;
    cZInflate myInflate;
    _typebuf<unsigned char> myIn;
    long long myInFill = 0, myInUsed = 0;
    unsigned long long myPacked = 0;  // packed bytes taken so far
    unsigned long long myPos = 0;
    bool myFailed = false, myEnded = false;
};

// The stored bytes of one item in the plain body: a window of `length` bytes at `at`.
class cPkgBodyRange : public cFileIOTarget {
public:
    cPkgBodyRange(cPkgBody* body, unsigned long long at, unsigned long long length);
    ~cPkgBodyRange() override;

    unsigned long long size() override { return myLength; }
    long long read(void* buffer, long long n) override;
    long long write(const void*, long long) override { return 0; }
    // Forward by inflating and dropping; back by starting again.
    bool set_fp(unsigned long long position) override;
    void close() override;
    bool valid() override { return !myFailed; }
    unsigned long long get_fp() override { return myPos; }

private:
    cPkgBody* myBody;
    cPkgBodyReader* myReader = nullptr;
    unsigned long long myAt, myLength, myPos = 0;
    bool myFailed = false;
};

// A window of a file read with pread, so windows of one descriptor never share a position.
class cPkgFdRange : public cFileIOTarget {
public:
    cPkgFdRange(int fd, unsigned long long at, unsigned long long length) : myFd(fd), myAt(at), myLength(length) {}

    unsigned long long size() override { return myLength; }
    long long read(void* buffer, long long n) override;
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long position) override;
    void close() override {}
    bool valid() override { return !myFailed; }
    unsigned long long get_fp() override { return myPos; }

private:
    int myFd;
    unsigned long long myAt, myLength, myPos = 0;
    bool myFailed = false;
};

// The plain bytes of an item from its stored bytes (owned): copied, or inflated when
// the item is a zlib stream. Exactly `plainSize` bytes come out; the zlib stream need
// not end there (a writer may end it with a flush). Once they have, the SHA-256 of what
// was read is compared with the item's digest and valid() tells the result.
class cPkgItemStream : public cFileIOTarget {
public:
    cPkgItemStream(cFileIOTarget* stored, bool zlib, unsigned long long plainSize, const unsigned char digest[32]);
    ~cPkgItemStream() override;

    unsigned long long size() override { return myPlain; }
    long long read(void* buffer, long long n) override;
    long long write(const void*, long long) override { return 0; }
    bool set_fp(unsigned long long position) override;
    void close() override {}
    bool valid() override { return !myFailed; }
    unsigned long long get_fp() override { return myPos; }

private:
    bool restart();
    long long produce(unsigned char* out, long long n);

    cFileIOTarget* myStored;
    bool myZlib;
    unsigned long long myPlain, myPos = 0;
    unsigned char myDigest[32];
    void* mySha;  // sha256_context
    cZInflate myInflate;
    _typebuf<unsigned char> myIn;
    long long myInFill = 0, myInUsed = 0;
    bool myFailed = false, myChecked = false;
};
