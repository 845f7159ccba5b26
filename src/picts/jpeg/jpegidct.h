// JPEG dequantisation and inverse DCT: an accurate integer 8x8 IDCT (separable, 13-bit
// fixed-point rotations) producing samples of 8 or 12 bits.
#pragma once

// The zig-zag order: position k of the coded sequence is natural index kJZigzag[k].
// Padded with 63s so that a corrupt run past the block end stays inside.
extern const unsigned char kJZigzag[64 + 16];

// coef: 64 coefficients in natural order; quant: 64 steps in natural order.
// Writes 8 rows of 8 samples at out with `stride` samples between rows, clamped to
// 0..2^precision - 1 (precision 8 or 12).
void jIdct8x8(const short* coef, const unsigned short* quant, unsigned short* out, long long stride,
              int precision);
// The same, leaving the 64 coefficients zero (ready for the next block).
void jIdct8x8Clear(short* coef, const unsigned short* quant, unsigned short* out, long long stride, int precision);
// Two blocks at once, each as jIdct8x8Clear (the AVX2 build works on 16-bit lanes: the same
// samples for coefficients of real pictures, dequantised within ±1023; either way clamped and
// safe on any input).
void jIdct8x8PairClear(short* coefA, const unsigned short* quantA, unsigned short* outA, long long strideA,
                       short* coefB, const unsigned short* quantB, unsigned short* outB, long long strideB,
                       int precision);
// Two blocks at once as jIdct8x8 (coefficients left as they are).
void jIdct8x8Pair(const short* coefA, const unsigned short* quantA, unsigned short* outA, long long strideA,
                  const short* coefB, const unsigned short* quantB, unsigned short* outB, long long strideB,
                  int precision);

// The plain scalar transform (64-bit arithmetic, any precision): the reference the vector
// transform of 8-bit samples matches exactly on valid coefficients.
void jIdct8x8Portable(const short* coef, const unsigned short* quant, unsigned short* out, long long stride,
                      int precision);
// 8-bit samples use the AVX2 build of the vector transform when the processor has it;
// forcing the portable build (the baseline instruction set) is for tests and benchmarks.
bool jIdctHasAvx2();
void jIdctForcePortable(bool portable);

// A block whose only non-zero coefficient is the DC term: fills it with one value.
void jIdctDC(int dc, int quant, unsigned short* out, long long stride, int precision);
