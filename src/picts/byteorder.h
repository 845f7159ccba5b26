// Integers from bytes in memory in a given byte order: big-endian as the box, chunk and
// segment formats (JP2, PNG, ICNS, JBIG2, the raw makers' headers) store them, either order
// as TIFF-structured files and DICOM say.
#pragma once

inline unsigned int be16(const unsigned char* p) { return (unsigned int)p[0] << 8 | p[1]; }
inline unsigned int be32(const unsigned char* p) {
    return (unsigned int)p[0] << 24 | (unsigned int)p[1] << 16 | (unsigned int)p[2] << 8 | p[3];
}
inline unsigned int le16(const unsigned char* p) { return (unsigned int)p[1] << 8 | p[0]; }
inline unsigned int le32(const unsigned char* p) {
    return (unsigned int)p[3] << 24 | (unsigned int)p[2] << 16 | (unsigned int)p[1] << 8 | p[0];
}

inline unsigned int rawGet16(const unsigned char* p, bool be) { return be ? be16(p) : le16(p); }
inline unsigned int rawGet32(const unsigned char* p, bool be) { return be ? be32(p) : le32(p); }
inline unsigned long long rawGet64(const unsigned char* p, bool be) {
    unsigned long long a = rawGet32(p, be), b = rawGet32(p + 4, be);
    return be ? (a << 32 | b) : (b << 32 | a);
}
