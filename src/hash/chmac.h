// cHMAC: keyed message authentication (RFC 2104) over any cHash algorithm.
#pragma once

#include "hash/chash.h"

class cHMAC {
public:
    cHMAC(cHash::eKind kind, const void* key, size_t keyLength) { start(kind, key, keyLength); }
    ~cHMAC();

    void start(cHash::eKind kind, const void* key, size_t keyLength);
    void update(const void* data, size_t length) { myInner.update(data, length); }
    // Writes digestSize() bytes.
    void finish(unsigned char* out);
    int digestSize() const { return myInner.digestSize(); }

    static void mac(cHash::eKind kind, const void* key, size_t keyLength, const void* data, size_t length,
                    unsigned char* out);

private:
    cHash myInner;
    unsigned char myOuterPad[cHash::kMaxBlock];
};
