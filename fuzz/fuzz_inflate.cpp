// Fuzz target: whole-buffer inflate with a small cap, and cZInflate in small chunks.
#include <cstddef>
#include <cstdint>

#include "compression/zlibstreams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    _typebuf<unsigned char> out;
    if (cZDecompress::decompressPart(data, (long long)size, out, 1 << 20) && out.count > (1 << 20)) __builtin_trap();
    // The chunked pass: a first byte with its low bit set picks a raw deflate stream, which
    // follows that byte; otherwise the input is a zlib stream (whose first byte, 0x78, has it clear).
    const bool raw = size && (data[0] & 1);
    cZInflate inf;
    if (!inf.init(raw)) return 0;
    unsigned char chunk[97];
    long long at = raw ? 1 : 0, total = 0;
    for (;;) {
        long long used, made, n = (long long)size - at < 13 ? (long long)size - at : 13;
        cZInflate::eResult r = inf.inflate(data + at, n, used, chunk, sizeof(chunk), made);
        at += used;
        total += made;
        if (r != cZInflate::eNeedMore || (used == 0 && made == 0) || total > (1 << 20)) break;
    }
    return 0;
}
