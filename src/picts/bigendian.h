// Big-endian integers from bytes, as the box, chunk and segment formats (JP2, PNG, ICNS,
// JBIG2, the raw makers' headers) store them.
#pragma once

inline unsigned int be16(const unsigned char* p) { return (unsigned int)p[0] << 8 | p[1]; }
inline unsigned int be32(const unsigned char* p) {
    return (unsigned int)p[0] << 24 | (unsigned int)p[1] << 16 | (unsigned int)p[2] << 8 | p[3];
}
