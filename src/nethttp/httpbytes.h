// cHttpBytes: a growable byte buffer for building requests (doubling, overflow-checked).
#pragma once

#include <cstring>

#include "base/buffers.h"

class cHttpBytes {
public:
    _typebuf<char> buf;
    long long used = 0;

    bool append(const void* data, long long n) {
        if (n < 0) return false;
        if (n == 0) return true;
        if (used > (1LL << 62) - n) return false;
        long long need = used + n;
        if (need > buf.count) {
            long long cap = buf.count < 256 ? 256 : buf.count;
            while (cap < need) cap *= 2;
            if (!buf.reset(cap)) return false;
        }
        memcpy(buf.ptr + used, data, (size_t)n);
        used = need;
        return true;
    }
    bool append(const char* text) { return text ? append(text, (long long)strlen(text)) : true; }
    void clear() {
        buf.clear();
        used = 0;
    }
};
