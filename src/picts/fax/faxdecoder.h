// cFaxDecoder: ITU-T T.4 (one- and two-dimensional) and T.6 coded rows into 1-bit rows.
#pragma once

#include "base/buffers.h"

class cFaxDecoder {
public:
    enum eCoding { fcT4 = 0, fcT6 = 1 };

    // width: pixels a row (at least 1); rows: rows to decode; twoD: T.4 with 1D/2D tag bits
    // (T4Options bit 0); lsbFirst: fill order 2 (bits of each byte reversed);
    // whiteIsOne: white pixels are 1 bits (BlackIsZero), else black pixels are 1 bits.
    cFaxDecoder(long long width, long long rows, int coding, bool twoD, bool lsbFirst, bool whiteIsOne);

    // Decodes into out (rows x ceil(width / 8) bytes, sized here). False when the data runs
    // out before the last row or holds an invalid code; the rows decoded so far stay in out.
    bool decode(const unsigned char* data, long long size, _typebuf<unsigned char>& out);
    long long rowsDone() const { return myRowsDone; }

private:
    bool decodeRow1D();
    bool decodeRow2D();
    int decodeRun(bool black);
    bool skipEOL();
    int uncompressedMode(long long& a0, int& colour);
    bool cutAtEOL(long long pos);
    void paintRow(unsigned char* row);

    // MSB-first bit reader; reads past the end give 0 bits and are noticed by `overrun`.
    unsigned peek(int n);
    void consume(int n) { myBit += n; }
    bool overrun() const { return myBit > myBits; }

    long long myWidth, myRows;
    int myCoding;
    bool myTwoD, myLsbFirst, myWhiteIsOne;
    const unsigned char* myData = nullptr;
    long long myBits = 0;  // input length in bits
    long long myBit = 0;   // next bit
    long long myRowsDone = 0;
    bool myEOLSeen = false;  // the current row was cut short by an EOL
    _typebuf<int> myRef, myCur;  // changing elements of the reference and current rows
    long long myRefCount = 0, myCurCount = 0;
};
