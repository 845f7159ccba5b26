// Bit readers of the raw decoders. Each keeps at most 64 bits; a refill tops the
// accumulator up to more than 32 held bits, so any request of up to 32 bits is served.
#include "picts/rawcore/rawbits.h"

void cRawBitsMSB::wrap(const unsigned char* data, long long size, bool ffStuffing) {
    start(data, size);
    myStuffing = ffStuffing;
    myMarker = false;
}

void cRawBitsMSB::fill() {
    while (myBits <= 56) {
        unsigned int b = 0;
        bool real = false;
        if (!myMarker && myPos < mySize) {
            b = myData[myPos];
            if (myStuffing && b == 0xFF) {
                // T.81 F.1.2.3: 0xFF00 is a data byte 0xFF; anything else is a marker.
                if (myPos + 1 < mySize && myData[myPos + 1] == 0) {
                    myPos += 2;
                    real = true;
                } else {
                    myMarker = true;
                    b = 0;
                }
            } else {
                myPos++;
                real = true;
            }
        }
        if (!real) myPad += 8;
        myAcc |= (uint64_t)b << (56 - myBits);
        myBits += 8;
    }
}

int cRawBitsMSB::huff(const _typebuf<unsigned int>& table) {
    if (table.count < 3 || !table.ptr) return -1;
    unsigned int longest = table.ptr[0];
    if (longest < 1 || longest > 16 || table.count != 1 + (1LL << longest)) return -1;
    unsigned int e = table.ptr[1 + peek((int)longest)];
    int len = (int)(e >> 8);
    if (len < 1 || len > (int)longest) {
        skip((int)longest);
        return -1;
    }
    skip(len);
    return (int)(e & 0xFF);
}

void cRawBitsLSB::wrap(const unsigned char* data, long long size) {
    myData = data;
    mySize = data && size > 0 ? size : 0;
    myPos = 0;
    myAcc = 0;
    myBits = myPad = 0;
}

void cRawBitsLSB::fill() {
    while (myBits <= 56) {
        unsigned int b = 0;
        if (myPos < mySize)
            b = myData[myPos++];
        else
            myPad += 8;
        myAcc |= (uint64_t)b << myBits;
        myBits += 8;
    }
}

void cRawBits32::wrap(const unsigned char* data, long long size, bool bigEndianWords) {
    start(data, size);
    myBE = bigEndianWords;
}

void cRawBits32::fill() {
    while (myBits <= 32) {
        uint32_t w = 0;
        int real = 0;
        for (int i = 0; i < 4; i++) {
            uint32_t b = 0;
            if (myPos < mySize) {
                b = myData[myPos++];
                real++;
            }
            w |= myBE ? b << (24 - 8 * i) : b << (8 * i);
        }
        if (!real) myPad += 32;
        myAcc |= (uint64_t)w << (32 - myBits);
        myBits += 32;
    }
}
