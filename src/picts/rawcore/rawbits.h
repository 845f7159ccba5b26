// Bit readers shared by the camera raw decoders, over bytes in memory: most significant bit
// first (with or without JPEG 0xFF00 stuffing), least significant bit first, and most
// significant first out of 32-bit words. Past the end of the data every reader delivers
// zero bits and counts them, so a truncated strip ends in a bounded, detectable way.
#pragma once

#include <cstdint>

#include "base/buffers.h"

// What the two MSB-first readers share: the held bits sit at the top of a 64-bit
// accumulator, the next one highest. The reader R supplies fill(), which tops the
// accumulator up to more than 32 held bits and counts in myPad the zero bits it appends
// once the data has ended.
template <class R>
class cRawBitsMSBCore {
public:
    // The next n bits (0 to 32) without consuming them.
    uint32_t peek(int n) {
        if (n <= 0) return 0;
        if (myBits < n) static_cast<R*>(this)->fill();
        return (uint32_t)(myAcc >> (64 - n));
    }
    void skip(int n) {
        if (n <= 0) return;
        if (myBits < n) static_cast<R*>(this)->fill();
        myAcc <<= n;
        myBits -= n;
    }
    uint32_t get(int n) {
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // True once bits past the end of the data (or a marker) were consumed.
    bool overrun() const { return myPad > myBits; }

protected:
    void start(const unsigned char* data, long long size) {
        myData = data;
        mySize = data && size > 0 ? size : 0;
        myPos = 0;
        myAcc = 0;
        myBits = 0;
        myPad = 0;
    }

    const unsigned char* myData = nullptr;
    long long mySize = 0;
    long long myPos = 0;
    uint64_t myAcc = 0;  // held bits, the next one the highest
    int myBits = 0;
    long long myPad = 0;  // zero bits appended after the data ended, still held or consumed
};

// MSB-first reader. With stuffing, a 0xFF byte must be followed by 0x00 (dropped); 0xFF
// followed by anything else is a marker, where the data ends (zero bits from there on).
class cRawBitsMSB : public cRawBitsMSBCore<cRawBitsMSB> {
public:
    cRawBitsMSB() {}
    cRawBitsMSB(const unsigned char* data, long long size, bool ffStuffing = false) { wrap(data, size, ffStuffing); }
    void wrap(const unsigned char* data, long long size, bool ffStuffing = false);

    // One symbol through a table built by cHaffmanTable::createIndexTable: looks at the
    // table's longest code length, consumes the symbol's own length. -1 for a malformed
    // table or bits that start no code (the table's length is consumed then).
    int huff(const _typebuf<unsigned int>& table);
    // Drops the bits left of the current byte.
    void align() { skip(myBits & 7); }
    // Byte position of the next unread bit's byte (stuffing bytes counted).
    long long bytePos() const { return myPos - myBits / 8; }
    bool markerSeen() const { return myMarker; }

private:
    friend class cRawBitsMSBCore<cRawBitsMSB>;
    void fill();

    bool myStuffing = false;
    bool myMarker = false;
};

// LSB-first reader: bits leave each byte from its lowest bit up, and a value of n bits is
// assembled with its first bit as its lowest.
class cRawBitsLSB {
public:
    cRawBitsLSB() {}
    cRawBitsLSB(const unsigned char* data, long long size) { wrap(data, size); }
    void wrap(const unsigned char* data, long long size);

    uint32_t peek(int n) {
        if (n <= 0) return 0;
        if (myBits < n) fill();
        return (uint32_t)(myAcc & ((n >= 32) ? 0xFFFFFFFFull : ((1ull << n) - 1)));
    }
    void skip(int n) {
        if (n <= 0) return;
        if (myBits < n) fill();
        myAcc >>= n;
        myBits -= n;
    }
    uint32_t get(int n) {
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    long long bytePos() const { return myPos - myBits / 8; }
    bool overrun() const { return myPad > myBits; }

private:
    void fill();

    const unsigned char* myData = nullptr;
    long long mySize = 0;
    long long myPos = 0;
    uint64_t myAcc = 0;  // held bits, the next one the lowest
    int myBits = 0;
    long long myPad = 0;
};

// MSB-first reader over 32-bit words stored in the given byte order: each word is loaded
// whole and its bits are taken from bit 31 down. A trailing partial word reads as if
// padded with zero bytes; only whole words past the end count as overrun.
class cRawBits32 : public cRawBitsMSBCore<cRawBits32> {
public:
    cRawBits32() {}
    cRawBits32(const unsigned char* data, long long size, bool bigEndianWords) { wrap(data, size, bigEndianWords); }
    void wrap(const unsigned char* data, long long size, bool bigEndianWords);

private:
    friend class cRawBitsMSBCore<cRawBits32>;
    void fill();

    bool myBE = false;
};
