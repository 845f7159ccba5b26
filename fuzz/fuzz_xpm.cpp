// libFuzzer entry: probe and decode arbitrary bytes with cPictXPM.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/xpm/pictxpm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictXPM probe;
    probe.isPicture(&s, &info);
    cPictXPM d;
    d.decode(&s);
    return 0;
}
