// Memory streams: a paged growable memory file, a read cache and a write-behind
// buffer over another stream, a stream over caller memory, and a window of a stream.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

// A growable memory file kept in pages. Writing past the end grows it; a gap
// left by a seek past the end reads as zeros.
class cMemIOTarget : public cFileIOTarget {
public:
    // A page size outside 128..0x7FFFFFFF becomes 65536.
    explicit cMemIOTarget(long long pageSize = 65536);
    ~cMemIOTarget() override;

    // Copies the whole content out (an empty file gives an empty buffer and true);
    // false when the memory cannot be had.
    bool toBuffer(_typebuf<unsigned char>& out);
    // Empties the file (size and position 0); it stays usable.
    void reset();

    unsigned long long size() override { return mySize; }
    long long read(void* buffer, long long n) override;
    // Writes at the position; a short count when memory runs out.
    long long write(const void* buffer, long long n) override;
    // Any position is accepted; the file grows only when written there.
    bool set_fp(unsigned long long position) override;
    // Cuts the file at the position (a position past the end extends it with zeros).
    bool set_eof() override;
    // Frees every page; size and position become 0 (the file can be written again).
    void close() override { reset(); }
    bool valid() override { return true; }
    int typeOf() override { return eIOMemory; }
    unsigned long long get_fp() override { return myPos; }

    long long pageSize() const { return myPageSize; }

private:
    bool ensurePages(unsigned long long pages);
    unsigned char* pageFor(unsigned long long index);

    long long myPageSize;
    _typebuf<unsigned char*> myPages;  // null entries read as zeros
    unsigned long long myPageCount = 0;  // entries of myPages in use
    unsigned long long mySize = 0;
    unsigned long long myPos = 0;
};

// A read cache over another stream (not owned). Reads, size, set_fp and the
// position behave as on the target; the target is re-positioned before each of
// its reads, so others may move it in between. Writes go straight through.
class cMemBufferedIO : public cFileIOTarget {
public:
    cMemBufferedIO() {}
    cMemBufferedIO(cFileIOTarget* target, long long cacheSize) { ref(target, cacheSize); }
    ~cMemBufferedIO() override {}

    // Wraps a target at its current position; a cache size outside 1..64 MiB becomes 4096.
    bool ref(cFileIOTarget* target, long long cacheSize = 4096);
    cFileIOTarget* target() const { return myTarget; }

    unsigned long long size() override;
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    bool set_fp(unsigned long long position) override;
    bool set_eof() override;
    // Forgets the target (which stays open) and the cache.
    void close() override;
    bool set_time(const sTimestamp* modified) override;
    bool valid() override { return myTarget && myTarget->valid(); }
    int typeOf() override { return eIOMemBuffered; }
    unsigned long long get_fp() override { return myPos; }

private:
    cFileIOTarget* myTarget = nullptr;
    _typebuf<unsigned char> myCache;
    unsigned long long myCacheStart = 0;
    long long myCacheLen = 0;
    unsigned long long myPos = 0;
};

// A write-behind buffer over another stream (not owned): sequential writes are
// gathered into large writes of the target. Pending bytes go out on flush, on a
// seek, read or set_eof, on close and in the destructor. A failed flush fails the
// write that caused it, makes every later write fail and makes valid() false,
// also after close().
class cMemBufferedLinearWriterIO : public cFileIOTarget {
public:
    cMemBufferedLinearWriterIO() {}
    cMemBufferedLinearWriterIO(cFileIOTarget* target, long long bufferSize) { ref(target, bufferSize); }
    ~cMemBufferedLinearWriterIO() override;

    // Flushes a previous target, then wraps this one at its current position;
    // a buffer size outside 1..256 MiB becomes 1 MiB.
    bool ref(cFileIOTarget* target, long long bufferSize = 1 << 20);
    bool flush();
    cFileIOTarget* target() const { return myTarget; }

    unsigned long long size() override;
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    bool set_fp(unsigned long long position) override;
    bool set_eof() override;
    // Flushes and forgets the target (which stays open); valid() then tells
    // whether everything reached it.
    void close() override;
    bool set_time(const sTimestamp* modified) override;
    bool valid() override { return !myFailed && (!myTarget || myTarget->valid()); }
    int typeOf() override { return eIOLinearWriter; }
    unsigned long long get_fp() override { return myPos; }

private:
    cFileIOTarget* myTarget = nullptr;
    _typebuf<unsigned char> myBuffer;
    unsigned long long myBufStart = 0;  // target offset of myBuffer[0]
    long long myBufLen = 0;
    unsigned long long myPos = 0;
    bool myFailed = false;
};

// A stream over a caller's memory block, never owned or freed. Reads stop at the
// block's end; writes are refused unless the block is writable and never grow it.
class cBufWrapperIO : public cFileIOTarget {
public:
    cBufWrapperIO() {}
    cBufWrapperIO(const void* data, long long size, bool writable = false) { wrap(data, size, writable); }
    ~cBufWrapperIO() override {}

    // Re-targets the stream at position 0 (a null block or negative size is empty).
    // The block is written through only when `writable` is set.
    void wrap(const void* data, long long size, bool writable = false);
    const unsigned char* data() const { return myData; }

    unsigned long long size() override { return (unsigned long long)mySize; }
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    // Past the end: the position stays at the end and the answer is false.
    bool set_fp(unsigned long long position) override;
    // Forgets the block (the caller still owns it).
    void close() override { wrap(nullptr, 0, false); }
    bool valid() override { return true; }
    int typeOf() override { return eIOBufWrapper; }
    unsigned long long get_fp() override { return (unsigned long long)myPos; }

private:
    unsigned char* myData = nullptr;
    long long mySize = 0;
    long long myPos = 0;
    bool myWritable = false;
};

// A window of another stream (not owned). The start is clamped to the target's
// size and the length to what remains after it (all ones: to the end). Position 0
// is the window's start; reads and writes never pass the window's end. The
// target is re-positioned before every transfer, since others may move it.
class cFileIOSubRange : public cFileIOTarget {
public:
    cFileIOSubRange() {}
    cFileIOSubRange(cFileIOTarget* target, unsigned long long start, unsigned long long length) {
        wrap(target, start, length);
    }
    ~cFileIOSubRange() override {}

    // False when there is no target.
    bool wrap(cFileIOTarget* target, unsigned long long start, unsigned long long length);
    unsigned long long start() const { return myStart; }

    unsigned long long size() override { return myLength; }
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    // Past the window's end: clamped to the end, false.
    bool set_fp(unsigned long long position) override;
    void close() override;
    bool valid() override { return myTarget && myTarget->valid(); }
    int typeOf() override { return eIOSubRange; }
    unsigned long long get_fp() override { return myPos; }

private:
    cFileIOTarget* myTarget = nullptr;
    unsigned long long myStart = 0;
    unsigned long long myLength = 0;
    unsigned long long myPos = 0;
};
