// libFuzzer target for the JPEG decoder: probe, decode (own buffer and external target),
// EXIF preview and the lossless raw-scan path without 0xFF escapes, for every input the probe
// takes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jpeg/pictjpeg.h"
#include "picts/pictdummy.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures over 4 megapixels are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: every input still goes the whole way.
    setPictDecodeBudget(1 << 22, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    // What the probe refuses the program never decodes either.
    if (!cPictJPEG::validFor(&s, &info)) return 0;
    {
        cPictJPEG p;
        s.set_fp(0);
        p.decode(&s);
    }
    {
        unsigned int target[32 * 24];
        cPictBase::sExtPictDef def;
        def.pixels = target;
        def.width = 32;
        def.height = 24;
        cPictJPEG p;
        p.setExtTarget(&def);
        s.set_fp(0);
        p.decode(&s);
    }
    {
        cPictJPEG p;
        p.setIgnoreFFEsc(true);
        s.set_fp(0);
        p.decode(&s);
    }
    {
        cPictJPEG p;
        cPictDummy preview;
        long long mw = 16, mh = 16;
        s.set_fp(0);
        p.getPreview(&s, &preview, &mw, &mh);
    }
    return 0;
}
