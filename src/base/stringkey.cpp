// cStringKey: UTF-8 text in big-endian words; zero padding plus the length as the last
// criterion makes word order equal to byte order with a proper prefix first.
#include "base/stringkey.h"

#include "base/strings.h"

cStringKey::cStringKey(const char* text, long long n) {
    if (!text) return;
    if (n < 0) n = (long long)strlen(text);
    assignBytes((const unsigned char*)text, n);
}

cStringKey::cStringKey(const unsigned short* text, long long n) {
    if (!text) return;
    _guardchar<char> u8;
    long long len = _w2pc(text, n, u8);
    if (len > 0) assignBytes((const unsigned char*)u8.ptr, len);
}

cStringKey::cStringKey(const cStringKey& o) { copyFrom(o); }

cStringKey::cStringKey(cStringKey&& o) noexcept {
    takeFrom(o);
}

cStringKey& cStringKey::operator=(const cStringKey& o) {
    if (this != &o) {
        release();
        copyFrom(o);
    }
    return *this;
}

cStringKey& cStringKey::operator=(cStringKey&& o) noexcept {
    if (this != &o) {
        release();
        takeFrom(o);
    }
    return *this;
}

void cStringKey::release() {
    if (myLen > eInlineWords * 4) free(myHeap);
    myLen = 0;
    for (int k = 0; k < eInlineWords; k++) myInline[k] = 0;
}

void cStringKey::takeFrom(cStringKey& o) {
    if (o.myLen > eInlineWords * 4)
        myHeap = o.myHeap;
    else
        for (int k = 0; k < eInlineWords; k++) myInline[k] = o.myInline[k];
    myLen = o.myLen;
    o.myLen = 0;
    for (int k = 0; k < eInlineWords; k++) o.myInline[k] = 0;
}

void cStringKey::copyFrom(const cStringKey& o) {
    if (o.myLen <= eInlineWords * 4) {
        myLen = o.myLen;
        for (int k = 0; k < eInlineWords; k++) myInline[k] = o.myInline[k];
        return;
    }
    size_t words = (size_t)((o.myLen + 3) / 4);
    unsigned int* w = (unsigned int*)malloc(words * sizeof(unsigned int));
    if (!w) return;  // left empty
    memcpy(w, o.myHeap, words * sizeof(unsigned int));
    myHeap = w;
    myLen = o.myLen;
}

void cStringKey::assignBytes(const unsigned char* bytes, long long n) {
    release();
    if (n <= 0) return;
    unsigned long long words = ((unsigned long long)n + 3) / 4;
    unsigned int* w = myInline;
    if (n > eInlineWords * 4) {
        if (words > (~(size_t)0) / sizeof(unsigned int)) return;
        w = (unsigned int*)malloc((size_t)words * sizeof(unsigned int));
        if (!w) return;  // left empty
        myHeap = w;
    }
    for (unsigned long long k = 0; k < words; k++) {
        unsigned int v = 0;
        for (int b = 0; b < 4; b++) {
            unsigned long long at = k * 4 + b;
            v = (v << 8) | (at < (unsigned long long)n ? bytes[at] : 0);
        }
        w[k] = v;
    }
    myLen = n;
}

bool cStringKey::utf8(_typebuf<char>& out) const {
    if (!out.set(myLen + 1)) return false;
    const unsigned int* w = words();
    for (long long i = 0; i < myLen; i++) out.ptr[i] = (char)(w[i / 4] >> (24 - 8 * (i % 4)));
    out.ptr[myLen] = 0;
    return true;
}

int cStringKey::compare(const cStringKey& o) const {
    const unsigned int* a = words();
    const unsigned int* b = o.words();
    long long na = (myLen + 3) / 4, nb = (o.myLen + 3) / 4;
    long long n = na < nb ? na : nb;
    for (long long k = 0; k < n; k++)
        if (a[k] != b[k]) return a[k] < b[k] ? -1 : 1;
    return myLen < o.myLen ? -1 : (myLen > o.myLen ? 1 : 0);
}
