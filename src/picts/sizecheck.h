// Overflow-refusing size helpers used by every decoder before it allocates pixels,
// rows or tables from sizes read out of a file.
#pragma once

// Largest picture any decoder allocates: 2^31 pixels and 4 GiB of pixel data.
const long long kMaxImagePixels = 1LL << 31;
const long long kMaxImageBytes = 4LL << 30;

// The decode budget: what one decode may allocate for a picture or one of its big work
// buffers, in pixels and in bytes, whichever is reached first. A few bytes of a file can declare
// a picture of any size, so every size check below holds to it. By default 256 megapixels
// (2^28) and 1 GiB; a caller may set other limits (at most the caps above) for every decode that
// follows, in any thread. Zero or less restores a default.
const long long kDefaultBudgetPixels = 1LL << 28;
const long long kDefaultBudgetBytes = 1LL << 30;
void setPictDecodeBudget(long long pixels, long long bytes);
long long pictBudgetPixels();
long long pictBudgetBytes();

// The last size this thread's decodes refused for the budget: the picture's width and height
// (0 x 0 for a work buffer) and the bytes it needed; all 0 when none was refused since
// clearPictBudgetRefusal. pictBudgetMessage writes it as a sentence ("" when none).
struct sPictBudgetRefusal {
    long long width = 0;
    long long height = 0;
    long long bytes = 0;
    bool any() const { return width || height || bytes; }
};
sPictBudgetRefusal pictBudgetRefusal();
void clearPictBudgetRefusal();
void pictBudgetMessage(char* out, long long size);
// Records a refusal; false. The checks below return a literal false beside it, so that the
// compiler sees that a refused size leaves nothing to read.
bool refuseOverBudget(long long width, long long height, long long bytes);

// A work buffer of `count` elements of `elemBytes` each within the budget's bytes; the total
// in `bytes` (untouched on refusal).
inline bool checkedWorkBytes(long long count, long long elemBytes, long long& bytes);

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

// width * height when both are at least 1 and the product stays within the budget's pixels.
inline bool checkedImagePixels(long long width, long long height, long long& pixels) {
    long long p;
    if (width < 1 || height < 1) return false;
    if (!checkedMul(width, height, p) || p > pictBudgetPixels()) return refuseOverBudget(width, height, 0), false;
    pixels = p;
    return true;
}

// width * height * bytesPerPixel within the budget's pixels and bytes; `bytes` untouched on
// refusal.
inline bool checkedImageBytes(long long width, long long height, long long bytesPerPixel, long long& bytes) {
    long long p = 0, b = 0x7FFFFFFFFFFFFFFFLL;
    if (bytesPerPixel < 1 || width < 1 || height < 1) return false;
    const bool fits = checkedMul(width, height, p) && checkedMul(p, bytesPerPixel, b);
    if (!fits || p > pictBudgetPixels() || b > pictBudgetBytes()) return refuseOverBudget(width, height, b), false;
    bytes = b;
    return true;
}

// A page of width x height pixels of bitsPerPixel bits each, every row rounded up to whole
// bytes (1-bit pages), within the budget's pixels and bytes; `bytes` untouched on refusal.
inline bool checkedPageBytes(long long width, long long height, long long bitsPerPixel, long long& bytes) {
    long long p = 0, row = 0, b = 0x7FFFFFFFFFFFFFFFLL;
    if (bitsPerPixel < 1 || width < 1 || height < 1) return false;
    const bool fits = checkedMul(width, height, p) && checkedMul(width, bitsPerPixel, row) &&
                      checkedMul(row / 8 + ((row & 7) != 0), height, b);
    if (!fits || p > pictBudgetPixels() || b > pictBudgetBytes()) return refuseOverBudget(width, height, b), false;
    bytes = b;
    return true;
}

inline bool checkedWorkBytes(long long count, long long elemBytes, long long& bytes) {
    long long b = 0x7FFFFFFFFFFFFFFFLL;
    if (count < 0 || elemBytes < 1) return false;
    if (!checkedMul(count, elemBytes, b) || b > pictBudgetBytes()) return refuseOverBudget(0, 0, b), false;
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

// Asks for 2 MiB pages over the whole 2 MiB spans of a big buffer that is about to be written
// (where the system grants them on request; nothing elsewhere): one page fault and one TLB
// entry per 2 MiB instead of per 4 KiB. Buffers under `minBytes` are left as they are.
void pictAdviseHugePages(void* p, long long bytes, long long minBytes = 0);
// Hands back to the system the whole 2 MiB pieces of a buffer's first `doneBytes` that will not
// be read again, so that pages faulted in meanwhile elsewhere take their place and the peak stays
// near one buffer's size instead of two. `releasedTo` is where the last release ended (0 at first).
void pictReleaseConsumed(const void* base, long long doneBytes, unsigned long long& releasedTo);
