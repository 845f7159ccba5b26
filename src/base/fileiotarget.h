// cFileIOTarget: the random-access byte stream behind disk files, memory files,
// buffers, sub-ranges, sockets and decompressing streams.
#pragma once

#include <cstdint>

struct sTimestamp;

class cFileIOTarget {
public:
    // Kinds answered by typeOf().
    enum eIOType {
        eIOUnknown = 0,
        eIOFile = 1,
        eIOMemory = 2,
        eIOMemBuffered = 3,
        eIOLinearWriter = 4,
        eIOBufWrapper = 5,
        eIOSubRange = 6,
        eIOZStream = 7,
        eIOSocket = 8,
        eIOText = 9,
    };

    cFileIOTarget() {}
    cFileIOTarget(const cFileIOTarget&) = delete;
    cFileIOTarget& operator=(const cFileIOTarget&) = delete;

    // Total length in bytes.
    virtual unsigned long long size() = 0;
    // Reads up to n bytes at the position; the count read (0 at the end, -1 when the read
    // fails: a failure is never the end), the position moves by it.
    virtual long long read(void* buffer, long long n) = 0;
    // Writes n bytes at the position; the count written.
    virtual long long write(const void* buffer, long long n) = 0;
    // True only when every byte moved.
    virtual bool readf(void* buffer, long long n) { return n >= 0 && read(buffer, n) == n; }
    virtual bool writef(const void* buffer, long long n) { return n >= 0 && write(buffer, n) == n; }
    // Absolute seek from the start.
    virtual bool set_fp(unsigned long long position) = 0;
    // Seek to the end (minus `back` bytes).
    virtual bool set_fp_end(unsigned long long back = 0) {
        unsigned long long s = size();
        return back <= s && set_fp(s - back);
    }
    // Cuts the stream at the position.
    virtual bool set_eof() { return false; }
    virtual void close() = 0;
    virtual bool set_time(const sTimestamp* modified) { return false; }
    // True while the stream is usable.
    virtual bool valid() = 0;
    virtual ~cFileIOTarget() {}
    virtual int typeOf() { return eIOUnknown; }
    // The current position.
    virtual unsigned long long get_fp() = 0;
};

// Exactly n bytes from `position` on: false when the seek fails or fewer arrive.
inline bool readAt(cFileIOTarget* io, unsigned long long position, void* buffer, long long n) {
    return io->set_fp(position) && io->readf(buffer, n);
}
