// cParDeflate: a zlib stream made on all cores. The input is cut into blocks; each is
// deflated raw with the previous 32 KiB as its dictionary and ended on a byte boundary
// (sync flush, the last one finished), so the joined blocks form one valid stream.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

class cParDeflate {
public:
    cParDeflate() {}
    ~cParDeflate() { clear(); }
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
    _classbuf<_typebuf<unsigned char> > myBlocks;  // [0] the header, [n + 1] the trailer
    unsigned long long myPacked = 0;
};
