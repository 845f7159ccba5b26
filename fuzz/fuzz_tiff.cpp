// libFuzzer target: the TIFF decoder (every page, strips, tiles, compressions, colour stage,
// previews). Pages above 4 megapixels are only sized, not decoded, to keep runs fast.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/pictdng.h"
#include "picts/tiff/picttiffep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO io(data, (long long)size);
    {
        cPictTIFF_EP ep;
        long long w = 0, h = 0;
        if (ep.getPageSize(&io, 0, w, h) && w * h <= (4 << 20)) ep.decode(&io);
        cPictDummy preview;
        ep.getPreview(&io, &preview, nullptr, nullptr);
        cPictDNG dng;
        if (dng.getPageSize(&io, 0, w, h) && w * h <= (4 << 20)) dng.decode(&io);
        cPictDummy dngPreview;
        dng.getPreview(&io, &dngPreview, nullptr, nullptr);
    }
    cPictTIFF t;
    cPictBase::sPictInfo info;
    if (!t.isPicture(&io, &info)) return 0;
    int pages = t.getNumPages(&io);
    for (int p = 0; p < pages && p < 4; p++) {
        long long w = 0, h = 0;
        if (!t.getPageSize(&io, p, w, h) || w * h > (4 << 20)) continue;
        t.decodePage(&io, p);
    }
    cPictDummy preview;
    t.getPreview(&io, &preview, nullptr, nullptr);
    return 0;
}
