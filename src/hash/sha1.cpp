// SHA-1: buffering, padding, and the portable block function.
#include "hash/sha1.h"

#include <cstring>

#include "hash/shablocks.h"
#include "hash/shaframe.h"

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void sha1_blocks_portable(uint32_t state[5], const unsigned char* data, size_t blocks) {
    uint32_t w[80];
    while (blocks--) {
        for (int i = 0; i < 16; i++)
            w[i] = ((uint32_t)data[4 * i] << 24) | ((uint32_t)data[4 * i + 1] << 16) |
                   ((uint32_t)data[4 * i + 2] << 8) | data[4 * i + 3];
        for (int i = 16; i < 80; i++) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int i = 0; i < 80; i++) {
            uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5a827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ed9eba1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8f1bbcdc;
            } else {
                f = b ^ c ^ d;
                k = 0xca62c1d6;
            }
            uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        data += 64;
    }
}

void sha1_starts(sha1_context* ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->state[4] = 0xc3d2e1f0;
    ctx->total = 0;
}

void sha1_update(sha1_context* ctx, const unsigned char* data, size_t length) {
    shaFrameUpdate(ctx, data, length, sha1_blocks);
}

void sha1_finish(sha1_context* ctx, unsigned char* out) {
    shaFrameFinish(ctx, sha1_blocks);
    for (int i = 0; i < 5; i++) {
        out[4 * i] = (unsigned char)(ctx->state[i] >> 24);
        out[4 * i + 1] = (unsigned char)(ctx->state[i] >> 16);
        out[4 * i + 2] = (unsigned char)(ctx->state[i] >> 8);
        out[4 * i + 3] = (unsigned char)ctx->state[i];
    }
}
