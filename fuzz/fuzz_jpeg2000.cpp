// libFuzzer entry: probe and decode arbitrary bytes as a JP2 file and as a bare JPEG 2000
// codestream, on one thread (the code-block and wavelet work is the same on several).
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jpeg2000/j2kcodestream.h"
#include "picts/jpeg2000/pictjp2.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cJ2KDecode::setThreads(1);
    // Pictures over 4 megapixels are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: every input still goes the whole way.
    setPictDecodeBudget(1 << 22, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    if (cPictJP2::validFor(&s, &info)) {
        cPictJP2 d;
        s.set_fp(0);
        d.decode(&s);
    }
    s.set_fp(0);
    if (cPictJ2K::validFor(&s, &info)) {
        cPictJ2K d;
        s.set_fp(0);
        d.decode(&s);
    }
    return 0;
}
