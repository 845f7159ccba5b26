// A test hook on the raw pipeline: when one is set on the current thread, every demosaic
// routine (and every decoder that converts its frame itself) shows it the unsigned 16-bit
// sensor frame before black level, multipliers or cropping touch it.
#pragma once

#include "picts/rawcore/cfafilter.h"

struct sMarginInfo;

struct sRawFrameView {
    const unsigned short* samples = nullptr;  // row-major, width * height * channels
    long long width = 0;
    long long height = 0;
    int channels = 1;                          // 3 for frames that are already colour (small raw)
    const cBayerFilter* filter = nullptr;     // null for colour frames
    const sMarginInfo* margins = nullptr;     // may be null
    unsigned int black = 0;
    const double* mul = nullptr;               // 4 multipliers, or null
};

typedef void (*tRawFrameHook)(void* context, const sRawFrameView& frame);

// Sets (or with null clears) the hook of the calling thread.
void setRawFrameHook(tRawFrameHook hook, void* context);
// Shows a frame to the calling thread's hook, if any.
void showRawFrame(const sRawFrameView& frame);
