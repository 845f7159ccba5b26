// Text functions: bounded copies and formatting, case mapping, UTF-8 <-> UTF-16.
#include "base/strings.h"

#include <climits>
#include <cstdio>

namespace {

const unsigned kReplacement = 0xFFFD;

// One code point from UTF-8 at s[i], i < n. Advances i past the sequence, or past the
// maximal ill-formed subpart (then `valid` is false and U+FFFD is returned).
unsigned decodeUtf8(const unsigned char* s, long long n, long long& i, bool& valid) {
    unsigned b = s[i];
    valid = true;
    if (b < 0x80) {
        i++;
        return b;
    }
    int need;
    unsigned lo = 0x80, hi = 0xBF, cp;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // overlong
        if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;  // overlong
        if (b == 0xF4) hi = 0x8F;  // past U+10FFFF
    } else {
        i++;
        valid = false;
        return kReplacement;
    }
    long long j = i + 1;
    for (int k = 0; k < need; k++, j++) {
        if (j >= n || s[j] < lo || s[j] > hi) {
            i = j;  // the bad byte starts the next sequence
            valid = false;
            return kReplacement;
        }
        cp = (cp << 6) | (s[j] & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    i = j;
    return cp;
}

// One code point from UTF-16 at s[i], i < n; a lone surrogate gives U+FFFD.
unsigned decodeUtf16(const unsigned short* s, long long n, long long& i) {
    unsigned u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        unsigned l = s[i++];
        return 0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00);
    }
    return kReplacement;
}

int utf8Length(unsigned cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

void encodeUtf8(unsigned cp, unsigned char* d) {
    if (cp < 0x80) {
        d[0] = (unsigned char)cp;
    } else if (cp < 0x800) {
        d[0] = (unsigned char)(0xC0 | (cp >> 6));
        d[1] = (unsigned char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        d[0] = (unsigned char)(0xE0 | (cp >> 12));
        d[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        d[2] = (unsigned char)(0x80 | (cp & 0x3F));
    } else {
        d[0] = (unsigned char)(0xF0 | (cp >> 18));
        d[1] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        d[2] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        d[3] = (unsigned char)(0x80 | (cp & 0x3F));
    }
}

long long byteLength(const char* text, long long n) {
    if (n >= 0) return n;
    long long k = 0;
    while (text[k]) k++;
    return k;
}

unsigned char lowerAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

template <class Out>
bool copyBytes(const char* text, long long n, Out& out);

template <>
bool copyBytes(const char* text, long long n, _guardchar<char>& out) {
    if (!text) return false;
    return out.set(text, byteLength(text, n));
}

template <>
bool copyBytes(const char* text, long long n, _typebuf<char>& out) {
    if (!text) return false;
    long long len = byteLength(text, n);
    if (len == LLONG_MAX || !out.set(len + 1)) return false;
    memcpy(out.ptr, text, (size_t)len);
    out.ptr[len] = 0;
    return true;
}

}  // namespace

long long _wcslen(const unsigned short* s) {
    if (!s) return 0;
    long long n = 0;
    while (s[n]) n++;
    return n;
}

bool _wcscpy_s(unsigned short* dst, long long capacity, const unsigned short* src) {
    if (!dst || capacity <= 0) return false;
    if (!src) {
        dst[0] = 0;
        return false;
    }
    long long i = 0;
    while (src[i] && i < capacity - 1) {
        dst[i] = src[i];
        i++;
    }
    bool whole = src[i] == 0;
    // Do not leave the high half of a pair whose low half was cut.
    if (!whole && i > 0 && dst[i - 1] >= 0xD800 && dst[i - 1] <= 0xDBFF) i--;
    dst[i] = 0;
    return whole;
}

int _vsprintf_s(char* buffer, long long size, const char* format, va_list args) {
    if (!buffer || size <= 0) return -1;
    if (!format) {
        buffer[0] = 0;
        return -1;
    }
    size_t cap = size > INT_MAX ? (size_t)INT_MAX : (size_t)size;
    int r = vsnprintf(buffer, cap, format, args);
    if (r < 0) {
        buffer[0] = 0;
        return -1;
    }
    if ((size_t)r < cap) return r;
    // Cut: drop a trailing partial UTF-8 sequence.
    long long len = (long long)cap - 1;
    long long j = len - 1;
    while (j >= 0 && len - j <= 3 && ((unsigned char)buffer[j] & 0xC0) == 0x80) j--;
    if (j >= 0 && (unsigned char)buffer[j] >= 0xC0) {
        unsigned char lead = (unsigned char)buffer[j];
        int want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (len - j < want) buffer[j] = 0;
    }
    return -1;
}

int _sprintf_s(char* buffer, long long size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int r = _vsprintf_s(buffer, size, format, args);
    va_end(args);
    return r;
}

int _sscanf_s(const char* text, const char* format, ...) {
    if (!text || !format) return -1;
    va_list args;
    va_start(args, format);
    int r = vsscanf(text, format, args);
    va_end(args);
    return r;
}

int __stricmp(const char* a, const char* b) { return __stricmp(a, b, LLONG_MAX); }

int __stricmp(const char* a, const char* b, long long n) {
    if (n <= 0 || a == b) return 0;
    if (!a) return -1;
    if (!b) return 1;
    for (long long i = 0; i < n; i++) {
        unsigned char x = lowerAscii((unsigned char)a[i]), y = lowerAscii((unsigned char)b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (!x) break;
    }
    return 0;
}

int __memicmp(const void* a, const void* b, long long n) {
    if (n <= 0 || a == b) return 0;
    if (!a) return -1;
    if (!b) return 1;
    const unsigned char* p = (const unsigned char*)a;
    const unsigned char* q = (const unsigned char*)b;
    for (long long i = 0; i < n; i++) {
        unsigned char x = lowerAscii(p[i]), y = lowerAscii(q[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool __acp_isspace(char c) { return c == 9 || c == 10 || c == 13 || c == 32; }
bool __acp_isspace(unsigned short c) { return c == 9 || c == 10 || c == 13 || c == 32; }

char __acp_lower(char c) { return (char)lowerAscii((unsigned char)c); }
char __acp_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }

unsigned short __acp_lower(unsigned short c) {
    unsigned r = c;
    if (c < 0x80) {
        r = lowerAscii((unsigned char)c);
    } else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        r = c + 32;
    } else if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x178)
            r = 0xFF;
        else if ((c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177))
            r = (c & 1) ? c : c + 1;
        else if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            r = (c & 1) ? c + 1 : c;
    } else if (c >= 0x386 && c <= 0x3AB) {
        if (c == 0x386)
            r = 0x3AC;
        else if (c >= 0x388 && c <= 0x38A)
            r = c + 37;
        else if (c == 0x38C)
            r = 0x3CC;
        else if (c == 0x38E || c == 0x38F)
            r = c + 63;
        else if (c >= 0x391 && c != 0x3A2)
            r = c + 32;
    } else if (c >= 0x400 && c <= 0x52F) {
        if (c <= 0x40F)
            r = c + 80;
        else if (c <= 0x42F)
            r = c + 32;
        else if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0)
            r = (c & 1) ? c : c + 1;
        else if (c == 0x4C0)
            r = 0x4CF;
        else if (c >= 0x4C1 && c <= 0x4CE)
            r = (c & 1) ? c + 1 : c;
    } else if (c >= 0xFF21 && c <= 0xFF3A) {
        r = c + 32;
    }
    return (unsigned short)r;
}

unsigned short __acp_upper(unsigned short c) {
    unsigned r = c;
    if (c < 0x80) {
        r = (unsigned short)__acp_upper((char)c);
    } else if (c == 0xB5) {
        r = 0x39C;
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        r = c - 32;
    } else if (c == 0xFF) {
        r = 0x178;
    } else if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x131)
            r = 'I';
        else if (c == 0x17F)
            r = 'S';
        else if (c <= 0x137 || (c >= 0x14A && c <= 0x177))
            r = (c & 1) ? c - 1 : c;
        else if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            r = (c & 1) ? c : c - 1;
    } else if (c >= 0x3AC && c <= 0x3CE) {
        if (c == 0x3AC)
            r = 0x386;
        else if (c <= 0x3AF)
            r = c - 37;
        else if (c == 0x3C2)
            r = 0x3A3;
        else if (c >= 0x3B1 && c <= 0x3CB)
            r = c - 32;
        else if (c == 0x3CC)
            r = 0x38C;
        else if (c >= 0x3CD)
            r = c - 63;
    } else if (c >= 0x430 && c <= 0x52F) {
        if (c <= 0x44F)
            r = c - 32;
        else if (c <= 0x45F)
            r = c - 80;
        else if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0)
            r = (c & 1) ? c - 1 : c;
        else if (c == 0x4CF)
            r = 0x4C0;
        else if (c >= 0x4C1 && c <= 0x4CE)
            r = (c & 1) ? c : c - 1;
    } else if (c >= 0xFF41 && c <= 0xFF5A) {
        r = c - 32;
    }
    return (unsigned short)r;
}

bool __acp_lower(const char* text, _guardchar<char>& out) {
    if (!text) {
        out.clear();
        return true;
    }
    long long n = byteLength(text, -1);
    _guardchar<char> tmp;
    // Lower-casing never lengthens a character in the mapped ranges.
    if (!tmp.set(n)) return false;
    const unsigned char* s = (const unsigned char*)text;
    unsigned char* d = (unsigned char*)tmp.ptr;
    long long i = 0, o = 0;
    while (i < n) {
        long long start = i;
        bool valid;
        unsigned cp = decodeUtf8(s, n, i, valid);
        if (!valid) {
            // Keep ill-formed bytes as they are.
            memcpy(d + o, s + start, (size_t)(i - start));
            o += i - start;
            continue;
        }
        if (cp < 0x10000) cp = __acp_lower((unsigned short)cp);
        encodeUtf8(cp, d + o);
        o += utf8Length(cp);
    }
    d[o] = 0;
    out.attach(tmp.dettach());
    return true;
}

bool _pc2a(const char* text, long long n, _guardchar<char>& out) { return copyBytes(text, n, out); }
bool _pc2a(const char* text, long long n, _typebuf<char>& out) { return copyBytes(text, n, out); }
bool _a2pc(const char* text, long long n, _guardchar<char>& out) { return copyBytes(text, n, out); }
bool _a2pc(const char* text, long long n, _typebuf<char>& out) { return copyBytes(text, n, out); }

long long _pc2w(const char* text, long long n, unsigned short* buffer, long long capacity) {
    if (!text || !buffer || capacity <= 0) return 0;
    n = byteLength(text, n);
    const unsigned char* s = (const unsigned char*)text;
    long long i = 0, o = 0;
    while (i < n) {
        long long at = i;
        bool valid;
        unsigned cp = decodeUtf8(s, n, i, valid);
        if (cp >= 0x10000) {
            if (capacity - o < 2) {
                i = at;
                break;
            }
            cp -= 0x10000;
            buffer[o++] = (unsigned short)(0xD800 + (cp >> 10));
            buffer[o++] = (unsigned short)(0xDC00 + (cp & 0x3FF));
        } else {
            if (capacity - o < 1) break;
            buffer[o++] = (unsigned short)cp;
        }
    }
    if (o < capacity) buffer[o] = 0;
    return o;
}

long long _pc2w(const char* text, long long n, _guardchar<unsigned short>& out) {
    if (!text) {
        out.clear();
        return 0;
    }
    n = byteLength(text, n);
    // Every UTF-8 byte yields at most one unit (four bytes give a pair).
    _guardchar<unsigned short> tmp;
    if (n == LLONG_MAX || !tmp.set(n)) return -1;
    long long o = _pc2w(text, n, tmp.ptr, n + 1);
    out.attach(tmp.dettach());
    return o;
}

long long _w2pc(const unsigned short* text, long long n, char* buffer, long long size) {
    if (!text || !buffer || size <= 0) return 0;
    if (n < 0) n = _wcslen(text);
    unsigned char* d = (unsigned char*)buffer;
    long long i = 0, o = 0;
    while (i < n) {
        unsigned cp = decodeUtf16(text, n, i);
        int len = utf8Length(cp);
        if (size - o < len) break;
        encodeUtf8(cp, d + o);
        o += len;
    }
    if (o < size) buffer[o] = 0;
    return o;
}

long long _w2pc(const unsigned short* text, long long n, _guardchar<char>& out) {
    if (!text) {
        out.clear();
        return 0;
    }
    if (n < 0) n = _wcslen(text);
    // Measure first so the holder is exactly as long as the text.
    long long bytes = 0;
    for (long long i = 0; i < n;) bytes += utf8Length(decodeUtf16(text, n, i));
    _guardchar<char> tmp;
    if (!tmp.set(bytes)) return -1;
    long long o = _w2pc(text, n, tmp.ptr, bytes + 1);
    out.attach(tmp.dettach());
    return o;
}

unsigned long long strToU64(const char* text) {
    const unsigned long long kNone = ~0ULL;
    if (!text) return 0;
    const unsigned char* p = (const unsigned char*)text;
    while (*p == ' ' || (*p >= 9 && *p <= 13)) p++;
    if (!*p) return 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const unsigned char* q = p + 2;
        unsigned long long v = 0;
        bool any = false;
        for (;; q++) {
            unsigned d;
            if (*q >= '0' && *q <= '9')
                d = *q - '0';
            else if ((*q | 0x20) >= 'a' && (*q | 0x20) <= 'f')
                d = (*q | 0x20) - 'a' + 10;
            else
                break;
            if (v >> 60) return kNone;
            v = (v << 4) | d;
            any = true;
        }
        return any ? v : 0;  // "0x" alone reads as the number 0
    }
    bool neg = false;
    if (*p == '+' || *p == '-') neg = *p++ == '-';
    if (*p < '0' || *p > '9') return kNone;
    unsigned long long v = 0;
    const unsigned long long limit = neg ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL;
    for (; *p >= '0' && *p <= '9'; p++) {
        unsigned d = *p - '0';
        if (v > (limit - d) / 10) return kNone;
        v = v * 10 + d;
    }
    return neg ? 0 - v : v;
}

int getHexb(const char* text) {
    if (!text) return -1;
    int v = 0;
    for (int k = 0; k < 2; k++) {
        unsigned char c = (unsigned char)text[k];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return -1;  // also stops at the terminator before reading past it
        v = v * 16 + d;
    }
    return v;
}

bool concatText(const char* a, const char* b, _guardchar<char>& out) {
    const size_t la = a ? strlen(a) : 0, lb = b ? strlen(b) : 0;
    _guardchar<char> r;
    if (!r.set((long long)(la + lb))) return false;
    if (la) memcpy(r.ptr, a, la);
    if (lb) memcpy(r.ptr + la, b, lb);
    out.attach(r.dettach());
    return true;
}

const char* cTextArena::add(const char* text, long long n) {
    if (!text) text = "";
    if (n < 0) n = (long long)strlen(text);
    char* p = (char*)myBlocks.alloc((size_t)n + 1);
    if (!p) return nullptr;
    memcpy(p, text, (size_t)n);
    p[n] = 0;
    return p;
}

bool cTextList::addShared(const char* text) {
    if (!text) return false;
    if (myCount == myItems.count && !myItems.reset(myCount ? myCount * 2 : 16)) return false;
    myItems.ptr[myCount++] = text;
    return true;
}

bool cTextList::add(const char* text) {
    const char* copy = myTexts.add(text);
    return copy && addShared(copy);
}

void cTextList::clear() {
    myItems.clear();
    myCount = 0;
    myTexts.clear();
}
