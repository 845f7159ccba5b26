// libFuzzer entry: probe and decode arbitrary bytes as a JP2 file and as a bare JPEG 2000
// codestream, on one thread (the code-block and wavelet work is the same on several).
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/jpeg2000/j2kcodestream.h"
#include "picts/jpeg2000/pictjp2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cJ2KDecode::setThreads(1);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    if (cPictJP2::validFor(&s, &info) && info.width * info.height <= (1LL << 22)) {
        cPictJP2 d;
        s.set_fp(0);
        d.decode(&s);
    }
    s.set_fp(0);
    if (cPictJ2K::validFor(&s, &info) && info.width * info.height <= (1LL << 22)) {
        cPictJ2K d;
        s.set_fp(0);
        d.decode(&s);
    }
    return 0;
}
