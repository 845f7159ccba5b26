// TGA: colour-mapped, true-colour and grey pictures, raw or RLE, 8/15/16/24/32 bits, any origin.
#pragma once

#include "picts/pictrows.h"

class cTgaReader {
public:
    enum eResult { eOk = 0, eNotTga = 1, eBadSize = 2, eTruncated = 3, eUnsupported = 4, eNoMemory = 5 };

    // TGA has no signature: the 18 header bytes' fields must all be consistent and, with the
    // identifier and colour map, fit a file of fileSize bytes.
    static bool probe(const unsigned char* header, long long fileSize, long long& width, long long& height);
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
};
