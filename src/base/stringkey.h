// cStringKey: the string key of ordered maps. The UTF-8 text is packed into big-endian
// 32-bit words so that comparing words as unsigned numbers orders keys byte by byte.
#pragma once

#include "base/buffers.h"

class cStringKey {
public:
    cStringKey() {}
    // UTF-8 text of n bytes (n < 0: up to the terminating 0); a null text gives the empty key.
    cStringKey(const char* text, long long n = -1);
    // UTF-16 text of n units (n < 0: up to the terminating 0), kept as UTF-8.
    cStringKey(const unsigned short* text, long long n = -1);
    cStringKey(const cStringKey& o);
    cStringKey(cStringKey&& o) noexcept;
    cStringKey& operator=(const cStringKey& o);
    cStringKey& operator=(cStringKey&& o) noexcept;
    ~cStringKey() { release(); }

    // The text back as UTF-8: `count` is the byte length + 1, ptr[length] is 0.
    bool utf8(_typebuf<char>& out) const;
    // Length of the text in bytes.
    long long length() const { return myLen; }

    // Unsigned byte-by-byte order, a proper prefix first: <0, 0 or >0.
    int compare(const cStringKey& o) const;

    bool operator<(const cStringKey& o) const { return compare(o) < 0; }
    bool operator>(const cStringKey& o) const { return compare(o) > 0; }
    bool operator<=(const cStringKey& o) const { return compare(o) <= 0; }
    bool operator>=(const cStringKey& o) const { return compare(o) >= 0; }
    bool operator==(const cStringKey& o) const { return compare(o) == 0; }
    bool operator!=(const cStringKey& o) const { return compare(o) != 0; }

private:
    enum { eInlineWords = 4 };

    const unsigned int* words() const { return myLen <= eInlineWords * 4 ? myInline : myHeap; }
    void assignBytes(const unsigned char* bytes, long long n);
    void copyFrom(const cStringKey& o);
    void takeFrom(cStringKey& o);
    void release();

    long long myLen = 0;  // bytes of text
    union {
        unsigned int myInline[eInlineWords] = {0, 0, 0, 0};  // short texts
        unsigned int* myHeap;                               // longer texts (malloc'ed)
    };
};

// Three-way compare used by the ordered map (one word-wise pass instead of two).
inline int treeKeyCompare(const cStringKey& a, const cStringKey& b) { return a.compare(b); }
