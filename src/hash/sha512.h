// SHA-512 and SHA-384 (FIPS 180-4), incremental C-style API.
#pragma once

#include <cstddef>
#include <cstdint>

struct sha512_context {
    uint64_t state[8];
    uint64_t total;  // bytes; 2^64 bytes is beyond any input we see
    unsigned char buffer[128];
    int is384;
};

void sha512_starts(sha512_context* ctx);
void sha384_starts(sha512_context* ctx);
void sha512_update(sha512_context* ctx, const unsigned char* data, size_t length);
// Writes 64 bytes (48 after sha384_starts).
void sha512_finish(sha512_context* ctx, unsigned char* out);
