// SHA-256 and SHA-224 (FIPS 180-4) with the C-style incremental API the callers use,
// and the one-shot SHA2Hash. Blocks go to the x86 SHA extensions when the CPU has them.
#pragma once

#include <cstddef>
#include <cstdint>

struct sha256_context {
    uint32_t state[8];
    uint64_t total;            // bytes hashed so far
    unsigned char buffer[64];  // a partial block
    int is224;                 // SHA-224: other start values, 28-byte digest
};

void sha256_starts(sha256_context* ctx);
void sha224_starts(sha256_context* ctx);
void sha256_update(sha256_context* ctx, const unsigned char* data, size_t length);
// Writes 32 bytes (28 after sha224_starts) and leaves the context spent.
void sha256_finish(sha256_context* ctx, unsigned char* out);

// One-shot SHA-256 of `length` bytes into 32 bytes at `out`.
void SHA2Hash(const unsigned char* data, unsigned char* out, size_t length);
