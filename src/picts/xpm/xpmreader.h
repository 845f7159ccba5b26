// XPM3 pictures in their C form: the strings of values, colours and pixels.
#pragma once

#include "picts/pictrows.h"

class cXpmReader {
public:
    enum eResult { eOk = 0, eNotXpm = 1, eBadSize = 2, eTruncated = 3, eBadData = 4, eNoMemory = 5 };

    // The "/* XPM */" comment, then the values string gives the size.
    static bool probe(const unsigned char* data, long long size, long long& width, long long& height);
    static int decode(const unsigned char* data, long long size, cPictRowSink& sink);
    // A colour value: "#RGB", "#RRGGBB", "#RRRRGGGGBBBB", "None" or a name of the X11 colour
    // database (without case or blanks).
    static bool parseColor(const char* text, long long n, unsigned int& argb);
};
