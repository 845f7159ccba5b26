// cLZWDecompress: the LZW decoder of TIFF strips (and, with other settings, GIF-style
// streams). Every result is capped: hostile input cannot make it allocate without bound.
#pragma once

#include "base/buffers.h"

// Default cap on one decoded result.
const long long kLZWDefaultCap = 1LL << 30;

class cLZWDecompress {
public:
    // msbFirst: codes are packed from the high bit of each byte (TIFF 6.0; false for the
    // low bit first, as GIF and old TIFF writers do). initialBits: the code width after a
    // clear (9 for TIFF: clear code 256, end code 257; 3 to 12). earlyChange: the width
    // grows one code before the table needs it, as TIFF 6.0 writers do.
    // TIFF readers construct it as (true, 9, true); such a decoder also accepts the old
    // TIFF LZW variant (low bit first, no early change), recognised by its first code.
    cLZWDecompress(bool msbFirst = true, int initialBits = 9, bool earlyChange = true);

    // Decodes a whole stream into `out` (sized to the result).
    // Without an expected size the stream must reach its end code and the result may be
    // at most maxOut bytes. With expected >= 0 (at most maxOut) decoding stops after that
    // many bytes, and a stream that ends before them fails.
    // False, with `out` empty, for a damaged or truncated stream or one past the cap.
    bool decompress(const _typebuf<unsigned char>& in, _typebuf<unsigned char>& out,
                    long long maxOut = kLZWDefaultCap, long long expected = -1);
    bool decompress(const unsigned char* data, long long size, _typebuf<unsigned char>& out,
                    long long maxOut = kLZWDefaultCap, long long expected = -1);

private:
    bool myMsbFirst;
    int myInitialBits;
    bool myEarlyChange;
};
