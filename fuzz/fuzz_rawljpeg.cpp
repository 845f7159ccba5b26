// libFuzzer target for the camera raw core: a 10-byte geometry header (flags, frame width and
// height, slice count and widths, little-endian) followed by a lossless-JPEG stream. The
// frame is placed by cRAWLosslessJpeg, demosaiced and tone-finished; the bit readers run over
// the stream bytes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawbits.h"
#include "picts/rawcore/rawljpeg.h"
#include "picts/rawcore/rawtone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    const unsigned flags = data[0];
    const unsigned width = data[1] | data[2] << 8, height = data[3] | data[4] << 8;
    const int slices = data[5];
    const unsigned sliceWidth = data[6] | data[7] << 8, lastWidth = data[8] | data[9] << 8;
    const uint8_t* jpeg = data + 10;
    const long long jsize = (long long)size - 10;
    // Keep each input fast: small frames only.
    if ((unsigned long long)width * height > (1u << 16)) return 0;

    cRAWLosslessJpeg d;
    d.setDiff16Bits((flags & 128) != 0);
    d.setDecodeOrderPrediction((flags & 64) != 0);
    if (flags & 2)
        d.init(width, height, slices, sliceWidth, lastWidth);
    else
        d.init(width, height, (flags & 1) ? cRAWLosslessJpeg::stInterleaved : cRAWLosslessJpeg::stInOrder);
    cBufWrapperIO io(jpeg, jsize);
    d.decodeFrame(&io);
    _typebuf<unsigned short> frame;
    cRAWLosslessJpeg::eRawType kind;
    int precision;
    d.getInfo(kind, precision);
    if (d.getData(frame) && kind == cRAWLosslessJpeg::rtPlain && frame.count == (long long)width * height) {
        _typebuf<unsigned long long> pixels;
        if (pixels.set(frame.count)) {
            cStdCFAFilter rggb;
            cFujiXTransFilter xtrans;
            sInterpolateInfo info;
            info.raw = frame.ptr;
            info.pixels = pixels.ptr;
            info.width = width;
            info.height = height;
            info.filter = (flags & 4) ? (cBayerFilter*)&xtrans : &rggb;
            info.black = flags & 8 ? 256 : 0;
            info.flip = (flags & 16) != 0;
            sMarginInfo m;
            m.left = data[5] & 3;
            m.top = data[6] & 3;
            bool ok = (flags & 4) ? interpolateLinear(info, nullptr) : interpolatePPG(info, nullptr);
            if (ok) finishRawTone(pixels.ptr, pixels.count, 0.999, 2.2, 1.5, nullptr, nullptr);
            interpolateLinear(info, &m);
        }
    }
    cRawBitsMSB msb(jpeg, jsize, (flags & 32) != 0);
    cRawBitsLSB lsb(jpeg, jsize);
    cRawBits32 w32(jpeg, jsize, (flags & 64) != 0);
    uint32_t sink = 0;
    for (int i = 0; i < 64 && !msb.overrun(); i++) sink += msb.get(1 + i % 32) + lsb.get(1 + i % 25) + w32.get(1 + i % 32);
    (void)sink;
    return 0;
}
