// Placement of lossless-JPEG raw samples. Every position is computed in 64 bits and checked
// against the frame before a sample is stored; slice widths of 0 are refused before any
// division, so no geometry a file can state reaches outside the frame.
#include "picts/rawcore/rawljpeg.h"

#include "picts/sizecheck.h"

namespace {
// A frame may hold more positions than the JPEG codes (slices and small-raw layouts leave
// none out, so this is slack), but not arbitrarily many.
const long long kFrameToJpegRatio = 4;
}  // namespace

cRAWLosslessJpeg::cRAWLosslessJpeg() {}

cRAWLosslessJpeg::~cRAWLosslessJpeg() {}

void cRAWLosslessJpeg::init(unsigned int width, unsigned int height, int sliceCount, unsigned int sliceWidth,
                            unsigned int lastSliceWidth) {
    myWidth32 = width;
    myHeight32 = height;
    mySliceCount = sliceCount > 0 ? (unsigned int)sliceCount : 0;
    mySliceWidth = sliceWidth;
    myLastSliceWidth = lastSliceWidth ? lastSliceWidth : sliceWidth;
    myScanType = stInOrder;
}

void cRAWLosslessJpeg::init(unsigned int width, unsigned int height, eScanType type) {
    myWidth32 = width;
    myHeight32 = height;
    mySliceCount = mySliceWidth = myLastSliceWidth = 0;
    myScanType = type;
}

bool cRAWLosslessJpeg::decodeFrame(cFileIOTarget* io) {
    mySamples.clear();
    myPrecision = 0;
    if (!io) return false;
    bool ok = processStream(io, eJModeDecode);
    return ok && mySamples.ptr;
}

bool cRAWLosslessJpeg::getData(_typebuf<unsigned short>& out) {
    out.clear();
    if (!mySamples.ptr) return false;
    out.swap(mySamples);
    return true;
}

bool cRAWLosslessJpeg::processHuffmanLosslessScan() {
    if (!myWidth32 || !myHeight32) return fail(eJErrRefused, "raw frame size not set");
    const int nc = componentCount();
    // Every component in the one scan: a second scan would overwrite the first one's samples.
    if (scanComponents() != nc) return fail(eJErrRefused, "raw frame not in one interleaved scan");
    long long jpegSamples = 0;
    for (int i = 0; i < nc; i++) {
        const sJComponent& c = component(scanComponent(i));
        myCompH[i] = c.h;
        myCompV[i] = c.v;
        jpegSamples += (long long)c.sw * c.sh;
    }
    myScanComps = nc;
    // Precision 15 alone does not make a small raw: DNG frames of 1, 2 or 4 components have
    // it too. Only three components in slices take the small-raw layout.
    const bool small = precision() == 15 && nc == 3 && mySliceCount;
    long long perPixel = small ? 3 : 1, count;
    if (!checkedImageBytes(myWidth32, myHeight32, 2 * perPixel, count)) return fail(eJErrSize, "raw frame size");
    count /= 2;
    if (count > jpegSamples * kFrameToJpegRatio) return fail(eJErrSize, "raw frame larger than its data");
    myEffSliceWidth = mySliceWidth;
    myEffLastWidth = myLastSliceWidth;
    if (!small) {
        if (nc != 1 && nc != 2 && nc != 4) return fail(eJErrRefused, "raw component count");
        // Plain frames interleave whole samples; sampling factors would give components
        // lines of different lengths.
        for (int i = 0; i < nc && nc > 1; i++)
            if (myCompH[i] != 1 || myCompV[i] != 1) return fail(eJErrRefused, "raw sampling factors");
        myRawKind = rtPlain;
    } else {
        myMaxH = myMaxV = 0;
        for (int i = 0; i < nc; i++) {
            if ((unsigned int)myCompH[i] > myMaxH) myMaxH = (unsigned int)myCompH[i];
            if ((unsigned int)myCompV[i] > myMaxV) myMaxV = (unsigned int)myCompV[i];
        }
        if (myMaxH != 2 || (myMaxV != 1 && myMaxV != 2)) return fail(eJErrRefused, "small raw sampling");
        if (myMaxV == 1) {
            myRawKind = rtSmall2x1;
            myEffSliceWidth /= 2;
            myEffLastWidth /= 2;
        } else {
            myRawKind = rtSmall2x2;
            myEffSliceWidth /= 3;
            myEffLastWidth /= 3;
        }
    }
    // Slice widths divide positions; a zero width would divide by zero.
    if (mySliceCount && (!myEffSliceWidth || !myEffLastWidth)) return fail(eJErrRefused, "raw slice width");
    if (!mySamples.ptr || mySamples.count != count) {
        if (!mySamples.set(count)) return fail(eJErrMemory, "no memory for the raw frame");
        mySamples.zero();
    }
    myPrecision = (unsigned int)precision();
    return cJPEGParser::processHuffmanLosslessScan();
}

bool cRAWLosslessJpeg::onScanLine(unsigned short** lines, int line, int samples) {
    if (line < 0 || samples < 1) return false;
    switch (myRawKind) {
        case rtPlain: return placePlain(lines, line, samples);
        case rtSmall2x2: return placeSmall2x2(lines, line, samples);
        case rtSmall2x1: return placeSmall2x1(lines, line, samples);
        default: return false;
    }
}

void cRAWLosslessJpeg::sliceMap(unsigned long long i, unsigned long long& row, unsigned long long& col,
                                unsigned long long& sliceWidth) const {
    const unsigned long long h = myHeight32, s = mySliceCount, w = myEffSliceWidth, wl = myEffLastWidth;
    unsigned long long j = i / (w * h);
    if (j >= s) {
        unsigned long long rest = i - s * w * h;
        row = rest / wl;
        col = s * w + rest % wl;
        sliceWidth = wl;
    } else {
        unsigned long long rest = i - j * w * h;
        row = rest / w;
        col = j * w + rest % w;
        sliceWidth = w;
    }
}

bool cRAWLosslessJpeg::placePlain(unsigned short** lines, int line, int samples) {
    const unsigned long long width = myWidth32, height = myHeight32;
    const int nc = myScanComps;
    const unsigned long long perLine = (unsigned long long)samples * nc;
    // Sample k of the line (component k % nc, sample k / nc) is position line * perLine + k of
    // the frame, read row-major (or slice by slice).
    const unsigned long long first = (unsigned long long)line * perLine;
    unsigned short* out = mySamples.ptr;
    if (mySliceCount) {
        unsigned long long row, col, sw;
        for (unsigned long long k = 0; k < perLine; k++) {
            sliceMap(first + k, row, col, sw);
            if (row < height && col < width) out[row * width + col] = lines[k % nc][k / nc];
        }
        return true;
    }
    unsigned long long s = first / width, col = first % width;
    unsigned long long row = s;
    if (myScanType == stInterleaved) row = (s & 1) ? height - 1 - s / 2 : s / 2;
    for (unsigned long long k = 0; k < perLine; k++) {
        if (row < height && col < width) out[row * width + col] = lines[k % nc][k / nc];
        if (++col >= width) {
            col = 0;
            s++;
            row = myScanType == stInterleaved ? ((s & 1) ? height - 1 - s / 2 : s / 2) : s;
        }
    }
    return true;
}

bool cRAWLosslessJpeg::placeSmall2x1(unsigned short** lines, int line, int samples) {
    const unsigned long long width = myWidth32, height = myHeight32;
    unsigned short* out = mySamples.ptr;
    const unsigned long long first = (unsigned long long)line * width;
    for (int j = 0; j < samples; j++) {
        unsigned long long row, col, sw;
        sliceMap(first + (unsigned long long)j, row, col, sw);
        if (row >= height || col >= width) continue;
        unsigned short* px = out + (row * width + col) * 3;
        for (int k = 0; k < 3; k++)
            px[k] = myCompH[k] == 2 ? lines[k][j] : (unsigned short)(lines[k][j / 2] - myChromaOffset);
    }
    return true;
}

bool cRAWLosslessJpeg::placeSmall2x2(unsigned short** lines, int line, int samples) {
    const unsigned long long width = myWidth32, height = myHeight32;
    unsigned short* out = mySamples.ptr;
    unsigned long long i = (unsigned long long)line * width;
    unsigned long long covered = 0, block = 0;
    const unsigned long long blocks = (unsigned long long)samples / 2;
    while (covered < 2ULL * (unsigned long long)samples && block < blocks) {
        unsigned long long r, c, w;
        sliceMap(i, r, c, w);
        if (height < 2 || r > height - 2) return false;
        for (unsigned long long o = 0; o + 2 <= w && block < blocks; o += 2, block++) {
            for (int k = 0; k < 3; k++) {
                const int h = myCompH[k], v = myCompV[k];
                const unsigned short* src = lines[k] + block * (unsigned long long)(h * v);
                for (int a = 0; a < 2; a++) {
                    for (int b = 0; b < 2; b++) {
                        unsigned long long col = c + o + b;
                        if (col >= width) continue;
                        unsigned short val;
                        if (h == 2 && v == 2) val = src[a * 2 + b];
                        else if (h == 1 && v == 1) val = (unsigned short)(src[0] - myChromaOffset);
                        else if (h == 2) val = src[b];  // 2 x 1: one row of two, repeated down
                        else val = src[a];              // 1 x 2: one column of two, repeated across
                        out[((r + a) * width + col) * 3 + k] = val;
                    }
                }
            }
        }
        covered += 2 * w;
        i += 2 * w;
    }
    return true;
}
