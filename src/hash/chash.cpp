// cHash: dispatch to the per-algorithm contexts.
#include "hash/chash.h"

void cHash::start(eKind kind) {
    myKind = kind;
    switch (kind) {
        case eSHA1: sha1_starts(&myCtx.sha1); break;
        case eSHA224: sha224_starts(&myCtx.sha256); break;
        case eSHA384: sha384_starts(&myCtx.sha512); break;
        case eSHA512: sha512_starts(&myCtx.sha512); break;
        default:
            myKind = eSHA256;
            sha256_starts(&myCtx.sha256);
            break;
    }
}

void cHash::update(const void* data, size_t length) {
    const unsigned char* p = (const unsigned char*)data;
    switch (myKind) {
        case eSHA1: sha1_update(&myCtx.sha1, p, length); break;
        case eSHA224:
        case eSHA256: sha256_update(&myCtx.sha256, p, length); break;
        case eSHA384:
        case eSHA512: sha512_update(&myCtx.sha512, p, length); break;
    }
}

void cHash::finish(unsigned char* out) {
    switch (myKind) {
        case eSHA1: sha1_finish(&myCtx.sha1, out); break;
        case eSHA224:
        case eSHA256: sha256_finish(&myCtx.sha256, out); break;
        case eSHA384:
        case eSHA512: sha512_finish(&myCtx.sha512, out); break;
    }
}

int cHash::digestSize(eKind kind) {
    switch (kind) {
        case eSHA1: return 20;
        case eSHA224: return 28;
        case eSHA384: return 48;
        case eSHA512: return 64;
        default: return 32;
    }
}

int cHash::blockSize(eKind kind) { return kind == eSHA384 || kind == eSHA512 ? 128 : 64; }

void cHash::digest(eKind kind, const void* data, size_t length, unsigned char* out) {
    cHash h(kind);
    h.update(data, length);
    h.finish(out);
}
