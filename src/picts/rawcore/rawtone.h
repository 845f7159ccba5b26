// Tone finishing of demosaiced raw pictures: the histogram of the linear pixels, a gamma
// curve between the black and white points it gives, the saturation boost, and the progress
// guard that stops a long decode once its stream is gone. Pixels are the library's 64-bit
// words (blue, green, red, alpha from low to high); alpha is never changed.
#pragma once

#include "base/buffers.h"
#include "base/fileiotarget.h"
#include "base/progress.h"

// Combined (every channel of every pixel), red, green and blue counts, all with the same
// power-of-two bin count.
struct sHystogram {
    _typebuf<unsigned int> combined;
    _typebuf<unsigned int> red;
    _typebuf<unsigned int> green;
    _typebuf<unsigned int> blue;
};

// Progress answers whether the stream being decoded is still usable (false without one).
class cStreamGuardProgressTarget : public cProgressNotifyTarget {
public:
    explicit cStreamGuardProgressTarget(cFileIOTarget* io) : myIO(io) {}
    bool notifyProgress(double) override { return myIO && myIO->valid(); }
    bool notifyStage(int) override { return myIO && myIO->valid(); }

private:
    cFileIOTarget* myIO;
};

// In all three routines progress is reported after a pixel whose source address is a
// multiple of 64 KiB (index * 100 / count); a false answer ends the routine with false.

// Counts the pixels into `bins` bins (a power of two, at most 65536) of 65536 / bins levels.
template <class T>
bool buildHystogram(const T* pixels, long long count, sHystogram& out, long long bins,
                    cProgressNotifyTarget* progress);
// Every colour channel through a 65536-entry curve (entries capped at 65535); false for a
// curve of any other size. Source and destination may be the same buffer.
template <class T>
bool adjustToCurve(const T* src, T* dst, long long count, _typebuf<unsigned int>& curve,
                   cProgressNotifyTarget* progress);
// Scales each channel's distance from the luma 0.3 R + 0.59 G + 0.11 B by factor.
template <class T>
bool setSaturation(const T* src, T* dst, long long count, double factor, cProgressNotifyTarget* progress);

// The finishing every raw decoder runs on its own pixels: a 4096-bin histogram, the levels
// at `fraction`, a 16-bit gamma curve from the low to the high level, and the saturation
// boost when saturation is not 0. A picture whose histogram gives no usable levels (a dark
// or flat frame) is kept linear, and that is success. False when a step was refused or
// stopped by progress. whiteCap, when not 0, lowers the high level to it.
bool finishRawTone(unsigned long long* pixels, long long count, double fraction, double gamma, double saturation,
                   cProgressNotifyTarget* progress, cProgressNotifyTarget* saturationProgress,
                   unsigned int whiteCap = 0);
