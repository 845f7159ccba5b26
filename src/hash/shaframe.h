// The message framing SHA-1, SHA-256 and SHA-512 share: input is cut into whole blocks for
// the block function, a partial block waits in the context, and the last block is padded
// with 0x80, zeros and the message length in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Ctx has `state`, `total` (bytes so far) and `buffer` (one block of 64 or 128 bytes).
template <class Ctx, class Blocks>
void shaFrameUpdate(Ctx* ctx, const unsigned char* data, size_t length, Blocks blocks) {
    const size_t kBlock = sizeof(ctx->buffer);
    if (!length) return;
    size_t fill = (size_t)(ctx->total & (kBlock - 1));
    ctx->total += length;
    if (fill) {
        size_t take = kBlock - fill;
        if (take > length) take = length;
        memcpy(ctx->buffer + fill, data, take);
        data += take;
        length -= take;
        if (fill + take < kBlock) return;
        blocks(ctx->state, ctx->buffer, 1);
    }
    if (length >= kBlock) {
        blocks(ctx->state, data, length / kBlock);
        data += length & ~(kBlock - 1);
        length &= kBlock - 1;
    }
    if (length) memcpy(ctx->buffer, data, length);
}

// Pads and hashes the last block(s). The length field is big-endian and takes the block's
// last 8 bytes (64-byte blocks) or 16 bytes (128-byte blocks, whose top half gets the bits
// shifted out of total * 8).
template <class Ctx, class Blocks>
void shaFrameFinish(Ctx* ctx, Blocks blocks) {
    const size_t kBlock = sizeof(ctx->buffer), kLengthField = kBlock / 8;
    uint64_t bitsLow = ctx->total << 3, bitsHigh = ctx->total >> 61;
    size_t fill = (size_t)(ctx->total & (kBlock - 1));
    ctx->buffer[fill++] = 0x80;
    if (fill > kBlock - kLengthField) {
        memset(ctx->buffer + fill, 0, kBlock - fill);
        blocks(ctx->state, ctx->buffer, 1);
        fill = 0;
    }
    memset(ctx->buffer + fill, 0, kBlock - kLengthField - fill);
    unsigned char* field = ctx->buffer + kBlock - kLengthField;
    for (size_t i = 0; i < kLengthField - 8; i++) field[i] = (unsigned char)(bitsHigh >> (56 - 8 * i));
    for (int i = 0; i < 8; i++) field[kLengthField - 8 + i] = (unsigned char)(bitsLow >> (56 - 8 * i));
    blocks(ctx->state, ctx->buffer, 1);
}
