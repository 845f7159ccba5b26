// libFuzzer entry: probe, count pages, decode and preview arbitrary bytes with cPictJBIG2 and
// read the decoded page back as pixels, for every input the probe takes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jbig2/pictjbig2.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures over 1 megapixel are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: every input still goes the whole way.
    setPictDecodeBudget(1 << 20, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictJBIG2 probe;
    // What the probe refuses the program never decodes either.
    if (!probe.isPicture(&s, &info)) return 0;
    cPictJBIG2 d;
    d.getNumPages(&s);
    _typebuf<unsigned int> px;
    if (d.decode(&s)) d.getColorData(px);
    cPictDummy preview;
    s.set_fp(0);
    d.decodePagePreview(&s, &preview, 16, 16, 0, true, 0);
    return 0;
}
