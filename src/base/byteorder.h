// Integers from and to bytes in memory: little-endian as this program's own files,
// archives, executables and most outside formats store them, big-endian as network-order
// and box formats do.
#pragma once

inline unsigned int le16(const unsigned char* p) { return (unsigned int)p[1] << 8 | p[0]; }
inline unsigned int le32(const unsigned char* p) {
    return (unsigned int)p[3] << 24 | (unsigned int)p[2] << 16 | (unsigned int)p[1] << 8 | p[0];
}
inline unsigned long long le64(const unsigned char* p) { return (unsigned long long)le32(p + 4) << 32 | le32(p); }

inline unsigned int be16(const unsigned char* p) { return (unsigned int)p[0] << 8 | p[1]; }
inline unsigned int be32(const unsigned char* p) {
    return (unsigned int)p[0] << 24 | (unsigned int)p[1] << 16 | (unsigned int)p[2] << 8 | p[3];
}

// The writers: the low bytes of v, in the same orders.
inline void putLe16(unsigned char* p, unsigned int v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}
inline void putLe32(unsigned char* p, unsigned int v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}
inline void putBe32(unsigned char* p, unsigned int v) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}
