// Fuzz target: the TIFF LZW decoder with a cap, with and without an expected size.
#include <cstddef>
#include <cstdint>

#include "compression/lzwdecompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cLZWDecompress tiff(true, 9, true);
    _typebuf<unsigned char> out;
    const long long cap = 1 << 20;
    if (tiff.decompress(data, (long long)size, out, cap) && out.count > cap) __builtin_trap();
    if (size > 2) {
        long long expected = (long long)data[0] * 300;
        if (tiff.decompress(data + 1, (long long)size - 1, out, cap, expected) && out.count != expected) __builtin_trap();
        cLZWDecompress gif(false, 2 + data[1] % 11, false);
        gif.decompress(data + 2, (long long)size - 2, out, cap);
    }
    return 0;
}
