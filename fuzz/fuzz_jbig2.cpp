// libFuzzer entry: probe, count pages, decode and preview arbitrary bytes with cPictJBIG2 and
// read the decoded page back as pixels. Pages the probe gives as larger than 1 Mpixel are not
// decoded, to keep each run fast.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jbig2/pictjbig2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictJBIG2 probe;
    if (!probe.isPicture(&s, &info) || info.width * info.height > (1LL << 20)) return 0;
    cPictJBIG2 d;
    d.getNumPages(&s);
    _typebuf<unsigned int> px;
    if (d.decode(&s)) d.getColorData(px);
    cPictDummy preview;
    s.set_fp(0);
    d.decodePagePreview(&s, &preview, 16, 16, 0, true, 0);
    return 0;
}
