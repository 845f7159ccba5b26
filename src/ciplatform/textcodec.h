// Decoding UTF-8 and UTF-16 text into code points for measuring and drawing, keeping
// where each code point started in the source (for prefixes and rulers).
#pragma once

#include "base/buffers.h"

// Decodes up to `length` units (-1: up to the 0). Malformed sequences give U+FFFD per
// bad unit. `units[i]` is the source offset of code point i; units[count] = units used.
// False only when memory runs out.
bool decodeUtf8(const char* text, long long length, _typebuf<unsigned int>& cps, _typebuf<long long>& units,
                long long& count);
bool decodeUtf16(const unsigned short* text, long long length, _typebuf<unsigned int>& cps,
                 _typebuf<long long>& units, long long& count);
