// PCX: 1-bit, 4-plane EGA, 8-bit palette and 24/32-bit planar pictures, RLE or stored.
#pragma once

#include "picts/pictrows.h"

class cPcxReader {
public:
    enum eResult { eOk = 0, eNotPcx = 1, eBadSize = 2, eTruncated = 3, eUnsupported = 4, eNoMemory = 5 };

    static bool probe(const unsigned char* data, long long size, long long& width, long long& height);
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
};
