// libFuzzer entry: probe and decode arbitrary bytes with cPictICNS.
#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/icns/picticns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cBufWrapperIO s(data, (long long)size);
    cPictBase::sPictInfo info;
    cPictICNS probe;
    probe.isPicture(&s, &info);
    cPictICNS d;
    d.decode(&s);
    return 0;
}
