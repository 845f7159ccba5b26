// GIF: the first frame of a GIF87a/89a file, with its palettes, transparency and interlace.
#pragma once

#include "picts/pictrows.h"

class cGifReader {
public:
    enum eResult { eOk = 0, eNotGif = 1, eBadSize = 2, eTruncated = 3, eBadData = 4, eNoMemory = 5 };

    // Signature and logical screen size from the first 10 bytes.
    static bool probe(const unsigned char* data, long long size, long long& width, long long& height);
    // eOk only when the LZW data fills the whole frame; a shorter stream gives eTruncated after
    // the rows it covered have gone to the sink.
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
};

// GIF LZW (LSB-first codes, 2..12 bits, deferred clear): decodes `in` into up to `outSize`
// indices; the count produced.
long long gifLzwDecode(const unsigned char* in, long long inSize, unsigned int minCodeSize, unsigned char* out,
                       long long outSize);
