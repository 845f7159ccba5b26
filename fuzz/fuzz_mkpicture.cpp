// libFuzzer target for the whole factory: probe every decoder, decode what it picks and
// take a small preview (embedded or scaled down) from the same bytes.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictbase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&s, &info);
    if (!p) return 0;
    // Keep the fuzzer on inputs it can decode quickly.
    if (info.width * info.height <= (1LL << 22)) {
        s.set_fp(0);
        if (p->decode(&s)) {
            _typebuf<unsigned int> px;
            p->getColorData(px);
        }
    }
    delete p;
    p = cPictBase::mkPicture(&s, &info);
    if (!p) return 0;
    if (info.width * info.height <= (1LL << 22)) {
        cPictDummy holder;
        s.set_fp(0);
        p->getPreview(&s, holder, 24, 16, true, 0xFF102030u);
    }
    delete p;
    return 0;
}
