// cJbig2Arith: the bitmap of one JBIG2 generic region coded with the MQ coder (ITU-T T.88
// 6.2): templates 0-3 with their adaptive-template pixels and typical prediction (TPGDON).
#pragma once

#include "base/buffers.h"

// A generic region's header as read from its segment data (T.88 7.4.1 and 7.4.6.1).
struct sJB2GenRegion {
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int x = 0;
    unsigned int y = 0;
    unsigned char combOp = 0;  // external combination operator (low 3 bits)
    unsigned char flags = 0;   // bit 0 MMR, bits 1-2 template, bit 3 TPGDON, bit 4 extended template
    signed char at[8] = {};    // adaptive-template pixels as (x, y) pairs; templates 1-3 have one

    int gbTemplate() const { return (flags >> 1) & 3; }
    // Bytes of the header in the data: the region information (17), the flags (1) and the AT
    // pixels (8 for template 0, 2 for templates 1-3).
    int headerBytes() const { return gbTemplate() == 0 ? 26 : 20; }
};

class cJbig2Arith {
public:
    // Largest region decoded: the bitmap is bounded by the picture caps and by what the coded
    // bytes could stand for.
    static bool sizeAllowed(unsigned int width, unsigned int height);

    // Decodes the region's bitmap from its coded bytes into `bitmap`: rows of ceil(width / 8)
    // bytes, the leftmost pixel in the most significant bit, 1 for black. False for MMR or
    // extended-template regions, AT pixels outside the decoded area (T.88 6.2.5.4), a refused
    // size or no memory.
    bool decode(const sJB2GenRegion& region, const unsigned char* data, long long size,
                _typebuf<unsigned char>& bitmap);
};
