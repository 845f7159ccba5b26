// Decoded pictures in plain buffers: the row sink every decoder of the common formats writes
// into, the buffer that collects rows bottom-up, checked sizes and a bounded byte reader.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "picts/sizecheck.h"

// width x height as a pixel count; false for empty pictures or pictures over the decode budget
// even as 32-bit pixels (the buffer allocated for them checks its own depth).
inline bool checkedPictPixels(long long width, long long height, long long& pixels) {
    long long bytes;
    if (!checkedImageBytes(width, height, 4, bytes)) return false;
    pixels = width * height;
    return true;
}

// Where decoded rows go. Rows are numbered from the top; pixels are 0xAARRGGBB words, or
// 64-bit words with blue, green, red and alpha as 16-bit fields from low to high.
class cPictRowSink {
public:
    virtual ~cPictRowSink() {}
    // Called once before the first row; false refuses the picture.
    virtual bool begin(long long width, long long height, bool sixteen) = 0;
    // A place to write row y directly, or null (the decoder then calls rowN with its own buffer).
    virtual unsigned int* target32(long long y) { return nullptr; }
    virtual unsigned long long* target64(long long y) { return nullptr; }
    virtual void row32(long long y, const unsigned int* px) = 0;
    virtual void row64(long long y, const unsigned long long* px) = 0;
};

// Collects a whole picture, rows stored bottom-up.
class sRawPict : public cPictRowSink {
public:
    long long width = 0;
    long long height = 0;
    bool sixteen = false;
    _typebuf<unsigned int> px32;
    _typebuf<unsigned long long> px64;

    bool begin(long long w, long long h, bool wide) override;
    unsigned int* target32(long long y) override;
    unsigned long long* target64(long long y) override;
    void row32(long long y, const unsigned int* px) override;
    void row64(long long y, const unsigned long long* px) override;
    // Row y counted from the top.
    unsigned int* top32(long long y) { return px32.ptr + (height - 1 - y) * width; }
    unsigned long long* top64(long long y) { return px64.ptr + (height - 1 - y) * width; }
    // Hands every row, top first, to another sink.
    bool sendTo(cPictRowSink& sink);
    void clear();
};

// Reads the rest of a stream (from its position) into memory, refusing more than maxBytes.
bool readStreamRest(cFileIOTarget* stream, long long maxBytes, _typebuf<unsigned char>& out);

// A bounds-checked reader over bytes in memory: reads past the end give 0 and set `bad`.
struct sByteReader {
    const unsigned char* data = nullptr;
    long long size = 0;
    long long pos = 0;
    bool bad = false;

    sByteReader() {}
    sByteReader(const unsigned char* d, long long n) : data(d), size(n) {}
    long long left() const { return pos < size ? size - pos : 0; }
    bool seek(long long p) {
        if (p < 0 || p > size) return !(bad = true);
        pos = p;
        return true;
    }
    bool skip(long long n) { return n >= 0 && n <= left() ? (pos += n, true) : !(bad = true); }
    unsigned int u8() {
        if (pos >= size) {
            bad = true;
            return 0;
        }
        return data[pos++];
    }
    unsigned int u16le() {
        unsigned int a = u8();
        return a | (u8() << 8);
    }
    unsigned int u16be() {
        unsigned int a = u8();
        return (a << 8) | u8();
    }
    unsigned int u32le() {
        unsigned int a = u16le();
        return a | (u16le() << 16);
    }
    unsigned int u32be() {
        unsigned int a = u16be();
        return (a << 16) | u16be();
    }
    const unsigned char* bytes(long long n) {
        if (n < 0 || n > left()) {
            bad = true;
            return nullptr;
        }
        const unsigned char* p = data + pos;
        pos += n;
        return p;
    }
};

// 8-bit channels to a pixel word.
inline unsigned int pictArgb(unsigned int r, unsigned int g, unsigned int b, unsigned int a = 255) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}
inline unsigned long long pictArgb16(unsigned long long r, unsigned long long g, unsigned long long b,
                                     unsigned long long a = 0xFFFF) {
    return (a << 48) | (r << 32) | (g << 16) | b;
}
