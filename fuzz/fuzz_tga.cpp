// libFuzzer entry: probe and decode arbitrary bytes with cPictTGA.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/tga/picttga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictTGA probe;
    probe.isPicture(&s, &info);
    cPictTGA d;
    d.decode(&s);
    return 0;
}
