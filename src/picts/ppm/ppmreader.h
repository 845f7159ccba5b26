// Netpbm pictures P1-P6: bitmaps, grey maps and pixmaps, plain and raw, maxval up to 65535.
#pragma once

#include "picts/pictrows.h"

class cPpmReader {
public:
    enum eResult { eOk = 0, eNotPpm = 1, eBadSize = 2, eTruncated = 3, eBadData = 4, eNoMemory = 5 };

    struct sHeader {
        int kind = 0;  // 1..6 from "P1".."P6"
        long long width = 0;
        long long height = 0;
        unsigned int maxval = 1;
        long long dataStart = 0;
    };
    static bool probe(const unsigned char* data, long long size, long long& width, long long& height) {
        sHeader h;
        if (readHeader(data, size, h) != eOk) return false;
        width = h.width;
        height = h.height;
        return true;
    }
    static int readHeader(const unsigned char* data, long long size, sHeader& h);
    // Raster samples above 255 go to the 64-bit buffer.
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
};
