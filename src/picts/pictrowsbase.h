// cPictRowsBase: a picture that is also a row sink, so the common-format decoders write either
// into the picture's own buffer or, when a caller's target is registered, straight into it.
#pragma once

#include "picts/pictbase.h"
#include "picts/pictrows.h"

class cPictRowsBase : public cPictBase, public cPictRowSink {
public:
    bool supportsExtRendering() override { return true; }

    bool begin(long long width, long long height, bool sixteen) override;
    unsigned int* target32(long long y) override;
    unsigned long long* target64(long long y) override;
    void row32(long long y, const unsigned int* px) override;
    void row64(long long y, const unsigned long long* px) override;

protected:
    // As begin, for a decoder that writes every row of the picture: the picture's own frame is
    // not cleared first, so its pages come in only as rows are written.
    bool beginEveryRow(long long width, long long height, bool sixteen);
    // Call before decoding into this sink, and with the decoder's answer after it: a failed
    // decode leaves the picture empty, an external rendering is finished either way.
    void startRows();
    bool endRows(bool ok);
    // The rest of the stream in memory for decoders that parse from bytes (bounded by maxBytes).
    static bool readAll(cFileIOTarget* io, _typebuf<unsigned char>& data, long long maxBytes = 1LL << 31);
    // Reads up to n bytes at the stream's position for a probe and puts the position back.
    static long long peek(cFileIOTarget* io, unsigned char* buf, long long n);

private:
    bool startFrame(long long width, long long height, bool sixteen, bool clear);
    bool myExtActive = false;
};
