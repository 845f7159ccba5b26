// The common end of the Bayer raw decoders: demosaic a frame of 16-bit sensor samples into
// a picture's 16-bit pixels (cropped, flipped for the bottom-up picture) and give it the
// tone finishing, all under a progress guard over the stream being decoded.
#pragma once

#include "picts/pictbase.h"
#include "picts/rawcore/interpolate.h"

struct sRawBayerJob {
    unsigned short* raw = nullptr;  // width * height samples, margins included
    long long width = 0;
    long long height = 0;
    sCFAData* cfa = nullptr;  // anchored at the crop origin
    double mul[4] = {1.0, 1.0, 1.0, 1.0};
    unsigned int black = 0;
    sMarginInfo margins;
    double gamma = 2.2;
    // The white point lowered to whiteFraction of the largest raw sample the demosaic saw,
    // when above it.
    bool whiteFromMaxRaw = false;
    double whiteFraction = 0.5;
};

// False (the picture left empty) for a pattern newFilter refuses, margins that leave no
// crop, a refused size, a failed demosaic or a failed tone step.
bool rawBayerFinish(cPictBase& picture, sRawBayerJob& job, cFileIOTarget* io);

// The tone finishing alone on a picture's 16-bit pixels (histogram levels at 0.999, a gamma
// curve between them, no saturation); `whiteCap`, when not 0, lowers the white point to it.
bool rawToneFinish(cPictBase& picture, double gamma, unsigned int whiteCap, cFileIOTarget* io);

// The demosaic step alone: a filter for the pattern, the crop written bottom-up
// (info.filter and info.flip are set here; the caller fills the rest), through the colour
// matrix when one is given (see interpolatePPG). False for a pattern
// newFilter refuses or a failed demosaic.
bool rawDemosaicPPG(sInterpolateInfo& info, sCFAData& cfa, const sMarginInfo* margins,
                    const double (*matrix)[3] = nullptr);
