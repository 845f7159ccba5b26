// Overflow-refusing size helpers used by every decoder before it allocates pixels,
// rows or tables from sizes read out of a file.
#pragma once

// Largest picture any decoder allocates: 2^31 pixels and 4 GiB of pixel data.
const long long kMaxImagePixels = 1LL << 31;
const long long kMaxImageBytes = 4LL << 30;

// a * b for non-negative operands; false on a negative operand or overflow.
inline bool checkedMul(long long a, long long b, long long& r) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > 0x7FFFFFFFFFFFFFFFLL / a) return false;
    r = a * b;
    return true;
}

// a + b for non-negative operands; false on a negative operand or overflow.
inline bool checkedAdd(long long a, long long b, long long& r) {
    if (a < 0 || b < 0 || a > 0x7FFFFFFFFFFFFFFFLL - b) return false;
    r = a + b;
    return true;
}

// width * height when both are at least 1 and the product stays within kMaxImagePixels.
inline bool checkedImagePixels(long long width, long long height, long long& pixels) {
    long long p;
    if (width < 1 || height < 1 || !checkedMul(width, height, p) || p > kMaxImagePixels) return false;
    pixels = p;
    return true;
}

// width * height * bytesPerPixel within both caps; `bytes` untouched on refusal.
inline bool checkedImageBytes(long long width, long long height, long long bytesPerPixel, long long& bytes) {
    long long p, b;
    if (bytesPerPixel < 1 || !checkedImagePixels(width, height, p) || !checkedMul(p, bytesPerPixel, b) ||
        b > kMaxImageBytes)
        return false;
    bytes = b;
    return true;
}

// Bytes of one row of `width` samples of `bitsPerSample` bits each, `samples` per pixel,
// rounded up to whole bytes; false on overflow or a result above kMaxImageBytes.
inline bool checkedRowBytes(long long width, long long samples, long long bitsPerSample, long long& bytes) {
    long long s, bits;
    if (width < 1 || samples < 1 || bitsPerSample < 1 || !checkedMul(width, samples, s) ||
        !checkedMul(s, bitsPerSample, bits))
        return false;
    long long b = bits / 8 + ((bits & 7) ? 1 : 0);
    if (b > kMaxImageBytes) return false;
    bytes = b;
    return true;
}
