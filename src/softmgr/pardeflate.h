// cParDeflate: a zlib stream made on all cores. The input is cut into blocks; each is
// deflated raw on its own and ended on a byte boundary with the stream left open (the
// last one finishes it), so the joined blocks form one valid stream.
// cParDeflateStream makes the same stream from input handed over in pieces, writing
// finished blocks in order as it goes, so its memory does not grow with the input.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "base/memio.h"

struct sParDeflatePool;

class cParDeflateStream {
public:
    cParDeflateStream() {}
    ~cParDeflateStream();
    cParDeflateStream(const cParDeflateStream&) = delete;
    cParDeflateStream& operator=(const cParDeflateStream&) = delete;

    // Starts a stream into `target` (not owned) at level 0-9 with up to `threads`
    // workers (0: one per core the process may use). Two blocks per worker are held at most.
    bool begin(cFileIOTarget* target, int level, int threads = 0, long long blockSize = 1 << 20);
    // Hands over input; false once a block failed or the target refused a byte.
    bool write(const void* data, long long size);
    // Ends the stream (last block, Adler-32 trailer) and stops the workers.
    bool finish();
    // Stops the workers without ending the stream (after a failure elsewhere).
    void abort();
    // Bytes written to the target so far.
    unsigned long long packedSize() const { return myPacked; }
    // Plain bytes taken so far.
    unsigned long long plainSize() const { return myPlain; }

private:
    bool submit(bool last);
    bool drainOne();

    sParDeflatePool* myPool = nullptr;
    cFileIOTarget* myTarget = nullptr;
    unsigned long long myPacked = 0;
    unsigned long long myPlain = 0;
    unsigned long myAdler = 1;
    bool myFailed = false;
};

class cParDeflate {
public:
    cParDeflate() {}
    cParDeflate(const cParDeflate&) = delete;
    cParDeflate& operator=(const cParDeflate&) = delete;

    // Compresses size bytes at level 0-9 with up to `threads` workers (0: one per core).
    bool compress(const unsigned char* data, unsigned long long size, int level, int threads = 0,
                  long long blockSize = 1 << 20);
    unsigned long long packedSize() const { return myPacked; }
    // Writes the whole stream; false when the target refuses a byte.
    bool writeTo(cFileIOTarget* target) const;
    bool toBuffer(_typebuf<unsigned char>& out) const;
    void clear();

private:
    mutable cMemIOTarget myOut{1 << 20};
    unsigned long long myPacked = 0;
};
