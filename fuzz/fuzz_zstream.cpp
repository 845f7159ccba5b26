// The inflating stream against one-shot inflate: the first bytes steer a walk of
// seeks (back and forward) and reads of various sizes over the rest, a zlib stream;
// every byte read must be the byte at that offset of the one-shot result.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/memio.h"
#include "compression/zlibstreams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    const uint8_t* steer = data;
    const size_t steps = 8;
    const unsigned char* z = data + steps + 1;
    long long zlen = (long long)size - (long long)steps - 1;
    _typebuf<unsigned char> plain;
    bool whole = cZDecompress::decompressPart(z, zlen, plain, 1 << 20);
    // The announced size: the real one, or (for a damaged stream) something to walk anyway.
    unsigned long long plainSize = whole ? (unsigned long long)plain.count : (unsigned long long)data[steps] * 37;

    cBufWrapperIO* src = new cBufWrapperIO(z, zlen);
    cZStream zs;
    if (!zs.create(src, plainSize, 512 + data[steps] * 3, true)) return 0;
    unsigned char buf[700];
    for (size_t i = 0; i < steps; i++) {
        unsigned long long to = plainSize ? (unsigned long long)steer[i] * 997 % (plainSize + 1) : 0;
        bool sought = zs.set_fp(to);
        if (whole) {
            if (!sought || zs.get_fp() != to) __builtin_trap();
        } else if (!sought) {
            continue;
        }
        long long want = 1 + steer[i] * 3 % (long long)sizeof(buf);
        long long got = zs.read(buf, want);
        // A failed read (only of a damaged stream) moves nothing.
        if (got < -1 || got > want || (got < 0 && whole)) __builtin_trap();
        if (zs.get_fp() != to + (unsigned long long)(got > 0 ? got : 0)) __builtin_trap();
        if (whole) {
            long long left = (long long)(plainSize - to);
            if (got != (want < left ? want : left)) __builtin_trap();
            if (got > 0 && memcmp(buf, plain.ptr + to, (size_t)got) != 0) __builtin_trap();
        }
    }
    if (whole && plainSize > 0) {
        // Reading to the end checks the trailer: a stream that inflated whole stays valid.
        if (!zs.set_fp(plainSize) || !zs.valid()) __builtin_trap();
    }
    return 0;
}
