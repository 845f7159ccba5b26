// libFuzzer entry: probe and decode arbitrary bytes with cPictDIB.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/bmp/pictdib.h"
#include "picts/sizecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures over 1 megapixel are refused by the decoders' own budget (picts/sizecheck.h),
    // lowered from the program's default to keep runs fast: a run-length picture may ask for
    // 65536 pixels a byte of its codes, and every input still goes the whole way.
    setPictDecodeBudget(1 << 20, 256 << 20);
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictDIB probe;
    probe.isPicture(&s, &info);
    cPictDIB d;
    d.decode(&s);
    return 0;
}
