// libFuzzer entry: probe and decode arbitrary bytes with cPictDIB.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/bmp/pictdib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictDIB probe;
    probe.isPicture(&s, &info);
    cPictDIB d;
    d.decode(&s);
    return 0;
}
