// libFuzzer target for the whole factory: probe every decoder, decode what it picks and
// take a small preview (embedded or scaled down) from the same bytes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jpeg2000/j2kcodestream.h"
#include "picts/pictbase.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cJ2KDecode::setThreads(1);  // JPEG 2000 pictures decode on the fuzzer's thread, as repeatable runs need
    // Pictures over 4 megapixels are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: every input still goes the whole way.
    setPictDecodeBudget(1 << 22, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&s, &info);
    if (!p) return 0;
    s.set_fp(0);
    if (p->decode(&s)) {
        _typebuf<unsigned int> px;
        p->getColorData(px);
    }
    delete p;
    p = cPictBase::mkPicture(&s, &info);
    if (!p) return 0;
    cPictDummy holder;
    s.set_fp(0);
    p->getPreview(&s, holder, 24, 16, true, 0xFF102030u);
    delete p;
    return 0;
}
