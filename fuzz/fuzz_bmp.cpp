// libFuzzer entry: probe and decode arbitrary bytes with cPictBMP.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/bmp/pictdib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictBMP probe;
    probe.isPicture(&s, &info);
    cPictBMP d;
    d.decode(&s);
    return 0;
}
