// libFuzzer target: the TIFF decoder (every page, strips, tiles, compressions, colour stage,
// previews), and the TIFF/EP and DNG readers on the same bytes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/sizecheck.h"
#include "picts/tiff/pictdng.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/picttiffep.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures over 4 megapixels are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: every input still goes the whole way.
    setPictDecodeBudget(1 << 22, 256 << 20);
    cBufWrapperIO io(data, (long long)size);
    {
        cPictTIFF_EP ep;
        long long w = 0, h = 0;
        ep.getPageSize(&io, 0, w, h);
        ep.decode(&io);
        cPictDummy preview;
        ep.getPreview(&io, &preview, nullptr, nullptr);
        cPictDNG dng;
        dng.getPageSize(&io, 0, w, h);
        dng.decode(&io);
        cPictDummy dngPreview;
        dng.getPreview(&io, &dngPreview, nullptr, nullptr);
    }
    cPictTIFF t;
    cPictBase::sPictInfo info;
    if (!t.isPicture(&io, &info)) return 0;
    // The first four pages: a file of thousands of tiny pages would make one run take long,
    // and each page goes through the same reader.
    int pages = t.getNumPages(&io);
    for (int p = 0; p < pages && p < 4; p++) {
        long long w = 0, h = 0;
        t.getPageSize(&io, p, w, h);
        t.decodePage(&io, p);
    }
    cPictDummy preview;
    t.getPreview(&io, &preview, nullptr, nullptr);
    return 0;
}
