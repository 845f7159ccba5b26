// libFuzzer entry: probe and decode arbitrary bytes with cPictPPM.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/ppm/pictppm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictPPM probe;
    probe.isPicture(&s, &info);
    cPictPPM d;
    d.decode(&s);
    return 0;
}
