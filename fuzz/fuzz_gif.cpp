// libFuzzer entry: probe and decode arbitrary bytes with cPictGIF.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/gif/pictgif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictGIF probe;
    probe.isPicture(&s, &info);
    cPictGIF d;
    d.decode(&s);
    return 0;
}
