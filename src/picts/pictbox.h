// Box headers of ISO base-media style containers (JP2, CR3): a 32-bit big-endian size, a
// four-character type, a 64-bit size after the type when the size is 1, and size 0 for a
// box that runs to the end of its container. Shared by the formats built of such boxes.
#pragma once

#include "base/fileiotarget.h"

struct sPictBox {
    unsigned int type = 0;         // the four characters, big-endian
    unsigned long long size = 0;   // the whole box, header included (to the end: what is left)
    unsigned int header = 8;       // 8, or 16 with a 64-bit size
    bool toEnd = false;            // size 0 was given and allowed
};

enum ePictBoxRead {
    pbBox,      // a header whose box fits in what is left
    pbNone,     // fewer than 8 bytes left: no box
    pbBad,      // a size below the header or not allowed, or a header that cannot be read
    pbPastEnd   // a header whose box runs past the container's end (box is filled in)
};

enum ePictBoxFlags {
    pbAllowToEnd = 1,  // size 0 (to the end) is allowed
    pbSize32 = 2       // 64-bit sizes beyond 32 bits are refused
};

constexpr unsigned int pictBoxType(const char* s) {
    return ((unsigned int)(unsigned char)s[0] << 24) | ((unsigned int)(unsigned char)s[1] << 16) |
           ((unsigned int)(unsigned char)s[2] << 8) | (unsigned int)(unsigned char)s[3];
}

// The header at the start of the left bytes at b.
ePictBoxRead pictBoxAt(const unsigned char* b, unsigned long long left, unsigned int flags, sPictBox& box);
// The header at pos of io in a container that ends at end; on pbBox io stands after the
// header. A header that cannot be read whole is pbNone when fewer than 8 bytes are left
// and pbBad otherwise.
ePictBoxRead pictReadBox(cFileIOTarget* io, unsigned long long pos, unsigned long long end, unsigned int flags,
                         sPictBox& box);
