// UTF-8 and UTF-16 decoding for the canvas's text operations.
#include "ciplatform/textcodec.h"

static bool prepare(long long n, _typebuf<unsigned int>& cps, _typebuf<long long>& units) {
    long long need = n + 1;
    if (cps.count < need && !cps.set(need)) return false;
    if (units.count < need && !units.set(need)) return false;
    return true;
}

bool decodeUtf8(const char* text, long long length, _typebuf<unsigned int>& cps, _typebuf<long long>& units,
                long long& count) {
    count = 0;
    if (!text) length = 0;
    if (length < 0) {
        length = 0;
        while (text[length]) length++;
    }
    if (!prepare(length, cps, units)) return false;
    const unsigned char* s = (const unsigned char*)text;
    long long i = 0;
    while (i < length) {
        unsigned int c = s[i];
        int extra = 0;
        unsigned int minimum = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, c &= 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, c &= 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, c &= 0x07, minimum = 0x10000;
        } else {
            extra = -1;
        }
        long long start = i;
        bool ok = extra >= 0 && i + extra < length;
        for (int k = 1; ok && k <= extra; k++) {
            unsigned int b = s[i + k];
            if ((b & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (b & 0x3F);
        }
        if (ok && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (ok) {
            i += extra + 1;
        } else {
            c = 0xFFFD;
            i += 1;
        }
        units.ptr[count] = start;
        cps.ptr[count++] = c;
    }
    units.ptr[count] = i;
    return true;
}

bool decodeUtf16(const unsigned short* text, long long length, _typebuf<unsigned int>& cps,
                 _typebuf<long long>& units, long long& count) {
    count = 0;
    if (!text) length = 0;
    if (length < 0) {
        length = 0;
        while (text[length]) length++;
    }
    if (!prepare(length, cps, units)) return false;
    long long i = 0;
    while (i < length) {
        unsigned int c = text[i];
        long long start = i++;
        if (c >= 0xD800 && c <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        units.ptr[count] = start;
        cps.ptr[count++] = c;
    }
    units.ptr[count] = i;
    return true;
}
