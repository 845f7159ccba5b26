// Demosaicing: turns a frame of unsigned 16-bit sensor samples (one colour per photosite)
// into 64-bit pixels (blue, green, red, alpha as 16-bit fields from low to high) while
// subtracting the black level, applying the multipliers, cropping the masked margins and
// optionally flipping the frame. Every routine writes alpha 65535.
#pragma once

#include "base/progress.h"
#include "picts/rawcore/cfafilter.h"

// Sensor margins to crop (a null pointer means none).
struct sMarginInfo {
    unsigned int left = 0;
    unsigned int right = 0;
    unsigned int top = 0;
    unsigned int bottom = 0;

    // Whether the margins leave something of a width x height frame.
    bool leaveRoom(long long width, long long height) const {
        return (long long)left + right < width && (long long)top + bottom < height;
    }
};

// What a demosaic routine needs, filled by the decoder.
struct sInterpolateInfo {
    unsigned short* raw = nullptr;        // full frame, margins included, row-major
    unsigned long long* pixels = nullptr;  // output, cropped size (w' x h')
    long long width = 0;                  // full frame
    long long height = 0;
    cBayerFilter* filter = nullptr;        // anchored at the crop origin
    cProgressNotifyTarget* progress = nullptr;
    double mul[4] = {1.0, 1.0, 1.0, 1.0};  // per colour code
    bool flip = false;                     // write the crop upside down (pictures are bottom-up)
    unsigned int black = 0;                // 0-65535
    unsigned int minRaw = 0;               // out: smallest sample of the crop (65535 when none)
    unsigned int maxRaw = 65535;           // out: largest sample of the crop (0 when none)
};

// A multiplier read from a file, made safe for the arithmetic here: NaN and negative
// values become 0, values above 65536 become 65536 (no sample can exceed 65535 past it).
double rawClampMul(double m);
// A double limited to 0-65535 in floating point (NaN gives 0), then truncated.
inline unsigned int rawClamp16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return (unsigned int)v;
}

// Every routine below returns false at once, writing nothing, for missing buffers, a zero
// size or (where used) a missing filter, and false when a progress call answers false (the
// output is then partly written). Margins that leave no crop: minRaw 65535, maxRaw 0, true.
// Before anything else each routine shows the frame to the thread's frame hook (rawhook.h).

// Pixel grouping for patterns with codes 0-2 (false for a pattern using code 3); an optional
// 3 x 3 colour matrix (rows red, green, blue) applies to the inner pixels; the outer 4
// pixels on every side are filled by interpolateBorder. The frame may lie inside the output
// buffer (best in its tail, which saves a frame's worth of memory): it is then used up by
// the call, or copied aside first where its position leaves no safe order.
bool interpolatePPG(sInterpolateInfo& info, const sMarginInfo* margins, const double (*matrix)[3] = nullptr);
// Each missing colour is the mean of its photosites in the 3 x 3 block (any pattern).
bool interpolateLinear(sInterpolateInfo& info, const sMarginInfo* margins);
// Four-colour sensors: each output channel mixes the centre and the differing photosites
// of the 3 x 3 block through a 3 x 4 matrix, normalised by the sum of the weights used.
bool interpolateLinearNonRGB(sInterpolateInfo& info, const double (&mix)[3][4], const sMarginInfo* margins);
// Rewrites the outer `border` pixels of the crop on every side from 3 x 3 block means
// (no matrix); red, green, blue = codes 0, 1, 2.
void interpolateBorder(int border, const unsigned short* raw, unsigned long long* pixels, long long width,
                       long long height, const cBayerFilter* filter, bool flip, const double* mul,
                       const sMarginInfo* margins, unsigned short black);
// Grey: every channel (sample - black) * scale (scale 0 means 1).
bool interpolateRawAsIs(sInterpolateInfo& info, double scale, const sMarginInfo* margins);
// Each pixel shows only its own colour (code 3 as green); the other channels 0.
bool interpolateNone(sInterpolateInfo& info, const sMarginInfo* margins);
// The border filler over a whole frame without black level or margins, channels stored by
// colour code (code c at bits 16c), as the demosaic works internally.
void interpolateBorderRaw(int border, const unsigned short* raw, unsigned long long* pixels, long long width,
                          long long height, const cBayerFilter* filter, const double* mul);
