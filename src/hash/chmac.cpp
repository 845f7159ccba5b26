// cHMAC: H((K ^ opad) || H((K ^ ipad) || message)), keys longer than a block hashed first.
#include "hash/chmac.h"

#include <cstring>

cHMAC::~cHMAC() {
    // The pad is key material.
    volatile unsigned char* p = myOuterPad;
    for (size_t i = 0; i < sizeof(myOuterPad); i++) p[i] = 0;
}

void cHMAC::start(cHash::eKind kind, const void* key, size_t keyLength) {
    myInner.start(kind);
    int block = myInner.blockSize();
    unsigned char k[cHash::kMaxBlock];
    memset(k, 0, sizeof(k));
    if (keyLength > (size_t)block)
        cHash::digest(myInner.kind(), key, keyLength, k);
    else if (keyLength)
        memcpy(k, key, keyLength);
    unsigned char ipad[cHash::kMaxBlock];
    for (int i = 0; i < block; i++) {
        ipad[i] = k[i] ^ 0x36;
        myOuterPad[i] = k[i] ^ 0x5c;
    }
    myInner.update(ipad, (size_t)block);
    memset(k, 0, sizeof(k));
    memset(ipad, 0, sizeof(ipad));
}

void cHMAC::finish(unsigned char* out) {
    unsigned char inner[cHash::kMaxDigest];
    myInner.finish(inner);
    cHash outer(myInner.kind());
    outer.update(myOuterPad, (size_t)outer.blockSize());
    outer.update(inner, (size_t)outer.digestSize());
    outer.finish(out);
}

void cHMAC::mac(cHash::eKind kind, const void* key, size_t keyLength, const void* data, size_t length,
                unsigned char* out) {
    cHMAC h(kind, key, keyLength);
    h.update(data, length);
    h.finish(out);
}
