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
//
// The first reader that inflates the body from its start (loading reads it whole) leaves
// access points behind: every `spacing` plain bytes, at a deflate block boundary, the
// packed offset and the 32 KiB of plain bytes before it. A later reader starts at the
// nearest point before its item, so items far apart are inflated on several threads
// at once without inflating what lies before them.
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
    // A reader standing at plain offset `at`: a kept one at or before `at`, or a new one
    // from the nearest access point (or the start), whichever is closer. Null on failure.
    cPkgBodyReader* reader(unsigned long long at);
    // Keeps a reader for a later item (the oldest kept goes once a few are kept).
    void keep(cPkgBodyReader* r);
    // How many access points there are (for tests and the job's split of its work).
    int accessPoints();
    // The plain offset a new reader for `at` starts from: the nearest access point at or
    // before it, else the body's start.
    unsigned long long startFor(unsigned long long at);

    // Plain bytes between access points: at least kMinSpacing, and at most about
    // kMaxPoints points for the whole body (each holds 32 KiB).
    static const unsigned long long kMinSpacing = 4ULL << 20;
    static const int kMaxPoints = 64;
    static const int kKeptReaders = 16;

    struct sPoint {
        unsigned long long plain = 0, packed = 0;
        int bits = 0;  // of the byte before `packed` that belong to the next block
        unsigned char window[32768];
    };

private:
    friend class cPkgBodyReader;
    cPkgBody() {}
    ~cPkgBody();
    // The last access point at or before plain offset `at`, null for the body's start;
    // the caller holds myLock.
    const sPoint* pointFor(unsigned long long at) const;
    // The next plain offset a point is wanted at.
    unsigned long long nextPoint();
    void addPoint(sPoint* p);

    std::atomic<int> myRefs{1};
    int myFd = -1;
    unsigned long long myStart = 0;  // of the packed body in the file
    _typebuf<unsigned char> myMem;   // the packed body, when not a file
    unsigned long long myPacked = 0, myPlain = 0;
    unsigned long long mySpacing = kMinSpacing;
    cCriticalSection myLock;  // guards the kept readers and the points
    cPkgBodyReader* myKept[kKeptReaders] = {};
    sPoint* myPoints[kMaxPoints + 1] = {};
    int myPointCount = 0;
};

// Inflates a body in order, from its start or from an access point.
class cPkgBodyReader {
public:
    explicit cPkgBodyReader(cPkgBody* body, const cPkgBody::sPoint* from = nullptr);
    ~cPkgBodyReader();
    cPkgBodyReader(const cPkgBodyReader&) = delete;
    cPkgBodyReader& operator=(const cPkgBodyReader&) = delete;

    // Plain bytes from the position; fewer only at the end of the stream or on damage.
    long long read(void* buffer, long long n);
    bool skip(unsigned long long n);
    unsigned long long pos() const { return myPos; }
    bool failed() const { return myFailed; }
    // True once the deflate data has ended.
    bool ended() const { return myEnded; }
    // Once a reader from the start has ended: the zlib stream's Adler-32 trailer, which
    // it leaves to the caller to compare (loading takes it beside the body's digest, on
    // the hashing thread). False when the trailer cannot be read.
    bool trailer(unsigned long& adler);
    cPkgBody* body() const { return myBody; }
    // For a reader from the start that reads the body through (the load), before its first
    // read: each run of deflate blocks up to an empty stored block (a sync flush, where
    // the maker ends each of its blocks) is inflated in one call by libdeflate, far faster
    // than zlib, when it refers to nothing before it; from the first run that does not,
    // or that is larger than the buffers (about 2 MiB), zlib inflates the rest.
    void readInRuns();

private:
    struct sRuns;
    long long readRuns(unsigned char* out, long long n);
    bool nextRun(unsigned long long at);
    void leaveRuns();
    sRuns* myRuns = nullptr;
    cPkgBody* myBody;
    struct z_stream_s* myZ = nullptr;
    _typebuf<unsigned char> myIn;
    long long myInFill = 0, myInUsed = 0;
    unsigned long long myPacked = 0;  // packed bytes taken so far
    unsigned long long myPos = 0;
    bool myFailed = false, myEnded = false;
    bool myFromStart = true;  // leaves access points behind
};

// SHA-256 and Adler-32 of a stream taken on a thread of its own while the caller goes on: the caller
// fills the buffers next() gives in turn (two of them, alternating) and hands each over
// with add(); it may read a buffer it handed over, and gets it back to refill only once
// its hashing is done. Without a thread it hashes in add().
class cPkgHasher {
public:
    explicit cPkgHasher(long long bufferSize = 262144);
    ~cPkgHasher();
    cPkgHasher(const cPkgHasher&) = delete;
    cPkgHasher& operator=(const cPkgHasher&) = delete;

    // The next buffer to fill (bufferSize() bytes), or null when none could be had.
    unsigned char* next();
    long long bufferSize() const { return mySize; }
    // Hashes the first n bytes of the buffer next() gave last.
    void add(long long n);
    // The digest and the Adler-32 of everything added.
    void finish(unsigned char out[32], unsigned long& adler);

private:
    struct sState;
    sState* myState = nullptr;
    long long mySize;
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
    cZStream myInflated;  // over myStored (not its owner) for a zlib item
    bool myFailed = false, myChecked = false;
};
