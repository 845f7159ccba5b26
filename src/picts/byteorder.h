// Integers from bytes in memory in a given byte order: big-endian as the box, chunk and
// segment formats (JP2, PNG, ICNS, JBIG2, the raw makers' headers) store them, either order
// as TIFF-structured files and DICOM say.
#pragma once

#include "base/byteorder.h"

inline unsigned int rawGet16(const unsigned char* p, bool be) { return be ? be16(p) : le16(p); }
inline unsigned int rawGet32(const unsigned char* p, bool be) { return be ? be32(p) : le32(p); }
inline unsigned long long rawGet64(const unsigned char* p, bool be) {
    unsigned long long a = rawGet32(p, be), b = rawGet32(p + 4, be);
    return be ? (a << 32 | b) : (b << 32 | a);
}
