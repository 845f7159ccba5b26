// libFuzzer entry: probe and decode arbitrary bytes with cPictPCX.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pcx/pictpcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictPCX probe;
    probe.isPicture(&s, &info);
    cPictPCX d;
    d.decode(&s);
    return 0;
}
