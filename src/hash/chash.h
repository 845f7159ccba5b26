// cHash: one incremental interface over SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512,
// for code that picks the algorithm at run time (HMAC, digests named in data).
#pragma once

#include <cstddef>

#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

class cHash {
public:
    enum eKind { eSHA1 = 0, eSHA224, eSHA256, eSHA384, eSHA512 };
    enum { kMaxDigest = 64, kMaxBlock = 128 };

    explicit cHash(eKind kind = eSHA256) { start(kind); }

    // Starts a new message (of another kind when given).
    void start(eKind kind);
    void start() { start(myKind); }
    void update(const void* data, size_t length);
    // Writes digestSize() bytes; start() again before reusing.
    void finish(unsigned char* out);

    eKind kind() const { return myKind; }
    int digestSize() const { return digestSize(myKind); }
    int blockSize() const { return blockSize(myKind); }
    static int digestSize(eKind kind);
    static int blockSize(eKind kind);

    // One-shot digest of `length` bytes.
    static void digest(eKind kind, const void* data, size_t length, unsigned char* out);

private:
    eKind myKind;
    union {
        sha1_context sha1;
        sha256_context sha256;
        sha512_context sha512;
    } myCtx;
};
