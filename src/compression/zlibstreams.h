// zlib streams (with header): one-shot and incremental inflate and deflate, and the
// inflating stream cZStream. Every inflate takes an output cap: hostile input cannot
// make us allocate more than the caller allows.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"

// Default cap on one inflated result.
const long long kZDefaultCap = 1LL << 30;

class cZDecompress {
public:
    // Inflates a whole zlib stream into `out` (sized to the result). False, with `out`
    // empty, when the stream is damaged, truncated (no end of stream) or inflates past maxOut.
    static bool decompress(const _typebuf<unsigned char>& in, _typebuf<unsigned char>& out,
                           long long maxOut = kZDefaultCap);
    static bool decompressPart(const unsigned char* data, long long size, _typebuf<unsigned char>& out,
                               long long maxOut = kZDefaultCap);
    // Inflates a zlib stream held whole in `data` into exactly `size` bytes at `out`. True
    // when the stream makes at least that many (a longer one is cut there, as a streaming
    // inflate stops when its output is full); false when it is damaged before them or ends
    // short. A one-call inflater (libdeflate) reads it first; a stream it does not take
    // whole is read again by zlib, whose reading decides those cases.
    static bool decompressExact(const unsigned char* data, long long inSize, unsigned char* out, long long size);
};

// Incremental inflate: feed input in pieces, take output in pieces.
class cZInflate {
public:
    enum eResult { eNeedMore = 0, eStreamEnd = 1, eError = -1 };

    cZInflate();
    ~cZInflate();
    cZInflate(const cZInflate&) = delete;
    cZInflate& operator=(const cZInflate&) = delete;

    // (Re)starts a zlib stream (raw = true: deflate data without the zlib header).
    bool init(bool raw = false);
    // Consumes input and produces output; inUsed and outMade tell how much moved.
    // eNeedMore: more input or more output room is needed; eStreamEnd: the stream ended.
    eResult inflate(const unsigned char* in, long long inSize, long long& inUsed,
                    unsigned char* out, long long outSize, long long& outMade);
    // One call: restarts the stream and inflates all of `in` into `out`. The number of
    // bytes made, or -1 when the stream cannot start, is damaged, or does not end
    // within outCap bytes (so a caller's "exactly U bytes" check cannot pass on a cut stream).
    long long inflate(const unsigned char* in, long long inSize, unsigned char* out, long long outCap);
    void end();

private:
    void* myState;
};

// Deflate with zlib header.
class cZDeflate {
public:
    cZDeflate();
    ~cZDeflate();
    cZDeflate(const cZDeflate&) = delete;
    cZDeflate& operator=(const cZDeflate&) = delete;

    // One-shot: compresses `size` bytes at `level` (0-9) into `out`.
    static bool compress(const unsigned char* data, long long size, _typebuf<unsigned char>& out, int level);

    // Streaming into a target: begin, add pieces, finish (which writes the rest).
    bool begin(cFileIOTarget* target, int level);
    bool add(const void* data, long long size);
    bool finish();
    // Bytes written to the target so far.
    unsigned long long written() const { return myWritten; }

private:
    bool pump(int flush);
    void* myState;
    cFileIOTarget* myTarget;
    unsigned long long myWritten;
    unsigned char* myBuf;
};

// A read-only stream of the inflated bytes of a zlib stream read from a source.
class cZStream : public cFileIOTarget {
public:
    cZStream();
    ~cZStream() override;

    // Reads from `source` at its current position through a buffer of bufSize bytes;
    // the stream yields at most plainSize bytes. With ownsSource the source is deleted
    // with this stream.
    bool create(cFileIOTarget* source, unsigned long long plainSize, long long bufSize, bool ownsSource);

    unsigned long long size() override;
    // The count read, 0 at the plain size; -1 once the source fails, the data is damaged,
    // or the zlib stream ends before the plain size (bytes read before it are answered
    // first).
    long long read(void* buffer, long long n) override;
    long long write(const void* buffer, long long n) override;
    // Only forward seeks inflate and skip; a seek back restarts the stream from its start.
    // When reads reach the plain size and the zlib stream ends there, its checksum is
    // checked; a mismatch makes valid() false.
    bool set_fp(unsigned long long position) override;
    void close() override;
    bool valid() override;
    int typeOf() override { return eIOZStream; }
    unsigned long long get_fp() override;

private:
    enum eStep { eStepMore, eStepEnded, eStepFailed };
    // Inflates up to n bytes with one refill of the input when it is used up.
    eStep step(unsigned char* out, long long n, long long& made);
    bool restart();
    void checkEnd();
    cFileIOTarget* mySource;
    bool myOwns;
    unsigned long long mySourceStart;
    unsigned long long myPlainSize;
    unsigned long long myPos;
    bool myFailed;
    bool myEnded;
    _typebuf<unsigned char> myBuf;
    long long myBufFill;
    long long myBufUsed;
    cZInflate myInflate;
};
