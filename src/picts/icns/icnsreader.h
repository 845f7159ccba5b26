// ICNS icon families: the 24-bit RLE elements with their 8-bit masks, ARGB elements and PNG
// elements and JPEG 2000 elements (JP2 files or bare codestreams); the largest decodable element
// is chosen.
#pragma once

#include "picts/pictrows.h"

class cIcnsReader {
public:
    enum eResult { eOk = 0, eNotIcns = 1, eBadSize = 2, eTruncated = 3, eNoImage = 4, eNoMemory = 5, eBadData = 6 };

    struct sChoice {
        long long offset = 0;  // of the element's data
        long long length = 0;
        long long width = 0;
        long long height = 0;
        int kind = 0;  // 1 RLE 24-bit, 2 ARGB, 3 PNG, 5 JPEG 2000
        long long maskOffset = -1;
    };

    // "icns" and a total length that fits; the best element's size when one is decodable.
    static bool probe(const unsigned char* data, long long size, long long& width, long long& height);
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
    static bool choose(const unsigned char* data, long long size, sChoice& best);
    // The icon RLE: a byte below 0x80 is followed by that many plus one literal bytes, a byte
    // from 0x80 repeats the next byte (byte - 125) times. False when the data ends first.
    static bool unpackRle(sByteReader& in, unsigned char* out, long long n, long long stride);
};
