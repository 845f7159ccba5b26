// Arbitrary bytes through UTF-8 -> UTF-16 -> UTF-8: never crashes, the second pass is
// stable, and well-formed input comes back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/strings.h"

namespace {

// Plain well-formedness check, independent of the converter.
bool wellFormed(const unsigned char* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        unsigned b = s[i];
        size_t need;
        unsigned lo = 0x80, hi = 0xBF;
        if (b < 0x80) need = 0;
        else if (b >= 0xC2 && b <= 0xDF) need = 1;
        else if (b == 0xE0) need = 2, lo = 0xA0;
        else if (b == 0xED) need = 2, hi = 0x9F;
        else if (b >= 0xE1 && b <= 0xEF) need = 2;
        else if (b == 0xF0) need = 3, lo = 0x90;
        else if (b == 0xF4) need = 3, hi = 0x8F;
        else if (b >= 0xF1 && b <= 0xF3) need = 3;
        else return false;
        if (n - i - 1 < need) return false;
        for (size_t k = 1; k <= need; k++) {
            if (s[i + k] < lo || s[i + k] > hi) return false;
            lo = 0x80, hi = 0xBF;
        }
        i += need + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = (const char*)data;
    _guardchar<unsigned short> w;
    long long units = _pc2w(text, (long long)size, w);
    if (units < 0) return 0;
    _guardchar<char> back;
    long long bytes = _w2pc(w.ptr, units, back);
    if (bytes < 0) return 0;
    if (wellFormed(data, size) && (bytes != (long long)size || memcmp(back.ptr, data, size) != 0)) abort();

    // The repaired text is well-formed, so a second round trip must not change it.
    if (!wellFormed((const unsigned char*)back.ptr, (size_t)bytes)) abort();
    _guardchar<unsigned short> w2;
    if (_pc2w(back.ptr, bytes, w2) != units || memcmp(w2.ptr, w.ptr, (size_t)units * 2) != 0) abort();

    // Bounded forms at a size taken from the input: no write past the end (ASan checks).
    size_t cap = size ? data[0] % 8 : 0;
    // Exactly cap units and cap bytes, so ASan sees any write past them.
    unsigned short* small = (unsigned short*)malloc(cap ? cap * 2 : 1);
    char* smallBytes = (char*)malloc(cap ? cap : 1);
    if (small && smallBytes) {
        long long n1 = _pc2w(text, (long long)size, small, (long long)cap);
        long long n2 = _w2pc(w.ptr, units, smallBytes, (long long)cap);
        if (n1 > (long long)cap || n2 > (long long)cap) abort();
    }
    free(small);
    free(smallBytes);
    return 0;
}
