// SHA-1 (FIPS 180-4), incremental C-style API like SHA-256's. Only for interoperation:
// SHA-1 is not collision resistant.
#pragma once

#include <cstddef>
#include <cstdint>

struct sha1_context {
    uint32_t state[5];
    uint64_t total;
    unsigned char buffer[64];
};

void sha1_starts(sha1_context* ctx);
void sha1_update(sha1_context* ctx, const unsigned char* data, size_t length);
// Writes 20 bytes.
void sha1_finish(sha1_context* ctx, unsigned char* out);
