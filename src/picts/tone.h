// Tone helpers: histogram levels for automatic contrast and gamma curves with a linear toe.
#pragma once

#include "base/buffers.h"

// Levels of a histogram: low where the running count first reaches the tail
// trunc((1 - fraction) * total), middle where it reaches total / 2 - tail, high where it
// reaches total - tail (2^bits - 1 when never); inside a bin the level is
// bin start + (running count - threshold) * step / bin count. Outputs start at 0xFFFFFFFF.
// False unless bins has a power-of-two count of at most 2^bits (bits 8 or 16),
// 0 < fraction <= 1 and a non-zero total; true when low and middle were found.
bool getHystogramParams(_typebuf<unsigned int>& bins, int bits, unsigned int& low, unsigned int& middle,
                        unsigned int& high, double fraction);

// A 2^bits-entry curve: 0 below black, 2^bits - 1 from white on, between them a power
// curve of exponent 1 / gamma with a linear toe of slope 4.5, scaled to 2^bits - 1.
// False when gamma is 0, white <= black, bits is not 8 or 16, or white >= 2^bits.
bool makeDeCurveFromGamma(_typebuf<unsigned int>& curve, int bits, double gamma, unsigned int black,
                          unsigned int white);
