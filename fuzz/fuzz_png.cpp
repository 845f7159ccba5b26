// libFuzzer entry: probe and decode arbitrary bytes with cPictPNG.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/png/pictpng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictPNG probe;
    probe.isPicture(&s, &info);
    cPictPNG d;
    d.decode(&s);
    return 0;
}
