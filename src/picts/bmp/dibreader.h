// Device-independent bitmaps: the info header, palettes, BI_RGB, BI_BITFIELDS and RLE4/RLE8
// pixel data, and the AND mask of icon images.
#pragma once

#include "picts/pictrows.h"

struct sDibInfo {
    long long width = 0;
    long long height = 0;  // of the image alone (an icon's mask not counted)
    bool topDown = false;
    unsigned int headerSize = 0;
    unsigned int bpp = 0;
    unsigned int compression = 0;
    unsigned int paletteCount = 0;
    unsigned int paletteEntry = 4;  // bytes per palette entry (3 for the old core header)
    unsigned int masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool hasMasks = false;
    long long dataStart = 0;  // where the palette ends (headerless pixel data starts here)
};

class cDibReader {
public:
    enum eResult { eOk = 0, eBadHeader = 1, eBadSize = 2, eTruncated = 3, eUnsupported = 4, eNoMemory = 5 };

    // Options: `icon` = the height counts the image and its AND mask; `useAlpha` = a 32-bit
    // picture's fourth byte is alpha (ignored when it is zero everywhere); `forcePalette` = a
    // colour table of biClrUsed entries precedes the pixels at every depth.
    bool icon = false;
    bool useAlpha = false;
    bool forcePalette = false;

    // Parses the info header at the start of `data`.
    int parseHeader(const unsigned char* data, long long size, sDibInfo& info) const;
    // Decodes a DIB; pixelOffset < 0 means the pixels follow the palette.
    int decode(const unsigned char* data, long long size, long long pixelOffset, cPictRowSink& sink);

private:
    int decodeRle(sByteReader& in, const sDibInfo& info, sRawPict& out);
    unsigned int myPalette[256];
};
