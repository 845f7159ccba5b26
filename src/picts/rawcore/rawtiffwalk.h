// The TIFF directory walker as the TIFF-structured raw decoders use it: nested directories
// (EXIF, sub-IFDs, private blocks) are walked from inside a tag callback, so the outer
// walk's position, byte order and next-directory link are saved around the inner walk, and
// nesting is bounded and cycle-checked.
#pragma once

#include "picts/byteorder.h"
#include "picts/tiffwalk/tiffgeneric.h"

class cRawTiffWalker : public cTiffGeneric {
public:
    enum { kMaxNesting = 8 };

    // Walks the directory at offset (same stream, byte order and layout) and puts the
    // walker back where it was. False for a directory walked already, nesting deeper than
    // kMaxNesting, or a failed walk.
    bool walkNested(unsigned int offset);
    // The same for a directory of another byte order or in another stream (a window).
    bool walkNested(cFileIOTarget* io, bool bigEndian, unsigned int offset, unsigned long long size);

protected:
    int myNesting = 0;
};

